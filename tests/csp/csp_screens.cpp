// Screenshot driver of the provider's dialogs (scripts/screenshots.sh runs it under Wine on a
// virtual display, once per language): shows every dialog of the provider, from the same
// templates and code as the provider DLL, in the given language. For each picture it creates
// <dir>\request-<name> and waits until the script has taken it and created <dir>\done-<name>.
//   csp_screens.exe DIR LANGUAGE_ID
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "../common/shot_request.h"
#include "dialogs_win.h"
#include "quiet_host.h"
#include "resource.h"
#include "win_dialog_driver.h"

using namespace cspui;

namespace {

std::wstring g_dir;

// Asks for a picture of the screen as it is now, once the window has finished painting.
bool Shoot(HWND window, const wchar_t *name) { return shots::Request(g_dir, name, window); }

// A modal dialog shown on this thread; the picture is taken and the dialog closed from another.
template <class Show>
void Modal(const wchar_t *name, int closeWith, Show show, const std::function<void(HWND)> &prepare = {}) {
  std::thread user([&] {
    HWND d = WaitDialog(nullptr);
    if (!d) return;
    if (prepare) prepare(d);
    Shoot(d, name);
    Click(d, closeWith);
  });
  show();
  user.join();
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: csp_screens DIR LANGUAGE_ID\n");
    return 2;
  }
  g_dir = argv[1];
  csptest::QuietHost host(wcstoul(argv[2], nullptr, 10));
  cspwin::WinDialogs dialogs(host);

  char pin[200];
  Modal(L"pin", IDCANCEL, [&] { dialogs.enterPin(pin, sizeof pin); },
        [](HWND d) { Type(GetDlgItem(d, IDC_PIN), L"4829"); });
  Modal(L"wrong-pin", IDOK, [&] { dialogs.askTwoButtons(16, 3); });
  Modal(L"default-pin", IDCANCEL, [&] { dialogs.askTwoButtons(27, 0); });
  Modal(L"cancel-pin", IDOK, [&] { dialogs.askTwoButtons(31, 0); });
  Modal(L"locked", IDOK, [&] { dialogs.tell(13); });
  Modal(L"insert-device", IDOK, [&] { dialogs.tell(12); });
  Modal(L"cancel-transaction", IDOK, [&] { dialogs.confirmCancel(); });
  const csp::DeviceChoice lines[] = {{"ORV UKey", "UKQ5711000042"}, {"ZV-UK Q57: 1 ", ""}};
  uint32_t chosen = 0;
  Modal(L"select-device", IDCANCEL, [&] { dialogs.selectDevice(lines, 2, &chosen); });

  struct Tip {
    csp::Modeless kind;
    const wchar_t *name;
  } tips[] = {{csp::Modeless::KeyGeneration, L"key-generation"},
              {csp::Modeless::SetPinOnDevice, L"set-pin-on-device"},
              {csp::Modeless::PinOnDevice, L"pin-on-device"},
              {csp::Modeless::ConfirmOnDevice, L"confirm-on-device"}};
  for (const Tip &t : tips) {
    uintptr_t w = dialogs.openWindow(t.kind);
    Shoot(FindDialog(nullptr), t.name);
    dialogs.closeWindow(w);
  }

  // The button confirmation with its animation running for a moment.
  std::atomic<uint32_t> cancel{0};
  uintptr_t w = dialogs.openConfirmation(&cancel);
  if (w) {
    Sleep(1200);
    Shoot(FindDialog(L" "), L"confirm");
    dialogs.closeConfirmation(w, 0);
  }

  HANDLE f = CreateFileW((g_dir + L"\\finished").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return 0;
}
