// The client manager's software update as a user meets it: a copy of the real program whose
// version resource says 1.0.1.2 is started against our HTTP test server (the machine-wide
// "BankWebHost" names it) and driven from here through its windows: the start-up check finds
// 1.0.1.10 published, downloads the setup with the progress dialog, asks, and, once the test
// clicks OK, starts it (a probe program that records its start). Equal and older versions do
// nothing; setups without our signature are refused and deleted; failed downloads start nothing;
// an unreachable server is silent at start-up and says "Internet Error" to the user's check.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <wincrypt.h>

#include "../../uicommon/win/http_test_support.h"

namespace {

using namespace httptest;

constexpr wchar_t kMainClass[] = L"DEZOda_client_main_dialog";
constexpr wchar_t kTitle[] = L"UKEY Client for ORV ";
constexpr UINT kUpdateCommand = 40000 + 13;  // the node menu's entry of command bit 8192
constexpr wchar_t kDeveloperKey[] = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";
constexpr wchar_t kVersionIni[] = L"/portal/zh_CN/upload/Attachment/version.ini";

std::wstring Beside(const wchar_t *name) {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring p(self, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

// The first language of a resource (stops the enumeration there).
BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD l, LONG_PTR p) {
  *reinterpret_cast<WORD *>(p) = l;
  return FALSE;
}

// Gives a program's fixed version (VS_FIXEDFILEINFO) other numbers, through the resource
// update functions of the system.
bool PatchFileVersion(const std::wstring &exe, DWORD ms, DWORD ls) {
  HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return false;
  WORD lang = 0;
  EnumResourceLanguagesW(m, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), FirstLanguage, reinterpret_cast<LONG_PTR>(&lang));
  HRSRC r = FindResourceExW(m, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), lang);
  std::string data;
  if (r) {
    const char *p = static_cast<const char *>(LockResource(LoadResource(m, r)));
    data.assign(p, SizeofResource(m, r));
  }
  FreeLibrary(m);
  size_t at = std::string::npos;
  for (size_t i = 0; i + 52 <= data.size(); i += 4)
    if (*reinterpret_cast<const DWORD *>(&data[i]) == 0xFEEF04BD) {
      at = i;
      break;
    }
  if (at == std::string::npos) return false;
  auto *fixed = reinterpret_cast<VS_FIXEDFILEINFO *>(&data[at]);
  fixed->dwFileVersionMS = fixed->dwProductVersionMS = ms;
  fixed->dwFileVersionLS = fixed->dwProductVersionLS = ls;
  HANDLE u = BeginUpdateResourceW(exe.c_str(), FALSE);
  if (!u) return false;
  if (!UpdateResourceW(u, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), lang, &data[0], DWORD(data.size()))) {
    EndUpdateResourceW(u, TRUE);
    return false;
  }
  return EndUpdateResourceW(u, FALSE) != FALSE;
}

