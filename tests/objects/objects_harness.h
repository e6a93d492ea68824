// Test harness of the object tests: the token library's device seam (DeviceBus) wired to one or
// more token emulators in-process, with a trace of the request frames and a fault hook that
// answers chosen commands with a status word instead of the card.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim_card.h"
#include "uk_context.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_tokenlib.h"
#include "uk_transport.h"

namespace objtest {

using Bytes = std::vector<uint8_t>;

// One request frame as the card received it: L(2) CLA INS P1 P2 00 Lc(2) data 00 Le(2).
struct Frame {
  Bytes raw;
  uint8_t ins() const { return raw.at(3); }
  uint8_t p1() const { return raw.at(4); }
  uint8_t p2() const { return raw.at(5); }
  uint32_t lc() const { return (uint32_t(raw.at(7)) << 8) | raw.at(8); }
  Bytes data() const { return Bytes(raw.begin() + 9, raw.begin() + 9 + lc()); }
  uint32_t le() const { return (uint32_t(raw.at(10 + lc())) << 8) | raw.at(11 + lc()); }
};

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

inline std::string usbPathOf(const std::string &serial) {
  return "\\\\?\\usb#vid_0b0c&pid_10ae#" + serial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

// Several emulated tokens on one bus; each string the bus hands out carries the serial number,
// so that open() finds the card again.
class SimBus : public uk::DeviceBus {
 public:
  // Returns true (and the status word) to answer a frame in place of the card.
  using Fault = std::function<bool(const Frame &, uint16_t *sw)>;

  tokensim::Card &add(const std::string &serial) {
    tokensim::TokenConfig cfg;
    cfg.serial = serial;
    serials_.push_back(serial);
    cards_[serial] = std::make_unique<tokensim::Card>(cfg);
    return *cards_[serial];
  }
  tokensim::Card &card(const std::string &serial) { return *cards_.at(serial); }

  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    uint32_t n = 0;
    for (const auto &s : serials_)
      if (n < max) snprintf(paths[n++], 256, "%s", usbPathOf(s).c_str());
    *found = n;
    return true;
  }
  uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) override {
    snprintf(child, cap, "USBSTOR\\CDROM&VEN_ZV&PROD_UKEY\\%s", serialIn(instanceId).c_str());
    return 0;
  }
  uint32_t interfacePath(const char *deviceId, uk::DevClass cls, char *path, uint32_t cap,
                         const char **) override {
    if (cls != uk::DevClass::CdRom) return 2;
    snprintf(path, cap, "\\\\?\\usbstor#cdrom#%s#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
             serialIn(deviceId).c_str());
    return 0;
  }
  uint32_t open(const char *path, uintptr_t *handle) override {
    std::string s = serialIn(path);
    for (size_t i = 0; i < serials_.size(); ++i) {
      if (serials_[i] == s) {
        *handle = 0x100 + i;
        return 0;
      }
    }
    return 2;
  }
  uint32_t scsi(uintptr_t handle, const uint8_t *, bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    Bytes &pending = pending_[handle];
    if (!dataIn) {
      Frame f{Bytes(buf, buf + len)};
      frames.push_back(f);
      uint16_t sw = 0;
      if (fault && f.raw.size() >= 12 && fault(f, &sw)) {
        pending = responseFrame({}, sw);
      } else {
        pending = cards_.at(serials_.at(handle - 0x100))->processFrame(buf, len);
      }
      *transferred = len;
      return 0;
    }
    uint32_t n = uint32_t(pending.size()) < len ? uint32_t(pending.size()) : len;
    memcpy(buf, pending.data(), n);
    *transferred = n;
    return 0;
  }
  void close(uintptr_t) override {}

  std::vector<Frame> frames;
  Fault fault;

 private:
  // The serial number is the one known serial that occurs in the text (case-insensitive).
  std::string serialIn(const char *text) const {
    std::string t(text);
    for (auto &ch : t) ch = char(toupper(static_cast<unsigned char>(ch)));
    for (const auto &s : serials_) {
      std::string u = s;
      for (auto &ch : u) ch = char(toupper(static_cast<unsigned char>(ch)));
      if (t.find(u) != std::string::npos) return s;
    }
    return "";
  }

