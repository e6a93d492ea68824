// The emulator's card state machine at the APDU level: frames, files, records, PINs, device
// information, keys and RSA, the button wait, symmetric keys, the secure channel and secure
// messaging, power sessions and the persistent image.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/bn.h>

#include <thread>

#include "sim_test_util.h"

using namespace simtest;
using tokensim::Card;
using tokensim::TokenConfig;

namespace {

const Bytes kUserPin = {'4', '8', '2', '9', '1', '5'};
const Bytes kSoPin = {'7', '0', '3', '6', '1', '5', '2', '4'};

class CardTest : public ::testing::Test {
 protected:
  CardTest() : card(config()) {
    card.factoryFormat("482915", "70361524", 10, 10, "ORV-USBKEY");
    selectDf01();
  }
  static TokenConfig config() {
    TokenConfig c;
    c.serial = "TST1001XYZ";
    return c;
  }
  void selectDf01() {
    ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("3F00")).sw, 0x9000);
    ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("DF01")).sw, 0x9000);
  }
  uint16_t verifyUser(const Bytes &pin = kUserPin) { return tx(card, 0, 0x20, 0, 0xA1, pin).sw; }
  Bytes a1Block() { return tx(card, 0, 0xF0, 0xA1, 0x00, {}, 9).data; }
  Card card;
};

TEST(CardFrames, MalformedFramesGetWrongLength) {
  TokenConfig c;
  c.serial = "F";
  Card card(c);
  auto sw = [&](const Bytes &f) {
    Bytes r = card.processFrame(f.data(), f.size());
    EXPECT_EQ(r.size(), 4u);
    return uint16_t((r[2] << 8) | r[3]);
  };
  EXPECT_EQ(sw({}), 0x6700);
  EXPECT_EQ(sw(hex("000A00840000")), 0x6700);                     // truncated
  EXPECT_EQ(sw(hex("000B008400000000000000000008")), 0x6700);     // L does not match
  EXPECT_EQ(sw(hex("000A00840000000005000000")), 0x6700);         // Lc beyond the frame
  EXPECT_EQ(sw(hex("000A00840000010000000008")), 0x6700);         // byte 6 not zero
  Bytes big(Card::kMaxFrame + 1, 0);
  EXPECT_EQ(sw(big), 0x6700);
  // A well-formed frame of the transport: 00 84 00 00 with Le 8 (the library's 12-byte frame).
  Bytes r = card.processFrame(hex("000A00840000000000000008").data(), 12);
  ASSERT_EQ(r.size(), 12u);
  EXPECT_EQ(r[0], 0x00);
  EXPECT_EQ(r[1], 0x0A);
  EXPECT_EQ(r[10], 0x90);
  EXPECT_EQ(tx(card, 0x10, 0xA4, 0, 0, hex("3F00")).sw, 0x6E00);
  EXPECT_EQ(tx(card, 0x00, 0x77, 0, 0).sw, 0x6D00);
}

TEST(CardBlank, HasNoFileSystemAndFormattingNeedsTheSecureChannel) {
  TokenConfig c;
  c.serial = "BLANK01";
  Card card(c);
  card.powerCycle();
  EXPECT_EQ(tx(card, 0, 0xA4, 0, 0, hex("3F00")).sw, 0x6A82);
  EXPECT_EQ(tx(card, 0, 0xF0, 0xA1, 0, {}, 9).sw, 0x6A88);
  Bytes mf = hex("83023F00820238008402 3F00 8505 0000000000 8608 0000000000000000");
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, mf).sw, 0x6982);
  Host host;
  ASSERT_EQ(host.open(card), 0x9000);
  EXPECT_TRUE(host.cardCryptogramOk);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, mf).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, mf).sw, 0x6A89);
  Resp sel = tx(card, 0, 0xA4, 0, 0, hex("3F00"));
  EXPECT_EQ(sel.sw, 0x9000);
  EXPECT_EQ(sel.data, mf);  // the select answer is the file control parameters as created
  // Deleting the MF needs the channel too; a power cycle ends it.
  card.powerCycle();
  EXPECT_EQ(tx(card, 0, 0xE4, 0, 0, hex("3F00")).sw, 0x6982);
  ASSERT_EQ(host.open(card), 0x9000);
  EXPECT_EQ(tx(card, 0, 0xE4, 0, 0, hex("3F00")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xA4, 0, 0, hex("3F00")).sw, 0x6A82);
}

