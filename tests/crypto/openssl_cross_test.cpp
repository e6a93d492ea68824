// Cross-checks against OpenSSL's libcrypto (native test tree only): every cipher mode and key
// size with random keys, IVs and lengths, hashes over randomly split data, and the RSA public
// operation against OpenSSL keys and BN_mod_exp.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <cstring>
#include <random>
#include <vector>

#include "../common/ossl_des.h"
#include "test_util.h"
#include "ukcrypto/ukcrypto.h"

using namespace ukcrypto;

namespace {

class OpenSsl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
    default_ = OSSL_PROVIDER_load(nullptr, "default");
  }
  static void TearDownTestSuite() {
    if (legacy_) OSSL_PROVIDER_unload(legacy_);
    if (default_) OSSL_PROVIDER_unload(default_);
  }
  static inline OSSL_PROVIDER* legacy_ = nullptr;
  static inline OSSL_PROVIDER* default_ = nullptr;
  std::mt19937 rng{20240611};
  std::vector<uint8_t> randomBytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }
};

std::vector<uint8_t> evpCrypt(const EVP_CIPHER* c, bool enc, const std::vector<uint8_t>& key,
                              const std::vector<uint8_t>& iv, const std::vector<uint8_t>& in,
                              bool pad = false) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EXPECT_EQ(EVP_CipherInit_ex(ctx, c, nullptr, nullptr, nullptr, enc ? 1 : 0), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())), 1);
  EXPECT_EQ(EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                              enc ? 1 : 0), 1);
  EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
  std::vector<uint8_t> out(in.size() + 16);
  int n1 = 0, n2 = 0;
  EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
  EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2), 1);
  out.resize(static_cast<size_t>(n1 + n2));
  EVP_CIPHER_CTX_free(ctx);
  return out;
}

struct ModeCase {
  size_t keyLen;
  uint32_t mode, bits;
  const EVP_CIPHER* (*evp)();  // null: DES OFB-1/8
};

TEST_F(OpenSsl, EveryModeAndKeySizeAgrees) {
  const ModeCase cases[] = {
      {8, kModeEcb, 0, EVP_des_ecb},        {8, kModeCbc, 0, EVP_des_cbc},
      {8, kModeCfb, 1, EVP_des_cfb1},       {8, kModeCfb, 8, EVP_des_cfb8},
      {8, kModeCfb, 64, EVP_des_cfb64},     {8, kModeOfb, 1, nullptr},
      {8, kModeOfb, 8, nullptr},            {16, kModeEcb, 0, EVP_des_ede},
      {16, kModeCbc, 0, EVP_des_ede_cbc},   {16, kModeCfb, 64, EVP_des_ede_cfb64},
      {16, kModeOfb, 64, EVP_des_ede_ofb},  {24, kModeEcb, 0, EVP_des_ede3},
      {24, kModeCbc, 0, EVP_des_ede3_cbc},  {24, kModeCfb, 64, EVP_des_ede3_cfb64},
      {24, kModeOfb, 64, EVP_des_ede3_ofb},
  };
  for (const auto& c : cases) {
    for (int iter = 0; iter < 40; ++iter) {
      auto key = randomBytes(c.keyLen);
      auto iv = randomBytes(8);
      size_t len = 8 * (rng() % 130);
      auto pt = randomBytes(len);
      std::vector<uint8_t> ref;
      if (c.evp) ref = evpCrypt(c.evp(), true, key, c.mode == kModeEcb ? std::vector<uint8_t>() : iv, pt);
      else ref = ukossl::desOfb(static_cast<int>(c.bits), key, iv, pt);
      std::vector<uint8_t> ours(len + 8);
      size_t outLen = ours.size();
      ASSERT_EQ(blockEncrypt(pt.data(), len, key.data(), key.size(), iv.data(), 0, c.mode, c.bits,
                             ours.data(), &outLen), kOk);
      ours.resize(outLen);
      ASSERT_EQ(hex(ours), hex(ref)) << c.keyLen << " mode " << c.mode << "/" << c.bits;
      std::vector<uint8_t> back(len);
      size_t backLen = back.size();
      ASSERT_EQ(blockDecrypt(ours.data(), len, key.data(), key.size(), iv.data(), 0, c.mode,
                             c.bits, back.data(), &backLen), kOk);
      ASSERT_EQ(back, pt);
    }
  }
}

