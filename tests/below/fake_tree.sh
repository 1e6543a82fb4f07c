#!/bin/bash
# A machine's sysfs and /dev as the kernel and udev lay them out for a SATA disk and N of the
# projectors, each a USB mass-storage device with two units:
#   fake_tree.sh ROOT [--optical sr|sd] [--projectors N] [--speed MBPS]
# makes ROOT/sys and ROOT/dev. The optical unit (LUN 0) reports type 5 and is bound to sr, or
# type 7 and is bound to sd (an empty removable disk); the disk unit (LUN 1) is a removable,
# read-only sd disk of 2048 sectors whose volume is labelled "TARQ K7Q0". As the kernel probes
# them, the disk unit takes the lower sd name, so block names say nothing of which unit is
# which. The sg nodes are empty files, for the virtual projector to play.
# Prints the nodes in the order of the projector's interface list (the system's disk, then
# each projector's disk unit and optical unit), ':'-separated, as KVUSB_SG_NODES takes them.
set -eu
root=$1
shift
optical=sr projectors=1 speed=480 sd_count=1
while [ $# -gt 0 ]; do
    case "$1" in
    --optical) optical=$2 ;;
    --projectors) projectors=$2 ;;
    --speed) speed=$2 ;;
    *) echo "fake_tree.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
sys="$root/sys" dev="$root/dev"
mkdir -p "$sys" "$dev/disk/by-label"

# directory_of PATH: makes the directory PATH is in.
directory_of() { [ -d "${1%/*}" ] || mkdir -p "${1%/*}"; }
# put FILE TEXT: an attribute, as sysfs shows it (one value, one line break).
put() { directory_of "$1"; printf '%s\n' "$2" > "$1"; }
# link LINK TARGET: a relative link inside the tree, as sysfs makes them (worked out here
# rather than by ln -r, which costs a process a link).
link() {
    local from=${1%/*}/ to=$2 up=""
    while [ "${to#"$from"}" = "$to" ]; do
        from=${from%/*/}/
        up="../$up"
    done
    directory_of "$1"
    ln -s "$up${to#"$from"}" "$1"
}

sg_count=0
letters=abcdefghijklmnopqrstuvwxyz

