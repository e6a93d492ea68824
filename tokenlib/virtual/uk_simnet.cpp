#include "uk_simnet.h"

#include <string.h>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace uk {
namespace simnet {

#ifdef _WIN32
namespace {
// Winsock entry points, bound at first use.
struct Winsock {
  bool ready = false;
  int(WSAAPI *startup)(WORD, LPWSADATA) = nullptr;
  SOCKET(WSAAPI *socket_)(int, int, int) = nullptr;
  int(WSAAPI *connect_)(SOCKET, const struct sockaddr *, int) = nullptr;
  int(WSAAPI *send_)(SOCKET, const char *, int, int) = nullptr;
  int(WSAAPI *recv_)(SOCKET, char *, int, int) = nullptr;
  int(WSAAPI *close_)(SOCKET) = nullptr;
  int(WSAAPI *setsockopt_)(SOCKET, int, int, const char *, int) = nullptr;
};

template <typename F>
bool bind(HMODULE m, const char *name, F *f) {
  *f = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(m, name)));
  return *f != nullptr;
}

Winsock load() {
  Winsock w;
  HMODULE m = LoadLibraryA("ws2_32.dll");
  if (!m) return w;
  if (!bind(m, "WSAStartup", &w.startup) || !bind(m, "socket", &w.socket_) ||
      !bind(m, "connect", &w.connect_) || !bind(m, "send", &w.send_) ||
      !bind(m, "recv", &w.recv_) || !bind(m, "closesocket", &w.close_) ||
      !bind(m, "setsockopt", &w.setsockopt_))
    return w;
  WSADATA data;
  w.ready = w.startup(MAKEWORD(2, 2), &data) == 0;
  return w;
}

const Winsock &ws() {
  static const Winsock w = load();  // the module stays loaded for the life of the process
  return w;
}
}  // namespace
#endif

bool parseAddress(const char *text, uint16_t *port) {
  if (!text) return false;
  const char prefix[] = "127.0.0.1:";
  if (strncmp(text, prefix, sizeof prefix - 1) != 0) return false;
  const char *p = text + sizeof prefix - 1;
  uint32_t v = 0;
  if (!*p) return false;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + uint32_t(*p - '0');
    if (v > 65535) return false;
  }
  if (v == 0) return false;
  *port = uint16_t(v);
  return true;
}

#ifdef _WIN32
bool settingAddress(uint16_t *port) {
  const char *path = "SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";
  HKEY key;
  // KEY_WOW64_64KEY is unknown before Windows XP x64: open the plain view when it is refused.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
          ERROR_SUCCESS &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  char value[64];
  DWORD type = 0, len = sizeof value - 1;
  LONG r = RegQueryValueExA(key, "VirtualToken", nullptr, &type, reinterpret_cast<BYTE *>(value),
                            &len);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ || len >= sizeof value) return false;
  value[len] = 0;
  return parseAddress(value, port);
}
#endif

Socket connectLoopback(uint16_t port, uint32_t timeoutMs) {
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  // Network byte order written byte by byte (no htons: Winsock is not linked).
  const uint8_t loopback[4] = {127, 0, 0, 1};
  memcpy(&a.sin_addr.s_addr, loopback, 4);
  const uint8_t pb[2] = {uint8_t(port >> 8), uint8_t(port)};
  memcpy(&a.sin_port, pb, 2);
#ifdef _WIN32
  const Winsock &w = ws();
  if (!w.ready) return kNoSocket;
  SOCKET s = w.socket_(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (w.connect_(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
    w.close_(s);
    return kNoSocket;
  }
  DWORD ms = timeoutMs;
  w.setsockopt_(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
  BOOL nodelay = TRUE;
  w.setsockopt_(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&nodelay),
                sizeof nodelay);
  return Socket(s);
#else
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kNoSocket;
  if (::connect(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
    ::close(s);
    return kNoSocket;
  }
  struct timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return Socket(s);
#endif
}

void closeSocket(Socket s) {
  if (s == kNoSocket) return;
#ifdef _WIN32
  if (ws().ready) ws().close_(SOCKET(s));
#else
  ::close(int(s));
#endif
}

bool sendAll(Socket s, const uint8_t *p, size_t n) {
  while (n) {
    size_t chunk = n > 65536 ? 65536 : n;
#ifdef _WIN32
    int r = ws().send_(SOCKET(s), reinterpret_cast<const char *>(p), int(chunk), 0);
#else
    ssize_t r = ::send(int(s), p, chunk, MSG_NOSIGNAL);
#endif
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

bool recvAll(Socket s, uint8_t *p, size_t n) {
  while (n) {
    size_t chunk = n > 65536 ? 65536 : n;
#ifdef _WIN32
    int r = ws().recv_(SOCKET(s), reinterpret_cast<char *>(p), int(chunk), 0);
#else
    ssize_t r = ::recv(int(s), p, chunk, 0);
#endif
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

bool sendMessage(Socket s, const uint8_t *a, size_t an, const uint8_t *b, size_t bn) {
  size_t total = an + bn;
  if (total > kMaxBody) return false;
  uint8_t hdr[4] = {uint8_t(total >> 24), uint8_t(total >> 16), uint8_t(total >> 8),
                    uint8_t(total)};
  return sendAll(s, hdr, 4) && sendAll(s, a, an) && (bn == 0 || sendAll(s, b, bn));
}

bool recvLength(Socket s, uint32_t *len, uint32_t limit) {
  uint8_t hdr[4];
  if (!recvAll(s, hdr, 4)) return false;
  *len = (uint32_t(hdr[0]) << 24) | (uint32_t(hdr[1]) << 16) | (uint32_t(hdr[2]) << 8) | hdr[3];
  return *len <= limit;
}

}  // namespace simnet
}  // namespace uk
