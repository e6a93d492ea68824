#include "text.h"

#include <stdio.h>

#include "uk_tokenlib.h"

namespace ukt {

std::string base64(const uint8_t *p, size_t n) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  s.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (static_cast<uint32_t>(p[i]) << 16) | (static_cast<uint32_t>(p[i + 1]) << 8) | p[i + 2];
    s += kAlphabet[(v >> 18) & 63];
    s += kAlphabet[(v >> 12) & 63];
    s += kAlphabet[(v >> 6) & 63];
    s += kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = static_cast<uint32_t>(p[i]) << 16;
    s += kAlphabet[(v >> 18) & 63];
    s += kAlphabet[(v >> 12) & 63];
    s += "==";
  } else if (n - i == 2) {
    uint32_t v = (static_cast<uint32_t>(p[i]) << 16) | (static_cast<uint32_t>(p[i + 1]) << 8);
    s += kAlphabet[(v >> 18) & 63];
    s += kAlphabet[(v >> 12) & 63];
    s += kAlphabet[(v >> 6) & 63];
    s += '=';
  }
  return s;
}

std::string pem(const char *label, const uint8_t *p, size_t n) {
  std::string b = base64(p, n);
  std::string s = std::string("-----BEGIN ") + label + "-----\n";
  for (size_t i = 0; i < b.size(); i += 64) s += b.substr(i, 64) + "\n";
  s += std::string("-----END ") + label + "-----\n";
  return s;
}

bool unbase64(const std::string &text, std::vector<uint8_t> &out) {
  out.clear();
  uint32_t acc = 0;
  int bits = 0, pad = 0;
  size_t chars = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') {
      ++pad;
      ++chars;
      if (pad > 2) return false;
      continue;
    } else {
      return false;
    }
    if (pad) return false;  // data after padding
    ++chars;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return chars % 4 == 0;
}

bool unpem(const std::string &text, const char *label, std::vector<uint8_t> &out) {
  std::string begin = std::string("-----BEGIN ") + label + "-----";
  std::string end = std::string("-----END ") + label + "-----";
  size_t b = text.find(begin);
  if (b == std::string::npos) return false;
  b += begin.size();
  size_t e = text.find(end, b);
  if (e == std::string::npos) return false;
  return unbase64(text.substr(b, e - b), out) && !out.empty();
}

