// RSA operation exports. zksTokenRsaPriEncrypt and zksTokenRsaPriDecrypt write the start and end
// lines of zksTokenRsaPubEncrypt. Every output length is capacity in, bytes written out; a
// smaller capacity gives 1 with the needed length (the decipher exports included).
#include "containers.h"
#include "uk_frame.h"

using uk::ExportFrame;

extern "C" {

uint32_t UKAPI zksTokenRsaPubEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec) {
  ExportFrame f("zksTokenRsaPubEncrypt");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !in || !out || !outLen) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = uk::rsaPubEncrypt(c, cont, in, inLen, out, outLen, keySpec, &step);
  return f.finish(rc, step);
}

uint32_t UKAPI zksTokenRsaPriEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec, uint32_t confirm) {
  ExportFrame f("zksTokenRsaPubEncrypt");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !in || !out || !outLen) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = uk::rsaPriEncrypt(c, cont, in, inLen, out, outLen, keySpec,
                                  (confirm & 0xFF) != 0, &step);
  return f.finish(rc, step);
}

uint32_t UKAPI zksTokenRsaPriEncryptFinal(UK_DEV_INFO *dev, uint8_t *out, uint32_t *outLen,
                                          uint32_t) {
  ExportFrame f("zksTokenRsaPriEncryptFinal");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !out || !outLen) return f.paramError();
  return f.finish(uk::rsaPriEncryptFinal(c, out, outLen));
}

uint32_t UKAPI zksTokenRsaPriEncryptCancel(UK_DEV_INFO *dev) {
  ExportFrame f("zksTokenRsaPriEncryptCancel");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = uk::rsaPriEncryptCancel(c, &step);
  return f.finish(rc, step);
}

uint32_t UKAPI zksTokenRsaPubDecrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec) {
  ExportFrame f("zksTokenRsaPubDecrypt");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !in || !out || !outLen) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = uk::rsaPubDecrypt(c, cont, in, inLen, out, outLen, keySpec, &step);
  return f.finish(rc, step);
}

uint32_t UKAPI zksTokenRsaPriDecrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec) {
  ExportFrame f("zksTokenRsaPubEncrypt");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !in || !out || !outLen) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = uk::rsaPriDecrypt(c, cont, in, inLen, out, outLen, keySpec, &step);
  return f.finish(rc, step);
}

}  // extern "C"
