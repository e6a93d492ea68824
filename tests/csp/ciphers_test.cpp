// Encryption and decryption with session keys against OpenSSL: DES, Triple-DES (three-key and
// two-key) in CBC, ECB, OFB and CFB with PKCS #5 padding, and RC4; every length from 0 to 40,
// final and not final, messages in pieces, the hash that rides along, refused modes, and the
// random generator.
#include <openssl/evp.h>

#include "../common/ossl_des.h"
#include "../objects/ossl.h"
#include "csp_harness.h"

namespace csptest {
namespace {

using namespace csp;

struct Mode {
  uint32_t mode, bits;
  const char *des, *tdes;  // OpenSSL's cipher names (null: not a mode of that cipher)
};
const Mode kModes[] = {
    {1, 0, "des-cbc", "des-ede3-cbc"},  {2, 0, "des-ecb", "des-ede3-ecb"},
    {3, 1, "des-ofb1", nullptr},        {3, 8, "des-ofb8", nullptr},
    {3, 64, nullptr, "des-ede3-ofb"},
    {4, 1, "des-cfb1", nullptr},        {4, 8, "des-cfb8", nullptr},
    {4, 64, "des-cfb", "des-ede3-cfb"},
};

// OpenSSL's encryption of whole blocks (single DES OFB with short feedback through its classic
// DES interface).
Bytes reference(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in) {
  if (!strcmp(name, "des-ofb1")) return ukossl::desOfb(1, key, iv, in);
  if (!strcmp(name, "des-ofb8")) return ukossl::desOfb(8, key, iv, in);
  return objtest::cipherRef(name, key, iv, in, true);
}

Bytes pkcs5(Bytes b) {
  uint8_t pad = uint8_t(8 - b.size() % 8);
  b.insert(b.end(), pad, pad);
  return b;
}

Bytes rc4Ref(const Bytes &key, const Bytes &data) {
  objtest::cipherRef("des-ecb", Bytes(8), {}, Bytes(8), true);  // loads the legacy provider
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_get_cipherbyname("rc4"), nullptr, nullptr, nullptr, 1);
  EVP_CIPHER_CTX_set_key_length(ctx, int(key.size()));
  EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), nullptr, 1);
  Bytes out(data.size() + 1);
  int n = 0;
  EVP_CipherUpdate(ctx, out.data(), &n, data.data(), int(data.size()));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(data.size());
  return out;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
  return b;
}

class Ciphers : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    prov = acquire(nullptr, kCryptVerifyContext);
  }
  uintptr_t key(uint32_t alg, uint32_t mode = 1, uint32_t bits = 0, uint32_t flags = 0) {
    uintptr_t k = 0;
    EXPECT_EQ(0u, provider->genKey(prov, alg, flags, &k));
    if (isBlockAlgorithm(alg)) {
      EXPECT_EQ(0u, provider->setKeyParam(prov, k, kKpIv, iv.data(), 0));
      const uint8_t m[4] = {uint8_t(mode)}, b[4] = {uint8_t(bits)};
      EXPECT_EQ(0u, provider->setKeyParam(prov, k, kKpMode, m, 0));
      EXPECT_EQ(0u, provider->setKeyParam(prov, k, kKpModeBits, b, 0));
    }
    return k;
  }
  static Bytes keyBytes(uintptr_t k) {
    auto *o = reinterpret_cast<KeyObject *>(k);
    if (o->algorithm == kCalgRc4) {
      Bytes b(o->state.rc4.key, o->state.rc4.key + o->state.rc4.keyLength);
      if (o->state.rc4.saltEnabled) b.insert(b.end(), o->state.rc4.salt, o->state.rc4.salt + 16 - b.size());
      return b;
    }
    return Bytes(o->state.block.key, o->state.block.key + (o->algorithm == kCalgDes ? 8 : 24));
  }
  // One CPEncrypt; the output, or empty with *rc set.
  Bytes enc(uintptr_t k, Bytes data, bool final, uint32_t *rc = nullptr, uintptr_t hash = 0) {
    uint32_t len = uint32_t(data.size());
    data.resize(data.size() + 16);
    uint32_t r = provider->encrypt(prov, k, hash, final, 0, data.data(), &len, uint32_t(data.size()));
    if (rc) *rc = r;
    else EXPECT_EQ(0u, r) << std::hex << r;
    if (r) return {};
    data.resize(len);
    return data;
  }
  Bytes dec(uintptr_t k, Bytes data, bool final, uint32_t *rc = nullptr, uintptr_t hash = 0) {
    uint32_t len = uint32_t(data.size());
    uint32_t r = provider->decrypt(prov, k, hash, final, 0, data.data(), &len);
    if (rc) *rc = r;
    else EXPECT_EQ(0u, r) << std::hex << r;
    if (r) return {};
    data.resize(len);
    return data;
  }
  const Bytes iv = uktest::unhex("1F2E3D4C5B6A7988");
  uintptr_t prov = 0;
};

