#!/bin/sh
# A desktop's Debian 12 root, built once from the Debian archive that apt uses here and kept
# as a folder to chroot into: the desktop's compositor, its screen-cast portal, PipeWire,
# WirePlumber, the accessibility bus and its Python bindings, and the libraries kvusb-mirror
# loads. The test brings the program in at run time, so changing either never rebuilds it.
#
# make_root.sh gnome|kde CACHE_DIR
# Leaves CACHE_DIR/root and CACHE_DIR/root.stamp, whose content names what the root was built
# from; a root whose stamp differs is built again. Exit 77 without mmdebstrap.
set -eu
DESKTOP=$1 CACHE=$2
MIRROR_LIBS="libstdc++6 libx11-6 libxext6 libxfixes3 libxrandr2 libxdamage1 libxcomposite1
    libudev1 libdbus-1-3 libpipewire-0.3-0 libjson-c5"
SESSION="dbus pipewire pipewire-bin wireplumber xdg-desktop-portal at-spi2-core
    python3-pyatspi gir1.2-atspi-2.0 python3-gi libgl1-mesa-dri"
case "$DESKTOP" in
gnome) PACKAGES="gnome-shell xdg-desktop-portal-gnome" ;;
kde) PACKAGES="kwin-wayland xdg-desktop-portal-kde qtwayland5 plasma-workspace
    qml-module-org-kde-pipewire libcap2-bin gir1.2-gtk-4.0" ;;
*) echo "unknown desktop $DESKTOP"; exit 1 ;;
esac

. "$(dirname "$0")/../system/root_cache.sh"
root_cache "$CACHE" root "$DESKTOP"
started=$(date +%s)
# kwin's file capability (CAP_SYS_RESOURCE, for its real-time thread) makes the loader drop
# the environment the session needs; a chroot's root has no use for it.
build_root "$CACHE/root" $MIRROR_LIBS $SESSION $PACKAGES -- \
    --customize-hook='[ ! -e "$1/usr/bin/kwin_wayland" ] || chroot "$1" setcap -r /usr/bin/kwin_wayland'
echo "$stamp" > "$CACHE/root.stamp"
echo "$DESKTOP root built in $(($(date +%s) - started)) s: $(du -sxm "$CACHE/root" | cut -f1) MiB"
