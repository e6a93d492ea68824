#include "host_win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "ui_kernel_objects.h"

namespace cspwin {

namespace {

void writeClientValue(const char *value, const char *text) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), DWORD(strlen(text) + 1));
  RegCloseKey(key);
}

void appendLog(const char *line) {
  FILE *f = fopen(kLogFile, "a");
  if (!f) return;
  fputs(line, f);
  fclose(f);
}

}  // namespace

WinHost::WinHost() {
  deviceMutex_ = ui::CreateSharedMutex(UK_DEVICE_EXCLUSIVE_MUTEX);
  certEvent_ = ui::CreateSharedEvent(kCertChangeEventName, true);
  InitializeCriticalSection(&objects_);
  // The log is written only where its folder exists; looking once spares every entry point a
  // failing file open on machines without it.
  DWORD attrs = GetFileAttributesA(kLogFolder);
  logging_ = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

WinHost::~WinHost() {
  if (deviceMutex_) CloseHandle(deviceMutex_);
  if (certEvent_) CloseHandle(certEvent_);
  DeleteCriticalSection(&objects_);
}

void WinHost::lockDevice() {
  // No time-out; an abandoned or failed wait is not an error (the sequence runs anyway).
  if (deviceMutex_) WaitForSingleObject(deviceMutex_, INFINITE);
}

void WinHost::unlockDevice() {
  if (deviceMutex_) ReleaseMutex(deviceMutex_);
}

void WinHost::lockObjects() { EnterCriticalSection(&objects_); }
void WinHost::unlockObjects() { LeaveCriticalSection(&objects_); }

void WinHost::signalCertificateChange() {
  if (certEvent_) SetEvent(certEvent_);
}

void WinHost::saveLastConnectDevice(const char *name) { writeClientValue("LastConnectDevice", name); }
void WinHost::saveLastContainerName(const char *name) { writeClientValue("LastContainerName", name); }

bool WinHost::userName(char *buf, size_t cap) {
  DWORD size = DWORD(cap);
  return GetUserNameA(buf, &size) != FALSE;
}

uint32_t WinHost::languageId() {
  uint32_t language = 1033;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    DWORD type = 0, value = 0, size = sizeof value;
    LONG rc = RegQueryValueExA(key, "Language", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value) return value;
  }
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  for (const char *name : {"GetUserDefaultUILanguage", "GetSystemDefaultUILanguage", "GetUserDefaultLangID"}) {
    FARPROC f = kernel ? GetProcAddress(kernel, name) : nullptr;
    if (f) return reinterpret_cast<LANGID(WINAPI *)()>(reinterpret_cast<void *>(f))();
  }
  if (GetVersion() & 0x80000000u) {  // Windows 9x
    char text[32] = {0};
    LONG size = sizeof text;
    if (RegQueryValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", text, &size) ==
        ERROR_SUCCESS)
      language = uint32_t(strtoul(text, nullptr, 16));
  }
  return language;
}

void WinHost::logLine(const char *text) {
  if (!logging_) return;
  SYSTEMTIME t;
  GetSystemTime(&t);
  char line[512];
  snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d  %s\n", t.wYear, t.wMonth, t.wDay,
           t.wHour, t.wMinute, t.wSecond, text);
  appendLog(line);
}

void WinHost::logValue(uint32_t value) {
  if (!logging_) return;
  char line[16];
  snprintf(line, sizeof line, "0x%08x\n", unsigned(value));
  appendLog(line);
}

namespace {

struct ThreadCall {
  uint32_t (*body)(void *);
  void *arg;
};

DWORD WINAPI threadMain(void *p) {
  const ThreadCall *call = static_cast<const ThreadCall *>(p);
  return call->body(call->arg);
}

}  // namespace

bool WinHost::runThread(uint32_t (*body)(void *), void *arg, uint32_t *exitCode) {
  ThreadCall call{body, arg};
  HANDLE thread = CreateThread(nullptr, 0, threadMain, &call, 0, nullptr);
  if (!thread) return false;
  DWORD code = 0;
  const bool ok = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 &&
                  GetExitCodeThread(thread, &code) && code != STILL_ACTIVE;
  CloseHandle(thread);
  if (ok) *exitCode = code;
  return ok;
}

void WinHost::pause(uint32_t milliseconds) { Sleep(milliseconds); }

void addModuleDirectoryToPath(HMODULE module) {
  char file[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, file, sizeof file);
  if (n == 0 || n >= sizeof file) return;
  char *slash = strrchr(file, '\\');
  if (!slash) return;
  *slash = 0;
  const char *dir = file;

  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                    0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;  // an unprivileged process leaves the machine's settings alone
  char path[5000 + MAX_PATH + 2] = {0};
  DWORD type = 0, size = 5000;
  if (RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE *>(path), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    RegCloseKey(key);
    return;
  }
  path[size < 5000 ? size : 5000] = 0;
  // Already there: one of the ";"-separated entries is the directory (case does not matter).
  const size_t dirLen = strlen(dir);
  for (const char *p = path; *p;) {
    const char *end = strchr(p, ';');
    size_t len = end ? size_t(end - p) : strlen(p);
    if (len == dirLen && _strnicmp(p, dir, len) == 0) {
      RegCloseKey(key);
      return;
    }
    if (!end) break;
    p = end + 1;
  }
  size_t used = strlen(path);
  if (used && path[used - 1] != ';') path[used++] = ';';
  memcpy(path + used, dir, dirLen + 1);
  RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE *>(path), DWORD(used + dirLen + 1));
  RegCloseKey(key);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                      SMTO_ABORTIFHUNG, 2000, &result);
}

}  // namespace cspwin
