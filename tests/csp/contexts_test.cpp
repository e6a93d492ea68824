// Contexts: acquiring (open, default container, create, delete, verify-only), device selection,
// releasing, the handle checks, and the provider parameters.
#include "algorithms.h"
#include "csp_harness.h"

namespace csptest {
namespace {

using namespace csp;

class Contexts : public ProviderFixture {};

TEST_F(Contexts, OpenFindsTheContainerOnWhicheverDeviceHoldsIt) {
  addToken("UKCSP00001");
  addToken("UKCSP00002");
  makeContainer("UKCSP00002", "second-only");
  uintptr_t h = acquire("second-only");
  ASSERT_NE(0u, h);
  EXPECT_EQ("second-only", provString(h, kPpContainer));
  EXPECT_EQ("second-only", provString(h, kPpUniqueContainer));
  EXPECT_EQ("second-only", host->lastContainerName);
  // Opening never asks which device: the first one is the one remembered.
  EXPECT_EQ("", dialogs.trail());
  EXPECT_EQ("ZV-UK Q57: 0 ", host->lastConnectDevice);
  uintptr_t missing = 1;
  EXPECT_EQ(kNteBadKeyset, provider->acquireContext(&missing, "nowhere", 0));
  EXPECT_EQ(0u, provider->releaseContext(h, 0));
}

TEST_F(Contexts, DefaultContainerIsTheUsersElseTheFirstOfTheFirstDeviceWithOne) {
  addToken("UKCSP00001");
  addToken("UKCSP00002");
  makeContainer("UKCSP00002", "b-first");
  makeContainer("UKCSP00002", "b-second");
  uintptr_t h = acquire(nullptr);
  EXPECT_EQ("b-first", provString(h, kPpContainer));
  EXPECT_FALSE(host->lastContainerSaved);  // no name was passed

  makeContainer("UKCSP00002", "alice");
  uintptr_t u = acquire(nullptr);
  EXPECT_EQ("alice", provString(u, kPpContainer));
  provider->releaseContext(h, 0);
  provider->releaseContext(u, 0);
}

TEST_F(Contexts, EmptyNameLooksForTheUserAndNeverFallsBack) {
  addToken("UKCSP00001");
  makeContainer("UKCSP00001", "someone-else");
  uintptr_t h = 7;
  EXPECT_EQ(kNteBadKeyset, provider->acquireContext(&h, "", 0));
  EXPECT_TRUE(host->lastContainerSaved);
  EXPECT_EQ("", host->lastContainerName);
  EXPECT_GE(host->userNameCalls, 1);

  host->user = "";
  EXPECT_EQ(kErrNoContainerName, provider->acquireContext(&h, nullptr, 0));
  EXPECT_EQ(3, host->userNameCalls - 1);  // three attempts
  EXPECT_EQ(0u, provider->contextCount());
}

TEST_F(Contexts, LongNamesAreStoredAsSixtyFourCharactersWithTheWholeNameAsId) {
  addToken("UKCSP00001");
  std::string n70(70, 'q');
  n70[0] = 'A';
  uintptr_t h = acquire(n70.c_str(), kCryptNewKeyset);
  ASSERT_NE(0u, h);
  EXPECT_EQ(n70.substr(0, 64), provString(h, kPpContainer));
  UK_DEV_INFO *d = direct("UKCSP00001");
  UK_CONTAINER_INFO c{};
  ASSERT_EQ(0u, zksTokenGetContainerByName(d, &c, n70.substr(0, 64).c_str()));
  EXPECT_EQ(70, c.idLen);
  EXPECT_EQ(0, memcmp(c.id, n70.data(), 70));
  // The whole name is looked up: it does not match the stored 64 characters.
  uintptr_t again = 0;
  EXPECT_EQ(kNteBadKeyset, provider->acquireContext(&again, n70.c_str(), 0));
  EXPECT_NE(0u, acquire(n70.substr(0, 64).c_str()));
  // 80 characters: the token library refuses the ID.
  std::string n80(80, 'z');
  EXPECT_EQ(uint32_t(UKLR_NAME_TOO_LONG), provider->acquireContext(&again, n80.c_str(), kCryptNewKeyset));
}

TEST_F(Contexts, FlagCases) {
  addToken("UKCSP00001");
  makeContainer("UKCSP00001", "c1");
  uintptr_t h = 0;
  EXPECT_EQ(kNteBadFlags, provider->acquireContext(&h, "c1", kCryptMachineKeyset));
  EXPECT_EQ(kNteBadFlags, provider->acquireContext(&h, "c1", 0x1));
  EXPECT_EQ(kErrInvalidParameter, provider->acquireContext(nullptr, "c1", 0));
  EXPECT_EQ(0u, provider->contextCount());

  uintptr_t silent = acquire("c1", kCryptSilent);  // no container is looked up
  EXPECT_EQ("", provString(silent, kPpContainer));
  uintptr_t verify = acquire(nullptr, kCryptVerifyContext);
  EXPECT_EQ("", provString(verify, kPpContainer));
  uintptr_t verifySilent = acquire("c1", kCryptVerifyContext | kCryptSilent);
  EXPECT_EQ("", provString(verifySilent, kPpContainer));
  EXPECT_EQ(3u, provider->contextCount());
  EXPECT_EQ("", dialogs.trail());
}

TEST_F(Contexts, DeleteReturnsNoHandleAndCreatesNoContext) {
  addToken("UKCSP00001");
  addToken("UKCSP00002");
  makeContainer("UKCSP00002", "doomed");
  makeContainer("UKCSP00002", "kept");
  uintptr_t h = 0x1234;
  EXPECT_EQ(0u, provider->acquireContext(&h, "doomed", kCryptDeleteKeyset));
  EXPECT_EQ(0u, h);
  EXPECT_EQ(0u, provider->contextCount());
  EXPECT_EQ(std::vector<std::string>{"kept"}, containersOn("UKCSP00002"));
  EXPECT_EQ(kNteBadKeyset, provider->acquireContext(&h, "doomed", kCryptDeleteKeyset));
}

TEST_F(Contexts, CreatingWithTwoDevicesAsksWhichOne) {
  addToken("UKCSP00001", "first-label");
  addToken("UKCSP00002", "second-label");
  dialogs.selection = 1;
  uintptr_t h = acquire("fresh", kCryptNewKeyset);
  ASSERT_EQ(1u, dialogs.shown.size());
  EXPECT_EQ("select", dialogs.shown[0].kind);
  EXPECT_EQ((std::vector<std::string>{"first-label|UKCSP00001", "second-label|UKCSP00002"}),
            dialogs.shown[0].lines);
  EXPECT_EQ("ZV-UK Q57: 1 ", host->lastConnectDevice);
  EXPECT_EQ(std::vector<std::string>{"fresh"}, containersOn("UKCSP00002"));
  EXPECT_TRUE(containersOn("UKCSP00001").empty());
  EXPECT_EQ(1u, provider->deviceTable().selected);
  provider->releaseContext(h, 0);

  dialogs.selection = -1;
  EXPECT_EQ(kScardENoReadersAvailable, provider->acquireContext(&h, "other", kCryptNewKeyset));
  EXPECT_TRUE(containersOn("UKCSP00001").empty());
  EXPECT_EQ(std::vector<std::string>{"fresh"}, containersOn("UKCSP00002"));
}

TEST_F(Contexts, WithoutADevice) {
  uintptr_t h = 0;
  EXPECT_EQ(kNteBadKeyset, provider->acquireContext(&h, "any", 0));
  EXPECT_EQ("one:12", dialogs.trail());
  EXPECT_EQ(kScardENoReadersAvailable, provider->acquireContext(&h, "any", kCryptNewKeyset));
  EXPECT_EQ("one:12 one:12", dialogs.trail());
  uintptr_t v = acquire(nullptr, kCryptVerifyContext);
  EXPECT_EQ("one:12 one:12", dialogs.trail());  // verify-only asks nothing
  uint32_t len = 0;
  EXPECT_EQ(kScardENoReadersAvailable,
            provider->getProvParam(v, kPpEnumContainers, nullptr, &len, kCryptFirst));
  EXPECT_EQ(kScardEInvalidChv,
            provider->setProvParam(v, kPpSignaturePin, reinterpret_cast<const uint8_t *>(kPin), 0));
  EXPECT_EQ(0u, provider->setProvParam(v, kPpSignaturePin, nullptr, 0));
}

TEST_F(Contexts, FullDeviceShowsItsPromptAndFails) {
  addToken("UKCSP00001");
  for (int i = 0; i < 5; ++i) makeContainer("UKCSP00001", ("c" + std::to_string(i)).c_str());
  uintptr_t h = 0;
  EXPECT_EQ(uint32_t(UKLR_DEV_FULL), provider->acquireContext(&h, "sixth", kCryptNewKeyset));
  EXPECT_EQ("one:14", dialogs.trail());
}

uint32_t UKAPI failingEstablish() { return 5; }

TEST_F(Contexts, TokenLibraryThatCannotStart) {
  csp::TokenApi a = csp::tokenLibrary();
  a.establishContext = failingEstablish;
  rebind(a);
  uintptr_t h = 0;
  EXPECT_EQ(kErrTokenLibInit, provider->acquireContext(&h, nullptr, kCryptVerifyContext));
}

TEST_F(Contexts, ReleaseChecksAndTheLastReleaseForgetsTheDevices) {
  addToken("UKCSP00001");
  makeContainer("UKCSP00001", "c1");
  uintptr_t a = acquire("c1"), b = acquire("c1");
  cachePin(a);
  EXPECT_EQ(1u, uint32_t(provider->deviceTable().devices[0].callerWord));
  EXPECT_EQ(kErrInvalidParameter, provider->releaseContext(0, 0));
  EXPECT_EQ(kNteBadFlags, provider->releaseContext(a, 1));
  EXPECT_EQ(0u, provider->releaseContext(a, 0));
  EXPECT_EQ(kNteBadUid, provider->releaseContext(a, 0));  // released: refused, never read
  EXPECT_EQ(1u, provider->deviceTable().count);
  EXPECT_EQ(1u, uint32_t(provider->deviceTable().devices[0].callerWord));
  EXPECT_EQ(0u, provider->releaseContext(b, 0));
  EXPECT_EQ(0u, provider->deviceTable().count);
  EXPECT_EQ(0u, uint32_t(provider->deviceTable().devices[0].callerWord));
  EXPECT_EQ(0, provider->deviceTable().devices[0].callerDataALen);
}

TEST_F(Contexts, HandlesOfReleasedOrForeignObjectsAreRefused) {
  uintptr_t prov = acquire(nullptr, kCryptVerifyContext);
  uintptr_t hash = 0, key = 0;
  ASSERT_EQ(0u, provider->createHash(prov, kCalgSha1, 0, 0, &hash));
  ASSERT_EQ(0u, provider->genKey(prov, kCalgDes, 0, &key));
  ASSERT_EQ(0u, provider->releaseContext(prov, 0));
  // The objects went with their context; their handles are unknown now.
  const uint8_t b = 1;
  EXPECT_EQ(kNteBadUid, provider->hashData(prov, hash, &b, 1, 0));
  uintptr_t other = acquire(nullptr, kCryptVerifyContext);
  EXPECT_EQ(kNteBadHash, provider->hashData(other, hash, &b, 1, 0));
  EXPECT_EQ(kNteBadKey, provider->destroyKey(other, key));
  // A value that was never a handle is refused the same way.
  uint8_t junk[64] = {0xAB, 0xAB, 0xAB, 0xAB};
  EXPECT_EQ(kNteBadUid, provider->releaseContext(reinterpret_cast<uintptr_t>(junk), 0));
  EXPECT_EQ(kNteBadHash, provider->destroyHash(other, reinterpret_cast<uintptr_t>(junk)));
  EXPECT_EQ(kErrInvalidParameter, provider->destroyHash(other, 0));
}

// ---- Provider parameters -------------------------------------------------------------------------

class ProvParams : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    prov = acquire(nullptr, kCryptVerifyContext);
  }
  Bytes get(uint32_t param, uint32_t flags, uint32_t *rc) {
    uint8_t buf[200];
    uint32_t len = sizeof buf;
    *rc = provider->getProvParam(prov, param, buf, &len, flags);
    return *rc ? Bytes() : Bytes(buf, buf + len);
  }
  uintptr_t prov = 0;
};

