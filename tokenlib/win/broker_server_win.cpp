// The key service's side of the brokered channel: the shared kernel objects and the request
// loop. Requests are handled by the portable serveRequest with the bus in use.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "uk_broker_server.h"
#include "uk_channel.h"

namespace uk {
namespace {

const char kReqEvent[] = "Global\\REDODIV-REQ-EVENT-KELM_ORV";
const char kAnsEvent[] = "Global\\REDODIV-ANS-EVENT-KELM_ORV";
const char kMapping[] = "Global\\REDODIV-MAPFILE-KELM_ORV";
const char kDevExclusiveMutex[] = "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV";
const char kCertChangeEvent[] = "Global\\EVENT_CERT_CHANGE_KELM_ORV";
const char kLowIntegrityLabel[] = "S:(ML;;NW;;;LW)";

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

// The handles the server opened for its clients; closed when the loop ends.
BrokerHandleTable g_table;

}  // namespace

bool createBrokerObjects(BrokerObjects *o) {
  // Null DACL (access for everybody), inheritable handles.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = &sd;
  sa.bInheritHandle = TRUE;

  o->reqEvent = CreateEventA(&sa, FALSE, FALSE, kReqEvent);
  if (!o->reqEvent) {
    debugOut("BeginReqAnsCircle.Create req Event Error \n");
    return false;
  }
  applyLowIntegrityLabel(o->reqEvent);

  o->ansEvent = CreateEventA(&sa, FALSE, FALSE, kAnsEvent);
  if (!o->ansEvent) {
    debugOut("BeginReqAnsCircle.Create ans Event Error \n");
    return false;
  }
  applyLowIntegrityLabel(o->ansEvent);

  o->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, Host::kBlockSize,
                                  kMapping);
  if (!o->mapping) {
    debugOut("BeginReqAnsCircle.Create FileMapping Error \n");
    return false;
  }
  applyLowIntegrityLabel(o->mapping);

  o->devExclusiveMutex = CreateMutexA(&sa, FALSE, kDevExclusiveMutex);
  if (!o->devExclusiveMutex) {
    debugOut("BeginReqAnsCircle.Create g_hDevActionMutex Error \n");
    return false;
  }
  applyLowIntegrityLabel(o->devExclusiveMutex);

  o->certChangeEvent = CreateEventA(&sa, TRUE, FALSE, kCertChangeEvent);
  if (!o->certChangeEvent) {
    debugOut("BeginReqAnsCircle.Create ans g_hCertChangeEvent4Manager Error \n");
    return false;
  }
  applyLowIntegrityLabel(o->certChangeEvent);

  o->view = static_cast<unsigned char *>(
      MapViewOfFile(o->mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!o->view) {
    debugOut("BeginReqAnsCircle.MapViewOfFile Error \n");
    return false;
  }
  return true;
}

void runBrokerLoop(BrokerObjects *o, volatile LONG *loopFlag, volatile LONG *loopFinished) {
  while (*loopFlag) {
    DWORD w = WaitForSingleObject(o->reqEvent, INFINITE);
    if (w != WAIT_OBJECT_0) {
      debugOut("WaitForSingleObject for g_hReqEvent return ,but not WAIT_OBJECT_0.\n");
      if (w == WAIT_FAILED) Sleep(100);  // a broken handle must not spin the service
      continue;
    }
    uint32_t type = 0;
    if (serveRequest(o->view, Host::kBlockSize, bus(), g_table, &type, debugOut))
      SetEvent(o->ansEvent);
  }

  g_table.closeAll(bus());
  CloseHandle(o->reqEvent);
  CloseHandle(o->ansEvent);
  if (o->devExclusiveMutex) CloseHandle(o->devExclusiveMutex);
  if (o->certChangeEvent) CloseHandle(o->certChangeEvent);
  UnmapViewOfFile(o->view);
  if (o->mapping) CloseHandle(o->mapping);
  *o = BrokerObjects{};
  InterlockedExchange(loopFinished, 1);
  debugOut(" Exit service loop and quit.\n");
}

void signalBrokerStop(BrokerObjects *o) {
  if (!o->view || !o->reqEvent) return;
  // Length word 4, type 0xFFFF.
  const unsigned char stop[8] = {4, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  CopyMemory(o->view, stop, sizeof stop);
  SetEvent(o->reqEvent);
}

}  // namespace uk
