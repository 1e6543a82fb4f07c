# Waits with a deadline, for the test scripts (bash): a process that does not end in time is
# killed and said so in one line, instead of holding the test until ctest's own limit.

# ends_within SECONDS PID: PID's exit status once it has ended; 124 when it still ran after
# SECONDS, killed then.
ends_within() {
    local limit=$1 pid=$2 tenths
    for ((tenths = 0; tenths < limit * 10; tenths++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL: $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null)(pid $pid) still ran" \
            "after $limit s: killed" >&2
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        return 124
    fi
    wait "$pid"
}

# end_all PID...: asks each to end, and kills those still there 5 s later.
end_all() {
    local pid
    kill "$@" 2>/dev/null
    for pid in "$@"; do ends_within 5 "$pid" > /dev/null 2>&1; done
    return 0
}
