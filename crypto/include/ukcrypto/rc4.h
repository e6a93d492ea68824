// The RC4 stream cipher. Fixed-size state, no allocation.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ukcrypto {

// The permutation is held in 32-bit cells: byte-sized cells make every swap a partial-register
// store that the next load must wait for.
struct Rc4State {
  uint32_t s[256];
  uint32_t i;
  uint32_t j;
};

// Key schedule from (key, len), 1 <= len <= 256 (a zero length leaves the identity permutation).
void rc4Init(Rc4State& st, const uint8_t* key, size_t len);
// Encrypts or decrypts in place with the key stream.
void rc4Crypt(Rc4State& st, uint8_t* data, size_t len);
void rc4Crypt(Rc4State& st, const uint8_t* in, uint8_t* out, size_t len);
void rc4Clear(Rc4State& st);

// Building blocks of the random generator's keying: reset to the identity permutation with both
// indices 0, and one 256-step key-schedule pass over (key, len) that continues from the current
// index j (and the key position *keyPos, which advances modulo len).
void rc4Reset(Rc4State& st);
void rc4KeyPass(Rc4State& st, const uint8_t* key, size_t len, size_t* keyPos);

}  // namespace ukcrypto
