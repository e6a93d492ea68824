// Checks of a machine (a Wine prefix) after ORV_ZV_Setup.exe installed the middleware and after
// its uninstaller removed it, run by installer_test.sh between the steps. The program is copied
// to a folder of its own first: what it loads by name must come from where any program finds it.
//
// Test suites (chosen with --gtest_filter):
//   Installed.*  files, system-folder copies, provider registration per registry view, the key
//                service, the uninstaller entry
//   Provider.*   CryptoAPI loads the provider by name into this program
//   Plant.*      leaves what the programs leave on a machine at run time (search-path entries,
//                a certificate bound to the provider, user settings, downloaded files)
//   Removed.*    after the uninstaller: nothing of it is left, and nothing else was touched
// Other modes:
//   --service-pid            prints the process id of the running key service (0: none)
//   --linger MARKER          writes MARKER.started, runs a message loop until it is told to
//                            quit, then writes MARKER
//   --wait-window TEXT MS [DESKTOP]
//                            waits (at most MS milliseconds) until a visible top-level window
//                            whose title contains TEXT exists (on the named desktop, such as
//                            Wine's "explorer /desktop=NAME"); exit code 0 when it does
//   --run-and-wait PROGRAM [ARGS...]
//                            runs a program and waits for it and for the processes it started
//                            (an uninstaller hands its work to a copy of itself); exit code: the
//                            first non-zero exit code among them, else 0
// Parameters come from the environment (Windows paths):
//   UK_STAGE     folder of the signed files the setup of this machine's architecture installed,
//                with their list deliverables.txt
//   UK_STAGE32   on 64-bit Windows: the same for the 32-bit libraries
//   UK_VERSION   the version the uninstaller entry must show
//   UK_TEST_DIR  a scratch folder of the test run
#include <windows.h>
#include <wincrypt.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../keysrv/service_control.h"
#include "../keysrv/test_certs.h"

namespace {

const wchar_t kProvider[] = L"ZV UKey for ORV Cryptographic Service Provider";
const wchar_t kProviderKey[] =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\ZV UKey for ORV Cryptographic "
    L"Service Provider";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORV_ZV_UKey";
const wchar_t kUserKey[] = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client";
const wchar_t kEnvKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kSessionKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kTokenLib[] = L"ORV_KELM_Q57Tokenlib.dll";
const wchar_t kProviderDll[] = L"ORV_KELM_csp.dll";
const wchar_t kServiceExe[] = L"ORV_KELM_KeySrv.exe";
const wchar_t kClientExe[] = L"ORV_KELM_Client.exe";
const wchar_t kUninstaller[] = L"Uninstall.exe";
// Certificates the Plant suite adds, told apart by serial number.
const uint8_t kOurCertSerial = 0x51, kForeignCertSerial = 0x52;

// --- Small helpers -------------------------------------------------------------------------

std::wstring env(const wchar_t *name) {
  wchar_t buf[4096];
  DWORD n = GetEnvironmentVariableW(name, buf, 4096);
  return n && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

std::string narrow(const std::wstring &w) {
  std::string out;
  for (wchar_t c : w) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::wstring widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }

bool is64BitWindows() {
  if (sizeof(void *) == 8) return true;
  typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
  IsWow64Fn isWow64 = reinterpret_cast<IsWow64Fn>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow) && wow;
}

std::wstring shellFolder(int csidl) {
  wchar_t buf[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buf))) return std::wstring();
  return buf;
}

// The install folder of this process's architecture, and on 64-bit Windows that of the 32-bit
// libraries.
std::wstring kelmDir() { return shellFolder(CSIDL_PROGRAM_FILES) + L"\\ORVToken\\kelm"; }
std::wstring kelmDir32() { return shellFolder(CSIDL_PROGRAM_FILESX86) + L"\\ORVToken\\kelm"; }

std::wstring systemDir() {
  wchar_t buf[MAX_PATH];
  UINT n = GetSystemDirectoryW(buf, MAX_PATH);
  return std::wstring(buf, n);
}

std::wstring systemDir32() {
  wchar_t buf[MAX_PATH];
  UINT n = GetSystemWow64DirectoryW(buf, MAX_PATH);
  return n ? std::wstring(buf, n) : std::wstring();
}

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool readFile(const std::wstring &path, std::string *out) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  out->clear();
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got) out->append(buf, got);
  CloseHandle(f);
  return true;
}

