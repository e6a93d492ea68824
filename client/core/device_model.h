// The client's picture of the attached tokens: identity texts, containers with their
// certificates and key pairs, symmetric keys and data objects, rebuilt from the token library on
// every refresh.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "client_host.h"
#include "uk_tokenlib.h"

namespace client {

class TokenContainer;
class CMarvoDevice;

// Result of a token whose load stopped because it still carries its factory default PIN.
constexpr uint32_t kLoadDefaultPin = 27130;  // 0x69FA
constexpr uint32_t kCertBufferSize = 4096;
constexpr uint32_t kDataObjectBufferSize = 8192;

class TokenCert {
 public:
  TokenCert(TokenContainer *container, uint32_t keySpec) : container_(container), keySpec_(keySpec) {}

  bool IsAbsent() const { return absent_; }
  uint32_t KeySpec() const { return keySpec_; }
  const uint8_t *Der() const { return der_.data(); }
  size_t DerLength() const { return der_.size(); }
  const std::wstring &Subject() const { return names_.subject; }
  const std::wstring &Issuer() const { return names_.issuer; }
  const std::wstring &NotBefore() const { return names_.notBefore; }
  const std::wstring &NotAfter() const { return names_.notAfter; }
  // "Signature cert" or "Exchange cert" in the current language.
  const wchar_t *KindText() const;
  TokenContainer *Container() const { return container_; }

  // Takes the certificate read from the token (at most kCertBufferSize bytes).
  void Set(const uint8_t *der, size_t len);

 private:
  TokenContainer *container_;
  uint32_t keySpec_;
  bool absent_ = true;
  std::vector<uint8_t> der_;
  CertNames names_;
};

class TokenKeyPair {
 public:
  TokenKeyPair(TokenContainer *container, uint32_t keySpec) : container_(container), keySpec_(keySpec) {}
  bool IsAbsent() const { return absent_; }
  uint32_t KeySpec() const { return keySpec_; }
  uint32_t ModulusBits() const { return absent_ ? 0 : 1024; }
  void SetPresent(bool present) { absent_ = !present; }

 private:
  TokenContainer *container_;
  uint32_t keySpec_;
  bool absent_ = true;
};

class TokenContainer {
 public:
  TokenContainer(CMarvoDevice *device, const UK_CONTAINER_INFO &record);
  const UK_CONTAINER_INFO &Record() const { return record_; }
  UK_CONTAINER_INFO &Record() { return record_; }
  const std::wstring &Name() const { return name_; }
  CMarvoDevice *Device() const { return device_; }
  // Index 0: exchange certificate (key pair 1), 1: signature certificate (2); any other
  // index gives none.
  TokenCert *Cert(size_t index);
  const TokenCert *Cert(size_t index) const;
  TokenKeyPair &KeyPair(size_t index) { return keyPairs_[index ? 1 : 0]; }
  // Reads both certificates and the key-pair presence; the device is connected. A certificate
  // that cannot be read stays absent.
  void Load();

 private:
  CMarvoDevice *device_;
  UK_CONTAINER_INFO record_;
  std::wstring name_;
  TokenCert certs_[2];
  TokenKeyPair keyPairs_[2];
};

struct SymKeyEntry {
  UK_SYM_KEY_INFO record;
  uint32_t value = 0;
  std::wstring name;
};

struct DataObjectEntry {
  UK_DATA_OBJECT_INFO record;
  std::vector<uint8_t> content;
  std::wstring label;   // the record's name when its attribute flag is 0
  std::wstring first;   // value of the "O" entry of the content
  std::wstring second;  // value of the other entries
  bool parsed = false;
};

// Splits data-object content: entries of tag (1 byte), length (2 bytes, high first) and value.
// The value of "O" goes to *first, any other tag's to *second; a "P" entry whose value starts
// with a non-zero byte ends the walk. False when an entry runs past the end or the entries do
// not fill the content exactly. Lengths are checked against the content; nothing is trusted.
bool ParseDataObjectContent(const uint8_t *data, size_t len, std::string *first,
                            std::string *second);

// A token (slot order of the interface as the other programs of the system know it).
class IDevice {
 public:
  virtual void SetLabel(const std::wstring &label) = 0;
  virtual const std::wstring &GetLabel() const = 0;
  virtual bool RegisterCertificates() = 0;
  virtual bool UnregisterCertificates() = 0;
  virtual void AddRef() = 0;
  virtual void Release() = 0;

 protected:
  virtual ~IDevice() = default;
};

class CMarvoDevice : public IDevice {
 public:
  explicit CMarvoDevice(const UK_DEV_INFO &record);

  void SetLabel(const std::wstring &label) override { label_ = label; }
  const std::wstring &GetLabel() const override { return label_; }
  bool RegisterCertificates() override;
  bool UnregisterCertificates() override;
  void AddRef() override { ++refs_; }
  void Release() override;
  virtual const std::wstring &GetSerialNumber() const { return serial_; }

  const std::wstring &CosVersion() const { return cosVersion_; }
  UK_DEV_INFO *Record() { return &dev_; }
  const UK_DEV_INFO &Record() const { return dev_; }
  const std::vector<std::unique_ptr<TokenContainer>> &Containers() const { return containers_; }
  const std::vector<SymKeyEntry> &SymKeys() const { return symKeys_; }
  const std::vector<DataObjectEntry> &DataObjects() const { return dataObjects_; }
  bool NeedsPinChange() const { return needsPinChange_ != 0; }
  void SetNeedsPinChange(bool v) { needsPinChange_ = v ? 1 : 0; }
  uint8_t &TriesLeft() { return triesLeft_; }
  // Tokens whose PIN is typed on the token itself (model codes 0x22, 0x21, 0x01).
  bool TakesPinOnDevice() const;

