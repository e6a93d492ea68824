// The client manager's PIN and device administration and certificate import, export, viewer and
// delete as a user meets them, under Wine with a display and the virtual token: the program runs
// as its own process, the test opens each command from the tree's context-menu command, types
// into the dialogs' fields character by character and clicks their buttons, reads the message
// boxes, and then checks the token itself (through the token library, under the device-exclusive
// mutex like every program), the tree, the user's "My" store and signatures made with imported
// keys. PKCS #12 files come from OpenSSL at test time (make_pfx.sh, UK_PFX_DIR).
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

using namespace e2e;

const std::wstring kTitle = L"UKEY Client for ORV ";
constexpr UINT kNodeCommand = 40000;  // context-menu entry of a command: 40000 + its bit's index

// Command bits and their context-menu index.
enum : UINT {
  kModifyPin = 0,
  kExport = 1,
  kImport = 2,
  kShow = 3,
  kLabel = 8,
  kFormat = 9,
  kDelete = 10,
  kUnlock = 11,
  kModifyAdminPin = 12,
};

std::string Env(const char *name, const char *fallback = ".") {
  const char *v = getenv(name);
  return v ? v : fallback;
}

// A Windows path of a file of the test's PKCS #12 folder.
std::wstring PfxPath(const char *name) {
  std::string p = Env("UK_PFX_DIR") + "\\" + name;
  for (auto &c : p)
    if (c == '/') c = '\\';
  return Widen(p);
}

Bytes ReadFileBytes(const std::wstring &path) {
  Bytes b;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return b;
  LARGE_INTEGER size{};
  GetFileSizeEx(f, &size);
  b.resize(size_t(size.QuadPart));
  DWORD got = 0;
  if (!b.empty()) ReadFile(f, b.data(), DWORD(b.size()), &got, nullptr);
  b.resize(got);
  CloseHandle(f);
  return b;
}

std::wstring PfxPassword() {
  Bytes b = ReadFileBytes(PfxPath("password"));
  return std::wstring(b.begin(), b.end());
}

// This test's token through the token library, under the device-exclusive mutex that the client
// holds around its own sequences.
class TokenAccess {
 public:
  explicit TokenAccess(const std::string &serial) {
    mutex_ = CreateMutexA(nullptr, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX);
    DWORD w = WaitForSingleObject(mutex_, 60000);
    held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    snprintf(dev.devicePath, sizeof dev.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
    rc = zksTokenConnect(&dev, 1);
    if (rc == 0) rc = zksTokenSelectPkiWorkDF(&dev, 0);
  }
  ~TokenAccess() {
    if (loggedIn_) zksTokenResetUserPinVerifyFlag(&dev);
    if (dev.connection) zksTokenDisconnect(&dev);
    if (held_) ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  std::vector<UK_CONTAINER_INFO> Containers() {
    UK_CONTAINER_INFO c[5] = {};
    uint32_t n = 4;
    zksTokenSelectPkiWorkDF(&dev, 0);
    if (zksTokenListContainers(&dev, c, &n) != 0) return {};
    return std::vector<UK_CONTAINER_INFO>(c, c + n);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (auto &c : Containers()) out.push_back(c.name);
    return out;
  }
  Bytes Cert(UK_CONTAINER_INFO &c, uint32_t spec) {
    Bytes b(4096);
    uint32_t len = 4096;
    zksTokenSelectPkiWorkDF(&dev, 0);
    if (zksTokenReadCert(&dev, &c, b.data(), &len, spec) != 0) return {};
    b.resize(len);
    return b;
  }
  // Outputs of the device information: PIN changed (0 while the factory PIN is set), user PIN
  // usable (0 while blocked), user PIN tries left.
  void Info(uint32_t *changed, uint8_t *usable, uint8_t *tries) {
    zksTokenSelectPkiWorkDF(&dev, 0);
    zksTokenGetDeviceInfo(&dev, changed, usable, tries, 0);
  }
  int UserTries() {
    uint32_t c = 0;
    uint8_t u = 0, t = 0;
    Info(&c, &u, &t);
    return t;
  }
  uint32_t Verify(const char *pin, bool so = false) {
    uint8_t tries = 0;
    zksTokenSelectPkiWorkDF(&dev, 0);
    auto p = reinterpret_cast<const uint8_t *>(pin);
    uint32_t n = uint32_t(strlen(pin));
    uint32_t r = so ? zksTokenVerifySoPin(&dev, p, n, &tries) : zksTokenVerifyUserPin(&dev, p, n, &tries);
    if (r == 0) loggedIn_ = true;
    return r;
  }
  std::string Label() {
    char buf[128] = {0};
    uint32_t len = sizeof buf - 1;
    zksTokenSelectPkiWorkDF(&dev, 0);
    if (zksTokenGetDeviceLabel(&dev, buf, &len) != 0) return "?";
    return std::string(buf, strnlen(buf, len));
  }
  // A SHA-1 signature of message made on the token with the container's key (big-endian).
  Bytes Sign(UK_CONTAINER_INFO &c, uint32_t spec, const Bytes &message) {
    Bytes di = wintest::sha1DigestInfo(message);
    uint8_t sig[256];
    uint32_t len = sizeof sig;
    zksTokenSelectPkiWorkDF(&dev, 0);
    if (zksTokenRsaPriEncrypt(&dev, &c, di.data(), uint32_t(di.size()), sig, &len, spec, 0) != 0) return {};
    return Bytes(sig, sig + len);
  }

  UK_DEV_INFO dev{};
  uint32_t rc = 0;

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false, loggedIn_ = false;
};

// Wine's base provider checks a big-endian PKCS #1 v1.5 SHA-1 signature with a certificate's key.
bool CertificateVerifies(const Bytes &der, const Bytes &message, const Bytes &sig) {
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), DWORD(der.size()));
  if (!cert) return false;
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  Bytes le(sig.rbegin(), sig.rend());
  bool ok = CryptAcquireContextW(&prov, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
            CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &key) &&
            CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) &&
            CryptHashData(hash, message.data(), DWORD(message.size()), 0) &&
            CryptVerifySignatureW(hash, le.data(), DWORD(le.size()), key, nullptr, 0);
  if (hash) CryptDestroyHash(hash);
  if (key) CryptDestroyKey(key);
  if (prov) CryptReleaseContext(prov, 0);
  CertFreeCertificateContext(cert);
  return ok;
}