TEST_F(Ciphers, BlockCiphersInEveryModeMatchOpenSsl) {
  for (uint32_t alg : {kCalgDes, kCalg3Des, kCalg3Des112}) {
    for (const Mode &m : kModes) {
      const char *name = alg == kCalgDes ? m.des : m.tdes;
      if (!name) continue;
      uintptr_t k = key(alg, m.mode, m.bits);
      const Bytes kb = keyBytes(k);
      const Bytes ivRef = m.mode == 2 ? Bytes() : iv;
      for (size_t n = 0; n <= 40; ++n) {
        SCOPED_TRACE(std::string(name) + " length " + std::to_string(n));
        const Bytes plain = pattern(n, uint8_t(n));
        // Final: padded, and the key is back at its IV afterwards.
        Bytes c = enc(k, plain, true);
        EXPECT_EQ(uktest::hex(reference(name, kb, ivRef, pkcs5(plain))), uktest::hex(c));
        EXPECT_EQ(uktest::hex(plain), uktest::hex(dec(k, c, true)));
        // Not final: whole blocks only, no padding.
        uint32_t rc;
        Bytes open = enc(k, plain, false, &rc);
        if (n % 8) {
          EXPECT_EQ(kNteBadData, rc);
          continue;
        }
        EXPECT_EQ(uktest::hex(reference(name, kb, ivRef, plain)), uktest::hex(open));
        // ... and the message goes on where it stopped: the tail, final, equals the whole message
        // encrypted at once.
        Bytes tail = enc(k, pattern(5, 0x50), true);
        Bytes whole = plain;
        Bytes t = pattern(5, 0x50);
        whole.insert(whole.end(), t.begin(), t.end());
        Bytes joined = open;
        joined.insert(joined.end(), tail.begin(), tail.end());
        EXPECT_EQ(uktest::hex(reference(name, kb, ivRef, pkcs5(whole))), uktest::hex(joined));
        // Decrypted in other pieces (a block, then the rest) it comes back whole.
        if (joined.size() > 8) {
          Bytes first = dec(k, Bytes(joined.begin(), joined.begin() + 8), false);
          Bytes rest = dec(k, Bytes(joined.begin() + 8, joined.end()), true);
          first.insert(first.end(), rest.begin(), rest.end());
          EXPECT_EQ(uktest::hex(whole), uktest::hex(first));
        }
      }
    }
  }
}

TEST_F(Ciphers, Rc4MatchesOpenSslAndRestartsAfterAFinalBlock) {
  for (uint32_t flags : {0u, 0x00280000u, 0x00280000u | kCryptNoSalt, 0x00380000u}) {
    uintptr_t k = key(kCalgRc4, 0, 0, flags);
    const Bytes kb = keyBytes(k);
    SCOPED_TRACE("flags " + std::to_string(flags) + " key " + uktest::hex(kb));
    for (size_t n = 0; n <= 40; ++n) {
      const Bytes plain = pattern(n, uint8_t(n));
      // Not final: the key stream runs on across calls.
      Bytes a = enc(k, plain, false);
      Bytes b = enc(k, plain, true);
      Bytes both = plain;
      both.insert(both.end(), plain.begin(), plain.end());
      Bytes joined = a;
      joined.insert(joined.end(), b.begin(), b.end());
      EXPECT_EQ(uktest::hex(rc4Ref(kb, both)), uktest::hex(joined));
      // Final restarted the stream: the next message starts from the beginning again.
      EXPECT_EQ(uktest::hex(rc4Ref(kb, plain)), uktest::hex(enc(k, plain, true)));
      EXPECT_EQ(uktest::hex(plain), uktest::hex(dec(k, rc4Ref(kb, plain), true)));
    }
  }
}