TEST(CardSecureChannel, CryptogramAndMacMismatchesAreRefused) {
  TokenConfig c;
  c.serial = "SC00001";
  Card card(c);
  card.powerCycle();
  Host host;
  EXPECT_EQ(tx(card, 0x84, 0x82, 0x03, 0x00, Bytes(16, 0)).sw, 0x6985);  // no initialize update
  EXPECT_EQ(host.open(card, true, false), 0x6300);
  EXPECT_EQ(host.open(card, false, true), 0x6300);
  uint8_t otherKey[16] = {1, 2, 3};
  EXPECT_EQ(host.open(card, false, false, otherKey), 0x6300);
  EXPECT_FALSE(host.cardCryptogramOk);  // a host with another transport key sees a bad cryptogram
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, hex("83023F0082023800")).sw, 0x6982);
  EXPECT_EQ(host.open(card), 0x9000);
  EXPECT_TRUE(host.cardCryptogramOk);
  // Wrong class, level or length.
  EXPECT_EQ(tx(card, 0x00, 0x50, 0x00, 0xFF, Bytes(8, 1)).sw, 0x6E00);
  EXPECT_EQ(tx(card, 0x80, 0x50, 0x00, 0xFF, Bytes(7, 1)).sw, 0x6700);
  ASSERT_EQ(tx(card, 0x80, 0x50, 0x00, 0xFF, Bytes(8, 1)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0x84, 0x82, 0x01, 0x00, Bytes(16, 0)).sw, 0x6A86);
}

TEST_F(CardTest, SecureMessagingWrapsCommandAndResponse) {
  Host host;
  ASSERT_EQ(host.open(card), 0x9000);
  bool macOk = false;
  Resp r = host.wrapped(card, 0x84, 0xF0, 0x00, 0x02, {}, 0x20, &macOk);
  EXPECT_EQ(r.sw, 0x9000);
  EXPECT_TRUE(macOk);
  ASSERT_EQ(r.data.size(), 32u);
  EXPECT_EQ(std::string(r.data.begin(), r.data.begin() + 10), "TST1001XYZ");
  // Enciphered command data: set the label.
  Bytes label = {'S', 'M', '-', 'L', 'A', 'B', 'E', 'L', 0};
  r = host.wrapped(card, 0x04, 0xDB, 0x01, 0x44, label, 0, &macOk);
  EXPECT_EQ(r.sw, 0x9000);
  EXPECT_TRUE(r.data.empty());
  EXPECT_EQ(card.label(), "SM-LABEL");
  // A spoiled MAC is refused and ends the channel.
  r = host.wrapped(card, 0x84, 0xF0, 0x00, 0x02, {}, 0x20, nullptr, true);
  EXPECT_EQ(r.sw, 0x6988);
  r = host.wrapped(card, 0x84, 0xF0, 0x00, 0x02, {}, 0x20);
  EXPECT_EQ(r.sw, 0x6982);
  // The challenge is used once: a second wrapped command without a new challenge fails.
  ASSERT_EQ(host.open(card), 0x9000);
  ASSERT_EQ(host.wrapped(card, 0x84, 0xF0, 0x00, 0x05, {}, 0x10).sw, 0x9000);
  EXPECT_EQ(tx(card, 0x84, 0xF0, 0x00, 0x05, Bytes(8, 0), 0x10).sw, 0x6985);
}

TEST_F(CardTest, FactoryTreeAndSelectAnswers) {
  Resp df = tx(card, 0, 0xA4, 0, 0, hex("DF01"));
  ASSERT_EQ(df.sw, 0x9000);
  // DF name A0 00 00 00 "cPKCS-15" is in the answer.
  EXPECT_NE(std::search(df.data.begin(), df.data.end(), std::begin("cPKCS-15") , std::end("cPKCS-15") - 1), df.data.end());
  for (const char *f : {"5000", "6000", "7000", "2F02"}) EXPECT_EQ(tx(card, 0, 0xA4, 0, 0, hex(f)).sw, 0x9000) << f;
  EXPECT_EQ(tx(card, 0, 0xA4, 0, 0, hex("A001")).sw, 0x6A82);
  EXPECT_EQ(tx(card, 0, 0xA4, 0, 0, hex("3F")).sw, 0x6700);
  // A private-key file answers its tag 85 as created (key format byte 06).
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("DF01")).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA001, 1024)).sw, 0x9000);
  Resp pk = tx(card, 0, 0xA4, 0, 0, hex("A001"));
  EXPECT_EQ(pk.data, fcpPrivKey(0xA001, 1024));
  // Files the library refuses are refused by the card as well.
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA002, 1536)).sw, 0x6A80);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, fcpTransparent(0xE001, 0)).sw, 0x6A80);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(0xD001, 96, 0x01, 0)).sw, 0x6A80);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, fcpRecord(0x5001, 0)).sw, 0x6A80);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA001, 1024)).sw, 0x6A89);
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, hex("8302A00382")).sw, 0x6A80);  // truncated TLV
  // Creating a DF outside the secure channel is refused.
  EXPECT_EQ(tx(card, 0, 0xE0, 0, 0, hex("8302DF0282023800")).sw, 0x6982);
}

