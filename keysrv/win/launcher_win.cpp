// Client launcher: starts the client manager in the session of the user's shell.
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <tlhelp32.h>

#include "keysrv_win.h"

namespace uk {
namespace keysrv {

bool clientPath(char *out, size_t cap) {
  static const char kSuffix[] = "\\ORVToken\\KELM\\ORV_KELM_Client.exe";
  LPITEMIDLIST pidl = nullptr;
  if (FAILED(SHGetFolderLocation(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, &pidl)) || !pidl)
    return false;
  char folder[MAX_PATH] = {0};
  BOOL ok = SHGetPathFromIDListA(pidl, folder);
  CoTaskMemFree(pidl);
  if (!ok) return false;
  size_t n = strlen(folder);
  if (n + sizeof(kSuffix) > cap) return false;
  memcpy(out, folder, n);
  memcpy(out + n, kSuffix, sizeof(kSuffix));
  return true;
}

HANDLE openShellToken() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return nullptr;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof(entry);
  HANDLE token = nullptr;
  for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry)) {
    char name[MAX_PATH];
    lstrcpynA(name, entry.szExeFile, MAX_PATH);
    CharUpperA(name);
    if (lstrcmpA(name, "EXPLORER.EXE") != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
    if (process) {
      if (!OpenProcessToken(process, TOKEN_ALL_ACCESS, &token)) token = nullptr;
      CloseHandle(process);
    }
    break;  // only the first shell process is considered
  }
  CloseHandle(snap);
  return token;
}

bool launchAsUser(HANDLE token, const char *app) {
  char commandLine[] = " /min";
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof(pi));
  if (!CreateProcessAsUserA(token, app, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                            nullptr, nullptr, &si, &pi))
    return false;
  // Not waited on; the handles are only released.
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

void launchClient() {
  char path[MAX_PATH + 64];
  if (!clientPath(path, sizeof(path))) return;
  HANDLE token = openShellToken();
  if (!token) return;
  launchAsUser(token, path);
  CloseHandle(token);
}

}  // namespace keysrv
}  // namespace uk
