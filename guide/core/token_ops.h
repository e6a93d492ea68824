// What the guide does on the token: the thirteen token-library entry points it binds by name,
// and the three device operations of the PIN and certificate steps over them. The guide loads
// the library at run time (GuideTokenLib, Windows), so the operations take the bound entry
// points rather than calling the exports; natively the tests bind the library's own functions.
// Portable: no <windows.h>.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "uk_tokenlib.h"

namespace guide {

// The entry points, in the order they are bound, with their exported names.
struct GuideTokenApi {
  uint32_t(UKAPI *EstablishContext)(void);
  uint32_t(UKAPI *ReleaseContext)(void);
  uint32_t(UKAPI *ListDevices)(const char *projectName, UK_DEV_INFO *devs, uint32_t *count);
  uint32_t(UKAPI *Connect)(UK_DEV_INFO *dev, uint32_t reserved);
  uint32_t(UKAPI *Disconnect)(UK_DEV_INFO *dev);
  uint32_t(UKAPI *SelectMF)(UK_DEV_INFO *dev);
  uint32_t(UKAPI *SelectPkiWorkDF)(UK_DEV_INFO *dev, uint32_t reserved);
  uint32_t(UKAPI *ModifyUserPin)(UK_DEV_INFO *dev, const uint8_t *oldPin, uint32_t oldLen,
                                 const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft);
  uint32_t(UKAPI *VerifyUserPin)(UK_DEV_INFO *dev, const uint8_t *pin, uint32_t pinLen,
                                 uint8_t *triesLeft);
  uint32_t(UKAPI *GetDeviceInfo)(UK_DEV_INFO *dev, uint32_t *byte8, uint8_t *byte5,
                                 uint8_t *byte2, uint32_t reserved);
  uint32_t(UKAPI *GetSn)(UK_DEV_INFO *dev, char *sn, uint32_t *len);
  uint32_t(UKAPI *ListContainers)(UK_DEV_INFO *dev, UK_CONTAINER_INFO *conts, uint32_t *count);
  uint32_t(UKAPI *ReadCert)(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, uint8_t *cert,
                            uint32_t *len, uint32_t keySpec);
};
constexpr size_t kGuideTokenEntryCount = 13;
static_assert(sizeof(GuideTokenApi) == kGuideTokenEntryCount * sizeof(void *),
              "one pointer per entry point");
// The exported names, in the order of GuideTokenApi.
extern const char *const kGuideTokenExports[kGuideTokenEntryCount];

// Results of the device operations besides the token library's own (passed through unchanged).
constexpr uint32_t kNotBound = 4;          // no library bound
constexpr uint32_t kNoDevice = 3;          // no token of this bank listed
constexpr uint32_t kOldPinNotDefault = 4444;
constexpr uint32_t kNewPinIsDefault = 5555;

constexpr size_t kDeviceSlots = 8, kContainerSlots = 8;
// The largest certificate a token holds; the certificate buffer has room for it.
constexpr size_t kCertificateCapacity = 4096;

// The device-exclusive lock that the client manager and the provider hold around each of their
// command sequences on a token. The guide's Windows skin sets it, so that another program's
// commands never fall between the guide's select and read (a read would then meet another
// file, or none). Without it set (the native tests) the operations run unlocked. lock() is true
// when the lock is held; false when it could not be had within its limit (kDeviceBusy).
struct DeviceLockHooks {
  bool (*lock)();
  void (*unlock)();
};
void SetDeviceLock(const DeviceLockHooks *hooks);
constexpr uint32_t kDeviceBusy = 0x102;   // WAIT_TIMEOUT: another program held the token too long

// The factory user PIN of a token: "937260" when the seventh character of its serial number is
// '2', "482915" for every other token.
const char *DefaultUserPin(const char *serial);

// 0 with *changed the token's PIN-changed flag (zero while the user PIN has its factory value),
// or a device error. api: the bound entry points, null when nothing is bound.
uint32_t DetectPinChanged(const GuideTokenApi *api, uint32_t *changed);

// Replaces the factory PIN: oldPin must be the token's default (else kOldPinNotDefault) and the
// new PIN (newPinAnsi: the new PIN in the system's ANSI code page, at most 32 bytes) must differ
// from it (else kNewPinIsDefault); then verifies the default and changes it. 0 changed, or a
// device error.
uint32_t ChangeDefaultPin(const GuideTokenApi *api, const std::wstring &oldPin,
                          const std::string &newPinAnsi);

// The certificate of the first container that holds one (exchange before signature within a
// container): 0 with *len its length, 0 with *len 0 when no container holds one, or a device
// error. *len: the buffer's capacity on entry.
uint32_t ReadFirstCertificate(const GuideTokenApi *api, uint8_t *buffer, uint32_t *len);

}  // namespace guide
