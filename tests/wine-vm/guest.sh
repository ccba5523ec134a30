#!/bin/bash
# Inside the wine VM (the host's files under a memory overlay; OUT is the
# host's, writable): runs one stage of the test command, its output to OUT,
# then keeps a copy of KEEP_DIR there (without a wine prefix, programs and
# disc contents).
#
#   guest.sh ROOT OUT STAGE [KEEP_DIR [STAGE_ARG...]]
set -u
root=$1 out=$2 stage=$3 keep=${4:-}
shift 4 2>/dev/null || shift $#
mark() { echo "@@$* at $(cut -d' ' -f1 /proc/uptime) s"; }
cd "$root" || exit 1
mark "stage-begin $stage"
# The output goes to a file, never to the console: wine's session processes
# would inherit it and outlive the stage.
bash scripts/stage.sh "$stage" "$@" >"$out/stage.log" 2>&1 </dev/null
rc=$?
wineserver -k 2>/dev/null
mark "stage-end rc=$rc"
if [ -n "$keep" ] && [ -d "$keep" ]; then
    (cd "$keep" && find . -path ./prefix -prune -o -type f ! -iname '*.exe' ! -iname '*.dll' ! -name '*.bin' -print | cpio -pdm --quiet "$out/kept")
fi
echo "$rc" >"$out/rc"
