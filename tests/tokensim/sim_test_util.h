// Helpers of the emulator tests: APDUs to a Card, and the host side of the secure channel and
// secure messaging computed here with OpenSSL's EVP interface (independent of the emulator's
// own code paths).
#pragma once
#include <openssl/evp.h>
#include <string.h>

#include <string>
#include <vector>

#include "sim_card.h"
#include "uk_card_keys.h"

namespace simtest {

using tokensim::Bytes;

inline Bytes hex(const std::string &h) {
  Bytes b;
  std::string d;
  for (char c : h)
    if (c != ' ') d += c;
  for (size_t i = 0; i + 1 < d.size(); i += 2) b.push_back(uint8_t(std::stoi(d.substr(i, 2), nullptr, 16)));
  return b;
}
inline Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Resp {
  Bytes data;
  uint16_t sw = 0;
};

// Sends one command through the frame interface and parses the response frame.
inline Resp tx(tokensim::Card &card, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
               const Bytes &data = {}, uint32_t le = 0) {
  tokensim::Apdu a;
  a.cla = cla; a.ins = ins; a.p1 = p1; a.p2 = p2; a.data = data; a.le = le;
  Bytes f = tokensim::buildRequestFrame(a);
  Bytes r = card.processFrame(f.data(), f.size());
  Resp out;
  if (r.size() < 4) return out;
  size_t l = size_t((r[0] << 8) | r[1]);
  if (l + 2 != r.size()) return out;
  out.data.assign(r.begin() + 2, r.end() - 2);
  out.sw = uint16_t((r[r.size() - 2] << 8) | r[r.size() - 1]);
  return out;
}

// Two-key Triple-DES through EVP: ECB or CBC from iv, no padding.
inline Bytes tdes(const uint8_t key[16], bool cbc, bool enc, const uint8_t *iv, const Bytes &in) {
  EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n1 = 0, n2 = 0;
  EVP_CipherInit_ex(c, cbc ? EVP_des_ede_cbc() : EVP_des_ede_ecb(), nullptr, key, iv, enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  EVP_CipherUpdate(c, out.data(), &n1, in.data(), int(in.size()));
  EVP_CipherFinal_ex(c, out.data() + n1, &n2);
  EVP_CIPHER_CTX_free(c);
  out.resize(size_t(n1 + n2));
  return out;
}
inline Bytes lastBlock(const Bytes &b) { return Bytes(b.end() - 8, b.end()); }

// The host side of the secure channel: initialize update, check of the card cryptogram,
// external authenticate. Leaves the session keys for secure messaging.
struct Host {
  uint8_t sEnc[16], sMac[16];
  Bytes hostChallenge = hex("0102030405060708");
  bool cardCryptogramOk = false;

  // breakCryptogram / breakMac spoil the external authenticate; returns its status word.
  uint16_t open(tokensim::Card &card, bool breakCryptogram = false, bool breakMac = false,
                const uint8_t *transportKey = uk::kTransportKey) {
    Resp r = tx(card, 0x80, 0x50, 0x00, 0xFF, hostChallenge, 0);
    if (r.sw != 0x9000 || r.data.size() != 28) return r.sw;
    const uint8_t *d = r.data.data();
    Bytes cc(d + 12, d + 20), cardCrypto(d + 20, d + 28);
    Bytes in1 = {0, 0, d[6], d[7], d[8], d[9], 0xF0, 0x01, 0, 0, d[6], d[7], d[8], d[9], 0x0F, 0x01};
    Bytes in2 = in1;
    in2[7] = in2[15] = 0x02;
    Bytes k1 = tdes(transportKey, false, true, nullptr, in1);
    Bytes k2 = tdes(transportKey, false, true, nullptr, in2);
    const Bytes &hc = hostChallenge;
    Bytes deriv = {cc[4], cc[5], cc[6], cc[7], hc[0], hc[1], hc[2], hc[3],
                   cc[0], cc[1], cc[2], cc[3], hc[4], hc[5], hc[6], hc[7]};
    Bytes se = tdes(k1.data(), false, true, nullptr, deriv);
    Bytes sm = tdes(k2.data(), false, true, nullptr, deriv);
    memcpy(sEnc, se.data(), 16);
    memcpy(sMac, sm.data(), 16);
    uint8_t zero[8] = {0};
    Bytes pad = hex("8000000000000000");
    cardCryptogramOk = lastBlock(tdes(sEnc, true, true, zero, cat(cat(hc, cc), pad))) == cardCrypto;
    Bytes hostCrypto = lastBlock(tdes(sEnc, true, true, zero, cat(cat(cc, hc), pad)));
    if (breakCryptogram) hostCrypto[0] ^= 1;
    Bytes macIn = cat(cat(hex("84820300000010"), hostCrypto), hex("80"));
    Bytes mac = lastBlock(tdes(sMac, true, true, zero, macIn));
    if (breakMac) mac[7] ^= 0x40;
    return tx(card, 0x84, 0x82, 0x03, 0x00, cat(hostCrypto, mac), 0).sw;
  }

  // One command under secure messaging: fresh challenge, enciphered data, MAC; the response is
  // checked and deciphered. *macOk reports the response MAC check.
  Resp wrapped(tokensim::Card &card, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
               const Bytes &data, uint32_t le, bool *macOk = nullptr, bool spoilMac = false) {
    Resp ch = tx(card, 0x00, 0x84, 0x00, 0x00, {}, 8);
    Bytes iv = ch.data;
    Bytes body;
    if (!data.empty()) {
      Bytes plain = cat({0x00, uint8_t(data.size() >> 8), uint8_t(data.size())}, data);
      if (plain.size() % 8) {
        plain.push_back(0x80);
        while (plain.size() % 8) plain.push_back(0);
      }
      body = tdes(sEnc, true, true, iv.data(), plain);
    }
    Bytes macIn = {cla, ins, p1, p2, 0x00, uint8_t((body.size() + 8) >> 8), uint8_t(body.size() + 8)};
    macIn = cat(macIn, body);
    macIn.push_back(0x80);
    while (macIn.size() % 8) macIn.push_back(0);
    Bytes mac = lastBlock(tdes(sMac, true, true, iv.data(), macIn));
    if (spoilMac) mac[0] ^= 0x01;
    Resp r = tx(card, cla, ins, p1, p2, cat(body, mac), le);
    if (macOk) *macOk = false;
    if (r.data.size() > 8) {
      Bytes ct(r.data.begin(), r.data.end() - 8), cmac(r.data.end() - 8, r.data.end());
      Bytes in = ct;
      in.push_back(0x80);
      while (in.size() % 8) in.push_back(0);
      if (macOk) *macOk = lastBlock(tdes(sMac, true, true, iv.data(), in)) == cmac;
      Bytes plain = tdes(sEnc, true, false, iv.data(), ct);
      size_t l = size_t((plain[1] << 8) | plain[2]);
      r.data.assign(plain.begin() + 3, plain.begin() + 3 + long(std::min(l, plain.size() - 3)));
    }
    return r;
  }
};

// File control parameters as the token library builds them.
inline Bytes fcpTransparent(uint16_t fid, uint16_t size) {
  return {0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x82, 0x02, 0x01, 0x00, 0x80, 0x02,
          uint8_t(size >> 8), uint8_t(size), 0x85, 0x02, 0x00, 0x00, 0x86, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
}
inline Bytes fcpRecord(uint16_t fid, uint8_t count) {
  return {0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x82, 0x02, 0x03, 0x00, 0x80, 0x02, 0x00,
          0xC0, 0x85, 0x03, count, 0x00, 0x00, 0x86, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
}
inline Bytes fcpPubKey(uint16_t fid, uint16_t bits) {
  return {0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x82, 0x02, 0x15, 0x00, 0x80, 0x02,
          uint8_t(bits >> 8), uint8_t(bits), 0x85, 0x06, 0x00, 0x09, 0, 0, 0, 0, 0x86, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
}
inline Bytes fcpPrivKey(uint16_t fid, uint16_t bits) {
  return {0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x82, 0x02, 0x13, 0x00, 0x80, 0x02,
          uint8_t(bits >> 8), uint8_t(bits), 0x85, 0x06, 0x01, 0x06, 0, 0, 0, 0, 0x86, 0x08, 0, 0, 0, 1, 0, 0, 1, 0};
}
// Symmetric-key file: class code as the card stores it (01 DES family, 02 AES, 08, 04).
inline Bytes fcpSymKey(uint16_t fid, uint16_t bits, uint8_t cls, uint8_t generate) {
  return {0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid), 0x82, 0x02, 0x11, 0x00, 0x80, 0x02,
          uint8_t(bits >> 8), uint8_t(bits), 0x85, 0x05, cls, 0x00, generate, 0x00, 0x00,
          0x86, 0x08, 2, 1, 1, 1, 1, 1, 1, 1};
}

}  // namespace simtest
