// A relay between the key service and the token emulator that can hold the token's answers, so
// that a request stays in flight inside the service for as long as a test needs: the service's
// device transfer then waits as it would on a slow or hung token. Messages of the emulator's wire
// protocol (4-byte big-endian length, body whose first byte is the operation) are passed through
// one by one; while holding, an exchange ('X') waits before it goes on to the emulator. Listings
// and control commands are never held.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

namespace relay {

class EmulatorRelay {
 public:
  ~EmulatorRelay() { stop(); }

  // Listens on 127.0.0.1 (a free port) and relays to the emulator on emulatorPort.
  bool start(uint16_t emulatorPort) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    started_ = true;
    emulatorPort_ = emulatorPort;
    release_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    held_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return false;
    sockaddr_in a = loopback(0);
    int len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      return false;
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
  }
  uint16_t port() const { return port_; }

  // From now on exchanges wait in the relay until release().
  void hold() {
    ResetEvent(held_);
    ResetEvent(release_);
  }
  // Whether an exchange reached the relay while holding, within ms.
  bool waitHeld(DWORD ms) { return WaitForSingleObject(held_, ms) == WAIT_OBJECT_0; }
  void release() { SetEvent(release_); }

  void stop() {
    if (!started_) return;
    started_ = false;
    release();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (acceptor_.joinable()) acceptor_.join();
    {
      std::lock_guard<std::mutex> g(lock_);
      for (SOCKET s : open_) shutdown(s, SD_BOTH);
    }
    for (std::thread &t : links_)
      if (t.joinable()) t.join();
    links_.clear();
    CloseHandle(release_);
    CloseHandle(held_);
    WSACleanup();
  }

 private:
  static sockaddr_in loopback(uint16_t port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  static bool recvAll(SOCKET s, char *p, int n) {
    while (n > 0) {
      int got = recv(s, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= got;
    }
    return true;
  }
  static bool sendAll(SOCKET s, const char *p, int n) {
    while (n > 0) {
      int sent = send(s, p, n, 0);
      if (sent <= 0) return false;
      p += sent;
      n -= sent;
    }
    return true;
  }
  // One message: length prefix and body.
  static bool recvMessage(SOCKET s, std::vector<char> *m) {
    unsigned char len[4];
    if (!recvAll(s, reinterpret_cast<char *>(len), 4)) return false;
    uint32_t n = uint32_t(len[0]) << 24 | uint32_t(len[1]) << 16 | uint32_t(len[2]) << 8 | len[3];
    if (n > (1u << 20)) return false;
    m->assign(reinterpret_cast<char *>(len), reinterpret_cast<char *>(len) + 4);
    m->resize(4 + n);
    return n == 0 || recvAll(s, m->data() + 4, int(n));
  }

  void track(SOCKET s, bool add) {
    std::lock_guard<std::mutex> g(lock_);
    if (add) {
      open_.push_back(s);
      return;
    }
    for (size_t i = 0; i < open_.size(); ++i)
      if (open_[i] == s) {
        open_.erase(open_.begin() + long(i));
        break;
      }
  }

  void acceptLoop() {
    for (;;) {
      SOCKET c = accept(listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      track(c, true);
      std::lock_guard<std::mutex> g(lock_);
      links_.emplace_back([this, c] { link(c); });
    }
  }

  void link(SOCKET client) {
    SOCKET up = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(emulatorPort_);
    if (up != INVALID_SOCKET && connect(up, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
      track(up, true);
      std::vector<char> m;
      while (recvMessage(client, &m)) {
        if (m.size() > 4 && m[4] == 'X' && WaitForSingleObject(release_, 0) != WAIT_OBJECT_0) {
          SetEvent(held_);
          WaitForSingleObject(release_, INFINITE);
        }
        if (!sendAll(up, m.data(), int(m.size())) || !recvMessage(up, &m) ||
            !sendAll(client, m.data(), int(m.size())))
          break;
      }
      track(up, false);
    }
    if (up != INVALID_SOCKET) closesocket(up);
    track(client, false);
    closesocket(client);
  }

  bool started_ = false;
  uint16_t port_ = 0, emulatorPort_ = 0;
  SOCKET listener_ = INVALID_SOCKET;
  HANDLE release_ = nullptr, held_ = nullptr;
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<SOCKET> open_;
  std::vector<std::thread> links_;
};

}  // namespace relay
