// Win32 skin: the host services the core needs (system version, per-device mutex, the client
// side of the brokered channel, progress messages).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "uk_platform.h"

namespace uk {
namespace {

const char kChannelMutex[] = "Global\\REDODIV_MUTEX_KELM_ORV";
const char kReqEvent[] = "Global\\REDODIV-REQ-EVENT-KELM_ORV";
const char kAnsEvent[] = "Global\\REDODIV-ANS-EVENT-KELM_ORV";
const char kMapping[] = "Global\\REDODIV-MAPFILE-KELM_ORV";
constexpr DWORD kChannelMutexWaitMs = 50000;

// The system version, the extended record first and the plain one if that fails.
bool systemVersion(DWORD *platform, DWORD *major) {
  OSVERSIONINFOEXA ex;
  memset(&ex, 0, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&ex))) {
    *platform = ex.dwPlatformId;
    *major = ex.dwMajorVersion;
    return true;
  }
  OSVERSIONINFOA plain;
  memset(&plain, 0, sizeof plain);
  plain.dwOSVersionInfoSize = sizeof plain;
  if (!GetVersionExA(&plain)) return false;
  *platform = plain.dwPlatformId;
  *major = plain.dwMajorVersion;
  return true;
}

// A null DACL: every process may open the object.
struct OpenSecurity {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  OpenSecurity() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = TRUE;
  }
};

class WinHost : public Host {
 public:
  bool isNtFamily() override { return !(GetVersion() & 0x80000000u); }

  bool useBrokeredChannel() override {
    DWORD platform = 0, major = 0;
    if (!systemVersion(&platform, &major)) return false;
    return platform == VER_PLATFORM_WIN32_NT && major > 5;
  }

  MutexFailure openDeviceMutex(const char *name, uintptr_t *mutex, uint32_t *error) override {
    HANDLE h = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    if (!h) {
      DWORD err = GetLastError();
      if (err != ERROR_FILE_NOT_FOUND) {
        *error = err;
        return MutexFailure::Open;
      }
      h = CreateMutexA(nullptr, FALSE, name);
      if (!h) {
        *error = GetLastError();
        return MutexFailure::Create;
      }
    }
    *mutex = reinterpret_cast<uintptr_t>(h);
    return MutexFailure::None;
  }

  bool waitDeviceMutex(uintptr_t mutex, uint32_t ms) override {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), ms) == WAIT_OBJECT_0;
  }
  void releaseDeviceMutex(uintptr_t mutex) override {
    ReleaseMutex(reinterpret_cast<HANDLE>(mutex));
  }
  void closeDeviceMutex(uintptr_t mutex) override {
    if (mutex) CloseHandle(reinterpret_cast<HANDLE>(mutex));
  }

  int channelCycle(const uint8_t *request, uint32_t reqLen, uint8_t *answerBlock) override {
    if (reqLen > kBlockSize) return -1;
    // 1-2: the channel mutex serialises whole cycles between all client processes.
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kChannelMutex);
    if (!mutex && GetLastError() == ERROR_FILE_NOT_FOUND) {
      OpenSecurity security;
      mutex = CreateMutexA(&security.sa, FALSE, kChannelMutex);
    }
    if (!mutex) return -1;
    if (WaitForSingleObject(mutex, kChannelMutexWaitMs) != WAIT_OBJECT_0) {
      CloseHandle(mutex);
      return -1;
    }

    // 3: the service's objects. Missing ones mean the service is not running.
    int rc = -1;
    HANDLE req = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReqEvent);
    HANDLE ans = req ? OpenEventA(EVENT_ALL_ACCESS, FALSE, kAnsEvent) : nullptr;
    HANDLE mapping = ans ? OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kMapping)
                         : nullptr;
    uint8_t *view = mapping ? static_cast<uint8_t *>(
                                  MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0))
                            : nullptr;
    // A mapping of that name that is smaller than the block is not the service's.
    MEMORY_BASIC_INFORMATION info;
    if (view && (!VirtualQuery(view, &info, sizeof info) || info.RegionSize < kBlockSize)) {
      UnmapViewOfFile(view);
      view = nullptr;
    }

    if (view) {
      // 4-6: request, signal, answer.
      memcpy(view, request, reqLen);
      SetEvent(req);
      if (WaitForSingleObject(ans, INFINITE) == WAIT_OBJECT_0) {
        memcpy(answerBlock, view, kBlockSize);
        rc = 0;
      } else {
        printf("Wait error: 0x%08x", static_cast<unsigned>(GetLastError()));
      }
    }

    // 7: clean up.
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    if (ans) CloseHandle(ans);
    if (req) CloseHandle(req);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return rc;
  }

  void sendProgress(void *window) override {
    SendMessageW(static_cast<HWND>(window), WM_USER + 5, 0, 0);
  }
};

}  // namespace

Host *defaultHost() {
  static WinHost host;
  return &host;
}
}  // namespace uk
