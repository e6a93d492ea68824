// Containers, key pairs and certificates against the token emulator in-process.
#include <gtest/gtest.h>

#include "containers.h"
#include "objects_harness.h"
#include "ossl.h"
#include "uk_commands.h"

namespace objtest {
namespace {

class ContainerTest : public TokenFixture {
 protected:
  UK_CONTAINER_INFO make(const char *name, const char *id = "") {
    UK_CONTAINER_INFO c = namedContainer(name, id);
    EXPECT_EQ(0u, zksTokenNewContainer(&dev, &c)) << name;
    return c;
  }
  // The raw index record nn of the container index.
  Bytes indexRecord(uint8_t nn, UK_DEV_INFO *d = nullptr) {
    UK_USB_DEV_CTX *c = (d ? d : &dev)->connection;
    EXPECT_EQ(0u, uk::selectFile(c, uk::kRsaIndexFid));
    Bytes rec(192);
    uint32_t len = 192;
    uint32_t rc = uk::readRecord(c, nn, rec.data(), &len);
    if (rc) return {};
    rec.resize(len);
    return rec;
  }
  uint32_t listCount(UK_DEV_INFO *d) {
    UK_CONTAINER_INFO all[5];
    uint32_t n = 99;
    EXPECT_EQ(0u, zksTokenListContainers(d, all, &n));
    return n;
  }
};

TEST_F(ContainerTest, LifeCycleAcrossTwoTokens) {
  addToken("UKOBJ00002", &dev2);

  UK_CONTAINER_INFO a = make("alpha", "id-a");
  UK_CONTAINER_INFO b = namedContainer("beta");
  ASSERT_EQ(0u, zksTokenNewContainer(&dev2, &b));
  UK_CONTAINER_INFO a2 = namedContainer("alpha");
  ASSERT_EQ(0u, zksTokenNewContainer(&dev2, &a2));  // names are per token
  EXPECT_EQ(1, a.recordNumber);
  EXPECT_EQ(1, b.recordNumber);
  EXPECT_EQ(2, a2.recordNumber);
  EXPECT_EQ(1u, listCount(&dev));
  EXPECT_EQ(2u, listCount(&dev2));

  UK_CONTAINER_INFO found{};
  EXPECT_EQ(uint32_t(UKLR_OBJ_NOT_FOUND), zksTokenGetContainerByName(&dev, &found, "beta"));
  ASSERT_EQ(0u, zksTokenGetContainerByName(&dev, &found, "alpha"));
  EXPECT_EQ(1, found.recordNumber);
  EXPECT_EQ(4, found.idLen);
  EXPECT_EQ(0, memcmp(found.id, "id-a", 4));
  EXPECT_EQ(0xB0, found.exPubFid[0]);
  EXPECT_EQ(0x01, found.exPubFid[1]);
  EXPECT_EQ(0x31, found.sigPriFid[1]);

  ASSERT_EQ(0u, zksTokenModifyContainerName(&dev, &a, "gamma"));
  const uint8_t newId[] = {1, 2, 3};
  ASSERT_EQ(0u, zksTokenModifyContainerID(&dev, &a, newId, 3));
  EXPECT_EQ(uint32_t(UKLR_OBJ_NOT_FOUND), zksTokenGetContainerByName(&dev, &found, "alpha"));
  UK_CONTAINER_INFO g{};
  ASSERT_EQ(0u, zksTokenGetContainerByName(&dev, &g, "gamma"));
  EXPECT_EQ(3, g.idLen);
  EXPECT_EQ(0, memcmp(g.id, newId, 3));
  EXPECT_EQ(0, g.id[3]);  // the old, longer ID is cleared
  UK_CONTAINER_INFO listed[5];
  uint32_t n = 0;
  ASSERT_EQ(0u, zksTokenListContainers(&dev, listed, &n));
  ASSERT_EQ(1u, n);
  EXPECT_STREQ("gamma", listed[0].name);

  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &g));
  EXPECT_EQ(0u, listCount(&dev));
  EXPECT_EQ(2u, listCount(&dev2));  // the other token is untouched
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev2, &b));
  EXPECT_EQ(1u, listCount(&dev2));
}

