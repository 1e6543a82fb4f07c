#!/bin/sh
# Runs a command as root in a desktop's root, inside the mount and PID namespaces that
# unshare made for it. The cached root stays as it was built: /tmp, /run, /root and /dev/shm
# are fresh, the source tree and kvusb-mirror come in read-only at /mnt/source and
# /mnt/kvusb-mirror, the work folder at /mnt/work. Its own PIDs keep the program's
# one-instance check to this session, whatever else runs on the machine.
#
#   unshare --mount --pid --fork --kill-child sh enter_root.sh ROOT SOURCE MIRROR WORK COMMAND...
set -eu
root=$1 source=$2 mirror=$3 work=$4
shift 4
mount --make-rprivate /
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/dev/shm"
mount --rbind /sys "$root/sys"
for folder in tmp run root mnt; do mount -t tmpfs tmpfs "$root/$folder"; done
mkdir "$root/mnt/source" "$root/mnt/work"
touch "$root/mnt/kvusb-mirror"
mount --bind -o ro "$source" "$root/mnt/source"
mount --bind -o ro "$mirror" "$root/mnt/kvusb-mirror"
mount --bind "$work" "$root/mnt/work"
exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 "$@"
