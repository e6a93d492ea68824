#include "blobs.h"

#include <string.h>

#include "csp_codes.h"
#include "ukcrypto/rsa.h"

namespace csp {

namespace {

uint32_t get32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// A 32-bit exponent as a big-endian number right-aligned in a field of n bytes.
void exponentField(uint32_t e, uint8_t *field, size_t n) {
  memset(field, 0, n);
  for (int i = 0; i < 4; ++i) field[n - 1 - i] = uint8_t(e >> (8 * i));
}

}  // namespace

void reverseCopy(uint8_t *dst, const uint8_t *src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
}

BlobHeader readBlobHeader(const uint8_t *data) {
  BlobHeader h;
  h.type = data[0];
  h.version = data[1];
  h.reserved = uint16_t(data[2] | data[3] << 8);
  h.algorithm = get32(data + 4);
  return h;
}

uint32_t parsePublicKeyBlob(const uint8_t *data, uint32_t len, RsaPublicState *key,
                            uint32_t *algorithm) {
  if (len < 21 || len > kTokenPublicKeyBlobSize) return kNteBadData;
  BlobHeader h = readBlobHeader(data);
  if (h.version != kBlobVersion) return kNteBadVer;
  const uint32_t magic = get32(data + 8), bits = get32(data + 12), exponent = get32(data + 16);
  if (h.reserved != 0 || !isRsaAlgorithm(h.algorithm) || uint64_t(bits) / 8 + 20 != len)
    return kNteBadData;
  if (magic != kMagicRsa1 || bits > 1024) return kNteBadData;
  const uint32_t n = bits / 8;
  memset(key, 0, sizeof *key);
  key->bits = bits;
  key->exponent = exponent;
  reverseCopy(key->modulus, data + 20, n);
  // A key the public operation cannot use (even or tiny modulus, zero exponent) is refused here
  // rather than at its first use.
  uint8_t e[4];
  exponentField(exponent, e, sizeof e);
  ukcrypto::RsaPublicKey check;
  if (ukcrypto::rsaKeySet(check, key->modulus, n, e, sizeof e) != ukcrypto::kOk) return kNteBadData;
  *algorithm = h.algorithm;
  return kOk;
}

uint32_t parseSimpleBlob(const uint8_t *data, uint32_t len, uint32_t importAlgorithm,
                         bool importKeyInSoftware, uint32_t *sessionAlgorithm,
                         uint8_t encrypted[128]) {
  if (len < kSimpleBlobPrefix) return kNteBadData;
  BlobHeader h = readBlobHeader(data);
  if (h.version != kBlobVersion) return kNteBadVer;
  if (h.reserved != 0 || !isSessionAlgorithm(h.algorithm)) return kNteBadData;
  if (get32(data + 8) != importAlgorithm) return kNteBadAlgid;
  // Only the token's private key can unwrap a session key.
  if (importKeyInSoftware) return kNteBadKey;
  if (len != kTokenSimpleBlobSize) return kNteBadData;
  reverseCopy(encrypted, data + kSimpleBlobPrefix, 128);
  *sessionAlgorithm = h.algorithm;
  return kOk;
}

uint32_t parsePrivateKeyBlob(const uint8_t *data, uint32_t len, UK_RSA_PUBLIC_KEY *pub,
                             UK_RSA_PRIVATE_KEY *pri, uint32_t *algorithm) {
  if (len != kPrivateKeyBlobSize) return kNteBadData;
  BlobHeader h = readBlobHeader(data);
  if (h.version != kBlobVersion) return kNteBadVer;
  const uint32_t magic = get32(data + 8), bits = get32(data + 12), exponent = get32(data + 16);
  if (h.reserved != 0 || !isRsaAlgorithm(h.algorithm) || magic != kMagicRsa2 || bits != 1024)
    return kNteBadData;
  memset(pub, 0, sizeof *pub);
  memset(pri, 0, sizeof *pri);
  const uint8_t *p = data + 20;
  pub->bits = pri->bits = 1024;
  reverseCopy(pub->modulus, p, 128);
  memcpy(pri->modulus, pub->modulus, 128);
  exponentField(exponent, pub->exponent, 128);
  memcpy(pri->publicExponent, pub->exponent, 128);
  p += 128;
  reverseCopy(pri->prime1, p, 64);
  reverseCopy(pri->prime2, p + 64, 64);
  reverseCopy(pri->exponent1, p + 128, 64);
  reverseCopy(pri->exponent2, p + 192, 64);
  reverseCopy(pri->coefficient, p + 256, 64);
  reverseCopy(pri->privateExponent, p + 320, 128);
  *algorithm = h.algorithm;
  return kOk;
}

void buildPublicKeyBlob(uint32_t algorithm, uint32_t bits, uint32_t exponent,
                        const uint8_t *modulus, bool modulusLittleEndian, uint8_t *out) {
  out[0] = kPublicKeyBlob;
  out[1] = kBlobVersion;
  out[2] = out[3] = 0;
  put32(out + 4, algorithm);
  put32(out + 8, kMagicRsa1);
  put32(out + 12, bits);
  put32(out + 16, exponent);
  if (modulusLittleEndian) memcpy(out + 20, modulus, bits / 8);
  else reverseCopy(out + 20, modulus, bits / 8);
}

void buildSimpleBlob(uint32_t sessionAlgorithm, uint32_t exchangeAlgorithm, const uint8_t *block,
                     uint32_t blockLen, uint8_t *out) {
  out[0] = kSimpleBlob;
  out[1] = kBlobVersion;
  out[2] = out[3] = 0;
  put32(out + 4, sessionAlgorithm);
  put32(out + 8, exchangeAlgorithm);
  reverseCopy(out + kSimpleBlobPrefix, block, blockLen);
}

}  // namespace csp
