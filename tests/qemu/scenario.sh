# The commands run inside the test VM (busybox sh); the host judges what
# each step prints.
# /scenario.conf sets COPY_DRIVE, LOOPS1, LOOPS2 and PROBE (sectors
# whose checksums are printed).
. /scenario.conf
. /steps.sh

# A copy stopped with SIGINT (the Pause button) once its log shows pass $2.
interrupted_copy() {
    name=$1
    loops=$2
    log=/tmp/$name.log
    echo "@@BEGIN $name"
    $G copy --drive "$COPY_DRIVE" --dest /out --image rescue.iso --yes --strategy careful --log-level "$3" </dev/null >"$log" 2>&1 &
    pid=$!
    waited=0
    while kill -0 "$pid" 2>/dev/null && ! grep -q "^Loop $loops " "$log"; do
        sleep 1
        waited=$((waited + 1))
        [ "$waited" -ge 120 ] && echo "@@NOTE $name: pass $loops not reached in 120 s" && break
    done
    kill -INT "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    cat "$log"
    echo "@@END $name $status"
}

# The SCSI view of the kernel, for the record.
step sysfs sh -c 'for d in /sys/bus/scsi/devices/*:*; do echo "${d##*/} $(cat $d/type) $(cat $d/vendor) $(cat $d/model)"; done; ls /dev/sg* /dev/sr*'

step drives $G drives
step estimate $G estimate --drive 0 --log-level 4

mkdir -p /out
interrupted_copy copy1 "$LOOPS1" 4
interrupted_copy copy2 "$LOOPS2" 3

# What the two runs left: the flag bitmap, the image's length, the sectors
# whose content differs from the disc, and checksums of chosen sectors.
step flags od -An -v -tx1 /out/rescue.flg
step imagesize wc -c /out/rescue.iso
step differing sh -c 'cmp -l /disc.iso /out/rescue.iso | awk "{ print int((\$1 - 1) / 2048) }" | uniq'
probes() {
    for s in $PROBE; do
        echo "$s $(dd if=/out/rescue.iso bs=2048 skip="$s" count=1 2>/dev/null | md5sum)"
    done
}
step probes probes

step eject $G eject --drive 0
step drives-open $G drives --log-level 4
step load $G load --drive 0
step drives-closed $G drives
