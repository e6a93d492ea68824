// DES in OFB mode with a 1- or 8-bit feedback, which OpenSSL's EVP interface lacks: the
// independent reference of the cipher tests (OpenSSL's classic DES API). Header-only.
#pragma once
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/des.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace ukossl {

// DES OFB with a 1- or 8-bit feedback has no EVP cipher; the classic DES API has it.
inline std::vector<uint8_t> desOfb(int bits, const std::vector<uint8_t>& key, std::vector<uint8_t> iv,
                            const std::vector<uint8_t>& in) {
  DES_key_schedule ks;
  DES_cblock kb;
  std::memcpy(kb, key.data(), 8);
  DES_set_key_unchecked(&kb, &ks);
  std::vector<uint8_t> out(in.size());
  DES_cblock ivb;
  std::memcpy(ivb, iv.data(), 8);
  if (bits == 8) {
    // One byte per 8-bit unit.
    DES_ofb_encrypt(in.data(), out.data(), 8, static_cast<long>(in.size()), &ks, &ivb);
  } else {
    // OpenSSL's 1-bit unit is the low bit of the first output byte, not the leftmost bit that
    // FIPS 81 feeds back; so 1-bit OFB is written out here over OpenSSL's DES block function.
    uint8_t reg[8];
    std::memcpy(reg, iv.data(), 8);
    for (size_t i = 0; i < in.size() * 8; ++i) {
      DES_cblock o;
      DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(reg), &o, &ks, DES_ENCRYPT);
      unsigned bit = o[0] >> 7;
      if (((in[i / 8] >> (7 - i % 8)) & 1) ^ bit) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      for (int k = 0; k < 8; ++k) reg[k] = static_cast<uint8_t>(reg[k] << 1 | (k < 7 ? reg[k + 1] >> 7 : bit));
    }
  }
  return out;
}

}  // namespace ukossl
