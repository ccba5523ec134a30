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
key 0x73
sleep 500
main "Gleanor 1.6" 1000
# Choosing the drive without a disc: Start goes away.
choose $SOURCE 0
wait-disabled $START 5000
wait-text 1030 "Not Ready" 5000
choose $SOURCE 1
wait-enabled $START 5000
click $EXIT
gone "Gleanor 1.6" 10000
EOT
  stop_program || { echo "    program did not end after Exit"; return 1; }
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
wait-log "Exit 0x7: Give Up" 180000
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
