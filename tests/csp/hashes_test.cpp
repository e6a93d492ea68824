// Hash objects against OpenSSL, their parameters and states, session-key hashing, and the
// capture of transaction messages.
#include <openssl/evp.h>

#include <random>

#include "csp_harness.h"
#include "transaction.h"

namespace csptest {
namespace {

using namespace csp;

Bytes opensslDigest(const EVP_MD *md, const Bytes &data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, md, nullptr);
  return Bytes(out, out + n);
}

class Hashes : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    prov = acquire(nullptr, kCryptVerifyContext);
  }
  uintptr_t create(uint32_t alg) {
    uintptr_t h = 0;
    EXPECT_EQ(0u, provider->createHash(prov, alg, 0, 0, &h));
    return h;
  }
  Bytes value(uintptr_t h, uint32_t *rc = nullptr) {
    uint8_t buf[300];
    uint32_t len = sizeof buf;
    uint32_t r = provider->getHashParam(prov, h, kHpHashVal, buf, &len, 0);
    if (rc) *rc = r;
    return r ? Bytes() : Bytes(buf, buf + len);
  }
  uint32_t param(uintptr_t h, uint32_t p) {
    uint8_t b[4];
    uint32_t len = 4;
    EXPECT_EQ(0u, provider->getHashParam(prov, h, p, b, &len, 0));
    return uint32_t(b[0]) | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
  }
  uintptr_t prov = 0;
};

TEST_F(Hashes, DigestsEqualOpenSslOnRandomDataAndPieces) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 40; ++round) {
    Bytes data(rng() % 3000);
    for (auto &b : data) b = uint8_t(rng());
    uintptr_t md5 = create(kCalgMd5), sha = create(kCalgSha1);
    for (size_t off = 0; off < data.size();) {
      size_t n = std::min<size_t>(data.size() - off, rng() % 200);
      ASSERT_EQ(0u, provider->hashData(prov, md5, data.data() + off, uint32_t(n), 0));
      ASSERT_EQ(0u, provider->hashData(prov, sha, data.data() + off, uint32_t(n), 0));
      off += n;
    }
    EXPECT_EQ(uktest::hex(opensslDigest(EVP_md5(), data)), uktest::hex(value(md5))) << data.size();
    EXPECT_EQ(uktest::hex(opensslDigest(EVP_sha1(), data)), uktest::hex(value(sha))) << data.size();
    EXPECT_EQ(0u, provider->destroyHash(prov, md5));
    EXPECT_EQ(0u, provider->destroyHash(prov, sha));
  }
}

TEST_F(Hashes, TheValueIsFixedOnceRead) {
  uintptr_t h = create(kCalgMd5);
  ASSERT_EQ(0u, provider->hashData(prov, h, bytesOf("abc").data(), 3, 0));
  EXPECT_EQ(0u, provider->hashData(prov, h, nullptr, 0, 0));  // nothing to add: fine
  Bytes first = value(h), second = value(h);
  EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", uktest::hex(first));
  EXPECT_EQ(first, second);
  EXPECT_EQ(kNteBadHashState, provider->hashData(prov, h, bytesOf("d").data(), 1, 0));
  EXPECT_EQ(kNteBadData, provider->hashData(prov, create(kCalgSha1), nullptr, 1, 0));
  EXPECT_EQ(kNteBadFlags, provider->hashData(prov, h, bytesOf("d").data(), 1, 2));
}

TEST_F(Hashes, ParametersAndTheBufferContract) {
  uintptr_t h = create(kCalgSha1);
  EXPECT_EQ(kCalgSha1, param(h, kHpAlgid));
  EXPECT_EQ(20u, param(h, kHpHashSize));
  uint32_t len = 0;
  EXPECT_EQ(0u, provider->getHashParam(prov, h, kHpHashVal, nullptr, &len, 0));
  EXPECT_EQ(20u, len);
  uint8_t small[19];
  len = sizeof small;
  EXPECT_EQ(kErrMoreData, provider->getHashParam(prov, h, kHpHashVal, small, &len, 0));
  EXPECT_EQ(20u, len);
  // Neither call fixed the value.
  EXPECT_EQ(0u, provider->hashData(prov, h, bytesOf("abc").data(), 3, 0));
  EXPECT_EQ(kNteBadType, provider->getHashParam(prov, h, 3, small, &len, 0));
  EXPECT_EQ(kNteBadFlags, provider->getHashParam(prov, h, kHpAlgid, small, &len, 1));
  EXPECT_EQ(kErrInvalidParameter, provider->getHashParam(prov, h, kHpAlgid, small, nullptr, 0));

  uintptr_t x = 0;
  EXPECT_EQ(kNteBadAlgid, provider->createHash(prov, 0x8001, 0, 0, &x));
  EXPECT_EQ(kNteBadFlags, provider->createHash(prov, kCalgMd5, 0, 1, &x));
  EXPECT_EQ(kErrInvalidParameter, provider->createHash(prov, kCalgMd5, 0, 0, nullptr));
  EXPECT_EQ(kNteBadUid, provider->createHash(prov ^ 0x10, kCalgMd5, 0, 0, &x));
}

