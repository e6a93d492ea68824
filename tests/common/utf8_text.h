// UTF-8 and wide text in the portable tests, whose expected texts are written in UTF-8 source
// while the programs keep their texts as wide strings (the code points the programs use fit in
// one wide character on every platform).
#pragma once
#include <stdint.h>

#include <string>

namespace testtext {

inline std::wstring Utf8ToWide(const std::string &s) {
  std::wstring w;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) n = 4, cp = c & 0x07;
    else if (c >= 0xE0) n = 3, cp = c & 0x0F;
    else if (c >= 0xC0) n = 2, cp = c & 0x1F;
    for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    w += wchar_t(cp);
    i += n;
  }
  return w;
}

inline std::string WideToUtf8(const std::wstring &w) {
  std::string s;
  for (wchar_t ch : w) {
    uint32_t c = uint32_t(ch);
    if (c < 0x80) s += char(c);
    else if (c < 0x800) s += char(0xC0 | (c >> 6)), s += char(0x80 | (c & 0x3F));
    else s += char(0xE0 | (c >> 12)), s += char(0x80 | ((c >> 6) & 0x3F)), s += char(0x80 | (c & 0x3F));
  }
  return s;
}

}  // namespace testtext
