// Index files of the token's objects: record reads, the logged select and read, the commit and
// erasure of a record, and removal of an object with its index record.
#include "index_slots.h"

#include <string.h>

namespace uk {

uint32_t readIndexRecord(UK_USB_DEV_CTX *c, uint8_t rec, uint8_t out[192]) {
  // Asking for the 4 header bytes as well gets the record in one answer.
  uint8_t buf[kRecordSize + 4] = {0};
  uint32_t len = sizeof buf;
  uint32_t rc = readRecord(c, rec, buf, &len);
  memcpy(out, buf, kRecordSize);
  return rc;
}

uint32_t selectIndexFile(UK_USB_DEV_CTX *c, const uint8_t fid[2]) {
  uint32_t rc = selectFile(c, fid);
  if (rc) log("---->SelectFile(RSA_INDEX_FID)......\n");
  return rc;
}

uint32_t loadIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t nn, uint8_t rec[192],
                         const char *readFailLine) {
  uint32_t rc = selectIndexFile(c, fid);
  if (rc) return rc;
  if ((rc = readIndexRecord(c, nn, rec)) != 0) log(readFailLine);
  return rc;
}

uint32_t commitIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t nn,
                           const uint8_t rec[192]) {
  uint32_t rc = selectIndexFile(c, fid);
  if (rc) return rc;
  return updateRecord(c, nn, rec, kRecordSize);
}

uint32_t eraseIndexRecord(UK_USB_DEV_CTX *c, uint8_t nn) {
  uint32_t rc = eraseRecord(c, nn);
  return isFreeRecord(rc) ? uint32_t(UKLR_OK) : rc;
}

uint32_t removeObjectFile(UK_USB_DEV_CTX *c, const uint8_t fid[2]) {
  uint32_t rc = deleteFile(c, 2, fid);
  return isFileNotFound(rc) ? uint32_t(UKLR_OK) : rc;
}

uint32_t deleteIndexedObject(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi,
                             uint8_t nn) {
  uint32_t rc = selectIndexFile(c, indexFid);
  if (rc) return rc;
  if ((rc = eraseIndexRecord(c, nn)) != 0) return rc;
  const uint8_t fid[2] = {fileHi, nn};
  return removeObjectFile(c, fid);
}

}  // namespace uk