TEST_F(ContainerTest, IndexRecordLayout) {
  UK_CONTAINER_INFO c = make("first");
  UK_CONTAINER_INFO c2 = make("layout", "XY");
  ASSERT_EQ(2, c2.recordNumber);
  Bytes rec = indexRecord(2);
  ASSERT_EQ(192u, rec.size());
  const uint8_t head[] = {0x00, 0x00, 0xA0, 0x02, 0xB0, 0x02, 0xC0, 0x02,
                          0x00, 0x00, 0xA0, 0x32, 0xB0, 0x32, 0xC0, 0x32, 0x26};
  EXPECT_EQ(Bytes(head, head + sizeof head), Bytes(rec.begin(), rec.begin() + 17));
  EXPECT_EQ(0x19, rec[24]);
  EXPECT_EQ(0, memcmp(&rec[32], "layout", 7));
  EXPECT_EQ(2, rec[112]);
  EXPECT_EQ('X', rec[113]);
  EXPECT_EQ('Y', rec[114]);
  EXPECT_EQ(0xB0, c2.exPubFid[0]);
  EXPECT_EQ(0x02, c2.exPubFid[1]);
  EXPECT_EQ(0xC0, c2.sigCertFid[0]);
  EXPECT_EQ(0x32, c2.sigCertFid[1]);
  (void)c;
}

TEST_F(ContainerTest, LowestFreeRecordAndFullIndex) {
  for (int i = 1; i <= 4; ++i) make(("c" + std::to_string(i)).c_str());
  UK_CONTAINER_INFO fifth = make("c5");
  EXPECT_EQ(5, fifth.recordNumber);
  UK_CONTAINER_INFO extra = namedContainer("c6");
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_DEV_FULL), zksTokenNewContainer(&dev, &extra));
  EXPECT_NE(std::string::npos, logText().find("---->UKLR_DEV_FULL......\n"));
  EXPECT_EQ(0u, countIns(0xDC));  // nothing written

  UK_CONTAINER_INFO c2{}, c4{};
  ASSERT_EQ(0u, zksTokenGetContainerByName(&dev, &c2, "c2"));
  ASSERT_EQ(0u, zksTokenGetContainerByName(&dev, &c4, "c4"));
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &c4));
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &c2));
  UK_CONTAINER_INFO again = make("c7");
  EXPECT_EQ(2, again.recordNumber);
}

TEST_F(ContainerTest, DuplicateNameRefusedEvenWithFreeRecords) {
  make("dup");
  make("other");
  UK_CONTAINER_INFO d = namedContainer("dup");
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_OBJ_EXISTS), zksTokenNewContainer(&dev, &d));
  // Free records answer 6A83 (logged by the command layer) before the duplicate is found.
  const std::string log = logText();
  EXPECT_EQ(0u, log.find("zksTokenNewContainer starting......\n"));
  const std::string tail =
      "---->UKLR_OBJ_EXISTS......\n---->uk_app_NewContainer ......\nzksTokenNewContainer end......\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
  EXPECT_EQ(0u, countIns(0xDC));
  UK_CONTAINER_INFO d2 = namedContainer("Dup");  // names compare case-sensitively
  EXPECT_EQ(0u, zksTokenNewContainer(&dev, &d2));
}

