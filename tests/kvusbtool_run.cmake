# Runs kvusbtool as a user does, for the script tests of kvusbtool. Expects TOOL, WORK_DIR and,
# in cross builds, EMULATOR (the program that runs the tool).
#
# The tool's output goes through files rather than pipes: under Wine, helper processes that
# start with a run inherit its pipes and would hold the reader for a second or more after the
# tool has ended.

# run_tool(result stdout stderr [ENV var=value] args...)
function(run_tool result_var out_var err_var)
    cmake_parse_arguments(ARG "" "ENV" "" ${ARGN})
    set(env)
    if(ARG_ENV)
        set(env ${CMAKE_COMMAND} -E env "${ARG_ENV}")
    endif()
    execute_process(COMMAND ${env} ${EMULATOR} "${TOOL}" ${ARG_UNPARSED_ARGUMENTS}
        WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result
        OUTPUT_FILE "${WORK_DIR}/tool.out" ERROR_FILE "${WORK_DIR}/tool.err")
    file(READ "${WORK_DIR}/tool.out" out)
    file(READ "${WORK_DIR}/tool.err" err)
    string(REPLACE "\r" "" out "${out}")
    string(REPLACE "\r" "" err "${err}")
    set(${result_var} "${result}" PARENT_SCOPE)
    set(${out_var} "${out}" PARENT_SCOPE)
    set(${err_var} "${err}" PARENT_SCOPE)
endfunction()

# expect_error(EXIT code MATCH regex [ENV var=value] ARGS args...): the tool fails with `code`
# and exactly one line of standard error, which matches `regex`.
function(expect_error)
    cmake_parse_arguments(ARG "" "EXIT;MATCH;ENV" "ARGS" ${ARGN})
    if(ARG_ENV)
        run_tool(result out err ENV "${ARG_ENV}" ${ARG_ARGS})
    else()
        run_tool(result out err ${ARG_ARGS})
    endif()
    string(STRIP "${err}" line)
    if(NOT result EQUAL ARG_EXIT OR NOT err MATCHES "^[^\n]+\n$" OR NOT line MATCHES "${ARG_MATCH}")
        message(SEND_ERROR "kvusbtool ${ARG_ARGS}: exit ${result}, expected ${ARG_EXIT}; "
            "stderr '${err}', expected one line matching '${ARG_MATCH}'")
    endif()
endfunction()
