#include "update_version.h"

namespace client {

FourPartVersion ParseVersionText(const std::wstring &text) {
  FourPartVersion v;
  size_t n = text.size() < kVersionTextMax ? text.size() : kVersionTextMax;
  size_t place = 0, i = 0;
  while (place < 4) {
    uint32_t value = 0;
    for (; i < n && text[i] >= L'0' && text[i] <= L'9'; ++i) {
      value = value * 10 + uint32_t(text[i] - L'0');
      if (value > 0xFFFFu) value = 0xFFFFu;
    }
    v.part[place++] = value;
    while (i < n && text[i] != L'.') ++i;  // the rest of the piece does not count
    if (i >= n) break;
    ++i;  // past the "."
  }
  return v;
}

FourPartVersion VersionFromWords(uint32_t ms, uint32_t ls) {
  FourPartVersion v;
  v.part[0] = ms >> 16;
  v.part[1] = ms & 0xFFFFu;
  v.part[2] = ls >> 16;
  v.part[3] = ls & 0xFFFFu;
  return v;
}

bool IsNewer(const FourPartVersion &published, const FourPartVersion &own) {
  uint32_t ph = HighKey(published), oh = HighKey(own);
  if (ph != oh) return ph > oh;
  return LowKey(published) > LowKey(own);
}

std::wstring VersionText(const FourPartVersion &v) {
  return std::to_wstring(v.part[0]) + L"." + std::to_wstring(v.part[1]) + L"." + std::to_wstring(v.part[2]) + L"." +
         std::to_wstring(v.part[3]);
}

std::wstring SetupFileName(const FourPartVersion &v) {
  return L"ORV_ZV_Setup_" + std::to_wstring(v.part[0]) + L"_" + std::to_wstring(v.part[1]) + L"_" +
         std::to_wstring(v.part[2]) + L"_" + std::to_wstring(v.part[3]) + L".exe";
}

}  // namespace client
