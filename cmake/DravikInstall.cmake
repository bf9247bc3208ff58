# Where things go under the install prefix, and how an installed program finds the libraries.
include(GNUInstallDirs)

# The public headers keep their plain names (hosts include "DravikTrace.h"), so they get a folder
# of their own rather than the shared include folder; pkg-config and the CMake package name it.
set(DRAVIK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/DravikTrace)
set(DRAVIK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/DravikTrace)

# Installs a program of the `tool` component whose RUNPATH leads from the program to the installed
# libraries, wherever the prefix is (a package installs under /usr, a user under any folder).
function(dravik_install_program target)
    file(RELATIVE_PATH to_libdir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_libdir}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endfunction()