bool writeFile(const std::wstring &path, const std::string &data) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  BOOL ok = WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &put, nullptr);
  CloseHandle(f);
  return ok && put == data.size();
}

std::vector<std::wstring> listFile(const std::wstring &path) {
  std::string text;
  std::vector<std::wstring> out;
  if (!readFile(path, &text)) return out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) out.push_back(widen(line));
    start = end + 1;
  }
  return out;
}

bool endsWithDll(const std::wstring &name) {
  return name.size() > 4 && lstrcmpiW(name.c_str() + name.size() - 4, L".dll") == 0;
}

bool listed(const std::vector<std::wstring> &names, const wchar_t *name) {
  for (const std::wstring &n : names)
    if (lstrcmpiW(n.c_str(), name) == 0) return true;
  return false;
}

// The machine type in a PE file's header (0x14C i386, 0x8664 x86-64), 0 when it is none.
unsigned peMachine(const std::string &image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
  uint32_t pe = *reinterpret_cast<const uint32_t *>(image.data() + 0x3C);
  if (pe + 6 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
  return *reinterpret_cast<const uint16_t *>(image.data() + pe + 4);
}

bool samePath(const std::wstring &a, const std::wstring &b) {
  std::wstring x = a, y = b;
  while (x.size() > 3 && x.back() == L'\\') x.pop_back();
  while (y.size() > 3 && y.back() == L'\\') y.pop_back();
  return lstrcmpiW(x.c_str(), y.c_str()) == 0;
}

// Whether dir is the system folder this process loads from (a 32-bit program on 64-bit Windows
// sees the 32-bit one under either name).
bool isSystemFolder(const std::wstring &dir) {
  if (samePath(dir, systemDir())) return true;
  return sizeof(void *) == 4 && is64BitWindows() && samePath(dir, systemDir32());
}

std::wstring moduleDir(const wchar_t *name) {
  HMODULE m = GetModuleHandleW(name);
  if (!m) return std::wstring();
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(m, buf, MAX_PATH);
  std::wstring path(buf, n);
  return path.substr(0, path.find_last_of(L'\\'));
}

// --- Registry ------------------------------------------------------------------------------

struct RegValue {
  bool found = false;
  DWORD type = 0;
  std::vector<BYTE> data;
  std::wstring text() const {
    std::wstring s(reinterpret_cast<const wchar_t *>(data.data()), data.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
  }
  DWORD dword() const { return data.size() == 4 ? *reinterpret_cast<const DWORD *>(data.data()) : 0xFFFFFFFF; }
};

RegValue readValue(HKEY root, const wchar_t *key, const wchar_t *name, REGSAM view = 0) {
  RegValue v;
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(k, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.data.resize(size);
    v.found = RegQueryValueExW(k, name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
    v.data.resize(size);
  }
  RegCloseKey(k);
  return v;
}

bool keyExists(HKEY root, const wchar_t *key, REGSAM view = 0) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// One provider registration: the registry view, the folder its DLL lives in, and whether the
// setup ships a provider for that architecture.
struct View {
  const char *name;
  REGSAM sam;
  std::wstring dir;
  std::wstring stage;
  unsigned machine;
};

std::vector<View> views() {
  std::vector<View> v;
  if (is64BitWindows()) {
    v.push_back({"64-bit view", KEY_WOW64_64KEY, kelmDir(), env(L"UK_STAGE"), 0x8664});
    v.push_back({"32-bit view", KEY_WOW64_32KEY, kelmDir32(), env(L"UK_STAGE32"), 0x14C});
  } else {
    v.push_back({"registry", 0, kelmDir(), env(L"UK_STAGE"), 0x14C});
  }
  return v;
}

std::vector<std::wstring> shipped(const std::wstring &stage) {
  return listFile(stage + L"\\deliverables.txt");
}

// The search path entries, split at ";".
std::vector<std::wstring> pathEntries(const std::wstring &value) {
  std::vector<std::wstring> out;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(L';', start);
    if (end == std::wstring::npos) end = value.size();
    out.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The store entries of the current user's "My" store, by serial number (first byte).
std::map<uint8_t, std::wstring> myCertificates() {
  std::map<uint8_t, std::wstring> out;
  HCERTSTORE store = CertOpenSystemStoreW(0, L"My");
  if (!store) return out;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    if (c->pCertInfo->SerialNumber.cbData != 1) continue;
    std::wstring provider;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) {
        const CRYPT_KEY_PROV_INFO *info = reinterpret_cast<const CRYPT_KEY_PROV_INFO *>(buf.data());
        if (info->pwszProvName) provider = info->pwszProvName;
      }
    }
    out[c->pCertInfo->SerialNumber.pbData[0]] = provider;
  }
  CertCloseStore(store, 0);
  return out;
}

// Pending renames and deletions (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT) that name one of
// the folders.
std::vector<std::wstring> pendingOperationsIn(const std::vector<std::wstring> &dirs) {
  std::vector<std::wstring> hits;
  RegValue v = readValue(HKEY_LOCAL_MACHINE, kSessionKey, L"PendingFileRenameOperations");
  if (!v.found) return hits;
  const wchar_t *p = reinterpret_cast<const wchar_t *>(v.data.data());
  const wchar_t *end = p + v.data.size() / sizeof(wchar_t);
  while (p < end) {
    std::wstring entry(p, std::find(p, end, L'\0'));
    p += entry.size() + 1;
    CharUpperW(&entry[0]);
    for (std::wstring d : dirs) {
      if (d.empty()) continue;
      CharUpperW(&d[0]);
      if (!entry.empty() && entry.find(d) != std::wstring::npos) hits.push_back(entry);
    }
  }
  return hits;
}

std::vector<std::wstring> ourFolders() {
  std::vector<std::wstring> dirs = {kelmDir(), systemDir() + L"\\" + kTokenLib};
  if (is64BitWindows()) {
    dirs.push_back(kelmDir32());
    dirs.push_back(systemDir32() + L"\\" + kTokenLib);
  }
  return dirs;
}

// --- Installed -------------------------------------------------------------------------------

TEST(Installed, EveryDeliverableIsInItsFolderAsSignedForTheSetup) {
  for (const View &v : views()) {
    SCOPED_TRACE(v.name);
    ASSERT_FALSE(v.stage.empty()) << "UK_STAGE/UK_STAGE32 not set";
    std::vector<std::wstring> names = shipped(v.stage);
    ASSERT_FALSE(names.empty()) << narrow(v.stage);
    bool native = v.stage == env(L"UK_STAGE");
    for (const std::wstring &n : names) {
      // 64-bit Windows gets the 32-bit libraries only; every native deliverable.
      if (!native && !endsWithDll(n)) continue;
      SCOPED_TRACE(narrow(n));
      std::string want, got;
      ASSERT_TRUE(readFile(v.stage + L"\\" + n, &want));
      ASSERT_TRUE(readFile(v.dir + L"\\" + n, &got)) << narrow(v.dir) << " lacks it";
      EXPECT_EQ(v.machine, peMachine(got));
      EXPECT_TRUE(want == got) << "the installed file is not the one this setup carries";
    }
  }
}

TEST(Installed, NoFileWasMovedAsideAndNothingWaitsForARestart) {
  // A file still in use when the setup replaces it is renamed and deleted at the next restart;
  // a setup that stops the service and ends our programs first never needs that.
  for (const View &v : views()) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((v.dir + L"\\*.old*").c_str(), &fd);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h) << narrow(v.dir) << ": " << narrow(fd.cFileName);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  for (const std::wstring &p : pendingOperationsIn(ourFolders())) ADD_FAILURE() << narrow(p);
}

