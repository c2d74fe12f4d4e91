# One static library per source folder, named ferry_<folder>. Sources are picked up
# from the folder itself, so adding a file needs no edit here.
function(ferry_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;SYSTEM_DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(sources)
        add_library(ferry_${name} STATIC ${sources})
        target_include_directories(ferry_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(ferry_${name} PUBLIC ${ARG_DEPS} ${ARG_SYSTEM_DEPS})
    else()
        add_library(ferry_${name} INTERFACE)
        target_include_directories(ferry_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(ferry_${name} INTERFACE ${ARG_DEPS} ${ARG_SYSTEM_DEPS})
    endif()
    add_library(ferry::${name} ALIAS ferry_${name})
endfunction()

# One GoogleTest program per test folder, every *.cpp in it, registered with CTest.
function(ferry_test_suite name)
    cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    add_executable(test_${name} ${sources})
    target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} ferry_test_support GTest::gtest
                                               GTest::gmock GTest::gtest_main)
    set_target_properties(test_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # The tests start in the C locale, whose code page (Windows-1252) the byte-level tests
    # assume; tests of other code pages choose theirs, and their child processes' locale.
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT LC_ALL=C
                                                                      ${ARG_PROPERTIES})
endfunction()
