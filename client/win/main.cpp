// ORV_KELM_Client.exe: the tray client manager. One instance per session; "/min" starts it in
// the notification area.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "client_host_win.h"
#include "client_text.h"
#include "instance_checker.h"
#include "main_dlg.h"
#include "shell_logic.h"
#include "ui_settings.h"

namespace {

// The language at start: the user's choice, then the system's languages.
int StartLanguage() {
  client::LanguageSources s;
  DWORD value = 0;
  s.hasRegistry = ui::ReadLanguageValue(&value);
  s.registry = value;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using LangFn = LANGID(WINAPI *)();
  for (const char *name : {"GetUserDefaultUILanguage", "GetSystemDefaultUILanguage"}) {
    auto fn = reinterpret_cast<LangFn>(reinterpret_cast<void *>(GetProcAddress(kernel, name)));
    if (fn) s.system.push_back(fn());
  }
  s.system.push_back(GetUserDefaultLangID());
  s.system.push_back(GetSystemDefaultLangID());
  return client::ChooseLanguage(s);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int show) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);

  ui::CMessageLoop loop;
  client::CInstanceChecker instance(L"ORV_DEZOda_client_main_dialog");
  if (instance.IsAnotherInstanceRunning()) return 0;
  if (!ui::RegisterDialogClass(L"DEZOda_client_main_dialog")) return 0;

  client::SetLanguageIndex(StartLanguage());
  client::WinClientHost host;
  client::SetClientHost(&host);

  int code = 0;
  {
    client::CMainDlg main(loop, host);
    if (!main.Create(nullptr)) return 0;
    instance.PublishMainWindow(main.m_hWnd);
    if (client::IsMinSwitch(commandLine ? commandLine : L"")) ShowWindow(main.m_hWnd, SW_HIDE);
    else ShowWindow(main.m_hWnd, show);
    code = loop.Run();
  }
  client::SetClientHost(nullptr);
  CoUninitialize();
  return code;
}
