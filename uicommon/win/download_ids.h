// Resource identifiers of the download progress dialog (download_dlg.rc). The template is the
// same in every program; the ids of its two controls are each program's own.
#pragma once

#define IDD_UK_DOWNLOAD 30100
// The client manager's controls.
#define IDC_CLIENT_DOWNLOAD_TEXT 1058
#define IDC_CLIENT_DOWNLOAD_PROGRESS 1059
// The guide's controls.
#define IDC_GUIDE_DOWNLOAD_TEXT 1036
#define IDC_GUIDE_DOWNLOAD_PROGRESS 1037
