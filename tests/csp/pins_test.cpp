// PINs: setting the PIN through the provider parameter, the PIN cache, the PIN dialog flows of
// verifyUserPinCached, the default-PIN change, and the device mutex around the PIN sequence.
#include <atomic>
#include <chrono>

#include "csp_harness.h"

namespace csptest {
namespace {

using namespace csp;

// Token-library results the emulator cannot produce are played from a script; every verify and
// log-out is counted.
constexpr uint32_t kPass = 0xFFFFFFFFu;
std::deque<uint32_t> gVerifyScript;
std::deque<uint32_t> gConnectScript;
int gVerifies = 0, gLogOuts = 0, gModifies = 0;
uint8_t gModel = 0;  // model code to report instead of the library's

uint32_t UKAPI scriptedVerify(UK_DEV_INFO *d, const uint8_t *pin, uint32_t len, uint8_t *tries) {
  ++gVerifies;
  if (!gVerifyScript.empty()) {
    uint32_t r = gVerifyScript.front();
    gVerifyScript.pop_front();
    if (r != kPass) {
      if (tries) *tries = uint8_t(r & 0x0F);
      return r;
    }
  }
  return zksTokenVerifyUserPin(d, pin, len, tries);
}
uint32_t UKAPI countedLogOut(UK_DEV_INFO *d) {
  ++gLogOuts;
  return zksTokenResetUserPinVerifyFlag(d);
}
uint32_t UKAPI scriptedConnect(UK_DEV_INFO *d, uint32_t r) {
  if (!gConnectScript.empty()) {
    uint32_t v = gConnectScript.front();
    gConnectScript.pop_front();
    if (v != kPass) return v;
  }
  return zksTokenConnect(d, r);
}
uint32_t UKAPI countedModify(UK_DEV_INFO *, const uint8_t *, uint32_t oldLen, const uint8_t *,
                             uint32_t newLen, uint8_t *) {
  ++gModifies;
  return oldLen == 0 && newLen == 0 ? 0 : 4;  // the PINs are entered on the device itself
}
uint32_t UKAPI modelListing(const char *p, UK_DEV_INFO *d, uint32_t *n) {
  uint32_t rc = zksTokenListDevices(p, d, n);
  for (uint32_t i = 0; i < *n && gModel; ++i) d[i].modelCode = gModel;
  return rc;
}

class Pins : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    gVerifyScript.clear();
    gConnectScript.clear();
    gVerifies = gLogOuts = gModifies = 0;
    gModel = 0;
    TokenApi a = tokenLibrary();
    a.verifyUserPin = scriptedVerify;
    a.resetUserPinVerifyFlag = countedLogOut;
    a.connect = scriptedConnect;
    a.modifyUserPin = countedModify;
    a.listDevices = modelListing;
    rebind(a);
    addToken("UKPIN00001");
    makeContainer("UKPIN00001", "c1");
    prov = acquire("c1");
    dev = &provider->deviceTable().devices[0];
  }
  // A private-key step as the key and signing entry points run it.
  uint32_t verify() {
    EXPECT_EQ(0u, provider->openDeviceSession(dev, Session::Plain));
    return provider->verifyUserPinCached(dev);
  }
  // Whether the card's power session has the user PIN verified: generating a key pair needs it.
  bool pinVerifiedOnCard() {
    UK_DEV_INFO *d = direct("UKPIN00001");
    UK_CONTAINER_INFO c = objtest::namedContainer("probe");
    if (zksTokenNewContainer(d, &c)) return false;
    uint32_t rc = zksTokenGenRsaKeyPair(d, &c, 1);
    zksTokenDeleteContainer(d, &c);
    return rc == 0;
  }
  uintptr_t prov = 0;
  UK_DEV_INFO *dev = nullptr;
};

TEST_F(Pins, SettingThePinVerifiesCachesAndLogsOut) {
  cachePin(prov);
  EXPECT_EQ(1, gVerifies);
  EXPECT_EQ(1, gLogOuts);
  EXPECT_EQ(1u, uint32_t(dev->callerWord));
  EXPECT_EQ(8, dev->callerDataALen);  // six characters padded to one block
  EXPECT_EQ(16, dev->callerDataBLen);
  EXPECT_NE(0, memcmp(dev->callerDataA, kPin, 6));  // never in the clear
  EXPECT_FALSE(pinVerifiedOnCard());

  // Later private-key steps use the cache without a dialog.
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("", dialogs.trail());
  EXPECT_TRUE(pinVerifiedOnCard());

  // A null PIN clears the cache; the next step asks.
  EXPECT_EQ(0u, provider->setProvParam(prov, kPpSignaturePin, nullptr, 0));
  EXPECT_EQ(0u, uint32_t(dev->callerWord));
  EXPECT_EQ(0, dev->callerDataALen);
  dialogs.pins = {kPin};
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("pin", dialogs.trail());
  EXPECT_EQ(8, dev->callerDataALen);  // the typed PIN is cached in turn
}

