# What the first process of the kernel test's virtual machine does for every guest (guest_init.sh,
# and the soak's tests/soak/gadget_guest.sh): its file systems, modules and udev, and waits for
# the projector's units. Sourced, from /lib/guest_lib.sh.
export PATH=/bin HOME=/tmp
R=/results
. /lib/deadline.sh

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp

load_modules() {
    for module in $(cat /lib/modules/load-order); do
        [ "$module" = dummy_hcd.ko ] || insmod "/lib/modules/$module" || echo "insmod $module failed"
    done
}

# The modules but the device controller, the folder shared with the host at $R, and udev.
start_machine() {
    load_modules
    mount -t 9p -o trans=virtio,version=9p2000.L results $R || { echo "no results folder"; return 1; }
    mount -t configfs configfs /sys/kernel/config
    /bin/systemd-udevd --daemon --resolve-names=never
}

# The projector's SCSI devices, one path a line.
projector_units() {
    for unit in /sys/bus/scsi/devices/*:*:*:*; do
        grep -qs KVUSB "$unit/vendor" && echo "$unit"
    done
}

# Waits until both units are there with their sg nodes and udev has handled them.
wait_for_units() {
    tries=0
    while [ $tries -lt 240 ]; do
        if [ "$(projector_units | wc -l)" -eq 2 ] &&
            [ "$(ls -d /sys/bus/scsi/devices/*/scsi_generic/sg* 2>/dev/null | wc -l)" -ge 2 ]; then
            udevadm settle -t 60
            return 0
        fi
        sleep 0.25
        tries=$((tries + 1))
    done
    return 1
}

wait_for_no_units() {
    tries=0
    while [ -n "$(projector_units)" ] && [ $tries -lt 120 ]; do
        sleep 0.25
        tries=$((tries + 1))
    done
    udevadm settle -t 30
}

# Runs the guest's main function, keeps its output and the kernel's log with the results, and
# powers the machine off, whatever happened.
run_guest() {
    "$1" 2>&1 | tee /tmp/guest.log
    cp /tmp/guest.log $R/guest.log 2>/dev/null
    dmesg > $R/kernel.log
    sync
    poweroff -f
}
