# The bench's models are code of the bench library only: a program that defines a model function
# itself (a strong text symbol in dravik::sim) carries a second copy, whose objects and statics
# differ from those the bench works on.
foreach(program IN LISTS PROGRAMS)
    execute_process(COMMAND nm -C --defined-only ${program} OUTPUT_VARIABLE symbols
        RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "nm failed on ${program}")
    endif()
    string(REGEX MATCHALL "[^\n]* T dravik::sim::[^\n]*" copies "${symbols}")
    if(copies)
        list(GET copies 0 first)
        message(FATAL_ERROR "${program} holds its own copy of the bench's models, e.g.\n${first}")
    endif()
endforeach()
list(LENGTH PROGRAMS count)
message(STATUS "${count} programs use the bench's one copy of the models")
