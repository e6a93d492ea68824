// The virtual device bus: the DeviceBus seam implemented over loopback TCP to the token emulator
// (tokensim/). It presents each inserted emulator token as the real stack would:
//   USB interface  \\?\usb#vid_0b0c&pid_10ae#<serial>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}
//   child device   USBSTOR\CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00\<serial>&0   (or Disk&...)
//   CD-ROM path    \\?\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#<serial>&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}
//   disk path      \\?\usbstor#disk&ven_kestra&prod_ukey&rev_1.00#<serial>&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
// so that the library's own path handling runs unchanged. The vendor SCSI command block is
// checked as the device checks it; the write carries the request frame to the emulator and the
// read returns its response frame. A handle belongs to one insertion of the token: after a
// removal it fails as a vanished device does.
#pragma once
#include <stdint.h>

#include "uk_platform.h"

namespace uk {

class VirtualBus : public DeviceBus {
 public:
  explicit VirtualBus(uint16_t port) : port_(port) {}
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override;
  uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) override;
  uint32_t interfacePath(const char *deviceId, DevClass cls, char *path, uint32_t cap,
                         const char **failedCall) override;
  uint32_t open(const char *path, uintptr_t *handle) override;
  uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override;
  void close(uintptr_t handle) override;

  uint16_t port() const { return port_; }

  struct Token {
    char serial[33];
    uint16_t vid, pid;
    uint8_t iface;  // 0 CD-ROM, 1 disk, 2 none
    uint32_t generation;
  };
  // The emulator's inserted tokens (at most max); false when the emulator cannot be reached.
  bool listTokens(Token *out, uint32_t max, uint32_t *count);

 private:
  bool findToken(const char *serial, Token *t, bool *reached);
  uint16_t port_;
};

}  // namespace uk
