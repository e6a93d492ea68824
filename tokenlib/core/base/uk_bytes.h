// Reading and writing the multi-byte fields of frames, card records and the channel block:
// big-endian 16-bit (frame lengths, Lc and Le, file sizes, record lengths) and little-endian
// 32-bit (the channel block's words, on every architecture).
#pragma once
#include <stdint.h>

namespace uk {

inline uint32_t getBe16(const uint8_t *p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline void putBe16(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

inline uint32_t getLe32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putLe32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace uk
