// Runs a program and captures what it writes to its standard output, for tests of console
// programs under Wine.
#pragma once
#include <windows.h>

#include <string>

namespace testrun {

inline std::string binDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of('\\') + 1);
}

struct RunResult {
  std::string out;
  DWORD exitCode = 0xFFFFFFFF;
};

inline RunResult run(const std::string &commandLine) {
  RunResult r;
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return r;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi;
  std::string cmd = commandLine;
  BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!ok) {
    CloseHandle(readEnd);
    return r;
  }
  // Read until the program has exited and the pipe is drained; do not wait for the end of the
  // pipe, since a process the program caused to start (Wine's desktop process) may hold it open.
  char buf[512];
  for (DWORD waited = 0; waited < 30000; waited += 20) {
    bool exited = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    DWORD avail = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail) {
      DWORD got = 0;
      if (!ReadFile(readEnd, buf, sizeof(buf), &got, nullptr) || !got) break;
      r.out.append(buf, got);
    }
    if (exited) break;
  }
  CloseHandle(readEnd);
  GetExitCodeProcess(pi.hProcess, &r.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return r;
}

// printf's text mode turns each "\n" into "\r\n" on the way out.
inline std::string onConsole(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace testrun
