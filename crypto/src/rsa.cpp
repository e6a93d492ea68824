// RSA public operation with Montgomery multiplication on fixed-size numbers, and the PKCS #1 v1.5
// block types 1 and 2.
#include <cstring>

#include "ukcrypto/random.h"
#include "ukcrypto/rsa.h"
#include "bytes.h"

namespace ukcrypto {
namespace {

#if defined(__SIZEOF_INT128__)
using Limb = uint64_t;
using Wide = unsigned __int128;
#else
using Limb = uint32_t;
using Wide = uint64_t;
#endif
constexpr int kLimbBits = sizeof(Limb) * 8;
constexpr size_t kMaxLimbs = kRsaMaxBytes / sizeof(Limb);

struct Num {
  Limb w[kMaxLimbs];
};

// Big-endian bytes (len <= kRsaMaxBytes) to limbs.
void fromBytes(Num& x, const uint8_t* p, size_t len) {
  std::memset(x.w, 0, sizeof(x.w));
  for (size_t i = 0; i < len; ++i) {
    size_t bit = (len - 1 - i) * 8;
    x.w[bit / kLimbBits] |= static_cast<Limb>(p[i]) << (bit % kLimbBits);
  }
}

void toBytes(const Num& x, uint8_t* p, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    size_t bit = (len - 1 - i) * 8;
    p[i] = static_cast<uint8_t>(x.w[bit / kLimbBits] >> (bit % kLimbBits));
  }
}

// a >= b over s limbs
bool geq(const Limb* a, const Limb* b, size_t s) {
  for (size_t i = s; i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

// a -= b over s limbs; returns the borrow.
Limb subInPlace(Limb* a, const Limb* b, size_t s) {
  Limb borrow = 0;
  for (size_t i = 0; i < s; ++i) {
    Limb bi = b[i];
    Limb d = a[i] - bi - borrow;
    borrow = (a[i] < bi || (a[i] == bi && borrow)) ? 1 : 0;
    a[i] = d;
  }
  return borrow;
}

// r = a * b * R^-1 mod n (CIOS), a, b < n; r may alias a or b.
void montMul(Limb* r, const Limb* a, const Limb* b, const Limb* n, Limb n0inv, size_t s) {
  Limb t[kMaxLimbs + 2];
  std::memset(t, 0, sizeof(Limb) * (s + 2));
  for (size_t i = 0; i < s; ++i) {
    Limb bi = b[i];
    Wide c = 0;
    for (size_t j = 0; j < s; ++j) {
      c = static_cast<Wide>(a[j]) * bi + t[j] + (c >> kLimbBits);
      t[j] = static_cast<Limb>(c);
    }
    c = static_cast<Wide>(t[s]) + (c >> kLimbBits);
    t[s] = static_cast<Limb>(c);
    t[s + 1] = static_cast<Limb>(c >> kLimbBits);

    Limb m = t[0] * n0inv;
    c = static_cast<Wide>(m) * n[0] + t[0];
    for (size_t j = 1; j < s; ++j) {
      c = static_cast<Wide>(m) * n[j] + t[j] + (c >> kLimbBits);
      t[j - 1] = static_cast<Limb>(c);
    }
    c = static_cast<Wide>(t[s]) + (c >> kLimbBits);
    t[s - 1] = static_cast<Limb>(c);
    t[s] = t[s + 1] + static_cast<Limb>(c >> kLimbBits);
  }
  if (t[s] || geq(t, n, s)) subInPlace(t, n, s);
  std::memcpy(r, t, sizeof(Limb) * s);
}

// x = 2x mod n, x < n.
void modDouble(Limb* x, const Limb* n, size_t s) {
  Limb carry = 0;
  for (size_t i = 0; i < s; ++i) {
    Limb v = x[i];
    x[i] = (v << 1) | carry;
    carry = v >> (kLimbBits - 1);
  }
  if (carry || geq(x, n, s)) subInPlace(x, n, s);
}

void loadPrepared(const RsaPublicKey& key, Num& n, Num& rr) {
  static_assert(sizeof(n.w) == sizeof(key.montN), "prepared storage size");
  std::memcpy(n.w, key.montN, sizeof(n.w));
  std::memcpy(rr.w, key.montRR, sizeof(rr.w));
}

}  // namespace

Status rsaKeySet(RsaPublicKey& key, const uint8_t* modulus, size_t modulusLen,
                 const uint8_t* exponent, size_t exponentLen) {
  std::memset(&key, 0, sizeof(key));
  if (!modulus || !exponent) return kBadParameter;
  while (modulusLen && *modulus == 0) {
    ++modulus;
    --modulusLen;
  }
  while (exponentLen && *exponent == 0) {
    ++exponent;
    --exponentLen;
  }
  if (modulusLen == 0 || modulusLen > kRsaMaxBytes || exponentLen == 0 ||
      exponentLen > kRsaMaxBytes) {
    return kBadKey;
  }
  if ((modulus[modulusLen - 1] & 1) == 0) return kBadKey;
  uint32_t bits = static_cast<uint32_t>(modulusLen * 8);
  for (uint8_t top = modulus[0]; !(top & 0x80); top = static_cast<uint8_t>(top << 1)) --bits;
  if (bits < 96) return kBadKey;

  std::memcpy(key.modulus + kRsaMaxBytes - modulusLen, modulus, modulusLen);
  std::memcpy(key.exponent + kRsaMaxBytes - exponentLen, exponent, exponentLen);
  key.bits = bits;
  key.modulusBytes = (bits + 7) / 8;
  key.exponentBytes = static_cast<uint32_t>(exponentLen);

  Num n;
  fromBytes(n, modulus, modulusLen);
  size_t s = (bits + kLimbBits - 1) / kLimbBits;
  key.montLimbs = static_cast<uint32_t>(s);

  Limb inv = n.w[0];  // correct to 3 bits for odd n; Newton doubles the precision
  for (int i = 0; i < 6; ++i) inv *= 2 - n.w[0] * inv;
  key.montN0Inv = static_cast<Limb>(0 - inv);

  // R = 2^E with E = s * limb bits. Start from 2^(bits-1) < n, double to 2^(E+k), then square in
  // Montgomery form m times: each squaring maps 2^(E+j) to 2^(E+2j), ending at 2^(2E) = R^2.
  const uint32_t e = static_cast<uint32_t>(s * kLimbBits);
  uint32_t m = 0;
  while (((e >> (m + 1)) << (m + 1)) == e) ++m;
  uint32_t k = e >> m;
  Num x;
  std::memset(x.w, 0, sizeof(x.w));
  x.w[(bits - 1) / kLimbBits] = static_cast<Limb>(1) << ((bits - 1) % kLimbBits);
  for (uint32_t p = bits - 1; p < e + k; ++p) modDouble(x.w, n.w, s);
  for (uint32_t i = 0; i < m; ++i) montMul(x.w, x.w, x.w, n.w, static_cast<Limb>(key.montN0Inv), s);

  std::memcpy(key.montN, n.w, sizeof(n.w));
  std::memcpy(key.montRR, x.w, sizeof(x.w));
  return kOk;
}

Status rsaPublicBlock(const RsaPublicKey& key, const uint8_t* in, size_t inLen, uint8_t* out,
                      size_t outCap) {
  if (!in || !out) return kBadParameter;
  if (key.modulusBytes == 0) return kBadKey;
  if (inLen != key.modulusBytes) return kBadDataLength;
  if (outCap < key.modulusBytes) return kBufferTooSmall;
  const size_t s = key.montLimbs;
  const Limb n0inv = static_cast<Limb>(key.montN0Inv);
  Num n, rr, x;
  loadPrepared(key, n, rr);
  fromBytes(x, in, inLen);
  if (geq(x.w, n.w, kMaxLimbs)) return kOutOfRange;

  Num xm, acc;
  montMul(xm.w, x.w, rr.w, n.w, n0inv, s);
  acc = xm;
  const uint8_t* ebytes = key.exponent + kRsaMaxBytes - key.exponentBytes;
  bool started = false;
  for (uint32_t i = 0; i < key.exponentBytes; ++i) {
    for (int b = 7; b >= 0; --b) {
      bool bit = (ebytes[i] >> b) & 1;
      if (!started) {
        started = bit;  // the leading one bit: acc already holds x
        continue;
      }
      montMul(acc.w, acc.w, acc.w, n.w, n0inv, s);
      if (bit) montMul(acc.w, acc.w, xm.w, n.w, n0inv, s);
    }
  }
  Num one;
  std::memset(one.w, 0, sizeof(one.w));
  one.w[0] = 1;
  montMul(acc.w, acc.w, one.w, n.w, n0inv, s);
  std::memset(acc.w + s, 0, sizeof(Limb) * (kMaxLimbs - s));
  toBytes(acc, out, key.modulusBytes);
  return kOk;
}

Status pkcs1Type2Pad(uint8_t* block, size_t k, const uint8_t* data, size_t len, PadLcg& lcg) {
  if (!block || (len && !data)) return kBadParameter;
  if (k < 11 || len > k - 11) return kBadDataLength;
  block[0] = 0x00;
  block[1] = 0x02;
  size_t padEnd = k - len - 1;
  for (size_t i = 2; i < padEnd; ++i) {
    uint8_t b = static_cast<uint8_t>(lcg.next());
    // A zero byte is replaced by the next value plus one; that can wrap to zero again.
    while (b == 0) b = static_cast<uint8_t>(lcg.next() + 1);
    block[i] = b;
  }
  block[padEnd] = 0x00;
  if (len) std::memcpy(block + padEnd + 1, data, len);
  return kOk;
}

Status rsaEncryptPkcs1Type2(const RsaPublicKey& key, const uint8_t* data, size_t len,
                            uint8_t* out, size_t outCap) {
  if (!out || (len && !data)) return kBadParameter;
  if (key.modulusBytes == 0) return kBadKey;
  if (outCap < key.modulusBytes) return kBufferTooSmall;
  uint8_t block[kRsaMaxBytes];
  PadLcg lcg{static_cast<uint32_t>(currentTimeSeconds())};
  Status st = pkcs1Type2Pad(block, key.modulusBytes, data, len, lcg);
  if (st == kOk) st = rsaPublicBlock(key, block, key.modulusBytes, out, outCap);
  secureZero(block, sizeof(block));
  return st;
}

Status pkcs1Type1Check(const uint8_t* block, size_t k, size_t* dataOff, size_t* dataLen) {
  if (!block || !dataOff || !dataLen) return kBadParameter;
  if (k < 11 || block[0] != 0x00 || block[1] != 0x01) return kBadPadding;
  size_t i = 2;
  while (i < k && block[i] == 0xFF) ++i;
  if (i >= k || block[i] != 0x00 || i - 2 < 8) return kBadPadding;
  *dataOff = i + 1;
  *dataLen = k - i - 1;
  return kOk;
}

Status rsaVerifyPkcs1Type1(const RsaPublicKey& key, const uint8_t* sig, size_t sigLen,
                           uint8_t* out, size_t outCap, size_t* outLen) {
  if (!sig || !outLen) return kBadParameter;
  if (key.modulusBytes == 0) return kBadKey;
  if (sigLen != key.modulusBytes) return kBadDataLength;
  uint8_t block[kRsaMaxBytes];
  Status st = rsaPublicBlock(key, sig, sigLen, block, sizeof(block));
  size_t off = 0, len = 0;
  if (st == kOk) st = pkcs1Type1Check(block, key.modulusBytes, &off, &len);
  if (st == kOk) {
    *outLen = len;
    if (outCap < len) st = kBufferTooSmall;
    else if (len && !out) st = kBadParameter;
    else if (len) std::memcpy(out, block + off, len);
  }
  secureZero(block, sizeof(block));
  return st;
}

}  // namespace ukcrypto