std::wstring FileVersionOf(const std::wstring &exe) {
  DWORD h = 0, n = GetFileVersionInfoSizeW(exe.c_str(), &h);
  std::vector<BYTE> buf(n ? n : 1);
  VS_FIXEDFILEINFO *f = nullptr;
  UINT len = 0;
  if (!n || !GetFileVersionInfoW(exe.c_str(), 0, n, buf.data()) ||
      !VerQueryValueW(buf.data(), L"\\", reinterpret_cast<void **>(&f), &len))
    return L"";
  return std::to_wstring(HIWORD(f->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(f->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(f->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(f->dwFileVersionLS));
}

// A message box or dialog of the client, with its texts.
struct Box {
  HWND wnd = nullptr;
  std::wstring caption, text;
};

struct BoxSearch {
  DWORD pid;
  std::vector<Box> *out;
};

BOOL CALLBACK CollectBoxes(HWND w, LPARAM p) {
  auto *s = reinterpret_cast<BoxSearch *>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t cls[64] = {0};
  GetClassNameW(w, cls, 64);
  if (pid != s->pid || lstrcmpW(cls, L"#32770") || !IsWindowVisible(w)) return TRUE;
  Box b;
  b.wnd = w;
  wchar_t buf[2048] = {0};
  GetWindowTextW(w, buf, 2048);
  b.caption = buf;
  for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    GetClassNameW(c, cls, 64);
    if (lstrcmpiW(cls, L"Static") && lstrcmpiW(cls, L"Edit")) continue;
    buf[0] = 0;
    SendMessageTimeoutW(c, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    if (buf[0]) b.text += (b.text.empty() ? L"" : L"|") + std::wstring(buf);
  }
  s->out->push_back(b);
  return TRUE;
}

std::string Utf8(const std::wstring &w) {
  char buf[4096] = {0};
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
  return buf;
}

class ClientUpdate : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The client as built, copied with its token library and made to say 1.0.1.2.
    folder_ = FreshFolder(L"uk-update-e2e");
    client_ = folder_ + L"\\ORV_KELM_Client.exe";
    CopyFileW(Beside(L"ORV_KELM_Client.exe").c_str(), client_.c_str(), FALSE);
    CopyFileW(Beside(L"ORV_KELM_Q57Tokenlib.dll").c_str(), (folder_ + L"\\ORV_KELM_Q57Tokenlib.dll").c_str(), FALSE);
    patched_ = PatchFileVersion(client_, MAKELONG(0, 1), MAKELONG(2, 1));
  }

  void SetUp() override {
    ASSERT_TRUE(server.Load()) << "the HTTP test server is not running (fixture http_server)";
    ASSERT_TRUE(patched_) << "could not give the client copy another version";
    ASSERT_EQ(L"1.0.1.2", FileVersionOf(client_));
    ASSERT_EQ(nullptr, FindWindowW(kMainClass, nullptr)) << "a client is already running";
    for (const wchar_t *probe : {L"probe_signed.exe", L"probe_unsigned.exe", L"probe_tampered.exe",
                                 L"probe_other.exe", L"probe_lookalike.exe"})
      ASSERT_TRUE(server.Put(std::wstring(L"/updates/") + probe, ReadAll(Beside(probe)))) << Utf8(probe);
    signedProbe = ReadAll(Beside(L"probe_signed.exe"));
    ASSERT_FALSE(signedProbe.empty());
    // The machine trusts the build's test authority (and a second one, whose publisher is not ours).
    for (const wchar_t *cer : {L"test_root.cer", L"other_root.cer"}) {
      std::string der = ReadAll(Beside(cer));
      PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(der.data()),
                                                      DWORD(der.size()));
      ASSERT_NE(nullptr, c);
      roots.push_back(c);
      HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
      ASSERT_TRUE(CertAddCertificateContextToStore(s, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
      CertCloseStore(s, 0);
    }
    // The programs ask our server.
    wchar_t prev[256] = {0};
    DWORD size = sizeof prev;
    hadHost = RegGetValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", RRF_RT_REG_SZ, nullptr, prev, &size) ==
              ERROR_SUCCESS;
    previousHost = prev;
    SetHost(server.HostPort());
    // The client takes the direct road to tokens (no key service), in English.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\ORV_KELM_Client.exe", L"Version", REG_SZ,
                    L"winxp", sizeof L"winxp");
    DWORD english = 1033;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                    &english, sizeof english);
    // No files of an earlier check.
    wchar_t common[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common)));
    data = std::wstring(common) + L"\\ORVToken";
    ClearData();
    probeLog = folder_ + L"\\probe.log";
    DeleteFileW(probeLog.c_str());
    SetEnvironmentVariableW(L"UK_PROBE_LOG", probeLog.c_str());
  }

  void TearDown() override {
    if (process) {
      for (const Box &b : Boxes()) PostMessageW(b.wnd, WM_COMMAND, IDOK, 0);
      if (HWND w = FindWindowW(kMainClass, nullptr)) PostMessageW(w, WM_COMMAND, 32776, 0);
      if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
      CloseHandle(process);
    }
    if (hadHost) SetHost(previousHost);
    else RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost");
    HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    for (PCCERT_CONTEXT c : roots) {
      if (PCCERT_CONTEXT f = CertFindCertificateInStore(s, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, c, nullptr))
        CertDeleteCertificateFromStore(f);
      CertFreeCertificateContext(c);
    }
    if (s) CertCloseStore(s, 0);
    ClearData();
    SetEnvironmentVariableW(L"UK_PROBE_LOG", nullptr);
  }

  static void SetHost(const std::wstring &host) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", REG_SZ, host.c_str(),
                    DWORD((host.size() + 1) * sizeof(wchar_t)));
  }
  void ClearData() {
    for (const auto &e : Entries(data)) DeleteFileW((data + L"\\" + e).c_str());
  }
  void Publish(const std::wstring &version, const std::wstring &setupPath) {
    std::wstring ini = L"[ORVClient]\r\nURL=" + server.Url(setupPath) + L"\r\nversion=" + version + L"\r\n";
    ASSERT_TRUE(server.Put(kVersionIni, Utf8(ini)));
  }
  void StartClient() {
    std::wstring line = L"\"" + client_ + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    process = pi.hProcess;
    pid = pi.dwProcessId;
    ASSERT_TRUE(WaitFor([&] { return Main() != nullptr; }, 30000)) << "no main window";
  }
  // The start-up check has fetched version.ini (the test may publish another one now without the
  // quiet check seeing it: it only compares what it fetched, and the user's checks wait for it).
  void WaitForQuietCheck() {
    ASSERT_TRUE(WaitFor([&] { return Exists(data + L"\\version.ini"); }, 30000)) << "no start-up check";
  }
  HWND Main() {
    for (HWND w = FindWindowW(kMainClass, nullptr); w; w = FindWindowExW(nullptr, w, kMainClass, nullptr)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p == pid) return w;
    }
    return nullptr;
  }
  void UserCheck() { PostMessageW(Main(), WM_COMMAND, kUpdateCommand, 0); }
  std::vector<Box> Boxes() {
    std::vector<Box> out;
    BoxSearch s{pid, &out};
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&s));
    return out;
  }
  // Waits for a box whose text contains `text`; every box seen meanwhile is recorded.
  Box WaitBox(const std::wstring &text, DWORD ms = 60000) {
    Box found;
    WaitFor(
        [&] {
          for (const Box &b : Boxes()) {
            Note(b);
            if (b.text.find(text) != std::wstring::npos) {
              found = b;
              return true;
            }
          }
          return false;
        },
        ms);
    return found;
  }
  void Note(const Box &b) {
    for (const auto &s : seen)
      if (s == b.caption + L"|" + b.text) return;
    seen.push_back(b.caption + L"|" + b.text);
  }
  bool SawDownloadDialog() {
    for (const auto &s : seen)
      if (s.rfind(L"Downloading|", 0) == 0) return true;
    return false;
  }
  void Click(const Box &b) {
    ASSERT_NE(nullptr, b.wnd);
    PostMessageW(b.wnd, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(b.wnd); }, 10000));
  }
  std::wstring SetupFile(const wchar_t *version) { return data + L"\\ORV_ZV_Setup_" + version + L".exe"; }
  std::string ProbeLog() { return ReadAll(probeLog); }
  std::string Seen() {
    std::wstring all;
    for (const auto &s : seen) all += L"[" + s + L"] ";
    return Utf8(all);
  }

  static std::wstring folder_, client_;
  static bool patched_;
  Server server;
  std::vector<PCCERT_CONTEXT> roots;
  bool hadHost = false;
  std::wstring previousHost, data, probeLog;
  std::string signedProbe;
  HANDLE process = nullptr;
  DWORD pid = 0;
  std::vector<std::wstring> seen;
};
std::wstring ClientUpdate::folder_, ClientUpdate::client_;
bool ClientUpdate::patched_ = false;

