// Signatures made on the token, checked by Wine's own CryptoAPI (its base provider): the SHA-1
// DigestInfo a caller signs, and the verification of a big-endian PKCS #1 v1.5 signature with a
// 1024-bit public key read from the token. Header-only, Windows tests.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "uk_tokenlib.h"

namespace wintest {

using Bytes = std::vector<uint8_t>;

// A 1024-bit public key record of the token (big-endian numbers, exponent right-aligned) as the
// PUBLICKEYBLOB CryptoAPI imports (little-endian numbers).
inline Bytes publicKeyBlob(const UK_RSA_PUBLIC_KEY &pub) {
  Bytes blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 128);
  auto *bh = reinterpret_cast<BLOBHEADER *>(blob.data());
  bh->bType = PUBLICKEYBLOB;
  bh->bVersion = CUR_BLOB_VERSION;
  bh->aiKeyAlg = CALG_RSA_KEYX;
  auto *rk = reinterpret_cast<RSAPUBKEY *>(blob.data() + sizeof(BLOBHEADER));
  rk->magic = 0x31415352;  // "RSA1"
  rk->bitlen = 1024;
  rk->pubexp = 0;
  for (int i = 0; i < 4; ++i) rk->pubexp |= DWORD(pub.exponent[127 - i]) << (8 * i);
  for (int i = 0; i < 128; ++i)
    blob[sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + i] = pub.modulus[127 - i];
  return blob;
}

// Verifies a PKCS #1 v1.5 SHA-1 signature (big-endian, as the token makes it) with Wine's base
// provider.
inline bool cryptoApiVerifies(const UK_RSA_PUBLIC_KEY &pub, const Bytes &msg, const Bytes &sig) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return false;
  Bytes blob = publicKeyBlob(pub);
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  bool ok = false;
  if (CryptImportKey(prov, blob.data(), DWORD(blob.size()), 0, 0, &key) &&
      CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) &&
      CryptHashData(hash, msg.data(), DWORD(msg.size()), 0)) {
    Bytes le(sig.rbegin(), sig.rend());
    ok = CryptVerifySignatureA(hash, le.data(), DWORD(le.size()), key, nullptr, 0) != FALSE;
  }
  if (hash) CryptDestroyHash(hash);
  if (key) CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  return ok;
}

inline Bytes sha1DigestInfo(const Bytes &msg) {
  static const uint8_t prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  HCRYPTPROV prov = 0;
  HCRYPTHASH hash = 0;
  BYTE md[20];
  DWORD len = sizeof md;
  CryptAcquireContextA(&prov, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
  CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash);
  CryptHashData(hash, msg.data(), DWORD(msg.size()), 0);
  CryptGetHashParam(hash, HP_HASHVAL, md, &len, 0);
  CryptDestroyHash(hash);
  CryptReleaseContext(prov, 0);
  Bytes out(prefix, prefix + sizeof prefix);
  out.insert(out.end(), md, md + 20);
  return out;
}

}  // namespace wintest
