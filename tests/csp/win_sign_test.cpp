// The browser's road under Wine, with the virtual token: a certificate made for a token key pair
// sits in the user's "My" store with key-provider information naming our provider; a program
// that knows only CryptoAPI takes the private key from it, hashes and signs. The provider's PIN
// dialog and button confirmation appear and are answered by this test as a user would (typing,
// clicking), the emulator presses the token's button; the signatures verify with Wine's own
// provider and, written out, with OpenSSL (csp_sign_openssl).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "../client/win/e2e_support.h"
#include "resource.h"
#include "uk_tokensim_client.h"
#include "win_dialog_driver.h"
#include "win_registration.h"

namespace {

using namespace cspui;
using Bytes = std::vector<uint8_t>;

const char kPin[] = "937260";
const wchar_t kProvider[] = L"ZV UKey for ORV Cryptographic Service Provider";
constexpr DWORD kCancelled = 0x8010006Eu;  // SCARD_W_CANCELLED_BY_USER
const wchar_t kPressEn[] = L"Please press the button in the tail of the device to confirm the transaction";

class Registration : public testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(csptest::registerProvider()); }
};
testing::Environment *const gRegistration = testing::AddGlobalTestEnvironment(new Registration);

void setLanguage(DWORD id) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, L"Language", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&id), sizeof id);
  RegCloseKey(key);
}

bool writeFile(const std::string &path, const Bytes &b) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
  return fclose(f) == 0 && ok;
}

// One CryptSignHash on a thread of its own, while the test plays the user.
class Signing {
 public:
  Signing(HCRYPTHASH hash, DWORD keySpec) {
    thread_ = std::thread([this, hash, keySpec] {
      BYTE sig[256];
      DWORD len = sizeof sig;
      ok_ = CryptSignHashW(hash, keySpec, nullptr, 0, sig, &len) != FALSE;
      error_ = ok_ ? 0 : GetLastError();
      if (ok_) signature_.assign(sig, sig + len);
      done_ = true;
    });
  }
  ~Signing() {
    if (thread_.joinable()) thread_.join();
  }
  bool done() const { return done_; }
  // Waits for the end; true when it signed.
  bool finish() {
    thread_.join();
    return ok_;
  }
  DWORD error() const { return error_; }
  const Bytes &signature() const { return signature_; }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
  bool ok_ = false;
  DWORD error_ = 0;
  Bytes signature_;
};

