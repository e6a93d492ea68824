// Windows skin of ukeytool: the console (UTF-16 console output, PIN entry without echo, Ctrl+C),
// files by wide-character names, the device-exclusive mutex and the system code page.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "platform.h"
#include "stdio_file.h"
#include "tool.h"
#include "uk_tokenlib.h"

namespace {

volatile LONG g_armed = 0;
volatile LONG g_interrupted = 0;
volatile LONG g_echoOff = 0;
DWORD g_savedInputMode = 0;

std::wstring widen(const std::string &s, UINT cp) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::string narrow(const std::wstring &w, UINT cp) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

BOOL WINAPI onCtrl(DWORD type) {
  if (g_echoOff) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_savedInputMode);
    InterlockedExchange(&g_echoOff, 0);
  }
  if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && g_armed) {
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
  }
  return FALSE;
}

bool isConsole(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode);
}

void writeTo(DWORD which, const std::string &text) {
  HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return;
  if (isConsole(h)) {
    std::wstring w = widen(text, CP_UTF8);
    DWORD done = 0;
    WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &done, nullptr);
  } else {
    // Redirected: UTF-8 bytes, for scripts and log files.
    DWORD done = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  }
}

class WinPlatform : public ukt::Platform {
 public:
  ~WinPlatform() override {
    if (mutex_) CloseHandle(mutex_);
  }
  void out(const std::string &text) override { writeTo(STD_OUTPUT_HANDLE, text); }
  void err(const std::string &text) override { writeTo(STD_ERROR_HANDLE, text); }

  bool stdinIsConsole() override { return isConsole(GetStdHandle(STD_INPUT_HANDLE)); }

  bool readConsoleLine(const std::string &prompt, std::string &value, bool echo) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (!isConsole(in)) return false;
    err(prompt);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    if (!echo) {
      g_savedInputMode = mode;
      InterlockedExchange(&g_echoOff, 1);
      SetConsoleMode(in, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    }
    wchar_t buf[260];
    DWORD got = 0;
    BOOL ok = ReadConsoleW(in, buf, 259, &got, nullptr);
    if (!echo) {
      if (g_echoOff) SetConsoleMode(in, mode);
      InterlockedExchange(&g_echoOff, 0);
      err("\n");
    }
    if (!ok || got == 0 || g_interrupted) return false;
    std::wstring w(buf, got);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r')) w.pop_back();
    value = narrow(w, CP_UTF8);
    SecureZeroMemory(buf, sizeof buf);
    return true;
  }
  bool readSecret(const std::string &prompt, std::string &value) override {
    return readConsoleLine(prompt, value, false);
  }
  bool readLine(const std::string &prompt, std::string &value) override {
    return readConsoleLine(prompt, value, true);
  }
  bool readStdinLine(std::string &value) override {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    value.clear();
    if (in == INVALID_HANDLE_VALUE || in == nullptr) return false;
    bool any = false;
    for (;;) {
      char c;
      DWORD got = 0;
      if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0) return any;
      any = true;
      if (c == '\n') return true;
      value += c;
    }
  }

  bool readFile(const std::string &path, std::vector<uint8_t> &data, std::string &why) override {
    return ukt::readStream(_wfopen(widen(path, CP_UTF8).c_str(), L"rb"), data, why);
  }
  bool writeFile(const std::string &path, const std::vector<uint8_t> &data,
                 std::string &why) override {
    return ukt::writeStream(_wfopen(widen(path, CP_UTF8).c_str(), L"wb"), data, why);
  }

  ukt::DeviceLock lockDevices(uint32_t ms, std::string &why) override {
    if (!mutex_) mutex_ = CreateMutexA(nullptr, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX);
    if (!mutex_) mutex_ = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX);
    if (!mutex_) {
      char b[64];
      snprintf(b, sizeof b, "system error %lu", static_cast<unsigned long>(GetLastError()));
      why = b;
      return ukt::DeviceLock::Failed;
    }
    DWORD w = WaitForSingleObject(mutex_, ms);
    // An abandoned mutex is owned all the same; its previous holder has ended.
    if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) return ukt::DeviceLock::Taken;
    if (w == WAIT_TIMEOUT) return ukt::DeviceLock::Busy;
    char b[64];
    snprintf(b, sizeof b, "wait failed, system error %lu", static_cast<unsigned long>(GetLastError()));
    why = b;
    return ukt::DeviceLock::Failed;
  }
  void unlockDevices() override {
    if (mutex_) ReleaseMutex(mutex_);
  }

  void sleepMs(uint32_t ms) override { Sleep(ms); }
  std::string utcNow() override {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char b[32];
    snprintf(b, sizeof b, "%04u%02u%02u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return b;
  }

  void armInterrupt(bool armed) override {
    InterlockedExchange(&g_armed, armed ? 1 : 0);
    if (!armed) InterlockedExchange(&g_interrupted, 0);
  }
  bool interrupted() override { return g_interrupted != 0; }

  std::string toLocal(const std::string &utf8) override { return narrow(widen(utf8, CP_UTF8), CP_ACP); }
  std::string fromLocal(const std::string &local) override {
    return narrow(widen(local, CP_ACP), CP_UTF8);
  }

 private:
  HANDLE mutex_ = nullptr;
};

}  // namespace

int main() {
  SetConsoleCtrlHandler(onCtrl, TRUE);
  int argc = 0;
  LPWSTR *wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; wargv && i < argc; ++i) args.push_back(narrow(wargv[i], CP_UTF8));
  if (wargv) LocalFree(wargv);
  std::vector<const char *> argv;
  for (const std::string &a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  WinPlatform pf;
  int rc = ukt::runTool(static_cast<int>(args.size()), argv.data(), pf);
  return rc;
}
