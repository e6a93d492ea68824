// The send operation that the whole command layer uses (framing, secure messaging when the
// connection has it, the exchange, the response checks), and the secure-channel handshake that
// sets secure messaging up.
#include <string.h>

#include "uk_log.h"
#include "uk_transport.h"

namespace uk {

uint32_t sendApdu(UK_USB_DEV_CTX *conn, const uint8_t *apdu, uint32_t apduLen, uint8_t *resp,
                  uint32_t *respLen) {
  if (!conn || !conn->mass || !apdu || !resp || !respLen) return UKLR_PARAM_VALUE;

  // Frame the command (GenQ57Sendbuf).
  ApduParts parts;
  uint32_t rc = parseApdu(apdu, apduLen, &parts);
  if (rc) {
    if (rc == UKLR_DATA_LENGTH) log("---->UKLR_DATA_LENGTH......\n");
    log("---->GenQ57Sendbuf.\n");
    return rc;
  }

  uint8_t raw[kReadLength];
  uint32_t rawLen = 0;
  bool wrapped = smApplies(conn->smFlags, parts.cla);
  // The command and its response share the keys and the chaining value.
  SmContext sm{conn->smFlags, conn->keys, conn->keys + 32, conn->chaining};
  uint8_t data[kMaxWrappedData];
  uint32_t lc = parts.lc;
  const uint8_t *payload = parts.data;
  if (wrapped) {
    // A fresh card challenge chains this command and its response.
    static const uint8_t kGetChallenge[12] = {0x00, 0x0A, 0x00, 0x84, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
    rc = exchangeFrame(conn->mass, kGetChallenge, sizeof kGetChallenge, raw, sizeof raw, &rawLen);
    if (rc) {
      log("---->uk_usb_SendAPDUCmd......\n");
      return rc;
    }
    uint32_t frameLen = 0;
    if (checkResponseFrame(raw, rawLen, &frameLen) || frameLen < 12) {
      log("---->UKLR_DATA_LENGTH......\n");
      log("---->ParseQ57Recvbuf......\n");
      return UKLR_DATA_LENGTH;
    }
    uint8_t sw1 = raw[frameLen - 2], sw2 = raw[frameLen - 1];
    if (mapStatusWord(sw1, sw2)) {
      logSw(sw1, sw2);
      return mapStatusWord(sw1, sw2);
    }
    memcpy(conn->chaining, raw + 2, 8);
    smWrapCommand(sm, parts, data, &lc);
    payload = data;
  }

  uint8_t frame[kMaxFrame];
  uint32_t frameLen = buildFrame(parts.cla, parts.ins, parts.p1, parts.p2, payload, lc, parts.le,
                                 frame);
  rc = exchangeFrame(conn->mass, frame, frameLen, raw, sizeof raw, &rawLen);
  if (rc) {
    log("---->uk_usb_SendAPDUCmd......\n");
    return rc;
  }

  // Take the response apart (ParseQ57Recvbuf).
  uint32_t len = 0;
  if (checkResponseFrame(raw, rawLen, &len)) {
    log("---->UKLR_DATA_LENGTH......\n");
    log("---->ParseQ57Recvbuf......\n");
    return UKLR_DATA_LENGTH;
  }
  if (wrapped) {
    rc = smUnwrapResponse(sm, raw, &len);
    if (rc) {
      log("---->ParseQ57Recvbuf......\n");
      return rc;
    }
  }
  if (len > *respLen) {
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    log("---->ParseQ57Recvbuf......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  memcpy(resp, raw, len);
  *respLen = len;
  uint8_t sw1 = raw[len - 2], sw2 = raw[len - 1];
  if (sw1 != 0x90) logSw(sw1, sw2);
  return mapStatusWord(sw1, sw2);
}

uint32_t openSecureChannel(UK_USB_DEV_CTX *conn, const uint8_t *key) {
  if (!conn) return UKLR_PARAM_VALUE;
  if (!key) {
    conn->smFlags = 0;
    conn->keyLen = 0;
    return UKLR_OK;
  }

  // Initialize update with the host challenge.
  uint8_t hc[8];
  hostChallenge(hc);
  uint8_t cmd[13] = {0x80, 0x50, 0x00, 0xFF, 0x08};
  memcpy(cmd + 5, hc, 8);
  uint8_t resp[256];
  uint32_t respLen = sizeof resp;
  uint32_t rc = sendApdu(conn, cmd, sizeof cmd, resp, &respLen);
  if (rc) return rc;
  if (respLen < 28 + 4) return UKLR_DATA_LENGTH;
  const uint8_t *div = resp + 2;  // diversification data (10), key information (2)
  const uint8_t *cc = resp + 2 + 12;
  const uint8_t *cardCryptogram = resp + 2 + 20;

  // Card keys diversified from the transport key.
  uint8_t block[16] = {0x00, 0x00, div[6], div[7], div[8], div[9], 0xF0, 0x01,
                       0x00, 0x00, div[6], div[7], div[8], div[9], 0x0F, 0x01};
  uint8_t k1[16], k2[16];
  tdesEcbEncrypt(key, block, 16, k1);
  block[7] = block[15] = 0x02;
  tdesEcbEncrypt(key, block, 16, k2);

  // Session keys.
  uint8_t deriv[16];
  memcpy(deriv, cc + 4, 4);
  memcpy(deriv + 4, hc, 4);
  memcpy(deriv + 8, cc, 4);
  memcpy(deriv + 12, hc + 4, 4);
  uint8_t sEnc[16], sMac[16];
  tdesEcbEncrypt(k1, deriv, 16, sEnc);
  tdesEcbEncrypt(k2, deriv, 16, sMac);

  static const uint8_t kZeroIv[8] = {};
  uint8_t in[24], out[24];
  memcpy(in, hc, 8);
  memcpy(in + 8, cc, 8);
  memcpy(in + 16, "\x80\0\0\0\0\0\0\0", 8);
  tdesCbcEncrypt(sEnc, kZeroIv, in, 24, out);
  bool match = memcmp(out + 16, cardCryptogram, 8) == 0;
  uint8_t hostCryptogram[8];
  memcpy(in, cc, 8);
  memcpy(in + 8, hc, 8);
  tdesCbcEncrypt(sEnc, kZeroIv, in, 24, out);
  memcpy(hostCryptogram, out + 16, 8);
  if (!match) {
    memset(sEnc, 0, 16);
    memset(sMac, 0, 16);
    memset(k1, 0, 16);
    memset(k2, 0, 16);
    return UKLR_AUTH_CMP;
  }

  // External authenticate (security level 03), MAC'd with S-MAC, sent unwrapped.
  uint8_t ext[7 + 16] = {0x84, 0x82, 0x03, 0x00, 0x00, 0x00, 0x10};
  memcpy(ext + 7, hostCryptogram, 8);
  memcpy(in, ext, 7);
  memcpy(in + 7, hostCryptogram, 8);
  in[15] = 0x80;
  tdesCbcEncrypt(sMac, kZeroIv, in, 16, out);
  memcpy(ext + 15, out + 8, 8);
  uint8_t saved = conn->smFlags;
  conn->smFlags = 0;
  respLen = 200;
  rc = sendApdu(conn, ext, sizeof ext, resp, &respLen);
  if (rc) {
    conn->smFlags = saved;
    memset(sEnc, 0, 16);
    memset(sMac, 0, 16);
    return rc;
  }

  memcpy(conn->keys, sEnc, 16);
  memcpy(conn->keys + 32, sMac, 16);
  memcpy(conn->keys + 64, key, 16);
  conn->keyLen = 16;
  conn->smFlags = UK_SM_MAC | UK_SM_ENC;
  memset(sEnc, 0, 16);
  memset(sMac, 0, 16);
  memset(k1, 0, 16);
  memset(k2, 0, 16);
  return UKLR_OK;
}

}  // namespace uk
