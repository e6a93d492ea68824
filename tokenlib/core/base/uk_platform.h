// The seams between the portable core and the operating system.
//
// DeviceBus is what the library needs from the device stack (SetupAPI, the configuration manager,
// CreateFileA, DeviceIoControl). Host is every other system service the core uses. The Win32 skin
// provides the real ones; a virtual bus reaches the token emulator instead of hardware; native
// tests plug in their own.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace uk {

enum class DevClass { CdRom, Disk };

class DeviceBus {
 public:
  virtual ~DeviceBus() = default;
  // Interface paths (zero-terminated, at most 255 characters) of the present devices of the USB
  // device interface class, interface indexes 0 to max-1. Returns false when the device set
  // cannot be obtained at all.
  virtual bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) = 0;
  // First device identifier in the bus relations of a device instance; 0 or a system error.
  virtual uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) = 0;
  // Interface path of a device in the CD-ROM or disk interface class; 0 or a system error, with
  // the name of the failing call in *failedCall.
  virtual uint32_t interfacePath(const char *deviceId, DevClass cls, char *path, uint32_t cap,
                                 const char **failedCall) = 0;
  // Opens an interface path for read and write; 0 or a system error.
  virtual uint32_t open(const char *path, uintptr_t *handle) = 0;
  // One vendor SCSI command: cdb is the 10-byte command block, dataIn the direction. On return
  // *transferred holds the driver's byte count. 0 or a system error.
  virtual uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf,
                        uint32_t len, uint32_t *transferred) = 0;
  virtual void close(uintptr_t handle) = 0;
};

enum class MutexFailure { None, Open, Create };

class Host {
 public:
  virtual ~Host() = default;
  // False on a system whose version word has the high bit set (not NT-based).
  virtual bool isNtFamily() = 0;
  // True where device access goes through the key service (NT major version above 5).
  virtual bool useBrokeredChannel() = 0;

  // Per-device mutex named after the device path: open, else create (not owned).
  virtual MutexFailure openDeviceMutex(const char *name, uintptr_t *mutex, uint32_t *error) = 0;
  // True when the mutex was obtained within ms milliseconds.
  virtual bool waitDeviceMutex(uintptr_t mutex, uint32_t ms) = 0;
  virtual void releaseDeviceMutex(uintptr_t mutex) = 0;
  virtual void closeDeviceMutex(uintptr_t mutex) = 0;

  // One request cycle of the brokered channel: writes request (reqLen bytes) at the start of the
  // shared block, signals the key service, waits for its answer and copies the whole block
  // (blockSize bytes) to answerBlock. 0, or -1 when the channel is not there or fails.
  static constexpr uint32_t kBlockSize = 10240;
  virtual int channelCycle(const uint8_t *request, uint32_t reqLen, uint8_t *answerBlock) = 0;

  // Progress message 0x405 to a window (the window may be null).
  virtual void sendProgress(void *window) = 0;
};

// The bus and host in use. The Win32 skin chooses them at first use (the virtual bus only when the
// machine-wide setting names an emulator); tests may set their own.
DeviceBus &bus();
Host &host();
void setPlatform(DeviceBus *bus, Host *host);

// Provided by the skin the core is linked with.
DeviceBus *defaultBus();
Host *defaultHost();

}  // namespace uk
