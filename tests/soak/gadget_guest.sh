#!/bin/sh
# The first process of the soak's virtual machine (depth gadget): the kernel test's guest
# (tests/kernel/kernel_test.sh with this script as INIT), kvusb-gadget on dummy_hcd at high
# speed, and kvusbtool stream as the program, both run on the host harness's commands.
#
# The harness writes "SEQ COMMAND ARGS" to $R/soak/command (whole, by a rename); the answer
# goes to $R/soak/answer as "SEQ ANSWER". Commands:
#   plug OPTIONS   kvusb-gadget with those --projector options, until both units are there
#                  -> plugged | failed
#   start N        kvusbtool stream, run N (its output in $R/soak/run-N.err) -> started
#   exit           -> "exit CODE" once the program has ended, or "exit running"
#   term, kill     SIGTERM (as systemd stops the unit), SIGKILL -> ok
#   proc           -> "proc RSS_KB THREADS FDS CPU_TICKS" of the program, or "proc none"
#   unplug         SIGTERM to the gadget, which then leaves the bus -> ok
#   gadget         -> "gadget CODE" once the gadget has left the bus, or "gadget running"
#   left           -> the names of the program's processes still there, or "none"
#   poweroff       the machine off
. /lib/guest_lib.sh
S=$R/soak
program="" code="" gadget="" gadget_code=""

answer() {
    printf '%s %s\n' "$seq" "$*" > "$S/answer.new"
    mv "$S/answer.new" "$S/answer"
}

alive() {
    [ -n "$1" ] && [ -d "/proc/$1" ] && ! grep -qs '^State:.*Z' "/proc/$1/status"
}

serve() {
    case "$1" in
    plug)
        kvusb-gadget --expect-pattern --projector "$2" > "$S/gadget.out" 2>> "$S/gadget.err" &
        gadget=$! gadget_code=""
        if wait_for_units; then answer plugged; else answer failed; fi ;;
    start)
        kvusbtool stream -v --settings /tmp/settings > "$S/run-$2.out" 2> "$S/run-$2.err" &
        program=$! code=""
        answer started ;;
    exit)
        if [ -z "$code" ] && ! alive "$program"; then
            wait "$program"
            code=$?
        fi
        answer "exit ${code:-running}" ;;
    term) kill -TERM "$program" 2>/dev/null; answer ok ;;
    kill) kill -KILL "$program" 2>/dev/null; answer ok ;;
    proc)
        if alive "$program"; then
            set -- $(awk '/^VmRSS:/ { r = $2 } /^Threads:/ { t = $2 } END { print r, t }' \
                "/proc/$program/status")
            ticks=$(sed 's/.*) //' "/proc/$program/stat" | awk '{ print $12 + $13 }')
            answer "proc $1 $2 $(ls "/proc/$program/fd" | wc -l) $ticks"
        else
            answer "proc none"
        fi ;;
    unplug) kill -TERM "$gadget" 2>/dev/null; answer ok ;;
    gadget)
        if [ -z "$gadget_code" ] && ! alive "$gadget"; then
            wait "$gadget"
            gadget_code=$?
            wait_for_no_units
        fi
        answer "gadget ${gadget_code:-running}" ;;
    left) answer "$(pidof kvusbtool || echo none)" ;;
    poweroff) answer ok; sync; poweroff -f ;;
    *) answer "unknown $1" ;;
    esac
}

main() {
    start_machine || return
    mkdir -p $S
    insmod /lib/modules/dummy_hcd.ko
    echo ready > "$S/ready"
    last=""
    while :; do
        read -r seq command args < "$S/command" 2>/dev/null
        if [ -n "$seq" ] && [ "$seq" != "$last" ]; then
            last=$seq
            serve "$command" "$args"
        fi
        sleep 0.05
    done
}

run_guest main
