# The commands run inside the test VM whose one CD drive is pulled out in the
# middle of a copy, as a USB drive is: the host unplugs it (QMP device_del)
# when this script prints "@@QMP ...", and plugs it back at another SCSI id
# with the same disc. Reads are throttled on the host, so a copy takes long
# enough to be interrupted. /scenario.conf sets SECTORS.
. /scenario.conf
. /steps.sh

qmp() { echo "@@QMP $1"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
reading() { [ "$(size_of "$1")" -gt 1048576 ]; }
present() { [ -e "/sys/bus/scsi/devices/$1" ]; }
absent() { ! present "$1"; }
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
    n=$1
    shift
    while ! "$@"; do
        n=$((n - 1))
        [ "$n" -le 0 ] && echo "@@NOTE timed out waiting for: $*" && return 1
        sleep 1
    done
}

mkdir -p /out1 /out2
step replug-before $G drives

# Unplugged once it has read a megabyte, plugged back at SCSI id 4 ten seconds
# later. The drive is looked for after a minute of silence, well inside the
# give-up time; a copy that never finds it still ends inside the VM's time.
echo "@@BEGIN replug"
$G copy --drive 0 --dest /out1 --image rescue.iso --yes --give-up 10m --log-level 1 </dev/null >/tmp/replug.log 2>&1 &
pid=$!
wait_for 120 reading /out1/rescue.iso
qmp '{"execute":"device_del","arguments":{"id":"cd0"}}'
wait_for 60 absent 0:0:0:0
sleep 10
# QEMU may still hold the disc for the device just deleted: asked again.
for _ in 1 2 3; do
    qmp '{"execute":"device_add","arguments":{"driver":"scsi-cd","id":"cd1","bus":"scsi0.0","drive":"disc","scsi-id":4,"lun":0,"vendor":"'"$VENDOR"'","product":"'"$PRODUCT"'"}}'
    wait_for 20 present 0:0:4:0 && break
done
# A copy still running long after its give-up time hangs: it is stopped, so
# that what it said so far is shown.
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for 660 ended || kill "$pid"
wait "$pid"
status=$?
cat /tmp/replug.log
echo "@@END replug $status"
# The copy covers the reported last block address's count of sectors.
step replug-compare cmp -n $(((SECTORS - 1) * 2048)) /disc.iso /out1/rescue.iso
step replug-other present 0:0:1:0

# Unplugged for good: the copy gives up a minute after its last good read.
# The source is now the second drive in address order, after the other one.
echo "@@BEGIN gone"
$G copy --drive 1 --dest /out2 --image rescue.iso --yes --give-up 1m --log-level 1 </dev/null >/tmp/gone.log 2>&1 &
pid=$!
wait_for 120 reading /out2/rescue.iso
qmp '{"execute":"device_del","arguments":{"id":"cd1"}}'
start=$(date +%s)
wait "$pid"
status=$?
cat /tmp/gone.log
echo "@@ELAPSED $(($(date +%s) - start))"
echo "@@END gone $status"
