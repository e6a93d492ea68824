// RC4 key schedule and key stream.
#include "ukcrypto/rc4.h"
#include <cstring>

#include "bytes.h"

namespace ukcrypto {

void rc4Reset(Rc4State& st) {
  for (uint32_t k = 0; k < 256; ++k) st.s[k] = k;
  st.i = 0;
  st.j = 0;
}

void rc4KeyPass(Rc4State& st, const uint8_t* key, size_t len, size_t* keyPos) {
  if (!len || !key) return;
  size_t pos = keyPos ? *keyPos % len : 0;
  uint32_t j = st.j;
  for (int k = 0; k < 256; ++k) {
    uint32_t t = st.s[k];
    j = (j + t + key[pos]) & 0xff;
    st.s[k] = st.s[j];
    st.s[j] = t;
    if (++pos == len) pos = 0;
  }
  st.j = j;
  if (keyPos) *keyPos = pos;
}

void rc4Init(Rc4State& st, const uint8_t* key, size_t len) {
  rc4Reset(st);
  size_t pos = 0;
  rc4KeyPass(st, key, len > 256 ? 256 : len, &pos);
  st.i = 0;
  st.j = 0;
}

void rc4Crypt(Rc4State& st, const uint8_t* in, uint8_t* out, size_t len) {
  uint32_t* s = st.s;
  // Byte-typed indices wrap by themselves, which saves the masking on the dependent path.
  uint8_t i = static_cast<uint8_t>(st.i), j = static_cast<uint8_t>(st.j);
  size_t n = 0;
  // Eight key-stream bytes gathered into one word, then one 8-byte XOR.
  for (; n + 8 <= len; n += 8) {
    uint64_t ks = 0;
    for (int k = 0; k < 8; ++k) {
      ++i;
      uint32_t a = s[i];
      j = static_cast<uint8_t>(j + a);
      uint32_t b = s[j];
      s[i] = b;
      s[j] = a;
      ks |= static_cast<uint64_t>(s[static_cast<uint8_t>(a + b)]) << (8 * k);
    }
    uint64_t v;
    std::memcpy(&v, in + n, 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    ks = __builtin_bswap64(ks);
#endif
    v ^= ks;
    std::memcpy(out + n, &v, 8);
  }
  for (; n < len; ++n) {
    ++i;
    uint32_t a = s[i];
    j = static_cast<uint8_t>(j + a);
    uint32_t b = s[j];
    s[i] = b;
    s[j] = a;
    out[n] = static_cast<uint8_t>(in[n] ^ s[static_cast<uint8_t>(a + b)]);
  }
  st.i = i;
  st.j = j;
}

void rc4Crypt(Rc4State& st, uint8_t* data, size_t len) { rc4Crypt(st, data, data, len); }

void rc4Clear(Rc4State& st) { secureZero(&st, sizeof(st)); }

}  // namespace ukcrypto
