#!/bin/sh
# Builds every preset and runs every test: native, ASan/UBSan, TSan, the bounded fuzz runs,
# and the Windows build under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

FUZZ_SECONDS="${FUZZ_SECONDS:-5}"

echo "=== layers"
cmake -P scripts/check_layers.cmake

# The kernel test (label kernel) boots a virtual machine, the soak (label soak) streams for
# minutes, the package test (label package) packs and checks the Debian packages, the system
# test (label system) boots a Debian system with them, and the desktops' tests (label
# desktops) run GNOME and KDE Plasma in roots of their own: once each, with the plain build.
# KV_TEST_DESKTOPS=0 leaves the desktops out. The booted system on GNOME (label
# system_gnome, some ten minutes) runs only with KV_TEST_SYSTEM_GNOME=1.
left_out=""
[ "${KV_TEST_DESKTOPS:-1}" = 1 ] || left_out="desktops"
[ "${KV_TEST_SYSTEM_GNOME:-0}" = 1 ] || left_out="${left_out:+$left_out|}system_gnome"
for preset in linux linux-asan; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    if [ "$preset" = linux ]; then
        ctest --preset "$preset" ${left_out:+-LE "$left_out"}
    else
        ctest --preset "$preset" -LE 'kernel|soak|package|system|desktops'
    fi
done

# ThreadSanitizer where threads meet: the frame pipeline and shutdowns, the capture library,
# the virtual projector's decoder thread and its sg nodes (a sender and a status poll at
# once), and the codec's first table builds.
echo "=== linux-tsan"
THREADED="app/app_tests kvcap/kvcap_tests emulator/emulator_tests below/sg_node_tests
    codec/codec_tests decoder/decoder_tests"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan --target $(for t in $THREADED; do basename "$t"; done)
for t in $THREADED; do
    echo "--- $t"
    "build/linux-tsan/tests/$t" --gtest_brief=1
done

echo "=== fuzz (${FUZZ_SECONDS} s each)"
FUZZ_TARGETS=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target $FUZZ_TARGETS
for name in $FUZZ_TARGETS; do
    target="build/fuzz/tests/fuzz/$name"
    corpus="build/fuzz/corpus/$name"
    seeds="tests/fuzz/seeds/$name"
    mkdir -p "$corpus"
    [ -d "$seeds" ] || seeds=""
    "$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "$corpus" $seeds
done

echo "=== mingw (under Wine)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
ctest --preset mingw
echo "All tests passed."