class BrowserRoad : public testing::Test {
 protected:
  void SetUp() override {
    setLanguage(1033);
    ASSERT_TRUE(client.fromSetting()) << "the emulator is not configured";
    serial = tokensim::uniqueSerial("CSPB", true);
    ASSERT_TRUE(client.createToken(serial, {{"userpin", kPin}, {"button", "never"}, {"retries", "3"}}))
        << client.lastError();
    container = "browser-" + serial;
    subject = e2e::Widen("Browser Signature " + serial);
    std::string why;
    ASSERT_TRUE(e2e::PrepareToken(serial, kPin, container, e2e::Widen("Browser Exchange " + serial), subject, &why))
        << why;
    ASSERT_TRUE(putInMyStore());
  }
  void TearDown() override {
    if (cert) CertFreeCertificateContext(cert);
    if (store) {
      PCCERT_CONTEXT c = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                    subject.c_str(), nullptr);
      if (c) CertDeleteCertificateFromStore(c);
      CertCloseStore(store, 0);
    }
    client.deleteToken(serial);
    setLanguage(1033);
  }
  // The signature certificate from the token into the user's store, bound to our provider, the
  // container and the signature pair, as the client manager registers it.
  bool putInMyStore() {
    UK_DEV_INFO dev{};
    snprintf(dev.devicePath, sizeof dev.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
    UK_CONTAINER_INFO c{};
    Bytes der(4096);
    uint32_t len = uint32_t(der.size());
    bool read = zksTokenConnect(&dev, 1) == 0 && zksTokenSelectPkiWorkDF(&dev, 0) == 0 &&
                zksTokenGetContainerByName(&dev, &c, container.c_str()) == 0 &&
                zksTokenReadCert(&dev, &c, der.data(), &len, AT_SIGNATURE) == 0;
    if (dev.connection) zksTokenDisconnect(&dev);
    if (!read) return false;
    der.resize(len);
    store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    if (!store || !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                                    CERT_STORE_ADD_REPLACE_EXISTING, &cert))
      return false;
    std::wstring wcontainer = e2e::Widen(container);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = &wcontainer[0];
    info.pwszProvName = const_cast<wchar_t *>(kProvider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_SIGNATURE;
    return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != FALSE;
  }
  // The browser's way to the key: through the certificate.
  HCRYPTPROV privateKey(DWORD *keySpec) {
    HCRYPTPROV prov = 0;
    BOOL mustFree = FALSE;
    EXPECT_TRUE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, keySpec, &mustFree)) << std::hex << GetLastError();
    EXPECT_TRUE(mustFree);
    return prov;
  }
  HCRYPTHASH hashOf(HCRYPTPROV prov, ALG_ID alg) {
    HCRYPTHASH h = 0;
    EXPECT_TRUE(CryptCreateHash(prov, alg, 0, 0, &h));
    EXPECT_TRUE(CryptHashData(h, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0));
    return h;
  }
  // Wine's own provider checks a signature with the certificate's public key.
  bool winesVerdict(ALG_ID alg, const Bytes &sig) {
    HCRYPTPROV base = 0;
    if (!CryptAcquireContextW(&base, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    HCRYPTKEY pub = 0;
    HCRYPTHASH h = 0;
    bool ok = CryptImportPublicKeyInfo(base, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &pub) &&
              CryptCreateHash(base, alg, 0, 0, &h) &&
              CryptHashData(h, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0) &&
              CryptVerifySignatureW(h, sig.data(), DWORD(sig.size()), pub, nullptr, 0);
    if (h) CryptDestroyHash(h);
    if (pub) CryptDestroyKey(pub);
    CryptReleaseContext(base, 0);
    return ok;
  }
  std::string info(const std::string &key) {
    tokensim::Client::Options o;
    if (!client.info(serial, &o)) return "?";
    for (auto &kv : o)
      if (kv.first == key) return kv.second;
    return "?";
  }
  // The PIN dialog: types the PIN and presses OK.
  static bool answerPin(const wchar_t *pin, const wchar_t *title = L"Verify PIN") {
    HWND d = WaitDialog(title);
    if (!d) return false;
    Type(GetDlgItem(d, IDC_PIN), pin);
    Click(d, IDOK);
    return WaitFor([&] { return !IsWindow(d); });
  }
  static HWND confirmation(const std::wstring &press = kPressEn, DWORD ms = 20000) {
    HWND d = nullptr;
    WaitFor([&] { return (d = FindDialogWithText(IDC_PRESS_TEXT, press)) != nullptr; }, ms);
    return d;
  }

  tokensim::Client client;
  std::string serial, container;
  std::wstring subject;
  HCERTSTORE store = nullptr;
  PCCERT_CONTEXT cert = nullptr;
  const std::string message = "payment order 77: 250.00 to account 6222 0100 2000";
};

TEST_F(BrowserRoad, SignaturesWithTheButtonVerifyElsewhere) {
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  ASSERT_NE(0u, prov);
  EXPECT_EQ(DWORD(AT_SIGNATURE), keySpec);
  const char *out = getenv("UK_CSP_SIGN_OUT");
  std::string dir = out ? out : ".";
  CreateDirectoryA(dir.c_str(), nullptr);
  ASSERT_TRUE(writeFile(dir + "/message.txt", Bytes(message.begin(), message.end())));
  ASSERT_TRUE(writeFile(dir + "/certificate.der", Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded)));

  bool first = true;
  for (ALG_ID alg : {ALG_ID(CALG_SHA1), ALG_ID(CALG_MD5)}) {
    SCOPED_TRACE(alg == CALG_SHA1 ? "SHA-1" : "MD5");
    HCRYPTHASH h = hashOf(prov, alg);
    DWORD len = 0;
    ASSERT_TRUE(CryptSignHashW(h, keySpec, nullptr, 0, nullptr, &len));  // a size query asks nobody
    EXPECT_EQ(128u, len);
    EXPECT_EQ(nullptr, FindDialog(nullptr));
    Signing s(h, keySpec);
    if (first) {
      ASSERT_TRUE(answerPin(L"937260"));  // once: then the PIN is cached
    }
    first = false;
    HWND d = confirmation();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(L"Transaction is confirmed by button pressing, which can reduce the risk of information hacking",
              ItemText(d, IDC_TEXT));
    EXPECT_EQ(L"Exit", ItemText(d, IDCANCEL));
    EXPECT_EQ("1", info("waiting"));  // the token waits for its button
    EXPECT_FALSE(s.done());
    ASSERT_TRUE(client.pressButton(serial));
    ASSERT_TRUE(s.finish()) << std::hex << s.error();
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(d); }));
    Bytes sig = s.signature();
    ASSERT_EQ(128u, sig.size());
    EXPECT_TRUE(winesVerdict(alg, sig));
    // Our provider checks it too, with the token's key; a signature a byte short is refused.
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
    HCRYPTHASH again = hashOf(prov, alg);
    EXPECT_TRUE(CryptVerifySignatureW(again, sig.data(), 128, key, nullptr, 0)) << std::hex << GetLastError();
    CryptDestroyHash(again);
    again = hashOf(prov, alg);
    EXPECT_FALSE(CryptVerifySignatureW(again, sig.data(), 127, key, nullptr, 0));
    EXPECT_EQ(DWORD(NTE_BAD_SIGNATURE), GetLastError());
    CryptDestroyHash(again);
    CryptDestroyKey(key);
    CryptDestroyHash(h);
    // For OpenSSL: most significant byte first.
    Bytes be(sig.rbegin(), sig.rend());
    ASSERT_TRUE(writeFile(dir + (alg == CALG_SHA1 ? "/sha1.sig" : "/md5.sig"), be));
  }
  CryptReleaseContext(prov, 0);
}

