// The key service's Win32 skin under Wine: device broadcasts as the control handler receives
// them, the certificate purge against a real system store, the search-path clean-up against a
// real registry value, and the client launch.
#include <windows.h>
#include <dbt.h>
#include <stddef.h>
#include <string.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "keysrv_win.h"
#include "test_certs.h"

using namespace uk::keysrv;

namespace {

const GUID kCdRomClass = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kDiskClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const wchar_t kTokenCdRom[] =
    L"\\\\?\\USBSTOR#CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00#7&1a2b3c4d&0#"
    L"{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kTokenDisk[] =
    L"\\\\?\\USBSTOR#Disk&Ven_MARVO&Prod_UKEY&Rev_1.00#7&1a2b3c4d&0#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kOtherCdRom[] =
    L"\\\\?\\USBSTOR#CdRom&Ven_Generic&Prod_Flash&Rev_1.00#7&99&0#"
    L"{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

// A device-interface broadcast exactly as the system hands it over: header, class, name.
std::vector<uint8_t> broadcast(const GUID &cls, const wchar_t *name) {
  size_t chars = wcslen(name) + 1;
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
  std::vector<uint8_t> buf(size);
  auto *b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(buf.data());
  b->dbcc_size = static_cast<DWORD>(size);
  b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  b->dbcc_classguid = cls;
  memcpy(b->dbcc_name, name, chars * sizeof(wchar_t));
  return buf;
}

struct RecordingActions : WatcherActions {
  int launches = 0;
  int purges = 0;
  void launchClient() override { ++launches; }
  void purgeCertificates() override { ++purges; }
};

TEST(DeviceBroadcast, TokenInterfacesOfEachClassMatch) {
  EXPECT_TRUE(broadcastIsToken(broadcast(kCdRomClass, kTokenCdRom).data()));
  EXPECT_TRUE(broadcastIsToken(broadcast(kDiskClass, kTokenDisk).data()));
  EXPECT_TRUE(broadcastIsToken(broadcast(
      kHidClass, L"\\\\?\\HID#VID_0B0C&PID_10AE#7&2f3b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}")
                                   .data()));
  EXPECT_FALSE(broadcastIsToken(broadcast(kCdRomClass, kOtherCdRom).data()));
  // The class decides the rule: a HID name under the disk class, a storage name under HID.
  EXPECT_FALSE(broadcastIsToken(broadcast(kHidClass, kTokenCdRom).data()));
  EXPECT_FALSE(broadcastIsToken(broadcast(kDiskClass, L"\\\\?\\HID#VID_0B0C&PID_10AE#7#{x}").data()));
}

TEST(DeviceBroadcast, MalformedRecordsDoNotMatch) {
  EXPECT_FALSE(broadcastIsToken(nullptr));
  // A volume broadcast is not an interface broadcast, whatever follows its header.
  auto volume = broadcast(kCdRomClass, kTokenCdRom);
  reinterpret_cast<DEV_BROADCAST_HDR *>(volume.data())->dbch_devicetype = DBT_DEVTYP_VOLUME;
  EXPECT_FALSE(broadcastIsToken(volume.data()));
  // A record size that cuts the name before its second "&" hides the vendor part.
  auto cut = broadcast(kCdRomClass, kTokenCdRom);
  reinterpret_cast<DEV_BROADCAST_HDR *>(cut.data())->dbch_size =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 20 * sizeof(wchar_t);
  EXPECT_FALSE(broadcastIsToken(cut.data()));
  auto tiny = broadcast(kCdRomClass, kTokenCdRom);
  reinterpret_cast<DEV_BROADCAST_HDR *>(tiny.data())->dbch_size = 8;
  EXPECT_FALSE(broadcastIsToken(tiny.data()));
  // A name longer than the 256-byte conversion buffer.
  std::wstring longName = L"\\\\?\\USBSTOR#CdRom&Ven_KESTRA&" + std::wstring(300, L'x');
  EXPECT_FALSE(broadcastIsToken(broadcast(kCdRomClass, longName.c_str()).data()));
}

TEST(DeviceBroadcast, UnterminatedNameIsReadOnlyWithinTheRecord) {
  // Place a record whose name has no terminator right before an inaccessible page: reading past
  // dbcc_size faults.
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  auto *pages = static_cast<uint8_t *>(
      VirtualAlloc(nullptr, 2 * si.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(nullptr, pages);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
  size_t chars = wcslen(kTokenCdRom);  // no terminator
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
  auto *b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(pages + si.dwPageSize - size);
  b->dbcc_size = static_cast<DWORD>(size);
  b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  b->dbcc_reserved = 0;
  b->dbcc_classguid = kCdRomClass;
  memcpy(b->dbcc_name, kTokenCdRom, chars * sizeof(wchar_t));
  EXPECT_TRUE(broadcastIsToken(b));
  VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(DeviceEvents, ArrivalsAndRemovalsDriveLaunchAndPurge) {
  ArrivalCounter counter;
  RecordingActions actions;
  auto cdrom = broadcast(kCdRomClass, kTokenCdRom);
  auto disk = broadcast(kDiskClass, kTokenDisk);
  auto other = broadcast(kCdRomClass, kOtherCdRom);

  handleDeviceEvent(DBT_DEVICEARRIVAL, other.data(), counter, actions);
  EXPECT_EQ(0, actions.launches);
  EXPECT_EQ(0u, counter.count());

  // Removal while nothing arrived does nothing.
  handleDeviceEvent(DBT_DEVICEREMOVECOMPLETE, cdrom.data(), counter, actions);
  EXPECT_EQ(0, actions.purges);

  handleDeviceEvent(DBT_DEVICEARRIVAL, cdrom.data(), counter, actions);
  handleDeviceEvent(DBT_DEVICEARRIVAL, disk.data(), counter, actions);
  EXPECT_EQ(2, actions.launches);
  EXPECT_EQ(2u, counter.count());

  // Query and pending removals and a foreign removal are not removals of the token.
  handleDeviceEvent(DBT_DEVICEQUERYREMOVE, cdrom.data(), counter, actions);
  handleDeviceEvent(DBT_DEVICEREMOVEPENDING, cdrom.data(), counter, actions);
  handleDeviceEvent(DBT_DEVICEREMOVECOMPLETE, other.data(), counter, actions);
  EXPECT_EQ(2u, counter.count());

  handleDeviceEvent(DBT_DEVICEREMOVECOMPLETE, disk.data(), counter, actions);
  EXPECT_EQ(1u, counter.count());
  EXPECT_EQ(0, actions.purges);
  handleDeviceEvent(DBT_DEVICEREMOVECOMPLETE, cdrom.data(), counter, actions);
  EXPECT_EQ(0u, counter.count());
  EXPECT_EQ(1, actions.purges);
  EXPECT_EQ(2, actions.launches);
}

// --- Certificate purge ---------------------------------------------------------------------

const char kTestStore[] = "UkKeySrvPurgeTest";

HCERTSTORE openTestStore() { return CertOpenSystemStoreA(0, kTestStore); }

void emptyStore(HCERTSTORE store) {
  PCCERT_CONTEXT c;
  while ((c = CertEnumCertificatesInStore(store, nullptr)) != nullptr)
    CertDeleteCertificateFromStore(c);
  CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

void addCert(HCERTSTORE store, uint8_t serial, const wchar_t *provider) {
  std::vector<uint8_t> der = testcerts::makeCertificate(serial, "UKey purge test");
  PCCERT_CONTEXT ctx = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_NEW, &ctx))
      << GetLastError();
  if (provider) {
    CRYPT_KEY_PROV_INFO info;
    ZeroMemory(&info, sizeof(info));
    info.pwszContainerName = const_cast<wchar_t *>(L"UkKeySrvPurgeTestContainer");
    info.pwszProvName = const_cast<wchar_t *>(provider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  }
  CertFreeCertificateContext(ctx);
  ASSERT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));
}

std::set<int> serialsIn(HCERTSTORE store) {
  std::set<int> serials;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr)
    if (c->pCertInfo->SerialNumber.cbData >= 1) serials.insert(c->pCertInfo->SerialNumber.pbData[0]);
  return serials;
}

class Purge : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = openTestStore();
    ASSERT_NE(nullptr, store_);
    emptyStore(store_);
  }
  void TearDown() override {
    if (!store_) return;
    emptyStore(store_);
    CertCloseStore(store_, 0);
  }
  HCERTSTORE store_ = nullptr;
};

