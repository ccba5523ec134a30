#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (about 30 s in all).
#   fuzz/run-short.sh BUILD_DIR
# Prints executions and crashes per target and "fuzz: N passed, N failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run-short.sh BUILD_DIR}
mkdir -p "$build"
build=$(cd "$build" && pwd)
bash "$here/build.sh" "$build"
. "$here/run-lib.sh"

mapfile -t targets <"$build/fuzz-built.txt"
total=${GLEANOR_FUZZ_SECONDS:-30}
each=$((total / (${#targets[@]} > 0 ? ${#targets[@]} : 1)))
[ "$each" -lt 3 ] && each=3
passed=0 failed=$(cat "$build/fuzz-broken.txt")
for t in "${targets[@]}"; do
  if run_target "$build" "$t" -max_total_time="$each"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
