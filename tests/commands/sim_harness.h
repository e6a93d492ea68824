// Test harness of the command-layer tests: the shared bus fixture (tests/common) with a card that
// answers request frames, either the token emulator in-process or a scripted card. The Host
// records the progress messages.
#pragma once
#include <deque>
#include <functional>

#include "../common/bus_fixture.h"

namespace cmdtest {

using uktest::Bytes;
using uktest::Frame;
using uktest::hex;
using uktest::unhex;

// A response frame from data and a status word.
inline Bytes response(const Bytes &data, uint16_t sw) { return uktest::responseFrame(data, sw); }

// The card side: one request frame in, one response frame out.
using CardFn = std::function<Bytes(const Bytes &request)>;

constexpr const char *kUsbPath =
    "\\\\?\\usb#vid_0b0c&pid_10ae#UKCMD0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// One token on the bus, answered by the card function.
class CardBus : public uktest::FrameBus {
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

 protected:
  Bytes answer(uintptr_t, const Frame &request) override { return card_(request.raw); }

 private:
  CardFn card_;
};

// Connects a device record over a bus; the fixture's log goes to a temporary file.
class BusFixture : public uktest::PlatformFixture {
 protected:
  void attach(CardFn card) {
    bus_ = std::make_unique<CardBus>(std::move(card));
    installPlatform(bus_.get(), false, "uk_commands_");
    ASSERT_EQ(0u, connect(&dev, kUsbPath));
    clearTrace();
  }
  UK_USB_DEV_CTX *conn() { return dev.connection; }

  UK_DEV_INFO dev{};
  std::unique_ptr<CardBus> bus_;
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