TEST_F(Hashes, SettingValues) {
  uintptr_t md5 = create(kCalgMd5), sha = create(kCalgSha1), ssl = create(kCalgSsl3Shamd5);
  Bytes v36(36);
  for (size_t i = 0; i < 36; ++i) v36[i] = uint8_t(i * 7);
  EXPECT_EQ(0u, provider->setHashParam(prov, md5, kHpHashVal, v36.data(), 0));
  EXPECT_EQ(0u, provider->setHashParam(prov, sha, kHpHashVal, v36.data(), 0));
  EXPECT_EQ(uktest::hex(Bytes(v36.begin(), v36.begin() + 16)), uktest::hex(value(md5)));
  EXPECT_EQ(uktest::hex(Bytes(v36.begin(), v36.begin() + 20)), uktest::hex(value(sha)));
  EXPECT_EQ(kNteBadHashState, provider->hashData(prov, md5, v36.data(), 1, 0));

  // SSL3 SHAMD5 holds what the caller sets (zeros before) and takes no data.
  EXPECT_EQ(uktest::hex(Bytes(36, 0)), uktest::hex(value(ssl)));
  EXPECT_EQ(kNteBadHash, provider->hashData(prov, ssl, v36.data(), 36, 0));
  EXPECT_EQ(0u, provider->setHashParam(prov, ssl, kHpHashVal, v36.data(), 0));
  EXPECT_EQ(uktest::hex(v36), uktest::hex(value(ssl)));
  EXPECT_EQ(36u, param(ssl, kHpHashSize));

  EXPECT_EQ(kNteBadFlags, provider->setHashParam(prov, md5, kHpAlgid, v36.data(), 0));
  EXPECT_EQ(kNteBadFlags, provider->setHashParam(prov, md5, kHpHashVal, v36.data(), 1));
  EXPECT_EQ(kErrInvalidParameter, provider->setHashParam(prov, md5, kHpHashVal, nullptr, 0));
}

TEST_F(Hashes, DuplicateCarriesTheStateOn) {
  uintptr_t h = create(kCalgSha1);
  provider->hashData(prov, h, bytesOf("hello ").data(), 6, 0);
  uintptr_t d = 0;
  ASSERT_EQ(0u, provider->duplicateHash(prov, h, nullptr, 0, &d));
  provider->hashData(prov, h, bytesOf("world").data(), 5, 0);
  provider->hashData(prov, d, bytesOf("there").data(), 5, 0);
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_sha1(), bytesOf("hello world"))), uktest::hex(value(h)));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_sha1(), bytesOf("hello there"))), uktest::hex(value(d)));
  uint32_t reserved = 0;
  EXPECT_EQ(kNteBadFlags, provider->duplicateHash(prov, h, &reserved, 0, &d));
  EXPECT_EQ(kNteBadFlags, provider->duplicateHash(prov, h, nullptr, 1, &d));
  EXPECT_EQ(0u, provider->destroyHash(prov, d));
  EXPECT_EQ(kNteBadHash, provider->destroyHash(prov, d));
}

TEST_F(Hashes, SessionKeysAreHashedReversedUnlessLittleEndian) {
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->genKey(prov, kCalgDes, 0, &key));
  auto *k = reinterpret_cast<KeyObject *>(key);
  Bytes stored(k->state.block.key, k->state.block.key + 8), reversed(stored.rbegin(), stored.rend());
  uintptr_t a = create(kCalgMd5), b = create(kCalgMd5);
  ASSERT_EQ(0u, provider->hashSessionKey(prov, a, key, 0));
  ASSERT_EQ(0u, provider->hashSessionKey(prov, b, key, kCryptLittleEndian));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_md5(), reversed)), uktest::hex(value(a)));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_md5(), stored)), uktest::hex(value(b)));
  EXPECT_EQ(kNteBadHashState, provider->hashSessionKey(prov, a, key, 0));
  EXPECT_EQ(kNteBadFlags, provider->hashSessionKey(prov, create(kCalgMd5), key, 2));
  EXPECT_EQ(kNteBadHash, provider->hashSessionKey(prov, create(kCalgSsl3Shamd5), key, 0));
  EXPECT_EQ(kErrInvalidParameter, provider->hashSessionKey(prov, a, 0, 0));

  uintptr_t rc4 = 0;
  ASSERT_EQ(0u, provider->genKey(prov, kCalgRc4, 0x00280000, &rc4));  // 40 bits: 16 bytes hashed
  auto *r = reinterpret_cast<KeyObject *>(rc4);
  Bytes rc4Bytes(r->state.rc4.key, r->state.rc4.key + 16);
  uintptr_t c = create(kCalgSha1);
  ASSERT_EQ(0u, provider->hashSessionKey(prov, c, rc4, kCryptLittleEndian));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_sha1(), rc4Bytes)), uktest::hex(value(c)));
}

