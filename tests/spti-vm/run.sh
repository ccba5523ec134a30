#!/usr/bin/env bash
# The Windows program's drive layer and engine on the pass-through
# WNASPI32.DLL, against a real SCSI transport: a small Linux VM under QEMU
# with an emulated SCSI CD drive (read errors injected by blkdebug) runs wine,
# whose SCSI pass-through becomes SG_IO on the VM's /dev/sr0. The VM sees the
# host's files read-only over 9p, so wine and the Windows build are the host's.
#
#   tests/spti-vm/run.sh WIN_BUILD_DIR
#
# Exit 0 when every check passed, 77 when QEMU, the kernel or wine cannot be
# had (with the reason), 1 otherwise. The last line is "spti-vm: N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 WIN_BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
work=$build/spti-vm
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=tests/qemu/vm.sh
. "$root/tests/qemu/vm.sh"
# shellcheck source=tests/qemu/hostroot.sh
. "$root/tests/qemu/hostroot.sh"

skip() {
    echo "skipped: $*"
    echo "spti-vm: 0 passed, 0 failed"
    exit 77
}

# Away from the first and last hundred sectors, which the guest kernel may read.
SECTORS=1500
LABEL=SPTIDISC
VENDOR=GLNSPTI
PRODUCT="PASSTHRU DRIVE"
BAD="600 601 602 603 1100"
FLAKY="900:1"
VM_SECONDS=900

ensure_packages
command -v wine >/dev/null && [ -e /usr/lib/wine/wine ] || skip "wine (wine32:i386) is not installed"
for f in spti/WNASPI32.DLL spti/spti_check.exe tests/test_spti.exe; do
    [ -f "$build/$f" ] || { echo "missing $build/$f"; echo "spti-vm: 0 passed, 1 failed"; exit 1; }
done
release=$(kernel_release)
mkdir -p "$build/kernel"
vmlinux=$build/kernel/vmlinux-$release
extract_vmlinux "/boot/vmlinuz-$release" "$vmlinux" || skip "cannot decompress /boot/vmlinuz-$release"

make_disc "$work/disc.iso" "$SECTORS" "$LABEL"
make_rules "$work/rules.conf"

# The run's base wine prefix, shared writable: made here when no wine part
# made it before (tests/wine/prefix.sh).
# shellcheck source=tests/wine/prefix.sh
. "$root/tests/wine/prefix.sh"
mkdir -p "$WINE_BASE"
HOSTROOT_OUT=$WINE_BASE
HOSTROOT_ENV="GLEANOR_WINE_BASE=$WINE_BASE"
hostroot_initrd "$release" "$here/guest.sh" "$build $work/disc.iso $BAD" ||
    skip "cannot build the initramfs from the $release modules"

boot() {
    hostroot_boot "$vmlinux" "$VM_SECONDS" 2048 -device virtio-scsi-pci,id=scsi0 \
        -drive "if=none,id=cd0,media=cdrom,readonly=on,format=raw,file.driver=blkdebug,file.config=$work/rules.conf,file.image.driver=file,file.image.filename=$work/disc.iso" \
        -device "scsi-cd,bus=scsi0.0,drive=cd0,scsi-id=0,lun=0,vendor=$VENDOR,product=$PRODUCT"
}

echo "booting the VM (kernel $release, TCG); wine gets its prefix there first"
start=$(date +%s)
boot
if ! grep -q '@@BOOTED' "$work/console.log"; then
    echo "the VM did not reach /init; booting again"
    boot
fi
echo "the VM ran $(($(date +%s) - start)) s; console in $work/console.log"
tr -d '\r' <"$work/console.log" >"$work/console.txt"
grep -E '^@@' "$work/console.txt"
grep -q '@@BOOTED' "$work/console.txt" || skip "the VM did not boot"
grep -q '@@prefix-end' "$work/console.txt" || skip "wine did not start in the VM"

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then
        passed=$((passed + 1))
        echo "PASS $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
    fi
}
out=$work/console.txt
has() { grep -qE "$1" "$out"; }

check "the unit tests of the pass-through manager pass under wine" has '^@@unit-end rc=0 '
grep -E '^unit\| ' "$out" | tail -n 3
check "the drive list shows the drive's INQUIRY name" has "^check\| drive: $VENDOR +$PRODUCT"
check "the program found exactly one drive" has '^check\| drives: 1$'
check "the copy read through the drive: reads logged, the bad sectors failed" has '^check\| log: .*RdErr'
check "every sector marked read equals the disc, the bad ones stay missing" has '^check\| RESULT ok '
check "the check program ended well" has '^@@check-end rc=0 '
grep -E '^check\| (drive|drives|outcome|RESULT|wrong|box)' "$out"
echo "spti-vm: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
