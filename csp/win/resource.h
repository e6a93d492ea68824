// Resource identifiers of the provider's dialogs, pictures and icon.
#pragma once

// Dialogs.
#define IDD_CONFIRM_ON_DEVICE 101   // modeless: "Please confirm transaction on device!"
#define IDD_KEY_GENERATION 102      // modeless: "Generating RSA key pair. Please wait..."
#define IDD_MESSAGE_TWO 103         // modal message with two buttons
#define IDD_MESSAGE_ONE 104         // modal message with one button
#define IDD_PIN_ON_DEVICE 105       // modeless: the PIN set or typed on the device
#define IDD_PIN 106                 // modal PIN entry
#define IDD_SELECT_DEVICE 107       // modal device selection
#define IDD_BUTTON_CONFIRM 108      // modeless button confirmation, on its own thread
#define IDD_CANCEL_CONFIRM 111      // modal "cancel the transaction?"

// Pictures.
#define IDB_BANNER 121
#define IDR_CONFIRM_GIF 122
#define IDI_PROVIDER 130

// Controls.
#define IDC_TEXT 1001
#define IDC_PIN 1002
#define IDC_DEVICES 1003
#define IDC_PICTURE 1005
#define IDC_SERIAL 1006
#define IDC_SERIAL_LABEL 1007
#define IDC_PRESS_TEXT 1008

// The command the polling thread sends the button confirmation with the signing result.
#define IDC_SIGNING_DONE 4369
