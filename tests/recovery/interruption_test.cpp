// The token pulled in the middle of every writing export. Each export runs on a token that holds
// containers with key pairs and certificates, symmetric keys and data objects; the token is
// pulled before its frame k (the frame never reaches the card) or just after it (the card
// carried it out, the answer never came back), for every k. Then:
//  - the export returns at once: after the pull it attempts at most a few more frames, and it
//    reports success only when its work is complete on the token;
//  - after re-insertion the index records only complete objects: what the index shows is the
//    token either before or after the operation, never a mix;
//  - the same call, retried with the caller's same records, succeeds (unless the operation
//    turned out complete), after which the whole token (every file, record, key and PIN) is
//    exactly what an uninterrupted run leaves: no leftover file, nothing else changed.
// The card is the token emulator in-process behind the library's device seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../common/bus_fixture.h"
#include "../objects/ossl.h"
#include "sim_card.h"

namespace {

using uktest::Bytes;
using uktest::hex;

constexpr const char *kSerial = "UKPULL0001";
constexpr const char *kUserPin = "482915";
constexpr const char *kSoPin = "70361524";
const std::string kUsbPath =
    std::string("\\\\?\\usb#vid_0b0c&pid_10ae#") + kSerial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// Frames an export may still attempt once the token is gone (clean-up deletes of what it had
// created; each fails at once).
constexpr size_t kMaxFramesAfterPull = 3;

// ---- the bus: one token that can be pulled at a chosen frame -----------------------------------

enum class Pull { BeforeFrame, AfterFrame };

class PullBus : public uktest::FrameBus {
 public:
  void insert(std::unique_ptr<tokensim::Card> card) {
    card_ = std::move(card);
    present_ = true;
  }
  tokensim::Card &card() { return *card_; }

  // Plugs the pulled token in again: a new power session.
  void reinsert() {
    card_->powerCycle();
    present_ = true;
  }
  // Counts the frames from now on; with a pull armed the token goes at frame k.
  void count() {
    armed_ = false;
    sent_ = 0;
    afterPull_ = 0;
  }
  void arm(size_t k, Pull how) {
    count();
    armed_ = true;
    k_ = k;
    how_ = how;
  }
  size_t framesSent() const { return sent_; }
  // Frames the library tried to send while the token was out (the first failing one included).
  size_t framesAfterPull() const { return afterPull_; }
  bool present() const { return present_; }

  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    *found = 0;
    if (present_ && max) snprintf(paths[(*found)++], 256, "%s", kUsbPath.c_str());
    return true;
  }
  uint32_t firstChild(const char *, char *child, uint32_t cap) override {
    if (!present_) return 0x0D;  // no such device node
    snprintf(child, cap, "USBSTOR\\CDROM&VEN_ZV&PROD_UKEY\\%s", kSerial);
    return 0;
  }
  uint32_t interfacePath(const char *, uk::DevClass cls, char *path, uint32_t cap,
                         const char **) override {
    if (!present_ || cls != uk::DevClass::CdRom) return 2;
    snprintf(path, cap, "\\\\?\\usbstor#cdrom#%s#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}", kSerial);
    return 0;
  }
  uint32_t open(const char *, uintptr_t *handle) override {
    if (!present_) return 21;  // not ready
    *handle = ++handles_;
    return 0;
  }
  uint32_t scsi(uintptr_t handle, const uint8_t *cdb, bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    *transferred = 0;
    if (!present_) {
      if (!dataIn) ++afterPull_;
      return kNotConnected;
    }
    if (dataIn) return FrameBus::scsi(handle, cdb, dataIn, buf, len, transferred);
    const size_t index = sent_++;
    if (armed_ && index == k_) {
      if (how_ == Pull::BeforeFrame) {
        present_ = false;
        ++afterPull_;
        return kNotConnected;
      }
      // The card carries the frame out; the token is gone before its answer is read.
      uint32_t rc = FrameBus::scsi(handle, cdb, dataIn, buf, len, transferred);
      present_ = false;
      return rc;
    }
    return FrameBus::scsi(handle, cdb, dataIn, buf, len, transferred);
  }

 protected:
  Bytes answer(uintptr_t, const uktest::Frame &f) override {
    return card_->processFrame(f.raw.data(), f.raw.size());
  }

