// RSA public operation and PKCS #1 v1.5 against fixed vectors, and the random generator's
// keying, seed and failure rules through the system-randomness seam.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "rsa_vectors.h"
#include "test_util.h"
#include "ukcrypto/ukcrypto.h"

using namespace ukcrypto;

namespace {

RsaPublicKey key1024(const char* expHex = "010001") {
  auto n = unhex(rsa_vectors::kN), e = unhex(expHex);
  RsaPublicKey k;
  EXPECT_EQ(rsaKeySet(k, n.data(), n.size(), e.data(), e.size()), kOk);
  return k;
}

TEST(Rsa, PublicBlockKnownAnswers) {
  RsaPublicKey k = key1024();
  EXPECT_EQ(k.bits, 1024u);
  EXPECT_EQ(k.modulusBytes, 128u);
  auto m = unhex(rsa_vectors::kM);
  uint8_t out[128];
  ASSERT_EQ(rsaPublicBlock(k, m.data(), m.size(), out, sizeof(out)), kOk);
  EXPECT_EQ(hex(out, 128), rsa_vectors::kC);
  RsaPublicKey k3 = key1024("03");
  ASSERT_EQ(rsaPublicBlock(k3, m.data(), m.size(), out, sizeof(out)), kOk);
  EXPECT_EQ(hex(out, 128), rsa_vectors::kC3);
  // The private exponent through the same routine undoes the public one.
  RsaPublicKey kd = key1024(rsa_vectors::kD);
  auto c = unhex(rsa_vectors::kC);
  ASSERT_EQ(rsaPublicBlock(kd, c.data(), c.size(), out, sizeof(out)), kOk);
  EXPECT_EQ(hex(out, 128), rsa_vectors::kM);
}

TEST(Rsa, RefusesBadInputs) {
  RsaPublicKey k = key1024();
  auto n = unhex(rsa_vectors::kN);
  uint8_t out[128];
  // Not below the modulus: n itself, and all FF.
  EXPECT_EQ(rsaPublicBlock(k, n.data(), 128, out, sizeof(out)), kOutOfRange);
  std::vector<uint8_t> ff(128, 0xFF);
  EXPECT_EQ(rsaPublicBlock(k, ff.data(), 128, out, sizeof(out)), kOutOfRange);
  // Wrong lengths and short output.
  EXPECT_EQ(rsaPublicBlock(k, ff.data(), 127, out, sizeof(out)), kBadDataLength);
  EXPECT_EQ(rsaPublicBlock(k, ff.data(), 129, out, sizeof(out)), kBadDataLength);
  std::vector<uint8_t> small(128, 0);
  small[127] = 2;
  EXPECT_EQ(rsaPublicBlock(k, small.data(), 128, out, 127), kBufferTooSmall);
  // Unusable keys.
  RsaPublicKey bad;
  std::vector<uint8_t> even = n;
  even[127] &= 0xFE;
  uint8_t e[3] = {1, 0, 1}, zero[1] = {0};
  EXPECT_EQ(rsaKeySet(bad, even.data(), even.size(), e, 3), kBadKey);
  EXPECT_EQ(rsaKeySet(bad, n.data(), n.size(), zero, 1), kBadKey);
  std::vector<uint8_t> big(129, 0x01);
  EXPECT_EQ(rsaKeySet(bad, big.data(), big.size(), e, 3), kBadKey);
  // Leading zero bytes are not part of the length: 129 bytes with a zero first byte is fine.
  std::vector<uint8_t> padded(1, 0);
  padded.insert(padded.end(), n.begin(), n.end());
  EXPECT_EQ(rsaKeySet(bad, padded.data(), padded.size(), e, 3), kOk);
  EXPECT_EQ(bad.modulusBytes, 128u);
  // A key that was never set refuses to operate.
  RsaPublicKey unset{};
  EXPECT_EQ(rsaPublicBlock(unset, small.data(), 128, out, sizeof(out)), kBadKey);
}

TEST(Rsa, BlockType1Verification) {
  RsaPublicKey k = key1024();
  auto sig = unhex(rsa_vectors::kSig);
  uint8_t data[128];
  size_t len = 0;
  ASSERT_EQ(rsaVerifyPkcs1Type1(k, sig.data(), sig.size(), data, sizeof(data), &len), kOk);
  EXPECT_EQ(hex(data, len), rsa_vectors::kData);
  // Output too small: needed length reported.
  EXPECT_EQ(rsaVerifyPkcs1Type1(k, sig.data(), sig.size(), data, 10, &len), kBufferTooSmall);
  EXPECT_EQ(len, 35u);
  // Seven pad bytes are refused; eight are accepted.
  auto sig7 = unhex(rsa_vectors::kSig7), sig8 = unhex(rsa_vectors::kSig8);
  EXPECT_EQ(rsaVerifyPkcs1Type1(k, sig7.data(), sig7.size(), data, sizeof(data), &len), kBadPadding);
  ASSERT_EQ(rsaVerifyPkcs1Type1(k, sig8.data(), sig8.size(), data, sizeof(data), &len), kOk);
  EXPECT_EQ(len, 128u - 11u);
  // Signature length must equal the modulus length.
  EXPECT_EQ(rsaVerifyPkcs1Type1(k, sig.data(), 127, data, sizeof(data), &len), kBadDataLength);
  // A tampered signature fails.
  sig[50] ^= 1;
  EXPECT_NE(rsaVerifyPkcs1Type1(k, sig.data(), sig.size(), data, sizeof(data), &len), kOk);
}

TEST(Rsa, BlockType1CheckRules) {
  auto check = [](std::vector<uint8_t> b) {
    size_t off = 0, len = 0;
    return pkcs1Type1Check(b.data(), b.size(), &off, &len);
  };
  std::vector<uint8_t> good(64, 0xFF);
  good[0] = 0;
  good[1] = 1;
  good[40] = 0;
  size_t off = 0, len = 0;
  ASSERT_EQ(pkcs1Type1Check(good.data(), good.size(), &off, &len), kOk);
  EXPECT_EQ(off, 41u);
  EXPECT_EQ(len, 23u);
  auto b = good;
  b[1] = 2;
  EXPECT_EQ(check(b), kBadPadding);  // wrong block type
  b = good;
  b[0] = 1;
  EXPECT_EQ(check(b), kBadPadding);  // no leading zero
  b = good;
  b[40] = 0xFF;
  b[63] = 0xFF;
  EXPECT_EQ(check(b), kBadPadding);  // no separator at all
  b = good;
  b[20] = 0x5A;
  EXPECT_EQ(check(b), kBadPadding);  // pad byte other than FF
  b = good;
  b[40] = 0xFF;
  b[10] = 0;  // separator after exactly 8 pad bytes: accepted, empty-data case at the end too
  EXPECT_EQ(check(b), kOk);
  b[10] = 0xFF;
  b[9] = 0;  // 7 pad bytes
  EXPECT_EQ(check(b), kBadPadding);
  b = good;
  b[40] = 0xFF;
  b[63] = 0;  // separator in the last byte: empty data
  ASSERT_EQ(pkcs1Type1Check(b.data(), b.size(), &off, &len), kOk);
  EXPECT_EQ(len, 0u);
}

TEST(Rsa, PadGeneratorIsTheLinearCongruentialSequence) {
  // With state 1 the values are 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358 ...
  PadLcg lcg{1};
  const uint32_t expect[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (uint32_t v : expect) EXPECT_EQ(lcg.next(), v);
  uint8_t block[32];
  uint8_t data[5] = {0xD1, 0xD2, 0xD3, 0xD4, 0xD5};
  lcg.state = 1;
  ASSERT_EQ(pkcs1Type2Pad(block, sizeof(block), data, 5, lcg), kOk);
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x02);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(block[2 + i], uint8_t(expect[i])) << i;
  EXPECT_EQ(block[32 - 6], 0x00);
  EXPECT_EQ(std::memcmp(block + 27, data, 5), 0);
  // Too little room: at least 11 bytes more than the data.
  EXPECT_EQ(pkcs1Type2Pad(block, 15, data, 5, lcg), kBadDataLength);
  EXPECT_EQ(pkcs1Type2Pad(block, 16, data, 5, lcg), kOk);
}

TEST(Rsa, PadZeroBytesAreReplacedAndNeverSurvive) {
  // Find states whose first value has a zero low byte: the pad byte is the next value plus one.
  // When that next value ends in FF the replacement would be zero again and is drawn anew.
  bool sawPlain = false, sawWrap = false;
  for (uint32_t s = 0; s < 50000000 && !(sawPlain && sawWrap); ++s) {
    PadLcg probe{s};
    uint32_t v1 = probe.next();
    if (v1 & 0xFF) continue;
    uint32_t v2 = probe.next();
    uint32_t v3 = probe.next();
    uint8_t block[16];
    uint8_t data[1] = {0x42};
    PadLcg lcg{s};
    ASSERT_EQ(pkcs1Type2Pad(block, 16, data, 1, lcg), kOk);
    for (int i = 2; i < 14; ++i) ASSERT_NE(block[i], 0) << s;
    if (((v2 + 1) & 0xFF) != 0) {
      EXPECT_EQ(block[2], uint8_t(v2 + 1));
      sawPlain = true;
    } else {
      if ((v3 + 1) & 0xFF) {
        EXPECT_EQ(block[2], uint8_t(v3 + 1));
      }
      sawWrap = true;
    }
  }
  EXPECT_TRUE(sawPlain);
  EXPECT_TRUE(sawWrap);
}

TEST(Rsa, BlockType2EncryptionDecryptsWithThePrivateExponent) {
  RsaPublicKey k = key1024(), kd = key1024(rsa_vectors::kD);
  uint8_t session[24];
  for (int i = 0; i < 24; ++i) session[i] = uint8_t(0xA0 + i);
  uint8_t ct[128], pt[128];
  ASSERT_EQ(rsaEncryptPkcs1Type2(k, session, 24, ct, sizeof(ct)), kOk);
  ASSERT_EQ(rsaPublicBlock(kd, ct, 128, pt, sizeof(pt)), kOk);
  EXPECT_EQ(pt[0], 0);
  EXPECT_EQ(pt[1], 2);
  for (int i = 2; i < 128 - 25; ++i) EXPECT_NE(pt[i], 0) << i;
  EXPECT_EQ(pt[128 - 25], 0);
  EXPECT_EQ(std::memcmp(pt + 128 - 24, session, 24), 0);
  std::vector<uint8_t> tooLong(118);
  EXPECT_EQ(rsaEncryptPkcs1Type2(k, tooLong.data(), 118, ct, sizeof(ct)), kBadDataLength);
  EXPECT_EQ(rsaEncryptPkcs1Type2(k, tooLong.data(), 117, ct, sizeof(ct)), kOk);
  EXPECT_EQ(rsaEncryptPkcs1Type2(k, session, 24, ct, 100), kBufferTooSmall);
}

// --- Random generator --------------------------------------------------------------------------

uint8_t g_fill = 0;
int g_calls = 0;
bool fixedSource(uint8_t* out, size_t n) {
  ++g_calls;
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(g_fill + i * 29);
  return true;
}
bool failingSource(uint8_t*, size_t) { return false; }

struct SeamGuard {
  explicit SeamGuard(EntropySource s) { setEntropySource(s); }
  ~SeamGuard() { setEntropySource(nullptr); }
};

// The documented keying, written out independently of the library's helpers.
std::vector<uint8_t> reference(const uint8_t pool[256], const uint8_t* seed, size_t seedLen,
                               size_t n) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  unsigned j = 0;
  for (int half = 0; half < 2; ++half) {
    for (int i = 0; i < 256; ++i) {
      j = (j + s[i] + pool[half * 128 + (i % 128)]) & 0xFF;
      std::swap(s[i], s[j]);
    }
  }
  size_t pos = 0;
  for (int pass = 0; pass < 2 && seedLen; ++pass) {
    for (int i = 0; i < 256; ++i) {
      j = (j + s[i] + seed[pos]) & 0xFF;
      std::swap(s[i], s[j]);
      pos = (pos + 1) % seedLen;
    }
  }
  std::vector<uint8_t> out(n);
  unsigned a = 0, b = 0;
  for (size_t k = 0; k < n; ++k) {
    a = (a + 1) & 0xFF;
    b = (b + s[a]) & 0xFF;
    std::swap(s[a], s[b]);
    out[k] = s[(s[a] + s[b]) & 0xFF];
  }
  return out;
}

