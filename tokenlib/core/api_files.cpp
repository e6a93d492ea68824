// File, label and device-information exports.
#include "uk_frame.h"

extern "C" {

uint32_t UKAPI zksTokenSelectMF(UK_DEV_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenSelectPkiWorkDF(UK_DEV_INFO *, uint32_t) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenSelectEF(UK_DEV_INFO *, const uint8_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenDeleteEF(UK_DEV_INFO *, const uint8_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenReadBinary(UK_DEV_INFO *, uint32_t, uint32_t, uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenUpdateBinary(UK_DEV_INFO *, uint32_t, uint32_t, const uint8_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenGetDeviceLabel(UK_DEV_INFO *, char *, uint32_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenModifyDeviceLabel(UK_DEV_INFO *, const char *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenGetSn(UK_DEV_INFO *, char *, uint32_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenGetDeviceInfo(UK_DEV_INFO *, uint32_t *, uint8_t *, uint8_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenGetCosVersion(UK_DEV_INFO *, uint8_t *, uint32_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenGenRandom(UK_DEV_INFO *, uint8_t *, uint32_t) { return UKLR_NOT_SUPPORTED; }

#if !defined(_WIN32)
uint32_t UKAPI zksTokenSelectDF(UK_DEV_INFO *dev, const uint8_t *fid) { return zksTokenSelectEF(dev, fid); }
#endif
}
