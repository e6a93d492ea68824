#include "environment_win.h"

#include <shellapi.h>

#include <vector>

#include "guide_config.h"
#include "guide_paths.h"
#include "ui_config.h"

namespace guide {

// ---- rights and versions ------------------------------------------------------------------------

int IsUserAdministrator() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return 0;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  std::vector<BYTE> buf(size ? size : 1);
  PSID admins = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  int result = 0;
  if (size && GetTokenInformation(token, TokenGroups, buf.data(), size, &size) &&
      AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                               0, 0, 0, 0, &admins)) {
    const TOKEN_GROUPS *groups = reinterpret_cast<const TOKEN_GROUPS *>(buf.data());
    for (DWORD i = 0; i < groups->GroupCount && !result; ++i)
      if (EqualSid(groups->Groups[i].Sid, admins)) result = 1;
    FreeSid(admins);
  }
  CloseHandle(token);
  return result;
}

namespace {

template <class Fn>
Fn Kernel32(const char *name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

}  // namespace

OsVersion ReadOsVersion() {
  OsVersion v;
  OSVERSIONINFOEXW ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  bool extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&ex)) != FALSE;
  if (!extended) {
    ex = OSVERSIONINFOEXW{};
    ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&ex))) return v;
  }
  v.platformId = ex.dwPlatformId;
  v.major = ex.dwMajorVersion;
  v.minor = ex.dwMinorVersion;
  v.build = ex.dwPlatformId == kPlatformWindows9x ? (ex.dwBuildNumber & 0xFFFF) : ex.dwBuildNumber;
  ex.szCSDVersion[127] = 0;
  v.servicePack = ex.szCSDVersion;
  if (extended) {
    v.productType = ex.wProductType;
    v.suiteMask = ex.wSuiteMask;
  }

  SYSTEM_INFO si{};
  using NativeInfoFn = void(WINAPI *)(SYSTEM_INFO *);
  if (auto native = Kernel32<NativeInfoFn>("GetNativeSystemInfo")) native(&si);
  else GetSystemInfo(&si);
  v.processorArchitecture = si.wProcessorArchitecture;
  v.serverR2 = GetSystemMetrics(89 /* SM_SERVERR2 */) != 0;

  using ProductInfoFn = BOOL(WINAPI *)(DWORD, DWORD, DWORD, DWORD, DWORD *);
  if (v.major >= 6) {
    DWORD type = 0;
    if (auto productInfo = Kernel32<ProductInfoFn>("GetProductInfo"))
      if (productInfo(v.major, v.minor, 0, 0, &type)) v.productInfo = type;
  }
  return v;
}

bool ReadIeVersion(std::wstring *version) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInternetExplorerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  wchar_t buf[131] = {0};  // 260 bytes and a terminator
  DWORD size = 260, type = 0;
  LONG rc = RegQueryValueExW(key, L"Version", nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buf[size / sizeof(wchar_t) < 130 ? size / sizeof(wchar_t) : 130] = 0;
  *version = buf;
  return true;
}

// ---- trusted site and zones --------------------------------------------------------------------

namespace {

std::wstring DomainKey() { return std::wstring(kZoneMapDomainsKey) + ui::BankDomain(); }

bool WriteDword(HKEY key, const wchar_t *name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

class CRegistryZoneKey : public IZoneKey {
 public:
  explicit CRegistryZoneKey(HKEY key) : key_(key) {}
  ~CRegistryZoneKey() override { RegCloseKey(key_); }
  bool ReadDword(const wchar_t *name, uint32_t *value) override {
    DWORD v = 0, size = sizeof v, type = 0;
    if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE *>(&v), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof v)
      return false;
    *value = v;
    return true;
  }
  bool WriteDword(const wchar_t *name, uint32_t value) override {
    return guide::WriteDword(key_, name, value);
  }

 private:
  HKEY key_;
};

}  // namespace

int IsBankSiteTrusted() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (DomainKey() + L"\\www").c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return 1;
  LONG rc = RegQueryValueExW(key, L"https", nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? 0 : 1;
}

int TrustBankSite() {
  HKEY domain, www;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, DomainKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &domain, nullptr) != ERROR_SUCCESS)
    return 2;
  LONG rc = RegCreateKeyExW(domain, L"www", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &www, nullptr);
  RegCloseKey(domain);
  if (rc != ERROR_SUCCESS) return 2;
  bool ok = WriteDword(www, L"https", kTrustedSitesZone) && WriteDword(www, L"http", kTrustedSitesZone);
  RegCloseKey(www);
  return ok ? 0 : 2;
}

std::unique_ptr<IZoneKey> CRegistryZoneStore::OpenZone(int zone, bool forWriting) {
  HKEY key;
  std::wstring path = kZonesKey + std::to_wstring(zone);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, forWriting ? KEY_ALL_ACCESS : KEY_READ,
                    &key) != ERROR_SUCCESS)
    return nullptr;
  return std::unique_ptr<IZoneKey>(new CRegistryZoneKey(key));
}

// ---- installation --------------------------------------------------------------------------------

int CheckKeyService() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return int(GetLastError());
  SC_HANDLE service = OpenServiceW(manager, kKeyServiceName, SERVICE_ALL_ACCESS);
  if (!service) {
    DWORD e = GetLastError();
    CloseServiceHandle(manager);
    return e == ERROR_SERVICE_DOES_NOT_EXIST ? kServiceMissing : kServiceUnqueryable;
  }
  int result = 0;
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) {
    result = kServiceUnqueryable;
  } else if (status.dwCurrentState != SERVICE_RUNNING && StartServiceW(service, 0, nullptr)) {
    // The token library reaches the token through the service: give it up to ten seconds to
    // run before the next step lists tokens (a service that stays stopped for a second has
    // failed to start). The result stays 0 either way.
    for (int i = 0; i < 100; ++i) {
      if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_RUNNING ||
          (status.dwCurrentState == SERVICE_STOPPED && i >= 10))
        break;
      Sleep(100);
    }
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}

int CheckClientInstalled() {
  std::wstring client = ClientProgramPath();
  DWORD attributes = client.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(client.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 1;
  RegCloseKey(key);
  return CheckKeyService() == 0 ? 0 : 1;
}

// ---- the environment of step 1 -------------------------------------------------------------------

int CWinEnvironment::DescribeOperatingSystem(std::wstring *text) {
  return guide::DescribeOperatingSystem(ReadOsVersion(), text);
}

int CWinEnvironment::CheckIeVersion(std::wstring *text) {
  std::wstring version;
  bool read = ReadIeVersion(&version);
  return guide::CheckIeVersion(read ? &version : nullptr, text);
}

int CWinEnvironment::CheckZoneSecurity() {
  CRegistryZoneStore store;
  return guide::CheckZoneSecurity(store);
}

int CWinEnvironment::FixZoneSecurity() {
  CRegistryZoneStore store;
  return guide::FixZoneSecurity(store);
}

std::wstring CWinEnvironment::PrepareSetupPath() {
  std::wstring folder = SetupDownloadFolder();
  if (folder.empty()) return folder;
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return L"";
  return SetupDownloadPath();
}

bool CWinEnvironment::FileExists(const std::wstring &path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace guide
