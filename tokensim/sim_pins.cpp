// The PIN family: key files and their entries, verify, change and install, reset, log out.
#include "sim_card_family.h"

namespace tokensim {

using namespace card;

// ---- PINs and keys

FileNode *Card::findKeyFile(FileNode *df) const {
  if (!df) return nullptr;
  for (const auto &c : df->children)
    if (c->isKeyFile()) return c.get();
  return nullptr;
}

// A PIN or key: the key file of the current DF, else of a parent DF.
KeyEntry *Card::findKey(FileNode *df, uint8_t ref, FileNode **owner) const {
  for (; df; df = df->parent) {
    if (FileNode *kf = findKeyFile(df)) {
      for (KeyEntry &k : kf->keys)
        if (k.ref == ref) {
          if (owner) *owner = kf;
          return &k;
        }
    }
  }
  return nullptr;
}

// The user PIN the device information reports: the one the current DF sees, else DF01's.
KeyEntry *Card::userPinEntry(FileNode **owner) const {
  if (!mf_) return nullptr;
  if (KeyEntry *k = findKey(s_.curDf ? s_.curDf : mf_.get(), kUserPin, owner)) return k;
  if (FileNode *df01 = mf_->child(0xDF01)) return findKey(df01, kUserPin, owner);
  return nullptr;
}

bool Card::isVerified(const FileNode *kf, uint8_t ref) const {
  for (const auto &e : s_.verified)
    if (e.first == kf && e.second == ref) return true;
  return false;
}

void Card::setVerified(const FileNode *kf, uint8_t ref, bool on) {
  auto &v = s_.verified;
  v.erase(std::remove(v.begin(), v.end(), std::make_pair(kf, ref)), v.end());
  if (on) v.emplace_back(kf, ref);
}

bool Card::userPinVerifiedFor(FileNode *df) const {
  FileNode *kf = nullptr;
  if (!findKey(df, kUserPin, &kf)) return false;
  return isVerified(kf, kUserPin);
}

Answer Card::cmdVerify(const Apdu &a) {
  if (a.p1 != 0 || (a.p2 != kUserPin && a.p2 != kSoPin)) return sw(SW_WRONG_P1P2);
  if (a.data.size() > 32) return sw(SW_WRONG_LENGTH);
  FileNode *kf = nullptr;
  KeyEntry *k = findKey(s_.curDf, a.p2, &kf);
  if (!k) return sw(SW_REF_NOT_FOUND);
  if (k->tries == 0) return sw(SW_BLOCKED);
  if (a.data.empty())  // status query: no attempt is counted
    return isVerified(kf, a.p2) ? ok() : sw(uint16_t(0x63C0 | k->tries));
  changed_ = true;
  if (a.data == k->value) {
    k->tries = k->maxTries;
    setVerified(kf, a.p2, true);
    return ok();
  }
  k->tries--;
  setVerified(kf, a.p2, false);
  return sw(uint16_t(0x63C0 | k->tries));
}

// 00 24: P1 low nibble 1 installs a PIN or key ((number << 4) + 1; 8 header bytes, then the
// value), P1 00 changes one (PINs: old length, old, new length, new; C1/C2 keys: the new value).
Answer Card::cmdChangeOrInstall(const Apdu &a) {
  bool pin = a.p2 == kUserPin || a.p2 == kSoPin;
  bool key = a.p2 == 0xC1 || a.p2 == 0xC2;
  if (!pin && !key) return sw(SW_WRONG_P1P2);
  if ((a.p1 & 0x0F) == 0x01) {
    if (!s_.channelOpen) return sw(SW_SECURITY);
    FileNode *kf = findKeyFile(s_.curDf);
    if (!kf) return sw(SW_FILE_NOT_FOUND);
    if (a.data.size() < 8 || a.data.size() != 8u + a.data[7]) return sw(SW_WRONG_LENGTH);
    const uint8_t *h = a.data.data();
    uint8_t vlen = h[7];
    if (vlen < 4 || vlen > 32 || h[2] == 0 || h[2] > 15) return sw(SW_WRONG_DATA);
    KeyEntry e;
    e.ref = a.p2;
    e.number = uint8_t(a.p1 >> 4);
    e.access1 = h[0]; e.access2 = h[1]; e.maxTries = e.tries = h[2]; e.keyClass = h[3];
    e.usage = h[6];
    e.value.assign(h + 8, h + 8 + vlen);
    size_t used = 0;
    for (const KeyEntry &k : kf->keys)
      if (!(k.ref == e.ref && k.number == e.number)) used += 8 + k.value.size();
    if (used + 8 + vlen > kf->size) return sw(SW_NO_MEMORY);
    auto &ks = kf->keys;
    ks.erase(std::remove_if(ks.begin(), ks.end(),
                            [&](const KeyEntry &k) { return k.ref == e.ref && k.number == e.number; }),
             ks.end());
    ks.push_back(std::move(e));
    setVerified(kf, a.p2, false);
    changed_ = true;
    return ok();
  }
  if (a.p1 != 0x00) return sw(SW_WRONG_P1P2);
  FileNode *kf = nullptr;
  KeyEntry *k = findKey(s_.curDf, a.p2, &kf);
  if (!k) return sw(SW_REF_NOT_FOUND);
  if (key) {
    if (!s_.channelOpen) return sw(SW_SECURITY);
    if (a.data.size() < 4 || a.data.size() > 32) return sw(SW_WRONG_LENGTH);
    k->value = a.data;
    changed_ = true;
    return ok();
  }
  const Bytes &d = a.data;
  if (d.empty() || 1u + d[0] >= d.size()) return sw(SW_WRONG_LENGTH);
  size_t oldLen = d[0], newLen = d[1 + oldLen];
  if (2 + oldLen + newLen != d.size() || oldLen == 0 || oldLen > 32 || newLen > 32)
    return sw(SW_WRONG_LENGTH);
  if (newLen < 4) return sw(SW_WRONG_DATA);
  if (k->tries == 0) return sw(SW_BLOCKED);
  changed_ = true;
  if (!std::equal(d.begin() + 1, d.begin() + 1 + long(oldLen), k->value.begin(), k->value.end())) {
    k->tries--;
    setVerified(kf, a.p2, false);
    return sw(uint16_t(0x63C0 | k->tries));
  }
  k->value.assign(d.begin() + 2 + long(oldLen), d.end());
  k->tries = k->maxTries;
  if (a.p2 == kUserPin) k->changed = 1;
  setVerified(kf, a.p2, true);
  return ok();
}

Answer Card::cmdResetPin(const Apdu &a) {
  if (a.p1 != 0x00 || a.p2 != kUserPin) return sw(SW_WRONG_P1P2);
  if (a.data.empty() || a.data.size() > 32) return sw(SW_WRONG_LENGTH);
  FileNode *kf = nullptr;
  KeyEntry *k = findKey(s_.curDf, kUserPin, &kf);
  if (!k) return sw(SW_REF_NOT_FOUND);
  FileNode *sokf = nullptr;
  if (!findKey(s_.curDf, kSoPin, &sokf) || !isVerified(sokf, kSoPin)) return sw(SW_SECURITY);
  if (a.data.size() < 4) return sw(SW_WRONG_DATA);
  k->value = a.data;
  k->tries = k->maxTries;
  k->changed = 1;
  setVerified(kf, kUserPin, false);
  changed_ = true;
  return ok();
}

Answer Card::cmdLogOut(const Apdu &) {
  s_.verified.clear();
  s_.pending = false;
  s_.pendingSig.clear();
  return ok();
}

}  // namespace tokensim