TEST(Random, KeysSystemBytesInTwoPassesAndMixesTheSeed) {
  SeamGuard guard(fixedSource);
  g_fill = 3;
  uint8_t pool[256];
  fixedSource(pool, 256);
  std::vector<uint8_t> out(100);
  ASSERT_EQ(random(nullptr, 0, out.data(), out.size()), kOk);
  EXPECT_EQ(out, reference(pool, nullptr, 0, 100));
  const uint8_t seed[7] = {1, 2, 3, 4, 5, 6, 7};  // 256 % 7 != 0: the key position carries over
  ASSERT_EQ(random(seed, 7, out.data(), out.size()), kOk);
  EXPECT_EQ(out, reference(pool, seed, 7, 100));
  EXPECT_NE(out, reference(pool, nullptr, 0, 100));
}

TEST(Random, SeedDoesNotReplaceSystemRandomness) {
  // With the same (public) seed, different system bytes must give different output.
  SeamGuard guard(fixedSource);
  const uint8_t seed[8] = {0x10, 0x20, 0x30, 0x40, 0, 0, 0, 0};
  std::vector<uint8_t> a(32), b(32);
  g_fill = 1;
  ASSERT_EQ(random(seed, 8, a.data(), a.size()), kOk);
  g_fill = 2;
  ASSERT_EQ(random(seed, 8, b.data(), b.size()), kOk);
  EXPECT_NE(a, b);
}

