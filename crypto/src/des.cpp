// DES and Triple-DES. The round function uses eight combined S-box/permutation tables (each S-box
// output already moved through P), computed at compile time from the published tables. Both
// halves are kept rotated left by one bit between the initial and final permutations so that
// each group of six expanded bits is a plain shift-and-mask of the half.
#include <cstring>

#include "ukcrypto/des.h"
#include "bytes.h"

namespace ukcrypto {
namespace {

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                              23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                              41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                              44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6,  3, 15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7, 0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1, 13, 6,  4,  9,  8,  15, 3,  0, 11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5, 2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2,  8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9,  10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1,  13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5, 3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6, 4,  2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4, 14, 7,  5,  11, 10, 15, 4, 2, 7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5, 2,  8,  12, 3,  7, 0, 4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9, 7, 5,  10, 6,  1,  13, 0,  11, 7, 4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1, 4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, 1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2, 0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5, 6,  11}};

constexpr uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr uint32_t rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct SpTables {
  uint32_t t[8][64];
};

// Table j maps six expanded bits (first bit most significant) to the S-box output, permuted by
// P and rotated left by one like the halves.
constexpr SpTables makeSp() {
  SpTables sp{};
  for (int box = 0; box < 8; ++box) {
    for (int v = 0; v < 64; ++v) {
      int row = ((v >> 4) & 2) | (v & 1);
      int col = (v >> 1) & 15;
      uint32_t s = kS[box][row * 16 + col];
      uint32_t pre = s << (28 - 4 * box);  // DES bits 4box+1..4box+4, bit 1 = most significant
      uint32_t post = 0;
      for (int i = 0; i < 32; ++i) {
        if ((pre >> (32 - kP[i])) & 1) post |= 1u << (31 - i);
      }
      sp.t[box][v] = rotl32(post, 1);
    }
  }
  return sp;
}

constexpr SpTables kSp = makeSp();

inline uint32_t feistel(uint32_t r, const uint32_t* k) {
  uint32_t w = rotr32(r, 4) ^ k[0];
  uint32_t f = kSp.t[6][w & 0x3f] | kSp.t[4][(w >> 8) & 0x3f] | kSp.t[2][(w >> 16) & 0x3f] |
               kSp.t[0][(w >> 24) & 0x3f];
  w = r ^ k[1];
  f |= kSp.t[7][w & 0x3f] | kSp.t[5][(w >> 8) & 0x3f] | kSp.t[3][(w >> 16) & 0x3f] |
       kSp.t[1][(w >> 24) & 0x3f];
  return f;
}

// Sixteen rounds on rotated halves; on return (l, r) are the pre-output halves (swapped).
template <bool kDecrypt>
inline void rounds(const uint32_t* ks, uint32_t& left, uint32_t& right) {
  uint32_t l = left, r = right;
  if (!kDecrypt) {
    for (int i = 0; i < 32; i += 4) {
      l ^= feistel(r, ks + i);
      r ^= feistel(l, ks + i + 2);
    }
  } else {
    for (int i = 30; i > 0; i -= 4) {
      l ^= feistel(r, ks + i);
      r ^= feistel(l, ks + i - 2);
    }
  }
  left = r;
  right = l;
}

inline void initialPerm(uint32_t& left, uint32_t& right) {
  uint32_t w;
  w = ((left >> 4) ^ right) & 0x0f0f0f0fu; right ^= w; left ^= w << 4;
  w = ((left >> 16) ^ right) & 0x0000ffffu; right ^= w; left ^= w << 16;
  w = ((right >> 2) ^ left) & 0x33333333u; left ^= w; right ^= w << 2;
  w = ((right >> 8) ^ left) & 0x00ff00ffu; left ^= w; right ^= w << 8;
  right = rotl32(right, 1);
  w = (left ^ right) & 0xaaaaaaaau; left ^= w; right ^= w;
  left = rotl32(left, 1);
}