TEST_F(BrowserRoad, CancelInTheConfirmationLeavesNothingPending) {
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  ASSERT_TRUE(CryptSetProvParam(prov, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(kPin), 0));
  HCRYPTHASH h = hashOf(prov, CALG_SHA1);
  {
    Signing s(h, keySpec);
    HWND d = confirmation();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ("1", info("waiting"));
    Click(d, IDCANCEL);
    EXPECT_FALSE(s.finish());
    EXPECT_EQ(kCancelled, s.error());
    EXPECT_FALSE(IsWindow(d));
  }
  EXPECT_EQ("0", info("waiting"));
  bool cancelSent = false;
  for (const std::string &line : client.trace(serial))
    cancelSent = cancelSent || line.rfind("= 00540000", 0) == 0 || line.rfind("> 00540000", 0) == 0;
  EXPECT_TRUE(cancelSent);
  CryptDestroyHash(h);

  // The token is free for the next signature.
  ASSERT_TRUE(client.buttonAuto(serial, 0));
  h = hashOf(prov, CALG_SHA1);
  Signing s(h, keySpec);
  ASSERT_TRUE(s.finish()) << std::hex << s.error();
  EXPECT_TRUE(winesVerdict(CALG_SHA1, s.signature()));
  CryptDestroyHash(h);
  CryptReleaseContext(prov, 0);
}

