// Key objects: generation, user keys, derivation, parameters, blobs (with OpenSSL as the other
// side) and certificates on the token.
#include <openssl/evp.h>

#include "../tools/cert_maker.h"
#include "blobs.h"
#include "csp_harness.h"
#include "../objects/ossl.h"

namespace csptest {
namespace {

using namespace csp;
using objtest::OsslRsa;

Bytes md(const EVP_MD *m, const Bytes &data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, m, nullptr);
  return Bytes(out, out + n);
}

void put32(Bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putReversed(Bytes &b, const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i) b.push_back(p[n - 1 - i]);
}

// The 20 bytes every RSA blob starts with: header, magic, bit length, exponent.
Bytes rsaBlobHead(uint8_t type, uint32_t alg, uint32_t magic, uint32_t exponent) {
  Bytes b = {type, 2, 0, 0};
  put32(b, alg);
  put32(b, magic);
  put32(b, 1024);
  put32(b, exponent);
  return b;
}

uint32_t exponentOf(const UK_RSA_PUBLIC_KEY &pub) {
  uint32_t e = 0;
  for (int i = 0; i < 4; ++i) e |= uint32_t(pub.exponent[127 - i]) << (8 * i);
  return e;
}

// A PRIVATEKEYBLOB of an OpenSSL key, as OpenSSL's MSBLOB writer lays it out.
Bytes privateKeyBlob(const OsslRsa &rsa, uint32_t alg = kCalgRsaKeyx) {
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  rsa.toRecords(&pub, &pri);
  Bytes b = rsaBlobHead(kPrivateKeyBlob, alg, kMagicRsa2, exponentOf(pub));
  putReversed(b, pri.modulus, 128);
  putReversed(b, pri.prime1, 64);
  putReversed(b, pri.prime2, 64);
  putReversed(b, pri.exponent1, 64);
  putReversed(b, pri.exponent2, 64);
  putReversed(b, pri.coefficient, 64);
  putReversed(b, pri.privateExponent, 128);
  return b;
}

Bytes publicKeyBlob(const OsslRsa &rsa, uint32_t alg = kCalgRsaKeyx) {
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  rsa.toRecords(&pub, &pri);
  Bytes b = rsaBlobHead(kPublicKeyBlob, alg, kMagicRsa1, exponentOf(pub));
  putReversed(b, pub.modulus, 128);
  return b;
}

// The data of a PKCS #1 v1.5 type 2 block (big-endian); empty when the block is malformed.
Bytes type2Data(const Bytes &block) {
  if (block.size() < 11 || block[0] != 0 || block[1] != 2) return {};
  size_t i = 2;
  while (i < block.size() && block[i] != 0) ++i;
  if (i < 10 || i == block.size()) return {};
  return Bytes(block.begin() + long(i) + 1, block.end());
}

class Keys : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    verifyOnly = acquire(nullptr, kCryptVerifyContext);
  }
  // A token with container "c1" (pairs by keySpec), a context on it with the PIN cached.
  uintptr_t tokenContext(uint32_t keySpec) {
    addToken("UKKEY00001");
    makeContainer("UKKEY00001", "c1", keySpec);
    uintptr_t h = acquire("c1");
    cachePin(h);
    return h;
  }
  uint32_t keyValue(uintptr_t prov, uintptr_t key, uint32_t p) {
    uint8_t b[4];
    uint32_t len = 4;
    EXPECT_EQ(0u, provider->getKeyParam(prov, key, p, b, &len, 0)) << p;
    return uint32_t(b[0]) | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
  }
  Bytes keyBytes(uintptr_t prov, uintptr_t key, uint32_t p, uint32_t *rc = nullptr) {
    uint8_t b[4096];
    uint32_t len = sizeof b;
    uint32_t r = provider->getKeyParam(prov, key, p, b, &len, 0);
    if (rc) *rc = r;
    return r ? Bytes() : Bytes(b, b + len);
  }
  Bytes exportBlob(uintptr_t prov, uintptr_t key, uintptr_t exp, uint32_t type, uint32_t *rc = nullptr) {
    uint8_t b[300];
    uint32_t len = sizeof b;
    uint32_t r = provider->exportKey(prov, key, exp, type, 0, b, &len);
    if (rc) *rc = r;
    return r ? Bytes() : Bytes(b, b + len);
  }
  uint32_t import(uintptr_t prov, const Bytes &blob, uintptr_t imp, uintptr_t *key, uint32_t flags = 0) {
    return provider->importKey(prov, blob.data(), uint32_t(blob.size()), imp, flags, key);
  }
  static KeyObject *obj(uintptr_t key) { return reinterpret_cast<KeyObject *>(key); }

  uintptr_t verifyOnly = 0;
};

// ---- Generation and user keys --------------------------------------------------------------------