// ---- Transaction messages ------------------------------------------------------------------------

TEST(TransactionMessage, Grammar) {
  auto is = [](const std::string &h) {
    Bytes b = uktest::unhex(h);
    return isTransactionMessage(b.data(), b.size());
  };
  EXPECT_TRUE(is("6F 05 E1 03 41 42 43"));
  EXPECT_TRUE(is("6F 0D 9F03 01 31 00 FF DF04 02 41 42 E1 00"));
  EXPECT_TRUE(is("6F 0B 5F20 02 4142 DF24 00 00 E1 00"));
  EXPECT_TRUE(is("6F 09 FF FF 00 9F03 03 313233"));             // filler before the first element
  EXPECT_FALSE(is("6F 06 E1 03 41 42 43 00"));                  // filler after the last element
  EXPECT_FALSE(is("6F 06 E1 03 41 42 43"));                     // declared length too long
  EXPECT_FALSE(is("6F 04 E1 03 41 42 43"));                     // too short
  EXPECT_FALSE(is("6F 05 E1 04 41 42 43"));                     // element overruns the data
  EXPECT_FALSE(is("6F 05 E2 03 41 42 43"));                     // tag not allowed
  EXPECT_FALSE(is("6F 06 9F04 03 41 42 43"));                   // two-byte tag not allowed
  EXPECT_FALSE(is("6F 03 E1 80 41"));                           // length above 127
  EXPECT_FALSE(is("6F 01 9F"));                                 // tag cut short
  EXPECT_FALSE(is("6F 01 E1"));                                 // length byte missing
  EXPECT_FALSE(is("6F 00"));                                    // no element
  EXPECT_FALSE(is("70 05 E1 03 41 42 43"));
  EXPECT_FALSE(is("6F"));
  Bytes longest(257, 0x41);
  longest[0] = 0x6F, longest[1] = 0xFF;
  longest[2] = 0xE1, longest[3] = 0x7F;   // 127 bytes, then another element of 124
  longest[131] = 0xE1, longest[132] = 0x7C;
  EXPECT_TRUE(isTransactionMessage(longest.data(), longest.size()));
}

uint8_t gModel = 53;
uint32_t UKAPI modelListing(const char *p, UK_DEV_INFO *d, uint32_t *n) {
  uint32_t rc = zksTokenListDevices(p, d, n);
  for (uint32_t i = 0; i < *n; ++i) d[i].modelCode = gModel;
  return rc;
}

class Capture : public Hashes {
 protected:
  void SetUp() override {
    Hashes::SetUp();
    TokenApi a = tokenLibrary();
    a.listDevices = modelListing;
    rebind(a);
    addToken("UKHSH00001");
    makeContainer("UKHSH00001", "c1");
  }
};

TEST_F(Capture, ADisplayTokenCapturesTheMessageOthersHashIt) {
  const Bytes msg = uktest::unhex("6F 0D 9F03 01 31 00 FF DF04 02 41 42 E1 00");
  gModel = 18;  // a display token
  prov = acquire("c1");
  uintptr_t h = create(kCalgSha1);
  ASSERT_EQ(0u, provider->hashData(prov, h, msg.data(), uint32_t(msg.size()), 0));
  EXPECT_EQ(uint32_t(msg.size()), param(h, kHpHashSize));
  EXPECT_EQ(uktest::hex(msg), uktest::hex(value(h)));
  EXPECT_EQ(kNteBadHash, provider->hashData(prov, h, msg.data(), 1, 0));
  EXPECT_EQ(kNteBadHash, provider->setHashParam(prov, h, kHpHashVal, msg.data(), 0));
  uintptr_t d = 0;
  EXPECT_EQ(kNteBadHash, provider->duplicateHash(prov, h, nullptr, 0, &d));
  EXPECT_EQ(0u, provider->destroyHash(prov, h));
  // Data that only resembles a message is hashed.
  Bytes bad = msg;
  bad[6] = 0xE2;
  uintptr_t n = create(kCalgSha1);
  ASSERT_EQ(0u, provider->hashData(prov, n, bad.data(), uint32_t(bad.size()), 0));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_sha1(), bad)), uktest::hex(value(n)));
  provider->releaseContext(prov, 0);

  gModel = 53;  // this system's token hashes everything
  prov = acquire("c1");
  uintptr_t m = create(kCalgMd5);
  ASSERT_EQ(0u, provider->hashData(prov, m, msg.data(), uint32_t(msg.size()), 0));
  EXPECT_EQ(uktest::hex(opensslDigest(EVP_md5(), msg)), uktest::hex(value(m)));
}

}  // namespace
}  // namespace csptest
