// Containers: the container index file (5000) with one 192-byte record per container, and the
// key-pair and certificate files of each container.
#include "containers.h"

#include <string.h>

#include "uk_bytes.h"
#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

namespace {

bool isExchange(uint32_t keySpec) { return keySpec == UK_KEYSPEC_EXCHANGE; }

void putFid(uint8_t *dst, uint8_t hi, uint8_t lo) {
  dst[0] = hi;
  dst[1] = lo;
}

// The index name area (80 bytes, zero-padded) holds exactly this name.
bool nameEquals(const uint8_t *area, const char *name) {
  size_t n = strnlen(name, kNameLimit);
  return memcmp(area, name, n) == 0 && (n == kNameLimit || area[n] == 0);
}

constexpr const char *kIndexReadFail = "---->ReadFile(RSA_INDEX_FID)......\n";

// Selects the container index and reads the container's record.
uint32_t loadRecord(UK_USB_DEV_CTX *c, uint8_t nn, uint8_t rec[kRecordSize]) {
  return loadIndexRecord(c, kRsaIndexFid, nn, rec, kIndexReadFail);
}

uint32_t writeIndexLogged(UK_USB_DEV_CTX *c, uint8_t rec, const uint8_t data[kRecordSize]) {
  uint32_t rc = updateRecord(c, rec, data, kRecordSize);
  if (rc) log("---->uk_UpdateRecord(RSA_INDEX_FID)......\n");
  return rc;
}

bool validRecordNumber(uint8_t nn) { return nn >= 1 && nn <= kMaxContainers; }

// Rewrites the flags (and, when withSizes, both size units) of the container's index record from
// the caller's record.
uint32_t storeFlags(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, bool withSizes) {
  uint8_t rec[kRecordSize];
  uint32_t rc = loadRecord(c, ci->recordNumber, rec);
  if (rc) return rc;
  rec[CI_FLAGS] = ci->flags;
  if (withSizes) {
    rec[CI_EX_UNITS] = ci->exKeyUnits;
    rec[CI_SIG_UNITS] = ci->sigKeyUnits;
  }
  return writeIndexLogged(c, ci->recordNumber, rec);
}

struct PairFiles {
  const uint8_t *pub;
  const uint8_t *pri;
  const uint8_t *cert;
  uint8_t keyFlag;
  uint8_t certFlag;
  uint8_t *units;
};

PairFiles pairOf(UK_CONTAINER_INFO *ci, uint32_t keySpec) {
  if (isExchange(keySpec))
    return {ci->exPubFid, ci->exPriFid, ci->exCertFid, UK_CONT_EX_KEY, UK_CONT_EX_CERT,
            &ci->exKeyUnits};
  return {ci->sigPubFid, ci->sigPriFid, ci->sigCertFid, UK_CONT_SIG_KEY, UK_CONT_SIG_CERT,
          &ci->sigKeyUnits};
}

void setSize(FILE_ATTR &a, uint32_t size) {
  a.size[0] = uint8_t(size >> 8);
  a.size[1] = uint8_t(size);
}

// Whether the container's record on the token (not the caller's copy) records the object of the
// flag bit. A free record records nothing.
uint32_t recordedInIndex(UK_USB_DEV_CTX *c, uint8_t nn, uint8_t flag, bool *recorded) {
  *recorded = true;
  uint32_t rc = selectIndexFile(c, kRsaIndexFid);
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  rc = readIndexRecord(c, nn, rec);
  if (isFreeRecord(rc)) {
    *recorded = false;
    return UKLR_OK;
  }
  if (rc) return rc;
  *recorded = (rec[CI_FLAGS] & flag) != 0;
  return UKLR_OK;
}

// Creates a file of the container's object of the flag bit (a key-pair or certificate file);
// a leftover of that identifier which the index does not record is replaced.
uint32_t createContainerFile(UK_USB_DEV_CTX *c, uint8_t nn, uint8_t flag, const FILE_ATTR &a) {
  return createObjectFile(
      c, a, [c, nn, flag](bool *recorded) { return recordedInIndex(c, nn, flag, recorded); });
}

// Creates the public-key file, then the private-key file, of bits bits. When the private file
// cannot be created the public file is deleted again.
uint32_t createKeyFiles(UK_USB_DEV_CTX *c, uint8_t nn, const PairFiles &p, uint32_t bits) {
  FILE_ATTR pub{};
  pub.flags = FA_VALID | FA_FID | FA_SIZE | FA_PROPRIETARY;
  pub.kind = FK_RSA_PUBLIC;
  memcpy(pub.fid, p.pub, 2);
  setSize(pub, bits);
  const uint8_t pubProp[6] = {0x00, 0x09, 0, 0, 0, 0};
  memcpy(pub.proprietary, pubProp, 6);

  FILE_ATTR pri{};
  pri.flags = FA_VALID | FA_FID | FA_SIZE | FA_SECURITY | FA_PROPRIETARY;
  pri.kind = FK_RSA_PRIVATE;
  memcpy(pri.fid, p.pri, 2);
  setSize(pri, bits);
  const uint8_t priProp[6] = {0x01, 0x06, 0, 0, 0, 0};
  const uint8_t priSec[8] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00};
  memcpy(pri.proprietary, priProp, 6);
  memcpy(pri.security, priSec, 8);