TEST_F(ContainerTest, NameLimitsBeforeAnyTraffic) {
  std::string n79(79, 'n'), n80(80, 'n');
  UK_CONTAINER_INFO c{};
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), zksTokenGetContainerByName(&dev, &c, n80.c_str()));
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ("zksTokenGetContainerByName starting......\n", logText());
  EXPECT_EQ(uint32_t(UKLR_OBJ_NOT_FOUND), zksTokenGetContainerByName(&dev, &c, n79.c_str()));
  EXPECT_FALSE(frames().empty());

  UK_CONTAINER_INFO made = make("short");
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), zksTokenModifyContainerName(&dev, &made, n80.c_str()));
  uint8_t id[80] = {0};
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), zksTokenModifyContainerID(&dev, &made, id, 80));
  UK_CONTAINER_INFO longName = namedContainer(n80.c_str());
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), zksTokenNewContainer(&dev, &longName));
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(0u, zksTokenModifyContainerName(&dev, &made, n79.c_str()));
  UK_CONTAINER_INFO back{};
  EXPECT_EQ(0u, zksTokenGetContainerByName(&dev, &back, n79.c_str()));
}

TEST_F(ContainerTest, NullArgumentsAreParameterErrors) {
  UK_CONTAINER_INFO c{};
  uint32_t n;
  EXPECT_EQ(4u, zksTokenNewContainer(nullptr, &c));
  EXPECT_EQ(4u, zksTokenNewContainer(&dev, nullptr));
  EXPECT_EQ(4u, zksTokenListContainers(&dev, nullptr, &n));
  EXPECT_EQ(4u, zksTokenGetContainerByName(&dev, &c, nullptr));
  EXPECT_EQ(4u, zksTokenReadCert(&dev, &c, nullptr, &n, 1));
  UK_DEV_INFO unconnected{};
  EXPECT_EQ(4u, zksTokenListContainers(&unconnected, &c, &n));
}

// ---- key pairs --------------------------------------------------------------------------

