// Request and response frames, and the secure messaging applied to them. Everything here works
// on caller buffers only; the exchange itself lives in device_exchange.cpp.
#include <string.h>

#include "uk_bytes.h"
#include "uk_log.h"
#include "uk_transport.h"

namespace uk {
namespace {

// Le from the bytes left after the command data: none, one byte, or three bytes whose last two
// are Le. Anything else is malformed.
bool trailingLe(const uint8_t *rest, uint32_t restLen, uint32_t *le) {
  switch (restLen) {
    case 0: *le = 0; return true;
    case 1: *le = rest[0]; return true;
    case 3: *le = getBe16(rest + 1); return true;
    default: return false;
  }
}

// Triple-DES CBC over whole blocks with one of the context's keys, the challenge as IV.
void smCbc(SmContext &sm, bool macKey, bool encrypt, const uint8_t *in, uint32_t len,
           uint8_t *out) {
  ukcrypto::BlockKey &key = macKey ? sm.macSchedule : sm.encSchedule;
  bool &ready = macKey ? sm.macReady : sm.encReady;
  if (!ready) {
    ukcrypto::blockKeySet(key, macKey ? sm.macKey : sm.encKey, 16);
    ready = true;
  }
  uint8_t iv[8];
  memcpy(iv, sm.challenge, 8);
  if (encrypt)
    ukcrypto::modeEncrypt(key, ukcrypto::kModeCbc, 0, iv, in, len, out);
  else
    ukcrypto::modeDecrypt(key, ukcrypto::kModeCbc, 0, iv, in, len, out);
}

}  // namespace

uint32_t parseApdu(const uint8_t *apdu, uint32_t len, ApduParts *out) {
  if (len < kMinApdu || len > kMaxApdu) return UKLR_DATA_LENGTH;
  out->cla = apdu[0];
  out->ins = apdu[1];
  out->p1 = apdu[2];
  out->p2 = apdu[3];
  out->lc = 0;
  out->data = nullptr;
  out->le = 0;
  uint32_t dataStart;
  if (apdu[4] != 0 || len < 7) {
    // Short form.
    if (len == 5) {
      out->le = apdu[4];
      return UKLR_OK;
    }
    out->lc = apdu[4];
    dataStart = 5;
  } else {
    // Extended form: a zero byte, then two-byte Lc (or Le alone).
    if (len == 7) {
      out->le = getBe16(apdu + 5);
      return UKLR_OK;
    }
    out->lc = getBe16(apdu + 5);
    dataStart = 7;
  }
  if (len - dataStart < out->lc) return UKLR_PARAM_VALUE;
  out->data = apdu + dataStart;
  uint32_t after = dataStart + out->lc;
  if (!trailingLe(apdu + after, len - after, &out->le)) return UKLR_PARAM_VALUE;
  return UKLR_OK;
}

uint32_t buildFrame(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const uint8_t *data,
                    uint32_t lc, uint32_t le, uint8_t *frame) {
  putBe16(frame, lc + 10);
  frame[2] = cla;
  frame[3] = ins;
  frame[4] = p1;
  frame[5] = p2;
  frame[6] = 0;
  putBe16(frame + 7, lc);
  if (lc) memmove(frame + 9, data, lc);
  frame[9 + lc] = 0;
  putBe16(frame + 10 + lc, le);
  return lc + 12;
}

void vendorCdb(bool dataIn, uint32_t length, uint8_t cdb[10]) {
  cdb[0] = 0xFF;
  memcpy(cdb + 1, "MARVO", 5);
  cdb[6] = dataIn ? 1 : 2;
  cdb[7] = uint8_t(length >> 8);
  cdb[8] = uint8_t(length);
  cdb[9] = 0;
}

void smWrapCommand(SmContext &sm, const ApduParts &apdu, uint8_t *out, uint32_t *outLc) {
  uint32_t lc = apdu.lc;
  if (lc) memcpy(out, apdu.data, lc);

  if ((sm.flags & UK_SM_ENC) && lc) {
    uint8_t plain[kMaxWrappedData];
    plain[0] = 0;
    putBe16(plain + 1, lc);
    memcpy(plain + 3, apdu.data, lc);
    uint32_t n = lc + 3;
    if (n % 8) {
      plain[n++] = 0x80;
      while (n % 8) plain[n++] = 0;
    }
    smCbc(sm, false, true, plain, n, out);
    memset(plain, 0, n);
    lc = n;
  }

  if (sm.flags & UK_SM_MAC) {
    uint8_t input[kMaxWrappedData + 16];
    input[0] = apdu.cla;
    input[1] = apdu.ins;
    input[2] = apdu.p1;
    input[3] = apdu.p2;
    input[4] = 0;
    putBe16(input + 5, lc + 8);
    memcpy(input + 7, out, lc);
    uint32_t n = 7 + lc;
    input[n++] = 0x80;
    while (n % 8) input[n++] = 0;
    uint8_t cipher[sizeof input];
    smCbc(sm, true, true, input, n, cipher);
    memcpy(out + lc, cipher + n - 8, 8);
    lc += 8;
  }
  *outLc = lc;
}

uint32_t smUnwrapResponse(SmContext &sm, uint8_t *frame, uint32_t *frameLen) {
  uint32_t n = *frameLen - 4;  // data bytes; the caller checked *frameLen >= 4
  uint8_t *data = frame + 2;
  uint8_t sw[2] = {frame[2 + n], frame[3 + n]};

  if ((sm.flags & UK_SM_MAC) && n > 8) {
    uint32_t body = n - 8;
    uint32_t padded = (n + 7) / 8 * 8;  // body, 80, seven zeros, rounded up to a block
    uint8_t input[kMaxResponse + 8];
    memcpy(input, data, body);
    memset(input + body, 0, padded - body);
    input[body] = 0x80;
    uint8_t cipher[sizeof input];
    smCbc(sm, true, true, input, padded, cipher);
    if (memcmp(cipher + padded - 8, data + body, 8) != 0) {
      log("---->UKLR_VERIFY_CMP......\n");
      return UKLR_VERIFY_CMP;
    }
    n = body;
  }

  if ((sm.flags & UK_SM_ENC) && n) {
    if (n % 8) {
      log("---->UKLR_DATA_LENGTH......\n");
      return UKLR_DATA_LENGTH;
    }
    uint8_t plain[kMaxResponse];
    smCbc(sm, false, false, data, n, plain);
    uint32_t inner = getBe16(plain + 1);
    // The inner length comes from the card: it must lie within what was deciphered.
    if (n < 3 || inner > n - 3) {
      memset(plain, 0, n);
      log("---->UKLR_DATA_LENGTH......\n");
      return UKLR_DATA_LENGTH;
    }
    memcpy(data, plain + 3, inner);
    memset(plain, 0, n);
    n = inner;
  }

  putBe16(frame, n + 2);
  data[n] = sw[0];
  data[n + 1] = sw[1];
  *frameLen = n + 4;
  return UKLR_OK;
}

uint32_t checkResponseFrame(const uint8_t *raw, uint32_t transferred, uint32_t *frameLen) {
  if (transferred < 4) return UKLR_DATA_LENGTH;
  uint32_t follow = getBe16(raw);
  if (follow < 2 || follow + 2 > transferred || follow + 2 > kMaxResponse) return UKLR_DATA_LENGTH;
  *frameLen = follow + 2;
  return UKLR_OK;
}

}  // namespace uk
