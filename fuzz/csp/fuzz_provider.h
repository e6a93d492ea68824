// A provider instance for the fuzz targets: no token library behind it (one listed device of a
// chosen model that is never opened), no dialogs, no log. Only flows that stay off the token can
// run on it, which is what the parsers need.
#pragma once
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../../tests/csp/quiet_host.h"
#include "provider.h"

namespace cspfuzz {

// The quiet host with a user name, which the container names of the flows need.
class QuietHost : public csptest::QuietHost {
 public:
  bool userName(char *buf, size_t cap) override {
    snprintf(buf, cap, "fuzz");
    return true;
  }
};

class NoDialogs : public csp::Dialogs {
 public:
  int askTwoButtons(int, uint32_t) override { return 2; }
  void tell(int) override {}
  bool enterPin(char *, size_t) override { return false; }
  bool selectDevice(const csp::DeviceChoice *, uint32_t, uint32_t *) override { return false; }
  uintptr_t openWindow(csp::Modeless) override { return 0; }
  void closeWindow(uintptr_t) override {}
  int confirmCancel() override { return 2; }
  uintptr_t openConfirmation(std::atomic<uint32_t> *) override { return 0; }
  void closeConfirmation(uintptr_t, uint32_t) override {}
};

inline uint8_t &listedModel() {
  static uint8_t model = 18;
  return model;
}

inline uint32_t UKAPI ok() { return 0; }
inline uint32_t UKAPI oneDevice(const char *, UK_DEV_INFO *devs, uint32_t *count) {
  memset(&devs[0], 0, sizeof devs[0]);
  snprintf(devs[0].devicePath, sizeof devs[0].devicePath, "fuzz-device");
  snprintf(devs[0].displayName, sizeof devs[0].displayName, "ZV-UK Q57: 0 ");
  devs[0].modelCode = listedModel();
  *count = 1;
  return 0;
}
// Every call that would reach the token fails.
inline uint32_t UKAPI noToken(UK_DEV_INFO *, uint32_t) { return 0x80100009u; }

inline csp::TokenApi offlineApi() {
  csp::TokenApi t = csp::tokenLibrary();
  t.establishContext = ok;
  t.releaseContext = ok;
  t.listDevices = oneDevice;
  t.connect = noToken;
  return t;
}

// A provider with one context (CRYPT_SILENT) on the listed device.
struct OfflineProvider {
  QuietHost host;
  NoDialogs dialogs;
  csp::Provider provider{host, dialogs, offlineApi()};
  uintptr_t prov = 0;
  explicit OfflineProvider(uint8_t model) {
    listedModel() = model;
    if (provider.acquireContext(&prov, nullptr, csp::kCryptSilent)) abort();
  }
};

}  // namespace cspfuzz
