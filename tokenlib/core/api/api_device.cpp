// Listing, connecting and raw exchange.
#include <stdio.h>
#include <string.h>

#include "uk_frame.h"
#include "uk_transport.h"

using namespace uk;

namespace {

constexpr uint8_t kModelCode = 0x35;

// Whether the token behind a freshly opened connection answers the project name.
bool answersProject(UK_USB_DEV_CTX *conn, const char *project) {
  static const uint8_t kQuery[5] = {0x00, 0xF0, 0x00, 0x05, 0x10};
  uint8_t resp[260];
  uint32_t len = sizeof resp;
  if (sendApdu(conn, kQuery, sizeof kQuery, resp, &len) != UKLR_OK) return false;
  char name[260];
  uint32_t n = 0;
  for (uint32_t i = 2; i + 2 < len && resp[i] != 0x00 && resp[i] != 0xFF; ++i) name[n++] = char(resp[i]);
  name[n] = 0;
  return strcmp(name, project) == 0;
}

// Carries the caller's fields of a record it already knew (same path) into the new listing.
void keepCallerState(const UK_DEV_INFO &old, UK_DEV_INFO &fresh) {
  fresh.state = old.state;
  fresh.connection = old.connection;
  fresh.callerWord = old.callerWord;
  // The lengths are the caller's: never copy more than the fields hold.
  uint8_t a = old.callerDataALen <= sizeof old.callerDataA ? old.callerDataALen
                                                           : uint8_t(sizeof old.callerDataA);
  uint8_t b = old.callerDataBLen <= sizeof old.callerDataB ? old.callerDataBLen
                                                           : uint8_t(sizeof old.callerDataB);
  memcpy(fresh.callerDataA, old.callerDataA, a);
  fresh.callerDataALen = a;
  memcpy(fresh.callerDataB, old.callerDataB, b);
  fresh.callerDataBLen = b;
}

}  // namespace

extern "C" {

uint32_t UKAPI zksTokenListDevices(const char *projectName, UK_DEV_INFO *devs, uint32_t *count) {
  ExportFrame frame("zksTokenListDevices");
  if (!projectName || !count) return frame.paramError();

  char paths[kMaxInterfaces][256];
  uint32_t found = kMaxInterfaces;
  uint32_t rc = listTokenPaths(paths, &found);
  if (rc) return frame.finish(rc, "uk_mass_ListDevices");

  UK_DEV_INFO fresh[kMaxInterfaces];
  memset(fresh, 0, sizeof fresh);
  uint32_t filled = 0;
  for (uint32_t i = 0; i < found; ++i) {
    UK_USB_DEV_CTX *conn = nullptr;
    rc = openConnection(paths[i], &conn);
    if (rc) return frame.finish(rc, "uk_usb_OpenDevice");
    bool ours = answersProject(conn, projectName);
    closeConnection(conn);
    if (!ours) continue;
    UK_DEV_INFO &d = fresh[filled];
    strncpy(d.devicePath, paths[i], 255);
    snprintf(d.displayName, sizeof d.displayName, "ZV-UK Q57: %d ", int(filled));
    d.modelCode = kModelCode;
    ++filled;
  }

  uint32_t capacity = devs ? *count : 0;
  if (capacity < filled) {
    *count = found;
    return frame.finish(UKLR_BUFFER_TOO_SMALL);
  }
  for (uint32_t i = 0; i < capacity; ++i) {
    if (!devs[i].devicePath[0]) continue;
    for (uint32_t j = 0; j < filled; ++j)
      if (strncmp(devs[i].devicePath, fresh[j].devicePath, sizeof fresh[j].devicePath) == 0) {
        keepCallerState(devs[i], fresh[j]);
        break;
      }
  }
  *count = filled;
  if (filled) memcpy(devs, fresh, filled * sizeof(UK_DEV_INFO));
  return frame.finish(UKLR_OK);
}

uint32_t UKAPI zksTokenConnect(UK_DEV_INFO *dev, uint32_t) {
  ExportFrame frame("zksTokenConnect");
  if (!dev) return frame.paramError();
  char path[sizeof dev->devicePath];
  memcpy(path, dev->devicePath, sizeof path);
  path[sizeof path - 1] = 0;
  UK_USB_DEV_CTX *conn = nullptr;
  uint32_t rc = openConnection(path, &conn);
  if (rc == UKLR_OK) {
    dev->connection = conn;
    dev->state = 1;
  }
  return frame.finish(rc);
}

uint32_t UKAPI zksTokenDisconnect(UK_DEV_INFO *dev) {
  ExportFrame frame("zksTokenDisconnect");
  if (!dev) return frame.paramError();
  UK_USB_DEV_CTX *conn = connectionOf(dev);
  if (!conn) return frame.finish(UKLR_PARAM_VALUE, "uk_usb_CloseDevice");
  uint32_t rc = closeConnection(conn);
  dev->connection = nullptr;
  dev->state = 0;
  return frame.finish(rc, "uk_usb_CloseDevice");
}

uint32_t UKAPI zksTokenReconnect(UK_DEV_INFO *dev, uint32_t reserved) {
  if (!dev) return UKLR_PARAM_VALUE;
  zksTokenDisconnect(dev);
  return zksTokenConnect(dev, reserved);
}

uint32_t UKAPI zksTokenTransmit(UK_DEV_INFO *dev, uint32_t flag, uint32_t cmdLen, uint8_t *buf,
                                uint32_t *respLen, uint32_t, uint32_t, uint32_t) {
  ExportFrame frame("zksTokenTransmit");
  if (!dev || !flag || !buf || !respLen) return frame.paramError();
  UK_USB_DEV_CTX *conn = connectionOf(dev);
  if (!conn) return frame.finish(UKLR_PARAM_VALUE);
  // sendApdu reads the whole command before it writes the response, so one buffer serves both.
  return frame.finish(sendApdu(conn, buf, cmdLen, buf, respLen), "uk_dev_SendAPDUCmd");
}
}