  // Reads the token under the device lock; 0 or the result that ended the load.
  uint32_t Load();
  // Reads the device information under the device lock: *pinChanged the first output (0 while
  // the factory PIN is set), *usable the second (0 while the user PIN is blocked).
  bool ReadDeviceInfo(uint32_t *pinChanged, uint8_t *usable);
  // True when the device information says the user PIN is blocked.
  bool IsDeviceLocked();
  // Whether the token still carries its factory default PIN (stored in NeedsPinChange); on a
  // failure the label is emptied and false returned.
  bool CheckPinChange();
  // Tells the token the user's language (device lock, connect, disconnect).
  uint32_t SetLanguage(uint32_t langId);

  // PIN and device administration, and the container work of an import. Each operation takes
  // the device lock, connects (mode 1), selects the PKI application, calls the library and
  // disconnects; true on result 0. The result stays in LastResult() (0 when the lock was not
  // obtained); a PIN answer's tries left goes to TriesLeft(). PINs and the label are passed in
  // the system code page.
  bool VerifyUserPin(const std::wstring &pin);
  bool VerifySoPin(const std::wstring &pin);
  bool ChangeUserPin(const std::wstring &oldPin, const std::wstring &newPin);
  bool ChangeSoPin(const std::wstring &oldPin, const std::wstring &newPin);
  bool UnlockUserPin(const std::wstring &soPin, const std::wstring &newUserPin);
  bool ChangeLabel(const std::wstring &label);
  bool CreateContainer(UK_CONTAINER_INFO *record);
  // The position of the listed container named `name` (its record goes to *out), or -1.
  int FindContainer(const char *name, UK_CONTAINER_INFO *out);
  bool WriteKeyPair(UK_CONTAINER_INFO *record, const UK_RSA_PUBLIC_KEY &pub,
                    const UK_RSA_PRIVATE_KEY &pri, uint32_t keySpec);
  bool WriteCertificate(UK_CONTAINER_INFO *record, const uint8_t *der, size_t len, uint32_t keySpec);
  bool DeleteContainer(UK_CONTAINER_INFO *record);
  // The first listed container whose exchange public key has this 1024-bit modulus (its record
  // goes to *out), or -1.
  int FindContainerByExchangeModulus(const uint8_t modulus[128], UK_CONTAINER_INFO *out);
  uint32_t LastResult() const { return lastResult_; }
  // Ends the PIN verification of the power session (after work that needed a PIN), so that the
  // token is not left open to other programs; LastResult() is kept.
  void LogOut();

 protected:
  ~CMarvoDevice() override = default;

 private:
  UK_DEV_INFO dev_;
  std::wstring label_, serial_, cosVersion_;
  UK_CONTAINER_INFO containerIndex_[5];
  uint32_t containerCount_ = 0;
  UK_SYM_KEY_INFO symKeyIndex_[8];
  UK_DATA_OBJECT_INFO dataObjectIndex_[8];
  std::vector<std::unique_ptr<TokenContainer>> containers_;
  std::vector<SymKeyEntry> symKeys_;
  std::vector<DataObjectEntry> dataObjects_;
  uint32_t needsPinChange_ = 0;
  int refs_ = 0;
  uint8_t triesLeft_ = 0;
  uint32_t lastResult_ = 0;
};

// The device lock plus a connection for one sequence of token calls.
class TokenSession {
 public:
  TokenSession(CMarvoDevice &d, uint32_t mode);
  ~TokenSession();
  TokenSession(const TokenSession &) = delete;
  TokenSession &operator=(const TokenSession &) = delete;
  bool Ok() const { return lock_.Held() && connect_ == 0; }
  // The result that stopped the session from starting (0 with the lock not held).
  uint32_t Failure() const { return lock_.Held() ? connect_ : 0; }

 private:
  CMarvoDevice &d_;
  DeviceLock lock_;
  uint32_t connect_ = 0;
};

// A reference that releases itself.
class DeviceRef {
 public:
  DeviceRef() = default;
  explicit DeviceRef(CMarvoDevice *d) : d_(d) {
    if (d_) d_->AddRef();
  }
  DeviceRef(const DeviceRef &o) : DeviceRef(o.d_) {}
  DeviceRef &operator=(const DeviceRef &o) {
    DeviceRef t(o);
    std::swap(d_, t.d_);
    return *this;
  }
  ~DeviceRef() {
    if (d_) d_->Release();
  }
  CMarvoDevice *get() const { return d_; }
  CMarvoDevice *operator->() const { return d_; }
  explicit operator bool() const { return d_ != nullptr; }

 private:
  CMarvoDevice *d_ = nullptr;
};

// The attached tokens in listing order.
class CDeviceList {
 public:
  ~CDeviceList() { Clear(); }
  const std::vector<DeviceRef> &Devices() const { return devices_; }
  bool Empty() const { return devices_.empty(); }
  void Clear() { devices_.clear(); }
  // Lists the tokens of this project (at most 8) and loads each; a token whose load fails is
  // dropped, except one that still carries its factory PIN. False when the listing failed.
  bool Enumerate();
  // The model part of a refresh: the certificates of the old list leave the user's store, the
  // tokens are listed again, the new list's certificates enter the store and each token is told
  // the language. False when the listing failed (the list is then empty).
  bool Refresh(uint32_t langId);
  void UnregisterAll();

 private:
  std::vector<DeviceRef> devices_;
};

// Counts the attached tokens of this project; false when the listing failed.
bool CountDevices(uint32_t *count);

}  // namespace client
