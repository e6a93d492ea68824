// Framing of command APDUs, response handling and secure messaging, against the scripted card.
#include <cstring>

#include "road_fixture.h"

using fake::Bytes;

namespace {

Bytes frameOf(const Bytes &apdu) {
  uk::ApduParts p;
  EXPECT_EQ(uk::parseApdu(apdu.data(), uint32_t(apdu.size()), &p), 0u);
  Bytes frame(p.lc + 12);
  uint32_t n = uk::buildFrame(p.cla, p.ins, p.p1, p.p2, p.data, p.lc, p.le, frame.data());
  EXPECT_EQ(n, p.lc + 12);
  return frame;
}

uint32_t parseRc(const Bytes &apdu) {
  uk::ApduParts p;
  return uk::parseApdu(apdu.data(), uint32_t(apdu.size()), &p);
}

}  // namespace

TEST(Framing, GetChallengeGivesTheTwelveByteFrame) {
  EXPECT_EQ(frameOf({0x00, 0x84, 0x00, 0x00, 0x08}),
            (Bytes{0x00, 0x0A, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08}));
}

TEST(Framing, ShortAndExtendedFormsGiveTheSameFrame) {
  // Short: Lc 2, data, Le 1 byte. Extended: 00, Lc 2 bytes, data, then 00 Le (three bytes).
  Bytes shortForm = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x80};
  Bytes extForm = {0x00, 0xA4, 0x00, 0x00, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x00, 0x00, 0x80};
  Bytes expected = {0x00, 0x0C, 0x00, 0xA4, 0x00, 0x00, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(frameOf(shortForm), expected);
  EXPECT_EQ(frameOf(extForm), expected);
  // Extended Le alone (read binary of 500 bytes) and a short APDU without Le.
  EXPECT_EQ(frameOf({0x00, 0xB0, 0x00, 0x10, 0x00, 0x01, 0xF4}),
            (Bytes{0x00, 0x0A, 0x00, 0xB0, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF4}));
  EXPECT_EQ(frameOf({0x00, 0xD6, 0x00, 0x00, 0x01, 0x55}),
            (Bytes{0x00, 0x0B, 0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x01, 0x55, 0x00, 0x00, 0x00}));
  // Short form with a three-byte trailer: its last two bytes are Le.
  EXPECT_EQ(frameOf({0x00, 0xD6, 0x00, 0x00, 0x01, 0x55, 0x00, 0x01, 0x02}).back(), 0x02);
}

TEST(Framing, LengthLimitsAndMalformedApdusAreRefused) {
  EXPECT_EQ(parseRc({0x00, 0x84, 0x00, 0x00}), UKLR_DATA_LENGTH);  // four bytes
  Bytes big(1001, 0x11);
  big[4] = 0;
  EXPECT_EQ(parseRc(big), UKLR_DATA_LENGTH);
  Bytes max = {0x00, 0xD6, 0x00, 0x00, 0x00, 0x03, 0xE1};  // extended Lc 993: 1000 bytes total
  max.resize(1000, 0x22);
  EXPECT_EQ(parseRc(max), 0u);
  EXPECT_EQ(parseRc({0x00, 0xD6, 0x00, 0x00, 0x03, 0xAA, 0xBB}), UKLR_PARAM_VALUE);  // Lc 3, 2 bytes
  EXPECT_EQ(parseRc({0x00, 0xD6, 0x00, 0x00, 0x01, 0xAA, 0x00, 0x00}), UKLR_PARAM_VALUE);  // 2 left
  EXPECT_EQ(parseRc({0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x05, 1, 2}), UKLR_PARAM_VALUE);
}

TEST(Framing, ResponseFrameChecks) {
  uint32_t len = 0;
  const uint8_t ok[] = {0x00, 0x04, 0xAA, 0xBB, 0x90, 0x00, 0x00, 0x00};
  EXPECT_EQ(uk::checkResponseFrame(ok, sizeof ok, &len), 0u);  // trailing bytes are ignored
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(uk::checkResponseFrame(ok, 5, &len), UKLR_DATA_LENGTH);  // length beyond the transfer
  const uint8_t tiny[] = {0x00, 0x01, 0x90, 0x00};
  EXPECT_EQ(uk::checkResponseFrame(tiny, 4, &len), UKLR_DATA_LENGTH);  // no room for a status word
  std::vector<uint8_t> huge(4096, 0);
  huge[0] = 0x08;  // 2048 + 1 bytes follow
  huge[1] = 0x01;
  EXPECT_EQ(uk::checkResponseFrame(huge.data(), 4096, &len), UKLR_DATA_LENGTH);
  huge[1] = 0x00;  // frame of 2050 bytes
  EXPECT_EQ(uk::checkResponseFrame(huge.data(), 4096, &len), UKLR_DATA_LENGTH);
  huge[0] = 0x07;
  huge[1] = 0xFE;  // exactly 2048
  EXPECT_EQ(uk::checkResponseFrame(huge.data(), 4096, &len), 0u);
  EXPECT_EQ(len, 2048u);
}

class SendTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    bus.addToken("7&1a2b3c&0");
    conn = connect();
    ASSERT_NE(conn, nullptr);
  }
  void TearDown() override {
    uk::closeConnection(conn);
    RoadTest::TearDown();
  }
  fake::Card &card() { return *bus.devices[0].card; }
  UK_USB_DEV_CTX *conn = nullptr;
};

TEST_F(SendTest, StatusWordsMapAndNon90AreLogged) {
  Bytes resp;
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x90, 0x00, 0x00}, &resp), 0u);
  EXPECT_EQ(resp, (Bytes{0x00, 0x02, 0x90, 0x00}));
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x6A, 0x82, 0x00}), 0x80006A82u);
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x63, 0xC2, 0x00}), 0x800063C2u);
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x90, 0x01, 0x00}), 0x80009001u);
  EXPECT_EQ(logText(), "---->SW is 6A 82 \n---->SW is 63 C2 \n");
  // The vendor command blocks: write with the frame length, read asking for 4096 bytes.
  ASSERT_GE(bus.cdbs.size(), 2u);
  EXPECT_EQ(bus.cdbs[0], (std::vector<uint8_t>{0xFF, 'M', 'A', 'R', 'V', 'O', 2, 0x00, 0x0C, 0}));
  EXPECT_EQ(bus.cdbs[1], (std::vector<uint8_t>{0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x10, 0x00, 0}));
}

TEST_F(SendTest, ResponseIsCheckedAgainstTheCallersCapacity) {
  Bytes resp;
  // Echo of three bytes: a 7-byte response frame.
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x03, 1, 2, 3}, &resp, 7), 0u);
  EXPECT_EQ(resp, (Bytes{0x00, 0x05, 1, 2, 3, 0x90, 0x00}));
  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x03, 1, 2, 3}, &resp, 6), UKLR_BUFFER_TOO_SMALL);
  EXPECT_EQ(logText(), "---->UKLR_BUFFER_TOO_SMALL......\n---->ParseQ57Recvbuf......\n");
}

TEST_F(SendTest, DriverReportingTheWholeBufferStillYieldsTheFrame) {
  bus.reportWholeBuffer = true;
  Bytes resp;
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x02, 9, 8}, &resp), 0u);
  EXPECT_EQ(resp, (Bytes{0x00, 0x04, 9, 8, 0x90, 0x00}));
}

TEST_F(SendTest, ResponsesLongerThan2048BytesAreRefused) {
  card().echoPadding = 2044;  // 2044 data bytes: a 2048-byte frame is still kept
  Bytes resp;
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x00}, &resp, 4096), 0u);
  EXPECT_EQ(resp.size(), 2048u);
  card().echoPadding = 2045;
  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x00}, &resp, 4096), UKLR_DATA_LENGTH);
  EXPECT_NE(logText().find("---->ParseQ57Recvbuf......\n"), std::string::npos);
}

TEST_F(SendTest, TransferFailuresAndBadArguments) {
  bus.writeError = 31;
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x90, 0x00, 0x00}), UKLR_DEV_WRITE);
  EXPECT_EQ(logText(),
            "---->VendorUSBKeyDataInOut(Write) Error.Code is  0x0000001f\n"
            "---->uk_usb_SendAPDUCmd......\n");
  bus.writeError = 0;
  bus.readError = 23;
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x90, 0x00, 0x00}), UKLR_DEV_READ);
  bus.readError = 0;
  host.mutexTimesOut = true;
  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0xCA, 0x90, 0x00, 0x00}), UKLR_DEV_BLOCK);
  EXPECT_EQ(logText(), "---->UKLR_DEV_BLOCK......\n---->uk_usb_SendAPDUCmd......\n");
  host.mutexTimesOut = false;

  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00}), UKLR_DATA_LENGTH);
  EXPECT_EQ(logText(), "---->UKLR_DATA_LENGTH......\n---->GenQ57Sendbuf.\n");
  EXPECT_EQ(send(conn, {0x00, 0xD6, 0x00, 0x00, 0x03, 0xAA, 0xBB}), UKLR_PARAM_VALUE);
  EXPECT_EQ(send(nullptr, {0x00, 0x84, 0x00, 0x00, 0x08}), UKLR_PARAM_VALUE);
}