 private:
  static constexpr uint32_t kNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
  std::unique_ptr<tokensim::Card> card_;
  bool present_ = false;
  bool armed_ = false;
  size_t k_ = 0, sent_ = 0, afterPull_ = 0;
  Pull how_ = Pull::BeforeFrame;
  uintptr_t handles_ = 0x40;
};

// ---- what the card holds -----------------------------------------------------------------------

const tokensim::FileNode *childOf(const tokensim::FileNode *df, uint16_t fid) {
  if (!df) return nullptr;
  for (const auto &c : df->children)
    if (c->fid == fid) return c.get();
  return nullptr;
}

const tokensim::FileNode *pkiDf(const tokensim::Card &card) { return childOf(card.root(), 0xDF01); }

bool isObjectFid(uint16_t fid) {
  switch (fid >> 8) {
    case 0xA0: case 0xB0: case 0xC0: case 0xD0: case 0xE0: return true;
    default: return false;
  }
}

uint16_t fidAt(const Bytes &rec, size_t off) { return uint16_t(rec.at(off) << 8 | rec.at(off + 1)); }

// The object files the three indexes record.
std::set<uint16_t> recordedFiles(const tokensim::Card &card) {
  std::set<uint16_t> out;
  const tokensim::FileNode *df = pkiDf(card);
  if (const auto *idx = childOf(df, 0x5000)) {
    for (const Bytes &rec : idx->records) {
      if (rec.empty()) continue;
      const uint8_t flags = rec[0];
      if (flags & UK_CONT_EX_KEY) out.insert({fidAt(rec, 2), fidAt(rec, 4)});
      if (flags & UK_CONT_EX_CERT) out.insert(fidAt(rec, 6));
      if (flags & UK_CONT_SIG_KEY) out.insert({fidAt(rec, 10), fidAt(rec, 12)});
      if (flags & UK_CONT_SIG_CERT) out.insert(fidAt(rec, 14));
    }
  }
  for (uint16_t index : {0x6000, 0x7000})
    if (const auto *idx = childOf(df, index))
      for (const Bytes &rec : idx->records)
        if (!rec.empty()) out.insert(fidAt(rec, 2));
  return out;
}

// Object files on the token that no index entry records.
std::set<uint16_t> leftovers(const tokensim::Card &card) {
  std::set<uint16_t> out;
  const std::set<uint16_t> recorded = recordedFiles(card);
  if (const tokensim::FileNode *df = pkiDf(card))
    for (const auto &c : df->children)
      if (isObjectFid(c->fid) && !recorded.count(c->fid)) out.insert(c->fid);
  return out;
}

// Index entries whose file is not on the token.
std::set<uint16_t> missingFiles(const tokensim::Card &card) {
  std::set<uint16_t> out;
  for (uint16_t fid : recordedFiles(card))
    if (!childOf(pkiDf(card), fid)) out.insert(fid);
  return out;
}

// Every file below the MF with everything it holds, children in identifier order; key values
// only by their shape when maskKeys (keys the token generates differ from run to run); files of
// skip left out.
void describe(const tokensim::FileNode &n, const std::string &path, bool maskKeys,
              const std::set<uint16_t> &skip, std::ostringstream &out) {
  out << path << " desc=" << int(n.desc) << '/' << int(n.desc2) << " size=" << n.size
      << " fcp=" << hex(n.fcp) << " data=" << hex(n.data) << '\n';
  for (size_t i = 0; i < n.records.size(); ++i)
    if (!n.records[i].empty()) out << "  rec " << i + 1 << ' ' << hex(n.records[i]) << '\n';
  for (const auto &comp : n.comps)
    out << "  comp " << int(comp.first) << ' '
        << (maskKeys ? std::to_string(comp.second.size()) + " bytes" : hex(comp.second)) << '\n';
  for (const auto &k : n.keys)
    out << "  key " << int(k.ref) << " #" << int(k.number) << " access " << int(k.access1) << '/'
        << int(k.access2) << " usage " << int(k.usage) << " class " << int(k.keyClass) << " tries "
        << int(k.tries) << '/' << int(k.maxTries) << " changed " << int(k.changed) << ' '
        << hex(k.value) << '\n';
  std::vector<const tokensim::FileNode *> kids;
  for (const auto &c : n.children)
    if (!skip.count(c->fid)) kids.push_back(c.get());
  std::sort(kids.begin(), kids.end(),
            [](const tokensim::FileNode *a, const tokensim::FileNode *b) { return a->fid < b->fid; });
  for (const auto *c : kids) {
    char id[8];
    snprintf(id, sizeof id, "%04X", c->fid);
    describe(*c, path + "/" + id, maskKeys, skip, out);
  }
}

