// The guide as a bank customer meets it, under Wine with a display, the virtual token, a local
// web server of the bank and a stand-in for the bank's setup: the program is started as its own process and driven
// through its windows. Each test is one situation of the customer's computer; the driver
// (guide_e2e.sh) prepares the prefix for it and runs the tests one at a time:
//   RefusedWhenNotFound, RefusedWhenTampered   the client missing, the bank's server answers 404
//                                              or serves a setup altered after signing; the
//                                              first also checks the browser settings repaired
//   RepairStartsTheBanksSetupAndChecksAgain    the client missing, the bank's signed setup (a
//                                              stand-in) downloaded, checked, started, awaited,
//                                              the client checked again; the re-check reuses it
//   KeyServiceIsStarted                        the client installed, the key service stopped
//   FactoryPinTokenFullRun                     steps 1 to 4 with a factory-PIN token without a
//                                              certificate
//   CertificateAlreadyOnTheToken               the certificate shown without the browser; a second
//                                              instance; the detail window; Cancel
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "guide_driver.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

using namespace guidetest;

namespace {

constexpr const wchar_t *kZonesKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\";
constexpr const wchar_t *kKelm = L"C:\\Program Files\\ORVToken\\kelm\\";
constexpr const wchar_t *kDownloaded = L"C:\\ProgramData\\ORVToken\\ORV_ZV_Setup.exe";
constexpr const wchar_t *kCertEvent = L"Global\\EVENT_CERT_CHANGE_KELM_ORV";
constexpr DWORD kLong = 180000;  // downloads, the setup, the steps with their pauses

std::wstring Env(const wchar_t *name, const wchar_t *fallback = L"") {
  wchar_t buf[1024] = {0};
  return GetEnvironmentVariableW(name, buf, 1024) ? std::wstring(buf) : std::wstring(fallback);
}

bool Exists(const std::wstring &p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFile(const std::wstring &p) {
  std::ifstream f(p.c_str(), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

size_t BrowserStarts() {
  std::string log = ReadFile(Env(L"UK_BROWSER_LOG", L"C:\\uktest\\browser.log"));
  size_t n = 0;
  for (char c : log) n += c == '\n';
  return n;
}

// One text in UTF-8 (for comparisons and failure messages).
std::string Narrow(const std::wstring &w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &out[0], n, nullptr, nullptr);
  return out;
}

// All values of a registry key: name -> type and data.
std::map<std::wstring, std::pair<DWORD, std::string>> ReadKey(HKEY root, const std::wstring &path) {
  std::map<std::wstring, std::pair<DWORD, std::string>> out;
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    BYTE data[2048];
    DWORD nameLen = 256, dataLen = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
    out[name] = {type, std::string(reinterpret_cast<char *>(data), dataLen)};
  }
  RegCloseKey(key);
  return out;
}

std::pair<DWORD, std::string> Dword(DWORD v) {
  return {REG_DWORD, std::string(reinterpret_cast<const char *>(&v), sizeof v)};
}

void SetLanguage(DWORD lang) {
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                  &lang, sizeof lang);
}

UK_DEV_INFO DeviceOf(const std::string &serial) {
  UK_DEV_INFO dev{};
  snprintf(dev.devicePath, sizeof dev.devicePath,
           "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
  return dev;
}

// The user PIN verified on the token (0), and its PIN-changed flag.
// The device-exclusive mutex, held around the test's own command sequences as every program
// holds it: the guide reads the token on its own while the test checks the PIN.
class DeviceLock {
 public:
  DeviceLock() : mutex_(CreateMutexA(nullptr, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX)) {
    if (mutex_) {
      DWORD r = WaitForSingleObject(mutex_, 30000);
      held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
  }
  ~DeviceLock() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  DeviceLock(const DeviceLock &) = delete;
  DeviceLock &operator=(const DeviceLock &) = delete;

 private:
  HANDLE mutex_;
  bool held_ = false;
};

uint32_t VerifyPin(const std::string &serial, const char *pin, uint32_t *changed = nullptr) {
  DeviceLock lock;
  UK_DEV_INFO dev = DeviceOf(serial);
  uint32_t rc = zksTokenConnect(&dev, 1);
  if (rc) return rc;
  rc = zksTokenSelectPkiWorkDF(&dev, 0);
  uint8_t tries = 0;
  if (!rc) rc = zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>(pin), uint32_t(strlen(pin)), &tries);
  if (!rc && changed) rc = zksTokenGetDeviceInfo(&dev, changed, nullptr, nullptr, 0);
  zksTokenResetUserPinVerifyFlag(&dev);
  zksTokenDisconnect(&dev);
  return rc;
}

uint32_t ChangePin(const std::string &serial, const char *from, const char *to) {
  DeviceLock lock;
  UK_DEV_INFO dev = DeviceOf(serial);
  uint32_t rc = zksTokenConnect(&dev, 1);
  if (rc) return rc;
  rc = zksTokenSelectPkiWorkDF(&dev, 0);
  uint8_t tries = 0;
  if (!rc)
    rc = zksTokenModifyUserPin(&dev, reinterpret_cast<const uint8_t *>(from), uint32_t(strlen(from)),
                               reinterpret_cast<const uint8_t *>(to), uint32_t(strlen(to)), &tries);
  zksTokenDisconnect(&dev);
  return rc;
}

// "%d/%02d/%02d" of a UTC day in local time, as the guide shows dates.
std::wstring LocalDay(WORD year, WORD month, WORD day) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  FILETIME utc, local;
  SystemTimeToFileTime(&st, &utc);
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &st);
  wchar_t buf[32];
  wsprintfW(buf, L"%d/%02d/%02d", st.wYear, st.wMonth, st.wDay);
  return buf;
}

