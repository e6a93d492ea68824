// A provider host that does nothing: no kernel objects, no registry, no log, no threads; only the
// language is the caller's. For the provider's dialogs driven in-process (tests, screenshots) and
// for the fuzz targets of the core.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "csp_host.h"

namespace csptest {

class QuietHost : public csp::Host {
 public:
  explicit QuietHost(uint32_t languageId = 1033) : language(languageId) {}
  void lockDevice() override {}
  void unlockDevice() override {}
  void lockObjects() override {}
  void unlockObjects() override {}
  void signalCertificateChange() override {}
  void saveLastConnectDevice(const char *) override {}
  void saveLastContainerName(const char *) override {}
  bool userName(char *, size_t) override { return false; }
  uint32_t languageId() override { return language; }
  void logLine(const char *) override {}
  void logValue(uint32_t) override {}
  bool runThread(uint32_t (*)(void *), void *, uint32_t *) override { return false; }
  void pause(uint32_t) override {}

  uint32_t language;
};

}  // namespace csptest
