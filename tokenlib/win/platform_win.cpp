// Win32 skin: the host services the core needs, and the choice of device bus.
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

class WinHost : public Host {
 public:
  bool isNtFamily() override { return !(GetVersion() & 0x80000000u); }
  bool useBrokeredChannel() override { return false; }
  MutexFailure openDeviceMutex(const char *, uintptr_t *, uint32_t *error) override {
    *error = ERROR_CALL_NOT_IMPLEMENTED;
    return MutexFailure::Create;
  }
  bool waitDeviceMutex(uintptr_t, uint32_t) override { return false; }
  void releaseDeviceMutex(uintptr_t) override {}
  void closeDeviceMutex(uintptr_t) override {}
  int channelCycle(const uint8_t *, uint32_t, uint8_t *) override { return -1; }
  void sendProgress(void *window) override {
    SendMessageW(static_cast<HWND>(window), WM_USER + 5, 0, 0);
  }
};

}  // namespace

DeviceBus *defaultBus() {
  static NoDeviceBus bus;
  return &bus;
}
Host *defaultHost() {
  static WinHost host;
  return &host;
}
}  // namespace uk
