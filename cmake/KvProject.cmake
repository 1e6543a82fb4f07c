# Helpers shared by every folder's CMakeLists.

# GoogleTest: the system package natively; built from Debian's source tree
# (/usr/src/googletest, package libgtest-dev) when cross compiling.
macro(kv_find_gtest)
    if(CMAKE_CROSSCOMPILING)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
        find_package(GTest REQUIRED)
    endif()
    include(GoogleTest)
endmacro()

# kv_add_test(NAME source... LIBS lib...)
# One test program per folder. Natively every case is its own CTest test; under the
# cross build the whole program is one test, run through Wine.
function(kv_add_test name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE KV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
    else()
        gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
    endif()
endfunction()
