// The key service's request handling on an arbitrary shared block, and the client's reading of
// an arbitrary answer. The block is written by any process that can open it, so neither side may
// read or write outside it, nor open anything but a token's interface, nor act on a handle it did
// not give out.
#include <cstring>
#include <string>

#include "uk_channel.h"

namespace {

const char kUsb[] = "\\\\?\\usb#vid_0b0c&pid_10ae#7&f&0#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kCdRom[] =
    "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#7&f&0&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

class OneTokenBus : public uk::DeviceBus {
 public:
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    *found = 0;
    if (max) strcpy(paths[(*found)++], kUsb);
    return true;
  }
  uint32_t firstChild(const char *, char *child, uint32_t cap) override {
    snprintf(child, cap, "USBSTOR\\CDROM\\7&F&0&0");
    return 0;
  }
  uint32_t interfacePath(const char *, uk::DevClass cls, char *path, uint32_t cap,
                         const char **) override {
    if (cls != uk::DevClass::CdRom) return 259;
    snprintf(path, cap, "%s", kCdRom);
    return 0;
  }
  uint32_t open(const char *path, uintptr_t *handle) override {
    if (strcmp(path, kCdRom) != 0 && strcasecmp(path, kCdRom) != 0) __builtin_trap();
    *handle = next++;
    return 0;
  }
  uint32_t scsi(uintptr_t handle, const uint8_t *cdb, bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    if (handle < 0x100 || handle >= next) __builtin_trap();  // only handles it opened
    if (dataIn) {
      memset(buf, 0x5A, len);
      *transferred = len + 100;  // a lying driver: the server must clamp
    } else {
      uint8_t sum = 0;
      for (uint32_t i = 0; i < len; ++i) sum += buf[i];  // the whole frame is readable
      sink = sum;
      *transferred = len;
    }
    return 0;
  }
  void close(uintptr_t) override {}
  uintptr_t next = 0x100;
  volatile uint8_t sink = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static OneTokenBus bus;
  static uk::BrokerHandleTable table;
  static uint8_t block[uk::Host::kBlockSize];
  size_t n = size < sizeof block ? size : sizeof block;
  memset(block, 0, sizeof block);
  memcpy(block, data, n);
  uint32_t type = 0;
  uk::serveRequest(block, sizeof block, bus, table, &type, nullptr);

  // The client side of whatever is now in the block.
  uk::ChannelAnswer a;
  if (uk::parseAnswer(block, sizeof block, &a)) {
    if (a.lengthWord > sizeof block - 4) __builtin_trap();
  }
  if (table.count() > uk::BrokerHandleTable::kSlots - 2) table.closeAll(bus);
  return 0;
}
