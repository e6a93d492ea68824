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

bool virtualTokenPort(uint16_t *port) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  char value[64];
  DWORD type = 0, len = sizeof value - 1;
  LONG r = RegQueryValueExA(key, "VirtualToken", nullptr, &type, reinterpret_cast<BYTE *>(value),
                            &len);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ || len >= sizeof value) return false;
  value[len] = 0;
  return simnet::parseAddress(value, port);
}

DeviceBus *choose() {
  uint16_t port = 0;
  if (virtualTokenPort(&port)) {
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
