#!/bin/sh
# Builds the Debian packages kvusb-mirror, kvusbtool and kvusb-gadget into OUTDIR, from a
# Release build of their own (build/deb, or $KV_DEB_BUILD_DIR) with Debian's build flags.
#   sh scripts/build-debs.sh OUTDIR
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
build="${KV_DEB_BUILD_DIR:-build/deb}"

# Hardened as Debian's own packages are; CMake reads no CPPFLAGS, so they join the others.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS
# The packages hold no tests and no benchmarks (kvusbtool bench reads frames of the source
# tree).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
    >/dev/null
cmake --build "$build" --target linux_packages -j "$(nproc)" >/dev/null
rm -f "$out"/kvusb-mirror_*.deb "$out"/kvusbtool_*.deb "$out"/kvusb-gadget_*.deb
cp "$build"/packaging/linux/debs/*.deb "$out"/
