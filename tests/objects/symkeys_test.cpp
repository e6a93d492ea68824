// Symmetric keys and data objects against the token emulator, with OpenSSL as the reference for
// the token's ciphers.
#include <gtest/gtest.h>

#include "objects_harness.h"
#include "ossl.h"
#include "symkeys.h"
#include "uk_commands.h"

namespace objtest {
namespace {

UK_SYM_KEY_INFO symKey(uint8_t alg, const char *name, const char *id, uint8_t flag = 0) {
  UK_SYM_KEY_INFO k{};
  k.algId = alg;
  k.attrFlag = flag;
  snprintf(reinterpret_cast<char *>(k.name), sizeof k.name, "%s", name);
  k.id[0] = uint8_t(strlen(id));
  memcpy(k.id + 1, id, strlen(id));
  return k;
}

UK_DATA_OBJECT_INFO dataObject(const char *name, const char *id, uint8_t flag = 0) {
  UK_DATA_OBJECT_INFO o{};
  snprintf(reinterpret_cast<char *>(o.name), sizeof o.name, "%s", name);
  o.id[0] = uint8_t(strlen(id));
  memcpy(o.id + 1, id, strlen(id));
  o.attrFlag = flag;
  for (int i = 0; i < 24; ++i) o.callerData[i] = uint8_t(0xA0 + i);
  return o;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 13);
  return b;
}

class SymTest : public TokenFixture {
 protected:
  Bytes indexRecord(const uint8_t fid[2], uint8_t nn) {
    EXPECT_EQ(0u, uk::selectFile(dev.connection, fid));
    Bytes rec(192);
    uint32_t len = 192;
    if (uk::readRecord(dev.connection, nn, rec.data(), &len)) return {};
    rec.resize(len);
    return rec;
  }
  // Runs one symmetric operation on the token.
  Bytes onToken(const UK_SYM_KEY_INFO &k, bool encipher, bool cbc, const Bytes &iv,
                const Bytes &in) {
    UK_SYM_KEY_INFO key = k;
    EXPECT_EQ(0u, zksTokenSymInit(&dev, &key, encipher ? 0x81 : 0x82, cbc ? 2 : 1,
                                  iv.empty() ? nullptr : iv.data(), 0));
    Bytes out(in.size() + 32);
    uint32_t len = uint32_t(out.size());
    EXPECT_EQ(0u, zksTokenSymUpdate(&dev, in.data(), uint32_t(in.size()), out.data(), &len));
    out.resize(len);
    return out;
  }
};

struct AlgCase {
  uint8_t alg;
  uint8_t keyClass;
  uint8_t len;
  const char *ecb;
  const char *cbc;
};
// The classes the emulator implements: DES (2), Triple-DES (4) and AES (5).
const AlgCase kCases[] = {
    {3, 2, 8, "des-ecb", "des-cbc"},
    {4, 4, 16, "des-ede-ecb", "des-ede-cbc"},
    {5, 4, 24, "des-ede3-ecb", "des-ede3-cbc"},
    {20, 5, 16, "aes-128-ecb", "aes-128-cbc"},
    {21, 5, 24, "aes-192-ecb", "aes-192-cbc"},
    {22, 5, 32, "aes-256-ecb", "aes-256-cbc"},
};

TEST_F(SymTest, ImportedAndGeneratedKeysCipherLikeOpenSsl) {
  int n = 0;
  for (const AlgCase &a : kCases) {
    SCOPED_TRACE(int(a.alg));
    const Bytes value = pattern(a.len, uint8_t(0x10 + a.alg));
    UK_SYM_KEY_INFO imported = symKey(a.alg, "imp", ("imp" + std::to_string(a.alg)).c_str());
    clearTrace();
    ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &imported, value.data(), a.len));
    EXPECT_EQ("", exportLines());
    EXPECT_EQ(++n, imported.recordNumber);
    Bytes rec = indexRecord(uk::kSecKeyIndexFid, imported.recordNumber);
    ASSERT_EQ(192u, rec.size());
    EXPECT_EQ(a.len, rec[1]);
    EXPECT_EQ(0xD0, rec[2]);
    EXPECT_EQ(imported.recordNumber, rec[3]);
    EXPECT_EQ(a.keyClass, rec[6]);
    EXPECT_EQ(0xB7, rec[8]);

    uint8_t back[32];
    uint32_t backLen = 0;
    ASSERT_EQ(0u, zksTokenReadSymKey(&dev, &imported, back, &backLen));
    EXPECT_EQ(value, Bytes(back, back + backLen));

