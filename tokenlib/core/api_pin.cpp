// PIN exports.
#include "uk_frame.h"

extern "C" {
uint32_t UKAPI zksTokenVerifyUserPin(UK_DEV_INFO *, const uint8_t *, uint32_t, uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenVerifySoPin(UK_DEV_INFO *, const uint8_t *, uint32_t, uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenModifyUserPin(UK_DEV_INFO *, const uint8_t *, uint32_t, const uint8_t *,
                                     uint32_t, uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenModifySoPin(UK_DEV_INFO *, const uint8_t *, uint32_t, const uint8_t *,
                                   uint32_t, uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenUnlockUserPin(UK_DEV_INFO *, const uint8_t *, uint32_t, const uint8_t *,
                                     uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenSetUserPin(UK_DEV_INFO *, const uint8_t *, uint32_t, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenResetUserPinVerifyFlag(UK_DEV_INFO *) { return UKLR_NOT_SUPPORTED; }
}
