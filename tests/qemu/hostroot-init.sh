#!/bin/busybox sh
# /init of a VM on the host's files: loads the SCSI, 9p and overlay modules,
# puts the host's root file system (read-only over 9p) under a memory
# overlay, mounts the writable shared folders where given, and runs the
# guest script there, where wine and the build are the host's.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

while read -r module args; do
    # shellcheck disable=SC2086  # the module's parameters are separate words
    insmod "/lib/modules/$module.ko" $args || echo "@@MODULE-FAILED $module"
done < /lib/modules/order

R=/newroot
mkdir -p /lower /rw $R
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /lower || echo "@@MOUNT-FAILED 9p"
mount -t tmpfs -o mode=755,size=70% tmp /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work $R || echo "@@MOUNT-FAILED overlay"
mount -t proc proc $R/proc
mount -t sysfs sys $R/sys
mount -t devtmpfs dev $R/dev
mkdir -p $R/dev/pts $R/dev/shm
mount -t devpts devpts $R/dev/pts
# What udev would link: bash's process substitution opens /dev/fd/N.
ln -sf /proc/self/fd $R/dev/fd
ln -sf /proc/self/fd/0 $R/dev/stdin
ln -sf /proc/self/fd/1 $R/dev/stdout
ln -sf /proc/self/fd/2 $R/dev/stderr
mount -t tmpfs shm $R/dev/shm
# /tmp stays the overlay's: a checkout that lies below the host's /tmp must stay visible.
. /guest.conf
n=0
for dir in $OUT; do
    mkdir -p "$R$dir"
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 "out$n" "$R$dir" || echo "@@MOUNT-FAILED out$n"
    n=$((n + 1))
done

echo "@@BOOTED"
# shellcheck disable=SC2086  # the variables and arguments are separate words
chroot $R /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root $GUEST_ENV /bin/bash "$GUEST" $GUEST_ARGS </dev/null
echo "@@FINISHED"
poweroff -f
echo o > /proc/sysrq-trigger
