#include "pin_cache.h"

#include <string.h>

#include "records.h"
#include "ukcrypto/des.h"
#include "ukcrypto/random.h"

namespace csp {

constexpr size_t kCacheKeySize = 16;

void clearPinCache(UK_DEV_INFO *dev) {
  dev->callerWord = 0;
  wipe(dev->callerDataA, sizeof dev->callerDataA);
  dev->callerDataALen = 0;
  wipe(dev->callerDataB, sizeof dev->callerDataB);
  dev->callerDataBLen = 0;
}

void cachePin(UK_DEV_INFO *dev, const char *pin, size_t len) {
  uint8_t key[kCacheKeySize];
  uint8_t out[128];
  size_t outLen = sizeof out;
  bool ok = false;
  for (int attempt = 0; attempt < 3 && !ok; ++attempt)
    ok = ukcrypto::randomTimeSeeded(key, sizeof key) == ukcrypto::kOk;
  ok = ok && len <= sizeof out - 8 &&
       ukcrypto::blockEncrypt(reinterpret_cast<const uint8_t *>(pin), len, key, sizeof key,
                              nullptr, 1, ukcrypto::kModeEcb, 0, out, &outLen) == ukcrypto::kOk &&
       outLen <= kMaxCachedCiphertext;
  clearPinCache(dev);
  if (ok) {
    memcpy(dev->callerDataB, key, sizeof key);
    dev->callerDataBLen = uint8_t(sizeof key);
    memcpy(dev->callerDataA, out, outLen);
    dev->callerDataALen = uint8_t(outLen);
    dev->callerWord = 1;
  }
  wipe(key, sizeof key);
  wipe(out, sizeof out);
}

bool cachedPin(const UK_DEV_INFO *dev, char *pin, size_t *len) {
  size_t n = dev->callerDataALen;
  // The fields are ours, but they live in a record another module fills: check before use.
  if (n == 0 || n > kMaxCachedCiphertext || n % 8 != 0 || dev->callerDataBLen != kCacheKeySize)
    return false;
  uint8_t plain[kMaxCachedCiphertext];
  size_t plainLen = sizeof plain;
  bool ok = ukcrypto::blockDecrypt(dev->callerDataA, n, dev->callerDataB, kCacheKeySize, nullptr, 1,
                                   ukcrypto::kModeEcb, 0, plain, &plainLen) == ukcrypto::kOk;
  if (ok) {
    memcpy(pin, plain, plainLen);
    pin[plainLen] = 0;
    *len = strnlen(pin, plainLen);
  }
  wipe(plain, sizeof plain);
  return ok && *len > 0;
}

}  // namespace csp
