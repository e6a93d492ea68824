// uk_setup_helper: the steps of ORV_ZV_Setup.exe and of its uninstaller that need the Win32 API
// rather than the installer's script language. The installer carries it in its temporary plug-in
// folder only; it is never installed.
//
//   uk_setup_helper stop-service          stop the key service and wait until its process has
//                                         ended (nothing to do when it is not installed)
//   uk_setup_helper start-service         start the key service and wait until it runs
//   uk_setup_helper program-running EXE   exit code 0 when a process runs from that file, else 1
//   uk_setup_helper close-programs DIR..  end every process whose program file lies directly in
//                                         one of the folders: first asked to quit, then ended
//                                         (the key service is left to stop-service)
//   uk_setup_helper remove-path DIR..     take each folder out of the machine search path
//   uk_setup_helper purge-store           remove the current user's "My" certificates whose
//                                         private key our provider holds
//
// Every command writes one line per thing it did and ends with exit code 0 on success or a
// Win32 error code. The service, search-path and store work is the key service's own code, so
// that the installer and the service can never disagree on it.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <psapi.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "keysrv_win.h"

namespace {

using uk::keysrv::kServiceName;

const DWORD kServiceTimeoutMs = 60000;
const DWORD kQuitTimeoutMs = 5000;
const DWORD kPollMs = 100;

std::string toAnsi(const std::wstring &w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

void say(const char *what, const std::wstring &path) {
  printf("%s %s\n", what, toAnsi(path).c_str());
  fflush(stdout);
}

// --- Key service ---------------------------------------------------------------------------

bool queryService(SC_HANDLE svc, SERVICE_STATUS_PROCESS *st) {
  DWORD needed = 0;
  return QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(st),
                              sizeof(*st), &needed) != 0;
}

// The key service opened with the given access, closed again at the end of the scope; error is
// the system error when the manager or the service cannot be opened.
class OurService {
 public:
  explicit OurService(DWORD access) {
    scm_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (scm_) svc_ = OpenServiceA(scm_, kServiceName, access);
    if (!svc_) error_ = GetLastError();
  }
  ~OurService() {
    if (svc_) CloseServiceHandle(svc_);
    if (scm_) CloseServiceHandle(scm_);
  }
  OurService(const OurService &) = delete;
  OurService &operator=(const OurService &) = delete;
  SC_HANDLE handle() const { return svc_; }
  DWORD error() const { return error_; }

 private:
  SC_HANDLE scm_ = nullptr;
  SC_HANDLE svc_ = nullptr;
  DWORD error_ = 0;
};

DWORD stopService() {
  OurService service(SERVICE_STOP | SERVICE_QUERY_STATUS);
  SC_HANDLE svc = service.handle();
  if (!svc) {
    if (service.error() != ERROR_SERVICE_DOES_NOT_EXIST) return service.error();
    printf("service not installed\n");
    return 0;
  }
  SERVICE_STATUS_PROCESS st;
  if (!queryService(svc, &st)) return GetLastError();
  if (st.dwCurrentState == SERVICE_STOPPED) {
    printf("service not running\n");
    return 0;
  }
  // The program file stays in use until the process has gone, which may be a moment after the
  // service manager reports the service stopped.
  HANDLE proc = st.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, st.dwProcessId) : nullptr;
  DWORD result = 0;
  DWORD start = GetTickCount();
  SERVICE_STATUS plain;
  for (;;) {
    if (st.dwCurrentState != SERVICE_STOP_PENDING &&
        !ControlService(svc, SERVICE_CONTROL_STOP, &plain)) {
      DWORD e = GetLastError();
      // A service still starting does not take the stop yet: ask again.
      if (e != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && e != ERROR_SERVICE_NOT_ACTIVE) {
        result = e;
        break;
      }
    }
    if (!queryService(svc, &st)) {
      result = GetLastError();
      break;
    }
    if (st.dwCurrentState == SERVICE_STOPPED) break;
    if (GetTickCount() - start > kServiceTimeoutMs) {
      result = ERROR_SERVICE_REQUEST_TIMEOUT;
      break;
    }
    Sleep(kPollMs);
  }
  if (proc) {
    DWORD spent = GetTickCount() - start;
    DWORD left = spent < kServiceTimeoutMs ? kServiceTimeoutMs - spent : 0;
    if (result == 0 && WaitForSingleObject(proc, left) != WAIT_OBJECT_0)
      result = ERROR_SERVICE_REQUEST_TIMEOUT;
    CloseHandle(proc);
  }
  if (result == 0) printf("service stopped\n");
  return result;
}

