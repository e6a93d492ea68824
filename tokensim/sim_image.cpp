// The persistent image of a card: configuration, label and file system.
#include "sim_card_family.h"

namespace tokensim {

using namespace card;

namespace {

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
