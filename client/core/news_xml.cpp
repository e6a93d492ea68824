#include "news_xml.h"

#include <string.h>

namespace client {

namespace {

constexpr size_t kMaxDepth = 32;
constexpr size_t kMaxNodes = 200000;

void AppendCodePoint(std::wstring &out, uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
    cp -= 0x10000;
    out += wchar_t(0xD800 + (cp >> 10));
    out += wchar_t(0xDC00 + (cp & 0x3FF));
  } else {
    out += wchar_t(cp);
  }
}

// Decodes one UTF-8 sequence at s[i]; 0 on an invalid one (overlong forms, surrogates and values
// above U+10FFFF included).
size_t DecodeOne(const std::string &s, size_t i, uint32_t &cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t min;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class Parser {
 public:
  Parser(const std::string &s, XmlDocument &doc) : s_(s), doc_(doc) {}

  bool Run() {
    doc_.nodes.clear();
    if (s_.size() > kNewsMaxAnswerBytes) return false;
    // A byte-order mark may lead the document.
    if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) p_ = 3;
    bool rootSeen = false;
    while (true) {
      SkipSpace();
      if (p_ >= s_.size()) break;
      if (s_[p_] != '<') return false;  // character data outside the root
      if (Starts("<?")) {
        if (!SkipUntil("?>")) return false;
      } else if (Starts("<!--")) {
        if (!SkipComment()) return false;
      } else if (Starts("<!")) {
        return false;  // document type declarations are refused
      } else {
        if (rootSeen) return false;  // a second root
        if (!Element()) return false;
        rootSeen = true;
      }
    }
    return rootSeen;
  }

 private:
  bool Starts(const char *t) const { return s_.compare(p_, strlen(t), t) == 0; }
  void SkipSpace() {
    while (p_ < s_.size() && IsSpace(static_cast<unsigned char>(s_[p_]))) ++p_;
  }
  bool SkipUntil(const char *end) {
    const size_t e = s_.find(end, p_);
    if (e == std::string::npos) return false;
    if (!CheckChars(p_, e)) return false;
    p_ = e + strlen(end);
    return true;
  }
  bool SkipComment() {
    p_ += 4;
    const size_t e = s_.find("--", p_);
    if (e == std::string::npos || s_.compare(e, 3, "-->") != 0) return false;
    if (!CheckChars(p_, e)) return false;
    p_ = e + 3;
    return true;
  }
  bool CheckChars(size_t from, size_t to) const {
    for (size_t i = from; i < to;) {
      uint32_t cp;
      const size_t n = DecodeOne(s_, i, cp);
      if (!n || !IsXmlChar(cp)) return false;
      i += n;
    }
    return true;
  }
  bool Name(std::string &name) {
    if (p_ >= s_.size() || !IsNameStart(static_cast<unsigned char>(s_[p_]))) return false;
    const size_t b = p_;
    while (p_ < s_.size() && IsNameChar(static_cast<unsigned char>(s_[p_]))) ++p_;
    name.assign(s_, b, p_ - b);
    return CheckChars(b, p_);
  }
  // Character data up to the next '<' (or an attribute value up to its quote), with references
  // resolved, appended to out.
  bool Text(std::wstring &out, char stop) {
    while (p_ < s_.size() && s_[p_] != stop) {
      const char c = s_[p_];
      if (c == '<') return false;  // only possible inside an attribute value
      if (c == '&') {
        if (!Reference(out)) return false;
        continue;
      }
      uint32_t cp;
      const size_t n = DecodeOne(s_, p_, cp);
      if (!n || !IsXmlChar(cp)) return false;
      if (stop == '<' && c == ']' && Starts("]]>")) return false;
      AppendCodePoint(out, cp);
      p_ += n;
    }
    return true;
  }
  bool Reference(std::wstring &out) {
    const size_t semi = s_.find(';', p_);
    if (semi == std::string::npos || semi - p_ > 12) return false;
    const std::string ref = s_.substr(p_ + 1, semi - p_ - 1);
    p_ = semi + 1;
    if (ref == "lt") return out += L'<', true;
    if (ref == "gt") return out += L'>', true;
    if (ref == "amp") return out += L'&', true;
    if (ref == "quot") return out += L'"', true;
    if (ref == "apos") return out += L'\'', true;
    if (ref.size() < 2 || ref[0] != '#') return false;
    uint32_t cp = 0;
    const bool hex = ref[1] == 'x';
    const size_t start = hex ? 2 : 1;
    if (start >= ref.size()) return false;
    for (size_t i = start; i < ref.size(); ++i) {
      const char d = ref[i];
      uint32_t v;
      if (d >= '0' && d <= '9') v = uint32_t(d - '0');
      else if (hex && d >= 'a' && d <= 'f') v = uint32_t(d - 'a' + 10);
      else if (hex && d >= 'A' && d <= 'F') v = uint32_t(d - 'A' + 10);
      else return false;
      cp = cp * (hex ? 16 : 10) + v;
      if (cp > 0x10FFFF) return false;
    }
    if (!IsXmlChar(cp)) return false;
    AppendCodePoint(out, cp);
    return true;
  }

  // One element at '<' with everything inside it, without recursion: open elements are kept on
  // a stack of node indices.
  bool Element() {
    std::vector<size_t> open;
    do {
      if (p_ >= s_.size()) return false;
      if (s_[p_] != '<') {
        std::wstring text;
        if (!Text(text, '<')) return false;
        AddText(open, text);
        continue;
      }
      if (Starts("</")) {
        if (open.empty()) return false;  // a closing tag before any element
        p_ += 2;
        std::string name;
        if (!Name(name)) return false;
        SkipSpace();
        if (p_ >= s_.size() || s_[p_] != '>') return false;
        ++p_;
        if (doc_.nodes[open.back()].name != name) return false;
        open.pop_back();
      } else if (Starts("<!--")) {
        if (open.empty() || !SkipComment()) return false;
      } else if (Starts("<![CDATA[")) {
        if (open.empty()) return false;
        p_ += 9;
        const size_t e = s_.find("]]>", p_);
        if (e == std::string::npos) return false;
        std::wstring text;
        for (size_t i = p_; i < e;) {
          uint32_t cp;
          const size_t n = DecodeOne(s_, i, cp);
          if (!n || !IsXmlChar(cp)) return false;
          AppendCodePoint(text, cp);
          i += n;
        }
        AddText(open, text);
        p_ = e + 3;
      } else if (Starts("<?")) {
        if (open.empty() || !SkipUntil("?>")) return false;
      } else if (Starts("<!")) {
        return false;
      } else {
        if (open.size() >= kMaxDepth || doc_.nodes.size() >= kMaxNodes) return false;
        ++p_;
        XmlNode node;
        if (!Name(node.name)) return false;
        if (!Attributes()) return false;
        bool empty = false;
        if (Starts("/>")) {
          empty = true;
          p_ += 2;
        } else if (p_ < s_.size() && s_[p_] == '>') {
          ++p_;
        } else {
          return false;
        }
        const size_t index = doc_.nodes.size();
        if (!open.empty()) doc_.nodes[open.back()].children.push_back(index);
        doc_.nodes.push_back(std::move(node));
        if (!empty) open.push_back(index);
        else if (open.empty()) return true;  // an empty root
      }
    } while (!open.empty());
    return true;
  }

  bool Attributes() {
    std::vector<std::string> names;
    while (true) {
      const size_t before = p_;
      SkipSpace();
      if (p_ >= s_.size()) return false;
      if (s_[p_] == '>' || Starts("/>")) return true;
      if (p_ == before) return false;  // attributes are separated by white space
      std::string name;
      if (!Name(name)) return false;
      for (const std::string &n : names)
        if (n == name) return false;
      names.push_back(name);
      SkipSpace();
      if (p_ >= s_.size() || s_[p_] != '=') return false;
      ++p_;
      SkipSpace();
      if (p_ >= s_.size() || (s_[p_] != '"' && s_[p_] != '\'')) return false;
      const char quote = s_[p_++];
      std::wstring value;  // values are checked, not kept
      if (!Text(value, quote)) return false;
      if (p_ >= s_.size()) return false;
      ++p_;
    }
  }

  // Character data counts towards every open element (an element's text is all text below it);
  // each element keeps at most what a caller can use.
  void AddText(const std::vector<size_t> &open, const std::wstring &text) {
    for (size_t index : open) {
      std::wstring &t = doc_.nodes[index].text;
      if (t.size() < kNewsMaxTextLength * 2) t.append(text, 0, kNewsMaxTextLength * 2 - t.size());
    }
  }

  const std::string &s_;
  XmlDocument &doc_;
  size_t p_ = 0;
};

std::wstring Trimmed(const std::wstring &t) {
  size_t b = 0, e = t.size();
  while (b < e && (t[b] == L' ' || t[b] == L'\t' || t[b] == L'\r' || t[b] == L'\n')) ++b;
  while (e > b && (t[e - 1] == L' ' || t[e - 1] == L'\t' || t[e - 1] == L'\r' || t[e - 1] == L'\n')) --e;
  std::wstring r = t.substr(b, e - b);
  if (r.size() > kNewsMaxTextLength) {
    size_t cut = kNewsMaxTextLength;
    if (sizeof(wchar_t) == 2 && r[cut - 1] >= 0xD800 && r[cut - 1] <= 0xDBFF) --cut;
    r.resize(cut);
  }
  return r;
}

}  // namespace