// The window that has the keyboard focus in the thread of a window of another process.
HWND FocusIn(HWND w) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Holds a named mutex of the token's programs for a while (the token's work waits meanwhile).
class HeldMutex {
 public:
  explicit HeldMutex(const std::string &name) : h_(CreateMutexA(nullptr, FALSE, name.c_str())) {
    DWORD w = WaitForSingleObject(h_, 60000);
    held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
  }
  ~HeldMutex() {
    if (held_) ReleaseMutex(h_);
    CloseHandle(h_);
  }
  bool held() const { return held_; }

 private:
  HANDLE h_;
  bool held_ = false;
};

class AdminE2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.fromSetting()) << "the emulator is not configured";
    ASSERT_EQ(nullptr, FindWindowW(L"DEZOda_client_main_dialog", nullptr)) << "a client is already running";
    // Seventh character "2": user PIN "937260", and the client opens no web page for it.
    serial = tokensim::uniqueSerial("AE", true);
    label = "Admin " + serial.substr(serial.size() - 6);
    ASSERT_TRUE(sim.createToken(serial, {{"label", label}, {"button", "auto"}, {"retries", "3"}})) << sim.lastError();
    DWORD english = 1033;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                    &english, sizeof english);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\ORV_KELM_Client.exe", L"Version", REG_SZ,
                    L"winxp", sizeof L"winxp");
  }
  void TearDown() override {
    if (process) {
      if (HWND w = Main()) PostMessageW(w, WM_COMMAND, kExit, 0);
      if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
      CloseHandle(process);
    }
    sim.deleteToken(serial);
  }

  // Starts the client and waits for this token's node, selected.
  void Launch() {
    process = Start();
    ASSERT_NE(nullptr, process);
    pid = GetProcessId(process);
    ASSERT_TRUE(WaitFor([&] { return Main() && IsWindowVisible(Main()) && Root() != nullptr; })) << Narrow(Lines());
    SelectRoot();
  }
  HWND Main() { return FindWindowW(L"DEZOda_client_main_dialog", nullptr); }
  HWND Tree() { return GetDlgItem(Main(), 1000); }
  std::wstring Status() { return Text(GetDlgItem(Main(), 1101)); }
  std::vector<std::wstring> Lines() {
    RemoteTree t(Tree());
    return t.ok() ? t.Lines() : std::vector<std::wstring>{};
  }
  // This token's node (found by its label) and the texts of its certificate nodes.
  HTREEITEM Root() {
    RemoteTree t(Tree());
    if (!t.ok()) return nullptr;
    for (HTREEITEM r = t.Next(nullptr, TVGN_ROOT); r; r = t.Next(r, TVGN_NEXT))
      if (t.ItemText(r) == Widen(label)) return r;
    return nullptr;
  }
  std::vector<std::wstring> Certs() {
    RemoteTree t(Tree());
    std::vector<std::wstring> out;
    HTREEITEM r = Root();
    for (HTREEITEM c = r ? t.Next(r, TVGN_CHILD) : nullptr; c; c = t.Next(c, TVGN_NEXT)) out.push_back(t.ItemText(c));
    return out;
  }
  void SelectRoot() {
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(Root()));
  }
  bool SelectCert(const std::wstring &text) {
    RemoteTree t(Tree());
    HTREEITEM r = Root();
    for (HTREEITEM c = r ? t.Next(r, TVGN_CHILD) : nullptr; c; c = t.Next(c, TVGN_NEXT)) {
      if (t.ItemText(c) != text) continue;
      SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(c));
      return true;
    }
    return false;
  }
  // The command as the node's context menu runs it.
  void Command(UINT index) { PostMessageW(Main(), WM_COMMAND, kNodeCommand + index, 0); }
  HWND Dialog(const std::wstring &title) { return WaitDialog(pid, title); }
  // The message box showing now: its text, after which it is closed with the given button.
  std::wstring Answer(UINT button = IDOK, const std::wstring &caption = kTitle) {
    HWND box = WaitBox(pid, caption);
    if (!box) return L"(no message box)";
    std::wstring text = BoxText(box);
    Click(box, int(button));
    WaitGone(box);
    return text;
  }
  HWND Notice() {
    for (HWND w = FindWindowW(L"CNotifyWnd", nullptr); w; w = FindWindowExW(nullptr, w, L"CNotifyWnd", nullptr)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p == pid) return w;
    }
    return nullptr;
  }
  bool NoticeShows(const std::wstring &text) {
    return WaitFor([&] { return Notice() && Text(Notice()) == text; });
  }
  // Types the PIN into the PIN dialog and clicks OK.
  void EnterPin(const std::wstring &title, const std::wstring &pin) {
    HWND dlg = Dialog(title);
    ASSERT_NE(nullptr, dlg) << "no dialog " << Narrow({title}) << DescribeWindows(pid);
    EXPECT_EQ(L"User PIN", Text(GetDlgItem(dlg, 1056)));
    Type(GetDlgItem(dlg, 1005), pin);
    Click(dlg, IDOK);
  }

  tokensim::Client sim;
  std::string serial, label;
  HANDLE process = nullptr;
  DWORD pid = 0;
};

