// Win32 skin: the host services the core needs (system version, per-device mutex, the client
// side of the brokered channel, progress messages).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "uk_channel.h"
#include "uk_platform.h"

namespace uk {
namespace {

constexpr DWORD kChannelMutexWaitMs = 50000;

enum class Wait { Answered, LoopGone, TimedOut, Failed };

// Waits for the answer event and, when the service has one, its loop mutex: the answer, or the
// loop gone (its mutex released or abandoned: taken here and given back at once), or no answer
// within kAnswerWaitMs.
Wait waitForAnswer(HANDLE ans, HANDLE loop) {
  HANDLE objects[2] = {ans, loop};
  DWORD w = WaitForMultipleObjects(loop ? 2 : 1, objects, FALSE, kAnswerWaitMs);
  if (w == WAIT_OBJECT_0) return Wait::Answered;
  if (loop && (w == WAIT_OBJECT_0 + 1 || w == WAIT_ABANDONED_0 + 1)) {
    ReleaseMutex(loop);
    return Wait::LoopGone;
  }
  return w == WAIT_TIMEOUT ? Wait::TimedOut : Wait::Failed;
}

// A request in the block that no loop will answer (its loop has gone) is marked as such, so that
// the next cycle does not wait for its answer: a restarted service finds the same block when
// clients kept it mapped.
void markRequestDead(uint8_t *view) { putLe32(view + 4, 0); }

// Called at the start of a cycle (channel mutex held). When the block still holds a request
// instead of an answer, the previous cycle ended without its answer: its client died (the mutex
// came back abandoned) or gave up waiting. If the service has not taken that request yet, it is
// taken back; if the service is serving it, its answer is awaited (and dropped) so that it cannot
// land on this cycle's request. False when the channel cannot be used now.
bool settlePreviousCycle(HANDLE req, HANDLE ans, HANDLE loop, uint8_t *view) {
  if (!holdsUnansweredRequest(view)) return true;
  if (WaitForSingleObject(req, 0) == WAIT_OBJECT_0) return true;  // never taken
  Wait w = waitForAnswer(ans, loop);
  if (w == Wait::Answered) return true;
  // The service is stuck on it, or its loop has gone: this cycle fails, and the next one does
  // not wait for that request again.
  if (w != Wait::Failed) markRequestDead(view);
  return false;
}

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
    DWORD w = WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), ms);
    // An abandoned mutex (its last owner died mid-exchange) counts as not obtained, but it is
    // owned now: give it back, or every other process would wait for it for ever.
    if (w == WAIT_ABANDONED) ReleaseMutex(reinterpret_cast<HANDLE>(mutex));
    return w == WAIT_OBJECT_0;
  }
  void releaseDeviceMutex(uintptr_t mutex) override {
    ReleaseMutex(reinterpret_cast<HANDLE>(mutex));
  }
  void closeDeviceMutex(uintptr_t mutex) override {
    if (mutex) CloseHandle(reinterpret_cast<HANDLE>(mutex));
  }

  int channelCycle(const uint8_t *request, uint32_t reqLen, uint8_t *answerBlock) override {
    if (reqLen > kBlockSize - kOwnerStampSize) return -1;
    // 1-2: the channel mutex serialises whole cycles between all client processes. An abandoned
    // mutex is ours all the same; the cycle its last owner left unfinished is settled below.
    HANDLE mutex = channelMutex();
    if (!mutex) return -1;
    DWORD w = WaitForSingleObject(mutex, kChannelMutexWaitMs);
    if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) return -1;

    // 3: the request event and the loop mutex are looked up for every cycle: when the request
    // event is missing the service is not running and the cycle fails at once (a service without
    // a loop mutex is waited for up to the time limit alone). The answer event and the block are
    // kept once found.
    int rc = -1;
    HANDLE req = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReqEventName);
    HANDLE ans = req ? answerEvent() : nullptr;
    uint8_t *view = ans ? sharedView() : nullptr;
    HANDLE loop = view ? OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kLoopMutexName)
                       : nullptr;

    if (view && settlePreviousCycle(req, ans, loop, view)) {
      // 4-6: request (with this process's owner stamp), signal, answer. An answer nobody took is
      // dropped first.
      ResetEvent(ans);
      memcpy(view, request, reqLen);
      stampOwner(view, kBlockSize, GetCurrentProcessId());
      SetEvent(req);
      switch (waitForAnswer(ans, loop)) {
        case Wait::Answered:
          memcpy(answerBlock, view, kBlockSize);
          rc = 0;
          break;
        case Wait::Failed:
          printf("Wait error: 0x%08x", static_cast<unsigned>(GetLastError()));
          break;
        case Wait::LoopGone:
          markRequestDead(view);
          break;
        case Wait::TimedOut:
          // The service may still answer it: the next cycle waits for that answer first.
          break;
      }
    }

    // 7: clean up.
    if (loop) CloseHandle(loop);
    if (req) CloseHandle(req);
    ReleaseMutex(mutex);
    return rc;
  }

  void sendProgress(void *window) override {
    SendMessageW(static_cast<HWND>(window), WM_USER + 5, 0, 0);
  }

 private:
  // The channel mutex, opened (or created, null DACL, inheritable) at the first cycle and kept
  // for the life of the process: opening a named object costs a system call per cycle.
  HANDLE channelMutex() {
    if (HANDLE m = mutex_) return m;
    HANDLE m = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kChannelMutexName);
    if (!m && GetLastError() == ERROR_FILE_NOT_FOUND) {
      OpenSecurity security;
      m = CreateMutexA(&security.sa, FALSE, kChannelMutexName);
    }
    if (!m) return nullptr;
    if (InterlockedCompareExchangePointer(&mutex_, m, nullptr) != nullptr) CloseHandle(m);
    return mutex_;
  }

  // The answer event, opened at the first cycle that finds the service (channel mutex held). A
  // restarted service creates the same name and so signals this very event.
  HANDLE answerEvent() {
    if (!ans_) ans_ = OpenEventA(EVENT_ALL_ACCESS, FALSE, kAnsEventName);
    return ans_;
  }

  // The shared block, mapped at the first cycle that finds the service and kept (called with the
  // channel mutex held). Keeping the mapping open does not hide a stopped service, since the
  // request event is looked up for every cycle; a restarted service opens the same mapping again.
  uint8_t *sharedView() {
    if (view_) return view_;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kMappingName);
    if (!mapping) return nullptr;
    auto *view =
        static_cast<uint8_t *>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    // A mapping of that name that is smaller than the block is not the service's.
    MEMORY_BASIC_INFORMATION info;
    if (view && (!VirtualQuery(view, &info, sizeof info) || info.RegionSize < kBlockSize)) {
      UnmapViewOfFile(view);
      view = nullptr;
    }
    if (!view) {
      CloseHandle(mapping);
      return nullptr;
    }
    mapping_ = mapping;
    view_ = view;
    return view_;
  }

  HANDLE volatile mutex_ = nullptr;
  HANDLE ans_ = nullptr;
  HANDLE mapping_ = nullptr;
  uint8_t *view_ = nullptr;
};

}  // namespace

Host *defaultHost() {
  static WinHost host;
  return &host;
}
}  // namespace uk
