// The client manager as a user meets it, under Wine with a display and the virtual token: the
// program is started as its own process and driven from here through its windows (found by
// class and title), the way a user or an assistive tool would. Checks the tree and status line,
// the command bar, the user's "My" store, token removal and arrival broadcasts, the language
// switch, a second instance and Exit; with the provider installed, a program signs with the
// registered certificate's key (the signature is written out for OpenSSL to verify natively).
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "uk_tokenlib.h"
#include "e2e_support.h"
#include "uk_tokensim_client.h"
#include "../../csp/win_registration.h"

namespace {

using namespace e2e;

struct StoreEntry {
  std::wstring container, provider;
  DWORD type = 0, keySpec = 0;
  bool found = false;
  int count = 0;
};

StoreEntry FindInMy(const std::wstring &subject) {
  StoreEntry e;
  HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  if (!s) return e;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(s, c))) {
    wchar_t name[512];
    CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
    if (subject != name) continue;
    e.found = true;
    ++e.count;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size);
      auto *info = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buf.data());
      e.container = info->pwszContainerName ? info->pwszContainerName : L"";
      e.provider = info->pwszProvName ? info->pwszProvName : L"";
      e.type = info->dwProvType;
      e.keySpec = info->dwKeySpec;
    }
  }
  CertCloseStore(s, 0);
  return e;
}

void Broadcast(WPARAM event) {
  DEV_BROADCAST_DEVICEINTERFACE_W b{};
  b.dbcc_size = sizeof b;
  b.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  b.dbcc_classguid = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
  DWORD_PTR r = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&b), SMTO_ABORTIFHUNG,
                      5000, &r);
}

DWORD ReadLanguage() {
  DWORD v = 0, size = sizeof v;
  if (RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language",
                   RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS)
    return 0;
  return v;
}

class ClientE2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.fromSetting()) << "the emulator is not configured";
    ASSERT_EQ(nullptr, FindWindowW(L"DEZOda_client_main_dialog", nullptr)) << "a client is already running";
    // Seventh character "2": the client opens no web page for this token.
    serial = tokensim::uniqueSerial("CE", true);
    label = "E2E " + serial.substr(serial.size() - 6);
    ASSERT_TRUE(sim.createToken(serial, {{"label", label}, {"button", "auto"}})) << sim.lastError();
    exchangeCn = Widen("E2E Exchange " + serial);
    signatureCn = Widen("E2E Signature " + serial);
    container = "e2e-" + serial;
    PrepareToken();
    RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                    &english, sizeof english);
    // Under Wine the client takes the direct road to the token (no key service), like this test.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\ORV_KELM_Client.exe", L"Version", REG_SZ,
                    L"winxp", sizeof L"winxp");
  }
  void TearDown() override {
    if (process) {
      HWND w = FindWindowW(L"DEZOda_client_main_dialog", nullptr);
      if (w) PostMessageW(w, WM_COMMAND, kExit, 0);
      if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
      CloseHandle(process);
    }
    sim.deleteToken(serial);
  }

  void PrepareToken() {
    std::string why;
    ASSERT_TRUE(e2e::PrepareToken(serial, "937260", container, exchangeCn, signatureCn, &why)) << why;
  }

  HWND Main() { return FindWindowW(L"DEZOda_client_main_dialog", nullptr); }
  HWND Child(const wchar_t *cls) { return FindWindowExW(Main(), nullptr, cls, nullptr); }
  HWND Tree() { return GetDlgItem(Main(), 1000); }
  HWND Bar() { return GetDlgItem(Main(), 1001); }
  std::wstring Status() { return Text(GetDlgItem(Main(), 1101)); }
  HWND Notice() {
    DWORD pid = GetProcessId(process);
    HWND found = nullptr;
    for (HWND w = FindWindowW(L"CNotifyWnd", nullptr); w; w = FindWindowExW(nullptr, w, L"CNotifyWnd", nullptr)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p == pid) found = w;
    }
    return found;
  }
  std::vector<std::wstring> TreeLines() {
    RemoteTree t(Tree());
    return t.ok() ? t.Lines() : std::vector<std::wstring>{L"(unreadable)"};
  }
  std::vector<std::wstring> Expected() {
    return {Widen(label), L"  " + exchangeCn, L"  " + signatureCn};
  }
  // The lines of this test's token (its node and its certificates); empty when it is not shown.
  std::vector<std::wstring> Block() {
    std::vector<std::wstring> all = TreeLines(), out;
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i] != Widen(label)) continue;
      out.push_back(all[i]);
      for (size_t k = i + 1; k < all.size() && all[k].rfind(L"  ", 0) == 0; ++k) out.push_back(all[k]);
    }
    return out;
  }

  tokensim::Client sim;
  std::string serial, container, label;
  std::wstring exchangeCn, signatureCn;
  HANDLE process = nullptr;
  DWORD english = 1033;
};