// Wine's advapi32 keeps every CryptSetProvParam whose flags have bit 0 set for itself (it takes
// them for PP_CLIENT_HWND), so the policy values 0x80000001 and 0x80000003 never reach a provider
// there. This test therefore reaches the provider through its own entry points, with the calls
// advapi32 makes for CryptAcquireContext, CryptSetProvParam and CryptSignHash on Windows.
TEST_F(BrowserRoad, WithTheFirstOnlyPolicyTheSecondSignatureAsksNothing) {
  HMODULE m = LoadLibraryA(csptest::providerDll().c_str());
  ASSERT_NE(nullptr, m);
  auto entry = [&](const char *name) { return reinterpret_cast<void *>(GetProcAddress(m, name)); };
  auto acquire = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV *, LPSTR, DWORD, void *)>(entry("CPAcquireContext"));
  auto release = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, DWORD)>(entry("CPReleaseContext"));
  auto setParam = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, DWORD, const BYTE *, DWORD)>(entry("CPSetProvParam"));
  auto createHash = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH *)>(
      entry("CPCreateHash"));
  auto hashData = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, HCRYPTHASH, const BYTE *, DWORD, DWORD)>(
      entry("CPHashData"));
  auto signHash = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, HCRYPTHASH, DWORD, LPCWSTR, DWORD, BYTE *, DWORD *)>(
      entry("CPSignHash"));
  auto destroyHash = reinterpret_cast<BOOL(WINAPI *)(HCRYPTPROV, HCRYPTHASH)>(entry("CPDestroyHash"));
  ASSERT_TRUE(acquire && release && setParam && createHash && hashData && signHash && destroyHash);

  HCRYPTPROV prov = 0;
  ASSERT_TRUE(acquire(&prov, &container[0], 0, nullptr)) << std::hex << GetLastError();
  ASSERT_TRUE(setParam(prov, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(kPin), 0));
  ASSERT_TRUE(setParam(prov, 0x4253, nullptr, 0x80000001)) << std::hex << GetLastError();
  // One SHA-1 signature of the message; 0 or the provider's error.
  auto signOnce = [&](Bytes *sig) -> DWORD {
    HCRYPTHASH h = 0;
    BYTE out[128];
    DWORD len = sizeof out;
    BOOL ok = createHash(prov, CALG_SHA1, 0, 0, &h) &&
              hashData(prov, h, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0) &&
              signHash(prov, h, AT_SIGNATURE, nullptr, 0, out, &len);
    DWORD error = ok ? 0 : GetLastError();
    if (h) destroyHash(prov, h);
    if (ok) sig->assign(out, out + len);
    return error;
  };

  // The first signature after the policy asks for the button.
  Bytes first, second;
  DWORD error = 1;
  std::thread t1([&] { error = signOnce(&first); });
  HWND shown = confirmation();
  ASSERT_TRUE(client.pressButton(serial));  // also when the window failed: the signature ends
  t1.join();
  EXPECT_NE(nullptr, shown);
  ASSERT_EQ(0u, error) << std::hex << error;

  // The second one signs at once, without a window.
  std::atomic<bool> done{false};
  error = 1;
  std::thread t2([&] {
    error = signOnce(&second);
    done = true;
  });
  bool dialog = false;
  while (!done) {
    dialog = dialog || FindDialog(nullptr) != nullptr;
    Sleep(5);
  }
  t2.join();
  ASSERT_EQ(0u, error) << std::hex << error;
  EXPECT_FALSE(dialog);
  EXPECT_TRUE(winesVerdict(CALG_SHA1, first));
  EXPECT_TRUE(winesVerdict(CALG_SHA1, second));
  release(prov, 0);
  FreeLibrary(m);
}

// A signature after one of the same context goes straight to the key selection and the
// signature; when another program used the token in between, the provider notices the card's
// refusal and signs on a new session without asking the user anything but the button.
TEST_F(BrowserRoad, AfterAnotherProgramTheNextSignatureStillSigns) {
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  ASSERT_TRUE(CryptSetProvParam(prov, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(kPin), 0));
  // Signs the message with the button pressed; the commands the token saw.
  auto signWithButton = [&](ALG_ID alg, std::vector<std::string> *commands) {
    client.clearTrace(serial);
    HCRYPTHASH h = hashOf(prov, alg);
    Signing s(h, keySpec);
    HWND d = confirmation();
    EXPECT_NE(nullptr, d);
    EXPECT_EQ(nullptr, FindDialog(L"Verify PIN"));
    EXPECT_TRUE(client.pressButton(serial));
    bool signedIt = s.finish();
    EXPECT_TRUE(signedIt) << std::hex << s.error();
    CryptDestroyHash(h);
    commands->clear();
    for (const std::string &line : client.trace(serial))
      if (line.rfind("> ", 0) == 0) commands->push_back(line.substr(2, 4));
    return signedIt && winesVerdict(alg, s.signature());
  };
  auto count = [](const std::vector<std::string> &c, const char *ins) {
    size_t n = 0;
    for (const auto &x : c) n += x == ins;
    return n;
  };
  std::vector<std::string> commands;
  ASSERT_TRUE(signWithButton(CALG_SHA1, &commands));
  EXPECT_EQ(1u, count(commands, "0020"));  // a new session: the cached PIN presented
  ASSERT_TRUE(signWithButton(CALG_MD5, &commands));
  EXPECT_EQ(0u, count(commands, "00A4"));
  EXPECT_EQ(0u, count(commands, "0020"));
  EXPECT_EQ(1u, count(commands, "0022"));

  // Another program logs the token out and leaves it in the master file, under the device mutex.
  {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV");
    ASSERT_NE(nullptr, mutex);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 30000));
    UK_DEV_INFO other{};
    snprintf(other.devicePath, sizeof other.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
    EXPECT_EQ(0u, zksTokenConnect(&other, 1));
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(&other, 0));
    EXPECT_EQ(0u, zksTokenResetUserPinVerifyFlag(&other));
    EXPECT_EQ(0u, zksTokenSelectMF(&other));
    zksTokenDisconnect(&other);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  ASSERT_TRUE(signWithButton(CALG_SHA1, &commands));
  EXPECT_GE(count(commands, "00A4"), 2u);  // master file and application folder again
  EXPECT_EQ(1u, count(commands, "0020"));  // the cached PIN, once
  CryptReleaseContext(prov, 0);
}

