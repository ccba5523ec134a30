# The scenarios: each function sets up a folder, starts Gleanor.exe, lets the
# robot operate it and checks what the program left on disk.

# Status slot controls and buttons of the main dialog.
SOURCE=1006; START=1017; PAUSE=1015; EXIT=1; FORCE=1055; IMPORT=1001; CHANGE=1021
LEVEL=1036; LEVEL_UP=1037; LEVEL_DOWN=1038; GIVEUP=1039; LONGER=1040; SHORTER=1041
CYCLE=1053; COOLDOWN=1054; EJECT_DONE=1051; SHUTDOWN=1019; LOG=1016; DEST=1033

scenario_startup_two_drives() {
  new_scenario startup_two_drives
  profile empty "disc no" "product EMPTY DVD"
  profile ready "label READYDISC" "sectors 2000" "product READY DVD"
  start_program empty ready
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
combo $SOURCE 2 1
combo-line $SOURCE 0 "EMPTY DVD"
combo-line $SOURCE 1 "READY DVD"
wait-text 1030 READYDISC 10000
wait-enabled $START 5000
enabled $FORCE
disabled $PAUSE
text $DEST "C:\\"
text $LEVEL Normal
text $GIVEUP "Never Give Up"
checked $CYCLE 0
checked $COOLDOWN 1
checked $EJECT_DONE 0
checked $SHUTDOWN 0
# Esc, the close box and Alt+F4 leave the dialog open.
key 27
sysmenu 0xF060
alt-key 0x73
sleep 500
main "Gleanor 1.6" 1000
# Choosing the drive without a disc: Start goes away.
choose $SOURCE 0
wait-disabled $START 5000
wait-text 1030 "Not Ready" 5000
choose $SOURCE 1
wait-enabled $START 5000
# "Ej" opens the tray of the source drive, "Ld" closes it again.
click 1013
wait-text 1030 "Not Ready" 5000
disabled $START
click 1012
wait-text 1030 READYDISC 10000
wait-enabled $START 5000
# "Clear" empties the log window; the next line is its first.
click 1000
lines $LOG 0
click $EXIT
gone "Gleanor 1.6" 10000
EOT
  stop_program || { echo "    program did not end after Exit"; return 1; }
  check "tray opened and closed" grep -q '1B 00 00 00 03 00' "$DIR/trace.txt" || return 1
  check "settings written" grep -q 'Folder=C:\\' "$DIR/Gleanor.ini"
}