void SignalCertificateChange(bool set) {
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, kCertEvent);
  if (!e) e = CreateEventW(nullptr, TRUE, FALSE, kCertEvent);
  ASSERT_TRUE(e != nullptr);
  if (set) SetEvent(e);
  else ResetEvent(e);
  CloseHandle(e);
}

// The provider as the bank's certificate-download page uses it: a new container with a
// signature key pair generated on the token, and the bank's certificate for that key written
// with KP_CERTIFICATE (the provider then signals the certificate change itself).
bool WriteCertificateThroughProvider(const std::string &container, const char *pin, const std::wstring &cn,
                                     std::string *why) {
  auto fail = [&](const char *what) {
    char buf[160];
    snprintf(buf, sizeof buf, "%s: 0x%08lx", what, GetLastError());
    *why = buf;
    return false;
  };
  HCRYPTPROV p = 0;
  if (!CryptAcquireContextW(&p, e2e::Widen(container).c_str(), e2e::kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return fail("new container");
  HCRYPTKEY key = 0;
  bool ok = false;
  std::vector<BYTE> blob;
  DWORD len = 0;
  if (!CryptSetProvParam(p, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(pin), 0)) fail("PIN");
  else if (!CryptGenKey(p, AT_SIGNATURE, 0, &key)) fail("key pair");
  else if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &len) || (blob.resize(len), false) ||
           !CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &len))
    fail("public key");
  else {
    // PUBLICKEYBLOB: header, RSAPUBKEY (magic, bit length, exponent), modulus little-endian.
    const RSAPUBKEY *rsa = reinterpret_cast<const RSAPUBKEY *>(blob.data() + sizeof(BLOBHEADER));
    UK_RSA_PUBLIC_KEY pub{};
    pub.bits = rsa->bitlen;
    const BYTE *modulus = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    const DWORD n = rsa->bitlen / 8;
    if (n != sizeof pub.modulus || len < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + n) {
      *why = "unexpected key size";
    } else {
      for (DWORD i = 0; i < n; ++i) pub.modulus[i] = modulus[n - 1 - i];
      for (int i = 0; i < 4; ++i) pub.exponent[n - 1 - i] = BYTE(rsa->pubexp >> (8 * i));
      HCRYPTPROV ca = 0;
      HCRYPTKEY caKey = 0;
      const wchar_t *caName = L"ukey-client-test-ca";
      e2e::Bytes der;
      if ((CryptAcquireContextW(&ca, caName, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0) ||
           CryptAcquireContextW(&ca, caName, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET)) &&
          (CryptGetUserKey(ca, AT_SIGNATURE, &caKey) || CryptGenKey(ca, AT_SIGNATURE, 1024u << 16, &caKey)))
        der = e2e::IssueCertificate(ca, cn, pub);
      if (caKey) CryptDestroyKey(caKey);
      if (ca) CryptReleaseContext(ca, 0);
      if (der.empty()) fail("certificate");
      else if (!CryptSetKeyParam(key, KP_CERTIFICATE, der.data(), 0)) fail("write certificate");
      else ok = true;
    }
  }
  if (key) CryptDestroyKey(key);
  CryptReleaseContext(p, 0);
  return ok;
}

