// Screenshot driver of the client manager (scripts/screenshots.sh runs it under Wine on a virtual
// display, once per language): prepares a token with certificates on the emulator named by the
// machine-wide setting, starts the client in the given language and brings it into each state
// to be pictured. For each picture it creates <dir>\request-<name> and waits until the script
// has taken the screenshot and created <dir>\done-<name>.
//   client_screens.exe DIR LANGUAGE_ID
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>

#include "../../common/shot_request.h"
#include "e2e_support.h"
#include "uk_tokensim_client.h"

using namespace e2e;

namespace {

std::wstring g_dir;

// Asks for a picture once the client's window has finished painting: the dialog that shows, if
// one is given, else the main window.
bool Shoot(const wchar_t *name, HWND dialog = nullptr) {
  return shots::Request(g_dir, name, dialog ? dialog : FindWindowW(L"DEZOda_client_main_dialog", nullptr));
}

// The dialog of the client that takes the input now: a visible, enabled "#32770" window of the
// process (an owner is disabled while its modal child runs), other than `except`.
HWND ActiveDialog(DWORD pid, HWND except = nullptr) {
  HWND found = nullptr;
  WaitFor([&] {
    for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p == pid && w != except && IsWindowVisible(w) && IsWindowEnabled(w)) {
        found = w;
        return true;
      }
    }
    return false;
  }, 10000);
  return found;
}

// Cancels a dialog and waits until it has gone.
void Dismiss(HWND dlg, int button = IDCANCEL) {
  if (!dlg) return;
  Click(dlg, button);
  WaitGone(dlg);
}

// Opens a command of the selected node the way its context menu does (40000 + the command's
// index), takes the picture of the dialog it shows (after `fill` typed into it) and cancels it.
void ShootCommand(HWND main, DWORD pid, UINT index, const wchar_t *name,
                  const std::function<void(HWND)> &fill = nullptr) {
  PostMessageW(main, WM_COMMAND, 40000 + index, 0);
  HWND dlg = ActiveDialog(pid);
  if (!dlg) {
    fwprintf(stderr, L"%ls: no dialog\n", name);
    return;
  }
  if (fill) fill(dlg);
  Shoot(name, dlg);
  Dismiss(dlg);
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

    // The administration dialogs of the token, with a few characters in their PIN fields.
    // The refresh above built the tree anew: its items are found again.
    DWORD pid = GetProcessId(process);
    RemoteTree now(tree);
    root = now.Next(nullptr, TVGN_ROOT);
    sig = now.Next(now.Next(root, TVGN_CHILD), TVGN_NEXT);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    auto pins = [](std::initializer_list<int> ids) {
      return [ids](HWND dlg) {
        for (int id : ids) Type(GetDlgItem(dlg, id), L"123456");
      };
    };
    ShootCommand(main, pid, 0, L"modify-pin", pins({1001, 1002}));
    ShootCommand(main, pid, 12, L"modify-admin-pin", pins({1001}));
    ShootCommand(main, pid, 11, L"unlock-pin", pins({1023}));
    ShootCommand(main, pid, 8, L"label");
    ShootCommand(main, pid, 9, L"format");
    ShootCommand(main, pid, 2, L"import");

    // The certificate list of the user's store (it holds the certificates the client registered),
    // opened from the import dialog with its second choice.
    PostMessageW(main, WM_COMMAND, 40000 + 2, 0);
    if (HWND import = ActiveDialog(pid)) {
      Click(import, 1043);
      Click(import, IDOK);
      if (HWND select = ActiveDialog(pid, import)) {
        HWND list = GetDlgItem(select, 1055);
        WaitFor([&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0; }, 5000);
        Shoot(L"select-certificate", select);
        Dismiss(select);
      }
      Dismiss(import);
    }

    // The PIN dialog, as deleting a certificate asks for it (after the question, answered Yes).
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(sig));
    PostMessageW(main, WM_COMMAND, 40000 + 10, 0);
    if (HWND ask = ActiveDialog(pid)) {
      Shoot(L"delete-question", ask);
      Dismiss(ask, IDYES);
      if (HWND pin = ActiveDialog(pid, ask)) {
        Type(GetDlgItem(pin, 1005), L"123");
        Shoot(L"user-pin", pin);
        Dismiss(pin);
      }
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