TEST_F(ClientE2E, TreeStoreRemovalLanguageSecondInstanceAndExit) {
  process = Start();
  ASSERT_NE(nullptr, process);
  ASSERT_TRUE(WaitFor([&] { return Main() && IsWindowVisible(Main()); })) << "no main window";
  EXPECT_EQ(L"UKEY Client for ORV ", Text(Main()));
  ASSERT_TRUE(WaitFor([&] { return Block() == Expected(); })) << Narrow(TreeLines());

  // The token is selected after the refresh: its status line and the token's commands.
  EXPECT_EQ(0u, Status().find(Widen(label) + L",  S/N:" + Widen(serial) + L",  COS Ver:")) << Status();
  EXPECT_EQ(L"Modify PIN\nLabel\nRefresh\nAuto Check\nOnline Update", Text(Bar()));

  // Both certificates are in the user's store, bound to the provider and the container.
  for (DWORD spec = 1; spec <= 2; ++spec) {
    StoreEntry e = FindInMy(spec == 1 ? exchangeCn : signatureCn);
    ASSERT_TRUE(e.found) << spec;
    EXPECT_EQ(kProvider, e.provider);
    EXPECT_EQ(1u, e.type);
    EXPECT_EQ(Widen(container), e.container);
    EXPECT_EQ(spec, e.keySpec);
  }

  // Selecting the signature certificate: its texts and the certificate's commands.
  {
    RemoteTree t(Tree());
    HTREEITEM root = t.Next(nullptr, TVGN_ROOT);
    HTREEITEM sig = t.Next(t.Next(root, TVGN_CHILD), TVGN_NEXT);
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(sig));
  }
  ASSERT_TRUE(WaitFor([&] { return Text(Bar()) == L"Export\nRefresh\nAuto Check\nOnline Update"; }));
  EXPECT_EQ(0u, Status().find(L"Issuer:UKey Client Test CA, Issue to:" + signatureCn + L"\nValid:"));

  // A second instance ends at once and leaves the first as it was.
  HANDLE second = Start();
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 20000));
  DWORD code = 99;
  GetExitCodeProcess(second, &code);
  EXPECT_EQ(0u, code);
  CloseHandle(second);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 0));
  EXPECT_EQ(Expected(), Block());

  // Language: title, tray tip, bar and the stored choice follow the menu.
  auto tipIs = [](const std::wstring &t) {
    for (const auto &tip : TrayTips())
      if (tip == t) return true;
    return false;
  };
  EXPECT_TRUE(WaitFor([&] { return tipIs(L"UKEY Client for ORV "); }, 5000)) << Narrow(TrayTips());
  PostMessageW(Main(), WM_COMMAND, kSimplified, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(Main()) == L"索伦银行个人网银向导"; }));
  EXPECT_TRUE(WaitFor([&] { return tipIs(L"索伦银行个人网银向导"); }, 5000)) << Narrow(TrayTips());
  EXPECT_TRUE(WaitFor([&] { return Text(Bar()).find(L"刷新") != std::wstring::npos; })) << Text(Bar()).size();
  EXPECT_TRUE(WaitFor([&] { return ReadLanguage() == 2052u; })) << ReadLanguage();
  EXPECT_TRUE(WaitFor([&] { return Block() == Expected(); }));
  PostMessageW(Main(), WM_COMMAND, kEnglish, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(Main()) == L"UKEY Client for ORV "; }));
  EXPECT_TRUE(WaitFor([&] { return ReadLanguage() == 1033u; })) << ReadLanguage();
  ASSERT_TRUE(WaitFor([&] { return Block() == Expected(); }));

  // The token is pulled out: the broadcast brings the notice, an empty tree and an empty store.
  ASSERT_TRUE(sim.remove(serial));
  Broadcast(DBT_DEVICEREMOVECOMPLETE);
  EXPECT_TRUE(WaitFor([&] { return Block().empty(); }));
  EXPECT_TRUE(WaitFor([&] { return Notice() && IsWindowVisible(Notice()); }));
  EXPECT_EQ(L"Information update", Text(Notice()));
  EXPECT_FALSE(FindInMy(exchangeCn).found) << FindInMy(exchangeCn).count;
  EXPECT_FALSE(FindInMy(signatureCn).found);
  if (TreeLines().empty()) {  // no other token attached: nothing selected
    EXPECT_EQ(L"Refresh\nAuto Check\nOnline Update", Text(Bar()));
    EXPECT_EQ(L"", Status());
  }

  // A broadcast that leaves the count unchanged changes nothing.
  Broadcast(DBT_DEVICEARRIVAL);
  EXPECT_TRUE(Block().empty());

  // Plugged in again: back in the tree and in the store.
  ASSERT_TRUE(sim.insert(serial));
  Broadcast(DBT_DEVICEARRIVAL);
  EXPECT_TRUE(WaitFor([&] { return Block() == Expected(); }));
  EXPECT_TRUE(FindInMy(signatureCn).found);

  // Closing the window keeps the program in the tray; Exit ends it and empties the store.
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(Main()); }));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 0));
  PostMessageW(Main(), WM_COMMAND, kExit, 0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 20000));
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(1u, code);
  EXPECT_FALSE(FindInMy(exchangeCn).found);
  EXPECT_FALSE(FindInMy(signatureCn).found);
  CloseHandle(process);
  process = nullptr;
}

