// Screenshot driver of the client manager (scripts/screenshots.sh runs it under Wine on a virtual
// display, once per language): prepares a token with certificates on the emulator named by the
// machine-wide setting, starts the client in the given language and brings it into each state
// to be pictured. For each picture it creates <dir>\request-<name> and waits until the script
// has taken the screenshot and created <dir>\done-<name>.
//   client_screens.exe DIR LANGUAGE_ID
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "../../common/shot_request.h"
#include "e2e_support.h"
#include "uk_tokensim_client.h"

using namespace e2e;

namespace {

std::wstring g_dir;

// Asks for a picture once the client's main window has finished painting.
bool Shoot(const wchar_t *name) {
  return shots::Request(g_dir, name, FindWindowW(L"DEZOda_client_main_dialog", nullptr));
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: client_screens DIR LANGUAGE_ID\n");
    return 2;
  }
  g_dir = argv[1];
  DWORD lang = wcstoul(argv[2], nullptr, 10);
  tokensim::Client sim;
  if (!sim.fromSetting()) {
    fwprintf(stderr, L"no emulator configured\n");
    return 1;
  }
  std::string serial = tokensim::uniqueSerial("SC", true);
  if (!sim.createToken(serial, {{"label", "ORV UKey"}})) return 1;
  std::string why;
  if (!PrepareToken(serial, "937260", "shots-" + serial, L"Zhang Wei", L"张伟", &why)) {
    fwprintf(stderr, L"token: %hs\n", why.c_str());
    sim.deleteToken(serial);
    return 1;
  }
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                  &lang, sizeof lang);
  HANDLE process = Start();
  int rc = 1;
  HWND main = nullptr, tree = nullptr;
  if (process && WaitFor([&] { return (main = FindWindowW(L"DEZOda_client_main_dialog", nullptr)) != nullptr; }) &&
      WaitFor([&] {
        tree = GetDlgItem(main, 1000);
        RemoteTree t(tree);
        return t.ok() && t.Lines().size() == 3;
      })) {
    SetCursorPos(5, 5);
    RemoteTree t(tree);
    HTREEITEM root = t.Next(nullptr, TVGN_ROOT);
    HTREEITEM sig = t.Next(t.Next(root, TVGN_CHILD), TVGN_NEXT);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(sig));
    Shoot(L"main-certificate");

    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, 0);
    Shoot(L"main-nothing-selected");

    // The tray menu, opened the way the notification area opens it.
    SetCursorPos(900, 740);
    WaitFor([] {
      POINT p;
      return GetCursorPos(&p) && p.x == 900 && p.y == 740;
    }, 2000);
    PostMessageW(main, RegisterWindowMessageW(L"WM_TRAYICON"), 222, WM_RBUTTONUP);
    if (WaitFor([&] { return IsWindowVisible(FindWindowW(L"#32768", nullptr)) != FALSE; }, 5000))
      Shoot(L"tray-menu");
    SendMessageW(main, WM_CANCELMODE, 0, 0);
    PostMessageW(FindWindowW(L"#32768", nullptr), WM_KEYDOWN, VK_ESCAPE, 0);
    WaitFor([&] { return !IsWindowVisible(FindWindowW(L"#32768", nullptr)); }, 5000);

    // A notice: the token selected, "Refresh" pressed in the command bar (third button).
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    HWND bar = GetDlgItem(main, 1001);
    LPARAM at = MAKELPARAM(60, 2 + 2 * 60 + 25);
    RECT br;
    GetWindowRect(bar, &br);
    SetCursorPos(br.left + 60, br.top + 2 + 2 * 60 + 25);
    SendMessageW(bar, WM_MOUSEMOVE, 0, at);
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(bar, WM_LBUTTONUP, 0, at);
    HWND notice = nullptr;
    // Fully out: visible and standing still (the stay phase between the two slides).
    RECT last{};
    if (WaitFor([&] {
          notice = FindWindowW(L"CNotifyWnd", nullptr);
          RECT r{};
          if (!notice || !IsWindowVisible(notice) || !GetWindowRect(notice, &r)) return false;
          bool still = memcmp(&r, &last, sizeof r) == 0 && r.bottom > r.top;
          last = r;
          Sleep(150);
          return still;
        }, 5000))
    {
      SetCursorPos(5, 5);
      Shoot(L"notice");
    }
    rc = 0;
  }
  if (main) PostMessageW(main, WM_COMMAND, 32776, 0);
  if (process) {
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
    CloseHandle(process);
  }
  sim.deleteToken(serial);
  HANDLE f = CreateFileW((g_dir + L"\\finished").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return rc;
}
