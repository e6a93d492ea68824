// Shared harness of the native token-library tests: the library's device seam (DeviceBus) wired to
// a card that answers request frames in-process, with a trace of every request frame and answer;
// a Host over the native skin's that keeps device access direct and records the progress
// messages; and a fixture that installs both, sends the library log to a temporary file and
// closes the connected device records at the end. Header-only.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "uk_context.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_tokenlib.h"
#include "uk_transport.h"

namespace uktest {

using Bytes = std::vector<uint8_t>;

// One request frame as the card received it: L(2) CLA INS P1 P2 00 Lc(2) data 00 Le(2).
struct Frame {
  Bytes raw;
  uint8_t cla() const { return raw.at(2); }
  uint8_t ins() const { return raw.at(3); }
  uint8_t p1() const { return raw.at(4); }
  uint8_t p2() const { return raw.at(5); }
  uint32_t lc() const { return (uint32_t(raw.at(7)) << 8) | raw.at(8); }
  Bytes data() const { return Bytes(raw.begin() + 9, raw.begin() + 9 + lc()); }
  uint32_t le() const { return (uint32_t(raw.at(10 + lc())) << 8) | raw.at(11 + lc()); }
  uint32_t header() const {
    return (uint32_t(cla()) << 24) | (uint32_t(ins()) << 16) | (uint32_t(p1()) << 8) | p2();
  }
};

// A response frame from data and a status word.
inline Bytes responseFrame(const Bytes &data, uint16_t sw) {
  Bytes r;
  uint32_t l = uint32_t(data.size()) + 2;
  r.push_back(uint8_t(l >> 8));
  r.push_back(uint8_t(l));
  r.insert(r.end(), data.begin(), data.end());
  r.push_back(uint8_t(sw >> 8));
  r.push_back(uint8_t(sw));
  return r;
}

inline std::string hex(const Bytes &b) {
  std::string s;
  char t[4];
  for (uint8_t v : b) {
    snprintf(t, sizeof t, "%02X", v);
    s += t;
  }
  return s;
}
inline Bytes unhex(const std::string &h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size();) {
    if (h[i] == ' ') {
      ++i;
      continue;
    }
    b.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return b;
}

// The SCSI side of a bus whose cards answer whole request frames: the frame written to a handle
// is traced and answered by answer(); the next read on that handle returns the answer.
class FrameBus : public uk::DeviceBus {
 public:
  uint32_t scsi(uintptr_t handle, const uint8_t *, bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    Bytes &pending = pending_[handle];
    if (!dataIn) {
      Frame f{Bytes(buf, buf + len)};
      frames.push_back(f);
      pending = answer(handle, f);
      responses.push_back(pending);
      *transferred = len;
      return 0;
    }
    uint32_t n = uint32_t(pending.size()) < len ? uint32_t(pending.size()) : len;
    memcpy(buf, pending.data(), n);
    *transferred = n;
    return 0;
  }
  void close(uintptr_t) override {}

  void clearTrace() {
    frames.clear();
    responses.clear();
  }

  std::vector<Frame> frames;      // every request frame, in order
  std::vector<Bytes> responses;   // the answer to each

 protected:
  // The response frame to one request frame on a handle.
  virtual Bytes answer(uintptr_t handle, const Frame &request) = 0;

 private:
  std::map<uintptr_t, Bytes> pending_;
};

// Host of the native skin with device access always direct (no key service) and the progress
// messages recorded. alwaysNt: report an NT-based system whatever the skin says.
class TestHost : public uk::Host {
 public:
  TestHost(uk::Host *inner, bool alwaysNt) : inner_(inner), alwaysNt_(alwaysNt) {}
  bool isNtFamily() override { return alwaysNt_ || inner_->isNtFamily(); }
  bool useBrokeredChannel() override { return false; }
  uk::MutexFailure openDeviceMutex(const char *n, uintptr_t *m, uint32_t *e) override {
    return inner_->openDeviceMutex(n, m, e);
  }
  bool waitDeviceMutex(uintptr_t m, uint32_t ms) override { return inner_->waitDeviceMutex(m, ms); }
  void releaseDeviceMutex(uintptr_t m) override { inner_->releaseDeviceMutex(m); }
  void closeDeviceMutex(uintptr_t m) override { inner_->closeDeviceMutex(m); }
  int channelCycle(const uint8_t *, uint32_t, uint8_t *) override { return -1; }
  void sendProgress(void *window) override { progress.push_back(window); }

  std::vector<void *> progress;

 private:
  uk::Host *inner_;
  bool alwaysNt_;
};

// Installs a bus and a TestHost as the token library's platform; the log goes to the temporary
// file <logPrefix><test name>.log. Device records connected with connect() are closed, and the
// platform and log path restored, at TearDown.
class PlatformFixture : public testing::Test {
 protected:
  void installPlatform(FrameBus *bus, bool alwaysNt, const char *logPrefix) {
    trace_ = bus;
    host_ = std::make_unique<TestHost>(uk::defaultHost(), alwaysNt);
    uk::setPlatform(bus, host_.get());
    logFile_ = testing::TempDir() + logPrefix +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(logFile_.c_str());
    uk::setLogPath(logFile_.c_str());
  }

  // Connects a device record to the device at path (state 1); the result of the connection.
  uint32_t connect(UK_DEV_INFO *d, const std::string &path) {
    memset(d, 0, sizeof *d);
    snprintf(d->devicePath, sizeof d->devicePath, "%s", path.c_str());
    UK_USB_DEV_CTX *conn = nullptr;
    uint32_t rc = uk::openConnection(d->devicePath, &conn);
    d->connection = conn;
    d->state = 1;
    connected_.push_back(d);
    return rc;
  }

  void TearDown() override {
    for (UK_DEV_INFO *d : connected_)
      if (d->connection) uk::closeConnection(d->connection), d->connection = nullptr;
    uk::setPlatform(nullptr, nullptr);
    uk::setLogPath(nullptr);
  }

  // Forgets the frames, answers and progress messages seen so far and empties the log.
  void clearTrace() {
    trace_->clearTrace();
    host_->progress.clear();
    std::remove(logFile_.c_str());
  }
  std::vector<Frame> &frames() { return trace_->frames; }
  std::vector<Bytes> &responses() { return trace_->responses; }
  std::vector<void *> &progress() { return host_->progress; }
  // The frames of one command (by its CLA INS P1 P2), in order.
  std::vector<Frame> framesOf(uint32_t header) const {
    std::vector<Frame> out;
    for (const auto &f : trace_->frames)
      if (f.header() == header) out.push_back(f);
    return out;
  }
  size_t countIns(uint8_t ins) const {
    size_t n = 0;
    for (const auto &f : trace_->frames)
      if (f.ins() == ins) ++n;
    return n;
  }
  std::string logText() const {
    std::ifstream f(logFile_, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

 private:
  FrameBus *trace_ = nullptr;
  std::unique_ptr<TestHost> host_;
  std::string logFile_;
  std::vector<UK_DEV_INFO *> connected_;
};

}  // namespace uktest