TEST(Random, StoredSeedRule) {
  SeamGuard guard(fixedSource);
  g_fill = 9;
  uint8_t pool[256];
  fixedSource(pool, 256);
  RandomGenerator gen;
  const uint8_t seed[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(gen.setSeed(seed, 4), kOk);
  std::vector<uint8_t> out(16);
  ASSERT_EQ(gen.generate(out.data(), out.size()), kOk);
  EXPECT_EQ(out, reference(pool, seed, 4, 16));
  ASSERT_EQ(gen.seedLength(), 4u);
  EXPECT_EQ(std::memcmp(gen.seed(), out.data(), 4), 0);  // first seed-length output bytes
  // Next request uses the stored seed.
  std::vector<uint8_t> next(16);
  std::vector<uint8_t> stored(gen.seed(), gen.seed() + 4);
  ASSERT_EQ(gen.generate(next.data(), next.size()), kOk);
  EXPECT_EQ(next, reference(pool, stored.data(), 4, 16));
  // A request shorter than the seed still yields a full-length next seed from the stream.
  ASSERT_EQ(gen.setSeed(seed, 4), kOk);
  uint8_t two[2];
  ASSERT_EQ(gen.generate(two, 2), kOk);
  auto full = reference(pool, seed, 4, 4);
  EXPECT_EQ(std::memcmp(gen.seed(), full.data(), 4), 0);
  EXPECT_EQ(std::memcmp(two, full.data(), 2), 0);
  // Time seeds: 4 and 8 little-endian bytes.
  gen.setTimeSeed(0x0102030405060708ull, 4);
  ASSERT_EQ(gen.seedLength(), 4u);
  EXPECT_EQ(gen.seed()[0], 0x08);
  EXPECT_EQ(gen.seed()[3], 0x05);
  gen.setTimeSeed(0x0102030405060708ull, 8);
  EXPECT_EQ(gen.seed()[7], 0x01);
}

TEST(Random, RefusalsAndFailures) {
  uint8_t seed[33] = {};
  uint8_t out[8];
  EXPECT_EQ(random(seed, 33, out, 8), kSeedTooLong);
  EXPECT_EQ(random(seed, 32, out, 8), kOk);
  RandomGenerator gen;
  EXPECT_EQ(gen.setSeed(seed, 33), kSeedTooLong);
  EXPECT_EQ(random(nullptr, 0, nullptr, 8), kBadParameter);
  EXPECT_EQ(random(nullptr, 0, out, 0), kOk);
  SeamGuard guard(failingSource);
  std::memset(out, 0xAA, sizeof(out));
  EXPECT_EQ(random(nullptr, 0, out, 8), kNoSystemRandom);
  for (uint8_t b : out) EXPECT_EQ(b, 0);  // never hand out stale bytes as random
  EXPECT_EQ(randomTimeSeeded(out, 8), kNoSystemRandom);
}

TEST(Random, SystemSourceGivesFreshBytes) {
  // The real operating-system source (CryptoAPI under Wine, getrandom natively).
  std::set<std::vector<uint8_t>> seen;
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> out(16);
    ASSERT_EQ(randomTimeSeeded(out.data(), out.size()), kOk);
    seen.insert(out);
  }
  EXPECT_EQ(seen.size(), 8u);  // same time seed within a second, yet all different
  std::vector<uint8_t> big(100000);
  ASSERT_EQ(random(nullptr, 0, big.data(), big.size()), kOk);
  size_t counts[256] = {};
  for (uint8_t b : big) ++counts[b];
  for (size_t c : counts) {
    EXPECT_GT(c, 250u);
    EXPECT_LT(c, 560u);
  }
}

}  // namespace
