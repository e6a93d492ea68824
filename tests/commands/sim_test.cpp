// Formatting, PIN management and the file exports against the token emulator in-process: the
// commands are checked from the trace of request frames the emulator received, the outcome from
// the emulator's own state.
#include <gtest/gtest.h>

#include "sim_card.h"
#include "sim_harness.h"
#include "uk_commands.h"

using namespace cmdtest;

namespace {

const uint8_t *u8(const char *s) { return reinterpret_cast<const uint8_t *>(s); }
void *const kWindow = reinterpret_cast<void *>(0x5150);

class Sim : public BusFixture {
 protected:
  void SetUp() override {
    tokensim::TokenConfig cfg;
    cfg.serial = "UKCMD0001";
    card = std::make_unique<tokensim::Card>(cfg);
    attach([this](const Bytes &req) { return card->processFrame(req.data(), req.size()); });
  }
  // A format with explicit PINs and retry counts, then the trace is cleared.
  void format(const char *user, uint8_t userTries, const char *so, uint8_t soTries,
              const char *label = nullptr) {
    ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, u8(so), so ? uint32_t(strlen(so)) : 0,
                                       soTries, u8(user), user ? uint32_t(strlen(user)) : 0,
                                       userTries, 0, label, 0, 0));
    clearTrace();
  }
  uint32_t verifyUser(const char *pin, uint8_t *tries = nullptr) {
    return zksTokenVerifyUserPin(&dev, u8(pin), uint32_t(strlen(pin)), tries);
  }
  uint32_t verifySo(const char *pin, uint8_t *tries = nullptr) {
    return zksTokenVerifySoPin(&dev, u8(pin), uint32_t(strlen(pin)), tries);
  }
  // The file control parameters select answers for a file of DF01 (or the MF and DF01).
  Bytes fciOf(uint16_t fid) {
    const uint8_t mf[2] = {0x3F, 0x00}, df[2] = {0xDF, 0x01};
    const uint8_t f[2] = {uint8_t(fid >> 8), uint8_t(fid)};
    uint8_t out[128];
    uint32_t len = sizeof out;
    EXPECT_EQ(0u, uk::selectFile(conn(), mf));
    if (fid != 0x3F00) EXPECT_EQ(0u, uk::selectFile(conn(), df));
    if (fid == 0x3F00 || fid == 0xDF01) {
      EXPECT_EQ(0u, uk::selectFile(conn(), f, out, &len)) << std::hex << fid;
    } else {
      uint32_t rc = uk::selectFile(conn(), f, out, &len);
      EXPECT_EQ(0u, rc) << std::hex << fid;
      if (rc) return {};
    }
    return Bytes(out, out + len);
  }
  std::vector<Frame> installs() {
    std::vector<Frame> out;
    for (auto &f : frames())
      if (f.ins() == 0x24 && (f.p1() & 0x0F) == 1) out.push_back(f);
    return out;
  }
  std::unique_ptr<tokensim::Card> card;
};

// ---- formatting -------------------------------------------------------------------------

TEST_F(Sim, FormatOfATokenWithAFileSystemErasesItAndSends14ProgressMessages) {
  card->factoryFormat("111111", "22222222", 10, 10, "OLD");
  ASSERT_TRUE(card->hasFileSystem());
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  EXPECT_EQ(14u, progress().size());
  for (void *w : progress()) EXPECT_EQ(kWindow, w);
  auto del = framesOf(0x00E40000);
  ASSERT_EQ(1u, del.size());
  EXPECT_EQ(unhex("3F00"), del[0].data());
  // The old PINs are gone, the defaults are in.
  EXPECT_NE(0u, verifyUser("111111"));
  EXPECT_EQ(0u, verifyUser("482915"));
  EXPECT_EQ(0u, verifySo("70361524"));
  // The log holds no start or end line of the format.
  EXPECT_EQ(std::string::npos, logText().find("zksTokenFormatDevice"));
}

TEST_F(Sim, FormatOfABlankTokenErasesNothingAndSends13ProgressMessages) {
  card->blank();
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  EXPECT_EQ(13u, progress().size());
  EXPECT_TRUE(framesOf(0x00E40000).empty());
  EXPECT_TRUE(card->hasFileSystem());
}

