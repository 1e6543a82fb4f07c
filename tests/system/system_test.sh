#!/bin/sh
# The projector plugged into a booted Debian 12 system: boots the root of make_root.sh under
# QEMU (TCG) with the kernel test's Debian kernel, the user signed in on seat0 with an X
# desktop, installs the project's packages there with dpkg, and runs guest/plug_test.sh, which
# plays the projector with kvusb-gadget on dummy_hcd. Judges what the guest left: its failed
# steps, and the projector's frame against a screenshot of the session, scaled as the mirror
# scales it. Prints the guest's journal for the mirror's unit when a check failed.
#
# system_test.sh SOURCE_DIR X11_TEST_HELPER WORK_DIR BUILD_DIR DEB_DIR [gnome]
#   gnome: the user's session is GNOME's shell on Wayland instead, and the first plug-in's
#   screen-cast dialog is answered through the accessibility bus (guest/plug_test_gnome.sh).
#   BUILD_DIR's target linux_packages packs this build tree's programs into DEB_DIR, so the
#   test installs what the tests beside it built instead of compiling everything once more.
# Exit 77 (skipped) without the guest's kernel, QEMU, busybox or mmdebstrap.
set -eu
SOURCE=$1
HELPER=$2
WORK=$3
BUILD=$4
DEBS=$5
DESKTOP=${6:-x11}
HERE=$SOURCE/tests/system
GUEST_ROOT=${KVUSB_GUEST_DIR:-/var/cache/vorn_kvusb/guest}/root
case "$DESKTOP" in
x11) CACHE=${KVUSB_SYSTEM_DIR:-/var/cache/vorn_kvusb/system} MEMORY=1536 ;;
gnome) CACHE=${KVUSB_SYSTEM_DIR:-/var/cache/vorn_kvusb/system-gnome} MEMORY=3072 ;;
esac
started=$(date +%s)

kernel=$(ls "$GUEST_ROOT"/boot/vmlinuz-* 2>/dev/null | head -n 1)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
    echo "no guest kernel in $GUEST_ROOT, QEMU or busybox: run scripts/install-deps.sh"
    exit 77
