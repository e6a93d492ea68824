#include "http_response.h"

namespace ui {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The line that starts at `pos`: [pos, end) without its CR LF (or LF); *next is the start of the
// following line (len when there is none).
size_t LineEnd(const char *text, size_t len, size_t pos, size_t *next) {
  size_t e = pos;
  while (e < len && text[e] != '\n') ++e;
  *next = e < len ? e + 1 : len;
  if (e > pos && text[e - 1] == '\r') --e;
  return e;
}

// "HTTP/" digits "." digits, one or more blanks, three digits, then a blank or the end.
int ParseStatusLine(const char *s, size_t n) {
  static const char kPrefix[] = "HTTP/";
  size_t i = 0;
  for (; i < 5; ++i)
    if (i >= n || s[i] != kPrefix[i]) return 0;
  size_t start = i;
  while (i < n && IsDigit(s[i])) ++i;
  if (i == start || i >= n || s[i] != '.') return 0;
  start = ++i;
  while (i < n && IsDigit(s[i])) ++i;
  if (i == start) return 0;
  start = i;
  while (i < n && IsBlank(s[i])) ++i;
  if (i == start || n - i < 3) return 0;
  if (!IsDigit(s[i]) || !IsDigit(s[i + 1]) || !IsDigit(s[i + 2])) return 0;
  if (i + 3 < n && !IsBlank(s[i + 3])) return 0;
  int status = (s[i] - '0') * 100 + (s[i + 1] - '0') * 10 + (s[i + 2] - '0');
  return status >= 100 ? status : 0;
}

bool NameIs(const char *s, size_t n, const char *name) {
  size_t i = 0;
  for (; name[i]; ++i)
    if (i >= n || Lower(s[i]) != name[i]) return false;
  return i == n;
}

}  // namespace

HttpResponseHead ParseResponseHead(const char *text, size_t len) {
  HttpResponseHead head;
  if (!text || !len) return head;
  size_t next = 0;
  size_t end = LineEnd(text, len, 0, &next);
  head.status = ParseStatusLine(text, end);
  for (size_t pos = next; pos < len; pos = next) {
    end = LineEnd(text, len, pos, &next);
    if (end == pos) break;  // the blank line that ends the block
    size_t colon = pos;
    while (colon < end && text[colon] != ':') ++colon;
    if (colon == end) continue;
    size_t nameEnd = colon;
    while (nameEnd > pos && IsBlank(text[nameEnd - 1])) --nameEnd;
    if (!NameIs(text + pos, nameEnd - pos, "content-length")) continue;
    size_t v = colon + 1;
    while (v < end && IsBlank(text[v])) ++v;
    if (v == end || !IsDigit(text[v])) break;  // the first such header decides
    uint64_t value = 0;
    for (; v < end && IsDigit(text[v]); ++v) {
      uint64_t d = uint64_t(text[v] - '0');
      value = value > (UINT64_MAX - d) / 10 ? UINT64_MAX : value * 10 + d;
    }
    head.hasLength = true;
    head.contentLength = value;
    break;
  }
  return head;
}

}  // namespace ui
