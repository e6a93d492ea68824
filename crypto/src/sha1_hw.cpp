// SHA-1 compression with the x86 SHA extensions (SHA1RNDS4, SHA1NEXTE, SHA1MSG1/2). Four rounds
// per SHA1RNDS4; the message schedule runs four words at a time:
//   W[i] = SHA1MSG2(SHA1MSG1(W[i-4], W[i-3]) ^ W[i-2], W[i-1]).
// Compiled for the SHA instructions by function attribute only, and used after a CPUID check.
#include "sha1_hw.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define UK_SHA1_HW 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace ukcrypto {

#ifdef UK_SHA1_HW

bool sha1HardwareAvailable() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  bool sha = (b >> 29) & 1;
  return ssse3 && sse41 && sha;
}

__attribute__((target("sha,ssse3,sse4.1"))) void sha1BlocksHardware(uint32_t st[5],
                                                                   const uint8_t* p,
                                                                   size_t blocks) {
  const __m128i kByteSwap = _mm_set_epi64x(0x0001020304050607ll, 0x08090a0b0c0d0e0fll);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(st)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(st[4]), 0, 0, 0);

  while (blocks--) {
    const __m128i abcdSave = abcd, eSave = e0;
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), kByteSwap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), kByteSwap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), kByteSwap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), kByteSwap);
    __m128i prev, e;

    // Rounds 0-3.
    e = _mm_add_epi32(e0, w0);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, 0);

// One group of four rounds on the schedule word w (already computed).
#define UK_SHA1_GROUP(w, f)               \
  e = _mm_sha1nexte_epu32(prev, (w));     \
  prev = abcd;                            \
  abcd = _mm_sha1rnds4_epu32(abcd, e, f)

// Next schedule word into wa from (wa, wb, wc, wd) = W[i-4], W[i-3], W[i-2], W[i-1].
#define UK_SHA1_NEXT(wa, wb, wc, wd) \
  wa = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(wa, wb), wc), wd)

    UK_SHA1_GROUP(w1, 0);
    UK_SHA1_GROUP(w2, 0);
    UK_SHA1_GROUP(w3, 0);
    UK_SHA1_NEXT(w0, w1, w2, w3); UK_SHA1_GROUP(w0, 0);  // rounds 16-19
    UK_SHA1_NEXT(w1, w2, w3, w0); UK_SHA1_GROUP(w1, 1);
    UK_SHA1_NEXT(w2, w3, w0, w1); UK_SHA1_GROUP(w2, 1);
    UK_SHA1_NEXT(w3, w0, w1, w2); UK_SHA1_GROUP(w3, 1);
    UK_SHA1_NEXT(w0, w1, w2, w3); UK_SHA1_GROUP(w0, 1);
    UK_SHA1_NEXT(w1, w2, w3, w0); UK_SHA1_GROUP(w1, 1);  // rounds 36-39
    UK_SHA1_NEXT(w2, w3, w0, w1); UK_SHA1_GROUP(w2, 2);
    UK_SHA1_NEXT(w3, w0, w1, w2); UK_SHA1_GROUP(w3, 2);
    UK_SHA1_NEXT(w0, w1, w2, w3); UK_SHA1_GROUP(w0, 2);
    UK_SHA1_NEXT(w1, w2, w3, w0); UK_SHA1_GROUP(w1, 2);
    UK_SHA1_NEXT(w2, w3, w0, w1); UK_SHA1_GROUP(w2, 2);  // rounds 56-59
    UK_SHA1_NEXT(w3, w0, w1, w2); UK_SHA1_GROUP(w3, 3);
    UK_SHA1_NEXT(w0, w1, w2, w3); UK_SHA1_GROUP(w0, 3);
    UK_SHA1_NEXT(w1, w2, w3, w0); UK_SHA1_GROUP(w1, 3);
    UK_SHA1_NEXT(w2, w3, w0, w1); UK_SHA1_GROUP(w2, 3);
    UK_SHA1_NEXT(w3, w0, w1, w2); UK_SHA1_GROUP(w3, 3);  // rounds 76-79
#undef UK_SHA1_GROUP
#undef UK_SHA1_NEXT

    e0 = _mm_sha1nexte_epu32(prev, eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
    p += 64;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(st), _mm_shuffle_epi32(abcd, 0x1B));
  st[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#else

bool sha1HardwareAvailable() { return false; }
void sha1BlocksHardware(uint32_t*, const uint8_t*, size_t) {}

#endif

}  // namespace ukcrypto