TEST_F(CardTest, TransparentFiles) {
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpTransparent(0xE001, 200)).sw, 0x9000);
  // The created file is the current one: write straight away, as the data-object write does.
  Bytes data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  EXPECT_EQ(tx(card, 0, 0xD0, 0, 0, Bytes(data.begin(), data.begin() + 128)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xD0, 0, 128, Bytes(data.begin() + 128, data.end())).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xD0, 0, 199, Bytes(2, 0)).sw, 0x6A84);
  EXPECT_EQ(tx(card, 0, 0xD0, 0, 201, Bytes(1, 0)).sw, 0x6B00);
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("5000")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xB0, 0, 0, {}, 16).sw, 0x6981);  // a record file
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("E001")).sw, 0x9000);
  Resp a = tx(card, 0, 0xB0, 0, 0, {}, 128), b = tx(card, 0, 0xB0, 0, 128, {}, 72);
  EXPECT_EQ(cat(a.data, b.data), data);
  Resp tail = tx(card, 0, 0xB0, 0, 190, {}, 20);
  EXPECT_EQ(tail.sw, 0x6282);
  EXPECT_EQ(tail.data.size(), 10u);
  EXPECT_EQ(tx(card, 0, 0xB0, 0, 200, {}, 1).sw, 0x6B00);
  EXPECT_EQ(tx(card, 0, 0xB0, 0, 0, {}, 2000).sw, 0x6700);
  EXPECT_EQ(tx(card, 0, 0xE4, 0x02, 0, hex("E001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xB0, 0, 0, {}, 16).sw, 0x6986);  // no current file any more
  EXPECT_EQ(tx(card, 0, 0xE4, 0x02, 0, hex("E001")).sw, 0x6A82);
}

TEST_F(CardTest, IndexRecords) {
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("5000")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xB2, 1, 4, {}, 200).sw, 0x6A83);  // empty slot
  Bytes rec(192);
  rec[0] = 0x11;
  rec[32] = 'c';
  rec[191] = 0xEE;
  EXPECT_EQ(tx(card, 0, 0xDC, 3, 4, rec).sw, 0x9000);
  Resp r = tx(card, 0, 0xB2, 3, 4, {}, 0xC4);
  ASSERT_EQ(r.sw, 0x9000);
  ASSERT_EQ(r.data.size(), 196u);  // four header bytes, then the record
  EXPECT_EQ(Bytes(r.data.begin() + 4, r.data.end()), rec);
  EXPECT_EQ(tx(card, 0, 0xB2, 3, 4, {}, 100).sw, 0x61C4);  // too small: the right length
  EXPECT_EQ(tx(card, 0, 0xB2, 17, 4, {}, 200).sw, 0x6A83);  // 16 records
  EXPECT_EQ(tx(card, 0, 0xDC, 17, 4, rec).sw, 0x6A83);
  EXPECT_EQ(tx(card, 0, 0xDC, 1, 4, Bytes(193, 0)).sw, 0x6700);
  EXPECT_EQ(tx(card, 0, 0x0C, 3, 4, {}, 0).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xB2, 3, 4, {}, 200).sw, 0x6A83);
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("7000")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xB2, 9, 4, {}, 200).sw, 0x6A83);  // the data-object index has 8
  EXPECT_EQ(tx(card, 0, 0xDC, 8, 4, rec).sw, 0x9000);
}

