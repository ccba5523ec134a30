#!/usr/bin/env bash
# The crash-consistency test on a native build tree.
#   tests/crash/run.sh BUILD_DIR      (GLEANOR_CRASH_SEED=N repeats a run)
# Prints the seed and "kill points N, inconsistent N"; exit 0 when consistent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: tests/crash/run.sh BUILD_DIR}" && pwd)
cmake --build "$build" --target crash_check gleanor crash_shim -j2 >/dev/null 2>&1 ||
  cmake --build "$build" --target crash_check gleanor crash_shim -j2
seed=${GLEANOR_CRASH_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
exec "$build/tests/crash/crash_check" --gleanor "$build/src/cli/gleanor" --shim "$build/tests/crash/crash_shim.so" \
  --profiles "$here" --seed "$seed" --kills "${GLEANOR_CRASH_KILLS:-60}"