  std::vector<std::string> serials_;
  std::map<std::string, std::unique_ptr<tokensim::Card>> cards_;
  std::map<uintptr_t, Bytes> pending_;
};

class DirectHost : public uk::Host {
 public:
  explicit DirectHost(uk::Host *inner) : inner_(inner) {}
  bool isNtFamily() override { return true; }
  bool useBrokeredChannel() override { return false; }
  uk::MutexFailure openDeviceMutex(const char *n, uintptr_t *m, uint32_t *e) override {
    return inner_->openDeviceMutex(n, m, e);
  }
  bool waitDeviceMutex(uintptr_t m, uint32_t ms) override { return inner_->waitDeviceMutex(m, ms); }
  void releaseDeviceMutex(uintptr_t m) override { inner_->releaseDeviceMutex(m); }
  void closeDeviceMutex(uintptr_t m) override { inner_->closeDeviceMutex(m); }
  int channelCycle(const uint8_t *, uint32_t, uint8_t *) override { return -1; }
  void sendProgress(void *) override {}

 private:
  uk::Host *inner_;
};

constexpr const char *kUserPin = "482915";

// Tokens formatted as the token library formats them, connected, in DF01 with the user PIN
// verified.
class TokenFixture : public testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<SimBus>();
    host_ = std::make_unique<DirectHost>(uk::defaultHost());
    uk::setPlatform(bus_.get(), host_.get());
    logFile_ = testing::TempDir() + "uk_objects_" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(logFile_.c_str());
    uk::setLogPath(logFile_.c_str());
    addToken("UKOBJ00001", &dev);
  }
  void TearDown() override {
    for (UK_DEV_INFO *d : connected_)
      if (d->connection) uk::closeConnection(d->connection), d->connection = nullptr;
    uk::setPlatform(nullptr, nullptr);
    uk::setLogPath(nullptr);
  }

  // A formatted token on the bus, connected into *d with DF01 selected and the PIN verified.
  tokensim::Card &addToken(const std::string &serial, UK_DEV_INFO *d) {
    tokensim::Card &c = bus_->add(serial);
    c.factoryFormat(kUserPin, "70361524", 10, 10, "ORV-USBKEY");
    memset(d, 0, sizeof *d);
    snprintf(d->devicePath, sizeof d->devicePath, "%s", usbPathOf(serial).c_str());
    UK_USB_DEV_CTX *conn = nullptr;
    EXPECT_EQ(0u, uk::openConnection(d->devicePath, &conn));
    d->connection = conn;
    d->state = 1;
    connected_.push_back(d);
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(d, 0));
    uint8_t tries = 0;
    EXPECT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(kUserPin), 6, &tries));
    return c;
  }
  tokensim::Card &card(const std::string &serial = "UKOBJ00001") { return bus_->card(serial); }

  void clearTrace() {
    bus_->frames.clear();
    std::remove(logFile_.c_str());
  }
  std::vector<Frame> &frames() { return bus_->frames; }
  size_t countIns(uint8_t ins) const {
    size_t n = 0;
    for (const auto &f : bus_->frames)
      if (f.ins() == ins) ++n;
    return n;
  }
  void setFault(SimBus::Fault f) { bus_->fault = std::move(f); }
  std::string logText() const {
    std::ifstream f(logFile_, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  // The lines the exports themselves write (start, end and failing-step lines of the frame),
  // without the command layer's status-word lines.
  std::string exportLines() const {
    std::stringstream in(logText());
    std::string line, out;
    while (std::getline(in, line)) {
      if (line.rfind("---->SW is", 0) == 0 || line.rfind("---->uk_dev_SendAPDUCmd", 0) == 0)
        continue;
      out += line + "\n";
    }
    return out;
  }

  UK_DEV_INFO dev{};
  UK_DEV_INFO dev2{};  // a second token, when a test adds one
  std::unique_ptr<SimBus> bus_;
  std::unique_ptr<DirectHost> host_;
  std::string logFile_;
  std::vector<UK_DEV_INFO *> connected_;
};

inline UK_CONTAINER_INFO namedContainer(const char *name, const char *id = "") {
  UK_CONTAINER_INFO c{};
  snprintf(c.name, sizeof c.name, "%s", name);
  c.idLen = uint8_t(strlen(id));
  memcpy(c.id, id, c.idLen);
  return c;
}

}  // namespace objtest
