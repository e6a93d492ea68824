#include "sim_card.h"

#include <string.h>

#include <algorithm>

#include "../tokenlib/core/base/uk_card_keys.h"

namespace tokensim {

namespace {

constexpr uint16_t SW_AUTH_FAILED = 0x6300;
constexpr uint16_t SW_WAITING = 0x6785;
constexpr uint16_t SW_WRONG_LENGTH = 0x6700;
constexpr uint16_t SW_FILE_INCOMPATIBLE = 0x6981;
constexpr uint16_t SW_SECURITY = 0x6982;
constexpr uint16_t SW_BLOCKED = 0x6983;
constexpr uint16_t SW_CONDITIONS = 0x6985;
constexpr uint16_t SW_NO_CURRENT_EF = 0x6986;
constexpr uint16_t SW_SM_WRONG = 0x6988;
constexpr uint16_t SW_WRONG_DATA = 0x6A80;
constexpr uint16_t SW_FUNC_NOT_SUPPORTED = 0x6A81;
constexpr uint16_t SW_FILE_NOT_FOUND = 0x6A82;
constexpr uint16_t SW_RECORD_NOT_FOUND = 0x6A83;
constexpr uint16_t SW_NO_MEMORY = 0x6A84;
constexpr uint16_t SW_WRONG_P1P2 = 0x6A86;
constexpr uint16_t SW_REF_NOT_FOUND = 0x6A88;
constexpr uint16_t SW_FILE_EXISTS = 0x6A89;
constexpr uint16_t SW_WRONG_OFFSET = 0x6B00;
constexpr uint16_t SW_INS = 0x6D00;
constexpr uint16_t SW_CLA = 0x6E00;
constexpr uint16_t SW_END_OF_FILE = 0x6282;

constexpr size_t kMaxChildren = 64;
constexpr uint8_t kUserPin = 0xA1, kSoPin = 0xA4;

Answer sw(uint16_t w) {
  Answer a;
  a.sw = w;
  return a;
}
Answer ok(Bytes d = {}) {
  Answer a;
  a.data = std::move(d);
  return a;
}

uint16_t be16(const uint8_t *p) { return uint16_t((p[0] << 8) | p[1]); }

// Bare TLVs with one-byte tags and one-byte lengths, as the file control parameters and the
// crypto environment use them. False on a truncated or malformed list.
struct Tlv {
  uint8_t tag;
  const uint8_t *v;
  size_t len;
};
bool parseTlvs(const Bytes &d, std::vector<Tlv> *out) {
  size_t i = 0;
  while (i < d.size()) {
    if (i + 2 > d.size()) return false;
    uint8_t tag = d[i], len = d[i + 1];
    if (i + 2 + len > d.size()) return false;
    out->push_back({tag, d.data() + i + 2, len});
    i += 2 + size_t(len);
  }
  return true;
}
const Tlv *findTlv(const std::vector<Tlv> &t, uint8_t tag) {
  for (const Tlv &x : t)
    if (x.tag == tag) return &x;
  return nullptr;
}

void isoPad(Bytes *b) {
  b->push_back(0x80);
  while (b->size() % 8) b->push_back(0);
}

bool descriptorKnown(uint8_t d) {
  switch (d) {
    case 0x01: case 0x03: case 0x07: case 0x38: case 0x13: case 0x15: case 0x11: case 0x10:
      return true;
    default:
      return false;
  }
}

// Key diversification data of a card: fixed bytes 0-5, bytes 6-9 from the serial number, so that
// each token has its own card keys.
void diversificationData(const std::string &serial, uint8_t out[10]) {
  uint32_t h = 2166136261u;
  for (unsigned char c : serial) h = (h ^ c) * 16777619u;
  const uint8_t fixed[6] = {0x4B, 0x53, 0x51, 0x35, 0x37, 0x01};
  memcpy(out, fixed, 6);
  out[6] = uint8_t(h >> 24);
  out[7] = uint8_t(h >> 16);
  out[8] = uint8_t(h >> 8);
  out[9] = uint8_t(h);
}

bool isInSubtree(const FileNode *n, const FileNode *root) {
  for (; n; n = n->parent)
    if (n == root) return true;
  return false;
}

// ---- image serialization
struct Writer {
  Bytes out;
  void u8(uint8_t v) { out.push_back(v); }
  void u16(uint16_t v) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
  void u32(uint32_t v) { u16(uint16_t(v >> 16)); u16(uint16_t(v)); }
  void bytes(const Bytes &b) { u32(uint32_t(b.size())); out.insert(out.end(), b.begin(), b.end()); }
  void str(const std::string &s) { bytes(Bytes(s.begin(), s.end())); }
};
struct Reader {
  const uint8_t *p;
  size_t n, i = 0;
  bool bad = false;
  bool need(size_t k) {
    if (bad || n - i < k) { bad = true; return false; }
    return true;
  }
  uint8_t u8() { return need(1) ? p[i++] : 0; }
  uint16_t u16() { uint16_t h = u8(); return uint16_t((h << 8) | u8()); }
  uint32_t u32() { uint32_t h = u16(); return (h << 16) | u16(); }
  Bytes bytes() {
    uint32_t len = u32();
    if (len > 65536 || !need(len)) { bad = true; return {}; }
    Bytes b(p + i, p + i + len);
    i += len;
    return b;
  }
  std::string str() { Bytes b = bytes(); return std::string(b.begin(), b.end()); }
};

void writeNode(Writer &w, const FileNode &n) {
  w.u16(n.fid); w.u8(n.desc); w.u8(n.desc2); w.u16(n.size);
  w.bytes(n.fcp); w.bytes(n.prop); w.bytes(n.sec); w.bytes(n.dfName); w.bytes(n.data);
  w.u16(uint16_t(n.records.size()));
  for (const Bytes &r : n.records) w.bytes(r);
  w.u8(uint8_t(n.comps.size()));
  for (const auto &c : n.comps) { w.u8(c.first); w.bytes(c.second); }
  w.u8(uint8_t(n.keys.size()));
  for (const KeyEntry &k : n.keys) {
    w.u8(k.ref); w.u8(k.number); w.u8(k.access1); w.u8(k.access2); w.u8(k.usage);
    w.u8(k.keyClass); w.u8(k.maxTries); w.u8(k.tries); w.u8(k.changed); w.bytes(k.value);
  }
  w.u16(uint16_t(n.children.size()));
  for (const auto &c : n.children) writeNode(w, *c);
}

std::unique_ptr<FileNode> readNode(Reader &r, FileNode *parent, int depth) {
  if (depth > 8) { r.bad = true; return nullptr; }
  auto n = std::make_unique<FileNode>();
  n->parent = parent;
  n->fid = r.u16(); n->desc = r.u8(); n->desc2 = r.u8(); n->size = r.u16();
  n->fcp = r.bytes(); n->prop = r.bytes(); n->sec = r.bytes(); n->dfName = r.bytes();
  n->data = r.bytes();
  uint16_t recs = r.u16();
  if (recs > 255) r.bad = true;
  for (uint16_t i = 0; i < recs && !r.bad; ++i) n->records.push_back(r.bytes());
  uint8_t comps = r.u8();
  for (uint8_t i = 0; i < comps && !r.bad; ++i) {
    uint8_t tag = r.u8();
    n->comps[tag] = r.bytes();
  }
  uint8_t keys = r.u8();
  for (uint8_t i = 0; i < keys && !r.bad; ++i) {
    KeyEntry k;
    k.ref = r.u8(); k.number = r.u8(); k.access1 = r.u8(); k.access2 = r.u8(); k.usage = r.u8();
    k.keyClass = r.u8(); k.maxTries = r.u8(); k.tries = r.u8(); k.changed = r.u8();
    k.value = r.bytes();
    n->keys.push_back(std::move(k));
  }
  uint16_t kids = r.u16();
  if (kids > kMaxChildren) r.bad = true;
  for (uint16_t i = 0; i < kids && !r.bad; ++i) {
    auto c = readNode(r, n.get(), depth + 1);
    if (c) n->children.push_back(std::move(c));
  }
  if (!descriptorKnown(n->desc)) r.bad = true;
  if (r.bad) return nullptr;
  return n;
}

constexpr uint8_t kImageMagic[4] = {'U', 'K', 'T', 'S'};
constexpr uint8_t kImageVersion = 1;

}  // namespace

FileNode *FileNode::child(uint16_t id) const {
  for (const auto &c : children)
    if (c->fid == id) return c.get();
  return nullptr;
}

Bytes buildRequestFrame(const Apdu &a) {
  Bytes f;
  size_t lc = a.data.size();
  size_t l = lc + 10;
  f.push_back(uint8_t(l >> 8));
  f.push_back(uint8_t(l));
  f.insert(f.end(), {a.cla, a.ins, a.p1, a.p2, 0x00, uint8_t(lc >> 8), uint8_t(lc)});
  f.insert(f.end(), a.data.begin(), a.data.end());
  f.insert(f.end(), {0x00, uint8_t(a.le >> 8), uint8_t(a.le)});
  return f;
}

Bytes buildResponseFrame(const Answer &a) {
  Bytes f;
  size_t l = a.data.size() + 2;
  f.push_back(uint8_t(l >> 8));
  f.push_back(uint8_t(l));
  f.insert(f.end(), a.data.begin(), a.data.end());
  f.push_back(uint8_t(a.sw >> 8));
  f.push_back(uint8_t(a.sw));
  return f;
}

std::string Card::defaultUserPin(const std::string &serial) {
  return serial.size() > 6 && serial[6] == '2' ? "937260" : "482915";
}

Card::Card(TokenConfig cfg) : cfg_(std::move(cfg)) {}
Card::~Card() = default;

void Card::powerCycle() {
  s_ = Session();
  s_.curDf = mf_.get();
}

void Card::blank() {
  mf_.reset();
  powerCycle();
  changed_ = true;
}

Bytes Card::processFrame(const uint8_t *f, size_t len, bool *changed) {
  changed_ = false;
  lastUnwrapped_.clear();
  Answer ans;
  if (len < 12 || len > kMaxFrame) {
    ans = sw(SW_WRONG_LENGTH);
  } else {
    size_t l = be16(f), lc = be16(f + 7);
    if (l + 2 != len || lc + 12 != len || f[6] != 0 || f[9 + lc] != 0) {
      ans = sw(SW_WRONG_LENGTH);
    } else {
      Apdu a;
      a.cla = f[2]; a.ins = f[3]; a.p1 = f[4]; a.p2 = f[5];
      a.data.assign(f + 9, f + 9 + lc);
      a.le = be16(f + 10 + lc);
      ans = dispatch(a);
    }
  }
  if (changed) *changed = changed_;
  return buildResponseFrame(ans);
}

Answer Card::dispatch(const Apdu &a) {
  uint8_t hi = a.cla & 0xF0, lo = a.cla & 0x0F;
  if ((hi != 0x00 && hi != 0x80) || (lo != 0 && lo != 4)) return sw(SW_CLA);
  if (lo == 4 && a.ins != 0x82) return secureMessaging(a);
  switch (a.ins) {
    case 0xA4: return cmdSelect(a);
    case 0xB0: return cmdReadBinary(a);
    case 0xD0: return cmdWriteBinary(a);
    case 0xE0: return cmdCreate(a);
    case 0xE4: return cmdDelete(a);
    case 0xB2: return cmdReadRecord(a);
    case 0xDC: return cmdUpdateRecord(a);
    case 0x0C: return cmdEraseRecord(a);
    case 0x20: return cmdVerify(a);
    case 0x24: return cmdChangeOrInstall(a);
    case 0xFC: return cmdResetPin(a);
    case 0x2E: return cmdLogOut(a);
    case 0x84: return cmdChallenge(a);
    case 0xF0: return cmdDevInfo(a);
    case 0xCB: return cmdGetData(a);
    case 0xDB: return cmdPutData(a);
    case 0x46: return cmdGenKeyPair(a);
    case 0x22: return cmdSetEnv(a);
    case 0x2A: return cmdPso(a);
    case 0x52: return cmdFetchSignature(a);
    case 0x54: return cmdCancelSignature(a);
    case 0x50: return cmdInitUpdate(a);
    case 0x82: return cmdExternalAuth(a);
    default: return sw(SW_INS);
  }
}

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

// ---- files

FileNode *Card::findForSelect(uint16_t fid) const {
  if (!mf_) return nullptr;
  if (fid == 0x3F00) return mf_.get();
  FileNode *df = s_.curDf ? s_.curDf : mf_.get();
  if (df->fid == fid) return df;
  if (FileNode *c = df->child(fid)) return c;
  if (df->parent && df->parent->fid == fid) return df->parent;
  return nullptr;
}

Answer Card::cmdSelect(const Apdu &a) {
  if (a.p1 != 0x00 || (a.p2 != 0x00 && a.p2 != 0x0C)) return sw(SW_WRONG_P1P2);
  if (a.data.size() != 2) return sw(SW_WRONG_LENGTH);
  FileNode *n = findForSelect(be16(a.data.data()));
  if (!n) return sw(SW_FILE_NOT_FOUND);
  if (n->isDf()) {
    s_.curDf = n;
    s_.curEf = nullptr;
  } else {
    s_.curDf = n->parent;
    s_.curEf = n;
  }
  return a.p2 == 0x0C ? ok() : ok(n->fcp);
}

Answer Card::cmdReadBinary(const Apdu &a) {
  if (a.p1 & 0x80) return sw(SW_WRONG_P1P2);
  if (!s_.curEf) return sw(SW_NO_CURRENT_EF);
  if (!s_.curEf->isTransparent()) return sw(SW_FILE_INCOMPATIBLE);
  size_t off = size_t((a.p1 << 8) | a.p2);
  const Bytes &d = s_.curEf->data;
  if (off > d.size() || (off == d.size() && a.le != 0)) return sw(SW_WRONG_OFFSET);
  if (a.le > 1024) return sw(SW_WRONG_LENGTH);  // the chip's I/O buffer
  size_t want = a.le ? a.le : std::min<size_t>(d.size() - off, 1024);
  size_t got = std::min(want, d.size() - off);
  Answer r = ok(Bytes(d.begin() + long(off), d.begin() + long(off + got)));
  if (got < want) r.sw = SW_END_OF_FILE;
  return r;
}

Answer Card::cmdWriteBinary(const Apdu &a) {
  if (a.p1 & 0x80) return sw(SW_WRONG_P1P2);
  if (a.data.empty()) return sw(SW_WRONG_LENGTH);
  if (!s_.curEf) return sw(SW_NO_CURRENT_EF);
  if (!s_.curEf->isTransparent()) return sw(SW_FILE_INCOMPATIBLE);
  size_t off = size_t((a.p1 << 8) | a.p2);
  Bytes &d = s_.curEf->data;
  if (off > d.size()) return sw(SW_WRONG_OFFSET);
  if (off + a.data.size() > d.size()) return sw(SW_NO_MEMORY);
  std::copy(a.data.begin(), a.data.end(), d.begin() + long(off));
  changed_ = true;
  return ok();
}

size_t Card::memoryUsed(const FileNode *n) const {
  if (!n) return 0;
  size_t used = 32 + n->fcp.size() + n->data.size();
  if (n->isRecord()) used += n->records.size() * n->size;
  if (n->isPrivKey() || n->isPubKey() || n->isSymKey()) used += n->size / 8 * (n->isPrivKey() ? 5 : 2);
  if (n->isKeyFile()) used += n->size;
  for (const auto &c : n->children) used += memoryUsed(c.get());
  return used;
}

// Create file: the data is the bare list of file control parameters the library builds
// (83 FID, 82 descriptor, 80 size, 88 SFI, 84 DF name, 85 proprietary, 86 security). The card
// keeps the list as given and answers it to a later select.
Answer Card::cmdCreate(const Apdu &a) {
  if (a.p1 != 0 || a.p2 != 0) return sw(SW_WRONG_P1P2);
  std::vector<Tlv> t;
  if (a.data.empty() || !parseTlvs(a.data, &t)) return sw(SW_WRONG_DATA);
  const Tlv *tf = findTlv(t, 0x83), *td = findTlv(t, 0x82), *ts = findTlv(t, 0x80);
  const Tlv *tp = findTlv(t, 0x85), *tsec = findTlv(t, 0x86), *tn = findTlv(t, 0x84);
  if (!tf || tf->len != 2 || !td || td->len != 2 || !descriptorKnown(td->v[0]))
    return sw(SW_WRONG_DATA);
  auto n = std::make_unique<FileNode>();
  n->fid = be16(tf->v);
  n->desc = td->v[0];
  n->desc2 = td->v[1];
  n->fcp = a.data;
  if (tp) n->prop.assign(tp->v, tp->v + tp->len);
  if (tsec) n->sec.assign(tsec->v, tsec->v + tsec->len);
  if (tn) n->dfName.assign(tn->v, tn->v + tn->len);
  if (n->fid == 0x0000 || n->fid == 0xFFFF || n->fid == 0x3FFF) return sw(SW_WRONG_DATA);

  if (n->isDf()) {
    if (!s_.channelOpen) return sw(SW_SECURITY);
    if (tn && tn->len > 16) return sw(SW_WRONG_DATA);
    if (n->fid == 0x3F00) {
      if (mf_) return sw(SW_FILE_EXISTS);
      mf_ = std::move(n);
      s_.curDf = mf_.get();
      s_.curEf = nullptr;
      changed_ = true;
      return ok();
    }
  } else {
    if (!ts || ts->len != 2) return sw(SW_WRONG_DATA);
    n->size = be16(ts->v);
    uint16_t sz = n->size;
    uint8_t p0 = n->prop.empty() ? 0 : n->prop[0];
    switch (n->desc) {
      case 0x13: case 0x15:
        if (sz != 1024 && sz != 2048) return sw(SW_WRONG_DATA);
        break;
      case 0x11:
        if (p0 == 0x01 ? !(sz == 64 || sz == 128 || sz == 192)
            : p0 == 0x02 ? !(sz == 128 || sz == 192 || sz == 256)
            : (p0 == 0x08 || p0 == 0x04) ? sz != 128 : true)
          return sw(SW_WRONG_DATA);
        break;
      case 0x03: case 0x07:
        if (sz == 0 || sz > 255 || p0 == 0) return sw(SW_WRONG_DATA);
        n->records.resize(p0);
        break;
      case 0x01:
        if (sz == 0 || sz > kMaxFileSize) return sw(SW_WRONG_DATA);
        n->data.assign(sz, 0);
        break;
      case 0x10:
        if (sz == 0 || sz > 1024) return sw(SW_WRONG_DATA);
        break;
    }
    if (n->fid == 0x3F00) return sw(SW_WRONG_DATA);
  }
  if (!mf_) return sw(SW_FILE_NOT_FOUND);
  FileNode *df = s_.curDf ? s_.curDf : mf_.get();
  if (df->fid == n->fid || df->child(n->fid)) return sw(SW_FILE_EXISTS);
  if (df->children.size() >= kMaxChildren) return sw(SW_NO_MEMORY);
  if (memoryUsed(mf_.get()) + memoryUsed(n.get()) > kMemory) return sw(SW_NO_MEMORY);
  if (n->isSymKey() && n->prop.size() >= 3 && n->prop[2] == 1) {
    Bytes k(n->size / 8);
    randomBytes(k.data(), k.size());
    n->comps[0x20] = k;
  }
  n->parent = df;
  FileNode *raw = n.get();
  df->children.push_back(std::move(n));
  if (raw->isDf()) {
    s_.curDf = raw;
    s_.curEf = nullptr;
  } else {
    s_.curEf = raw;
  }
  changed_ = true;
  return ok();
}

void Card::forgetPaths(const FileNode *gone) {
  if (isInSubtree(s_.curEf, gone)) s_.curEf = nullptr;
  if (isInSubtree(s_.curDf, gone)) s_.curDf = gone->parent;
  if (isInSubtree(s_.envDf, gone)) { s_.envDf = nullptr; s_.envP1 = s_.envP2 = 0; }
  auto &v = s_.verified;
  v.erase(std::remove_if(v.begin(), v.end(),
                         [&](const std::pair<const FileNode *, uint8_t> &e) {
                           return isInSubtree(e.first, gone);
                         }),
          v.end());
}

Answer Card::cmdDelete(const Apdu &a) {
  if (a.p2 != 0 || (a.p1 != 0x00 && a.p1 != 0x02)) return sw(SW_WRONG_P1P2);
  if (a.data.size() != 2) return sw(SW_WRONG_LENGTH);
  if (!mf_) return sw(SW_FILE_NOT_FOUND);
  uint16_t fid = be16(a.data.data());
  if (fid == 0x3F00) {
    if (a.p1 != 0x00) return sw(SW_WRONG_P1P2);
    if (!s_.channelOpen) return sw(SW_SECURITY);
    forgetPaths(mf_.get());
    mf_.reset();
    s_.curDf = nullptr;
    changed_ = true;
    return ok();
  }
  FileNode *df = s_.curDf ? s_.curDf : mf_.get();
  auto &kids = df->children;
  auto it = std::find_if(kids.begin(), kids.end(), [&](const auto &c) { return c->fid == fid; });
  if (it == kids.end()) return sw(SW_FILE_NOT_FOUND);
  if ((*it)->isDf() && !s_.channelOpen) return sw(SW_SECURITY);
  forgetPaths(it->get());
  kids.erase(it);
  changed_ = true;
  return ok();
}

// ---- records: 00 B2/DC/0C rec 04; a read answers 4 header bytes (record number, 00, 00,
// record length) before the record.

Answer Card::cmdReadRecord(const Apdu &a) {
  if (a.p2 != 0x04) return sw(SW_WRONG_P1P2);
  if (!s_.curEf) return sw(SW_NO_CURRENT_EF);
  if (!s_.curEf->isRecord()) return sw(SW_FILE_INCOMPATIBLE);
  auto &recs = s_.curEf->records;
  if (a.p1 == 0 || a.p1 > recs.size() || recs[a.p1 - 1].empty()) return sw(SW_RECORD_NOT_FOUND);
  const Bytes &rec = recs[a.p1 - 1];
  size_t total = rec.size() + 4;
  if (a.le != 0 && a.le < total) return sw(uint16_t(0x6100 | (total > 255 ? 0 : total)));
  Bytes d = {a.p1, 0x00, 0x00, uint8_t(rec.size())};
  d.insert(d.end(), rec.begin(), rec.end());
  return ok(d);
}

Answer Card::cmdUpdateRecord(const Apdu &a) {
  if (a.p2 != 0x04) return sw(SW_WRONG_P1P2);
  if (!s_.curEf) return sw(SW_NO_CURRENT_EF);
  if (!s_.curEf->isRecord()) return sw(SW_FILE_INCOMPATIBLE);
  auto &recs = s_.curEf->records;
  if (a.p1 == 0 || a.p1 > recs.size()) return sw(SW_RECORD_NOT_FOUND);
  if (a.data.empty() || a.data.size() > s_.curEf->size) return sw(SW_WRONG_LENGTH);
  Bytes rec = a.data;
  rec.resize(s_.curEf->size, 0);
  recs[a.p1 - 1] = rec;
  changed_ = true;
  return ok();
}

Answer Card::cmdEraseRecord(const Apdu &a) {
  if (a.p2 != 0x04) return sw(SW_WRONG_P1P2);
  if (!s_.curEf) return sw(SW_NO_CURRENT_EF);
  if (!s_.curEf->isRecord()) return sw(SW_FILE_INCOMPATIBLE);
  auto &recs = s_.curEf->records;
  if (a.p1 == 0 || a.p1 > recs.size()) return sw(SW_RECORD_NOT_FOUND);
  recs[a.p1 - 1].clear();
  changed_ = true;
  return ok();
}

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

// Device information: 00 F0 00 item (00 hardware bytes, 01 COS version, 02 serial number,
// 03 free memory, 05 project name), and 00 F0 A1 00, nine status bytes:
//   0 file system present, 1 user PIN retry limit, 2 user PIN tries left, 3 SO PIN retry limit,
//   4 SO PIN tries left, 5 user PIN usable (0 while blocked), 6 SO PIN usable,
//   7 reserved, 8 user PIN changed since the last format (0 while it has its factory value).
Answer Card::cmdDevInfo(const Apdu &a) {
  Bytes d;
  auto text = [&](const std::string &s, size_t width) {
    d.assign(width, 0);
    memcpy(d.data(), s.data(), std::min(s.size(), width));
  };
  if (a.p1 == 0xA1 && a.p2 == 0x00) {
    FileNode *kf = nullptr;
    KeyEntry *u = userPinEntry(&kf);
    if (!u) return sw(SW_REF_NOT_FOUND);
    KeyEntry *so = findKey(kf->parent, kSoPin, nullptr);
    d = {0x01, u->maxTries, u->tries, uint8_t(so ? so->maxTries : 0), uint8_t(so ? so->tries : 0),
         uint8_t(u->tries ? 1 : 0), uint8_t(so && so->tries ? 1 : 0), 0x00,
         uint8_t(u->changed ? 1 : 0)};
  } else if (a.p1 == 0x00) {
    switch (a.p2) {
      case 0x00: text("ZV-UK Q57 KESTRA", 16); break;
      case 0x01: text(cfg_.cosVersion, 12); break;
      case 0x02: text(cfg_.serial, 32); break;
      case 0x03: {
        size_t used = memoryUsed(mf_.get());
        uint32_t fr = uint32_t(used >= kMemory ? 0 : kMemory - used);
        d = {uint8_t(fr >> 24), uint8_t(fr >> 16), uint8_t(fr >> 8), uint8_t(fr)};
        break;
      }
      case 0x05: text(cfg_.projectName, 16); break;
      default: return sw(SW_WRONG_P1P2);
    }
  } else {
    return sw(SW_WRONG_P1P2);
  }
  if (a.le != 0 && a.le < d.size()) d.resize(a.le);
  return ok(d);
}

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
    if (a.p2 != 0xB8) return sw(SW_WRONG_DATA);
    uint8_t cls = k->prop.empty() ? 0 : k->prop[0];
    size_t ivLen;
    if (cls == 0x01 && (alg == 1 || alg == 2)) ivLen = 8;
    else if (cls == 0x02 && (alg == 4 || alg == 5)) ivLen = 16;
    else if ((cls == 0x08 && (alg == 8 || alg == 9)) || (cls == 0x04 && (alg == 6 || alg == 7)))
      return sw(SW_FUNC_NOT_SUPPORTED);
    else
      return sw(SW_WRONG_DATA);
    if (tiv && tiv->len != ivLen) return sw(SW_WRONG_DATA);
    s_.envIv.assign(ivLen, 0);
    if (tiv) s_.envIv.assign(tiv->v, tiv->v + tiv->len);
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
  if (k->isSymKey()) {
    auto it = k->comps.find(0x20);
    if (it == k->comps.end()) return sw(SW_REF_NOT_FOUND);
    const Bytes &key = it->second;
    Bytes d = a.data;
    bool enc = a.p1 == 0x86;
    bool done;
    if (k->prop[0] == 0x01) {
      if (d.size() % 8) return sw(SW_WRONG_LENGTH);
      done = desCrypt(key.data(), key.size(), s_.envAlg == 2, enc, s_.envIv.data(), d.data(), d.size());
    } else {
      if (d.size() % 16) return sw(SW_WRONG_LENGTH);
      done = aesCrypt(key.data(), key.size(), s_.envAlg == 5, enc, s_.envIv.data(), d.data(), d.size());
    }
    return done ? ok(d) : sw(0x6F00);
  }
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

// ---- factory state and image

void Card::factoryFormat(const std::string &userPin, const std::string &soPin, uint8_t userTries,
                         uint8_t soTries, const std::string &label) {
  mf_.reset();
  powerCycle();
  s_.channelOpen = true;
  auto run = [&](std::initializer_list<uint8_t> hdr, Bytes data) {
    Apdu a;
    auto it = hdr.begin();
    a.cla = it[0]; a.ins = it[1]; a.p1 = it[2]; a.p2 = it[3];
    a.data = std::move(data);
    dispatch(a);
  };
  const Bytes zeros8(8, 0);
  auto fcp = [](std::initializer_list<uint8_t> b) { return Bytes(b); };
  run({0x00, 0xE0, 0x00, 0x00}, fcp({0x83, 0x02, 0x3F, 0x00, 0x82, 0x02, 0x38, 0x00, 0x84, 0x02,
                                     0x3F, 0x00, 0x85, 0x05, 0, 0, 0, 0, 0, 0x86, 0x08, 0, 0, 0,
                                     0, 0, 0, 0, 0}));
  run({0x00, 0xE0, 0x00, 0x00},
      fcp({0x83, 0x02, 0xDF, 0x01, 0x82, 0x02, 0x38, 0x00, 0x84, 0x0C, 0xA0, 0x00, 0x00, 0x00,
           'c', 'P', 'K', 'C', 'S', '-', '1', '5', 0x85, 0x05, 0, 0, 0, 0, 0, 0x86, 0x08, 0, 0,
           0, 0, 0, 0, 0, 0}));
  run({0x00, 0xE0, 0x00, 0x00}, fcp({0x83, 0x02, 0x2F, 0x02, 0x82, 0x02, 0x10, 0x00, 0x80, 0x02,
                                     0x01, 0x00, 0x85, 0x01, 0x00, 0x86, 0x01, 0x00}));
  auto install = [&](uint8_t p2, uint8_t acc2, uint8_t tries, uint8_t cls, const Bytes &v) {
    Bytes d = {0x00, acc2, tries, cls, 0x00, 0x00, 0x00, uint8_t(v.size())};
    d.insert(d.end(), v.begin(), v.end());
    run({0x00, 0x24, 0x01, p2}, d);
  };
  install(0xC2, 8, 15, 1, Bytes(uk::kExtAuthKey1, uk::kExtAuthKey1 + 16));
  install(0xC1, 8, 15, 1, Bytes(uk::kExtAuthKey2, uk::kExtAuthKey2 + 16));
  install(kUserPin, 9, userTries ? userTries : 10, 0, Bytes(userPin.begin(), userPin.end()));
  install(kSoPin, 8, soTries ? soTries : 10, 0, Bytes(soPin.begin(), soPin.end()));
  label_ = label;
  for (uint16_t fid : {0x5000, 0x6000, 0x7000}) {
    uint8_t recs = fid == 0x7000 ? 0x08 : 0x10;
    run({0x00, 0xE0, 0x00, 0x00},
        fcp({0x83, 0x02, uint8_t(fid >> 8), 0x00, 0x82, 0x02, 0x03, 0x00, 0x80, 0x02, 0x00, 0xC0,
             0x85, 0x03, recs, 0x00, 0x00, 0x86, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}));
    s_.curEf = nullptr;
  }
  powerCycle();
  changed_ = true;
}

Bytes Card::saveImage() const {
  Writer w;
  w.out.insert(w.out.end(), kImageMagic, kImageMagic + 4);
  w.u8(kImageVersion);
  w.str(cfg_.serial); w.str(cfg_.cosVersion); w.str(cfg_.projectName);
  w.u16(cfg_.vid); w.u16(cfg_.pid); w.u8(uint8_t(cfg_.iface)); w.u8(uint8_t(cfg_.button));
  w.u32(cfg_.buttonDelayMs);
  w.str(label_);
  w.u8(mf_ ? 1 : 0);
  if (mf_) writeNode(w, *mf_);
  return w.out;
}

std::unique_ptr<Card> Card::loadImage(const uint8_t *p, size_t n) {
  if (n < 5 || memcmp(p, kImageMagic, 4) != 0 || p[4] != kImageVersion) return nullptr;
  Reader r{p, n, 5};
  TokenConfig c;
  c.serial = r.str(); c.cosVersion = r.str(); c.projectName = r.str();
  c.vid = r.u16(); c.pid = r.u16();
  uint8_t iface = r.u8(), button = r.u8();
  c.buttonDelayMs = r.u32();
  if (iface > 2 || button > 1) return nullptr;
  c.iface = Iface(iface);
  c.button = ButtonMode(button);
  auto card = std::make_unique<Card>(c);
  card->label_ = r.str();
  if (r.u8()) {
    card->mf_ = readNode(r, nullptr, 0);
    if (!card->mf_ || card->mf_->fid != 0x3F00 || !card->mf_->isDf()) return nullptr;
  }
  if (r.bad || c.serial.empty()) return nullptr;
  card->powerCycle();
  return card;
}

}  // namespace tokensim
