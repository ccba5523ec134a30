#!/bin/sh
# Drive time of a rescue on simulated damaged DVDs (the FUSE medium of
# ../shared/badmedium, in virtual mode): gleanor with both strategies
# (give-up 1h) against GNU ddrescue (default and -r3), one row per run.
#   bench/drive_time.sh [BUILD_DIR] [PROFILE...]     (default: dvd-s dvd-f dvd-e ring)
# BADMEDIUM=DIR names the harness's folder (default: ../shared/badmedium beside
# the tree); it is only read: the medium is built into BUILD_DIR/badmedium.
# Exits 77 with the reason when FUSE cannot mount here.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
[ $# -gt 0 ] && shift
harness=${BADMEDIUM:-$here/../shared/badmedium}
skip() { echo "drive time: skipped: $*"; exit 77; }

[ -f "$harness/badmedium.c" ] || skip "no badmedium harness at $harness"
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v fusermount3 >/dev/null || skip "fusermount3 missing (as root: bash scripts/deps.sh bench)"
pkg-config --exists fuse3 2>/dev/null || skip "libfuse3 headers missing (as root: bash scripts/deps.sh bench)"
command -v ddrescue >/dev/null || skip "ddrescue missing (as root: bash scripts/deps.sh bench)"

mkdir -p "$build"
build=$(cd "$build" && pwd)
out="$build/badmedium"
mkdir -p "$out"
cc -O2 -Wall -Wextra -Wno-parentheses $(pkg-config --cflags fuse3) -o "$out/badmedium" "$harness/badmedium.c" \
  $(pkg-config --libs fuse3)
[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLEANOR_TESTS=OFF >/dev/null
cmake --build "$build" --target gleanor -j2 >/dev/null
img="$out/disc100k.img"
[ -f "$img" ] || python3 "$harness/mkimage.py" 100000 "$img" >/dev/null

# A mount that fails here (no permission, no FUSE in a container) is a skip.
probe="$out/probe"
mkdir -p "$probe/mnt"
if ! timeout 20 python3 "$harness/measure.py" --bin "$out/badmedium" --virtual --profile "$harness/profiles/dvd-e.txt" \
    --image "$img" --work "$probe" --rm-out 'true' >/dev/null 2>&1; then
  skip "FUSE cannot mount here (see $probe/badmedium.err)"
fi

exec python3 "$here/bench/drive_time.py" --harness "$harness" --medium "$out/badmedium" --image "$img" \
  --gleanor "$build/src/cli/gleanor" --work "$out/runs" "$@"
