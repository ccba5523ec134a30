#!/bin/bash
# End-to-end tests of Gleanor.exe under wine: the real 32-bit program with the
# simulated WNASPI32.DLL beside it, operated from outside by robot.exe.
#
#   tests/wine/run.sh BUILD_WIN_DIR [SCENARIO...]
#
# Prints one line per scenario and "wine-e2e: N passed, N failed"; exits 0
# when every scenario passed.
set -u
BUILD="$(cd "${1:?usage: run.sh BUILD_WIN_DIR [SCENARIO...]}" && pwd)"
shift
HERE="$(cd "$(dirname "$0")" && pwd)"

if [ -z "${GLEANOR_E2E_UNDER_XVFB:-}" ]; then
  export GLEANOR_E2E_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$@"
fi

for f in src/win32/Gleanor.exe tests/wine/robot/robot.exe WNASPI32.dll; do
  [ -f "$BUILD/$f" ] || { echo "wine-e2e: $BUILD/$f is missing"; echo "wine-e2e: 0 passed, 1 failed"; exit 1; }
done

export WINEDEBUG=-all LC_ALL=C
export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"
WORK="$BUILD/wine-e2e"
rm -rf "$WORK"
mkdir -p "$WORK"
ROBOT_RUNS=0

. "$HERE/lib.sh"
. "$HERE/scenarios.sh"

make_prefix

ALL="$(declare -F | sed -n 's/^declare -f scenario_//p')"
WANTED="${*:-$ALL}"
passed=0
failed=0
for name in $WANTED; do
  start=$(date +%s)
  if ( set -u; "scenario_$name" ); then
    passed=$((passed + 1)); verdict=pass
  else
    failed=$((failed + 1)); verdict=FAIL
  fi
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  echo "  $verdict  $name ($(( $(date +%s) - start )) s)"
done
echo "wine-e2e: $passed passed, $failed failed"
[ $failed -eq 0 ]
