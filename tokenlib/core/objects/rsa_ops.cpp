// RSA operations with a container's key files. The token performs the raw modular operation; the
// PKCS #1 v1.5 block formatting is added and removed here.
#include <string.h>

#include "containers.h"
#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

namespace {

constexpr uint32_t kMaxBlock = 256;
constexpr uint8_t kAlgRsa = 0x11, kAlgRsaButton = 0x13;

bool isExchange(uint32_t keySpec) { return keySpec == UK_KEYSPEC_EXCHANGE; }
const uint8_t *pubFidOf(const UK_CONTAINER_INFO *ci, uint32_t ks) {
  return isExchange(ks) ? ci->exPubFid : ci->sigPubFid;
}
const uint8_t *priFidOf(const UK_CONTAINER_INFO *ci, uint32_t ks) {
  return isExchange(ks) ? ci->exPriFid : ci->sigPriFid;
}

// Copies an answer to the caller's buffer when it fits; *outLen: capacity in, length out.
uint32_t deliver(const uint8_t *data, uint32_t len, uint8_t *out, uint32_t *outLen) {
  const uint32_t capacity = *outLen;
  *outLen = len;
  if (capacity < len) {
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  memcpy(out, data, len);
  return UKLR_OK;
}

// One way of recovering a block with a pair's key: the crypto environment (p1, p2 and key file),
// the token command, and the block type the recovered block must carry.
struct Decryption {
  uint8_t envP1, envP2;
  const uint8_t *fid;
  uint32_t (*command)(UK_USB_DEV_CTX *, const uint8_t *, uint32_t, uint8_t *, uint32_t *);
  uint8_t blockType;
};

uint32_t decrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const Decryption &d,
                 const uint8_t *in, uint32_t inLen, uint8_t *out, uint32_t *outLen,
                 uint32_t keySpec, const char **step) {
  const uint32_t k = pairKeyBytes(ci, keySpec);
  if (k == 0) return UKLR_PARAM_VALUE;
  uint32_t rc = setCryptoEnv(c, d.envP1, d.envP2, kAlgRsa, d.fid);
  if (rc) {
    *step = "uk_SetCrytoEnv";
    return rc;
  }
  uint8_t work[kMaxBlock];
  uint32_t len = k;
  if ((rc = d.command(c, in, inLen, work, &len)) != 0) {
    *step = "uk_Decrypt";
    return rc;
  }
  uint32_t pos, dataLen;
  if ((rc = pkcs1Unpad(d.blockType, work, len, &pos, &dataLen)) != 0) return rc;
  return deliver(work + pos, dataLen, out, outLen);
}

}  // namespace

bool pkcs1Pad(uint8_t type, const uint8_t *in, uint32_t len, uint8_t *block, uint32_t k) {
  if (k < len + 11) return false;
  block[0] = 0x00;
  block[1] = type;
  memset(block + 2, 0xFF, k - len - 3);
  block[k - len - 1] = 0x00;
  memcpy(block + k - len, in, len);
  return true;
}

uint32_t pkcs1Unpad(uint8_t type, const uint8_t *block, uint32_t len, uint32_t *dataPos,
                    uint32_t *dataLen) {
  if (len < 11 || block[0] != 0x00 || block[1] != type) return UKLR_PADDING;
  uint32_t i = 2;
  if (type == 1) {
    while (i < len && block[i] == 0xFF) ++i;
    if (i >= len || block[i] != 0x00) return UKLR_PADDING;
  } else {
    while (i <= len - 2 && block[i] != 0x00) ++i;
    if (i > len - 2) return UKLR_PADDING;
  }
  if (i < 10) return UKLR_PADDING;  // fewer than 8 padding bytes
  *dataPos = i + 1;
  *dataLen = len - i - 1;
  return UKLR_OK;
}

uint32_t rsaPubEncrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step) {
  const uint32_t k = pairKeyBytes(ci, keySpec);
  uint8_t block[kMaxBlock];
  if (!pkcs1Pad(2, in, inLen, block, k)) return 0x80006700u;
  uint32_t rc = setCryptoEnv(c, 0x81, 0xB8, kAlgRsa, pubFidOf(ci, keySpec));
  if (rc) {
    *step = "uk_SetCrytoEnv";
    return rc;
  }
  uint8_t answer[kMaxBlock + 16];
  uint32_t len = sizeof answer;
  if ((rc = encipher(c, block, k, answer, &len)) != 0) {
    *step = "uk_Encrypt";
    return rc;
  }
  return deliver(answer, len, out, outLen);
}

uint32_t rsaPriEncrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       bool confirm, const char **step) {
  const uint32_t k = pairKeyBytes(ci, keySpec);
  uint8_t block[kMaxBlock];
  if (!pkcs1Pad(1, in, inLen, block, k)) return UKLR_DATA_LENGTH;
  uint32_t rc = setCryptoEnv(c, 0x41, 0xB6, confirm ? kAlgRsaButton : kAlgRsa,
                             priFidOf(ci, keySpec));
  if (rc) {
    *step = "uk_SetCrytoEnv";
    return rc;
  }
  uint8_t answer[kMaxBlock + 16];
  uint32_t len = sizeof answer;
  if ((rc = sign(c, block, k, answer, &len)) != 0) {
    *step = "uk_Sign";
    return rc;
  }
  if (len == 0) {
    // The token waits for its button; zksTokenRsaPriEncryptFinal fetches the signature.
    c->pendingSigLen = k;
    return UKLR_SIGN_PENDING;
  }
  return deliver(answer, len, out, outLen);
}

uint32_t rsaPriEncryptFinal(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t *outLen) {
  uint8_t answer[kMaxBlock + 16];
  uint32_t len = sizeof answer;
  const uint32_t pending = c->pendingSigLen;  // packed record: read the field by value
  const uint32_t want = pending <= kMaxBlock ? pending : kMaxBlock;
  uint32_t rc = fetchSignature(c, want, answer, &len);
  if (rc == 0x80006785u) return UKLR_SIGN_PENDING;
  if (rc) return rc;
  return deliver(answer, len, out, outLen);
}

uint32_t rsaPriEncryptCancel(UK_USB_DEV_CTX *c, const char **step) {
  uint32_t rc = cancelSignature(c);
  if (rc) *step = "uk_SignCancel";
  return rc;
}

uint32_t rsaPubDecrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step) {
  const Decryption d = {0x81, 0xB6, pubFidOf(ci, keySpec), publicDecipher, 1};
  return decrypt(c, ci, d, in, inLen, out, outLen, keySpec, step);
}

uint32_t rsaPriDecrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step) {
  const Decryption d = {0x41, 0xB8, priFidOf(ci, keySpec), decipher, 2};
  return decrypt(c, ci, d, in, inLen, out, outLen, keySpec, step);
}

}  // namespace uk
