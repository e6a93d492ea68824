// The response head as WinINet hands it to the download client: any bytes at all. The parser
// must stay inside the buffer (AddressSanitizer) and give a coherent head.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <vector>

#include "http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that a read one byte past the text is caught.
  std::vector<char> text(data, data + size);
  ui::HttpResponseHead h = ui::ParseResponseHead(text.data(), text.size());
  if (h.status != 0 && (h.status < 100 || h.status > 999)) abort();
  if (!h.hasLength && h.contentLength != 0) abort();
  uint32_t l32 = ui::ContentLength32(h);
  if (h.contentLength <= 0xFFFFFFFFull ? l32 != h.contentLength : l32 != 0xFFFFFFFFu) abort();
  if (ui::KiBRoundedUp(h.contentLength) * 1024 < h.contentLength && h.contentLength < UINT64_MAX - 1024) abort();
  return 0;
}
