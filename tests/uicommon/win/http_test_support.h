// Shared by the Windows tests that download from our HTTP test server (ctest fixture
// "http_server", tests/common/http_test_server.py): its address, its folder of served files, the
// byte pattern of its generated bodies, files and folders of the test.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace httptest {

inline std::wstring Env(const wchar_t *name) {
  wchar_t buf[1024] = {0};
  DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  return n && n < 1024 ? buf : L"";
}

inline std::string ReadAll(const std::wstring &path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "";
  std::string out;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  CloseHandle(f);
  return out;
}

inline bool WriteAll(const std::wstring &path, const std::string &data) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(f, data.data(), DWORD(data.size()), &n, nullptr) && n == data.size();
  CloseHandle(f);
  return ok;
}

inline bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Creates every folder of path (a folder).
inline void MakeFolders(const std::wstring &path) {
  for (size_t i = 3; i <= path.size(); ++i)
    if (i == path.size() || path[i] == L'\\' || path[i] == L'/') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

// Names of the entries of a folder (not "." and "..").
inline std::vector<std::wstring> Entries(const std::wstring &folder) {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") out.push_back(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return out;
}

// Byte i of a generated body.
inline bool IsPattern(const std::string &data, size_t expectedSize) {
  if (data.size() != expectedSize) return false;
  for (size_t i = 0; i < data.size(); ++i)
    if (uint8_t(data[i]) != uint8_t((i * 7 + 3) & 255)) return false;
  return true;
}

// Polls pred every 10 ms until it holds or ms pass.
inline bool WaitFor(const std::function<bool()> &pred, DWORD ms = 20000) {
  DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
}

// The running test server.
struct Server {
  std::wstring dir;   // its folder (Windows path)
  std::wstring root;  // files it serves
  int port = 0;
  bool Load() {
    dir = Env(L"UK_HTTP_DIR");
    if (dir.empty()) return false;
    root = dir + L"\\root";
    port = atoi(ReadAll(dir + L"\\port").c_str());
    return port > 0;
  }
  std::wstring HostPort() const { return L"127.0.0.1:" + std::to_wstring(port); }
  std::wstring Url(const std::wstring &path) const { return L"http://" + HostPort() + path; }
  // Puts a file where the server serves it as `urlPath`.
  bool Put(const std::wstring &urlPath, const std::string &data) const {
    std::wstring p = root + urlPath;
    for (auto &c : p)
      if (c == L'/') c = L'\\';
    MakeFolders(p.substr(0, p.find_last_of(L'\\')));
    return WriteAll(p, data);
  }
};

// A port on 127.0.0.1 where nothing listens: bound and closed again.
inline int ClosedPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
  }
  closesocket(s);
  return port;
}

// Deletes the files of a folder of a test, then the folder.
inline void RemoveFolder(const std::wstring &dir) {
  for (const auto &e : Entries(dir)) DeleteFileW((dir + L"\\" + e).c_str());
  RemoveDirectoryW(dir.c_str());
}

// A fresh, empty folder under the system's temporary folder.
inline std::wstring FreshFolder(const std::wstring &name) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + name;
  RemoveFolder(dir);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

}  // namespace httptest