TEST_F(CardTest, UserPinCountsDownAndBlocks) {
  EXPECT_EQ(tx(card, 0, 0x20, 0, 0xA1, {}).sw, 0x63CA);  // status query counts nothing
  Bytes wrong = {'0', '0', '0', '0', '0', '0'};
  for (int left = 9; left >= 0; --left) EXPECT_EQ(verifyUser(wrong), 0x63C0 + left);
  EXPECT_EQ(verifyUser(), 0x6983);  // blocked: even the right PIN is refused
  Bytes a1 = a1Block();
  ASSERT_EQ(a1.size(), 9u);
  EXPECT_EQ(a1[5], 0);  // blocked
  EXPECT_EQ(a1[2], 0);
  // Unlock with the SO PIN: reset needs it verified first.
  EXPECT_EQ(tx(card, 0, 0xFC, 0, 0xA1, hex("31323334")).sw, 0x6982);
  EXPECT_EQ(tx(card, 0, 0x20, 0, 0xA4, kSoPin).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xFC, 0, 0xA1, hex("313233")).sw, 0x6A80);  // shorter than 4
  EXPECT_EQ(tx(card, 0, 0xFC, 0, 0xA1, hex("31323334")).sw, 0x9000);
  EXPECT_EQ(verifyUser(hex("31323334")), 0x9000);
  a1 = a1Block();
  EXPECT_NE(a1[5], 0);
  EXPECT_EQ(a1[2], 10);
  EXPECT_NE(a1[8], 0);  // no longer the factory PIN
}

TEST_F(CardTest, ChangePinAndFactoryFlag) {
  EXPECT_EQ(a1Block()[8], 0);
  Bytes change = cat(cat({6}, kUserPin), cat({6}, hex("313131313131")));
  Bytes wrongOld = cat(cat({6}, hex("393939393939")), cat({6}, hex("313131313131")));
  EXPECT_EQ(tx(card, 0, 0x24, 0, 0xA1, wrongOld).sw, 0x63C9);
  EXPECT_EQ(tx(card, 0, 0x24, 0, 0xA1, hex("06313233")).sw, 0x6700);  // malformed
  EXPECT_EQ(tx(card, 0, 0x24, 0, 0xA1, change).sw, 0x9000);
  EXPECT_NE(a1Block()[8], 0);
  EXPECT_EQ(verifyUser(), 0x63C9);
  EXPECT_EQ(verifyUser(hex("313131313131")), 0x9000);
  // Installing PINs needs the secure channel; formatting sets the flag back to zero.
  EXPECT_EQ(tx(card, 0, 0x24, 0x01, 0xA1, hex("0009060000000006313131313131")).sw, 0x6982);
  card.factoryFormat("482915", "70361524", 6, 6, "X");
  selectDf01();
  Bytes a1 = a1Block();
  EXPECT_EQ(a1[8], 0);
  EXPECT_EQ(a1[1], 6);
  EXPECT_EQ(verifyUser(), 0x9000);
  EXPECT_EQ(Card::defaultUserPin("ABCDEF2XX"), "937260");
  EXPECT_EQ(Card::defaultUserPin("ABCDEF1XX"), "482915");
}

TEST_F(CardTest, DeviceInformationAndLabel) {
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x05, {}, 0x10).data, cat(Bytes{'S', 'O', 'L', 'E', 'N', 'E', 'B', 'A', 'N', 'K'}, Bytes(6, 0)));
  Resp sn = tx(card, 0, 0xF0, 0, 0x02, {}, 0x20);
  EXPECT_EQ(sn.data.size(), 32u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(sn.data.data())), "TST1001XYZ");
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x01, {}, 0x0C).data.size(), 12u);
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x00, {}, 0x10).data.size(), 16u);
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x03, {}, 0x04).data.size(), 4u);
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x04, {}, 0x04).sw, 0x6A86);
  Resp l = tx(card, 0, 0xCB, 0x01, 0x61, {}, 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(l.data.data())), "ORV-USBKEY");
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x44, {'n', 'e', 'w', 0}).sw, 0x9000);
  EXPECT_EQ(card.label(), "new");
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x44, Bytes(129, 'x')).sw, 0x6700);
  card.config().projectName = "OTHERBANK";
  EXPECT_EQ(tx(card, 0, 0xF0, 0, 0x05, {}, 0x10).data[0], 'O');
  // Challenges of 8 and 16 bytes, differing each time.
  Resp c1 = tx(card, 0, 0x84, 0, 0, {}, 8), c2 = tx(card, 0, 0x84, 0, 0, {}, 16);
  EXPECT_EQ(c1.data.size(), 8u);
  EXPECT_EQ(c2.data.size(), 16u);
  EXPECT_NE(c1.data, Bytes(c2.data.begin(), c2.data.begin() + 8));
  EXPECT_EQ(tx(card, 0, 0x84, 0, 0, {}, 7).sw, 0x6700);
}

