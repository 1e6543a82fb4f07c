#!/bin/sh
# The virtual projector as a USB device in front of a real Linux kernel: boots Debian's kernel
# under QEMU (TCG) with an initramfs made here (busybox, udev, the kernel's USB gadget and
# storage modules, kvusb-gadget and kvusbtool with their libraries), runs guest_init.sh there,
# and checks what it left in a folder shared with the guest. The guest's kernel log is printed.
#
# kernel_test.sh GADGET KVUSBTOOL SOURCE_DIR WORK_DIR [INIT]
# With INIT, that script is the guest's first process in place of guest_init.sh, and what it
# leaves in WORK_DIR/results is for the caller to judge (the soak's: tests/soak).
# Exit 77 (skipped) when the guest's kernel or QEMU is not installed (scripts/install-deps.sh).
set -eu
GADGET=$1
TOOL=$2
SOURCE=$3
WORK=$4
INIT=${5:-}
GUEST_DIR=${KVUSB_GUEST_DIR:-/var/cache/vorn_kvusb/guest}
GUEST_ROOT=$GUEST_DIR/root

kernel=$(ls "$GUEST_ROOT"/boot/vmlinuz-* 2>/dev/null | head -n 1)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
    echo "no guest kernel in $GUEST_ROOT, QEMU or busybox: run scripts/install-deps.sh"
    exit 77
fi
version=${kernel##*/vmlinuz-}
modules=$GUEST_ROOT/lib/modules/$version

rm -rf "$WORK"
mkdir -p "$WORK/root" "$WORK/results"
root=$WORK/root
mkdir -p "$root/bin" "$root/sbin" "$root/lib/modules" "$root/etc/udev/rules.d" \
    "$root/lib/udev/rules.d" "$root/data" "$root/proc" "$root/sys" "$root/dev" "$root/run" \
    "$root/tmp" "$root/mnt" "$root/results"

# The programs, and every library they load, at the paths they load them from.
copy_program() {
    cp "$1" "$root/bin/"
    ldd "$1" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | while read -r lib; do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
}
cp /bin/busybox "$root/bin/busybox"
for applet in $(/bin/busybox --list); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
copy_program "$GADGET"
copy_program "$TOOL"
copy_program "$GUEST_ROOT/bin/udevadm"
# Clients of a SCSI device that nobody here wrote, as a host's own utilities drive the units.
for program in sg_inq sg_vpd sg_turs sg_requests sg_readcap sg_modes sg_prevent sg_start \
    sg_sync sg_verify sg_get_config sg_rtpg sg_raw sg_luns sg_read sg_senddiag sg_map fsck.fat; do
    copy_program "$(command -v "$program")" || { echo "$program is missing: run scripts/install-deps.sh"; exit 1; }
done
ln -sf udevadm "$root/bin/systemd-udevd"
for rules in 50-udev-default.rules 60-block.rules 60-persistent-storage.rules; do
    cp "$GUEST_ROOT/lib/udev/rules.d/$rules" "$root/lib/udev/rules.d/"
done
cp "$SOURCE/packaging/linux/70-kvusb.rules" "$root/etc/udev/rules.d/"
cp "$SOURCE/tests/data/photo.png" "$root/data/"
cp "${INIT:-$SOURCE/tests/kernel/guest_init.sh}" "$root/init"
cp "$SOURCE/tests/kernel/guest_lib.sh" "$SOURCE/tests/support/deadline.sh" "$root/lib/"
chmod +x "$root/init"

# The modules the guest loads, each after those it depends on (modules.dep lists them).
needed="dummy_hcd libcomposite usb_f_fs usb-storage sg sd_mod sr_mod vfat nls_cp437
    nls_ascii 9pnet_virtio 9p virtio_pci"
order=""
add_module() {
    local entry file dep name
    entry=$(grep -E "/$1\.ko(\.[a-z]+)?:" "$modules/modules.dep" | head -n 1)
    [ -n "$entry" ] || { echo "module $1 is not in $modules"; exit 1; }
    file=${entry%%:*}
    case " $order " in *" $file "*) return ;; esac
    # modules.dep lists dependencies nearest first; load the farthest first.
    for dep in $(echo "${entry#*:}" | tr ' ' '\n' | sed '/^$/d' | tac); do
        name=$(basename "$dep" | sed 's/\.ko.*//')
        add_module "$name"
    done
    order="$order $file"
}
for m in $needed; do add_module "$m"; done
for file in $order; do
    cp "$modules/$file" "$root/lib/modules/"
    basename "$file" >> "$root/lib/modules/load-order"
done

(cd "$root" && find . | cpio -o -H newc --quiet) > "$WORK/initramfs.cpio"

# Kernel messages above warnings go to the console; the whole log is printed at the end.
# no_timer_check: an emulated CPU on a busy host can miss the timer interrupt that the boot's
# check waits for, and the kernel then panics ("IO-APIC + timer doesn't work").
status=0
timeout 600 qemu-system-x86_64 -machine pc -accel tcg -smp 2 -m 1024 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$WORK/initramfs.cpio" \
    -append "console=ttyS0 loglevel=4 panic=-1 no_timer_check rdinit=/init" \
    -virtfs "local,path=$WORK/results,mount_tag=results,security_model=none,id=results" \
    > "$WORK/console.log" 2>&1 || status=$?
cat "$WORK/console.log"
echo "=== guest kernel log"
cat "$WORK/results/kernel.log" 2>/dev/null || echo "(none: the guest did not get that far)"
if [ "$status" -ne 0 ]; then
    echo "QEMU ended with $status"
    exit 1
fi
[ -z "$INIT" ] || exit 0
exec sh "$SOURCE/tests/kernel/check_results.sh" "$WORK/results"
