// Service shell: installation and deletion, the service main function, the control handler and
// the request loop it hosts.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "keysrv_win.h"
#include "uk_broker_server.h"
#include "uk_channel.h"

namespace uk {
namespace keysrv {
namespace {

// Process-wide service state. The service main thread runs the request loop; the control
// handler runs on the dispatcher's thread and reaches the loop only through the stop event. The
// stop is carried out by a thread of its own (the handler returns at once), which lets the request
// in flight finish, waits for the loop to end and reports the stopped state; the status record is
// shared by the three threads under one lock.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status;
CRITICAL_SECTION g_statusLock;
HANDLE g_stopEvent = nullptr;     // manual-reset: the loop ends when it is set
HANDLE g_loopEnded = nullptr;     // manual-reset: set when the loop has ended or never ran
volatile LONG g_stopping = 0;
BrokerObjects g_objects;
ArrivalCounter g_arrivals;
ServiceActions g_actions;

// How often a stop in progress tells the service manager that it is still going.
constexpr DWORD kStopCheckpointMs = 1000;

void debugOut(const char *text) { OutputDebugStringA(text); }

// Sets and reports the state. Once a stop has begun only the stop itself reports (no late
// "running" over it).
bool report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0, DWORD checkpoint = 0,
            bool fromStop = false) {
  EnterCriticalSection(&g_statusLock);
  bool ok = true;
  if (fromStop || !InterlockedCompareExchange(&g_stopping, 0, 0)) {
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = exitCode;
    g_status.dwServiceSpecificExitCode = 0;
    g_status.dwWaitHint = waitHint;
    g_status.dwCheckPoint = checkpoint;
    ok = SetServiceStatus(g_statusHandle, &g_status) != 0;
  }
  LeaveCriticalSection(&g_statusLock);
  return ok;
}

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

// Carries out a stop: the loop answers the request it is serving, then ends; the stop is reported
// within kAnswerWaitMs whatever the loop does. A loop still busy then (a device that does not
// answer) is left behind: once the service reports stopped its process ends, and the client that
// was waiting sees the loop mutex abandoned.
DWORD WINAPI carryOutStop(LPVOID) {
  DWORD waited = 0, checkpoint = 1;
  while (WaitForSingleObject(g_loopEnded, kStopCheckpointMs) == WAIT_TIMEOUT) {
    waited += kStopCheckpointMs;
    if (waited >= kAnswerWaitMs) {
      debugOut("The service loop did not end in time; stopping without it.\n");
      report(SERVICE_STOPPED, ERROR_TIMEOUT, 0, 0, true);
      return 0;
    }
    report(SERVICE_STOP_PENDING, NO_ERROR, 2 * kStopCheckpointMs, checkpoint++, true);
  }
  report(SERVICE_STOPPED, NO_ERROR, 0, 0, true);
  return 0;
}

DWORD WINAPI controlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP: {
      if (InterlockedExchange(&g_stopping, 1)) break;  // already stopping
      report(SERVICE_STOP_PENDING, NO_ERROR, 2 * kStopCheckpointMs, 0, true);
      SetEvent(g_stopEvent);
      HANDLE t = CreateThread(nullptr, 0, carryOutStop, nullptr, 0, nullptr);
      if (t)
        CloseHandle(t);
      else
        carryOutStop(nullptr);
      break;
    }
    case SERVICE_CONTROL_DEVICEEVENT:
      handleDeviceEvent(eventType, eventData, g_arrivals, g_actions);
      break;
    default:
      break;
  }
  return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPSTR *) {
  InitializeCriticalSection(&g_statusLock);
  ZeroMemory(&g_status, sizeof(g_status));
  g_status.dwServiceType = SERVICE_WIN32;  // own or shared process
  g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_loopEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, controlHandler, nullptr);
  if (!g_statusHandle) {
    debugOut("In ServiceDispatch, RegisterServiceCtrlHandler Error\n");
    return;
  }
  if (!g_stopEvent || !g_loopEnded) {
    report(SERVICE_STOPPED, GetLastError());
    return;
  }
  report(SERVICE_START_PENDING);

  // The channel's objects come before "running": a service that cannot serve reports stopped
  // with the error instead.
  DWORD error = createBrokerObjects(&g_objects);
  if (error) {
    closeBrokerObjects(&g_objects);
    report(SERVICE_STOPPED, error);
    SetEvent(g_loopEnded);
    return;
  }

  registerDeviceNotifications(g_statusHandle);
  purgeProviderCertificates("My");

  if (!report(SERVICE_RUNNING)) {
    debugOut("In ServiceDispatch,ServiceMain, SetService Status Error\n");
    closeBrokerObjects(&g_objects);
    SetEvent(g_loopEnded);
    return;
  }
  runBrokerLoop(&g_objects, g_stopEvent);
  SetEvent(g_loopEnded);
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
