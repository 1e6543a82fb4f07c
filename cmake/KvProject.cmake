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

# kv_add_test(NAME source... LIBS lib... [LABELS label...])
# One test program per folder. Natively every case is its own CTest test; under the
# cross build the whole program is one test, run through Wine.
function(kv_add_test name)
    cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE KV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    kv_headers(${name})
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    else()
        gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60
            PROPERTIES TIMEOUT 300 LABELS "${ARG_LABELS}")
    endif()
endfunction()

# kv_headers(target...): the targets, and whoever links them, find their folder's headers as
# "<folder>/name.h" and no other folder of the source tree. An include of a folder whose
# library is not linked then fails to build, so the build shows which way the arrows point.
# The folder is seen through a link in the build tree: build/include/<folder>/<folder>.
function(kv_headers)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(REGEX REPLACE "/.*" "" folder "${folder}")  # resources/art belongs to resources
    set(root ${PROJECT_BINARY_DIR}/include/${folder})
    if(NOT IS_SYMLINK ${root}/${folder})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    foreach(target IN LISTS ARGN)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "INTERFACE_LIBRARY")
            target_include_directories(${target} INTERFACE ${root})
        elseif(type STREQUAL "EXECUTABLE")
            target_include_directories(${target} PRIVATE ${root})
        else()
            target_include_directories(${target} PUBLIC ${root})
        endif()
    endforeach()
endfunction()
