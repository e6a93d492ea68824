// RC4-based random generator.
//
// Every request keys a fresh RC4 permutation from 256 bytes of operating-system randomness (two
// key-schedule passes, bytes 0-127 then 128-255, the second continuing the index j of the first).
// A seed, when set, is then keyed twice over that permutation in the same way. The seed is mixed
// into the system-keyed permutation instead of replacing it: a seed such as the current time is
// public, and output derived from the seed alone would make every key and challenge predictable.
#include <cstring>
#include <ctime>

#include "ukcrypto/random.h"
#include "ukcrypto/rc4.h"
#include "bytes.h"

namespace ukcrypto {

bool platformRandom(uint8_t* out, size_t n);  // entropy_win.cpp / entropy_native.cpp

namespace {

EntropySource g_source = nullptr;

Status generateStream(const uint8_t* seed, size_t seedLen, uint8_t* out, size_t n,
                      uint8_t* nextSeed) {
  uint8_t pool[kRandomPoolSize];
  if (!systemRandom(pool, sizeof(pool))) {
    secureZero(pool, sizeof(pool));
    if (out && n) std::memset(out, 0, n);
    return kNoSystemRandom;
  }
  Rc4State st;
  rc4Reset(st);
  size_t pos = 0;
  rc4KeyPass(st, pool, kRandomPoolSize / 2, &pos);
  pos = 0;
  rc4KeyPass(st, pool + kRandomPoolSize / 2, kRandomPoolSize / 2, &pos);
  secureZero(pool, sizeof(pool));
  if (seedLen) {
    pos = 0;
    rc4KeyPass(st, seed, seedLen, &pos);
    rc4KeyPass(st, seed, seedLen, &pos);
  }
  st.i = 0;
  st.j = 0;
  // The first seed-length bytes of the stream are the next stored seed; when the request is
  // shorter than the seed the stream is drawn that far anyway.
  if (n) {
    std::memset(out, 0, n);
    rc4Crypt(st, out, n);
  }
  if (nextSeed && seedLen) {
    size_t fromOut = n < seedLen ? n : seedLen;
    if (fromOut) std::memcpy(nextSeed, out, fromOut);
    if (fromOut < seedLen) {
      std::memset(nextSeed + fromOut, 0, seedLen - fromOut);
      rc4Crypt(st, nextSeed + fromOut, seedLen - fromOut);
    }
  }
  rc4Clear(st);
  return kOk;
}

}  // namespace

bool systemRandom(uint8_t* out, size_t n) {
  if (!n) return true;
  if (!out) return false;
  EntropySource src = g_source;
  return src ? src(out, n) : platformRandom(out, n);
}

void setEntropySource(EntropySource src) { g_source = src; }

uint64_t currentTimeSeconds() {
  std::time_t t = std::time(nullptr);
  return t < 0 ? 0 : static_cast<uint64_t>(t);
}

Status random(const uint8_t* seed, size_t seedLen, uint8_t* out, size_t n) {
  if (seedLen > kRandomMaxSeed) return kSeedTooLong;
  if ((seedLen && !seed) || (n && !out)) return kBadParameter;
  if (!n) return kOk;
  return generateStream(seed, seedLen, out, n, nullptr);
}

Status RandomGenerator::setSeed(const uint8_t* seed, size_t len) {
  if (len > kRandomMaxSeed) return kSeedTooLong;
  if (len && !seed) return kBadParameter;
  secureZero(seed_, sizeof(seed_));
  if (len) std::memcpy(seed_, seed, len);
  seedLen_ = len;
  return kOk;
}

void RandomGenerator::setTimeSeed(uint64_t seconds, size_t bytes) {
  uint8_t b[8];
  if (bytes > sizeof(b)) bytes = sizeof(b);
  for (size_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(seconds >> (8 * i));
  setSeed(b, bytes);
}

Status RandomGenerator::generate(uint8_t* out, size_t n) {
  if (n && !out) return kBadParameter;
  if (!n) return kOk;
  uint8_t next[kRandomMaxSeed];
  Status st = generateStream(seed_, seedLen_, out, n, next);
  if (st == kOk && seedLen_) std::memcpy(seed_, next, seedLen_);
  secureZero(next, sizeof(next));
  return st;
}

Status randomTimeSeeded(uint8_t* out, size_t n) {
  RandomGenerator gen;
  gen.setTimeSeed(currentTimeSeconds(), 8);
  return gen.generate(out, n);
}

}  // namespace ukcrypto
