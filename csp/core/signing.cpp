// CPSignHash and CPVerifySignature: the DigestInfo of a hash object, the signature-confirmation
// policy of the context, and signing on the three token families (button, plain, display).
#include <string.h>

#include "provider.h"
#include "ukcrypto/rsa.h"

namespace csp {

namespace {

constexpr uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t kMd5Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                  0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr uint32_t kCryptNoHashOid = 1;
constexpr uint32_t kSignatureBytes = 128;
constexpr uint32_t kPollMilliseconds = 100;

// Modes of zksTokenRsaPriEncrypt: sign at once, or let the user confirm on the token (a captured
// message to be hashed with MD5 asks with 2).
constexpr uint32_t kSignAtOnce = 0;
constexpr uint32_t kSignConfirmed = 1;
constexpr uint32_t kSignConfirmedMd5Message = 2;

// Tokens whose MD5 and SHA-1 signatures the user confirms.
bool confirmsDigests(uint8_t model) { return isButtonToken(model) || isPlainToken(model); }

// What is signed for a hash object: a captured message as stored, the 36 bytes of an SSL3
// SHAMD5 value, or the DigestInfo (the prefix left out with CRYPT_NOHASHOID) of an MD5 or SHA-1
// digest, finalising the hash. out holds at least 257 bytes; returns the length.
uint32_t signedBytes(HashObject &h, bool withOid, uint8_t *out) {
  if (h.magic == kMessageMagic) {
    memcpy(out, h.state.message.bytes, h.state.message.length);
    return h.state.message.length;
  }
  if (h.algorithm == kCalgSsl3Shamd5) {
    memcpy(out, h.state.shamd5, 36);
    return 36;
  }
  const bool md5 = h.algorithm == kCalgMd5;
  uint32_t n = 0;
  if (withOid) {
    n = md5 ? sizeof kMd5Prefix : sizeof kSha1Prefix;
    memcpy(out, md5 ? kMd5Prefix : kSha1Prefix, n);
  }
  hashValue(h, out + n);
  return n + (md5 ? 16 : 20);
}

void reverseInto(uint8_t *dst, const uint8_t *src, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
}

}  // namespace

// ---- CPSignHash ----------------------------------------------------------------------------------

uint32_t Provider::signHash(uintptr_t prov, uintptr_t hash, uint32_t keySpec, uint32_t flags,
                            uint8_t *sig, uint32_t *len) {
  host_.logLine("---->CPSignHash");
  if (!prov || !hash || !len) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk) {
    host_.logLine("---->NTE_BAD_HASH");
    return kNteBadHash;
  }
  if (!isHashAlgorithm(h->algorithm)) {
    host_.logLine("---->NTE_BAD_HASH AK algid ");
    host_.logValue(h->algorithm);
    return kNteBadHash;
  }
  if (keySpec != kAtKeyExchange && keySpec != kAtSignature) {
    host_.logLine("---->NTE_BAD_TYPE ");
    return kNteBadType;
  }
  if ((flags & 0xFFFF) > kCryptNoHashOid) {
    host_.logLine("---->NTE_BAD_FLAGS ");
    return kNteBadFlags;
  }
  if (!sig) {
    *len = kSignatureBytes;
    return kOk;
  }
  if (*len < kSignatureBytes) {
    host_.logLine("---->ERROR_MORE_DATA ");
    *len = kSignatureBytes;
    return kErrMoreData;
  }

  // The context's confirmation policy decides whether this signature waits for the user. The
  // first signature after a policy was set keeps its mode; later ones count the policy down.
  bool forced = false;
  if (h->algorithm != kCalgSsl3Shamd5) {
    if (ctx->confirmFirstArmed && ctx->confirmCountdown) {
      forced = true;
      ctx->confirmFirstArmed = 0;
    } else if (!ctx->noConfirmAfterFirst && ctx->confirmCountdown) {
      --ctx->confirmCountdown;
    }
  }

  // The key pair: the signature pair, or the exchange pair of a container that has only that.
  const uint8_t keyFlags = ctx->container.flags;
  if (keySpec == kAtKeyExchange && !(keyFlags & UK_CONT_EX_KEY)) {
    host_.logLine("---->NTE_NO_KEY(AT_KEYEXCHANGE) ");
    return kNteNoKey;
  }
  if (keySpec == kAtSignature && !(keyFlags & UK_CONT_SIG_KEY)) {
    if (!(keyFlags & UK_CONT_EX_KEY)) {
      host_.logLine("---->NTE_NO_KEY(AT_SIGN) ");
      return kNteNoKey;
    }
    keySpec = kAtKeyExchange;
  }

  UK_DEV_INFO *dev = deviceOf(ctx);
  uint8_t data[kMaxMessage];
  const uint32_t dataLen = signedBytes(*h, !(flags & kCryptNoHashOid), data);
  uint32_t mode = kSignAtOnce;
  if (h->magic == kMessageMagic) {
    mode = h->algorithm == kCalgMd5 ? kSignConfirmedMd5Message : kSignConfirmed;
  } else if (h->algorithm != kCalgSsl3Shamd5 && dev && confirmsDigests(dev->modelCode)) {
    mode = kSignConfirmed;
  }
  if (!forced && ctx->confirmCountdown != 0) mode = kSignAtOnce;

