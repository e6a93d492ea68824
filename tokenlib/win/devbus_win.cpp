// The real device bus: SetupAPI and the configuration manager find the token and its
// mass-storage child, CreateFileA opens the CD-ROM (or disk) interface and the vendor command
// goes down as a SCSI pass-through.
#include <windows.h>

#include <cfgmgr32.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <stddef.h>
#include <string.h>

#include "uk_devbus_win.h"

namespace uk {
namespace {

const GUID kUsbDeviceClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kCdRomClass = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kDiskClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr ULONG kBusRelations = 0x20;  // CM_GETIDLIST_FILTER_BUSRELATIONS
constexpr ULONG kScsiTimeoutSeconds = 90000;

// The platform's SCSI_PASS_THROUGH_DIRECT (44 bytes on 32-bit Windows, 56 on 64-bit, where
// DataBuffer is a 64-bit pointer at offset 24), then room for the sense data: one buffer is the
// input and the output of the request. On 32-bit Windows the sense data sits at offset 48 of an
// 80-byte buffer, as the token's driver has always received it.
struct PassThroughBuffer {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};
#if defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36, "pass-through header");
static_assert(offsetof(PassThroughBuffer, sense) == 60, "sense offset");
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "pass-through header");
static_assert(offsetof(PassThroughBuffer, sense) == 48, "sense offset");
static_assert(sizeof(PassThroughBuffer) == 80, "pass-through buffer");
#endif

// Interface path of one interface of a device information set.
bool detailPath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *ifd, char *path, uint32_t cap,
                DWORD *error) {
  DWORD need = 0;
  SetupDiGetDeviceInterfaceDetailA(set, ifd, nullptr, 0, &need, nullptr);
  if (need < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || need > 4096) {
    *error = GetLastError();
    return false;
  }
  alignas(8) char buffer[4096];
  auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set, ifd, detail, need, nullptr, nullptr)) {
    *error = GetLastError();
    return false;
  }
  size_t n = strnlen(detail->DevicePath, need);
  if (n + 1 > cap) n = cap - 1;
  memcpy(path, detail->DevicePath, n);
  path[n] = 0;
  return true;
}

class Win32Bus : public DeviceBus {
 public:
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    *found = 0;
    HDEVINFO set = SetupDiGetClassDevsA(&kUsbDeviceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    for (DWORD i = 0; i < max; ++i) {
      SP_DEVICE_INTERFACE_DATA ifd;
      ifd.cbSize = sizeof ifd;
      if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceClass, i, &ifd)) break;
      DWORD error = 0;
      if (detailPath(set, &ifd, paths[*found], 256, &error)) ++*found;
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
  }

  uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) override {
    ULONG len = 0;  // the size call may leave it untouched
    CONFIGRET cr = CM_Get_Device_ID_List_SizeA(&len, instanceId, kBusRelations);
    if (cr != CR_SUCCESS) return cr;
    if (len < 2 || len > 65536) return CR_NO_SUCH_VALUE;
    char *list = static_cast<char *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, len + 2));
    if (!list) return CR_OUT_OF_MEMORY;
    cr = CM_Get_Device_ID_ListA(instanceId, list, len, kBusRelations);
    if (cr == CR_SUCCESS && !list[0]) cr = CR_NO_SUCH_VALUE;
    if (cr == CR_SUCCESS) {
      size_t n = strnlen(list, len);
      if (n + 1 > cap) n = cap - 1;
      memcpy(child, list, n);
      child[n] = 0;
    }
    HeapFree(GetProcessHeap(), 0, list);
    return cr;
  }

  uint32_t interfacePath(const char *deviceId, DevClass cls, char *path, uint32_t cap,
                         const char **failedCall) override {
    const GUID *guid = cls == DevClass::CdRom ? &kCdRomClass : &kDiskClass;
    HDEVINFO set =
        SetupDiGetClassDevsA(guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
      *failedCall = "SetupDiGetClassDevsA";
      return GetLastError();
    }
    uint32_t rc = 0;
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    SP_DEVICE_INTERFACE_DATA ifd;
    ifd.cbSize = sizeof ifd;
    DWORD error = 0;
    if (!SetupDiOpenDeviceInfoA(set, deviceId, nullptr, 0, &info)) {
      *failedCall = "SetupDiOpenDeviceInfoA";
      rc = GetLastError();
    } else if (!SetupDiEnumDeviceInterfaces(set, &info, guid, 0, &ifd)) {
      *failedCall = "SetupDiGetDeviceInterfaceDetailA";
      rc = GetLastError();
    } else if (!detailPath(set, &ifd, path, cap, &error)) {
      *failedCall = "SetupDiGetDeviceInterfaceDetailA";
      rc = error;
    }
    if (rc == 0 && !path[0]) rc = ERROR_FILE_NOT_FOUND;
    SetupDiDestroyDeviceInfoList(set);
    return rc;
  }

  uint32_t open(const char *path, uintptr_t *handle) override {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    *handle = reinterpret_cast<uintptr_t>(h);
    return 0;
  }

  uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    PassThroughBuffer b;
    memset(&b, 0, sizeof b);
    b.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    b.sptd.PathId = 0;
    b.sptd.TargetId = 1;
    b.sptd.Lun = 0;
    b.sptd.CdbLength = 10;
    b.sptd.SenseInfoLength = 24;
    b.sptd.DataIn = dataIn ? 1 : 0;
    b.sptd.DataTransferLength = len;
    b.sptd.TimeOutValue = kScsiTimeoutSeconds;
    b.sptd.DataBuffer = buf;
    b.sptd.SenseInfoOffset = offsetof(PassThroughBuffer, sense);
    memcpy(b.sptd.Cdb, cdb, 10);
    DWORD returned = 0;
    if (!DeviceIoControl(reinterpret_cast<HANDLE>(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &b,
                         sizeof b, &b, sizeof b, &returned, nullptr))
      return GetLastError();
    *transferred = b.sptd.DataTransferLength;
    return 0;
  }

  void close(uintptr_t handle) override { CloseHandle(reinterpret_cast<HANDLE>(handle)); }
};

}  // namespace

DeviceBus *win32Bus() {
  static Win32Bus bus;
  return &bus;
}
}  // namespace uk
