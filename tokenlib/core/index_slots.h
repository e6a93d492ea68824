// The index files of the token's objects (container index 5000, symmetric-key index 6000,
// data-object index 7000): one 192-byte record per object. A record the token refuses to read
// because it was never written or was erased is a free slot.
#pragma once
#include <stdint.h>
#include <string.h>

#include "uk_commands.h"
#include "uk_context.h"
#include "uk_log.h"

namespace uk {

// Reads record rec of the current index file into out (zero-filled beyond the record); no log
// line.
uint32_t readIndexRecord(UK_USB_DEV_CTX *c, uint8_t rec, uint8_t out[192]);

// Selects an index file; a failure writes "---->SelectFile(RSA_INDEX_FID)......", the line of
// every index.
uint32_t selectIndexFile(UK_USB_DEV_CTX *c, const uint8_t fid[2]);

// Selects the index file and reads record nn into rec; a failing read writes readFailLine.
uint32_t loadIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t nn, uint8_t rec[192],
                         const char *readFailLine);

// Deletes the object file (fileHi nn) and then erases record nn of the index file.
uint32_t deleteIndexedObject(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi,
                             uint8_t nn);

// Takes back the registration in record nn (and the object file fileHi nn when deleteObjectFile)
// of an object that could not be stored, so that index and files agree. Failures are not
// reported: the caller reports the failure that led here.
void dropIndexedObject(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi, uint8_t nn,
                       bool deleteObjectFile);

// The slot for a new object: selects the index file and reads records count down to 1. A used
// record for which matches(rec) is true gives UKLR_OBJ_EXISTS; *freeRec receives the lowest
// free record, UKLR_DEV_FULL when there is none. A failing read writes readFailLine.
template <class Match>
uint32_t findFreeIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint32_t count,
                             const char *readFailLine, Match &&matches, uint8_t *freeRec) {
  *freeRec = 0;
  uint32_t rc = selectIndexFile(c, fid);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  for (uint8_t nn = uint8_t(count); nn >= 1; --nn) {
    rc = readIndexRecord(c, nn, rec);
    if (rc == 0) {
      if (matches(static_cast<const uint8_t *>(rec))) {
        log("---->UKLR_OBJ_EXISTS......\n");
        return UKLR_OBJ_EXISTS;
      }
    } else if (isFreeRecord(rc)) {
      *freeRec = nn;
    } else {
      log(readFailLine);
      return rc;
    }
  }
  if (!*freeRec) {
    log("---->UKLR_DEV_FULL......\n");
    return UKLR_DEV_FULL;
  }
  return UKLR_OK;
}

// Selects the index file and hands each used record of records 1 to count, in order, to
// visit(nn, rec), which returns true to stop there. *stoppedAt (when given) receives the record
// visit stopped at, 0 when it saw them all. A failing read writes readFailLine.
template <class Visit>
uint32_t forEachIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint32_t count,
                            const char *readFailLine, Visit &&visit, uint8_t *stoppedAt = nullptr) {
  if (stoppedAt) *stoppedAt = 0;
  uint32_t rc = selectIndexFile(c, fid);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  for (uint8_t nn = 1; nn <= count; ++nn) {
    rc = readIndexRecord(c, nn, rec);
    if (isFreeRecord(rc)) continue;
    if (rc) {
      log(readFailLine);
      return rc;
    }
    if (visit(nn, static_cast<const uint8_t *>(rec))) {
      if (stoppedAt) *stoppedAt = nn;
      break;
    }
  }
  return UKLR_OK;
}

// Lists the objects of an index: each used record of records 1 to count, in order, fills the next
// entry of out (zeroed, with its record number) through fill(entry, rec); *listed receives the
// number of entries when every record could be read.
template <class Info, class Fill>
uint32_t listIndexRecords(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint32_t count,
                          const char *readFailLine, Info *out, uint32_t *listed, Fill &&fill) {
  uint32_t n = 0;
  uint32_t rc = forEachIndexRecord(c, fid, count, readFailLine,
                                   [&](uint8_t nn, const uint8_t *rec) {
                                     Info &entry = out[n++];
                                     memset(&entry, 0, sizeof entry);
                                     entry.recordNumber = nn;
                                     fill(entry, rec);
                                     return false;
                                   });
  if (rc) return rc;
  *listed = n;
  return UKLR_OK;
}

}  // namespace uk
