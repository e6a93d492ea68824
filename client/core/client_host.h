// What the client's portable core needs from the platform: the device-exclusive lock shared with
// the provider, certificate decoding for display, text conversion in the system code page, the
// user's certificate store and fresh GUIDs. The Win32 skin implements it with the real
// interfaces; native tests implement it in-process.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace client {

class TokenCert;

// Display texts of a certificate.
struct CertNames {
  std::wstring subject;    // friendly display name of the subject
  std::wstring issuer;     // friendly display name of the issuer
  std::wstring notBefore;  // short date in the user's locale
  std::wstring notAfter;
};

// A GUID as the platform makes it.
struct Guid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
};

class ClientHost {
 public:
  virtual ~ClientHost() = default;
  // Waits without time-out for the device-exclusive mutex; true when it is held.
  virtual bool LockDevices() = 0;
  virtual void UnlockDevices() = 0;
  // False when the bytes are not a certificate.
  virtual bool DescribeCertificate(const uint8_t *der, size_t len, CertNames *out) = 0;
  // Byte strings of the token library are in the system code page.
  virtual std::wstring FromCodePage(const char *text, size_t len) = 0;
  virtual std::string ToCodePage(const std::wstring &text) = 0;
  // The user's "My" store: 0 or an error code.
  virtual uint32_t RegisterCertificate(const TokenCert &cert) = 0;
  virtual uint32_t UnregisterCertificate(const TokenCert &cert) = 0;
  // A fresh GUID (new containers are named by one).
  virtual Guid NewGuid() = 0;
};

// The host of this process (set once at start, before any device is loaded).
void SetClientHost(ClientHost *host);
ClientHost &Host();

// Holds the device-exclusive lock for a scope; Held() only when the wait succeeded.
class DeviceLock {
 public:
  DeviceLock() : held_(Host().LockDevices()) {}
  ~DeviceLock() {
    if (held_) Host().UnlockDevices();
  }
  DeviceLock(const DeviceLock &) = delete;
  DeviceLock &operator=(const DeviceLock &) = delete;
  bool Held() const { return held_; }

 private:
  bool held_;
};

}  // namespace client
