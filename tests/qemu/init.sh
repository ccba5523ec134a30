#!/bin/busybox sh
# /init of the test VM: mounts the kernel file systems, loads the SCSI and
# virtio modules in order, runs the scenario and powers off. Everything of
# interest goes to the serial console, between @@ markers.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp

while read -r module args; do
    # shellcheck disable=SC2086  # the module's parameters are separate words
    insmod "/lib/modules/$module.ko" $args || echo "@@MODULE-FAILED $module"
done < /lib/modules/order

echo "@@BOOTED"
sh /scenario.sh
echo "@@FINISHED"
sync
poweroff -f
echo o > /proc/sysrq-trigger
