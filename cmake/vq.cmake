# Helpers shared by every part of the build.

# vq_plugin(name SOURCES... [LIBS ...]): a plug-in DLL in bin/modules whose only
# export is GetModuleInterface (exports come from the .def file named
# <name>.def beside the sources).
function(vq_plugin name)
    cmake_parse_arguments(P "" "DEF" "SOURCES;LIBS" ${ARGN})
    add_library(${name} SHARED ${P_SOURCES})
    if(NOT P_DEF)
        set(P_DEF ${CMAKE_SOURCE_DIR}/cmake/plugin.def)
    endif()
    target_sources(${name} PRIVATE ${P_DEF})
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        RUNTIME_OUTPUT_DIRECTORY ${VQ_MODULES_DIR}
        LIBRARY_OUTPUT_DIRECTORY ${VQ_MODULES_DIR})
endfunction()

# vq_test(name SOURCES... [LIBS ...] [ENV ...] [LABELS ...]): a GoogleTest
# executable run under Wine by ctest (one ctest entry per executable).
function(vq_test name)
    cmake_parse_arguments(T "DESKTOP" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE gtest gtest_main ${T_LIBS})
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${VQ_BIN_DIR})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    # Under an i386 emulator, with the other tests running beside it, a program
    # takes several times as long as on a kernel that runs it itself.
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 2")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "VQ_BIN_DIR=${VQ_BIN_DIR};VQ_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    # Programs that open windows share one Wine desktop and one X screen: they
    # look windows up by title and read pixels back, so they take turns.
    if(T_DESKTOP)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK desktop)
    endif()
endfunction()
