// Win32 skin: the host services the core needs (version, per-device mutex, brokered channel
// client, progress messages).
#include <windows.h>

#include "uk_platform.h"

namespace uk {
namespace {

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

Host *defaultHost() {
  static WinHost host;
  return &host;
}
}  // namespace uk