std::string hex(const uint8_t *p, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

std::string hexDump(const uint8_t *p, size_t n) {
  std::string s;
  char buf[32];
  for (size_t off = 0; off < n; off += 16) {
    snprintf(buf, sizeof buf, "%04lX  ", static_cast<unsigned long>(off));
    s += buf;
    for (size_t i = 0; i < 16; ++i) {
      if (off + i < n) {
        snprintf(buf, sizeof buf, "%02X ", p[off + i]);
        s += buf;
      } else {
        s += "   ";
      }
      if (i == 7) s += ' ';
    }
    s += ' ';
    for (size_t i = 0; i < 16 && off + i < n; ++i) {
      uint8_t c = p[off + i];
      s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    }
    s += '\n';
  }
  return s;
}

std::string fieldText(const void *p, size_t cap) {
  const char *c = static_cast<const char *>(p);
  size_t n = 0;
  while (n < cap && c[n]) ++n;
  return std::string(c, n);
}

bool printable(const std::string &s) {
  for (unsigned char c : s)
    if (c < 0x20 || c >= 0x7F) return false;
  return true;
}

std::string idAreaText(const uint8_t *area, size_t cap) {
  if (cap == 0) return std::string();
  size_t n = area[0];
  if (n > cap - 1) n = cap - 1;
  std::string s(reinterpret_cast<const char *>(area + 1), n);
  if (n == 0) return "(none)";
  if (printable(s)) return "\"" + s + "\"";
  return "0x" + hex(area + 1, n);
}

std::string cosVersionText(const uint8_t *v, size_t n) {
  size_t len = 0;
  while (len < n && v[len]) ++len;
  std::string s(reinterpret_cast<const char *>(v), len);
  if (len > 0 && printable(s)) return s;
  return hex(v, n);
}

namespace {
struct CodeName {
  uint32_t code;
  const char *name;
  const char *meaning;
};
const CodeName kCodes[] = {
    {UKLR_BUFFER_TOO_SMALL, "UKLR_BUFFER_TOO_SMALL", "buffer too small"},
    {UKLR_OS_UNSUPPORTED, "UKLR_OS_UNSUPPORTED", "operating system not supported"},
    {UKLR_NO_MEMORY, "UKLR_NO_MEMORY", "out of memory"},
    {UKLR_PARAM_VALUE, "UKLR_PARAM_VALUE", "bad argument"},
    {UKLR_DEV_MUTEX, "UKLR_DEV_MUTEX", "device mutex not available"},
    {UKLR_DATA_LENGTH, "UKLR_DATA_LENGTH", "data length out of range"},
    {UKLR_DEV_BLOCK, "UKLR_DEV_BLOCK", "device busy for 120 seconds"},
    {UKLR_INVALID_TYPE, "UKLR_INVALID_TYPE", "invalid type"},
    {UKLR_FLAG_SUPPORTED, "UKLR_FLAG_SUPPORTED", "flag not supported"},
    {UKLR_INVALID_FLAG, "UKLR_INVALID_FLAG", "invalid flag"},
    {UKLR_NOT_SUPPORTED, "UKLR_NOT_SUPPORTED", "not supported by this library"},
    {UKLR_SIGN_PENDING, "UKLR_SIGN_PENDING", "signature waits for the button"},
    {UKLR_MORE_DATA, "UKLR_MORE_DATA", "buffer too small for the certificate"},
    {UKRL_ENUM_MASS_DEV, "UKRL_ENUM_MASS_DEV", "USB devices could not be listed"},
    {UKLR_DEV_OPEN, "UKLR_DEV_OPEN", "device could not be opened"},
    {UKLR_DEV_FULL, "UKLR_DEV_FULL", "no free slot on the token"},
    {UKLR_DEV_WRITE, "UKLR_DEV_WRITE", "write to the device failed"},
    {UKLR_DEV_READ, "UKLR_DEV_READ", "read from the device failed"},
    {UKLR_DEV_PATH, "UKLR_DEV_PATH", "device interface not found"},
    {UKLR_NAME_TOO_LONG, "UKLR_NAME_TOO_LONG", "name of 80 characters or more"},
    {UKLR_DEV_NAME_INVALID, "UKLR_DEV_NAME_INVALID", "unexpected device path"},
    {UKLR_AUTH_CMP, "UKLR_AUTH_CMP", "secure channel authentication failed"},
    {UKLR_VERIFY_CMP, "UKLR_VERIFY_CMP", "response MAC mismatch"},
    {UKLR_KEY_TYPE_SUPPORT, "UKLR_KEY_TYPE_SUPPORT", "key type not supported"},
    {UKLR_CRYPTO_ENV_NOT_INIT, "UKLR_CRYPTO_ENV_NOT_INIT", "crypto environment not set"},
    {UKLR_ALG_SUPPORT, "UKLR_ALG_SUPPORT", "algorithm not supported"},
    {UKLR_NOT_SELF_TOKEN, "UKLR_NOT_SELF_TOKEN", "not this system's token"},
    {UKLR_OBJ_EXISTS, "UKLR_OBJ_EXISTS", "object exists"},
    {UKLR_OBJ_NOT_FOUND, "UKLR_OBJ_NOT_FOUND", "no such object"},
    {UKLR_PADDING, "UKLR_PADDING", "bad padding"},
    {UKLR_CERT_NOT_FOUND, "UKLR_CERT_NOT_FOUND", "no certificate"},
    {UKLR_CERT_TOO_LARGE, "UKLR_CERT_TOO_LARGE", "certificate longer than 4096 bytes"},
    {UKLR_SYM_ALG, "UKLR_SYM_ALG", "unknown symmetric algorithm"},
};
const struct {
  uint16_t sw;
  const char *meaning;
} kStatusWords[] = {
    {0x6283, "selected file invalidated"},
    {0x6581, "memory failure"},
    {0x6700, "wrong length"},
    {0x6785, "signature still waits for the button"},
    {0x6982, "security status not satisfied (PIN not verified)"},
    {0x6983, "PIN blocked"},
    {0x6984, "referenced data invalidated"},
    {0x6985, "conditions of use not satisfied"},
    {0x6986, "command not allowed"},
    {0x6A80, "incorrect data"},
    {0x6A81, "function not supported"},
    {0x6A82, "file not found"},
    {0x6A83, "record not found"},
    {0x6A84, "not enough memory on the token"},
    {0x6A86, "incorrect parameters"},
    {0x6A88, "referenced data not found"},
    {0x6A89, "file exists"},
    {0x6D00, "instruction not supported"},
    {0x6E00, "class not supported"},
};
}  // namespace

std::string resultText(uint32_t rc) {
  char buf[96];
  if (rc == 0) return "success";
  if (UKLR_IS_WRONG_PIN(rc) && rc <= 0x800063CFu) {
    snprintf(buf, sizeof buf, "wrong PIN, %u tries left", static_cast<unsigned>(rc & 0x0F));
    return buf;
  }
  for (const CodeName &c : kCodes)
    if (c.code == rc) return std::string(c.name) + ", " + c.meaning;
  if ((rc & 0xFFFF0000u) == UKLR_SW_BASE) {
    uint16_t sw = static_cast<uint16_t>(rc);
    for (const auto &s : kStatusWords)
      if (s.sw == sw) {
        snprintf(buf, sizeof buf, "card status %04X, %s", sw, s.meaning);
        return buf;
      }
    snprintf(buf, sizeof buf, "card status %04X", sw);
    return buf;
  }
  return "unknown result";
}

const char *defaultUserPinFor(const std::string &serial) {
  return serial.size() > 6 && serial[6] == '2' ? "937260" : "482915";
}

}  // namespace ukt
