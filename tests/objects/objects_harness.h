// Test harness of the object tests: the shared bus fixture (tests/common) with one or more token
// emulators in-process on the bus and a fault hook that answers chosen commands with a status
// word instead of the card.
#pragma once
#include <functional>

#include "../common/bus_fixture.h"
#include "sim_card.h"

namespace objtest {

using uktest::Bytes;
using uktest::Frame;
using uktest::responseFrame;

inline std::string usbPathOf(const std::string &serial) {
  return "\\\\?\\usb#vid_0b0c&pid_10ae#" + serial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

// Several emulated tokens on one bus; each string the bus hands out carries the serial number,
// so that open() finds the card again.
class SimBus : public uktest::FrameBus {
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

  Fault fault;

 protected:
  Bytes answer(uintptr_t handle, const Frame &f) override {
    uint16_t sw = 0;
    if (fault && f.raw.size() >= 12 && fault(f, &sw)) return responseFrame({}, sw);
    return cards_.at(serials_.at(handle - 0x100))->processFrame(f.raw.data(), f.raw.size());
  }

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
};

constexpr const char *kUserPin = "482915";

// Tokens formatted as the token library formats them, connected, in DF01 with the user PIN
// verified.
class TokenFixture : public uktest::PlatformFixture {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<SimBus>();
    installPlatform(bus_.get(), true, "uk_objects_");
    addToken("UKOBJ00001", &dev);
  }

  // A formatted token on the bus, connected into *d with DF01 selected and the PIN verified.
  tokensim::Card &addToken(const std::string &serial, UK_DEV_INFO *d) {
    tokensim::Card &c = bus_->add(serial);
    c.factoryFormat(kUserPin, "70361524", 10, 10, "ORV-USBKEY");
    EXPECT_EQ(0u, connect(d, usbPathOf(serial)));
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(d, 0));
    uint8_t tries = 0;
    EXPECT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(kUserPin), 6, &tries));
    return c;
  }
  tokensim::Card &card(const std::string &serial = "UKOBJ00001") { return bus_->card(serial); }

  void setFault(SimBus::Fault f) { bus_->fault = std::move(f); }

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
};

inline UK_CONTAINER_INFO namedContainer(const char *name, const char *id = "") {
  UK_CONTAINER_INFO c{};
  snprintf(c.name, sizeof c.name, "%s", name);
  c.idLen = uint8_t(strlen(id));
  memcpy(c.id, id, c.idLen);
  return c;
}

}  // namespace objtest
