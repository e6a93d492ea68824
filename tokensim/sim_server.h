// The emulator's tokens and its loopback TCP server.
//
// Registry: the tokens, each a Card with its own lock (one request at a time per token), its
// insertion state and generation (incremented at every insertion, so device handles opened
// before a removal go stale), its trace and its image file "<serial>.tok" in the state folder.
// Server: 127.0.0.1 only, one thread per client connection; the protocol is described in
// tokenlib/virtual/uk_simnet.h.
#pragma once
#include <stdint.h>

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim_card.h"

namespace tokensim {

struct TokenSlot {
  std::mutex lock;
  std::unique_ptr<Card> card;
  bool inserted = true;
  uint32_t generation = 1;
  uint64_t order = 0;
  std::deque<std::string> trace;
  // A pull armed by the control command: the token goes out at the pullAt-th next frame, before
  // the card sees it or (pullAfterFrame) once the card has carried it out, its answer lost.
  uint32_t pullAt = 0;
  bool pullAfterFrame = false;
};

class Registry {
 public:
  static constexpr size_t kMaxTraceLines = 50000;
  static constexpr size_t kMaxTokens = 256;

  explicit Registry(std::string stateDir);
  // Loads every image of the state folder; returns the number loaded.
  size_t loadAll();

  // Runs one control command line; the answer's first line is "ok" or "error <reason>".
  std::string control(const std::string &line);
  // The inserted tokens, one line each (see uk_simnet.h).
  std::string listDevices();
  // One request frame to a token. Returns a uk::simnet status (kDone, kNoToken, kStale).
  uint8_t exchange(const std::string &serial, uint32_t generation, const uint8_t *frame, size_t len,
                   Bytes *response);

  bool shutdownRequested() const { return shutdown_; }
  const std::string &stateDir() const { return dir_; }

 private:
  std::shared_ptr<TokenSlot> find(const std::string &serial);
  bool save(const std::string &serial, TokenSlot &slot);
  // Takes the token out (a new power session, open handles go stale); event goes to the trace.
  static void pullOut(TokenSlot &slot, const char *event);
  std::string cmdCreate(const std::vector<std::string> &args);
  std::string newSerial();

  std::string dir_;
  std::mutex lock_;
  std::map<std::string, std::shared_ptr<TokenSlot>> tokens_;
  uint64_t nextOrder_ = 1;
  uint32_t serialCounter_ = 1;
  std::atomic<bool> shutdown_{false};
};

class Server {
 public:
  explicit Server(Registry &reg) : reg_(reg) {}
  ~Server() { stop(); }
  // Listens on 127.0.0.1:port (0 picks a free port) and starts accepting.
  bool start(uint16_t port, std::string *error);
  uint16_t port() const { return port_; }
  void stop();

 private:
  void acceptLoop();
  void serve(int fd);
  void reapFinished();

  Registry &reg_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  struct Conn {
    int fd;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex connLock_;
  std::vector<Conn> conns_;
};

// Hex text of bytes (upper case, no separators).
std::string toHex(const uint8_t *p, size_t n);

}  // namespace tokensim
