#!/usr/bin/env bash
# gleanor against a real SCSI implementation: boots a small Linux VM under
# QEMU whose virtio SCSI adapter carries emulated CD drives (one of them with
# injected read errors), runs the program's commands inside and judges what
# the VM prints on its serial console.
#
#   tests/qemu/run.sh BUILD_DIR
#
# Exit 0 when every check passed, 77 when QEMU or the kernel cannot be had
# (with the reason), 1 otherwise. The last line is "qemu: N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
mkdir -p "$1"
build=$(cd "$1" && pwd)
work=$build/qemu-run
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=tests/qemu/vm.sh
. "$here/vm.sh"

# The disc and its faults. Keep the faults away from the first and last
# hundred sectors, which the guest kernel may read when the drive appears.
SECTORS=3000
LABEL=QEMUDISC
VENDOR=GLNTEST
PRODUCT="RESCUE DRIVE"
BAD="1000 1001 1002 1003 2000 2001 2002"
FLAKY="700:3 1500:2 2500:1"
LOOPS1=2
LOOPS2=4
VM_SECONDS=240

ensure_packages
release=$(kernel_release)
mkdir -p "$build/kernel"
vmlinux=$build/kernel/vmlinux-$release
extract_vmlinux "/boot/vmlinuz-$release" "$vmlinux" || skip "cannot decompress /boot/vmlinuz-$release"

echo "building a static gleanor in $build/static"
if ! { cmake -S "$root" -B "$build/static" -DCMAKE_BUILD_TYPE=Release -DGLEANOR_STATIC=ON -DGLEANOR_TESTS=OFF &&
       cmake --build "$build/static" --target gleanor -j"$(nproc)"; } >"$work/build.log" 2>&1; then
    grep -E 'error|Error' "$work/build.log" | head -n 20
    echo "the static build of gleanor failed"
    echo "qemu: 0 passed, 1 failed"
    exit 1
fi
gleanor=$(find "$build/static" -name gleanor -type f -perm -u+x | head -n 1)

make_disc "$work/disc.iso" "$SECTORS" "$LABEL"
make_rules "$work/rules.conf"
{
    echo "COPY_DRIVE=2"
    echo "LOOPS1=$LOOPS1"
    echo "LOOPS2=$LOOPS2"
    echo "PROBE=\"16 699 700 701 1500 2500 2999\""
    echo "SECTORS=$SECTORS"
    echo "VENDOR=$VENDOR"
    echo "PRODUCT=\"$PRODUCT\""
} >"$work/scenario.conf"
# shellcheck source=tests/qemu/checks.sh
. "$here/checks.sh"
# shellcheck source=tests/qemu/replug.sh
. "$here/replug.sh"

# boot NAME SCENARIO MODULES: one VM run, its console in $work/NAME.txt.
boot() {
    local name=$1 scenario=$2 modules=$3 start
    make_initramfs "$release" "$gleanor" "$work/disc.iso" "$work/scenario.conf" "$work/$name.cpio" \
        "$scenario" "$modules" || skip "cannot build the initramfs from the $release modules"
    echo "booting the $name VM (kernel $release, TCG)"
    start=$(date +%s)
    boot_retrying "$name" "$work/$name.log" \
        boot_vm "$vmlinux" "$work/$name.cpio" "$work/disc.iso" "$work/rules.conf" "$work/$name.log"
    echo "the $name VM ran $(($(date +%s) - start)) s; console in $work/$name.log"
    tr -d '\r' <"$work/$name.log" >"$work/$name.txt"
}

# judge CHECKS CONSOLE [LOG...]: runs a VM's checks on its console; where one
# failed, the last lines of the console and the logs are shown with them.
judge() {
    local checks=$1 before=$failed f
    shift
    "$checks" "$1"
    [ "$failed" -eq "$before" ] && return 0
    for f in "$@"; do
        echo "the last lines of $f:"
        tail -n 15 "$f" | sed 's/^/  | /'
    done
}

# GLEANOR_QEMU_VMS picks some of the VMs (when working on one of them).
vms=" ${GLEANOR_QEMU_VMS:-main sr-only replug} "
# Everything through the sg nodes.
if [[ $vms == *" main "* ]]; then
    boot main "$here/scenario.sh" "$VM_MODULES"
    judge run_checks "$work/main.txt"
fi
# Without the sg module: the CD block nodes, found through sysfs.
if [[ $vms == *" sr-only "* ]]; then
    boot sr-only "$here/scenario-sr.sh" "${VM_MODULES% sg}"
    judge run_sr_checks "$work/sr-only.txt"
fi
# The drive unplugged mid-copy and plugged back; then unplugged for good.
if [[ $vms == *" replug "* ]]; then
    boot_replug
    judge run_replug_checks "$work/replug.txt" "$work/qmp.log"
fi
echo "qemu: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
