// Card command layer, part two: PINs and keys of the key file, random numbers, device
// information and label, key components, key generation, the crypto environment and the
// perform-security-operation commands.
#include <string.h>

#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

using cmd::Answer;
using cmd::Apdu;
using cmd::exchange;

namespace {
bool isPinRef(uint8_t ref) { return ref == PIN_USER || ref == PIN_SO; }
bool isKeyRef(uint8_t ref) { return ref == KEY_EXT_AUTH1 || ref == KEY_EXT_AUTH2; }

uint32_t invalidType() {
  log("---->UKLR_INVALID_TYPE \n");
  return UKLR_INVALID_TYPE;
}
}  // namespace

uint32_t verifyPin(UK_USB_DEV_CTX *c, uint8_t ref, const uint8_t *pin, uint32_t len) {
  if (!isPinRef(ref)) return invalidType();
  if (!pin || len == 0 || len > kMaxPin) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0x20, 0x00, ref);
  ap.shortData(pin, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t changePin(UK_USB_DEV_CTX *c, uint8_t ref, const uint8_t *oldPin, uint32_t oldLen,
                   const uint8_t *newPin, uint32_t newLen) {
  if (!isPinRef(ref) && !isKeyRef(ref)) return invalidType();
  if (!newPin || newLen == 0 || newLen > kMaxPin) return UKLR_PARAM_VALUE;
  uint8_t data[2 + 2 * kMaxPin];
  uint32_t n = 0;
  if (isPinRef(ref)) {
    if ((!oldPin && oldLen) || oldLen > kMaxPin) return UKLR_PARAM_VALUE;
    data[n++] = uint8_t(oldLen);
    if (oldLen) memcpy(data + n, oldPin, oldLen);
    n += oldLen;
    data[n++] = uint8_t(newLen);
  }
  memcpy(data + n, newPin, newLen);
  n += newLen;
  Apdu ap(0x00, 0x24, 0x00, ref);
  ap.shortData(data, n);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t installPin(UK_USB_DEV_CTX *c, const PinInstall &e, const uint8_t *value, uint32_t len) {
  if (!isPinRef(e.ref) && !isKeyRef(e.ref)) return invalidType();
  if (!value || len < 4 || len > kMaxPin) return UKLR_PARAM_VALUE;
  uint8_t data[8 + kMaxPin];
  data[0] = e.access1;
  data[1] = e.access2;
  data[2] = e.retries;
  data[3] = e.algClass;
  data[4] = 0x00;
  data[5] = e.number;
  data[6] = e.usage;
  data[7] = uint8_t(len);
  memcpy(data + 8, value, len);
  Apdu ap(0x00, 0x24, uint8_t((e.number << 4) + 1), e.ref);
  ap.shortData(data, 8 + len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t resetUserPin(UK_USB_DEV_CTX *c, const uint8_t *pin, uint32_t len) {
  if (!pin || len == 0 || len > kMaxPin) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xFC, 0x00, PIN_USER);
  ap.shortData(pin, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t logOut(UK_USB_DEV_CTX *c) {
  Apdu ap(0x00, 0x2E, 0x00, 0x21);
  ap.shortLe(0x00);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t getRandom(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t n) {
  if (n == 0) return UKLR_OK;
  if (!out) return UKLR_PARAM_VALUE;
  for (uint32_t done = 0; done < n;) {
    const uint32_t want = n - done < 16 ? n - done : 16;
    Apdu ap(0x00, 0x84, 0x00, 0x00);
    ap.shortLe(0x10);
    Answer a;
    uint32_t rc = exchange(c, ap.bytes(), ap.size(), a, 64);
    if (rc != UKLR_OK) return rc;
    if (a.dataLen() < want) {
      log("---->UKLR_DATA_LENGTH \n");
      return UKLR_DATA_LENGTH;
    }
    memcpy(out + done, a.data(), want);
    done += want;
  }
  return UKLR_OK;
}

uint32_t getDeviceInfo(UK_USB_DEV_CTX *c, uint8_t item, uint8_t *out, uint32_t *len) {
  if (!len) return UKLR_PARAM_VALUE;
  uint8_t le;
  switch (item) {
    case 0x00: le = 0x10; break;
    case 0x01: le = 0x0C; break;
    case 0x02: le = 0x20; break;
    case 0x03: le = 0x04; break;
    case 0x05: le = 0x10; break;
    default: le = uint8_t(*len > 0xFF ? 0xFF : *len); break;
  }
  Apdu ap(0x00, 0xF0, 0x00, item);
  ap.shortLe(le);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  return cmd::copyOut(a, out, len);
}

uint32_t getInfoBlockA1(UK_USB_DEV_CTX *c, uint8_t out[9]) {
  if (!out) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xF0, 0xA1, 0x00);
  ap.shortLe(0x09);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  if (a.dataLen() < 9) {
    log("---->UKLR_DATA_LENGTH \n");
    return UKLR_DATA_LENGTH;
  }
  memcpy(out, a.data(), 9);
  return UKLR_OK;
}

uint32_t getLabel(UK_USB_DEV_CTX *c, char *out, uint32_t *len) {
  if (!len) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xCB, 0x01, 0x61);
  ap.shortLe(0x80);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  // The text ends at its first zero byte; at most kMaxLabel bytes of it are used.
  uint32_t avail = a.dataLen() < kMaxLabel ? a.dataLen() : kMaxLabel;
  const uint8_t *d = a.data();
  uint32_t n = 0;
  while (n < avail && d[n] != 0) ++n;
  if (!out || *len < n + 1) {
    *len = n + 1;
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  memcpy(out, d, n);
  out[n] = 0;
  *len = n;
  return UKLR_OK;
}

uint32_t setLabel(UK_USB_DEV_CTX *c, const uint8_t *label, uint32_t len) {
  if (len && !label) return UKLR_PARAM_VALUE;
  if (len > kMaxLabel) len = kMaxLabel;
  uint8_t data[kMaxLabel + 1];
  if (len) memcpy(data, label, len);
  data[len] = 0;
  Apdu ap(0x00, 0xDB, 0x01, 0x44);
  ap.shortData(data, len + 1);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t getData(UK_USB_DEV_CTX *c, uint8_t p2, uint32_t le, uint8_t *out, uint32_t *len) {
  if (!len) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xCB, 0x01, p2);
  if (p2 == 0x11 || le > 0xFF)
    ap.extLe(le);
  else
    ap.shortLe(uint8_t(le));
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  return cmd::copyOut(a, out, len);
}

uint32_t putData(UK_USB_DEV_CTX *c, uint8_t p2, const uint8_t *value, uint32_t len) {
  if (!value || len == 0) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0xDB, 0x01, p2);
  // The modulus and the private exponent are modulus-sized: extended Lc.
  if (p2 == 0x11 || p2 == 0x12 || len > 0xFF)
    ap.extData(value, len);
  else
    ap.shortData(value, len);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

uint32_t readPublicExponent(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t modLen) {
  if (!out || modLen == 0) return UKLR_PARAM_VALUE;
  uint8_t le = 0x10;
  Answer a;
  Apdu ap(0x00, 0xCB, 0x01, 0x10);
  ap.shortLe(le);
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) {
    // One more try: with the Le a 6Cxx answer names, after any other failure unchanged.
    cmd::reissueLe(rc, cmd::Reissue::WrongLength, &le);
    rc = cmd::reissue(c, 0x00, 0xCB, 0x01, 0x10, le, a);
  }
  if (rc != UKLR_OK) return rc;
  const uint32_t n = a.dataLen();
  if (n > modLen) {
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  memset(out, 0, modLen);
  if (n) memcpy(out + (modLen - n), a.data(), n);
  return UKLR_OK;
}

uint32_t generateKeyPair(UK_USB_DEV_CTX *c, const uint8_t pubFid[2], const uint8_t priFid[2]) {
  if (!pubFid || !priFid) return UKLR_PARAM_VALUE;
  const uint8_t data[4] = {pubFid[0], pubFid[1], priFid[0], priFid[1]};
  Apdu ap(0x00, 0x46, 0x00, 0x00);
  ap.shortData(data, 4);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a, 512);
}

uint32_t setCryptoEnv(UK_USB_DEV_CTX *c, uint8_t p1, uint8_t p2, uint8_t alg, const uint8_t fid[2],
                      const uint8_t *iv, uint32_t ivLen) {
  if (!c || !fid || (ivLen && !iv) || ivLen > 16) return UKLR_PARAM_VALUE;
  uint8_t data[7 + 2 + 16];
  uint32_t n = 0;
  data[n++] = 0x80;
  data[n++] = 0x01;
  data[n++] = alg;
  data[n++] = 0x81;
  data[n++] = 0x02;
  data[n++] = fid[0];
  data[n++] = fid[1];
  if (ivLen) {
    data[n++] = 0x87;
    data[n++] = uint8_t(ivLen);
    memcpy(data + n, iv, ivLen);
    n += ivLen;
  }
  uint8_t op = 0;
  if (p1 == 0x81 && p2 == 0xB8) op = UK_OP_ENCIPHER;
  else if (p1 == 0x41 && p2 == 0xB8) op = UK_OP_DECIPHER;
  else if (p1 == 0x41 && p2 == 0xB6) op = UK_OP_SIGN;
  else if (p1 == 0x81 && p2 == 0xB6) op = UK_OP_PUB_DECIPHER;
  Apdu ap(0x00, 0x22, p1, p2);
  ap.shortData(data, n);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  // An environment the card refused is no environment: the next operation must not run under
  // the previous one.
  c->opByte = rc == UKLR_OK ? op : 0;
  return rc;
}

namespace {

uint32_t securityOperation(UK_USB_DEV_CTX *c, uint8_t needOp, uint8_t p1, uint8_t p2,
                           const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outLen,
                           bool keyBlock) {
  if (!c || !in || !outLen) return UKLR_PARAM_VALUE;
  if (c->opByte != needOp) {
    log("---->UKLR_CRYPTO_ENV_NOT_INIT ......\n");
    return UKLR_CRYPTO_ENV_NOT_INIT;
  }
  if (keyBlock ? (len != 128 && len != 256) : (len == 0 || len > 1000)) {
    log("---->UKLR_DATA_LENGTH \n");
    return UKLR_DATA_LENGTH;
  }
  Apdu ap(0x00, 0x2A, p1, p2);
  ap.extData(in, len);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  return cmd::copyOut(a, out, outLen);
}

}  // namespace

uint32_t encipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out,
                  uint32_t *outLen) {
  return securityOperation(c, UK_OP_ENCIPHER, 0x86, 0x80, in, len, out, outLen, false);
}

uint32_t decipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out,
                  uint32_t *outLen) {
  return securityOperation(c, UK_OP_DECIPHER, 0x80, 0x86, in, len, out, outLen, false);
}

uint32_t sign(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outLen) {
  return securityOperation(c, UK_OP_SIGN, 0x9E, 0x9A, in, len, out, outLen, true);
}

uint32_t publicDecipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out,
                        uint32_t *outLen) {
  return securityOperation(c, UK_OP_PUB_DECIPHER, 0x00, 0xA8, in, len, out, outLen, true);
}

uint32_t fetchSignature(UK_USB_DEV_CTX *c, uint32_t len, uint8_t *out, uint32_t *outLen) {
  if (!outLen) return UKLR_PARAM_VALUE;
  Apdu ap(0x00, 0x52, 0x00, 0x00);
  ap.extLe(len);
  Answer a;
  uint32_t rc = exchange(c, ap.bytes(), ap.size(), a);
  if (rc != UKLR_OK) return rc;
  return cmd::copyOut(a, out, outLen);
}

uint32_t cancelSignature(UK_USB_DEV_CTX *c) {
  Apdu ap(0x00, 0x54, 0x00, 0x00);
  ap.shortLe(0x00);
  Answer a;
  return exchange(c, ap.bytes(), ap.size(), a);
}

}  // namespace uk
