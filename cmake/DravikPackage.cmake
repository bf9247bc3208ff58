# What a host program's build takes the library from: the docs, a pkg-config file, a CMake package,
# and Debian packages of the three install components (library, tool, bench).
include(CMakePackageConfigHelpers)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/examples/list_probes.c ${PROJECT_SOURCE_DIR}/examples/trace_capture.c
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT library)

# pkg-config: `pkg-config --cflags --libs dravik-trace`.
install(CODE "
    set(DRAVIK_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/dravik-trace.pc.in\")
    set(DRAVIK_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(DRAVIK_PC_INCLUDEDIR \"${DRAVIK_INSTALL_INCLUDEDIR}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
    include(\"${CMAKE_CURRENT_LIST_DIR}/InstallPkgConfig.cmake\")
" COMPONENT library)

# CMake: find_package(DravikTrace CONFIG) and Dravik::Trace; relocatable (paths relative to the
# package files).
install(EXPORT DravikTraceTargets NAMESPACE Dravik:: DESTINATION ${DRAVIK_INSTALL_CMAKEDIR}
    COMPONENT library)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DravikTraceConfig.cmake.in
    ${PROJECT_BINARY_DIR}/DravikTraceConfig.cmake
    INSTALL_DESTINATION ${DRAVIK_INSTALL_CMAKEDIR} PATH_VARS CMAKE_INSTALL_LIBDIR)
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/DravikTraceConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/DravikTraceConfig.cmake
    ${PROJECT_BINARY_DIR}/DravikTraceConfigVersion.cmake
    DESTINATION ${DRAVIK_INSTALL_CMAKEDIR} COMPONENT library)

# Debian packages: `cpack -G DEB` in the build folder. The library package holds the headers too (a
# host's build needs both); the bench is a package of its own so that a machine with a real driver
# library installs the library and tool without it.
set(DRAVIK_COMPONENTS library)
if(DRAVIK_BUILD_TOOLS AND NOT DRAVIK_FUZZ)
    list(APPEND DRAVIK_COMPONENTS tool)
endif()
if(DRAVIK_BUILD_BENCH)
    list(APPEND DRAVIK_COMPONENTS bench)
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL ${DRAVIK_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Dravik trace developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries these packages install reach each other through the packages' dependencies.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "${PROJECT_DESCRIPTION}
libDravikTrace.so with its C and C++ headers, pkg-config and CMake package files. It needs a
driver library, libDravikUSBDriver.so: the probe maker's, or the virtual probe bench.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME dravik-trace)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# It runs against whichever libDravikUSBDriver.so is installed: a probe maker's or the bench.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SUGGESTS dravik-bench)

set(CPACK_DEBIAN_TOOL_DESCRIPTION "SWV trace capture and decoding on the command line
dravik-swv lists Dravik probes, captures SWV trace from the target behind one, decodes it as it
arrives or from a recording, and checks a trace setup.")
set(CPACK_COMPONENT_TOOL_DEPENDS library)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME dravik-swv)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION devel)

set(CPACK_DEBIAN_BENCH_DESCRIPTION "Virtual probe bench: a driver library of simulated Dravik probes
A libDravikUSBDriver.so whose probes and Cortex-M targets are simulated, for tests and demos without
hardware. A JSON file named by DRAVIK_BENCH_CONFIG describes the probes.")
set(CPACK_DEBIAN_BENCH_PACKAGE_NAME dravik-bench)
set(CPACK_DEBIAN_BENCH_PACKAGE_SECTION devel)
include(CPack)
