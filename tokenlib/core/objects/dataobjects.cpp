// Data objects: the data-object index (7000) with one 192-byte record per object and the object
// files E0 nn (transparent, at most 255 bytes).
#include <string.h>

#include "index_slots.h"
#include "symkeys.h"
#include "uk_bytes.h"
#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

namespace {

enum : uint32_t { DO_LEN = 0, DO_FID = 2, DO_ATTR = 6, DO_CALLER = 8, DO_NAME = 32, DO_ID = 112 };
constexpr uint32_t kArea = 80;

}  // namespace

uint32_t dataObjectList(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *objs, uint32_t *count) {
  return listIndexRecords(c, kDataObjectIndexFid, kMaxObjects, kObjectIndexReadFail, objs, count,
                          [](UK_DATA_OBJECT_INFO &o, const uint8_t *rec) {
                            memcpy(o.name, rec + DO_NAME, kArea);
                            memcpy(o.id, rec + DO_ID, kArea);
                            o.attrFlag = rec[DO_ATTR] & 0x40;
                            memcpy(o.callerData, rec + DO_CALLER, sizeof o.callerData);
                          });
}

uint32_t dataObjectWrite(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *obj, const uint8_t *data,
                         uint8_t len) {
  // The token refuses an empty object file; refusing here keeps the index free of an entry
  // without a file.
  if (len == 0) return UKLR_PARAM_VALUE;
  uint8_t nn = 0;
  uint32_t rc = findObjectSlot(c, kDataObjectIndexFid, 0xE0, obj->id, &nn);
  if (rc) return rc;

  // The object file with its data first, then the index record that makes the object exist.
  FILE_ATTR a{};
  a.flags = FA_VALID | FA_FID | FA_SIZE | FA_SECURITY;
  a.kind = FK_TRANSPARENT;
  a.fid[0] = 0xE0;
  a.fid[1] = nn;
  a.size[1] = len;
  if (obj->attrFlag) memset(a.security, 0x01, sizeof a.security);
  if ((rc = createSlotFile(c, a)) != 0) return rc;

  uint8_t rec[kRecordSize] = {0};
  rec[DO_LEN] = 0;
  rec[DO_LEN + 1] = len;
  rec[DO_FID] = 0xE0;
  rec[DO_FID + 1] = nn;
  rec[DO_ATTR] = obj->attrFlag ? 0x40 : 0x00;
  memcpy(rec + DO_CALLER, obj->callerData, sizeof obj->callerData);
  memcpy(rec + DO_NAME, obj->name, kArea);
  memcpy(rec + DO_ID, obj->id, kArea);
  if ((rc = writeBinaryLong(c, data, len)) != 0 ||
      (rc = commitIndexRecord(c, kDataObjectIndexFid, nn, rec)) != 0) {
    removeObjectFile(c, a.fid);
    return rc;
  }
  obj->recordNumber = nn;
  return UKLR_OK;
}

uint32_t dataObjectRead(UK_USB_DEV_CTX *c, const UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                        uint32_t *len) {
  if (!validObjectRecord(obj->recordNumber)) return UKLR_PARAM_VALUE;
  uint8_t rec[kRecordSize];
  uint32_t rc =
      loadIndexRecord(c, kDataObjectIndexFid, obj->recordNumber, rec, kObjectIndexReadFail);
  if (rc) return rc;
  const uint32_t objLen = getBe16(rec + DO_LEN);
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
  if (!validObjectRecord(obj->recordNumber)) return UKLR_PARAM_VALUE;
  return deleteIndexedObject(c, kDataObjectIndexFid, 0xE0, obj->recordNumber);
}

}  // namespace uk
