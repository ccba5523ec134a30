#!/usr/bin/env bash
# A wine stage of the test command on a machine whose kernel runs no 32-bit
# programs: a small Linux VM under QEMU (TCG) that sees the host's files runs
# the stage there, where the Debian kernel does run them. The stage's output
# and whatever it leaves in KEEP_DIR are kept in OUT_DIR.
#
#   tests/wine-vm/run.sh OUT_DIR STAGE [KEEP_DIR [STAGE_ARG...]]
#
# Exits with the stage's own code; 77 (with the reason) when QEMU, the kernel
# or wine cannot be had, or the VM did not get as far as the stage.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 OUT_DIR STAGE [KEEP_DIR [STAGE_ARG...]]" >&2; exit 2; }
mkdir -p "$1"
work=$(cd "$1" && pwd)
stage=$2
keep=${3:-}
shift $(($# < 3 ? $# : 3))
# shellcheck source=tests/qemu/vm.sh
. "$root/tests/qemu/vm.sh"
# shellcheck source=tests/qemu/hostroot.sh
. "$root/tests/qemu/hostroot.sh"

skip() {
    echo "skipped: $*"
    exit 77
}

VM_SECONDS=${GLEANOR_WINE_VM_SECONDS:-3000}
find "$work" -mindepth 1 -maxdepth 1 ! -name 'kernel' -exec rm -rf {} +
mkdir -p "$work/out"
ensure_packages
command -v wine >/dev/null && [ -e /usr/lib/wine/wine ] || skip "wine (wine32:i386) is not installed"
release=$(kernel_release)
mkdir -p "$work/kernel"
vmlinux=$work/kernel/vmlinux-$release
extract_vmlinux "/boot/vmlinuz-$release" "$vmlinux" || skip "cannot decompress /boot/vmlinuz-$release"

# The run's base wine prefix is made once, by the first wine part, and
# unpacked by the others (tests/wine/prefix.sh).
# shellcheck source=tests/wine/prefix.sh
. "$root/tests/wine/prefix.sh"
mkdir -p "$WINE_BASE"
HOSTROOT_OUT="$work/out $WINE_BASE"
HOSTROOT_ENV="GLEANOR_WINE_BASE=$WINE_BASE"
hostroot_initrd "$release" "$here/guest.sh" "$root $work/out $stage ${keep:--} $*" ||
    skip "cannot build the initramfs from the $release modules"

echo "running stage $stage in a VM (kernel $release, TCG): this kernel runs no 32-bit programs"
start=$(date +%s)
hostroot_boot "$vmlinux" "$VM_SECONDS" 3072
if ! grep -q '@@BOOTED' "$work/console.log"; then
    echo "the VM did not reach /init; booting again"
    hostroot_boot "$vmlinux" "$VM_SECONDS" 3072
fi
echo "the VM ran $(($(date +%s) - start)) s; console in $work/console.log"
tr -d '\r' <"$work/console.log" | grep -E '^@@' || true
[ -f "$work/out/stage.log" ] && cat "$work/out/stage.log"
grep -q '@@BOOTED' "$work/console.log" || skip "the VM did not boot"
[ -f "$work/out/rc" ] || { echo "the stage did not end within $VM_SECONDS s in the VM"; exit 1; }
rc=$(cat "$work/out/rc")
exit "$rc"
