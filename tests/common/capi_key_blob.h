// A token's 1024-bit RSA public key record (big-endian numbers, exponent right-aligned) as the
// PUBLICKEYBLOB CryptoAPI imports (little-endian numbers), for the Windows tests that check the
// token's keys with Wine's own provider or issue certificates for them. Header-only.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "uk_tokenlib.h"

namespace uktest {

inline std::vector<uint8_t> CspPublicKeyBlob(const UK_RSA_PUBLIC_KEY &pub) {
  std::vector<uint8_t> blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 128);
  auto *bh = reinterpret_cast<BLOBHEADER *>(blob.data());
  bh->bType = PUBLICKEYBLOB;
  bh->bVersion = CUR_BLOB_VERSION;
  bh->aiKeyAlg = CALG_RSA_KEYX;
  auto *rk = reinterpret_cast<RSAPUBKEY *>(blob.data() + sizeof(BLOBHEADER));
  rk->magic = 0x31415352;  // "RSA1"
  rk->bitlen = 1024;
  rk->pubexp = 0;
  for (int i = 0; i < 4; ++i) rk->pubexp |= DWORD(pub.exponent[127 - i]) << (8 * i);
  for (int i = 0; i < 128; ++i) blob[sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + i] = pub.modulus[127 - i];
  return blob;
}

}  // namespace uktest
