// Stands in for a setup program in the tests of the download and the software update: it only
// records that it was started. It appends a line "<its own path>|<its command line>" to the file
// named by UK_PROBE_LOG (or, without it, to "<its own path>.started") and exits with 0.
// Built twice (update_probe.exe, update_probe_b.exe, differing in UK_PROBE_NAME) so that a
// signature can be moved from one program to another.
#include <windows.h>

#ifndef UK_PROBE_NAME
#define UK_PROBE_NAME L"a"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t log[MAX_PATH] = {0};
  if (!GetEnvironmentVariableW(L"UK_PROBE_LOG", log, MAX_PATH)) {
    lstrcpynW(log, self, MAX_PATH - 9);
    lstrcatW(log, L".started");
  }
  HANDLE f = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  wchar_t line[1025];  // wsprintfW writes at most 1024 characters
  wsprintfW(line, L"%s|%s|%s\r\n", self, GetCommandLineW(), UK_PROBE_NAME);
  char utf8[4 * 1025];
  int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
  DWORD written = 0;
  if (n > 1) WriteFile(f, utf8, DWORD(n - 1), &written, nullptr);
  CloseHandle(f);
  return 0;
}