Bytes enumAlgs(const char *name, uint32_t id, uint32_t bits) {
  Bytes r(32, 0);
  for (int i = 0; i < 4; ++i) r[i] = uint8_t(id >> (8 * i)), r[4 + i] = uint8_t(bits >> (8 * i));
  r[8] = uint8_t(strlen(name) + 1);
  memcpy(&r[12], name, strlen(name));
  return r;
}

Bytes enumAlgsEx(const char *name, uint32_t id, uint32_t def, uint32_t mn, uint32_t mx) {
  Bytes r(88, 0);
  uint32_t v[6] = {id, def, mn, mx, 0x3F, uint32_t(strlen(name) + 1)};
  for (int f = 0; f < 6; ++f)
    for (int i = 0; i < 4; ++i) r[4 * f + i] = uint8_t(v[f] >> (8 * i));
  memcpy(&r[24], name, strlen(name));
  r[44] = uint8_t(strlen(name) + 1);
  memcpy(&r[48], name, strlen(name));
  return r;
}

TEST_F(ProvParams, AlgorithmEnumerationsAreExactlyTheTables) {
  const std::vector<Bytes> algs = {
      enumAlgs("RC4", 0x6801, 128),  enumAlgs("DES", 0x6601, 56),
      enumAlgs("3DES", 0x6603, 168), enumAlgs("MD5", 0x8003, 128),
      enumAlgs("SHA1", 0x8004, 160), enumAlgs("SSL3 SHAMD5", 0x8008, 288),
      enumAlgs("RSA_KEYX", 0xA400, 1024), enumAlgs("RSA_SIGN", 0x2400, 1024)};
  const std::vector<Bytes> ex = {
      enumAlgsEx("RC4", 0x6801, 128, 40, 128),        enumAlgsEx("DES", 0x6601, 56, 56, 56),
      enumAlgsEx("3DES", 0x6603, 168, 168, 168),      enumAlgsEx("3DES_112", 0x6609, 168, 168, 168),
      enumAlgsEx("MD5", 0x8003, 128, 128, 128),       enumAlgsEx("SHA1", 0x8004, 160, 160, 160),
      enumAlgsEx("SSL3 SHAMD5", 0x8008, 288, 288, 288),
      enumAlgsEx("RSA_KEYX", 0xA400, 1024, 1024, 1024),
      enumAlgsEx("RSA_SIGN", 0x2400, 1024, 1024, 1024)};
  for (int pass = 0; pass < 2; ++pass) {
    const uint32_t param = pass ? kPpEnumAlgsEx : kPpEnumAlgs;
    const auto &expected = pass ? ex : algs;
    uint32_t len = 0;
    // A sizing call with CRYPT_FIRST resets the cursor but does not advance it.
    ASSERT_EQ(0u, provider->getProvParam(prov, param, nullptr, &len, kCryptFirst));
    EXPECT_EQ(pass ? 88u : 32u, len);
    uint32_t rc;
    for (size_t i = 0; i < expected.size(); ++i) {
      Bytes got = get(param, i == 0 ? 0 : kCryptNext, &rc);
      ASSERT_EQ(0u, rc) << i;
      EXPECT_EQ(uktest::hex(expected[i]), uktest::hex(got)) << "entry " << i;
    }
    get(param, kCryptNext, &rc);
    EXPECT_EQ(kErrNoMoreItems, rc);
    EXPECT_EQ(uktest::hex(expected[0]), uktest::hex(get(param, kCryptFirst, &rc)));
  }
}

