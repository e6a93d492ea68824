// Signing and verification: the DigestInfo a token signs (checked with OpenSSL), key choice, the
// confirmation policy, the button wait with its window and polling thread, cancelling, the plain
// and display token families, and verification with token keys and imported public keys.
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../objects/ossl.h"
#include "csp_harness.h"

namespace csptest {
namespace {

using namespace csp;
using objtest::OsslRsa;

constexpr const char *kSerial = "UKSIG00001";

const Bytes kSha1Oid = uktest::unhex("3021300906052B0E03021A05000414");
const Bytes kMd5Oid = uktest::unhex("3020300C06082A864886F70D020505000410");

Bytes digest(const EVP_MD *m, const Bytes &data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, m, nullptr);
  return Bytes(out, out + n);
}
Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes reversed(Bytes b) { return Bytes(b.rbegin(), b.rend()); }

// Token-library calls a test replaces: the model code the library reports, and the signing
// calls of the plain and display families (which the emulator, a button token, cannot play).
uint8_t gModel = 0;
std::vector<uint32_t> gModes;
std::deque<uint32_t> gEncryptScript;  // results to return instead of signing; kReal: sign
constexpr uint32_t kReal = 0xFFFFFFFFu;
int gLogOuts = 0, gReconnects = 0, gFinals = 0, gCancels = 0;

uint32_t UKAPI modelListing(const char *p, UK_DEV_INFO *d, uint32_t *n) {
  uint32_t rc = zksTokenListDevices(p, d, n);
  for (uint32_t i = 0; i < *n && gModel; ++i) d[i].modelCode = gModel;
  return rc;
}
uint32_t UKAPI scriptedSign(UK_DEV_INFO *d, UK_CONTAINER_INFO *c, const uint8_t *in, uint32_t len,
                            uint8_t *out, uint32_t *outLen, uint32_t spec, uint32_t mode) {
  gModes.push_back(mode);
  if (!gEncryptScript.empty()) {
    uint32_t r = gEncryptScript.front();
    gEncryptScript.pop_front();
    if (r != kReal) return r;
  }
  return zksTokenRsaPriEncrypt(d, c, in, len, out, outLen, spec, mode);
}
uint32_t UKAPI countedFinal(UK_DEV_INFO *d, uint8_t *out, uint32_t *len, uint32_t r) {
  ++gFinals;
  return zksTokenRsaPriEncryptFinal(d, out, len, r);
}
uint32_t UKAPI countedCancel(UK_DEV_INFO *d) {
  ++gCancels;
  return zksTokenRsaPriEncryptCancel(d);
}
uint32_t UKAPI countedLogOut(UK_DEV_INFO *d) {
  ++gLogOuts;
  return zksTokenResetUserPinVerifyFlag(d);
}
uint32_t UKAPI countedReconnect(UK_DEV_INFO *d, uint32_t r) {
  ++gReconnects;
  return zksTokenReconnect(d, r);
}

class Signing : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    gModel = 0;
    gModes.clear();
    gEncryptScript.clear();
    gLogOuts = gReconnects = gFinals = gCancels = 0;
    TokenApi a = tokenLibrary();
    a.listDevices = modelListing;
    a.rsaPriEncrypt = scriptedSign;
    a.rsaPriEncryptFinal = countedFinal;
    a.rsaPriEncryptCancel = countedCancel;
    a.resetUserPinVerifyFlag = countedLogOut;
    a.reconnect = countedReconnect;
    rebind(a);
    addToken(kSerial);
  }
  // A context on a container with the given pairs (bit 0 exchange, bit 1 signature), PIN cached.
  uintptr_t context(const char *name, uint32_t pairs) {
    makeContainer(kSerial, name, 0);
    UK_DEV_INFO *d = direct(kSerial);
    UK_CONTAINER_INFO c{};
    EXPECT_EQ(0u, zksTokenGetContainerByName(d, &c, name));
    uint8_t tries = 0;
    EXPECT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(kPin), 6, &tries));
    for (uint32_t spec : {1u, 2u}) {
      if (pairs & (1u << (spec - 1))) {
        EXPECT_EQ(0u, zksTokenGenRsaKeyPair(d, &c, spec));
      }
    }
    zksTokenResetUserPinVerifyFlag(d);
    uintptr_t h = acquire(name);
    // A display token refuses a PIN handed over by the caller: its first signature asks for it.
    if (gModel && csp::isDisplayToken(gModel)) dialogs.pins.push_back(kPin);
    else cachePin(h);
    gLogOuts = 0;
    return h;
  }
  // The public key of a pair, from the token, for OpenSSL.
  std::unique_ptr<OsslRsa> publicKey(const char *name, uint32_t spec) {
    UK_DEV_INFO *d = direct(kSerial);
    UK_CONTAINER_INFO c{};
    EXPECT_EQ(0u, zksTokenGetContainerByName(d, &c, name));
    UK_RSA_PUBLIC_KEY pub{};
    EXPECT_EQ(0u, zksTokenReadRsaPubKey(d, &c, &pub, spec));
    return std::make_unique<OsslRsa>(pub.modulus, 128, pub.exponent, 128);
  }
  uintptr_t hashOf(uintptr_t prov, uint32_t alg, const Bytes &data) {
    uintptr_t h = 0;
    EXPECT_EQ(0u, provider->createHash(prov, alg, 0, 0, &h));
    if (!data.empty()) {
      EXPECT_EQ(0u, provider->hashData(prov, h, data.data(), uint32_t(data.size()), 0));
    }
    return h;
  }
  // CPSignHash with a 128-byte buffer; the signature least significant byte first, as CryptoAPI
  // hands it out.
  Bytes sign(uintptr_t prov, uintptr_t hash, uint32_t spec, uint32_t flags = 0, uint32_t *rc = nullptr) {
    uint8_t sig[128];
    uint32_t len = sizeof sig;
    uint32_t r = provider->signHash(prov, hash, spec, flags, sig, &len);
    if (rc) *rc = r;
    else EXPECT_EQ(0u, r) << std::hex << r;
    return r ? Bytes() : Bytes(sig, sig + len);
  }
  int confirmations() const {
    int n = 0;
    for (const auto &s : dialogs.shown) n += s.kind == "confirm";
    return n;
  }
  tokensim::Card &token() { return card(kSerial); }
  const Bytes msg = bytesOf("payment order 42: 100.00 to account 6222");
};