inline void finalPerm(uint32_t& left, uint32_t& right) {
  uint32_t w;
  left = rotr32(left, 1);
  w = (left ^ right) & 0xaaaaaaaau; left ^= w; right ^= w;
  right = rotr32(right, 1);
  w = ((right >> 8) ^ left) & 0x00ff00ffu; left ^= w; right ^= w << 8;
  w = ((right >> 2) ^ left) & 0x33333333u; left ^= w; right ^= w << 2;
  w = ((left >> 16) ^ right) & 0x0000ffffu; right ^= w; left ^= w << 16;
  w = ((left >> 4) ^ right) & 0x0f0f0f0fu; right ^= w; left ^= w << 4;
}

// One block through DES or EDE, the halves already loaded big-endian.
inline void cryptHalves(const BlockKey& key, bool decrypt, uint32_t& l, uint32_t& r) {
  initialPerm(l, r);
  if (!key.triple) {
    if (decrypt) rounds<true>(key.ks[0].subkeys, l, r);
    else rounds<false>(key.ks[0].subkeys, l, r);
  } else if (!decrypt) {
    rounds<false>(key.ks[0].subkeys, l, r);
    rounds<true>(key.ks[1].subkeys, l, r);
    rounds<false>(key.ks[2].subkeys, l, r);
  } else {
    rounds<true>(key.ks[2].subkeys, l, r);
    rounds<false>(key.ks[1].subkeys, l, r);
    rounds<true>(key.ks[0].subkeys, l, r);
  }
  finalPerm(l, r);
}

inline void encryptHalves(const BlockKey& key, uint32_t& l, uint32_t& r) {
  cryptHalves(key, false, l, r);
}

inline uint64_t encrypt64(const BlockKey& key, uint64_t x) {
  uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
  encryptHalves(key, l, r);
  return (static_cast<uint64_t>(l) << 32) | r;
}

bool validKeyLength(size_t keyLen) {
  return keyLen == kDesKeySize || keyLen == kTdes2KeySize || keyLen == kTdes3KeySize;
}

void ecbRun(const BlockKey& key, bool decrypt, const uint8_t* in, size_t len, uint8_t* out) {
  for (size_t off = 0; off < len; off += 8) {
    uint32_t l = load32be(in + off), r = load32be(in + off + 4);
    cryptHalves(key, decrypt, l, r);
    store32be(out + off, l);
    store32be(out + off + 4, r);
  }
}

void cbcEncryptRun(const BlockKey& key, uint8_t iv[8], const uint8_t* in, size_t len,
                   uint8_t* out) {
  uint32_t cl = load32be(iv), cr = load32be(iv + 4);
  for (size_t off = 0; off < len; off += 8) {
    cl ^= load32be(in + off);
    cr ^= load32be(in + off + 4);
    cryptHalves(key, false, cl, cr);
    store32be(out + off, cl);
    store32be(out + off + 4, cr);
  }
  store32be(iv, cl);
  store32be(iv + 4, cr);
}

void cbcDecryptRun(const BlockKey& key, uint8_t iv[8], const uint8_t* in, size_t len,
                   uint8_t* out) {
  uint32_t pl = load32be(iv), pr = load32be(iv + 4);
  for (size_t off = 0; off < len; off += 8) {
    uint32_t cl = load32be(in + off), cr = load32be(in + off + 4);
    uint32_t l = cl, r = cr;
    cryptHalves(key, true, l, r);
    store32be(out + off, l ^ pl);
    store32be(out + off + 4, r ^ pr);
    pl = cl;
    pr = cr;
  }
  store32be(iv, pl);
  store32be(iv + 4, pr);
}

