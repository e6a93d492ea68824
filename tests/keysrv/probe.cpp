// Stand-in for programs the key service starts: with "wait" it just stays alive; otherwise it
// writes its command line and start-up show state to the file named by UK_PROBE_OUT.
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main() {
  const char *cmd = GetCommandLineA();
  if (strstr(cmd, " wait")) {
    Sleep(60000);
    return 0;
  }
  char out[MAX_PATH];
  if (!GetEnvironmentVariableA("UK_PROBE_OUT", out, MAX_PATH)) return 2;
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  char text[512];
  int n = snprintf(text, sizeof(text), "cmdline=%s|flags=%lu|show=%u\n", cmd,
                   static_cast<unsigned long>(si.dwFlags & STARTF_USESHOWWINDOW),
                   static_cast<unsigned>(si.wShowWindow));
  HANDLE f = CreateFileA(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 3;
  DWORD written;
  WriteFile(f, text, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(f);
  return 0;
}
