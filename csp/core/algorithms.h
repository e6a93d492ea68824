// The algorithm tables the provider reports through PP_ENUMALGS and PP_ENUMALGS_EX, as the
// records CryptoAPI defines (PROV_ENUMALGS, 32 bytes; PROV_ENUMALGS_EX, 88 bytes; little-endian).
#pragma once
#include <stdint.h>

namespace csp {

constexpr uint32_t kEnumAlgsSize = 32;
constexpr uint32_t kEnumAlgsExSize = 88;
constexpr uint32_t kEnumAlgsCount = 8;
constexpr uint32_t kEnumAlgsExCount = 9;

// Fill the record of entry index; false past the last entry.
bool enumAlgsRecord(uint32_t index, uint8_t out[kEnumAlgsSize]);
bool enumAlgsExRecord(uint32_t index, uint8_t out[kEnumAlgsExSize]);

}  // namespace csp
