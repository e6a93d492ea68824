// OpenSSL as the independent side of the object tests: RSA keys in the token library's key
// records, raw RSA, PKCS #1 v1.5 verification, and DES/Triple-DES/AES references.
#pragma once
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <cstring>
#include <vector>

#include "uk_tokenlib.h"

namespace objtest {

using Bytes = std::vector<uint8_t>;

class OsslRsa {
 public:
  explicit OsslRsa(int bits) : rsa_(RSA_new()) {
    BIGNUM *e = BN_new();
    BN_set_word(e, 65537);
    RSA_generate_key_ex(rsa_, bits, e, nullptr);
    BN_free(e);
  }
  // A public key from a big-endian modulus and exponent.
  OsslRsa(const uint8_t *n, size_t nLen, const uint8_t *e, size_t eLen) : rsa_(RSA_new()) {
    RSA_set0_key(rsa_, BN_bin2bn(n, int(nLen), nullptr), BN_bin2bn(e, int(eLen), nullptr), nullptr);
  }
  ~OsslRsa() { RSA_free(rsa_); }
  OsslRsa(const OsslRsa &) = delete;
  OsslRsa &operator=(const OsslRsa &) = delete;

  int bytes() const { return RSA_size(rsa_); }

  // The key in the library's records (1024-bit or 2048-bit layout by size).
  template <class Pub, class Pri>
  void toRecords(Pub *pub, Pri *pri) const {
    memset(pub, 0, sizeof *pub);
    memset(pri, 0, sizeof *pri);
    const int k = bytes();
    pub->bits = pri->bits = uint32_t(k * 8);
    const BIGNUM *n, *e, *d, *p, *q, *dp, *dq, *qinv;
    RSA_get0_key(rsa_, &n, &e, &d);
    RSA_get0_factors(rsa_, &p, &q);
    RSA_get0_crt_params(rsa_, &dp, &dq, &qinv);
    BN_bn2binpad(n, pub->modulus, k);
    BN_bn2binpad(e, pub->exponent, k);  // right-aligned in the first k bytes
    BN_bn2binpad(n, pri->modulus, k);
    BN_bn2binpad(e, pri->publicExponent, k);
    BN_bn2binpad(d, pri->privateExponent, k);
    BN_bn2binpad(p, pri->prime1, k / 2);
    BN_bn2binpad(q, pri->prime2, k / 2);
    BN_bn2binpad(dp, pri->exponent1, k / 2);
    BN_bn2binpad(dq, pri->exponent2, k / 2);
    BN_bn2binpad(qinv, pri->coefficient, k / 2);
  }

  Bytes rawPrivate(const Bytes &block) const {
    Bytes out(bytes());
    int n = RSA_private_encrypt(int(block.size()), block.data(), out.data(), rsa_, RSA_NO_PADDING);
    out.resize(n < 0 ? 0 : n);
    return out;
  }
  Bytes rawPublic(const Bytes &block) const {
    Bytes out(bytes());
    int n = RSA_public_encrypt(int(block.size()), block.data(), out.data(), rsa_, RSA_NO_PADDING);
    out.resize(n < 0 ? 0 : n);
    return out;
  }
  // Recovers the data of a PKCS #1 v1.5 type 1 signature; empty when it does not verify.
  Bytes recover(const Bytes &sig) const {
    Bytes out(bytes());
    int n = RSA_public_decrypt(int(sig.size()), sig.data(), out.data(), rsa_, RSA_PKCS1_PADDING);
    out.resize(n < 0 ? 0 : n);
    return out;
  }
  // PKCS #1 v1.5 type 2 encryption with random padding.
  Bytes encrypt(const Bytes &data) const {
    Bytes out(bytes());
    int n = RSA_public_encrypt(int(data.size()), data.data(), out.data(), rsa_, RSA_PKCS1_PADDING);
    out.resize(n < 0 ? 0 : n);
    return out;
  }

 private:
  RSA *rsa_;
};

// Block cipher reference without padding: "des-ecb", "des-ede-cbc", "aes-128-ecb", ...
inline Bytes cipherRef(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in,
                       bool encrypt) {
  // Single DES lives in the legacy provider.
  static OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER *deflt = OSSL_PROVIDER_load(nullptr, "default");
  (void)legacy;
  (void)deflt;
  const EVP_CIPHER *c = EVP_get_cipherbyname(name);
  if (!c) return {};
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(n + m);
  return out;
}

// DigestInfo of a SHA-1 digest (35 bytes).
inline Bytes sha1DigestInfo(const Bytes &msg) {
  static const uint8_t prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  Bytes out(prefix, prefix + sizeof prefix);
  uint8_t md[20];
  unsigned len = 0;
  EVP_Digest(msg.data(), msg.size(), md, &len, EVP_sha1(), nullptr);
  out.insert(out.end(), md, md + 20);
  return out;
}

}  // namespace objtest
