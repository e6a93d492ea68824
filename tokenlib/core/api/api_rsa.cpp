// RSA operation exports. zksTokenRsaPriEncrypt and zksTokenRsaPriDecrypt write the start and end
// lines of zksTokenRsaPubEncrypt. Every output length is capacity in, bytes written out; a
// smaller capacity gives 1 with the needed length (the decipher exports included).
#include "containers.h"
#include "uk_frame.h"

using uk::ExportFrame;

namespace {

using RsaOperation = uint32_t (*)(UK_USB_DEV_CTX *, const UK_CONTAINER_INFO *, const uint8_t *,
                                  uint32_t, uint8_t *, uint32_t *, uint32_t, const char **);

// The frame of an export that runs one RSA operation on a container's pair: the start line of
// lineName, the argument check, and the end line with the failing step the operation names.
template <class Operation>
uint32_t runRsaExport(const char *lineName, UK_DEV_INFO *dev, const UK_CONTAINER_INFO *cont,
                      const uint8_t *in, uint32_t inLen, uint8_t *out, uint32_t *outLen,
                      uint32_t keySpec, Operation operation) {
  ExportFrame f(lineName);
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !in || !out || !outLen) return f.paramError();
  const char *step = nullptr;
  uint32_t rc = operation(c, cont, in, inLen, out, outLen, keySpec, &step);
  return f.finish(rc, step);
}

}  // namespace

extern "C" {

uint32_t UKAPI zksTokenRsaPubEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec) {
  return runRsaExport("zksTokenRsaPubEncrypt", dev, cont, in, inLen, out, outLen, keySpec,
                      RsaOperation(uk::rsaPubEncrypt));
}

uint32_t UKAPI zksTokenRsaPriEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec, uint32_t confirm) {
  const bool confirmed = (confirm & 0xFF) != 0;
  return runRsaExport("zksTokenRsaPubEncrypt", dev, cont, in, inLen, out, outLen, keySpec,
                      [confirmed](UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *i,
                                  uint32_t iLen, uint8_t *o, uint32_t *oLen, uint32_t ks,
                                  const char **step) {
                        return uk::rsaPriEncrypt(c, ci, i, iLen, o, oLen, ks, confirmed, step);
                      });
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
  return runRsaExport("zksTokenRsaPubDecrypt", dev, cont, in, inLen, out, outLen, keySpec,
                      RsaOperation(uk::rsaPubDecrypt));
}

uint32_t UKAPI zksTokenRsaPriDecrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec) {
  return runRsaExport("zksTokenRsaPubEncrypt", dev, cont, in, inLen, out, outLen, keySpec,
                      RsaOperation(uk::rsaPriDecrypt));
}

}  // extern "C"
