// The command layer against a scripted card: the exact command APDUs, the re-issues on 61xx and
// 6Cxx, and the handling of answers that do not match what was asked (lengths are never taken
// from the card on trust).
#include <gtest/gtest.h>

#include "sim_harness.h"
#include "uk_commands.h"

using namespace cmdtest;

namespace {

class Scripted : public BusFixture {
 protected:
  void SetUp() override { attach(card.fn()); }
  ScriptedCard card;
};

Bytes seq(uint32_t n, uint8_t start = 0) {
  Bytes b(n);
  for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(start + i);
  return b;
}

// ---- status words and transfers ---------------------------------------------------------

TEST_F(Scripted, StatusWordsMapToResultCodes) {
  const uint8_t fid[2] = {0x3F, 0x00};
  card.push({}, 0x6A82);
  card.push({}, 0x6200);
  card.push({}, 0x9000);
  EXPECT_EQ(0x80006A82u, uk::selectFile(conn(), fid));
  EXPECT_EQ(0x80006200u, uk::selectFile(conn(), fid));
  EXPECT_EQ(0u, uk::selectFile(conn(), fid));
  ASSERT_EQ(3u, frames().size());
  EXPECT_EQ(unhex("000C 00A40000 00 0002 3F00 00 0000"), frames()[0].raw);
  EXPECT_NE(std::string::npos, logText().find("---->uk_dev_SendAPDUCmd ......\n"));
}

TEST_F(Scripted, ReadOver500BytesSendsNothing) {
  uint8_t buf[600];
  uint32_t got = 0;
  EXPECT_EQ(6u, uk::readBinary(conn(), 0, 501, buf, &got));
  EXPECT_EQ(6u, uk::writeBinary(conn(), 0, buf, 501));
  EXPECT_TRUE(frames().empty());
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_DATA_LENGTH \n"));
}

TEST_F(Scripted, ReadBinaryReissuesShortFormOn61xx) {
  card.push({}, 0x6110);
  card.push(seq(16, 0x40), 0x9000);
  uint8_t buf[100];
  uint32_t got = 0;
  ASSERT_EQ(0u, uk::readBinary(conn(), 0x0102, 100, buf, &got));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x00B00102u, frames()[0].header());
  EXPECT_EQ(0u, frames()[0].lc());
  EXPECT_EQ(100u, frames()[0].le());
  EXPECT_EQ(0x00B00102u, frames()[1].header());
  EXPECT_EQ(0x10u, frames()[1].le());
  EXPECT_EQ(16u, got);
  EXPECT_EQ(seq(16, 0x40), Bytes(buf, buf + 16));
}

TEST_F(Scripted, ReadBinaryAnswerLongerThanAskedIsNotCopied) {
  card.push(seq(10), 0x9000);
  uint8_t buf[8];
  memset(buf, 0xEE, sizeof buf);
  uint32_t got = 0;
  EXPECT_EQ(1u, uk::readBinary(conn(), 0, 4, buf, &got));
  EXPECT_EQ(10u, got);
  for (uint8_t b : buf) EXPECT_EQ(0xEE, b);
}

TEST_F(Scripted, LongTransfersGoIn128BytePieces) {
  Bytes data = seq(300, 7);
  ASSERT_EQ(0u, uk::writeBinaryLong(conn(), data.data(), 300));
  ASSERT_EQ(3u, frames().size());
  const uint32_t offs[3] = {0, 128, 256}, lens[3] = {128, 128, 44};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0x00D00000u | offs[i], frames()[i].header());
    EXPECT_EQ(Bytes(data.begin() + offs[i], data.begin() + offs[i] + lens[i]), frames()[i].data());
  }
  clearTrace();
  card.push(seq(128, 7), 0x9000);
  card.push(seq(128, 7 + 128), 0x9000);
  card.push(seq(44, 7 + 256), 0x9000);
  uint8_t back[300];
  ASSERT_EQ(0u, uk::readBinaryLong(conn(), back, 300));
  ASSERT_EQ(3u, frames().size());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0x00B00000u | offs[i], frames()[i].header());
    EXPECT_EQ(lens[i], frames()[i].le());
  }
  EXPECT_EQ(data, Bytes(back, back + 300));
}

TEST_F(Scripted, LongReadStopsOnAShortPiece) {
  card.push(seq(128), 0x9000);
  card.push(seq(20), 0x9000);
  uint8_t back[200];
  EXPECT_EQ(6u, uk::readBinaryLong(conn(), back, 200));
  EXPECT_EQ(2u, frames().size());
}