TEST_F(ContainerTest, GeneratedKeyPairSignsAndDeciphersVerifiedByOpenSsl) {
  UK_CONTAINER_INFO c = make("gen");
  clearTrace();
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ("zksTokenDeleteContainerCert starting......\nzksTokenDeleteContainerCert end......\n",
            exportLines());
  EXPECT_EQ(1, c.sigKeyUnits);  // units 0 are taken as 1 and stored back
  // Public then private key file, both of 1024 bits (80 02 04 00), with their attributes.
  std::vector<Bytes> created;
  for (const auto &f : frames())
    if (f.ins() == 0xE0) created.push_back(f.data());
  ASSERT_EQ(2u, created.size());
  EXPECT_EQ(Bytes({0x83, 0x02, 0xB0, 0x31, 0x82, 0x02, 0x15, 0x00, 0x80, 0x02, 0x04, 0x00, 0x85,
                   0x06, 0x00, 0x09, 0, 0, 0, 0, 0x86, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}),
            created[0]);
  EXPECT_EQ(Bytes({0x83, 0x02, 0xA0, 0x31, 0x82, 0x02, 0x13, 0x00, 0x80, 0x02, 0x04, 0x00, 0x85,
                   0x06, 0x01, 0x06, 0, 0, 0, 0, 0x86, 0x08, 0, 0, 0, 1, 0, 0, 1, 0}),
            created[1]);
  EXPECT_TRUE(c.flags & UK_CONT_SIG_KEY);
  Bytes rec = indexRecord(c.recordNumber);
  EXPECT_EQ(UK_CONT_SIG_KEY, rec[0]);
  EXPECT_EQ(1, rec[9]);

  UK_RSA_PUBLIC_KEY pub{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &pub, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(1024u, pub.bits);
  EXPECT_EQ(Bytes({0x01, 0x00, 0x01}), Bytes(pub.exponent + 125, pub.exponent + 128));
  EXPECT_EQ(Bytes(125, 0), Bytes(pub.exponent, pub.exponent + 125));
  OsslRsa verifier(pub.modulus, 128, pub.exponent, 128);

  Bytes digestInfo = sha1DigestInfo({'h', 'e', 'l', 'l', 'o'});
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c, digestInfo.data(), uint32_t(digestInfo.size()), sig,
                                      &sigLen, UK_KEYSPEC_SIGNATURE, 0));
  ASSERT_EQ(128u, sigLen);
  EXPECT_EQ(digestInfo, verifier.recover(Bytes(sig, sig + 128)));

  // Public-key encipher on the token, private-key decipher on the token.
  Bytes secret = {'s', 'e', 'c', 'r', 'e', 't', '!'};
  uint8_t ct[128];
  uint32_t ctLen = sizeof ct;
  ASSERT_EQ(0u, zksTokenRsaPubEncrypt(&dev, &c, secret.data(), uint32_t(secret.size()), ct, &ctLen,
                                      UK_KEYSPEC_SIGNATURE));
  uint8_t pt[128];
  uint32_t ptLen = sizeof pt;
  ASSERT_EQ(0u, zksTokenRsaPriDecrypt(&dev, &c, ct, ctLen, pt, &ptLen, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(secret, Bytes(pt, pt + ptLen));

  // OpenSSL's random-padded encryption deciphers on the token too.
  Bytes ct2 = verifier.encrypt(secret);
  ptLen = sizeof pt;
  ASSERT_EQ(0u, zksTokenRsaPriDecrypt(&dev, &c, ct2.data(), uint32_t(ct2.size()), pt, &ptLen,
                                      UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(secret, Bytes(pt, pt + ptLen));

  // Signature recovery with the public key on the token.
  ptLen = sizeof pt;
  ASSERT_EQ(0u, zksTokenRsaPubDecrypt(&dev, &c, sig, 128, pt, &ptLen, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(digestInfo, Bytes(pt, pt + ptLen));
}

TEST_F(ContainerTest, ImportedCrtKeyPairSigns) {
  OsslRsa key(1024);
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  key.toRecords(&pub, &pri);
  UK_CONTAINER_INFO c = make("imported");
  clearTrace();
  ASSERT_EQ(0u, zksTokenWriteRsaKeyPair(&dev, &c, &pub, &pri, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ("zksTokenWriteRsaKeyPair starting......\n", exportLines());
  EXPECT_EQ(1, c.exKeyUnits);
  EXPECT_TRUE(c.flags & UK_CONT_EX_KEY);
  // The key files say CRT (key format 6): p, q, dp, dq and qinv were put as well.
  size_t crtParts = 0;
  for (const auto &f : frames())
    if (f.ins() == 0xDB && f.p2() >= 0x13 && f.p2() <= 0x17) ++crtParts;
  EXPECT_EQ(5u, crtParts);

  Bytes digestInfo = sha1DigestInfo({'a', 'b', 'c'});
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c, digestInfo.data(), uint32_t(digestInfo.size()), sig,
                                      &sigLen, UK_KEYSPEC_EXCHANGE, 0));
  EXPECT_EQ(digestInfo, key.recover(Bytes(sig, sig + sigLen)));

  UK_RSA_PUBLIC_KEY back{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &back, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0, memcmp(back.modulus, pub.modulus, 128));
  EXPECT_EQ(0, memcmp(back.exponent, pub.exponent, 128));
}

TEST_F(ContainerTest, TwoThousandFortyEightBitKeysUseTheWideRecords) {
  OsslRsa key(2048);
  UK_RSA_PUBLIC_KEY_2048 pub;
  UK_RSA_PRIVATE_KEY_2048 pri;
  key.toRecords(&pub, &pri);
  UK_CONTAINER_INFO c = make("wide");
  ASSERT_EQ(0u, zksTokenWriteRsaKeyPair(&dev, &c, &pub, &pri, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(2, c.sigKeyUnits);
  EXPECT_EQ(2, indexRecord(c.recordNumber)[9]);

  UK_RSA_PUBLIC_KEY_2048 back{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &back, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(2048u, back.bits);
  EXPECT_EQ(0, memcmp(back.modulus, pub.modulus, 256));
  EXPECT_EQ(0, memcmp(back.exponent, pub.exponent, 256));

  Bytes digestInfo = sha1DigestInfo({'w'});
  uint8_t sig[256];
  uint32_t sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(&dev, &c, digestInfo.data(), uint32_t(digestInfo.size()), sig,
                                      &sigLen, UK_KEYSPEC_SIGNATURE, 0));
  ASSERT_EQ(256u, sigLen);
  EXPECT_EQ(digestInfo, key.recover(Bytes(sig, sig + sigLen)));

  // Mixed or unknown sizes are refused before any traffic.
  OsslRsa small(1024);
  UK_RSA_PUBLIC_KEY pub1;
  UK_RSA_PRIVATE_KEY pri1;
  small.toRecords(&pub1, &pri1);
  UK_CONTAINER_INFO c2 = make("mixed");
  clearTrace();
  EXPECT_EQ(4u, zksTokenWriteRsaKeyPair(&dev, &c2, &pub1, &pri, UK_KEYSPEC_EXCHANGE));
  pri1.bits = 1536;
  EXPECT_EQ(4u, zksTokenWriteRsaKeyPair(&dev, &c2, &pub1, &pri1, UK_KEYSPEC_EXCHANGE));
  EXPECT_TRUE(frames().empty());
}

// Whether DF01 holds a file of that identifier (the trace is left as it was).
bool hasFile(UK_DEV_INFO *d, uint8_t hi, uint8_t lo) {
  const uint8_t fid[2] = {hi, lo};
  return uk::selectFile(d->connection, fid) == 0;
}

TEST_F(ContainerTest, DeletingAKeyPairClearsTheIndexFirstThenRemovesItsFiles) {
  UK_CONTAINER_INFO d = make("withkeys");
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &d, UK_KEYSPEC_SIGNATURE));
  clearTrace();
  ASSERT_EQ(0u, zksTokenDeleteContainerKeyPair(&dev, &d, UK_KEYSPEC_SIGNATURE));
  // The index record loses the pair before the public, then the private, key file goes: an
  // interruption leaves at worst files no entry records, never an entry without its files.
  std::vector<Bytes> deleted;
  size_t updateAt = 0, firstDelete = 0;
  for (size_t i = 0; i < frames().size(); ++i) {
    if (frames()[i].ins() == 0xDC) updateAt = i;
    if (frames()[i].ins() == 0xE4) {
      if (deleted.empty()) firstDelete = i;
      deleted.push_back(frames()[i].data());
    }
  }
  ASSERT_EQ(2u, deleted.size());
  EXPECT_LT(updateAt, firstDelete);
  EXPECT_EQ(Bytes({0xB0, uint8_t(0x30 + d.recordNumber)}), deleted[0]);
  EXPECT_EQ(Bytes({0xA0, uint8_t(0x30 + d.recordNumber)}), deleted[1]);
  EXPECT_EQ(0, d.flags);
  EXPECT_EQ(0, d.sigKeyUnits);
  EXPECT_EQ(0, indexRecord(d.recordNumber)[9]);
  // The pair can be generated again: its files are really gone.
  EXPECT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &d, UK_KEYSPEC_SIGNATURE));
}

TEST_F(ContainerTest, DeletingAKeyPairWithoutFlagClearsTheSizeAndRemovesLeftoverFiles) {
  UK_CONTAINER_INFO c = make("sizes");
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  // The caller's record says there is no pair: the size in the index is cleared all the same,
  // and the key files go with it (a file that is not there counts as removed).
  UK_CONTAINER_INFO stale = c;
  stale.flags = 0;
  ASSERT_EQ(0u, zksTokenDeleteContainerKeyPair(&dev, &stale, UK_KEYSPEC_EXCHANGE));
  Bytes rec = indexRecord(c.recordNumber);
  EXPECT_EQ(0, rec[1]);
  EXPECT_EQ(0, rec[0]);
  EXPECT_FALSE(hasFile(&dev, 0xB0, c.recordNumber));
  EXPECT_FALSE(hasFile(&dev, 0xA0, c.recordNumber));
  clearTrace();
  ASSERT_EQ(0u, zksTokenDeleteContainerKeyPair(&dev, &stale, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(2u, countIns(0xE4));

  // Key files the index never recorded (a generation whose index update and clean-up both
  // failed) are removed by the delete too.
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDC && f.ins() != 0xE4) return false;
    *sw = 0x6581;
    return true;
  });
  EXPECT_EQ(0x80006581u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_SIGNATURE));
  setFault(nullptr);
  EXPECT_TRUE(hasFile(&dev, 0xB0, uint8_t(0x30 + c.recordNumber)));
  EXPECT_FALSE(indexRecord(c.recordNumber)[0] & UK_CONT_SIG_KEY);
  ASSERT_EQ(0u, zksTokenDeleteContainerKeyPair(&dev, &c, UK_KEYSPEC_SIGNATURE));
  EXPECT_FALSE(hasFile(&dev, 0xB0, uint8_t(0x30 + c.recordNumber)));
  EXPECT_FALSE(hasFile(&dev, 0xA0, uint8_t(0x30 + c.recordNumber)));
}

TEST_F(ContainerTest, LeftoverFilesAreReplacedButRecordedOnesAreNot) {
  UK_CONTAINER_INFO c = make("leftover");
  // A generation and a certificate write whose index update and clean-up failed leave their
  // files without an index entry.
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDC && f.ins() != 0xE4) return false;
    *sw = 0x6581;
    return true;
  });
  const Bytes der(300, 0x42);
  EXPECT_EQ(0x80006581u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0x80006581u, zksTokenWriteCert(&dev, &c, der.data(), 300, UK_KEYSPEC_EXCHANGE));
  setFault(nullptr);
  ASSERT_TRUE(hasFile(&dev, 0xB0, c.recordNumber));
  ASSERT_TRUE(hasFile(&dev, 0xC0, c.recordNumber));
  ASSERT_EQ(0, c.flags);

  // The same calls again: each leftover is deleted and created anew, then recorded.
  clearTrace();
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, der.data(), 300, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(uint32_t(UK_CONT_EX_KEY | UK_CONT_EX_CERT), indexRecord(c.recordNumber)[0]);
  EXPECT_EQ(3u, countIns(0xE4));  // the two key files and the certificate file
  uint8_t back[300];
  uint32_t len = sizeof back;
  Bytes cert = der;
  cert[0] = 0x30, cert[1] = 0x82, cert[2] = 0x01, cert[3] = 0x28;

  // A recorded certificate is never overwritten: the write answers that the file exists.
  clearTrace();
  EXPECT_EQ(0x80006A89u, zksTokenWriteCert(&dev, &c, der.data(), 300, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0u, countIns(0xE4));
  ASSERT_EQ(0u, zksTokenDeleteContainerCert(&dev, &c, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, cert.data(), 300, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenReadCert(&dev, &c, back, &len, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(cert, Bytes(back, back + len));
  // Nor is a recorded key pair: generating over it fails and the pair is unchanged.
  UK_RSA_PUBLIC_KEY before, after;
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &before, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0x80006A89u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(&dev, &c, &after, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0, memcmp(before.modulus, after.modulus, sizeof before.modulus));
}

TEST_F(ContainerTest, DeleteContainerErasesTheRecordThenEveryFile) {
  UK_CONTAINER_INFO c = make("full");
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_SIGNATURE));
  Bytes cert(300, 0x55);
  cert[0] = 0x30;
  cert[1] = 0x82;
  cert[2] = 0x01;
  cert[3] = 0x28;
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, cert.data(), 300, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, cert.data(), 300, UK_KEYSPEC_SIGNATURE));
  clearTrace();
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &c));
  // The record goes first; the files after it, in this order.
  ASSERT_GE(frames().size(), 2u);
  EXPECT_EQ(0x0C, frames()[1].ins());
  EXPECT_EQ(1, frames()[1].p1());
  std::vector<Bytes> order;
  for (const auto &f : frames())
    if (f.ins() == 0xE4) order.push_back(f.data());
  const std::vector<Bytes> want = {{0xC0, 0x01}, {0xB0, 0x01}, {0xA0, 0x01},
                                   {0xC0, 0x31}, {0xB0, 0x31}, {0xA0, 0x31}};
  EXPECT_EQ(want, order);
  EXPECT_TRUE(indexRecord(1).empty());
  // A new container in the same record starts without leftovers.
  UK_CONTAINER_INFO n = make("next");
  EXPECT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &n, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(0u, zksTokenWriteCert(&dev, &n, cert.data(), 300, UK_KEYSPEC_EXCHANGE));

  // A container with one key pair: the files it never had count as removed.
  clearTrace();
  ASSERT_EQ(0u, zksTokenDeleteContainer(&dev, &n));
  EXPECT_EQ(6u, countIns(0xE4));
  EXPECT_FALSE(hasFile(&dev, 0xB0, n.recordNumber));
  EXPECT_FALSE(hasFile(&dev, 0xC0, n.recordNumber));
}

