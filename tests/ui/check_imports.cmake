# The shipped program runs elevated: every library it imports must be one of the system's
# KnownDLLs, which Windows loads from System32 only. Any other imported library is looked for
# in the program's folder first, where a user could plant one; such libraries are resolved at
# run time from System32 instead (platform/system_library_win32.h).
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<vorn_kvusb.exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(known_dlls advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 psapi rpcrt4
    sechost setupapi shcore shell32 shlwapi user32 ws2_32)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
    message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
set(planted "")
foreach(line ${imports})
    string(REGEX REPLACE "DLL Name: ([^.]+)\\.dll.*" "\\1" name "${line}")
    string(TOLOWER "${name}" name)
    if(NOT name IN_LIST known_dlls)
        list(APPEND planted ${name}.dll)
    endif()
endforeach()
if(planted)
    message(FATAL_ERROR "${PROGRAM} imports libraries a planted copy could replace: ${planted}")
endif()
