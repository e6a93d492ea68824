// The head of an HTTP response as the download client reads it: the status line and the
// Content-Length header of the raw header block (CRLF-separated lines, as WinINet returns them).
// Portable, bounds-checked: the text comes from the network.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace ui {

struct HttpResponseHead {
  int status = 0;               // 100..999, 0 when the status line is missing or malformed
  bool hasLength = false;       // a Content-Length header with a decimal value was present
  uint64_t contentLength = 0;   // its value (saturated at 2^64-1); 0 without the header
};

// Parses a raw header block. The first line must be "HTTP/x.y NNN ..."; Content-Length is the
// first header line of that name (in any letter case), its value the decimal digits after the
// colon and optional blanks. A value that does not start with a digit counts as absent. Never
// reads outside [text, text + len).
HttpResponseHead ParseResponseHead(const char *text, size_t len);
inline HttpResponseHead ParseResponseHead(const std::string &text) {
  return ParseResponseHead(text.data(), text.size());
}

// The content length as the 32-bit count the programs keep (saturated at 0xFFFFFFFF).
inline uint32_t ContentLength32(const HttpResponseHead &h) {
  return h.contentLength > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(h.contentLength);
}

// Size in KiB, rounded up: the total the progress text shows.
inline uint64_t KiBRoundedUp(uint64_t bytes) { return bytes / 1024 + (bytes % 1024 ? 1 : 0); }

}  // namespace ui