// ---- records ----------------------------------------------------------------------------

TEST_F(Scripted, ReadRecordDropsHeaderAndReissuesOn61xx) {
  Bytes rec = seq(196, 1);
  card.push({}, 0x61C4);
  card.push(rec, 0x9000);
  uint8_t out[192];
  uint32_t len = sizeof out;
  ASSERT_EQ(0u, uk::readRecord(conn(), 3, out, &len));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x00B20304u, frames()[0].header());
  EXPECT_EQ(0xC0u, frames()[0].le());
  EXPECT_EQ(0xC4u, frames()[1].le());
  EXPECT_EQ(192u, len);
  EXPECT_EQ(Bytes(rec.begin() + 4, rec.end()), Bytes(out, out + 192));
}

TEST_F(Scripted, ReadRecordRefusesWhatDoesNotFit) {
  card.push({}, 0x61D0);  // 208 bytes: a record of 204 after the header
  uint8_t out[192];
  uint32_t len = sizeof out;
  EXPECT_EQ(1u, uk::readRecord(conn(), 1, out, &len));
  EXPECT_EQ(204u, len);
  EXPECT_EQ(1u, frames().size());
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_BUFFER_TOO_SMALL......\n"));

  card.push(seq(200), 0x9000);  // 196 after the header, given straight away
  len = sizeof out;
  EXPECT_EQ(1u, uk::readRecord(conn(), 1, out, &len));
  EXPECT_EQ(196u, len);

  card.push(seq(2), 0x9000);  // shorter than the header
  len = sizeof out;
  EXPECT_EQ(6u, uk::readRecord(conn(), 1, out, &len));
}

TEST_F(Scripted, EmptyRecordAnswersAreFreeSlots) {
  card.push({}, 0x6A83);
  uint8_t out[192];
  uint32_t len = sizeof out;
  uint32_t rc = uk::readRecord(conn(), 2, out, &len);
  EXPECT_TRUE(uk::isFreeRecord(rc));
  EXPECT_TRUE(uk::isFreeRecord(0x80006A88u));
  EXPECT_FALSE(uk::isFreeRecord(0x80006A82u));
}

TEST_F(Scripted, UpdateAndEraseRecordCommands) {
  Bytes rec = seq(192);
  ASSERT_EQ(0u, uk::updateRecord(conn(), 5, rec.data(), 192));
  ASSERT_EQ(0u, uk::eraseRecord(conn(), 5));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x00DC0504u, frames()[0].header());
  EXPECT_EQ(rec, frames()[0].data());
  EXPECT_EQ(unhex("000A 000C0504 00 0000 00 0000"), frames()[1].raw);
}

// ---- random numbers ---------------------------------------------------------------------

TEST_F(Scripted, RandomOf20BytesIsTwoCommandsOf16Then4) {
  card.push(seq(16, 0x10), 0x9000);
  card.push(seq(16, 0x80), 0x9000);
  uint8_t out[20];
  ASSERT_EQ(0u, uk::getRandom(conn(), out, 20));
  ASSERT_EQ(2u, frames().size());
  for (auto &f : frames()) EXPECT_EQ(unhex("000A 00840000 00 0000 00 0010"), f.raw);
  Bytes want = seq(16, 0x10);
  Bytes tail = seq(4, 0x80);
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_EQ(want, Bytes(out, out + 20));
}

TEST_F(Scripted, RandomRefusesShortAnswersAndZeroLength) {
  uint8_t out[16];
  EXPECT_EQ(0u, uk::getRandom(conn(), out, 0));
  EXPECT_TRUE(frames().empty());
  card.push(seq(8), 0x9000);
  EXPECT_EQ(6u, uk::getRandom(conn(), out, 16));
}

TEST_F(Scripted, GenRandomExportTakesLengthAsAByte) {
  uint8_t out[32];
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, out, 0));
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ("zksTokenGenRandom starting......\nzksTokenGenRandom end......\n", logText());
  card.push(seq(16), 0x9000);
  card.push(seq(16), 0x9000);
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, out, 0x114));  // 20
  EXPECT_EQ(2u, frames().size());
  EXPECT_EQ(4u, zksTokenGenRandom(&dev, nullptr, 4));
}

// ---- key components ---------------------------------------------------------------------

