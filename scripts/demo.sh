#!/usr/bin/env bash
# The main job on its built-in default: a rescue of the bundled simulated scratched disc.
#   scripts/demo.sh [DIR]     (DIR: where the image set goes; default a new temporary folder)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh base
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target gleanor >build/native-demo-build.log 2>&1 ||
  { tail -40 build/native-demo-build.log; exit 1; }
exec build/native/src/cli/gleanor demo "$@"
