#!/bin/bash
# Runs a command on a machine of its own making: in a private mount namespace whose /sys and
# /dev show a SATA disk and the projectors (fake_tree.sh), the projector's volume mounted, and
# the virtual projector playing the sg nodes through the preloaded library.
#   fake_machine.sh [--preload LIB] [--optical sr|sd] [--projectors N] [--speed MBPS] \
#       -- COMMAND [ARGS...]
# The command runs in place of this script (same process), with KVUSB_SG_NODES set, and
# KVUSB_VOLUME naming where the projector's volume is mounted. KVUSB_SG_PROJECTOR and
# KVUSB_SG_CALLER pass through. Needs root and mount namespaces; exits 77 (skipped) without.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${KVUSB_FAKE_MACHINE:-}" ]; then
    if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
        echo "skipped: a machine of its own needs root and mount namespaces" >&2
        exit 77
    fi
    KVUSB_FAKE_MACHINE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
unset KVUSB_FAKE_MACHINE

preload="" tree_options=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case "$1" in
    --preload) preload=$(realpath "$2") ;;
    --optical | --projectors | --speed) tree_options+=("$1" "$2") ;;
    *) echo "fake_machine.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ "${1:-}" = -- ] && shift

# Everything made here lives on a tmpfs of this namespace and goes with it.
scratch=/mnt
mount -t tmpfs -o mode=755 kvusb-machine "$scratch"
mkdir "$scratch/real-sys" "$scratch/real-dev"
mount --rbind /sys "$scratch/real-sys"
mount --rbind /dev "$scratch/real-dev"
nodes=$(bash "$here/fake_tree.sh" "$scratch/machine" "${tree_options[@]}")

# bring_back REAL FAKE SKIP...: the real entries of a directory beside the fake ones, as links
# (made by one ln), so that the rest of the system (CPUs, ttys, /dev/null, shared memory) is
# still there.
bring_back() {
    local real=$1 fake=$2 entry name entries=()
    shift 2
    for entry in "$real"/*; do
        name=${entry##*/}
        case " $* " in *" $name "*) continue ;; esac
        [ -e "$fake/$name" ] || [ -L "$fake/$name" ] || entries+=("$entry")
    done
    mkdir -p "$fake"
    [ ${#entries[@]} -eq 0 ] || ln -s "${entries[@]}" "$fake/"
}
fake="$scratch/machine/sys"
bring_back "$scratch/real-sys" "$fake" bus block class devices dev
bring_back "$scratch/real-sys/devices" "$fake/devices" pci0000:00
bring_back "$scratch/real-sys/class" "$fake/class" block bsg scsi_device scsi_disk \
    scsi_generic scsi_host
bring_back "$scratch/real-sys/bus" "$fake/bus" scsi usb
bring_back "$scratch/real-dev" "$scratch/machine/dev" disk
mount --rbind "$fake" /sys
mount --rbind "$scratch/machine/dev" /dev

# The projector's volume, mounted as a desktop mounts it; the source is the disk unit.
volume_device=$(readlink -f /dev/disk/by-label/TARQ\\x20K7Q0)
mount -t tmpfs -o mode=755 kvusb-media /media
export KVUSB_VOLUME="/media/kvusb/TARQ K7Q0"
mkdir -p "$KVUSB_VOLUME"
mount -t tmpfs -o size=64k "$volume_device" "$KVUSB_VOLUME"

export KVUSB_SG_NODES="$nodes"
if [ -n "$preload" ]; then
    export LD_PRELOAD="$preload${LD_PRELOAD:+:$LD_PRELOAD}"
    # A sanitized program finds its runtime after the library; the library only adds ioctl.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
fi
exec "$@"
