// Response handling of the send operation on arbitrary bytes from the device: the frame check,
// secure-messaging unwrapping (MAC check, decipher, inner length) and the capacity check.
//
// Input: byte 0 selects the secure-messaging flags (bits 0-1), whether the command is wrapped
// (bit 2) and the caller's capacity (bits 3-7, in 64-byte steps); the rest is what the device
// answers to the command.
#include <cstring>

#include "uk_platform.h"
#include "uk_transport.h"

namespace {

class ReplayBus : public uk::DeviceBus {
 public:
  const uint8_t *data = nullptr;
  size_t size = 0;
  int reads = 0;
  bool listUsbInterfaces(char (*)[256], uint32_t, uint32_t *found) override {
    *found = 0;
    return true;
  }
  uint32_t firstChild(const char *, char *, uint32_t) override { return 13; }
  uint32_t interfacePath(const char *, uk::DevClass, char *, uint32_t, const char **) override {
    return 2;
  }
  uint32_t open(const char *, uintptr_t *) override { return 2; }
  uint32_t scsi(uintptr_t, const uint8_t *, bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    if (!dataIn) {
      *transferred = len;
      return 0;
    }
    if (reads++ == 0 && wrappedCommand) {
      // The card challenge that precedes a wrapped command.
      static const uint8_t challenge[12] = {0x00, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x00};
      memcpy(buf, challenge, sizeof challenge);
      *transferred = sizeof challenge;
      return 0;
    }
    size_t n = size < len ? size : len;
    memcpy(buf, data, n);
    *transferred = uint32_t(size);  // a driver may report more than it wrote: the core must cope
    return 0;
  }
  void close(uintptr_t) override {}
  bool wrappedCommand = false;
};

class QuietHost : public uk::Host {
 public:
  bool isNtFamily() override { return true; }
  bool useBrokeredChannel() override { return false; }
  uk::MutexFailure openDeviceMutex(const char *, uintptr_t *m, uint32_t *) override {
    *m = 1;
    return uk::MutexFailure::None;
  }
  bool waitDeviceMutex(uintptr_t, uint32_t) override { return true; }
  void releaseDeviceMutex(uintptr_t) override {}
  void closeDeviceMutex(uintptr_t) override {}
  int channelCycle(const uint8_t *, uint32_t, uint8_t *) override { return -1; }
  void sendProgress(void *) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static ReplayBus bus;
  static QuietHost host;
  uk::setPlatform(&bus, &host);
  uint8_t mode = data[0];
  bus.data = data + 1;
  bus.size = size - 1;
  bus.reads = 0;

  MASS_DEV_CTX dev{1, 1, 0};
  UK_USB_DEV_CTX conn;
  memset(&conn, 0, sizeof conn);
  conn.mass = &dev;
  conn.smFlags = mode & 3;
  for (int i = 0; i < 80; ++i) conn.keys[i] = uint8_t(i * 13 + 7);
  bus.wrappedCommand = (mode & 4) && conn.smFlags;
  const uint8_t apdu[] = {uint8_t((mode & 4) ? 0x84 : 0x00), 0xB0, 0x00, 0x00, 0x10};
  uint8_t resp[4096];
  uint32_t cap = uint32_t(mode >> 3) * 64 + 4;
  uint32_t rc = uk::sendApdu(&conn, apdu, sizeof apdu, resp, &cap);
  if (rc == 0 || rc >= 0x80000000u) {
    if (cap < 4 || cap > uk::kMaxResponse) __builtin_trap();
  }

  // The building blocks on their own.
  uint32_t len = 0;
  uint8_t frame[uk::kMaxResponse];
  if (uk::checkResponseFrame(data + 1, uint32_t(size - 1), &len) == 0) {
    memcpy(frame, data + 1, len);
    uk::SmContext sm{uint8_t(mode & 3), conn.keys, conn.keys + 32, conn.keys + 64};
    uk::smUnwrapResponse(sm, frame, &len);
  }
  uk::setPlatform(nullptr, nullptr);
  return 0;
}
