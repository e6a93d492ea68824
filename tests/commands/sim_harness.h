// Test harness of the command-layer tests: the token library's device seam (DeviceBus) wired to
// a card that answers request frames, either the token emulator in-process or a scripted card,
// with a trace of every request frame. A counting Host records the progress messages.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "uk_context.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_tokenlib.h"
#include "uk_transport.h"

namespace cmdtest {

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

// The card side: one request frame in, one response frame out.
using CardFn = std::function<Bytes(const Bytes &request)>;

constexpr const char *kUsbPath =
    "\\\\?\\usb#vid_0b0c&pid_10ae#UKCMD0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

class CardBus : public uk::DeviceBus {
 public:
  explicit CardBus(CardFn card) : card_(std::move(card)) {}
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    *found = 0;
    if (max > 0 && paths) snprintf(paths[0], 256, "%s", kUsbPath);
    *found = 1;
    return true;
  }
  uint32_t firstChild(const char *, char *child, uint32_t cap) override {
    snprintf(child, cap, "USBSTOR\\CDROM&VEN_ZV&PROD_UKEY\\UKCMD0001");
    return 0;
  }
  uint32_t interfacePath(const char *, uk::DevClass cls, char *path, uint32_t cap,
                         const char **) override {
    if (cls != uk::DevClass::CdRom) return 2;
    snprintf(path, cap, "\\\\?\\usbstor#cdrom#ukcmd0001#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}");
    return 0;
  }
  uint32_t open(const char *, uintptr_t *handle) override {
    *handle = 0x77;
    return 0;
  }
  uint32_t scsi(uintptr_t, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    if (!dataIn) {
      Bytes req(buf, buf + len);
      frames.push_back(Frame{req});
      pending_ = card_(req);
      responses.push_back(pending_);
      *transferred = len;
      return 0;
    }
    uint32_t n = uint32_t(pending_.size()) < len ? uint32_t(pending_.size()) : len;
    memcpy(buf, pending_.data(), n);
    *transferred = n;
    (void)cdb;
    return 0;
  }
  void close(uintptr_t) override {}

  std::vector<Frame> frames;      // every request frame, in order
  std::vector<Bytes> responses;   // the card's answer to each

 private:
  CardFn card_;
  Bytes pending_;
};

// Host of the native skin, with the progress messages counted.
class CountingHost : public uk::Host {
 public:
  explicit CountingHost(uk::Host *inner) : inner_(inner) {}
  bool isNtFamily() override { return inner_->isNtFamily(); }
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
};

// A response frame from data and a status word.
inline Bytes response(const Bytes &data, uint16_t sw) {
  Bytes r;
  uint32_t l = uint32_t(data.size()) + 2;
  r.push_back(uint8_t(l >> 8));
  r.push_back(uint8_t(l));
  r.insert(r.end(), data.begin(), data.end());
  r.push_back(uint8_t(sw >> 8));
  r.push_back(uint8_t(sw));
  return r;
}

// Connects a device record over a bus; the fixture's log goes to a temporary file.
class BusFixture : public testing::Test {
 protected:
  void attach(CardFn card) {
    bus_ = std::make_unique<CardBus>(std::move(card));
    host_ = std::make_unique<CountingHost>(uk::defaultHost());
    uk::setPlatform(bus_.get(), host_.get());
    logFile_ = testing::TempDir() + "uk_commands_" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(logFile_.c_str());
    uk::setLogPath(logFile_.c_str());
    memset(&dev, 0, sizeof dev);
    snprintf(dev.devicePath, sizeof dev.devicePath, "%s", kUsbPath);
    UK_USB_DEV_CTX *conn = nullptr;
    ASSERT_EQ(0u, uk::openConnection(kUsbPath, &conn));
    dev.connection = conn;
    dev.state = 1;
    clearTrace();
  }
  void TearDown() override {
    if (dev.connection) uk::closeConnection(dev.connection);
    dev.connection = nullptr;
    uk::setPlatform(nullptr, nullptr);
    uk::setLogPath(nullptr);
  }
  UK_USB_DEV_CTX *conn() { return dev.connection; }
  std::vector<Frame> &frames() { return bus_->frames; }
  std::vector<Bytes> &responses() { return bus_->responses; }
  std::vector<void *> &progress() { return host_->progress; }
  void clearTrace() {
    bus_->frames.clear();
    bus_->responses.clear();
    host_->progress.clear();
    std::remove(logFile_.c_str());
  }
  std::string logText() const {
    std::ifstream f(logFile_, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // The frames of one command (by its CLA INS P1 P2), in order.
  std::vector<Frame> framesOf(uint32_t header) {
    std::vector<Frame> out;
    for (auto &f : frames())
      if (f.header() == header) out.push_back(f);
    return out;
  }

  UK_DEV_INFO dev{};
  std::unique_ptr<CardBus> bus_;
  std::unique_ptr<CountingHost> host_;
  std::string logFile_;
};

// A card that answers from a script: each call pops the next response frame (9000 when empty).
class ScriptedCard {
 public:
  void push(const Bytes &data, uint16_t sw) { q_.push_back(response(data, sw)); }
  void pushRaw(const Bytes &frame) { q_.push_back(frame); }
  CardFn fn() {
    return [this](const Bytes &) {
      if (q_.empty()) return response({}, 0x9000);
      Bytes r = q_.front();
      q_.pop_front();
      return r;
    };
  }

 private:
  std::deque<Bytes> q_;
};

}  // namespace cmdtest
