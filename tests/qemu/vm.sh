# Host-side pieces of the QEMU harness, sourced by run.sh: packages, kernel,
# modules, initramfs, the test disc and the VM itself.

# Modules for virtio SCSI, in load order, with their parameters.
VM_MODULES="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci scsi_common
scsi_mod:scan=sync virtio_scsi cdrom sr_mod sg"
VM_PACKAGES="qemu-system-x86 linux-image-amd64 busybox-static"

skip() {
    echo "skipped: $*"
    echo "qemu: 0 passed, 0 failed"
    exit 77
}

# The kernel release that Debian's linux-image-amd64 package depends on,
# which need not be the kernel this machine runs.
kernel_release() {
    dpkg-query -W -f='${Depends}' linux-image-amd64 2>/dev/null |
        tr ',|' '\n\n' | sed -n 's/^ *linux-image-\([0-9][^ ]*\).*/\1/p' | head -n 1
}

have_packages() {
    local release
    command -v qemu-system-x86_64 >/dev/null || return 1
    [ -x /bin/busybox ] && /bin/busybox --list 2>/dev/null | grep -x insmod >/dev/null || return 1
    release=$(kernel_release)
    [ -n "$release" ] && [ -f "/boot/vmlinuz-$release" ] && [ -d "/lib/modules/$release" ]
}

ensure_packages() {
    have_packages && return 0
    if [ "$(id -u)" -ne 0 ]; then
        skip "QEMU, the Debian kernel or busybox-static is missing; as root run: apt-get install $VM_PACKAGES"
    fi
    echo "installing $VM_PACKAGES"
    if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $VM_PACKAGES; } >"$work/apt.log" 2>&1; then
        tail -n 5 "$work/apt.log"
        skip "could not install $VM_PACKAGES"
    fi
    have_packages || skip "$VM_PACKAGES installed, but the kernel or busybox is still not usable"
}

# The uncompressed kernel (ELF) from a compressed bzImage: find where a
# compressed stream starts and decompress from there; the first offset that
# yields an ELF file wins. Cached, since it takes a few seconds.
extract_vmlinux() {
    local image=$1 out=$2 magic tool offset
    [ -s "$out" ] && return 0
    for pair in '\x1f\x8b\x08:gzip -dc' '\xfd7zXZ\x00:xz -dc' '\x28\xb5\x2f\xfd:zstd -dcq' \
                'BZh:bzip2 -dc' '\x5d\x00\x00\x00:xz -dc --format=lzma' '\x02\x21\x4c\x18:lz4 -dc' \
                '\x89\x4c\x5a\x4f:lzop -dc'; do
        magic=${pair%%:*}
        tool=${pair#*:}
        command -v "${tool%% *}" >/dev/null || continue
        for offset in $(LC_ALL=C grep -obUaP "$magic" "$image" 2>/dev/null | cut -d: -f1); do
            tail -c +"$((offset + 1))" "$image" | $tool >"$out.part" 2>/dev/null
            if [ "$(head -c 4 "$out.part" | od -An -tx1 | tr -d ' ')" = "7f454c46" ]; then
                mv "$out.part" "$out"
                return 0
            fi
        done
    done
    rm -f "$out.part"
    return 1
}

# One module file into the initramfs, decompressed where the package ships it compressed.
copy_module() {
    local release=$1 name=$2 dest=$3 path
    path=$(modinfo -k "$release" -n "$name" 2>/dev/null) || return 1
    case "$path" in
        "(builtin)"|"") return 2 ;;
        *.ko) cp "$path" "$dest" ;;
        *.ko.xz) xz -dc "$path" >"$dest" ;;
        *.ko.zst) zstd -dcq "$path" >"$dest" ;;
        *.ko.gz) gzip -dc "$path" >"$dest" ;;
        *) return 1 ;;
    esac
}