TEST_F(Keys, KeyPairsAreGeneratedOnTheTokenUnderTheWaitWindow) {
  uintptr_t prov = tokenContext(0);
  uintptr_t key = 0;
  clearTrace();
  EXPECT_EQ(kNtePerm, provider->genKey(verifyOnly, kAtSignature, 0, &key));
  EXPECT_TRUE(frames().empty());

  ASSERT_EQ(0u, provider->genKey(prov, kAtSignature, 0, &key));
  EXPECT_EQ("open close", dialogs.trail());
  EXPECT_EQ(Modeless::KeyGeneration, dialogs.shown[0].window);
  EXPECT_EQ(kCalgRsaSign, keyValue(prov, key, kKpAlgid));
  EXPECT_EQ(1024u, keyValue(prov, key, kKpKeyLen));
  auto *ctx = reinterpret_cast<ProviderContext *>(prov);
  EXPECT_EQ(UK_CONT_SIG_KEY, ctx->container.flags & 0x03);  // recorded in the context's copy
  EXPECT_EQ(0, memcmp(obj(key)->state.pair.pubFid, ctx->container.sigPubFid, 2));

  EXPECT_EQ(kNteBadAlgid, provider->genKey(prov, kCalgRsaKeyx, 0, &key));
  EXPECT_EQ(kNteBadAlgid, provider->genKey(prov, kCalgMd5, 0, &key));
  EXPECT_EQ(kNteBadFlags, provider->genKey(prov, kCalgDes, 0x8, &key));
  EXPECT_EQ(kErrInvalidParameter, provider->genKey(prov, kCalgDes, 0, nullptr));
}

TEST_F(Keys, UserKeysComeFromAFreshListing) {
  uintptr_t prov = tokenContext(kAtKeyExchange);
  uintptr_t key = 0;
  // Only an exchange pair: a signature key falls back to it.
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtSignature, &key));
  EXPECT_EQ(kCalgRsaKeyx, keyValue(prov, key, kKpAlgid));
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  EXPECT_EQ(kCalgRsaKeyx, keyValue(prov, key, kKpAlgid));
  EXPECT_EQ(kNteBadKey, provider->getUserKey(prov, 3, &key));
  // A context without a container finds no container of its name.
  EXPECT_EQ(kNteBadUid, provider->getUserKey(acquire("c1", kCryptSilent), kAtKeyExchange, &key));

  makeContainer("UKKEY00001", "sig-only", kAtSignature);
  uintptr_t s = acquire("sig-only");
  EXPECT_EQ(kNteNoKey, provider->getUserKey(s, kAtKeyExchange, &key));
  ASSERT_EQ(0u, provider->getUserKey(s, kAtSignature, &key));
  EXPECT_EQ(kCalgRsaSign, keyValue(s, key, kKpAlgid));
  makeContainer("UKKEY00001", "empty");
  EXPECT_EQ(kNteNoKey, provider->getUserKey(acquire("empty"), kAtSignature, &key));
}

TEST_F(Keys, SessionKeyGeneration) {
  uintptr_t k = 0;
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0, &k));
  EXPECT_EQ(128u, keyValue(verifyOnly, k, kKpKeyLen));
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00280000, &k));
  EXPECT_EQ(40u, keyValue(verifyOnly, k, kKpKeyLen));
  EXPECT_EQ(11u, keyBytes(verifyOnly, k, kKpSalt).size());
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00300000, &k));
  EXPECT_EQ(48u, keyValue(verifyOnly, k, kKpKeyLen));
  EXPECT_EQ(kNteBadFlags, provider->genKey(verifyOnly, kCalgRc4, 0x00290000, &k));
  EXPECT_EQ(kNteBadFlags, provider->genKey(verifyOnly, kCalgRc4, 0x00880000, &k));
  EXPECT_EQ(kNteBadFlags, provider->genKey(verifyOnly, kCalgRc4, 0x00200000, &k));

  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalg3Des112, 0, &k));
  EXPECT_EQ(0, memcmp(obj(k)->state.block.key, obj(k)->state.block.key + 16, 8));
  EXPECT_EQ(kCalg3Des112, keyValue(verifyOnly, k, kKpAlgid));
  EXPECT_EQ(168u, keyValue(verifyOnly, k, kKpKeyLen));
  uintptr_t a = 0, b = 0;
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalg3Des, 0, &a));
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalg3Des, 0, &b));
  EXPECT_NE(0, memcmp(obj(a)->state.block.key, obj(b)->state.block.key, 24));
}