    const size_t block = a.keyClass == 5 ? 16 : 8;
    const Bytes plain = pattern(block * 4, 0x61);
    const Bytes iv = pattern(block, 0x90);
    Bytes ecb = onToken(imported, true, false, {}, plain);
    EXPECT_EQ(cipherRef(a.ecb, value, {}, plain, true), ecb);
    EXPECT_EQ(plain, onToken(imported, false, false, {}, ecb));
    Bytes cbc = onToken(imported, true, true, iv, plain);
    EXPECT_EQ(cipherRef(a.cbc, value, iv, plain, true), cbc);
    EXPECT_EQ(plain, onToken(imported, false, true, iv, cbc));

    UK_SYM_KEY_INFO generated = symKey(a.alg, "gen", ("gen" + std::to_string(a.alg)).c_str(), 1);
    ASSERT_EQ(0u, zksTokenGenSymKey(&dev, &generated));
    EXPECT_EQ(++n, generated.recordNumber);
    EXPECT_EQ(0xF7, indexRecord(uk::kSecKeyIndexFid, generated.recordNumber)[8]);
    backLen = 0;
    ASSERT_EQ(0u, zksTokenReadSymKey(&dev, &generated, back, &backLen));
    ASSERT_EQ(a.len, backLen);
    Bytes genValue(back, back + backLen);
    EXPECT_EQ(cipherRef(a.ecb, genValue, {}, plain, true), onToken(generated, true, false, {}, plain));

    // Both keys listed with their algorithm identifier and attribute bit.
    UK_SYM_KEY_INFO all[8];
    uint32_t count = 0;
    ASSERT_EQ(0u, zksTokenListSymKey(&dev, all, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(a.alg, all[0].algId);
    EXPECT_EQ(0, all[0].attrFlag);
    EXPECT_EQ(0x40, all[1].attrFlag);
    EXPECT_STREQ("gen", reinterpret_cast<const char *>(all[1].name));

    ASSERT_EQ(0u, zksTokenDeleteSymKey(&dev, &imported));
    ASSERT_EQ(0u, zksTokenDeleteSymKey(&dev, &generated));
    ASSERT_EQ(0u, zksTokenListSymKey(&dev, all, &count));
    EXPECT_EQ(0u, count);
    n = 0;
  }
}

TEST_F(SymTest, GenerateWithIdentifier22CreatesA256BitClass5File) {
  UK_SYM_KEY_INFO k = symKey(22, "aes", "x");
  clearTrace();
  ASSERT_EQ(0u, zksTokenGenSymKey(&dev, &k));
  bool seen = false;
  for (const auto &f : frames()) {
    if (f.ins() != 0xE0) continue;
    Bytes d = f.data();
    // 83 02 D0 01, 82 02 11 00, 80 02 01 00 (256 bits), ... 85 05 02 00 01 00 00
    EXPECT_EQ(Bytes({0x83, 0x02, 0xD0, 0x01, 0x82, 0x02, 0x11, 0x00, 0x80, 0x02, 0x01, 0x00}),
              Bytes(d.begin(), d.begin() + 12));
    EXPECT_EQ(Bytes({0x85, 0x05, 0x02, 0x00, 0x01, 0x00, 0x00}), Bytes(d.begin() + 12, d.begin() + 19));
    seen = true;
  }
  EXPECT_TRUE(seen);
}

TEST_F(SymTest, UnknownAlgorithmRefusedBeforeAnyTraffic) {
  UK_SYM_KEY_INFO k = symKey(6, "bad", "bad");
  const uint8_t value[16] = {0};
  clearTrace();
  EXPECT_EQ(UKLR_SYM_ALG, zksTokenWriteSymKey(&dev, &k, value, 16));
  EXPECT_EQ(UKLR_SYM_ALG, zksTokenGenSymKey(&dev, &k));
  EXPECT_TRUE(frames().empty());
}

TEST_F(SymTest, DuplicateIdRefusedAndLowestFreeRecordChosen) {
  const Bytes v = pattern(16, 1);
  UK_SYM_KEY_INFO a = symKey(4, "a", "same"), b = symKey(4, "b", "same"), c = symKey(4, "c", "other");
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &a, v.data(), 16));
  EXPECT_EQ(uint32_t(UKLR_OBJ_EXISTS), zksTokenWriteSymKey(&dev, &b, v.data(), 16));
  UK_SYM_KEY_INFO longer = symKey(4, "l", "samesame");  // the same prefix is another ID
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &longer, v.data(), 16));
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &c, v.data(), 16));
  EXPECT_EQ(3, c.recordNumber);
  ASSERT_EQ(0u, zksTokenDeleteSymKey(&dev, &a));
  UK_SYM_KEY_INFO d = symKey(4, "d", "d");
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &d, v.data(), 16));
  EXPECT_EQ(1, d.recordNumber);
}

