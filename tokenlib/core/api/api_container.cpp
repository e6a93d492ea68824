// Container, key-pair and certificate exports: the frame around the container operations.
#include <string.h>

#include "containers.h"
#include "uk_frame.h"

using uk::ExportFrame;

namespace {
bool tooLong(const char *s) { return strnlen(s, uk::kNameLimit) >= uk::kNameLimit; }
}  // namespace

extern "C" {

uint32_t UKAPI zksTokenNewContainer(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont) {
  ExportFrame f("zksTokenNewContainer");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont) return f.paramError();
  // A name or ID the index cannot hold (80 or more) could never be found again.
  if (tooLong(cont->name) || cont->idLen >= uk::kNameLimit) return UKLR_NAME_TOO_LONG;
  return f.finish(uk::containerNew(c, cont), "uk_app_NewContainer");
}

uint32_t UKAPI zksTokenListContainers(UK_DEV_INFO *dev, UK_CONTAINER_INFO *conts, uint32_t *count) {
  ExportFrame f("zksTokenListContainers");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !conts || !count) return f.paramError();
  return f.finish(uk::containerList(c, conts, count), "uk_app_ListContainers");
}

uint32_t UKAPI zksTokenGetContainerByName(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                          const char *name) {
  ExportFrame f("zksTokenGetContainerByName");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !name) return f.paramError();
  if (tooLong(name)) return UKLR_NAME_TOO_LONG;
  return f.finish(uk::containerGetByName(c, cont, name), "uk_app_GetContainerByName");
}

uint32_t UKAPI zksTokenModifyContainerName(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                           const char *newName) {
  ExportFrame f("zksTokenModifyContainerName");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !newName) return f.paramError();
  if (tooLong(newName)) return UKLR_NAME_TOO_LONG;
  return f.finish(uk::containerRename(c, cont, newName), "uk_app_ModifyContainerName");
}

uint32_t UKAPI zksTokenModifyContainerID(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                         const uint8_t *id, uint32_t idLen) {
  ExportFrame f("zksTokenModifyContainerID");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  const uint8_t len = uint8_t(idLen);
  if (!c || !cont || (!id && len)) return f.paramError();
  if (len >= uk::kNameLimit) return UKLR_NAME_TOO_LONG;
  return f.finish(uk::containerSetId(c, cont, id, len), "uk_app_ModifyContainerID");
}

uint32_t UKAPI zksTokenDeleteContainer(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont) {
  ExportFrame f("zksTokenDeleteContainer");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont) return f.paramError();
  return f.finish(uk::containerDelete(c, cont), "uk_app_DeleteContainer");
}

uint32_t UKAPI zksTokenDeleteContainerKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                              uint32_t keySpec) {
  ExportFrame f("zksTokenDeleteContainerKeyPair");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont) return f.paramError();
  return f.finish(uk::containerDeleteKeyPair(c, cont, keySpec), "uk_app_DeleteContainerKeyPair");
}

uint32_t UKAPI zksTokenDeleteContainerCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                           uint32_t keySpec) {
  ExportFrame f("zksTokenDeleteContainerCert");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont) return f.paramError();
  return f.finish(uk::containerDeleteCert(c, cont, keySpec), "uk_app_DeleteContainerCert");
}

// Writes the start and end lines of zksTokenDeleteContainerCert.
uint32_t UKAPI zksTokenGenRsaKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, uint32_t keySpec) {
  ExportFrame f("zksTokenDeleteContainerCert");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont) return f.paramError();
  return f.finish(uk::containerGenKeyPair(c, cont, keySpec), "uk_app_GenRSAKeyPair");
}

// The key records: UK_RSA_PUBLIC_KEY / UK_RSA_PRIVATE_KEY when their bits field is 1024, the
// _2048 records when it is 2048; any other size is refused with 4. The records' size decides
// the key files and the container's size units. Writes only the start line.
uint32_t UKAPI zksTokenWriteRsaKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const void *pub,
                                       const void *pri, uint32_t keySpec) {
  ExportFrame f("zksTokenWriteRsaKeyPair", true, false);
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !pub || !pri) return f.paramError();
  return f.finish(uk::containerImportKeyPair(c, cont, pub, pri, keySpec), "uk_app_WriteRSAKeyPair");
}

// The output is a UK_RSA_PUBLIC_KEY_2048 when the container's size for the pair is 2 units
// (2048 bits), else a UK_RSA_PUBLIC_KEY.
uint32_t UKAPI zksTokenReadRsaPubKey(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, void *pub,
                                     uint32_t keySpec) {
  ExportFrame f("zksTokenReadRsaPubKey");
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !pub) return f.paramError();
  return f.finish(uk::containerReadPubKey(c, cont, pub, keySpec), "uk_app_ReadRSAPubKey");
}

// Writes only the start line.
uint32_t UKAPI zksTokenReadCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, uint8_t *cert,
                                uint32_t *len, uint32_t keySpec) {
  ExportFrame f("zksTokenReadCert", true, false);
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !cert || !len) return f.paramError();
  uint32_t rc = uk::containerReadCert(c, cont, cert, len, keySpec);
  return f.finish(rc, rc == UKLR_MORE_DATA ? nullptr : "uk_app_ReadCert");
}

// Writes no start or end line.
uint32_t UKAPI zksTokenWriteCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *cert,
                                 uint32_t len, uint32_t keySpec) {
  ExportFrame f("zksTokenWriteCert", false, false);
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !cont || !cert) return f.paramError();
  return f.finish(uk::containerWriteCert(c, cont, cert, len, keySpec));
}

}  // extern "C"