// An OpenSSL public key from the card's public-key file.
EVP_PKEY *readPublic(Card &card, uint16_t fid) {
  Bytes f = {uint8_t(fid >> 8), uint8_t(fid)};
  if (tx(card, 0, 0xA4, 0, 0, f).sw != 0x9000) return nullptr;
  Resp n = tx(card, 0, 0xCB, 0x01, 0x11, {}, 128), e = tx(card, 0, 0xCB, 0x01, 0x10, {}, 16);
  if (n.sw != 0x9000 || e.sw != 0x9000) return nullptr;
  RSA *rsa = RSA_new();
  RSA_set0_key(rsa, BN_bin2bn(n.data.data(), int(n.data.size()), nullptr),
               BN_bin2bn(e.data.data(), int(e.data.size()), nullptr), nullptr);
  EVP_PKEY *k = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(k, rsa);
  return k;
}

Bytes pkcs1Block(size_t k, const Bytes &in, uint8_t type) {
  Bytes b(k, 0xFF);
  b[0] = 0;
  b[1] = type;
  b[k - in.size() - 1] = 0;
  std::copy(in.begin(), in.end(), b.end() - long(in.size()));
  return b;
}

TEST_F(CardTest, GeneratedKeyPairSignsAndDeciphers) {
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPubKey(0xB001, 1024)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA001, 1024)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x46, 0, 0, hex("B001A001")).sw, 0x6982);  // user PIN first
  ASSERT_EQ(verifyUser(), 0x9000);
  ASSERT_EQ(tx(card, 0, 0x46, 0, 0, hex("B001A001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x46, 0, 0, hex("A001B001")).sw, 0x6981);
  EVP_PKEY *pub = readPublic(card, 0xB001);
  ASSERT_NE(pub, nullptr);
  // The private components never leave the card; a wrong exponent length gets 6Cxx.
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("A001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xCB, 0x01, 0x12, {}, 128).sw, 0x6982);
  EXPECT_EQ(tx(card, 0, 0xCB, 0x01, 0x10, {}, 4).sw, 0x6C10);

  // Sign: raw private operation on a type 01 block; OpenSSL verifies it.
  Bytes digest(20, 0x5A);
  Bytes block = pkcs1Block(128, digest, 1);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x9E, 0x9A, block).sw, 0x6985);  // no environment yet
  ASSERT_EQ(tx(card, 0, 0x22, 0x41, 0xB6, hex("800111 8102A001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x86, 0x80, block).sw, 0x6985);  // environment of another op
  EXPECT_EQ(tx(card, 0, 0x2A, 0x9E, 0x9A, Bytes(127, 1)).sw, 0x6700);
  Resp sig = tx(card, 0, 0x2A, 0x9E, 0x9A, block);
  ASSERT_EQ(sig.sw, 0x9000);
  ASSERT_EQ(sig.data.size(), 128u);
  EVP_PKEY_CTX *vc = EVP_PKEY_CTX_new(pub, nullptr);
  ASSERT_EQ(EVP_PKEY_verify_recover_init(vc), 1);
  EVP_PKEY_CTX_set_rsa_padding(vc, RSA_PKCS1_PADDING);
  uint8_t rec[128];
  size_t recLen = sizeof rec;
  ASSERT_EQ(EVP_PKEY_verify_recover(vc, rec, &recLen, sig.data.data(), sig.data.size()), 1);
  EXPECT_EQ(Bytes(rec, rec + recLen), digest);
  EVP_PKEY_CTX_free(vc);

  // Public decipher of the signature gives the block back.
  ASSERT_EQ(tx(card, 0, 0x22, 0x81, 0xB6, hex("800111 8102B001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x00, 0xA8, sig.data).data, block);

  // OpenSSL enciphers to the public key; the card deciphers.
  EVP_PKEY_CTX *ec = EVP_PKEY_CTX_new(pub, nullptr);
  ASSERT_EQ(EVP_PKEY_encrypt_init(ec), 1);
  EVP_PKEY_CTX_set_rsa_padding(ec, RSA_PKCS1_PADDING);
  Bytes secret = {1, 2, 3, 4, 5};
  uint8_t ct[128];
  size_t ctLen = sizeof ct;
  ASSERT_EQ(EVP_PKEY_encrypt(ec, ct, &ctLen, secret.data(), secret.size()), 1);
  EVP_PKEY_CTX_free(ec);
  ASSERT_EQ(tx(card, 0, 0x22, 0x41, 0xB8, hex("800111 8102A001")).sw, 0x9000);
  Resp dec = tx(card, 0, 0x2A, 0x80, 0x86, Bytes(ct, ct + ctLen));
  ASSERT_EQ(dec.sw, 0x9000);
  EXPECT_EQ(dec.data[0], 0x00);
  EXPECT_EQ(dec.data[1], 0x02);
  EXPECT_EQ(Bytes(dec.data.end() - 5, dec.data.end()), secret);
  // Log out ends the PIN's verified state: private-key use is refused again.
  EXPECT_EQ(tx(card, 0, 0x2E, 0, 0x21, {}, 0).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x80, 0x86, Bytes(ct, ct + ctLen)).sw, 0x6982);
  EVP_PKEY_free(pub);
}

TEST_F(CardTest, ImportedKeyPairMatchesOpenSsl) {
  EVP_PKEY *key = EVP_RSA_gen(1024);
  ASSERT_NE(key, nullptr);
  BIGNUM *n = nullptr, *e = nullptr, *d = nullptr, *p = nullptr, *q = nullptr, *dp = nullptr,
         *dq = nullptr, *qi = nullptr;
  EVP_PKEY_get_bn_param(key, "n", &n);
  EVP_PKEY_get_bn_param(key, "e", &e);
  EVP_PKEY_get_bn_param(key, "d", &d);
  EVP_PKEY_get_bn_param(key, "rsa-factor1", &p);
  EVP_PKEY_get_bn_param(key, "rsa-factor2", &q);
  EVP_PKEY_get_bn_param(key, "rsa-exponent1", &dp);
  EVP_PKEY_get_bn_param(key, "rsa-exponent2", &dq);
  EVP_PKEY_get_bn_param(key, "rsa-coefficient1", &qi);
  auto bytes = [](BIGNUM *b, int w) {
    Bytes o(static_cast<size_t>(w));
    BN_bn2binpad(b, o.data(), w);
    return o;
  };
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPubKey(0xB002, 1024)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA002, 1024)).sw, 0x9000);
  // Private-key writes need the user PIN.
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x11, bytes(n, 128)).sw, 0x6982);
  ASSERT_EQ(verifyUser(), 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x10, bytes(e, 16)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x11, bytes(n, 127)).sw, 0x6700);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x11, bytes(n, 128)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x12, bytes(d, 128)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x13, bytes(p, 64)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x14, bytes(q, 64)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x16, bytes(dp, 64)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x17, bytes(dq, 64)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x15, bytes(qi, 64)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xA4, 0, 0, hex("B002")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x12, bytes(d, 128)).sw, 0x6A80);  // not in a public key
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x11, bytes(n, 128)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x10, Bytes{0x01, 0x00, 0x01}).sw, 0x9000);  // padded to 16
  EXPECT_EQ(tx(card, 0, 0xCB, 0x01, 0x10, {}, 16).data, bytes(e, 16));
  // Signature by the card equals OpenSSL's raw private operation.
  Bytes block = pkcs1Block(128, Bytes(35, 0x33), 1);
  ASSERT_EQ(tx(card, 0, 0x22, 0x41, 0xB6, hex("800111 8102A002")).sw, 0x9000);
  Resp sig = tx(card, 0, 0x2A, 0x9E, 0x9A, block);
  EVP_PKEY_CTX *sc = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_sign_init(sc);
  EVP_PKEY_CTX_set_rsa_padding(sc, RSA_NO_PADDING);
  uint8_t ref[128];
  size_t refLen = sizeof ref;
  ASSERT_EQ(EVP_PKEY_sign(sc, ref, &refLen, block.data(), block.size()), 1);
  EXPECT_EQ(sig.data, Bytes(ref, ref + refLen));
  EVP_PKEY_CTX_free(sc);
  for (BIGNUM *b : {n, e, d, p, q, dp, dq, qi}) BN_free(b);
  EVP_PKEY_free(key);
}

