# Runs at install time and writes dravik-trace.pc for the prefix really installed to: a package
# builder installs under /usr whatever prefix was configured.
# In: DRAVIK_PC_TEMPLATE, DRAVIK_PC_LIBDIR and DRAVIK_PC_INCLUDEDIR (relative to the prefix or
# absolute), PROJECT_VERSION, PROJECT_DESCRIPTION.
set(DRAVIK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(pc_folder "${DRAVIK_PC_LIBDIR}/pkgconfig")
if(NOT IS_ABSOLUTE "${pc_folder}")
    set(pc_folder "${CMAKE_INSTALL_PREFIX}/${pc_folder}")
endif()
foreach(dir DRAVIK_PC_LIBDIR DRAVIK_PC_INCLUDEDIR)
    if(NOT IS_ABSOLUTE "${${dir}}")
        set(${dir} "\${prefix}/${${dir}}")
    endif()
endforeach()
set(pc_file "$ENV{DESTDIR}${pc_folder}/dravik-trace.pc")
message(STATUS "Installing: ${pc_file}")
configure_file("${DRAVIK_PC_TEMPLATE}" "${pc_file}" @ONLY)