TEST_F(Keys, DerivedKeysTakeTheDigestAndFixTheHash) {
  uintptr_t h = 0, k = 0;
  ASSERT_EQ(0u, provider->createHash(verifyOnly, kCalgMd5, 0, 0, &h));
  provider->hashData(verifyOnly, h, bytesOf("password").data(), 8, 0);
  ASSERT_EQ(0u, provider->deriveKey(verifyOnly, kCalgDes, h, 0, &k));
  Bytes d = md(EVP_md5(), bytesOf("password"));
  EXPECT_EQ(uktest::hex(Bytes(d.begin(), d.begin() + 8)), uktest::hex(Bytes(obj(k)->state.block.key, obj(k)->state.block.key + 8)));
  EXPECT_EQ(kNteBadHashState, provider->hashData(verifyOnly, h, d.data(), 1, 0));
  // Triple-DES from SHA-1: the 20 digest bytes, then the first 4 again.
  uintptr_t s = 0;
  ASSERT_EQ(0u, provider->createHash(verifyOnly, kCalgSha1, 0, 0, &s));
  provider->hashData(verifyOnly, s, bytesOf("password").data(), 8, 0);
  ASSERT_EQ(0u, provider->deriveKey(verifyOnly, kCalg3Des, s, 0, &k));
  Bytes d1 = md(EVP_sha1(), bytesOf("password"));
  d1.insert(d1.end(), d1.begin(), d1.begin() + 4);
  EXPECT_EQ(uktest::hex(d1), uktest::hex(Bytes(obj(k)->state.block.key, obj(k)->state.block.key + 24)));

  EXPECT_EQ(kNteBadAlgid, provider->deriveKey(verifyOnly, kCalgRsaKeyx, h, 0, &k));
  EXPECT_EQ(kNteBadFlags, provider->deriveKey(verifyOnly, kCalgDes, h, 0x20, &k));
  uintptr_t ssl = 0;
  provider->createHash(verifyOnly, kCalgSsl3Shamd5, 0, 0, &ssl);
  EXPECT_EQ(kNteBadHash, provider->deriveKey(verifyOnly, kCalgDes, ssl, 0, &k));
}

TEST_F(Keys, DuplicateAndDestroy) {
  uintptr_t k = 0, d = 0;
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00380000, &k));
  ASSERT_EQ(0u, provider->duplicateKey(verifyOnly, k, nullptr, 0, &d));
  EXPECT_NE(k, d);
  EXPECT_EQ(0, memcmp(&obj(k)->state, &obj(d)->state, sizeof obj(k)->state));
  uint32_t reserved = 0;
  EXPECT_EQ(kNteBadFlags, provider->duplicateKey(verifyOnly, k, &reserved, 0, &d));
  EXPECT_EQ(0u, provider->destroyKey(verifyOnly, k));
  EXPECT_EQ(kNteBadKey, provider->destroyKey(verifyOnly, k));
  EXPECT_EQ(56u, keyValue(verifyOnly, d, kKpKeyLen));  // the copy lives on
}

// ---- Parameters ----------------------------------------------------------------------------------

TEST_F(Keys, ParameterTable) {
  uintptr_t des = 0, rc4 = 0, pub = 0;
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgDes, 0, &des));
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00280000, &rc4));
  OsslRsa rsa(1024);
  ASSERT_EQ(0u, import(verifyOnly, publicKeyBlob(rsa), 0, &pub));

  EXPECT_EQ(1u, keyValue(verifyOnly, des, kKpPadding));
  EXPECT_EQ(1u, keyValue(verifyOnly, des, kKpMode));
  EXPECT_EQ(0u, keyValue(verifyOnly, des, kKpModeBits));
  EXPECT_EQ(0x3Bu, keyValue(verifyOnly, des, kKpPermissions));
  EXPECT_EQ(64u, keyValue(verifyOnly, des, kKpBlockLen));
  EXPECT_EQ(8u, keyValue(verifyOnly, rc4, kKpBlockLen));
  EXPECT_EQ(1024u, keyValue(verifyOnly, pub, kKpBlockLen));
  EXPECT_EQ(uktest::hex(Bytes(8, 0)), uktest::hex(keyBytes(verifyOnly, des, kKpIv)));

  uint32_t rc;
  for (uint32_t p : {kKpIv, kKpPadding, kKpMode, kKpModeBits}) {
    keyBytes(verifyOnly, rc4, p, &rc);
    EXPECT_EQ(kNteBadType, rc) << p;
    keyBytes(verifyOnly, pub, p, &rc);
    EXPECT_EQ(kNteBadType, rc) << p;
  }
  keyBytes(verifyOnly, des, kKpSalt, &rc);
  EXPECT_EQ(kNteBadType, rc);
  keyBytes(verifyOnly, des, kKpCertificate, &rc);
  EXPECT_EQ(kNteBadType, rc);
  keyBytes(verifyOnly, des, 10, &rc);
  EXPECT_EQ(kNteBadType, rc);

  uint32_t len = 0;
  EXPECT_EQ(0u, provider->getKeyParam(verifyOnly, des, kKpIv, nullptr, &len, 0));
  EXPECT_EQ(8u, len);
  EXPECT_EQ(0u, provider->getKeyParam(verifyOnly, rc4, kKpSalt, nullptr, &len, 0));
  EXPECT_EQ(11u, len);
  EXPECT_EQ(0u, provider->getKeyParam(verifyOnly, des, kKpMode, nullptr, &len, 0));
  EXPECT_EQ(4u, len);
  uint8_t small[8];
  len = 3;
  EXPECT_EQ(kErrMoreData, provider->getKeyParam(verifyOnly, des, kKpMode, small, &len, 0));
  len = 6;
  EXPECT_EQ(kErrMoreData, provider->getKeyParam(verifyOnly, des, kKpIv, small, &len, 0));
  EXPECT_EQ(8u, len);
  EXPECT_EQ(kNteBadFlags, provider->getKeyParam(verifyOnly, des, kKpMode, small, &len, 1));
}