std::string view(const tokensim::Card &card, bool maskKeys, const std::set<uint16_t> &skip = {}) {
  std::ostringstream out;
  out << "label=" << card.label() << '\n';
  if (card.root()) describe(*card.root(), "3F00", maskKeys, skip, out);
  return out.str();
}

// What callers can see: everything but the leftovers.
std::string visibleView(const tokensim::Card &card, bool maskKeys) {
  return view(card, maskKeys, leftovers(card));
}

// ---- the token the exports run on --------------------------------------------------------------

// Fixed key material for the imports, made once.
struct ImportKeys {
  UK_RSA_PUBLIC_KEY pub1;
  UK_RSA_PRIVATE_KEY pri1;
  UK_RSA_PUBLIC_KEY_2048 pub2;
  UK_RSA_PRIVATE_KEY_2048 pri2;
  ImportKeys() {
    objtest::OsslRsa(1024).toRecords(&pub1, &pri1);
    objtest::OsslRsa(2048).toRecords(&pub2, &pri2);
  }
};
const ImportKeys &importKeys() {
  static const ImportKeys keys;
  return keys;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 13);
  return b;
}

// A DER-looking certificate of total bytes (the read measures it from its header).
Bytes certificate(size_t total, uint8_t seed) {
  Bytes b = pattern(total, seed);
  b[0] = 0x30;
  b[1] = 0x82;
  b[2] = uint8_t((total - 4) >> 8);
  b[3] = uint8_t(total - 4);
  return b;
}

UK_CONTAINER_INFO namedContainer(const char *name, const char *id) {
  UK_CONTAINER_INFO c{};
  snprintf(c.name, sizeof c.name, "%s", name);
  c.idLen = uint8_t(strlen(id));
  memcpy(c.id, id, c.idLen);
  return c;
}

template <class Rec>
Rec namedRecord(const char *name, const char *id) {
  Rec r{};
  memcpy(r.name, name, strlen(name));
  r.id[0] = uint8_t(strlen(id));
  memcpy(r.id + 1, id, strlen(id));
  return r;
}

// The caller's records an export is given; kept from the interrupted call to its retry.
struct CallerState {
  UK_CONTAINER_INFO cont{};
  UK_SYM_KEY_INFO key{};
  UK_DATA_OBJECT_INFO obj{};
};

enum class Session { None, Df, DfAndUserPin };

struct Scenario {
  const char *name;
  Session session;
  bool randomKeys;  // the token generates key values: compared by shape
  bool partialTree; // formatting: an interrupted format may leave a partial tree
  std::function<void(UK_DEV_INFO *, CallerState &)> prepare;
  std::function<uint32_t(UK_DEV_INFO *, CallerState &)> run;
};

void findContainer(UK_DEV_INFO *d, CallerState &s, const char *name) {
  ASSERT_EQ(0u, zksTokenGetContainerByName(d, &s.cont, name)) << name;
  snprintf(s.cont.name, sizeof s.cont.name, "%s", name);
}
void noPreparation(UK_DEV_INFO *, CallerState &) {}

