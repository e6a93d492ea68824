// RSA operations: block formatting, length limits, padding checks, output capacity and the
// button-confirmed signature, against the token emulator with keys known to OpenSSL.
#include <gtest/gtest.h>

#include "containers.h"
#include "objects_harness.h"
#include "ossl.h"

namespace objtest {
namespace {

class RsaTest : public TokenFixture {
 protected:
  void SetUp() override {
    TokenFixture::SetUp();
    key_ = std::make_unique<OsslRsa>(1024);
    UK_RSA_PUBLIC_KEY pub;
    UK_RSA_PRIVATE_KEY pri;
    key_->toRecords(&pub, &pri);
    c_ = namedContainer("rsa");
    ASSERT_EQ(0u, zksTokenNewContainer(&dev, &c_));
    ASSERT_EQ(0u, zksTokenWriteRsaKeyPair(&dev, &c_, &pub, &pri, UK_KEYSPEC_EXCHANGE));
    clearTrace();
  }
  // A 128-byte block with the given padding bytes, raw-signed by OpenSSL.
  Bytes block(uint8_t type, size_t padLen, const Bytes &data, uint8_t padByte = 0xFF) {
    Bytes b = {0x00, type};
    b.insert(b.end(), padLen, padByte);
    b.push_back(0x00);
    b.insert(b.end(), data.begin(), data.end());
    b.resize(128, 0x42);
    return b;
  }
  std::unique_ptr<OsslRsa> key_;
  UK_CONTAINER_INFO c_{};
};

TEST(Pkcs1, PadAndUnpadRoundTripAndRefuseShortPadding) {
  uint8_t blk[128];
  const uint8_t in[118] = {1, 2, 3};
  ASSERT_TRUE(uk::pkcs1Pad(2, in, 20, blk, 128));
  EXPECT_EQ(0x00, blk[0]);
  EXPECT_EQ(0x02, blk[1]);
  EXPECT_EQ(0xFF, blk[2]);
  EXPECT_EQ(0x00, blk[128 - 21]);
  uint32_t pos = 0, len = 0;
  EXPECT_EQ(uint32_t(UKLR_PADDING), uk::pkcs1Unpad(1, blk, 128, &pos, &len));  // wrong type
  ASSERT_EQ(0u, uk::pkcs1Unpad(2, blk, 128, &pos, &len));
  EXPECT_EQ(108u, pos);
  EXPECT_EQ(20u, len);
  EXPECT_TRUE(uk::pkcs1Pad(1, in, 117, blk, 128));
  EXPECT_FALSE(uk::pkcs1Pad(1, in, 118, blk, 128));
  // Eight padding bytes pass, seven do not.
  uint8_t b8[20] = {0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 9};
  EXPECT_EQ(0u, uk::pkcs1Unpad(1, b8, 20, &pos, &len));
  EXPECT_EQ(11u, pos);
  uint8_t b7[20] = {0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 9};
  EXPECT_EQ(uint32_t(UKLR_PADDING), uk::pkcs1Unpad(1, b7, 20, &pos, &len));
  // Type 2 without a terminating zero.
  uint8_t none[20];
  memset(none, 0x33, sizeof none);
  none[0] = 0;
  none[1] = 2;
  EXPECT_EQ(uint32_t(UKLR_PADDING), uk::pkcs1Unpad(2, none, 20, &pos, &len));
}

TEST_F(RsaTest, InputLimitsOfAThousandTwentyFourBitKey) {
  Bytes in117(117, 0x5A), in118(118, 0x5A);
  uint8_t out[128];
  uint32_t outLen = sizeof out;
  EXPECT_EQ(0u, zksTokenRsaPubEncrypt(&dev, &c_, in117.data(), 117, out, &outLen, 1));
  EXPECT_EQ(128u, outLen);
  // The token's public operation on the 0xFF-padded type 2 block, undone by OpenSSL.
  Bytes want = {0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  want.insert(want.end(), in117.begin(), in117.end());
  EXPECT_EQ(want, key_->rawPrivate(Bytes(out, out + 128)));
  clearTrace();
  outLen = sizeof out;
  EXPECT_EQ(0x80006700u, zksTokenRsaPubEncrypt(&dev, &c_, in118.data(), 118, out, &outLen, 1));
  EXPECT_EQ(uint32_t(UKLR_DATA_LENGTH),
            zksTokenRsaPriEncrypt(&dev, &c_, in118.data(), 118, out, &outLen, 1, 0));
  EXPECT_TRUE(frames().empty());
  outLen = sizeof out;
  EXPECT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c_, in117.data(), 117, out, &outLen, 1, 0));
  EXPECT_EQ(in117, key_->recover(Bytes(out, out + outLen)));
}

TEST_F(RsaTest, LogLinesOfTheOperations) {
  Bytes in(20, 1);
  uint8_t out[128];
  uint32_t outLen = sizeof out;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c_, in.data(), 20, out, &outLen, 1, 0));
  ASSERT_EQ(0u, zksTokenRsaPubDecrypt(&dev, &c_, out, 128, out, &outLen, 1));
  Bytes ct = key_->encrypt(in);
  outLen = sizeof out;
  ASSERT_EQ(0u, zksTokenRsaPriDecrypt(&dev, &c_, ct.data(), 128, out, &outLen, 1));
  EXPECT_EQ("zksTokenRsaPubEncrypt starting......\nzksTokenRsaPubEncrypt end......\n"
            "zksTokenRsaPubDecrypt starting......\nzksTokenRsaPubDecrypt end......\n"
            "zksTokenRsaPubEncrypt starting......\nzksTokenRsaPubEncrypt end......\n",
            exportLines());
}

