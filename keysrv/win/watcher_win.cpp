// Device watcher: registration for the token's interface classes and decoding of the device
// broadcasts the control handler receives.
#include <windows.h>
#include <dbt.h>
#include <stddef.h>

#include "keysrv_win.h"

namespace uk {
namespace keysrv {
namespace {

const GUID kCdRomClass = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kDiskClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Interface names are converted into a buffer of this size (with the terminator).
const int kNameBytes = 256;

}  // namespace

bool registerDeviceNotifications(SERVICE_STATUS_HANDLE statusHandle) {
  const GUID *classes[] = {&kCdRomClass, &kDiskClass};
  for (const GUID *cls : classes) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroMemory(&filter, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = *cls;
    if (!RegisterDeviceNotificationA(reinterpret_cast<HANDLE>(statusHandle), &filter,
                                     DEVICE_NOTIFY_SERVICE_HANDLE))
      return false;
  }
  return true;
}

bool broadcastIsToken(const void *eventData) {
  if (!eventData) return false;
  const DEV_BROADCAST_HDR *hdr = static_cast<const DEV_BROADCAST_HDR *>(eventData);
  const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (hdr->dbch_size < nameOffset || hdr->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
    return false;
  const DEV_BROADCAST_DEVICEINTERFACE_W *iface =
      static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(eventData);
  // The name runs to the terminator or to the end of the record, whichever comes first.
  size_t maxChars = (hdr->dbch_size - nameOffset) / sizeof(WCHAR);
  size_t chars = 0;
  while (chars < maxChars && iface->dbcc_name[chars]) ++chars;
  if (chars == 0) return false;
  char name[kNameBytes];
  int n = WideCharToMultiByte(CP_ACP, 0, iface->dbcc_name, static_cast<int>(chars), name,
                              kNameBytes - 1, nullptr, nullptr);
  if (n <= 0) return false;  // empty, or longer than the buffer
  name[n] = '\0';
  bool hid = IsEqualGUID(iface->dbcc_classguid, kHidClass) != 0;
  return interfaceNameMatches(hid, name);
}

void handleDeviceEvent(DWORD eventType, const void *eventData, ArrivalCounter &counter,
                       WatcherActions &actions) {
  if (eventType != DBT_DEVICEARRIVAL && eventType != DBT_DEVICEREMOVECOMPLETE) return;
  counter.onDeviceEvent(eventType, broadcastIsToken(eventData), actions);
}

void ServiceActions::launchClient() { keysrv::launchClient(); }
void ServiceActions::purgeCertificates() { purgeProviderCertificates("My"); }

}  // namespace keysrv
}  // namespace uk
