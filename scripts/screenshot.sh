#!/bin/bash
# Takes a screenshot of Gleanor.exe's main dialog during a copy of the demo's
# scratched simulated disc, under Xvfb and wine, into docs/screenshot.png.
#
#   scripts/screenshot.sh BUILD_WIN_DIR [OUTPUT.png]
set -eu
BUILD="$(cd "${1:?usage: screenshot.sh BUILD_WIN_DIR [OUTPUT.png]}" && pwd)"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUTPUT="${2:-$ROOT/docs/screenshot.png}"

if [ -z "${GLEANOR_SHOT_UNDER_XVFB:-}" ]; then
  export GLEANOR_SHOT_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$OUTPUT"
fi

export WINEDEBUG=-all LC_ALL=C WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"
HERE="$ROOT/tests/wine"
WORK="$BUILD/screenshot"
rm -rf "$WORK"
mkdir -p "$WORK"
ROBOT_RUNS=0
. "$HERE/lib.sh"
make_prefix
# Every program of the prefix in one virtual desktop, which draws captions.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null 2>&1
wineserver -w
new_scenario shot
cp "$ROOT/examples/scratched.sim" "$DIR/"
# A destination as a user would choose it, not a folder of this machine.
mkdir -p "$WINEPREFIX/drive_c/Rescue"

# The robot starts a copy of the scratched disc.
SIM_CLOCK=real start_program scratched
robot <<EOT || { echo "screenshot: the robot failed"; exit 1; }
main "Gleanor 1.6" 30000
wait-enabled 1017 20000
click 1037
click 1017
open-file Open "C:\\Rescue\\HOLIDAY_2009.iso" 20000
wait-title "% HOLIDAY_2009" 20000
sleep 8000
EOT
# The dialog fills the top left of the desktop.
xwd -root -silent | convert xwd:- -crop 468x344+0+0 +repage "$OUTPUT"
wineserver -k
echo "screenshot: $OUTPUT"
