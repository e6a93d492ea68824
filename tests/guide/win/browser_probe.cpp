// Stands in for Internet Explorer in the guide's Wine tests (copied over the prefix's
// iexplore.exe): records the command line it was started with, one line per start, in the file
// named by UK_BROWSER_LOG (default C:\uktest\browser.log), and ends.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t path[MAX_PATH] = L"C:\\uktest\\browser.log";
  GetEnvironmentVariableW(L"UK_BROWSER_LOG", path, MAX_PATH);
  std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  char utf8[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), utf8, sizeof utf8, nullptr, nullptr);
  HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(f, utf8, DWORD(n > 0 ? n : 0), &written, nullptr);
  CloseHandle(f);
  return 0;
}
