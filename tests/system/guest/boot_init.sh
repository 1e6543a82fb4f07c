#!/bin/sh
# The first process of the system test's machine, in a small initramfs: loads the modules that
# reach the root image and mounts it, lays the test's files over it (the image itself is a
# throwaway copy), and hands over to systemd.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /boot-modules); do
    insmod "$module" 2>/dev/null
done
mkdir -p /root
if ! mount -t ext4 /dev/vda /root; then
    echo "the root image on /dev/vda does not mount"
    poweroff -f
fi
cp -a /overlay/. /root/
umount /proc /sys
mount --move /dev /root/dev
exec switch_root /root /sbin/init