// ---- What is signed ------------------------------------------------------------------------------

TEST_F(Signing, Sha1AndMd5SignaturesVerifyWithOpenSsl) {
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  ASSERT_EQ(128u, sig.size());
  EXPECT_EQ(uktest::hex(cat(kSha1Oid, digest(EVP_sha1(), msg))), uktest::hex(pub->recover(reversed(sig))));
  sig = sign(prov, hashOf(prov, kCalgMd5, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kMd5Oid, digest(EVP_md5(), msg))), uktest::hex(pub->recover(reversed(sig))));
  // Both waited for the button (mode 1) behind the confirmation window; the emulator pressed it.
  EXPECT_EQ((std::vector<uint32_t>{1, 1}), gModes);
  EXPECT_EQ("confirm confirmed confirm confirmed", dialogs.trail());
  EXPECT_EQ((std::vector<uint32_t>{0, 0}), dialogs.confirmResults);
  EXPECT_EQ(0, gLogOuts);  // a button token is left as the token library leaves it
  EXPECT_EQ(std::string::npos, host->log.find("zksCspRSASign"));
  EXPECT_NE(std::string::npos, host->log.find("---->CPSignHash\n"));
}

TEST_F(Signing, SizeQueriesAndShortBuffersStayOffTheToken) {
  uintptr_t prov = context("c1", 2);
  uintptr_t h = hashOf(prov, kCalgSha1, msg);
  clearTrace();
  uint32_t len = 0;
  EXPECT_EQ(0u, provider->signHash(prov, h, kAtSignature, 0, nullptr, &len));
  EXPECT_EQ(128u, len);
  uint8_t small[127];
  len = sizeof small;
  EXPECT_EQ(kErrMoreData, provider->signHash(prov, h, kAtSignature, 0, small, &len));
  EXPECT_EQ(128u, len);
  EXPECT_TRUE(frames().empty());
  // The digest is still open: more data changes what is signed.
  EXPECT_EQ(0u, provider->hashData(prov, h, msg.data(), 1, 0));

  EXPECT_EQ(kErrInvalidParameter, provider->signHash(prov, h, kAtSignature, 0, small, nullptr));
  EXPECT_EQ(kErrInvalidParameter, provider->signHash(0, h, kAtSignature, 0, small, &len));
  EXPECT_EQ(kNteBadHash, provider->signHash(prov, h + 8, kAtSignature, 0, small, &len));
  EXPECT_EQ(kNteBadType, provider->signHash(prov, h, 3, 0, small, &len));
  EXPECT_EQ(kNteBadFlags, provider->signHash(prov, h, kAtSignature, 2, small, &len));
  // Only the low 16 bits of the flags are looked at.
  len = 0;
  EXPECT_EQ(0u, provider->signHash(prov, h, kAtSignature, 0x10000, nullptr, &len));
  EXPECT_TRUE(frames().empty());
}

