// The card: frames in and out, the one dispatch table of its instructions, the device
// information and the factory state. The instruction families live beside it: sim_files.cpp,
// sim_pins.cpp, sim_keys.cpp (RSA keys), sim_symmetric.cpp and sim_channel.cpp (secure channel and
// secure messaging); sim_image.cpp keeps the persistent image.
#include "sim_card_family.h"
#include "../tokenlib/core/base/uk_card_keys.h"

namespace tokensim {

using namespace card;

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

}  // namespace tokensim