TEST_F(Pins, AWrongPinThroughTheParameterFailsAndKeepsTheOldCiphertext) {
  cachePin(prov);
  Bytes before(dev->callerDataA, dev->callerDataA + dev->callerDataALen);
  EXPECT_EQ(kScardEInvalidChv, provider->setProvParam(prov, kPpKeyExchangePin,
                                                      reinterpret_cast<const uint8_t *>("111111"), 0));
  EXPECT_EQ(0u, uint32_t(dev->callerWord));
  EXPECT_EQ(uktest::hex(before), uktest::hex(Bytes(dev->callerDataA, dev->callerDataA + dev->callerDataALen)));
  EXPECT_EQ(kScardEInvalidChv,
            provider->setProvParam(prov, kPpSignaturePin, reinterpret_cast<const uint8_t *>(""), 0));
}

TEST_F(Pins, ThePinParameterNeedsAKnownTokenFamily) {
  gModel = 99;
  uintptr_t h = acquire("c1");
  int before = gVerifies;
  EXPECT_EQ(kScardEInvalidChv,
            provider->setProvParam(h, kPpSignaturePin, reinterpret_cast<const uint8_t *>(kPin), 0));
  EXPECT_EQ(before, gVerifies);
}

TEST_F(Pins, WrongPinOffersRetryWithTheRemainingTries) {
  dialogs.pins = {"000000", kPin};
  dialogs.buttons = {1};
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("pin two:16 pin", dialogs.trail());
  EXPECT_EQ(9u, dialogs.shown[1].tries);

  provider->setProvParam(prov, kPpSignaturePin, nullptr, 0);
  dialogs.shown.clear();
  dialogs.pins = {"000000"};
  dialogs.buttons = {2};
  EXPECT_EQ(0x800063C9u, verify());  // the success reset the counter; Abort after one wrong try
  EXPECT_EQ("pin two:16", dialogs.trail());
}

TEST_F(Pins, CancelBlockedTimeoutAndOtherFailures) {
  dialogs.pins = {ScriptDialogs::kCancel};
  EXPECT_EQ(kErrPinCancelled, verify());
  EXPECT_EQ("pin", dialogs.trail());

  dialogs.shown.clear();
  dialogs.pins = {"1"};
  gVerifyScript = {kTokPinBlocked};
  EXPECT_EQ(kTokPinBlocked, verify());
  EXPECT_EQ("pin one:13", dialogs.trail());

  dialogs.shown.clear();
  dialogs.pins = {"1"};
  gVerifyScript = {kScardETimeout};
  EXPECT_EQ(kScardETimeout, verify());
  EXPECT_EQ("pin one:32", dialogs.trail());

  // Cancelled on the device: Continue starts another attempt, Exit ends with that result.
  dialogs.shown.clear();
  dialogs.pins = {"1", "1", kPin};
  dialogs.buttons = {1, 1};
  gVerifyScript = {kScardWCancelledByUser, 0x80006A88u};
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("pin two:31 pin two:15 pin", dialogs.trail());

  provider->setProvParam(prov, kPpSignaturePin, nullptr, 0);
  dialogs.shown.clear();
  dialogs.pins = {"1"};
  dialogs.buttons = {2};
  gVerifyScript = {kScardWCancelledByUser};
  EXPECT_EQ(kScardWCancelledByUser, verify());
}

TEST_F(Pins, FifteenAttemptsAtMost) {
  for (int i = 0; i < 16; ++i) {
    dialogs.pins.push_back("9");
    dialogs.buttons.push_back(1);
    gVerifyScript.push_back(0x800063C5u);
  }
  EXPECT_EQ(0x800063C5u, verify());
  int pins = 0;
  for (auto &s : dialogs.shown) pins += s.kind == "pin";
  EXPECT_EQ(15, pins);
}