fi
version=${kernel##*/vmlinuz-}
sh "$HERE/make_root.sh" "$CACHE" "$DESKTOP" || exit $?

rm -rf "$WORK"
mkdir -p "$WORK/share/results" "$WORK/share/debs" "$WORK/modules"
cmake --build "$BUILD" --target linux_packages > "$WORK/build-debs.log" 2>&1 || {
    cat "$WORK/build-debs.log"
    echo "packing the Debian packages failed"
    exit 1
}
cp "$DEBS"/kvusb-mirror_*.deb "$DEBS"/kvusbtool_*.deb "$DEBS"/kvusb-gadget_*.deb "$WORK/share/debs/"
built=$(date +%s)

# The initramfs: busybox, the modules that reach the root, and what the test lays over it.
initramfs=$WORK/initramfs
overlay=$initramfs/overlay
mkdir -p "$initramfs/bin" "$initramfs/proc" "$initramfs/sys" "$initramfs/dev"
cp /bin/busybox "$initramfs/bin/"
for applet in sh mount umount insmod cp mkdir cat switch_root poweroff; do
    ln -s busybox "$initramfs/bin/$applet"
done
cp "$HERE/guest/boot_init.sh" "$initramfs/init"
chmod +x "$initramfs/init"

# The modules, each after those it needs and once, as paths in the guest.
depends() {
    modprobe -d "$GUEST_ROOT" -S "$version" -a --show-depends "$@" |
        sed -n 's|^insmod '"$GUEST_ROOT"'\([^ ]*\).*|\1|p' | awk '!seen[$0]++'
}
depends virtio_pci virtio_blk ext4 > "$initramfs/boot-modules"
for module in $(cat "$initramfs/boot-modules"); do
    mkdir -p "$initramfs$(dirname "$module")"
    cp "$GUEST_ROOT$module" "$initramfs$module"
done
# The root's modules, for udev and modprobe there: the same, the share and the USB parts.
for module in $(depends virtio_pci virtio_blk ext4 9pnet_virtio 9p dummy_hcd usb_f_fs \
    usb-storage sg sr_mod sd_mod); do
    mkdir -p "$WORK/modules$(dirname "$module")"
    cp "$GUEST_ROOT$module" "$WORK/modules$module"
done
cp "$GUEST_ROOT/lib/modules/$version"/modules.builtin* "$GUEST_ROOT/lib/modules/$version/modules.order" \
    "$WORK/modules/lib/modules/$version/"
depmod -b "$WORK/modules" "$version"
mkdir -p "$overlay/usr/lib" "$overlay/etc/systemd/system/getty@tty1.service.d" \
    "$overlay/etc/systemd/system/getty@tty2.service.d" \
    "$overlay/etc/systemd/user" "$overlay/etc/profile.d" "$overlay/mnt/share" \
    "$overlay/usr/local/bin" "$overlay/usr/local/lib/kvusb-test" "$overlay/usr/local/share/kvusb-test"
cp -a "$WORK/modules/lib/modules" "$overlay/usr/lib/"
cp "$HERE/guest/autologin.conf" "$overlay/etc/systemd/system/getty@tty1.service.d/"
cp "$HERE/guest/kvusb-system-test.service" "$overlay/etc/systemd/system/"
cp "$HERE/guest/desktop-session.target" "$overlay/etc/systemd/user/"
cp "$HERE/guest/fstab" "$overlay/etc/fstab"
cp "$HERE/guest/plug_steps.sh" "$HERE/../support/deadline.sh" "$overlay/usr/local/lib/kvusb-test/"
# The desktop: a photo-like picture with sharp edges, larger than the projector.
desktop="$overlay/usr/local/share/kvusb-test/desktop"
convert "$SOURCE/tests/data/photo.png" -resize '1280x720!' \
    -fill white -draw 'rectangle 300,200 700,420' -fill black -draw 'rectangle 40,500 1240,560' \
    -depth 8 "$desktop.png"
if [ "$DESKTOP" = gnome ]; then
    cp "$HERE/guest/gnome-session.sh" "$overlay/etc/profile.d/"
    cp "$HERE/guest/plug_test_gnome.sh" "$overlay/usr/local/lib/kvusb-test/plug_test.sh"
    cp "$SOURCE/tests/desktops/accessible.py" "$SOURCE/tests/desktops/gnome_shell.py" \
        "$overlay/usr/local/lib/kvusb-test/"
else
    cp "$HERE/guest/autologin-tty2.conf" "$overlay/etc/systemd/system/getty@tty2.service.d/autologin.conf"
    cp "$HERE/guest/desktop-session.sh" "$overlay/etc/profile.d/"
    cp "$HELPER" "$overlay/usr/local/bin/kv_x11_test_helper"
    cp "$HERE/guest/plug_test.sh" "$overlay/usr/local/lib/kvusb-test/"
    convert "$desktop.png" "$desktop.xwd"
fi
(cd "$initramfs" && find . | cpio -o -H newc --quiet) > "$WORK/initramfs.cpio"

# The root image is only read: the guest's writes go to a temporary file (snapshot=on).
# no_timer_check: an emulated CPU on a busy host can miss the timer interrupt that the boot's
# check waits for, and the kernel then panics.
options="console=ttyS0 loglevel=4 panic=-1 no_timer_check rdinit=/init"
options="$options systemd.wants=kvusb-system-test.service systemd.show_status=error"
status=0
timeout 900 qemu-system-x86_64 -machine pc -accel tcg -cpu max -smp 2 -m $MEMORY -nographic \
    -nic none -no-reboot -kernel "$kernel" -initrd "$WORK/initramfs.cpio" \
    -append "$options" \
    -drive "file=$CACHE/root.img,format=raw,if=virtio,snapshot=on" \
    -virtfs "local,path=$WORK/share,mount_tag=share,security_model=none,id=share" \
    > "$WORK/console.log" 2>&1 || status=$?
booted=$(date +%s)
R=$WORK/share/results

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
[ "$status" -eq 0 ] || fail "QEMU ended with $status"
[ -f "$R/finished" ] || fail "the guest's test did not run to its end"
if [ -s "$R/failures" ]; then
    while read -r line; do fail "guest: $line"; done < "$R/failures"
fi

# The projector's frame is the session's desktop: a screenshot of it, averaged down to the
# projector's size as the mirror's scaler does. The two scalers may round a channel apart by
# one; the pointer, which the mirror draws and a screenshot leaves out, sits in the corner that
# is blanked in both.
screenshot=$(ls "$R"/screenshot.* 2>/dev/null | head -n 1)
if [ -s "$R/plug-frame.png" ] && [ -s "$screenshot" ]; then
    pointer="rectangle 838,464 853,479"
    convert "$screenshot" -scale '854x480!' -fill black -draw "$pointer" "$WORK/expected.png"
    convert "$R/plug-frame.png" -fill black -draw "$pointer" "$WORK/shown.png"
    differing=$(compare -metric AE -fuzz 0.5% "$WORK/shown.png" "$WORK/expected.png" null: 2>&1) || true
    [ "$differing" = 0 ] || fail "the projector's frame differs from the screenshot in $differing pixels"
fi

echo "=== figures"
cat "$R/figures" 2>/dev/null
echo "packages built in $((built - started)) s; QEMU ran $((booted - built)) s"
if [ $failures -gt 0 ]; then
    echo "=== the machine's console"
    cat "$WORK/console.log"
    echo "=== the guest's journal for kvusb-mirror.service"
    cat "$R/unit-journal.txt" 2>/dev/null || echo "(none)"
    echo "(the whole journal: $R/journal.txt)"
    echo "$failures checks failed"
    exit 1
fi
echo "every check passed"