// ---- PINs ----------------------------------------------------------------------------------------

TEST_F(AdminE2E, ChangePinDialogChecksItsEntriesAndChangesBothPins) {
  Launch();
  Command(kModifyPin);
  HWND dlg = Dialog(L"Modify PIN");
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ(L"Old PIN", Text(GetDlgItem(dlg, 1013)));
  EXPECT_EQ(L"New PIN", Text(GetDlgItem(dlg, 1014)));
  EXPECT_EQ(L"Confirm PIN", Text(GetDlgItem(dlg, 1015)));
  EXPECT_EQ(L"Note: PIN length of 6-10 and should have case-sensitive letters and numbers.", Text(GetDlgItem(dlg, 1057)));
  EXPECT_EQ(L"Ok", Text(GetDlgItem(dlg, IDOK)));
  HWND current = GetDlgItem(dlg, 1001), next = GetDlgItem(dlg, 1002), confirm = GetDlgItem(dlg, 1003);
  EXPECT_EQ(L'*', wchar_t(SendMessageW(next, EM_GETPASSWORDCHAR, 0, 0)));

  // Eleven characters cannot be typed; nothing can be pasted; the cursor keys do nothing.
  Type(next, L"12345678901");
  EXPECT_EQ(L"1234567890", Text(next));
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 16);
    memcpy(GlobalLock(mem), L"pasted", 14);
    GlobalUnlock(mem);
    SetClipboardData(CF_UNICODETEXT, mem);
    CloseClipboard();
  }
  Type(confirm, L"");
  SendMessageW(confirm, WM_PASTE, 0, 0);
  EXPECT_EQ(L"", Text(confirm));
  Type(confirm, L"abc");
  SendMessageW(confirm, WM_KEYDOWN, VK_HOME, 0);
  SendMessageW(confirm, WM_CHAR, L'X', 0);
  EXPECT_EQ(L"abcX", Text(confirm));  // the caret stayed at the end

  // A new PIN of five characters, then one equal to the current PIN: refused before the token is
  // asked (its tries stay), the focus on the new PIN.
  Type(current, L"937260");
  Type(next, L"12345");
  Type(confirm, L"12345");
  Click(dlg, IDOK);
  EXPECT_EQ(L"PIN lengeh should not less than 6,please input again!", Answer());
  EXPECT_TRUE(WaitFor([&] { return FocusIn(dlg) == next; }));
  Type(next, L"937260");
  Type(confirm, L"937260");
  Click(dlg, IDOK);
  EXPECT_EQ(L"New PINs can't be same with old PIN for the first time!", Answer());
  EXPECT_EQ(3, TokenAccess(serial).UserTries());

  // A wrong current PIN costs exactly one try; the dialog keeps the entries.
  Type(current, L"000000");
  Type(next, L"Abc123");
  Type(confirm, L"Abc123");
  Click(dlg, IDOK);
  EXPECT_EQ(L"PIN verification fail, you have 2 chance(s) left to retry", Answer());
  EXPECT_EQ(2, TokenAccess(serial).UserTries());
  EXPECT_TRUE(WaitFor([&] { return FocusIn(dlg) == next; }));
  EXPECT_TRUE(IsWindowVisible(dlg));
  EXPECT_EQ(L"000000", Text(current));
  EXPECT_EQ(L"Abc123", Text(next));

  Type(current, L"937260");
  Click(dlg, IDOK);
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"PIN Modified"));
  {
    TokenAccess t(serial);
    EXPECT_EQ(0u, t.Verify("Abc123"));
    EXPECT_EQ(3, t.UserTries());
  }

  // The administrator PIN.
  Command(kModifyAdminPin);
  dlg = Dialog(L"Modify Admin PIN");
  ASSERT_NE(nullptr, dlg);
  Type(GetDlgItem(dlg, 1001), L"70361524");
  Type(GetDlgItem(dlg, 1002), L"Adm1n#42");
  Type(GetDlgItem(dlg, 1003), L"Adm1n#42");
  Click(dlg, IDOK);
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"PIN Modified"));
  TokenAccess t(serial);
  EXPECT_EQ(0u, t.Verify("Adm1n#42", true));
}

