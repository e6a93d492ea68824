// RSA operations.
#include "uk_frame.h"

extern "C" {
uint32_t UKAPI zksTokenRsaPubEncrypt(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t,
                                     uint8_t *, uint32_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenRsaPriEncrypt(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t,
                                     uint8_t *, uint32_t *, uint32_t, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenRsaPriEncryptFinal(UK_DEV_INFO *, uint8_t *, uint32_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenRsaPriEncryptCancel(UK_DEV_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenRsaPubDecrypt(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t,
                                     uint8_t *, uint32_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenRsaPriDecrypt(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t,
                                     uint8_t *, uint32_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
}