bool CertificateChangeSignalled() {
  HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, kCertEvent);
  bool set = e && WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
  if (e) CloseHandle(e);
  return set;
}

// The lines the stand-in setup wrote, one per start: "<its path>|<its command line>|a".
std::vector<std::string> SetupStarts() {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(Env(L"UK_PROBE_LOG", L"C:\\uktest\\setup.log")));
  for (std::string l; std::getline(in, l);)
    if (!l.empty() && l != "\r") lines.push_back(l);
  return lines;
}

class GuideE2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.fromSetting()) << "no emulator named in the prefix";
    SetLanguage(1033);
    language_ = ui::kEnglish;
  }
  void TearDown() override {
    guide_.Close();
    for (const std::string &s : tokens_) sim_.deleteToken(s);
    SignalCertificateChange(false);
  }

  std::wstring G(int id) { return GuideString(id, language_); }

  // A token of the bank: factory-formatted; with its PIN changed to "Abc123" and a certificate
  // when asked.
  std::string Token(bool pinChanged, bool certificate) {
    std::string serial = tokensim::uniqueSerial("GE");
    EXPECT_TRUE(sim_.createToken(serial, {{"label", "ORV UKey"}}));
    tokens_.push_back(serial);
    std::string why;
    if (certificate) {
      EXPECT_TRUE(e2e::PrepareToken(serial, "482915", "guide-" + serial, L"Zhang Wei", L"Li Na", &why)) << why;
    }
    if (pinChanged) {
      EXPECT_EQ(0u, ChangePin(serial, "482915", "Abc123"));
    }
    return serial;
  }

  bool StepReached(int step, DWORD ms = kLong) {
    return WaitFor([&] { return Visible(guide_.StepButton(step)) && Visible(guide_.Page(step)); }, ms);
  }

  void ExpectEnvironmentLines() {
    std::vector<DetailLine> lines = guide_.DetailLines();
    ASSERT_GE(lines.size(), 6u) << Narrow(lines.empty() ? L"" : lines.back().text);
    EXPECT_EQ((DetailLine{0, G(22)}), lines[0]);  // Wine's user is an administrator
    EXPECT_EQ(0, lines[1].state);
    EXPECT_EQ(0u, lines[1].text.find(G(35))) << Narrow(lines[1].text);
    EXPECT_NE(std::wstring::npos, lines[1].text.find(L"(build ")) << Narrow(lines[1].text);
    EXPECT_EQ(0, lines[2].state) << Narrow(lines[2].text);  // Wine's Internet Explorer 9.11...
    EXPECT_EQ((DetailLine{0, G(25)}), lines[3]);  // the bank's home page from the local server
    EXPECT_EQ((DetailLine{0, G(29)}), lines[4]);
    EXPECT_EQ((DetailLine{0, G(31)}), lines[5]);
  }

  // Where the wizard stands, for failure messages: each page's status and the last detail line.
  std::string StateOfSteps() {
    std::vector<DetailLine> lines = guide_.DetailLines();
    return Narrow(guide_.ItemText(kSoftware, 1017)) + " [" + Narrow(lines.empty() ? L"" : lines.back().text) +
           "] / " + Narrow(guide_.ItemText(kPin, 1019)) + " / " + Narrow(guide_.ItemText(kCertificate, 1018));
  }

  // The client missing and no setup of the bank's to be had: the last line says the download
  // failed, nothing was started and nothing is left to be started later; the wizard stays on
  // step 1.
  void ExpectRefusedDownload() {
    ASSERT_TRUE(guide_.Start());
    ASSERT_TRUE(WaitFor([&] {
      std::vector<DetailLine> lines = guide_.DetailLines();
      return !lines.empty() && lines.back().state == 2 && IsWindowEnabled(guide_.Item(kSoftware, 1003));
    }, kLong)) << StateOfSteps();
    EXPECT_EQ((DetailLine{2, G(8)}), guide_.DetailLines().back());
    EXPECT_TRUE(SetupStarts().empty());
    EXPECT_FALSE(Exists(kDownloaded));
    EXPECT_FALSE(Exists(std::wstring(kKelm) + L"ORV_KELM_Client.exe"));
    EXPECT_FALSE(Visible(guide_.StepButton(kPin)));
  }

  // Cancel in the main window ends the guide with 2.
  void Cancel() {
    PostMessageW(guide_.Main(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(2u, guide_.ExitCode(10000));
  }

  void Finish() {
    HWND finish = guide_.StepButton(kExit);
    ASSERT_TRUE(Visible(finish));
    GuideProcess::Click(finish);
    EXPECT_EQ(1u, guide_.ExitCode(10000));
  }

  tokensim::Client sim_;
  GuideProcess guide_;
  std::vector<std::string> tokens_;
  int language_ = ui::kEnglish;
};

// The browser settings the guide repairs: the bank's site among the trusted sites, and in the
// two zones exactly the listed values written, nothing else touched.
class BrowserSettings {
 public:
  BrowserSettings() {
    std::wstring domain = Env(L"UK_BANK_DOMAIN");
    EXPECT_FALSE(domain.empty());
    trustKey_ = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\" +
                domain + L"\\www";
    zone2_ = ReadKey(HKEY_CURRENT_USER, std::wstring(kZonesKey) + L"2");
    zone3_ = ReadKey(HKEY_CURRENT_USER, std::wstring(kZonesKey) + L"3");
  }
  bool SiteTrusted() const { return !ReadKey(HKEY_CURRENT_USER, trustKey_).empty(); }

  void ExpectRepaired() {
    auto trust = ReadKey(HKEY_CURRENT_USER, trustKey_);
    EXPECT_EQ(Dword(2), trust[L"https"]);
    EXPECT_EQ(Dword(2), trust[L"http"]);
    EXPECT_EQ(2u, trust.size());
    const std::map<std::wstring, DWORD> want2 = {{L"2201", 0}, {L"1405", 0}, {L"1201", 0}, {L"2000", 0},
                                                 {L"120B", 3}, {L"1209", 0}, {L"1208", 0}, {L"1200", 0},
                                                 {L"120a", 0}, {L"1004", 0}, {L"1001", 0}, {L"2500", 3}};
    std::map<std::wstring, DWORD> want3 = want2;
    want3[L"1201"] = 1;
    want3[L"1004"] = 1;
    want3[L"1001"] = 1;
    want3[L"2500"] = 0;
    auto after2 = ReadKey(HKEY_CURRENT_USER, std::wstring(kZonesKey) + L"2");
    auto after3 = ReadKey(HKEY_CURRENT_USER, std::wstring(kZonesKey) + L"3");
    for (auto &w : want2) zone2_[w.first] = Dword(w.second);
    for (auto &w : want3) zone3_[w.first] = Dword(w.second);
    EXPECT_TRUE(zone2_ == after2) << "trusted-sites zone: other values changed";
    EXPECT_TRUE(zone3_ == after3) << "Internet zone: other values changed";
  }

 private:
  std::wstring trustKey_;
  std::map<std::wstring, std::pair<DWORD, std::string>> zone2_, zone3_;
};

// ---- the client missing: the repair ----------------------------------------------------------------

// The first run on the fresh prefix: the browser settings are repaired; the client is missing and
// the bank's server has no setup (404): nothing is written, nothing started.
TEST_F(GuideE2E, RefusedWhenNotFound) {
  ASSERT_FALSE(Exists(std::wstring(kKelm) + L"ORV_KELM_Client.exe")) << "the client is installed already";
  BrowserSettings settings;
  EXPECT_FALSE(settings.SiteTrusted());
  ExpectRefusedDownload();
  ExpectEnvironmentLines();
  settings.ExpectRepaired();
  Cancel();
}

// The server's setup altered after signing: downloaded, refused, deleted, never started.
TEST_F(GuideE2E, RefusedWhenTampered) {
  ExpectRefusedDownload();
  Cancel();
}

// The bank's signed setup (a stand-in that only records its start): downloaded, checked, started
// with its quoted path and awaited; the client is still missing afterwards, so the repair counts
// as failed. The re-check uses the setup left from the first run without downloading it again.
TEST_F(GuideE2E, RepairStartsTheBanksSetupAndChecksAgain) {
  ASSERT_FALSE(Exists(kDownloaded));
  ASSERT_TRUE(SetupStarts().empty());
  ASSERT_TRUE(guide_.Start());
  ASSERT_TRUE(WaitFor([&] {
    std::vector<DetailLine> lines = guide_.DetailLines();
    return !lines.empty() && lines.back().state == 2 && IsWindowEnabled(guide_.Item(kSoftware, 1003));
  }, kLong)) << StateOfSteps();
  std::vector<DetailLine> lines = guide_.DetailLines();
  EXPECT_EQ((DetailLine{2, G(9)}), lines.back());
  EXPECT_EQ(7u, lines.size());
  EXPECT_EQ(ReadFile(Env(L"UK_SERVED_SETUP")), ReadFile(kDownloaded)) << "downloaded file differs";
  std::vector<std::string> starts = SetupStarts();
  ASSERT_EQ(1u, starts.size());
  EXPECT_NE(std::string::npos, starts[0].find("|\"C:\\ProgramData\\ORVToken\\ORV_ZV_Setup.exe\" |")) << starts[0];
  EXPECT_FALSE(Visible(guide_.StepButton(kPin)));

  // The re-check: the setup left from the first run is started again, not downloaded.
  std::string served = ReadFile(Env(L"UK_SERVED_SETUP"));
  DeleteFileW(Env(L"UK_SERVED_SETUP").c_str());
  GuideProcess::Click(guide_.Item(kSoftware, 1003));
  ASSERT_TRUE(WaitFor([&] { return SetupStarts().size() == 2; }, kLong)) << StateOfSteps();
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(guide_.Item(kSoftware, 1003)); }, kLong));
  EXPECT_EQ((DetailLine{2, G(9)}), guide_.DetailLines().back());
  EXPECT_EQ(served, ReadFile(kDownloaded));
  Cancel();
}

