#!/bin/bash
# What mirroring a 1920 x 1080 desktop costs through the screen-cast portal, beside the X11
# path on Xvfb (a benchmark, not a test):
#   bench/wayland_bench.sh [BUILD_DIR] [SECONDS]
# - CPU share of one core and resident memory of kvusb-mirror at 30 fps (USB 2.0, frames
#   compressed, the virtual projector decoding each in the same process), on a still screen
#   and on one that changes all the time (a terminal printing without pause);
# - the latency from a change of the screen to the frame-done that carries it: a terminal that
#   covers the screen's middle changes its colour, and the virtual projector's picture (written
#   at every frame-done: out_every=0) is watched for it. This bounds the time from the
#   compositor's frame to the frame-done from above: it holds the terminal's own redraw and the
#   watcher's polling (1 ms) as well. The portal's stream also carries the compositor's time
#   of each picture: how long after it the picture was scaled is printed for the moving screen
#   (add the frame pipeline's announce-to-frame-done time, tests/app/pipeline_bench).
set -u
build=$(cd "${1:-build/linux}" && pwd)
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mirror="$build/mirror/kvusb-mirror"
export KV_SCREENCOPY_SHIM="$build/tests/wayland/libkv_screencopy_shim.so"
. "$here/../tests/wayland/wayland_session.sh"
pids=()
end() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    stop_wayland_session
    rm -rf "$work"
}
trap end EXIT
trap 'exit 1' INT TERM
cd "$work" || exit 1

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Runs kvusb-mirror for $seconds after 3 s and prints a table row.
measure() {  # label, options...
    local label=$1
    shift
    "$mirror" --device virtual:link=2.0 --display-mode mirror --zoom original "$@" -v \
        2> trace.txt &
    local pid=$!
    sleep 3
    kill -0 "$pid" 2>/dev/null || { echo "$label: kvusb-mirror ended:"; tail -n 5 trace.txt; return; }
    local c0 t0 c1 t1 r0
    c0=$(cpu_ticks "$pid"); t0=$(date +%s.%N); r0=$(grep -c "Frame rate" trace.txt || true)
    sleep "$seconds"
    c1=$(cpu_ticks "$pid"); t1=$(date +%s.%N)
    local rss peak
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill -TERM "$pid"
    wait "$pid" || true
    local f
    f=$(grep "Frame rate" trace.txt | tail -n +$((r0 + 1)) |
        awk '{s += $3; n++} END {print n ? s / n : 0}')
    awk -v label="$label" -v f="$f" -v c=$((c1 - c0)) -v t="$(echo "$t1 - $t0" | bc)" \
        -v hz="$ticks" -v rss="$rss" -v peak="$peak" \
        'BEGIN { printf "%-26s %8.1f %9.1f%% %10.1f %10.1f\n", label, f, 100 * c / hz / t,
                 rss / 1024, peak / 1024 }'
    # The portal's stream says when the compositor made each picture.
    grep "pictures scaled" trace.txt | awk -v label="$label" '
        { sum += $5; if ($13 > most) most = $13; n++ }
        END { if (n) printf "%-26s scaled %.1f ms after the compositor'"'"'s frame on average, %.1f at most\n",
                            label, sum / n, most }'
}

# Fills the terminal that covers the screen's middle with red, then blue, ten times, and times
# the frame-done that shows each; prints the median and the largest in milliseconds. The fill
# is drawn text: a change of a window's background alone is not reported by every X server.
latency() {  # label
    local label=$1
    "$mirror" --device "virtual:link=2.0,out=$work/shown.ppm,out_every=0" --display-mode mirror \
        --zoom original 2> /dev/null &
    local pid=$!
    sleep 3
    python3 - "$work" "$label" <<'PY'
import sys, time
work, label = sys.argv[1:3]
fills = {"red": "\033[H\033[48;2;200;40;40m", "blue": "\033[H\033[48;2;40;40;200m"}
def pixel():
    try:
        with open(work + "/shown.ppm", "rb") as f:
            body = f.read().split(b"\n", 3)[3]
        at = (120 * 854 + 200) * 3  # away from the middle, where X11 draws the pointer
        return tuple(body[at:at + 3])
    except (OSError, IndexError):
        return None
def shows(colour, seen):
    red, blue = seen[0], seen[2]
    return red > blue + 60 if colour == "red" else blue > red + 60
times = []
for i in range(10):
    colour = "red" if i % 2 == 0 else "blue"
    start = time.monotonic()
    with open(work + "/colours", "w") as terminal:
        terminal.write(fills[colour] + (" " * 250 + "\n") * 90)
    while time.monotonic() - start < 5:
        seen = pixel()
        if seen and len(seen) == 3 and shows(colour, seen):
            break
        time.sleep(0.001)
    times.append((time.monotonic() - start) * 1000)
    time.sleep(0.3)
times.sort()
print("%-26s median %6.1f ms, largest %6.1f ms" % (label, times[len(times) // 2], times[-1]))
PY
    kill -TERM "$pid"
    wait "$pid" || true
}

echo "== kvusb-mirror at 30 fps on the virtual projector, ${seconds} s after 3 s of warming up"
printf "%-26s %8s %10s %10s %10s\n" case fps "CPU/core" "RSS MiB" "peak MiB"

# The portal on sway, headless; the screen is a full-screen terminal.
start_wayland_session "$work" 1920x1080
mkfifo colours
foot --app-id=kvusb-bench -o colors.background=202020 sh -c "while :; do cat $work/colours; done" \
    > /dev/null 2>&1 &
pids+=($!)
sleep 1
swaymsg '[app_id=kvusb-bench] fullscreen enable' > /dev/null
sleep 0.5
measure "portal, still" --capture portal
foot --app-id=kvusb-busy sh -c 'while :; do echo "$RANDOM $RANDOM $RANDOM $RANDOM"; done' \
    > /dev/null 2>&1 &
busy=$!
sleep 1
swaymsg '[app_id=kvusb-busy] fullscreen enable' > /dev/null
measure "portal, moving" --capture portal
kill "$busy"
sleep 1
latency "portal, latency"
stop_wayland_session

# The same on Xvfb through X11, where a terminal covering the middle changes colour.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3> display.number \
    > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s display.number ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 display.number)"
unset WAYLAND_DISPLAY
xterm -geometry 200x80+0+0 -bg '#202020' -e sh -c "while :; do cat $work/colours; done" &
pids+=($!)
sleep 1
measure "X11, still" --capture x11
"$build/tests/mirror/kv_x11_test_helper" animate > /dev/null &
animation=$!
measure "X11, moving" --capture x11
kill "$animation"
latency "X11, latency"