TEST_F(Signing, NoHashOidSignsTheBareDigest) {
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 1);
  EXPECT_EQ(uktest::hex(digest(EVP_sha1(), msg)), uktest::hex(pub->recover(reversed(sig))));
}

TEST_F(Signing, KeyChoiceFollowsTheContainersPairs) {
  uintptr_t ex = context("exchange-only", 1);
  auto exPub = publicKey("exchange-only", 1);
  // A signature asked of a container with only an exchange pair is made with that pair.
  Bytes sig = sign(ex, hashOf(ex, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kSha1Oid, digest(EVP_sha1(), msg))), uktest::hex(exPub->recover(reversed(sig))));

  uintptr_t sigOnly = context("signature-only", 2);
  uint32_t rc;
  sign(sigOnly, hashOf(sigOnly, kCalgSha1, msg), kAtKeyExchange, 0, &rc);
  EXPECT_EQ(kNteNoKey, rc);
  EXPECT_NE(std::string::npos, host->log.find("---->NTE_NO_KEY(AT_KEYEXCHANGE) \n"));
  uintptr_t none = context("no-pairs", 0);
  sign(none, hashOf(none, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kNteNoKey, rc);
  // A context without a container has no key either.
  uintptr_t verifyOnly = acquire(nullptr, kCryptVerifyContext);
  sign(verifyOnly, hashOf(verifyOnly, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kNteNoKey, rc);
}

TEST_F(Signing, Ssl3ShaMd5SignsTheSetValueWithoutTheButton) {
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  uintptr_t h = hashOf(prov, kCalgSsl3Shamd5, {});
  Bytes value = cat(digest(EVP_md5(), msg), digest(EVP_sha1(), msg));
  ASSERT_EQ(0u, provider->setHashParam(prov, h, kHpHashVal, value.data(), 0));
  Bytes sig = sign(prov, h, kAtSignature);
  EXPECT_EQ(uktest::hex(value), uktest::hex(pub->recover(reversed(sig))));
  EXPECT_EQ((std::vector<uint32_t>{0}), gModes);
  EXPECT_EQ("", dialogs.trail());
}

// ---- The confirmation policy ---------------------------------------------------------------------

TEST_F(Signing, ConfirmationPolicies) {
  uintptr_t prov = context("c1", 2);
  auto signsAsked = [&](int n) {
    std::string asked;
    for (int i = 0; i < n; ++i) {
      int before = confirmations();
      sign(prov, hashOf(prov, i % 2 ? kCalgMd5 : kCalgSha1, msg), kAtSignature);
      asked += confirmations() > before ? "Y" : "n";
    }
    return asked;
  };
  EXPECT_EQ("YYY", signsAsked(3));  // by default every MD5 and SHA-1 signature asks

  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyFirstOnly));
  EXPECT_EQ("Ynnnn", signsAsked(5));
  // An SSL3 SHAMD5 signature in between neither asks nor counts.
  uintptr_t ssl = hashOf(prov, kCalgSsl3Shamd5, {});
  uint8_t value[36] = {1};
  provider->setHashParam(prov, ssl, kHpHashVal, value, 0);
  sign(prov, ssl, kAtSignature);
  EXPECT_EQ("n", signsAsked(1));

  const uint8_t three[4] = {3, 0, 0, 0};
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, three, kPolicyEveryNth));
  EXPECT_EQ("YnnYY", signsAsked(5));

  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyAlways));
  EXPECT_EQ("YY", signsAsked(2));
  // The policy belongs to the context: another one on the same container asks as by default.
  uintptr_t other = acquire("c1");
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyFirstOnly));
  EXPECT_EQ("Yn", signsAsked(2));
  int before = confirmations();
  sign(other, hashOf(other, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ(before + 1, confirmations());
}

// ---- The button wait -----------------------------------------------------------------------------

TEST_F(Signing, TheTokenIsPolledUntilItsButtonIsPressed) {
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  token().config().buttonDelayMs = 350;  // the user presses after a while
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kSha1Oid, digest(EVP_sha1(), msg))), uktest::hex(pub->recover(reversed(sig))));
  // Every 100 ms: about four polls, each one fetch of the signature.
  EXPECT_GE(host->pauses, 3);
  EXPECT_LE(host->pauses, 8);
  EXPECT_EQ(host->pauses + 1, gFinals);
  EXPECT_EQ(1, host->threadsRun);
  EXPECT_FALSE(token().signatureWaiting());
}

