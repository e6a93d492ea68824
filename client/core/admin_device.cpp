// The token operations of PIN and device administration and of certificate import, on one token
// (CMarvoDevice): each a sequence under the device lock with its own connection.
#include <string.h>

#include "admin_rules.h"
#include "device_model.h"

namespace client {

namespace {

// The text in the system code page, as the library takes PINs and labels.
struct CodePage {
  explicit CodePage(const std::wstring &text) : bytes(Host().ToCodePage(text)) {}
  ~CodePage() { WipeMemory(&bytes[0], bytes.size()); }
  const uint8_t *data() const { return reinterpret_cast<const uint8_t *>(bytes.data()); }
  uint32_t size() const { return uint32_t(bytes.size()); }
  std::string bytes;
};

}  // namespace

// Device lock, connection (mode 1), PKI application, then the work; the result of the first step
// that failed (0 without the lock) is kept.
template <class Work>
bool RunAdministration(CMarvoDevice &d, uint32_t *lastResult, Work &&work) {
  TokenSession s(d, 1);
  if (!s.Ok()) {
    *lastResult = s.Failure();
    return false;
  }
  uint32_t rc = zksTokenSelectPkiWorkDF(d.Record(), 0);
  if (rc == 0) rc = work(d.Record());
  *lastResult = rc;
  return rc == 0;
}

bool CMarvoDevice::VerifyUserPin(const std::wstring &pin) {
  CodePage p(pin);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenVerifyUserPin(dev, p.data(), p.size(), &triesLeft_);
  });
}

bool CMarvoDevice::VerifySoPin(const std::wstring &pin) {
  CodePage p(pin);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenVerifySoPin(dev, p.data(), p.size(), &triesLeft_);
  });
}

bool CMarvoDevice::ChangeUserPin(const std::wstring &oldPin, const std::wstring &newPin) {
  CodePage o(oldPin), n(newPin);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenModifyUserPin(dev, o.data(), o.size(), n.data(), n.size(), &triesLeft_);
  });
}

bool CMarvoDevice::ChangeSoPin(const std::wstring &oldPin, const std::wstring &newPin) {
  CodePage o(oldPin), n(newPin);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenModifySoPin(dev, o.data(), o.size(), n.data(), n.size(), &triesLeft_);
  });
}

bool CMarvoDevice::UnlockUserPin(const std::wstring &soPin, const std::wstring &newUserPin) {
  CodePage a(soPin), n(newUserPin);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenUnlockUserPin(dev, a.data(), a.size(), n.data(), n.size());
  });
}

bool CMarvoDevice::ChangeLabel(const std::wstring &label) {
  std::string l = Host().ToCodePage(label);
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenModifyDeviceLabel(dev, l.c_str(), uint32_t(l.size()));
  });
}

bool CMarvoDevice::CreateContainer(UK_CONTAINER_INFO *record) {
  return RunAdministration(*this, &lastResult_,
                           [&](UK_DEV_INFO *dev) { return zksTokenNewContainer(dev, record); });
}

int CMarvoDevice::FindContainer(const char *name, UK_CONTAINER_INFO *out) {
  UK_CONTAINER_INFO list[5];
  memset(list, 0, sizeof list);
  uint32_t count = 4;
  if (!RunAdministration(*this, &lastResult_,
                         [&](UK_DEV_INFO *dev) { return zksTokenListContainers(dev, list, &count); }))
    return -1;
  for (uint32_t i = 0; i < count && i < 5; ++i) {
    if (strncmp(list[i].name, name, sizeof list[i].name) == 0) {
      *out = list[i];
      return int(i);
    }
  }
  return -1;
}

bool CMarvoDevice::WriteKeyPair(UK_CONTAINER_INFO *record, const UK_RSA_PUBLIC_KEY &pub,
                                const UK_RSA_PRIVATE_KEY &pri, uint32_t keySpec) {
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenWriteRsaKeyPair(dev, record, &pub, &pri, keySpec);
  });
}

bool CMarvoDevice::WriteCertificate(UK_CONTAINER_INFO *record, const uint8_t *der, size_t len,
                                    uint32_t keySpec) {
  return RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    return zksTokenWriteCert(dev, record, der, uint32_t(len), keySpec);
  });
}

bool CMarvoDevice::DeleteContainer(UK_CONTAINER_INFO *record) {
  return RunAdministration(*this, &lastResult_,
                           [&](UK_DEV_INFO *dev) { return zksTokenDeleteContainer(dev, record); });
}

int CMarvoDevice::FindContainerByExchangeModulus(const uint8_t modulus[128], UK_CONTAINER_INFO *out) {
  UK_CONTAINER_INFO list[5];
  memset(list, 0, sizeof list);
  int found = -1;
  RunAdministration(*this, &lastResult_, [&](UK_DEV_INFO *dev) {
    uint32_t count = 4;
    uint32_t rc = zksTokenListContainers(dev, list, &count);
    if (rc) return rc;
    for (uint32_t i = 0; i < count && i < 5 && found < 0; ++i) {
      // Room for the larger record: the library writes a 2048-bit key's record in full.
      UK_RSA_PUBLIC_KEY_2048 key;
      memset(&key, 0, sizeof key);
      if (zksTokenReadRsaPubKey(dev, &list[i], &key, UK_KEYSPEC_EXCHANGE) != 0) continue;
      if (key.bits == 1024 && memcmp(key.modulus, modulus, 128) == 0)  // same place in both records
        found = int(i);
    }
    return 0u;
  });
  if (found >= 0) *out = list[found];
  return found;
}

void CMarvoDevice::LogOut() {
  uint32_t kept = lastResult_, ignored = 0;
  RunAdministration(*this, &ignored, [](UK_DEV_INFO *dev) { return zksTokenResetUserPinVerifyFlag(dev); });
  lastResult_ = kept;
}

}  // namespace client
