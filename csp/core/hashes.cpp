// Hash objects: MD5 and SHA-1 computed in software, the caller-set SSL3 SHAMD5 value, and the
// capture of transaction messages for display tokens.
#include <string.h>

#include "provider.h"
#include "transaction.h"
#include "ukcrypto/hash.h"

namespace csp {

namespace {

uint32_t hashSize(uint32_t alg) { return alg == kCalgMd5 ? 16 : alg == kCalgSha1 ? 20 : 36; }

bool isDigest(const HashObject &h) { return h.algorithm == kCalgMd5 || h.algorithm == kCalgSha1; }

}  // namespace

// The digest of an MD5 or SHA-1 object, finalised (and fixed) first when it is still open.
void hashValue(HashObject &h, uint8_t *out) {
  if (h.algorithm == kCalgMd5) {
    if (!h.valueFixed) ukcrypto::md5Final(h.state.md5, out);
    else ukcrypto::md5ReadDigest(h.state.md5, out);
  } else {
    if (!h.valueFixed) ukcrypto::sha1Final(h.state.sha1, out);
    else ukcrypto::sha1ReadDigest(h.state.sha1, out);
  }
  h.valueFixed = 1;
}

uint32_t Provider::createHash(uintptr_t prov, uint32_t algid, uintptr_t, uint32_t flags,
                              uintptr_t *hash) {
  host_.logLine("---->CPCreateHash");
  if (!prov || !hash) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (!isHashAlgorithm(algid)) return kNteBadAlgid;
  if (flags) return kNteBadFlags;
  auto *h = newRecord<HashObject>();
  if (!h) return kErrNotEnoughMemory;
  h->magic = kHashMagic;
  h->algorithm = algid;
  h->size = hashSize(algid);
  if (algid == kCalgMd5) ukcrypto::md5Init(h->state.md5);
  if (algid == kCalgSha1) ukcrypto::sha1Init(h->state.sha1);
  return publish(ctx, h, hash);
}

uint32_t Provider::hashData(uintptr_t prov, uintptr_t hash, const uint8_t *data, uint32_t len,
                            uint32_t flags) {
  host_.logLine("---->CPHashData");
  if (!prov || !hash) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic || !isDigest(*h)) return kNteBadHash;
  if (flags > 1) return kNteBadFlags;
  if (len == 0) return kOk;
  if (!data) return kNteBadData;
  if (h->valueFixed) return kNteBadHashState;

  UK_DEV_INFO *dev = ctx->device;
  if (dev && isDisplayToken(dev->modelCode) && isTransactionMessage(data, len)) {
    wipe(&h->state, sizeof h->state);
    h->magic = kMessageMagic;
    h->size = len;
    h->state.message.length = len;
    memcpy(h->state.message.bytes, data, len);  // at most 257 bytes: the form fixes the length
    return kOk;
  }
  if (h->algorithm == kCalgMd5) ukcrypto::md5Update(h->state.md5, data, len);
  else ukcrypto::sha1Update(h->state.sha1, data, len);
  return kOk;
}

uint32_t Provider::getHashParam(uintptr_t prov, uintptr_t hash, uint32_t param, uint8_t *data,
                                uint32_t *len, uint32_t flags) {
  host_.logLine("---->CPGetHashParam");
  if (!prov || !hash || !len) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || !isHashAlgorithm(h->algorithm)) return kNteBadHash;
  if (param != kHpAlgid && param != kHpHashVal && param != kHpHashSize) return kNteBadType;
  if (flags) return kNteBadFlags;

  if (param == kHpAlgid) return putValue(h->algorithm, data, len);
  if (param == kHpHashSize) return putValue(h->size, data, len);

  if (h->magic == kMessageMagic) {
    return putBytes(h->state.message.bytes, h->state.message.length, data, len);
  }
  if (h->algorithm == kCalgSsl3Shamd5) return putBytes(h->state.shamd5, 36, data, len);
  uint8_t digest[20];
  const uint32_t n = h->size;
  if (!data || *len < n) return putBytes(nullptr, n, data, len);
  hashValue(*h, digest);
  return putBytes(digest, n, data, len);
}

uint32_t Provider::setHashParam(uintptr_t prov, uintptr_t hash, uint32_t param,
                                const uint8_t *data, uint32_t flags) {
  host_.logLine("---->CPSetHashParam");
  if (!prov || !hash || !data) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic || !isHashAlgorithm(h->algorithm))
    return kNteBadHash;
  if (param != kHpHashVal || flags) return kNteBadFlags;
  if (h->algorithm == kCalgMd5) ukcrypto::md5LoadDigest(h->state.md5, data);
  else if (h->algorithm == kCalgSha1) ukcrypto::sha1LoadDigest(h->state.sha1, data);
  else memcpy(h->state.shamd5, data, 36);
  h->valueFixed = 1;
  return kOk;
}

uint32_t Provider::duplicateHash(uintptr_t prov, uintptr_t hash, const void *reserved,
                                 uint32_t flags, uintptr_t *out) {
  host_.logLine("---->CPDuplicateHash");
  if (!prov || !hash || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic) return kNteBadHash;
  if (!isHashAlgorithm(h->algorithm)) return kNteBadAlgid;
  if (reserved || flags) return kNteBadFlags;
  auto *copy = newRecord<HashObject>();
  if (!copy) return kErrNotEnoughMemory;
  *copy = *h;
  return publish(ctx, copy, out);
}

uint32_t Provider::hashSessionKey(uintptr_t prov, uintptr_t hash, uintptr_t key, uint32_t flags) {
  host_.logLine("---->CPHashSessionKey");
  if (!prov || !hash || !key) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic || !isDigest(*h)) return kNteBadHash;
  KeyObject *k = nullptr;
  if (checkHandle(key, &k) != kOk || !isSessionAlgorithm(k->algorithm)) return kNteBadKey;
  if (flags > kCryptLittleEndian) return kNteBadFlags;
  if (h->valueFixed) return kNteBadHashState;

  uint8_t bytes[24];
  size_t n;
  if (k->algorithm == kCalgRc4) {
    n = 16;
    memcpy(bytes, k->state.rc4.key, n);
  } else {
    n = k->algorithm == kCalgDes ? 8 : 24;
    memcpy(bytes, k->state.block.key, n);
  }
  if (!(flags & kCryptLittleEndian)) {
    for (size_t i = 0; i < n / 2; ++i) {
      uint8_t t = bytes[i];
      bytes[i] = bytes[n - 1 - i];
      bytes[n - 1 - i] = t;
    }
  }
  if (h->algorithm == kCalgMd5) ukcrypto::md5Update(h->state.md5, bytes, n);
  else ukcrypto::sha1Update(h->state.sha1, bytes, n);
  wipe(bytes, sizeof bytes);
  return kOk;
}

uint32_t Provider::destroyHash(uintptr_t prov, uintptr_t hash) {
  host_.logLine("---->CPDestroyHash");
  if (!prov || !hash) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk) return kNteBadHash;
  if (!isHashAlgorithm(h->algorithm)) return kNteBadAlgid;
  destroyObject(ctx, h);
  return kOk;
}

}  // namespace csp
