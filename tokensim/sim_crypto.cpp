// OpenSSL's low-level DES and RSA interfaces are deprecated in 3.0 but remain the plainest way to
// run raw block operations; the emulator uses them on purpose.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sim_crypto.h"

#include <openssl/bn.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <string.h>

namespace tokensim {

void randomBytes(uint8_t *out, size_t n) {
  if (n && RAND_bytes(out, static_cast<int>(n)) != 1) {
    // The generator never fails on this platform; keep the output defined if it does.
    memset(out, 0x5A, n);
  }
}

bool desCrypt(const uint8_t *key, size_t keyLen, bool cbc, bool encrypt, uint8_t iv[8],
              uint8_t *data, size_t len) {
  if (len % 8 != 0 || !(keyLen == 8 || keyLen == 16 || keyLen == 24)) return false;
  DES_key_schedule k1, k2, k3;
  DES_cblock b;
  memcpy(b, key, 8);
  DES_set_key_unchecked(&b, &k1);
  if (keyLen > 8) {
    memcpy(b, key + 8, 8);
    DES_set_key_unchecked(&b, &k2);
    memcpy(b, keyLen == 24 ? key + 16 : key, 8);
    DES_set_key_unchecked(&b, &k3);
  }
  int enc = encrypt ? DES_ENCRYPT : DES_DECRYPT;
  for (size_t off = 0; off < len; off += 8) {
    DES_cblock in, out;
    memcpy(in, data + off, 8);
    if (cbc && encrypt)
      for (int i = 0; i < 8; ++i) in[i] ^= iv[i];
    if (keyLen == 8)
      DES_ecb_encrypt(&in, &out, &k1, enc);
    else
      DES_ecb3_encrypt(&in, &out, &k1, &k2, &k3, enc);
    if (cbc) {
      if (encrypt) {
        memcpy(iv, out, 8);
      } else {
        for (int i = 0; i < 8; ++i) out[i] ^= iv[i];
        memcpy(iv, data + off, 8);
      }
    }
    memcpy(data + off, out, 8);
  }
  return true;
}

bool aesCrypt(const uint8_t *key, size_t keyLen, bool cbc, bool encrypt, uint8_t iv[16],
              uint8_t *data, size_t len) {
  if (len % 16 != 0) return false;
  const EVP_CIPHER *c = nullptr;
  switch (keyLen) {
    case 16: c = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb(); break;
    case 24: c = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb(); break;
    case 32: c = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb(); break;
    default: return false;
  }
  if (len == 0) return true;
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return false;
  Bytes out(len + 16);
  int n1 = 0, n2 = 0;
  uint8_t nextIv[16];
  if (cbc && !encrypt) memcpy(nextIv, data + len - 16, 16);
  bool ok = EVP_CipherInit_ex(ctx, c, nullptr, key, cbc ? iv : nullptr, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, out.data(), &n1, data, static_cast<int>(len)) == 1 &&
            EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1 && size_t(n1 + n2) == len;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return false;
  memcpy(data, out.data(), len);
  if (cbc) {
    // The chaining value after the call is the last ciphertext block.
    if (encrypt)
      memcpy(iv, data + len - 16, 16);
    else
      memcpy(iv, nextIv, 16);
  }
  return true;
}

void tdesCbcLast(const uint8_t key[16], const uint8_t iv[8], const uint8_t *data, size_t len,
                 uint8_t out[8]) {
  uint8_t chain[8];
  memcpy(chain, iv, 8);
  Bytes buf(data, data + len);
  desCrypt(key, 16, true, true, chain, buf.data(), buf.size());
  memcpy(out, chain, 8);
}

void tdesEcb16(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
  uint8_t iv[8] = {0};
  memcpy(out, in, 16);
  desCrypt(key, 16, false, true, iv, out, 16);
}

namespace {

Bytes bnBytes(const BIGNUM *bn, size_t width) {
  Bytes out(width, 0);
  int n = BN_num_bytes(bn);
  if (n > static_cast<int>(width)) return out;
  BN_bn2binpad(bn, out.data(), static_cast<int>(width));
  return out;
}

BIGNUM *toBn(const RsaComps &c, uint8_t tag) {
  auto it = c.find(tag);
  if (it == c.end() || it->second.empty()) return nullptr;
  return BN_bin2bn(it->second.data(), static_cast<int>(it->second.size()), nullptr);
}

}  // namespace

bool rsaGenerate(unsigned bits, RsaComps *comps) {
  RSA *rsa = RSA_new();
  BIGNUM *e = BN_new();
  bool ok = rsa && e && BN_set_word(e, RSA_F4) == 1 &&
            RSA_generate_key_ex(rsa, static_cast<int>(bits), e, nullptr) == 1;
  if (ok) {
    const BIGNUM *n, *ee, *d, *p, *q, *dp, *dq, *qi;
    RSA_get0_key(rsa, &n, &ee, &d);
    RSA_get0_factors(rsa, &p, &q);
    RSA_get0_crt_params(rsa, &dp, &dq, &qi);
    comps->clear();
    (*comps)[0x10] = bnBytes(ee, 16);
    (*comps)[0x11] = bnBytes(n, bits / 8);
    (*comps)[0x12] = bnBytes(d, bits / 8);
    (*comps)[0x13] = bnBytes(p, bits / 16);
    (*comps)[0x14] = bnBytes(q, bits / 16);
    (*comps)[0x15] = bnBytes(qi, bits / 16);
    (*comps)[0x16] = bnBytes(dp, bits / 16);
    (*comps)[0x17] = bnBytes(dq, bits / 16);
  }
  BN_free(e);
  RSA_free(rsa);
  return ok;
}

bool rsaRaw(const RsaComps &comps, bool privateOp, const uint8_t *in, size_t len, uint8_t *out) {
  BIGNUM *n = toBn(comps, 0x11), *e = toBn(comps, 0x10), *d = toBn(comps, 0x12);
  BIGNUM *p = toBn(comps, 0x13), *q = toBn(comps, 0x14), *qi = toBn(comps, 0x15);
  BIGNUM *dp = toBn(comps, 0x16), *dq = toBn(comps, 0x17);
  bool ok = false;
  RSA *rsa = RSA_new();
  auto freeAll = [&] {
    BN_free(n); BN_free(e); BN_free(d); BN_free(p); BN_free(q); BN_free(qi); BN_free(dp);
    BN_free(dq);
  };
  if (!rsa || !n || !e || (privateOp && !d) || size_t(BN_num_bytes(n)) > len ||
      len != comps.at(0x11).size()) {
    freeAll();
    RSA_free(rsa);
    return false;
  }
  RSA_set0_key(rsa, n, e, d);
  n = e = d = nullptr;
  if (privateOp && p && q && dp && dq && qi) {
    RSA_set0_factors(rsa, p, q);
    RSA_set0_crt_params(rsa, dp, dq, qi);
    p = q = dp = dq = qi = nullptr;
  }
  int r = privateOp ? RSA_private_decrypt(static_cast<int>(len), in, out, rsa, RSA_NO_PADDING)
                    : RSA_public_encrypt(static_cast<int>(len), in, out, rsa, RSA_NO_PADDING);
  ok = r == static_cast<int>(len);
  freeAll();
  RSA_free(rsa);
  return ok;
}

}  // namespace tokensim
