#!/usr/bin/env bash
# The fault scenarios on a native build tree (about a minute).
#   tests/faults/run.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: tests/faults/run.sh BUILD_DIR}" && pwd)
cmake --build "$build" --target test_faults -j2 >/dev/null 2>&1 || cmake --build "$build" --target test_faults -j2
exec "$build/tests/faults/test_faults" --gtest_brief=0
