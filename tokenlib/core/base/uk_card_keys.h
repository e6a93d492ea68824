// Keys shared between the token library and the token's operating system.
//
// The transport key opens the secure channel that formatting needs (the card diversifies it with
// its own diversification data, then both sides derive the session keys). The two external
// authentication keys are installed into every key file at format time. The values are this
// project's own; the token emulator (tokensim/) uses the same header so both sides agree.
#pragma once
#include <stdint.h>

namespace uk {

constexpr uint8_t kTransportKey[16] = {0x4B, 0x45, 0x4C, 0x4D, 0x2D, 0x51, 0x35, 0x37,
                                       0x9A, 0x31, 0xC6, 0x0E, 0x57, 0xB2, 0x68, 0xD4};

// Installed with reference C2 (first) and C1 (second), number 0, class 1.
constexpr uint8_t kExtAuthKey1[16] = {0x3C, 0x91, 0x0D, 0xE7, 0x5A, 0x24, 0xB8, 0x6F,
                                      0x12, 0xC3, 0x7E, 0x49, 0xA5, 0x08, 0xF1, 0x66};
constexpr uint8_t kExtAuthKey2[16] = {0xD2, 0x47, 0x8B, 0x19, 0xE0, 0x73, 0x5C, 0xAE,
                                      0x36, 0x9F, 0x04, 0xC8, 0x61, 0xBD, 0x2A, 0x95};

}  // namespace uk