const std::vector<Scenario> &scenarios() {
  static const std::vector<Scenario> all = {
      {"NewContainer", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) { s.cont = namedContainer("gamma", "id-gamma"); },
       [](UK_DEV_INFO *d, CallerState &s) { return zksTokenNewContainer(d, &s.cont); }},
      {"ModifyContainerName", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "beta"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenModifyContainerName(d, &s.cont, "beta renamed");
       }},
      {"ModifyContainerID", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenModifyContainerID(d, &s.cont, reinterpret_cast<const uint8_t *>("new-id"), 6);
       }},
      {"DeleteContainer", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) { return zksTokenDeleteContainer(d, &s.cont); }},
      {"GenRsaKeyPair", Session::DfAndUserPin, true, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenGenRsaKeyPair(d, &s.cont, UK_KEYSPEC_SIGNATURE);
       }},
      {"WriteRsaKeyPair", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenWriteRsaKeyPair(d, &s.cont, &importKeys().pub1, &importKeys().pri1,
                                        UK_KEYSPEC_SIGNATURE);
       }},
      {"WriteRsaKeyPair2048", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "beta"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenWriteRsaKeyPair(d, &s.cont, &importKeys().pub2, &importKeys().pri2,
                                        UK_KEYSPEC_EXCHANGE);
       }},
      {"WriteCert4096", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "beta"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         static const Bytes cert = certificate(4096, 7);
         return zksTokenWriteCert(d, &s.cont, cert.data(), uint32_t(cert.size()),
                                  UK_KEYSPEC_SIGNATURE);
       }},
      {"DeleteContainerKeyPair", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenDeleteContainerKeyPair(d, &s.cont, UK_KEYSPEC_EXCHANGE);
       }},
      {"DeleteContainerCert", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *d, CallerState &s) { findContainer(d, s, "alpha"); },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenDeleteContainerCert(d, &s.cont, UK_KEYSPEC_EXCHANGE);
       }},
      {"GenSymKey", Session::DfAndUserPin, true, false,
       [](UK_DEV_INFO *, CallerState &s) {
         s.key = namedRecord<UK_SYM_KEY_INFO>("generated", "sk-new");
         s.key.algId = UK_SYM_ALG_22;
       },
       [](UK_DEV_INFO *d, CallerState &s) { return zksTokenGenSymKey(d, &s.key); }},
      {"WriteSymKey", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) {
         s.key = namedRecord<UK_SYM_KEY_INFO>("imported", "sk-imp2");
         s.key.algId = UK_SYM_ALG_3DES;
         s.key.attrFlag = 1;
       },
       [](UK_DEV_INFO *d, CallerState &s) {
         static const Bytes value = pattern(24, 0x31);
         return zksTokenWriteSymKey(d, &s.key, value.data(), uint32_t(value.size()));
       }},
      {"ModifySymKey", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) { s.key.recordNumber = 2; },
       [](UK_DEV_INFO *d, CallerState &s) {
         return zksTokenModifySymKey(d, &s.key, reinterpret_cast<const uint8_t *>("renamed"), 7, 1);
       }},
      {"DeleteSymKey", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) { s.key.recordNumber = 2; },
       [](UK_DEV_INFO *d, CallerState &s) { return zksTokenDeleteSymKey(d, &s.key); }},
      {"WriteDataObject", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) {
         s.obj = namedRecord<UK_DATA_OBJECT_INFO>("third", "do-3");
         memset(s.obj.callerData, 0x5A, sizeof s.obj.callerData);
       },
       [](UK_DEV_INFO *d, CallerState &s) {
         static const Bytes data = pattern(200, 0x77);
         return zksTokenWriteDataObject(d, &s.obj, data.data(), uint32_t(data.size()));
       }},
      {"DeleteDataObject", Session::DfAndUserPin, false, false,
       [](UK_DEV_INFO *, CallerState &s) { s.obj.recordNumber = 1; },
       [](UK_DEV_INFO *d, CallerState &s) { return zksTokenDeleteDataObject(d, &s.obj); }},
      {"ModifyDeviceLabel", Session::Df, false, false, noPreparation,
       [](UK_DEV_INFO *d, CallerState &) {
         static const char label[] = "Pulled label";
         return zksTokenModifyDeviceLabel(d, label, sizeof label - 1);
       }},
      {"FormatDevice", Session::None, false, true, noPreparation,
       [](UK_DEV_INFO *d, CallerState &) {
         return zksTokenFormatDevice(d, nullptr, reinterpret_cast<const uint8_t *>("87654321"), 8,
                                     5, reinterpret_cast<const uint8_t *>("135790"), 6, 6, 0,
                                     "Fresh", 0, 0);
       }},
      {"ModifyUserPin", Session::Df, false, false, noPreparation,
       [](UK_DEV_INFO *d, CallerState &) {
         uint8_t tries = 0;
         return zksTokenModifyUserPin(d, reinterpret_cast<const uint8_t *>(kUserPin), 6,
                                      reinterpret_cast<const uint8_t *>("24680135"), 8, &tries);
       }},
      {"UnlockUserPin", Session::Df, false, false, noPreparation,
       [](UK_DEV_INFO *d, CallerState &) {
         return zksTokenUnlockUserPin(d, reinterpret_cast<const uint8_t *>(kSoPin), 8,
                                      reinterpret_cast<const uint8_t *>("97531"), 5);
       }},
  };
  return all;
}