bool DecodeUtf8(const std::string &bytes, std::wstring &out) {
  out.clear();
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp;
    const size_t n = DecodeOne(bytes, i, cp);
    if (!n) {
      out.clear();
      return false;
    }
    AppendCodePoint(out, cp);
    i += n;
  }
  return true;
}

std::string EncodeUtf8(const std::wstring &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = uint32_t(text[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
        uint32_t(text[i + 1]) >= 0xDC00 && uint32_t(text[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool ParseXml(const std::string &utf8, XmlDocument &doc) {
  Parser p(utf8, doc);
  if (!p.Run()) {
    doc.nodes.clear();
    return false;
  }
  return true;
}

bool ParseNewsAnswer(const std::string &utf8, std::vector<NewsAnswerItem> &items) {
  items.clear();
  XmlDocument doc;
  if (!ParseXml(utf8, doc) || doc.nodes.empty() || doc.nodes[0].name != "NewsAcquire") return false;
  for (size_t index : doc.nodes[0].children) {
    const XmlNode &news = doc.nodes[index];
    if (news.name != "News" || news.children.size() < 7) continue;
    if (items.size() >= kNewsMaxItems) break;
    auto field = [&](size_t k) { return Trimmed(doc.nodes[news.children[k]].text); };
    items.push_back(NewsAnswerItem{field(0), field(1), field(2), field(3), field(4), field(5), field(6)});
  }
  return true;
}

}  // namespace client