TEST(Installed, TokenLibraryIsInTheSystemFolderOfItsArchitecture) {
  std::string installed, copy;
  ASSERT_TRUE(readFile(kelmDir() + L"\\" + kTokenLib, &installed));
  ASSERT_TRUE(readFile(systemDir() + L"\\" + kTokenLib, &copy)) << narrow(systemDir());
  EXPECT_TRUE(installed == copy);
  if (is64BitWindows() && sizeof(void *) == 8) {
    ASSERT_TRUE(readFile(kelmDir32() + L"\\" + kTokenLib, &installed));
    ASSERT_TRUE(readFile(systemDir32() + L"\\" + kTokenLib, &copy)) << narrow(systemDir32());
    EXPECT_TRUE(installed == copy);
    EXPECT_EQ(0x14Cu, peMachine(copy));
  }
}

TEST(Installed, TokenLibraryIsFoundByNameFromAnyFolder) {
  // How the loader resolves the provider's import of the token library in a program that lives
  // elsewhere (this one runs from a scratch folder without it).
  HMODULE m = LoadLibraryW(kTokenLib);
  ASSERT_NE(nullptr, m) << "error " << GetLastError();
  EXPECT_TRUE(isSystemFolder(moduleDir(kTokenLib))) << narrow(moduleDir(kTokenLib));
  EXPECT_NE(nullptr, GetProcAddress(m, "zksTokenListDevices"));
  FreeLibrary(m);
}

