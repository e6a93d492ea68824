// What the card's instruction families share: the status words, the answer builders and the
// small parsers. Only the card's own sources include this.
#pragma once
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_card.h"

namespace tokensim {
namespace card {

constexpr uint16_t SW_AUTH_FAILED = 0x6300;
constexpr uint16_t SW_WAITING = 0x6785;
constexpr uint16_t SW_WRONG_LENGTH = 0x6700;
constexpr uint16_t SW_FILE_INCOMPATIBLE = 0x6981;
constexpr uint16_t SW_SECURITY = 0x6982;
constexpr uint16_t SW_BLOCKED = 0x6983;
constexpr uint16_t SW_CONDITIONS = 0x6985;
constexpr uint16_t SW_NO_CURRENT_EF = 0x6986;
constexpr uint16_t SW_SM_WRONG = 0x6988;
constexpr uint16_t SW_WRONG_DATA = 0x6A80;
constexpr uint16_t SW_FUNC_NOT_SUPPORTED = 0x6A81;
constexpr uint16_t SW_FILE_NOT_FOUND = 0x6A82;
constexpr uint16_t SW_RECORD_NOT_FOUND = 0x6A83;
constexpr uint16_t SW_NO_MEMORY = 0x6A84;
constexpr uint16_t SW_WRONG_P1P2 = 0x6A86;
constexpr uint16_t SW_REF_NOT_FOUND = 0x6A88;
constexpr uint16_t SW_FILE_EXISTS = 0x6A89;
constexpr uint16_t SW_WRONG_OFFSET = 0x6B00;
constexpr uint16_t SW_INS = 0x6D00;
constexpr uint16_t SW_CLA = 0x6E00;
constexpr uint16_t SW_END_OF_FILE = 0x6282;

constexpr size_t kMaxChildren = 64;
constexpr uint8_t kUserPin = 0xA1, kSoPin = 0xA4;

inline Answer sw(uint16_t w) {
  Answer a;
  a.sw = w;
  return a;
}
inline Answer ok(Bytes d = {}) {
  Answer a;
  a.data = std::move(d);
  return a;
}

inline uint16_t be16(const uint8_t *p) { return uint16_t((p[0] << 8) | p[1]); }

// Bare TLVs with one-byte tags and one-byte lengths, as the file control parameters and the
// crypto environment use them. False on a truncated or malformed list.
struct Tlv {
  uint8_t tag;
  const uint8_t *v;
  size_t len;
};
inline bool parseTlvs(const Bytes &d, std::vector<Tlv> *out) {
  size_t i = 0;
  while (i < d.size()) {
    if (i + 2 > d.size()) return false;
    uint8_t tag = d[i], len = d[i + 1];
    if (i + 2 + len > d.size()) return false;
    out->push_back({tag, d.data() + i + 2, len});
    i += 2 + size_t(len);
  }
  return true;
}
inline const Tlv *findTlv(const std::vector<Tlv> &t, uint8_t tag) {
  for (const Tlv &x : t)
    if (x.tag == tag) return &x;
  return nullptr;
}

inline void isoPad(Bytes *b) {
  b->push_back(0x80);
  while (b->size() % 8) b->push_back(0);
}

inline bool descriptorKnown(uint8_t d) {
  switch (d) {
    case 0x01: case 0x03: case 0x07: case 0x38: case 0x13: case 0x15: case 0x11: case 0x10:
      return true;
    default:
      return false;
  }
}

// Key diversification data of a card: fixed bytes 0-5, bytes 6-9 from the serial number, so that
// each token has its own card keys.
inline void diversificationData(const std::string &serial, uint8_t out[10]) {
  uint32_t h = 2166136261u;
  for (unsigned char c : serial) h = (h ^ c) * 16777619u;
  const uint8_t fixed[6] = {0x4B, 0x53, 0x51, 0x35, 0x37, 0x01};
  memcpy(out, fixed, 6);
  out[6] = uint8_t(h >> 24);
  out[7] = uint8_t(h >> 16);
  out[8] = uint8_t(h >> 8);
  out[9] = uint8_t(h);
}

inline bool isInSubtree(const FileNode *n, const FileNode *root) {
  for (; n; n = n->parent)
    if (n == root) return true;
  return false;
}

// The symmetric family (sim_symmetric.cpp). The environment of symmetric key k for P2 p2 and
// algorithm alg, with the IV of tag 87 when given: 0 with *envIv set, or the refusal's status
// word.
uint16_t symmetricEnvironment(const FileNode &k, uint8_t p2, uint8_t alg, const Tlv *tiv,
                              Bytes *envIv);
// The cipher of the environment on data; *iv carries the CBC chaining from one command to the
// next.
Answer symmetricCipher(const FileNode &k, uint8_t alg, bool encipher, Bytes *iv,
                       const Bytes &data);

}  // namespace card
}  // namespace tokensim