TEST_F(Signing, CancelInTheWindowCancelsOnTheToken) {
  uintptr_t prov = context("c1", 2);
  token().config().button = tokensim::ButtonMode::Never;
  dialogs.onConfirm = [](std::atomic<uint32_t> *cancel) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    cancel->store(1);  // what the window's cancel button does
  };
  clearTrace();
  uint32_t rc;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kScardWCancelledByUser, rc);
  EXPECT_EQ(1, gCancels);
  EXPECT_FALSE(token().signatureWaiting());
  EXPECT_EQ(1u, countIns(0x54));  // the token's cancel command went out once
  EXPECT_EQ((std::vector<uint32_t>{kScardWCancelledByUser}), dialogs.confirmResults);
  EXPECT_NE(std::string::npos, host->log.find("---->zksCspRSASign(ret) \n0x8010006e\n"));

  // The token is free again: the next signature goes through once pressed.
  token().config().button = tokensim::ButtonMode::Auto;
  dialogs.onConfirm = nullptr;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
}

TEST_F(Signing, WithoutItsWindowOrThreadTheWaitingSignatureIsCancelled) {
  uintptr_t prov = context("c1", 2);
  token().config().button = tokensim::ButtonMode::Never;
  dialogs.confirmationOpens = false;
  uint32_t rc;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kNteBadSignature, rc);
  EXPECT_EQ(1, gCancels);
  EXPECT_EQ(0, host->threadsRun);
  EXPECT_FALSE(token().signatureWaiting());

  dialogs.confirmationOpens = true;
  host->failThreads = true;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kNteBadSignature, rc);
  EXPECT_EQ(2, gCancels);
  EXPECT_EQ(1, dialogs.confirmationsClosed);  // the window that did open is closed again
  EXPECT_FALSE(token().signatureWaiting());
}