TEST_F(Sim, OnlyTheFirstProgressMessageGoesToANullWindow) {
  card->blank();
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, nullptr, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  ASSERT_EQ(1u, progress().size());
  EXPECT_EQ(nullptr, progress()[0]);
}

TEST_F(Sim, FormatBuildsTheTreeWithItsAttributes) {
  card->blank();
  format(nullptr, 0, nullptr, 0);
  const std::string zeros8 = "86080000000000000000";
  EXPECT_EQ("83023F00" "82023800" "84023F00" "85050000000000" + zeros8, hex(fciOf(0x3F00)));
  EXPECT_EQ("8302DF01" "82023800" "840CA000000063504B43532D3135" "85050000000000" + zeros8,
            hex(fciOf(0xDF01)));
  EXPECT_EQ("83025000" "82020300" "800200C0" "8503100000" + zeros8, hex(fciOf(0x5000)));
  EXPECT_EQ("83026000" "82020300" "800200C0" "8503100000" + zeros8, hex(fciOf(0x6000)));
  EXPECT_EQ("83027000" "82020300" "800200C0" "8503080000" + zeros8, hex(fciOf(0x7000)));
}

TEST_F(Sim, FormatSendsTheKeyFileAndItsFourEntries) {
  card->blank();
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  auto creates = framesOf(0x00E00000);
  ASSERT_EQ(6u, creates.size());
  EXPECT_EQ("83022F02" "82021000" "80020100" "850100" "860100", hex(creates[2].data()));
  auto in = installs();
  ASSERT_EQ(4u, in.size());
  EXPECT_EQ(0x002401C2u, in[0].header());
  EXPECT_EQ("00080F0100000010", hex(in[0].data()).substr(0, 16));
  EXPECT_EQ(0x002401C1u, in[1].header());
  EXPECT_EQ("00080F0100000010", hex(in[1].data()).substr(0, 16));
  EXPECT_NE(in[0].data(), in[1].data());
  EXPECT_EQ(0x002401A1u, in[2].header());
  EXPECT_EQ("00090A0000000006" + hex(Bytes(u8("482915"), u8("482915") + 6)), hex(in[2].data()));
  EXPECT_EQ(0x002401A4u, in[3].header());
  EXPECT_EQ("00080A0000000008" + hex(Bytes(u8("70361524"), u8("70361524") + 8)),
            hex(in[3].data()));
  // The default label goes out as its ten characters and two zero bytes.
  auto label = framesOf(0x00DB0144);
  ASSERT_EQ(1u, label.size());
  EXPECT_EQ(hex(Bytes(u8("ORV-USBKEY"), u8("ORV-USBKEY") + 10)) + "0000", hex(label[0].data()));
  // Formatting ends in DF01.
  ASSERT_GE(frames().size(), 2u);
  EXPECT_EQ(unhex("3F00"), frames()[frames().size() - 2].data());
  EXPECT_EQ(unhex("DF01"), frames().back().data());
}

TEST_F(Sim, FormatCutsPinsTo16AndTheLabelTo63AndDefaultsRetriesTo10) {
  card->blank();
  const char *user = "12345678901234567890";            // 20 bytes
  const char *so = "abcdefghijklmnopqrstuvwxyzABCDEF";  // 32 bytes
  std::string label(70, 'K');
  format(user, 0, so, 0, label.c_str());
  EXPECT_EQ(0u, verifyUser("1234567890123456"));
  EXPECT_NE(0u, verifyUser(user));
  EXPECT_EQ(0u, verifySo("abcdefghijklmnop"));
  char text[200];
  uint32_t len = sizeof text;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, text, &len));
  EXPECT_EQ(63u, len);
  EXPECT_EQ(std::string(63, 'K'), std::string(text));
  // Retry counts of 0 give 10 tries: nine wrong PINs leave one.
  ASSERT_EQ(0u, verifyUser("1234567890123456"));  // a right PIN restores the counter
  uint8_t tries = 0xEE;
  for (int i = 0; i < 9; ++i) verifyUser("000000", &tries);
  EXPECT_EQ(1, tries);
  EXPECT_EQ(0u, verifyUser("1234567890123456"));
}