TEST_F(Purge, RemovesOnlyCertificatesBoundToOurProvider) {
  addCert(store_, 1, L"Microsoft Base Cryptographic Provider v1.0");
  addCert(store_, 2, L"ZV UKey for ORV Cryptographic Service Provider");
  addCert(store_, 3, L"zv ukey for orv cryptographic service provider");  // adjacent to 2
  addCert(store_, 4, nullptr);
  addCert(store_, 5, L"ZV UKey for ORV Cryptographic Service Provider v2");
  addCert(store_, 6, L"ZV UKEY FOR ORV CRYPTOGRAPHIC SERVICE PROVIDER");  // the last one
  CertCloseStore(store_, 0);
  store_ = nullptr;

  EXPECT_EQ(3, purgeProviderCertificates(kTestStore));

  store_ = openTestStore();
  ASSERT_NE(nullptr, store_);
  EXPECT_EQ((std::set<int>{1, 4, 5}), serialsIn(store_));
}

TEST_F(Purge, EmptyStoreAndStoreOfOursOnly) {
  EXPECT_EQ(0, purgeProviderCertificates(kTestStore));
  addCert(store_, 7, L"ZV UKey for ORV Cryptographic Service Provider");
  addCert(store_, 8, L"ZV UKey for ORV Cryptographic Service Provider");
  CertCloseStore(store_, 0);
  store_ = nullptr;
  EXPECT_EQ(2, purgeProviderCertificates(kTestStore));
  store_ = openTestStore();
  ASSERT_NE(nullptr, store_);
  EXPECT_TRUE(serialsIn(store_).empty());
}

// --- Search path ---------------------------------------------------------------------------

const char kTestEnvKey[] = "Software\\UkKeySrvTest\\Environment";
const char kProgram[] = "F:\\Prog\\Svc\\ORV_KELM_KeySrv.exe";

