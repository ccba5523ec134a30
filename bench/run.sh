#!/bin/sh
# Builds gleanor and the benchmark in BUILD_DIR (default build-bench, Release)
# and prints one line per figure. Extra arguments choose figures:
# throughput resume memory flush.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
[ $# -gt 0 ] && shift
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLEANOR_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_gleanor -j2 >/dev/null
"$build/bench/bench_gleanor" "$@"
