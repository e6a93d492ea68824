#include "transaction.h"

namespace csp {

namespace {

bool allowedTag(uint32_t tag) {
  return tag == 0x9F03 || tag == 0xDF04 || tag == 0x5F20 || tag == 0xDF24 || tag == 0xE1;
}

}  // namespace

bool isTransactionMessage(const uint8_t *data, size_t len) {
  if (!data || len < 2 || data[0] != 0x6F || size_t(data[1]) + 2 != len) return false;
  size_t pos = 2;
  bool any = false;
  while (pos < len) {
    while (pos < len && (data[pos] == 0x00 || data[pos] == 0xFF)) ++pos;
    if (pos == len) return false;  // filler after the last element
    uint32_t tag = data[pos++];
    if ((tag & 0x1F) == 0x1F) {
      if (pos == len) return false;
      tag = (tag << 8) | data[pos++];
    }
    if (!allowedTag(tag) || pos == len) return false;
    size_t n = data[pos++];
    if (n > 127 || n > len - pos) return false;
    pos += n;
    any = true;
  }
  return any;
}

}  // namespace csp