TEST_F(Sim, FormatTakesLengthsAndRetryCountsAsBytes) {
  card->blank();
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, u8("87654321"), 0x108, 0x103, u8("654321"),
                                     0x206, 0x305, 0, "LBL", 0, 0));
  uint8_t tries = 0;
  EXPECT_EQ(0x800063C4u, verifyUser("000000", &tries));
  EXPECT_EQ(4, tries);
  EXPECT_EQ(0x800063C2u, verifySo("00000000", &tries));
  EXPECT_EQ(0u, verifyUser("654321"));
  EXPECT_EQ(0u, verifySo("87654321"));
}

TEST_F(Sim, FormatStopsAtAPinTooShortToInstall) {
  card->blank();
  EXPECT_EQ(4u, zksTokenFormatDevice(&dev, kWindow, nullptr, 0, 0, u8("123"), 3, 0, 0, nullptr, 0, 0));
  EXPECT_NE(std::string::npos, logText().find("---->CreatePIN(df01/PIN1)......\n"));
  EXPECT_EQ(7u, progress().size());  // blank token: none after the external keys
  EXPECT_TRUE(framesOf(0x00DB0144).empty());
  // Formatting again erases the partial tree.
  clearTrace();
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, kWindow, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  EXPECT_EQ(14u, progress().size());
}

// ---- PINs -------------------------------------------------------------------------------

TEST_F(Sim, WrongPinReportsTriesLeftUntilBlocked) {
  format("123456", 5, "12345678", 3);
  uint8_t tries = 0xEE;
  EXPECT_EQ(0x800063C4u, verifyUser("654321", &tries));
  EXPECT_EQ(4, tries);
  EXPECT_NE(std::string::npos, logText().find("---->uk_Login ......\nLogin end......\n"));
  for (uint8_t left = 3;; --left) {
    EXPECT_EQ(0x800063C0u + left, verifyUser("654321", &tries));
    EXPECT_EQ(left, tries);
    if (left == 0) break;
  }
  // Blocked: the right PIN is refused too, and the answer is no tries-left answer.
  tries = 0xEE;
  uint32_t rc = verifyUser("123456", &tries);
  EXPECT_NE(0u, rc);
  EXPECT_TRUE(rc == 0x80006983u || rc == 0x800063C0u) << std::hex << rc;
  if (rc == 0x80006983u) EXPECT_EQ(0xEE, tries);
  // A null tries-left pointer is never written.
  EXPECT_EQ(0x800063C2u, verifySo("00000000", nullptr));
}

TEST_F(Sim, VerifyArgumentsAreCheckedBeforeAnythingIsSent) {
  format(nullptr, 0, nullptr, 0);
  uint8_t pin[33];
  memset(pin, '4', sizeof pin);
  uint8_t tries = 0xEE;
  EXPECT_EQ(4u, zksTokenVerifyUserPin(&dev, pin, 33, &tries));
  EXPECT_EQ(4u, zksTokenVerifyUserPin(&dev, nullptr, 6, &tries));
  EXPECT_EQ(4u, zksTokenVerifySoPin(&dev, pin, 0, &tries));
  EXPECT_EQ(4u, zksTokenVerifySoPin(nullptr, pin, 6, &tries));
  EXPECT_EQ(0xEE, tries);
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ("Login starting......\n---->UKLR_PARAM_VALUE......\n",
            logText().substr(0, std::string("Login starting......\n---->UKLR_PARAM_VALUE......\n").size()));
}

TEST_F(Sim, ModifyWithAnOverLongNewPinVerifiesTheOldOneThenReturns4) {
  format("123456", 5, nullptr, 0);
  uint8_t newPin[33];
  memset(newPin, '9', sizeof newPin);
  uint8_t tries = 0xEE;
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, u8("123456"), 6, newPin, 33, &tries));
  EXPECT_EQ(1u, framesOf(0x002000A1).size());
  EXPECT_TRUE(framesOf(0x002400A1).empty());
  EXPECT_EQ(0xEE, tries);
  EXPECT_EQ(0u, verifyUser("123456"));
}

