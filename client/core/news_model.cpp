#include "news_model.h"

#include <algorithm>

namespace client {

const wchar_t *const kNewsConfigPaths[7] = {
    L"/NewsConfig/Server/Enable", L"/NewsConfig/News/Refresh", L"/NewsConfig/News/Back",
    L"/NewsConfig/News/Time",     L"/NewsConfig/Proxy/IP",     L"/NewsConfig/Proxy/Port",
    L"/NewsConfig/IDS"};

int ParseNewsNumber(const std::wstring &text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  long long v = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    v = v * 10 + (text[i] - L'0');
    if (v > 1000000000) v = 1000000000;  // saturates instead of overflowing
  }
  return int(negative ? -v : v);
}

namespace {
int Clamp(int v, int hi) { return std::max(0, std::min(v, hi)); }
}  // namespace

void ReadNewsSettings(NewsSettings &s,
                      const std::function<bool(const wchar_t *, std::wstring &)> &lookup) {
  std::wstring t;
  for (size_t k = 0; k < 7; ++k) {
    if (!lookup(kNewsConfigPaths[k], t)) return;
    switch (k) {
      case 0: s.enabled = t == L"true"; break;
      case 1: s.refreshMinutes = Clamp(ParseNewsNumber(t), 99999); break;
      case 2: s.backCount = Clamp(ParseNewsNumber(t), kNewsMaxBackCount); break;
      case 3: s.popupSeconds = Clamp(ParseNewsNumber(t), 99999); break;
      case 4: s.proxyAddress = t; break;
      case 5: s.proxyPort = t; break;
      case 6: s.deliveredKeys = t; break;
    }
  }
}

std::vector<std::wstring> NewsSettingsTexts(const NewsSettings &s) {
  return {s.enabled ? L"true" : L"false", std::to_wstring(s.refreshMinutes),
          std::to_wstring(s.backCount),   std::to_wstring(s.popupSeconds),
          s.proxyAddress,                 s.proxyPort,
          s.deliveredKeys};
}

// ---- database ----------------------------------------------------------------------------

void CNewsDatabase::Assign(std::vector<NewsItem> items) {
  items_.clear();
  titles_.clear();
  for (NewsItem &i : items) Add(std::move(i));
}

void CNewsDatabase::Add(NewsItem item) {
  titles_.insert(item.title);
  items_.push_back(std::move(item));
}

size_t CNewsDatabase::MergeNews(const std::vector<NewsAnswerItem> &answer, std::wstring &cursor) {
  if (answer.empty()) return 0;
  size_t added = 0;
  for (size_t k = answer.size(); k-- > 0;) {
    const NewsAnswerItem &a = answer[k];
    if (k == 0) cursor = a.cursor;
    if (a.title.empty() || HasTitle(a.title)) continue;
    Add(NewsItem{a.title, a.link, a.className, a.date, L"1", a.pic, a.content});
    ++added;
  }
  return added;
}

size_t CNewsDatabase::MergeLottery(const std::vector<NewsAnswerItem> &answer, std::wstring &keys) {
  size_t added = 0;
  for (size_t k = answer.size(); k-- > 0;) {
    const NewsAnswerItem &a = answer[k];
    if (a.className.empty() || keys.find(L"," + a.className + L",") != std::wstring::npos) continue;
    keys += a.className + L",";
    Add(NewsItem{a.title, a.link, a.className, a.date, L"1", a.pic, a.content});
    ++added;
  }
  return added;
}

void CNewsDatabase::Trim(int backCount) {
  const size_t keep = size_t(std::max(0, backCount));
  if (items_.size() <= keep) return;
  std::vector<NewsItem> rest(std::make_move_iterator(items_.end() - ptrdiff_t(keep)),
                             std::make_move_iterator(items_.end()));
  Assign(std::move(rest));
}