// ---- the key service stopped ---------------------------------------------------------------------

int ServiceState() {
  SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!m) return -1;
  SC_HANDLE s = OpenServiceW(m, L"ZVUK for ORV Service", SERVICE_QUERY_STATUS);
  SERVICE_STATUS st{};
  int state = s && QueryServiceStatus(s, &st) ? int(st.dwCurrentState) : -1;
  if (s) CloseServiceHandle(s);
  CloseServiceHandle(m);
  return state;
}

TEST_F(GuideE2E, KeyServiceIsStarted) {
  ASSERT_EQ(int(SERVICE_STOPPED), ServiceState()) << "the driver stops the key service first";
  Token(true, true);
  ASSERT_TRUE(guide_.Start());
  ASSERT_TRUE(StepReached(kExit)) << StateOfSteps();
  EXPECT_EQ(int(SERVICE_RUNNING), ServiceState());
  std::vector<DetailLine> lines = guide_.DetailLines();
  ExpectEnvironmentLines();
  EXPECT_EQ((DetailLine{0, G(7)}), lines.back());
  EXPECT_EQ(G(13), guide_.ItemText(kPin, 1019));  // the token was reached through the service
  Finish();
}

// ---- a factory-PIN token without a certificate: steps 1 to 4 -------------------------------------

