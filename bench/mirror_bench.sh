#!/bin/bash
# What mirroring a 1920 x 1080 X desktop costs (a benchmark, not a test):
#   bench/mirror_bench.sh [BUILD_DIR] [SECONDS]
# - reading and scaling one frame, grabbed back to back with the screen changed before each;
# - CPU share of one core, frames per second and resident memory of kvusb-mirror showing the
#   desktop on the virtual projector with no link delay, at 30 fps (USB 2.0: frames
#   compressed) and at 45 fps (USB 3.0: frames raw), on a still screen and on one where a
#   window moves all the time; the virtual projector decodes and checks every frame in the
#   same process and keeps 16 MiB of frame banks, which the real device spares the host: the
#   CPU share is given whole, and without the projector's decoding thread ("kv-projector");
# - the X server's own CPU share meanwhile (it copies the screen for us);
# - the program's own peak memory at each capture size, the projector in a process of its own:
#   the engine and the X11 source of kvusb-mirror in pipeline_bench, the window moving.
set -eu
. "$(dirname "$0")/process_ticks.sh"
. "$(dirname "$0")/desktop_picture.sh"
build=$(cd "${1:-build/linux}" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

# Xvfb takes a free display number itself and writes it to descriptor 3 once it is ready.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>display >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 200); do grep -q . display && break; sleep 0.05; done
export DISPLAY=":$(head -n1 display)" XDG_CONFIG_HOME="$work/config"
desktop_picture screen.png 'vorn_kvusb mirror benchmark'
display -window root screen.png || true


echo "== reading and scaling a frame of the 1920x1080 screen, for each session size"
for size in "854 480" "1136 480" "854 848"; do
    "$build/bench/x11_capture_bench" $size 2>/dev/null
done

echo "== kvusb-mirror on the virtual projector, ${seconds} s after 3 s of warming up"
printf "%-22s %8s %10s %12s %10s %10s %10s\n" case fps "CPU/core" "no projector" "X server" \
    "RSS MiB" "peak MiB"
for screen in still moving; do
    animation=""
    if [ "$screen" = moving ]; then
        "$build/tests/mirror/kv_x11_test_helper" animate > /dev/null &
        animation=$!
    fi
    for link in 2.0 3.0; do
        # The sender traces its rate every 100 frames.
        "$build/mirror/kvusb-mirror" --device "virtual:link=$link" --display-mode mirror \
            --zoom original -v 2> trace.txt &
        pid=$!
        sleep 3
        c0=$(cpu_ticks "$pid"); x0=$(cpu_ticks "$xvfb"); t0=$(now)
        p0=$(thread_ticks "$pid" kv-projector)
        r0=$(grep -c "Frame rate" trace.txt)
        sleep "$seconds"
        c1=$(cpu_ticks "$pid"); x1=$(cpu_ticks "$xvfb"); t1=$(now)
        p1=$(thread_ticks "$pid" kv-projector)
        rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
        peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
        kill -TERM "$pid"
        wait "$pid"
        f=$(grep "Frame rate" trace.txt | tail -n +$((r0 + 1)) | awk '{s += $3; n++} END {print n ? s / n : 0}')
        awk -v link="USB $link, $screen" -v f="$f" -v c=$((c1 - c0)) -v x=$((x1 - x0)) \
            -v p=$((p1 - p0)) -v t="$(echo "$t1 - $t0" | bc)" -v hz="$ticks" -v rss="$rss" \
            -v peak="$peak" \
            'BEGIN { printf "%-22s %8.1f %9.1f%% %11.1f%% %9.1f%% %10.1f %10.1f\n", link, f,
                     100 * c / hz / t, 100 * (c - p) / hz / t, 100 * x / hz / t, rss / 1024,
                     peak / 1024 }'
    done
    if [ -n "$animation" ]; then
        echo "== the program alone: engine and X11 source, the projector in a process of its own"
        "$build/bench/pipeline_bench" --desktop
        kill "$animation"
    fi
done
