# The direction of the house: a folder's code includes and links only its own folder and the
# floors below it. Run as `cmake -P scripts/check_layers.cmake` from anywhere; fails with one
# line per upward (or forbidden) include or link.
cmake_minimum_required(VERSION 3.25)
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# Floors from the ground up; a folder sees its own and every lower floor.
set(floor_0 platform)
set(floor_1 codec image resources)
set(floor_2 kvcap)
set(floor_3 device)
set(floor_4 emulator)
set(floor_5 app)
set(floor_6 ui service mirror tools gadget bench)
# Beside the floors: kvusbtool prints the benchmarks' table, the service benchmark runs the
# service's unit server, and the engine never links the
# virtual projector (the programs that may select it hand the engine the way to make one).
set(allowed "tools>bench" "bench>service")
set(forbidden "app>emulator")

foreach(floor RANGE 6)
    foreach(folder IN LISTS floor_${floor})
        set(floor_of_${folder} ${floor})
    endforeach()
endforeach()

set(failures "")
# Appends a failure when `folder` may not use `used`.
function(check_use folder used where)
    if(used STREQUAL folder OR NOT DEFINED floor_of_${used})
        return()
    endif()
    if("${folder}>${used}" IN_LIST forbidden OR
            (floor_of_${used} GREATER_EQUAL floor_of_${folder} AND
             NOT "${folder}>${used}" IN_LIST allowed))
        list(APPEND failures "${where}: ${folder}/ uses ${used}/")
        set(failures "${failures}" PARENT_SCOPE)
    endif()
endfunction()

# Which folder defines each library.
foreach(folder IN LISTS floor_0 floor_1 floor_2 floor_3 floor_4 floor_5 floor_6)
    file(GLOB_RECURSE lists "${root}/${folder}/CMakeLists.txt")
    foreach(list IN LISTS lists)
        file(READ "${list}" text)
        string(REGEX MATCHALL "add_library\\(([A-Za-z0-9_-]+)" libraries "${text}")
        foreach(library IN LISTS libraries)
            string(REGEX REPLACE "add_library\\(" "" library "${library}")
            set(folder_of_${library} ${folder})
        endforeach()
    endforeach()
endforeach()

foreach(folder IN LISTS floor_0 floor_1 floor_2 floor_3 floor_4 floor_5 floor_6)
    file(GLOB_RECURSE sources "${root}/${folder}/*.h" "${root}/${folder}/*.cpp"
        "${root}/${folder}/*.c")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" includes REGEX "^#include \"[a-z0-9_]+/")
        file(RELATIVE_PATH where "${root}" "${source}")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([a-z0-9_]+)/.*" "\\1" used "${line}")
            check_use(${folder} ${used} ${where})
        endforeach()
    endforeach()
    file(GLOB_RECURSE lists "${root}/${folder}/CMakeLists.txt")
    foreach(list IN LISTS lists)
        file(READ "${list}" text)
        file(RELATIVE_PATH where "${root}" "${list}")
        string(REGEX MATCHALL "target_link_libraries\\([^)]*\\)" links "${text}")
        foreach(link IN LISTS links)
            string(REGEX MATCHALL "[A-Za-z0-9_-]+" names "${link}")
            foreach(name IN LISTS names)
                if(DEFINED folder_of_${name})
                    check_use(${folder} ${folder_of_${name}} ${where})
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()

# No folder sees the whole source tree.
file(READ "${root}/CMakeLists.txt" text)
if(text MATCHES "include_directories\\(")
    list(APPEND failures "CMakeLists.txt: a project-wide include folder")
endif()

if(failures)
    list(REMOVE_DUPLICATES failures)
    string(REPLACE ";" "\n" failures "${failures}")
    message(FATAL_ERROR "Dependencies pointing up or sideways:\n${failures}")
endif()
message(STATUS "Layers: every include and link points down")
