// Resource and control identifiers of ORV_Guide.exe.
#pragma once

// Dialog templates.
#define IDD_STEP_SOFTWARE 202
#define IDD_STEP_PIN 203
#define IDD_STEP_CERTIFICATE 204
#define IDD_MAIN 210
#define IDD_STEP_EXIT 223
#define IDD_DETAILS 232

// Main window: the four step buttons (the finish button is IDOK).
#define IDC_STEP_SOFTWARE 1009
#define IDC_STEP_PIN 1010
#define IDC_STEP_CERTIFICATE 1011
#define IDC_STEP_EXIT 1

// Step-1 page.
#define IDC_SOFT_STATUS 1017
#define IDC_SOFT_PROGRESS 1027
#define IDC_SOFT_RECHECK 1003
#define IDC_SOFT_DETAILS 1005

// Step-2 page.
#define IDC_PIN_OLD 1001
#define IDC_PIN_NEW 1013
#define IDC_PIN_CONFIRM 1002
#define IDC_PIN_OK 1003
#define IDC_PIN_STATUS 1019
#define IDC_PIN_OLD_LABEL 1033
#define IDC_PIN_NEW_LABEL 1024
#define IDC_PIN_CONFIRM_LABEL 1025
#define IDC_PIN_HINT 1026

// Step-3 page.
#define IDC_CERT_STATUS 1018
#define IDC_CERT_DOWNLOAD 1001

// Step-4 page.
#define IDC_EXIT_TEXT 1029
#define IDC_EXIT_BUTTON_A 1003
#define IDC_EXIT_BUTTON_B 1004

// Detail window.
#define IDC_DETAIL_LIST 1030
#define IDC_DETAIL_OK 1031

// Artwork (guide/art, made by guide/art/make_guide_art.py).
#define IDI_GUIDE 128
#define IDB_BANNER 301
#define IDB_STEP_STRIP 302
#define IDB_PAGE 303
// Step buttons: base + 4 * family (0 English, 1 Chinese) + 8 * highlighted, + step (0..3).
#define IDB_STEP_FIRST 311
#define IDB_RECHECK_EN 331
#define IDB_RECHECK_ZH 332
#define IDB_STATE_DONE 341
#define IDB_STATE_REPAIRING 342
#define IDB_STATE_FAILED 343
