// CPEncrypt, CPDecrypt and CPGenRandom: the session keys of the provider run in software (DES,
// Triple-DES in four modes with PKCS #5 padding, RC4), optionally feeding a hash object, and the
// provider's random generator.
//
// Chaining: a call without final continues where the previous one stopped (the key keeps the
// feedback register of its mode: the last ciphertext block for CBC and 64-bit CFB, the shift
// register of OFB and of 1- and 8-bit CFB), so that a message encrypted in pieces equals the same
// message encrypted at once; a final call pads (or unpads), then returns the key to its IV (RC4:
// re-keys it) for the next message.
//
// Mode and mode bits that the ciphers do not support (OFB and CFB need KP_MODE_BITS: DES 1 or 8
// for OFB, 1, 8 or 64 for CFB; Triple-DES 64 for both) fail with NTE_BAD_KEY_STATE before
// anything changes: the data, its length, the key's chaining value and the hash stay as they were.
#include <string.h>

#include "provider.h"
#include "ukcrypto/des.h"
#include "ukcrypto/random.h"

namespace csp {

namespace {

constexpr uint32_t kBlock = 8;

size_t blockKeyLength(const KeyObject &k) { return k.algorithm == kCalgDes ? 8 : 24; }

// Feeds the hash object, and with final fixes its value (the digest itself is not needed).
void feedHash(HashObject *h, const uint8_t *data, size_t n, bool final) {
  if (!h) return;
  if (n) {
    if (h->algorithm == kCalgMd5) ukcrypto::md5Update(h->state.md5, data, n);
    else ukcrypto::sha1Update(h->state.sha1, data, n);
  }
  if (final) {
    uint8_t scratch[20];
    hashValue(*h, scratch);
    wipe(scratch, sizeof scratch);
  }
}

// Runs the key's mode over whole blocks in place, advancing the chaining value.
void runBlocks(KeyObject &k, bool decrypting, uint8_t *data, size_t n) {
  BlockCipherState &b = k.state.block;
  if (decrypting) ukcrypto::modeDecrypt(b.schedule, b.mode, b.modeBits, b.chain, data, n, data);
  else ukcrypto::modeEncrypt(b.schedule, b.mode, b.modeBits, b.chain, data, n, data);
}

}  // namespace

uint32_t Provider::cryptEntry(uintptr_t prov, uintptr_t key, uintptr_t hash, bool decrypting,
                              uint32_t flags, const uint8_t *data, const uint32_t *len,
                              KeyObject **k, HashObject **h) {
  if (!prov || !key || !data || !len) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (checkHandle(key, k) != kOk || !isSessionAlgorithm((*k)->algorithm)) return kNteBadKey;
  *h = nullptr;
  if (hash) {
    if (checkHandle(hash, h) != kOk || (*h)->magic != kHashMagic ||
        ((*h)->algorithm != kCalgMd5 && (*h)->algorithm != kCalgSha1))
      return kNteBadHash;
    if ((*h)->valueFixed) return decrypting ? kNteBadHash : kNteBadHashState;
  }
  if (flags) return kNteBadFlags;
  if ((*k)->algorithm != kCalgRc4) {
    const BlockCipherState &b = (*k)->state.block;
    if (!ukcrypto::blockModeSupported(blockKeyLength(**k), b.mode, b.modeBits)) return kNteBadKeyState;
  }
  return kOk;
}

// ---- CPEncrypt -----------------------------------------------------------------------------------

uint32_t Provider::encrypt(uintptr_t prov, uintptr_t key, uintptr_t hash, bool final,
                           uint32_t flags, uint8_t *data, uint32_t *len, uint32_t bufLen) {
  host_.logLine("---->CPEncrypt");
  KeyObject *k = nullptr;
  HashObject *h = nullptr;
  uint32_t rc = cryptEntry(prov, key, hash, false, flags, data, len, &k, &h);
  if (rc) return rc;
  const uint32_t n = *len;
  if (n == 0 && !final) return kOk;

  if (k->algorithm == kCalgRc4) {
    if (n > bufLen) return kErrMoreData;
    feedHash(h, data, n, final);
    ukcrypto::rc4Crypt(k->state.rc4.rc4, data, n);
    if (final) rekeyRc4(k->state.rc4);
    return kOk;
  }

  // A final block always carries its padding, also when it brings no data: an empty final call
  // after whole blocks ends the message as the receiver's final decryption expects.
  if (!final && n % kBlock) return kNteBadData;
  const size_t total = final ? ukcrypto::pkcs5PaddedLength(n) : n;
  if (total > bufLen || total > 0xFFFFFFFFu) {
    *len = uint32_t(total);
    return kErrMoreData;
  }
  feedHash(h, data, n, final);
  size_t padded = n;
  if (final) ukcrypto::pkcs5Pad(data, n, bufLen, &padded);
  runBlocks(*k, false, data, padded);
  BlockCipherState &b = k->state.block;
  if (final) memcpy(b.chain, b.iv, sizeof b.chain);
  *len = uint32_t(padded);
  return kOk;
}

// ---- CPDecrypt -----------------------------------------------------------------------------------

uint32_t Provider::decrypt(uintptr_t prov, uintptr_t key, uintptr_t hash, bool final,
                           uint32_t flags, uint8_t *data, uint32_t *len) {
  host_.logLine("---->CPDecrypt");
  KeyObject *k = nullptr;
  HashObject *h = nullptr;
  uint32_t rc = cryptEntry(prov, key, hash, true, flags, data, len, &k, &h);
  if (rc) return rc;
  uint32_t n = *len;
  if (n == 0 && !final) return kOk;

  if (k->algorithm == kCalgRc4) {
    ukcrypto::rc4Crypt(k->state.rc4.rc4, data, n);
    if (final) rekeyRc4(k->state.rc4);
    feedHash(h, data, n, final);
    return kOk;
  }

  if (n % kBlock) {
    // Ciphertext of a block cipher is whole blocks; a final call with a torn last block gets
    // the same answer as any other call instead of a silently shortened message.
    return kNteBadData;
  }
  runBlocks(*k, true, data, n);
  BlockCipherState &b = k->state.block;
  if (!final) {
    feedHash(h, data, n, false);
    return kOk;
  }
  memcpy(b.chain, b.iv, sizeof b.chain);
  size_t plain = n;
  if (ukcrypto::pkcs5Unpad(data, n, &plain) != ukcrypto::kOk) {
    // A pad that is not what encryption writes: wrong key or damaged data.
    return kNteBadData;
  }
  feedHash(h, data, plain, true);
  *len = uint32_t(plain);
  return kOk;
}

// ---- CPGenRandom ---------------------------------------------------------------------------------

uint32_t Provider::genRandom(uintptr_t prov, uint32_t len, uint8_t *out) {
  host_.logLine("---->CPGenRandom");
  if (!prov || !out) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (len == 0) return kOk;
  return ukcrypto::randomTimeSeeded(out, len) == ukcrypto::kOk ? kOk : kNteFail;
}

}  // namespace csp