TEST_F(ClientE2E, MinSwitchStartsInTheTray) {
  process = Start(L"/MIN");
  ASSERT_NE(nullptr, process);
  ASSERT_TRUE(WaitFor([&] { return Main() != nullptr; }));
  ASSERT_TRUE(WaitFor([&] { return Block() == Expected(); }));
  EXPECT_FALSE(IsWindowVisible(Main()));
  // Open from the tray menu's command shows it.
  PostMessageW(Main(), WM_COMMAND, 32778, 0);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(Main()) != FALSE; }));
}

TEST_F(ClientE2E, CommandBarClickRunsTheCommandUnderThePointer) {
  process = Start();
  ASSERT_TRUE(WaitFor([&] { return Block() == Expected(); }));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(Main()) != FALSE; }));
  // Token selected: Modify PIN, Label, Refresh, ... Pressing "Refresh" (third row) and releasing
  // over "Label" (second row) runs nothing; pressing and releasing "Refresh" refreshes, which
  // the "Information update" notice shows.
  auto at = [](int row) { return MAKELPARAM(60, 2 + row * 60 + 25); };
  HWND bar = Bar();
  RECT r;
  GetWindowRect(bar, &r);
  SetCursorPos(r.left + 60, r.top + 2 + 2 * 60 + 25);
  SendMessageW(bar, WM_MOUSEMOVE, 0, at(2));
  SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at(2));
  SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, at(1));
  SendMessageW(bar, WM_LBUTTONUP, 0, at(1));
  Sleep(0);
  EXPECT_TRUE(Notice() == nullptr || !IsWindowVisible(Notice()));
  SendMessageW(bar, WM_MOUSEMOVE, 0, at(2));
  SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at(2));
  SendMessageW(bar, WM_LBUTTONUP, 0, at(2));
  EXPECT_TRUE(WaitFor([&] { return Notice() && IsWindowVisible(Notice()); }));
  EXPECT_EQ(L"Information update", Text(Notice()));
}