TEST_F(RsaTest, RecoveredBlocksNeedEightPaddingBytesAndTheRightType) {
  uint8_t out[128];
  uint32_t outLen = sizeof out;
  Bytes data(20, 0x77);
  // Public-key decipher of a signature whose block has only 7 bytes of 0xFF.
  Bytes sig7 = key_->rawPrivate(block(1, 7, data));
  ASSERT_EQ(128u, sig7.size());
  EXPECT_EQ(uint32_t(UKLR_PADDING), zksTokenRsaPubDecrypt(&dev, &c_, sig7.data(), 128, out, &outLen, 1));
  Bytes sig8 = key_->rawPrivate(block(1, 8, {}));
  outLen = sizeof out;
  ASSERT_EQ(0u, zksTokenRsaPubDecrypt(&dev, &c_, sig8.data(), 128, out, &outLen, 1));
  EXPECT_EQ(128u - 11, outLen);
  EXPECT_EQ(Bytes(117, 0x42), Bytes(out, out + outLen));

  // Private-key decipher of a block that starts 00 01 instead of 00 02.
  Bytes wrongType = key_->rawPublic(block(1, 100, data));
  outLen = sizeof out;
  EXPECT_EQ(uint32_t(UKLR_PADDING),
            zksTokenRsaPriDecrypt(&dev, &c_, wrongType.data(), 128, out, &outLen, 1));
  // ... and of a type 2 block with only 7 padding bytes.
  Bytes short2 = key_->rawPublic(block(2, 7, data, 0x99));
  outLen = sizeof out;
  EXPECT_EQ(uint32_t(UKLR_PADDING),
            zksTokenRsaPriDecrypt(&dev, &c_, short2.data(), 128, out, &outLen, 1));
}

TEST_F(RsaTest, DecipherRespectsTheCallersCapacity) {
  Bytes secret(40, 0x3C);
  Bytes ct = key_->encrypt(secret);
  uint8_t out[64];
  memset(out, 0xEE, sizeof out);
  uint32_t outLen = 10;
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL),
            zksTokenRsaPriDecrypt(&dev, &c_, ct.data(), 128, out, &outLen, 1));
  EXPECT_EQ(40u, outLen);
  EXPECT_EQ(Bytes(64, 0xEE), Bytes(out, out + 64));
  outLen = 40;
  ASSERT_EQ(0u, zksTokenRsaPriDecrypt(&dev, &c_, ct.data(), 128, out, &outLen, 1));
  EXPECT_EQ(secret, Bytes(out, out + 40));

  Bytes sig = key_->rawPrivate(block(1, 60, secret));
  memset(out, 0xEE, sizeof out);
  outLen = 5;
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL),
            zksTokenRsaPubDecrypt(&dev, &c_, sig.data(), 128, out, &outLen, 1));
  EXPECT_EQ(128u - 63, outLen);
  EXPECT_EQ(Bytes(64, 0xEE), Bytes(out, out + 64));
}

