#!/bin/sh
# The system test's Debian 12 root, built once from the Debian archive that apt uses here and
# kept as an ext4 image: systemd, udev, logind, an X server and the libraries the packages
# need, and a user. The test boots a throwaway copy of it; what the test adds at boot (the
# autologin, the session, its own service) stays out of it, so changing the test never
# rebuilds it.
#
# make_root.sh CACHE_DIR [gnome]
#   gnome: GNOME's shell and portal instead of the X server's OpenGL-less set-up.
# Leaves CACHE_DIR/root.img and CACHE_DIR/root.stamp, whose content names what the image was
# built from; an image whose stamp differs is built again. Exit 77 without mmdebstrap.
set -eu
CACHE=$1
DESKTOP=${2:-x11}
# The libraries kvusb-mirror, kvusbtool and kvusb-gadget load: dpkg installs the packages in a
# guest with no archive, so it refuses them if one is missing here.
PACKAGES="systemd systemd-sysv udev dbus libpam-systemd login passwd kmod acl procps
    xvfb x11-xserver-utils x11-apps xdotool
    libstdc++6 libx11-6 libxext6 libxfixes3 libxrandr2 libxdamage1 libxcomposite1 libudev1
    libdbus-1-3 libpipewire-0.3-0"
USER_NAME=mira
case "$DESKTOP" in
# Without the OpenGL drivers that the X server would load for GLX, which the test's server
# goes without (-extension GLX).
x11) OPTIONS="--dpkgopt=path-exclude=/usr/lib/x86_64-linux-gnu/dri/*
    --dpkgopt=path-exclude=/usr/lib/x86_64-linux-gnu/libLLVM*" SIZE=1536M ;;
gnome) PACKAGES="$PACKAGES gnome-shell xdg-desktop-portal-gnome xdg-desktop-portal pipewire
    wireplumber dbus-user-session at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-gi
    libgl1-mesa-dri" OPTIONS="" SIZE=4G ;;
*) echo "unknown desktop $DESKTOP"; exit 1 ;;
esac

. "$(dirname "$0")/root_cache.sh"
root_cache "$CACHE" root.img "$DESKTOP"
rm -rf "$CACHE/root.dir"
started=$(date +%s)
build_root "$CACHE/root.dir" $PACKAGES -- $OPTIONS \
    --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash '"$USER_NAME" \
    --customize-hook='echo kvusb-guest > "$1/etc/hostname"'
# Sparse: the image takes on disk what the root holds.
mke2fs -q -t ext4 -L root -d "$CACHE/root.dir" "$CACHE/root.img" $SIZE
rm -rf "$CACHE/root.dir"
echo "$stamp" > "$CACHE/root.stamp"
echo "root built in $(($(date +%s) - started)) s: $(du -m "$CACHE/root.img" | cut -f1) MiB"