TEST(Installed, ProviderIsRegisteredInEachViewExactlyWhenItShips) {
  for (const View &v : views()) {
    SCOPED_TRACE(v.name);
    bool ships = listed(shipped(v.stage), kProviderDll);
    if (!ships) {
      // A registration naming a DLL that is not there would make CryptoAPI callers fail and the
      // guide's check pass.
      EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kProviderKey, v.sam));
      continue;
    }
    RegValue image = readValue(HKEY_LOCAL_MACHINE, kProviderKey, L"Image Path", v.sam);
    ASSERT_TRUE(image.found);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), image.type);
    EXPECT_TRUE(samePath(v.dir + L"\\" + kProviderDll, image.text())) << narrow(image.text());
    EXPECT_TRUE(exists(image.text()));
    RegValue type = readValue(HKEY_LOCAL_MACHINE, kProviderKey, L"Type", v.sam);
    ASSERT_TRUE(type.found);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type.type);
    EXPECT_EQ(1u, type.dword());
  }
}

TEST(Installed, KeyServiceIsInstalledForAutomaticStartAndRuns) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(nullptr, scm);
  SC_HANDLE svc = OpenServiceA(scm, svctest::kService, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  ASSERT_NE(nullptr, svc) << "error " << GetLastError();
  std::vector<BYTE> buf(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigW(svc, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buf.data()),
                                  static_cast<DWORD>(buf.size()), &needed));
  const QUERY_SERVICE_CONFIGW *cfg = reinterpret_cast<const QUERY_SERVICE_CONFIGW *>(buf.data());
  EXPECT_EQ(L"\"" + kelmDir() + L"\\" + kServiceExe + L"\"", std::wstring(cfg->lpBinaryPathName))
      << narrow(cfg->lpBinaryPathName);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), cfg->dwStartType);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), cfg->dwServiceType);
  EXPECT_TRUE(svctest::waitState(svc, SERVICE_RUNNING, 10000));
  CloseServiceHandle(svc);
  CloseServiceHandle(scm);
}