TEST_F(Pins, AStalePinCostsOneTryThenTheDialogReplacesIt) {
  cachePin(prov);
  // Another program changes the PIN.
  UK_DEV_INFO *d = direct("UKPIN00001");
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenModifyUserPin(d, reinterpret_cast<const uint8_t *>(kPin), 6,
                                      reinterpret_cast<const uint8_t *>("246810"), 6, &tries));
  zksTokenResetUserPinVerifyFlag(d);

  gVerifies = 0;
  dialogs.pins = {"246810"};
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("pin", dialogs.trail());
  EXPECT_EQ(2, gVerifies);  // the stale cached PIN, then the typed one
  dialogs.shown.clear();
  EXPECT_EQ(0u, verify());  // the new PIN is cached now
  EXPECT_EQ("", dialogs.trail());
}

TEST_F(Pins, AStalePinIsPresentedOnceEvenWhenTheDialogIsCancelled) {
  cachePin(prov);
  UK_DEV_INFO *d = direct("UKPIN00001");
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenModifyUserPin(d, reinterpret_cast<const uint8_t *>(kPin), 6,
                                      reinterpret_cast<const uint8_t *>("246810"), 6, &tries));
  gVerifies = 0;
  dialogs.pins = {ScriptDialogs::kCancel, ScriptDialogs::kCancel};
  EXPECT_EQ(kErrPinCancelled, verify());
  EXPECT_EQ(kErrPinCancelled, verify());
  EXPECT_EQ(1, gVerifies);  // the refused cache was dropped, not offered again
  // The token counted exactly one wrong try.
  EXPECT_EQ(0x800063C8u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>("000000"), 6, &tries));
}

TEST_F(Pins, ReleasingTheLastContextForgetsThePin) {
  cachePin(prov);
  ASSERT_EQ(0u, provider->releaseContext(prov, 0));
  prov = acquire("c1");
  dev = &provider->deviceTable().devices[0];
  dialogs.pins = {kPin};
  EXPECT_EQ(0u, verify());
  EXPECT_EQ("pin", dialogs.trail());
}

TEST_F(Pins, DefaultPinMustBeChangedOnTheDevice) {
  gConnectScript = {kTokDefaultPin};
  dialogs.buttons = {2};
  EXPECT_EQ(kScardWCancelledByUser, provider->openDeviceSession(dev, Session::Standard));
  EXPECT_EQ("two:27", dialogs.trail());
  EXPECT_EQ(0, gModifies);

  dialogs.shown.clear();
  gConnectScript = {kTokDefaultPin, kPass};
  dialogs.buttons = {1};
  EXPECT_EQ(0u, provider->openDeviceSession(dev, Session::Standard));
  EXPECT_EQ("two:27 open close", dialogs.trail());
  EXPECT_EQ(Modeless::SetPinOnDevice, dialogs.shown[1].window);
  EXPECT_EQ(1, gModifies);
}

// Two processes: one generates a key pair (PIN verified, then the token works), the other sets
// the PIN meanwhile. The PIN sequence waits for the device mutex, so its log-out cannot land
// between the first process's verification and its key generation.
TEST_F(Pins, PinParameterWaitsForTheDeviceMutex) {
  cachePin(prov);
  TestHost otherHost(deviceLock);
  ScriptDialogs otherDialogs;
  Provider other(otherHost, otherDialogs, tokenLibrary());
  uintptr_t otherProv = 0;
  ASSERT_EQ(0u, other.acquireContext(&otherProv, "c1", 0));

  std::atomic<bool> otherDone{false};
  std::atomic<uint32_t> otherRc{1};
  std::thread otherThread;
  bool otherWaited = false;
  dialogs.onOpen = [&](Modeless kind) {
    if (kind != Modeless::KeyGeneration) return;
    otherThread = std::thread([&] {
      otherRc = other.setProvParam(otherProv, kPpSignaturePin, reinterpret_cast<const uint8_t *>(kPin), 0);
      otherDone = true;
    });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!otherDone && std::chrono::steady_clock::now() < until &&
           !(otherWaited = deviceLock.waitForWaiter(std::chrono::milliseconds(10)))) {
    }
  };
  uintptr_t key = 0;
  EXPECT_EQ(0u, provider->genKey(prov, kAtSignature, 0, &key));
  if (otherThread.joinable()) otherThread.join();
  EXPECT_TRUE(otherWaited);
  EXPECT_EQ(0u, otherRc.load());
  other.releaseContext(otherProv, 0);
}

}  // namespace
}  // namespace csptest
