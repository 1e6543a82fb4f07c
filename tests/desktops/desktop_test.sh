#!/bin/bash
# kvusb-mirror on a desktop that Linux users run, against the virtual projector: the
# desktop's compositor headless with its own screen-cast portal, PipeWire and WirePlumber, in
# a Debian 12 root built once from the archive (make_root.sh, into /var/cache/vorn_kvusb/).
# DESKTOP.sh runs the scenarios in the root (desktop_session.sh says which); the pictures are
# compared here.
#
#   desktop_test.sh gnome|kde SOURCE_DIR MIRROR WORK_DIR
# Exit code 77 (skipped) when not root, or without mmdebstrap.
set -u
desktop=$1 source=$2 mirror=$3 work=$4
here=$source/tests/desktops
[ "$(id -u)" -eq 0 ] || { echo "skipped: the desktop's root needs root"; exit 77; }
command -v unshare > /dev/null && command -v compare > /dev/null ||
    { echo "skipped: unshare or ImageMagick is not installed"; exit 77; }
started=$(date +%s)
sh "$here/make_root.sh" "$desktop" "/var/cache/vorn_kvusb/$desktop" || exit $?
echo "root: ready in $(($(date +%s) - started)) s"
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$source/tests/wayland/mirror_runs.sh"

unshare --mount --pid --fork --kill-child sh "$here/enter_root.sh" \
    "/var/cache/vorn_kvusb/$desktop/root" "$source" "$mirror" "$work" \
    bash "/mnt/source/tests/desktops/$desktop.sh"
status=$?
[ $status -eq 0 ] || fail "the $desktop session ended with $status"
if [ -e screen.png ]; then
    expect_frame first.png screen.png
    expect_frame second.png screen.png
else
    echo "no screenshot: the wall is not compared (this desktop's cast sends no frame here)"
fi
echo "passed: $desktop"