TEST(Installed, UninstallerIsListedWithTheSetupsVersion) {
  REGSAM view = is64BitWindows() ? KEY_WOW64_64KEY : 0;
  EXPECT_EQ(env(L"UK_VERSION"), readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", view).text());
  std::wstring uninstaller = kelmDir() + L"\\" + kUninstaller;
  EXPECT_TRUE(exists(uninstaller));
  EXPECT_EQ(L"\"" + uninstaller + L"\"",
            readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", view).text());
  EXPECT_EQ(L"\"" + uninstaller + L"\" /S",
            readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString", view).text());
  EXPECT_TRUE(samePath(kelmDir(), readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", view).text()));
  EXPECT_FALSE(readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", view).text().empty());
}

TEST(Installed, StartMenuHasTheClientExactlyWhenItShips) {
  REGSAM view = is64BitWindows() ? KEY_WOW64_64KEY : 0;
  RegValue folder = readValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"StartMenuFolder", view);
  if (!listed(shipped(env(L"UK_STAGE")), kClientExe)) {
    EXPECT_FALSE(folder.found);
    return;
  }
  ASSERT_TRUE(folder.found);
  EXPECT_TRUE(samePath(shellFolder(CSIDL_COMMON_PROGRAMS),
                       folder.text().substr(0, folder.text().find_last_of(L'\\'))));
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder.text() + L"\\*.lnk").c_str(), &fd);
  EXPECT_NE(INVALID_HANDLE_VALUE, h) << narrow(folder.text());
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

// --- Provider --------------------------------------------------------------------------------

TEST(Provider, CryptoApiLoadsItByNameAndItFindsTheTokenLibrary) {
  if (!listed(shipped(env(L"UK_STAGE")), kProviderDll))
    GTEST_SKIP() << "this architecture's setup ships no provider";
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
      << "error 0x" << std::hex << GetLastError();
  char name[256] = {0};
  DWORD len = sizeof(name);
  EXPECT_TRUE(CryptGetProvParam(prov, PP_NAME, reinterpret_cast<BYTE *>(name), &len, 0));
  EXPECT_STREQ(narrow(kProvider).c_str(), name);
  RegValue image = readValue(HKEY_LOCAL_MACHINE, kProviderKey, L"Image Path");
  EXPECT_TRUE(samePath(moduleDir(kProviderDll) + L"\\" + kProviderDll, image.text()));
  EXPECT_TRUE(isSystemFolder(moduleDir(kTokenLib))) << narrow(moduleDir(kTokenLib));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}

// --- Plant -----------------------------------------------------------------------------------

bool addMyCertificate(uint8_t serial, const char *cn, const wchar_t *provider) {
  return testcerts::addToMyStore(serial, cn, provider, L"ukey-installer-test");
}

std::wstring lookalikeEntry() { return kelmDir() + L"2"; }

TEST(Plant, ProgramsLeaveTheirTraces) {
  std::wstring scratch = env(L"UK_TEST_DIR");
  ASSERT_FALSE(scratch.empty());
  // The provider adds its folder to the machine "Path" when an administrator's program loads
  // it; another product's folder that merely starts with ours must survive the removal.
  RegValue path = readValue(HKEY_LOCAL_MACHINE, kEnvKey, L"Path");
  ASSERT_TRUE(path.found);
  std::wstring before = path.text();
  ASSERT_TRUE(writeFile(scratch + L"\\path-before.txt",
                        std::string(reinterpret_cast<const char *>(before.data()),
                                    before.size() * sizeof(wchar_t))));
  std::wstring planted = before + L";" + kelmDir() + L";" + lookalikeEntry();
  if (is64BitWindows()) planted += L";" + kelmDir32() + L"\\";
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnvKey, 0, KEY_SET_VALUE, &k));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, L"Path", 0, path.type,
                                          reinterpret_cast<const BYTE *>(planted.c_str()),
                                          static_cast<DWORD>((planted.size() + 1) * sizeof(wchar_t))));
  RegCloseKey(k);
  // The client registers the token's certificates for the provider; another provider's entry
  // is not ours to remove.
  ASSERT_TRUE(addMyCertificate(kOurCertSerial, "UKey installer test ours", kProvider));
  ASSERT_TRUE(addMyCertificate(kForeignCertSerial, "UKey installer test foreign",
                               L"Microsoft Base Cryptographic Provider v1.0"));
  // The client's language setting and a downloaded version file.
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kUserKey, 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &k, nullptr));
  DWORD lang = 2052;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, L"Language", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE *>(&lang), sizeof(lang)));
  RegCloseKey(k);
  std::wstring appData = shellFolder(CSIDL_COMMON_APPDATA) + L"\\ORVToken";
  CreateDirectoryW(appData.c_str(), nullptr);
  ASSERT_TRUE(writeFile(appData + L"\\version.ini", "[ORVClient]\r\nversion=1.0.0.0\r\n"));
}

// --- Removed ---------------------------------------------------------------------------------

TEST(Removed, InstallFoldersAndSystemCopiesAreGone) {
  for (const View &v : views()) {
    EXPECT_FALSE(exists(v.dir)) << narrow(v.dir);
    std::wstring parent = v.dir.substr(0, v.dir.find_last_of(L'\\'));
    EXPECT_FALSE(exists(parent)) << narrow(parent);
  }
  EXPECT_FALSE(exists(systemDir() + L"\\" + kTokenLib));
  if (is64BitWindows() && sizeof(void *) == 8) {
    EXPECT_FALSE(exists(systemDir32() + L"\\" + kTokenLib));
  }
  for (const std::wstring &p : pendingOperationsIn(ourFolders())) ADD_FAILURE() << narrow(p);
}

