// The emulator's cryptography, all of it from OpenSSL's libcrypto, so that the emulator is an
// oracle independent of the project's own crypto/ library.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <map>
#include <vector>

namespace tokensim {

using Bytes = std::vector<uint8_t>;

// Random bytes from OpenSSL's generator.
void randomBytes(uint8_t *out, size_t n);

// DES family in ECB or CBC mode on whole 8-byte blocks: key of 8 (DES), 16 (two-key Triple-DES)
// or 24 bytes (three-key Triple-DES). In CBC mode *iv is the chaining value in and out.
bool desCrypt(const uint8_t *key, size_t keyLen, bool cbc, bool encrypt, uint8_t iv[8],
              uint8_t *data, size_t len);

// AES-128/192/256 in ECB or CBC mode on whole 16-byte blocks; *iv as above (16 bytes).
bool aesCrypt(const uint8_t *key, size_t keyLen, bool cbc, bool encrypt, uint8_t iv[16],
              uint8_t *data, size_t len);

// Two-key Triple-DES CBC over data (a multiple of 8 bytes) from iv; the last output block.
void tdesCbcLast(const uint8_t key[16], const uint8_t iv[8], const uint8_t *data, size_t len,
                 uint8_t out[8]);
// Two-key Triple-DES ECB of a 16-byte block pair.
void tdesEcb16(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);

// RSA key components by the tag the put-data command uses for them:
// 10 e, 11 n, 12 d, 13 p, 14 q, 15 qinv, 16 dp, 17 dq (big-endian magnitudes).
using RsaComps = std::map<uint8_t, Bytes>;

// New key pair of `bits` bits with e = 65537. Components padded to their nominal widths
// (n and d bits/8, the CRT parts bits/16, e 16 bytes).
bool rsaGenerate(unsigned bits, RsaComps *comps);

// Raw RSA (no padding) on a block of exactly the modulus length. Private operation uses the CRT
// parts when all five are present, else d. Fails when the block is not below the modulus or a
// component is missing.
bool rsaRaw(const RsaComps &comps, bool privateOp, const uint8_t *in, size_t len, uint8_t *out);

}  // namespace tokensim
