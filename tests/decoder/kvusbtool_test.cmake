# kvusbtool as a user runs it: a real screenshot slice encoded and decoded back, and the
# one-line errors of bad input. Run with -DTOOL=... -DDATA_DIR=... -DWORK_DIR=... and,
# in cross builds, -DEMULATOR=... (the program that runs the tool).
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY "${WORK_DIR}")
set(crop "${DATA_DIR}/desktop_crop.ppm")
set(ppm_header_bytes 14)  # "P6\n256 96\n255\n"
set(slice_bytes 64512)    # one 1024 x 21 slice of 24-bit pixels

include("${CMAKE_CURRENT_LIST_DIR}/../kvusbtool_run.cmake")

if(MODE STREQUAL "round_trip")
    run_tool(result out err encode "${crop}" slice.bin --offset ${ppm_header_bytes})
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "encode failed (${result}): ${err}")
    endif()
    run_tool(result out err decode slice.bin slice.raw)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "decode failed (${result}): ${err}")
    endif()
    file(READ "${crop}" expected OFFSET ${ppm_header_bytes} LIMIT ${slice_bytes} HEX)
    file(READ "${WORK_DIR}/slice.raw" decoded HEX)
    if(NOT decoded STREQUAL expected)
        message(FATAL_ERROR "the decoded slice differs from the screenshot's bytes")
    endif()
    file(SIZE "${WORK_DIR}/slice.bin" unit_size)
    if(NOT unit_size LESS slice_bytes)
        message(FATAL_ERROR "a desktop slice did not compress: ${unit_size} bytes")
    endif()
    return()
endif()

run_tool(result out err encode "${crop}" good.bin --offset ${ppm_header_bytes})
expect_error(EXIT 2 MATCH "no command given" ARGS)
expect_error(EXIT 2 MATCH "unknown command frob" ARGS frob)
expect_error(EXIT 2 MATCH "needs IN.raw and OUT.bin" ARGS encode only.raw)
expect_error(EXIT 1 MATCH "^kvusbtool encode: cannot open missing.raw" ARGS encode missing.raw x.bin)
expect_error(EXIT 1 MATCH "holds 73742 bytes; .* takes 64512$" ARGS encode "${crop}" x.bin)
expect_error(EXIT 2 MATCH "--type 7 is outside 0..4" ARGS encode "${crop}" x.bin --type 7)
expect_error(EXIT 2 MATCH "--width 0 is outside 1..8191" ARGS encode "${crop}" x.bin --width 0)
expect_error(EXIT 2 MATCH "--segment-pixels: not a number: many"
             ARGS encode "${crop}" x.bin --segment-pixels many)
expect_error(EXIT 2 MATCH "--flags needs a value" ARGS encode "${crop}" x.bin --flags)
expect_error(EXIT 2 MATCH "unknown option --colour" ARGS encode "${crop}" x.bin --colour 1)
expect_error(EXIT 2 MATCH "does not lie inside the 1024 x 21 image"
             ARGS encode "${crop}" x.bin --x 8)
expect_error(EXIT 2 MATCH "--bpp must be 8, 16, 24 or 32" ARGS encode "${crop}" x.bin --bpp 12)
expect_error(EXIT 2 MATCH "the encoder does not take these parameters"
             ARGS encode "${crop}" x.bin --offset 14 --type 3 --bpp 32 --width 128
                  --segment-pixels 65)
expect_error(EXIT 1 MATCH "cannot open missing.bin" ARGS decode missing.bin x.raw)
expect_error(EXIT 1 MATCH "desktop_crop.ppm does not decode: no frame marker"
             ARGS decode "${crop}" x.raw)
expect_error(EXIT 1 MATCH "good.bin does not decode: "
             ARGS decode good.bin x.raw --segment-pixels 65)
expect_error(EXIT 2 MATCH "--bpp 40 is outside 8..32" ARGS decode good.bin x.raw --bpp 40)
expect_error(EXIT 1 MATCH "cannot create no/such/dir/x.raw" ARGS decode good.bin no/such/dir/x.raw)