TEST_F(Signing, TheTokensEndOfTheWaitIsTheResult) {
  uintptr_t prov = context("c1", 2);
  token().config().button = tokensim::ButtonMode::Never;
  // The token fails the fetch of the signature: that result ends the wait and is returned.
  bus_->fault = [](const uktest::Frame &f, uint16_t *sw) {
    if (f.ins() != 0x52) return false;
    *sw = 0x6F00;
    return true;
  };
  uint32_t rc;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_NE(0u, rc);
  EXPECT_NE(uint32_t(UKLR_SIGN_PENDING), rc);
  EXPECT_EQ((std::vector<uint32_t>{rc}), dialogs.confirmResults);
  EXPECT_EQ(1, gFinals);
  bus_->fault = nullptr;
}

TEST_F(Signing, ThePinDialogComesBeforeTheButton) {
  uintptr_t prov = context("c1", 2);
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignaturePin, nullptr, 0));  // nothing cached
  dialogs.pins = {"000000", kPin};
  dialogs.buttons = {1};
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ("pin two:16 pin confirm confirmed", dialogs.trail());
  EXPECT_EQ(9u, dialogs.shown[1].tries);  // one try spent by the wrong PIN
  // Cached now: the next signature asks only for the button.
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ("pin two:16 pin confirm confirmed confirm confirmed", dialogs.trail());

  // Cancelled PIN dialog: nothing is signed.
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignaturePin, nullptr, 0));
  dialogs.pins = {ScriptDialogs::kCancel};
  uint32_t rc;
  gModes.clear();
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(kErrPinCancelled, rc);
  EXPECT_TRUE(gModes.empty());
}

// ---- Signing again on the session the last signature left ready ---------------------------------

class KeptSession : public Signing {
 protected:
  void SetUp() override {
    Signing::SetUp();
    prov = context("c1", 2);
    pub = publicKey("c1", 2);
  }
  // An SSL3 SHAMD5 signature (never waits for the button), checked against the public key.
  void signSsl3(const char *what) {
    uintptr_t h = hashOf(prov, kCalgSsl3Shamd5, {});
    ASSERT_EQ(0u, provider->setHashParam(prov, h, kHpHashVal, value.data(), 0));
    Bytes sig = sign(prov, h, kAtSignature);
    EXPECT_EQ(uktest::hex(value), uktest::hex(pub->recover(reversed(sig)))) << what;
  }
  uintptr_t prov = 0;
  std::unique_ptr<OsslRsa> pub;
  const Bytes value = cat(digest(EVP_md5(), msg), digest(EVP_sha1(), msg));
};

TEST_F(KeptSession, ALaterSignatureSendsOnlyTheKeySelectionAndTheSignature) {
  signSsl3("first");
  EXPECT_GT(countIns(0x20), 0u);  // the first one opened a session and presented the PIN
  clearTrace();
  signSsl3("second");
  ASSERT_EQ(2u, frames().size());
  EXPECT_EQ(0x22, frames()[0].ins());  // key selection
  EXPECT_EQ(0x2A, frames()[1].ins());  // signature
  // A signature the user confirms on the token works the same way on the kept session.
  clearTrace();
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kSha1Oid, digest(EVP_sha1(), msg))), uktest::hex(pub->recover(reversed(sig))));
  EXPECT_EQ(0u, countIns(0xA4));
  EXPECT_EQ(0u, countIns(0x20));
  EXPECT_EQ("confirm confirmed", dialogs.trail());
}