TEST(Removed, ProviderRegistrationIsGoneFromEveryView) {
  for (const View &v : views()) EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kProviderKey, v.sam)) << v.name;
}

TEST(Removed, KeyServiceIsGone) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(nullptr, scm);
  SC_HANDLE svc = OpenServiceA(scm, svctest::kService, SERVICE_QUERY_STATUS);
  EXPECT_EQ(nullptr, svc);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
  if (svc) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
}

TEST(Removed, SearchPathLostOurFoldersAndKeptEverythingElse) {
  std::string saved;
  ASSERT_TRUE(readFile(env(L"UK_TEST_DIR") + L"\\path-before.txt", &saved));
  std::wstring before(reinterpret_cast<const wchar_t *>(saved.data()), saved.size() / sizeof(wchar_t));
  RegValue path = readValue(HKEY_LOCAL_MACHINE, kEnvKey, L"Path");
  ASSERT_TRUE(path.found);
  std::vector<std::wstring> now = pathEntries(path.text());
  for (const std::wstring &e : now) {
    EXPECT_FALSE(samePath(e, kelmDir())) << narrow(path.text());
    if (is64BitWindows()) {
      EXPECT_FALSE(samePath(e, kelmDir32())) << narrow(path.text());
    }
  }
  // The path as it was before the uninstall holds our folders too once a provider was loaded by
  // an administrator (it adds its own folder): every other entry stays.
  for (const std::wstring &e : pathEntries(before)) {
    if (samePath(e, kelmDir()) || (is64BitWindows() && samePath(e, kelmDir32()))) continue;
    EXPECT_NE(now.end(), std::find(now.begin(), now.end(), e)) << "lost " << narrow(e);
  }
  EXPECT_NE(now.end(), std::find(now.begin(), now.end(), lookalikeEntry()));
}

TEST(Removed, OnlyOurCertificatesLeftTheStore) {
  std::map<uint8_t, std::wstring> certs = myCertificates();
  EXPECT_EQ(0u, certs.count(kOurCertSerial));
  ASSERT_EQ(1u, certs.count(kForeignCertSerial)) << "a certificate of another provider was removed";
  for (const auto &c : certs) EXPECT_NE(0, lstrcmpiW(c.second.c_str(), kProvider));
}

TEST(Removed, SettingsDownloadsAndUninstallerEntryAreGone) {
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUserKey));
  EXPECT_FALSE(exists(shellFolder(CSIDL_COMMON_APPDATA) + L"\\ORVToken"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey, is64BitWindows() ? KEY_WOW64_64KEY : 0));
}

TEST(Removed, NoStartMenuEntryIsLeft) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\*UKEY*").c_str(), &fd);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h) << narrow(fd.cFileName);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

TEST(Removed, AProgramRunningFromTheFolderWasAskedToQuit) {
  // The lingering program writes its marker only when it leaves its message loop on request,
  // the way the tray client ends (and unregisters its certificates) when the user exits it.
  EXPECT_TRUE(exists(env(L"UK_TEST_DIR") + L"\\linger-quit.txt"));
}

// --- Modes -----------------------------------------------------------------------------------

int servicePid() {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  DWORD pid = 0;
  if (scm) {
    SC_HANDLE svc = OpenServiceA(scm, svctest::kService, SERVICE_QUERY_STATUS);
    if (svc) {
      SERVICE_STATUS_PROCESS st;
      DWORD needed = 0;
      if (QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&st),
                               sizeof(st), &needed) &&
          st.dwCurrentState == SERVICE_RUNNING)
        pid = st.dwProcessId;
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
  }
  printf("%lu\n", pid);
  return 0;
}

int linger(const wchar_t *marker) {
  if (!writeFile(std::wstring(marker) + L".started", "started\r\n")) return 2;
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's message queue
  SetTimer(nullptr, 0, 300000, nullptr);           // never outlives a test run
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) return 1;
    DispatchMessageW(&msg);
  }
  return writeFile(marker, "quit\r\n") ? 0 : 2;
}

