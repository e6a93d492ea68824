// System randomness on Windows: the default CryptoAPI provider, acquired for verification only
// and released at once.
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>

namespace ukcrypto {

bool platformRandom(uint8_t* out, size_t n) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  bool ok = true;
  while (n && ok) {
    DWORD chunk = n > 0x10000 ? 0x10000 : static_cast<DWORD>(n);
    ok = CryptGenRandom(prov, chunk, out) != FALSE;
    out += chunk;
    n -= chunk;
  }
  CryptReleaseContext(prov, 0);
  return ok;
}

}  // namespace ukcrypto
