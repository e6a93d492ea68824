// Win32 skin: which device bus the library uses. The virtual bus (the token emulator) only when
// the machine-wide value HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer, "VirtualToken"
// (REG_SZ "127.0.0.1:PORT", writable by administrators only) names it; otherwise the real
// SetupAPI/SCSI pass-through bus. The value is read once, at the first device access.
#include <windows.h>

#include "uk_devbus_win.h"
#include "uk_platform.h"
#include "uk_simnet.h"
#include "uk_virtual_bus.h"

namespace uk {
namespace {

DeviceBus *choose() {
  uint16_t port = 0;
  if (simnet::settingAddress(&port)) {
    static VirtualBus virtualBus(port);
    return &virtualBus;
  }
  return win32Bus();
}

}  // namespace

DeviceBus *defaultBus() {
  static DeviceBus *const chosen = choose();
  return chosen;
}
}  // namespace uk
