// Symmetric-key and data-object exports. None writes a start or end line.
#include "symkeys.h"
#include "uk_frame.h"

using uk::ExportFrame;

namespace {

// An export without start and end lines: the connection and the caller's arguments are checked
// (argumentsGiven false: a missing pointer or bad argument), then the operation runs on the
// connection record.
template <class Operation>
uint32_t runQuiet(UK_DEV_INFO *dev, bool argumentsGiven, Operation operation) {
  ExportFrame f("", false, false);
  UK_USB_DEV_CTX *c = uk::connectionOf(dev);
  if (!c || !argumentsGiven) return f.paramError();
  return f.finish(operation(c));
}

}  // namespace

extern "C" {

uint32_t UKAPI zksTokenListSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *keys, uint32_t *count) {
  return runQuiet(dev, keys && count,
                  [&](UK_USB_DEV_CTX *c) { return uk::symList(c, keys, count); });
}

uint32_t UKAPI zksTokenGenSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key) {
  return runQuiet(dev, key, [&](UK_USB_DEV_CTX *c) { return uk::symGenerate(c, key); });
}

uint32_t UKAPI zksTokenWriteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                   uint32_t len) {
  return runQuiet(dev, key && value,
                  [&](UK_USB_DEV_CTX *c) { return uk::symImport(c, key, value, len); });
}

uint32_t UKAPI zksTokenReadSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint8_t *buf,
                                  uint32_t *len) {
  return runQuiet(dev, key && buf && len,
                  [&](UK_USB_DEV_CTX *c) { return uk::symRead(c, key, buf, len); });
}

uint32_t UKAPI zksTokenModifySymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                    uint32_t len, uint32_t selector) {
  const uint8_t n = uint8_t(len);
  return runQuiet(dev, key && (value || !n), [&](UK_USB_DEV_CTX *c) {
    if (n >= 80) return uint32_t(UKLR_DATA_LENGTH);
    return uk::symModify(c, key, value, n, selector);
  });
}

uint32_t UKAPI zksTokenDeleteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key) {
  return runQuiet(dev, key, [&](UK_USB_DEV_CTX *c) { return uk::symDelete(c, key); });
}

uint32_t UKAPI zksTokenSymInit(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint32_t mode,
                               uint32_t chaining, const uint8_t *iv, uint32_t) {
  return runQuiet(dev, key, [&](UK_USB_DEV_CTX *c) {
    return uk::symInit(c, key, uint8_t(mode), uint8_t(chaining), iv);
  });
}

uint32_t UKAPI zksTokenSymUpdate(UK_DEV_INFO *dev, const uint8_t *in, uint32_t inLen, uint8_t *out,
                                 uint32_t *outLen) {
  return runQuiet(dev, in && out && outLen,
                  [&](UK_USB_DEV_CTX *c) { return uk::symUpdate(c, in, inLen, out, outLen); });
}

uint32_t UKAPI zksTokenListDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *objs, uint32_t *count) {
  return runQuiet(dev, objs && count,
                  [&](UK_USB_DEV_CTX *c) { return uk::dataObjectList(c, objs, count); });
}

uint32_t UKAPI zksTokenWriteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj,
                                       const uint8_t *data, uint32_t len) {
  // An empty object is never registered. Objects hold at most 255 bytes: a longer length is
  // refused, never cut to its low byte (which stored part of the data and reported success).
  return runQuiet(dev, obj && data && len != 0, [&](UK_USB_DEV_CTX *c) {
    if (len > 255) return uint32_t(UKLR_DATA_LENGTH);
    return uk::dataObjectWrite(c, obj, data, uint8_t(len));
  });
}

// *len: capacity in, object length out; 1 with the needed length when the buffer is smaller.
uint32_t UKAPI zksTokenReadDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                                      uint32_t *len) {
  return runQuiet(dev, obj && buf && len,
                  [&](UK_USB_DEV_CTX *c) { return uk::dataObjectRead(c, obj, buf, len); });
}

uint32_t UKAPI zksTokenDeleteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj) {
  return runQuiet(dev, obj, [&](UK_USB_DEV_CTX *c) { return uk::dataObjectDelete(c, obj); });
}

}  // extern "C"
