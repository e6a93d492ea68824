// MD5 (RFC 1321) and SHA-1 (FIPS 180-1) with fully unrolled compression functions.
#include <atomic>
#include <cstring>

#include "ukcrypto/hash.h"
#include "bytes.h"
#include "sha1_hw.h"

namespace ukcrypto {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define H(x, y, z) ((x) ^ (y) ^ (z))
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
#define STEP(f, a, b, c, d, m, t, s) \
  a += f(b, c, d) + (m) + (t);       \
  a = rotl(a, s) + (b)

void md5Blocks(uint32_t st[4], const uint8_t* p, size_t blocks) {
  uint32_t x[16];
  while (blocks--) {
    for (int i = 0; i < 16; ++i) x[i] = load32le(p + 4 * i);
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
  STEP(F, a, b, c, d, x[0], 0xd76aa478u, 7);
  STEP(F, d, a, b, c, x[1], 0xe8c7b756u, 12);
  STEP(F, c, d, a, b, x[2], 0x242070dbu, 17);
  STEP(F, b, c, d, a, x[3], 0xc1bdceeeu, 22);
  STEP(F, a, b, c, d, x[4], 0xf57c0fafu, 7);
  STEP(F, d, a, b, c, x[5], 0x4787c62au, 12);
  STEP(F, c, d, a, b, x[6], 0xa8304613u, 17);
  STEP(F, b, c, d, a, x[7], 0xfd469501u, 22);
  STEP(F, a, b, c, d, x[8], 0x698098d8u, 7);
  STEP(F, d, a, b, c, x[9], 0x8b44f7afu, 12);
  STEP(F, c, d, a, b, x[10], 0xffff5bb1u, 17);
  STEP(F, b, c, d, a, x[11], 0x895cd7beu, 22);
  STEP(F, a, b, c, d, x[12], 0x6b901122u, 7);
  STEP(F, d, a, b, c, x[13], 0xfd987193u, 12);
  STEP(F, c, d, a, b, x[14], 0xa679438eu, 17);
  STEP(F, b, c, d, a, x[15], 0x49b40821u, 22);
  STEP(G, a, b, c, d, x[1], 0xf61e2562u, 5);
  STEP(G, d, a, b, c, x[6], 0xc040b340u, 9);
  STEP(G, c, d, a, b, x[11], 0x265e5a51u, 14);
  STEP(G, b, c, d, a, x[0], 0xe9b6c7aau, 20);
  STEP(G, a, b, c, d, x[5], 0xd62f105du, 5);
  STEP(G, d, a, b, c, x[10], 0x02441453u, 9);
  STEP(G, c, d, a, b, x[15], 0xd8a1e681u, 14);
  STEP(G, b, c, d, a, x[4], 0xe7d3fbc8u, 20);
  STEP(G, a, b, c, d, x[9], 0x21e1cde6u, 5);
  STEP(G, d, a, b, c, x[14], 0xc33707d6u, 9);
  STEP(G, c, d, a, b, x[3], 0xf4d50d87u, 14);
  STEP(G, b, c, d, a, x[8], 0x455a14edu, 20);
  STEP(G, a, b, c, d, x[13], 0xa9e3e905u, 5);
  STEP(G, d, a, b, c, x[2], 0xfcefa3f8u, 9);
  STEP(G, c, d, a, b, x[7], 0x676f02d9u, 14);
  STEP(G, b, c, d, a, x[12], 0x8d2a4c8au, 20);
  STEP(H, a, b, c, d, x[5], 0xfffa3942u, 4);
  STEP(H, d, a, b, c, x[8], 0x8771f681u, 11);
  STEP(H, c, d, a, b, x[11], 0x6d9d6122u, 16);
  STEP(H, b, c, d, a, x[14], 0xfde5380cu, 23);
  STEP(H, a, b, c, d, x[1], 0xa4beea44u, 4);
  STEP(H, d, a, b, c, x[4], 0x4bdecfa9u, 11);
  STEP(H, c, d, a, b, x[7], 0xf6bb4b60u, 16);
  STEP(H, b, c, d, a, x[10], 0xbebfbc70u, 23);
  STEP(H, a, b, c, d, x[13], 0x289b7ec6u, 4);
  STEP(H, d, a, b, c, x[0], 0xeaa127fau, 11);
  STEP(H, c, d, a, b, x[3], 0xd4ef3085u, 16);
  STEP(H, b, c, d, a, x[6], 0x04881d05u, 23);
  STEP(H, a, b, c, d, x[9], 0xd9d4d039u, 4);
  STEP(H, d, a, b, c, x[12], 0xe6db99e5u, 11);
  STEP(H, c, d, a, b, x[15], 0x1fa27cf8u, 16);
  STEP(H, b, c, d, a, x[2], 0xc4ac5665u, 23);
  STEP(I, a, b, c, d, x[0], 0xf4292244u, 6);
  STEP(I, d, a, b, c, x[7], 0x432aff97u, 10);
  STEP(I, c, d, a, b, x[14], 0xab9423a7u, 15);
  STEP(I, b, c, d, a, x[5], 0xfc93a039u, 21);
  STEP(I, a, b, c, d, x[12], 0x655b59c3u, 6);
  STEP(I, d, a, b, c, x[3], 0x8f0ccc92u, 10);
  STEP(I, c, d, a, b, x[10], 0xffeff47du, 15);
  STEP(I, b, c, d, a, x[1], 0x85845dd1u, 21);
  STEP(I, a, b, c, d, x[8], 0x6fa87e4fu, 6);
  STEP(I, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
  STEP(I, c, d, a, b, x[6], 0xa3014314u, 15);
  STEP(I, b, c, d, a, x[13], 0x4e0811a1u, 21);
  STEP(I, a, b, c, d, x[4], 0xf7537e82u, 6);
  STEP(I, d, a, b, c, x[11], 0xbd3af235u, 10);
  STEP(I, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
  STEP(I, b, c, d, a, x[9], 0xeb86d391u, 21);
    st[0] += a;
    st[1] += b;
    st[2] += c;
    st[3] += d;
    p += 64;
  }
}

#undef F
#undef G
#undef H
#undef I
#undef STEP

void sha1BlocksPortable(uint32_t st[5], const uint8_t* p, size_t blocks) {
  uint32_t w[16];
  while (blocks--) {
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3], e = st[4];
    e += rotl(a, 5) + (d ^ (b & (c ^ d))) + 0x5a827999u + (w[0] = load32be(p + 0));
    b = rotl(b, 30);
    d += rotl(e, 5) + (c ^ (a & (b ^ c))) + 0x5a827999u + (w[1] = load32be(p + 4));
    a = rotl(a, 30);
    c += rotl(d, 5) + (b ^ (e & (a ^ b))) + 0x5a827999u + (w[2] = load32be(p + 8));
    e = rotl(e, 30);
    b += rotl(c, 5) + (a ^ (d & (e ^ a))) + 0x5a827999u + (w[3] = load32be(p + 12));
    d = rotl(d, 30);
    a += rotl(b, 5) + (e ^ (c & (d ^ e))) + 0x5a827999u + (w[4] = load32be(p + 16));
    c = rotl(c, 30);
    e += rotl(a, 5) + (d ^ (b & (c ^ d))) + 0x5a827999u + (w[5] = load32be(p + 20));
    b = rotl(b, 30);
    d += rotl(e, 5) + (c ^ (a & (b ^ c))) + 0x5a827999u + (w[6] = load32be(p + 24));
    a = rotl(a, 30);
    c += rotl(d, 5) + (b ^ (e & (a ^ b))) + 0x5a827999u + (w[7] = load32be(p + 28));
    e = rotl(e, 30);
    b += rotl(c, 5) + (a ^ (d & (e ^ a))) + 0x5a827999u + (w[8] = load32be(p + 32));
    d = rotl(d, 30);
    a += rotl(b, 5) + (e ^ (c & (d ^ e))) + 0x5a827999u + (w[9] = load32be(p + 36));
    c = rotl(c, 30);
    e += rotl(a, 5) + (d ^ (b & (c ^ d))) + 0x5a827999u + (w[10] = load32be(p + 40));
    b = rotl(b, 30);
    d += rotl(e, 5) + (c ^ (a & (b ^ c))) + 0x5a827999u + (w[11] = load32be(p + 44));
    a = rotl(a, 30);
    c += rotl(d, 5) + (b ^ (e & (a ^ b))) + 0x5a827999u + (w[12] = load32be(p + 48));
    e = rotl(e, 30);
    b += rotl(c, 5) + (a ^ (d & (e ^ a))) + 0x5a827999u + (w[13] = load32be(p + 52));
    d = rotl(d, 30);
    a += rotl(b, 5) + (e ^ (c & (d ^ e))) + 0x5a827999u + (w[14] = load32be(p + 56));
    c = rotl(c, 30);
    e += rotl(a, 5) + (d ^ (b & (c ^ d))) + 0x5a827999u + (w[15] = load32be(p + 60));
    b = rotl(b, 30);
    d += rotl(e, 5) + (c ^ (a & (b ^ c))) + 0x5a827999u + (w[0] = rotl(w[13] ^ w[8] ^ w[2] ^ w[0], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (b ^ (e & (a ^ b))) + 0x5a827999u + (w[1] = rotl(w[14] ^ w[9] ^ w[3] ^ w[1], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (a ^ (d & (e ^ a))) + 0x5a827999u + (w[2] = rotl(w[15] ^ w[10] ^ w[4] ^ w[2], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (e ^ (c & (d ^ e))) + 0x5a827999u + (w[3] = rotl(w[0] ^ w[11] ^ w[5] ^ w[3], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0x6ed9eba1u + (w[4] = rotl(w[1] ^ w[12] ^ w[6] ^ w[4], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0x6ed9eba1u + (w[5] = rotl(w[2] ^ w[13] ^ w[7] ^ w[5], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0x6ed9eba1u + (w[6] = rotl(w[3] ^ w[14] ^ w[8] ^ w[6], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0x6ed9eba1u + (w[7] = rotl(w[4] ^ w[15] ^ w[9] ^ w[7], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0x6ed9eba1u + (w[8] = rotl(w[5] ^ w[0] ^ w[10] ^ w[8], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0x6ed9eba1u + (w[9] = rotl(w[6] ^ w[1] ^ w[11] ^ w[9], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0x6ed9eba1u + (w[10] = rotl(w[7] ^ w[2] ^ w[12] ^ w[10], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0x6ed9eba1u + (w[11] = rotl(w[8] ^ w[3] ^ w[13] ^ w[11], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0x6ed9eba1u + (w[12] = rotl(w[9] ^ w[4] ^ w[14] ^ w[12], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0x6ed9eba1u + (w[13] = rotl(w[10] ^ w[5] ^ w[15] ^ w[13], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0x6ed9eba1u + (w[14] = rotl(w[11] ^ w[6] ^ w[0] ^ w[14], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0x6ed9eba1u + (w[15] = rotl(w[12] ^ w[7] ^ w[1] ^ w[15], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0x6ed9eba1u + (w[0] = rotl(w[13] ^ w[8] ^ w[2] ^ w[0], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0x6ed9eba1u + (w[1] = rotl(w[14] ^ w[9] ^ w[3] ^ w[1], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0x6ed9eba1u + (w[2] = rotl(w[15] ^ w[10] ^ w[4] ^ w[2], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0x6ed9eba1u + (w[3] = rotl(w[0] ^ w[11] ^ w[5] ^ w[3], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0x6ed9eba1u + (w[4] = rotl(w[1] ^ w[12] ^ w[6] ^ w[4], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0x6ed9eba1u + (w[5] = rotl(w[2] ^ w[13] ^ w[7] ^ w[5], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0x6ed9eba1u + (w[6] = rotl(w[3] ^ w[14] ^ w[8] ^ w[6], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0x6ed9eba1u + (w[7] = rotl(w[4] ^ w[15] ^ w[9] ^ w[7], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + ((b & c) | (d & (b | c))) + 0x8f1bbcdcu + (w[8] = rotl(w[5] ^ w[0] ^ w[10] ^ w[8], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + ((a & b) | (c & (a | b))) + 0x8f1bbcdcu + (w[9] = rotl(w[6] ^ w[1] ^ w[11] ^ w[9], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + ((e & a) | (b & (e | a))) + 0x8f1bbcdcu + (w[10] = rotl(w[7] ^ w[2] ^ w[12] ^ w[10], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + ((d & e) | (a & (d | e))) + 0x8f1bbcdcu + (w[11] = rotl(w[8] ^ w[3] ^ w[13] ^ w[11], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + ((c & d) | (e & (c | d))) + 0x8f1bbcdcu + (w[12] = rotl(w[9] ^ w[4] ^ w[14] ^ w[12], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + ((b & c) | (d & (b | c))) + 0x8f1bbcdcu + (w[13] = rotl(w[10] ^ w[5] ^ w[15] ^ w[13], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + ((a & b) | (c & (a | b))) + 0x8f1bbcdcu + (w[14] = rotl(w[11] ^ w[6] ^ w[0] ^ w[14], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + ((e & a) | (b & (e | a))) + 0x8f1bbcdcu + (w[15] = rotl(w[12] ^ w[7] ^ w[1] ^ w[15], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + ((d & e) | (a & (d | e))) + 0x8f1bbcdcu + (w[0] = rotl(w[13] ^ w[8] ^ w[2] ^ w[0], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + ((c & d) | (e & (c | d))) + 0x8f1bbcdcu + (w[1] = rotl(w[14] ^ w[9] ^ w[3] ^ w[1], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + ((b & c) | (d & (b | c))) + 0x8f1bbcdcu + (w[2] = rotl(w[15] ^ w[10] ^ w[4] ^ w[2], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + ((a & b) | (c & (a | b))) + 0x8f1bbcdcu + (w[3] = rotl(w[0] ^ w[11] ^ w[5] ^ w[3], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + ((e & a) | (b & (e | a))) + 0x8f1bbcdcu + (w[4] = rotl(w[1] ^ w[12] ^ w[6] ^ w[4], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + ((d & e) | (a & (d | e))) + 0x8f1bbcdcu + (w[5] = rotl(w[2] ^ w[13] ^ w[7] ^ w[5], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + ((c & d) | (e & (c | d))) + 0x8f1bbcdcu + (w[6] = rotl(w[3] ^ w[14] ^ w[8] ^ w[6], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + ((b & c) | (d & (b | c))) + 0x8f1bbcdcu + (w[7] = rotl(w[4] ^ w[15] ^ w[9] ^ w[7], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + ((a & b) | (c & (a | b))) + 0x8f1bbcdcu + (w[8] = rotl(w[5] ^ w[0] ^ w[10] ^ w[8], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + ((e & a) | (b & (e | a))) + 0x8f1bbcdcu + (w[9] = rotl(w[6] ^ w[1] ^ w[11] ^ w[9], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + ((d & e) | (a & (d | e))) + 0x8f1bbcdcu + (w[10] = rotl(w[7] ^ w[2] ^ w[12] ^ w[10], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + ((c & d) | (e & (c | d))) + 0x8f1bbcdcu + (w[11] = rotl(w[8] ^ w[3] ^ w[13] ^ w[11], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0xca62c1d6u + (w[12] = rotl(w[9] ^ w[4] ^ w[14] ^ w[12], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0xca62c1d6u + (w[13] = rotl(w[10] ^ w[5] ^ w[15] ^ w[13], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0xca62c1d6u + (w[14] = rotl(w[11] ^ w[6] ^ w[0] ^ w[14], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0xca62c1d6u + (w[15] = rotl(w[12] ^ w[7] ^ w[1] ^ w[15], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0xca62c1d6u + (w[0] = rotl(w[13] ^ w[8] ^ w[2] ^ w[0], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0xca62c1d6u + (w[1] = rotl(w[14] ^ w[9] ^ w[3] ^ w[1], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0xca62c1d6u + (w[2] = rotl(w[15] ^ w[10] ^ w[4] ^ w[2], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0xca62c1d6u + (w[3] = rotl(w[0] ^ w[11] ^ w[5] ^ w[3], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0xca62c1d6u + (w[4] = rotl(w[1] ^ w[12] ^ w[6] ^ w[4], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0xca62c1d6u + (w[5] = rotl(w[2] ^ w[13] ^ w[7] ^ w[5], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0xca62c1d6u + (w[6] = rotl(w[3] ^ w[14] ^ w[8] ^ w[6], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0xca62c1d6u + (w[7] = rotl(w[4] ^ w[15] ^ w[9] ^ w[7], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0xca62c1d6u + (w[8] = rotl(w[5] ^ w[0] ^ w[10] ^ w[8], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0xca62c1d6u + (w[9] = rotl(w[6] ^ w[1] ^ w[11] ^ w[9], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0xca62c1d6u + (w[10] = rotl(w[7] ^ w[2] ^ w[12] ^ w[10], 1));
    c = rotl(c, 30);
    e += rotl(a, 5) + (b ^ c ^ d) + 0xca62c1d6u + (w[11] = rotl(w[8] ^ w[3] ^ w[13] ^ w[11], 1));
    b = rotl(b, 30);
    d += rotl(e, 5) + (a ^ b ^ c) + 0xca62c1d6u + (w[12] = rotl(w[9] ^ w[4] ^ w[14] ^ w[12], 1));
    a = rotl(a, 30);
    c += rotl(d, 5) + (e ^ a ^ b) + 0xca62c1d6u + (w[13] = rotl(w[10] ^ w[5] ^ w[15] ^ w[13], 1));
    e = rotl(e, 30);
    b += rotl(c, 5) + (d ^ e ^ a) + 0xca62c1d6u + (w[14] = rotl(w[11] ^ w[6] ^ w[0] ^ w[14], 1));
    d = rotl(d, 30);
    a += rotl(b, 5) + (c ^ d ^ e) + 0xca62c1d6u + (w[15] = rotl(w[12] ^ w[7] ^ w[1] ^ w[15], 1));
    c = rotl(c, 30);
    st[0] += a;
    st[1] += b;
    st[2] += c;
    st[3] += d;
    st[4] += e;
    p += 64;
  }
}

// -1: not yet probed, 0: portable code, 1: the processor's SHA instructions.
std::atomic<int> g_sha1Hw{-1};

void sha1Blocks(uint32_t st[5], const uint8_t* p, size_t blocks) {
  int hw = g_sha1Hw.load(std::memory_order_relaxed);
  if (hw < 0) {
    hw = sha1HardwareAvailable() ? 1 : 0;
    g_sha1Hw.store(hw, std::memory_order_relaxed);
  }
  if (hw) sha1BlocksHardware(st, p, blocks);
  else sha1BlocksPortable(st, p, blocks);
}

template <void (*Blocks)(uint32_t*, const uint8_t*, size_t), typename Ctx>
void hashUpdate(Ctx& ctx, const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!len) return;
  size_t have = static_cast<size_t>((ctx.bitCount >> 3) & 63);
  ctx.bitCount += static_cast<uint64_t>(len) << 3;
  if (have) {
    size_t take = 64 - have;
    if (len < take) {
      std::memcpy(ctx.buffer + have, p, len);
      return;
    }
    std::memcpy(ctx.buffer + have, p, take);
    Blocks(ctx.state, ctx.buffer, 1);
    p += take;
    len -= take;
  }
  if (len >= 64) {
    Blocks(ctx.state, p, len / 64);
    p += len & ~static_cast<size_t>(63);
    len &= 63;
  }
  if (len) std::memcpy(ctx.buffer, p, len);
}

// Appends 0x80, zeros and the bit count (little- or big-endian) and processes the last blocks.
template <void (*Blocks)(uint32_t*, const uint8_t*, size_t), typename Ctx>
void hashPad(Ctx& ctx, bool bigEndianLength) {
  uint64_t bits = ctx.bitCount;
  size_t have = static_cast<size_t>((bits >> 3) & 63);
  ctx.buffer[have++] = 0x80;
  if (have > 56) {
    std::memset(ctx.buffer + have, 0, 64 - have);
    Blocks(ctx.state, ctx.buffer, 1);
    have = 0;
  }
  std::memset(ctx.buffer + have, 0, 56 - have);
  for (int i = 0; i < 8; ++i) {
    int shift = bigEndianLength ? 56 - 8 * i : 8 * i;
    ctx.buffer[56 + i] = static_cast<uint8_t>(bits >> shift);
  }
  Blocks(ctx.state, ctx.buffer, 1);
}

}  // namespace

void md5Init(Md5Context& ctx) {
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xefcdab89u;
  ctx.state[2] = 0x98badcfeu;
  ctx.state[3] = 0x10325476u;
  ctx.bitCount = 0;
  std::memset(ctx.buffer, 0, sizeof(ctx.buffer));
}

void md5Update(Md5Context& ctx, const void* data, size_t len) {
  hashUpdate<md5Blocks>(ctx, data, len);
}

void md5Final(Md5Context& ctx, uint8_t digest[kMd5DigestSize]) {
  hashPad<md5Blocks>(ctx, false);
  for (int i = 0; i < 4; ++i) store32le(digest + 4 * i, ctx.state[i]);
  secureZero(ctx.buffer, sizeof(ctx.buffer));
}

void md5(const void* data, size_t len, uint8_t digest[kMd5DigestSize]) {
  Md5Context ctx;
  md5Init(ctx);
  md5Update(ctx, data, len);
  md5Final(ctx, digest);
}

void md5LoadDigest(Md5Context& ctx, const uint8_t digest[kMd5DigestSize]) {
  for (int i = 0; i < 4; ++i) ctx.state[i] = load32le(digest + 4 * i);
}

void md5ReadDigest(const Md5Context& ctx, uint8_t digest[kMd5DigestSize]) {
  for (int i = 0; i < 4; ++i) store32le(digest + 4 * i, ctx.state[i]);
}

void sha1Init(Sha1Context& ctx) {
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xefcdab89u;
  ctx.state[2] = 0x98badcfeu;
  ctx.state[3] = 0x10325476u;
  ctx.state[4] = 0xc3d2e1f0u;
  ctx.bitCount = 0;
  std::memset(ctx.buffer, 0, sizeof(ctx.buffer));
}

void sha1Update(Sha1Context& ctx, const void* data, size_t len) {
  hashUpdate<sha1Blocks>(ctx, data, len);
}

void sha1Final(Sha1Context& ctx, uint8_t digest[kSha1DigestSize]) {
  hashPad<sha1Blocks>(ctx, true);
  sha1ReadDigest(ctx, digest);
  secureZero(ctx.buffer, sizeof(ctx.buffer));
}

void sha1(const void* data, size_t len, uint8_t digest[kSha1DigestSize]) {
  Sha1Context ctx;
  sha1Init(ctx);
  sha1Update(ctx, data, len);
  sha1Final(ctx, digest);
}

bool sha1SetHardwareAcceleration(bool enabled) {
  bool available = sha1HardwareAvailable();
  g_sha1Hw.store(enabled && available ? 1 : 0, std::memory_order_relaxed);
  return enabled && available;
}

void sha1LoadDigest(Sha1Context& ctx, const uint8_t digest[kSha1DigestSize]) {
  for (int i = 0; i < 5; ++i) ctx.state[i] = load32be(digest + 4 * i);
}

void sha1ReadDigest(const Sha1Context& ctx, uint8_t digest[kSha1DigestSize]) {
  for (int i = 0; i < 5; ++i) store32be(digest + 4 * i, ctx.state[i]);
}

}  // namespace ukcrypto
