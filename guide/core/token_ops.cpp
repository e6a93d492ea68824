#include "token_ops.h"

#include <string.h>

namespace guide {

const char *const kGuideTokenExports[kGuideTokenEntryCount] = {
    "zksTokenEstablishContext", "zksTokenReleaseContext", "zksTokenListDevices",
    "zksTokenConnect",          "zksTokenDisconnect",     "zksTokenSelectMF",
    "zksTokenSelectPkiWorkDF",  "zksTokenModifyUserPin",  "zksTokenVerifyUserPin",
    "zksTokenGetDeviceInfo",    "zksTokenGetSn",          "zksTokenListContainers",
    "zksTokenReadCert",
};

static_assert(sizeof(UK_CONTAINER_INFO) == 272, "container records of 272 bytes");

namespace {

// Runs op on the first token of this bank: listed, connected, the application directory
// selected; disconnected again on every way out.
const DeviceLockHooks *g_lock = nullptr;

// Holds the device-exclusive lock, if one is set, for its lifetime.
class DeviceLockScope {
 public:
  DeviceLockScope() : held_(!g_lock || g_lock->lock()) {}
  ~DeviceLockScope() {
    if (held_ && g_lock) g_lock->unlock();
  }
  bool held() const { return held_; }

 private:
  bool held_;
};

template <class Op>
uint32_t WithFirstToken(const GuideTokenApi *api, Op op) {
  if (!api) return kNotBound;
  DeviceLockScope lock;
  if (!lock.held()) return kDeviceBusy;
  UK_DEV_INFO devs[kDeviceSlots];
  memset(devs, 0, sizeof devs);
  uint32_t count = kDeviceSlots;
  uint32_t rc = api->ListDevices(UK_PROJECT_NAME, devs, &count);
  if (rc) return rc;
  if (count == 0) return kNoDevice;
  UK_DEV_INFO *dev = &devs[0];
  rc = api->Connect(dev, 0);
  if (rc) return rc;
  rc = api->SelectMF(dev);
  if (!rc) rc = api->SelectPkiWorkDF(dev, 1);
  if (!rc) rc = op(dev);
  api->Disconnect(dev);
  return rc;
}

}  // namespace

void SetDeviceLock(const DeviceLockHooks *hooks) { g_lock = hooks; }

const char *DefaultUserPin(const char *serial) {
  return strlen(serial) > 6 && serial[6] == '2' ? "937260" : "482915";
}

uint32_t DetectPinChanged(const GuideTokenApi *api, uint32_t *changed) {
  return WithFirstToken(api, [&](UK_DEV_INFO *dev) {
    uint32_t flag = 0;
    uint8_t usable = 0, tries = 0;
    uint32_t rc = api->GetDeviceInfo(dev, &flag, &usable, &tries, 0);
    if (!rc) *changed = flag;
    return rc;
  });
}

uint32_t ChangeDefaultPin(const GuideTokenApi *api, const std::wstring &oldPin,
                          const std::string &newPinAnsi) {
  return WithFirstToken(api, [&](UK_DEV_INFO *dev) {
    char serial[32] = {0};
    uint32_t len = sizeof serial;
    uint32_t rc = api->GetSn(dev, serial, &len);
    if (rc) return rc;
    serial[sizeof serial - 1] = '\0';
    std::string newPin = newPinAnsi.substr(0, 32);
    const char *def = DefaultUserPin(serial);
    if (oldPin != std::wstring(def, def + 6)) return kOldPinNotDefault;
    if (newPin == def) return kNewPinIsDefault;
    const uint8_t *defBytes = reinterpret_cast<const uint8_t *>(def);
    uint8_t tries = 0;
    rc = api->VerifyUserPin(dev, defBytes, 6, &tries);
    if (rc) return rc;
    return api->ModifyUserPin(dev, defBytes, 6, reinterpret_cast<const uint8_t *>(newPin.data()),
                              uint32_t(newPin.size()), &tries);
  });
}

uint32_t ReadFirstCertificate(const GuideTokenApi *api, uint8_t *buffer, uint32_t *len) {
  return WithFirstToken(api, [&](UK_DEV_INFO *dev) {
    UK_CONTAINER_INFO conts[kContainerSlots];
    memset(conts, 0, sizeof conts);
    uint32_t count = kContainerSlots;
    uint32_t rc = api->ListContainers(dev, conts, &count);
    if (rc) return rc;
    for (uint32_t i = 0; i < count && i < kContainerSlots; ++i) {
      uint32_t spec = (conts[i].flags & UK_CONT_EX_CERT)    ? UK_KEYSPEC_EXCHANGE
                      : (conts[i].flags & UK_CONT_SIG_CERT) ? UK_KEYSPEC_SIGNATURE
                                                            : 0;
      if (spec) return api->ReadCert(dev, &conts[i], buffer, len, spec);
    }
    *len = 0;
    return uint32_t(0);
  });
}

}  // namespace guide
