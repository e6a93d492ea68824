// Win32 skin: which device bus the library uses.
#include <windows.h>

#include "uk_platform.h"

namespace uk {
namespace {

class NoDeviceBus : public DeviceBus {
 public:
  bool listUsbInterfaces(char (*)[256], uint32_t, uint32_t *found) override {
    *found = 0;
    return true;
  }
  uint32_t firstChild(const char *, char *, uint32_t) override { return ERROR_FILE_NOT_FOUND; }
  uint32_t interfacePath(const char *, DevClass, char *, uint32_t, const char **failed) override {
    *failed = "SetupDiGetClassDevsA";
    return ERROR_FILE_NOT_FOUND;
  }
  uint32_t open(const char *, uintptr_t *) override { return ERROR_FILE_NOT_FOUND; }
  uint32_t scsi(uintptr_t, const uint8_t *, bool, uint8_t *, uint32_t, uint32_t *) override {
    return ERROR_INVALID_HANDLE;
  }
  void close(uintptr_t) override {}
};

}  // namespace

DeviceBus *defaultBus() {
  static NoDeviceBus bus;
  return &bus;
}
}  // namespace uk