  uint32_t rc = createContainerFile(c, nn, p.keyFlag, pub);
  if (rc) {
    log("---->uk_CreateCOSFile(PRI KEY)......\n");
    return rc;
  }
  rc = createContainerFile(c, nn, p.keyFlag, pri);
  if (rc) {
    log("---->uk_CreateCOSFile(PRI KEY)......\n");
    deleteFile(c, 2, p.pub);
  }
  return rc;
}

// Deletes take the index entry away first and remove the files after it, every file of the
// object whether the index records it or not (see index_slots.h).
uint32_t removeContainerFile(UK_USB_DEV_CTX *c, const uint8_t fid[2]) {
  if (!fid[0] && !fid[1]) return UKLR_OK;  // no file identifier in the caller's record
  uint32_t rc = removeObjectFile(c, fid);
  if (rc) log("---->uk_DelFile(EX Pub Key)......\n");
  return rc;
}

void deleteKeyFiles(UK_USB_DEV_CTX *c, const uint8_t pubFid[2], const uint8_t priFid[2]) {
  deleteFile(c, 2, priFid);
  deleteFile(c, 2, pubFid);
}

// Views of the caller's key records: the 1024-bit layout, or the 2048-bit one when the record's
// bits field says 2048.
struct PrivateView {
  uint32_t bits;
  const uint8_t *modulus, *publicExponent, *privateExponent, *p, *q, *dp, *dq, *qinv;
};
struct PublicView {
  uint32_t bits;
  const uint8_t *modulus, *exponent;
};

uint32_t recordBits(const void *rec) {
  uint32_t bits;
  memcpy(&bits, rec, 4);
  return bits;
}

bool viewPrivate(const void *rec, PrivateView *v) {
  v->bits = recordBits(rec);
  if (v->bits == 2048) {
    auto *k = static_cast<const UK_RSA_PRIVATE_KEY_2048 *>(rec);
    *v = {2048, k->modulus, k->publicExponent, k->privateExponent, k->prime1, k->prime2,
          k->exponent1, k->exponent2, k->coefficient};
    return true;
  }
  if (v->bits == 1024) {
    auto *k = static_cast<const UK_RSA_PRIVATE_KEY *>(rec);
    *v = {1024, k->modulus, k->publicExponent, k->privateExponent, k->prime1, k->prime2,
          k->exponent1, k->exponent2, k->coefficient};
    return true;
  }
  return false;
}

bool viewPublic(const void *rec, PublicView *v) {
  v->bits = recordBits(rec);
  if (v->bits == 2048) {
    auto *k = static_cast<const UK_RSA_PUBLIC_KEY_2048 *>(rec);
    *v = {2048, k->modulus, k->exponent};
    return true;
  }
  if (v->bits == 1024) {
    auto *k = static_cast<const UK_RSA_PUBLIC_KEY *>(rec);
    *v = {1024, k->modulus, k->exponent};
    return true;
  }
  return false;
}

