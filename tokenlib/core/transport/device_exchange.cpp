// Opening and closing a token, and the frame exchange under the per-device mutex, directly on the
// device or through the key service.
#include <stdlib.h>
#include <string.h>

#include "uk_channel.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_transport.h"

namespace uk {
namespace {

constexpr uint32_t kDeviceMutexWaitMs = 120000;

void copyString(char *dst, uint32_t cap, const char *src) {
  uint32_t n = 0;
  while (src[n] && n + 1 < cap) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}


void closeDevice(MASS_DEV_CTX *dev) {
  if (dev->brokered)
    brokerDisconnect(uint32_t(dev->device));
  else
    bus().close(dev->device);
}

}  // namespace

uint32_t openConnection(const char *usbPath, UK_USB_DEV_CTX **out) {
  if (!usbPath || !out) return UKLR_PARAM_VALUE;
  *out = nullptr;
  char usb[260];
  copyString(usb, sizeof usb, usbPath);

  uint32_t w1 = 0, w2 = 0;
  uint32_t rc = isSelfToken(usb, &w1, &w2);
  if (rc) {
    log(rc == UKLR_DEV_NAME_INVALID ? "---->UKLR_DEV_NAME_INVALID......\n"
                                    : "---->uk_usb_IsSelfToken......\n");
    return rc;
  }

  // uk_mass_OpenDevice: interface path, device, device record, device mutex.
  char ifPath[260];
  rc = cdromPath(usb, ifPath, sizeof ifPath);
  if (rc) {
    log("---->GetCDROMPath ......\n");
    log("---->uk_mass_OpenDevice......\n");
    return rc;
  }

  bool brokered = host().useBrokeredChannel();
  uintptr_t handle = 0;
  uint32_t err;
  if (brokered) {
    uint32_t value = 0;
    err = brokerConnect(ifPath, &value);
    handle = value;
  } else {
    err = bus().open(ifPath, &handle);
  }
  if (err) {
    logCode("---->CreateFileA Error.Code is ", err);
    log("---->uk_mass_OpenDevice......\n");
    return UKLR_DEV_OPEN;
  }

  MASS_DEV_CTX *dev = static_cast<MASS_DEV_CTX *>(calloc(1, sizeof(MASS_DEV_CTX)));
  MASS_DEV_CTX tmp{handle, 0, uint8_t(brokered)};
  if (!dev) {
    closeDevice(&tmp);
    log("---->malloc MASS_DEV_CTX_PTR error");
    log("---->uk_mass_OpenDevice......\n");
    return UKLR_NO_MEMORY;
  }
  *dev = tmp;

  // The mutex is named after the USB path without its first five characters ("\\?\u").
  const char *mutexName = strlen(usb) > 5 ? usb + 5 : usb;
  uint32_t mutexError = 0;
  switch (host().openDeviceMutex(mutexName, &dev->mutex, &mutexError)) {
    case MutexFailure::None:
      break;
    case MutexFailure::Open:
      log("---->OpenMutex.......\n");
      closeDevice(dev);
      free(dev);
      log("---->uk_mass_OpenDevice......\n");
      return UKLR_DEV_MUTEX;
    case MutexFailure::Create:
      logCode("---->CreateMutex Error, code is ", mutexError);
      closeDevice(dev);
      free(dev);
      log("---->uk_mass_OpenDevice......\n");
      return UKLR_DEV_MUTEX;
  }

  UK_USB_DEV_CTX *conn = static_cast<UK_USB_DEV_CTX *>(calloc(1, sizeof(UK_USB_DEV_CTX)));
  if (!conn) {
    host().closeDeviceMutex(dev->mutex);
    closeDevice(dev);
    free(dev);
    log("---->malloc UK_USB_DEV_CTX_PTR error");
    return UKLR_NO_MEMORY;
  }
  conn->mass = dev;
  conn->selfWord1 = w1;
  conn->selfWord2 = w2;
  copyString(conn->path, sizeof conn->path, usb);
  conn->smFlags = 0;
  *out = conn;
  return UKLR_OK;
}

uint32_t closeConnection(UK_USB_DEV_CTX *conn) {
  if (!conn) return UKLR_PARAM_VALUE;
  if (MASS_DEV_CTX *dev = conn->mass) {
    closeDevice(dev);
    host().closeDeviceMutex(dev->mutex);
    free(dev);
  }
  // The record holds session keys and the transport key: wipe it before it goes back.
  volatile uint8_t *p = reinterpret_cast<volatile uint8_t *>(conn);
  for (size_t i = 0; i < sizeof *conn; ++i) p[i] = 0;
  free(conn);
  return UKLR_OK;
}

uint32_t exchangeFrame(MASS_DEV_CTX *dev, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                       uint32_t cap, uint32_t *respLen) {
  *respLen = 0;
  if (!host().waitDeviceMutex(dev->mutex, kDeviceMutexWaitMs)) {
    log("---->UKLR_DEV_BLOCK......\n");
    return UKLR_DEV_BLOCK;
  }
  uint32_t rc = UKLR_OK;
  if (dev->brokered) {
    // The service writes the frame and reads the answer in one request. A cycle that did not
    // reach the service fails like a write; an error the service reports fails like a read.
    uint32_t err = brokerRead(uint32_t(dev->device), frame, frameLen, resp, cap, respLen);
    if (err == kChannelFailure) {
      logCode("---->VendorUSBKeyDataInOut(Write) Error.Code is ", err);
      rc = UKLR_DEV_WRITE;
    } else if (err) {
      logCode("---->VendorUSBKeyDataInOut(Read) Error.Code is ", err);
      rc = UKLR_DEV_READ;
    }
  } else {
    uint8_t cdb[10];
    uint8_t out[kMaxFrame];
    uint32_t len = frameLen < sizeof out ? frameLen : uint32_t(sizeof out);
    memcpy(out, frame, len);
    uint32_t moved = 0;
    vendorCdb(false, len, cdb);
    uint32_t err = bus().scsi(dev->device, cdb, false, out, len, &moved);
    if (err) {
      logCode("---->VendorUSBKeyDataInOut(Write) Error.Code is ", err);
      rc = UKLR_DEV_WRITE;
    } else {
      uint32_t want = cap < kReadLength ? cap : kReadLength;
      vendorCdb(true, want, cdb);
      moved = 0;
      err = bus().scsi(dev->device, cdb, true, resp, want, &moved);
      if (err) {
        logCode("---->VendorUSBKeyDataInOut(Read) Error.Code is ", err);
        rc = UKLR_DEV_READ;
      } else {
        *respLen = moved < want ? moved : want;
      }
    }
  }
  host().releaseDeviceMutex(dev->mutex);
  return rc;
}

}  // namespace uk
