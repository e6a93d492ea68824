// Container, key-pair and certificate exports.
#include "uk_frame.h"

extern "C" {
uint32_t UKAPI zksTokenNewContainer(UK_DEV_INFO *, UK_CONTAINER_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenListContainers(UK_DEV_INFO *, UK_CONTAINER_INFO *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenGetContainerByName(UK_DEV_INFO *, UK_CONTAINER_INFO *, const char *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenModifyContainerName(UK_DEV_INFO *, UK_CONTAINER_INFO *, const char *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenModifyContainerID(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenDeleteContainer(UK_DEV_INFO *, UK_CONTAINER_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenDeleteContainerKeyPair(UK_DEV_INFO *, UK_CONTAINER_INFO *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenDeleteContainerCert(UK_DEV_INFO *, UK_CONTAINER_INFO *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenGenRsaKeyPair(UK_DEV_INFO *, UK_CONTAINER_INFO *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenWriteRsaKeyPair(UK_DEV_INFO *, UK_CONTAINER_INFO *, const void *, const void *,
                                       uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenReadRsaPubKey(UK_DEV_INFO *, UK_CONTAINER_INFO *, void *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenReadCert(UK_DEV_INFO *, UK_CONTAINER_INFO *, uint8_t *, uint32_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenWriteCert(UK_DEV_INFO *, UK_CONTAINER_INFO *, const uint8_t *, uint32_t,
                                 uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
}
