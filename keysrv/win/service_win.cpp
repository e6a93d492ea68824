// Service shell: installation and deletion, the service main function, the control handler and
// the request loop it hosts.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "keysrv_win.h"
#include "uk_broker_server.h"

namespace uk {
namespace keysrv {
namespace {

// Process-wide service state. The service main thread runs the request loop; the control
// handler runs on the dispatcher's thread and reaches the loop only through the loop flag, the
// shared block (stop request) and the request event.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status;
volatile LONG g_loopFlag = 1;
volatile LONG g_loopFinished = 0;
volatile LONG g_objectsReady = 0;
BrokerObjects g_objects;
ArrivalCounter g_arrivals;
ServiceActions g_actions;

void debugOut(const char *text) { OutputDebugStringA(text); }

// The program's own path, quoted when it holds a space so that the service control manager
// cannot take a prefix of it ("C:\Program.exe") for the program.
bool serviceBinaryPath(char *out, size_t cap) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  bool quote = strchr(path, ' ') != nullptr;
  int written = quote ? snprintf(out, cap, "\"%s\"", path) : snprintf(out, cap, "%s", path);
  return written > 0 && static_cast<size_t>(written) < cap;
}

DWORD WINAPI controlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      g_status.dwCurrentState = SERVICE_STOPPED;
      g_status.dwWin32ExitCode = 0;
      g_status.dwServiceSpecificExitCode = 0;
      InterlockedExchange(&g_loopFlag, 0);
      if (InterlockedCompareExchange(&g_objectsReady, 0, 0)) signalBrokerStop(&g_objects);
      while (!InterlockedCompareExchange(&g_loopFinished, 0, 0)) Sleep(1500);
      SetServiceStatus(g_statusHandle, &g_status);
      break;
    case SERVICE_CONTROL_DEVICEEVENT:
      handleDeviceEvent(eventType, eventData, g_arrivals, g_actions);
      break;
    default:
      break;
  }
  return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPSTR *) {
  ZeroMemory(&g_status, sizeof(g_status));
  g_status.dwServiceType = SERVICE_WIN32;  // own or shared process
  g_status.dwCurrentState = SERVICE_START_PENDING;
  g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;

  g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, controlHandler, nullptr);
  if (!g_statusHandle) {
    debugOut("In ServiceDispatch, RegisterServiceCtrlHandler Error\n");
    return;
  }
  SetServiceStatus(g_statusHandle, &g_status);

  registerDeviceNotifications(g_statusHandle);
  purgeProviderCertificates("My");

  g_status.dwCurrentState = SERVICE_RUNNING;
  if (!SetServiceStatus(g_statusHandle, &g_status)) {
    debugOut("In ServiceDispatch,ServiceMain, SetService Status Error\n");
    return;
  }

  bool created = createBrokerObjects(&g_objects);
  if (created) InterlockedExchange(&g_objectsReady, 1);
  if (!created || !InterlockedCompareExchange(&g_loopFlag, 0, 0)) {
    // No loop runs: a stop must not wait for one to finish.
    InterlockedExchange(&g_loopFinished, 1);
    return;
  }
  runBrokerLoop(&g_objects, &g_loopFlag, &g_loopFinished);
}

}  // namespace

int installService() {
  DWORD error = 0;
  char binary[MAX_PATH + 3];
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) {
    error = GetLastError();
  } else if (!serviceBinaryPath(binary, sizeof(binary))) {
    error = ERROR_FILENAME_EXCED_RANGE;
  } else {
    SC_HANDLE svc = CreateServiceA(scm, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                   SERVICE_ERROR_NORMAL, binary, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
    if (!svc)
      error = GetLastError();
    else
      CloseServiceHandle(svc);
  }
  if (scm) CloseServiceHandle(scm);
  bool ok = scm && error == 0;
  if (ok) {
    printf("%s", kInstallOk);
  } else {
    printf(kInstallFailedCode, static_cast<int>(error));
    printf("%s", kInstallFailed);
  }
  fflush(stdout);
  return exitCodeFor(ok, error);
}

int deleteService() {
  DWORD error = 0;
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) {
    error = GetLastError();
  } else {
    SC_HANDLE svc = OpenServiceA(scm, kServiceName, SERVICE_ALL_ACCESS);
    if (!svc) {
      error = GetLastError();
    } else {
      if (!DeleteService(svc)) error = GetLastError();
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
  }
  bool ok = scm && error == 0;
  if (!ok) {
    printf("%s", kDeleteFailed);
    fflush(stdout);
    return exitCodeFor(false, error);
  }
  printf("%s", kDeleteOk);
  fflush(stdout);
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) removeFromSearchPath(HKEY_LOCAL_MACHINE, kEnvironmentKey, path);
  return 0;
}

int runServiceDispatcher() {
  static char name[64];
  lstrcpynA(name, kServiceName, sizeof(name));
  SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}

void printParameterError() {
  const wchar_t *text = reinterpret_cast<const wchar_t *>(kParamError);
  char ansi[128];
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof(ansi), nullptr, nullptr);
  if (n <= 1) return;
  fwrite(ansi, 1, static_cast<size_t>(n - 1), stdout);
  fflush(stdout);
}

}  // namespace keysrv
}  // namespace uk
