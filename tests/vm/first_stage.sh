#!/bin/sh
# First stage of the Debian guest (debian_guest.py): mounts the root file
# system on the virtio disk (or the kernel command line's quorin_root, a
# Pi's SD card) and hands over to its systemd. The files for /root (the
# package under test) are copied there at every boot.
/bin/busybox --install -s /bin
export PATH=/bin
fail() { echo "first stage: $*"; poweroff -f; }
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /lib/modules/load); do
    insmod "/lib/modules/$module" || fail "insmod $module"
done
disk=${quorin_root:-/dev/vda}
for _ in $(seq 200); do [ -b "$disk" ] && break; sleep 0.05; done
mkdir /newroot
mount -t ext4 "$disk" /newroot || fail "no root file system on $disk"
cp /root/* /newroot/root/ || fail "cannot copy the files for /root"
umount /proc /sys
mount --move /dev /newroot/dev
exec switch_root /newroot /lib/systemd/systemd