// Key format of a private-key file: the second value byte of tag 85 in the file control
// information of its select answer (non-zero: stored with the CRT parts). The TLVs are walked
// after the template header, never past the answer.
uint8_t keyFormatOf(const uint8_t *fci, uint32_t len) {
  uint32_t i = (len >= 2 && (fci[0] == 0x62 || fci[0] == 0x6F)) ? 2 : 0;
  while (i + 2 <= len) {
    uint8_t tag = fci[i], l = fci[i + 1];
    if (tag == 0x85) return (l >= 2 && i + 3 < len) ? fci[i + 3] : 0;
    i += 2u + l;
  }
  return 0;
}

// Records a pair whose key files now hold the key: its flag and size units in the index. When
// the index does not take them the files are removed again, so that both agree.
uint32_t recordPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const PairFiles &p) {
  ci->flags |= p.keyFlag;
  uint32_t rc = storeFlags(c, ci, true);
  if (rc) {
    ci->flags &= uint8_t(~p.keyFlag);
    deleteKeyFiles(c, p.pub, p.pri);
  }
  return rc;
}

uint32_t putLogged(UK_USB_DEV_CTX *c, uint8_t p2, const uint8_t *v, uint32_t len,
                   const char *failLine) {
  uint32_t rc = putData(c, p2, v, len);
  if (rc) log(failLine);
  return rc;
}

}  // namespace

void buildContainerRecord(uint8_t nn, const char *name, uint8_t idLen, const uint8_t *id,
                          uint8_t rec[192]) {
  memset(rec, 0, kRecordSize);
  putFid(rec + CI_EX_PRI, 0xA0, nn);
  putFid(rec + CI_EX_PUB, 0xB0, nn);
  putFid(rec + CI_EX_CERT, 0xC0, nn);
  putFid(rec + CI_SIG_PRI, 0xA0, uint8_t(nn + 0x30));
  putFid(rec + CI_SIG_PUB, 0xB0, uint8_t(nn + 0x30));
  putFid(rec + CI_SIG_CERT, 0xC0, uint8_t(nn + 0x30));
  rec[CI_CONST_26] = 0x26;
  rec[CI_CONST_19] = 0x19;
  memcpy(rec + CI_NAME, name, strnlen(name, kNameLimit - 1));
  if (idLen >= kNameLimit) idLen = kNameLimit - 1;
  rec[CI_ID_LEN] = idLen;
  memcpy(rec + CI_ID, id, idLen);
}

void containerFromRecord(uint8_t nn, const uint8_t rec[192], UK_CONTAINER_INFO *ci,
                         bool withName) {
  ci->recordNumber = nn;
  ci->flags = rec[CI_FLAGS];
  ci->exKeyUnits = rec[CI_EX_UNITS];
  ci->sigKeyUnits = rec[CI_SIG_UNITS];
  memcpy(ci->exPriFid, rec + CI_EX_PRI, 2);
  memcpy(ci->exPubFid, rec + CI_EX_PUB, 2);
  memcpy(ci->exCertFid, rec + CI_EX_CERT, 2);
  memcpy(ci->sigPriFid, rec + CI_SIG_PRI, 2);
  memcpy(ci->sigPubFid, rec + CI_SIG_PUB, 2);
  memcpy(ci->sigCertFid, rec + CI_SIG_CERT, 2);
  if (withName) {
    memset(ci->name, 0, sizeof ci->name);
    memcpy(ci->name, rec + CI_NAME, kNameLimit);
  }
  // The 80-byte ID area (length byte and 79 bytes) lands in the ID length and ID fields.
  memset(&ci->idLen, 0, 1 + sizeof ci->id);
  memcpy(&ci->idLen, rec + CI_ID_LEN, kNameLimit);
}