TEST_F(AdminE2E, BlockedUserPinIsUnlockedWithTheAdministratorPin) {
  Launch();
  // Three wrong current PINs in the change dialog block the user PIN, one try each.
  Command(kModifyPin);
  HWND dlg = Dialog(L"Modify PIN");
  ASSERT_NE(nullptr, dlg);
  Type(GetDlgItem(dlg, 1002), L"Abc123");
  Type(GetDlgItem(dlg, 1003), L"Abc123");
  const wchar_t *expected[] = {L"PIN verification fail, you have 2 chance(s) left to retry",
                               L"PIN verification fail, you have 1 chance(s) left to retry",
                               L"PIN verification fail, you have 0 chance(s) left to retry", L"Device locked!"};
  for (int i = 0; i < 4; ++i) {
    Type(GetDlgItem(dlg, 1001), L"00000" + std::to_wstring(i));
    Click(dlg, IDOK);
    EXPECT_EQ(expected[i], Answer()) << i;
    EXPECT_EQ(i < 3 ? 2 - i : 0, TokenAccess(serial).UserTries()) << i;
  }
  Click(dlg, IDCANCEL);
  ASSERT_TRUE(WaitGone(dlg));
  // The tree's status line says so after a refresh.
  PostMessageW(Main(), WM_COMMAND, kNodeCommand + 6, 0);  // Refresh
  ASSERT_TRUE(WaitFor([&] { return Status().find(L"(Device locked)") != std::wstring::npos; })) << Narrow({Status()});

  SelectRoot();
  Command(kUnlock);
  dlg = Dialog(L"Unlock user PIN");
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ(L"Admin PIN", Text(GetDlgItem(dlg, 1024)));
  EXPECT_EQ(L"User new PIN", Text(GetDlgItem(dlg, 1029)));
  Type(GetDlgItem(dlg, 1023), L"11111111");
  Type(GetDlgItem(dlg, 1026), L"New123");
  Type(GetDlgItem(dlg, 1027), L"New124");
  Click(dlg, IDOK);
  EXPECT_EQ(L"New PINs do not match!", Answer());
  Type(GetDlgItem(dlg, 1027), L"New123");
  Click(dlg, IDOK);
  EXPECT_EQ(L"PIN verification fail, you have 9 chance(s) left to retry", Answer());  // one administrator try
  EXPECT_TRUE(WaitFor([&] { return FocusIn(dlg) == GetDlgItem(dlg, 1023); }));
  Type(GetDlgItem(dlg, 1023), L"70361524");
  Click(dlg, IDOK);
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"User PIN unlocked!"));
  TokenAccess t(serial);
  uint32_t changed = 0;
  uint8_t usable = 0, tries = 0;
  t.Info(&changed, &usable, &tries);
  EXPECT_NE(0, usable);
  EXPECT_EQ(0u, t.Verify("New123"));
}

// ---- format and label ----------------------------------------------------------------------------

TEST_F(AdminE2E, FormatShowsProgressAndLeavesTheTokenWithItsDefaultPins) {
  {
    std::string why;
    ASSERT_TRUE(PrepareToken(serial, "937260", "before-format", L"Format Exchange", L"Format Signature", &why)) << why;
    TokenAccess t(serial);
    uint8_t tries = 0;
    ASSERT_EQ(0u, zksTokenModifyUserPin(&t.dev, reinterpret_cast<const uint8_t *>("937260"), 6,
                                        reinterpret_cast<const uint8_t *>("Chang3d"), 7, &tries));
  }
  Launch();
  EXPECT_EQ(2u, Certs().size());
  Command(kFormat);
  HWND dlg = Dialog(L"Format");
  ASSERT_NE(nullptr, dlg);
  HWND combo = GetDlgItem(dlg, 1033);
  wchar_t entry[256] = {0};
  SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
  EXPECT_EQ(Widen(label + " | " + serial), entry);
  EXPECT_EQ(L"937260", Text(GetDlgItem(dlg, 1049)));
  EXPECT_EQ(L"6", Text(GetDlgItem(dlg, 1047)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, 1049)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 1044)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 1048)));
  EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Text(GetDlgItem(dlg, 1038)));
  EXPECT_EQ(L"Start", Text(GetDlgItem(dlg, IDOK)));
  EXPECT_EQ(L"Exit", Text(GetDlgItem(dlg, IDCANCEL)));

  // Start asks first; Cancel leaves everything as it was.
  Click(dlg, IDOK);
  EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Answer(IDCANCEL));
  EXPECT_EQ(1u, TokenAccess(serial).Containers().size());

  // While the work runs the buttons are disabled and the bar moves; then the notice, and the
  // dialog closes itself.
  HWND bar = GetDlgItem(dlg, 1035);
  Click(dlg, IDOK);
  EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Answer(IDOK));
  EXPECT_TRUE(NoticeShows(L"Format success"));
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(bar); }));
  {
    TokenAccess t(serial);
    EXPECT_TRUE(t.Containers().empty());
    uint32_t changed = 1;
    uint8_t usable = 0, tries = 0;
    t.Info(&changed, &usable, &tries);
    EXPECT_EQ(0u, changed);  // the default PIN again
    EXPECT_EQ(6, tries);
    EXPECT_EQ(0u, t.Verify("937260"));
    EXPECT_EQ(0u, t.Verify("482915", true));
  }
  label = "ORV-USBKEY";  // the label a format writes
  EXPECT_TRUE(WaitFor([&] { return Root() && Certs().empty(); })) << Narrow(Lines());
}

