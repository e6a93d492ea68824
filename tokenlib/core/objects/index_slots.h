// The index files of the token's objects (container index 5000, symmetric-key index 6000,
// data-object index 7000): one 192-byte record per object. A record the token refuses to read
// because it was never written or was erased is a free slot.
//
// Interrupted writes. The token can be pulled, or its channel lost, before any frame of a
// sequence; every writing operation is laid out so that this loses nothing, without changing
// what the token stores or how:
//  - The index is the commit point. An object exists when its index entry says so: the record
//    of a symmetric key or data object, the key-pair or certificate flag in a container's
//    record. An entry is written by one update record, which the token applies whole or not at
//    all.
//  - A write puts the object's files in place first and writes its index entry last; a delete
//    takes the entry away first and removes the files after it. An interruption therefore never
//    leaves an entry whose files are missing or half written. At worst it leaves files that no
//    entry records (leftovers), which nothing lists or reads.
//  - A leftover is removed where it is met. Creating an object file whose identifier is held by
//    a file the index does not record deletes that file and creates it again; deleting an object
//    removes every file of it, recorded or not, a file already gone counting as removed. So the
//    interrupted operation, retried after re-insertion, succeeds, and afterwards index and files
//    agree.
//  - An entry without its file (left by software that wrote the entry before the file) does not
//    block the ID it carries: a new object with that ID takes over its slot, and deleting it
//    succeeds.
// Callers hold the device-exclusive lock around a whole sequence, so another program's write in
// progress is never taken for a leftover.
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

// Selects the index file and writes record nn: the commit of a new object.
uint32_t commitIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t nn,
                           const uint8_t rec[192]);

// Erases record nn of the current index file; a record already free counts as erased.
uint32_t eraseIndexRecord(UK_USB_DEV_CTX *c, uint8_t nn);

// Deletes an object file of the current DF; a file that is not there counts as deleted.
uint32_t removeObjectFile(UK_USB_DEV_CTX *c, const uint8_t fid[2]);

// Deletes an object of a symmetric-key or data-object index: erases record nn of the index file,
// then deletes the object file (fileHi nn).
uint32_t deleteIndexedObject(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi,
                             uint8_t nn);

// Creates an object file. When a file of that identifier exists and isRecorded(&recorded) finds
// that the index does not record it, the file is a leftover: it is deleted and the file created
// again. Any other outcome is create file's own answer.
template <class IsRecorded>
uint32_t createObjectFile(UK_USB_DEV_CTX *c, const FILE_ATTR &attr, IsRecorded &&isRecorded) {
  uint32_t rc = createFile(c, attr);
  if (!isFileExists(rc)) return rc;
  bool recorded = true;
  if (isRecorded(&recorded) != UKLR_OK || recorded) return rc;
  if (deleteFile(c, 2, attr.fid) != UKLR_OK) return rc;
  return createFile(c, attr);
}

// The slot for a new object: selects the index file and reads records count down to 1. A used
// record for which matches(rec) is true gives UKLR_OBJ_EXISTS (not logged) with its number in
// *matched; otherwise *freeRec receives the lowest free record, UKLR_DEV_FULL when there is none.
// A failing read writes readFailLine.
template <class Match>
uint32_t findFreeIndexRecord(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint32_t count,
                             const char *readFailLine, Match &&matches, uint8_t *freeRec,
                             uint8_t *matched) {
  *freeRec = 0;
  *matched = 0;
  uint32_t rc = selectIndexFile(c, fid);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  for (uint8_t nn = uint8_t(count); nn >= 1; --nn) {
    rc = readIndexRecord(c, nn, rec);
    if (rc == 0) {
      if (matches(static_cast<const uint8_t *>(rec))) {
        *matched = nn;
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
