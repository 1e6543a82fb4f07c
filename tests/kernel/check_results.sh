#!/bin/sh
# Judges what guest_init.sh left in the results folder. Prints every check that failed and the
# figures; exits 1 when any failed.
R=$1
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# expect_text FILE TEXT WHAT: FILE holds the line TEXT (as a fixed string).
expect_text() {
    grep -qF -- "$2" "$R/$1" 2>/dev/null || fail "$3 (no \"$2\" in $1)"
}

expect_exit() {
    [ "$(cat "$R/$1.exit" 2>/dev/null)" = "$2" ] || fail "$1 ended with $(cat "$R/$1.exit" 2>/dev/null), not $2"
}

if [ -s "$R/failures" ]; then
    while read -r line; do fail "guest: $line"; done < "$R/failures"
fi

# Each speed: the link and status replies, the picture, a stream, the gadget's own checks.
for run in raw:3.0:0x00000001:raw compressed:2.0:0x00000002:compressed; do
    name=${run%%:*}
    rest=${run#*:}
    usb=${rest%%:*}
    rest=${rest#*:}
    link=${rest%%:*}
    kind=${rest#*:}
    expect_exit "$name-info" 0
    printf 'Link speed: USB %s (%s)\nPower mode: Auto Power\nK7Q0 FW Version 1.2.3.260 A01\nMicrocontroller id: A01\n' \
        "$usb" "$link" > "$R/$name-info.expected"
    cmp -s "$R/$name-info.expected" "$R/$name-info.out" ||
        fail "$name: kvusbtool info printed '$(cat "$R/$name-info.out")'"
    expect_exit "$name-show" 0
    expect_text "$name-show.out" "shown as a $kind frame over USB $usb" "$name: kvusbtool show"
    if command -v compare >/dev/null; then
        differing=$(compare -metric AE "$(dirname "$0")/../data/photo.png" "$R/$name-show.png" null: 2>&1)
        [ "$differing" = 0 ] || fail "$name: the projector showed $differing pixels other than the picture's"
    fi
    expect_exit "$name-stream" 0
    expect_text "$name-stream.err" "kvusbtool stream: the time is up" "$name: the stream ran its time"
    expect_text "$name-stream.err" "vorn_kvusb end!" "$name: the stream shut down"
    expect_text "$name-settings" "DispMode=" "$name: the settings were written"
    expect_exit "$name-gadget" 0
    expect_text "$name-gadget.err" "link $link;" "$name: the gadget's link follows the bus"
    expect_text "$name-gadget.err" "0 of them unlike it; 0 protocol errors" "$name: every frame as sent"
    grep -qE "; [1-9][0-9]* of the pattern" "$R/$name-gadget.err" ||
        fail "$name: no pattern frame reached the gadget"
done

# The udev rule on the real device: both sg nodes for the user at the seat, the mirror started
# for the optical unit only.
# tags: the TAGS= line of udevadm test, in whatever order udev lists them.
tags() {
    sed -n 's/^TAGS=//p' "$R/$1"
}
for tag in uaccess systemd; do
    case "$(tags udev-optical.txt)" in *":$tag:"*) ;; *) fail "udev: the optical unit is not tagged $tag" ;; esac
done
case "$(tags udev-disk.txt)" in *":uaccess:"*) ;; *) fail "udev: the disk unit is not tagged uaccess" ;; esac
expect_text udev-optical.txt "SYSTEMD_USER_WANTS=kvusb-mirror.service" "udev: the mirror started"
grep -q SYSTEMD_USER_WANTS "$R/udev-disk.txt" && fail "udev: the disk unit starts the mirror"

# Standard SCSI tools (sg3-utils, dosfstools) on both units. Their exit codes: 0 done, 2 not
# ready (the optical unit holds no medium), 7 data protect, 9 invalid operation code.
for check in inq:0:0 vpd:0:0 luns:0:0 turs:2:0 requests:0:0 readcap:2:0 modes:0:0 prevent:0:0 \
    senddiag:0:0 verify:2:0 rtpg:9:9; do
    tool=${check%%:*}
    codes=${check#*:}
    expect_exit "tools-optical-$tool" "${codes%%:*}"
    expect_exit "tools-disk-$tool" "${codes#*:}"
done
for unit in optical disk; do
    expect_text "tools-$unit-inq.out" "Vendor identification: KVUSB" "sg_inq on the $unit unit"
    expect_text "tools-$unit-vpd.out" "Unit serial number: 7B6A17000001" "sg_vpd on the $unit unit"
    expect_text "tools-$unit-luns.out" "Lun list length = 16 which imples 2 lun entries" \
        "sg_luns on the $unit unit"
    expect_text "tools-$unit-requests.err" "Descriptor format" "sg_requests --desc on the $unit unit"
done
expect_text tools-disk-readcap.out "Number of logical blocks=2048" "sg_readcap on the disk unit"
expect_exit tools-disk-write 7
expect_exit tools-disk-read 0
expect_text tools-disk-read.err "2048+0 records in" "sg_read of the whole volume"
expect_exit tools-disk-fsck 0

# The cable pulled in the middle of a frame: the stream sees it and ends with its settings
# saved; the gadget left the bus with every frame before it whole.
expect_exit unplug-stream 0
expect_text unplug-stream.err "vorn_kvusb end!" "unplug: the stream shut down"
grep -qE "ERROR_DEVICE_NOT_CONNECTED|usb remove: " "$R/unplug-stream.err" ||
    fail "unplug: the stream saw neither the failed command nor the udev event"
expect_text unplug-settings "DispMode=" "unplug: the settings were written"
expect_text unplug-gadget.err "the projector vanished: leaving the bus" "unplug: the gadget left"
expect_text unplug-gadget.err "20 frames shown" "unplug: the frames before the unplug"
expect_exit unplug-gadget 0

# Plugged in again: a new run finds it.
expect_exit replug-info 0
expect_text replug-info.out "Link speed: USB 2.0" "replug: kvusbtool info"

echo "=== figures"
for name in raw compressed unplug; do
    sed -n 's/^kvusb-gadget: link/'"$name"': link/p' "$R/$name-gadget.err"
done
for name in inprocess-raw inprocess-compressed; do
    [ -f "$R/$name-report.txt" ] && echo "$name: $(grep '^projector 0' "$R/$name-report.txt")"
done
grep -h "block:" "$R/raw-sysfs.txt" "$R/compressed-sysfs.txt" 2>/dev/null
echo "=== standard and vendor commands the kernel sent (high speed)"
cat "$R/compressed-gadget.out" 2>/dev/null

if [ $failures -gt 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "every check passed"