// ---- certificates -----------------------------------------------------------------------

Bytes derOfLength(uint32_t total) {
  Bytes b(total);
  for (uint32_t i = 0; i < total; ++i) b[i] = uint8_t(i * 7 + 3);
  b[0] = 0x30;
  if (total >= 132) {
    b[1] = 0x82;
    b[2] = uint8_t((total - 4) >> 8);
    b[3] = uint8_t(total - 4);
  } else {
    b[1] = uint8_t(total - 2);
  }
  return b;
}

TEST_F(ContainerTest, CertificatesReadBackByteIdentical) {
  UK_CONTAINER_INFO c = make("certs");
  for (uint32_t size : {900u, 4096u}) {
    Bytes der = derOfLength(size);
    clearTrace();
    ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, der.data(), size, UK_KEYSPEC_SIGNATURE)) << size;
    EXPECT_EQ("", exportLines());  // the certificate write writes no lines
    EXPECT_TRUE(c.flags & UK_CONT_SIG_CERT);
    EXPECT_EQ(UK_CONT_SIG_CERT, indexRecord(c.recordNumber)[0]);
    Bytes back(4096 + 10, 0xEE);
    uint32_t len = uint32_t(back.size());
    clearTrace();
    ASSERT_EQ(0u, zksTokenReadCert(&dev, &c, back.data(), &len, UK_KEYSPEC_SIGNATURE));
    EXPECT_EQ("zksTokenReadCert starting......\n", exportLines());
    ASSERT_EQ(size, len);
    EXPECT_EQ(der, Bytes(back.begin(), back.begin() + len));
    EXPECT_EQ(0xEE, back[len]);
    // 128-byte pieces after the 16-byte header read.
    size_t reads = countIns(0xB0);
    EXPECT_EQ(1 + (size + 127) / 128, reads);
    ASSERT_EQ(0u, zksTokenDeleteContainerCert(&dev, &c, UK_KEYSPEC_SIGNATURE));
    EXPECT_FALSE(c.flags & UK_CONT_SIG_CERT);
    EXPECT_EQ(uint32_t(UKLR_CERT_NOT_FOUND),
              zksTokenReadCert(&dev, &c, back.data(), &len, UK_KEYSPEC_SIGNATURE));
  }
  Bytes big = derOfLength(4097);
  clearTrace();
  EXPECT_EQ(UKLR_CERT_TOO_LARGE, zksTokenWriteCert(&dev, &c, big.data(), 4097, UK_KEYSPEC_SIGNATURE));
  EXPECT_TRUE(frames().empty());
}

