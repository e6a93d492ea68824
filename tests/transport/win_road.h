// Helpers of the Windows road tests: child processes, the broker host, finding the emulator's
// token in a listing, and the child modes every road test program offers.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "uk_test_main.h"
#include "uk_tokenlib.h"

namespace road {

inline std::string selfPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}
inline std::string binDir() {
  std::string p = selfPath();
  return p.substr(0, p.find_last_of("\\/") + 1);
}

// Starts a program (command line quoted by the caller); the process handle, or null.
inline HANDLE spawn(const std::string &commandLine) {
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::string cmd = commandLine;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}
inline DWORD waitExit(HANDLE process, DWORD ms = 60000) {
  DWORD code = 0xDEAD;
  if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  else TerminateProcess(process, 0xDEAD);
  CloseHandle(process);
  return code;
}

inline bool ntAboveFive() {
  OSVERSIONINFOA v;
  ZeroMemory(&v, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5;
}

// Lists the tokens and returns (in *found) the record whose USB path carries the serial.
inline uint32_t findToken(const std::string &serial, UK_DEV_INFO *found) {
  static UK_DEV_INFO devs[8];
  memset(devs, 0, sizeof devs);
  uint32_t count = 8;
  uint32_t rc = zksTokenListDevices(UK_PROJECT_NAME, devs, &count);
  if (rc) return rc;
  std::string needle = "#" + serial + "#";
  for (uint32_t i = 0; i < count && i < 8; ++i) {
    std::string path = devs[i].devicePath;
    for (char &c : path) c = char(tolower((unsigned char)c));
    std::string lower = needle;
    for (char &c : lower) c = char(tolower((unsigned char)c));
    if (path.find(lower) != std::string::npos) {
      *found = devs[i];
      return 0;
    }
  }
  return 0xFFFF;
}

// n get-challenge exchanges on a connected record; the number that failed.
inline int challenges(UK_DEV_INFO *dev, int n) {
  int failed = 0;
  for (int i = 0; i < n; ++i) {
    uint8_t buf[64] = {0x00, 0x84, 0x00, 0x00, 0x08};
    uint32_t len = sizeof buf;
    if (zksTokenTransmit(dev, 1, 5, buf, &len, 0, 0, 0) != 0 || len != 12 || buf[10] != 0x90)
      ++failed;
  }
  return failed;
}

// Child modes, selected by the first argument:
//   --hold-mutex NAME READY_EVENT MS   takes the named mutex, sets READY_EVENT, holds it MS ms
//   --abandon-mutex NAME               takes the named mutex and exits holding it
//   --exchange SERIAL N                lists, connects, runs N get-challenges; exit code = failures
// Returns -1 when the arguments name no child mode.
inline int childMain(int argc, char **argv) {
  if (argc >= 5 && strcmp(argv[1], "--hold-mutex") == 0) {
    HANDLE m = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, argv[2]);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!m || !ready || WaitForSingleObject(m, 10000) != WAIT_OBJECT_0) return 2;
    SetEvent(ready);
    Sleep(DWORD(atoi(argv[4])));
    ReleaseMutex(m);
    return 0;
  }
  if (argc >= 3 && strcmp(argv[1], "--abandon-mutex") == 0) {
    // Takes the mutex and ends without releasing it.
    HANDLE m = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, argv[2]);
    if (!m || WaitForSingleObject(m, 10000) != WAIT_OBJECT_0) return 2;
    ExitProcess(0);
  }
  if (argc >= 4 && strcmp(argv[1], "--exchange") == 0) {
    UK_DEV_INFO dev;
    if (findToken(argv[2], &dev) != 0) return 200;
    if (zksTokenConnect(&dev, 0) != 0) return 201;
    int failed = challenges(&dev, atoi(argv[3]));
    zksTokenDisconnect(&dev);
    return failed;
  }
  return -1;
}

}  // namespace road

#define ROAD_TEST_MAIN                                   \
  int main(int argc, char **argv) {                      \
    int child = road::childMain(argc, argv);             \
    if (child >= 0) return child;                        \
    return uktest::runAll(&argc, argv);                  \
  }
