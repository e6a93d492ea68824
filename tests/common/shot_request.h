// The screenshot drivers' side of scripts/screenshots.sh: a driver asks for a picture of the
// screen by creating <dir>\request-<name> and goes on once the script has taken it and created
// <dir>\done-<name> (at most 30 seconds).
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

namespace shots {

inline bool Exists(const std::wstring &p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

// settle: a window whose painting is finished first (painted now, then an empty message round
// trip to its thread), or null.
inline bool Request(const std::wstring &dir, const wchar_t *name, HWND settle) {
  DWORD_PTR r;
  if (settle) {
    RedrawWindow(settle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageTimeoutW(settle, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r);
  }
  const std::wstring req = dir + L"\\request-" + name, done = dir + L"\\done-" + name;
  DeleteFileW(done.c_str());
  HANDLE f = CreateFileW(req.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  bool ok = false;
  for (ULONGLONG end = GetTickCount64() + 30000; !(ok = Exists(done)) && GetTickCount64() < end;) Sleep(20);
  DeleteFileW(done.c_str());
  fwprintf(stderr, L"%ls: %ls\n", name, ok ? L"taken" : L"no answer");
  return ok;
}

}  // namespace shots
