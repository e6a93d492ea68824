// The file control parameters of the create-file command, built from file attribute records,
// and every refusal (which must come before anything is sent).
#include <gtest/gtest.h>

#include "sim_harness.h"
#include "uk_commands.h"

using namespace cmdtest;

namespace {

uk::FILE_ATTR attr(uint8_t kind, uint32_t flags, uint16_t fid, uint16_t size) {
  uk::FILE_ATTR a{};
  a.flags = flags;
  a.kind = kind;
  a.fid[0] = uint8_t(fid >> 8);
  a.fid[1] = uint8_t(fid);
  a.size[0] = uint8_t(size >> 8);
  a.size[1] = uint8_t(size);
  return a;
}

// The parameters as hex, or "rc=N" for a refusal.
std::string fcp(const uk::FILE_ATTR &a) {
  uint8_t out[uk::kMaxFileControl];
  uint32_t len = 0;
  uint32_t rc = uk::buildFileControl(a, out, &len);
  if (rc) return "rc=" + std::to_string(rc);
  return hex(Bytes(out, out + len));
}

const uint32_t kBase = uk::FA_VALID | uk::FA_FID | uk::FA_SIZE;

TEST(FileControl, TransparentFileWithShortIdentifierAndSecurity) {
  uk::FILE_ATTR a = attr(uk::FK_TRANSPARENT, kBase | uk::FA_SFI | uk::FA_SECURITY | uk::FA_PROPRIETARY,
                         0xE001, 0x0258);
  a.descriptor = 0x41;
  a.sfi = 0x07;
  for (int i = 0; i < 8; ++i) a.security[i] = uint8_t(0x10 + i);
  a.proprietary[0] = 0xAA;
  a.proprietary[1] = 0xBB;
  a.proprietary[2] = 0xCC;  // beyond the two bytes of a transparent file
  EXPECT_EQ("8302E001" "82020141" "80020258" "880107" "8502AABB" "86081011121314151617", fcp(a));
}

TEST(FileControl, DirectoriesCarryNameOrIdentifierAndNoSize) {
  uk::FILE_ATTR mf = attr(uk::FK_DF, uk::FA_VALID | uk::FA_FID | uk::FA_SFI, 0x3F00, 0);
  EXPECT_EQ("83023F00" "82023800" "84023F00" "85050000000000" "86080000000000000000", fcp(mf));

  uk::FILE_ATTR df = attr(uk::FK_DF, uk::FA_VALID | uk::FA_FID | uk::FA_DFNAME, 0xDF01, 0);
  const uint8_t name[20] = {0xA0, 0, 0, 0, 'c', 'P', 'K', 'C', 'S', '-', '1', '5',
                            'x', 'x', 'x', 'x', 'y', 'y', 'y', 'y'};
  memcpy(df.dfName, name, sizeof name);
  df.dfNameLen = 12;
  EXPECT_EQ("8302DF01" "82023800" "840CA000000063504B43532D3135" "85050000000000"
            "86080000000000000000",
            fcp(df));
  df.dfNameLen = 20;  // cut to 16
  EXPECT_EQ("8302DF01" "82023800" "8410A000000063504B43532D313578787878" "85050000000000"
            "86080000000000000000",
            fcp(df));
}

TEST(FileControl, KeyFileIsAlways2F02WithOneSecurityByte) {
  uk::FILE_ATTR a = attr(uk::FK_KEYFILE, uk::FA_VALID | uk::FA_SIZE | uk::FA_SFI | uk::FA_SECURITY,
                         0x1234, 256);
  a.security[0] = 0x5A;
  a.security[1] = 0x5B;
  EXPECT_EQ("83022F02" "82021000" "80020100" "850100" "86015A", fcp(a));
}

TEST(FileControl, RecordFilesNeedANonZeroFirstProprietaryByte) {
  uk::FILE_ATTR a = attr(uk::FK_RECORD, kBase | uk::FA_PROPRIETARY, 0x5000, 192);
  a.proprietary[0] = 0x10;
  EXPECT_EQ("83025000" "82020300" "800200C0" "8503100000" "86080000000000000000", fcp(a));
  a.kind = uk::FK_RECORD_CYCLIC;
  EXPECT_EQ("83025000" "82020700" "800200C0" "8503100000" "86080000000000000000", fcp(a));
  a.proprietary[0] = 0;
  EXPECT_EQ("rc=4", fcp(a));
  a.flags &= ~uk::FA_PROPRIETARY;  // not given: zeros are sent
  EXPECT_EQ("83025000" "82020700" "800200C0" "8503000000" "86080000000000000000", fcp(a));
}

TEST(FileControl, RsaKeyFilesTakeOnly1024And2048Bits) {
  uk::FILE_ATTR a = attr(uk::FK_RSA_PRIVATE, kBase, 0xA001, 1024);
  EXPECT_EQ("8302A001" "82021300" "80020400" "8506010000000000" "86080000000000000000", fcp(a));
  a = attr(uk::FK_RSA_PUBLIC, kBase | uk::FA_PROPRIETARY, 0xB031, 2048);
  a.proprietary[0] = 0x03;
  a.proprietary[5] = 0x09;
  EXPECT_EQ("8302B031" "82021500" "80020800" "8506030000000009" "86080000000000000000", fcp(a));
  a.size[0] = 0x06;  // 1536
  a.size[1] = 0x00;
  EXPECT_EQ("rc=4", fcp(a));
  a.kind = uk::FK_RSA_PRIVATE;
  EXPECT_EQ("rc=4", fcp(a));
}

TEST(FileControl, SymmetricKeyFilesCheckSizeAgainstAlgorithmAndTranslateIt) {
  struct Case {
    uint8_t alg;
    uint16_t bits;
    const char *want;  // the 85 TLV, or the refusal
  } cases[] = {
      {2, 64, "85050100000000"},   {4, 192, "85050100000000"},  {5, 256, "85050200000000"},
      {6, 128, "85050800000000"},  {7, 128, "85050400000000"},  {2, 256, "rc=4"},
      {5, 64, "rc=4"},             {6, 192, "rc=4"},            {3, 128, "rc=4108"},
      {9, 128, "rc=4108"},
  };
  for (const Case &c : cases) {
    uk::FILE_ATTR a = attr(uk::FK_SYMMETRIC, kBase | uk::FA_PROPRIETARY, 0xD001, c.bits);
    a.proprietary[0] = c.alg;
    std::string got = fcp(a);
    if (c.want[0] == 'r') {
      EXPECT_EQ(c.want, got) << int(c.alg) << "/" << c.bits;
    } else {
      std::string size = c.bits == 64 ? "0040" : c.bits == 128 ? "0080" : c.bits == 192 ? "00C0" : "0100";
      EXPECT_EQ("8302D001" "82021100" "8002" + size + c.want + "86080000000000000000", got)
          << int(c.alg) << "/" << c.bits;
    }
  }
  // Without proprietary bytes there is no algorithm.
  uk::FILE_ATTR a = attr(uk::FK_SYMMETRIC, kBase, 0xD001, 128);
  EXPECT_EQ("rc=4108", fcp(a));
}

TEST(FileControl, MissingFieldsAndUnknownKindsAreRefused) {
  EXPECT_EQ("rc=4", fcp(attr(uk::FK_TRANSPARENT, kBase & ~uk::FA_VALID, 0xE001, 10)));
  EXPECT_EQ("rc=4", fcp(attr(uk::FK_TRANSPARENT, kBase & ~uk::FA_FID, 0xE001, 10)));
  EXPECT_EQ("rc=4", fcp(attr(uk::FK_TRANSPARENT, kBase & ~uk::FA_SIZE, 0xE001, 10)));
  EXPECT_EQ("rc=4", fcp(attr(uk::FK_TRANSPARENT, kBase, 0xE001, 0)));
  EXPECT_EQ("rc=8", fcp(attr(4, kBase, 0xE001, 10)));
  EXPECT_EQ("rc=8", fcp(attr(0, kBase, 0xE001, 10)));
  EXPECT_EQ("rc=8", fcp(attr(10, kBase, 0xE001, 10)));
}

class CreateFile : public BusFixture {
 protected:
  void SetUp() override { attach(card.fn()); }
  ScriptedCard card;
};

TEST_F(CreateFile, RefusalSendsNothingAndRecordIsSentAsBuilt) {
  uk::FILE_ATTR a = attr(uk::FK_RSA_PRIVATE, kBase, 0xA001, 1536);
  EXPECT_EQ(4u, uk::createFile(conn(), a));
  EXPECT_TRUE(frames().empty());
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_PARAM_VALUE \n"));

  a = attr(uk::FK_TRANSPARENT, kBase, 0xE002, 100);
  ASSERT_EQ(0u, uk::createFile(conn(), a));
  ASSERT_EQ(1u, frames().size());
  EXPECT_EQ(0x00E00000u, frames()[0].header());
  EXPECT_EQ("8302E002" "82020100" "80020064" "85020000" "86080000000000000000",
            hex(frames()[0].data()));
}

}  // namespace
