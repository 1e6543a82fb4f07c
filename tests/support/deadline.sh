# Waits with a deadline, for the test scripts (any POSIX sh; the kernel test's guest has it as
# /lib/deadline.sh): a process that does not end in time is killed and said so in one line,
# instead of holding the test until ctest's or QEMU's own limit.

# ends_within SECONDS PID: PID's exit status once it has ended; 124 when it still ran after
# SECONDS, killed then. An ended child is not reaped by every sh: a zombie counts as ended.
ends_within() {
    _tenths=0
    while kill -0 "$2" 2>/dev/null && ! grep -qs '^State:.*Z' "/proc/$2/status"; do
        if [ $_tenths -ge $(($1 * 10)) ]; then
            echo "FAIL: $(tr '\0' ' ' < "/proc/$2/cmdline" 2>/dev/null)(pid $2) still ran" \
                "after $1 s: killed" >&2
            kill -KILL "$2" 2>/dev/null
            wait "$2" 2>/dev/null
            return 124
        fi
        sleep 0.1
        _tenths=$((_tenths + 1))
    done
    wait "$2"
}

# end_all PID...: asks each to end, and kills those still there 5 s later.
end_all() {
    kill "$@" 2>/dev/null
    for _pid in "$@"; do ends_within 5 "$_pid" > /dev/null 2>&1; done
    return 0
}
