// Heap blocks of the provider's records and the buffer-size contract of its out parameters.
#include <stdlib.h>
#include <string.h>

#include "provider.h"

namespace csp {

void wipe(void *p, size_t n) {
  volatile uint8_t *b = static_cast<volatile uint8_t *>(p);
  for (size_t i = 0; i < n; ++i) b[i] = 0;
}

void *allocZeroed(size_t size) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (void *p = calloc(1, size)) return p;
  }
  return nullptr;
}

void freeWiped(void *block, size_t size) {
  if (!block) return;
  wipe(block, size);
  free(block);
}

uint32_t putBytes(const void *src, uint32_t n, uint8_t *data, uint32_t *len) {
  if (!data) {
    *len = n;
    return kOk;
  }
  if (*len < n) {
    // CryptoAPI callers size their buffer again from the length reported with ERROR_MORE_DATA.
    *len = n;
    return kErrMoreData;
  }
  if (n) memcpy(data, src, n);
  *len = n;
  return kOk;
}

uint32_t putValue(uint32_t value, uint8_t *data, uint32_t *len) {
  uint8_t le[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return putBytes(le, 4, data, len);
}

uint32_t languageIndexOf(uint32_t languageId) {
  if (languageId == 2052) return 1;
  if (languageId == 1028) return 2;
  return 0;
}

}  // namespace csp
