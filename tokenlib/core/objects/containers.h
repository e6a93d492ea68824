// Containers, RSA key pairs, certificates and the RSA operations: the operations behind the
// container and RSA exports. Each takes the connection record, returns a result code and, on
// failure, may name the failing step for the export's "---->step ......" line in *step.
#pragma once
#include <stdint.h>

#include "index_slots.h"
#include "uk_context.h"

namespace uk {

constexpr uint8_t kRsaIndexFid[2] = {0x50, 0x00};
constexpr uint32_t kMaxContainers = 5;
constexpr uint32_t kNameLimit = 80;        // names and IDs must be shorter
constexpr uint32_t kMaxCert = 4096;

// Offsets in the 192-byte container index record.
enum : uint32_t {
  CI_FLAGS = 0, CI_EX_UNITS = 1, CI_EX_PRI = 2, CI_EX_PUB = 4, CI_EX_CERT = 6,
  CI_SIG_UNITS = 9, CI_SIG_PRI = 10, CI_SIG_PUB = 12, CI_SIG_CERT = 14,
  CI_CONST_26 = 16, CI_CONST_19 = 24, CI_NAME = 32, CI_ID_LEN = 112, CI_ID = 113
};

// Builds the index record of a new container (flags and sizes 0) with the FIDs of record nn.
void buildContainerRecord(uint8_t nn, const char *name, uint8_t idLen, const uint8_t *id,
                          uint8_t rec[192]);
// Fills a container record from an index record (all but the name when withName is false).
void containerFromRecord(uint8_t nn, const uint8_t rec[192], UK_CONTAINER_INFO *ci, bool withName);

uint32_t containerNew(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci);
uint32_t containerList(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *out, uint32_t *count);
uint32_t containerGetByName(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const char *name);
uint32_t containerRename(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const char *name);
uint32_t containerSetId(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *id,
                        uint8_t idLen);
uint32_t containerDelete(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci);
uint32_t containerDeleteKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec);
uint32_t containerDeleteCert(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec);
uint32_t containerGenKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, uint32_t keySpec);
uint32_t containerImportKeyPair(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const void *pub,
                                const void *pri, uint32_t keySpec);
uint32_t containerReadPubKey(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, void *pub,
                             uint32_t keySpec);
uint32_t containerWriteCert(UK_USB_DEV_CTX *c, UK_CONTAINER_INFO *ci, const uint8_t *cert,
                            uint32_t len, uint32_t keySpec);
uint32_t containerReadCert(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, uint8_t *cert,
                           uint32_t *len, uint32_t keySpec);

// Key size of a pair in bytes (size units x 128); 0 when the units are not 1 or 2.
uint32_t pairKeyBytes(const UK_CONTAINER_INFO *ci, uint32_t keySpec);

// RSA operations; *step names the failing step ("uk_SetCrytoEnv", "uk_Encrypt", ...).
uint32_t rsaPubEncrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step);
uint32_t rsaPriEncrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       bool confirm, const char **step);
uint32_t rsaPriEncryptFinal(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t *outLen);
uint32_t rsaPriEncryptCancel(UK_USB_DEV_CTX *c, const char **step);
uint32_t rsaPubDecrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step);
uint32_t rsaPriDecrypt(UK_USB_DEV_CTX *c, const UK_CONTAINER_INFO *ci, const uint8_t *in,
                       uint32_t inLen, uint8_t *out, uint32_t *outLen, uint32_t keySpec,
                       const char **step);

// PKCS #1 v1.5 block handling on the host (exposed for the tests).
// Block type 1 or 2 with 0xFF padding; false when k < len + 11.
bool pkcs1Pad(uint8_t type, const uint8_t *in, uint32_t len, uint8_t *block, uint32_t k);
// Strips block type 1 (0xFF padding) or 2 (non-zero padding) from a recovered block; at least 8
// padding bytes. Returns 0 with *dataPos/*dataLen, or UKLR_PADDING.
uint32_t pkcs1Unpad(uint8_t type, const uint8_t *block, uint32_t len, uint32_t *dataPos,
                    uint32_t *dataLen);

}  // namespace uk