uint32_t containerNew(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci) {
  uint8_t freeRec = 0, sameName = 0;
  uint32_t rc = findFreeIndexRecord(
      c, kRsaIndexFid, kMaxContainers, kIndexReadFail,
      [ci](const uint8_t *rec) { return nameEquals(rec + CI_NAME, ci->name); }, &freeRec,
      &sameName);
  if (rc == UKLR_OBJ_EXISTS) log("---->UKLR_OBJ_EXISTS......\n");
  if (rc) return rc;
  uint8_t rec[kRecordSize];
  buildContainerRecord(freeRec, ci->name, ci->idLen, ci->id, rec);
  rc = updateRecord(c, freeRec, rec, kRecordSize);
  if (rc) {
    log("---->uk_UpdateRecord......\n");
    return rc;
  }
  containerFromRecord(freeRec, rec, ci, false);
  // The caller's ID fields are left as given.
  return UKLR_OK;
}

uint32_t containerList(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *out, uint32_t *count) {
  return listIndexRecords(c, kRsaIndexFid, kMaxContainers, kIndexReadFail, out, count,
                          [](UK_CONTAINER_INFO &ci, const uint8_t *rec) {
                            containerFromRecord(ci.recordNumber, rec, &ci, true);
                          });
}

uint32_t containerGetByName(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const char *name) {
  uint8_t found = 0;
  uint32_t rc = forEachIndexRecord(
      c, kRsaIndexFid, kMaxContainers, kIndexReadFail,
      [ci, name](uint8_t nn, const uint8_t *rec) {
        if (!nameEquals(rec + CI_NAME, name)) return false;
        containerFromRecord(nn, rec, ci, false);
        return true;
      },
      &found);
  if (rc) return rc;
  return found ? UKLR_OK : UKLR_OBJ_NOT_FOUND;
}

uint32_t containerRename(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const char *name) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  uint8_t rec[kRecordSize];
  uint32_t rc = loadRecord(c, ci->recordNumber, rec);
  if (rc) return rc;
  memset(rec + CI_NAME, 0, kNameLimit);
  memcpy(rec + CI_NAME, name, strnlen(name, kNameLimit - 1));
  return writeIndexLogged(c, ci->recordNumber, rec);
}

uint32_t containerSetId(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *id,
                        uint8_t idLen) {
  if (!validRecordNumber(ci->recordNumber) || idLen >= kNameLimit) return UKLR_PARAM_VALUE;
  uint8_t rec[kRecordSize];
  uint32_t rc = loadRecord(c, ci->recordNumber, rec);
  if (rc) return rc;
  memset(rec + CI_ID_LEN, 0, kNameLimit);
  rec[CI_ID_LEN] = idLen;
  memcpy(rec + CI_ID, id, idLen);
  return writeIndexLogged(c, ci->recordNumber, rec);
}

uint32_t containerDelete(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  uint32_t rc;
  if ((rc = selectIndexFile(c, kRsaIndexFid)) != 0) return rc;
  if ((rc = eraseIndexRecord(c, ci->recordNumber)) != 0) {
    log("---->uk_DeleteRecord(RSA_INDEX_FID)......\n");
    return rc;
  }
  const uint8_t *const files[] = {ci->exCertFid,  ci->exPubFid,  ci->exPriFid,
                                  ci->sigCertFid, ci->sigPubFid, ci->sigPriFid};
  for (const uint8_t *fid : files)
    if ((rc = removeContainerFile(c, fid)) != 0) return rc;
  return UKLR_OK;
}

uint32_t containerDeleteKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  PairFiles p = pairOf(ci, keySpec);
  ci->flags &= uint8_t(~p.keyFlag);
  *p.units = 0;
  uint32_t rc = storeFlags(c, ci, true);
  if (rc) return rc;
  if ((rc = removeContainerFile(c, p.pub)) != 0) return rc;
  return removeContainerFile(c, p.pri);
}

