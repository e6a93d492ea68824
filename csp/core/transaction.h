// Transaction messages: short tagged records that a display token shows and hashes itself when
// it signs. A hash object captures one instead of hashing it when the data has exactly this form:
//   6F L  element...        (L = length of the rest; the data is exactly L + 2 bytes)
//   element = [00 | FF]*  tag  N  N bytes     (N at most 127)
// A tag whose first byte has its low five bits all set is two bytes long, otherwise one. Only the
// tags 9F03, DF04, 5F20, DF24 and E1 are allowed; at least one element must be present, and the
// last element must end exactly at the end of the data (no trailing filler).
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace csp {

bool isTransactionMessage(const uint8_t *data, size_t len);

}  // namespace csp
