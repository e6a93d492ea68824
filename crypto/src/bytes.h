// Byte-order helpers and wiping, internal to the cryptography library.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ukcrypto {

inline uint32_t load32be(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap32(v);
#else
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
#endif
}

inline void store32be(uint8_t* p, uint32_t v) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
#else
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
#endif
}

inline uint32_t load32le(const uint8_t* p) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
#else
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
#endif
}

inline void store32le(uint8_t* p, uint32_t v) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, &v, 4);
#else
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
#endif
}

inline uint64_t load64be(const uint8_t* p) {
  return (uint64_t(load32be(p)) << 32) | load32be(p + 4);
}

inline void store64be(uint8_t* p, uint64_t v) {
  store32be(p, uint32_t(v >> 32));
  store32be(p + 4, uint32_t(v));
}

// Wipes secrets; the volatile pointer keeps the stores from being optimised away.
inline void secureZero(void* p, size_t n) {
  volatile uint8_t* q = static_cast<volatile uint8_t*>(p);
  while (n--) *q++ = 0;
}

}  // namespace ukcrypto
