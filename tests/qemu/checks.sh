# The judgement of one VM run, sourced by run.sh: every check reads what the
# VM printed between its @@ markers and compares it with the disc on the host.
passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok     $what"
    else
        failed=$((failed + 1))
        echo "FAILED $what"
    fi
}

section() { awk -v n="$1" '$0 == "@@BEGIN " n { on = 1; next } index($0, "@@END " n " ") == 1 { on = 0 } on' "$console"; }
status_of() { sed -n "s/^@@END $1 \([0-9]*\)\$/\1/p" "$console" | tail -n 1; }
has_line() { section "$1" | grep -E -- "$2" >/dev/null; }  # no -q: with pipefail an early exit fails the pipe
status_is() { [ "$(status_of "$1")" = "$2" ]; }
disc_md5() { dd if="$work/disc.iso" bs=2048 skip="$1" count=1 status=none | md5sum | cut -d' ' -f1; }

# The flag file's bytes, from the od dump, into the array `flag`.
load_flags() {
    read -r -a flag <<<"$(section flags | tr '\n' ' ')"
}
flag_word() {  # little-endian 32-bit word at byte offset $1
    local o=$1
    echo $((16#${flag[o + 3]}${flag[o + 2]}${flag[o + 1]}${flag[o]}))
}
is_missing() {  # bit (lba mod 8) of byte 48 + lba/8: 1 = missing
    local lba=$1 byte
    byte=${flag[48 + lba / 8]:-ff}
    [ $(((16#$byte >> (lba % 8)) & 1)) -eq 1 ]
}

header_ok() {
    [ "${#flag[@]}" -gt 48 ] && [ "$(flag_word 0)" = "$((SECTORS - 1))" ] && [ "$(flag_word 4)" = 2048 ]
}

check_boot() {
    check "the VM booted and ran the scenario to its end" grep -q '^@@FINISHED' "$console"
    check "every module loaded" bash -c "! grep -q '^@@MODULE-FAILED' '$console'"
}

check_listing() {
    local size_mb=$((((SECTORS - 1) * 2048) / 1048576))
    local name="$VENDOR$(printf '%*s' $((8 - ${#VENDOR})) '')$PRODUCT"
    check "drives: exit status 0" status_is drives 0
    check "drives: adapter identifier from sysfs logged" has_line drives '^Host Adapter 0 ID: virtio_scsi$'
    check "drives: the disc drive at [0:0:0] with vendor, product, label and size" \
        has_line drives "^  0  \\[0:0:0\\]  $name  ready  $LABEL  $size_mb MB\$"
    check "drives: the empty drive at [0:1:2] is not ready" has_line drives '^  1  \[0:1:2\]  .*  not ready$'
    check "drives: the last ready drive [0:2:0] is preselected" \
        has_line drives "^\\* 2  \\[0:2:0\\]  $name  ready  $LABEL  $size_mb MB\$"
    check "drives: exactly three drives, the hard disk is not listed" \
        [ "$(section drives | grep -cE '^[ *] [0-9]  \[')" = 3 ]
}

check_estimate() {
    check "estimate: exit status 0" status_is estimate 0
    check "estimate: the last readable sector is $((SECTORS - 1))" \
        [ "$(section estimate | grep -E '^[0-9]+$' | tail -n 1)" = "$((SECTORS - 1))" ]
    check "estimate: probed past the end of the disc" has_line estimate '^SCSI DrvBlkRead 4$'
}

check_copy_runs() {
    local run loops
    for run in copy1 copy2; do
        loops=$LOOPS1
        [ "$run" = copy2 ] && loops=$LOOPS2
        check "$run: stopped by SIGINT with outcome 3 (User Break)" status_is "$run" 3
        check "$run: \"Exit 0x3: User Break\" logged" has_line "$run" '^Exit 0x3: User Break$'
        check "$run: reached pass $loops before the break" has_line "$run" "^Loop $loops "
        check "$run: met read errors" has_line "$run" '^Skipping [0-9]+$'
    done
    # copy1 runs at log level 4, where the manager shows the drive's reply.
    check "copy1: injected errors arrive as medium errors (sense 3/11/00)" \
        has_line copy1 '^SG_IO 28: status 2 host 0 driver 8 resid 0 sense 3/11/00$'
    check "copy1: every failed read was a medium error" \
        bash -c "! awk '/^@@BEGIN copy1\$/,/^@@END copy1 /' '$console' | grep '^SG_IO 28: ' | grep -qv 'sense 3/11/00\$'"
}

check_image() {
    local lba bad_missing=1 flaky_read=1 wrong="" short="" size read=0 missing=0 entry s sum
    load_flags
    check "flag file: header holds $((SECTORS - 1)) sectors of 2048 bytes" header_ok
    [ "${#flag[@]}" -gt 48 ] || return
    for lba in $BAD; do is_missing "$lba" || bad_missing=0; done
    for entry in $FLAKY; do is_missing "${entry%%:*}" && flaky_read=0; done
    check "bad sectors ($BAD) stay missing" [ $bad_missing = 1 ]
    check "flaky sectors ($FLAKY) came back" [ $flaky_read = 1 ]

    size=$(section imagesize | awk '{ print $1; exit }')
    for ((lba = 0; lba < SECTORS - 1; lba++)); do
        if is_missing "$lba"; then
            missing=$((missing + 1))
        else
            read=$((read + 1))
            [ $(((lba + 1) * 2048)) -le "${size:-0}" ] || short="$short $lba"
        fi
    done
    for lba in $(section differing | grep -E '^[0-9]+$'); do
        [ "$lba" -lt $((SECTORS - 1)) ] && ! is_missing "$lba" && wrong="$wrong $lba"
    done
    echo "       image: $read sectors read, $missing missing, $size bytes"
    check "every sector marked read lies within the image" [ -z "$short" ]
    check "every sector marked read equals the disc${wrong:+ (differ:$wrong)}" [ -z "$wrong" ]
    while read -r s sum _; do
        [ -n "$s" ] || continue
        is_missing "$s" && continue
        check "sector $s: checksum equals the disc's" [ "$sum" = "$(disc_md5 "$s")" ]
    done < <(section probes)
}

check_tray() {
    check "eject: exit status 0, not ready" has_line eject '^drive 0: ejected, not ready$'
    check "drives: with the tray open drive 0 is not ready" has_line drives-open '^  0  \[0:0:0\]  .*  not ready$'
    check "drives: with the tray open TEST UNIT READY gives sense 2/3a/00" \
        has_line drives-open '^SG_IO 00: status 2 host 0 driver 8 resid 0 sense 2/3a/00$'
    check "load: exit status 0, ready with its label again" has_line load "^drive 0: ready  $LABEL  "
    check "drives: after load drive 0 is ready" has_line drives-closed "^  0  \\[0:0:0\\]  .*  ready  $LABEL  "
    check "eject and load: exit status 0" bash -c "[ '$(status_of eject)' = 0 ] && [ '$(status_of load)' = 0 ]"
}

# The VM without sg nodes: the same drives through /dev/sr*.
run_sr_checks() {
    console=$1
    local size_mb=$((((SECTORS - 1) * 2048) / 1048576))
    local name="$VENDOR$(printf '%*s' $((8 - ${#VENDOR})) '')$PRODUCT"
    check "sr VM: ran to its end without sg nodes" \
        bash -c "grep -q '^@@FINISHED' '$console' && ! awk '/^@@BEGIN sr-nodes\$/,/^@@END sr-nodes /' '$console' | grep -q '^sg'"
    check "sr VM: drives lists the three CD drives at their addresses" \
        [ "$(section sr-drives | grep -cE '^[ *] [0-9]  \[0:[0-2]:[0-2]\]  ')" = 3 ]
    check "sr VM: the disc drive is ready with label and size" \
        has_line sr-drives "^  0  \\[0:0:0\\]  $name  ready  $LABEL  $size_mb MB\$"
    check "sr VM: estimate reads to sector $((SECTORS - 1))" \
        [ "$(section sr-estimate | grep -E '^[0-9]+$' | tail -n 1)" = "$((SECTORS - 1))" ]
    check "sr VM: eject works on the block node (the door is not locked)" \
        has_line sr-eject '^drive 0: ejected, not ready$'
    check "sr VM: load makes the disc ready again" has_line sr-load "^drive 0: ready  $LABEL  "
}

run_checks() {
    console=$1
    check_boot
    check_listing
    check_estimate
    check_copy_runs
    check_image
    check_tray
}
