// The secure channel family: get challenge, initialize update, external authenticate, and
// the secure messaging of wrapped commands.
#include "sim_card_family.h"
#include "../tokenlib/core/base/uk_card_keys.h"

namespace tokensim {

using namespace card;

// Secure messaging of one command (CLA low nibble 4) under the open secure channel. The chaining
// value is the last get-challenge answer; it serves this command and its response, then is used
// up. Command: MAC = last block of Triple-DES-CBC(S-MAC, challenge, CLA INS P1 P2 00 Lc(2)
// data-without-MAC 80 00..), data = Triple-DES-CBC(S-ENC, challenge, 00 L(2) plain 80 00..).
// Response data (when there is any): the same encryption of 00 L(2) data, then the MAC over the
// ciphertext padded with 80 00.. appended.
Answer Card::secureMessaging(const Apdu &w) {
  if (!s_.channelOpen) return sw(SW_SECURITY);
  if (!s_.challengeValid) return sw(SW_CONDITIONS);
  uint8_t chain[8];
  memcpy(chain, s_.challenge, 8);
  s_.challengeValid = false;
  if (w.data.size() < 8) {
    s_.channelOpen = false;
    return sw(SW_SM_WRONG);
  }
  size_t encLen = w.data.size() - 8;
  Bytes macIn = {w.cla, w.ins, w.p1, w.p2, 0x00, uint8_t(w.data.size() >> 8),
                 uint8_t(w.data.size())};
  macIn.insert(macIn.end(), w.data.begin(), w.data.begin() + long(encLen));
  isoPad(&macIn);
  uint8_t mac[8];
  tdesCbcLast(s_.sMac, chain, macIn.data(), macIn.size(), mac);
  if (memcmp(mac, w.data.data() + encLen, 8) != 0) {
    s_.channelOpen = false;  // a wrong MAC ends the channel
    return sw(SW_SM_WRONG);
  }
  Apdu inner;
  inner.cla = w.cla & 0xF0;
  inner.ins = w.ins; inner.p1 = w.p1; inner.p2 = w.p2; inner.le = w.le;
  if (encLen) {
    if (encLen % 8) {
      s_.channelOpen = false;
      return sw(SW_SM_WRONG);
    }
    Bytes plain(w.data.begin(), w.data.begin() + long(encLen));
    uint8_t iv[8];
    memcpy(iv, chain, 8);
    desCrypt(s_.sEnc, 16, true, false, iv, plain.data(), plain.size());
    size_t l = be16(plain.data() + 1);
    if (plain[0] != 0x00 || 3 + l > plain.size()) {
      s_.channelOpen = false;
      return sw(SW_SM_WRONG);
    }
    inner.data.assign(plain.begin() + 3, plain.begin() + 3 + long(l));
  }
  lastUnwrapped_ = buildRequestFrame(inner);
  Answer r = dispatch(inner);
  if (!r.data.empty() && s_.channelOpen) {
    Bytes ct = {0x00, uint8_t(r.data.size() >> 8), uint8_t(r.data.size())};
    ct.insert(ct.end(), r.data.begin(), r.data.end());
    if (ct.size() % 8) isoPad(&ct);
    uint8_t iv[8];
    memcpy(iv, chain, 8);
    desCrypt(s_.sEnc, 16, true, true, iv, ct.data(), ct.size());
    // The response MAC input: the ciphertext, 80 and seven zeros, rounded up to a block (the
    // ciphertext is whole blocks, so this is the usual 80 00.. padding).
    Bytes rm = ct;
    rm.insert(rm.end(), {0x80, 0, 0, 0, 0, 0, 0, 0});
    while (rm.size() % 8) rm.push_back(0);
    uint8_t rmac[8];
    tdesCbcLast(s_.sMac, chain, rm.data(), rm.size(), rmac);
    ct.insert(ct.end(), rmac, rmac + 8);
    r.data = std::move(ct);
  }
  return r;
}

Answer Card::cmdChallenge(const Apdu &a) {
  if (a.p1 != 0 || a.p2 != 0) return sw(SW_WRONG_P1P2);
  if (a.le != 4 && a.le != 8 && a.le != 16) return sw(SW_WRONG_LENGTH);
  Bytes r(a.le);
  randomBytes(r.data(), r.size());
  if (a.le >= 8) {
    memcpy(s_.challenge, r.data(), 8);
    s_.challengeValid = true;
  }
  return ok(r);
}

// ---- secure channel (initialize update, external authenticate with security level 03)

Answer Card::cmdInitUpdate(const Apdu &a) {
  if (a.cla != 0x80) return sw(SW_CLA);
  if (a.p2 != 0xFF && a.p2 != 0x00) return sw(SW_WRONG_P1P2);
  if (a.data.size() != 8) return sw(SW_WRONG_LENGTH);
  s_.channelOpen = false;
  s_.initDone = false;
  uint8_t div[10];
  diversificationData(cfg_.serial, div);
  memcpy(s_.hostChallenge, a.data.data(), 8);
  randomBytes(s_.cardChallenge, 8);
  const uint8_t *d = div;
  uint8_t k1[16], k2[16];
  uint8_t in1[16] = {0, 0, d[6], d[7], d[8], d[9], 0xF0, 0x01, 0, 0, d[6], d[7], d[8], d[9], 0x0F, 0x01};
  uint8_t in2[16];
  memcpy(in2, in1, 16);
  in2[7] = in2[15] = 0x02;
  tdesEcb16(uk::kTransportKey, in1, k1);
  tdesEcb16(uk::kTransportKey, in2, k2);
  const uint8_t *cc = s_.cardChallenge, *hc = s_.hostChallenge;
  uint8_t deriv[16];
  memcpy(deriv, cc + 4, 4);
  memcpy(deriv + 4, hc, 4);
  memcpy(deriv + 8, cc, 4);
  memcpy(deriv + 12, hc + 4, 4);
  tdesEcb16(k1, deriv, s_.sEnc);
  tdesEcb16(k2, deriv, s_.sMac);
  uint8_t in[24] = {0};
  memcpy(in, hc, 8);
  memcpy(in + 8, cc, 8);
  in[16] = 0x80;
  uint8_t zero[8] = {0}, cryptogram[8];
  tdesCbcLast(s_.sEnc, zero, in, 24, cryptogram);
  Bytes r(div, div + 10);
  r.push_back(0x01);  // key version
  r.push_back(0x01);  // secure channel protocol 01
  r.insert(r.end(), cc, cc + 8);
  r.insert(r.end(), cryptogram, cryptogram + 8);
  s_.initDone = true;
  return ok(r);
}

Answer Card::cmdExternalAuth(const Apdu &a) {
  if (a.cla != 0x84) return sw(SW_SECURITY);
  if (a.p1 != 0x03 || a.p2 != 0x00) return sw(SW_WRONG_P1P2);
  if (a.data.size() != 16) return sw(SW_WRONG_LENGTH);
  if (!s_.initDone) return sw(SW_CONDITIONS);
  s_.initDone = false;
  uint8_t in[24] = {0};
  memcpy(in, s_.cardChallenge, 8);
  memcpy(in + 8, s_.hostChallenge, 8);
  in[16] = 0x80;
  uint8_t zero[8] = {0}, hostCrypto[8], mac[8];
  tdesCbcLast(s_.sEnc, zero, in, 24, hostCrypto);
  uint8_t macIn[16] = {0x84, 0x82, 0x03, 0x00, 0x00, 0x00, 0x10};
  memcpy(macIn + 7, a.data.data(), 8);
  macIn[15] = 0x80;
  tdesCbcLast(s_.sMac, zero, macIn, 16, mac);
  if (memcmp(hostCrypto, a.data.data(), 8) != 0 || memcmp(mac, a.data.data() + 8, 8) != 0)
    return sw(SW_AUTH_FAILED);
  s_.channelOpen = true;
  return ok();
}

}  // namespace tokensim