TEST_F(AdminE2E, FormatCannotBeLeftWhileItRunsAndItsBarFollowsTheWork) {
  Launch();
  Command(kFormat);
  HWND dlg = Dialog(L"Format");
  ASSERT_NE(nullptr, dlg);
  HWND bar = GetDlgItem(dlg, 1035);
  std::vector<int> positions;
  {
    // Another program holds the token: the work waits, Start and Exit are disabled and neither
    // Exit, Escape nor the close box ends the dialog.
    HeldMutex busy(UK_DEVICE_EXCLUSIVE_MUTEX);
    ASSERT_TRUE(busy.held());
    Click(dlg, IDOK);
    EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Answer(IDOK));
    ASSERT_TRUE(WaitFor([&] {
      return !IsWindowEnabled(GetDlgItem(dlg, IDOK)) && !IsWindowEnabled(GetDlgItem(dlg, IDCANCEL));
    }));
    Click(dlg, IDCANCEL);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    SendMessageTimeoutW(dlg, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(0, int(SendMessageW(bar, PBM_GETPOS, 0, 0)));
  }
  // The work runs; holding the token's frame lock now and then shows the bar between its steps.
  std::string frameLock = "sb#vid_0b0c&pid_10ae#" + serial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  WaitFor([&] {
    HeldMutex step(frameLock);
    if (!IsWindow(dlg)) return true;
    int pos = int(SendMessageW(bar, PBM_GETPOS, 0, 0));
    if (!IsWindow(bar)) return true;  // gone while it was asked: the 0 is no position
    if (positions.empty() || positions.back() != pos) positions.push_back(pos);
    Sleep(30);
    return false;
  }, 60000);
  EXPECT_TRUE(NoticeShows(L"Format success"));
  // Steps of 2 (the library reports each step of the format), seen rising.
  ASSERT_GE(positions.size(), 3u) << positions.size();
  for (size_t i = 1; i < positions.size(); ++i) {
    EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_EQ(0, positions[i] % 2);
  }
  EXPECT_LE(positions.back(), 28);
}

TEST_F(AdminE2E, FailedFormatShowsItsCodeAndTheTokenFormatsAgain) {
  Launch();
  Command(kFormat);
  HWND dlg = Dialog(L"Format");
  ASSERT_NE(nullptr, dlg);
  // The token is pulled out at the fifth frame of the work.
  ASSERT_TRUE(sim.command("pull " + serial + " 5")) << sim.lastError();
  Click(dlg, IDOK);
  EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Answer(IDOK));
  std::wstring failure = Answer(IDOK, L"Format fail");
  EXPECT_EQ(0u, failure.find(L"\nError code: ")) << Narrow({failure});
  EXPECT_EQ(size_t(13 + 8), failure.size());
  EXPECT_TRUE(WaitGone(dlg));
  ASSERT_TRUE(sim.insert(serial));
  SelectRoot();
  Command(kFormat);
  dlg = Dialog(L"Format");
  ASSERT_NE(nullptr, dlg);
  Click(dlg, IDOK);
  EXPECT_EQ(L"NOTE:Device formatting will erase all user data!", Answer(IDOK));
  EXPECT_TRUE(NoticeShows(L"Format success"));
  TokenAccess t(serial);
  EXPECT_EQ(0u, t.Verify("937260"));
}

// A Chinese Windows (code page 936, this test runs under a zh_CN locale): a label of 24 Chinese
// characters is 48 bytes and is accepted.
TEST_F(AdminE2E, ChineseLabelOfTwentyFourCharacters) {
  if (GetACP() != 936) GTEST_SKIP() << "needs the Chinese code page (run by client_admin_e2e_chinese)";
  Launch();
  Command(kLabel);
  HWND dlg = Dialog(L"Label update");
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ(L"Device label", Text(GetDlgItem(dlg, 1021)));
  EXPECT_EQ(Widen(label), Text(GetDlgItem(dlg, 1022)));
  Type(GetDlgItem(dlg, 1022), L"");
  Click(dlg, IDOK);
  EXPECT_EQ(L"Device label should not be empty", Answer());
  std::wstring chinese = L"中国工商银行个人网上银行数字证书安全介质专用标签";
  ASSERT_EQ(24u, chinese.size());
  Type(GetDlgItem(dlg, 1022), chinese + L"多");  // the field takes 24 characters
  EXPECT_EQ(chinese, Text(GetDlgItem(dlg, 1022)));
  Click(dlg, IDOK);
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"Device label modified"));
  // The tree item is renamed at once; the token holds the 48 bytes of code page 936.
  RemoteTree tree(Tree());
  HTREEITEM root = tree.Next(nullptr, TVGN_ROOT);
  bool renamed = false;
  std::string seen;
  for (HTREEITEM r = root; r; r = tree.Next(r, TVGN_NEXT)) {
    std::wstring text = tree.ItemText(r);
    renamed |= text == chinese;
    for (wchar_t ch : text) seen += " " + std::to_string(unsigned(ch));
    seen += " |";
  }
  EXPECT_TRUE(renamed) << seen;
  std::string bytes = TokenAccess(serial).Label();
  EXPECT_EQ(48u, bytes.size());
  wchar_t back[64] = {0};
  MultiByteToWideChar(936, 0, bytes.data(), int(bytes.size()), back, 63);
  EXPECT_EQ(chinese, back);
}

