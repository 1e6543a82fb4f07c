#!/bin/bash
# What mirroring a 1920 x 1080 X desktop costs (a benchmark, not a test):
#   bench/mirror_bench.sh [BUILD_DIR] [SECONDS] [SCREENS]
# - reading and scaling one frame, grabbed back to back with the screen changed before each;
# - CPU share of one core, frames per second and resident memory of kvusb-mirror showing the
#   desktop on the virtual projector with no link delay, at 30 fps (USB 2.0: frames
#   compressed) and at 45 fps (USB 3.0: frames raw), on a still screen and on one where a
#   window moves all the time (SCREENS: "still moving" unless given); twice:
#   - the projector in the program's process: it decodes and checks every frame there, and
#     copies each write into its 16 MiB of frame banks on the sending thread, which the real
#     device spares the host: the share whole, and without its decoding thread ("kv-projector");
#   - the program alone: the projector in a process of its own below the program, at sg nodes
#     (tests/below/fake_machine.sh, kvusb_sg_projector), reading the data from the program's
#     memory as a device does; that process's share beside it (needs root);
# - the X server's own CPU share meanwhile (it copies the screen for us);
# - the program's own peak memory at each capture size, the projector in a process of its own:
#   the engine and the X11 source of kvusb-mirror in pipeline_bench, the window moving.
set -eu
. "$(dirname "$0")/process_ticks.sh"
. "$(dirname "$0")/desktop_picture.sh"
build=$(cd "${1:-build/linux}" && pwd)
below="$(cd "$(dirname "$0")/../tests/below" && pwd)" nodes="$build/emulator/sg_nodes"
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

# One run of kvusb-mirror: in (the projector in its process) or below (in a process of its
# own); prints fps, CPU share whole, without the projector's thread, the X server's, the
# projector process's, RSS and peak memory in KiB.
measure() {  # in|below link
    local pid projector="" r0 c0 x0 p0 q0 t0 c1 x1 p1 q1 t1 rss peak f
    rm -f projector.pid projector.out
    if [ "$1" = in ]; then
        "$build/mirror/kvusb-mirror" --device "virtual:link=$2" --display-mode mirror \
            --zoom original -v > /dev/null 2> trace.txt &
        pid=$!
    else
        KVUSB_SG_PROJECTOR="link=$2" KVUSB_SG_SERVER="$work/projector" \
            bash "$below/fake_machine.sh" --preload "$nodes/libkvusb_sg_nodes.so" -- \
            bash "$below/projector_process.sh" "$nodes/kvusb_sg_projector" -- \
            "$build/mirror/kvusb-mirror" --display-mode mirror --zoom original -v \
            > /dev/null 2> trace.txt &
        pid=$!
    fi
    sleep 3
    [ -f projector.pid ] && projector=$(cat projector.pid)
    r0=$(grep -c "Frame rate" trace.txt || true)
    c0=$(cpu_ticks "$pid"); x0=$(cpu_ticks "$xvfb"); t0=$(now)
    p0=$(thread_ticks "$pid" kv-projector); q0=$(cpu_ticks "${projector:-$pid}")
    sleep "$seconds"
    c1=$(cpu_ticks "$pid"); x1=$(cpu_ticks "$xvfb"); t1=$(now)
    p1=$(thread_ticks "$pid" kv-projector); q1=$(cpu_ticks "${projector:-$pid}")
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill -TERM "$pid"
    wait "$pid"
    if [ -n "$projector" ]; then
        # It ends with the program.
        for _ in $(seq 100); do grep -q frames_shown projector.out && break; sleep 0.05; done
        grep -q "protocol_errors 0" projector.out ||
            echo "the projector process: $(cat projector.out)" >&2
    else
        q1=$q0
    fi
    f=$(grep "Frame rate" trace.txt | tail -n +$((r0 + 1)) |
        awk '{s += $3; n++} END {print n ? s / n : 0}')
    awk -v f="$f" -v c=$((c1 - c0)) -v x=$((x1 - x0)) -v p=$((p1 - p0)) -v q=$((q1 - q0)) \
        -v t="$(echo "$t1 - $t0" | bc)" -v hz="$ticks" -v rss="$rss" -v peak="$peak" \
        'BEGIN { print f, 100 * c / hz / t, 100 * (c - p) / hz / t, 100 * x / hz / t,
                 100 * q / hz / t, rss, peak }'
}

echo "== kvusb-mirror on the virtual projector, ${seconds} s after 3 s of warming up"
echo "   in its process: whole, and without its decoding thread; below: the program alone"
[ "$(id -u)" -eq 0 ] || echo "   (below needs root for a machine of its own: shown as 0)"
printf "%-22s %6s %8s %10s %6s %8s %9s %9s %8s %8s\n" case fps "whole" "no thread" \
    "fps" "alone" projector "X server" "RSS MiB" "peak MiB"
for screen in ${3:-still moving}; do
    animation=""
    if [ "$screen" = moving ]; then
        "$build/tests/mirror/kv_x11_test_helper" animate > /dev/null &
        animation=$!
    fi
    for link in 2.0 3.0; do
        read -r f c n x _ rss peak < <(measure in "$link")
        fb=0 cb=0 xb=0 q=0
        [ "$(id -u)" -ne 0 ] || read -r fb cb _ xb q _ _ < <(measure below "$link")
        awk -v link="USB $link, $screen" -v f="$f" -v c="$c" -v n="$n" -v fb="$fb" -v cb="$cb" \
            -v q="$q" -v x="$x" -v xb="$xb" -v rss="$rss" -v peak="$peak" \
            'BEGIN { printf "%-22s %6.1f %7.1f%% %9.1f%% %6.1f %7.1f%% %8.1f%% %4.0f/%.0f%%",
                     link, f, c, n, fb, cb, q, x, xb
                     printf " %8.1f %8.1f\n", rss / 1024, peak / 1024 }'
    done
    if [ -n "$animation" ]; then
        echo "== the program alone: engine and X11 source, the projector in a process of its own"
        "$build/bench/pipeline_bench" --desktop
        kill "$animation"
    fi
done