TEST_F(ClientE2E, ContextMenuOffersTheNodesCommandsAndRegistersByHand) {
  process = Start();
  ASSERT_TRUE(WaitFor([&] { return Main() && IsWindowVisible(Main()) && Block() == Expected(); }));
  {
    RemoteTree t(Tree());
    HTREEITEM root = t.Next(nullptr, TVGN_ROOT);
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(t.Next(root, TVGN_CHILD)));
  }
  // The context key on the selected certificate opens the menu of its commands (in bit order:
  // Export, View Certificate, Register, Unregister, ...); the user picks an entry with the arrow
  // keys and Enter.
  auto choose = [&](int position) {
    PostMessageW(Tree(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Tree()), -1);
    HWND menuWnd = nullptr;
    if (!WaitFor([&] { return (menuWnd = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menuWnd); }, 5000))
      return false;
    for (int i = 0; i <= position; ++i) PostMessageW(menuWnd, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menuWnd, WM_KEYDOWN, VK_RETURN, 0);
    return WaitFor([&] { return !IsWindowVisible(FindWindowW(L"#32768", nullptr)); }, 5000);
  };
  ASSERT_TRUE(choose(3));  // Unregister
  EXPECT_TRUE(WaitFor([&] { return !FindInMy(exchangeCn).found; }));
  EXPECT_TRUE(WaitFor([&] { return Notice() && Text(Notice()) == L"Certificate unregistered"; }));
  EXPECT_TRUE(FindInMy(signatureCn).found);
  ASSERT_TRUE(choose(2));  // Register
  EXPECT_TRUE(WaitFor([&] { return FindInMy(exchangeCn).found; }));
  EXPECT_TRUE(WaitFor([&] { return Notice() && Text(Notice()) == L"Certificate registered!"; }));
  StoreEntry e = FindInMy(exchangeCn);
  EXPECT_EQ(1u, e.keySpec);
  EXPECT_EQ(Widen(container), e.container);
}

TEST_F(ClientE2E, CertificateChangeSignalRefreshesAndIsReset) {
  process = Start(L"/min");
  ASSERT_TRUE(WaitFor([&] { return Main() && Block() == Expected(); }));
  // Another program changes the token (here: its label) and signals the change.
  UK_DEV_INFO dev{};
  snprintf(dev.devicePath, sizeof dev.devicePath,
           "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
  ASSERT_EQ(0u, zksTokenConnect(&dev, 1));
  ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev, 0));
  std::string renamed = "Renamed " + serial.substr(serial.size() - 4);
  ASSERT_EQ(0u, zksTokenModifyDeviceLabel(&dev, renamed.c_str(), uint32_t(renamed.size())));
  zksTokenDisconnect(&dev);
  HANDLE ev = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, "Global\\EVENT_CERT_CHANGE_KELM_ORV");
  ASSERT_NE(nullptr, ev);
  ASSERT_TRUE(SetEvent(ev));
  EXPECT_TRUE(WaitFor([&] { return Notice() && Text(Notice()) == L"Updated certificate list"; }));
  label = renamed;
  EXPECT_TRUE(WaitFor([&] { return Block() == Expected(); })) << Narrow(TreeLines());
  EXPECT_TRUE(WaitFor([&] { return WaitForSingleObject(ev, 0) == WAIT_TIMEOUT; }));  // reset again
  CloseHandle(ev);
}

