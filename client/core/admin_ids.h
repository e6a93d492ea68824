/* Templates and controls of the administration dialogs: the PIN dialogs, the label and format
 * dialogs, and the certificate import. Plain macros, so that the resource compiler and the code
 * (which names the field to focus after a refused entry) share them. */
#pragma once

#define IDD_MODIFYPIN 215
#define IDD_IMPORT 218
#define IDD_INPUTPIN 226
#define IDD_RENAMELABEL 236
#define IDD_UNLOCKPIN 237
#define IDD_FORMAT 238
#define IDD_SELECTCERT 239

/* Change PIN */
#define IDC_MODIFY_CURRENT 1001
#define IDC_MODIFY_NEW 1002
#define IDC_MODIFY_CONFIRM 1003
#define IDC_MODIFY_CURRENT_LABEL 1013
#define IDC_MODIFY_NEW_LABEL 1014
#define IDC_MODIFY_CONFIRM_LABEL 1015
#define IDC_MODIFY_NOTE 1057

/* Import */
#define IDC_IMPORT_PATH 1004
#define IDC_IMPORT_PASSWORD 1005
#define IDC_IMPORT_BROWSE 1006
#define IDC_IMPORT_FILE_LABEL 1011
#define IDC_IMPORT_PASSWORD_LABEL 1012
#define IDC_IMPORT_FROM_FILE 1042
#define IDC_IMPORT_FROM_STORE 1043

/* PIN entry */
#define IDC_INPUT_PIN 1005
#define IDC_INPUT_PIN_LABEL 1056

/* Label */
#define IDC_LABEL_CAPTION 1021
#define IDC_LABEL_TEXT 1022

/* Unlock */
#define IDC_UNLOCK_ADMIN 1023
#define IDC_UNLOCK_ADMIN_LABEL 1024
#define IDC_UNLOCK_NEW 1026
#define IDC_UNLOCK_CONFIRM 1027
#define IDC_UNLOCK_NEW_LABEL 1029
#define IDC_UNLOCK_CONFIRM_LABEL 1030

/* Format */
#define IDC_FORMAT_DEVICE 1033
#define IDC_FORMAT_PROGRESS 1035
#define IDC_FORMAT_DEVICE_LABEL 1036
#define IDC_FORMAT_NOTE 1038
#define IDC_FORMAT_ADMIN_PIN 1044
#define IDC_FORMAT_GROUP 1045
#define IDC_FORMAT_USER_PIN_LABEL 1046
#define IDC_FORMAT_USER_RETRIES 1047
#define IDC_FORMAT_ADMIN_RETRIES 1048
#define IDC_FORMAT_USER_PIN 1049
#define IDC_FORMAT_USER_RETRIES_LABEL 1050
#define IDC_FORMAT_ADMIN_PIN_LABEL 1051
#define IDC_FORMAT_ADMIN_RETRIES_LABEL 1052

/* Certificate selection */
#define IDC_SELECT_VIEW 1054
#define IDC_SELECT_LIST 1055