uint32_t containerDeleteCert(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  PairFiles p = pairOf(ci, keySpec);
  ci->flags &= uint8_t(~p.certFlag);
  uint32_t rc = storeFlags(c, ci, false);
  if (rc) return rc;
  return removeObjectFile(c, p.cert);
}

uint32_t containerGenKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  PairFiles p = pairOf(ci, keySpec);
  if (*p.units == 0) *p.units = 1;
  if (*p.units > 2) return UKLR_PARAM_VALUE;  // the key files hold 1024 or 2048 bits
  uint32_t rc = createKeyFiles(c, ci->recordNumber, p, *p.units * 1024u);
  if (rc) {
    log("---->uk_app_CreateRSAfile(PRI KEY)......\n");
    return rc;
  }
  if ((rc = generateKeyPair(c, p.pub, p.pri)) != 0) {
    log("---->uk_CreateCOSFile(PRI KEY)......\n");
    deleteKeyFiles(c, p.pub, p.pri);
    return rc;
  }
  return recordPair(c, ci, p);
}

uint32_t containerImportKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const void *pubRec,
                                const void *priRec, uint32_t keySpec) {
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  PrivateView pri;
  PublicView pub;
  if (!viewPrivate(priRec, &pri) || !viewPublic(pubRec, &pub) || pri.bits != pub.bits)
    return UKLR_PARAM_VALUE;
  PairFiles p = pairOf(ci, keySpec);
  const uint32_t bits = pri.bits, n = bits / 8, half = bits / 16;
  // The key record decides the size of the key files.
  *p.units = uint8_t(bits / 1024);

  uint32_t rc = createKeyFiles(c, ci->recordNumber, p, bits);
  if (rc) return rc;

  uint8_t fci[128];
  uint32_t fciLen = sizeof fci;
  bool isPublicStep = false;
  if ((rc = selectFile(c, p.pri, fci, &fciLen)) == 0) {
    uint8_t format = keyFormatOf(fci, fciLen < sizeof fci ? fciLen : uint32_t(sizeof fci));
    if ((rc = putLogged(c, 0x10, pri.publicExponent + n - 16, 16,
                        "---->uk_dev_SendAPDUCmd(n) ......\n")) == 0 &&
        (rc = putLogged(c, 0x11, pri.modulus, n, "---->uk_dev_SendAPDUCmd(p) ......\n")) == 0) {
      // A private exponent the card refuses does not end the import: the CRT parts may still
      // carry the key. A failed transfer does (the token is gone).
      uint32_t drc = putLogged(c, 0x12, pri.privateExponent, n, "---->uk_dev_SendAPDUCmd(q) ......\n");
      if (drc && drc < UKLR_SW_BASE) rc = drc;
      if (rc == 0 && format) {
        (rc = putLogged(c, 0x13, pri.p, half, "---->uk_dev_SendAPDUCmd(q) ......\n")) ||
            (rc = putLogged(c, 0x14, pri.q, half, "---->uk_dev_SendAPDUCmd(q) ......\n")) ||
            (rc = putLogged(c, 0x16, pri.dp, half, "---->uk_dev_SendAPDUCmd(dp) ......\n")) ||
            (rc = putLogged(c, 0x17, pri.dq, half, "---->uk_dev_SendAPDUCmd(dq) ......\n")) ||
            (rc = putLogged(c, 0x15, pri.qinv, half, "---->uk_dev_SendAPDUCmd(qinv) ......\n"));
      }
    }
  }
  if (rc == 0) {
    isPublicStep = true;
    if ((rc = selectFile(c, p.pub)) == 0 &&
        (rc = putLogged(c, 0x11, pub.modulus, n, "---->uk_dev_SendAPDUCmd(p) ......\n")) == 0)
      rc = putLogged(c, 0x10, pub.exponent + n - 16, 16, "---->uk_dev_SendAPDUCmd(n) ......\n");
  }
  if (rc) {
    log(isPublicStep ? "---->uk_ImportPublicKey ......\n" : "---->uk_ImportPrivateKey ......\n");
    deleteKeyFiles(c, p.pub, p.pri);
    return rc;
  }
  return recordPair(c, ci, p);
}