TEST_F(OpenSsl, PaddedCbcMatchesEvpPadding) {
  for (size_t keyLen : {8u, 16u, 24u}) {
    const EVP_CIPHER* c = keyLen == 8 ? EVP_des_cbc() : keyLen == 16 ? EVP_des_ede_cbc()
                                                                      : EVP_des_ede3_cbc();
    for (int iter = 0; iter < 50; ++iter) {
      auto key = randomBytes(keyLen), iv = randomBytes(8);
      auto pt = randomBytes(rng() % 100);
      auto ref = evpCrypt(c, true, key, iv, pt, true);
      std::vector<uint8_t> ours(pt.size() + 8);
      size_t n = ours.size();
      ASSERT_EQ(blockEncrypt(pt.data(), pt.size(), key.data(), keyLen, iv.data(), 1, kModeCbc, 0,
                             ours.data(), &n), kOk);
      ours.resize(n);
      ASSERT_EQ(hex(ours), hex(ref));
      std::vector<uint8_t> back(n);
      size_t bn = back.size();
      ASSERT_EQ(blockDecrypt(ours.data(), n, key.data(), keyLen, iv.data(), 1, kModeCbc, 0,
                             back.data(), &bn), kOk);
      back.resize(bn);
      ASSERT_EQ(back, pt);
    }
  }
}

TEST_F(OpenSsl, Rc4AgreesForEveryKeyLength) {
  for (size_t keyLen = 1; keyLen <= 32; ++keyLen) {
    auto key = randomBytes(keyLen);
    auto data = randomBytes(rng() % 3000);
    auto ref = evpCrypt(EVP_rc4(), true, key, {}, data);
    Rc4State st;
    rc4Init(st, key.data(), keyLen);
    auto ours = data;
    size_t cut = data.empty() ? 0 : rng() % data.size();
    rc4Crypt(st, ours.data(), cut);
    rc4Crypt(st, ours.data() + cut, ours.size() - cut);
    ASSERT_EQ(hex(ours), hex(ref)) << keyLen;
  }
}

TEST_F(OpenSsl, HashesOverRandomSplits) {
  for (int iter = 0; iter < 200; ++iter) {
    auto data = randomBytes(rng() % 5000);
    uint8_t refMd5[16], refSha[20];
    unsigned int l = 0;
    EVP_Digest(data.data(), data.size(), refMd5, &l, EVP_md5(), nullptr);
    EVP_Digest(data.data(), data.size(), refSha, &l, EVP_sha1(), nullptr);
    Md5Context m;
    Sha1Context s;
    md5Init(m);
    sha1Init(s);
    size_t pos = 0;
    while (pos < data.size()) {
      size_t piece = std::min<size_t>(data.size() - pos, rng() % 200);
      md5Update(m, data.data() + pos, piece);
      sha1Update(s, data.data() + pos, piece);
      pos += piece;
    }
    uint8_t dm[16], ds[20];
    md5Final(m, dm);
    sha1Final(s, ds);
    ASSERT_EQ(hex(dm, 16), hex(refMd5, 16)) << data.size();
    ASSERT_EQ(hex(ds, 20), hex(refSha, 20)) << data.size();
  }
}

std::vector<uint8_t> bnBytes(const BIGNUM* bn, size_t len) {
  std::vector<uint8_t> v(len);
  BN_bn2binpad(bn, v.data(), static_cast<int>(len));
  return v;
}