TEST_F(ProvParams, FixedValuesAndTheBufferContract) {
  uint32_t rc;
  EXPECT_EQ("03000000", uktest::hex(get(kPpImpType, 0, &rc)));
  EXPECT_EQ("00020000", uktest::hex(get(kPpVersion, 0, &rc)));
  EXPECT_EQ("01000000", uktest::hex(get(kPpProvType, 0, &rc)));
  EXPECT_EQ("01000000", uktest::hex(get(kPpKeyStorage, 0, &rc)));
  EXPECT_EQ("03000000", uktest::hex(get(kPpKeySpec, 0, &rc)));
  EXPECT_EQ("ZV UKey for ORV Cryptographic Service Provider", provString(prov, kPpName));
  Bytes sd = get(kPpKeysetSecDescr, 0, &rc);
  ASSERT_EQ(sizeof(void *) == 4 ? 20u : 40u, sd.size());
  EXPECT_EQ("01000400", uktest::hex(Bytes(sd.begin(), sd.begin() + 4)));

  uint8_t small[10];
  uint32_t len = sizeof small;
  EXPECT_EQ(kErrMoreData, provider->getProvParam(prov, kPpName, small, &len, 0));
  EXPECT_EQ(47u, len);  // the length to size the buffer with
  len = 77;
  EXPECT_EQ(0u, provider->getProvParam(prov, kPpUseHardwareRng, small, &len, 0));
  EXPECT_EQ(77u, len);
  EXPECT_EQ(0u, provider->getProvParam(prov, kPpEnumExSigningProt, nullptr, &len, 0));
  EXPECT_EQ(77u, len);

  EXPECT_EQ(kNteBadType, provider->getProvParam(prov, 7, small, &len, 0));
  EXPECT_EQ(kNteBadFlags, provider->getProvParam(prov, kPpName, small, &len, 3));
  EXPECT_EQ(kErrInvalidParameter, provider->getProvParam(prov, kPpName, small, nullptr, 0));
  EXPECT_EQ(kErrInvalidParameter, provider->getProvParam(0, kPpName, small, &len, 0));
  EXPECT_EQ(kNteBadUid, provider->getProvParam(prov + 8, kPpName, small, &len, 0));
}