TEST_F(KeptSession, WhatAnotherProgramChangedOnTheTokenIsNoticed) {
  signSsl3("first");
  UK_DEV_INFO *other = direct(kSerial);
  // The other program logs the card out: the cached PIN is presented once, without a dialog.
  ASSERT_EQ(0u, zksTokenResetUserPinVerifyFlag(other));
  clearTrace();
  signSsl3("after a log-out");
  EXPECT_EQ(1u, countIns(0x20));
  // It leaves the card in the master file: the key is not signed with from there.
  ASSERT_EQ(0u, zksTokenSelectMF(other));
  clearTrace();
  signSsl3("after another folder was selected");
  EXPECT_GT(countIns(0xA4), 0u);
  // It changes the PIN: the cached one is presented once and refused, then the dialog asks.
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(other, 0));
  ASSERT_EQ(0u, zksTokenModifyUserPin(other, reinterpret_cast<const uint8_t *>(kPin), 6,
                                      reinterpret_cast<const uint8_t *>("615243"), 6, &tries));
  ASSERT_EQ(0u, zksTokenResetUserPinVerifyFlag(other));
  dialogs.pins.push_back("615243");
  clearTrace();
  signSsl3("after a PIN change");
  EXPECT_EQ("pin", dialogs.trail());
  EXPECT_EQ(2u, countIns(0x20));
}

TEST_F(KeptSession, ARefusedSignatureIsMadeAgainOnANewSession) {
  signSsl3("first");
  gModes.clear();
  gEncryptScript = {0x80006982u, kReal};  // the kept session no longer satisfies the card
  clearTrace();
  signSsl3("after the refusal");
  EXPECT_EQ((std::vector<uint32_t>{0, 0}), gModes);
  EXPECT_GT(countIns(0xA4), 0u);
  EXPECT_EQ(1u, countIns(0x20));
  // A signature that failed on the new session leaves nothing ready: the next opens one again.
  gEncryptScript = {0x80006A80u, 0x80006A80u};
  uint32_t rc = 0;
  uintptr_t h = hashOf(prov, kCalgSsl3Shamd5, {});
  ASSERT_EQ(0u, provider->setHashParam(prov, h, kHpHashVal, value.data(), 0));
  sign(prov, h, kAtSignature, 0, &rc);
  EXPECT_EQ(0x80006A80u, rc);
  clearTrace();
  signSsl3("after a failed signature");
  EXPECT_GT(countIns(0xA4), 0u);
}

TEST_F(KeptSession, AForgottenPinIsAskedForAgain) {
  signSsl3("first");
  // The caller clears the PIN: the card is still logged in, but the user is asked.
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignaturePin, nullptr, 0));
  dialogs.pins.push_back(kPin);
  signSsl3("after the PIN was forgotten");
  EXPECT_EQ("pin", dialogs.trail());
}

// ---- Plain and display tokens --------------------------------------------------------------------

TEST_F(Signing, PlainTokensSignInOneCall) {
  gModel = 20;
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  // The emulator always waits for its button when asked to; a plain token answers at once.
  token().config().button = tokensim::ButtonMode::Never;
  gEncryptScript = {kReal};
  uint32_t rc;
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(uint32_t(UKLR_SIGN_PENDING), rc);  // whatever the one call answers is the outcome
  EXPECT_EQ((std::vector<uint32_t>{1}), gModes);
  EXPECT_EQ(0, gFinals);
  EXPECT_EQ("", dialogs.trail());
  zksTokenRsaPriEncryptCancel(direct(kSerial));

  // Mode 0 once the policy says so: then it signs.
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignConfirmPolicy, nullptr, kPolicyFirstOnly));
  gModes.clear();
  gEncryptScript = {0x80006985u};  // the first (confirmed) one fails on the token
  sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 0, &rc);
  EXPECT_EQ(0x80006985u, rc);
  Bytes sig = sign(prov, hashOf(prov, kCalgMd5, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kMd5Oid, digest(EVP_md5(), msg))), uktest::hex(pub->recover(reversed(sig))));
  EXPECT_EQ((std::vector<uint32_t>{1, 0}), gModes);
}

// A transaction message as a display token shows it (two elements), as the hash captures it.
Bytes transactionMessage() {
  Bytes m = uktest::unhex("6F0B9F0303313030DF0403313233");
  m[1] = uint8_t(m.size() - 2);
  return m;
}