TEST_F(Scripted, ExponentReadRetriesWithTheLeOf6Cxx) {
  card.push({}, 0x6C03);
  card.push({0x01, 0x00, 0x01}, 0x9000);
  uint8_t e[128];
  memset(e, 0xEE, sizeof e);
  ASSERT_EQ(0u, uk::readPublicExponent(conn(), e, 128));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(unhex("000A 00CB0110 00 0000 00 0010"), frames()[0].raw);
  EXPECT_EQ(0x03u, frames()[1].le());
  for (int i = 0; i < 125; ++i) ASSERT_EQ(0, e[i]) << i;
  EXPECT_EQ(Bytes({0x01, 0x00, 0x01}), Bytes(e + 125, e + 128));
}

TEST_F(Scripted, ExponentReadRetriesOnceUnchangedOnOtherErrors) {
  card.push({}, 0x6A82);
  card.push({}, 0x6A82);
  uint8_t e[128];
  EXPECT_EQ(0x80006A82u, uk::readPublicExponent(conn(), e, 128));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x10u, frames()[1].le());
  // An exponent longer than the modulus buffer is refused.
  card.push(seq(3), 0x9000);
  EXPECT_EQ(1u, uk::readPublicExponent(conn(), e, 2));
}

// Only 6Cxx names a length: a status word that merely shares its bits (6D00, instruction not
// supported) is retried with the Le first asked for.
TEST_F(Scripted, ExponentReadTakesTheLeOnlyFrom6Cxx) {
  card.push({}, 0x6D00);
  card.push({}, 0x6D00);
  uint8_t e[128];
  EXPECT_EQ(0x80006D00u, uk::readPublicExponent(conn(), e, 128));
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x10u, frames()[1].le());
  card.push({}, 0x6F03);
  card.push({}, 0x6F03);
  EXPECT_EQ(0x80006F03u, uk::readPublicExponent(conn(), e, 128));
  ASSERT_EQ(4u, frames().size());
  EXPECT_EQ(0x10u, frames()[3].le());
}

TEST_F(Scripted, GetAndPutDataCommands) {
  uint8_t mod[128];
  uint32_t len = sizeof mod;
  card.push(seq(128), 0x9000);
  ASSERT_EQ(0u, uk::getData(conn(), 0x11, 128, mod, &len));
  EXPECT_EQ(128u, len);
  EXPECT_EQ(128u, frames()[0].le());
  card.push(seq(16), 0x9000);
  len = 8;
  EXPECT_EQ(1u, uk::getData(conn(), 0x20, 8, mod, &len));
  EXPECT_EQ(16u, len);
  ASSERT_EQ(0u, uk::putData(conn(), 0x12, mod, 128));
  EXPECT_EQ(0x00DB0112u, frames().back().header());
  EXPECT_EQ(128u, frames().back().lc());
  const uint8_t pub[2] = {0xB0, 0x01}, pri[2] = {0xA0, 0x01};
  ASSERT_EQ(0u, uk::generateKeyPair(conn(), pub, pri));
  EXPECT_EQ(unhex("000E 00460000 00 0004 B001A001 00 0000"), frames().back().raw);
}

// ---- crypto environment and security operations -----------------------------------------