// With the provider installed: a program that knows only CryptoAPI finds the certificate the
// client registered, reaches the token's key through it and signs. The provider's PIN dialog is
// answered as a user would (the PIN typed, OK pressed); the token presses its own button.
// The provider of this build, beside this program, registered in the prefix as the setup
// registers it. False when the tree has no provider.
bool ProviderInstalled() {
  if (GetFileAttributesA(csptest::providerDll().c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  return csptest::registerProvider();
}

// Types the PIN into any PIN dialog of this process (an edit control 1002 beside OK) until stopped.
DWORD WINAPI AnswerPinDialogs(void *stop) {
  while (!*static_cast<volatile LONG *>(stop)) {
    for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      HWND edit = GetDlgItem(w, 1002);
      if (pid != GetCurrentProcessId() || !edit || !IsWindowVisible(w)) continue;
      SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"937260"));
      SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
    }
    Sleep(50);
  }
  return 0;
}

bool WriteFileBytes(const std::string &path, const Bytes &b) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
  return fclose(f) == 0 && ok;
}

TEST_F(ClientE2E, RegisteredCertificateSignsThroughTheProvider) {
  const char *out = getenv("UK_CLIENT_E2E_OUT");
  std::string dir = out ? out : ".";
  CreateDirectoryA(dir.c_str(), nullptr);
  DeleteFileA((dir + "/signature.bin").c_str());
  if (!ProviderInstalled()) {
    WriteFileBytes(dir + "/skipped", {});
    GTEST_SKIP() << "no provider beside this program: signing through the registered certificate "
                    "is checked in trees that build it";
  }
  DeleteFileA((dir + "/skipped").c_str());
  process = Start(L"/min");
  ASSERT_TRUE(WaitFor([&] { return Main() && Block() == Expected(); }));
  ASSERT_TRUE(FindInMy(signatureCn).found);

  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  ASSERT_NE(nullptr, store);
  PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                   signatureCn.c_str(), nullptr);
  ASSERT_NE(nullptr, cert);
  volatile LONG stop = 0;
  HANDLE answerer = CreateThread(nullptr, 0, AnswerPinDialogs, const_cast<LONG *>(&stop), 0, nullptr);
  HCRYPTPROV prov = 0;
  DWORD spec = 0;
  BOOL mustFree = FALSE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &spec, &mustFree)) << GetLastError();
  EXPECT_EQ(DWORD(AT_SIGNATURE), spec);
  const std::string message = "payment order 42: 100.00 to account 6222";
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0));
  DWORD len = 0;
  ASSERT_TRUE(CryptSignHashW(hash, spec, nullptr, 0, nullptr, &len)) << GetLastError();
  Bytes sig(len);
  ASSERT_TRUE(CryptSignHashW(hash, spec, nullptr, 0, sig.data(), &len)) << GetLastError();
  sig.resize(len);
  CryptDestroyHash(hash);
  if (mustFree) CryptReleaseContext(prov, 0);
  InterlockedExchange(const_cast<LONG *>(&stop), 1);
  WaitForSingleObject(answerer, 5000);
  CloseHandle(answerer);

  // Wine's own provider checks it with the certificate's public key.
  HCRYPTPROV base = 0;
  ASSERT_TRUE(CryptAcquireContextW(&base, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY pub = 0;
  ASSERT_TRUE(CryptImportPublicKeyInfo(base, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &pub));
  ASSERT_TRUE(CryptCreateHash(base, CALG_SHA1, 0, 0, &hash));
  CryptHashData(hash, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0);
  EXPECT_TRUE(CryptVerifySignatureW(hash, sig.data(), DWORD(sig.size()), pub, nullptr, 0));
  CryptDestroyHash(hash);
  CryptDestroyKey(pub);
  CryptReleaseContext(base, 0);

  // For OpenSSL (client_sign_openssl): the message, the signature most significant byte first,
  // and the certificate.
  Bytes be(sig.rbegin(), sig.rend());
  ASSERT_TRUE(WriteFileBytes(dir + "/message.txt", Bytes(message.begin(), message.end())));
  ASSERT_TRUE(WriteFileBytes(dir + "/certificate.der", Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded)));
  ASSERT_TRUE(WriteFileBytes(dir + "/signature.bin", be));
  CertFreeCertificateContext(cert);
  CertCloseStore(store, 0);
}

}  // namespace
