// Plays the user at the provider's dialogs: finds a dialog of this process by its title, reads
// its texts, types and clicks (SendMessage, bounded waits). Header-only, Windows tests and the
// screenshot driver.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace cspui {

// Polls pred every 20 ms until it holds or ms pass.
inline bool WaitFor(const std::function<bool()> &pred, DWORD ms = 20000) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
}

// A visible dialog of this process with this title (any title when null).
inline HWND FindDialog(const wchar_t *title) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
       w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) continue;
    if (!title) return w;
    wchar_t text[256] = {0};
    GetWindowTextW(w, text, 256);
    if (std::wstring(text) == title) return w;
  }
  return nullptr;
}

// A dialog of this process that has a control with this id and text (the dialogs of one title,
// e.g. "Tip", are told apart by their texts).
inline HWND FindDialogWithText(int id, const std::wstring &text) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
       w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) continue;
    HWND item = GetDlgItem(w, id);
    if (!item) continue;
    wchar_t buf[512] = {0};
    SendMessageW(item, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf));
    if (text == buf) return w;
  }
  return nullptr;
}

inline HWND WaitDialog(const wchar_t *title, DWORD ms = 20000) {
  HWND w = nullptr;
  WaitFor([&] { return (w = FindDialog(title)) != nullptr; }, ms);
  return w;
}

inline std::wstring Text(HWND w) {
  wchar_t buf[1024] = {0};
  SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buf;
}
inline std::wstring ItemText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }

// Types characters into a control as the keyboard would (the edit's own limits apply).
inline void Type(HWND edit, const wchar_t *chars) {
  for (const wchar_t *c = chars; *c; ++c) SendMessageW(edit, WM_CHAR, *c, 1);
}

// Presses a button of a dialog.
inline void Click(HWND dlg, int id) {
  HWND b = GetDlgItem(dlg, id);
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
}

// The control that has the keyboard focus in the thread of a window.
inline HWND FocusOf(HWND w) {
  GUITHREADINFO gi{};
  gi.cbSize = sizeof gi;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &gi)) return nullptr;
  return gi.hwndFocus;
}

inline std::string Utf8(const std::wstring &w) {
  char buf[2048] = {0};
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
  return buf;
}

}  // namespace cspui