TEST_F(CardTest, SignatureWaitsForTheButton) {
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPubKey(0xB001, 1024)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpPrivKey(0xA001, 1024)).sw, 0x9000);
  ASSERT_EQ(verifyUser(), 0x9000);
  ASSERT_EQ(tx(card, 0, 0x46, 0, 0, hex("B001A001")).sw, 0x9000);
  card.config().button = tokensim::ButtonMode::Never;
  Bytes block = pkcs1Block(128, Bytes(20, 7), 1);
  EXPECT_EQ(tx(card, 0, 0x22, 0x41, 0xB8, hex("800113 8102A001")).sw, 0x6A80);  // 13 signs only
  ASSERT_EQ(tx(card, 0, 0x22, 0x41, 0xB6, hex("800113 8102A001")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).sw, 0x6985);  // nothing waits
  Resp s = tx(card, 0, 0x2A, 0x9E, 0x9A, block);
  EXPECT_EQ(s.sw, 0x9000);
  EXPECT_TRUE(s.data.empty());
  EXPECT_TRUE(card.signatureWaiting());
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).sw, 0x6785);
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).sw, 0x6785);
  EXPECT_TRUE(card.pressButton());
  Resp f = tx(card, 0, 0x52, 0, 0, {}, 128);
  EXPECT_EQ(f.sw, 0x9000);
  EXPECT_EQ(f.data.size(), 128u);
  EXPECT_FALSE(card.pressButton());
  // Cancel ends a waiting signature.
  ASSERT_EQ(tx(card, 0, 0x2A, 0x9E, 0x9A, block).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x54, 0, 0, {}, 0).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).sw, 0x6985);
  // Automatic press after a delay.
  card.config().button = tokensim::ButtonMode::Auto;
  card.config().buttonDelayMs = 150;
  ASSERT_EQ(tx(card, 0, 0x2A, 0x9E, 0x9A, block).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).sw, 0x6785);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(tx(card, 0, 0x52, 0, 0, {}, 128).data, f.data);  // same key, same block
}

