// Service manager helpers for the key service tests.
#pragma once
#include <windows.h>

namespace svctest {

const char kService[] = "ZVUK for ORV Service";

inline DWORD serviceState(SC_HANDLE svc) {
  SERVICE_STATUS st;
  if (!QueryServiceStatus(svc, &st)) return 0;
  return st.dwCurrentState;
}

inline bool waitState(SC_HANDLE svc, DWORD state, DWORD ms) {
  for (DWORD t = 0; t < ms; t += 50) {
    if (serviceState(svc) == state) return true;
    Sleep(50);
  }
  return serviceState(svc) == state;
}

// Leftovers of an earlier, interrupted run.
inline void removeServiceIfPresent() {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) return;
  SC_HANDLE svc = OpenServiceA(scm, kService, SERVICE_ALL_ACCESS);
  if (svc) {
    SERVICE_STATUS st;
    if (serviceState(svc) != SERVICE_STOPPED) {
      ControlService(svc, SERVICE_CONTROL_STOP, &st);
      waitState(svc, SERVICE_STOPPED, 10000);
    }
    DeleteService(svc);
    CloseServiceHandle(svc);
  }
  CloseServiceHandle(scm);
}

}  // namespace svctest
