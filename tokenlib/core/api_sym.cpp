// Symmetric-key and data-object exports.
#include "uk_frame.h"

extern "C" {
uint32_t UKAPI zksTokenListSymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *, uint32_t *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenGenSymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenWriteSymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *, const uint8_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenReadSymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *, uint8_t *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenModifySymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *, const uint8_t *, uint32_t,
                                    uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenDeleteSymKey(UK_DEV_INFO *, UK_SYM_KEY_INFO *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenSymInit(UK_DEV_INFO *, UK_SYM_KEY_INFO *, uint32_t, uint32_t, const uint8_t *,
                               uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenSymUpdate(UK_DEV_INFO *, const uint8_t *, uint32_t, uint8_t *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenListDataObject(UK_DEV_INFO *, UK_DATA_OBJECT_INFO *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenWriteDataObject(UK_DEV_INFO *, UK_DATA_OBJECT_INFO *, const uint8_t *, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenReadDataObject(UK_DEV_INFO *, UK_DATA_OBJECT_INFO *, uint8_t *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenDeleteDataObject(UK_DEV_INFO *, UK_DATA_OBJECT_INFO *) { return UKLR_NOT_SUPPORTED; }
}
