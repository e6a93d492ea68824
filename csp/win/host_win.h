// Win32 skin of the provider: the host services of the core (kernel objects, registry, user name,
// language, log, threads) and the process state DllMain sets up. The dialogs are dialogs_win.h.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "provider.h"

namespace cspwin {

constexpr char kCertChangeEventName[] = "Global\\EVENT_CERT_CHANGE_KELM_ORV";
constexpr char kClientKey[] = "SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client";
constexpr char kLogFolder[] = "d:\\kelm";
constexpr char kLogFile[] = "d:\\kelm\\orv_kelm_csp.log";

class WinHost : public csp::Host {
 public:
  // Creates (or opens) the device mutex and the certificate-change event, open to every session,
  // account and integrity level (a protected-mode browser loads the provider too); a failure
  // leaves that handle null.
  WinHost();
  ~WinHost() override;

  void lockDevice() override;
  void unlockDevice() override;
  void lockObjects() override;
  void unlockObjects() override;
  void signalCertificateChange() override;
  void saveLastConnectDevice(const char *name) override;
  void saveLastContainerName(const char *name) override;
  bool userName(char *buf, size_t cap) override;
  uint32_t languageId() override;
  void logLine(const char *text) override;
  void logValue(uint32_t value) override;
  bool runThread(uint32_t (*body)(void *), void *arg, uint32_t *exitCode) override;
  void pause(uint32_t milliseconds) override;

 private:
  HANDLE deviceMutex_ = nullptr;
  HANDLE certEvent_ = nullptr;
  CRITICAL_SECTION objects_;
  bool logging_ = false;  // the log folder exists (checked once, at load)
};

// The provider of this process (null outside attach/detach).
csp::Provider *provider();

// Appends the directory of the module to the machine-wide "Path" unless it is there already.
void addModuleDirectoryToPath(HMODULE module);

}  // namespace cspwin