scenario_startup_no_drives() {
  new_scenario startup_no_drives
  start_program
  robot <<EOT || return 1
answer "Error No Drives" ok "No drives detected." 20000
main "Gleanor 1.6"
combo $SOURCE 0 -1
disabled $START
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

scenario_startup_no_dll() {
  new_scenario startup_no_dll nodll
  WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=" start_program
  robot <<EOT || return 1
answer "Error FS 002" ok "WNASPI32.DLL not found." 20000
answer "Error No Drives" ok "No drives detected."
main "Gleanor 1.6"
combo $SOURCE 0 -1
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# A damaged disc: the image dialog answered, counters and title moving, Pause,
# Start resuming, then a give-up time that ends the copy; the image is then
# compared with the disc for every sector the flag file marks read.
scenario_copy_pause_resume_give_up() {
  new_scenario copy_pause_resume_give_up
  make_disc "$DIR/disc.bin" 6000 DAMAGED
  # Each failed read costs 2 s, so a minute of failure comes soon.
  profile damaged "label DAMAGED" "sectors 6000" "image disc.bin" "bad 4000-4019" "sector_us 1500" "seed 3" \
    "error_ms 2000"
  SIM_CLOCK=real start_program damaged
  local iso; iso="$(winpath "$DIR/out/DAMAGED.iso")"
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
checked $CYCLE 0
click $START
open-file Open "$iso" 20000
wait-enabled $PAUSE 10000
# Options change the running copy: no cooldowns, and eject when it ends.
tick $COOLDOWN 0
tick $EJECT_DONE 1
disabled $START
disabled $EXIT
disabled $CHANGE
disabled $IMPORT
disabled $SOURCE
wait-title "% DAMAGED" 10000
wait-change 1023 5000
wait-change 1022 5000
click $PAUSE
wait-log "User Break" 10000
wait-enabled $START 10000
disabled $PAUSE
enabled $EXIT
click $START
open-file Open "$iso" 20000
wait-enabled $PAUSE 10000
click $SHORTER
click $SHORTER
click $SHORTER
click $SHORTER
click $SHORTER
text $GIVEUP "Try 1 Minute"
click $LONGER
text $GIVEUP "Try 10 Minutes"
click $SHORTER
wait-log "Exit 0x7: Give Up" 300000
# The tray opened on completion: no disc is ready for another Start.
wait-enabled $EXIT 10000
wait-text 1030 "Not Ready" 10000
disabled $START
disabled $PAUSE
title-has "Gleanor 1.6"
click $EXIT
gone "Gleanor 1.6" 10000
EOT
  stop_program
  check "tray opened on completion" grep -q '^.*1B 00 00 00 02 00 -> GOOD' "$DIR/trace.txt"
  check "options saved" grep -q 'Setting=0000000000000100' "$DIR/Gleanor.ini"
  check "image equals the disc where read" python3 "$HERE/check_image.py" "$DIR/out/DAMAGED.iso" "$DIR/out/DAMAGED.flg" \
    "$DIR/disc.bin" --missing 4000-4019 --min-read 5900
}

# Settings restored from an INI the test writes: folder, options, and the
# level rules (a saved level above Verbose comes back as Verbose; a
# "DebugLevel" key wins; a damaged record gives the defaults). Exit writes them.
scenario_settings_restored_and_saved() {
  new_scenario settings_restored_and_saved
  profile clean "label CLEAN" "sectors 500"
  local dest; dest="$(winpath "$DIR/out")\\"
  write_ini "$dest" "$(record 4 1 0 1)"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
text $DEST "$dest"
checked $CYCLE 1
checked $COOLDOWN 0
checked $EJECT_DONE 1
checked $SHUTDOWN 0
text $LEVEL Verbose
click $LEVEL_UP
text $LEVEL Detail
click $LEVEL_UP
click $LEVEL_UP
text $LEVEL Debug
click $LEVEL_UP
text $LEVEL Debug
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "level 4 and the options saved" grep -q "Setting=$(record 4 1 0 1)" "$DIR/Gleanor.ini" || return 1
  check "folder saved" grep -qF "Folder=$dest" "$DIR/Gleanor.ini" || return 1

  # "DebugLevel" set by hand wins over the record.
  printf 'DebugLevel=3\r\n' >>"$DIR/Gleanor.ini"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
text $LEVEL Detail+
click $LEVEL_DOWN
click $LEVEL_DOWN
click $LEVEL_DOWN
click $LEVEL_DOWN
text $LEVEL Normal
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "DebugLevel never written back" test "$(grep -c DebugLevel "$DIR/Gleanor.ini")" = 1 || return 1

  # A record whose checksum no longer matches: the defaults apply.
  local rec; rec="$(record 1 1 0 1)"
  write_ini "$dest" "${rec%??}00"  # the byte sum is 03
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
checked $CYCLE 0
checked $COOLDOWN 1
checked $EJECT_DONE 0
text $LEVEL Normal
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# The About box from the system menu, and the read-me dialog opened from it.
scenario_about_and_readme() {
  new_scenario about_and_readme
  profile clean "label CLEAN" "sectors 500"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
sysmenu 16
use "About Gleanor"
text 1052 "Send Email: gleanor@example.org"
click 1017
use "Gleanor ReadMe"
lines 1045 156
line 1045 1 "=                    GLEANOR  Version 1.6                ="
line 1045 155 " "
click 1
gone "Gleanor ReadMe"
use "About Gleanor"
click 1
gone "About Gleanor"
use-main
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# The system menu's sweep switch: the classic copy by default, the sweep
# first once it is ticked (for the next copy), kept per user under a key of
# its own; ticked again, it is off.
scenario_strategy_switch() {
  new_scenario strategy_switch
  profile clean "label CLEAN" "sectors 500"
  local dest; dest="$(winpath "$DIR/out")\\"
  local iso; iso="$(winpath "$DIR/out/CLEAN.iso")"
  write_ini "$dest" "$(record 1 0 1 0)"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
click $START
open-file Open "$iso" 20000
wait-log "Exit 0x0: Ok" 60000
# 499: the copy's size is the disc's last block address.
log-has "Loop 1 Read 499 Errors 0"
log-lacks "Sweep 1 "
sysmenu 32
wait-enabled $START 10000
click $START
open-file Open "$iso" 20000
wait-log "Sweep 1 Read 0 Errors 0" 60000
wait-enabled $EXIT 10000
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "strategy saved" grep -q "$(id -un)Strategy=1" "$DIR/Gleanor.ini" || return 1
  check "the record unchanged" grep -q "Setting=$(record 1 0 1 0)" "$DIR/Gleanor.ini" || return 1
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
sysmenu 32
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "switched off" grep -q "$(id -un)Strategy=0" "$DIR/Gleanor.ini"
}

# A finished copy with "Shutdown" ticked (and "Eject" clear) reaches the
# power-off seam, saves the settings and ends the program; the tray stays shut.
scenario_shutdown_on_completion() {
  new_scenario shutdown_on_completion
  make_disc "$DIR/disc.bin" 800 CLEAN
  profile clean "sectors 800" "image disc.bin"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
tick $SHUTDOWN 1
click $START
open-file Open "$(winpath "$DIR/out/CLEAN.iso")" 20000
gone "Gleanor 1.6" 60000
EOT
  stop_program 40 || { echo "    program did not end"; return 1; }
  check "power-off seam reached" grep -q "power-off requested" "$DIR/poweroff.txt" || return 1
  check "settings saved" grep -q "Setting=" "$DIR/Gleanor.ini" || return 1
  check "no eject" bash -c "! grep -q '1B 00 00 00 02 00' '$DIR/trace.txt'" || return 1
  check "image complete" python3 "$HERE/check_image.py" "$DIR/out/CLEAN.iso" "$DIR/out/CLEAN.flg" "$DIR/disc.bin" \
    --min-read 799 || return 1  # the drive's last LBA is the count copied
  # "Shutdown" starts cleared again.
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
checked $SHUTDOWN 0
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# The questions of a copy's start, answered both ways where they have two.
scenario_copy_questions() {
  new_scenario copy_questions
  make_disc "$DIR/disc.bin" 1000 QUEST
  profile q "sectors 1000" "image disc.bin"
  # Low space: a disc larger than the free space of the destination.
  local free_mb; free_mb=$(df -Pm "$DIR/out" | awk 'NR==2 {print $4}')
  profile huge "label HUGE" "sectors $(( (free_mb + 300) * 512 ))"
  profile odd "label ODD" "sectors 1000" "block_length 2352"
  # An image set made with another size, and one with a damaged header.
  image_set "$DIR/out/MISMATCH.flg" 1234 --image "$DIR/disc.bin" "$DIR/out/MISMATCH.iso"
  image_set "$DIR/out/DAMAGEDHDR.flg" 999 --missing 0-998 --bad-checksum --image "$DIR/disc.bin" "$DIR/out/DAMAGEDHDR.iso"
  local out; out="$(winpath "$DIR/out")"
  start_program q huge odd
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
choose $SOURCE 1
wait-text 1030 HUGE 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\HUGE.iso" 20000
answer "Low Disk Space !" no "Continue anyway ?"
wait-log "Exit 0xa: Abort LowDiskSpace" 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\HUGE.iso" 20000
answer "Low Disk Space !" yes "Continue anyway ?"
wait-enabled $PAUSE 20000
click $PAUSE
wait-log "User Break" 20000
wait-enabled $START 10000

choose $SOURCE 0
wait-text 1030 QUEST 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\MISMATCH.iso" 20000
answer "Sectornumber Mismatch !" ok "Expected sectors:"
wait-log "Sectornumber Mismatch" 10000
wait-log "Exit 0x9: CheckHeader *.flg" 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\DAMAGEDHDR.iso" 20000
answer "Failed Header Check!" no "Ignore Checksum Error ?"
wait-log "Fail Header Check *.flg" 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\DAMAGEDHDR.iso" 20000
answer "Failed Header Check!" yes "Ignore Checksum Error ?"
wait-log "Exit 0x0: Ok" 60000
wait-enabled $EXIT 10000

choose $SOURCE 2
wait-text 1030 ODD 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\ODD.iso" 20000
answer "Unexpected Sectorsize!" cancel "Force 2048 Byte Sectors ?"
wait-log "Cancel on ForceSectorSize" 10000
wait-enabled $START 10000
click $START
open-file Open "$out\\ODD.iso" 20000
answer "Unexpected Sectorsize!" yes "Force 2048 Byte Sectors ?"
wait-log "Force SectorSize 2048" 10000
wait-enabled $EXIT 60000
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
  check "damaged header copy completed" python3 "$HERE/check_image.py" "$DIR/out/DAMAGEDHDR.iso" \
    "$DIR/out/DAMAGEDHDR.flg" "$DIR/disc.bin" --min-read 999
}

# Force Size with each source: the drive's value, a flag file's (good and
# damaged header), the estimate and a typed value; Cancel changes nothing.
scenario_force_size_sources() {
  new_scenario force_size_sources
  # The drive reports far too small a size; the estimate finds the real one.
  profile disc "label FORCE" "sectors 3000" "capacity 999"
  image_set "$DIR/out/OTHER.flg" 2500 --missing 0-2499
  image_set "$DIR/out/BROKEN.flg" 2600 --missing 0-2599 --bad-checksum
  local out; out="$(winpath "$DIR/out")"
  write_ini "$out\\"
  start_program disc
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $FORCE 10000
click $FORCE
use "Force Volume Size" 10000
combo 1054 4 0
text 1056 999
text 1057 1
disabled 1056
disabled 1057
text 1058 ""
click 1
gone "Force Volume Size"
use-main
wait-log "Disksize changed to" 5000
log-has "Drive Reported"
log-has "(999 Sectors)"

click $FORCE
use "Force Volume Size" 10000
choose 1054 1
# The flag file's Open dialog belongs to Force Volume Size, which waits for it.
use Open 20000
use "Force Volume Size"
blocked 1054
open-file Open "$out\\OTHER.flg" 20000
text 1056 2500
text 1057 4
text 1058 OTHER.flg
choose 1054 1
open-file Open "$out\\BROKEN.flg" 20000
answer "Failed Header Check!" no "Ignore Checksum Error ?"
text 1056 0
text 1058 ""
choose 1054 1
open-file Open "$out\\BROKEN.flg" 20000
answer "Failed Header Check!" yes
text 1056 2600
text 1058 BROKEN.flg
choose 1054 1
cancel-window Open 20000
text 1056 999
text 1058 ""
choose 1054 2
text 1056 2999
text 1057 5
choose 1054 3
enabled 1056
enabled 1057
focus 1057
settext 1057 700
text 1056 358400
focus 1056
settext 1056 1234567
text 1057 2411
click 2
gone "Force Volume Size"
use-main
log-lacks "1234567"

click $FORCE
use "Force Volume Size" 10000
choose 1054 3
focus 1056
settext 1056 2800
click 1
gone "Force Volume Size"
use-main
wait-log "(2800 Sectors)" 5000
log-has "-- Free --"
wait-text 1030 "FORCE" 5000
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# Two machines: a copy given only the flag file collects the missing sectors
# into an import file; "Import File" on the first machine's image set merges it.
scenario_import_from_export() {
  new_scenario import_from_export
  make_disc "$DIR/disc.bin" 2000 TWOMACH
  profile disc "sectors 2000" "image disc.bin"
  mkdir -p "$DIR/first" "$DIR/second"
  image_set "$DIR/first/TWOMACH.flg" 1999 --missing 300-499 --missing 1700-1749 \
    --image "$DIR/disc.bin" "$DIR/first/TWOMACH.iso"
  cp "$DIR/first/TWOMACH.flg" "$DIR/second/"
  local first second; first="$(winpath "$DIR/first")"; second="$(winpath "$DIR/second")"
  write_ini "$second\\"
  start_program disc
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
click $START
open-file Open "$second\\TWOMACH.iso" 20000
wait-log "Exit 0x0: Ok" 60000
wait-enabled $EXIT 10000
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "export made an import file and no image" test -s "$DIR/second/TWOMACH.imp" -a ! -e "$DIR/second/TWOMACH.iso" \
    || return 1
  write_ini "$first\\"
  start_program disc
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
text $DEST "$first\\"
click $IMPORT
open-file Open "$second\\TWOMACH.imp" 20000
wait-log "250 Sectors imported" 30000
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program || return 1
  check "merged image complete" python3 "$HERE/check_image.py" "$DIR/first/TWOMACH.iso" "$DIR/first/TWOMACH.flg" \
    "$DIR/disc.bin" --min-read 1999
}

# While the Import File dialog is open the main dialog takes no input: Start,
# pressed then, starts no copy on the image set that the merge is about to use.
scenario_start_blocked_while_choosing_import() {
  new_scenario start_blocked_while_choosing_import
  profile clean "label BLOCKED" "sectors 500"
  start_program clean
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
click $IMPORT
use Open 20000
use-main
try-click $START
sleep 1500
disabled $PAUSE
cancel-window Open 10000
no-window Open 1000
log-lacks "Exit 0x"
enabled $START
click $EXIT
gone "Gleanor 1.6"
EOT
  stop_program
}

# The progress bar's colours in a screenshot of its canvas during a copy:
# visited cells dark blue, cells with a read error red.
scenario_progress_bar_colours() {
  new_scenario progress_bar_colours
  make_disc "$DIR/disc.bin" 6000 COLOURS
  profile disc "sectors 6000" "image disc.bin" "bad 1500-1899" "sector_us 1000" "error_ms 50"
  SIM_CLOCK=real start_program disc
  robot <<EOT || return 1
main "Gleanor 1.6" 20000
wait-enabled $START 10000
tick $COOLDOWN 0
click $START
open-file Open "$(winpath "$DIR/out/COLOURS.iso")" 20000
wait-number 1027 1 30000
# A higher level shows more of the running copy at once: its skips.
log-lacks "Skipping"
click $LEVEL_UP
click $LEVEL_UP
click $LEVEL_UP
text $LEVEL Detail+
wait-log "Skipping" 20000
wait-number 1022 2500 30000
rect 1046 "$(winpath "$DIR/canvas.txt")"
EOT
  read -r l t r b < <(tr -d '\r' <"$DIR/canvas.txt")
  # The bar proper: the canvas without its frame and margin (3, 3, 2, 4).
  # The whole screen is kept too, to look at the program as a user sees it.
  xwd -root -silent >"$DIR/screen.xwd"
  convert "$DIR/screen.xwd" "$DIR/screen.png"
  convert "$DIR/screen.xwd" -crop "$((r - l - 5))x$((b - t - 7))+$((l + 3))+$((t + 3))" +repage "$DIR/canvas.png"
  rm -f "$DIR/screen.xwd"
  convert "$DIR/canvas.png" -format %c histogram:info:- >"$DIR/colours.txt"
  check "dark blue cells" grep -qi '#00007F' "$DIR/colours.txt" || return 1
  check "red cells" grep -qi '#FF0000' "$DIR/colours.txt" || return 1
  check "white read position" grep -qi '#FFFFFF' "$DIR/colours.txt" || return 1
  check "cells not yet visited in the face colour" test "$(wc -l <"$DIR/colours.txt")" = 4
}

# A damaged disc's copy ends naming its files: the summary at level 0, the
# damaged file at level 1, every file in LABEL.files.txt. "Extract Files…"
# (its folder answered through GLEANOR_EXTRACT_FOLDER) writes the complete ones.
scenario_files_after_copy_and_extract() {
  new_scenario files_after_copy_and_extract
  profile damaged "label SNAPSHOTS" "sectors 300" "file Photos/a.jpg 20000" "file Photos/b.jpg 400000" \
    "file Docs/c.txt 5000" "bad 150-160" "error_ms 2000"
  # The real clock: the simulated drive's DLL keeps a clock of its own, so under
  # the virtual one its failed reads would cost the program no time. Each failed
  # read costs 2 s, so a minute of failure comes soon.
  SIM_CLOCK=real GLEANOR_EXTRACT_FOLDER="$(winpath "$DIR/files")" start_program damaged
  robot <<EOT || return 1
main "Gleanor 1.6" 60000
wait-enabled $START 10000
click $LEVEL_UP
click $SHORTER
click $SHORTER
click $SHORTER
click $SHORTER
click $SHORTER
text $GIVEUP "Try 1 Minute"
click $START
open-file Open "$(winpath "$DIR/out/SNAPSHOTS.iso")" 20000
wait-log "Exit 0x7: Give Up" 300000
wait-log "files: 2 complete, 1 damaged, 0 unknown" 20000
log-has "/Photos/b.jpg  400,000 bytes  missing 11 sectors, 22,528 bytes (5.6 %)"
wait-enabled $EXIT 10000
sysmenu 48
wait-log "Extract Files: 2 written, 0 already there, 1 left out" 20000
log-has "left out: /Photos/b.jpg  missing 11 sectors"
click $EXIT
gone "Gleanor 1.6" 10000
EOT
  stop_program || return 1
  check "the list holds the damaged file" grep -q '^/Photos/b.jpg  400,000 bytes  missing 11 sectors' \
    "$DIR/out/SNAPSHOTS.files.txt" || return 1
  check "the list holds a complete file" grep -q '^/Docs/c.txt  5,000 bytes  complete' "$DIR/out/SNAPSHOTS.files.txt" || return 1
  check "complete files extracted" test "$(stat -c %s "$DIR/files/Photos/a.jpg" "$DIR/files/Docs/c.txt")" = "$(printf '20000\n5000')" || return 1
  check "the damaged file left out" test ! -e "$DIR/files/Photos/b.jpg"
}
