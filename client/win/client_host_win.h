// The client's platform on Windows: the device-exclusive mutex, crypt32 for certificate texts
// and the user's "My" store, the certificate viewer, the system code page, GUIDs.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "client_host.h"
#include "ui_kernel_objects.h"

namespace client {

// Name of the provider that the store entries name (CryptoAPI provider of type PROV_RSA_FULL).
constexpr const wchar_t *kProviderName = L"ZV UKey for ORV Cryptographic Service Provider";
constexpr const char *kDeviceMutexName = "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV";
constexpr const char *kCertChangeEventName = "Global\\EVENT_CERT_CHANGE_KELM_ORV";

class WinClientHost : public ClientHost {
 public:
  // Creates (or opens) the device-exclusive mutex; the handle lives as long as the host.
  bool OpenDeviceMutex();
  void CloseDeviceMutex();
  HANDLE DeviceMutex() const { return mutex_; }

  bool LockDevices() override;
  void UnlockDevices() override;
  bool DescribeCertificate(const uint8_t *der, size_t len, CertNames *out) override;
  std::wstring FromCodePage(const char *text, size_t len) override;
  std::string ToCodePage(const std::wstring &text) override;
  uint32_t RegisterCertificate(const TokenCert &cert) override;
  uint32_t UnregisterCertificate(const TokenCert &cert) override;
  Guid NewGuid() override;

 private:
  HANDLE mutex_ = nullptr;
};

// Kernel objects that processes of every integrity level may open (the GUI layer's).
using ui::CreateSharedEvent;
using ui::CreateSharedMutex;

// The user's "My" store, through which programs reach the provider: add with key-provider
// information naming the provider, the container and the key pair; remove.
uint32_t RegisterCertificate(const uint8_t *der, size_t len, const std::wstring &container,
                             uint32_t keySpec);
uint32_t UnregisterCertificate(const uint8_t *der, size_t len);

// The system's certificate viewer (cryptui, bound at run time), modal over parent, without the
// offer to add the certificate to a store.
void ShowCertificateViewer(HWND parent, PCCERT_CONTEXT cert);

}  // namespace client