TEST_F(Sim, ModifyChangesThePinAndReportsTheOldPinsTries) {
  format("123456", 5, "12345678", 4);
  ASSERT_EQ(0u, zksTokenModifyUserPin(&dev, u8("123456"), 6, u8("24680"), 5, nullptr));
  EXPECT_EQ("ModifyPIN starting......\nModifyPIN end......\n", logText());
  EXPECT_EQ(0u, verifyUser("24680"));
  uint8_t tries = 0xEE;
  EXPECT_EQ(0x800063C4u, verifyUser("123456", &tries));

  clearTrace();
  tries = 0xEE;
  EXPECT_EQ(0x800063C3u, zksTokenModifySoPin(&dev, u8("00000000"), 8, u8("87654321"), 8, &tries));
  EXPECT_EQ(3, tries);
  EXPECT_TRUE(framesOf(0x002400A4).empty());
  EXPECT_NE(std::string::npos, logText().find("---->uk_ModifyPIN ......\nModifyPIN end......\n"));
  ASSERT_EQ(0u, zksTokenModifySoPin(&dev, u8("12345678"), 8, u8("87654321"), 8, &tries));
  EXPECT_EQ(0u, verifySo("87654321"));

  // Missing or over-long arguments, nothing sent.
  clearTrace();
  uint8_t longPin[33];
  memset(longPin, '1', sizeof longPin);
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, nullptr, 6, u8("111111"), 6, &tries));
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, u8("24680"), 5, nullptr, 6, &tries));
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, u8("24680"), 5, u8("111111"), 0, &tries));
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, longPin, 33, u8("111111"), 6, &tries));
  EXPECT_TRUE(frames().empty());
}

TEST_F(Sim, UnlockWithAWrongSoPinLeavesTheUserPinBlocked) {
  format("123456", 2, "12345678", 5);
  verifyUser("000000");
  verifyUser("000000");
  ASSERT_NE(0u, verifyUser("123456"));
  clearTrace();
  EXPECT_EQ(0x800063C4u, zksTokenUnlockUserPin(&dev, u8("87654321"), 8, u8("777777"), 6));
  EXPECT_TRUE(framesOf(0x00FC00A1).empty());
  EXPECT_NE(std::string::npos, logText().find("---->uk_Login ......\n"));
  EXPECT_NE(0u, verifyUser("777777"));

  ASSERT_EQ(0u, zksTokenUnlockUserPin(&dev, u8("12345678"), 8, u8("777777"), 6));
  EXPECT_EQ(0u, verifyUser("777777"));
  uint8_t tries = 0;
  EXPECT_EQ(0x800063C1u, verifyUser("000000", &tries));  // the retry counter was restored

  // Over-long or missing values are refused before the SO PIN is tried.
  clearTrace();
  uint8_t longPin[33];
  memset(longPin, '1', sizeof longPin);
  EXPECT_EQ(4u, zksTokenUnlockUserPin(&dev, u8("12345678"), 8, longPin, 33));
  EXPECT_EQ(4u, zksTokenUnlockUserPin(&dev, u8("12345678"), 8, nullptr, 6));
  EXPECT_EQ(4u, zksTokenUnlockUserPin(&dev, nullptr, 8, u8("777777"), 6));
  EXPECT_TRUE(frames().empty());
}

TEST_F(Sim, SetUserPinNeedsTheSoPinVerifiedAndLogOutClearsIt) {
  format("123456", 5, "12345678", 5);
  uint32_t rc = zksTokenSetUserPin(&dev, u8("5555"), 4, 0);
  EXPECT_EQ(0x80006982u, rc);
  EXPECT_NE(std::string::npos, logText().find("---->uk_CreatePIN ......\nCreatePIN end......\n"));

  ASSERT_EQ(0u, verifySo("12345678"));
  ASSERT_EQ(0u, zksTokenSetUserPin(&dev, u8("5555"), 0x104, 0));  // length taken as a byte
  EXPECT_EQ(unhex("35353535"), framesOf(0x00FC00A1).back().data());
  EXPECT_EQ(0u, verifyUser("5555"));

  ASSERT_EQ(0u, zksTokenResetUserPinVerifyFlag(&dev));
  EXPECT_EQ(1u, framesOf(0x002E0021).size());
  EXPECT_EQ(0x80006982u, zksTokenSetUserPin(&dev, u8("6666"), 4, 0));
  EXPECT_EQ(4u, zksTokenSetUserPin(&dev, u8("6666"), 0x100, 0));
  EXPECT_EQ(0u, verifyUser("5555"));
}

