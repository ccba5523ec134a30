# A small Linux VM under QEMU that sees the host's files: the root file
# system read-only over 9p under a memory overlay, so that wine and the
# Windows build are the host's. One guest script runs there; its output goes
# to the serial console. Sourced after vm.sh, with `work` and `here` set.
#
# Optional writable folders (HOSTROOT_OUT, separated by spaces) are shared at
# the same paths, so that what the guest writes there outlives the VM.
# HOSTROOT_ENV (NAME=VALUE words) sets variables for the guest script.

HOSTROOT_MODULES="$VM_MODULES netfs fscache 9pnet 9pnet_virtio 9p overlay"

# hostroot_initrd RELEASE GUEST_SCRIPT ARGS: $work/initrd.cpio; 1 when a module is missing.
hostroot_initrd() {
    local release=$1 guest=$2 args=$3 dir=$work/initramfs entry name margs rc
    rm -rf "$dir"
    mkdir -p "$dir"/{bin,dev,proc,sys,lib/modules}
    cp /bin/busybox "$dir/bin/busybox"
    cp "$root/tests/qemu/hostroot-init.sh" "$dir/init"
    chmod 755 "$dir/init"
    printf 'GUEST=%q\nGUEST_ARGS=%q\nOUT=%q\nGUEST_ENV=%q\n' "$guest" "$args" "${HOSTROOT_OUT:-}" "${HOSTROOT_ENV:-}" \
        >"$dir/guest.conf"
    : >"$dir/lib/modules/order"
    for entry in $HOSTROOT_MODULES; do
        name=${entry%%:*}
        margs=""
        [ "$name" != "$entry" ] && margs=${entry#*:}
        copy_module "$release" "$name" "$dir/lib/modules/$name.ko"
        rc=$?
        [ $rc -eq 2 ] && continue
        [ $rc -eq 0 ] || return 1
        echo "$name $margs" >>"$dir/lib/modules/order"
    done
    (cd "$dir" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"
}

# hostroot_boot VMLINUX SECONDS MEMORY_MB [QEMU_ARGS...]: the console goes to
# $work/console.log. -cpu qemu64: wine was seen to crash the guest kernel
# with -cpu max.
hostroot_boot() {
    local vmlinux=$1 seconds=$2 memory=$3 out=() dir n=0
    shift 3
    for dir in ${HOSTROOT_OUT:-}; do
        out+=(-virtfs "local,path=$dir,mount_tag=out$n,security_model=none,multidevs=remap")
        n=$((n + 1))
    done
    timeout "$seconds" qemu-system-x86_64 -accel tcg -cpu qemu64 -m "$memory" -smp 1 -nodefaults -no-reboot \
        -display none -monitor none -serial stdio \
        -kernel "$vmlinux" -initrd "$work/initrd.cpio" \
        -append "console=ttyS0 panic=-1 quiet loglevel=3 no_timer_check" \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        "${out[@]}" "$@" </dev/null >"$work/console.log" 2>&1
}
