// Screenshot driver of the client manager's download dialog (scripts/screenshots.sh runs it
// under Wine on a virtual display, once per language, with our HTTP test server named by
// UK_HTTP_DIR): publishes a newer version whose setup the server sends slowly, starts the client
// in the tray in the given language, waits until its start-up check shows the dialog in the
// middle of the transfer and asks for the picture (<dir>\request-download, then waits for
// <dir>\done-download). The client is ended before the setup arrives; nothing is started.
//   update_screens.exe DIR LANGUAGE_ID
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "../../common/shot_request.h"
#include "../../uicommon/win/http_test_support.h"

using namespace httptest;

namespace {

constexpr wchar_t kDeveloperKey[] = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";

struct Found {
  DWORD pid;
  HWND dialog;
};

// The client's download dialog: a dialog of that process with the progress text control.
BOOL CALLBACK FindDownloadDialog(HWND w, LPARAM p) {
  auto *f = reinterpret_cast<Found *>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t cls[16] = {0};
  GetClassNameW(w, cls, 16);
  if (pid == f->pid && !lstrcmpW(cls, L"#32770") && IsWindowVisible(w) && GetDlgItem(w, 1058)) {
    f->dialog = w;
    return FALSE;
  }
  return TRUE;
}

std::wstring ItemText(HWND dlg, int id) {
  wchar_t buf[256] = {0};
  SendMessageTimeoutW(GetDlgItem(dlg, id), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000,
                      nullptr);
  return buf;
}

// KiB done in the progress text ("...:      512k/3072k"), or 0.
unsigned Done(const std::wstring &text) {
  size_t k = text.find(L"k/");
  if (k == std::wstring::npos) return 0;
  size_t start = k;
  while (start > 0 && iswdigit(text[start - 1])) --start;
  return unsigned(wcstoul(text.substr(start, k - start).c_str(), nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: update_screens DIR LANGUAGE_ID\n");
    return 2;
  }
  std::wstring dir = argv[1];
  DWORD lang = wcstoul(argv[2], nullptr, 10);
  Server server;
  if (!server.Load()) {
    fwprintf(stderr, L"no HTTP test server (UK_HTTP_DIR)\n");
    return 1;
  }
  wchar_t common[MAX_PATH];
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
  std::wstring data = std::wstring(common) + L"\\ORVToken";
  auto clear = [&] {
    for (const auto &e : Entries(data)) DeleteFileW((data + L"\\" + e).c_str());
  };
  clear();

  // A version newer than any build; its setup takes a minute to arrive (3 MB, 20 ms per KiB).
  std::string ini = "[ORVClient]\r\nURL=http://127.0.0.1:" + std::to_string(server.port) +
                    "/gen/3145728/delay=20/ORV_ZV_Setup.exe\r\nversion=99.0.0.0\r\n";
  server.Put(L"/portal/zh_CN/upload/Attachment/version.ini", ini);
  wchar_t prev[256] = {0};
  DWORD size = sizeof prev;
  bool hadHost = RegGetValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", RRF_RT_REG_SZ, nullptr, prev,
                              &size) == ERROR_SUCCESS;
  std::wstring host = server.HostPort();
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", REG_SZ, host.c_str(),
                  DWORD((host.size() + 1) * sizeof(wchar_t)));
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD, &lang,
                  sizeof lang);

  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring exe = std::wstring(self, n);
  exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"ORV_KELM_Client.exe";
  std::wstring line = L"\"" + exe + L"\" /min";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  int rc = 1;
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    Found f{pi.dwProcessId, nullptr};
    // In the middle of the transfer: a few hundred KiB done.
    if (WaitFor([&] {
          f.dialog = nullptr;
          EnumWindows(FindDownloadDialog, reinterpret_cast<LPARAM>(&f));
          return f.dialog && Done(ItemText(f.dialog, 1058)) >= 300;
        }, 60000)) {
      SetCursorPos(5, 5);
      if (shots::Request(dir, L"download", f.dialog)) rc = 0;
    } else {
      fwprintf(stderr, L"no download dialog in the middle of the transfer\n");
    }
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
  }
  if (hadHost)
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", REG_SZ, prev,
                    DWORD((lstrlenW(prev) + 1) * sizeof(wchar_t)));
  else
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost");
  // The ended client's files (the partial download) go once its handles are gone.
  WaitFor([&] {
    clear();
    return Entries(data).empty();
  }, 10000);
  WriteAll(dir + L"\\finished", "");
  return rc;
}