TEST_F(Sim, LogOutClearsTheUserPinsRightToUseKeys) {
  format("123456", 5, nullptr, 0);
  uk::FILE_ATTR pub{}, pri{};
  pub.flags = pri.flags = uk::FA_VALID | uk::FA_FID | uk::FA_SIZE;
  pub.kind = uk::FK_RSA_PUBLIC;
  pri.kind = uk::FK_RSA_PRIVATE;
  pub.fid[0] = 0xB0;
  pri.fid[0] = 0xA0;
  pub.fid[1] = pri.fid[1] = 0x01;
  pub.size[0] = pri.size[0] = 0x04;  // 1024 bits
  ASSERT_EQ(0u, uk::createFile(conn(), pub));
  ASSERT_EQ(0u, uk::createFile(conn(), pri));
  EXPECT_NE(0u, uk::generateKeyPair(conn(), pub.fid, pri.fid));
  ASSERT_EQ(0u, verifyUser("123456"));
  ASSERT_EQ(0u, uk::generateKeyPair(conn(), pub.fid, pri.fid));
  ASSERT_EQ(0u, zksTokenResetUserPinVerifyFlag(&dev));
  EXPECT_EQ(0x80006982u, uk::generateKeyPair(conn(), pub.fid, pri.fid));

  // The public key of the generated pair: modulus and right-aligned exponent.
  ASSERT_EQ(0u, uk::selectFile(conn(), pub.fid));
  uint8_t mod[128];
  uint32_t len = sizeof mod;
  ASSERT_EQ(0u, uk::getData(conn(), 0x11, 128, mod, &len));
  EXPECT_EQ(128u, len);
  EXPECT_NE(0, mod[0] & 0x80);
  uint8_t e[128];
  ASSERT_EQ(0u, uk::readPublicExponent(conn(), e, 128));
  EXPECT_EQ(Bytes({0x01, 0x00, 0x01}), Bytes(e + 125, e + 128));
  EXPECT_EQ(0, e[0]);
}

// ---- files, records, label and device information ----------------------------------------

TEST_F(Sim, TransparentFilesRoundTripInPieces) {
  format(nullptr, 0, nullptr, 0);
  uk::FILE_ATTR a{};
  a.flags = uk::FA_VALID | uk::FA_FID | uk::FA_SIZE;
  a.kind = uk::FK_TRANSPARENT;
  a.fid[0] = 0xE0;
  a.fid[1] = 0x01;
  a.size[0] = 0x01;
  a.size[1] = 0x2C;  // 300
  ASSERT_EQ(0u, uk::createFile(conn(), a));
  ASSERT_EQ(0u, zksTokenSelectEF(&dev, a.fid));
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  clearTrace();
  ASSERT_EQ(0u, uk::writeBinaryLong(conn(), data.data(), 300));
  EXPECT_EQ(3u, frames().size());
  uint8_t back[300];
  ASSERT_EQ(0u, uk::readBinaryLong(conn(), back, 300));
  EXPECT_EQ(data, Bytes(back, back + 300));
  uint8_t piece[16];
  ASSERT_EQ(0u, zksTokenReadBinary(&dev, 290, 10, piece));
  EXPECT_EQ(Bytes(data.begin() + 290, data.end()), Bytes(piece, piece + 10));
  ASSERT_EQ(0u, zksTokenUpdateBinary(&dev, 0, 3, u8("xyz")));
  ASSERT_EQ(0u, zksTokenReadBinary(&dev, 0, 3, piece));
  EXPECT_EQ(unhex("78797A"), Bytes(piece, piece + 3));
  // Reading past the end is the card's error, and a 501-byte read sends nothing.
  EXPECT_NE(0u, zksTokenReadBinary(&dev, 298, 10, piece));
  clearTrace();
  uint32_t got = 0;
  EXPECT_EQ(6u, uk::readBinary(conn(), 0, 501, back, &got));
  EXPECT_TRUE(frames().empty());
  ASSERT_EQ(0u, zksTokenDeleteEF(&dev, a.fid));
  EXPECT_EQ(0x80006A82u, zksTokenSelectEF(&dev, a.fid));
}