TEST_F(ProvParams, ContainerEnumerationReadsTheTokenEachTime) {
  addToken("UKCSP00001");
  makeContainer("UKCSP00001", "one");
  makeContainer("UKCSP00001", "three-3");
  uintptr_t h = acquire("one");
  uint32_t len = 0;
  ASSERT_EQ(0u, provider->getProvParam(h, kPpEnumContainers, nullptr, &len, kCryptFirst));
  EXPECT_EQ(4u, len);
  ASSERT_EQ(0u, provider->getProvParam(h, kPpEnumContainers, nullptr, &len, 0));
  EXPECT_EQ(4u, len);  // a null buffer does not advance
  char name[64];
  len = sizeof name;
  ASSERT_EQ(0u, provider->getProvParam(h, kPpEnumContainers, reinterpret_cast<uint8_t *>(name), &len, 0));
  EXPECT_STREQ("one", name);
  makeContainer("UKCSP00001", "new-4");  // listed afresh: the new one shows up
  len = 3;
  EXPECT_EQ(kErrMoreData,
            provider->getProvParam(h, kPpEnumContainers, reinterpret_cast<uint8_t *>(name), &len, 0));
  EXPECT_EQ(8u, len);
  ASSERT_EQ(0u, provider->getProvParam(h, kPpEnumContainers, reinterpret_cast<uint8_t *>(name), &len, kCryptNext));
  EXPECT_STREQ("three-3", name);
  len = sizeof name;
  ASSERT_EQ(0u, provider->getProvParam(h, kPpEnumContainers, reinterpret_cast<uint8_t *>(name), &len, 0));
  EXPECT_STREQ("new-4", name);
  len = sizeof name;
  EXPECT_EQ(kErrNoMoreItems,
            provider->getProvParam(h, kPpEnumContainers, reinterpret_cast<uint8_t *>(name), &len, 0));
}

