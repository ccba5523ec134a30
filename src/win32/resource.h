// Resource numbers and control IDs of Gleanor.exe (shared by the .rc file,
// the dialogs and the layout test).
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDS_SWEEPFIRST 103
#define IDR_MAINFRAME 128
#define IDD_README 131
#define IDD_FORCESIZE 135

#define IDM_ABOUTBOX 0x0010
#define IDM_SWEEPFIRST 0x0020

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Main dialog.
#define IDC_CLEAR 1000
#define IDC_IMPORT 1001
#define IDC_SOURCE_LIST 1006
#define IDC_LOAD 1012
#define IDC_EJECT 1013
#define IDC_PAUSE 1015
#define IDC_LOG 1016
#define IDC_START 1017
#define IDC_SHUTDOWN 1019
#define IDC_STAT_SECTORS 1020
#define IDC_CHANGE 1021
#define IDC_STAT_CURRENT 1022
#define IDC_STAT_READ 1023
#define IDC_STAT_MISSING 1024
#define IDC_STAT_SPEED 1025
#define IDC_STAT_ERRORS 1027
#define IDC_STAT_FAILURE 1028
#define IDC_STAT_TOTAL 1029
#define IDC_SOURCE_GROUP 1030
#define IDC_DEST_GROUP 1031
#define IDC_DEST_FOLDER 1033
#define IDC_LEVEL_NAME 1036
#define IDC_LEVEL_UP 1037
#define IDC_LEVEL_DOWN 1038
#define IDC_GIVEUP_NAME 1039
#define IDC_GIVEUP_LONGER 1040
#define IDC_GIVEUP_SHORTER 1041
#define IDC_PROGRESS_BAR 1046
#define IDC_EJECT_ON_COMPLETION 1051
#define IDC_CYCLE_TRAY 1053
#define IDC_ALLOW_COOLDOWN 1054
#define IDC_FORCE_SIZE 1055

// About dialog.
#define IDC_VIEW_README 1017
#define IDC_SEND_EMAIL 1052
#define IDC_HOMEPAGE 1053

// Read-me dialog.
#define IDC_README_LIST 1045

// Force Volume Size dialog.
#define IDC_SIZE_SOURCE 1054
#define IDC_SIZE_SECTORS 1056
#define IDC_SIZE_MB 1057
#define IDC_SIZE_DETAIL 1058