TEST_F(Sim, IndexRecordsReadBackWithoutTheirHeader) {
  format(nullptr, 0, nullptr, 0);
  const uint8_t idx[2] = {0x50, 0x00};
  ASSERT_EQ(0u, uk::selectFile(conn(), idx));
  uint8_t rec[192];
  uint32_t len = sizeof rec;
  EXPECT_TRUE(uk::isFreeRecord(uk::readRecord(conn(), 1, rec, &len)));
  Bytes data(192);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(0xA0 ^ i);
  ASSERT_EQ(0u, uk::updateRecord(conn(), 1, data.data(), 192));
  len = sizeof rec;
  ASSERT_EQ(0u, uk::readRecord(conn(), 1, rec, &len));
  EXPECT_EQ(192u, len);
  EXPECT_EQ(data, Bytes(rec, rec + 192));
  len = 100;
  EXPECT_EQ(1u, uk::readRecord(conn(), 1, rec, &len));
  EXPECT_EQ(192u, len);
  ASSERT_EQ(0u, uk::eraseRecord(conn(), 1));
  len = sizeof rec;
  EXPECT_TRUE(uk::isFreeRecord(uk::readRecord(conn(), 1, rec, &len)));
}

TEST_F(Sim, LabelSerialNumberVersionAndDeviceInformation) {
  format("123456", 6, nullptr, 0);
  ASSERT_EQ(0u, zksTokenModifyDeviceLabel(&dev, "My token", 8));
  char label[16];
  uint32_t len = 8;  // no room for the zero
  EXPECT_EQ(1u, zksTokenGetDeviceLabel(&dev, label, &len));
  len = 9;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, label, &len));
  EXPECT_EQ(8u, len);
  EXPECT_STREQ("My token", label);
  EXPECT_EQ("My token", card->label());

  char sn[32];
  ASSERT_EQ(0u, zksTokenGetSn(&dev, sn, &len));
  EXPECT_STREQ("UKCMD0001", sn);
  EXPECT_EQ(9u, len);

  uint8_t ver[16];
  ASSERT_EQ(0u, zksTokenGetCosVersion(&dev, ver, &len));
  EXPECT_EQ(16u, len);
  EXPECT_EQ(card->config().cosVersion.substr(0, 12),
            std::string(reinterpret_cast<char *>(ver), card->config().cosVersion.substr(0, 12).size()));

  // Block A1, bytes 8, 5 and 2: the emulator reports the user PIN's changed flag, usable flag and
  // tries left there.
  verifyUser("000000");
  uint32_t b8 = 0xEE;
  uint8_t b5 = 0xEE, b2 = 0xEE;
  ASSERT_EQ(0u, zksTokenGetDeviceInfo(&dev, &b8, &b5, &b2, 0));
  EXPECT_EQ(0u, b8);
  EXPECT_EQ(1, b5);
  EXPECT_EQ(5, b2);
}

TEST_F(Sim, RandomOf20BytesIsTwoGetRandomCommands) {
  uint8_t out[20] = {0};
  ASSERT_EQ(0u, zksTokenGenRandom(&dev, out, 20));
  ASSERT_EQ(2u, frames().size());
  for (auto &f : frames()) EXPECT_EQ(unhex("000A 00840000 00 0000 00 0010"), f.raw);
  ASSERT_EQ(2u, responses().size());
  Bytes r1 = responses()[0], r2 = responses()[1];
  EXPECT_EQ(Bytes(r1.begin() + 2, r1.begin() + 18), Bytes(out, out + 16));
  EXPECT_EQ(Bytes(r2.begin() + 2, r2.begin() + 6), Bytes(out + 16, out + 20));
  clearTrace();
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, out, 0));
  EXPECT_TRUE(frames().empty());
}

}  // namespace
