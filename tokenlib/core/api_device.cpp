// Listing, connecting and raw exchange.
#include "uk_frame.h"

using namespace uk;

extern "C" {

uint32_t UKAPI zksTokenListDevices(const char *, UK_DEV_INFO *, uint32_t *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenConnect(UK_DEV_INFO *, uint32_t) { return UKLR_NOT_SUPPORTED; }

uint32_t UKAPI zksTokenDisconnect(UK_DEV_INFO *dev) {
  ExportFrame frame("zksTokenDisconnect");
  if (!dev) return frame.paramError();
  UK_USB_DEV_CTX *conn = connectionOf(dev);
  if (!conn) return frame.finish(UKLR_PARAM_VALUE, "uk_usb_CloseDevice");
  return frame.finish(UKLR_NOT_SUPPORTED, "uk_usb_CloseDevice");
}

uint32_t UKAPI zksTokenReconnect(UK_DEV_INFO *, uint32_t) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenTransmit(UK_DEV_INFO *, uint32_t, uint32_t, uint8_t *, uint32_t *, uint32_t,
                                uint32_t, uint32_t) {
  return UKLR_NOT_SUPPORTED;
}
}
