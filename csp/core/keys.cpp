// Key objects: RSA pairs on the token, RSA public keys imported in software, and DES, Triple-DES
// and RC4 session keys; their creation, parameters, export and import.
#include <string.h>

#include "blobs.h"
#include "provider.h"
#include "ukcrypto/random.h"
#include "ukcrypto/rsa.h"

namespace csp {

namespace {

constexpr uint32_t kGenKeyRefusedFlags = 0xFFA8;
constexpr uint32_t kDeriveKeyRefusedFlags = 0xFBE0;
constexpr uint32_t kImportRefusedFlags = ~uint32_t(0x57);
constexpr uint32_t kModelUnreversedModulus = 18;

uint32_t randomBytes(uint8_t *out, size_t n) {
  for (int attempt = 0; attempt < 3; ++attempt)
    if (ukcrypto::randomTimeSeeded(out, n) == ukcrypto::kOk) return kOk;
  return kNteFail;
}

uint32_t get32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A zero-filled key object with the defaults every key starts with.
KeyObject *newKey(uint32_t algorithm) {
  auto *k = newRecord<KeyObject>();
  if (k) {
    k->magic = kKeyMagic;
    k->algorithm = algorithm;
    k->permissions = kDefaultPermissions;
  }
  return k;
}

uint32_t saltLength(const KeyObject &k) {
  return k.algorithm == kCalgRc4 ? 16 - k.state.rc4.keyLength : 0;
}

void initBlockKey(KeyObject &k, const uint8_t *key, size_t n) {
  memcpy(k.state.block.key, key, n);
  ukcrypto::blockKeySet(k.state.block.schedule, k.state.block.key, n == 8 ? 8 : 24);
  k.state.block.padding = kPkcs5Padding;
  k.state.block.mode = kCryptModeCbc;
}

void initRc4Key(KeyObject &k, const uint8_t *key, size_t n, bool salt) {
  memcpy(k.state.rc4.key, key, n);
  k.state.rc4.keyLength = uint32_t(n);
  k.state.rc4.saltEnabled = salt ? 1 : 0;
  rekeyRc4(k.state.rc4);
}

// The token key pair of a context's container record.
void bindPair(KeyObject &k, const UK_CONTAINER_INFO &c) {
  const bool ex = keySpecOf(k) == kAtKeyExchange;
  memcpy(k.state.pair.container, c.name, sizeof k.state.pair.container);
  k.state.pair.container[sizeof k.state.pair.container - 1] = 0;
  memcpy(k.state.pair.pubFid, ex ? c.exPubFid : c.sigPubFid, 2);
  memcpy(k.state.pair.priFid, ex ? c.exPriFid : c.sigPriFid, 2);
}

// The bytes a session key is exported or hashed as.
size_t sessionKeyBytes(const KeyObject &k, uint8_t out[24]) {
  if (k.algorithm == kCalgRc4) {
    const Rc4KeyState &r = k.state.rc4;
    size_t n = r.keyLength;
    memcpy(out, r.key, n);
    bool salted = false;
    for (size_t i = 0; i < 16 - n; ++i) salted = salted || r.salt[i] != 0;
    if (n < 16 && salted) {
      memcpy(out + n, r.salt, 16 - n);
      n = 16;
    }
    return n;
  }
  size_t n = k.algorithm == kCalgDes ? 8 : 24;
  memcpy(out, k.state.block.key, n);
  return n;
}

// The container flags show the key pair and its certificate.
bool pairHasCertificate(uint8_t flags, uint32_t keySpec) {
  return keySpec == kAtKeyExchange ? (flags & 0x01) && (flags & 0x10) : (flags & 0x02) && (flags & 0x20);
}

}  // namespace

void rekeyRc4(Rc4KeyState &s) {
  uint8_t material[16];
  size_t n = s.keyLength;
  memcpy(material, s.key, n);
  if (s.saltEnabled && n < 16) {
    memcpy(material + n, s.salt, 16 - n);
    n = 16;
  }
  ukcrypto::rc4Init(s.rc4, material, n);
  wipe(material, sizeof material);
}

template <class Op>
uint32_t Provider::withPrivateKey(ProviderContext *ctx, Session variant, Op op) {
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  DeviceLock lock(*this);
  uint32_t rc = openDeviceSession(dev, variant);
  if (rc == kOk) rc = verifyUserPinCached(dev);
  if (rc) return rc;
  rc = op(dev);
  tl_.resetUserPinVerifyFlag(dev);
  return rc;
}

// ---- CPGenKey ------------------------------------------------------------------------------------

uint32_t Provider::genKey(uintptr_t prov, uint32_t algid, uint32_t flags, uintptr_t *out) {
  host_.logLine("----->CPGenKey");
  if (!prov || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  uint32_t alg = algid == kAtKeyExchange ? kCalgRsaKeyx : algid == kAtSignature ? kCalgRsaSign : algid;
  if (!isSessionAlgorithm(alg) && algid != kAtKeyExchange && algid != kAtSignature)
    return kNteBadAlgid;
  if (flags & kGenKeyRefusedFlags) return kNteBadFlags;
  uint32_t rc4Bits = flags >> 16;
  if (alg == kCalgRc4) {
    if (rc4Bits == 0) rc4Bits = 128;
    if (rc4Bits % 8 != 0 || rc4Bits < 40 || rc4Bits > 128) return kNteBadFlags;
  }

  KeyObject *k = newKey(alg);
  if (!k) return kErrNotEnoughMemory;

  uint8_t key[24];
  if (isRsaAlgorithm(alg)) {
    if (ctx->verifyOnly) {
      rc = kNtePerm;
    } else {
      rc = withPrivateKey(ctx, Session::Standard, [&](UK_DEV_INFO *dev) {
        uintptr_t window = dialogs_.openWindow(Modeless::KeyGeneration);
        uint32_t r = tl_.genRsaKeyPair(dev, &ctx->container, algid);
        dialogs_.closeWindow(window);
        return r;
      });
      if (rc == kOk) bindPair(*k, ctx->container);
    }
  } else if (alg == kCalgRc4) {
    const size_t n = rc4Bits / 8;
    rc = randomBytes(key, n);
    if (rc == kOk) initRc4Key(*k, key, n, !(flags & kCryptNoSalt));
  } else {
    const size_t n = alg == kCalgDes ? 8 : 24;
    rc = randomBytes(key, n);
    if (alg == kCalg3Des112) memcpy(key + 16, key, 8);
    if (rc == kOk) initBlockKey(*k, key, n);
  }
  wipe(key, sizeof key);
  if (rc) {
    freeRecord(k);
    return rc;
  }
  return publish(ctx, k, out);
}

// ---- CPGetUserKey --------------------------------------------------------------------------------

uint32_t Provider::getUserKey(uintptr_t prov, uint32_t keySpec, uintptr_t *out) {
  host_.logLine("---->CPGetUserKey");
  if (!prov || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (keySpec != kAtKeyExchange && keySpec != kAtSignature) return kNteBadKey;
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  ContainerListing listing;
  {
    DeviceLock lock(*this);
    rc = openDeviceSession(dev, Session::Listing, &listing);
  }
  if (rc) return rc;
  const UK_CONTAINER_INFO *rec = nullptr;
  for (uint32_t i = 0; i < listing.count && !rec; ++i) {
    listing.records[i].name[sizeof listing.records[i].name - 1] = 0;
    if (ctx->container.name[0] && strcmp(listing.records[i].name, ctx->container.name) == 0)
      rec = &listing.records[i];
  }
  if (!rec) return kNteBadUid;
  uint32_t alg;
  if (keySpec == kAtKeyExchange) {
    if (!(rec->flags & UK_CONT_EX_KEY)) return kNteNoKey;
    alg = kCalgRsaKeyx;
  } else if (rec->flags & UK_CONT_SIG_KEY) {
    alg = kCalgRsaSign;
  } else if (rec->flags & UK_CONT_EX_KEY) {
    alg = kCalgRsaKeyx;  // a container with one pair signs with its exchange pair
  } else {
    return kNteNoKey;
  }
  KeyObject *k = newKey(alg);
  if (!k) return kErrNotEnoughMemory;
  bindPair(*k, *rec);
  return publish(ctx, k, out);
}

// ---- CPDeriveKey, CPDuplicateKey, CPDestroyKey ---------------------------------------------------

uint32_t Provider::deriveKey(uintptr_t prov, uint32_t algid, uintptr_t hash, uint32_t flags,
                             uintptr_t *out) {
  host_.logLine("----->CPDeriveKey");
  if (!prov || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (!isSessionAlgorithm(algid)) return kNteBadAlgid;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic ||
      (h->algorithm != kCalgMd5 && h->algorithm != kCalgSha1))
    return kNteBadHash;
  if (flags & kDeriveKeyRefusedFlags) return kNteBadFlags;

  KeyObject *k = newKey(algid);
  if (!k) return kErrNotEnoughMemory;
  uint8_t d[20 + 24];
  hashValue(*h, d);
  const size_t dn = h->algorithm == kCalgMd5 ? 16 : 20;
  if (algid == kCalgRc4) {
    initRc4Key(*k, d, 16, true);
  } else if (algid == kCalgDes) {
    initBlockKey(*k, d, 8);
  } else {
    memcpy(d + dn, d, 24 - dn);  // the digest, then its first bytes again up to 24
    initBlockKey(*k, d, 24);
  }
  wipe(d, sizeof d);
  return publish(ctx, k, out);
}

uint32_t Provider::duplicateKey(uintptr_t prov, uintptr_t key, const void *reserved,
                                uint32_t flags, uintptr_t *out) {
  host_.logLine("---->CPDuplicateKey");
  ProviderContext *ctx = nullptr;
  KeyObject *k = nullptr;
  uint32_t rc = keyEntry(prov, key, out != nullptr, &ctx, &k);
  if (rc) return rc;
  if (reserved || flags) return kNteBadFlags;
  if (!isKeyAlgorithm(k->algorithm)) return kNteBadKey;
  auto *copy = newRecord<KeyObject>();
  if (!copy) return kErrNotEnoughMemory;
  *copy = *k;
  return publish(ctx, copy, out);
}

uint32_t Provider::destroyKey(uintptr_t prov, uintptr_t key) {
  host_.logLine("----->CPDestroyKey");
  ProviderContext *ctx = nullptr;
  KeyObject *k = nullptr;
  uint32_t rc = keyEntry(prov, key, true, &ctx, &k);
  if (rc) return rc;
  if (!isKeyAlgorithm(k->algorithm)) return kNteBadAlgid;
  destroyObject(ctx, k);  // an RSA key object never touches the token
  return kOk;
}

// ---- CPGetKeyParam -------------------------------------------------------------------------------

uint32_t Provider::getKeyParam(uintptr_t prov, uintptr_t key, uint32_t param, uint8_t *data,
                               uint32_t *len, uint32_t flags) {
  host_.logLine("----->CPGetKeyParam");
  ProviderContext *ctx = nullptr;
  KeyObject *k = nullptr;
  uint32_t rc = keyEntry(prov, key, len != nullptr, &ctx, &k);
  if (rc) return rc;
  if ((param < kKpIv || param > kKpKeyLen) && param != kKpCertificate) return kNteBadType;
  if (flags) return kNteBadFlags;

  const bool rsa = isRsaAlgorithm(k->algorithm), block = isBlockAlgorithm(k->algorithm);
  const bool rc4 = k->algorithm == kCalgRc4;
  if (param == kKpCertificate) {
    if (!rsa) return kNteBadType;
    return readCertificate(ctx, k, data, len);
  }
  const uint32_t need = param == kKpIv ? 8 : param == kKpSalt ? saltLength(*k) : 4;
  if (!data) {
    *len = need;
    return kOk;
  }
  if (*len < 4) {
    if (need > *len) *len = need;
    return kErrMoreData;
  }

  switch (param) {
    case kKpIv:
      if (!block) return kNteBadType;
      return putBytes(k->state.block.iv, 8, data, len);
    case kKpSalt:
      if (!rc4) return kNteBadType;
      return putBytes(k->state.rc4.salt, need, data, len);
    case kKpPadding:
      if (!block) return kNteBadType;
      return putValue(k->state.block.padding, data, len);
    case kKpMode:
      if (!block) return kNteBadType;
      return putValue(k->state.block.mode, data, len);
    case kKpModeBits:
      if (!block) return kNteBadType;
      return putValue(k->state.block.modeBits, data, len);
    case kKpPermissions:
      return putValue(k->permissions, data, len);
    case kKpAlgid:
      return putValue(k->algorithm, data, len);
    case kKpBlockLen:
      return putValue(block ? 64 : rc4 ? 8 : 1024, data, len);
    default:  // KP_KEYLEN
      return putValue(rsa ? 1024 : rc4 ? k->state.rc4.keyLength * 8 : k->algorithm == kCalgDes ? 56 : 168,
                      data, len);
  }
}

uint32_t Provider::readCertificate(ProviderContext *ctx, KeyObject *k, uint8_t *data, uint32_t *len) {
  const uint32_t spec = keySpecOf(*k);
  if (!pairHasCertificate(ctx->container.flags, spec)) return kNteBadUid;
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  DeviceLock lock(*this);
  uint32_t rc = openDeviceSession(dev, Session::Standard);
  if (rc) return rc;
  if (!data) {
    // A size query: the token library reports the certificate's length with a zero capacity.
    uint8_t scratch[1];
    uint32_t n = 0;
    rc = tl_.readCert(dev, &ctx->container, scratch, &n, spec);
    if (rc == kOk || rc == kErrMoreData) {
      *len = n;
      return kOk;
    }
    return rc;
  }
  return tl_.readCert(dev, &ctx->container, data, len, spec);
}

// ---- CPSetKeyParam -------------------------------------------------------------------------------

uint32_t Provider::setKeyParam(uintptr_t prov, uintptr_t key, uint32_t param, const uint8_t *data,
                               uint32_t flags) {
  host_.logLine("----->CPSetKeyParam");
  host_.logValue(param);
  ProviderContext *ctx = nullptr;
  KeyObject *k = nullptr;
  uint32_t rc = keyEntry(prov, key, data != nullptr, &ctx, &k);
  if (rc) return rc;
  if ((param < kKpIv || param > kKpPermissions) && param != kKpSaltEx && param != kKpCertificate)
    return kNteBadType;
  if (flags) return kNteBadFlags;

  const bool block = isBlockAlgorithm(k->algorithm);
  switch (param) {
    case kKpIv:
      if (!block) return kNteBadType;
      memcpy(k->state.block.iv, data, 8);
      memcpy(k->state.block.chain, data, 8);
      return kOk;
    case kKpSalt:
    case kKpSaltEx: {
      if (k->algorithm != kCalgRc4 || !k->state.rc4.saltEnabled) return kNteBadType;
      const uint32_t n = saltLength(*k);
      if (param == kKpSalt) {
        memcpy(k->state.rc4.salt, data, n);
      } else {
        // KP_SALT_EX passes a CRYPT_DATA_BLOB: its own length says how many bytes there are.
        struct DataBlob {
          uint32_t cbData;
          const uint8_t *pbData;
        } blob;
        memcpy(&blob, data, sizeof blob);
        if (blob.cbData > n || (blob.cbData && !blob.pbData)) return kNteBadData;
        memset(k->state.rc4.salt, 0, sizeof k->state.rc4.salt);
        if (blob.cbData) memcpy(k->state.rc4.salt, blob.pbData, blob.cbData);
      }
      rekeyRc4(k->state.rc4);
      return kOk;
    }
    case kKpPadding:
      if (!block) return kNteBadType;
      if (get32(data) != kPkcs5Padding) return kNteBadData;
      return kOk;
    case kKpMode: {
      if (!block) return kNteBadType;
      uint32_t mode = get32(data);
      if (mode < kCryptModeCbc || mode > kCryptModeCfb) return kNteBadData;
      k->state.block.mode = mode;
      return kOk;
    }
    case kKpModeBits:
      if (!block) return kNteBadType;
      k->state.block.modeBits = get32(data);
      return kOk;
    case kKpPermissions: {
      uint32_t p = get32(data);
      if (p >= 64) return kNteBadData;
      k->permissions = p;
      return kOk;
    }
    default:  // KP_CERTIFICATE
      if (!isRsaAlgorithm(k->algorithm)) return kNteBadType;
      return writeCertificate(ctx, k, data);
  }
}

uint32_t Provider::writeCertificate(ProviderContext *ctx, KeyObject *k, const uint8_t *data) {
  // The caller passes no length: the certificate's own DER header gives it. Only a SEQUENCE with
  // a definite length of at most two bytes is taken, so the length can be trusted no further
  // than the header says.
  if (data[0] != 0x30) return kNteBadData;
  uint32_t body, header;
  if (data[1] < 0x80) {
    body = data[1];
    header = 2;
  } else if (data[1] == 0x81) {
    body = data[2];
    header = 3;
  } else if (data[1] == 0x82) {
    body = uint32_t(data[2]) << 8 | data[3];
    header = 4;
  } else {
    return kNteBadData;
  }
  if (body > 4096) return kNteBadData;
  const uint32_t total = body + header;
  if (total > 4096) return kErrCertTooLarge;

  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  {
    DeviceLock lock(*this);
    uint32_t rc = openDeviceSession(dev, Session::Standard);
    if (rc == kOk) rc = tl_.writeCert(dev, &ctx->container, data, total, keySpecOf(*k));
    if (rc) {
      host_.logLine("----->zksCspWriteCert(ret)");
      host_.logValue(rc);
      return rc;
    }
    // The token keeps only the container that received the certificate.
    ContainerListing listing;
    memset(&listing, 0, sizeof listing);
    listing.count = kMaxContainers;
    if (tl_.listContainers(dev, listing.records, &listing.count) == kOk) {
      if (listing.count > kMaxContainers) listing.count = kMaxContainers;
      for (uint32_t i = 0; i < listing.count; ++i) {
        UK_CONTAINER_INFO &c = listing.records[i];
        c.name[sizeof c.name - 1] = 0;
        if (strcmp(c.name, ctx->container.name) != 0 && tl_.deleteContainer(dev, &c) != kOk) break;
      }
    }
  }
  host_.signalCertificateChange();
  return kOk;
}

// ---- CPExportKey ---------------------------------------------------------------------------------

uint32_t Provider::exportKey(uintptr_t prov, uintptr_t key, uintptr_t expKey, uint32_t blobType,
                             uint32_t flags, uint8_t *data, uint32_t *len) {
  host_.logLine("---->CPExportKey");
  ProviderContext *ctx = nullptr;
  KeyObject *k = nullptr;
  uint32_t rc = keyEntry(prov, key, len != nullptr, &ctx, &k);
  if (rc) return rc;
  if (flags & ~uint32_t(0x6)) return kNteBadFlags;
  if (blobType == kPrivateKeyBlob) return kNteBadKeyState;
  if (blobType != kSimpleBlob && blobType != kPublicKeyBlob) return kNteBadType;

  if (blobType == kPublicKeyBlob) {
    if (!isRsaAlgorithm(k->algorithm)) return kNteBadKey;
    if (k->softwarePublicKey) {
      const RsaPublicState &p = k->state.pub;
      const uint32_t n = p.bits / 8 + 20;
      if (!data || *len < n) return putBytes(nullptr, n, data, len);
      buildPublicKeyBlob(k->algorithm, p.bits, p.exponent, p.modulus, false, data);
      *len = n;
      return kOk;
    }
    return exportPublicKey(ctx, k, data, len);
  }

  KeyObject *exchange = nullptr;
  if (checkHandle(expKey, &exchange) != kOk || !isRsaAlgorithm(exchange->algorithm)) return kNteBadKey;
  if (!isSessionAlgorithm(k->algorithm)) return kNteBadKey;
  return exportSimpleBlob(ctx, k, exchange, data, len);
}

uint32_t Provider::exportPublicKey(ProviderContext *ctx, KeyObject *k, uint8_t *data, uint32_t *len) {
  const uint32_t n = kTokenPublicKeyBlobSize;
  if (!data || *len < n) return putBytes(nullptr, n, data, len);
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  // Room for the larger record: the library writes a 2048-bit record for a 2048-bit pair.
  UK_RSA_PUBLIC_KEY_2048 record;
  memset(&record, 0, sizeof record);
  uint32_t rc;
  {
    DeviceLock lock(*this);
    rc = openDeviceSession(dev, Session::Standard);
    if (rc == kOk) rc = tl_.readRsaPubKey(dev, &ctx->container, &record, keySpecOf(*k));
  }
  if (rc) return rc;
  const UK_RSA_PUBLIC_KEY &pub = *reinterpret_cast<const UK_RSA_PUBLIC_KEY *>(&record);
  if (pub.bits != 1024) return kNteBadKey;  // a 148-byte blob holds a 1024-bit key only
  // The exponent as the token holds it (right-aligned, big-endian), not an assumed 65537.
  for (size_t i = 0; i < sizeof pub.exponent - 4; ++i)
    if (pub.exponent[i]) return kNteBadKey;
  const uint8_t *e = pub.exponent + sizeof pub.exponent - 4;
  const uint32_t exponent = uint32_t(e[0]) << 24 | uint32_t(e[1]) << 16 | uint32_t(e[2]) << 8 | e[3];
  if (!exponent) return kNteBadKey;
  buildPublicKeyBlob(k->algorithm, 1024, exponent, pub.modulus,
                     dev->modelCode == kModelUnreversedModulus, data);
  *len = n;
  return kOk;
}

uint32_t Provider::exportSimpleBlob(ProviderContext *ctx, KeyObject *k, KeyObject *exchange,
                                    uint8_t *data, uint32_t *len) {
  uint8_t plain[24];
  const size_t plainLen = sessionKeyBytes(*k, plain);
  uint8_t block[256];
  uint32_t rc;
  if (exchange->softwarePublicKey) {
    const RsaPublicState &p = exchange->state.pub;
    const uint32_t modulusBytes = (p.bits + 7) / 8;
    const uint32_t n = modulusBytes + kSimpleBlobPrefix;
    if (!data || *len < n) {
      wipe(plain, sizeof plain);
      return putBytes(nullptr, n, data, len);
    }
    uint8_t e[4] = {uint8_t(p.exponent >> 24), uint8_t(p.exponent >> 16), uint8_t(p.exponent >> 8),
                    uint8_t(p.exponent)};
    ukcrypto::RsaPublicKey pub;
    rc = ukcrypto::rsaKeySet(pub, p.modulus, p.bits / 8, e, sizeof e) == ukcrypto::kOk &&
                 ukcrypto::rsaEncryptPkcs1Type2(pub, plain, plainLen, block, sizeof block) ==
                     ukcrypto::kOk
             ? kOk
             : kNteBadKey;
    wipe(plain, sizeof plain);
    if (rc) return rc;
    buildSimpleBlob(k->algorithm, exchange->algorithm, block, pub.modulusBytes, data);
    *len = pub.modulusBytes + kSimpleBlobPrefix;
    return kOk;
  }

  const uint32_t n = kTokenSimpleBlobSize;
  if (!data || *len < n) {
    wipe(plain, sizeof plain);
    return putBytes(nullptr, n, data, len);
  }
  UK_DEV_INFO *dev = deviceOf(ctx);
  uint32_t outLen = sizeof block;
  if (!dev) {
    rc = kScardENoReadersAvailable;
  } else {
    DeviceLock lock(*this);
    rc = openDeviceSession(dev, Session::Standard);
    if (rc == kOk)
      rc = tl_.rsaPubEncrypt(dev, &ctx->container, plain, uint32_t(plainLen), block, &outLen,
                             keySpecOf(*exchange));
  }
  wipe(plain, sizeof plain);
  if (rc) return rc;
  if (outLen != 128) return kNteBadKey;
  buildSimpleBlob(k->algorithm, exchange->algorithm, block, 128, data);
  *len = n;
  return kOk;
}

// ---- CPImportKey ---------------------------------------------------------------------------------

uint32_t Provider::importKey(uintptr_t prov, const uint8_t *data, uint32_t len, uintptr_t impKey,
                             uint32_t flags, uintptr_t *out) {
  host_.logLine("---->CPImportKey");
  if (!prov || !data || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (flags & kImportRefusedFlags) return kNteBadFlags;
  if (len <= 11) return kNteBadData;
  const uint8_t type = data[0];
  if (type != kSimpleBlob && type != kPublicKeyBlob && type != kPrivateKeyBlob) return kNteBadType;

  KeyObject *k = newKey(0);  // the blob decides the algorithm
  if (!k) return kErrNotEnoughMemory;
  if (type == kSimpleBlob) {
    rc = importSimpleBlob(ctx, data, len, impKey, flags, k);
  } else if (type == kPublicKeyBlob) {
    rc = parsePublicKeyBlob(data, len, &k->state.pub, &k->algorithm);
    k->softwarePublicKey = 1;
  } else {
    rc = importPrivateKey(ctx, data, len, k);
  }
  if (rc) {
    freeRecord(k);
    return rc;
  }
  return publish(ctx, k, out);
}

uint32_t Provider::importSimpleBlob(ProviderContext *ctx, const uint8_t *data, uint32_t len,
                                    uintptr_t impKey, uint32_t flags, KeyObject *k) {
  if (ctx->verifyOnly) return kNtePerm;
  if (!impKey) return kErrInvalidParameter;
  KeyObject *imp = nullptr;
  if (checkHandle(impKey, &imp) != kOk || !isRsaAlgorithm(imp->algorithm)) return kNteBadKey;
  uint32_t session = 0;
  uint8_t encrypted[128];
  uint32_t rc = parseSimpleBlob(data, len, imp->algorithm, imp->softwarePublicKey != 0, &session,
                                encrypted);
  if (rc) return rc;

  uint8_t plain[260];
  uint32_t plainLen = sizeof plain;
  const uint32_t spec = keySpecOf(*imp);
  rc = withPrivateKey(ctx, Session::Standard, [&](UK_DEV_INFO *dev) {
    return tl_.rsaPriDecrypt(dev, &ctx->container, encrypted, 128, plain, &plainLen, spec);
  });
  if (rc == kOk) {
    if (session == kCalgDes && plainLen == 8) {
      k->algorithm = kCalgDes;
      initBlockKey(*k, plain, 8);
    } else if ((session == kCalg3Des || session == kCalg3Des112) && plainLen == 24) {
      k->algorithm = kCalg3Des;
      initBlockKey(*k, plain, 24);
    } else if (session == kCalgRc4 && plainLen >= 5 && plainLen <= 16) {
      k->algorithm = kCalgRc4;
      initRc4Key(*k, plain, plainLen, !(flags & kCryptNoSalt));
    } else {
      rc = kNteBadData;
    }
  }
  wipe(plain, sizeof plain);
  return rc;
}

uint32_t Provider::importPrivateKey(ProviderContext *ctx, const uint8_t *data, uint32_t len,
                                    KeyObject *k) {
  if (ctx->verifyOnly) return kNtePerm;
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  uint32_t rc = parsePrivateKeyBlob(data, len, &pub, &pri, &k->algorithm);
  if (rc == kOk) {
    const uint32_t spec = keySpecOf(*k);
    rc = withPrivateKey(ctx, Session::Plain, [&](UK_DEV_INFO *dev) {
      return tl_.writeRsaKeyPair(dev, &ctx->container, &pub, &pri, spec);
    });
    if (rc == kOk) bindPair(*k, ctx->container);
  }
  wipe(&pri, sizeof pri);
  return rc;
}

}  // namespace csp
