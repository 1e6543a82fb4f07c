# kvusbtool show and info against the virtual projector, as a user runs them. Run with
# -DMODE=show|errors|info -DTOOL=... -DDATA_DIR=... -DWORK_DIR=... and, in cross builds,
# -DEMULATOR=... (runs the tool).
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY "${WORK_DIR}")

include("${CMAKE_CURRENT_LIST_DIR}/../kvusbtool_run.cmake")

if(MODE STREQUAL "show")
    find_program(MAGICK_COMPARE compare REQUIRED)
    set(input "${DATA_DIR}/photo.png")
    file(REMOVE "${WORK_DIR}/out.png")
    run_tool(result out err show --virtual "out.png" "${input}")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "kvusbtool show failed (${result}): ${err}")
    endif()
    # The picture is already 854 x 480, so the fitted frame is the picture itself.
    execute_process(COMMAND ${MAGICK_COMPARE} -metric AE "${input}" "${WORK_DIR}/out.png" null:
        RESULT_VARIABLE result ERROR_VARIABLE differing)
    if(NOT result EQUAL 0 OR NOT differing STREQUAL "0")
        message(FATAL_ERROR "the projector shows ${differing} pixels other than the picture's")
    endif()
elseif(MODE STREQUAL "errors")
    expect_error(EXIT 1 MATCH "^kvusbtool show: cannot open missing\\.png"
        ARGS show --virtual "out.png" "missing.png")
    file(WRITE "${WORK_DIR}/garbage.png" "not a picture")
    expect_error(EXIT 1 MATCH "^kvusbtool show: .*garbage\\.png: "
        ARGS show --virtual "out.png" "garbage.png")
    file(WRITE "${WORK_DIR}/garbage.ppm" "P6 2 2 255 short")
    expect_error(EXIT 1 MATCH "^kvusbtool show: .*garbage\\.ppm: PPM file is truncated"
        ARGS show --virtual "out.png" "garbage.ppm")
    expect_error(EXIT 1 MATCH "^kvusbtool show: no projector found"
        ENV VORN_KVUSB_DEVICE=virtual:projectors=0 ARGS show "${DATA_DIR}/desktop_crop.ppm")
    expect_error(EXIT 1 MATCH "^kvusbtool info: no projector with a working USB link found"
        ENV VORN_KVUSB_DEVICE=virtual:link=none ARGS info)
    expect_error(EXIT 1 MATCH "^kvusbtool info: VORN_KVUSB_DEVICE: unknown option 'speed'"
        ENV VORN_KVUSB_DEVICE=virtual:speed=2 ARGS info)
    expect_error(EXIT 2 MATCH "^kvusbtool show: usage" ARGS show)
elseif(MODE STREQUAL "info")
    run_tool(result out err
        ENV VORN_KVUSB_DEVICE=virtual:link=3.0,power=1,mcu=A10,firmware=01.02.03.01.04 info)
    set(expected "Link speed: USB 3.0 (0x00000001)\nPower mode: ECO\n"
        "K7Q0 FW Version 1.2.3.260 A10\nMicrocontroller id: A10\n")
    string(JOIN "" expected ${expected})
    if(NOT result EQUAL 0 OR NOT out STREQUAL expected)
        message(FATAL_ERROR "kvusbtool info: exit ${result}, printed '${out}' ${err}")
    endif()
else()
    message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
