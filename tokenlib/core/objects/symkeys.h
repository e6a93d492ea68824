// Symmetric keys (index 6000, key files D0 nn) and data objects (index 7000, files E0 nn): the
// operations behind the symmetric-key and data-object exports.
#pragma once
#include <stdint.h>

#include "uk_commands.h"
#include "uk_context.h"

namespace uk {

constexpr uint8_t kSecKeyIndexFid[2] = {0x60, 0x00};
constexpr uint8_t kDataObjectIndexFid[2] = {0x70, 0x00};
constexpr uint32_t kMaxObjects = 8;           // records 1 to 8 of each index
// The line both indexes write when a record cannot be read.
constexpr const char *kObjectIndexReadFail = "---->ReadFile(SEC_KEY_INDEX)......\n";

inline bool validObjectRecord(uint8_t nn) { return nn >= 1 && nn <= kMaxObjects; }

// Algorithm identifier -> key class and key length; false for an unknown identifier.
bool symAlgorithm(uint8_t algId, uint8_t *keyClass, uint8_t *keyLen);
// Key class and stored length -> algorithm identifier (as listed); 0 for an unknown class.
uint8_t symAlgorithmOf(uint8_t keyClass, uint8_t keyLen);

// The slot of a new object (symmetric key or data object, files fileHi nn): duplicate test on the
// ID area and the lowest free record of records 8 down to 1. A record with the same ID whose
// object file is missing is an entry left without its file: its slot is taken over.
uint32_t findObjectSlot(UK_USB_DEV_CTX *c, const uint8_t indexFid[2], uint8_t fileHi,
                        const uint8_t *idArea, uint8_t *slot);
// Creates the object file of a slot the index does not record (a leftover of that identifier
// is replaced).
uint32_t createSlotFile(UK_USB_DEV_CTX *c, const FILE_ATTR &attr);

uint32_t symList(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *keys, uint32_t *count);
uint32_t symGenerate(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *key);
uint32_t symImport(UK_USB_DEV_CTX *c, UK_SYM_KEY_INFO *key, const uint8_t *value, uint32_t len);
uint32_t symRead(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, uint8_t *buf, uint32_t *len);
uint32_t symModify(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, const uint8_t *value,
                   uint8_t len, uint32_t selector);
uint32_t symDelete(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key);
uint32_t symInit(UK_USB_DEV_CTX *c, const UK_SYM_KEY_INFO *key, uint8_t mode, uint8_t chaining,
                 const uint8_t *iv);
uint32_t symUpdate(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t inLen, uint8_t *out,
                   uint32_t *outLen);
// The process-wide direction of the symmetric operation (1 encipher, 2 decipher).
uint8_t symDirection();

uint32_t dataObjectList(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *objs, uint32_t *count);
uint32_t dataObjectWrite(UK_USB_DEV_CTX *c, UK_DATA_OBJECT_INFO *obj, const uint8_t *data,
                         uint8_t len);
uint32_t dataObjectRead(UK_USB_DEV_CTX *c, const UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                        uint32_t *len);
uint32_t dataObjectDelete(UK_USB_DEV_CTX *c, const UK_DATA_OBJECT_INFO *obj);

}  // namespace uk