TEST_F(ContainerTest, CertificateLengthRules) {
  UK_CONTAINER_INFO c = make("rules");
  Bytes shortDer = derOfLength(129);  // 30 7F: one length byte
  ASSERT_EQ(0x7F, shortDer[1]);
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, shortDer.data(), 129, UK_KEYSPEC_EXCHANGE));
  uint8_t buf[200];
  uint32_t len = sizeof buf;
  ASSERT_EQ(0u, zksTokenReadCert(&dev, &c, buf, &len, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(129u, len);
  EXPECT_EQ(shortDer, Bytes(buf, buf + 129));

  // 30 81 LL: one length byte after 81 (a 200-byte DER object).
  Bytes oneByteLen(200, 0x5A);
  oneByteLen[0] = 0x30;
  oneByteLen[1] = 0x81;
  oneByteLen[2] = 200 - 3;
  ASSERT_EQ(0u, zksTokenDeleteContainerCert(&dev, &c, UK_KEYSPEC_EXCHANGE));
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, oneByteLen.data(), 200, UK_KEYSPEC_EXCHANGE));
  uint8_t buf200[256];
  len = sizeof buf200;
  ASSERT_EQ(0u, zksTokenReadCert(&dev, &c, buf200, &len, UK_KEYSPEC_EXCHANGE));
  EXPECT_EQ(200u, len);
  EXPECT_EQ(oneByteLen, Bytes(buf200, buf200 + 200));

  Bytes der = derOfLength(900);
  ASSERT_EQ(0u, zksTokenWriteCert(&dev, &c, der.data(), 900, UK_KEYSPEC_SIGNATURE));
  uint8_t small[100];
  len = sizeof small;
  clearTrace();
  EXPECT_EQ(uint32_t(UKLR_MORE_DATA), zksTokenReadCert(&dev, &c, small, &len, UK_KEYSPEC_SIGNATURE));
  EXPECT_EQ(900u, len);
  EXPECT_EQ(1u, countIns(0xB0));  // only the header was read
}

