#!/bin/bash
# kvusbtool show and info as a user runs them, unchanged, on a machine of their own whose
# projector is the virtual one at its sg nodes:
#   kvusbtool_below_test.sh KVUSBTOOL PRELOAD DATA_DIR WORK_DIR
# Exit code 77 (skipped) without root, mount namespaces or ImageMagick's compare.
set -u
tool=$(realpath "$1") preload=$(realpath "$2") data=$(realpath "$3") work=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
command -v compare >/dev/null || { echo "skipped: compare is not installed"; exit 77; }
unset VORN_KVUSB_DEVICE

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# machine [fake_machine options] -- COMMAND...: runs COMMAND there with the projector options
# in $projector; stdout to out.txt, stderr to err.txt, exit code in $status.
machine() {
    KVUSB_SG_PROJECTOR="$projector" bash "$here/fake_machine.sh" --preload "$preload" "$@" \
        > out.txt 2> err.txt
    status=$?
    [ "$status" -ne 77 ] || { cat err.txt; exit 77; }
}

expect() {  # exit code, exact standard error
    [ "$status" -eq "$1" ] && [ "$(cat err.txt)" = "$2" ] ||
        fail "exit code $status, stderr '$(cat err.txt)'; expected $1, '$2'"
}

# The picture reaches the projector whole over each link, whichever driver has the optical
# unit, and the projector's volume loses its mount point.
for case in "sr 2.0 compressed" "sd 3.0 raw" "sr 1.1 compressed"; do
    read -r driver link kind <<< "$case"
    rm -f shown.png report.txt
    projector="link=$link,out=$work/shown.png,report=$work/report.txt"
    machine --optical "$driver" -- bash -c \
        '"$0" show "$1" && grep -c "TARQ" /proc/self/mounts || true' \
        "$tool" "$data/photo.png"
    [ "$status" -eq 0 ] || fail "show over $driver, USB $link: exit code $status: $(cat err.txt)"
    [ "$(head -n 1 out.txt)" = "$data/photo.png (854 x 480) shown as a $kind frame over USB $link" ] ||
        fail "show over $driver, USB $link said: $(cat out.txt)"
    [ "$(tail -n 1 out.txt)" = 0 ] || fail "the projector's volume is still mounted"
    differing=$(compare -metric AE "$data/photo.png" shown.png null: 2>&1)
    [ "$differing" = 0 ] || fail "over $driver, USB $link: $differing pixels differ"
    grep -q "protocol_errors 0" report.txt || fail "protocol errors: $(cat report.txt)"
done

projector="link=3.0,power=1,mcu=A10,firmware=01.02.03.01.04"
machine -- "$tool" info
[ "$status" -eq 0 ] && [ "$(cat out.txt)" = "Link speed: USB 3.0 (0x00000001)
Power mode: ECO
K7Q0 FW Version 1.2.3.260 A10
Microcontroller id: A10" ] || fail "info: exit code $status, printed '$(cat out.txt)' $(cat err.txt)"

# Faults below the program: a status read failing with EIO, the projector vanishing at a
# slice, no projector, a projector without link.
projector="fail_reads=1:5@1"
machine -- "$tool" info
expect 1 "kvusbtool info: the projector did not answer the power mode request (GetDevPowerMode: scsi_cmd_read_driverless error!)"
# The kernel fails the slice in flight at the host adapter: for a single frame, an unplug
# reads as a failed transfer.
projector="vanish_at_slice=7"
machine -- "$tool" show "$data/photo.png"
expect 1 "kvusbtool show: the frame transfer failed (SCSI Error: 5)"
projector="projectors=0"
machine --projectors 0 -- "$tool" info
expect 1 "kvusbtool info: no projector found (no KVUSB TR40W17B6 units among the disk interfaces)"
projector="link=none"
machine -- "$tool" info
expect 1 "kvusbtool info: no projector with a working USB link found"
echo "passed"
