// ORV_Guide.exe: the first-use guide. One instance at a time; the exit code tells how it ended:
// 1 finished, 2 cancelled, 0 another guide was running.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "guide_config.h"
#include "main_dlg.h"
#include "ui_loop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int show) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);

  HANDLE instance = CreateMutexW(nullptr, TRUE, guide::kInstanceMutex);
  if (!instance || GetLastError() == ERROR_ALREADY_EXISTS) {
    if (instance) CloseHandle(instance);
    CoUninitialize();
    return 0;
  }
  if (!ui::RegisterDialogClass(L"ORV_Guide_Main")) return 0;

  // The main window lives as long as the process: a step worker may still be blocked in a step
  // (a setup that runs, a wait for an event) when the guide ends, and ends with the process.
  ui::CMessageLoop loop;
  guide::CMainDlg *window = new guide::CMainDlg(loop);
  if (!window->Create(nullptr)) return 0;
  ShowWindow(window->m_hWnd, show);
  int code = loop.Run();
  CoUninitialize();
  return code;
}