TEST_F(Scripted, SecurityOperationsNeedTheirEnvironment) {
  uint8_t in[128] = {0}, out[256];
  uint32_t outLen = sizeof out;
  EXPECT_EQ(4109u, uk::encipher(conn(), in, 16, out, &outLen));
  EXPECT_TRUE(frames().empty());
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_CRYPTO_ENV_NOT_INIT ......\n"));

  const uint8_t fid[2] = {0xA0, 0x01};
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x41, 0xB6, 0x13, fid));
  EXPECT_EQ(unhex("0011 002241B6 00 0007 80011381 02A001 00 0000"), frames().back().raw);
  EXPECT_EQ(UK_OP_SIGN, conn()->opByte);
  EXPECT_EQ(4109u, uk::encipher(conn(), in, 16, out, &outLen));
  EXPECT_EQ(4109u, uk::decipher(conn(), in, 16, out, &outLen));
  EXPECT_EQ(4109u, uk::publicDecipher(conn(), in, 128, out, &outLen));
  size_t before = frames().size();
  EXPECT_EQ(6u, uk::sign(conn(), in, 100, out, &outLen));
  EXPECT_EQ(before, frames().size());

  // A signature that waits for the button answers without data.
  card.push({}, 0x9000);
  outLen = sizeof out;
  ASSERT_EQ(0u, uk::sign(conn(), in, 128, out, &outLen));
  EXPECT_EQ(0u, outLen);
  EXPECT_EQ(0x002A9E9Au, frames().back().header());
  EXPECT_EQ(128u, frames().back().lc());

  card.push({}, 0x6785);
  outLen = sizeof out;
  EXPECT_EQ(0x80006785u, uk::fetchSignature(conn(), 128, out, &outLen));
  EXPECT_EQ(unhex("000A 00520000 00 0000 00 0080"), frames().back().raw);
  card.push(seq(128), 0x9000);
  outLen = 64;
  EXPECT_EQ(1u, uk::fetchSignature(conn(), 128, out, &outLen));
  EXPECT_EQ(128u, outLen);
  ASSERT_EQ(0u, uk::cancelSignature(conn()));
  EXPECT_EQ(unhex("000A 00540000 00 0000 00 0000"), frames().back().raw);

  // The other three environments.
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x81, 0xB8, 0x11, fid));
  EXPECT_EQ(UK_OP_ENCIPHER, conn()->opByte);
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x41, 0xB8, 0x11, fid));
  EXPECT_EQ(UK_OP_DECIPHER, conn()->opByte);
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x81, 0xB6, 0x11, fid));
  EXPECT_EQ(UK_OP_PUB_DECIPHER, conn()->opByte);
  // An environment the card refuses leaves none in force.
  card.push({}, 0x6A82);
  EXPECT_EQ(0x80006A82u, uk::setCryptoEnv(conn(), 0x81, 0xB8, 0x11, fid));
  EXPECT_EQ(0, conn()->opByte);
}

TEST_F(Scripted, CryptoEnvironmentWithIv) {
  const uint8_t fid[2] = {0xD0, 0x02};
  const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x81, 0xB8, 0x02, fid, iv, 8));
  EXPECT_EQ(unhex("8001028102D002 8708 0102030405060708"), frames().back().data());
}

TEST_F(Scripted, SecurityOperationOutputNeedsCapacity) {
  const uint8_t fid[2] = {0xB0, 0x01};
  ASSERT_EQ(0u, uk::setCryptoEnv(conn(), 0x81, 0xB8, 0x11, fid));
  card.push(seq(128), 0x9000);
  uint8_t in[16] = {0}, out[64];
  uint32_t outLen = sizeof out;
  EXPECT_EQ(1u, uk::encipher(conn(), in, 16, out, &outLen));
  EXPECT_EQ(128u, outLen);
  EXPECT_EQ(0x002A8680u, frames().back().header());
}

// ---- PINs -------------------------------------------------------------------------------

TEST_F(Scripted, PinCommandsAndTheirLimits) {
  uint8_t pin[40];
  memset(pin, '1', sizeof pin);
  EXPECT_EQ(4u, uk::verifyPin(conn(), uk::PIN_USER, pin, 33));
  EXPECT_EQ(8u, uk::verifyPin(conn(), 0xA2, pin, 6));
  EXPECT_TRUE(frames().empty());
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_INVALID_TYPE \n"));

  ASSERT_EQ(0u, uk::verifyPin(conn(), uk::PIN_SO, pin, 8));
  EXPECT_EQ(unhex("0012 002000A4 00 0008 3131313131313131 00 0000"), frames().back().raw);

  const uint8_t oldPin[3] = {'a', 'b', 'c'}, newPin[4] = {'w', 'x', 'y', 'z'};
  ASSERT_EQ(0u, uk::changePin(conn(), uk::PIN_USER, oldPin, 3, newPin, 4));
  EXPECT_EQ(0x002400A1u, frames().back().header());
  EXPECT_EQ(unhex("03 616263 04 7778797A"), frames().back().data());
  ASSERT_EQ(0u, uk::changePin(conn(), uk::KEY_EXT_AUTH1, nullptr, 0, newPin, 4));
  EXPECT_EQ(unhex("7778797A"), frames().back().data());
  size_t before = frames().size();
  EXPECT_EQ(4u, uk::changePin(conn(), uk::PIN_USER, oldPin, 3, pin, 33));
  EXPECT_EQ(4u, uk::changePin(conn(), uk::PIN_USER, pin, 33, newPin, 4));
  EXPECT_EQ(4u, uk::resetUserPin(conn(), pin, 33));
  EXPECT_EQ(before, frames().size());

  ASSERT_EQ(0u, uk::resetUserPin(conn(), newPin, 4));
  EXPECT_EQ(unhex("000E 00FC00A1 00 0004 7778797A 00 0000"), frames().back().raw);
  ASSERT_EQ(0u, uk::logOut(conn()));
  EXPECT_EQ(unhex("000A 002E0021 00 0000 00 0000"), frames().back().raw);
}