TEST_F(Keys, SettingParameters) {
  uintptr_t des = 0, rc4 = 0, plainRc4 = 0;
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgDes, 0, &des));
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00280000, &rc4));
  ASSERT_EQ(0u, provider->genKey(verifyOnly, kCalgRc4, 0x00280000 | kCryptNoSalt, &plainRc4));
  auto set = [&](uintptr_t k, uint32_t p, uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return provider->setKeyParam(verifyOnly, k, p, b, 0);
  };
  const Bytes iv = uktest::unhex("0102030405060708");
  ASSERT_EQ(0u, provider->setKeyParam(verifyOnly, des, kKpIv, iv.data(), 0));
  EXPECT_EQ(uktest::hex(iv), uktest::hex(keyBytes(verifyOnly, des, kKpIv)));
  EXPECT_EQ(0, memcmp(obj(des)->state.block.chain, iv.data(), 8));
  EXPECT_EQ(0u, set(des, kKpPadding, 1));
  EXPECT_EQ(kNteBadData, set(des, kKpPadding, 2));
  EXPECT_EQ(0u, set(des, kKpMode, 2));
  EXPECT_EQ(2u, keyValue(verifyOnly, des, kKpMode));
  EXPECT_EQ(kNteBadData, set(des, kKpMode, 5));
  EXPECT_EQ(kNteBadData, set(des, kKpMode, 0));
  EXPECT_EQ(0u, set(des, kKpModeBits, 12345));
  EXPECT_EQ(12345u, keyValue(verifyOnly, des, kKpModeBits));
  EXPECT_EQ(kNteBadData, set(des, kKpPermissions, 64));
  auto before = *obj(des);
  EXPECT_EQ(0u, set(des, kKpPermissions, 0));
  EXPECT_EQ(0u, keyValue(verifyOnly, des, kKpPermissions));
  EXPECT_EQ(0, memcmp(&before.state, &obj(des)->state, sizeof before.state));
  EXPECT_EQ(kNteBadType, set(rc4, kKpIv, 0));
  EXPECT_EQ(kNteBadType, set(des, kKpSalt, 0));
  EXPECT_EQ(kNteBadType, set(des, kKpAlgid, 0));
  EXPECT_EQ(kNteBadFlags, provider->setKeyParam(verifyOnly, des, kKpMode, iv.data(), 1));
  EXPECT_EQ(kErrInvalidParameter, provider->setKeyParam(verifyOnly, des, kKpMode, nullptr, 0));

  // Salt: eleven bytes for a 40-bit key, and the key stream changes with it.
  const Bytes salt = uktest::unhex("A1A2A3A4A5A6A7A8A9AAAB");
  ukcrypto::Rc4State was = obj(rc4)->state.rc4.rc4;
  ASSERT_EQ(0u, provider->setKeyParam(verifyOnly, rc4, kKpSalt, salt.data(), 0));
  EXPECT_EQ(uktest::hex(salt), uktest::hex(keyBytes(verifyOnly, rc4, kKpSalt)));
  EXPECT_NE(0, memcmp(&was, &obj(rc4)->state.rc4.rc4, sizeof was));
  // The key stream is RC4 over key and salt, as OpenSSL computes it.
  Bytes material(obj(rc4)->state.rc4.key, obj(rc4)->state.rc4.key + 5);
  material.insert(material.end(), salt.begin(), salt.end());
  ukcrypto::Rc4State ref;
  ukcrypto::rc4Init(ref, material.data(), material.size());
  EXPECT_EQ(0, memcmp(&ref, &obj(rc4)->state.rc4.rc4, sizeof ref));

  // KP_SALT_EX carries its own length; a longer salt than the key leaves room for is refused.
  const Bytes salt3 = uktest::unhex("B1B2B3");
  struct {
    uint32_t cbData;
    const uint8_t *pbData;
  } blob{3, salt3.data()};
  ASSERT_EQ(0u, provider->setKeyParam(verifyOnly, rc4, kKpSaltEx, reinterpret_cast<const uint8_t *>(&blob), 0));
  EXPECT_EQ("B1B2B30000000000000000", uktest::hex(keyBytes(verifyOnly, rc4, kKpSalt)));
  blob.cbData = 12;
  EXPECT_EQ(kNteBadData, provider->setKeyParam(verifyOnly, rc4, kKpSaltEx, reinterpret_cast<const uint8_t *>(&blob), 0));
  EXPECT_EQ(kNteBadType, provider->setKeyParam(verifyOnly, plainRc4, kKpSalt, salt.data(), 0));
}

// ---- Blobs ---------------------------------------------------------------------------------------

