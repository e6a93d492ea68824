// The published version text of version.ini (read as UTF-16 by the INI functions): any text.
// Parts stay within 16 bits, the comparison is a strict order, and the setup's file name stays
// short.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "update_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) text += wchar_t(data[i] | (data[i + 1] << 8));
  size_t half = text.size() / 2;
  client::FourPartVersion a = client::ParseVersionText(text.substr(0, half));
  client::FourPartVersion b = client::ParseVersionText(text.substr(half));
  for (const auto &v : {a, b})
    for (uint32_t p : v.part)
      if (p > 0xFFFF) abort();
  bool ab = client::IsNewer(a, b), ba = client::IsNewer(b, a);
  if (ab && ba) abort();
  bool same = a.part[0] == b.part[0] && a.part[1] == b.part[1] && a.part[2] == b.part[2] && a.part[3] == b.part[3];
  if (same != (!ab && !ba)) abort();
  if (client::SetupFileName(a).size() > 41) abort();
  return 0;
}