TEST_F(Scripted, InstallPinCommand) {
  uk::PinInstall e{};
  e.ref = uk::PIN_USER;
  e.access2 = 9;
  e.retries = 10;
  ASSERT_EQ(0u, uk::installPin(conn(), e, reinterpret_cast<const uint8_t *>("123456"), 6));
  EXPECT_EQ(unhex("0018 002401A1 00 000E 0009 0A00 0000 0006 313233343536 00 0000"),
            frames().back().raw);
  e.ref = uk::KEY_EXT_AUTH2;
  e.number = 2;
  e.algClass = 1;
  e.usage = 0x55;
  e.access1 = 0x11;
  ASSERT_EQ(0u, uk::installPin(conn(), e, reinterpret_cast<const uint8_t *>("ABCD"), 4));
  EXPECT_EQ(0x002421C1u, frames().back().header());
  EXPECT_EQ(unhex("11 09 0A 01 00 02 55 04 41424344"), frames().back().data());
  size_t before = frames().size();
  EXPECT_EQ(4u, uk::installPin(conn(), e, reinterpret_cast<const uint8_t *>("ABC"), 3));
  e.ref = 0x99;
  EXPECT_EQ(8u, uk::installPin(conn(), e, reinterpret_cast<const uint8_t *>("ABCD"), 4));
  EXPECT_EQ(before, frames().size());
}

TEST_F(Scripted, TriesLeftOnlyFrom63Cx) {
  uint8_t tries = 0xEE;
  card.push({}, 0x63C4);
  EXPECT_EQ(0x800063C4u, zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>("000000"), 6,
                                               &tries));
  EXPECT_EQ(4, tries);
  // 6FC3 shares every bit of 63C0 but is not a wrong-PIN answer.
  tries = 0xEE;
  card.push({}, 0x6FC3);
  EXPECT_EQ(0x80006FC3u, zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>("000000"), 6,
                                               &tries));
  EXPECT_EQ(0xEE, tries);
  card.push({}, 0x63C2);
  EXPECT_EQ(0x800063C2u, zksTokenVerifySoPin(&dev, reinterpret_cast<const uint8_t *>("000000"), 6,
                                             nullptr));
  std::string log = logText();
  std::string last = log.substr(log.rfind("Login starting......\n"));
  EXPECT_NE(std::string::npos, last.find("---->uk_dev_SendAPDUCmd ......\n"));
  EXPECT_NE(std::string::npos, last.find("---->uk_Login ......\nLogin end......\n"));
}

// ---- labels and device information ------------------------------------------------------

TEST_F(Scripted, LabelIsCutAt112AndNeedsRoomForItsZero) {
  card.push(Bytes(128, 'L'), 0x9000);
  char label[200];
  uint32_t len = 112;
  EXPECT_EQ(1u, zksTokenGetDeviceLabel(&dev, label, &len));
  EXPECT_EQ(113u, len);
  card.push(Bytes(128, 'L'), 0x9000);
  len = 113;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, label, &len));
  EXPECT_EQ(112u, len);
  EXPECT_EQ(std::string(112, 'L'), std::string(label));
  EXPECT_EQ(unhex("000A 00CB0161 00 0000 00 0080"), frames().back().raw);

  Bytes text = {'A', 'B', 'C', 0, 'x', 'y'};
  card.push(text, 0x9000);
  len = sizeof label;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, label, &len));
  EXPECT_EQ(3u, len);
  EXPECT_STREQ("ABC", label);

  std::string longLabel(130, 'M');
  ASSERT_EQ(0u, zksTokenModifyDeviceLabel(&dev, longLabel.c_str(), 130));
  EXPECT_EQ(0x00DB0144u, frames().back().header());
  Bytes sent = frames().back().data();
  ASSERT_EQ(113u, sent.size());
  EXPECT_EQ(0, sent.back());
  EXPECT_NE(std::string::npos, logText().find("GetDevLabel starting......\n"));
}