// ---- import --------------------------------------------------------------------------------------

class ImportE2E : public AdminE2E {
 protected:
  // Opens the import dialog, picks the file through Browse and types the password.
  HWND OpenImport(const char *file, const std::wstring &password) {
    SelectRoot();
    Command(kImport);
    HWND dlg = Dialog(L"Import certificate");
    if (!dlg) return nullptr;
    Click(dlg, 1006);
    if (!AnswerFileDialog(pid, L"Open", PfxPath(file))) {
      ADD_FAILURE() << "file dialog:\n" << DescribeWindows(pid);
      return nullptr;
    }
    Type(GetDlgItem(dlg, 1005), password);
    return dlg;
  }
  // The container names and their certificates, to compare before and after.
  std::vector<std::string> Names() { return TokenAccess(serial).Names(); }

  // A successful import: the certificate with its key on the token (exchange pair), the tree, the
  // "My" store with the provider's key information, a signature with the key that the
  // certificate verifies (written out for OpenSSL).
  // A certificate that was in "My" already (the store import's source) has its entry replaced by
  // the client's registration; Wine keeps the earlier entry's properties on such a replace, so the
  // key-provider information is checked only for certificates new to the store.
  void CheckImported(const char *derFile, const std::wstring &cn, const std::string &sigDir,
                     bool wasInStore = false) {
    Bytes der = ReadFileBytes(PfxPath(derFile));
    ASSERT_FALSE(der.empty());
    EXPECT_TRUE(WaitFor([&] {
      std::vector<std::wstring> c = Certs();
      return std::find(c.begin(), c.end(), cn) != c.end();
    })) << Narrow(Lines());
    TokenAccess t(serial);
    UK_CONTAINER_INFO found{};
    int matches = 0;
    for (auto &c : t.Containers())
      if (t.Cert(c, 1) == der) found = c, ++matches;
    ASSERT_EQ(1, matches) << "the certificate is not on the token once";
    EXPECT_EQ(UK_CONT_EX_KEY | UK_CONT_EX_CERT, found.flags);
    EXPECT_EQ(36u, strlen(found.name));  // a GUID
    EXPECT_EQ('-', found.name[8]);
    StoreEntry e = FindInMy(cn);
    EXPECT_TRUE(e.found);
    EXPECT_EQ(1, e.count);
    if (!wasInStore) {
      EXPECT_EQ(kProvider, e.provider);
      EXPECT_EQ(Widen(found.name), e.container);
      EXPECT_EQ(1u, e.keySpec);
    }
    // The token is not left logged in: the key signs only after the PIN.
    const std::string text = "transfer 250.00 to 6222 0201";
    Bytes message(text.begin(), text.end());
    EXPECT_TRUE(t.Sign(found, 1, message).empty());
    ASSERT_EQ(0u, t.Verify("937260"));
    Bytes sig = t.Sign(found, 1, message);
    ASSERT_EQ(128u, sig.size());
    EXPECT_TRUE(CertificateVerifies(der, message, sig));
    std::string dir = Env("UK_CLIENT_E2E_OUT") + "/" + sigDir;
    CreateDirectoryA(dir.c_str(), nullptr);
    EXPECT_TRUE(WriteFileBytes(dir + "/message.txt", message));
    EXPECT_TRUE(WriteFileBytes(dir + "/certificate.der", der));
    EXPECT_TRUE(WriteFileBytes(dir + "/signature.bin", sig));
  }
};

TEST_F(ImportE2E, PfxWithACaChainImportsTheEndEntityCertificateWithItsKey) {
  Launch();
  HWND dlg = OpenImport("chain.pfx", PfxPassword());
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ(PfxPath("chain.pfx"), Text(GetDlgItem(dlg, 1004)));
  EXPECT_EQ(L"Import certificate from PKCS#12 file", Text(GetDlgItem(dlg, 1042)));
  EXPECT_EQ(BST_CHECKED, SendMessageW(GetDlgItem(dlg, 1042), BM_GETCHECK, 0, 0));
  Click(dlg, IDOK);
  // A wrong PIN first: the PIN dialog stays with the tries left.
  EnterPin(L"User PIN", L"000000");
  EXPECT_EQ(L"PIN verification fail, you have 2 chance(s) left to retry", Answer());
  EnterPin(L"User PIN", L"937260");
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"Import Certificate success!"));
  EXPECT_EQ(1u, Names().size());  // the chain's CA certificate was not imported
  CheckImported("chain.der", L"PFX Chain User", "token-signature");
  EXPECT_FALSE(FindInMy(L"Import Test Root CA").found);

  // With the provider installed, any CryptoAPI program signs with the imported key.
  std::string dir = Env("UK_CLIENT_E2E_OUT") + "/provider-signature";
  if (!PrepareSignatureFolder(dir)) GTEST_SKIP() << "the provider is not installed: checked once it is";
  std::string why;
  EXPECT_TRUE(SignThroughStore(L"PFX Chain User", L"937260", AT_KEYEXCHANGE, dir, &why)) << why;
}