TEST_F(BrowserRoad, WrongPinRetryAndTheRightOneCached) {
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  HCRYPTHASH h = hashOf(prov, CALG_SHA1);
  {
    Signing s(h, keySpec);
    ASSERT_TRUE(answerPin(L"000000"));
    HWND m = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      return (m = FindDialogWithText(IDC_TEXT, L"PIN verification fail. You have  2 more chance(s)!"));
    }));  // one try spent of three
    EXPECT_EQ(L"Retry", ItemText(m, IDOK));
    EXPECT_EQ(L"Abort", ItemText(m, IDCANCEL));
    Click(m, IDOK);
    ASSERT_TRUE(answerPin(L"937260"));
    ASSERT_NE(nullptr, confirmation());
    ASSERT_TRUE(client.pressButton(serial));
    ASSERT_TRUE(s.finish()) << std::hex << s.error();
    EXPECT_TRUE(winesVerdict(CALG_SHA1, s.signature()));
  }
  CryptDestroyHash(h);
  // Cached: only the button next time.
  h = hashOf(prov, CALG_MD5);
  Signing s(h, keySpec);
  ASSERT_NE(nullptr, confirmation());
  EXPECT_EQ(nullptr, FindDialog(L"Verify PIN"));
  ASSERT_TRUE(client.pressButton(serial));
  ASSERT_TRUE(s.finish());
  CryptDestroyHash(h);
  CryptReleaseContext(prov, 0);
}

TEST_F(BrowserRoad, AbortAndBlockedPin) {
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  HCRYPTHASH h = hashOf(prov, CALG_SHA1);
  {
    Signing s(h, keySpec);
    ASSERT_TRUE(answerPin(L"111111"));
    HWND m = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      return (m = FindDialogWithText(IDC_TEXT, L"PIN verification fail. You have  2 more chance(s)!"));
    }));
    Click(m, IDCANCEL);  // Abort: the token's answer is the result
    EXPECT_FALSE(s.finish());
    EXPECT_EQ(0x800063C2u, s.error());
    EXPECT_EQ("0", info("waiting"));
  }
  {
    // Two more wrong PINs use up the tries; the next answer is "blocked".
    Signing s(h, keySpec);
    for (const wchar_t *left : {L"PIN verification fail. You have  1 more chance(s)!",
                                L"PIN verification fail. You have  0 more chance(s)!"}) {
      ASSERT_TRUE(answerPin(L"222222"));
      HWND m = nullptr;
      ASSERT_TRUE(WaitFor([&] { return (m = FindDialogWithText(IDC_TEXT, left)); })) << Utf8(left);
      Click(m, IDOK);
    }
    ASSERT_TRUE(answerPin(L"937260"));
    HWND locked = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (locked = FindDialogWithText(IDC_TEXT, L"Your device has been locked!")); }));
    EXPECT_EQ(L"Ok", ItemText(locked, IDOK));
    Click(locked, IDOK);
    EXPECT_FALSE(s.finish());
    EXPECT_EQ(0x80006983u, s.error());
  }
  CryptDestroyHash(h);
  CryptReleaseContext(prov, 0);
}

TEST_F(BrowserRoad, TheDialogsFollowTheLanguageValue) {
  setLanguage(1028);
  DWORD keySpec = 0;
  HCRYPTPROV prov = privateKey(&keySpec);
  HCRYPTHASH h = hashOf(prov, CALG_SHA1);
  {
    Signing s(h, keySpec);
    HWND d = WaitDialog(L"密碼驗證");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(L"請輸入您的USBKey密碼:", ItemText(d, IDC_TEXT));
    EXPECT_EQ(L"確定", ItemText(d, IDOK));
    // The language is read again at every dialog: the confirmation comes in English.
    setLanguage(3076);
    Type(GetDlgItem(d, IDC_PIN), L"937260");
    Click(d, IDOK);
    HWND c = confirmation();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(L"Exit", ItemText(c, IDCANCEL));
    Click(c, IDCANCEL);
    EXPECT_FALSE(s.finish());
    EXPECT_EQ(kCancelled, s.error());
  }
  CryptDestroyHash(h);
  CryptReleaseContext(prov, 0);
}

}  // namespace
