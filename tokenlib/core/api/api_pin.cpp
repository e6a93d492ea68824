// PIN exports: verify, change, unlock and reset of the user PIN (A1) and the SO PIN (A4), and
// log out.
#include "uk_commands.h"
#include "uk_frame.h"

namespace {

// The tries-left byte is written only for the wrong-PIN answers 63C0 to 63CF, and never through a
// null pointer.
void reportTries(uint32_t rc, uint8_t *triesLeft) {
  if (triesLeft && uk::cmd::isWrongPin(rc)) *triesLeft = uint8_t(rc & 0x0F);
}

bool pinArgOk(const uint8_t *pin, uint32_t len) { return pin && len != 0 && len <= uk::kMaxPin; }

uint32_t verify(UK_DEV_INFO *dev, uint8_t ref, const uint8_t *pin, uint32_t len,
                uint8_t *triesLeft) {
  uk::ExportFrame f("Login");
  if (!dev || !pinArgOk(pin, len)) return f.paramError();
  uint32_t rc = uk::verifyPin(uk::connectionOf(dev), ref, pin, len);
  reportTries(rc, triesLeft);
  return f.finish(rc, "uk_Login");
}

uint32_t modify(UK_DEV_INFO *dev, uint8_t ref, const uint8_t *oldPin, uint32_t oldLen,
                const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft) {
  uk::ExportFrame f("ModifyPIN");
  if (!dev || !newPin || newLen == 0 || (!oldPin && oldLen)) return f.paramError();
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  // The old PIN is verified first, so a wrong one reports its own tries left; the lengths of
  // both values are checked by the commands (at most 32 bytes each).
  uint32_t rc = uk::verifyPin(c, ref, oldPin, oldLen);
  if (rc == UKLR_OK) rc = uk::changePin(c, ref, oldPin, oldLen, newPin, newLen);
  reportTries(rc, triesLeft);
  return f.finish(rc, "uk_ModifyPIN");
}

}  // namespace

extern "C" {

uint32_t UKAPI zksTokenVerifyUserPin(UK_DEV_INFO *dev, const uint8_t *pin, uint32_t pinLen,
                                     uint8_t *triesLeft) {
  return verify(dev, uk::PIN_USER, pin, pinLen, triesLeft);
}

uint32_t UKAPI zksTokenVerifySoPin(UK_DEV_INFO *dev, const uint8_t *pin, uint32_t pinLen,
                                   uint8_t *triesLeft) {
  return verify(dev, uk::PIN_SO, pin, pinLen, triesLeft);
}

uint32_t UKAPI zksTokenModifyUserPin(UK_DEV_INFO *dev, const uint8_t *oldPin, uint32_t oldLen,
                                     const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft) {
  return modify(dev, uk::PIN_USER, oldPin, oldLen, newPin, newLen, triesLeft);
}

uint32_t UKAPI zksTokenModifySoPin(UK_DEV_INFO *dev, const uint8_t *oldPin, uint32_t oldLen,
                                   const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft) {
  return modify(dev, uk::PIN_SO, oldPin, oldLen, newPin, newLen, triesLeft);
}

uint32_t UKAPI zksTokenUnlockUserPin(UK_DEV_INFO *dev, const uint8_t *soPin, uint32_t soLen,
                                     const uint8_t *newUserPin, uint32_t newLen) {
  uk::ExportFrame f("UnlockPIN");
  // Both values are checked before anything is sent: an over-long new PIN could not be installed
  // after the SO PIN had been verified anyway.
  if (!dev || !pinArgOk(soPin, soLen) || !pinArgOk(newUserPin, newLen)) return f.paramError();
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  uint32_t rc = uk::verifyPin(c, uk::PIN_SO, soPin, soLen);
  if (rc != UKLR_OK) return f.finish(rc, "uk_Login");
  return f.finish(uk::resetUserPin(c, newUserPin, newLen), "uk_ReSetPIN");
}

uint32_t UKAPI zksTokenSetUserPin(UK_DEV_INFO *dev, const uint8_t *newUserPin, uint32_t len,
                                  uint32_t) {
  uk::ExportFrame f("CreatePIN");
  if (!dev || !pinArgOk(newUserPin, len & 0xFF)) return f.paramError();
  return f.finish(uk::resetUserPin(uk::connectionOf(dev), newUserPin, len & 0xFF), "uk_CreatePIN");
}

uint32_t UKAPI zksTokenResetUserPinVerifyFlag(UK_DEV_INFO *dev) {
  uk::ExportFrame f("zksTokenResetUserPinVerifyFlag");
  if (!dev) return f.paramError();
  return f.finish(uk::logOut(uk::connectionOf(dev)), "uk_LogOut");
}
}
