// Resource and control ids of the stub, shared by the code and the resource
// script (which is why this header holds nothing but #defines).
#pragma once

#define IDI_PROGRAM 102
#define IDD_DESTINATION 103

// Destination dialog.
#define IDC_FOLDER 1000
#define IDC_BROWSE 1001
#define IDC_START_MENU 1002
#define IDC_DESKTOP 1003
#define IDC_SEND_TO 1004

// Progress window.
#define IDC_ABORT 1017

// String table: the texts of another language (app/texts.h). Absent from
// the built stub, whose texts are its own Japanese ones.
#define IDS_CANNOT_CREATE_FOLDER 1
#define IDS_FOLDER_EXISTS 2
#define IDS_DAMAGED_FORMAT 3
#define IDS_WRITE_FAILED 4
#define IDS_UNKNOWN_HEADER 5
#define IDS_USAGE 6
#define IDS_ABORT 7
#define IDS_ASK_ABORT 8
#define IDS_BROWSE_TITLE 9
#define IDS_DAMAGED_FOLDER_FORMAT 10

// Installer mode (app/installer.h): a string table block of its own (ids 16
// to 31), which the builder adds for `make --run`.
#define IDS_RUN_PROGRAM 16
#define IDS_RUN_ARGUMENTS 17
