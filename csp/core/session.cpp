// Device enumeration and selection, the preamble of every token operation, the default-PIN
// change, and PIN verification with the per-device PIN cache.
#include <stdio.h>
#include <string.h>

#include "pin_cache.h"
#include "provider.h"

namespace csp {

// ---- Enumeration and selection (under the device mutex) ---------------------------------------

uint32_t Provider::enumerateDevices(uint32_t flags, UK_DEV_INFO **chosen) {
  *chosen = nullptr;
  // Connections the library carries over by device path stay; those of devices that left the
  // table are closed, or nothing would ever close them.
  UK_USB_DEV_CTX *before[kMaxDevices];
  for (uint32_t i = 0; i < kMaxDevices; ++i) before[i] = devices_.devices[i].connection;

  uint32_t n = kMaxDevices;
  tl_.listDevices(kProjectName, devices_.devices, &n);  // the count decides, not the result
  devices_.count = n < kMaxDevices ? n : kMaxDevices;
  for (uint32_t i = devices_.count; i < kMaxDevices; ++i) devices_.devices[i].connection = nullptr;

  for (uint32_t i = 0; i < kMaxDevices; ++i) {
    if (!before[i]) continue;
    bool kept = false;
    for (uint32_t k = 0; k < devices_.count; ++k) kept = kept || devices_.devices[k].connection == before[i];
    if (!kept) {
      markReadyToSign(before[i], false);
      UK_DEV_INFO gone;
      memset(&gone, 0, sizeof gone);
      gone.connection = before[i];
      tl_.disconnect(&gone);
    }
  }

  if (devices_.count == 0) {
    if (isVerifyOnlyRequest(flags)) return kOk;
    dialogs_.tell(kPromptInsertDevice);
    return kScardENoReadersAvailable;
  }
  uint32_t index = 0;
  if (devices_.count > 1 && (flags & kCryptNewKeyset)) {
    uint32_t rc = chooseAmongDevices(&index);
    if (rc) return rc;
  }
  *chosen = &devices_.devices[index];
  (*chosen)->displayName[sizeof (*chosen)->displayName - 1] = 0;
  host_.saveLastConnectDevice((*chosen)->displayName);
  return kOk;
}

uint32_t Provider::chooseAmongDevices(uint32_t *index) {
  DeviceChoice lines[kMaxDevices];
  for (uint32_t i = 0; i < devices_.count; ++i) {
    UK_DEV_INFO *dev = &devices_.devices[i];
    DeviceTable::Choice &c = devices_.choices[i];
    memset(&c, 0, sizeof c);
    uint32_t snLen = sizeof c.serial, labelLen = sizeof c.label;
    bool read = openDeviceSession(dev, Session::Plain) == kOk &&
                tl_.getSn(dev, c.serial, &snLen) == kOk &&
                tl_.getDeviceLabel(dev, c.label, &labelLen) == kOk;
    c.serial[snLen < sizeof c.serial ? snLen : sizeof c.serial - 1] = 0;
    c.label[labelLen < sizeof c.label ? labelLen : sizeof c.label - 1] = 0;
    dev->displayName[sizeof dev->displayName - 1] = 0;
    lines[i].shown = read ? c.label : dev->displayName;
    lines[i].serial = c.serial;
  }
  uint32_t picked = 0;
  if (!dialogs_.selectDevice(lines, devices_.count, &picked) || picked >= devices_.count)
    return kScardENoReadersAvailable;
  devices_.selected = picked;
  *index = picked;
  return kOk;
}

// ---- openDeviceSession ---------------------------------------------------------------------------

uint32_t Provider::openDeviceSession(UK_DEV_INFO *dev, Session variant, ContainerListing *listing) {
  if (!dev) return kScardENoReadersAvailable;
  // Each session connects afresh; the connection of the previous one is closed first instead of
  // being left behind with its device handle.
  markReadyToSign(dev->connection, false);
  if (dev->connection) tl_.disconnect(dev);
  uint32_t r = tl_.connect(dev, 1);
  if (r == kTokDefaultPin) {
    // The factory PIN must be changed first; a refusal or a failed change ends the operation.
    if ((r = changeDefaultPin(dev)) != kOk) return r;
    if (dev->connection) tl_.disconnect(dev);
    r = tl_.connect(dev, 1);
  }
  if (r) return r;
  if ((r = tl_.selectPkiWorkDF(dev, 0)) != kOk) return r;
  if (variant == Session::Plain) return kOk;

  if (tl_.selectContainerInfoEF(dev) != kOk) {
    if ((r = tl_.reconnect(dev, 1)) != kOk) return r;
    if ((r = tl_.selectPkiWorkDF(dev, 1)) != kOk) return r;
    if (variant == Session::Listing && (r = tl_.selectContainerInfoEF(dev)) != kOk) return r;
  }
  if (variant == Session::Standard) return kOk;

  memset(listing, 0, sizeof *listing);
  listing->count = kMaxContainers;
  r = tl_.listContainers(dev, listing->records, &listing->count);
  if (listing->count > kMaxContainers) listing->count = kMaxContainers;
  if (r) listing->count = 0;
  return r;
}

uint32_t Provider::changeDefaultPin(UK_DEV_INFO *dev) {
  if (dialogs_.askTwoButtons(kPromptDefaultPin, 0) != 1) return kScardWCancelledByUser;
  uintptr_t window = dialogs_.openWindow(Modeless::SetPinOnDevice);
  uint8_t tries = 0;
  const uint8_t none[1] = {0};
  uint32_t rc = tl_.modifyUserPin(dev, none, 0, none, 0, &tries);
  dialogs_.closeWindow(window);
  return rc;
}

// ---- PINs ----------------------------------------------------------------------------------------

uint32_t Provider::setPin(ProviderContext *ctx, const uint8_t *data) {
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!data) {
    if (dev) clearPinCache(dev);
    return kOk;
  }
  const char *pin = reinterpret_cast<const char *>(data);
  size_t len = strnlen(pin, kMaxCallerPin + 1);
  if (len > kMaxCallerPin) return kNteBadData;
  if (!dev) return kScardEInvalidChv;
  // The verify and log-out run under the device mutex like every other token sequence: without
  // it, the log-out could land between another process's verify and its signature.
  DeviceLock lock(*this);
  uint32_t rc = openDeviceSession(dev, Session::Plain);
  if (rc == kOk) rc = verifyCallerPin(dev, pin, len);
  if (rc == kOk) rc = tl_.resetUserPinVerifyFlag(dev);
  return rc == kOk ? kOk : kScardEInvalidChv;
}

