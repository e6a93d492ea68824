// Certificate registration in the user's "My" store through crypt32, in-process: the entry carries
// key-provider information naming the provider, the container and the key pair; the same
// certificate registered twice leaves one entry; unregistering removes it, and unregistering a
// certificate that is no longer there answers CRYPT_E_NOT_FOUND.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_host_win.h"

namespace {

std::vector<BYTE> SelfSigned(const std::wstring &cn) {
  std::wstring x500 = L"CN=\"" + cn + L"\"";
  DWORD n = 0;
  CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, nullptr, &n, nullptr);
  std::vector<BYTE> name(n);
  CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, name.data(), &n, nullptr);
  CERT_NAME_BLOB blob{n, name.data()};
  CRYPT_KEY_PROV_INFO kp{};
  std::wstring container = L"client-store-test-" + cn;
  kp.pwszContainerName = &container[0];
  kp.dwProvType = PROV_RSA_FULL;
  kp.dwKeySpec = AT_SIGNATURE;
  HCRYPTPROV prov = 0;
  CryptAcquireContextW(&prov, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET);
  HCRYPTKEY key = 0;
  CryptGenKey(prov, AT_SIGNATURE, 1024u << 16, &key);
  PCCERT_CONTEXT c = CertCreateSelfSignCertificate(prov, &blob, 0, &kp, nullptr, nullptr, nullptr, nullptr);
  std::vector<BYTE> der;
  if (c) der.assign(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded), CertFreeCertificateContext(c);
  if (key) CryptDestroyKey(key);
  if (prov) CryptReleaseContext(prov, 0);
  CryptAcquireContextW(&prov, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  return der;
}

struct Entry {
  int count = 0;
  std::wstring container, provider;
  DWORD type = 0, spec = 0;
};

Entry Lookup(const std::vector<BYTE> &der) {
  Entry e;
  HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  PCCERT_CONTEXT c = nullptr;
  while (s && (c = CertEnumCertificatesInStore(s, c))) {
    if (c->cbCertEncoded != der.size() || memcmp(c->pbCertEncoded, der.data(), der.size())) continue;
    ++e.count;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size);
      auto *kp = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buf.data());
      e.container = kp->pwszContainerName;
      e.provider = kp->pwszProvName;
      e.type = kp->dwProvType;
      e.spec = kp->dwKeySpec;
    }
  }
  if (s) CertCloseStore(s, 0);
  return e;
}

TEST(ClientStore, RegisterOnceUnregisterAndNotFound) {
  std::vector<BYTE> der = SelfSigned(L"Store Test " + std::to_wstring(GetCurrentProcessId()));
  ASSERT_FALSE(der.empty());
  EXPECT_EQ(0u, client::RegisterCertificate(der.data(), der.size(), L"token-container", 2));
  EXPECT_EQ(0u, client::RegisterCertificate(der.data(), der.size(), L"token-container", 2));
  Entry e = Lookup(der);
  EXPECT_EQ(1, e.count);
  EXPECT_EQ(L"token-container", e.container);
  EXPECT_EQ(client::kProviderName, e.provider);
  EXPECT_EQ(1u, e.type);
  EXPECT_EQ(2u, e.spec);

  EXPECT_EQ(0u, client::UnregisterCertificate(der.data(), der.size()));
  EXPECT_EQ(0, Lookup(der).count);
  EXPECT_EQ(0x80092004u, client::UnregisterCertificate(der.data(), der.size()));
}

TEST(ClientStore, BytesThatAreNoCertificateAreRefused) {
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  EXPECT_NE(0u, client::RegisterCertificate(junk, sizeof junk, L"c", 1));
  EXPECT_NE(0u, client::UnregisterCertificate(junk, sizeof junk));
}

}  // namespace
