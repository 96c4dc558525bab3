# Tests of a sanitizer build pass LeakSanitizer the system libraries whose leaks are not ours
# to mend (lsan.supp names each one); everything else it finds fails the test.
set(OSTRA_TEST_SANITIZER_ENV "")
if(OSTRA_SANITIZE)
    set(OSTRA_TEST_SANITIZER_ENV "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp")
endif()

# Runs a test in a network namespace of its own where one can be made: for the tests that serve
# the program's fixed ports, which another program on this machine (the program itself) may hold.
set(OSTRA_OWN_NETWORK ${CMAKE_CURRENT_LIST_DIR}/../tests/support/ownnetwork.sh)

# ostra_library(<name> [RECURSE] [PUBLIC libs...] [PRIVATE libs...])
# A static library of every source in the calling folder (and its subfolders with RECURSE).
function(ostra_library name)
    cmake_parse_arguments(ARG "RECURSE" "" "PUBLIC;PRIVATE" ${ARGN})
    set(_patterns
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    if(ARG_RECURSE)
        file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${_patterns})
    else()
        file(GLOB _src CONFIGURE_DEPENDS ${_patterns})
    endif()
    list(FILTER _src EXCLUDE REGEX "/tst_[^/]*\\.cpp$")
    if(NOT _src)
        # A folder whose sources have not arrived yet still gives its dependants a target.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_PUBLIC})
        return()
    endif()
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
    ostra_precompile(${name})
endfunction()

# ostra_precompile(<target> [REUSE_FROM <other>])
# Precompiles the common Qt headers for the target, or takes another target's precompiled
# headers, which only works when both are compiled with the same definitions and options.
function(ostra_precompile target)
    cmake_parse_arguments(ARG "" "REUSE_FROM" "" ${ARGN})
    if(NOT OSTRA_PCH)
        return()
    endif()
    if(ARG_REUSE_FROM)
        target_precompile_headers(${target} REUSE_FROM ${ARG_REUSE_FROM})
    else()
        target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/ostra_pch.h)
    endif()
endfunction()

# ostra_tests(<label> LIBS libs... [EXCLUDE tst_names...] [OWN_NETWORK tst_names...])
# One test executable per tst_*.cpp in the calling folder, registered with ctest under <label>.
# Excluded tests are left to the folder, which builds and registers them itself. Tests named
# under OWN_NETWORK run in a network namespace of their own where one can be made.
function(ostra_tests label)
    cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE;OWN_NETWORK" ${ARGN})
    file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    # The tests of one folder link the same libraries, so they share one set of precompiled headers;
    # below five tests making them costs more than it saves.
    list(LENGTH _tests _count)
    set(_pch_host "")
    foreach(_file ${_tests})
        get_filename_component(_name ${_file} NAME_WE)
        if(_name IN_LIST ARG_EXCLUDE)
            continue()
        endif()
        add_executable(${_name} ${_file})
        target_link_libraries(${_name} PRIVATE ostra_testsupport Qt6::Test ${ARG_LIBS})
        if(_count GREATER_EQUAL 5)
            if(_pch_host)
                ostra_precompile(${_name} REUSE_FROM ${_pch_host})
            else()
                ostra_precompile(${_name})
                set(_pch_host ${_name})
            endif()
        endif()
        if(_name IN_LIST ARG_OWN_NETWORK)
            add_test(NAME ${_name} COMMAND ${OSTRA_OWN_NETWORK} $<TARGET_FILE:${_name}>)
        else()
            add_test(NAME ${_name} COMMAND ${_name})
        endif()
        set_tests_properties(${_name} PROPERTIES
            LABELS ${label}
            TIMEOUT 300
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=UTC;OSTRA_INPUT_BACKEND=virtual;OSTRA_MDNS_INTERFACES=lo;${OSTRA_TEST_SANITIZER_ENV}")
    endforeach()
endfunction()

# ostra_animated_tests(<label> [OWN_NETWORK] TESTS tst_a tst_b ...)
# Runs widget tests registered by ostra_tests once more on a virtual X display of their own,
# where animations run (they are off on the offscreen platform), as <test>_animated under the
# labels <label> and "animated"; with OWN_NETWORK in a network namespace of their own.
function(ostra_animated_tests label)
    cmake_parse_arguments(ARG "OWN_NETWORK" "" "TESTS" ${ARGN})
    set(_launcher "")
    if(ARG_OWN_NETWORK)
        set(_launcher ${OSTRA_OWN_NETWORK})
    endif()
    foreach(_name ${ARG_TESTS})
        add_test(NAME ${_name}_animated
                 COMMAND ${_launcher} ${PROJECT_SOURCE_DIR}/tests/support/xvfbrun.sh $<TARGET_FILE:${_name}>)
        set_tests_properties(${_name}_animated PROPERTIES
            LABELS "${label};animated"
            TIMEOUT 300
            ENVIRONMENT "TZ=UTC;OSTRA_INPUT_BACKEND=virtual;OSTRA_EXPECT_ANIMATIONS=1;${OSTRA_TEST_SANITIZER_ENV}")
    endforeach()
endfunction()