class SearchPathValue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kTestEnvKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key_, nullptr));
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestEnvKey);
  }
  void put(DWORD type, const std::string &value, bool terminated = true) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "Path", 0, type,
                                            reinterpret_cast<const BYTE *>(value.c_str()),
                                            static_cast<DWORD>(value.size() + (terminated ? 1 : 0))));
  }
  std::string get(DWORD *type) {
    std::vector<char> buf(20000);
    DWORD size = static_cast<DWORD>(buf.size());
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Path", nullptr, type,
                                              reinterpret_cast<BYTE *>(buf.data()), &size));
    return std::string(buf.data(), strnlen(buf.data(), size));
  }
  HKEY key_ = nullptr;
};

TEST_F(SearchPathValue, RemovesTheEntryAndKeepsTheType) {
  put(REG_EXPAND_SZ, "E:\\A;F:\\Prog\\Svc;G:\\B");
  EXPECT_TRUE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, kProgram));
  DWORD type = 0;
  EXPECT_EQ("E:\\A;G:\\B", get(&type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);

  put(REG_SZ, "%SystemRoot%;E:\\A;F:\\Prog\\Svc");
  EXPECT_TRUE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, kProgram));
  EXPECT_EQ("%SystemRoot%;E:\\A;", get(&type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(SearchPathValue, LeavesLookalikeEntriesAlone) {
  const std::string value = "E:\\A;F:\\Prog\\Svc2;F:\\Prog\\Svc\\bin;G:\\F:\\Prog\\Svc";
  put(REG_EXPAND_SZ, value);
  EXPECT_FALSE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, kProgram));
  DWORD type = 0;
  EXPECT_EQ(value, get(&type));
}

TEST_F(SearchPathValue, UnterminatedDataIsReadWithinItsSize) {
  put(REG_SZ, "E:\\A;F:\\Prog\\Svc;G:\\B", false);
  EXPECT_TRUE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, kProgram));
  DWORD type = 0;
  EXPECT_EQ("E:\\A;G:\\B", get(&type));
}

TEST_F(SearchPathValue, OversizeValueOrMissingKeyIsLeftUntouched) {
  std::string big = "F:\\Prog\\Svc;" + std::string(6000, 'x');
  put(REG_EXPAND_SZ, big);
  EXPECT_FALSE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, kProgram));
  DWORD type = 0;
  EXPECT_EQ(big, get(&type));
  EXPECT_FALSE(removeFromSearchPath(HKEY_CURRENT_USER, "Software\\UkKeySrvTest\\NoSuchKey", kProgram));
  EXPECT_FALSE(removeFromSearchPath(HKEY_CURRENT_USER, kTestEnvKey, "NoDirectory.exe"));
}

// --- Launcher ------------------------------------------------------------------------------

std::string binDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of('\\') + 1);
}

TEST(Launcher, ClientPathIsUnderProgramFiles) {
  char path[MAX_PATH + 64];
  ASSERT_TRUE(clientPath(path, sizeof(path)));
  char programFiles[MAX_PATH];
  ASSERT_TRUE(ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH));
  EXPECT_EQ(std::string(programFiles) + "\\ORVToken\\KELM\\ORV_KELM_Client.exe", path);
  char small[16];
  EXPECT_FALSE(clientPath(small, sizeof(small)));
}

TEST(Launcher, StartsTheProgramWithMinAndNormalShow) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string out = std::string(temp) + "uk_keysrv_probe_" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(out.c_str());
  SetEnvironmentVariableA("UK_PROBE_OUT", out.c_str());
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
  ASSERT_TRUE(launchAsUser(token, (binDir() + "keysrv_probe.exe").c_str())) << GetLastError();
  CloseHandle(token);
  std::string text;
  for (int i = 0; i < 100 && text.empty(); ++i) {
    Sleep(100);
    HANDLE f = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    char buf[512];
    DWORD got = 0;
    ReadFile(f, buf, sizeof(buf), &got, nullptr);
    CloseHandle(f);
    text.assign(buf, got);
    if (text.find('\n') == std::string::npos) text.clear();  // not finished writing
  }
  DeleteFileA(out.c_str());
  EXPECT_EQ("cmdline= /min|flags=1|show=1\n", text);
  EXPECT_FALSE(launchAsUser(GetCurrentProcess(), (binDir() + "no_such_program.exe").c_str()));
}

TEST(Launcher, FindsTheTokenOfARunningShell) {
  // A copy of the probe named EXPLORER.EXE stands in for the shell (Wine may run its own).
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "uk_keysrv_shell_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string shell = dir + "\\explorer.exe";
  ASSERT_TRUE(CopyFileA((binDir() + "keysrv_probe.exe").c_str(), shell.c_str(), FALSE));
  std::string cmd = "\"" + shell + "\" wait";
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(CreateProcessA(shell.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi));
  Sleep(300);
  HANDLE token = openShellToken();
  EXPECT_NE(nullptr, token);
  if (token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    EXPECT_GT(size, 0u);
    CloseHandle(token);
  }
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  DeleteFileA(shell.c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
