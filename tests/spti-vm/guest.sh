#!/bin/bash
# Inside the pass-through VM (the host's files, a memory overlay): makes a
# wine prefix (from the run's base prefix) whose drive D: is the emulated CD drive, then runs under wine
# the pass-through manager's unit tests and the check program beside the
# pass-through WNASPI32.DLL. Everything it shows goes to the console.
#
#   guest.sh BUILD_DIR DISC_IMAGE BAD_LBA...
set -u
build=$1 disc=$2
shift 2
export WINEDEBUG=-all WINEPREFIX=/tmp/wineprefix LC_ALL=C
export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"

mark() { echo "@@$* at $(cut -d' ' -f1 /proc/uptime) s"; }
winpath() { echo "Z:${1//\//\\}"; }
# A program's output goes to a file, never to the console or a pipe: wine's
# session processes would inherit either and outlive the program. tail
# copies the file to the console while the program runs.
run() {  # run NAME PROGRAM ARGS...
    local name=$1 pid rc
    shift
    mark "$name-begin"
    : >"/tmp/$name.out"
    (cd "$(dirname "$1")" && exec timeout 480 wine "$@" >"/tmp/$name.out" 2>&1 </dev/null) &
    pid=$!
    tail -f -n +1 --pid=$pid "/tmp/$name.out" | sed -u "s/\r$//; s/^/$name| /"
    wait $pid
    rc=$?
    mark "$name-end rc=$rc"
}

mark prefix-begin
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tests/wine/prefix.sh"
base_prefix "$WINEPREFIX"
# D: is the VM's CD drive: \\.\D: opens /dev/sr0, and the drive type is CD-ROM.
mkdir -p "$WINEPREFIX/drive_d"
ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
ln -sfn /dev/sr0 "$WINEPREFIX/dosdevices/d::"
wine reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1 </dev/null
# The drives are read when a session starts: let this one end (the
# registry is saved then) and keep the next one for both programs.
wineserver -w
wineserver -p
mark prefix-end

run unit "$build/tests/test_spti.exe" --gtest_brief=1
mkdir -p /tmp/rescue
run check "$build/spti/spti_check.exe" "$(winpath /tmp/rescue)" "$(winpath "$disc")" "$@"
wineserver -k