  uint8_t out[kSignatureBytes];
  uint32_t outLen = sizeof out;
  if (!dev) {
    rc = kScardENoReadersAvailable;
  } else {
    const Signature s = {&ctx->container, data, dataLen, keySpec, mode, out, &outLen};
    DeviceLock lock(*this);
    if (isButtonToken(dev->modelCode)) rc = signOnButtonToken(dev, s);
    else if (isPlainToken(dev->modelCode)) rc = signOnPlainToken(dev, s);
    else rc = signOnDisplayToken(dev, s);
  }
  wipe(data, sizeof data);
  if (rc == kOk && (outLen == 0 || outLen > sizeof out)) rc = kNteBadSignature;
  if (rc) {
    host_.logLine("---->zksCspRSASign(ret) ");
    host_.logValue(rc);
    return rc;
  }
  reverseInto(sig, out, outLen);
  *len = outLen;
  return kOk;
}

// A signature right after one of this process on the same connection needs only the key
// selection and the signature command: the card still has the application folder selected and
// the user PIN verified, and opening a new session (connect, folders, the cached PIN again)
// would cost more than the signature itself. That is tried only while the PIN is cached, so a
// forgotten or refused PIN is always asked for again. Another program may have used the token in
// between (the device mutex is held around each sequence, not from one signature to the next);
// whatever it changed makes the card refuse the key selection or the signature: another folder
// selected, the PIN logged out or blocked, the token pulled. A refusal spends no PIN try, and the
// signature is then made on a new session exactly as the first one was.
uint32_t Provider::startSignature(UK_DEV_INFO *dev, const Signature &s) {
  auto *container = const_cast<UK_CONTAINER_INFO *>(s.container);
  if (readyToSign(dev)) {
    *s.outLen = kSignatureBytes;
    uint32_t rc = tl_.rsaPriEncrypt(dev, container, s.data, s.length, s.out, s.outLen, s.keySpec,
                                    s.mode);
    if (rc == kOk || rc == kTokWaitingForButton) return rc;
    markReadyToSign(dev->connection, false);
  }
  uint32_t rc = openDeviceSession(dev, Session::Standard);
  if (rc == kOk) rc = verifyUserPinCached(dev);
  if (rc) return rc;
  *s.outLen = kSignatureBytes;
  return tl_.rsaPriEncrypt(dev, container, s.data, s.length, s.out, s.outLen, s.keySpec, s.mode);
}

bool Provider::readyToSign(const UK_DEV_INFO *dev) const {
  if (!dev->connection || dev->callerWord != 1) return false;  // no session, or no cached PIN
  for (const UK_USB_DEV_CTX *c : devices_.readyToSign)
    if (c == dev->connection) return true;
  return false;
}

void Provider::markReadyToSign(const UK_USB_DEV_CTX *connection, bool ready) {
  if (!connection) return;
  UK_USB_DEV_CTX **free = nullptr;
  for (UK_USB_DEV_CTX *&c : devices_.readyToSign) {
    if (c == connection) c = nullptr;
    if (!c && !free) free = &c;
  }
  if (ready && free) *free = const_cast<UK_USB_DEV_CTX *>(connection);
}

uint32_t Provider::signOnButtonToken(UK_DEV_INFO *dev, const Signature &s) {
  uint32_t rc = startSignature(dev, s);
  if (rc == kTokWaitingForButton) rc = waitForButton(dev, s.out, s.outLen);
  markReadyToSign(dev->connection, rc == kOk);
  return rc;
}

uint32_t Provider::signOnPlainToken(UK_DEV_INFO *dev, const Signature &s) {
  uint32_t rc = startSignature(dev, s);
  markReadyToSign(dev->connection, rc == kOk);
  return rc;
}

uint32_t Provider::signOnDisplayToken(UK_DEV_INFO *dev, const Signature &s) {
  uint32_t rc = openDeviceSession(dev, Session::Standard);
  if (rc) return rc;
  if (s.mode) dev->callerWord = 0;  // the PIN cache's valid flag
  if ((rc = verifyUserPinCached(dev)) != kOk) return rc;
  // The token shows the transaction; the user may cancel it there and then try again.
  do {
    uintptr_t window = s.mode ? dialogs_.openWindow(Modeless::ConfirmOnDevice) : 0;
    *s.outLen = kSignatureBytes;
    rc = tl_.rsaPriEncrypt(dev, const_cast<UK_CONTAINER_INFO *>(s.container), s.data, s.length,
                           s.out, s.outLen, s.keySpec, s.mode);
    if (window) dialogs_.closeWindow(window);
  } while (rc == kScardWCancelledByUser && dialogs_.confirmCancel() == 1);
  if (rc == kTokWaitingForButton) {
    // The token takes the PIN on its own keypad.
    uintptr_t window = dialogs_.openWindow(Modeless::PinOnDevice);
    *s.outLen = kSignatureBytes;
    rc = tl_.rsaPriEncryptFinal(dev, s.out, s.outLen, 0);
    if (window) dialogs_.closeWindow(window);
    if (rc == kOk) tl_.reconnect(dev, 1);
  }
  if (rc == kOk) tl_.resetUserPinVerifyFlag(dev);
  return rc;
}