TEST_F(Keys, PublicKeyBlobOfATokenPair) {
  uintptr_t prov = tokenContext(kAtKeyExchange);
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  uint32_t len = 0;
  clearTrace();
  ASSERT_EQ(0u, provider->exportKey(prov, key, 0, kPublicKeyBlob, 0, nullptr, &len));
  EXPECT_EQ(148u, len);
  uint8_t buf[148];
  len = 147;
  EXPECT_EQ(kErrMoreData, provider->exportKey(prov, key, 0, kPublicKeyBlob, 0, buf, &len));
  EXPECT_EQ(148u, len);
  EXPECT_TRUE(frames().empty());  // neither call reached the token

  Bytes blob = exportBlob(prov, key, 0, kPublicKeyBlob);
  ASSERT_EQ(148u, blob.size());
  EXPECT_EQ("0602000000A40000525341310004000001000100", uktest::hex(Bytes(blob.begin(), blob.begin() + 20)));
  UK_DEV_INFO *d = direct("UKKEY00001");
  UK_CONTAINER_INFO c{};
  ASSERT_EQ(0u, zksTokenGetContainerByName(d, &c, "c1"));
  UK_RSA_PUBLIC_KEY pub{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(d, &c, &pub, 1));
  EXPECT_EQ(uktest::hex(Bytes(pub.modulus, pub.modulus + 128)),
            uktest::hex(Bytes(blob.rbegin(), blob.rbegin() + 128)));

  // Imported back, it is a software key that exports the same blob without the token.
  uintptr_t soft = 0;
  ASSERT_EQ(0u, import(verifyOnly, blob, 0, &soft));
  EXPECT_EQ(uktest::hex(blob), uktest::hex(exportBlob(verifyOnly, soft, 0, kPublicKeyBlob)));

  uint32_t rc;
  exportBlob(prov, key, 0, kPrivateKeyBlob, &rc);
  EXPECT_EQ(kNteBadKeyState, rc);
  exportBlob(prov, key, 0, 5, &rc);
  EXPECT_EQ(kNteBadType, rc);
  EXPECT_EQ(kNteBadFlags, provider->exportKey(prov, key, 0, kPublicKeyBlob, 1, buf, &len));
  uintptr_t des = 0;
  provider->genKey(prov, kCalgDes, 0, &des);
  exportBlob(prov, des, 0, kPublicKeyBlob, &rc);
  EXPECT_EQ(kNteBadKey, rc);
}

TEST_F(Keys, ATokenPairOfAnotherSizeIsNotExportedAsA1024BitBlob) {
  addToken("UKKEY00001");
  UK_CONTAINER_INFO c = makeContainer("UKKEY00001", "big");
  UK_DEV_INFO *d = direct("UKKEY00001");
  OsslRsa rsa(2048);
  UK_RSA_PUBLIC_KEY_2048 pub;
  UK_RSA_PRIVATE_KEY_2048 pri;
  rsa.toRecords(&pub, &pri);
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(kPin), 6, &tries));
  ASSERT_EQ(0u, zksTokenWriteRsaKeyPair(d, &c, &pub, &pri, 1));
  uintptr_t prov = acquire("big"), key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  uint32_t rc;
  exportBlob(prov, key, 0, kPublicKeyBlob, &rc);  // the 516-byte record fits the buffer
  EXPECT_EQ(kNteBadKey, rc);
}

TEST_F(Keys, PrivateKeyBlobIsWrittenToTheToken) {
  uintptr_t prov = tokenContext(0);
  OsslRsa rsa(1024);
  Bytes blob = privateKeyBlob(rsa);
  ASSERT_EQ(596u, blob.size());
  uintptr_t key = 0;
  clearTrace();
  Bytes shortBlob(blob.begin(), blob.end() - 1), longBlob = blob;
  longBlob.push_back(0);
  EXPECT_EQ(kNteBadData, import(prov, shortBlob, 0, &key));
  EXPECT_EQ(kNteBadData, import(prov, longBlob, 0, &key));
  EXPECT_EQ(kNtePerm, import(verifyOnly, blob, 0, &key));
  EXPECT_TRUE(frames().empty());
  Bytes badVer = blob;
  badVer[1] = 3;
  EXPECT_EQ(kNteBadVer, import(prov, badVer, 0, &key));
  Bytes badBits = blob;
  badBits[13] = 0x08;  // 2048
  EXPECT_EQ(kNteBadData, import(prov, badBits, 0, &key));

  ASSERT_EQ(0u, import(prov, blob, 0, &key));
  EXPECT_EQ(kCalgRsaKeyx, keyValue(prov, key, kKpAlgid));
  EXPECT_EQ(uktest::hex(publicKeyBlob(rsa)), uktest::hex(exportBlob(prov, key, 0, kPublicKeyBlob)));

  // The token now decrypts with the imported key: a DES key wrapped by OpenSSL comes out whole.
  const Bytes desKey = uktest::unhex("0123456789ABCDEF");
  Bytes wrapped = rsa.encrypt(desKey);
  Bytes simple = {kSimpleBlob, 2, 0, 0};
  put32(simple, kCalgDes);
  put32(simple, kCalgRsaKeyx);
  putReversed(simple, wrapped.data(), wrapped.size());
  uintptr_t session = 0;
  ASSERT_EQ(0u, import(prov, simple, key, &session));
  EXPECT_EQ(uktest::hex(desKey), uktest::hex(Bytes(obj(session)->state.block.key, obj(session)->state.block.key + 8)));
}

