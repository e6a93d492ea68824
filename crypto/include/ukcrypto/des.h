// DES (FIPS 46-3) and Triple-DES EDE (ANSI X9.52) with ECB, CBC, OFB and CFB, and PKCS #5 padding.
// Fixed-size key schedules, no allocation. In-place operation (out == in) is allowed everywhere.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ukcrypto/status.h"

namespace ukcrypto {

constexpr size_t kDesBlockSize = 8;
constexpr size_t kDesKeySize = 8;
constexpr size_t kTdes2KeySize = 16;  // K1, K2, K1
constexpr size_t kTdes3KeySize = 24;  // K1, K2, K3

// Mode numbers as CryptoAPI's KP_MODE numbers them.
enum CipherMode : uint32_t {
  kModeCbc = 1,
  kModeEcb = 2,
  kModeOfb = 3,
  kModeCfb = 4
};

// --- Single blocks -------------------------------------------------------------------------------

struct DesSchedule {
  uint32_t subkeys[32];  // 16 rounds, two words each, laid out for the combined S-box/P tables
};

void desSetKey(DesSchedule& ks, const uint8_t key[kDesKeySize]);
void desEncryptBlock(const DesSchedule& ks, const uint8_t in[8], uint8_t out[8]);
void desDecryptBlock(const DesSchedule& ks, const uint8_t in[8], uint8_t out[8]);

// A DES or Triple-DES key: 8 bytes give single DES, 16 bytes two-key EDE (K1,K2,K1),
// 24 bytes three-key EDE.
struct BlockKey {
  DesSchedule ks[3];
  bool triple;
};

// kOk, or kBadKeyLength / kBadParameter.
Status blockKeySet(BlockKey& key, const uint8_t* keyBytes, size_t keyLen);
void blockKeyEncrypt(const BlockKey& key, const uint8_t in[8], uint8_t out[8]);
void blockKeyDecrypt(const BlockKey& key, const uint8_t in[8], uint8_t out[8]);
// Wipes the schedule.
void blockKeyClear(BlockKey& key);

// --- Plain ECB / CBC helpers on whole blocks ------------------------------------------------------
// keyLen: 8 (DES), 16 or 24 (Triple-DES). len must be a multiple of 8 (kBadDataLength otherwise);
// out must hold len bytes. CBC needs an 8-byte IV (kMissingIv when null).

Status ecbEncrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len, uint8_t* out);
Status ecbDecrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len, uint8_t* out);
Status cbcEncrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                  size_t len, uint8_t* out);
Status cbcDecrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                  size_t len, uint8_t* out);

// Triple-DES only (keyLen 16 or 24; anything else kBadKeyLength): what the secure channel uses.
Status tdesEcbEncrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len,
                      uint8_t* out);
Status tdesEcbDecrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len,
                      uint8_t* out);
Status tdesCbcEncrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                      size_t len, uint8_t* out);
Status tdesCbcDecrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                      size_t len, uint8_t* out);

// --- PKCS #5 padding ------------------------------------------------------------------------------

// Length after padding: always 1 to 8 bytes more (8 bytes of data gain a full block).
inline size_t pkcs5PaddedLength(size_t len) { return len + (kDesBlockSize - len % kDesBlockSize); }

// Appends the pad to buf, which holds len bytes of data and has room for cap bytes.
// Returns kBufferTooSmall if cap < pkcs5PaddedLength(len); *paddedLen gets the new length.
Status pkcs5Pad(uint8_t* buf, size_t len, size_t cap, size_t* paddedLen);

// Removal rule: with last byte a, if 1 <= a <= 8 and the last a bytes all equal a they are
// removed; if a is 0 or above 8 nothing is removed and the result is still kOk; otherwise
// kBadPadding and *outLen = len. An empty buffer gives kOk with *outLen = 0.
Status pkcs5Unpad(const uint8_t* buf, size_t len, size_t* outLen);

// --- The provider's block-cipher entry points ----------------------------------------------------
// Supported modes and mode bits:
//   CBC (1): DES and Triple-DES, IV required.   ECB (2): DES and Triple-DES, IV ignored.
//   OFB (3): DES with mode bits 1 or 8; Triple-DES with 64.
//   CFB (4): DES with mode bits 1, 8 or 64; Triple-DES with 64.
// OFB and CFB also need an IV. Any other combination returns kBadMode and leaves out untouched.
//
// blockEncrypt: key length 8, 16 or 24. With padding 1 any length is accepted and PKCS #5
// padding is added; with padding 0 the length must be a multiple of 8. *outLen is the capacity
// of out on entry (kBufferTooSmall, with *outLen set to the needed length, if short) and the
// produced length on return.
// blockDecrypt: the length must be a multiple of 8. With padding 1 the pad is removed by the
// pkcs5Unpad rule; if that fails, out holds the whole decryption, *outLen = len and the result is
// kBadPadding.
// out may be null with a short *outLen (size query: kBufferTooSmall and the needed length).
// iv may be null for ECB. out may equal in. On kBadMode, kMissingIv and the other argument errors
// out is not written.
Status blockEncrypt(const uint8_t* in, size_t len, const uint8_t* key, size_t keyLen,
                    const uint8_t* iv, int padding, uint32_t mode, uint32_t modeBits,
                    uint8_t* out, size_t* outLen);
Status blockDecrypt(const uint8_t* in, size_t len, const uint8_t* key, size_t keyLen,
                    const uint8_t* iv, int padding, uint32_t mode, uint32_t modeBits,
                    uint8_t* out, size_t* outLen);

// True if (key length, mode, mode bits) is in the table above.
bool blockModeSupported(size_t keyLen, uint32_t mode, uint32_t modeBits);

// Lower level: the mode engines over a prepared key, on whole 8-byte blocks (len % 8 == 0
// checked by the callers above). iv is updated to the chaining value for the next call
// (last ciphertext block for CBC and CFB-64, the feedback register for OFB/CFB-1/CFB-8).
Status modeEncrypt(const BlockKey& key, uint32_t mode, uint32_t modeBits, uint8_t iv[8],
                   const uint8_t* in, size_t len, uint8_t* out);
Status modeDecrypt(const BlockKey& key, uint32_t mode, uint32_t modeBits, uint8_t iv[8],
                   const uint8_t* in, size_t len, uint8_t* out);

}  // namespace ukcrypto
