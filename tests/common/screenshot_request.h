// The screenshot drivers' half of scripts/screenshots.sh: a driver that has brought a program into
// the state to be pictured creates <dir>\request-<name>; the script takes the picture and creates
// <dir>\done-<name>, which the driver waits for (at most 30 s) before it goes on.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

namespace shots {

inline bool RequestScreenshot(const std::wstring &dir, const wchar_t *name) {
  std::wstring req = dir + L"\\request-" + name, done = dir + L"\\done-" + name;
  DeleteFileW(done.c_str());
  HANDLE f = CreateFileW(req.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  bool ok = false;
  for (ULONGLONG end = GetTickCount64() + 30000; !ok && GetTickCount64() < end;) {
    ok = GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!ok) Sleep(20);
  }
  DeleteFileW(done.c_str());
  fwprintf(stderr, L"%ls: %ls\n", name, ok ? L"taken" : L"no answer");
  return ok;
}

}  // namespace shots