TEST_F(Signing, DisplayTokensGuideTheUserAndLetThemTryAgain) {
  gModel = 99;
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  const Bytes message = transactionMessage();
  // The user cancels on the token, chooses to continue, then the token takes the PIN on its
  // keypad (result 21) and delivers the signature. The PIN dialog comes first: a display token
  // takes no PIN from the caller.
  gEncryptScript = {kScardWCancelledByUser, kReal};
  dialogs.cancelAnswers = {1};
  token().config().buttonDelayMs = 0;
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, message), kAtSignature);
  EXPECT_EQ(uktest::hex(message), uktest::hex(pub->recover(reversed(sig))));
  ASSERT_EQ("pin open close cancel? open close open close", dialogs.trail());
  EXPECT_EQ(Modeless::ConfirmOnDevice, dialogs.shown[1].window);
  EXPECT_EQ(Modeless::ConfirmOnDevice, dialogs.shown[4].window);
  EXPECT_EQ(Modeless::PinOnDevice, dialogs.shown[6].window);
  EXPECT_EQ((std::vector<uint32_t>{1, 1}), gModes);
  EXPECT_EQ(1, gFinals);
  EXPECT_EQ(1, gReconnects);
  EXPECT_EQ(1, gLogOuts);
  EXPECT_EQ(0, confirmations());

  // Declining to continue ends it, without a log-out.
  gEncryptScript = {kScardWCancelledByUser};
  dialogs.cancelAnswers = {2};
  uint32_t rc;
  sign(prov, hashOf(prov, kCalgSha1, message), kAtSignature, 0, &rc);
  EXPECT_EQ(kScardWCancelledByUser, rc);
  EXPECT_EQ(1, gLogOuts);

  // A digest is signed unconfirmed (mode 0) on a display token: no window at all, one call.
  gEncryptScript = {kReal};
  size_t shown = dialogs.shown.size();
  gModes.clear();
  sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature);
  EXPECT_EQ(uktest::hex(cat(kSha1Oid, digest(EVP_sha1(), msg))), uktest::hex(pub->recover(reversed(sig))));
  EXPECT_EQ((std::vector<uint32_t>{0}), gModes);
  EXPECT_EQ(shown, dialogs.shown.size());
  EXPECT_EQ(2, gLogOuts);
}

TEST_F(Signing, DisplayTokensSignCapturedMessages) {
  gModel = 99;
  uintptr_t prov = context("c1", 2);
  auto pub = publicKey("c1", 2);
  const Bytes exact = transactionMessage();
  for (uint32_t alg : {kCalgMd5, kCalgSha1}) {
    gModes.clear();
    uintptr_t h = hashOf(prov, alg, exact);
    ASSERT_EQ(kMessageMagic, reinterpret_cast<HashObject *>(h)->magic);
    Bytes sig = sign(prov, h, kAtSignature);
    EXPECT_EQ(uktest::hex(exact), uktest::hex(pub->recover(reversed(sig))));
    EXPECT_EQ((std::vector<uint32_t>{alg == kCalgMd5 ? 2u : 1u}), gModes);
  }
}

// ---- Verification --------------------------------------------------------------------------------

TEST_F(Signing, VerificationWithTheTokensKey) {
  uintptr_t prov = context("c1", 2);
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtSignature, &key));
  for (uint32_t alg : {kCalgSha1, kCalgMd5}) {
    Bytes sig = sign(prov, hashOf(prov, alg, msg), kAtSignature);
    EXPECT_EQ(0u, provider->verifySignature(prov, hashOf(prov, alg, msg), sig.data(), 128, key, 0)) << alg;
    Bytes other = sig;
    other[5] ^= 1;
    EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, alg, msg), other.data(), 128, key, 0));
    EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, alg, bytesOf("other")), sig.data(), 128, key, 0));
    // A signature one byte short is refused before any token work.
    clearTrace();
    EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, alg, msg), sig.data(), 127, key, 0));
    EXPECT_TRUE(frames().empty());
  }
}