TEST_F(ClientUpdate, NewerVersionIsDownloadedAndStartedAfterThePrompt) {
  // Served slowly (a KiB every 5 ms) so that the progress dialog can be seen.
  Publish(L"1.0.1.10", L"/delay=5/updates/probe_signed.exe");
  ASSERT_NO_FATAL_FAILURE(StartClient());
  Box prompt = WaitBox(L"Click OK to install the last version", 120000);
  ASSERT_NE(nullptr, prompt.wnd) << "no install prompt; seen: " << Seen();
  EXPECT_EQ(kTitle, prompt.caption);
  EXPECT_TRUE(SawDownloadDialog()) << Seen();
  // Downloaded under the published version's name, and not started before the user says so.
  EXPECT_EQ(signedProbe, ReadAll(SetupFile(L"1_0_1_10")));
  EXPECT_EQ("", ProbeLog());
  ASSERT_NO_FATAL_FAILURE(Click(prompt));
  ASSERT_TRUE(WaitFor([&] { return !ProbeLog().empty(); }, 30000)) << "the setup was not started";
  EXPECT_NE(std::string::npos, ProbeLog().find("ORV_ZV_Setup_1_0_1_10.exe"));
  EXPECT_TRUE(Exists(data + L"\\version.ini"));
}

TEST_F(ClientUpdate, SetupLeftFromBeforeIsStartedWithoutDownload) {
  ASSERT_TRUE(CopyFileW(Beside(L"probe_signed.exe").c_str(), SetupFile(L"1_0_1_10").c_str(), FALSE));
  Publish(L"1.0.1.10", L"/updates/not-there.exe");  // a download would fail
  ASSERT_NO_FATAL_FAILURE(StartClient());
  Box prompt = WaitBox(L"Click OK to install the last version");
  ASSERT_NE(nullptr, prompt.wnd) << Seen();
  EXPECT_FALSE(SawDownloadDialog());
  ASSERT_NO_FATAL_FAILURE(Click(prompt));
  ASSERT_TRUE(WaitFor([&] { return !ProbeLog().empty(); }, 30000));
}