Bytes evpCipher(const EVP_CIPHER *c, const Bytes &key, const Bytes &iv, const Bytes &in, bool enc) {
  EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int a = 0, b = 0;
  EVP_CipherInit_ex(x, c, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc);
  EVP_CIPHER_CTX_set_padding(x, 0);
  EVP_CipherUpdate(x, out.data(), &a, in.data(), int(in.size()));
  EVP_CipherFinal_ex(x, out.data() + a, &b);
  EVP_CIPHER_CTX_free(x);
  out.resize(size_t(a + b));
  return out;
}

TEST_F(CardTest, SymmetricKeysDesTripleDesAes) {
  struct Case {
    uint16_t bits;
    uint8_t cls, algEcb;
    const EVP_CIPHER *ecb, *cbc;
  } cases[] = {
      // Single DES, checked as three-key Triple-DES with the key three times (OpenSSL's default
      // provider has no single DES).
      {64, 0x01, 1, EVP_des_ede3_ecb(), EVP_des_ede3_cbc()},
      {128, 0x01, 1, EVP_des_ede_ecb(), EVP_des_ede_cbc()},
      {192, 0x01, 1, EVP_des_ede3_ecb(), EVP_des_ede3_cbc()},
      {128, 0x02, 4, EVP_aes_128_ecb(), EVP_aes_128_cbc()},
      {256, 0x02, 4, EVP_aes_256_ecb(), EVP_aes_256_cbc()},
  };
  uint16_t fid = 0xD001;
  for (const Case &c : cases) {
    SCOPED_TRACE(fid);
    Bytes key(c.bits / 8);
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(0x10 + i * 3);
    ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(fid, c.bits, c.cls, 0)).sw, 0x9000);
    EXPECT_EQ(tx(card, 0, 0xDB, 0x01, 0x20, Bytes(key.begin(), key.end() - 1)).sw, 0x6700);
    ASSERT_EQ(tx(card, 0, 0xDB, 0x01, 0x20, key).sw, 0x9000);
    EXPECT_EQ(tx(card, 0, 0xCB, 0x01, 0x20, {}, uint32_t(key.size())).data, key);
    size_t block = c.cls == 0x01 ? 8 : 16;
    Bytes plain(block * 3);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i);
    Bytes kfid = {uint8_t(fid >> 8), uint8_t(fid)};
    ASSERT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, cat(cat({0x80, 0x01, c.algEcb, 0x81, 0x02}, kfid), {})).sw, 0x9000);
    Bytes oracleKey = c.bits == 64 ? cat(cat(key, key), key) : key;
    Bytes ref = evpCipher(c.ecb, oracleKey, {}, plain, true);
    ASSERT_EQ(ref.size(), plain.size());
    EXPECT_EQ(tx(card, 0, 0x2A, 0x86, 0x80, plain).data, ref);
    EXPECT_EQ(tx(card, 0, 0x2A, 0x86, 0x80, Bytes(block + 1, 0)).sw, 0x6700);
    // CBC with an IV, chaining carried across two commands.
    Bytes iv(block, 0xA5);
    Bytes env = cat(cat({0x80, 0x01, uint8_t(c.algEcb + 1), 0x81, 0x02}, kfid), cat({0x87, uint8_t(block)}, iv));
    ASSERT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, env).sw, 0x9000);
    Bytes cbcRef = evpCipher(c.cbc, oracleKey, iv, plain, true);
    Bytes first = tx(card, 0, 0x2A, 0x86, 0x80, Bytes(plain.begin(), plain.begin() + long(block))).data;
    Bytes rest = tx(card, 0, 0x2A, 0x86, 0x80, Bytes(plain.begin() + long(block), plain.end())).data;
    ASSERT_EQ(cbcRef.size(), plain.size());
    EXPECT_EQ(cat(first, rest), cbcRef);
    ASSERT_EQ(tx(card, 0, 0x22, 0x41, 0xB8, env).sw, 0x9000);
    EXPECT_EQ(tx(card, 0, 0x2A, 0x80, 0x86, cat(first, rest)).data, plain);
    ++fid;
  }
  // A key the card generates itself, and the classes that are stored but not run.
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(0xD010, 128, 0x01, 1)).sw, 0x9000);
  Resp gen = tx(card, 0, 0xCB, 0x01, 0x20, {}, 16);
  EXPECT_EQ(gen.data.size(), 16u);
  EXPECT_NE(gen.data, Bytes(16, 0));
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(0xD011, 128, 0x08, 1)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, hex("800108 8102D011")).sw, 0x6A81);
  EXPECT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, hex("800104 8102D010")).sw, 0x6A80);  // alg of class 02
}