// ---- the test ----------------------------------------------------------------------------------

struct Case {
  size_t scenario;
  Pull pull;
};

std::string caseName(const testing::TestParamInfo<Case> &info) {
  return std::string(scenarios()[info.param.scenario].name) +
         (info.param.pull == Pull::BeforeFrame ? "_PulledBeforeFrame" : "_PulledAfterFrame");
}

std::vector<Case> allCases() {
  std::vector<Case> out;
  for (size_t i = 0; i < scenarios().size(); ++i)
    for (Pull p : {Pull::BeforeFrame, Pull::AfterFrame}) out.push_back({i, p});
  return out;
}

class Interruption : public uktest::PlatformFixture, public testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PullBus>();
    installPlatform(bus_.get(), true, "uk_interrupt_");
    image_ = populatedImage();
  }

  // A formatted token with two containers (key pairs generated and imported, a certificate),
  // two symmetric keys and two data objects, as an image.
  Bytes populatedImage() {
    tokensim::TokenConfig cfg;
    cfg.serial = kSerial;
    auto card = std::make_unique<tokensim::Card>(cfg);
    card->factoryFormat(kUserPin, kSoPin, 10, 10, "ORV-USBKEY");
    bus_->insert(std::move(card));
    open(Session::DfAndUserPin);
    UK_CONTAINER_INFO alpha = namedContainer("alpha", "id-alpha");
    UK_CONTAINER_INFO beta = namedContainer("beta", "id-beta");
    EXPECT_EQ(0u, zksTokenNewContainer(&dev_, &alpha));
    EXPECT_EQ(0u, zksTokenNewContainer(&dev_, &beta));
    EXPECT_EQ(0u, zksTokenGenRsaKeyPair(&dev_, &alpha, UK_KEYSPEC_EXCHANGE));
    const Bytes cert = certificate(1000, 3);
    EXPECT_EQ(0u, zksTokenWriteCert(&dev_, &alpha, cert.data(), 1000, UK_KEYSPEC_EXCHANGE));
    UK_RSA_PUBLIC_KEY pub;
    UK_RSA_PRIVATE_KEY pri;
    objtest::OsslRsa(1024).toRecords(&pub, &pri);
    EXPECT_EQ(0u, zksTokenWriteRsaKeyPair(&dev_, &beta, &pub, &pri, UK_KEYSPEC_SIGNATURE));
    auto gen = namedRecord<UK_SYM_KEY_INFO>("sym generated", "sk-gen");
    gen.algId = UK_SYM_ALG_20;
    EXPECT_EQ(0u, zksTokenGenSymKey(&dev_, &gen));
    auto imp = namedRecord<UK_SYM_KEY_INFO>("sym imported", "sk-imp");
    imp.algId = UK_SYM_ALG_3DES_112;
    const Bytes value = pattern(16, 9);
    EXPECT_EQ(0u, zksTokenWriteSymKey(&dev_, &imp, value.data(), 16));
    auto one = namedRecord<UK_DATA_OBJECT_INFO>("first", "do-1");
    auto two = namedRecord<UK_DATA_OBJECT_INFO>("second", "do-2");
    two.attrFlag = 1;
    const Bytes d1 = pattern(200, 1), d2 = pattern(40, 2);
    EXPECT_EQ(0u, zksTokenWriteDataObject(&dev_, &one, d1.data(), 200));
    EXPECT_EQ(0u, zksTokenWriteDataObject(&dev_, &two, d2.data(), 40));
    EXPECT_EQ(2, imp.recordNumber);
    EXPECT_EQ(1, one.recordNumber);
    close();
    return bus_->card().saveImage();
  }

  void load() { bus_->insert(tokensim::Card::loadImage(image_.data(), image_.size())); }

  // Connects as a caller does after an insertion and opens the session the export needs.
  void open(Session session) {
    memset(&dev_, 0, sizeof dev_);
    snprintf(dev_.devicePath, sizeof dev_.devicePath, "%s", kUsbPath.c_str());
    ASSERT_EQ(0u, zksTokenConnect(&dev_, 0));
    if (session == Session::None) return;
    ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev_, 0));
    if (session == Session::Df) return;
    uint8_t tries = 0;
    ASSERT_EQ(0u, zksTokenVerifyUserPin(&dev_, reinterpret_cast<const uint8_t *>(kUserPin), 6, &tries));
  }
  void close() {
    if (dev_.connection) zksTokenDisconnect(&dev_);
  }
  void TearDown() override {
    close();
    PlatformFixture::TearDown();
  }

  UK_DEV_INFO dev_{};
  std::unique_ptr<PullBus> bus_;
  Bytes image_;
};

