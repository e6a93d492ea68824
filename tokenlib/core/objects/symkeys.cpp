// Symmetric keys: index SEC_KEY_INDEX (6000) with one 192-byte record per key, key files D0 nn,
// and the symmetric operation on the token.
#include <string.h>

#include "index_slots.h"
#include "symkeys.h"
#include "uk_commands.h"
#include "uk_log.h"

namespace uk {

namespace {

// Offsets of the symmetric-key index record; the name and ID areas are shared with the
// data-object index record.
enum : uint32_t { SK_LEN = 1, SK_FID = 2, SK_CLASS = 6, SK_ATTR = 8, OBJ_NAME = 32, OBJ_ID = 112 };
constexpr uint32_t kArea = 80;

// Direction of the symmetric operation, shared by every connection of the process.
uint8_t g_symDirection = 0;

struct SymAlg {
  uint8_t id, keyClass, len;
};
constexpr SymAlg kAlgs[] = {{1, 7, 16}, {2, 6, 16},  {3, 2, 8},   {4, 4, 16},
                            {5, 4, 24}, {20, 5, 16}, {21, 5, 24}, {22, 5, 32}};

bool supportedClass(uint8_t cls) { return cls == 2 || (cls >= 4 && cls <= 7); }

// The same ID: the stored length byte and that many bytes (at most the 80-byte area).
bool sameId(const uint8_t *stored, const uint8_t *idArea) {
  uint32_t n = uint32_t(stored[0]) + 1;
  if (n > kArea) n = kArea;
  return memcmp(stored, idArea, n) == 0;
}

FILE_ATTR keyFileAttr(uint8_t nn, uint8_t keyClass, uint32_t bits, bool flagged, bool generate) {
  FILE_ATTR a{};
  a.flags = FA_VALID | FA_FID | FA_SIZE | FA_SECURITY | FA_PROPRIETARY;
  a.kind = FK_SYMMETRIC;
  a.fid[0] = 0xD0;
  a.fid[1] = nn;
  a.size[0] = uint8_t(bits >> 8);
  a.size[1] = uint8_t(bits);
  a.proprietary[0] = keyClass;
  a.proprietary[2] = generate ? 1 : 0;
  memset(a.security, 0x01, sizeof a.security);
  if (!flagged) a.security[0] = 0x02;
  return a;
}

// Stores a key in the slot the index does not record yet: its key file (a key the token
// generates, or the given value), then its index record, which the caller's record then carries.
// Nothing of it stays when a step fails.
uint32_t storeKey(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *key, uint8_t keyClass, uint8_t keyLen,
                  const uint8_t *value) {
  uint8_t nn = 0;
  uint32_t rc = findObjectSlot(c, kSecKeyIndexFid, 0xD0, key->id, &nn);
  if (rc) return rc;
  const uint8_t fid[2] = {0xD0, nn};
  if ((rc = createSlotFile(c, keyFileAttr(nn, keyClass, keyLen * 8u, key->attrFlag, !value))) != 0)
    return rc;
  if (value && ((rc = selectFile(c, fid)) != 0 || (rc = putData(c, 0x20, value, keyLen)) != 0)) {
    removeObjectFile(c, fid);
    return rc;
  }
  uint8_t rec[kRecordSize] = {0};
  rec[SK_LEN] = keyLen;
  rec[SK_FID] = 0xD0;
  rec[SK_FID + 1] = nn;
  rec[SK_CLASS] = keyClass;
  rec[SK_ATTR] = key->attrFlag ? 0xF7 : 0xB7;
  memcpy(rec + OBJ_NAME, key->name, kArea);
  memcpy(rec + OBJ_ID, key->id, kArea);
  if ((rc = commitIndexRecord(c, kSecKeyIndexFid, nn, rec)) != 0) {
    removeObjectFile(c, fid);
    return rc;
  }
  key->recordNumber = nn;
  return UKLR_OK;
}

}  // namespace

bool symAlgorithm(uint8_t algId, uint8_t *keyClass, uint8_t *keyLen) {
  for (const SymAlg &a : kAlgs) {
    if (a.id == algId) {
      *keyClass = a.keyClass;
      *keyLen = a.len;
      return true;
    }
  }
  return false;
}

uint8_t symAlgorithmOf(uint8_t keyClass, uint8_t keyLen) {
  switch (keyClass) {
    case 2: return 3;
    case 4: return keyLen == 16 ? 4 : 5;
    case 5: return keyLen == 16 ? 20 : keyLen == 24 ? 21 : 22;
    case 6: return 2;
    case 7: return 1;
    default: return 0;
  }
}

uint8_t symDirection() { return g_symDirection; }

uint32_t findObjectSlot(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi,
                        const uint8_t *idArea, uint8_t *slot) {
  uint8_t matched = 0;
  uint32_t rc = findFreeIndexRecord(
      c, indexFid, kMaxObjects, kObjectIndexReadFail,
      [idArea](const uint8_t *rec) { return sameId(rec + OBJ_ID, idArea); }, slot, &matched);
  if (rc == UKLR_OBJ_EXISTS) {
    const uint8_t fid[2] = {fileHi, matched};
    if (isFileNotFound(selectFile(c, fid))) {
      *slot = matched;
      return UKLR_OK;
    }
    log("---->UKLR_OBJ_EXISTS......\n");
  }
  return rc;
}

uint32_t createSlotFile(UK_USB_DEV_CTX *c, const FILE_ATTR &attr) {
  return createObjectFile(c, attr, [](bool *recorded) {
    *recorded = false;
    return uint32_t(UKLR_OK);
  });
}

uint32_t symList(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *keys, uint32_t *count) {
  return listIndexRecords(c, kSecKeyIndexFid, kMaxObjects, kObjectIndexReadFail, keys, count,
                          [](UK_SYM_KEY_INFO &k, const uint8_t *rec) {
                            k.algId = symAlgorithmOf(rec[SK_CLASS], rec[SK_LEN]);
                            k.attrFlag = rec[SK_ATTR] & 0x40;
                            memcpy(k.name, rec + OBJ_NAME, kArea);
                            memcpy(k.id, rec + OBJ_ID, kArea);
                          });
}

uint32_t symGenerate(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *key) {
  uint8_t cls, len;
  if (!symAlgorithm(key->algId, &cls, &len)) return UKLR_SYM_ALG;
  return storeKey(c, key, cls, len, nullptr);
}

uint32_t symImport(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *key, const uint8_t *value, uint32_t len) {
  uint8_t cls, tableLen;
  if (!symAlgorithm(key->algId, &cls, &tableLen)) return UKLR_SYM_ALG;
  if (!supportedClass(cls)) {
    log("---->UKLR_KEY_TYPE_SUPPORT ......\n");
    return UKLR_KEY_TYPE_SUPPORT;
  }
  // The index records the key length in one byte; the key file sizes end at 256 bits.
  if (!value || len == 0 || len > 32) return UKLR_PARAM_VALUE;
  return storeKey(c, key, cls, uint8_t(len), value);
}

uint32_t symRead(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, uint8_t *buf, uint32_t *len) {
  uint8_t cls, keyLen;
  if (!symAlgorithm(key->algId, &cls, &keyLen)) return UKLR_SYM_ALG;
  if (!validObjectRecord(key->recordNumber)) return UKLR_PARAM_VALUE;
  const uint8_t fid[2] = {0xD0, key->recordNumber};
  uint32_t rc = selectFile(c, fid);
  if (rc) return rc;
  uint8_t value[64];
  uint32_t got = sizeof value;
  if ((rc = getData(c, 0x20, keyLen, value, &got)) != 0) return rc;
  if (got < keyLen) memset(value + got, 0, keyLen - got);
  memcpy(buf, value, keyLen);
  *len = keyLen;
  return UKLR_OK;
}

uint32_t symModify(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, const uint8_t *value,
                   uint8_t len, uint32_t selector) {
  if (!validObjectRecord(key->recordNumber)) return UKLR_PARAM_VALUE;
  uint8_t rec[kRecordSize];
  uint32_t rc = loadIndexRecord(c, kSecKeyIndexFid, key->recordNumber, rec, kObjectIndexReadFail);
  if (rc) return rc;
  memcpy(rec + (selector == 1 ? OBJ_NAME : OBJ_ID), value, len);
  return updateRecord(c, key->recordNumber, rec, kRecordSize);
}

uint32_t symDelete(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key) {
  if (!validObjectRecord(key->recordNumber)) return UKLR_PARAM_VALUE;
  return deleteIndexedObject(c, kSecKeyIndexFid, 0xD0, key->recordNumber);
}

uint32_t symInit(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, uint8_t mode, uint8_t chaining,
                 const uint8_t *iv) {
  uint8_t cls, keyLen;
  if (!symAlgorithm(key->algId, &cls, &keyLen)) return UKLR_SYM_ALG;
  if (!validObjectRecord(key->recordNumber)) return UKLR_PARAM_VALUE;
  const bool chained = chaining != 1;
  if (chained && !iv) return UKLR_PARAM_VALUE;
  uint8_t alg;
  switch (cls) {
    case 2: case 4: alg = chained ? 2 : 1; break;
    case 5: alg = chained ? 5 : 4; break;
    case 6: alg = chained ? 9 : 8; break;
    case 7: alg = chained ? 7 : 6; break;
    default:
      log("---->UKLR_KEY_TYPE_SUPPORT ......\n");
      return UKLR_KEY_TYPE_SUPPORT;
  }
  const uint32_t ivLen = iv ? ((cls == 2 || cls == 4) ? 8 : 16) : 0;
  const bool encipher = mode == 0x81;
  g_symDirection = encipher ? 1 : 2;
  const uint8_t fid[2] = {0xD0, key->recordNumber};
  return setCryptoEnv(c, encipher ? 0x81 : 0x41, 0xB8, alg, fid, iv, ivLen);
}

uint32_t symUpdate(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t inLen, uint8_t *out,
                   uint32_t *outLen) {
  if (inLen > 1000) return UKLR_DATA_LENGTH;
  return g_symDirection == 1 ? encipher(c, in, inLen, out, outLen)
                             : decipher(c, in, inLen, out, outLen);
}

}  // namespace uk
