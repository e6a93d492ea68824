// The per-device PIN cache kept in the caller fields of the token library's device record: the
// valid flag in the caller word, the PIN encrypted under a random 16-byte key (two-key Triple-DES,
// ECB, PKCS #5 padding) in caller data A, the key in caller data B.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "uk_tokenlib.h"

namespace csp {

constexpr size_t kMaxCallerPin = 16;         // longest PIN CPSetProvParam accepts
constexpr size_t kMaxCachedCiphertext = 32;  // caller data A

// Encrypts the PIN under a fresh key and stores it with the flag set. A PIN whose ciphertext
// would not fit (or no random key) leaves the cache empty rather than half-replaced.
void cachePin(UK_DEV_INFO *dev, const char *pin, size_t len);
// Clears flag, ciphertext and length (the key goes with them).
void clearPinCache(UK_DEV_INFO *dev);
// Decrypts the cached PIN into pin (room for kMaxCachedCiphertext + 1 bytes), NUL-terminated,
// with its length in *len. False when the cache is empty or does not decrypt to a PIN.
bool cachedPin(const UK_DEV_INFO *dev, char *pin, size_t *len);

}  // namespace csp
