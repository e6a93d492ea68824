// Data objects: the data-object index (7000) with one 192-byte record per object and the object
// files E0 nn (transparent, at most 255 bytes).
#include <string.h>

#include "containers.h"
#include "symkeys.h"
#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

namespace {

enum : uint32_t { DO_LEN = 0, DO_FID = 2, DO_ATTR = 6, DO_CALLER = 8, DO_NAME = 32, DO_ID = 112 };
constexpr uint32_t kArea = 80;

bool validRecord(uint8_t nn) { return nn >= 1 && nn <= kMaxObjects; }

uint32_t selectIndex(UK_USB_DEV_CTX *c) {
  uint32_t rc = selectFile(c, kDataObjectIndexFid);
  if (rc) log("---->SelectFile(RSA_INDEX_FID)......\n");
  return rc;
}

uint32_t readIndex(UK_USB_DEV_CTX *c, uint8_t nn, uint8_t rec[kRecordSize]) {
  return readIndexRecord(c, nn, rec);
}

// Takes back the registration (and the file, when it was created) of an object whose data could
// not be stored, so that index and files agree.
void unregister(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *obj, bool deleteObjectFile) {
  if (deleteObjectFile) {
    const uint8_t fid[2] = {0xE0, obj->recordNumber};
    deleteFile(c, 2, fid);
  }
  if (selectFile(c, kDataObjectIndexFid) == 0) eraseRecord(c, obj->recordNumber);
  obj->recordNumber = 0;
}

}  // namespace

uint32_t dataObjectList(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *objs, uint32_t *count) {
  uint32_t rc = selectIndex(c);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  uint32_t n = 0;
  for (uint8_t nn = 1; nn <= kMaxObjects; ++nn) {
    rc = readIndex(c, nn, rec);
    if (isFreeRecord(rc)) continue;
    if (rc) {
      log("---->ReadFile(SEC_KEY_INDEX)......\n");
      return rc;
    }
    UK_DATA_OBJECT_INFO &o = objs[n++];
    memset(&o, 0, sizeof o);
    o.recordNumber = nn;
    memcpy(o.name, rec + DO_NAME, kArea);
    memcpy(o.id, rec + DO_ID, kArea);
    o.attrFlag = rec[DO_ATTR] & 0x40;
    memcpy(o.callerData, rec + DO_CALLER, sizeof o.callerData);
  }
  *count = n;
  return UKLR_OK;
}

uint32_t dataObjectWrite(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *obj, const uint8_t *data,
                         uint8_t len) {
  // The token refuses an empty object file; refusing here keeps the index free of an entry
  // without a file.
  if (len == 0) return UKLR_PARAM_VALUE;
  uint8_t nn = 0;
  uint32_t rc = findFreeRecord(c, kDataObjectIndexFid, obj->id, &nn);
  if (rc) return rc;
  uint8_t rec[kRecordSize] = {0};
  rec[DO_LEN] = 0;
  rec[DO_LEN + 1] = len;
  rec[DO_FID] = 0xE0;
  rec[DO_FID + 1] = nn;
  rec[DO_ATTR] = obj->attrFlag ? 0x40 : 0x00;
  memcpy(rec + DO_CALLER, obj->callerData, sizeof obj->callerData);
  memcpy(rec + DO_NAME, obj->name, kArea);
  memcpy(rec + DO_ID, obj->id, kArea);
  if ((rc = updateRecord(c, nn, rec, kRecordSize)) != 0) return rc;
  obj->recordNumber = nn;

  FILE_ATTR a{};
  a.flags = FA_VALID | FA_FID | FA_SIZE | FA_SECURITY;
  a.kind = FK_TRANSPARENT;
  a.fid[0] = 0xE0;
  a.fid[1] = nn;
  a.size[1] = len;
  if (obj->attrFlag) memset(a.security, 0x01, sizeof a.security);
  if ((rc = createFile(c, a)) != 0) {
    unregister(c, obj, false);
    return rc;
  }
  if ((rc = writeBinaryLong(c, data, len)) != 0) unregister(c, obj, true);
  return rc;
}

uint32_t dataObjectRead(UK_USB_DEV_CTX *c, const UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                        uint32_t *len) {
  if (!validRecord(obj->recordNumber)) return UKLR_PARAM_VALUE;
  uint32_t rc = selectIndex(c);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  if ((rc = readIndex(c, obj->recordNumber, rec)) != 0) {
    log("---->ReadFile(SEC_KEY_INDEX)......\n");
    return rc;
  }
  const uint32_t objLen = uint32_t(rec[DO_LEN]) << 8 | rec[DO_LEN + 1];
  const uint8_t fid[2] = {0xE0, obj->recordNumber};
  if ((rc = selectFile(c, fid)) != 0) return rc;
  const uint32_t capacity = *len;
  *len = objLen;
  if (capacity < objLen) {
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  return readBinaryLong(c, buf, objLen);
}

uint32_t dataObjectDelete(UK_USB_DEV_CTX *c, const UK_DATA_OBJECT_INFO *obj) {
  if (!validRecord(obj->recordNumber)) return UKLR_PARAM_VALUE;
  const uint8_t fid[2] = {0xE0, obj->recordNumber};
  uint32_t rc = deleteFile(c, 2, fid);
  if (rc) return rc;
  if ((rc = selectIndex(c)) != 0) return rc;
  return eraseRecord(c, obj->recordNumber);
}

}  // namespace uk