TEST_P(Interruption, AtEveryFrameTheRetryCompletesAndIndexAndFilesAgree) {
  const Scenario &sc = scenarios()[GetParam().scenario];
  const Pull pull = GetParam().pull;
  const bool mask = sc.randomKeys;

  // The token before, and after an uninterrupted run.
  load();
  const std::string before = view(bus_->card(), mask);
  const std::string beforeVisible = visibleView(bus_->card(), mask);
  ASSERT_TRUE(leftovers(bus_->card()).empty());
  ASSERT_TRUE(missingFiles(bus_->card()).empty());
  open(sc.session);
  CallerState reference;
  sc.prepare(&dev_, reference);
  bus_->count();
  ASSERT_EQ(0u, sc.run(&dev_, reference));
  const size_t frames = bus_->framesSent();
  close();
  const std::string done = view(bus_->card(), mask);
  const std::string doneVisible = visibleView(bus_->card(), mask);
  ASSERT_NE(before, done) << "the operation changes the token";
  ASSERT_TRUE(leftovers(bus_->card()).empty());
  ASSERT_TRUE(missingFiles(bus_->card()).empty());
  ASSERT_GT(frames, 0u);

  size_t retried = 0;
  for (size_t k = 0; k < frames; ++k) {
    SCOPED_TRACE("pulled at frame " + std::to_string(k) + " of " + std::to_string(frames));
    load();
    open(sc.session);
    CallerState caller;
    sc.prepare(&dev_, caller);
    bus_->arm(k, pull);
    const uint32_t rc = sc.run(&dev_, caller);
    ASSERT_FALSE(bus_->present());
    EXPECT_LE(bus_->framesAfterPull(), kMaxFramesAfterPull);
    if (rc == UKLR_OK) {
      EXPECT_EQ(done, view(bus_->card(), mask)) << "success reported early";
    }
    close();

    bus_->reinsert();
    EXPECT_EQ(std::set<uint16_t>(), missingFiles(bus_->card())) << "an entry without its file";
    const std::string visible = visibleView(bus_->card(), mask);
    if (!sc.partialTree) {
      EXPECT_TRUE(visible == beforeVisible || visible == doneVisible)
          << "the index shows a half-done operation:\n" << visible;
    }
    if (visible == doneVisible && leftovers(bus_->card()).empty()) {
      // Complete on the token although its answer was lost: nothing to retry.
      EXPECT_EQ(done, view(bus_->card(), mask));
      continue;
    }
    ++retried;
    open(sc.session);
    EXPECT_EQ(0u, sc.run(&dev_, caller)) << "the retry after re-insertion";
    close();
    EXPECT_EQ(std::set<uint16_t>(), leftovers(bus_->card()));
    EXPECT_EQ(done, view(bus_->card(), mask)) << "the retry left the token unlike an uninterrupted run";
    if (HasFailure()) break;  // one frame's report is enough
  }
  printf("%s: %zu frames, %zu pull points retried\n", sc.name, frames, retried);
  // A pull before the first frame, at least, leaves something to retry.
  if (pull == Pull::BeforeFrame) {
    EXPECT_GT(retried, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(WritingExports, Interruption, testing::ValuesIn(allCases()), caseName);

}  // namespace