TEST_F(ImportE2E, LegacyEncryptionAndEmptyPassword) {
  Launch();
  HWND dlg = OpenImport("legacy.pfx", PfxPassword());
  ASSERT_NE(nullptr, dlg);
  Click(dlg, IDOK);
  EnterPin(L"User PIN", L"937260");
  EXPECT_TRUE(WaitGone(dlg));
  CheckImported("legacy.der", L"PFX Legacy User", "legacy-signature");

  // No password: the client asks whether it is really empty; "No" goes back to the dialog.
  dlg = OpenImport("nopass.pfx", L"");
  ASSERT_NE(nullptr, dlg);
  Click(dlg, IDOK);
  EXPECT_EQ(L"Please make sure whether the certificate protect password is empty?", Answer(IDNO));
  EXPECT_TRUE(IsWindowVisible(dlg));
  Click(dlg, IDOK);
  EXPECT_EQ(L"Please make sure whether the certificate protect password is empty?", Answer(IDYES));
  EnterPin(L"User PIN", L"937260");
  EXPECT_TRUE(WaitGone(dlg));
  CheckImported("nopass.der", L"PFX Open User", "nopass-signature");
  EXPECT_EQ(2u, Names().size());
}

TEST_F(ImportE2E, BadFilesAndKeysAreRefusedAndTheTokenStaysAsItWas) {
  {
    std::string why;
    ASSERT_TRUE(PrepareToken(serial, "937260", "existing", L"Existing Exchange", L"Existing Signature", &why)) << why;
  }
  Launch();
  std::vector<std::string> before = Names();
  ASSERT_EQ(1u, before.size());
  struct Case {
    const char *file;
    bool rightPassword;
    const wchar_t *message;
  } cases[] = {
      {"notpfx.pfx", true, L"Import certificate fail!\r\nThe certificate format is wrong"},
      {"chain.pfx", false, L"Import certificate fail!\r\nThe certificate password is wrong"},
      {"empty.pfx", true, L"Import certificate fail!\r\nThe certificate format is wrong"},
      {"huge.pfx", true, L"Import certificate fail!\r\nThe certificate format is wrong"},
      {"big.pfx", true, L"Device doesn't support!"},
      {"e3.pfx", true, L"Device doesn't support!"},
  };
  for (const Case &c : cases) {
    HWND dlg = OpenImport(c.file, c.rightPassword ? PfxPassword() : L"not-the-password");
    ASSERT_NE(nullptr, dlg) << c.file;
    Click(dlg, IDOK);
    EXPECT_EQ(c.message, Answer()) << c.file;
    // The dialog stays for another try; nothing reached the token.
    EXPECT_TRUE(IsWindowVisible(dlg)) << c.file;
    EXPECT_EQ(nullptr, FindDialog(pid, L"User PIN")) << c.file;
    EXPECT_EQ(before, Names()) << c.file;
    Click(dlg, IDCANCEL);
    ASSERT_TRUE(WaitGone(dlg));
  }

  // No file chosen.
  SelectRoot();
  Command(kImport);
  HWND dlg = Dialog(L"Import certificate");
  ASSERT_NE(nullptr, dlg);
  Click(dlg, IDOK);
  EXPECT_EQ(L"Please select certificate!", Answer());
  Click(dlg, IDCANCEL);
  ASSERT_TRUE(WaitGone(dlg));

  // The PIN step cancelled: no new container is left behind.
  dlg = OpenImport("chain.pfx", PfxPassword());
  ASSERT_NE(nullptr, dlg);
  Click(dlg, IDOK);
  HWND pin = Dialog(L"User PIN");
  ASSERT_NE(nullptr, pin);
  Click(pin, IDCANCEL);
  ASSERT_TRUE(WaitGone(pin));
  EXPECT_TRUE(IsWindowVisible(dlg));
  // The new container goes once the PIN dialog has closed (the client takes the token's lock for
  // it after the test's look may have).
  EXPECT_TRUE(WaitFor([&] { return Names() == before; }, 10000)) << Names().size();
  EXPECT_EQ(2u, Certs().size());
}

