#!/bin/sh
# Installs what building, testing and the demo need on Debian 12. Runs as root, or through
# sudo when it is there.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES="build-essential cmake pkg-config git clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    liblz4-dev libzstd-dev libqoi-dev libstb-dev
    g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth imagemagick x11-apps xterm xdotool
    libx11-dev libxext-dev libxfixes-dev libxrandr-dev libxdamage-dev libudev-dev libdbus-1-dev
    dbus x11-utils locales bc
    fonts-noto-cjk fonts-noto-core"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