TEST_F(OpenSsl, RsaAgainstGeneratedKeys) {
  for (int keyNo = 0; keyNo < 4; ++keyNo) {
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    ASSERT_NE(pkey, nullptr);
    BIGNUM *n = nullptr, *e = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(pkey, "n", &n), 1);
    ASSERT_EQ(EVP_PKEY_get_bn_param(pkey, "e", &e), 1);
    auto nb = bnBytes(n, 128);
    auto eb = bnBytes(e, static_cast<size_t>(BN_num_bytes(e)));
    RsaPublicKey key;
    ASSERT_EQ(rsaKeySet(key, nb.data(), nb.size(), eb.data(), eb.size()), kOk);

    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    for (int iter = 0; iter < 10; ++iter) {
      // Raw public operation.
      auto in = randomBytes(128);
      in[0] &= 0x7F;
      ASSERT_EQ(EVP_PKEY_encrypt_init(ctx), 1);
      ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING), 1);
      uint8_t ref[128], ours[128];
      size_t refLen = sizeof(ref);
      ASSERT_EQ(EVP_PKEY_encrypt(ctx, ref, &refLen, in.data(), in.size()), 1);
      ASSERT_EQ(rsaPublicBlock(key, in.data(), 128, ours, sizeof(ours)), kOk);
      ASSERT_EQ(hex(ours, 128), hex(ref, refLen));

      // OpenSSL signs (block type 1), we verify and recover.
      auto digest = randomBytes(36);
      ASSERT_EQ(EVP_PKEY_sign_init(ctx), 1);
      ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
      uint8_t sig[128];
      size_t sigLen = sizeof(sig);
      ASSERT_EQ(EVP_PKEY_sign(ctx, sig, &sigLen, digest.data(), digest.size()), 1);
      uint8_t rec[128];
      size_t recLen = 0;
      ASSERT_EQ(rsaVerifyPkcs1Type1(key, sig, sigLen, rec, sizeof(rec), &recLen), kOk);
      ASSERT_EQ(hex(rec, recLen), hex(digest));

      // We encrypt (block type 2), OpenSSL decrypts.
      auto session = randomBytes(1 + rng() % 117);
      uint8_t ct[128];
      ASSERT_EQ(rsaEncryptPkcs1Type2(key, session.data(), session.size(), ct, sizeof(ct)), kOk);
      ASSERT_EQ(EVP_PKEY_decrypt_init(ctx), 1);
      ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
      uint8_t dec[128];
      size_t decLen = sizeof(dec);
      ASSERT_EQ(EVP_PKEY_decrypt(ctx, dec, &decLen, ct, sizeof(ct)), 1);
      ASSERT_EQ(hex(dec, decLen), hex(session));
    }
    EVP_PKEY_CTX_free(ctx);
    BN_free(n);
    BN_free(e);
    EVP_PKEY_free(pkey);
  }
}

TEST_F(OpenSsl, ModularExponentiationAtEverySize) {
  // Odd moduli of every size from 96 to 1024 bits (not only RSA moduli) and random exponents.
  BN_CTX* bctx = BN_CTX_new();
  for (int bits = 96; bits <= 1024; bits += (bits < 140 ? 1 : 29)) {
    for (int iter = 0; iter < 3; ++iter) {
      size_t bytes = static_cast<size_t>((bits + 7) / 8);
      auto nb = randomBytes(bytes);
      int topBit = (bits - 1) % 8;
      nb[0] &= static_cast<uint8_t>((1u << (topBit + 1)) - 1);
      nb[0] |= static_cast<uint8_t>(1u << topBit);
      nb[bytes - 1] |= 1;
      auto eb = randomBytes(1 + rng() % (iter == 0 ? 3 : 128));
      eb[0] |= 1;
      auto xb = randomBytes(bytes);
      xb[0] &= static_cast<uint8_t>((1u << topBit) - 1);  // below 2^(bits-1) <= n
      RsaPublicKey key;
      ASSERT_EQ(rsaKeySet(key, nb.data(), nb.size(), eb.data(), eb.size()), kOk);
      ASSERT_EQ(key.bits, static_cast<uint32_t>(bits));
      std::vector<uint8_t> ours(bytes);
      ASSERT_EQ(rsaPublicBlock(key, xb.data(), bytes, ours.data(), bytes), kOk);
      BIGNUM *n = BN_bin2bn(nb.data(), static_cast<int>(bytes), nullptr),
             *e = BN_bin2bn(eb.data(), static_cast<int>(eb.size()), nullptr),
             *x = BN_bin2bn(xb.data(), static_cast<int>(bytes), nullptr), *r = BN_new();
      ASSERT_EQ(BN_mod_exp(r, x, e, n, bctx), 1);
      ASSERT_EQ(hex(ours), hex(bnBytes(r, bytes))) << bits;
      BN_free(n);
      BN_free(e);
      BN_free(x);
      BN_free(r);
    }
  }
  BN_CTX_free(bctx);
}

}  // namespace