TEST_F(SymTest, ModifyRewritesOneTextField) {
  const Bytes v = pattern(8, 1);
  UK_SYM_KEY_INFO k = symKey(3, "oldname", "id1");
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &k, v.data(), 8));
  const uint8_t name[] = {'n', 'e', 'w'};
  ASSERT_EQ(0u, zksTokenModifySymKey(&dev, &k, name, 3, 1));
  Bytes rec = indexRecord(uk::kSecKeyIndexFid, k.recordNumber);
  EXPECT_EQ(0, memcmp(&rec[32], "newname", 7));  // copied over the start of the name
  uint8_t big[80] = {0};
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_DATA_LENGTH), zksTokenModifySymKey(&dev, &k, big, 80, 2));
  EXPECT_TRUE(frames().empty());
}

TEST_F(SymTest, ChainingWithoutIvIsRefused) {
  const Bytes v = pattern(16, 1);
  UK_SYM_KEY_INFO k = symKey(4, "k", "k");
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &k, v.data(), 16));
  EXPECT_EQ(4u, zksTokenSymInit(&dev, &k, 0x81, 2, nullptr, 0));
  EXPECT_EQ(uk::symDirection(), uk::symDirection());
  ASSERT_EQ(0u, zksTokenSymInit(&dev, &k, 0x81, 1, nullptr, 0));
  EXPECT_EQ(1, uk::symDirection());
  ASSERT_EQ(0u, zksTokenSymInit(&dev, &k, 0x00, 1, nullptr, 0));
  EXPECT_EQ(2, uk::symDirection());
}

TEST_F(SymTest, KeyFileFailureRemovesTheIndexRecord) {
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xE0) return false;
    *sw = 0x6A84;  // not enough memory
    return true;
  });
  UK_SYM_KEY_INFO k = symKey(20, "k", "k");
  EXPECT_EQ(0x80006A84u, zksTokenGenSymKey(&dev, &k));
  setFault(nullptr);
  UK_SYM_KEY_INFO all[8];
  uint32_t count = 9;
  ASSERT_EQ(0u, zksTokenListSymKey(&dev, all, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, zksTokenGenSymKey(&dev, &k));
  EXPECT_EQ(1, k.recordNumber);

  // An import whose value the card refuses leaves neither file nor record.
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDB || f.p2() != 0x20) return false;
    *sw = 0x6581;
    return true;
  });
  UK_SYM_KEY_INFO imp = symKey(20, "i", "i");
  const Bytes v = pattern(16, 3);
  EXPECT_EQ(0x80006581u, zksTokenWriteSymKey(&dev, &imp, v.data(), 16));
  setFault(nullptr);
  ASSERT_EQ(0u, zksTokenListSymKey(&dev, all, &count));
  EXPECT_EQ(1u, count);
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &imp, v.data(), 16));
  EXPECT_EQ(2, imp.recordNumber);
}

// An index record written by hand, as software that wrote the entry before the object file
// leaves it when it is interrupted in between: nn's file (fileHi nn) is missing.
void danglingEntry(UK_DEV_INFO *dev, const uint8_t indexFid[2], uint8_t fileHi, uint8_t nn,
                   const uint8_t *idArea) {
  uint8_t rec[192] = {0};
  rec[1] = 16;
  rec[2] = fileHi;
  rec[3] = nn;
  rec[6] = 5;
  rec[8] = 0xB7;
  memcpy(rec + 32, "left", 4);
  memcpy(rec + 112, idArea, 80);
  ASSERT_EQ(0u, uk::selectFile(dev->connection, indexFid));
  ASSERT_EQ(0u, uk::updateRecord(dev->connection, nn, rec, sizeof rec));
}

