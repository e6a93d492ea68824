// Key blobs in the CryptoAPI layout (little-endian fields, numbers least significant byte first):
// parsing of every blob the provider imports, checking each length against the caller's length
// before anything is read, and building of the blobs it exports.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "records.h"
#include "uk_tokenlib.h"

namespace csp {

constexpr uint32_t kBlobHeaderSize = 8;
constexpr uint32_t kSimpleBlobPrefix = 12;      // header + the exchange key's algorithm
constexpr uint32_t kTokenSimpleBlobSize = 140;  // prefix + a 1024-bit RSA block
constexpr uint32_t kTokenPublicKeyBlobSize = 148;
constexpr uint32_t kPrivateKeyBlobSize = 596;   // RSA-1024 only

struct BlobHeader {
  uint8_t type;
  uint8_t version;
  uint16_t reserved;
  uint32_t algorithm;
};

// The header of a blob of at least 8 bytes.
BlobHeader readBlobHeader(const uint8_t *data);

// PUBLICKEYBLOB of an RSA key of at most 1024 bits into the key state (modulus most significant
// byte first). 0, NTE_BAD_DATA or NTE_BAD_VER.
uint32_t parsePublicKeyBlob(const uint8_t *data, uint32_t len, RsaPublicState *key,
                            uint32_t *algorithm);

// SIMPLEBLOB for an import key of the given algorithm (software or token key). On success the
// session algorithm and the 128 encrypted bytes, most significant first. 0, NTE_BAD_VER,
// NTE_BAD_DATA, NTE_BAD_ALGID or NTE_BAD_KEY.
uint32_t parseSimpleBlob(const uint8_t *data, uint32_t len, uint32_t importAlgorithm,
                         bool importKeyInSoftware, uint32_t *sessionAlgorithm,
                         uint8_t encrypted[128]);

// PRIVATEKEYBLOB of an RSA-1024 key into the token library's key records. 0, NTE_BAD_DATA or
// NTE_BAD_VER.
uint32_t parsePrivateKeyBlob(const uint8_t *data, uint32_t len, UK_RSA_PUBLIC_KEY *pub,
                             UK_RSA_PRIVATE_KEY *pri, uint32_t *algorithm);

// PUBLICKEYBLOB of bits/8 + 20 bytes from a most-significant-first modulus (or, with
// modulusLittleEndian, one already least significant first).
void buildPublicKeyBlob(uint32_t algorithm, uint32_t bits, uint32_t exponent,
                        const uint8_t *modulus, bool modulusLittleEndian, uint8_t *out);

// SIMPLEBLOB: the 12-byte prefix and the RSA block (most significant first) reversed after it.
void buildSimpleBlob(uint32_t sessionAlgorithm, uint32_t exchangeAlgorithm,
                     const uint8_t *block, uint32_t blockLen, uint8_t *out);

// Copies n bytes reversed (n <= the room of both buffers is the caller's check).
void reverseCopy(uint8_t *dst, const uint8_t *src, size_t n);

}  // namespace csp
