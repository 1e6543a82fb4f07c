#!/bin/sh
# The first process of the kernel test's virtual machine. Loads the USB gadget and storage
# modules, starts udev, and plays the projector with kvusb-gadget on dummy_hcd, first at super
# speed (raw frames) and then at high speed (compressed frames), driving it each time with
# kvusbtool info, show and stream; then pulls the cable in the middle of a frame while a stream
# runs, and plugs it in again. Every outcome goes to /results, shared with the host, which
# judges it (check_results.sh). Ends by powering the machine off, whatever happened.
. /lib/guest_lib.sh

fail() {
    echo "FAIL: $*" | tee -a $R/failures
}

unit_with_model() {
    for unit in $(projector_units); do
        grep -qs "$1" "$unit/model" && echo "$unit"
    done
}

# What a real device with two LUNs looks like in sysfs, for the fakes that stand in for it.
list_sysfs() {
    for unit in $(projector_units); do
        echo "unit $(basename "$unit") -> $(readlink -f "$unit")"
        for attribute in vendor model rev type scsi_level queue_depth timeout state; do
            printf '  %s=[%s]\n' "$attribute" "$(cat "$unit/$attribute" 2>/dev/null)"
        done
        echo "  scsi_generic: $(ls "$unit/scsi_generic" 2>/dev/null)"
        for block in "$unit"/block/*; do
            [ -d "$block" ] || continue
            echo "  block: $(basename "$block") size=$(cat "$block/size") ro=$(cat "$block/ro")" \
                "removable=$(cat "$block/removable")" \
                "max_sectors_kb=$(cat "$block/queue/max_sectors_kb")" \
                "max_hw_sectors_kb=$(cat "$block/queue/max_hw_sectors_kb")" \
                "max_segments=$(cat "$block/queue/max_segments")" \
                "logical_block_size=$(cat "$block/queue/logical_block_size")"
        done
    done
    for usb in /sys/bus/usb/devices/*; do
        grep -qs 4b56 "$usb/idVendor" || continue
        echo "usb device $(basename "$usb") -> $(readlink -f "$usb")"
        for attribute in idVendor idProduct bcdDevice serial manufacturer product speed version \
            bDeviceClass bNumConfigurations bMaxPower; do
            printf '  %s=[%s]\n' "$attribute" "$(cat "$usb/$attribute" 2>/dev/null)"
        done
        for interface in "$usb"/*:*; do
            echo "  interface $(basename "$interface"): class=$(cat "$interface/bInterfaceClass")" \
                "subclass=$(cat "$interface/bInterfaceSubClass")" \
                "protocol=$(cat "$interface/bInterfaceProtocol")" \
                "driver=$(basename "$(readlink "$interface/driver")")"
        done
    done
    echo "host: $(ls /sys/class/scsi_host) sg_tablesize=$(cat /sys/class/scsi_host/*/sg_tablesize)" \
        "max_sectors=$(cat /sys/class/scsi_host/*/max_sectors 2>/dev/null)"
    echo "/dev/disk/by-label:"
    ls -l /dev/disk/by-label 2>&1 | sed 's/^/  /'
    echo "/dev/disk/by-id:"
    ls -l /dev/disk/by-id 2>&1 | sed 's/^/  /'
}

# The gadget decodes a frame after it is closed, then writes the picture (at once for the
# first frame).
wait_for_picture() {
    local tries=0
    while [ ! -s "$1" ] && [ $tries -lt 120 ]; do
        sleep 0.25
        tries=$((tries + 1))
    done
    [ -s "$1" ]
}

start_gadget() {
    local name=$1
    shift
    kvusb-gadget --expect-pattern --projector "report=$R/$name-report.txt,out=$R/$name-last.png" \
        "$@" > "$R/$name-gadget.out" 2> "$R/$name-gadget.err" &
    GADGET=$!
    wait_for_units || fail "$name: the kernel did not find the projector's two units"
}

stop_gadget() {
    kill -TERM $GADGET 2>/dev/null
    ends_within 30 $GADGET
    echo $? > "$R/$1-gadget.exit"
    wait_for_no_units
}

# Runs a command with a time limit; its standard output, error and exit code go to files.
run() {
    local name=$1
    shift
    timeout 120 "$@" > "$R/$name.out" 2> "$R/$name.err"
    echo $? > "$R/$name.exit"
}

# The udev rule, against the real device: the verdict of udevadm test on each unit's sg node.
test_udev_rule() {
    local kind unit sg
    for kind in optical:TR40W17B6-1 disk:TR40W17B6-2; do
        unit=$(unit_with_model "${kind#*:}")
        sg=$(ls "$unit/scsi_generic" 2>/dev/null)
        udevadm test "/sys/class/scsi_generic/$sg" > "$R/udev-${kind%%:*}.txt" 2>&1
    done
}

# Clients of a SCSI device that nobody here wrote, on both units: what a host's own utilities
# ask beyond what its storage stack does, and the volume checked as a file system.
drive_with_standard_tools() {
    local kind unit sg k disk
    for kind in optical:TR40W17B6-1 disk:TR40W17B6-2; do
        k=${kind%%:*}
        unit=$(unit_with_model "${kind#*:}")
        sg=/dev/$(ls "$unit/scsi_generic" 2>/dev/null)
        run "tools-$k-inq" sg_inq "$sg"
        run "tools-$k-vpd" sg_vpd -p sn "$sg"
        run "tools-$k-luns" sg_luns "$sg"
        run "tools-$k-turs" sg_turs "$sg"
        run "tools-$k-requests" sg_requests --desc "$sg"
        run "tools-$k-readcap" sg_readcap --16 "$sg"
        run "tools-$k-modes" sg_modes -a "$sg"
        run "tools-$k-prevent" sg_prevent --allow "$sg"
        run "tools-$k-senddiag" sg_senddiag -t "$sg"
        run "tools-$k-verify" sg_verify --lba=0 --count=2048 "$sg"
        run "tools-$k-rtpg" sg_rtpg "$sg"
    done
    sg=/dev/$(ls "$(unit_with_model TR40W17B6-2)/scsi_generic" 2>/dev/null)
    run tools-disk-write sg_raw -s 512 -i /dev/zero "$sg" 2a 00 00 00 00 00 00 00 01 00
    run tools-disk-read sg_read if="$sg" bs=512 count=2048
    disk=$(ls "$(unit_with_model TR40W17B6-2)/block" 2>/dev/null)
    run tools-disk-fsck fsck.fat -n "/dev/$disk"
}

# Drives one projector: the status replies, the projector's volume hidden, a picture, a stream.
drive_projector() {
    local name=$1 disk
    list_sysfs > "$R/$name-sysfs.txt"
    disk=$(ls "$(unit_with_model TR40W17B6-2)/block" 2>/dev/null)
    mkdir -p /mnt/projector
    mount -t vfat -o ro "/dev/$disk" /mnt/projector || fail "$name: the volume on /dev/$disk does not mount"
    run "$name-info" kvusbtool info
    grep -q /mnt/projector /proc/mounts && fail "$name: kvusbtool info left the volume mounted"
    run "$name-show" kvusbtool show /data/photo.png
    wait_for_picture "$R/$name-last.png" && cp "$R/$name-last.png" "$R/$name-show.png"
    run "$name-stream" kvusbtool stream --seconds 12 --settings "$R/$name-settings" -v
}

main() {
    start_machine || return

    echo "=== super speed: raw frames"
    insmod /lib/modules/dummy_hcd.ko is_super_speed=1
    start_gadget raw
    test_udev_rule
    drive_with_standard_tools
    drive_projector raw
    stop_gadget raw
    rmmod dummy_hcd

    echo "=== high speed: compressed frames"
    insmod /lib/modules/dummy_hcd.ko
    start_gadget compressed
    drive_projector compressed
    stop_gadget compressed

    echo "=== the cable pulled in the middle of a frame"
    start_gadget unplug --unplug-after-frames 20
    run unplug-stream kvusbtool stream --settings "$R/unplug-settings" -v
    ends_within 30 $GADGET
    echo $? > "$R/unplug-gadget.exit"
    wait_for_no_units

    echo "=== plugged in again"
    start_gadget replug
    run replug-info kvusbtool info
    stop_gadget replug
    rmmod dummy_hcd

    # The same streams into the virtual projector in process, on the same machine: what the
    # kernel's storage stack and the USB link cost beside them.
    for link in raw:3.0 compressed:2.0; do
        VORN_KVUSB_DEVICE="virtual:link=${link#*:},report=$R/inprocess-${link%%:*}-report.txt" \
            run "inprocess-${link%%:*}-stream" kvusbtool stream --seconds 12 \
            --settings "/tmp/inprocess-settings"
    done
}

run_guest main