TEST_F(Ciphers, LengthsAndBuffers) {
  uintptr_t k = key(kCalgDes);
  uint32_t rc;
  enc(k, pattern(12, 1), false, &rc);
  EXPECT_EQ(kNteBadData, rc);
  EXPECT_EQ(16u, enc(k, pattern(12, 1), true).size());
  EXPECT_EQ(16u, enc(k, pattern(8, 1), true).size());  // eight bytes gain a whole pad block
  // An empty final call still ends the message with its pad block.
  EXPECT_EQ(uktest::hex(Bytes(8, 8)), uktest::hex(dec(k, enc(k, {}, true), false)));
  EXPECT_EQ(0u, enc(k, {}, false).size());

  // The buffer must hold the padded output; the length needed is given back.
  Bytes buf = pattern(16, 3);
  uint32_t len = 16;
  EXPECT_EQ(kErrMoreData, provider->encrypt(prov, k, 0, true, 0, buf.data(), &len, 16));
  EXPECT_EQ(24u, len);
  EXPECT_EQ(uktest::hex(pattern(16, 3)), uktest::hex(buf));

  // Decryption: whole blocks only, final or not.
  dec(k, pattern(12, 1), true, &rc);
  EXPECT_EQ(kNteBadData, rc);
  dec(k, pattern(12, 1), false, &rc);
  EXPECT_EQ(kNteBadData, rc);
  // A last byte of 9 is no pad: nothing is removed.
  uintptr_t ecb = key(kCalgDes, 2);
  Bytes raw = pattern(16, 2);
  raw[15] = 9;
  Bytes c = objtest::cipherRef("des-ecb", keyBytes(ecb), {}, raw, true);
  EXPECT_EQ(uktest::hex(raw), uktest::hex(dec(ecb, c, true)));
  // A pad of 1 to 8 that is not what encryption writes is reported, and the key is ready for
  // the next message.
  raw[15] = 3;
  c = objtest::cipherRef("des-ecb", keyBytes(ecb), {}, raw, true);
  dec(ecb, c, true, &rc);
  EXPECT_EQ(kNteBadData, rc);
  uintptr_t cbc = key(kCalgDes);
  c = objtest::cipherRef("des-cbc", keyBytes(cbc), iv, raw, true);
  dec(cbc, c, true, &rc);
  EXPECT_EQ(kNteBadData, rc);
  EXPECT_EQ(0, memcmp(reinterpret_cast<KeyObject *>(cbc)->state.block.chain, iv.data(), 8));
}

TEST_F(Ciphers, UnsupportedModeBitsFailWithoutTouchingAnything) {
  struct Case {
    uint32_t alg, mode, bits;
  } cases[] = {{kCalgDes, 3, 0}, {kCalgDes, 3, 64}, {kCalgDes, 4, 0}, {kCalgDes, 4, 16},
               {kCalg3Des, 3, 8}, {kCalg3Des, 4, 8}, {kCalg3Des112, 4, 1}, {kCalg3Des112, 3, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.alg) + " mode " + std::to_string(c.mode) + " bits " + std::to_string(c.bits));
    uintptr_t k = key(c.alg, c.mode, c.bits);
    uintptr_t h = 0;
    ASSERT_EQ(0u, provider->createHash(prov, kCalgSha1, 0, 0, &h));
    const BlockCipherState before = reinterpret_cast<KeyObject *>(k)->state.block;
    for (bool final : {false, true}) {
      Bytes data = pattern(16, 9), buf = data;
      buf.resize(32);
      uint32_t len = 16;
      EXPECT_EQ(kNteBadKeyState, provider->encrypt(prov, k, h, final, 0, buf.data(), &len, 32));
      EXPECT_EQ(16u, len);
      EXPECT_EQ(uktest::hex(data), uktest::hex(Bytes(buf.begin(), buf.begin() + 16)));
      EXPECT_EQ(kNteBadKeyState, provider->decrypt(prov, k, h, final, 0, buf.data(), &len));
      EXPECT_EQ(uktest::hex(data), uktest::hex(Bytes(buf.begin(), buf.begin() + 16)));
    }
    EXPECT_EQ(0, memcmp(&before, &reinterpret_cast<KeyObject *>(k)->state.block, sizeof before));
    EXPECT_EQ(0u, reinterpret_cast<HashObject *>(h)->valueFixed);
    // Supported bits make the same key work.
    const uint8_t ok[4] = {uint8_t(c.alg == kCalgDes ? 8 : 64)};
    ASSERT_EQ(0u, provider->setKeyParam(prov, k, kKpModeBits, ok, 0));
    EXPECT_EQ(24u, enc(k, pattern(16, 9), true).size());
  }
}