// What the update left in the common data folder, apart from the client's news files, which the
// client keeps in the same folder ("NewsConfig.xml", "NewsDB.bns").
std::vector<std::wstring> UpdateFiles(const std::wstring &folder) {
  std::vector<std::wstring> out;
  for (const std::wstring &e : Entries(folder))
    if (e.compare(0, 4, L"News") != 0) out.push_back(e);
  return out;
}

TEST_F(ClientUpdate, EqualOrOlderVersionDoesNothing) {
  Publish(L"1.0.1.2", L"/updates/probe_signed.exe");
  ASSERT_NO_FATAL_FAILURE(StartClient());
  ASSERT_NO_FATAL_FAILURE(WaitForQuietCheck());
  // The user's check runs after the quiet one (checks take turns) and says the client is current.
  for (const wchar_t *version : {L"1.0.1.2", L"1.0.1.1", L"1.0.0.10", L"0.9.9.9"}) {
    Publish(version, L"/updates/probe_signed.exe");
    UserCheck();
    Box b = WaitBox(L"UKEY client is the latest version");
    ASSERT_NE(nullptr, b.wnd) << Utf8(version) << " " << Seen();
    EXPECT_EQ(kTitle, b.caption);
    ASSERT_NO_FATAL_FAILURE(Click(b));
  }
  EXPECT_FALSE(SawDownloadDialog()) << Seen();
  EXPECT_EQ(std::vector<std::wstring>{L"version.ini"}, UpdateFiles(data));
  EXPECT_EQ("", ProbeLog());
}

