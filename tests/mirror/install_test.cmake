# cmake --install puts the program, the udev rule and the user unit where a Linux system looks
# for them, relative to the prefix, and the unit runs the program where it was installed.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P install_test.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/usr"
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
foreach(file bin/kvusb-mirror lib/udev/rules.d/70-kvusb.rules
        lib/systemd/user/kvusb-mirror.service)
    if(NOT EXISTS "${WORK_DIR}/usr/${file}")
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()
file(STRINGS "${WORK_DIR}/usr/lib/systemd/user/kvusb-mirror.service" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${WORK_DIR}/usr/bin/kvusb-mirror --quiet")
    message(FATAL_ERROR "the unit runs ${exec}")
endif()
file(STRINGS "${WORK_DIR}/usr/lib/udev/rules.d/70-kvusb.rules" rules REGEX "^SUBSYSTEM")
foreach(model TR40W17B6-1 TR40W17B6-2)
    string(REGEX MATCH "ATTRS{vendor}==\"KVUSB\", ATTRS{model}==\"${model}\", TAG\\+=\"uaccess\""
        found "${rules}")
    if(NOT found)
        message(FATAL_ERROR "no uaccess rule for ${model}")
    endif()
endforeach()
