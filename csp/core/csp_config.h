// Deployment constants of the provider.
#pragma once
#include <stdint.h>

namespace csp {

// The 20-byte code zksGetCode hands to programs that ask which provider build they talk to.
constexpr uint8_t kProviderCode[20] = {0x5A, 0x56, 0x2D, 0x55, 0x4B, 0x2D, 0x4F, 0x52, 0x56, 0x2D,
                                       0x43, 0x53, 0x50, 0x2D, 0x30, 0x30, 0x30, 0x31, 0x2E, 0x30};

// zksGetCode: 1 with the code and *len = 20 when the buffer holds 20 bytes, else 0 with nothing
// touched.
inline int providerCode(uint8_t *buf, uint32_t *len) {
  if (!buf || !len || *len < sizeof kProviderCode) return 0;
  for (unsigned i = 0; i < sizeof kProviderCode; ++i) buf[i] = kProviderCode[i];
  *len = sizeof kProviderCode;
  return 1;
}

}  // namespace csp
