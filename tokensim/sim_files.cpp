// The file system family: select, binary files, create and delete, records.
#include "sim_card_family.h"

namespace tokensim {

using namespace card;

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

}  // namespace tokensim