// ---- secure messaging -------------------------------------------------------------------------

class SecureTest : public SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    memcpy(key, card().transportKey, 16);
  }
  uint8_t key[16];
};

TEST_F(SecureTest, OpeningTheChannelSetsKeysAndFlags) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  EXPECT_TRUE(card().secureChannel);
  EXPECT_EQ(conn->smFlags, 3);
  EXPECT_EQ(uint32_t(conn->keyLen), 16u);
  EXPECT_EQ(0, memcmp(conn->keys + 64, key, 16));
  // Initialize update then external authenticate (extended form, CLA 84, not wrapped).
  ASSERT_EQ(card().frames.size(), 2u);
  const Bytes &iu = card().frames[0];
  EXPECT_EQ(Bytes(iu.begin(), iu.begin() + 9), (Bytes{0x00, 0x12, 0x80, 0x50, 0x00, 0xFF, 0x00, 0x00, 0x08}));
  const Bytes &ea = card().frames[1];
  EXPECT_EQ(Bytes(ea.begin(), ea.begin() + 9), (Bytes{0x00, 0x1A, 0x84, 0x82, 0x03, 0x00, 0x00, 0x00, 0x10}));

  // A null key switches secure messaging off.
  EXPECT_EQ(uk::openSecureChannel(conn, nullptr), 0u);
  EXPECT_EQ(conn->smFlags, 0);
  EXPECT_EQ(uint32_t(conn->keyLen), 0u);
}

TEST_F(SecureTest, CardCryptogramMismatchGives4103AndLeavesSmOff) {
  card().wrongCardCryptogram = true;
  EXPECT_EQ(uk::openSecureChannel(conn, key), UKLR_AUTH_CMP);
  EXPECT_EQ(conn->smFlags, 0);
  EXPECT_EQ(card().frames.size(), 1u);  // no external authenticate
}

TEST_F(SecureTest, WrongTransportKeyIsRejectedByTheCard) {
  key[0] ^= 0x10;  // not a parity bit
  // The card cryptogram no longer matches on the library's side.
  EXPECT_EQ(uk::openSecureChannel(conn, key), UKLR_AUTH_CMP);
}

TEST_F(SecureTest, HostChallengesDifferBetweenOpenings) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  Bytes hc1(card().frames[0].begin() + 9, card().frames[0].begin() + 17);
  Bytes hc2(card().frames[2].begin() + 9, card().frames[2].begin() + 17);
  EXPECT_NE(hc1, hc2);
}