TEST_F(Scripted, SerialNumberIsAtMost31Characters) {
  card.push(Bytes(32, 'S'), 0x9000);
  char sn[32];
  uint32_t len = 0;
  ASSERT_EQ(0u, zksTokenGetSn(&dev, sn, &len));
  EXPECT_EQ(31u, len);
  EXPECT_EQ(std::string(31, 'S'), std::string(sn));
  EXPECT_EQ(unhex("000A 00F00002 00 0000 00 0020"), frames().back().raw);
  card.push({'U', 'K', '1', 0, 'z'}, 0x9000);
  ASSERT_EQ(0u, zksTokenGetSn(&dev, sn, &len));
  EXPECT_EQ(3u, len);
  EXPECT_STREQ("UK1", sn);
  EXPECT_NE(std::string::npos, logText().find("GetDevInfo starting......\nGetDevInfo end......\n"));
}

TEST_F(Scripted, DeviceInfoBlockA1GivesBytes852) {
  card.push(seq(9, 0x30), 0x9000);
  uint32_t b8 = 0;
  uint8_t b5 = 0, b2 = 0;
  ASSERT_EQ(0u, zksTokenGetDeviceInfo(&dev, &b8, &b5, &b2, 0));
  EXPECT_EQ(0x38u, b8);
  EXPECT_EQ(0x35, b5);
  EXPECT_EQ(0x32, b2);
  EXPECT_EQ(unhex("000A 00F0A100 00 0000 00 0009"), frames().back().raw);
  card.push(seq(9, 0x30), 0x9000);
  EXPECT_EQ(0u, zksTokenGetDeviceInfo(&dev, nullptr, &b5, nullptr, 0));
  // A block shorter than 9 bytes is refused and nothing is written.
  card.push(seq(5), 0x9000);
  b5 = 0xEE;
  EXPECT_EQ(6u, zksTokenGetDeviceInfo(&dev, nullptr, &b5, nullptr, 0));
  EXPECT_EQ(0xEE, b5);
}

TEST_F(Scripted, CosVersionIsReportedAs16Bytes) {
  card.push(Bytes{'Q', '5', '7', ' ', 'C', 'O', 'S', ' ', '2', '.', '1', '0'}, 0x9000);
  uint8_t v[16];
  memset(v, 0xEE, sizeof v);
  uint32_t len = 0;
  ASSERT_EQ(0u, zksTokenGetCosVersion(&dev, v, &len));
  EXPECT_EQ(16u, len);
  EXPECT_EQ(std::string("Q57 COS 2.10"), std::string(reinterpret_cast<char *>(v), 12));
  for (int i = 12; i < 16; ++i) EXPECT_EQ(0, v[i]);
  EXPECT_EQ(unhex("000A 00F00001 00 0000 00 000C"), frames().back().raw);
}

// ---- file exports -----------------------------------------------------------------------

TEST_F(Scripted, FileExportsSendTheirCommandsAndLogTheirSteps) {
  const uint8_t fid[2] = {0xC0, 0x01};
  ASSERT_EQ(0u, zksTokenSelectDF(&dev, fid));
  EXPECT_EQ("zksTokenSelectEF starting......\nzksTokenSelectEF end......\n", logText());
  ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev, 0));
  ASSERT_EQ(0u, zksTokenDeleteEF(&dev, fid));
  ASSERT_EQ(4u, frames().size());
  EXPECT_EQ(unhex("3F00"), frames()[1].data());
  EXPECT_EQ(unhex("DF01"), frames()[2].data());
  EXPECT_EQ(unhex("000C 00E40200 00 0002 C001 00 0000"), frames()[3].raw);

  clearTrace();
  card.push({}, 0x6B00);
  uint8_t buf[16];
  EXPECT_EQ(0x80006B00u, zksTokenReadBinary(&dev, 0x20, 16, buf));
  EXPECT_EQ(0x00B00020u, frames().back().header());
  std::string log = logText();
  EXPECT_EQ(0u, log.find("ReadFile starting......\n"));
  EXPECT_NE(std::string::npos, log.find("---->uk_ReadFile ......\nReadFile end......\n"));

  uint8_t data[3] = {1, 2, 3};
  ASSERT_EQ(0u, zksTokenUpdateBinary(&dev, 0x0105, 0x103, data));  // length taken as a byte
  EXPECT_EQ(unhex("000D 00D00105 00 0003 010203 00 0000"), frames().back().raw);
  EXPECT_EQ(4u, zksTokenSelectEF(&dev, nullptr));
  EXPECT_EQ(4u, zksTokenReadBinary(&dev, 0, 4, nullptr));
}

}  // namespace
