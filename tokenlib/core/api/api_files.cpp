// File, label and device-information exports.
#include <string.h>

#include "uk_commands.h"
#include "uk_frame.h"

namespace {
const uint8_t kMF[2] = {0x3F, 0x00};
const uint8_t kPkiDF[2] = {0xDF, 0x01};
}  // namespace

extern "C" {

uint32_t UKAPI zksTokenSelectMF(UK_DEV_INFO *dev) {
  uk::ExportFrame f("zksTokenSelectMF");
  if (!dev) return f.paramError();
  return f.finish(uk::selectFile(uk::connectionOf(dev), kMF), "uk_SelectFile");
}

uint32_t UKAPI zksTokenSelectPkiWorkDF(UK_DEV_INFO *dev, uint32_t) {
  uk::ExportFrame f("zksTokenSelectPkiWorkDF");
  if (!dev) return f.paramError();
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  uint32_t rc = uk::selectFile(c, kMF);
  if (rc == UKLR_OK) rc = uk::selectFile(c, kPkiDF);
  return f.finish(rc, "uk_SelectFile");
}

// Also exported as zksTokenSelectDF.
uint32_t UKAPI zksTokenSelectEF(UK_DEV_INFO *dev, const uint8_t *fid) {
  uk::ExportFrame f("zksTokenSelectEF");
  if (!dev || !fid) return f.paramError();
  return f.finish(uk::selectFile(uk::connectionOf(dev), fid), "uk_SelectFile");
}

uint32_t UKAPI zksTokenDeleteEF(UK_DEV_INFO *dev, const uint8_t *fid) {
  uk::ExportFrame f("zksTokenDeleteEF");
  if (!dev || !fid) return f.paramError();
  return f.finish(uk::deleteFile(uk::connectionOf(dev), 0x02, fid), "uk_DelFile");
}

uint32_t UKAPI zksTokenReadBinary(UK_DEV_INFO *dev, uint32_t offset, uint32_t length, uint8_t *buf) {
  uk::ExportFrame f("ReadFile");
  if (!dev || !buf) return f.paramError();
  uint32_t got = 0;
  return f.finish(uk::readBinary(uk::connectionOf(dev), offset, length & 0xFF, buf, &got),
                  "uk_ReadFile");
}

uint32_t UKAPI zksTokenUpdateBinary(UK_DEV_INFO *dev, uint32_t offset, uint32_t length,
                                    const uint8_t *data) {
  uk::ExportFrame f("zksTokenUpdateBinary");
  if (!dev || !data) return f.paramError();
  return f.finish(uk::writeBinary(uk::connectionOf(dev), offset, data, length & 0xFF),
                  "uk_WriteFile");
}

uint32_t UKAPI zksTokenGetDeviceLabel(UK_DEV_INFO *dev, char *label, uint32_t *len) {
  uk::ExportFrame f("GetDevLabel");
  if (!dev || !label || !len) return f.paramError();
  return f.finish(uk::getLabel(uk::connectionOf(dev), label, len), "uk_dev_GetDevLabel");
}

uint32_t UKAPI zksTokenModifyDeviceLabel(UK_DEV_INFO *dev, const char *label, uint32_t len) {
  uk::ExportFrame f("GetDevLabel");
  if (!dev || !label) return f.paramError();
  return f.finish(uk::setLabel(uk::connectionOf(dev), reinterpret_cast<const uint8_t *>(label),
                               len),
                  "uk_dev_SetDevLabel");
}

uint32_t UKAPI zksTokenGetSn(UK_DEV_INFO *dev, char *sn, uint32_t *len) {
  uk::ExportFrame f("GetDevInfo");
  if (!dev || !sn || !len) return f.paramError();
  uint8_t raw[64];
  uint32_t rawLen = sizeof raw;
  uint32_t rc = uk::getDeviceInfo(uk::connectionOf(dev), 0x02, raw, &rawLen);
  if (rc == UKLR_OK) {
    // The serial number text ends at the first 00 or FF byte; the caller's 32 bytes hold at most
    // 31 characters and the zero.
    uint32_t n = 0;
    while (n < rawLen && n < 31 && raw[n] != 0x00 && raw[n] != 0xFF) ++n;
    memcpy(sn, raw, n);
    sn[n] = 0;
    *len = n;
  }
  return f.finish(rc, "uk_dev_GetDevInfo");
}

uint32_t UKAPI zksTokenGetDeviceInfo(UK_DEV_INFO *dev, uint32_t *byte8, uint8_t *byte5,
                                     uint8_t *byte2, uint32_t) {
  uk::ExportFrame f("zksTokenGetDeviceInfo");
  if (!dev) return f.paramError();
  uint8_t block[9];
  uint32_t rc = uk::getInfoBlockA1(uk::connectionOf(dev), block);
  if (rc == UKLR_OK) {
    if (byte8) *byte8 = block[8];
    if (byte5) *byte5 = block[5];
    if (byte2) *byte2 = block[2];
  }
  return f.finish(rc, "uk_dev_GetDevInfo");
}

uint32_t UKAPI zksTokenGetCosVersion(UK_DEV_INFO *dev, uint8_t *version, uint32_t *len) {
  uk::ExportFrame f("zksTokenGetCosVersion");
  if (!dev || !version || !len) return f.paramError();
  // The card's version item is 12 bytes; the caller's buffer is 16 and is reported full.
  uint8_t raw[16];
  uint32_t rawLen = sizeof raw;
  uint32_t rc = uk::getDeviceInfo(uk::connectionOf(dev), 0x01, raw, &rawLen);
  if (rc == UKLR_OK) {
    memset(version, 0, 16);
    memcpy(version, raw, rawLen);
    *len = 16;
  }
  return f.finish(rc, "uk_dev_GetDevInfo");
}

uint32_t UKAPI zksTokenGenRandom(UK_DEV_INFO *dev, uint8_t *buf, uint32_t len) {
  uk::ExportFrame f("zksTokenGenRandom");
  if (!dev || !buf) return f.paramError();
  return f.finish(uk::getRandom(uk::connectionOf(dev), buf, len & 0xFF), "uk_GenRandom");
}

#if !defined(_WIN32)
uint32_t UKAPI zksTokenSelectDF(UK_DEV_INFO *dev, const uint8_t *fid) { return zksTokenSelectEF(dev, fid); }
#endif
}