TEST_F(ClientUpdate, SetupsWithoutOurSignatureAreRefusedAndDeleted) {
  Publish(L"1.0.1.2", L"/updates/probe_signed.exe");
  ASSERT_NO_FATAL_FAILURE(StartClient());
  ASSERT_NO_FATAL_FAILURE(WaitForQuietCheck());
  struct Case {
    const wchar_t *probe, *reason;
  } cases[] = {
      {L"probe_unsigned.exe", L"its digital signature is missing"},
      {L"probe_tampered.exe", L"does not match the file"},
      {L"probe_other.exe", L"belongs to another publisher (Somebody Else)"},
      {L"probe_lookalike.exe", L"does not lead to a trusted certification authority"},
  };
  for (const Case &c : cases) {
    Publish(L"1.0.1.10", std::wstring(L"/updates/") + c.probe);
    UserCheck();
    Box b = WaitBox(L"has been deleted");
    ASSERT_NE(nullptr, b.wnd) << Utf8(c.probe) << " " << Seen();
    EXPECT_NE(std::wstring::npos, b.text.find(c.reason)) << Utf8(b.text);
    EXPECT_EQ(kTitle, b.caption);
    EXPECT_FALSE(Exists(SetupFile(L"1_0_1_10"))) << Utf8(c.probe);
    ASSERT_NO_FATAL_FAILURE(Click(b));
  }
  // A bad file left under the published version's name is refused too, and goes.
  ASSERT_TRUE(CopyFileW(Beside(L"probe_other.exe").c_str(), SetupFile(L"1_0_1_10").c_str(), FALSE));
  Publish(L"1.0.1.10", L"/updates/probe_signed.exe");
  UserCheck();
  Box b = WaitBox(L"another publisher");
  ASSERT_NE(nullptr, b.wnd) << Seen();
  EXPECT_FALSE(Exists(SetupFile(L"1_0_1_10")));
  ASSERT_NO_FATAL_FAILURE(Click(b));
  for (const auto &s : seen) EXPECT_EQ(std::wstring::npos, s.find(L"Click OK to install")) << Utf8(s);
  EXPECT_EQ("", ProbeLog());
}

TEST_F(ClientUpdate, FailedDownloadsStartNothing) {
  Publish(L"1.0.1.2", L"/updates/probe_signed.exe");
  ASSERT_NO_FATAL_FAILURE(StartClient());
  ASSERT_NO_FATAL_FAILURE(WaitForQuietCheck());
  // Each answer comes after 1.5 s, so that the progress dialog is seen before the failure.
  for (const wchar_t *path : {L"/gen/300000/status=404/wait=1500/ORV_ZV_Setup.exe",
                              L"/gen/300000/status=500/wait=1500/ORV_ZV_Setup.exe",
                              L"/gen/300000/drop=100000/wait=1500/ORV_ZV_Setup.exe"}) {
    Publish(L"1.0.1.10", path);
    UserCheck();
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      for (const Box &b : Boxes())
        if (b.caption == L"Downloading") dialog = b.wnd;
      return dialog != nullptr;
    })) << Utf8(path) << " " << Seen();
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "the progress dialog stayed";
    // Nothing follows the failure; the next check (nothing newer) shows the checks are over.
    Publish(L"1.0.1.2", L"/updates/probe_signed.exe");
    UserCheck();
    Box b = WaitBox(L"UKEY client is the latest version");
    ASSERT_NE(nullptr, b.wnd) << Utf8(path) << " " << Seen();
    ASSERT_NO_FATAL_FAILURE(Click(b));
    EXPECT_FALSE(Exists(SetupFile(L"1_0_1_10"))) << Utf8(path);
  }
  for (const auto &s : seen) {
    EXPECT_EQ(std::wstring::npos, s.find(L"Click OK to install")) << Utf8(s);
    EXPECT_EQ(std::wstring::npos, s.find(L"has been deleted")) << Utf8(s);
  }
  EXPECT_EQ(std::vector<std::wstring>{L"version.ini"}, UpdateFiles(data));
  EXPECT_EQ("", ProbeLog());
}

TEST_F(ClientUpdate, UnreachableServerIsSilentAtStartUpAndAnInternetErrorForTheUser) {
  SetHost(L"127.0.0.1:" + std::to_wstring(ClosedPort()));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  UserCheck();
  Box b = WaitBox(L"Internet Error");
  ASSERT_NE(nullptr, b.wnd) << Seen();
  EXPECT_EQ(L"ERROR", b.caption);
  ASSERT_NO_FATAL_FAILURE(Click(b));
  // The start-up check has said nothing: no second box follows the user's.
  EXPECT_FALSE(WaitFor([&] { return !Boxes().empty(); }, 3000)) << Seen();
  EXPECT_EQ(1u, seen.size()) << Seen();
}

}  // namespace
