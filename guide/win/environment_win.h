// Step 1 on Windows: the checks and repairs of the computer through the registry, the service
// manager, the shell folders and the system's version queries, and the client's repair with the
// download dialog and the setup program.
#pragma once
#include <windows.h>

#include <string>

#include "browser_settings.h"
#include "guide_steps.h"
#include "os_description.h"

namespace guide {

// 1 when the thread's (else the process's) token holds the built-in Administrators group.
int IsUserAdministrator();
// What the system reports about its version, processor and edition.
OsVersion ReadOsVersion();
// Internet Explorer's "Version" string; false when the key or the value cannot be read.
bool ReadIeVersion(std::wstring *version);

// 0 when the bank's domain has an "https" entry in the trusted-site map, else 1.
int IsBankSiteTrusted();
// Writes the bank's domain into the trusted-sites zone ("https" and "http" = 2): 0, or 2.
int TrustBankSite();

// The current user's zone keys in the registry.
class CRegistryZoneStore : public IZoneStore {
 public:
  std::unique_ptr<IZoneKey> OpenZone(int zone, bool forWriting) override;
};

// Results of CheckKeyService besides the service manager's own error.
constexpr int kServiceMissing = 4, kServiceUnqueryable = 5;
// The key service: 0 running (or started now), kServiceMissing, kServiceUnqueryable, or the
// system error of opening the service manager.
int CheckKeyService();
// 0 when the client program exists, the provider is registered (its key opens with full
// access) and the key service runs; else 1.
int CheckClientInstalled();

// Starts the setup (quoted path and a space, a new console, shown normally) and waits for it to
// end; false when it could not be started or is not the bank's signed program (checked as it is
// started).
bool RunSetupAndWait(const std::wstring &path);

// IEnvironment on this computer. owner: the window the download dialog belongs to (the step-1
// page); cancel: an event that, once set, ends the waits of this step sequence.
class CWinEnvironment : public IEnvironment {
 public:
  explicit CWinEnvironment(HWND owner) : owner_(owner) {}

  bool IsUserAdministrator() override { return guide::IsUserAdministrator() != 0; }
  int DescribeOperatingSystem(std::wstring *text) override;
  int CheckIeVersion(std::wstring *text) override;
  NetworkResult CheckNetwork() override;
  int IsBankSiteTrusted() override { return guide::IsBankSiteTrusted(); }
  int TrustBankSite() override { return guide::TrustBankSite(); }
  int CheckZoneSecurity() override;
  int FixZoneSecurity() override;
  int CheckClientInstalled() override { return guide::CheckClientInstalled(); }

  std::wstring PrepareSetupPath() override;
  bool FileExists(const std::wstring &path) override;
  void DeleteFile(const std::wstring &path) override { DeleteFileW(path.c_str()); }
  bool DownloadSetup(const std::wstring &path) override;
  bool IsTrustedSetup(const std::wstring &path) override;
  bool RunSetup(const std::wstring &path) override { return RunSetupAndWait(path); }

 private:
  HWND owner_;
};

}  // namespace guide