# unit DIR HCTL TYPE DRIVER VENDOR MODEL REV BLOCK SIZE RO: one SCSI device with its block
# device (removable on the USB units only) and sg node; sets $unit_node.
unit() {
    local dir=$1 hctl=$2 type=$3 driver=$4 vendor=$5 block=$8 size=$9 ro=${10} removable=1
    local major minor before modalias
    printf -v modalias 'scsi:t-0x%02x' "$type"
    put "$dir/type" "$type"
    # Inquiry strings are blank-padded to their field widths: vendor 8, model 16, revision 4.
    printf '%-8s\n' "$5" > "$dir/vendor"
    printf '%-16s\n' "$6" > "$dir/model"
    printf '%-4s\n' "$7" > "$dir/rev"
    put "$dir/scsi_level" 7
    put "$dir/state" running
    put "$dir/queue_depth" 1
    put "$dir/timeout" 30
    put "$dir/modalias" "$modalias"
    printf 'DEVTYPE=scsi_device\nDRIVER=%s\nMODALIAS=%s\n' "$driver" "$modalias" > "$dir/uevent"
    mkdir -p "$sys/bus/scsi/drivers/$driver" "$dir/scsi_device/$hctl" "$dir/bsg/$hctl"
    link "$dir/driver" "$sys/bus/scsi/drivers/$driver"
    link "$sys/bus/scsi/drivers/$driver/$hctl" "$dir"
    link "$dir/subsystem" "$sys/bus/scsi"
    link "$sys/bus/scsi/devices/$hctl" "$dir"
    link "$sys/class/scsi_device/$hctl" "$dir/scsi_device/$hctl"

    unit_node="sg$sg_count"
    put "$dir/scsi_generic/$unit_node/dev" "21:$sg_count"
    printf 'MAJOR=21\nMINOR=%s\nDEVNAME=%s\n' "$sg_count" "$unit_node" \
        > "$dir/scsi_generic/$unit_node/uevent"
    link "$dir/scsi_generic/$unit_node/device" "$dir"
    link "$sys/class/scsi_generic/$unit_node" "$dir/scsi_generic/$unit_node"
    link "$sys/dev/char/21:$sg_count" "$dir/scsi_generic/$unit_node"
    : > "$dev/$unit_node"
    chmod 0660 "$dev/$unit_node"
    sg_count=$((sg_count + 1))

    case "$block" in
    sr*) major=11 minor=${block#sr} ;;
    *) before=${letters%%"${block#sd}"*} major=8 minor=$((${#before} * 16)) ;;
    esac
    [ "$vendor" != ATA ] || removable=0
    put "$dir/block/$block/dev" "$major:$minor"
    put "$dir/block/$block/removable" "$removable"
    put "$dir/block/$block/ro" "$ro"
    put "$dir/block/$block/size" "$size"
    printf 'MAJOR=%s\nMINOR=%s\nDEVNAME=%s\nDEVTYPE=disk\n' "$major" "$minor" "$block" \
        > "$dir/block/$block/uevent"
    link "$dir/block/$block/device" "$dir"
    link "$sys/block/$block" "$dir/block/$block"
    link "$sys/class/block/$block" "$dir/block/$block"
    link "$sys/dev/block/$major:$minor" "$dir/block/$block"
    : > "$dev/$block"
}

# The system's SATA disk with two partitions.
ata="$sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0"
mkdir -p "$ata"
link "$sys/bus/scsi/devices/host0" "${ata%/*}"
link "$sys/bus/scsi/devices/target0:0:0" "$ata"
unit "$ata/0:0:0:0" 0:0:0:0 0 sd ATA "Kestrel SSD 512" 1B6Q sda 1000215216 0
system_node=$unit_node
for part in 1 2; do
    put "$sys/block/sda/sda$part/partition" "$part"
    put "$sys/block/sda/sda$part/dev" "8:$part"
    : > "$dev/sda$part"
done

# The projectors, one USB port and SCSI host each.
projector_nodes=()
for ((p = 0; p < projectors; p++)); do
    host=$((6 + p)) port="2-$((1 + p))"
    usb="$sys/devices/pci0000:00/0000:00:14.0/usb2/$port"
    serial=$(printf '7B6A17%06d' $((1 + p)))
    put "$usb/idVendor" 4b56
    put "$usb/idProduct" 0a17
    put "$usb/bcdDevice" 0100
    put "$usb/bDeviceClass" 00
    put "$usb/bNumConfigurations" 1
    put "$usb/bMaxPower" 96mA
    put "$usb/version" " 3.20"
    put "$usb/serial" "$serial"
    put "$usb/manufacturer" KVUSB
    put "$usb/product" "TR40W17B6 pico projector"
    put "$usb/speed" "$speed"
    put "$usb/busnum" 2
    put "$usb/devnum" $((2 + p))
    put "$usb/$port:1.0/bInterfaceClass" 08
    put "$usb/$port:1.0/bInterfaceSubClass" 06
    put "$usb/$port:1.0/bInterfaceProtocol" 50
    mkdir -p "$sys/bus/usb/drivers/usb-storage"
    link "$usb/$port:1.0/driver" "$sys/bus/usb/drivers/usb-storage"
    target="$usb/$port:1.0/host$host/target$host:0:0"
    put "$usb/$port:1.0/host$host/scsi_host/host$host/proc_name" usb-storage
    link "$sys/class/scsi_host/host$host" "$usb/$port:1.0/host$host/scsi_host/host$host"
    link "$sys/bus/scsi/devices/host$host" "$usb/$port:1.0/host$host"
    link "$sys/bus/scsi/devices/target$host:0:0" "$target"
    disk_block=sd${letters:sd_count:1}
    if [ "$optical" = sr ]; then
        optical_block="sr$p"
        unit "$target/$host:0:0:0" "$host:0:0:0" 5 sr KVUSB TR40W17B6-1 1.00 "$optical_block" 0 0
        sd_count=$((sd_count + 1))
    else
        optical_block=sd${letters:sd_count+1:1}
        unit "$target/$host:0:0:0" "$host:0:0:0" 7 sd KVUSB TR40W17B6-1 1.00 "$optical_block" 0 0
        sd_count=$((sd_count + 2))
    fi
    optical_node=$unit_node
    unit "$target/$host:0:0:1" "$host:0:0:1" 0 sd KVUSB TR40W17B6-2 1.00 "$disk_block" 2048 1
    projector_nodes+=("/dev/$unit_node" "/dev/$optical_node")
    mkdir -p "$dev/disk/by-id"
    ln -s "../../$optical_block" "$dev/disk/by-id/usb-KVUSB_TR40W17B6-1_$serial-0:0"
    ln -s "../../$disk_block" "$dev/disk/by-id/usb-KVUSB_TR40W17B6-2_$serial-0:1"
    # udev names one volume per label.
    [ -e "$dev/disk/by-label/TARQ\\x20K7Q0" ] ||
        ln -s "../../$disk_block" "$dev/disk/by-label/TARQ\\x20K7Q0"
done

nodes="/dev/$system_node"
for node in "${projector_nodes[@]}"; do nodes="$nodes:$node"; done
echo "$nodes"