// The confirmation window runs on a thread of its own; this thread polls the token every 100 ms
// until the signature arrives, the token ends the wait, or the user cancels in the window.
uint32_t Provider::waitForButton(UK_DEV_INFO *dev, uint8_t *out, uint32_t *outLen) {
  signing_.device = dev;
  signing_.out = out;
  signing_.outLen = outLen;
  signing_.cancel = 0;
  signing_.window = dialogs_.openConfirmation(&signing_.cancel);
  uint32_t rc = kNteBadSignature;
  if (!signing_.window) {
    // Without the window the user could neither see what to do nor cancel: the waiting
    // signature is cancelled on the token rather than left to a button press nobody asked for.
    tl_.rsaPriEncryptCancel(dev);
  } else if (!host_.runThread(&Provider::pollForButton, this, &rc)) {
    tl_.rsaPriEncryptCancel(dev);
    dialogs_.closeConfirmation(signing_.window, kNteBadSignature);
    rc = kNteBadSignature;
  }
  signing_.device = nullptr;
  signing_.out = nullptr;
  signing_.outLen = nullptr;
  signing_.window = 0;
  return rc;
}

uint32_t Provider::pollForButton(void *self) {
  Provider &p = *static_cast<Provider *>(self);
  ButtonWait &w = p.signing_;
  uint32_t rc;
  for (;;) {
    if (w.cancel.load()) {
      p.tl_.rsaPriEncryptCancel(w.device);
      rc = kScardWCancelledByUser;
      break;
    }
    *w.outLen = kSignatureBytes;
    rc = p.tl_.rsaPriEncryptFinal(w.device, w.out, w.outLen, 0);
    if (rc != kTokWaitingForButton) break;
    p.host_.pause(kPollMilliseconds);
  }
  p.dialogs_.closeConfirmation(w.window, rc);
  return rc;
}

// ---- CPVerifySignature ---------------------------------------------------------------------------

uint32_t Provider::verifySignature(uintptr_t prov, uintptr_t hash, const uint8_t *sig,
                                   uint32_t len, uintptr_t key, uint32_t flags) {
  host_.logLine("---->CPVerifySignature");
  if (!prov || !hash || !sig || !key) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  HashObject *h = nullptr;
  if (checkHandle(hash, &h) != kOk || h->magic != kHashMagic || !isHashAlgorithm(h->algorithm))
    return kNteBadHash;
  KeyObject *k = nullptr;
  if (checkHandle(key, &k) != kOk || !isRsaAlgorithm(k->algorithm)) return kNteBadKey;
  if (flags > kCryptNoHashOid) return kNteBadFlags;
  if (len != kSignatureBytes) return kNteBadSignature;

  uint8_t big[kSignatureBytes];
  reverseInto(big, sig, len);
  uint8_t recovered[kSignatureBytes];
  uint32_t recoveredLen = sizeof recovered;
  if (k->softwarePublicKey) {
    const RsaPublicState &p = k->state.pub;
    const uint8_t e[4] = {uint8_t(p.exponent >> 24), uint8_t(p.exponent >> 16),
                          uint8_t(p.exponent >> 8), uint8_t(p.exponent)};
    ukcrypto::RsaPublicKey pub;
    size_t n = 0;
    rc = ukcrypto::rsaKeySet(pub, p.modulus, (p.bits + 7) / 8, e, sizeof e) == ukcrypto::kOk &&
                 ukcrypto::rsaVerifyPkcs1Type1(pub, big, len, recovered, sizeof recovered, &n) ==
                     ukcrypto::kOk
             ? kOk
             : kNteBadSignature;
    recoveredLen = uint32_t(n);
  } else {
    UK_DEV_INFO *dev = deviceOf(ctx);
    if (!dev) return kNteBadSignature;
    DeviceLock lock(*this);
    rc = openDeviceSession(dev, Session::Standard);
    if (rc == kOk)
      rc = tl_.rsaPubDecrypt(dev, &ctx->container, big, len, recovered, &recoveredLen, keySpecOf(*k));
  }
  if (rc) return kNteBadSignature;

  uint8_t expected[kMaxMessage];
  const uint32_t expectedLen = signedBytes(*h, !(flags & kCryptNoHashOid), expected);
  return recoveredLen == expectedLen && memcmp(recovered, expected, expectedLen) == 0
             ? kOk
             : kNteBadSignature;
}

}  // namespace csp