TEST_F(RsaTest, OperationsNeedTheirOwnEnvironment) {
  // A decipher command under the sign environment is refused by the command layer.
  Bytes in(20, 1);
  uint8_t out[128];
  uint32_t outLen = sizeof out;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c_, in.data(), 20, out, &outLen, 1, 0));
  EXPECT_EQ(UK_OP_SIGN, dev.connection->opByte);
  outLen = sizeof out;
  ASSERT_EQ(0u, zksTokenRsaPubEncrypt(&dev, &c_, in.data(), 20, out, &outLen, 1));
  EXPECT_EQ(UK_OP_ENCIPHER, dev.connection->opByte);
  // A container without the pair (size 0) cannot be deciphered with.
  UK_CONTAINER_INFO none = c_;
  none.exKeyUnits = 0;
  outLen = sizeof out;
  EXPECT_EQ(4u, zksTokenRsaPriDecrypt(&dev, &none, out, 128, out, &outLen, 1));
}

TEST_F(RsaTest, ConfirmedSignatureWaitsForTheButton) {
  card().config().button = tokensim::ButtonMode::Never;
  Bytes di = sha1DigestInfo({'p', 'a', 'y'});
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(uint32_t(UKLR_SIGN_PENDING),
            zksTokenRsaPriEncrypt(&dev, &c_, di.data(), uint32_t(di.size()), sig, &sigLen, 1, 1));
  const uint32_t pending = dev.connection->pendingSigLen;
  EXPECT_EQ(128u, pending);
  EXPECT_TRUE(card().signatureWaiting());
  for (int i = 0; i < 3; ++i) {
    sigLen = sizeof sig;
    EXPECT_EQ(uint32_t(UKLR_SIGN_PENDING), zksTokenRsaPriEncryptFinal(&dev, sig, &sigLen, 0));
  }
  ASSERT_TRUE(card().pressButton());
  sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncryptFinal(&dev, sig, &sigLen, 0));
  ASSERT_EQ(128u, sigLen);
  EXPECT_EQ(di, key_->recover(Bytes(sig, sig + sigLen)));
  // The set-environment command asked for the button (algorithm 13).
  bool sawButtonAlg = false;
  for (const auto &f : frames())
    if (f.ins() == 0x22 && f.data().size() >= 3 && f.data()[2] == 0x13) sawButtonAlg = true;
  EXPECT_TRUE(sawButtonAlg);
}

TEST_F(RsaTest, CancelLeavesNothingPending) {
  card().config().button = tokensim::ButtonMode::Never;
  Bytes di = sha1DigestInfo({'n', 'o'});
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(uint32_t(UKLR_SIGN_PENDING),
            zksTokenRsaPriEncrypt(&dev, &c_, di.data(), uint32_t(di.size()), sig, &sigLen, 1, 1));
  EXPECT_EQ(0u, zksTokenRsaPriEncryptCancel(&dev));
  EXPECT_FALSE(card().signatureWaiting());
  EXPECT_FALSE(card().pressButton());
  sigLen = sizeof sig;
  uint32_t rc = zksTokenRsaPriEncryptFinal(&dev, sig, &sigLen, 0);
  EXPECT_NE(0u, rc);
  EXPECT_NE(uint32_t(UKLR_SIGN_PENDING), rc);
  // An unconfirmed signature afterwards works as usual.
  sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c_, di.data(), uint32_t(di.size()), sig, &sigLen, 1, 0));
  EXPECT_EQ(di, key_->recover(Bytes(sig, sig + sigLen)));
}

TEST_F(RsaTest, SignatureOutputCapacity) {
  Bytes di = sha1DigestInfo({'c'});
  uint8_t sig[128];
  uint32_t sigLen = 127;
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL),
            zksTokenRsaPriEncrypt(&dev, &c_, di.data(), uint32_t(di.size()), sig, &sigLen, 1, 0));
  EXPECT_EQ(128u, sigLen);
}

}  // namespace
}  // namespace objtest
