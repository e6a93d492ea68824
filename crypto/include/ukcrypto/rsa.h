// RSA public-key operation on moduli of up to 1024 bits, with PKCS #1 v1.5 block type 2
// encryption and block type 1 verification. Fixed-size numbers, no allocation.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ukcrypto/status.h"

namespace ukcrypto {

constexpr size_t kRsaMaxBits = 1024;
constexpr size_t kRsaMaxBytes = kRsaMaxBits / 8;

// Public key: modulus and exponent as 128-byte most-significant-first arrays, right-aligned,
// the modulus bit count, and the Montgomery constants prepared by rsaKeySet.
struct RsaPublicKey {
  uint8_t modulus[kRsaMaxBytes];
  uint8_t exponent[kRsaMaxBytes];
  uint32_t bits;          // bit length of the modulus
  uint32_t modulusBytes;  // (bits + 7) / 8: the length of every block
  // Prepared Montgomery form (internal, filled by rsaKeySet): the modulus and R^2 mod n as
  // little-endian limbs (64-bit limbs where the compiler has a 128-bit product, 32-bit otherwise).
  uint64_t montN[kRsaMaxBytes / 8];
  uint64_t montRR[kRsaMaxBytes / 8];
  uint64_t montN0Inv;  // -n^-1 mod 2^(limb bits)
  uint32_t montLimbs;
  uint32_t exponentBytes;  // significant bytes at the end of exponent
};

// Big-endian modulus and exponent of any length up to 128 significant bytes (leading zeros are
// allowed). The modulus must be odd and at least 96 bits (kBadKey otherwise); the exponent must
// be nonzero and not above 128 bytes.
Status rsaKeySet(RsaPublicKey& key, const uint8_t* modulus, size_t modulusLen,
                 const uint8_t* exponent, size_t exponentLen);

// out = in^e mod n. inLen must equal key.modulusBytes (kBadDataLength), in read big-endian must be
// below n (kOutOfRange); out receives key.modulusBytes bytes (outCap checked: kBufferTooSmall).
Status rsaPublicBlock(const RsaPublicKey& key, const uint8_t* in, size_t inLen, uint8_t* out,
                      size_t outCap);

// The pad generator: state = state * 214013 + 2531011, value = (state >> 16) & 0x7FFF.
struct PadLcg {
  uint32_t state;
  uint32_t next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  }
};

// Builds the k-byte block 00 02 PS 00 data, PS nonzero bytes from lcg (a zero byte is replaced
// by the next value plus one, drawn again while still zero). Needs len + 11 <= k (kBadDataLength otherwise).
Status pkcs1Type2Pad(uint8_t* block, size_t k, const uint8_t* data, size_t len, PadLcg& lcg);

// PKCS #1 v1.5 block type 2 encryption, pad seeded with the current time in seconds.
// out receives key.modulusBytes bytes (big-endian).
Status rsaEncryptPkcs1Type2(const RsaPublicKey& key, const uint8_t* data, size_t len,
                            uint8_t* out, size_t outCap);

// Block type 1 check on a decrypted k-byte block: 00 01, at least 8 pad bytes of FF up to the
// first 00, then the data (pad bytes other than FF are refused: accepting arbitrary pad bytes
// would let low-exponent signatures be forged). *dataOff/*dataLen locate the data in block. kBadPadding on any mismatch.
Status pkcs1Type1Check(const uint8_t* block, size_t k, size_t* dataOff, size_t* dataLen);

// Verify-and-recover: sigLen must equal key.modulusBytes; applies the public operation, checks
// block type 1 and copies the data into out (capacity outCap, kBufferTooSmall with *outLen set to
// the needed length if short). *outLen = data length.
Status rsaVerifyPkcs1Type1(const RsaPublicKey& key, const uint8_t* sig, size_t sigLen,
                           uint8_t* out, size_t outCap, size_t* outLen);

}  // namespace ukcrypto
