#!/bin/sh
# The system test's Debian 12 root, built once from the Debian archive that apt uses here and
# kept as an ext4 image: systemd, udev, logind, an X server and the libraries the packages
# need, and a user. The test boots a throwaway copy of it; what the test adds at boot (the
# autologin, the session, its own service) stays out of it, so changing the test never
# rebuilds it.
#
# make_root.sh CACHE_DIR
# Leaves CACHE_DIR/root.img and CACHE_DIR/root.stamp, whose content names what the image was
# built from; an image whose stamp differs is built again. Exit 77 without mmdebstrap.
set -eu
CACHE=$1
# The libraries kvusb-mirror, kvusbtool and kvusb-gadget load: dpkg installs the packages in a
# guest with no archive, so it refuses them if one is missing here.
PACKAGES="systemd systemd-sysv udev dbus libpam-systemd login passwd kmod acl procps
    xvfb x11-xserver-utils x11-apps xdotool
    libstdc++6 libx11-6 libxext6 libxfixes3 libxrandr2 libxdamage1 libxcomposite1 libudev1
    libdbus-1-3 libpipewire-0.3-0"
USER_NAME=mira

command -v mmdebstrap >/dev/null || { echo "no mmdebstrap: run scripts/install-deps.sh"; exit 77; }
# Where apt here takes Debian from: each suite as a sources.list line.
sources=$(apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
    "Identifier: Packages" | awk '$1 == "Debian" { print "deb " $2 " " $3 " " $4 }' | sort -u)
[ -n "$sources" ] || { echo "apt knows no Debian archive (apt-get update?)"; exit 1; }
stamp=$( (cat "$0"; echo "$sources") | sha256sum | cut -c1-16)

mkdir -p "$CACHE"
exec 9> "$CACHE/root.lock"
flock 9
[ "$(cat "$CACHE/root.stamp" 2>/dev/null)" = "$stamp" ] && [ -f "$CACHE/root.img" ] && exit 0

[ "$(id -u)" -eq 0 ] || { echo "building the system test's root needs root"; exit 77; }
rm -rf "$CACHE/root.img" "$CACHE/root.stamp" "$CACHE/root.dir"
suite=$(echo "$sources" | awk 'NR == 1 { sub(/-.*/, "", $3); print $3 }')
echo "building the system test's root ($suite) in $CACHE"
started=$(date +%s)
# dpkg without fsync (eatmydata), and without what the test never reads: documentation, and
# the OpenGL drivers that the X server would load for GLX, which the test's server goes
# without (-extension GLX).
echo "$sources" | mmdebstrap --variant=minbase --quiet \
    --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
    --include="$(echo $PACKAGES | tr ' ' ',')" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/lib/x86_64-linux-gnu/dri/*' \
    --dpkgopt='path-exclude=/usr/lib/x86_64-linux-gnu/libLLVM*' \
    --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash '"$USER_NAME" \
    --customize-hook='echo kvusb-guest > "$1/etc/hostname"' \
    --customize-hook='rm -rf "$1"/var/cache/apt/* "$1"/var/lib/apt/lists/*' \
    "$suite" "$CACHE/root.dir" -
# Sparse: the image takes on disk what the root holds.
mke2fs -q -t ext4 -L root -d "$CACHE/root.dir" "$CACHE/root.img" 1536M
rm -rf "$CACHE/root.dir"
echo "$stamp" > "$CACHE/root.stamp"
echo "root built in $(($(date +%s) - started)) s: $(du -m "$CACHE/root.img" | cut -f1) MiB"
