// Minimal DER certificates for store tests: structurally valid X.509 v3 certificates (the
// signature is not a real one; the stores never check it), told apart by serial number.
#pragma once
#include <stdint.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

namespace testcerts {

inline std::vector<uint8_t> tlv(uint8_t tag, const std::vector<uint8_t> &body) {
  std::vector<uint8_t> out{tag};
  size_t n = body.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 0x100) {
    out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::vector<uint8_t> name(const char *cn) {
  std::vector<uint8_t> value(cn, cn + strlen(cn));
  auto atv = tlv(0x30, cat({tlv(0x06, {0x55, 0x04, 0x03}), tlv(0x0C, value)}));
  return tlv(0x30, tlv(0x31, atv));
}

// A certificate with the given serial number and common name.
inline std::vector<uint8_t> makeCertificate(uint8_t serial, const char *cn) {
  // sha1WithRSAEncryption
  auto sigAlg = tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}),
                               tlv(0x05, {})}));
  auto rsaAlg = tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}),
                               tlv(0x05, {})}));
  std::vector<uint8_t> modulus(65, 0xC3);
  modulus[0] = 0x00;
  modulus[64] = serial | 1;
  auto rsaKey = tlv(0x30, cat({tlv(0x02, modulus), tlv(0x02, {0x01, 0x00, 0x01})}));
  std::vector<uint8_t> bits{0x00};
  bits.insert(bits.end(), rsaKey.begin(), rsaKey.end());
  auto spki = tlv(0x30, cat({rsaAlg, tlv(0x03, bits)}));
  const char *from = "200101000000Z", *to = "391231235959Z";
  auto validity = tlv(0x30, cat({tlv(0x17, std::vector<uint8_t>(from, from + 13)),
                                 tlv(0x17, std::vector<uint8_t>(to, to + 13))}));
  auto version = tlv(0xA0, tlv(0x02, {0x02}));
  auto tbs = tlv(0x30, cat({version, tlv(0x02, {serial}), sigAlg, name(cn), validity, name(cn),
                            spki}));
  std::vector<uint8_t> signature(65, 0x5A);
  signature[0] = 0x00;
  return tlv(0x30, cat({tbs, sigAlg, tlv(0x03, signature)}));
}

#ifdef _WIN32
// Adds such a certificate to the current user's "My" store with key-provider information that
// names provider (type 1), the container and the exchange key pair, as the client registers a
// token's certificate; the store is written back before it is closed.
inline bool addToMyStore(uint8_t serial, const char *cn, const wchar_t *provider,
                         const wchar_t *container) {
  HCERTSTORE store = CertOpenSystemStoreW(0, L"My");
  if (!store) return false;
  std::vector<uint8_t> der = makeCertificate(serial, cn);
  PCCERT_CONTEXT ctx = nullptr;
  bool ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                             static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, &ctx) != 0;
  if (ok) {
    CRYPT_KEY_PROV_INFO info;
    ZeroMemory(&info, sizeof(info));
    info.pwszContainerName = const_cast<wchar_t *>(container);
    info.pwszProvName = const_cast<wchar_t *>(provider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ok = CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != 0;
    CertFreeCertificateContext(ctx);
  }
  CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(store, 0);
  return ok;
}
#endif

}  // namespace testcerts
