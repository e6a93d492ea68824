// The key family: RSA components, key pair generation, the crypto environment, security
// operations (RSA here, symmetric ciphers in sim_symmetric.cpp) and the waiting signature.
#include "sim_card_family.h"

namespace tokensim {

using namespace card;

Answer Card::cmdGetData(const Apdu &a) {
  if (a.p1 != 0x01) return sw(SW_WRONG_P1P2);
  if (a.p2 == 0x61) {
    Bytes d(label_.begin(), label_.end());
    d.push_back(0);
    if (a.le != 0 && a.le < d.size()) d.resize(a.le);
    return ok(d);
  }
  if (a.p2 >= 0x12 && a.p2 <= 0x17) return sw(SW_SECURITY);
  if (a.p2 != 0x10 && a.p2 != 0x11 && a.p2 != 0x20) return sw(SW_REF_NOT_FOUND);
  FileNode *ef = s_.curEf;
  if (!ef) return sw(SW_NO_CURRENT_EF);
  bool rsa = ef->isPubKey() || ef->isPrivKey();
  if ((a.p2 == 0x20 && !ef->isSymKey()) || (a.p2 != 0x20 && !rsa)) return sw(SW_FILE_INCOMPATIBLE);
  auto it = ef->comps.find(a.p2);
  if (it == ef->comps.end()) return sw(SW_REF_NOT_FOUND);
  if (a.p2 == 0x10 && a.le != 0 && a.le != it->second.size())
    return sw(uint16_t(0x6C00 | it->second.size()));
  return ok(it->second);
}

Answer Card::cmdPutData(const Apdu &a) {
  if (a.p1 != 0x01) return sw(SW_WRONG_P1P2);
  if (a.p2 == 0x44) {
    if (a.data.size() > 128) return sw(SW_WRONG_LENGTH);
    auto end = std::find(a.data.begin(), a.data.end(), uint8_t(0));
    label_.assign(a.data.begin(), end);
    changed_ = true;
    return ok();
  }
  if (!((a.p2 >= 0x10 && a.p2 <= 0x17) || a.p2 == 0x20)) return sw(SW_REF_NOT_FOUND);
  FileNode *ef = s_.curEf;
  if (!ef) return sw(SW_NO_CURRENT_EF);
  size_t width;
  if (a.p2 == 0x20) {
    if (!ef->isSymKey()) return sw(SW_FILE_INCOMPATIBLE);
    width = ef->size / 8u;
  } else {
    if (!ef->isPubKey() && !ef->isPrivKey()) return sw(SW_FILE_INCOMPATIBLE);
    if (ef->isPubKey() && a.p2 > 0x11) return sw(SW_WRONG_DATA);
    if (ef->isPrivKey() && !userPinVerifiedFor(ef->parent)) return sw(SW_SECURITY);
    width = a.p2 == 0x10 ? 16 : a.p2 <= 0x12 ? ef->size / 8u : ef->size / 16u;
  }
  Bytes v = a.data;
  if (a.p2 == 0x10) {
    if (v.empty() || v.size() > 16) return sw(SW_WRONG_LENGTH);
    v.insert(v.begin(), 16 - v.size(), 0);
  } else if (v.size() != width) {
    return sw(SW_WRONG_LENGTH);
  }
  ef->comps[a.p2] = v;
  changed_ = true;
  return ok();
}

Answer Card::cmdGenKeyPair(const Apdu &a) {
  if (a.p1 != 0 || a.p2 != 0) return sw(SW_WRONG_P1P2);
  if (a.data.size() != 4) return sw(SW_WRONG_LENGTH);
  FileNode *df = s_.curDf;
  if (!df) return sw(SW_FILE_NOT_FOUND);
  FileNode *pub = df->child(be16(a.data.data())), *pri = df->child(be16(a.data.data() + 2));
  if (!pub || !pri) return sw(SW_FILE_NOT_FOUND);
  if (!pub->isPubKey() || !pri->isPrivKey()) return sw(SW_FILE_INCOMPATIBLE);
  if (pub->size != pri->size) return sw(SW_WRONG_DATA);
  if (!userPinVerifiedFor(df)) return sw(SW_SECURITY);
  RsaComps c;
  if (!rsaGenerate(pri->size, &c)) return sw(0x6F00);
  pri->comps = c;
  pub->comps.clear();
  pub->comps[0x10] = c[0x10];
  pub->comps[0x11] = c[0x11];
  changed_ = true;
  return ok();
}

// Set crypto environment: 00 22 P1 P2 with 80 01 alg, 81 02 key FID and optionally 87 IV.
// 81 B8 encipher and 81 B6 public decipher take an RSA public key, 41 B8 decipher and 41 B6 sign
// an RSA private key (alg 11; 13 for a signature that waits for the button). Symmetric keys
// take 81 B8 and 41 B8: key class 01 (DES with 64-bit keys, Triple-DES with 128 or 192) alg 1 ECB
// or 2 CBC, class 02 (AES) alg 4 ECB or 5 CBC. The classes 04 and 08 are stored but not run.
Answer Card::cmdSetEnv(const Apdu &a) {
  bool pubSide = a.p1 == 0x81, priSide = a.p1 == 0x41;
  if ((!pubSide && !priSide) || (a.p2 != 0xB8 && a.p2 != 0xB6)) return sw(SW_WRONG_P1P2);
  std::vector<Tlv> t;
  if (!parseTlvs(a.data, &t)) return sw(SW_WRONG_DATA);
  const Tlv *ta = findTlv(t, 0x80), *tk = findTlv(t, 0x81), *tiv = findTlv(t, 0x87);
  if (!ta || ta->len != 1 || !tk || tk->len != 2) return sw(SW_WRONG_DATA);
  if (!s_.curDf) return sw(SW_FILE_NOT_FOUND);
  FileNode *k = s_.curDf->child(be16(tk->v));
  if (!k) return sw(SW_REF_NOT_FOUND);
  uint8_t alg = ta->v[0];
  if (k->isSymKey()) {
    if (uint16_t refused = symmetricEnvironment(*k, a.p2, alg, tiv, &s_.envIv)) return sw(refused);
  } else if (k->isPubKey() || k->isPrivKey()) {
    if (pubSide != k->isPubKey()) return sw(SW_WRONG_DATA);
    if (!(alg == 0x11 || (alg == 0x13 && a.p1 == 0x41 && a.p2 == 0xB6))) return sw(SW_WRONG_DATA);
    s_.envIv.clear();
  } else {
    return sw(SW_FILE_INCOMPATIBLE);
  }
  s_.envP1 = a.p1;
  s_.envP2 = a.p2;
  s_.envAlg = alg;
  s_.envFid = k->fid;
  s_.envDf = s_.curDf;
  return ok();
}

// Perform security operation: 86 80 encipher, 80 86 decipher, 9E 9A sign, 00 A8 public-key
// decipher, each under the environment set for it. RSA runs raw on a block of the modulus
// length; symmetric ciphers on whole blocks, CBC chaining carried from one command to the next.
Answer Card::cmdPso(const Apdu &a) {
  uint8_t needP1, needP2;
  if (a.p1 == 0x86 && a.p2 == 0x80) { needP1 = 0x81; needP2 = 0xB8; }
  else if (a.p1 == 0x80 && a.p2 == 0x86) { needP1 = 0x41; needP2 = 0xB8; }
  else if (a.p1 == 0x9E && a.p2 == 0x9A) { needP1 = 0x41; needP2 = 0xB6; }
  else if (a.p1 == 0x00 && a.p2 == 0xA8) { needP1 = 0x81; needP2 = 0xB6; }
  else return sw(SW_WRONG_P1P2);
  if (!s_.envDf || s_.envP1 != needP1 || s_.envP2 != needP2) return sw(SW_CONDITIONS);
  FileNode *k = s_.envDf->child(s_.envFid);
  if (!k) return sw(SW_REF_NOT_FOUND);
  if (a.data.empty() || a.data.size() > 1024) return sw(SW_WRONG_LENGTH);
  if (k->isSymKey()) return symmetricCipher(*k, s_.envAlg, a.p1 == 0x86, &s_.envIv, a.data);
  bool priv = k->isPrivKey();
  auto n = k->comps.find(0x11);
  if (n == k->comps.end() || !k->comps.count(0x10) || (priv && !k->comps.count(0x12)))
    return sw(SW_REF_NOT_FOUND);
  if (a.data.size() != n->second.size()) return sw(SW_WRONG_LENGTH);
  if (priv && !userPinVerifiedFor(s_.envDf)) return sw(SW_SECURITY);
  Bytes out(a.data.size());
  if (!rsaRaw(k->comps, priv, a.data.data(), a.data.size(), out.data())) return sw(SW_WRONG_DATA);
  if (a.p1 == 0x9E && s_.envAlg == 0x13) {
    s_.pending = true;
    s_.pressed = false;
    s_.pendingSig = out;
    s_.pendingSince = std::chrono::steady_clock::now();
    return ok();
  }
  return ok(out);
}

bool Card::signatureWaiting() const { return s_.pending; }

bool Card::pressButton() {
  if (!s_.pending) return false;
  s_.pressed = true;
  return true;
}

Answer Card::cmdFetchSignature(const Apdu &a) {
  if (a.p1 != 0 || a.p2 != 0) return sw(SW_WRONG_P1P2);
  if (!s_.pending) return sw(SW_CONDITIONS);
  bool confirmed = s_.pressed;
  if (!confirmed && cfg_.button == ButtonMode::Auto)
    confirmed = std::chrono::steady_clock::now() - s_.pendingSince >=
                std::chrono::milliseconds(cfg_.buttonDelayMs);
  if (!confirmed) return sw(SW_WAITING);
  s_.pending = false;
  Bytes sig;
  sig.swap(s_.pendingSig);
  return ok(sig);
}

Answer Card::cmdCancelSignature(const Apdu &a) {
  if (a.p1 != 0 || a.p2 != 0) return sw(SW_WRONG_P1P2);
  s_.pending = false;
  s_.pendingSig.clear();
  return ok();
}

}  // namespace tokensim