uint32_t containerReadPubKey(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, void *out,
                             uint32_t keySpec) {
  uint8_t units = isExchange(keySpec) ? ci->exKeyUnits : ci->sigKeyUnits;
  const uint8_t *fid = isExchange(keySpec) ? ci->exPubFid : ci->sigPubFid;
  if (units != 1 && units != 2) return UKLR_PARAM_VALUE;
  const uint32_t bits = units * 1024u, n = bits / 8;
  uint8_t *modulus, *exponent;
  if (bits == 2048) {
    auto *k = static_cast<UK_RSA_PUBLIC_KEY_2048 *>(out);
    k->bits = bits;
    modulus = k->modulus;
    exponent = k->exponent;
  } else {
    auto *k = static_cast<UK_RSA_PUBLIC_KEY *>(out);
    k->bits = bits;
    modulus = k->modulus;
    exponent = k->exponent;
  }
  uint32_t rc = selectFile(c, fid);
  if (rc) return rc;
  uint32_t len = n;
  if ((rc = getData(c, 0x11, n, modulus, &len)) != 0) return rc;
  return readPublicExponent(c, exponent, n);
}

uint32_t containerWriteCert(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const uint8_t *cert,
                            uint32_t len, uint32_t keySpec) {
  if (len > kMaxCert) return UKLR_CERT_TOO_LARGE;
  if (!validRecordNumber(ci->recordNumber)) return UKLR_PARAM_VALUE;
  PairFiles p = pairOf(ci, keySpec);
  FILE_ATTR a{};
  a.flags = FA_VALID | FA_FID | FA_SIZE;
  a.kind = FK_TRANSPARENT;
  memcpy(a.fid, p.cert, 2);
  setSize(a, len);
  uint32_t rc = createContainerFile(c, ci->recordNumber, p.certFlag, a);
  if (rc) {
    log("---->uk_CreateCOSFile(cert file)......\n");
    return rc;
  }
  if ((rc = selectFile(c, p.cert)) == 0 && (rc = writeBinaryLong(c, cert, len)) == 0) {
    ci->flags |= p.certFlag;
    if ((rc = storeFlags(c, ci, false)) != 0) ci->flags &= uint8_t(~p.certFlag);
  }
  // The file goes again when the index does not take it.
  if (rc) deleteFile(c, 2, p.cert);
  return rc;
}

uint32_t containerReadCert(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, uint8_t *cert,
                           uint32_t *len, uint32_t keySpec) {
  const bool ex = isExchange(keySpec);
  if (!(ci->flags & (ex ? UK_CONT_EX_CERT : UK_CONT_SIG_CERT))) return UKLR_CERT_NOT_FOUND;
  uint32_t rc = selectFile(c, ex ? ci->exCertFid : ci->sigCertFid);
  if (rc) return rc;
  uint8_t head[16] = {0};
  uint32_t got = 0;
  if ((rc = readBinary(c, 0, sizeof head, head, &got)) != 0) return rc;
  uint32_t certLen;
  if (head[1] == 0x81) {
    // One length byte after 81 (certificates of 128 to 255 bytes): bytes 2-3 would read a
    // content byte as the low half of the length.
    certLen = uint32_t(head[2]) + 3;
  } else if (head[1] & 0x80) {
    certLen = getBe16(head + 2) + 4;
    if (certLen > kMaxCert) return UKLR_CERT_TOO_LARGE;
  } else {
    certLen = uint32_t(head[1]) + 2;
  }
  const uint32_t capacity = *len;
  *len = certLen;
  if (capacity < certLen) return UKLR_MORE_DATA;
  return readBinaryLong(c, cert, certLen);
}

uint32_t pairKeyBytes(const UK_CONTAINER_INFO *ci, uint32_t keySpec) {
  uint8_t units = isExchange(keySpec) ? ci->exKeyUnits : ci->sigKeyUnits;
  return (units == 1 || units == 2) ? units * 128u : 0;
}

}  // namespace uk
