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