TEST_F(CardTest, AnEnvironmentOutlivingItsKeyFileIsRefused) {
  // A DES key with a CBC environment (8-byte chaining value), then the file made again as AES.
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(0xD020, 64, 0x01, 0)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xDB, 0x01, 0x20, Bytes(8, 0x11)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, hex("800102 8102D020")).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE4, 0, 0, hex("D020")).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpSymKey(0xD020, 128, 0x02, 0)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xDB, 0x01, 0x20, Bytes(16, 0x22)).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x86, 0x80, Bytes(16, 0)).sw, 0x6985);
  // Set again for the key as it is now, it runs.
  ASSERT_EQ(tx(card, 0, 0x22, 0x81, 0xB8, hex("800105 8102D020")).sw, 0x9000);
  EXPECT_EQ(tx(card, 0, 0x2A, 0x86, 0x80, Bytes(16, 0)).sw, 0x9000);
}

TEST_F(CardTest, PowerCycleEndsTheSessionAndImageSurvives) {
  ASSERT_EQ(verifyUser(hex("303030303030")), 0x63C9);
  ASSERT_EQ(tx(card, 0, 0xE0, 0, 0, fcpTransparent(0xE002, 4)).sw, 0x9000);
  ASSERT_EQ(tx(card, 0, 0xD0, 0, 0, hex("CAFEBABE")).sw, 0x9000);
  ASSERT_EQ(verifyUser(), 0x9000);
  Bytes img = card.saveImage();
  auto copy = Card::loadImage(img.data(), img.size());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->config().serial, "TST1001XYZ");
  EXPECT_EQ(copy->label(), "ORV-USBKEY");
  ASSERT_EQ(tx(*copy, 0, 0xA4, 0, 0, hex("DF01")).sw, 0x9000);
  ASSERT_EQ(tx(*copy, 0, 0xA4, 0, 0, hex("E002")).sw, 0x9000);
  EXPECT_EQ(tx(*copy, 0, 0xB0, 0, 0, {}, 4).data, hex("CAFEBABE"));
  // A new power session knows no verified PIN; the counter was reset by the right PIN.
  EXPECT_EQ(tx(*copy, 0, 0x20, 0, 0xA1, {}).sw, 0x63CA);
  card.powerCycle();
  EXPECT_EQ(tx(card, 0, 0xB0, 0, 0, {}, 4).sw, 0x6986);
  // Every truncation of the image is refused without harm.
  for (size_t n = 0; n < img.size(); n += 7) EXPECT_FALSE(Card::loadImage(img.data(), n)) << n;
  Bytes bad = img;
  bad[4] = 99;
  EXPECT_FALSE(Card::loadImage(bad.data(), bad.size()));
}

}  // namespace