TEST_F(GuideE2E, FactoryPinTokenFullRun) {
  std::string serial = Token(false, false);
  SignalCertificateChange(false);
  size_t browsers = BrowserStarts();
  ASSERT_TRUE(guide_.Start());
  ASSERT_TRUE(StepReached(kPin));
  ASSERT_TRUE(WaitFor([&] { return guide_.ItemText(kPin, 1019) == G(14); }, 30000)) << Narrow(guide_.ItemText(kPin, 1019));
  for (int id : {1001, 1013, 1002, 1003, 1033, 1024, 1025, 1026}) EXPECT_TRUE(Visible(guide_.Item(kPin, id))) << id;
  EXPECT_EQ(G(43), guide_.ItemText(kPin, 1033));
  EXPECT_EQ(G(46), guide_.ItemText(kPin, 1026));
  HWND oldPin = guide_.Item(kPin, 1001), newPin = guide_.Item(kPin, 1013), confirm = guide_.Item(kPin, 1002);
  HWND ok = guide_.Item(kPin, 1003);
  for (HWND edit : {oldPin, newPin, confirm}) EXPECT_NE(0, GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD);

  // Seventeen characters cannot be typed into the new PIN.
  GuideProcess::Type(newPin, L"Abcdefgh123456789");
  EXPECT_EQ(16u, Text(newPin).size());

  struct Attempt {
    const wchar_t *oldPin, *newPin, *confirm;
    int message;
    HWND focus;
  };
  const Attempt attempts[] = {
      {L"48291", L"Abc123", L"Abc123", 49, oldPin},                    // old PIN too short
      {L"482915", L"Abc123", L"Abc124", 48, newPin},                   // the two new PINs differ
      {L"482915", L"Abc12", L"Abc12", 49, newPin},                     // new PIN too short
      {L"482915", L"Abcdef1234567", L"Abcdef1234567", 49, newPin},     // 13 characters: typed, refused
      {L"482915", L"Abc_123", L"Abc_123", 50, newPin},                 // not a letter or digit
      {L"937260", L"Abc123", L"Abc123", 52, oldPin},                   // not this token's default
      {L"482915", L"482915", L"482915", 51, newPin},                   // new PIN equal to the default
  };
  for (const Attempt &a : attempts) {
    GuideProcess::Type(oldPin, a.oldPin);
    GuideProcess::Type(newPin, a.newPin);
    GuideProcess::Type(confirm, a.confirm);
    GuideProcess::Click(ok);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = guide_.MessageBox()) != nullptr; }, 30000)) << a.message;
    EXPECT_EQ(G(a.message), GuideProcess::MessageText(box)) << a.message;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return guide_.MessageBox() == nullptr; }, 10000));
    EXPECT_TRUE(WaitFor([&] { return guide_.Focus() == a.focus; }, 5000)) << a.message;
    // Nothing was changed on the token.
    uint32_t changed = 1;
    EXPECT_EQ(0u, VerifyPin(serial, "482915", &changed)) << a.message;
    EXPECT_EQ(0u, changed);
  }
  EXPECT_FALSE(Visible(guide_.StepButton(kCertificate)));

  GuideProcess::Type(oldPin, L"482915");
  GuideProcess::Type(newPin, L"Abc123");
  GuideProcess::Type(confirm, L"Abc123");
  GuideProcess::Click(ok);
  ASSERT_TRUE(StepReached(kCertificate, 60000));
  EXPECT_EQ(G(54), guide_.ItemText(kPin, 1019));
  for (HWND w : {oldPin, newPin, confirm, ok}) EXPECT_FALSE(IsWindowEnabled(w));
  uint32_t changed = 0;
  EXPECT_EQ(0u, VerifyPin(serial, "Abc123", &changed));
  EXPECT_NE(0u, changed);
  EXPECT_TRUE(UKLR_IS_WRONG_PIN(VerifyPin(serial, "482915")));

  // Step 3: no certificate yet: the bank's page in the browser, the download button.
  ASSERT_TRUE(WaitFor([&] { return guide_.ItemText(kCertificate, 1018) == G(16); }, 30000))
      << Narrow(guide_.ItemText(kCertificate, 1018));
  HWND download = guide_.Item(kCertificate, 1001);
  EXPECT_TRUE(Visible(download));
  EXPECT_TRUE(IsWindowEnabled(download));
  EXPECT_EQ(G(57), Text(download));
  ASSERT_TRUE(WaitFor([&] { return BrowserStarts() == browsers + 1; }, 30000));
  std::string log = ReadFile(Env(L"UK_BROWSER_LOG", L"C:\\uktest\\browser.log"));
  std::string expectedUrl = "\"https://" + Narrow(Env(L"UK_BANK_HOST")) + "/pweb/CertDownloadPre.do?UserId=orv&BankId=9999\"";
  EXPECT_NE(std::string::npos, log.find("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" " + expectedUrl))
      << log << " expected " << expectedUrl;
  // The button opens the page again; the step keeps waiting.
  GuideProcess::Click(download);
  ASSERT_TRUE(WaitFor([&] { return BrowserStarts() == browsers + 2; }, 30000));
  EXPECT_EQ(G(16), guide_.ItemText(kCertificate, 1018));

  // The certificate arrives through the provider, which signals the change: the waiting step
  // reads it.
  EXPECT_FALSE(CertificateChangeSignalled());
  std::string why;
  ASSERT_TRUE(WriteCertificateThroughProvider("cert-" + serial, "Abc123", L"Zhang Wei", &why)) << why;
  EXPECT_TRUE(CertificateChangeSignalled());
  std::wstring expected = ui::Format(G(20).c_str(), L"Zhang Wei", L"UKey Client Test CA", LocalDay(2026, 1, 2),
                                     LocalDay(2036, 1, 2));
  ASSERT_TRUE(WaitFor([&] { return guide_.ItemText(kCertificate, 1018) == expected; }, 30000))
      << Narrow(guide_.ItemText(kCertificate, 1018));
  EXPECT_FALSE(Visible(download));
  ASSERT_TRUE(StepReached(kExit, 30000));
  EXPECT_EQ(G(21), guide_.ItemText(kExit, 1029));
  EXPECT_FALSE(Visible(guide_.Page(kCertificate)));
  // Earlier pages stay reachable through their buttons.
  GuideProcess::Click(guide_.StepButton(kPin));
  EXPECT_TRUE(WaitFor([&] { return Visible(guide_.Page(kPin)) && !Visible(guide_.Page(kExit)); }, 5000));
  Finish();
}

// ---- a token that holds a certificate already -----------------------------------------------------

TEST_F(GuideE2E, CertificateAlreadyOnTheToken) {
  SetLanguage(2052);
  language_ = ui::kSimplifiedChinese;
  Token(true, true);
  size_t browsers = BrowserStarts();
  ASSERT_TRUE(guide_.Start());
  HWND main = guide_.Main();
  ASSERT_TRUE(main);
  EXPECT_EQ(G(0), Text(main));
  // The detail window is shown while step 1 runs.
  ASSERT_TRUE(WaitFor([&] { return Visible(guide_.Details()); }, 30000));
  EXPECT_EQ(G(41), Text(guide_.Details()));

  // A second guide ends at once, with no window.
  GuideProcess second;
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(0u, second.ExitCode(30000));

  ASSERT_TRUE(StepReached(kExit));
  EXPECT_EQ(G(13), guide_.ItemText(kPin, 1019));
  for (int id : {1001, 1013, 1002, 1003}) EXPECT_FALSE(Visible(guide_.Item(kPin, id)));
  std::wstring info = guide_.ItemText(kCertificate, 1018);
  EXPECT_EQ(ui::Format(G(20).c_str(), L"Zhang Wei", L"UKey Client Test CA", LocalDay(2026, 1, 2), LocalDay(2036, 1, 2)),
            info);
  EXPECT_EQ(browsers, BrowserStarts());  // no browser
  ExpectEnvironmentLines();

  // The details button shows the window, its OK hides it; the button says which it will do.
  guide_.Click(guide_.StepButton(kSoftware));
  ASSERT_TRUE(WaitFor([&] { return Visible(guide_.Page(kSoftware)); }, 5000));
  HWND detailsButton = guide_.Item(kSoftware, 1005);
  EXPECT_EQ(G(39), Text(detailsButton));
  GuideProcess::Click(detailsButton);
  ASSERT_TRUE(WaitFor([&] { return Visible(guide_.Details()); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return Text(detailsButton) == G(40); }, 5000));
  PostMessageW(guide_.Details(), WM_COMMAND, 1031, 0);
  ASSERT_TRUE(WaitFor([&] { return !Visible(guide_.Details()); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return Text(detailsButton) == G(39); }, 5000));
  // Cancel in the detail window ends the guide as Cancel in the main window does.
  GuideProcess::Click(detailsButton);
  ASSERT_TRUE(WaitFor([&] { return Visible(guide_.Details()); }, 5000));
  PostMessageW(guide_.Details(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(2u, guide_.ExitCode(10000));
}

}  // namespace

// guide_e2e_test.exe --trust-root FILE: adds a DER certificate to the machine's trusted roots
// (the driver's preparation of the prefix); otherwise the tests.
int wmain(int argc, wchar_t **argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--trust-root") {
    std::string der = ReadFile(argv[2]);
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    bool ok = root && !der.empty() &&
              CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(der.data()),
                                               DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (root) CertCloseStore(root, 0);
    return ok ? 0 : 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
