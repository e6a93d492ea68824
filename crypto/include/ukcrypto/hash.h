// MD5 (RFC 1321) and SHA-1 (FIPS 180-1). Fixed-size contexts, no allocation.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ukcrypto {

constexpr size_t kMd5DigestSize = 16;
constexpr size_t kSha1DigestSize = 20;
constexpr size_t kHashBlockSize = 64;

// After md5Final the state words hold the digest (the digest bytes are the words little-endian).
struct Md5Context {
  uint32_t state[4];
  uint64_t bitCount;
  uint8_t buffer[kHashBlockSize];
};

void md5Init(Md5Context& ctx);
void md5Update(Md5Context& ctx, const void* data, size_t len);
void md5Final(Md5Context& ctx, uint8_t digest[kMd5DigestSize]);
// One-shot helper.
void md5(const void* data, size_t len, uint8_t digest[kMd5DigestSize]);
// Loads 16 digest bytes into the state words (little-endian), as when a caller sets a hash value.
void md5LoadDigest(Md5Context& ctx, const uint8_t digest[kMd5DigestSize]);
// Reads the state words back as 16 bytes (little-endian), without finalising.
void md5ReadDigest(const Md5Context& ctx, uint8_t digest[kMd5DigestSize]);

// The digest bytes are the state words written big-endian.
struct Sha1Context {
  uint32_t state[5];
  uint64_t bitCount;
  uint8_t buffer[kHashBlockSize];
};

void sha1Init(Sha1Context& ctx);
void sha1Update(Sha1Context& ctx, const void* data, size_t len);
void sha1Final(Sha1Context& ctx, uint8_t digest[kSha1DigestSize]);
void sha1(const void* data, size_t len, uint8_t digest[kSha1DigestSize]);
// Loads 20 digest bytes into the state words (big-endian), as when a caller sets a hash value.
void sha1LoadDigest(Sha1Context& ctx, const uint8_t digest[kSha1DigestSize]);
// Reads the state words back as 20 bytes (big-endian), without finalising.
void sha1ReadDigest(const Sha1Context& ctx, uint8_t digest[kSha1DigestSize]);

// SHA-1 uses the processor's SHA instructions where present (x86 with SHA extensions). Tests and
// benchmarks can switch that off to exercise the portable code; returns whether it is in use.
bool sha1SetHardwareAcceleration(bool enabled);

}  // namespace ukcrypto