TEST_F(Keys, PrivateKeyBlobKeepsItsExponent) {
  uintptr_t prov = tokenContext(0);
  // An OpenSSL key with exponent 3, laid out as a PRIVATEKEYBLOB.
  RSA *r = RSA_new();
  BIGNUM *e = BN_new();
  BN_set_word(e, 3);
  ASSERT_EQ(1, RSA_generate_key_ex(r, 1024, e, nullptr));
  BN_free(e);
  const BIGNUM *n, *ee, *dd, *p, *q, *dp, *dq, *qi;
  RSA_get0_key(r, &n, &ee, &dd);
  RSA_get0_factors(r, &p, &q);
  RSA_get0_crt_params(r, &dp, &dq, &qi);
  auto le = [](const BIGNUM *bn, int len) {
    Bytes be(len);
    BN_bn2binpad(bn, be.data(), len);
    return Bytes(be.rbegin(), be.rend());
  };
  Bytes blob = rsaBlobHead(kPrivateKeyBlob, kCalgRsaSign, kMagicRsa2, 3);
  for (auto part : {le(n, 128), le(p, 64), le(q, 64), le(dp, 64), le(dq, 64), le(qi, 64), le(dd, 128)})
    blob.insert(blob.end(), part.begin(), part.end());
  RSA_free(r);
  uintptr_t key = 0;
  ASSERT_EQ(0u, import(prov, blob, 0, &key));
  EXPECT_EQ(kCalgRsaSign, keyValue(prov, key, kKpAlgid));
  Bytes pub = exportBlob(prov, key, 0, kPublicKeyBlob);
  ASSERT_EQ(148u, pub.size());
  EXPECT_EQ("03000000", uktest::hex(Bytes(pub.begin() + 16, pub.begin() + 20)));
  EXPECT_EQ(uktest::hex(Bytes(blob.begin() + 20, blob.begin() + 148)), uktest::hex(Bytes(pub.begin() + 20, pub.end())));
}

TEST_F(Keys, SimpleBlobUnderASoftwareKeyOpensWithTheOpenSslPrivateKey) {
  OsslRsa rsa(1024);
  uintptr_t pub = 0, session = 0;
  ASSERT_EQ(0u, import(verifyOnly, publicKeyBlob(rsa), 0, &pub));
  for (uint32_t alg : {kCalgDes, kCalg3Des, kCalgRc4}) {
    ASSERT_EQ(0u, provider->genKey(verifyOnly, alg, alg == kCalgRc4 ? 0x00280000 : 0, &session));
    uint32_t len = 0;
    ASSERT_EQ(0u, provider->exportKey(verifyOnly, session, pub, kSimpleBlob, 0, nullptr, &len));
    EXPECT_EQ(140u, len);
    Bytes blob = exportBlob(verifyOnly, session, pub, kSimpleBlob);
    ASSERT_EQ(140u, blob.size()) << alg;
    Bytes head;
    head.push_back(kSimpleBlob), head.push_back(2), head.push_back(0), head.push_back(0);
    put32(head, alg);
    put32(head, kCalgRsaKeyx);
    EXPECT_EQ(uktest::hex(head), uktest::hex(Bytes(blob.begin(), blob.begin() + 12)));
    Bytes block = rsa.rawPrivate(Bytes(blob.rbegin(), blob.rbegin() + 128));
    Bytes got = type2Data(block);
    KeyObject *k = obj(session);
    Bytes want = alg == kCalgRc4 ? Bytes(k->state.rc4.key, k->state.rc4.key + 5)
                                 : Bytes(k->state.block.key, k->state.block.key + (alg == kCalgDes ? 8 : 24));
    EXPECT_EQ(uktest::hex(want), uktest::hex(got)) << alg;
  }
  // A salted short RC4 key travels with its salt (16 bytes).
  const Bytes salt = uktest::unhex("0102030405060708090A0B");
  ASSERT_EQ(0u, provider->setKeyParam(verifyOnly, session, kKpSalt, salt.data(), 0));
  Bytes blob = exportBlob(verifyOnly, session, pub, kSimpleBlob);
  Bytes got = type2Data(rsa.rawPrivate(Bytes(blob.rbegin(), blob.rbegin() + 128)));
  ASSERT_EQ(16u, got.size());
  EXPECT_EQ(uktest::hex(salt), uktest::hex(Bytes(got.begin() + 5, got.end())));

  uint32_t rc;
  exportBlob(verifyOnly, session, session, kSimpleBlob, &rc);
  EXPECT_EQ(kNteBadKey, rc);
  exportBlob(verifyOnly, pub, pub, kSimpleBlob, &rc);
  EXPECT_EQ(kNteBadKey, rc);
}