// OFB and CFB with an s-bit feedback (s = 1, 8 or 64) over a 64-bit register.
void streamRun(const BlockKey& key, bool cfb, bool decrypt, uint32_t bits, uint8_t iv[8],
               const uint8_t* in, size_t len, uint8_t* out) {
  uint64_t reg = load64be(iv);
  if (bits == 64) {
    for (size_t off = 0; off < len; off += 8) {
      uint64_t t = encrypt64(key, reg);
      uint64_t p = load64be(in + off);
      uint64_t c = p ^ t;
      store64be(out + off, c);
      reg = cfb ? (decrypt ? p : c) : t;
    }
  } else if (bits == 8) {
    for (size_t i = 0; i < len; ++i) {
      uint8_t t = static_cast<uint8_t>(encrypt64(key, reg) >> 56);
      uint8_t p = in[i];
      uint8_t c = p ^ t;
      out[i] = c;
      reg = (reg << 8) | (cfb ? (decrypt ? p : c) : t);
    }
  } else {  // 1 bit, most significant bit of each byte first
    for (size_t i = 0; i < len; ++i) {
      uint8_t p = in[i];
      uint8_t c = 0;
      for (int b = 7; b >= 0; --b) {
        uint32_t t = static_cast<uint32_t>(encrypt64(key, reg) >> 63);
        uint32_t pb = (p >> b) & 1;
        uint32_t cb = pb ^ t;
        c |= static_cast<uint8_t>(cb << b);
        reg = (reg << 1) | (cfb ? (decrypt ? pb : cb) : t);
      }
      out[i] = c;
    }
  }
  store64be(iv, reg);
}

bool modeSupportedFor(bool triple, uint32_t mode, uint32_t bits) {
  switch (mode) {
    case kModeCbc:
    case kModeEcb:
      return true;
    case kModeOfb:
      return triple ? bits == 64 : (bits == 1 || bits == 8);
    case kModeCfb:
      return triple ? bits == 64 : (bits == 1 || bits == 8 || bits == 64);
    default:
      return false;
  }
}

Status modeRun(const BlockKey& key, bool decrypt, uint32_t mode, uint32_t bits, uint8_t iv[8],
               const uint8_t* in, size_t len, uint8_t* out) {
  if (!modeSupportedFor(key.triple, mode, bits)) return kBadMode;
  if (len % kDesBlockSize) return kBadDataLength;
  if (len && (!in || !out)) return kBadParameter;
  if (mode != kModeEcb && !iv) return kMissingIv;
  switch (mode) {
    case kModeEcb: ecbRun(key, decrypt, in, len, out); break;
    case kModeCbc:
      if (decrypt) cbcDecryptRun(key, iv, in, len, out);
      else cbcEncryptRun(key, iv, in, len, out);
      break;
    case kModeOfb: streamRun(key, false, decrypt, bits, iv, in, len, out); break;
    default: streamRun(key, true, decrypt, bits, iv, in, len, out); break;
  }
  return kOk;
}

Status helper(const uint8_t* keyBytes, size_t keyLen, bool tripleOnly, bool decrypt,
              uint32_t mode, const uint8_t* iv, const uint8_t* in, size_t len, uint8_t* out) {
  if (tripleOnly && keyLen != kTdes2KeySize && keyLen != kTdes3KeySize) return kBadKeyLength;
  BlockKey key;
  Status st = blockKeySet(key, keyBytes, keyLen);
  if (st != kOk) return st;
  uint8_t chain[8] = {};
  if (mode == kModeCbc) {
    if (!iv) {
      blockKeyClear(key);
      return kMissingIv;
    }
    std::memcpy(chain, iv, 8);
  }
  st = modeRun(key, decrypt, mode, 64, chain, in, len, out);
  blockKeyClear(key);
  return st;
}

}  // namespace

void desSetKey(DesSchedule& ks, const uint8_t key[kDesKeySize]) {
  uint64_t k = load64be(key);
  uint32_t c = 0, d = 0;
  for (int i = 0; i < 28; ++i) {
    c = (c << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1);
    d = (d << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i + 28])) & 1);
  }
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
      d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
    }
    uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;  // bit 1 of CD is bit 55
    uint64_t sub = 0;                                     // 48 bits, bit 1 most significant
    for (int i = 0; i < 48; ++i) sub = (sub << 1) | ((cd >> (56 - kPc2[i])) & 1);
    auto chunk = [&](int box) { return static_cast<uint32_t>((sub >> (42 - 6 * box)) & 0x3f); };
    // First word pairs with the half rotated right by 4 (boxes 7, 5, 3, 1), second with the half
    // itself (boxes 8, 6, 4, 2).
    ks.subkeys[2 * round] = chunk(6) | (chunk(4) << 8) | (chunk(2) << 16) | (chunk(0) << 24);
    ks.subkeys[2 * round + 1] = chunk(7) | (chunk(5) << 8) | (chunk(3) << 16) | (chunk(1) << 24);
  }
}