// Removes every "My" entry of a subject (left by an earlier run with another certificate).
void RemoveFromMy(const std::wstring &subject) {
  HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  if (!s) return;
  while (PCCERT_CONTEXT c = CertFindCertificateInStore(s, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                       subject.c_str(), nullptr))
    if (!CertDeleteCertificateFromStore(c)) break;
  CertControlStore(s, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(s, 0);
}

TEST_F(ImportE2E, CertificateFromTheUserStoreWithItsKey) {
  // A certificate with an exportable key in the user's "My" store (put there from a PKCS #12 file
  // the way a certificate manager would).
  RemoveFromMy(L"Store Import User");
  Bytes pfx = ReadFileBytes(PfxPath("store.pfx"));
  std::wstring password = PfxPassword();
  CRYPT_DATA_BLOB blob{DWORD(pfx.size()), pfx.data()};
  HCERTSTORE temp = PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE);
  ASSERT_NE(nullptr, temp);
  HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  ASSERT_NE(nullptr, my);
  PCCERT_CONTEXT c = CertEnumCertificatesInStore(temp, nullptr);
  ASSERT_NE(nullptr, c);
  ASSERT_TRUE(CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  CertFreeCertificateContext(c);
  CertCloseStore(temp, 0);
  CertCloseStore(my, 0);  // written through to the registry, where the client reads it

  Launch();
  Command(kImport);
  HWND dlg = Dialog(L"Import certificate");
  ASSERT_NE(nullptr, dlg);
  Click(dlg, 1043);
  for (int id : {1011, 1012, 1005, 1004, 1006})
    EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(GetDlgItem(dlg, id)); })) << id;
  Click(dlg, IDOK);
  HWND select = Dialog(L"Select Certificate");
  ASSERT_NE(nullptr, select);
  HWND list = GetDlgItem(select, 1055);
  // Find the row of the certificate (subject in the "Issued to" column) and select it.
  int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  int row = -1;
  RemoteMemory mem(list);
  for (int i = 0; i < rows && row < 0; ++i) {
    LVITEMW it{};
    it.iSubItem = 1;
    it.pszText = mem.At<wchar_t>(1024);
    it.cchTextMax = 512;
    mem.Write(0, &it, sizeof it);
    SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(mem.At<char>(0)));
    if (mem.ReadText(1024, 511) == L"Store Import User") row = i;
  }
  ASSERT_GE(row, 0) << rows << " rows\n" << DescribeWindows(pid);
  LVITEMW state{};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  mem.Write(0, &state, sizeof state);
  SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(mem.At<char>(0)));
  Click(select, IDOK);
  ASSERT_TRUE(WaitGone(select));
  EnterPin(L"User PIN", L"937260");
  EXPECT_TRUE(WaitGone(dlg));
  EXPECT_TRUE(NoticeShows(L"Import Certificate success!"));
  CheckImported("store.der", L"Store Import User", "store-signature", true);
}

// ---- export, viewer, delete ----------------------------------------------------------------------

TEST_F(AdminE2E, ExportViewAndDeleteACertificate) {
  {
    std::string why;
    ASSERT_TRUE(PrepareToken(serial, "937260", "kept", L"Kept Exchange", L"Kept Signature", &why)) << why;
    ASSERT_TRUE(PrepareToken(serial, "937260", "doomed", L"Doomed Exchange", L"Doomed Signature", &why)) << why;
  }
  Launch();
  ASSERT_EQ(4u, Certs().size());
  ASSERT_TRUE(FindInMy(L"Doomed Exchange").found);

  // Export: the exact DER bytes of the token's certificate.
  ASSERT_TRUE(SelectCert(L"Kept Signature"));
  std::wstring path = Widen(Env("UK_CLIENT_E2E_OUT")) + L"\\kept-signature.cer";
  for (auto &ch : path)
    if (ch == L'/') ch = L'\\';
  DeleteFileW(path.c_str());
  Command(kExport);
  ASSERT_TRUE(AnswerFileDialog(pid, L"Save As", path)) << DescribeWindows(pid);
  EXPECT_TRUE(NoticeShows(L"Export certificate success!"));
  {
    TokenAccess t(serial);
    std::vector<UK_CONTAINER_INFO> cs = t.Containers();
    ASSERT_EQ(2u, cs.size());
    EXPECT_EQ(t.Cert(cs[0], 2), ReadFileBytes(path));
  }

  // The system's certificate viewer, from the command and from a double click.
  Command(kShow);
  HWND viewer = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p == pid && IsWindowVisible(w) && Text(w) != kTitle) viewer = w;
    }
    return viewer != nullptr;
  }));
  PostMessageW(viewer, WM_CLOSE, 0, 0);
  PostMessageW(viewer, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitGone(viewer));

  // Delete: asked first ("No" keeps it), then the PIN, then the whole container goes, with both
  // certificates and their store entries.
  ASSERT_TRUE(SelectCert(L"Doomed Signature"));
  Command(kDelete);
  EXPECT_EQ(L"Are you sure you want to delete Doomed Signature?", Answer(IDNO));
  EXPECT_EQ(2u, TokenAccess(serial).Containers().size());
  Command(kDelete);
  EXPECT_EQ(L"Are you sure you want to delete Doomed Signature?", Answer(IDYES));
  EnterPin(L"User PIN", L"937260");
  EXPECT_TRUE(NoticeShows(L"Deleted"));
  EXPECT_TRUE(WaitFor([&] { return Certs() == std::vector<std::wstring>{L"Kept Exchange", L"Kept Signature"}; }))
      << Narrow(Certs());
  EXPECT_EQ(std::vector<std::string>{"kept"}, TokenAccess(serial).Names());
  EXPECT_FALSE(FindInMy(L"Doomed Exchange").found);
  EXPECT_FALSE(FindInMy(L"Doomed Signature").found);
  EXPECT_TRUE(FindInMy(L"Kept Signature").found);
}

}  // namespace