TEST_F(Keys, SimpleBlobRoundTripThroughTheToken) {
  uintptr_t prov = tokenContext(kAtKeyExchange);
  uintptr_t ex = 0, des = 0, tdes = 0, back = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &ex));
  ASSERT_EQ(0u, provider->genKey(prov, kCalgDes, 0, &des));
  Bytes blob = exportBlob(prov, des, ex, kSimpleBlob);
  ASSERT_EQ(140u, blob.size());
  ASSERT_EQ(0u, import(prov, blob, ex, &back));
  EXPECT_EQ(kCalgDes, keyValue(prov, back, kKpAlgid));
  EXPECT_EQ(0, memcmp(obj(des)->state.block.key, obj(back)->state.block.key, 8));

  // 3DES_112 arrives as 3DES with all 24 bytes.
  ASSERT_EQ(0u, provider->genKey(prov, kCalg3Des112, 0, &tdes));
  blob = exportBlob(prov, tdes, ex, kSimpleBlob);
  ASSERT_EQ(0u, import(prov, blob, ex, &back));
  EXPECT_EQ(kCalg3Des, keyValue(prov, back, kKpAlgid));
  EXPECT_EQ(0, memcmp(obj(tdes)->state.block.key, obj(back)->state.block.key, 24));
  EXPECT_EQ("", dialogs.trail());  // the cached PIN served every unwrap
}

TEST_F(Keys, SimpleBlobImportChecksComeBeforeTheToken) {
  uintptr_t prov = tokenContext(kAtKeyExchange);
  uintptr_t ex = 0, des = 0, soft = 0, key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &ex));
  ASSERT_EQ(0u, provider->genKey(prov, kCalgDes, 0, &des));
  OsslRsa rsa(1024);
  ASSERT_EQ(0u, import(prov, publicKeyBlob(rsa), 0, &soft));
  const Bytes blob = exportBlob(prov, des, ex, kSimpleBlob);
  clearTrace();
  EXPECT_EQ(kNtePerm, import(verifyOnly, blob, ex, &key));
  EXPECT_EQ(kErrInvalidParameter, import(prov, blob, 0, &key));
  EXPECT_EQ(kNteBadKey, import(prov, blob, des, &key));
  Bytes b = blob;
  b[1] = 1;
  EXPECT_EQ(kNteBadVer, import(prov, b, ex, &key));
  b = blob;
  b[2] = 1;
  EXPECT_EQ(kNteBadData, import(prov, b, ex, &key));
  b = blob;
  b[4] = 0x03, b[5] = 0x80;  // MD5 is no session key
  EXPECT_EQ(kNteBadData, import(prov, b, ex, &key));
  b = blob;
  b[9] = 0x24;  // wrapped for a signature key
  EXPECT_EQ(kNteBadAlgid, import(prov, b, ex, &key));
  EXPECT_EQ(kNteBadKey, import(prov, blob, soft, &key));
  b = blob;
  b.pop_back();
  EXPECT_EQ(kNteBadData, import(prov, b, ex, &key));
  EXPECT_EQ(kNteBadData, import(prov, Bytes(blob.begin(), blob.begin() + 11), ex, &key));
  EXPECT_EQ(kNteBadFlags, import(prov, blob, ex, &key, 0x80));
  b = blob;
  b[0] = 8;
  EXPECT_EQ(kNteBadType, import(prov, b, ex, &key));
  EXPECT_TRUE(frames().empty());
}

TEST_F(Keys, PublicKeyBlobChecks) {
  OsslRsa rsa(1024);
  const Bytes good = publicKeyBlob(rsa);
  uintptr_t key = 0;
  auto bad = [&](Bytes b) { return import(verifyOnly, b, 0, &key); };
  Bytes b = good;
  b[1] = 1;
  EXPECT_EQ(kNteBadVer, bad(b));
  b = good;
  b[3] = 1;
  EXPECT_EQ(kNteBadData, bad(b));
  b = good;
  b[5] = 0x66;
  EXPECT_EQ(kNteBadData, bad(b));
  b = good;
  b[11] = 0x32;  // "RSA2"
  EXPECT_EQ(kNteBadData, bad(b));
  b = good;
  b.push_back(0);  // 149 bytes
  EXPECT_EQ(kNteBadData, bad(b));
  b = good;
  b[12] = 0x08;  // 1032 bits would need 149 bytes
  EXPECT_EQ(kNteBadData, bad(b));
  b = Bytes(good.begin(), good.begin() + 20);
  EXPECT_EQ(kNteBadData, bad(b));
  // An even modulus cannot be used.
  b = good;
  b[20] &= 0xFE;
  EXPECT_EQ(kNteBadData, bad(b));
  EXPECT_EQ(0u, bad(good));
}

// ---- Certificates --------------------------------------------------------------------------------