// ---- index and files agree after failures -------------------------------------------------

TEST_F(ContainerTest, FailedIndexUpdateRemovesTheFreshCertificateFile) {
  UK_CONTAINER_INFO c = make("fault");
  Bytes der = derOfLength(500);
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDC) return false;
    *sw = 0x6581;  // memory failure while updating the index record
    return true;
  });
  EXPECT_EQ(0x80006581u, zksTokenWriteCert(&dev, &c, der.data(), 500, UK_KEYSPEC_EXCHANGE));
  EXPECT_FALSE(c.flags & UK_CONT_EX_CERT);
  setFault(nullptr);
  EXPECT_EQ(0, indexRecord(c.recordNumber)[0]);
  // The file is gone, so the next write succeeds.
  EXPECT_EQ(0u, zksTokenWriteCert(&dev, &c, der.data(), 500, UK_KEYSPEC_EXCHANGE));
}

TEST_F(ContainerTest, FailedIndexUpdateRemovesTheFreshKeyFiles) {
  UK_CONTAINER_INFO c = make("keyfault");
  setFault([](const Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDC) return false;
    *sw = 0x6581;
    return true;
  });
  EXPECT_EQ(0x80006581u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  EXPECT_FALSE(c.flags & UK_CONT_EX_KEY);
  setFault(nullptr);
  EXPECT_EQ(0, indexRecord(c.recordNumber)[0]);
  EXPECT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
}

TEST_F(ContainerTest, FailedPrivateKeyFileRemovesThePublicOne) {
  UK_CONTAINER_INFO c = make("prifault");
  setFault([](const Frame &f, uint16_t *sw) {
    // Create file of an RSA private-key file (descriptor 13).
    const Bytes d = f.ins() == 0xE0 ? f.data() : Bytes();
    for (size_t i = 0; i + 2 < d.size(); ++i)
      if (d[i] == 0x82 && d[i + 1] == 0x02 && d[i + 2] == 0x13) {
        *sw = 0x6A84;
        return true;
      }
    return false;
  });
  EXPECT_EQ(0x80006A84u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
  EXPECT_NE(std::string::npos, logText().find("---->uk_CreateCOSFile(PRI KEY)......\n"
                                              "---->uk_app_CreateRSAfile(PRI KEY)......\n"));
  setFault(nullptr);
  EXPECT_EQ(0u, zksTokenGenRsaKeyPair(&dev, &c, UK_KEYSPEC_EXCHANGE));
}

}  // namespace
}  // namespace objtest
