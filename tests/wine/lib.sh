# Helpers of the end-to-end tests: a throw-away wine prefix, one folder per
# scenario with its own copy of Gleanor.exe (so each has its own INI), and the
# robot that operates the program from outside.

winpath() {  # /a/b -> Z:\a\b
  printf 'Z:%s' "$1" | tr '/' '\\'
}

make_prefix() {
  export WINEPREFIX="$WORK/prefix"
  local root
  root="$(cd "$HERE/../.." && pwd)"
  . "$HERE/prefix.sh"
  base_prefix "$WINEPREFIX"
  # Without a window manager wine stalls ~2 s whenever a window hides.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
}

# new_scenario NAME [nodll]: a fresh folder with the program (and the simulated DLL).
new_scenario() {
  DIR="$WORK/$1"
  rm -rf "$DIR"
  mkdir -p "$DIR/out"
  cp "$BUILD/src/win32/Gleanor.exe" "$DIR/"
  [ "${2:-}" = nodll ] || cp "$BUILD/WNASPI32.dll" "$DIR/WNASPI32.DLL"
  : >"$DIR/trace.txt"
}

# profile NAME LINES...: a simulated disc profile in the scenario folder.
profile() {
  local name="$1"; shift
  printf '%s\n' "$@" >"$DIR/$name.sim"
}

# start_program PROFILE...: Gleanor.exe with the given simulated drives.
start_program() {
  local list="" p
  for p in "$@"; do list="${list:+$list;}$(winpath "$DIR/$p.sim")"; done
  ( cd "$DIR" && GLEANOR_SIM="$list" GLEANOR_SIM_CLOCK="${SIM_CLOCK-virtual}" GLEANOR_SIM_TRACE="$(winpath "$DIR/trace.txt")" \
      GLEANOR_POWEROFF_MARKER="$(winpath "$DIR/poweroff.txt")" \
      exec wine "$DIR/Gleanor.exe" >"$DIR/program.log" 2>&1 ) &
  PROGRAM_PID=$!
}

# robot SCRIPT-TEXT: runs the robot on a script given on standard input.
robot() {
  local n=$((ROBOT_RUNS += 1))
  cat >"$DIR/script$n.txt"
  wine "$BUILD/tests/wine/robot/robot.exe" "$(winpath "$DIR/script$n.txt")" >"$DIR/robot$n.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || { echo "    robot script $n failed:"; sed 's/^/    /' "$DIR/robot$n.log" | head -60; }
  return $rc
}

# Ends the program if it is still running; true when it had ended by itself.
stop_program() {
  local ended=0 i
  for i in $(seq 1 ${1:-20}); do
    kill -0 "$PROGRAM_PID" 2>/dev/null || { ended=1; break; }
    sleep 0.25
  done
  if [ $ended -eq 0 ]; then
    wineserver -k 2>/dev/null
    wait "$PROGRAM_PID" 2>/dev/null
  fi
  [ $ended -eq 1 ]
}

check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then return 0; fi
  echo "    check failed: $what"
  return 1
}

# make_disc FILE SECTORS LABEL: random content with a volume label in sector 16.
make_disc() {
  python3 - "$@" <<'PY'
import os, sys
path, sectors, label = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = bytearray(os.urandom(sectors * 2048))
pvd = 16 * 2048
data[pvd:pvd + 8] = b"\x01CD001\x01\x00"
data[pvd + 40:pvd + 72] = label.encode().ljust(32)
open(path, "wb").write(data)
PY
}

# write_ini FOLDER [RECORD-HEX] [EXTRA-LINE]: the settings file beside the program,
# with the keys of the user wine runs as.
write_ini() {
  local user; user="$(id -un)"
  {
    printf '[Gleanor]\r\n%sFolder=%s\r\n' "$user" "$1"
    [ -n "${2:-}" ] && printf '%sSetting=%s\r\n' "$user" "$2"
    [ -n "${3:-}" ] && printf '%s\r\n' "$3"
  } >"$DIR/Gleanor.ini"
}

# record LEVEL CYCLE COOLDOWN EJECT: the 8-byte settings record as the INI holds it.
record() {
  python3 -c "
import sys
b = bytes([$1 & 255, ($1 >> 8) & 255, ($1 >> 16) & 255, ($1 >> 24) & 255, $2, $3, $4, 0])
print(''.join('%02X' % x for x in b) + '%02X' % (sum(b) % 256))"
}

image_set() { python3 "$HERE/make_image_set.py" "$@"; }