TEST_F(Ciphers, TheHashSeesThePlaintext) {
  uintptr_t k = key(kCalg3Des);
  const Bytes plain = pattern(21, 4);
  uintptr_t h = 0, ref = 0;
  ASSERT_EQ(0u, provider->createHash(prov, kCalgMd5, 0, 0, &h));
  ASSERT_EQ(0u, provider->createHash(prov, kCalgMd5, 0, 0, &ref));
  Bytes first(plain.begin(), plain.begin() + 16), rest(plain.begin() + 16, plain.end());
  Bytes c = enc(k, first, false, nullptr, h);
  Bytes c2 = enc(k, rest, true, nullptr, h);
  EXPECT_EQ(1u, reinterpret_cast<HashObject *>(h)->valueFixed);  // final fixes the value
  uint32_t rc;
  enc(k, first, true, &rc, h);
  EXPECT_EQ(kNteBadHashState, rc);
  provider->hashData(prov, ref, plain.data(), uint32_t(plain.size()), 0);
  uint8_t a[16], b[16];
  uint32_t la = 16, lb = 16;
  provider->getHashParam(prov, h, kHpHashVal, a, &la, 0);
  provider->getHashParam(prov, ref, kHpHashVal, b, &lb, 0);
  EXPECT_EQ(0, memcmp(a, b, 16));

  // Decryption feeds the decrypted data, without the pad.
  uintptr_t d = 0;
  ASSERT_EQ(0u, provider->createHash(prov, kCalgMd5, 0, 0, &d));
  c.insert(c.end(), c2.begin(), c2.end());
  EXPECT_EQ(uktest::hex(plain), uktest::hex(dec(k, c, true, nullptr, d)));
  uint8_t v[16];
  uint32_t lv = 16;
  provider->getHashParam(prov, d, kHpHashVal, v, &lv, 0);
  EXPECT_EQ(0, memcmp(v, b, 16));
  // A fixed hash is refused by decryption with NTE_BAD_HASH.
  dec(k, c, true, &rc, d);
  EXPECT_EQ(kNteBadHash, rc);
  // Only normal MD5 and SHA-1 objects ride along.
  uintptr_t ssl = 0;
  provider->createHash(prov, kCalgSsl3Shamd5, 0, 0, &ssl);
  enc(k, first, true, &rc, ssl);
  EXPECT_EQ(kNteBadHash, rc);
}

TEST_F(Ciphers, ArgumentsAndKeys) {
  uintptr_t des = key(kCalgDes);
  Bytes buf(16);
  uint32_t len = 8;
  EXPECT_EQ(kErrInvalidParameter, provider->encrypt(prov, des, 0, true, 0, nullptr, &len, 16));
  EXPECT_EQ(kErrInvalidParameter, provider->encrypt(0, des, 0, true, 0, buf.data(), &len, 16));
  EXPECT_EQ(kErrInvalidParameter, provider->decrypt(prov, 0, 0, true, 0, buf.data(), &len));
  EXPECT_EQ(kNteBadFlags, provider->encrypt(prov, des, 0, true, 0x40, buf.data(), &len, 16));
  EXPECT_EQ(kNteBadKey, provider->encrypt(prov, des + 4, 0, true, 0, buf.data(), &len, 16));
  // RSA keys do not encrypt here.
  addToken("UKCIP00001");
  makeContainer("UKCIP00001", "c1", kAtKeyExchange);
  uintptr_t ctx = acquire("c1"), rsa = 0;
  ASSERT_EQ(0u, provider->getUserKey(ctx, kAtKeyExchange, &rsa));
  EXPECT_EQ(kNteBadKey, provider->encrypt(ctx, rsa, 0, true, 0, buf.data(), &len, 16));
  EXPECT_EQ(kNteBadKey, provider->decrypt(ctx, rsa, 0, true, 0, buf.data(), &len));
  EXPECT_NE(std::string::npos, host->log.find("---->CPEncrypt\n"));
  EXPECT_NE(std::string::npos, host->log.find("---->CPDecrypt\n"));
}

TEST_F(Ciphers, RandomBytes) {
  uint8_t a[64] = {0}, b[64] = {0};
  EXPECT_EQ(0u, provider->genRandom(prov, 0, a));
  EXPECT_EQ(0, memcmp(a, b, sizeof a));  // length 0 writes nothing
  ASSERT_EQ(0u, provider->genRandom(prov, sizeof a, a));
  ASSERT_EQ(0u, provider->genRandom(prov, sizeof b, b));
  EXPECT_NE(0, memcmp(a, b, sizeof a));
  EXPECT_EQ(kErrInvalidParameter, provider->genRandom(prov, 8, nullptr));
  EXPECT_EQ(kErrInvalidParameter, provider->genRandom(0, 8, a));
  EXPECT_EQ(kNteBadUid, provider->genRandom(prov + 8, 8, a));
  EXPECT_NE(std::string::npos, host->log.find("---->CPGenRandom\n"));
}

}  // namespace
}  // namespace csptest