TEST_F(SymTest, AnEntryWithoutItsFileBlocksNeitherItsIdNorItsDeletion) {
  UK_SYM_KEY_INFO k = symKey(20, "k", "dangling");
  danglingEntry(&dev, uk::kSecKeyIndexFid, 0xD0, 3, k.id);
  // A key with the entry's ID takes over its slot (the lower free slots stay free).
  ASSERT_EQ(0u, zksTokenGenSymKey(&dev, &k));
  EXPECT_EQ(3, k.recordNumber);
  uint8_t value[32];
  uint32_t len = 0;
  EXPECT_EQ(0u, zksTokenReadSymKey(&dev, &k, value, &len));
  EXPECT_EQ(16u, len);
  // A key that exists keeps its ID.
  UK_SYM_KEY_INFO again = symKey(20, "again", "dangling");
  EXPECT_EQ(uint32_t(UKLR_OBJ_EXISTS), zksTokenGenSymKey(&dev, &again));

  // Deleting an entry whose file is missing succeeds and frees the slot.
  UK_SYM_KEY_INFO other = symKey(20, "o", "other");
  danglingEntry(&dev, uk::kSecKeyIndexFid, 0xD0, 5, other.id);
  other.recordNumber = 5;
  ASSERT_EQ(0u, zksTokenDeleteSymKey(&dev, &other));
  UK_SYM_KEY_INFO all[8];
  uint32_t count = 0;
  ASSERT_EQ(0u, zksTokenListSymKey(&dev, all, &count));
  ASSERT_EQ(1u, count);
  EXPECT_EQ(3, all[0].recordNumber);

  // An object with the ID of a data-object entry without its file takes that slot too.
  UK_DATA_OBJECT_INFO o = dataObject("obj", "dangling-object");
  danglingEntry(&dev, uk::kDataObjectIndexFid, 0xE0, 2, o.id);
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, pattern(30, 5).data(), 30));
  EXPECT_EQ(2, o.recordNumber);
  len = 10;  // the index now records the 30 bytes of the new object
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL), zksTokenReadDataObject(&dev, &o, value, &len));
  EXPECT_EQ(30u, len);
}

TEST_F(SymTest, ObjectsAreRecordedInTheIndexAfterTheirFiles) {
  // The index record is the last command: a key or object exists only once it is complete.
  UK_SYM_KEY_INFO k = symKey(4, "imp", "imp");
  const Bytes v = pattern(16, 1);
  clearTrace();
  ASSERT_EQ(0u, zksTokenWriteSymKey(&dev, &k, v.data(), 16));
  ASSERT_FALSE(frames().empty());
  EXPECT_EQ(0xDC, frames().back().ins());
  EXPECT_EQ(1u, countIns(0xDB));  // the key value, before
  UK_DATA_OBJECT_INFO o = dataObject("o", "o");
  const Bytes data = pattern(200, 2);
  clearTrace();
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), 200));
  EXPECT_EQ(0xDC, frames().back().ins());
  EXPECT_EQ(2u, countIns(0xD0));
  // Deletes go the other way: the record first, then the file.
  clearTrace();
  ASSERT_EQ(0u, zksTokenDeleteDataObject(&dev, &o));
  EXPECT_EQ(0xE4, frames().back().ins());
  EXPECT_EQ(1u, countIns(0x0C));
}

// ---- data objects -------------------------------------------------------------------------

TEST_F(SymTest, DataObjectsOf200And255Bytes) {
  for (uint32_t size : {200u, 255u}) {
    SCOPED_TRACE(size);
    UK_DATA_OBJECT_INFO o = dataObject("obj", ("o" + std::to_string(size)).c_str(), size == 255);
    Bytes data = pattern(size, uint8_t(size));
    clearTrace();
    ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), size));
    EXPECT_EQ("", exportLines());
    Bytes rec = indexRecord(uk::kDataObjectIndexFid, o.recordNumber);
    ASSERT_EQ(192u, rec.size());
    EXPECT_EQ(0, rec[0]);
    EXPECT_EQ(size, rec[1]);
    EXPECT_EQ(0xE0, rec[2]);
    EXPECT_EQ(o.recordNumber, rec[3]);
    EXPECT_EQ(size == 255 ? 0x40 : 0x00, rec[6]);
    EXPECT_EQ(0xA0, rec[8]);
    EXPECT_EQ(0, memcmp(&rec[32], "obj", 4));

    uint8_t buf[300];
    uint32_t len = sizeof buf;
    clearTrace();
    ASSERT_EQ(0u, zksTokenReadDataObject(&dev, &o, buf, &len));
    EXPECT_EQ(size, len);
    EXPECT_EQ(data, Bytes(buf, buf + len));
    std::vector<uint32_t> pieces;
    for (const auto &f : frames())
      if (f.ins() == 0xB0) pieces.push_back(f.le());
    EXPECT_EQ(std::vector<uint32_t>({128u, size - 128u}), pieces);
  }
  UK_DATA_OBJECT_INFO all[8];
  uint32_t count = 0;
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  ASSERT_EQ(2u, count);
  EXPECT_EQ(0, all[0].attrFlag);
  EXPECT_EQ(0x40, all[1].attrFlag);
  EXPECT_EQ(0xA5, all[1].callerData[5]);
}