uint32_t Provider::verifyCallerPin(UK_DEV_INFO *dev, const char *pin, size_t len) {
  if (isDisplayToken(dev->modelCode)) return kScardEUnsupportedFeature;
  dev->callerWord = 0;
  uint8_t tries = 0;
  uint32_t rc = tl_.verifyUserPin(dev, reinterpret_cast<const uint8_t *>(pin), uint32_t(len), &tries);
  if (rc) return rc;
  cachePin(dev, pin, len);
  return kOk;
}

uint32_t Provider::verifyUserPinCached(UK_DEV_INFO *dev) {
  if (!dev) return kScardENoReadersAvailable;
  uint8_t tries = 0;
  if (dev->callerDataALen) {
    char cached[kMaxCachedCiphertext + 1];
    size_t len = 0;
    if (cachedPin(dev, cached, &len)) {
      uint32_t rc = tl_.verifyUserPin(dev, reinterpret_cast<const uint8_t *>(cached), uint32_t(len), &tries);
      wipe(cached, sizeof cached);
      if (rc == kOk) return kOk;
      // A cached PIN the token refuses is stale (changed elsewhere): presented again at the next
      // operation it would spend another try each time, and block the token unseen.
      if (isWrongPin(rc) || rc == kTokPinBlocked) clearPinCache(dev);
    }
  }

  uint32_t rc = kOk;
  for (int attempt = 0; attempt < 15; ++attempt) {
    wipe(pinEntry_, sizeof pinEntry_);
    if (!dialogs_.enterPin(pinEntry_, sizeof pinEntry_)) {
      wipe(pinEntry_, sizeof pinEntry_);
      return kErrPinCancelled;
    }
    pinEntry_[sizeof pinEntry_ - 1] = 0;
    size_t len = strlen(pinEntry_);
    tries = 0;
    rc = tl_.verifyUserPin(dev, reinterpret_cast<const uint8_t *>(pinEntry_), uint32_t(len), &tries);
    if (rc == kOk) {
      cachePin(dev, pinEntry_, len);
      wipe(pinEntry_, sizeof pinEntry_);
      return kOk;
    }
    wipe(pinEntry_, sizeof pinEntry_);

    int button;
    if (rc == kTokPinBlocked) {
      dialogs_.tell(kPromptDeviceLocked);
      return rc;
    } else if (isWrongPin(rc)) {
      button = dialogs_.askTwoButtons(kPromptWrongPin, tries & 0x0F);
    } else if (rc == kScardWCancelledByUser) {
      button = dialogs_.askTwoButtons(kPromptCancelPinEntry, 0);
    } else if (rc == kScardETimeout) {
      dialogs_.tell(kPromptPinTimeout);
      return rc;
    } else {
      button = dialogs_.askTwoButtons(kPromptPinFailed, 0);
    }
    if (button != 1) return rc;
  }
  return rc;
}

}  // namespace csp
