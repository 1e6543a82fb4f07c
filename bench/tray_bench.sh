#!/bin/bash
# What a still desktop costs the Windows program under Wine (a benchmark, not a test):
#   bench/tray_bench.sh [MINGW_BUILD_DIR] [SECONDS]
# vorn_kvusb_sim.exe shows a still 1920 x 1080 Xvfb desktop on the virtual projector at USB
# 2.0 (frames compressed, 30 fps), the projector in the program's process; captured through
# GDI, which cannot say that nothing changed (Wine has no desktop duplication), and from a
# replayed still picture, whose source says so. Prints the CPU share of one core taken by the
# program's process, whole and without the projector's decoding thread ("kv-projector"; the
# real device decodes for the host), and by its wineserver, and the frame rate the sender
# traced.
set -eu
. "$(dirname "$0")/process_ticks.sh"
. "$(dirname "$0")/desktop_picture.sh"
build=$(cd "${1:-build/mingw}" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
export WINEPREFIX="${TMPDIR:-/tmp}/vorn_kvusb-wine" WINEDEBUG=-all
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>display >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 200); do grep -q . display && break; sleep 0.05; done
export DISPLAY=":$(head -n1 display)"
desktop_picture screen.png 'vorn_kvusb tray benchmark'
convert screen.png -resize 854x480! -depth 8 still.ppm
display -window root screen.png || true
wine cmd /c exit </dev/null >/dev/null 2>&1  # the prefix and its server, before measuring

# The wineserver of our own prefix: several may run on a shared machine.
our_wineserver() {
    for pid in $(pgrep -x 'wineserver|wineserver64'); do
        if tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}

printf "%-16s %6s %10s %12s %12s %12s\n" capture fps "CPU/core" "ms a frame" "no projector" \
    "wineserver"
for capture in gdi "synthetic:ppm=$(winepath -w "$work/still.ppm")"; do
    VORN_KVUSB_DEVICE="virtual:link=2.0" VORN_KVUSB_CAPTURE="$capture" \
        VORN_KVUSB_TRACE_FILE="$work/trace.txt" wine "$build/ui/vorn_kvusb_sim.exe" \
        </dev/null >/dev/null 2>&1 &
    pid=$!  # wine becomes the Windows process
    sleep 5
    server=$(our_wineserver)
    c0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server"); t0=$(now)
    p0=$(thread_ticks "$pid" kv-projector)
    r0=$(grep -ac "Frame rate" trace.txt || true)
    sleep "$seconds"
    c1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server"); t1=$(now)
    p1=$(thread_ticks "$pid" kv-projector)
    kill -TERM "$pid"
    wait "$pid" || true
    f=$(grep -a "Frame rate" trace.txt | tail -n +$((r0 + 1)) | awk '{s += $3; n++} END {print n ? s / n : 0}')
    rm -f trace.txt
    awk -v name="${capture%%=*}" -v f="$f" -v c=$((c1 - c0)) -v s=$((s1 - s0)) \
        -v p=$((p1 - p0)) -v t="$(echo "$t1 - $t0" | bc)" -v hz="$ticks" \
        'BEGIN { printf "%-16s %6.1f %9.1f%% %12.1f %11.1f%% %11.1f%%\n", name, f,
                 100 * c / hz / t, (f > 0 ? 1000 * c / hz / t / f : 0), 100 * (c - p) / hz / t,
                 100 * s / hz / t }'
done