TEST_F(SymTest, DataObjectReadChecksTheCapacity) {
  UK_DATA_OBJECT_INFO o = dataObject("cap", "cap");
  Bytes data = pattern(255, 9);
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), 255));
  uint8_t buf[256];
  memset(buf, 0xEE, sizeof buf);
  uint32_t len = 100;
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL), zksTokenReadDataObject(&dev, &o, buf, &len));
  EXPECT_EQ(255u, len);
  EXPECT_EQ(Bytes(256, 0xEE), Bytes(buf, buf + 256));
}

TEST_F(SymTest, ZeroLengthObjectLeavesNothingInTheIndex) {
  UK_DATA_OBJECT_INFO o = dataObject("empty", "empty");
  const uint8_t data[1] = {0};
  clearTrace();
  EXPECT_EQ(4u, zksTokenWriteDataObject(&dev, &o, data, 0));
  EXPECT_TRUE(frames().empty());
  UK_DATA_OBJECT_INFO all[8];
  uint32_t count = 9;
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  EXPECT_EQ(0u, count);
}

TEST_F(SymTest, ObjectsLongerThan255BytesAreRefusedNotCut) {
  // 256 and 300 bytes would have been stored as 0 and 44 bytes under a success.
  Bytes data = pattern(300, 3);
  for (uint32_t len : {256u, 300u, 0x10000u + 44u}) {
    UK_DATA_OBJECT_INFO o = dataObject("long", ("long" + std::to_string(len)).c_str());
    clearTrace();
    EXPECT_EQ(uint32_t(UKLR_DATA_LENGTH), zksTokenWriteDataObject(&dev, &o, data.data(), len))
        << len;
    EXPECT_TRUE(frames().empty()) << len;
  }
  UK_DATA_OBJECT_INFO all[8];
  uint32_t count = 9;
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  EXPECT_EQ(0u, count);
}

TEST_F(SymTest, EightSlotsOfDataObjects) {
  Bytes data = pattern(10, 1);
  for (int i = 1; i <= 7; ++i) {
    UK_DATA_OBJECT_INFO o = dataObject("o", ("id" + std::to_string(i)).c_str());
    ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), 10));
    EXPECT_EQ(i, o.recordNumber);
  }
  UK_DATA_OBJECT_INFO eighth = dataObject("o", "id8");
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &eighth, data.data(), 10));
  EXPECT_EQ(8, eighth.recordNumber);
  UK_DATA_OBJECT_INFO ninth = dataObject("o", "id9");
  EXPECT_EQ(uint32_t(UKLR_DEV_FULL), zksTokenWriteDataObject(&dev, &ninth, data.data(), 10));
  UK_DATA_OBJECT_INFO dup = dataObject("o", "id3");
  EXPECT_EQ(uint32_t(UKLR_OBJ_EXISTS), zksTokenWriteDataObject(&dev, &dup, data.data(), 10));
  UK_DATA_OBJECT_INFO third{};
  third.recordNumber = 3;
  ASSERT_EQ(0u, zksTokenDeleteDataObject(&dev, &third));
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &ninth, data.data(), 10));
  EXPECT_EQ(3, ninth.recordNumber);
}

TEST_F(SymTest, FailureAfterFileCreationKeepsIndexAndFilesConsistent) {
  // The token fails the data write after the object file was created.
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xD0) return false;
    *sw = 0x6581;
    return true;
  });
  UK_DATA_OBJECT_INFO o = dataObject("o", "fault");
  Bytes data = pattern(150, 4);
  EXPECT_EQ(0x80006581u, zksTokenWriteDataObject(&dev, &o, data.data(), 150));
  EXPECT_EQ(0, o.recordNumber);
  setFault(nullptr);
  UK_DATA_OBJECT_INFO all[8];
  uint32_t count = 9;
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  EXPECT_EQ(0u, count);
  // Neither the record nor the file E001 is left: the same object can be written again.
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), 150));
  EXPECT_EQ(1, o.recordNumber);
  uint8_t buf[255];
  uint32_t len = sizeof buf;
  ASSERT_EQ(0u, zksTokenReadDataObject(&dev, &o, buf, &len));
  EXPECT_EQ(data, Bytes(buf, buf + len));

  // The file cannot be created: the record goes again.
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xE0) return false;
    *sw = 0x6A84;
    return true;
  });
  UK_DATA_OBJECT_INFO p = dataObject("p", "nofile");
  EXPECT_EQ(0x80006A84u, zksTokenWriteDataObject(&dev, &p, data.data(), 20));
  setFault(nullptr);
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  EXPECT_EQ(1u, count);
}

}  // namespace
}  // namespace objtest