DWORD startService() {
  OurService service(SERVICE_START | SERVICE_QUERY_STATUS);
  SC_HANDLE svc = service.handle();
  if (!svc) return service.error();
  if (!StartServiceA(svc, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return GetLastError();
  SERVICE_STATUS_PROCESS st;
  for (DWORD waited = 0;; waited += kPollMs) {
    if (!queryService(svc, &st)) return GetLastError();
    if (st.dwCurrentState == SERVICE_RUNNING) break;
    if (st.dwCurrentState == SERVICE_STOPPED)  // it started and ended again
      return st.dwWin32ExitCode ? st.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    if (waited >= kServiceTimeoutMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
    Sleep(kPollMs);
  }
  printf("service running\n");
  return 0;
}

// Process id of the key service while it runs, else 0.
DWORD servicePid() {
  OurService service(SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS st;
  if (service.handle() && queryService(service.handle(), &st) && st.dwCurrentState != SERVICE_STOPPED)
    return st.dwProcessId;
  return 0;
}

// --- Programs ------------------------------------------------------------------------------

// Full path of a process's program file. QueryFullProcessImageNameW (Windows Vista and later)
// also names a program of the other architecture; before Vista the process status API does.
std::wstring processImage(HANDLE proc) {
  typedef BOOL(WINAPI * QueryImageFn)(HANDLE, DWORD, LPWSTR, PDWORD);
  static QueryImageFn query = reinterpret_cast<QueryImageFn>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
  wchar_t buf[MAX_PATH * 2];
  DWORD n = sizeof(buf) / sizeof(buf[0]);
  if (query && query(proc, 0, buf, &n)) return std::wstring(buf, n);
  n = GetModuleFileNameExW(proc, nullptr, buf, sizeof(buf) / sizeof(buf[0]));
  return n ? std::wstring(buf, n) : std::wstring();
}

std::wstring directoryOf(const std::wstring &path) {
  size_t cut = path.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring withoutTrailingSlash(std::wstring dir) {
  while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
  return dir;
}

bool samePath(const std::wstring &a, const std::wstring &b) {
  return lstrcmpiW(withoutTrailingSlash(a).c_str(), withoutTrailingSlash(b).c_str()) == 0;
}

struct Running {
  DWORD pid;
  std::wstring image;
};

// The processes whose program file satisfies match, leaving out this one and the one that
// started it (an uninstaller run in place lives in the folder it empties).
template <typename Match>
std::vector<Running> findProcesses(Match match) {
  std::vector<Running> found;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W pe;
  pe.dwSize = sizeof(pe);
  DWORD self = GetCurrentProcessId(), parent = 0;
  for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe))
    if (pe.th32ProcessID == self) parent = pe.th32ParentProcessID;
  pe.dwSize = sizeof(pe);
  for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
    if (pe.th32ProcessID == self || pe.th32ProcessID == parent || pe.th32ProcessID == 0) continue;
    HANDLE proc = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                              pe.th32ProcessID);
    if (!proc) continue;
    std::wstring image = processImage(proc);
    CloseHandle(proc);
    if (!image.empty() && match(image)) found.push_back({pe.th32ProcessID, image});
  }
  CloseHandle(snap);
  return found;
}

// Asks every thread of the process to leave its message loop, so that the program ends the way
// it ends when the user exits it (a tray program then removes its icon and what it registered).
void askToQuit(DWORD pid) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 te;
  te.dwSize = sizeof(te);
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == pid) PostThreadMessageW(te.th32ThreadID, WM_QUIT, 0, 0);
  CloseHandle(snap);
}

DWORD closePrograms(const std::vector<std::wstring> &dirs) {
  std::vector<Running> found = findProcesses([&](const std::wstring &image) {
    for (const std::wstring &d : dirs)
      if (samePath(directoryOf(image), d)) return true;
    return false;
  });
  // The key service is stopped through the service manager (stop-service), never ended here.
  DWORD service = servicePid();
  DWORD result = 0;
  for (const Running &r : found) {
    if (r.pid == service) continue;
    HANDLE proc = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, r.pid);
    if (!proc) continue;  // gone meanwhile
    askToQuit(r.pid);
    if (WaitForSingleObject(proc, kQuitTimeoutMs) == WAIT_OBJECT_0) {
      say("closed", r.image);
    } else if (!TerminateProcess(proc, 1)) {
      result = GetLastError();
      say("could not end", r.image);
    } else if (WaitForSingleObject(proc, kQuitTimeoutMs) != WAIT_OBJECT_0) {
      result = ERROR_TIMEOUT;
      say("could not end", r.image);
    } else {
      say("ended", r.image);
    }
    CloseHandle(proc);
  }
  return result;
}

DWORD programRunning(const std::wstring &exe) {
  std::vector<Running> found =
      findProcesses([&](const std::wstring &image) { return samePath(image, exe); });
  if (found.empty()) return 1;
  say("running", exe);
  return 0;
}

// --- Search path and store -----------------------------------------------------------------

DWORD removeFromPath(const std::vector<std::wstring> &dirs) {
  for (const std::wstring &d : dirs) {
    // The key service's edit works on a program's path and takes its folder.
    std::string program = toAnsi(withoutTrailingSlash(d)) + "\\x";
    if (uk::keysrv::removeFromSearchPath(HKEY_LOCAL_MACHINE, uk::keysrv::kEnvironmentKey,
                                         program.c_str()))
      say("removed from the search path:", d);
  }
  return 0;
}

DWORD purgeStore() {
  int n = uk::keysrv::purgeProviderCertificates("My");
  if (n < 0) return GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
  printf("certificates removed: %d\n", n);
  return 0;
}

int usage() {
  fprintf(stderr,
          "usage: uk_setup_helper stop-service | start-service | program-running EXE |\n"
          "       close-programs DIR... | remove-path DIR... | purge-store\n");
  return ERROR_INVALID_PARAMETER;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return usage();
  std::wstring cmd = argv[1];
  std::vector<std::wstring> rest(argv + 2, argv + argc);
  LocalFree(argv);
  DWORD rc;
  if (cmd == L"stop-service" && rest.empty())
    rc = stopService();
  else if (cmd == L"start-service" && rest.empty())
    rc = startService();
  else if (cmd == L"program-running" && rest.size() == 1)
    rc = programRunning(rest[0]);
  else if (cmd == L"close-programs" && !rest.empty())
    rc = closePrograms(rest);
  else if (cmd == L"remove-path" && !rest.empty())
    rc = removeFromPath(rest);
  else if (cmd == L"purge-store" && rest.empty())
    rc = purgeStore();
  else
    return usage();
  if (rc != 0 && cmd != L"program-running") fprintf(stderr, "%s failed: error %lu\n",
                                                    toAnsi(cmd).c_str(), rc);
  return static_cast<int>(rc);
}