std::vector<NewsMenuEntry> CNewsDatabase::MenuEntries() const {
  std::vector<NewsMenuEntry> entries;
  const size_t first = items_.size() > kNewsMenuMax ? items_.size() - kNewsMenuMax : 0;
  for (size_t i = items_.size(); i-- > first;)
    entries.push_back(NewsMenuEntry{unsigned(kNewsCommandFirst + (i - first)), NewsMenuTitle(items_[i].title), i});
  return entries;
}

bool CNewsDatabase::IndexOfCommand(unsigned command, size_t &index) const {
  for (const NewsMenuEntry &e : MenuEntries())
    if (e.command == command) {
      index = e.index;
      return true;
    }
  return false;
}

std::vector<NewsItem> CNewsDatabase::Unread() const {
  std::vector<NewsItem> unread;
  for (const NewsItem &i : items_) {
    if (unread.size() >= kNewsMaxUnread) break;
    if (i.state == L"1") unread.push_back(i);
  }
  return unread;
}

bool CNewsDatabase::MarkRead(const std::wstring &title) {
  for (NewsItem &i : items_)
    if (i.title == title) {
      i.state = L"0";
      return true;
    }
  return false;
}

// ---- texts -------------------------------------------------------------------------------

std::wstring NewsCut(const std::wstring &text, size_t n) {
  if (text.size() <= n) return text;
  size_t cut = n;
  if (sizeof(wchar_t) == 2 && cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
  return text.substr(0, cut);
}

namespace {
// Characters counted as the user sees them: a surrogate pair is one.
size_t CharCount(const std::wstring &t) {
  size_t n = 0;
  for (wchar_t c : t)
    if (sizeof(wchar_t) != 2 || c < 0xDC00 || c > 0xDFFF) ++n;
  return n;
}
// The first n characters (a surrogate pair counting as one).
std::wstring FirstChars(const std::wstring &t, size_t n) {
  size_t i = 0;
  for (size_t seen = 0; i < t.size() && seen < n; ++i) {
    if (sizeof(wchar_t) == 2 && t[i] >= 0xD800 && t[i] <= 0xDBFF && i + 1 < t.size()) ++i;
    ++seen;
  }
  return t.substr(0, i);
}
}  // namespace

std::wstring NewsMenuTitle(const std::wstring &title) {
  std::wstring t = title;
  for (wchar_t &c : t)
    if (c < 0x20 || c == 0x7F) c = L' ';
  if (CharCount(t) > kNewsMenuTitleLength) t = FirstChars(t, kNewsMenuTitleLength) + L"...";
  std::wstring out;
  for (wchar_t c : t) {
    out += c;
    if (c == L'&') out += L'&';
  }
  return out;
}

std::wstring NewsPopupContent(const std::wstring &content) {
  if (content.empty()) return L"\u70b9\u6b64\u67e5\u770b\u8be6\u7ec6";  // 点此查看详细
  if (CharCount(content) <= 50) return content;
  return FirstChars(content, 48) + L"...";
}

std::wstring NewsServiceAddress(const std::wstring &webHost) {
  return L"http://" + webHost + L"/newsquery/queryService.action";
}
std::wstring NewsDefaultLink(const std::wstring &webHost) { return L"http://" + webHost; }

std::wstring NewsQueryUrl(const std::wstring &address, const std::wstring &command,
                          const std::wstring &parameter) {
  if (address.empty() || command.empty()) return L"";
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring p;
  for (unsigned char b : EncodeUtf8(parameter)) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
        b == '-' || b == '.' || b == '_' || b == '~' || b == ',' || b == '|') {
      p += wchar_t(b);
    } else {
      p += L'%';
      p += wchar_t(kHex[b >> 4]);
      p += wchar_t(kHex[b & 15]);
    }
  }
  return address + L"?command=" + command + L"&parameter=" + p;
}

