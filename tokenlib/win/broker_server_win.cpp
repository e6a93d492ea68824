// The key service's side of the brokered channel: the shared kernel objects and the request
// loop. Requests are handled by the portable serveRequest with the bus in use.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "uk_broker_server.h"
#include "uk_channel.h"
#include "uk_tokenlib.h"

namespace uk {
namespace {

const char kLowIntegrityLabel[] = "S:(ML;;NW;;;LW)";
// How long a starting loop waits for the loop mutex when it already exists: a client that saw
// the previous loop end holds it only for the instant it takes to give it back.
constexpr DWORD kLoopMutexTakeMs = 5000;

void debugOut(const char *text) { OutputDebugStringA(text); }

// The low mandatory label, so that low-integrity processes (a protected-mode browser) can open
// the object. Returns false when the label could not be applied.
bool applyLowIntegrityLabel(HANDLE object) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLowIntegrityLabel, SDDL_REVISION_1,
                                                            &sd, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  bool ok = false;
  if (GetSecurityDescriptorSacl(sd, &present, &sacl, &defaulted) && present)
    ok = SetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                         nullptr, sacl) == ERROR_SUCCESS;
  LocalFree(sd);
  return ok;
}

// The clients' processes, watched through handles that only allow waiting on them.
class WinClientWatch : public ClientWatch {
 public:
  uintptr_t watch(uint32_t pid) override {
    return reinterpret_cast<uintptr_t>(OpenProcess(SYNCHRONIZE, FALSE, pid));
  }
  bool ended(uintptr_t w) override {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(w), 0) == WAIT_OBJECT_0;
  }
  void release(uintptr_t w) override { CloseHandle(reinterpret_cast<HANDLE>(w)); }
  uint32_t nowMs() override { return GetTickCount(); }
};

// The handles the server opened for its clients; closed when the loop ends.
WinClientWatch g_watch;
BrokerHandleTable g_table(&g_watch);

// The error of a failed creation step, never 0.
DWORD failed(const char *text) {
  DWORD err = GetLastError();
  debugOut(text);
  return err ? err : ERROR_INVALID_HANDLE;
}

}  // namespace

DWORD createBrokerObjects(BrokerObjects *o) {
  // Null DACL (access for everybody), inheritable handles.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = &sd;
  sa.bInheritHandle = TRUE;

  // The loop mutex first, owned by this thread, so that no client finds the request event of a
  // loop that does not hold it. Without it clients still get their answers and fall back on the
  // answer time limit, so its failure is reported but does not stop the service.
  o->loopMutex = CreateMutexA(&sa, TRUE, kLoopMutexName);
  if (o->loopMutex) {
    // An existing mutex (a client kept it open) is not taken by the creation.
    o->ownsLoopMutex = GetLastError() != ERROR_ALREADY_EXISTS;
    if (!o->ownsLoopMutex) {
      DWORD w = WaitForSingleObject(o->loopMutex, kLoopMutexTakeMs);
      o->ownsLoopMutex = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    }
    applyLowIntegrityLabel(o->loopMutex);
  }
  if (!o->ownsLoopMutex) debugOut("BeginReqAnsCircle.Create loop mutex Error \n");

  o->reqEvent = CreateEventA(&sa, FALSE, FALSE, kReqEventName);
  if (!o->reqEvent) return failed("BeginReqAnsCircle.Create req Event Error \n");
  applyLowIntegrityLabel(o->reqEvent);

  o->ansEvent = CreateEventA(&sa, FALSE, FALSE, kAnsEventName);
  if (!o->ansEvent) return failed("BeginReqAnsCircle.Create ans Event Error \n");
  applyLowIntegrityLabel(o->ansEvent);

  o->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, Host::kBlockSize,
                                  kMappingName);
  if (!o->mapping) return failed("BeginReqAnsCircle.Create FileMapping Error \n");
  applyLowIntegrityLabel(o->mapping);

  o->devExclusiveMutex = CreateMutexA(&sa, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX);
  if (!o->devExclusiveMutex) return failed("BeginReqAnsCircle.Create g_hDevActionMutex Error \n");
  applyLowIntegrityLabel(o->devExclusiveMutex);

  o->certChangeEvent = CreateEventA(&sa, TRUE, FALSE, kCertChangeEventName);
  if (!o->certChangeEvent)
    return failed("BeginReqAnsCircle.Create ans g_hCertChangeEvent4Manager Error \n");
  applyLowIntegrityLabel(o->certChangeEvent);

  o->view = static_cast<unsigned char *>(
      MapViewOfFile(o->mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!o->view) return failed("BeginReqAnsCircle.MapViewOfFile Error \n");
  return 0;
}

void runBrokerLoop(BrokerObjects *o, HANDLE stop) {
  HANDLE waits[2] = {o->reqEvent, stop};
  for (;;) {
    // The request event comes first: a request signalled together with the stop is served.
    DWORD w = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (w == WAIT_OBJECT_0 + 1) break;
    if (w != WAIT_OBJECT_0) {
      debugOut("WaitForSingleObject for g_hReqEvent return ,but not WAIT_OBJECT_0.\n");
      if (w == WAIT_FAILED) Sleep(100);  // a broken handle must not spin the service
      continue;
    }
    uint32_t type = 0;
    if (serveRequest(o->view, Host::kBlockSize, bus(), g_table, &type, debugOut))
      SetEvent(o->ansEvent);
    // A steady stream of requests must not hold a stop off.
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) break;
  }
  debugOut("In REDODIV_REQ_STOP_SERV.\n");
  closeBrokerObjects(o);
  debugOut(" Exit service loop and quit.\n");
}

void closeBrokerObjects(BrokerObjects *o) {
  // No new cycle finds the service once the request event is gone; a client already waiting
  // sees the loop mutex released.
  if (o->reqEvent) CloseHandle(o->reqEvent);
  if (o->ownsLoopMutex) ReleaseMutex(o->loopMutex);
  if (o->loopMutex) CloseHandle(o->loopMutex);
  g_table.closeAll(bus());
  if (o->ansEvent) CloseHandle(o->ansEvent);
  if (o->devExclusiveMutex) CloseHandle(o->devExclusiveMutex);
  if (o->certChangeEvent) CloseHandle(o->certChangeEvent);
  if (o->view) UnmapViewOfFile(o->view);
  if (o->mapping) CloseHandle(o->mapping);
  *o = BrokerObjects{};
}

}  // namespace uk