void desEncryptBlock(const DesSchedule& ks, const uint8_t in[8], uint8_t out[8]) {
  uint32_t l = load32be(in), r = load32be(in + 4);
  initialPerm(l, r);
  rounds<false>(ks.subkeys, l, r);
  finalPerm(l, r);
  store32be(out, l);
  store32be(out + 4, r);
}

void desDecryptBlock(const DesSchedule& ks, const uint8_t in[8], uint8_t out[8]) {
  uint32_t l = load32be(in), r = load32be(in + 4);
  initialPerm(l, r);
  rounds<true>(ks.subkeys, l, r);
  finalPerm(l, r);
  store32be(out, l);
  store32be(out + 4, r);
}

Status blockKeySet(BlockKey& key, const uint8_t* keyBytes, size_t keyLen) {
  if (!validKeyLength(keyLen)) return kBadKeyLength;
  if (!keyBytes) return kBadParameter;
  desSetKey(key.ks[0], keyBytes);
  if (keyLen == kDesKeySize) {
    key.triple = false;
    std::memset(&key.ks[1], 0, sizeof(key.ks[1]) * 2);
    return kOk;
  }
  key.triple = true;
  desSetKey(key.ks[1], keyBytes + 8);
  if (keyLen == kTdes3KeySize) desSetKey(key.ks[2], keyBytes + 16);
  else key.ks[2] = key.ks[0];
  return kOk;
}

void blockKeyEncrypt(const BlockKey& key, const uint8_t in[8], uint8_t out[8]) {
  uint32_t l = load32be(in), r = load32be(in + 4);
  cryptHalves(key, false, l, r);
  store32be(out, l);
  store32be(out + 4, r);
}

void blockKeyDecrypt(const BlockKey& key, const uint8_t in[8], uint8_t out[8]) {
  uint32_t l = load32be(in), r = load32be(in + 4);
  cryptHalves(key, true, l, r);
  store32be(out, l);
  store32be(out + 4, r);
}

void blockKeyClear(BlockKey& key) { secureZero(&key, sizeof(key)); }

Status ecbEncrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len, uint8_t* out) {
  return helper(key, keyLen, false, false, kModeEcb, nullptr, in, len, out);
}
Status ecbDecrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len, uint8_t* out) {
  return helper(key, keyLen, false, true, kModeEcb, nullptr, in, len, out);
}
Status cbcEncrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                  size_t len, uint8_t* out) {
  return helper(key, keyLen, false, false, kModeCbc, iv, in, len, out);
}
Status cbcDecrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                  size_t len, uint8_t* out) {
  return helper(key, keyLen, false, true, kModeCbc, iv, in, len, out);
}
Status tdesEcbEncrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len,
                      uint8_t* out) {
  return helper(key, keyLen, true, false, kModeEcb, nullptr, in, len, out);
}
Status tdesEcbDecrypt(const uint8_t* key, size_t keyLen, const uint8_t* in, size_t len,
                      uint8_t* out) {
  return helper(key, keyLen, true, true, kModeEcb, nullptr, in, len, out);
}
Status tdesCbcEncrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                      size_t len, uint8_t* out) {
  return helper(key, keyLen, true, false, kModeCbc, iv, in, len, out);
}
Status tdesCbcDecrypt(const uint8_t* key, size_t keyLen, const uint8_t iv[8], const uint8_t* in,
                      size_t len, uint8_t* out) {
  return helper(key, keyLen, true, true, kModeCbc, iv, in, len, out);
}

Status pkcs5Pad(uint8_t* buf, size_t len, size_t cap, size_t* paddedLen) {
  if (!buf || !paddedLen) return kBadParameter;
  size_t total = pkcs5PaddedLength(len);
  if (cap < total) {
    *paddedLen = total;
    return kBufferTooSmall;
  }
  uint8_t pad = static_cast<uint8_t>(total - len);
  std::memset(buf + len, pad, pad);
  *paddedLen = total;
  return kOk;
}

