#include "ui_text.h"

namespace ui {

int MapLanguageId(uint32_t langId) {
  switch (langId & 0xFFFFu) {
    case 1033:
    case 2057:
    case 3081:
      return kEnglish;
    case 2052:
      return kSimplifiedChinese;
    case 1028:
      return kTraditionalChinese;
    default:
      return -1;
  }
}

uint32_t LanguageIdOfIndex(int language) {
  switch (language) {
    case kSimplifiedChinese:
      return 2052;
    case kTraditionalChinese:
      return 1028;
    default:
      return 1033;
  }
}

namespace {

void pad(std::wstring *out, const std::wstring &body, size_t width, bool left, wchar_t fill) {
  if (body.size() >= width) {
    *out += body;
    return;
  }
  size_t n = width - body.size();
  if (left) {
    *out += body;
    out->append(n, L' ');
  } else if (fill == L'0' && !body.empty() && body[0] == L'-') {
    *out += L'-';
    out->append(n, L'0');
    out->append(body, 1, std::wstring::npos);
  } else {
    out->append(n, fill);
    *out += body;
  }
}

std::wstring digits(unsigned long long v, unsigned base, bool upper) {
  const wchar_t *set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t buf[32];
  size_t n = 0;
  do {
    buf[n++] = set[v % base];
    v /= base;
  } while (v);
  std::wstring s;
  while (n) s += buf[--n];
  return s;
}

}  // namespace

std::wstring FormatText(const wchar_t *format, std::initializer_list<FormatArg> args) {
  std::wstring out;
  if (!format) return out;
  const FormatArg *next = args.begin();
  for (const wchar_t *p = format; *p;) {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    const wchar_t *start = p++;
    if (*p == L'%') {
      out += L'%';
      ++p;
      continue;
    }
    bool left = false;
    wchar_t fill = L' ';
    for (; *p == L'-' || *p == L'0'; ++p) {
      if (*p == L'-') left = true;
      else fill = L'0';
    }
    size_t width = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) width = width * 10 + size_t(*p - L'0');
    if (width > 256) width = 256;
    int longs = 0;
    while (*p == L'l' || *p == L'h') longs += (*p++ == L'l');
    wchar_t conv = *p;
    if (!conv) {
      out.append(start);
      break;
    }
    ++p;
    if (left) fill = L' ';
    std::wstring body;
    switch (conv) {
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
      case L'c':
      case L's':
        break;
      default:  // not a placeholder of ours: keep it as written
        out.append(start, p);
        continue;
    }
    if (next == args.end()) continue;
    const FormatArg &a = *next++;
    switch (conv) {
      case L'd':
      case L'i':
        if (a.kind() == FormatArg::kText) body = a.text();
        else if (a.kind() == FormatArg::kSigned && a.asSigned() < 0)
          body = L"-" + digits(0ull - (unsigned long long)a.asSigned(), 10, false);
        else body = digits(a.asUnsigned(), 10, false);
        break;
      case L'u':
      case L'x':
      case L'X': {
        if (a.kind() == FormatArg::kText) {
          body = a.text();
          break;
        }
        unsigned long long v = a.asUnsigned();
        // Without "ll" a negative number is read as its 32-bit pattern, as printf reads an int.
        if (a.kind() == FormatArg::kSigned && a.asSigned() < 0 && longs < 2) v &= 0xFFFFFFFFull;
        body = digits(v, conv == L'u' ? 10 : 16, conv == L'X');
        break;
      }
      case L'c':
        if (a.kind() == FormatArg::kText) body = std::wstring(a.text()).substr(0, 1);
        else body = std::wstring(1, wchar_t(a.asUnsigned()));
        break;
      case L's':
        if (a.kind() == FormatArg::kText) body = a.text();
        else if (a.kind() == FormatArg::kSigned && a.asSigned() < 0)
          body = L"-" + digits(0ull - (unsigned long long)a.asSigned(), 10, false);
        else body = digits(a.asUnsigned(), 10, false);
        fill = L' ';
        break;
    }
    pad(&out, body, width, left, fill);
  }
  return out;
}

std::wstring Abbreviate(const std::wstring &text, size_t maxChars, size_t keepChars) {
  if (text.size() <= maxChars) return text;
  return text.substr(0, keepChars) + L"...";
}

}  // namespace ui