std::wstring NewsClickParameter(const std::wstring &serial, const std::wstring &className) {
  const size_t bar = className.find(L'|');
  if (serial.empty() || className.empty() || bar == std::wstring::npos) return L"";
  return serial + L"," + className.substr(0, bar);
}

bool IsWebLink(const std::wstring &link) {
  std::wstring lower;
  for (wchar_t c : link) {
    if (c <= 0x20 || c == 0x7F || c == L'"' || c == L'\\') return false;  // no spaces, quotes
    lower += (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
  }
  size_t hostStart;
  if (lower.compare(0, 7, L"http://") == 0) hostStart = 7;
  else if (lower.compare(0, 8, L"https://") == 0) hostStart = 8;
  else return false;
  const size_t hostEnd = lower.find_first_of(L"/?#", hostStart);
  const std::wstring authority = lower.substr(hostStart, hostEnd == std::wstring::npos ? std::wstring::npos : hostEnd - hostStart);
  const size_t at = authority.rfind(L'@');
  const std::wstring host = at == std::wstring::npos ? authority : authority.substr(at + 1);
  return !host.empty() && host[0] != L':';
}

std::wstring NewsLinkToOpen(const std::wstring &link, const std::wstring &defaultLink) {
  if (link.empty()) return defaultLink;
  return IsWebLink(link) ? link : L"";
}

std::wstring NewsPictureFileName(const std::wstring &address) {
  const size_t slash = address.rfind(L'/');
  std::wstring name = slash == std::wstring::npos ? address : address.substr(slash + 1);
  for (wchar_t &c : name)
    if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
          c == L'-' || c == L'_' || c == L'.'))
      c = L'_';
  // Leading dots would make "." or ".." or a hidden name; trailing dots Windows drops.
  while (!name.empty() && name[0] == L'.') name.erase(0, 1);
  while (!name.empty() && name.back() == L'.') name.pop_back();
  if (name.size() > 100) name = name.substr(name.size() - 100);
  if (name.empty() || name.find_first_not_of(L'_') == std::wstring::npos) return L"";
  // Device names (CON, NUL, COM1 ...) with any extension name a device, not a file.
  std::wstring stem = name.substr(0, name.find(L'.'));
  for (wchar_t &c : stem)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - 32);
  static const wchar_t *const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  bool device = false;
  for (const wchar_t *d : kDevices) device = device || stem == d;
  if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
      stem[3] >= L'0' && stem[3] <= L'9')
    device = true;
  return device ? L"_" + name : name;
}

bool LooksLikePicture(const uint8_t *d, size_t n) {
  if (n >= 6 && (std::equal(d, d + 6, "GIF87a") || std::equal(d, d + 6, "GIF89a"))) return true;
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (n >= 8 && std::equal(d, d + 8, kPng)) return true;
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return true;
  return n >= 14 && d[0] == 'B' && d[1] == 'M';
}

// ---- settings dialog -----------------------------------------------------------------------

namespace {
// A field of digits only, up to max; anything else (signs, letters, too many digits) fails.
bool FieldNumber(const std::wstring &t, long max) {
  if (t.empty() || t.size() > 9) return false;
  long v = 0;
  for (wchar_t c : t) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + (c - L'0');
  }
  return v <= max;
}
}  // namespace

NewsFormCheck CheckNewsSettingsForm(NewsSettingsForm &form, int rememberedRefresh,
                                    int rememberedPopupTime) {
  if (form.refresh.empty()) form.refresh = std::to_wstring(rememberedRefresh);
  else if (!FieldNumber(form.refresh, 120)) return {NewsFormField::kRefresh, 230};
  if (form.popupTime.empty()) form.popupTime = std::to_wstring(rememberedPopupTime);
  else if (!FieldNumber(form.popupTime, 60)) return {NewsFormField::kPopupTime, 231};
  if (!form.port.empty() && !FieldNumber(form.port, 65535)) return {NewsFormField::kPort, 229};
  return {};
}

}  // namespace client