# The initramfs: busybox, /init, the scenario and its settings, the modules
# (a list like VM_MODULES), gleanor and the disc image to compare against.
make_initramfs() {
    local release=$1 gleanor=$2 disc=$3 conf=$4 out=$5 scenario=$6 modules=$7 root=$work/root entry name args rc
    rm -rf "$root"
    mkdir -p "$root"/{bin,dev,proc,sys,tmp,out,lib/modules}
    cp /bin/busybox "$root/bin/busybox"
    cp "$here/init.sh" "$root/init"
    chmod 755 "$root/init"
    cp "$scenario" "$root/scenario.sh"
    cp "$here/steps.sh" "$root/steps.sh"
    cp "$conf" "$root/scenario.conf"
    cp "$gleanor" "$root/bin/gleanor"
    cp "$disc" "$root/disc.iso"
    : >"$root/lib/modules/order"
    for entry in $modules; do
        name=${entry%%:*}
        args=""
        [ "$name" != "$entry" ] && args=${entry#*:}
        copy_module "$release" "$name" "$root/lib/modules/$name.ko"
        rc=$?
        if [ $rc -eq 2 ]; then continue; fi
        [ $rc -eq 0 ] || { echo "module $name not found for $release"; return 1; }
        echo "$name $args" >>"$root/lib/modules/order"
    done
    (cd "$root" && find . | cpio -o -H newc --quiet) >"$out"
}

# Writes `sectors` sectors of random content with an ISO 9660 primary volume
# descriptor in sector 16 whose volume identifier is `label`.
make_disc() {
    local out=$1 sectors=$2 label=$3
    head -c "$((sectors * 2048))" /dev/urandom >"$out"
    {
        printf '\001CD001\001\000'
        printf '%-32s' "GLEANOR TEST"
        printf '%-32s' "$label"
    } | dd of="$out" bs=1 seek=$((16 * 2048)) conv=notrunc status=none
}

# blkdebug rules: a permanent medium error on each LBA of BAD, and on each
# LBA:N of FLAKY an error that fires N times and then lets the sector read.
# The rules count 512-byte sectors, four to an LBA.
make_rules() {
    local out=$1 lba n i
    : >"$out"
    rule() {
        printf '[inject-error]\nevent = "read_aio"\nerrno = "61"\nsector = "%s"\n' "$(($1 * 4))"
        [ "$2" = once ] && printf 'once = "on"\n'
        printf '\n'
    }
    for lba in $BAD; do rule "$lba" always >>"$out"; done
    for entry in $FLAKY; do
        lba=${entry%%:*}
        n=${entry#*:}
        for ((i = 0; i < n; i++)); do rule "$lba" once >>"$out"; done
    done
}

# Boots the VM: virtio SCSI with a CD of the disc (target 0), an empty CD
# drive (target 1, LUN 2), the disc behind injected errors (target 2) and a
# hard disk (target 3). The serial console goes to `log`. no_timer_check: on
# a busy host the emulated timer can look broken to the kernel's boot check.
boot_vm() {
    local vmlinux=$1 initrd=$2 disc=$3 rules=$4 log=$5
    local cd="media=cdrom,readonly=on,format=raw"
    local qemu
    timeout "$VM_SECONDS" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -no-reboot \
        -display none -monitor none -serial stdio \
        -kernel "$vmlinux" -initrd "$initrd" -append "console=ttyS0 panic=-1 quiet loglevel=3 no_timer_check" \
        -device virtio-scsi-pci,id=scsi0 \
        -drive "if=none,id=cd0,$cd,file=$disc" \
        -device "scsi-cd,bus=scsi0.0,drive=cd0,scsi-id=0,lun=0,vendor=$VENDOR,product=$PRODUCT" \
        -device scsi-cd,bus=scsi0.0,scsi-id=1,lun=2 \
        -drive "if=none,id=cd2,$cd,file.driver=blkdebug,file.config=$rules,file.image.driver=file,file.image.filename=$disc" \
        -device "scsi-cd,bus=scsi0.0,drive=cd2,scsi-id=2,lun=0,vendor=$VENDOR,product=$PRODUCT" \
        -blockdev driver=null-co,node-name=hd0,size=67108864 \
        -device scsi-hd,bus=scsi0.0,drive=hd0,scsi-id=3,lun=0 \
        </dev/null >"$log" 2>&1 &
    qemu=$!
    watch_boot "$qemu" "$log"
    wait "$qemu"
}

# watch_boot PID LOG: waits while the VM runs until its console in LOG shows
# that /init started; a kernel that has not got there in BOOT_SECONDS has hung
# (seen under TCG on a loaded host), and the VM is stopped.
BOOT_SECONDS=150
watch_boot() {
    local pid=$1 log=$2 waited=0
    while kill -0 "$pid" 2>/dev/null; do
        grep -q '@@BOOTED' "$log" 2>/dev/null && return 0
        if [ "$waited" -ge "$BOOT_SECONDS" ]; then
            echo "the VM did not reach /init in $BOOT_SECONDS s; stopping it"
            kill "$pid"
            return 1
        fi
        sleep 1
        waited=$((waited + 1))
    done
}

# boot_retrying NAME LOG COMMAND...: COMMAND boots a VM whose console goes to
# LOG. A kernel that died or hung before /init says nothing about the
# program: it is booted once more.
boot_retrying() {
    local name=$1 log=$2
    shift 2
    "$@"
    grep -q '@@BOOTED' "$log" && return 0
    echo "the $name VM did not reach /init; booting again"
    grep -m 3 -i 'panic' "$log"
    "$@"
}
