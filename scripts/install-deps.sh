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
    libx11-dev libxext-dev libxfixes-dev libxrandr-dev libxdamage-dev libxcomposite-dev
    libudev-dev libdbus-1-dev libjson-c-dev
    dbus x11-utils x11-xserver-utils locales bc nsis libxml2-utils
    libpipewire-0.3-dev pipewire pipewire-bin wireplumber
    sway swaybg foot grim xdg-desktop-portal xdg-desktop-portal-wlr
    fonts-noto-cjk fonts-noto-core
    qemu-system-x86 busybox-static cpio kmod sg3-utils dosfstools
    help2man lintian osslsigncode openssl p7zip-full mmdebstrap python3-matplotlib"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

# The kernel test's guest: Debian's kernel and udev, unpacked into a cache folder rather than
# installed, so the host keeps its own kernel and has no udev daemon of ours.
GUEST_DIR="${KVUSB_GUEST_DIR:-/var/cache/vorn_kvusb/guest}"
kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
for package in "$kernel" udev; do
    [ -f "$GUEST_DIR/$package.unpacked" ] && continue
    $SUDO mkdir -p "$GUEST_DIR/root" "$GUEST_DIR/debs"
    (cd "$GUEST_DIR/debs" && $SUDO apt-get download "$package")
    $SUDO dpkg-deb -x "$GUEST_DIR/debs/${package}_"*.deb "$GUEST_DIR/root"
    $SUDO rm -f "$GUEST_DIR/debs/${package}_"*.deb
    $SUDO touch "$GUEST_DIR/$package.unpacked"
done
# The package leaves modules.dep to its install script.
version=${kernel#linux-image-}
[ -f "$GUEST_DIR/root/lib/modules/$version/modules.dep" ] ||
    $SUDO depmod -b "$GUEST_DIR/root" "$version"
