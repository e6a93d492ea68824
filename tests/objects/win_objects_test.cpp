// Under Wine, through the real DLL and the virtual device bus against the running emulator:
// containers, a key pair generated on the token whose signature Wine's own CryptoAPI verifies,
// the button wait, certificates and data objects.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../common/win_signature_check.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

using Bytes = std::vector<uint8_t>;
using wintest::cryptoApiVerifies;
using wintest::sha1DigestInfo;

class WinObjects : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.fromSetting()) << "the emulator is not configured";
    serial = tokensim::uniqueSerial("OBJW");
    ASSERT_TRUE(client.createToken(serial, {{"userpin", "123456"}})) << client.lastError();
    snprintf(dev.devicePath, sizeof dev.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
             serial.c_str());
    ASSERT_EQ(0u, zksTokenConnect(&dev, 0));
    ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev, 0));
    uint8_t tries = 0;
    ASSERT_EQ(0u, zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>("123456"), 6, &tries));
  }
  void TearDown() override {
    if (dev.connection) zksTokenDisconnect(&dev);
    client.deleteToken(serial);
  }
  UK_CONTAINER_INFO container(const char *name) {
    UK_CONTAINER_INFO c{};
    snprintf(c.name, sizeof c.name, "%s", name);
    EXPECT_EQ(0u, zksTokenNewContainer(&dev, &c));
    return c;
  }

  tokensim::Client client;
  std::string serial;
  UK_DEV_INFO dev{};
};

TEST_F(WinObjects, ContainerLifeCycle) {
  UK_CONTAINER_INFO a = container("win-a");
  UK_CONTAINER_INFO b = container("win-b");
  EXPECT_EQ(1, a.recordNumber);
  EXPECT_EQ(2, b.recordNumber);
  UK_CONTAINER_INFO dup{};
  snprintf(dup.name, sizeof dup.name, "win-a");
  EXPECT_EQ(uint32_t(UKLR_OBJ_EXISTS), zksTokenNewContainer(&dev, &dup));
  std::string n80(80, 'x');
  UK_CONTAINER_INFO found{};
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), zksTokenGetContainerByName(&dev, &found, n80.c_str()));
  ASSERT_EQ(0u, zksTokenModifyContainerName(&dev, &b, "win-c"));
  ASSERT_EQ(0u, zksTokenGetContainerByName(&dev, &found, "win-c"));
  EXPECT_EQ(2, found.recordNumber);
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &a));
  UK_CONTAINER_INFO all[5];
  uint32_t count = 0;
  ASSERT_EQ(0u, zksTokenListContainers(&dev, all, &count));
  ASSERT_EQ(1u, count);
  EXPECT_STREQ("win-c", all[0].name);
}

TEST_F(WinObjects, GeneratedKeySignatureVerifiesWithCryptoApiAndButtonWait) {
  UK_CONTAINER_INFO c = container("win-sign");
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_SIGNATURE));
  UK_RSA_PUBLIC_KEY pub{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &pub, UK_KEYSPEC_SIGNATURE));
  Bytes msg = {'w', 'i', 'n', 'e'};
  Bytes di = sha1DigestInfo(msg);
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c, di.data(), uint32_t(di.size()), sig, &sigLen,
                                      UK_KEYSPEC_SIGNATURE, 0));
  EXPECT_TRUE(cryptoApiVerifies(pub, msg, Bytes(sig, sig + sigLen)));
  Bytes bad(sig, sig + sigLen);
  bad[60] ^= 1;
  EXPECT_FALSE(cryptoApiVerifies(pub, msg, bad));

  ASSERT_TRUE(client.buttonNever(serial));
  sigLen = sizeof sig;
  ASSERT_EQ(uint32_t(UKLR_SIGN_PENDING),
            zksTokenRsaPriEncrypt(&dev, &c, di.data(), uint32_t(di.size()), sig, &sigLen,
                                  UK_KEYSPEC_SIGNATURE, 1));
  sigLen = sizeof sig;
  EXPECT_EQ(uint32_t(UKLR_SIGN_PENDING), zksTokenRsaPriEncryptFinal(&dev, sig, &sigLen, 0));
  ASSERT_TRUE(client.pressButton(serial));
  sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncryptFinal(&dev, sig, &sigLen, 0));
  EXPECT_TRUE(cryptoApiVerifies(pub, msg, Bytes(sig, sig + sigLen)));

  // Encipher and decipher on the token, with the decipher capacity checked.
  const uint8_t secret[] = "session key";
  uint8_t ct[128], pt[128];
  uint32_t ctLen = sizeof ct, ptLen = 4;
  ASSERT_EQ(0u, zksTokenRsaPubEncrypt(&dev, &c, secret, sizeof secret, ct, &ctLen,
                                      UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(uint32_t(UKLR_BUFFER_TOO_SMALL),
            zksTokenRsaPriDecrypt(&dev, &c, ct, ctLen, pt, &ptLen, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(sizeof secret, ptLen);
  ptLen = sizeof pt;
  ASSERT_EQ(0u, zksTokenRsaPriDecrypt(&dev, &c, ct, ctLen, pt, &ptLen, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(0, memcmp(pt, secret, sizeof secret));
}

TEST_F(WinObjects, CertificateAndDataObjectRoundTrips) {
  UK_CONTAINER_INFO c = container("win-cert");
  Bytes der(900);
  for (size_t i = 0; i < der.size(); ++i) der[i] = uint8_t(i * 31);
  der[0] = 0x30;
  der[1] = 0x82;
  der[2] = 0x03;
  der[3] = 0x80;
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, der.data(), 900, UK_KEYSPEC_EXCHANGE));
  uint8_t small[100];
  uint32_t len = sizeof small;
  EXPECT_EQ(uint32_t(UKLR_MORE_DATA), zksTokenReadCert(&dev, &c, small, &len, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(900u, len);
  Bytes back(900);
  ASSERT_EQ(0u, zksTokenReadCert(&dev, &c, back.data(), &len, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(der, back);

  UK_DATA_OBJECT_INFO o{};
  snprintf(reinterpret_cast<char *>(o.name), sizeof o.name, "profile");
  o.id[0] = 2;
  o.id[1] = 'p';
  o.id[2] = '1';
  Bytes data(255);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(255 - i);
  EXPECT_EQ(4u, zksTokenWriteDataObject(&dev, &o, data.data(), 0));
  Bytes tooLong(300, 0x5A);
  EXPECT_EQ(uint32_t(UKLR_DATA_LENGTH), zksTokenWriteDataObject(&dev, &o, tooLong.data(), 300));
  ASSERT_EQ(0u, zksTokenWriteDataObject(&dev, &o, data.data(), 255));
  EXPECT_EQ(1, o.recordNumber);
  uint8_t buf[255];
  len = sizeof buf;
  ASSERT_EQ(0u, zksTokenReadDataObject(&dev, &o, buf, &len));
  EXPECT_EQ(data, Bytes(buf, buf + len));
  UK_DATA_OBJECT_INFO all[8];
  uint32_t count = 0;
  ASSERT_EQ(0u, zksTokenListDataObject(&dev, all, &count));
  EXPECT_EQ(1u, count);
}

}  // namespace
