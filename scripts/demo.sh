#!/bin/sh
# The demo: on a fresh Debian 12 machine, installs what it needs, builds the Windows program,
# starts an X display with an xterm and a clock on it, and runs it under Wine for about ten
# seconds (as vorn_kvusb_sim.exe, the build whose environment may choose the projector and the
# capture) with the desktop captured through GDI onto the virtual projector. Leaves
# what the projector showed as a PNG, and prints the frame rate and the bytes per frame.
#   sh scripts/demo.sh [--below]
# With --below (as root) the program runs unchanged, nothing chosen through its environment:
# its own DeviceIoControl calls reach the virtual projector through Wine and the sg nodes of a
# machine of its own (tests/below).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

build="${DEMO_BUILD:-build/mingw}"  # the mingw preset's build folder
cmake --preset mingw -B "$build" >/dev/null
below="${1:-}"
if [ "$below" = --below ]; then
    program="$build/ui/vorn_kvusb.exe"
    cmake --build "$build" -j2 --target vorn_kvusb e2e_tests kv_native_sg_nodes
    out="$PWD/$build/demo-below"
else
    program="$build/ui/vorn_kvusb_sim.exe"
    cmake --build "$build" -j2 --target vorn_kvusb_sim e2e_tests
    out="$PWD/$build/demo"
fi

# Runs the command as it is, or below: as tests/below/CMakeLists.txt runs its Wine tests.
attached() {
    if [ "$below" = --below ]; then
        bash tests/below/fake_machine.sh \
            --preload "$build/native-sg-nodes/emulator/sg_nodes/libkvusb_sg_nodes.so" -- \
            env E2E_ROUTE=below KVUSB_SG_CALLER=wine64 KVUSB_SG_PROJECTOR_FILE="$out/projector.txt" \
            E2E_PREFIX_SETUP="bash tests/below/wine/register_units.sh '$out/drives'" "$@"
    else
        "$@"
    fi
}

rm -rf "$out/runs/demo"
export E2E_DESKTOP=none
export E2E_SCENE='xterm -geometry 100x30+40+40 -fa Monospace -fs 14 -e sh -c "echo vorn_kvusb demo: this xterm is on the projector; uname -a; date; ls -l /; exec sleep 600" &
xclock -geometry 300x300+900+80 -update 1 &
wait'
attached sh tests/e2e/run_e2e.sh "$out" "$out/artifacts" "$build/tests/e2e/e2e_tests.exe" \
    "$program" --gtest_also_run_disabled_tests --gtest_filter=Demo.*

run="$out/runs/demo"
convert "$run/frame.ppm" "$out/projector.png"

# The last whole frame in the projector's command log (its last commands): the bytes of the
# writes on the optical unit between two frame-done commands.
bytes="$(awk '$1 == "cdb" && $3 ~ /^optical/ {
        if ($4 == "out") { sum += $5 } else { if (seen) last = sum; seen = 1; sum = 0 }
    } END { print last + 0 }' "$run/report.txt")"
fps="$(grep -a '^Frame rate: ' "$run/trace.txt" | tail -n 1 | sed 's/[^0-9]//g')"
frames="$(sed -n 's/.*frames_bank0=\([0-9]*\) frames_bank1=\([0-9]*\).*/\1 \2/p' "$run/report.txt" |
    awk '{ print $1 + $2 }')"

echo
echo "What the projector showed:    $out/projector.png"
echo "Frames the projector decoded: $frames"
echo "Frame rate:                   ${fps:-?} fps (last \"Frame rate\" trace)"
echo "Bytes per frame:              $bytes (compressed, USB 2.0 link; raw is 1229760 + framing)"
echo "Traces:                       $run/trace.txt"
echo "Projector report:             $run/report.txt"