Status pkcs5Unpad(const uint8_t* buf, size_t len, size_t* outLen) {
  if (!outLen || (len && !buf)) return kBadParameter;
  *outLen = len;
  if (len == 0) return kOk;
  uint8_t a = buf[len - 1];
  if (a == 0 || a > 8) return kOk;
  if (a > len) return kBadPadding;
  for (size_t i = len - a; i < len; ++i) {
    if (buf[i] != a) return kBadPadding;
  }
  *outLen = len - a;
  return kOk;
}

bool blockModeSupported(size_t keyLen, uint32_t mode, uint32_t modeBits) {
  return validKeyLength(keyLen) && modeSupportedFor(keyLen != kDesKeySize, mode, modeBits);
}

Status modeEncrypt(const BlockKey& key, uint32_t mode, uint32_t modeBits, uint8_t iv[8],
                   const uint8_t* in, size_t len, uint8_t* out) {
  return modeRun(key, false, mode, modeBits, iv, in, len, out);
}

Status modeDecrypt(const BlockKey& key, uint32_t mode, uint32_t modeBits, uint8_t iv[8],
                   const uint8_t* in, size_t len, uint8_t* out) {
  return modeRun(key, true, mode, modeBits, iv, in, len, out);
}

namespace {

Status checkEntry(const uint8_t* in, size_t len, const uint8_t* key, size_t keyLen,
                  const uint8_t* iv, int padding, uint32_t mode, uint32_t modeBits,
                  const uint8_t* out, const size_t* outLen) {
  if (!outLen || !key || (len && !in) || (padding != 0 && padding != 1)) return kBadParameter;
  if (!validKeyLength(keyLen)) return kBadKeyLength;
  if (!modeSupportedFor(keyLen != kDesKeySize, mode, modeBits)) return kBadMode;
  if (mode != kModeEcb && !iv) return kMissingIv;
  return kOk;
}

}  // namespace

Status blockEncrypt(const uint8_t* in, size_t len, const uint8_t* key, size_t keyLen,
                    const uint8_t* iv, int padding, uint32_t mode, uint32_t modeBits,
                    uint8_t* out, size_t* outLen) {
  Status st = checkEntry(in, len, key, keyLen, iv, padding, mode, modeBits, out, outLen);
  if (st != kOk) return st;
  if (!padding && len % kDesBlockSize) return kBadDataLength;
  size_t total = padding ? pkcs5PaddedLength(len) : len;
  if (*outLen < total) {
    *outLen = total;
    return kBufferTooSmall;
  }
  if (!out) return kBadParameter;
  if (len) std::memmove(out, in, len);
  if (padding) pkcs5Pad(out, len, total, &total);
  BlockKey k;
  blockKeySet(k, key, keyLen);
  uint8_t chain[8] = {};
  if (iv && mode != kModeEcb) std::memcpy(chain, iv, 8);
  st = modeRun(k, false, mode, modeBits, chain, out, total, out);
  blockKeyClear(k);
  *outLen = total;
  return st;
}

Status blockDecrypt(const uint8_t* in, size_t len, const uint8_t* key, size_t keyLen,
                    const uint8_t* iv, int padding, uint32_t mode, uint32_t modeBits,
                    uint8_t* out, size_t* outLen) {
  Status st = checkEntry(in, len, key, keyLen, iv, padding, mode, modeBits, out, outLen);
  if (st != kOk) return st;
  if (len % kDesBlockSize) return kBadDataLength;
  if (*outLen < len) {
    *outLen = len;
    return kBufferTooSmall;
  }
  if (len && !out) return kBadParameter;
  BlockKey k;
  blockKeySet(k, key, keyLen);
  uint8_t chain[8] = {};
  if (iv && mode != kModeEcb) std::memcpy(chain, iv, 8);
  st = modeRun(k, true, mode, modeBits, chain, in, len, out);
  blockKeyClear(k);
  if (st != kOk) return st;
  *outLen = len;
  if (padding) return pkcs5Unpad(out, len, outLen);
  return kOk;
}

}  // namespace ukcrypto
