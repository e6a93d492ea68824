// Symmetric-key and data-object exports. None writes a start or end line.
#include "symkeys.h"
#include "uk_frame.h"

using uk::ExportFrame;

namespace {
struct Quiet : ExportFrame {
  Quiet() : ExportFrame("", false, false) {}
};
}  // namespace

extern "C" {

uint32_t UKAPI zksTokenListSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *keys, uint32_t *count) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !keys || !count) return f.paramError();
  return f.finish(uk::symList(c, keys, count));
}

uint32_t UKAPI zksTokenGenSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !key) return f.paramError();
  return f.finish(uk::symGenerate(c, key));
}

uint32_t UKAPI zksTokenWriteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                   uint32_t len) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !key || !value) return f.paramError();
  return f.finish(uk::symImport(c, key, value, len));
}

uint32_t UKAPI zksTokenReadSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint8_t *buf,
                                  uint32_t *len) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !key || !buf || !len) return f.paramError();
  return f.finish(uk::symRead(c, key, buf, len));
}

uint32_t UKAPI zksTokenModifySymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                    uint32_t len, uint32_t selector) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  const uint8_t n = uint8_t(len);
  if (!c || !key || (!value && n)) return f.paramError();
  if (n >= 80) return UKLR_DATA_LENGTH;
  return f.finish(uk::symModify(c, key, value, n, selector));
}

uint32_t UKAPI zksTokenDeleteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !key) return f.paramError();
  return f.finish(uk::symDelete(c, key));
}

uint32_t UKAPI zksTokenSymInit(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint32_t mode,
                               uint32_t chaining, const uint8_t *iv, uint32_t) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !key) return f.paramError();
  return f.finish(uk::symInit(c, key, uint8_t(mode), uint8_t(chaining), iv));
}

uint32_t UKAPI zksTokenSymUpdate(UK_DEV_INFO *dev, const uint8_t *in, uint32_t inLen, uint8_t *out,
                                 uint32_t *outLen) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !in || !out || !outLen) return f.paramError();
  return f.finish(uk::symUpdate(c, in, inLen, out, outLen));
}

uint32_t UKAPI zksTokenListDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *objs, uint32_t *count) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !objs || !count) return f.paramError();
  return f.finish(uk::dataObjectList(c, objs, count));
}

uint32_t UKAPI zksTokenWriteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj,
                                       const uint8_t *data, uint32_t len) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !obj || !data) return f.paramError();
  if (uint8_t(len) == 0) return f.paramError();  // an empty object is never registered
  return f.finish(uk::dataObjectWrite(c, obj, data, uint8_t(len)));
}

// *len: capacity in, object length out; 1 with the needed length when the buffer is smaller.
uint32_t UKAPI zksTokenReadDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                                      uint32_t *len) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !obj || !buf || !len) return f.paramError();
  return f.finish(uk::dataObjectRead(c, obj, buf, len));
}

uint32_t UKAPI zksTokenDeleteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj) {
  Quiet f;
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !obj) return f.paramError();
  return f.finish(uk::dataObjectDelete(c, obj));
}

}  // extern "C"
