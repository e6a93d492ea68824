// Formatting.
#include "uk_frame.h"

extern "C" {
uint32_t UKAPI zksTokenFormatDevice(UK_DEV_INFO *, void *, const uint8_t *, uint32_t, uint32_t,
                                    const uint8_t *, uint32_t, uint32_t, uint32_t, const char *,
                                    uint32_t, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
}
