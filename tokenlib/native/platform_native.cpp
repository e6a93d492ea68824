// Native (Linux) skin, used by the native tests and tools. There is no device stack here: the
// default bus lists nothing, and tests plug in the virtual bus of the token emulator. The
// per-device mutex is process-local (the emulator takes a frame and its answer in one request;
// the device-exclusive mutex of the programs is the named lock of uk_native_lock.h), the
// brokered channel is not available.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include <stdlib.h>

#include "uk_platform.h"
#include "uk_simnet.h"
#include "uk_virtual_bus.h"

namespace uk {
namespace {

class NoDeviceBus : public DeviceBus {
 public:
  bool listUsbInterfaces(char (*)[256], uint32_t, uint32_t *found) override {
    *found = 0;
    return true;
  }
  uint32_t firstChild(const char *, char *, uint32_t) override { return 2; }
  uint32_t interfacePath(const char *, DevClass, char *, uint32_t, const char **failed) override {
    *failed = "SetupDiGetClassDevsA";
    return 2;
  }
  uint32_t open(const char *, uintptr_t *) override { return 2; }
  uint32_t scsi(uintptr_t, const uint8_t *, bool, uint8_t *, uint32_t, uint32_t *) override {
    return 6;
  }
  void close(uintptr_t) override {}
};

class NativeHost : public Host {
 public:
  bool isNtFamily() override { return true; }
  bool useBrokeredChannel() override { return false; }

  MutexFailure openDeviceMutex(const char *name, uintptr_t *mutex, uint32_t *) override {
    std::lock_guard<std::mutex> lock(tableLock_);
    *mutex = reinterpret_cast<uintptr_t>(&table_[name]);
    return MutexFailure::None;
  }
  bool waitDeviceMutex(uintptr_t mutex, uint32_t ms) override {
    return reinterpret_cast<std::timed_mutex *>(mutex)->try_lock_for(std::chrono::milliseconds(ms));
  }
  void releaseDeviceMutex(uintptr_t mutex) override {
    reinterpret_cast<std::timed_mutex *>(mutex)->unlock();
  }
  void closeDeviceMutex(uintptr_t) override {}
  int channelCycle(const uint8_t *, uint32_t, uint8_t *) override { return -1; }
  void sendProgress(void *) override {}

 private:
  std::mutex tableLock_;
  std::map<std::string, std::timed_mutex> table_;
};

}  // namespace

// The virtual bus of the token emulator when UK_VIRTUAL_TOKEN=127.0.0.1:PORT is set (tools run
// against a running emulator), else no devices.
DeviceBus *defaultBus() {
  static NoDeviceBus none;
  static DeviceBus *const chosen = []() -> DeviceBus * {
    uint16_t port = 0;
    if (simnet::parseAddress(getenv("UK_VIRTUAL_TOKEN"), &port)) {
      static VirtualBus virtualBus(port);
      return &virtualBus;
    }
    return &none;
  }();
  return chosen;
}
Host *defaultHost() {
  static NativeHost host;
  return &host;
}
}  // namespace uk
