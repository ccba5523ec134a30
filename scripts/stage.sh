#!/usr/bin/env bash
# One stage of the test command. Exit 0 pass, 77 skipped (with the reason printed), else failed.
#   scripts/stage.sh STAGE [ARG...]
# GLEANOR_STAGE_PHASE=build runs only what the stage builds, =test only its
# tests (on what was built); unset, both. GLEANOR_STAGE_TIMES names a file
# that gets one line per run: stage, phase, seconds, exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stage=$1
jobs=$(nproc)
phase=${GLEANOR_STAGE_PHASE:-all}
started=$(date +%s)
if [ -n "${GLEANOR_STAGE_TIMES:-}" ]; then
  trap 'rc=$?; echo "$stage $phase $(($(date +%s) - started)) $rc" >>"$GLEANOR_STAGE_TIMES"' EXIT
fi
building() { [ "$phase" != test ]; }
testing() { [ "$phase" != build ]; }

# A compiler cache, where there is one, shared by every clone of the tree.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

configure() {  # configure DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
}

build() {  # build DIR [targets...]; any compiler warning fails the stage
  local dir=$1; shift
  local log="$dir/build.log" rc=0
  if [ $# -gt 0 ]; then
    cmake --build "$dir" -j"$jobs" --target "$@" >"$log" 2>&1 || rc=$?
  else
    cmake --build "$dir" -j"$jobs" >"$log" 2>&1 || rc=$?
  fi
  if [ $rc -ne 0 ]; then
    grep -E 'error|Error' "$log" | head -40
    echo "build of $dir failed"
    return 1
  fi
  if grep -E 'warning:' "$log"; then
    echo "build of $dir has compiler warnings"
    return 1
  fi
  echo "built $dir"
}

# wine runs 32-bit programs, which some kernels (virtual machines without
# 32-bit support) cannot execute.
# wine_stage STAGE [KEEP_DIR]: the wine part of a stage, here when wine runs
# here, else in a VM whose kernel runs 32-bit programs (tests/wine-vm; 77 when
# no VM can be had).
wine_stage() {
  local part=$1 out
  if out=$(wine --version 2>&1); then
    bash "$root/scripts/stage.sh" "$part"
    return
  fi
  echo "wine cannot run on this machine: $(echo "$out" | tail -n 1)"
  bash tests/wine-vm/run.sh "$root/build/win/vm-$part" "$part" "${2:-}"
}

wine_env() {
  export WINEDEBUG=-all WINEPREFIX="$1" LC_ALL=C
  export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"
}

case "$stage" in
  native)
    if building; then configure build/native; build build/native; fi
    testing || exit 0
    ctest --test-dir build/native --output-on-failure -j"$jobs"
    ;;
  asan)
    # -O1: the sanitizers' usual level, and half the compile time of -O2.
    if building; then
      configure build/asan -DGLEANOR_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
      build build/asan
    fi
    testing || exit 0
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build/asan --output-on-failure -j"$jobs"
    ;;
  tsan)
    # The worker / front-end protocol and the message channel, both threads at once.
    if building; then
      configure build/tsan -DGLEANOR_SANITIZE=thread -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
      build build/tsan test_platform test_loop test_cli gleanor
    fi
    testing || exit 0
    # A second Ctrl-C ends gleanor with _exit while its worker may be unjoined,
    # by design; that is a thread leak to ThreadSanitizer, not a race.
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_thread_leaks=0 \
      GTEST_FILTER='ChannelTest.*:ChannelThreads.*:WorkerTest.*:FrontEndTest.*:QueuePoster.*:EndToEnd.*' \
      ctest --test-dir build/tsan --output-on-failure -j"$jobs" -R '^(platform|loop|cli)$'
    ;;
  windows)
    if building; then
      configure build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DGLEANOR_TEST_SEAMS=ON
      build build/win
      configure build/win-release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DGLEANOR_TESTS=OFF \
        -DGLEANOR_TEST_SEAMS=OFF
      build build/win-release Gleanor gleanor_sptidll
    fi
    testing || exit 0
    # The released program has no test seams: built without the option, its
    # code and data (debug information stripped) lack the power-off variable,
    # which the test build's hold.
    for b in win win-release; do
      i686-w64-mingw32-strip -o "build/$b/Gleanor-stripped.exe" "build/$b/src/win32/Gleanor.exe"
    done
    grep -q GLEANOR_POWEROFF_MARKER build/win/Gleanor-stripped.exe || { echo "the test build lacks its power-off seam"; exit 1; }
    if grep -q GLEANOR_POWEROFF_MARKER build/win-release/Gleanor-stripped.exe; then
      echo "the released Gleanor.exe reads GLEANOR_POWEROFF_MARKER"
      exit 1
    fi
    wine_stage windows-tests
    ;;
  windows-tests)
    # The unit tests of the Windows build, under wine.
    prefix="$root/build/win/wineprefix"
    wine_env "$prefix"
    . tests/wine/prefix.sh
    base_prefix "$prefix"
    failed=0
    count=0
    for exe in $(find build/win/tests -name 'test_*.exe' | sort); do
      count=$((count + 1))
      echo "== $(basename "$exe") under wine"
      # Test data and the simulated drive's DLL are found from the build folder.
      if ! (cd build/win && GLEANOR_SOURCE_DIR="Z:$(echo "$root" | tr / '\\')" \
              timeout 600 wine "$root/$exe" --gtest_brief=1 2>&1 | tr -d '\r'); then
        failed=$((failed + 1))
      fi
    done
    echo "windows unit tests: $((count - failed)) passed, $failed failed"
    [ "$count" -gt 0 ] && [ "$failed" -eq 0 ]
    ;;
  wine-e2e)
    [ -x tests/wine/run.sh ] || { echo "skipped: no end-to-end tests for the Windows program yet"; exit 77; }
    if building; then
      configure build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DGLEANOR_TEST_SEAMS=ON
      build build/win
    fi
    testing || exit 0
    wine_stage wine-e2e-run "$root/build/win/wine-e2e"
    ;;
  wine-e2e-run)  # [SCENARIO...]
    bash tests/wine/run.sh "$root/build/win" "${@:2}"
    ;;
  qemu)
    [ -x tests/qemu/run.sh ] || { echo "skipped: no QEMU harness yet"; exit 77; }
    if building; then
      # The static program the VM runs (tests/qemu/run.sh builds it where it is missing).
      configure build/qemu/static -DCMAKE_BUILD_TYPE=Release -DGLEANOR_STATIC=ON -DGLEANOR_TESTS=OFF -DGLEANOR_BENCH=OFF
      build build/qemu/static gleanor
    fi
    testing || exit 0
    bash tests/qemu/run.sh "$root/build/qemu"
    ;;
  spti-vm)
    # The pass-through WNASPI32.DLL under wine in a QEMU VM, on an emulated SCSI CD drive.
    if building; then
      configure build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DGLEANOR_TEST_SEAMS=ON
      build build/win gleanor_sptidll spti_check test_spti
    fi
    testing || exit 0
    bash tests/spti-vm/run.sh "$root/build/win"
    ;;
  package-win32)
    # Gleanor-<version>-win32.zip: Gleanor.exe, the pass-through WNASPI32.DLL, README.txt.
    # The release tree, without the tests' seams.
    if building; then
      configure build/win-release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DGLEANOR_TESTS=OFF \
        -DGLEANOR_TEST_SEAMS=OFF
      build build/win-release Gleanor gleanor_sptidll
    fi
    testing || exit 0
    rm -f build/win-release/Gleanor-*-win32.zip
    (cd build/win-release && cpack -G ZIP --config CPackConfig.cmake >cpack.log 2>&1) ||
      { tail -20 build/win-release/cpack.log; exit 1; }
    python3 tests/spti-vm/check_package.py build/win-release/Gleanor-*-win32.zip
    ;;
  fuzz)
    [ -x fuzz/run-short.sh ] || { echo "skipped: no fuzz targets yet"; exit 77; }
    if building; then bash fuzz/build.sh "$root/build/fuzz"; fi
    testing || exit 0
    bash fuzz/run-short.sh "$root/build/fuzz"
    ;;
  crash)
    [ -x tests/crash/run.sh ] || { echo "skipped: no crash test yet"; exit 77; }
    if building; then configure build/native; build build/native; fi
    testing || exit 0
    bash tests/crash/run.sh "$root/build/native"
    ;;
  faults)
    [ -x tests/faults/run.sh ] || { echo "skipped: no fault scenarios yet"; exit 77; }
    if building; then configure build/native; build build/native; fi
    testing || exit 0
    bash tests/faults/run.sh "$root/build/native"
    ;;
  package-deb)
    # A release tree without the tests and benchmarks: the package needs only the program.
    if building; then
      configure build/deb-release -DCMAKE_BUILD_TYPE=Release -DGLEANOR_TESTS=OFF -DGLEANOR_BENCH=OFF
      build build/deb-release
    fi
    testing || exit 0
    rm -f build/deb-release/gleanor_*.deb
    (cd build/deb-release && cpack -G DEB --config CPackConfig.cmake >cpack.log 2>&1) ||
      { tail -20 build/deb-release/cpack.log; exit 1; }
    bash tests/package/check.sh "$(ls build/deb-release/gleanor_*.deb | head -1)" "$root/build/package-root"
    ;;
  *)
    echo "unknown stage $stage" >&2
    exit 2
    ;;
esac
