// The RC4-based random generator. Each request builds a fresh RC4 state keyed from 256 bytes of
// operating-system randomness (two key-schedule passes, bytes 0-127 then 128-255), mixes in an
// optional seed of at most 32 bytes the same way, and takes the output from the RC4 stream.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ukcrypto/status.h"

namespace ukcrypto {

constexpr size_t kRandomMaxSeed = 32;
constexpr size_t kRandomPoolSize = 256;

// One request. seed may be null when seedLen is 0; seedLen > 32 gives kSeedTooLong.
// kNoSystemRandom if the operating system source fails (out is then zeroed).
Status random(const uint8_t* seed, size_t seedLen, uint8_t* out, size_t n);

// Generator with a stored seed: after each request the first seed-length output bytes become the
// stored seed. Not synchronised; the owner serialises access.
class RandomGenerator {
 public:
  RandomGenerator() = default;
  // Sets (or, with len 0, clears) the stored seed. kSeedTooLong above 32 bytes.
  Status setSeed(const uint8_t* seed, size_t len);
  // Stores the time as a little-endian seed: 4 bytes (token library) or 8 bytes (provider).
  void setTimeSeed(uint64_t seconds, size_t bytes);
  Status generate(uint8_t* out, size_t n);
  size_t seedLength() const { return seedLen_; }
  const uint8_t* seed() const { return seed_; }

 private:
  uint8_t seed_[kRandomMaxSeed] = {};
  size_t seedLen_ = 0;
};

// The provider's variant: the current time (64-bit seconds) as an 8-byte seed before every request.
Status randomTimeSeeded(uint8_t* out, size_t n);

// --- System randomness seam ----------------------------------------------------------------------
// Fills out with n bytes from the operating system (Windows: the default CryptoAPI provider;
// elsewhere getrandom or /dev/urandom). False on failure.
using EntropySource = bool (*)(uint8_t* out, size_t n);
bool systemRandom(uint8_t* out, size_t n);
// Replaces the source (tests); null restores the system one. Not synchronised.
void setEntropySource(EntropySource src);

// Current time in seconds since 1970 (the seed of the pad generator and the time seeds).
uint64_t currentTimeSeconds();

}  // namespace ukcrypto
