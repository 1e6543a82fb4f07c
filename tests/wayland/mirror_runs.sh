# The runs of kvusb-mirror that the tests of a desktop session share, sourced: they run in
# the work folder and name their files after the run. start_mirror runs "$mirror" and adds
# it to the caller's array pids.

fail() {
    echo "FAIL: $*" >&2
    for file in *.err; do [ -f "$file" ] && { echo "--- $file" >&2; tail -n 30 "$file" >&2; }; done
    exit 1
}

# Waits until the file holds the text; false after 15 s.
wait_for() {
    for _ in $(seq 300); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
    return 1
}

# Runs kvusb-mirror in the background, stderr to $1.err; $run_pid is its process.
start_mirror() {
    local name=$1
    shift
    "$mirror" "$@" > "$name.out" 2> "$name.err" &
    run_pid=$!
    pids+=("$run_pid")
    wait_for "$name.err" "showing" || fail "$name did not start"
}

# The frame against a reference picture of the same screen, scaled to 854x480. Pixels may
# differ by 1% where rounding does; a cursor covers a few.
expect_frame() {  # frame, reference
    convert "$2" -scale '854x480!' expected.png
    differing=$(compare -metric AE -fuzz 1% "$1" expected.png null: 2>&1)
    [ "${differing%% *}" -le 40 ] 2>/dev/null ||
        fail "$1: $differing pixels differ from $2"
    echo "$1: $differing of 409920 pixels differ by more than 1% from $2"
}
