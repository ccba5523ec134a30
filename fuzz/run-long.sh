#!/usr/bin/env bash
# Runs each fuzz target for at least 10 million executions (GLEANOR_FUZZ_RUNS
# to change that) and prints executions and crashes per target.
#   fuzz/run-long.sh [BUILD_DIR [TARGET...]]     (default: build/fuzz, every target)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$(dirname "$here")/build/fuzz}
shift || true
mkdir -p "$build"
build=$(cd "$build" && pwd)
bash "$here/build.sh" "$build"
. "$here/run-lib.sh"

runs=${GLEANOR_FUZZ_RUNS:-10000000}
mapfile -t targets <"$build/fuzz-built.txt"
passed=0 failed=$(cat "$build/fuzz-broken.txt")
if [ $# -gt 0 ]; then targets=("$@"); failed=0; fi
for t in "${targets[@]}"; do
  start=$(date +%s)
  if run_target "$build" "$t" -runs="$runs"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  echo "  ($(($(date +%s) - start)) s)"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