TEST_F(SecureTest, WrappedCommandRoundTrip) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  for (size_t n : {0u, 1u, 5u, 8u, 13u, 200u, 990u}) {
    SCOPED_TRACE(n);
    Bytes apdu = {0x84, 0xEE, 0x00, 0x00};
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = uint8_t(i * 7 + 1);
    if (n < 256) {
      if (n) apdu.push_back(uint8_t(n));
    } else {
      apdu.insert(apdu.end(), {0x00, uint8_t(n >> 8), uint8_t(n)});
    }
    apdu.insert(apdu.end(), data.begin(), data.end());
    if (n == 0) apdu.push_back(0x00);  // Le only
    size_t before = card().frames.size();
    Bytes resp;
    ASSERT_EQ(send(conn, apdu, &resp), 0u);
    // A fresh challenge precedes every wrapped command.
    ASSERT_EQ(card().frames.size(), before + 2);
    EXPECT_EQ(card().frames[before],
              (Bytes{0x00, 0x0A, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_TRUE(card().lastCommandWasWrapped);
    EXPECT_TRUE(card().lastMacValid);
    EXPECT_EQ(card().lastPlainData, data);
    // The library hands back the deciphered data.
    Bytes expected = {uint8_t((n + 2) >> 8), uint8_t(n + 2)};
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(), {0x90, 0x00});
    EXPECT_EQ(resp, expected);
    // The frame on the wire is enciphered, padded and MAC'd.
    const Bytes &wire = card().frames[before + 1];
    uint32_t lc = uint32_t(wire[7]) << 8 | wire[8];
    uint32_t want = n ? ((n + 3 + 7) / 8 * 8) + 8 : 8;  // 00 Lc data, padded; the MAC
    EXPECT_EQ(lc, want);
  }
}

TEST_F(SecureTest, ClassByteDecidesWhetherACommandIsWrapped) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  for (uint8_t cla : {0x84, 0x04}) {
    size_t before = card().frames.size();
    EXPECT_EQ(send(conn, {cla, 0xEE, 0, 0, 0x02, 0x12, 0x34}), 0u);
    EXPECT_EQ(card().frames.size(), before + 2) << int(cla);
    EXPECT_TRUE(card().lastCommandWasWrapped);
  }
  size_t before = card().frames.size();
  Bytes resp;
  EXPECT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x02, 0x12, 0x34}, &resp), 0u);
  EXPECT_EQ(card().frames.size(), before + 1);  // no challenge
  EXPECT_FALSE(card().lastCommandWasWrapped);
  EXPECT_EQ(card().frames.back(),
            (Bytes{0x00, 0x0C, 0x00, 0xEE, 0, 0, 0x00, 0x00, 0x02, 0x12, 0x34, 0x00, 0x00, 0x00}));
}

TEST_F(SecureTest, TamperedResponseMacGives4107) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  card().tamperResponseMac = true;
  clearLog();
  EXPECT_EQ(send(conn, {0x84, 0xEE, 0, 0, 0x02, 1, 2}), UKLR_VERIFY_CMP);
  EXPECT_EQ(logText(), "---->UKLR_VERIFY_CMP......\n---->ParseQ57Recvbuf......\n");
}

TEST_F(SecureTest, BadEncipheredLengthsGive6) {
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  card().oddCipherLength = true;
  EXPECT_EQ(send(conn, {0x84, 0xEE, 0, 0, 0x02, 1, 2}), UKLR_DATA_LENGTH);
  card().oddCipherLength = false;
  card().inflatedInnerLength = true;  // the inner length points past the deciphered data
  EXPECT_EQ(send(conn, {0x84, 0xEE, 0, 0, 0x02, 1, 2}), UKLR_DATA_LENGTH);
}

TEST(SecureMessaging, WrapMatchesAnIndependentComputation) {
  // Command MAC and encipher computed with OpenSSL from the rules, compared to the library's.
  uint8_t enc[16], mac[16], iv[8];
  for (int i = 0; i < 16; ++i) {
    enc[i] = uint8_t(i * 3 + 1);
    mac[i] = uint8_t(0xF0 - i * 5);
  }
  for (int i = 0; i < 8; ++i) iv[i] = uint8_t(0x10 + i);
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  uk::ApduParts p{0x84, 0xD6, 0x00, 0x10, 5, data, 0};
  uk::SmContext sm{3, enc, mac, iv};
  uint8_t out[uk::kMaxWrappedData];
  uint32_t lc = 0;
  uk::smWrapCommand(sm, p, out, &lc);
  ASSERT_EQ(lc, 16u);
  Bytes plain = {0x00, 0x00, 0x05, 1, 2, 3, 4, 5};  // already 8 bytes: no padding
  Bytes cipher = fake::tdesCbc(enc, iv, plain, true);
  EXPECT_EQ(Bytes(out, out + 8), cipher);
  Bytes macIn = {0x84, 0xD6, 0x00, 0x10, 0x00, 0x00, 0x10};
  macIn.insert(macIn.end(), cipher.begin(), cipher.end());
  macIn.push_back(0x80);
  while (macIn.size() % 8) macIn.push_back(0);
  Bytes full = fake::tdesCbc(mac, iv, macIn, true);
  EXPECT_EQ(Bytes(out + 8, out + 16), Bytes(full.end() - 8, full.end()));

  // MAC only: the data stays in clear.
  sm.flags = UK_SM_MAC;
  uk::smWrapCommand(sm, p, out, &lc);
  EXPECT_EQ(lc, 13u);
  EXPECT_EQ(Bytes(out, out + 5), Bytes(data, data + 5));
}