TEST_F(Keys, WritingACertificateKeepsOnlyItsContainerAndSignalsTheChange) {
  addToken("UKKEY00001");
  makeContainer("UKKEY00001", "first");
  makeContainer("UKKEY00001", "c1", kAtKeyExchange);
  makeContainer("UKKEY00001", "third");
  uintptr_t prov = acquire("c1"), key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  uint32_t rc;
  keyBytes(prov, key, kKpCertificate, &rc);
  EXPECT_EQ(kNteBadUid, rc);  // no certificate yet

  testcert::Made cert = testcert::make({{"CN", "alice"}}, {{"CN", "bank"}}, "20240101000000Z",
                                       "20300101000000Z", 7);
  EVP_PKEY_free(cert.key);
  ASSERT_EQ(0x82, cert.der[1]);
  ASSERT_EQ(0u, provider->setKeyParam(prov, key, kKpCertificate, cert.der.data(), 0));
  EXPECT_EQ(std::vector<std::string>{"c1"}, containersOn("UKKEY00001"));
  EXPECT_EQ(1, host->certChanges);

  uint32_t len = 0;
  ASSERT_EQ(0u, provider->getKeyParam(prov, key, kKpCertificate, nullptr, &len, 0));
  EXPECT_EQ(cert.der.size(), len);
  Bytes small(100);
  uint32_t smallLen = 100;
  EXPECT_EQ(kErrMoreData, provider->getKeyParam(prov, key, kKpCertificate, small.data(), &smallLen, 0));
  EXPECT_EQ(cert.der.size(), smallLen);
  EXPECT_EQ(uktest::hex(cert.der), uktest::hex(keyBytes(prov, key, kKpCertificate)));
}

TEST_F(Keys, CertificateLengthsComeFromItsOwnHeader) {
  uintptr_t prov = tokenContext(kAtKeyExchange);
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  clearTrace();
  Bytes big(4100, 0x30);
  big[1] = 0x82;
  big[2] = 0x10, big[3] = 0x01;  // 4097
  EXPECT_EQ(kNteBadData, provider->setKeyParam(prov, key, kKpCertificate, big.data(), 0));
  big[2] = 0x0F, big[3] = 0xFD;  // 4093 + 4
  EXPECT_EQ(kErrCertTooLarge, provider->setKeyParam(prov, key, kKpCertificate, big.data(), 0));
  const Bytes notDer = uktest::unhex("04 82 00 10");
  EXPECT_EQ(kNteBadData, provider->setKeyParam(prov, key, kKpCertificate, notDer.data(), 0));
  const Bytes longForm = uktest::unhex("30 83 00 00 10");
  EXPECT_EQ(kNteBadData, provider->setKeyParam(prov, key, kKpCertificate, longForm.data(), 0));
  EXPECT_TRUE(frames().empty());
  // A short-form certificate of 40 bytes is written as exactly those 40 bytes.
  Bytes tiny(48, 0xEE);
  tiny[0] = 0x30, tiny[1] = 38;
  ASSERT_EQ(0u, provider->setKeyParam(prov, key, kKpCertificate, tiny.data(), 0));
  EXPECT_EQ(uktest::hex(Bytes(tiny.begin(), tiny.begin() + 40)), uktest::hex(keyBytes(prov, key, kKpCertificate)));

  uintptr_t des = 0;
  provider->genKey(prov, kCalgDes, 0, &des);
  EXPECT_EQ(kNteBadType, provider->setKeyParam(prov, des, kKpCertificate, tiny.data(), 0));
}

uint32_t UKAPI failingWriteCert(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t, uint32_t) {
  return 0x80006A84u;
}

TEST_F(Keys, AFailedCertificateWriteIsReportedAndLogged) {
  TokenApi a = tokenLibrary();
  a.writeCert = failingWriteCert;
  rebind(a);
  uintptr_t prov = tokenContext(kAtKeyExchange);
  makeContainer("UKKEY00001", "other");
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtKeyExchange, &key));
  const Bytes tiny = uktest::unhex("30 03 02 01 05");
  host->log.clear();
  EXPECT_EQ(0x80006A84u, provider->setKeyParam(prov, key, kKpCertificate, tiny.data(), 0));
  EXPECT_EQ("----->CPSetKeyParam\n0x0000001a\n----->zksCspWriteCert(ret)\n0x80006a84\n", host->log);
  EXPECT_EQ(0, host->certChanges);
  EXPECT_EQ(2u, containersOn("UKKEY00001").size());
}

// ---- Blob parser units ---------------------------------------------------------------------------

TEST(Blobs, HeadersAndBuilders) {
  uint8_t modulus[128];
  for (int i = 0; i < 128; ++i) modulus[i] = uint8_t(i + 1);
  uint8_t out[148];
  buildPublicKeyBlob(kCalgRsaSign, 1024, 65537, modulus, false, out);
  EXPECT_EQ("0602000000240000525341310004000001000100", uktest::hex(Bytes(out, out + 20)));
  EXPECT_EQ(128, out[20]);
  EXPECT_EQ(1, out[147]);
  buildPublicKeyBlob(kCalgRsaSign, 1024, 65537, modulus, true, out);
  EXPECT_EQ(1, out[20]);
  BlobHeader h = readBlobHeader(out);
  EXPECT_EQ(6, h.type);
  EXPECT_EQ(2, h.version);
  EXPECT_EQ(kCalgRsaSign, h.algorithm);
}

}  // namespace
}  // namespace csptest