TEST_F(ProvParams, SetParametersAndThePolicy) {
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpKeysetSecDescr, nullptr, 15));
  EXPECT_EQ(kNteBadFlags, provider->setProvParam(prov, kPpKeysetSecDescr, nullptr, 16));
  EXPECT_EQ(kNteBadType, provider->setProvParam(prov, 1, nullptr, 0));
  EXPECT_EQ(kErrInvalidParameter, provider->setProvParam(0, kPpKeysetSecDescr, nullptr, 0));
  EXPECT_EQ(kNteBadData, provider->setProvParam(prov, kPpSignaturePin,
                                                reinterpret_cast<const uint8_t *>("12345678901234567"), 0));

  auto *ctx = reinterpret_cast<ProviderContext *>(prov);
  EXPECT_EQ(1u, ctx->confirmFirstArmed);
  ctx->confirmFirstArmed = 0;
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyFirstOnly));
  EXPECT_EQ(1u, ctx->noConfirmAfterFirst);
  EXPECT_EQ(0xFFFFFFFFu, ctx->confirmCountdown);
  EXPECT_EQ(1u, ctx->confirmFirstArmed);
  const uint8_t n[4] = {5, 1, 0, 0};
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, n, kPolicyEveryNth));
  EXPECT_EQ(0u, ctx->noConfirmAfterFirst);
  EXPECT_EQ(261u, ctx->confirmCountdown);
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyEveryNth));
  EXPECT_EQ(0u, ctx->confirmCountdown);
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, n, kPolicyFirstOnly));
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, n, kPolicyAlways));
  EXPECT_EQ(0u, ctx->noConfirmAfterFirst);
  EXPECT_EQ(0u, ctx->confirmCountdown);
  EXPECT_EQ(kNteBadFlags, provider->setProvParam(prov, kPpSignConfirmPolicy, n, 0x80000004u));
}

TEST_F(Contexts, EntryPointsWriteTheirLogLines) {
  uintptr_t prov = acquire(nullptr, kCryptVerifyContext);
  uint32_t len = 0;
  provider->getProvParam(prov, kPpName, nullptr, &len, 0);
  provider->releaseContext(prov, 0);
  EXPECT_EQ("----->CPAcquireContext\n---->CPGetProvParam  \n0x00000004\n----->CPReleaseContext\n",
            host->log);
}

}  // namespace
}  // namespace csptest
