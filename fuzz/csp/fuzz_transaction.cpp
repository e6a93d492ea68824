// Transaction messages: the parser on arbitrary bytes, and CPHashData on a display token's
// context, where a recognised message is captured and read back whole.
#include <stdlib.h>
#include <string.h>

#include "fuzz_provider.h"
#include "transaction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static cspfuzz::OfflineProvider f(18);  // a display token: messages are captured
  uint8_t *copy = static_cast<uint8_t *>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  const bool message = csp::isTransactionMessage(copy, size);
  if (message && (size > csp::kMaxMessage || copy[0] != 0x6F)) abort();

  uintptr_t hash = 0;
  if (f.provider.createHash(f.prov, csp::kCalgSha1, 0, 0, &hash)) abort();
  if (size) {
    if (f.provider.hashData(f.prov, hash, copy, uint32_t(size), 0)) abort();
    uint8_t value[300];
    uint32_t len = sizeof value;
    if (f.provider.getHashParam(f.prov, hash, csp::kHpHashVal, value, &len, 0)) abort();
    // A captured message reads back whole; anything else reads back as a 20-byte digest.
    if (message ? (len != size || memcmp(value, copy, size) != 0) : len != 20) abort();
  }
  f.provider.destroyHash(f.prov, hash);
  free(copy);
  return 0;
}