TEST_F(Signing, VerificationNeedsNoPinAndChecksItsArguments) {
  uintptr_t prov = context("c1", 2);
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->getUserKey(prov, kAtSignature, &key));
  Bytes sig = sign(prov, hashOf(prov, kCalgSha1, msg), kAtSignature, 1);
  ASSERT_EQ(0u, provider->setProvParam(prov, kPpSignaturePin, nullptr, 0));
  size_t shown = dialogs.shown.size();
  EXPECT_EQ(0u, provider->verifySignature(prov, hashOf(prov, kCalgSha1, msg), sig.data(), 128, key, 1));
  EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, kCalgSha1, msg), sig.data(), 128, key, 0));
  EXPECT_EQ(shown, dialogs.shown.size());

  uintptr_t h = hashOf(prov, kCalgSha1, msg), des = 0;
  ASSERT_EQ(0u, provider->genKey(prov, kCalgDes, 0, &des));
  EXPECT_EQ(kErrInvalidParameter, provider->verifySignature(prov, h, nullptr, 128, key, 0));
  EXPECT_EQ(kErrInvalidParameter, provider->verifySignature(prov, h, sig.data(), 128, 0, 0));
  EXPECT_EQ(kNteBadKey, provider->verifySignature(prov, h, sig.data(), 128, des, 0));
  EXPECT_EQ(kNteBadFlags, provider->verifySignature(prov, h, sig.data(), 128, key, 2));
  EXPECT_EQ(kNteBadHash, provider->verifySignature(prov, key, sig.data(), 128, key, 0));
}

TEST_F(Signing, VerificationWithAnImportedPublicKey) {
  uintptr_t prov = acquire(nullptr, kCryptVerifyContext);
  OsslRsa rsa(1024);
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  rsa.toRecords(&pub, &pri);
  Bytes blob = {6, 2, 0, 0, 0x00, 0x24, 0, 0, 'R', 'S', 'A', '1', 0, 4, 0, 0, 1, 0, 1, 0};
  blob.insert(blob.end(), std::make_reverse_iterator(pub.modulus + 128), std::make_reverse_iterator(pub.modulus));
  uintptr_t key = 0;
  ASSERT_EQ(0u, provider->importKey(prov, blob.data(), uint32_t(blob.size()), 0, 0, &key));

  // OpenSSL signs (PKCS #1 v1.5 over the DigestInfo); the provider checks in software.
  auto signed_ = [&](const Bytes &data) {
    Bytes block(128, 0xFF);
    block[0] = 0;
    block[1] = 1;
    block[128 - data.size() - 1] = 0;
    std::copy(data.begin(), data.end(), block.end() - long(data.size()));
    return reversed(rsa.rawPrivate(block));
  };
  Bytes sha = signed_(cat(kSha1Oid, digest(EVP_sha1(), msg)));
  EXPECT_EQ(0u, provider->verifySignature(prov, hashOf(prov, kCalgSha1, msg), sha.data(), 128, key, 0));
  Bytes md5 = signed_(cat(kMd5Oid, digest(EVP_md5(), msg)));
  EXPECT_EQ(0u, provider->verifySignature(prov, hashOf(prov, kCalgMd5, msg), md5.data(), 128, key, 0));
  EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, kCalgMd5, msg), sha.data(), 128, key, 0));
  Bytes value = cat(digest(EVP_md5(), msg), digest(EVP_sha1(), msg));
  uintptr_t ssl = hashOf(prov, kCalgSsl3Shamd5, {});
  provider->setHashParam(prov, ssl, kHpHashVal, value.data(), 0);
  Bytes tls = signed_(value);
  EXPECT_EQ(0u, provider->verifySignature(prov, ssl, tls.data(), 128, key, 0));
  EXPECT_EQ(kNteBadSignature, provider->verifySignature(prov, hashOf(prov, kCalgSha1, msg), sha.data(), 127, key, 0));
}

}  // namespace
}  // namespace csptest