// Runs a program and waits for it and for every process it (or one of those) started, except
// the Windows shell (Wine starts its desktop process as a child of the first program that needs
// one, and it stays). The result is the first non-zero exit code of the program and of the
// processes it started itself: an uninstaller's copy of itself is one of them; console hosts
// and the helpers further down report through their parent.
int runAndWait(const std::wstring &commandLine) {
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi;
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    fprintf(stderr, "cannot start %s: error %lu\n", narrow(commandLine).c_str(), GetLastError());
    return 2;
  }
  CloseHandle(pi.hThread);
  struct Waited {
    HANDLE handle;
    DWORD parent;
  };
  std::map<DWORD, Waited> tree = {{pi.dwProcessId, {pi.hProcess, 0}}};
  for (DWORD waited = 0; waited < 600000; waited += 50) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
      auto it = tree.find(pe.th32ProcessID);
      // A process just created may not show its name yet: the shell is left out once it does.
      if (lstrcmpiW(pe.szExeFile, L"explorer.exe") == 0) {
        if (it != tree.end() && pe.th32ProcessID != pi.dwProcessId) {
          CloseHandle(it->second.handle);
          tree.erase(it);
        }
        continue;
      }
      if (it != tree.end() || !tree.count(pe.th32ParentProcessID)) continue;
      HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pe.th32ProcessID);
      if (h) tree[pe.th32ProcessID] = {h, pe.th32ParentProcessID};
    }
    CloseHandle(snap);
    bool running = false;
    for (const auto &p : tree)
      if (WaitForSingleObject(p.second.handle, 0) == WAIT_TIMEOUT) running = true;
    if (!running) break;
    Sleep(50);
  }
  DWORD result = 0;
  for (const auto &p : tree) {
    DWORD code = 0;
    if (!GetExitCodeProcess(p.second.handle, &code) || code == STILL_ACTIVE) code = WAIT_TIMEOUT;
    bool counts = p.first == pi.dwProcessId || p.second.parent == pi.dwProcessId;
    if (counts) printf("process %lu: exit code %lu\n", p.first, code);
    if (counts && code && !result) result = code;
    CloseHandle(p.second.handle);
  }
  return static_cast<int>(result);
}

struct WindowSearch {
  const wchar_t *text;
  HWND found;
};

BOOL CALLBACK matchWindow(HWND w, LPARAM p) {
  WindowSearch *search = reinterpret_cast<WindowSearch *>(p);
  wchar_t title[512];
  // The window's own style: IsWindowVisible also asks the desktop window, which a program on
  // another desktop does not see as visible.
  bool visible = (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible && GetWindowTextW(w, title, 512) > 0 && wcsstr(title, search->text)) {
    search->found = w;
    return FALSE;
  }
  return TRUE;
}

int waitWindow(const wchar_t *text, DWORD timeoutMs, const wchar_t *desktopName) {
  for (DWORD waited = 0;; waited += 100) {
    WindowSearch search = {text, nullptr};
    HDESK desktop = desktopName ? OpenDesktopW(desktopName, 0, FALSE, DESKTOP_ENUMERATE) : nullptr;
    if (desktop) {
      EnumDesktopWindows(desktop, matchWindow, reinterpret_cast<LPARAM>(&search));
      CloseDesktop(desktop);
    } else if (!desktopName) {
      EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    }
    if (search.found) return 0;
    if (waited >= timeoutMs) return 1;
    Sleep(100);
  }
}

}  // namespace

int main(int argc, char **argv) {
  int wargc = 0;
  wchar_t **wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
  if (wargc >= 2 && lstrcmpW(wargv[1], L"--service-pid") == 0) return servicePid();
  if (wargc == 3 && lstrcmpW(wargv[1], L"--linger") == 0) return linger(wargv[2]);
  if ((wargc == 4 || wargc == 5) && lstrcmpW(wargv[1], L"--wait-window") == 0)
    return waitWindow(wargv[2], static_cast<DWORD>(_wtoi(wargv[3])), wargc == 5 ? wargv[4] : nullptr);
  if (wargc >= 3 && lstrcmpW(wargv[1], L"--run-and-wait") == 0) {
    std::wstring cmd;
    for (int i = 2; i < wargc; ++i) {
      std::wstring a = wargv[i];
      if (i > 2) cmd += L" ";
      cmd += a.find(L' ') == std::wstring::npos ? a : L"\"" + a + L"\"";
    }
    return runAndWait(cmd);
  }
  LocalFree(wargv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
