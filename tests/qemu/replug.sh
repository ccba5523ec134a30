# The VM whose drive goes away, sourced by run.sh: one CD drive on a
# throttled disc that the scenario has unplugged and plugged back through
# QEMU's monitor (tests/qemu/qmp.py carries out what the VM asks for), and
# the checks of what it printed.
REPLUG_SECONDS=900  # room for a copy that never finds its drive to give up (10 min)
REPLUG_BYTES_PER_SECOND=524288  # a 6 MB disc then takes about 12 s to read

# boot_replug_vm VMLINUX INITRD DISC LOG: the drive is "cd0" at SCSI id 0 on
# the block node "disc", which outlives the device so it can be plugged again.
# A second drive of the same model at SCSI id 1 holds another disc of the
# same size and label ($work/other.iso) and stays attached throughout.
boot_replug_vm() {
    local vmlinux=$1 initrd=$2 disc=$3 log=$4 qmp=$work/qmp.sock qemu watcher
    rm -f "$qmp"
    timeout "$REPLUG_SECONDS" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -no-reboot \
        -display none -monitor none -serial stdio -qmp "unix:$qmp,server=on,wait=off" \
        -kernel "$vmlinux" -initrd "$initrd" -append "console=ttyS0 panic=-1 quiet loglevel=3 no_timer_check" \
        -device virtio-scsi-pci,id=scsi0 \
        -object "throttle-group,id=slow,x-bps-read=$REPLUG_BYTES_PER_SECOND" \
        -blockdev "driver=file,node-name=discfile,filename=$disc,read-only=on" \
        -blockdev driver=throttle,node-name=disc,throttle-group=slow,file=discfile,read-only=on \
        -device "scsi-cd,bus=scsi0.0,id=cd0,drive=disc,scsi-id=0,lun=0,vendor=$VENDOR,product=$PRODUCT" \
        -blockdev "driver=file,node-name=other,filename=$work/other.iso,read-only=on" \
        -device "scsi-cd,bus=scsi0.0,id=cd9,drive=other,scsi-id=1,lun=0,vendor=$VENDOR,product=$PRODUCT" \
        </dev/null >"$log" 2>&1 &
    qemu=$!
    python3 "$here/qmp.py" "$qmp" "$log" "$qemu" >"$work/qmp.log" 2>&1 &
    watcher=$!
    watch_boot "$qemu" "$log"
    wait "$qemu"
    wait "$watcher"
}

boot_replug() {
    local start
    make_initramfs "$release" "$gleanor" "$work/disc.iso" "$work/scenario.conf" "$work/replug.cpio" \
        "$here/scenario-replug.sh" "$VM_MODULES" || skip "cannot build the initramfs from the $release modules"
    make_disc "$work/other.iso" "$SECTORS" "$LABEL"  # same label, other content
    echo "booting the replug VM (kernel $release, TCG)"
    start=$(date +%s)
    boot_retrying replug "$work/replug.log" \
        boot_replug_vm "$vmlinux" "$work/replug.cpio" "$work/disc.iso" "$work/replug.log"
    echo "the replug VM ran $(($(date +%s) - start)) s; console in $work/replug.log, monitor in $work/qmp.log"
    tr -d '\r' <"$work/replug.log" >"$work/replug.txt"
}

# The copy ended, and never took the drive at ADDRESS.
not_taken_while_copying() { [ -n "$(status_of replug)" ] && ! has_line replug "^Drive found again: \\[$1\\]"; }
within() { [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }

run_replug_checks() {
    console=$1
    local name="$VENDOR$(printf '%*s' $((8 - ${#VENDOR})) '')$PRODUCT" elapsed
    check "replug VM: ran to its end" grep -q '^@@FINISHED' "$console"
    check "replug VM: the drive was unplugged and plugged back through the monitor" \
        bash -c "grep -q 'device_del.*-> {\"return\": {}}' '$work/qmp.log' && grep -q 'device_add.*-> {\"return\": {}}' '$work/qmp.log'"
    check "replug: the copy met the drive gone (failed reads)" has_line replug '^Loop [0-9]+ Read [0-9]+ Errors [1-9]'
    check "replug: the drive was found again at its new address" has_line replug "^Drive found again: \\[0:4:0\\] $name"
    check "replug: the other drive of the same model, another disc of the same size, was never taken" \
        not_taken_while_copying 0:1:0
    check "replug: the other drive stayed attached" status_is replug-other 0
    check "replug: the copy went on to the end, outcome 0 (Ok)" status_is replug 0
    check "replug: every sector of the image equals the disc" status_is replug-compare 0
    elapsed=$(sed -n 's/^@@ELAPSED \([0-9]*\)$/\1/p' "$console" | tail -n 1)
    echo "       gone: gave up ${elapsed:-?} s after the drive was unplugged"
    check "gone: the drive that never came back ends in Give Up (outcome 7)" status_is gone 7
    check "gone: \"Drive did not come back\" logged before the end" has_line gone "^Drive did not come back: \\[0:4:0\\] $name"
    check "gone: the give-up came on schedule, a minute after the last good read (55..120 s)" \
        within "${elapsed:-0}" 55 120
}
