#!/usr/bin/env bash
# Builds the fuzz targets with clang into BUILD_DIR (installing clang and
# libclang-rt-14-dev first when they are missing).
#   fuzz/build.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:?usage: fuzz/build.sh BUILD_DIR}

bash "$root/scripts/deps.sh" base fuzz
cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DGLEANOR_SANITIZE=fuzzer-no-link,address,undefined -DGLEANOR_TESTS=OFF -DGLEANOR_FUZZ=ON >/dev/null
# Each target on its own, so one that does not build leaves the others runnable;
# the targets that built go to fuzz-built.txt, the others count as failed.
mapfile -t targets <"$build/fuzz-targets.txt"
log="$build/fuzz-build.log"
: >"$log"
: >"$build/fuzz-built.txt"
broken=0
for t in "${targets[@]}"; do
  if cmake --build "$build" -j2 --target "$t" >>"$log" 2>&1; then
    echo "$t" >>"$build/fuzz-built.txt"
  else
    echo "$t: does not build"
    grep -E 'error' "$log" | tail -5 | sed 's/^/  /'
    broken=$((broken + 1))
  fi
done
echo "$broken" >"$build/fuzz-broken.txt"
