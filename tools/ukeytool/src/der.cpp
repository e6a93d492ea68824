#include "der.h"

#include <stdio.h>
#include <string.h>

namespace ukt {
namespace der {
namespace {

void appendHexByte(std::string &s, uint8_t b) {
  static const char kHex[] = "0123456789ABCDEF";
  s += "\\x";
  s += kHex[b >> 4];
  s += kHex[b & 15];
}

void appendUtf8(std::string &s, uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Code point, or an escape for control characters, surrogates and values beyond Unicode.
void appendCodePoint(std::string &s, uint32_t cp) {
  if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    char buf[16];
    snprintf(buf, sizeof buf, cp < 0x100 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(cp));
    s += buf;
    return;
  }
  appendUtf8(s, cp);
}

// Length of a valid UTF-8 sequence at p (at most n bytes) and its code point; 0 if invalid.
size_t decodeUtf8(const uint8_t *p, size_t n, uint32_t &cp) {
  uint8_t b = p[0];
  size_t len;
  uint32_t min;
  if (b < 0x80) return cp = b, 1;
  if ((b & 0xE0) == 0xC0) len = 2, cp = b & 0x1F, min = 0x80;
  else if ((b & 0xF0) == 0xE0) len = 3, cp = b & 0x0F, min = 0x800;
  else if ((b & 0xF8) == 0xF0) len = 4, cp = b & 0x07, min = 0x10000;
  else return 0;
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

struct OidName {
  const char *oid;
  const char *name;
};
const OidName kAttrNames[] = {
    {"2.5.4.3", "CN"},       {"2.5.4.6", "C"},          {"2.5.4.7", "L"},
    {"2.5.4.8", "ST"},       {"2.5.4.9", "street"},     {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},      {"2.5.4.12", "title"},     {"2.5.4.4", "SN"},
    {"2.5.4.42", "GN"},      {"2.5.4.5", "serialNumber"}, {"2.5.4.17", "postalCode"},
    {"2.5.4.46", "dnQualifier"}, {"1.2.840.113549.1.9.1", "emailAddress"},
    {"0.9.2342.19200300.100.1.25", "DC"}, {"0.9.2342.19200300.100.1.1", "UID"},
};

bool digits(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] < '0' || p[i] > '9') return false;
  return true;
}
int num2(const char *p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

}  // namespace

bool Reader::next(Tlv &t) {
  if (failed_ || p_ >= end_) return false;
  size_t avail = static_cast<size_t>(end_ - p_);
  if (avail < 2 || (p_[0] & 0x1F) == 0x1F) return failed_ = true, false;
  uint8_t first = p_[1];
  size_t header = 2;
  uint64_t len = first;
  if (first & 0x80) {
    size_t n = first & 0x7F;
    // 0x80 is the indefinite form (not DER); more than four length bytes is never a sane size.
    if (n == 0 || n > 4 || avail - 2 < n) return failed_ = true, false;
    len = 0;
    for (size_t i = 0; i < n; ++i) len = (len << 8) | p_[2 + i];
    header += n;
  }
  if (len > avail - header) return failed_ = true, false;
  t.tag = p_[0];
  t.value = p_ + header;
  t.length = static_cast<size_t>(len);
  t.totalLength = header + t.length;
  p_ += t.totalLength;
  return true;
}

bool Reader::expect(uint8_t tag, Tlv &t) {
  if (!next(t)) return false;
  if (t.tag != tag) return failed_ = true, false;
  return true;
}

std::string oidText(const uint8_t *p, size_t n) {
  if (!p || n == 0) return std::string();
  std::string s;
  uint64_t v = 0;
  size_t digitsInArc = 0;
  bool firstArc = true;
  for (size_t i = 0; i < n; ++i) {
    if (digitsInArc == 0 && p[i] == 0x80) return std::string();  // non-minimal
    if (++digitsInArc > 9) return std::string();                  // beyond 63 bits
    v = (v << 7) | (p[i] & 0x7F);
    if (p[i] & 0x80) continue;
    char buf[48];
    if (firstArc) {
      unsigned a = v < 40 ? 0 : v < 80 ? 1 : 2;
      snprintf(buf, sizeof buf, "%u.%llu", a, static_cast<unsigned long long>(v - 40ull * a));
      firstArc = false;
    } else {
      snprintf(buf, sizeof buf, ".%llu", static_cast<unsigned long long>(v));
    }
    s += buf;
    v = 0;
    digitsInArc = 0;
  }
  if (digitsInArc != 0) return std::string();  // last arc unfinished
  return s;
}

std::string stringText(uint8_t tag, const uint8_t *p, size_t n) {
  std::string s;
  switch (tag) {
    case kUtf8String:
      for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        size_t len = decodeUtf8(p + i, n - i, cp);
        if (len == 0) {
          appendHexByte(s, p[i]);
          ++i;
        } else {
          appendCodePoint(s, cp);
          i += len;
        }
      }
      return s;
    case kT61String:  // taken as Latin-1, as most software does
      for (size_t i = 0; i < n; ++i) appendCodePoint(s, p[i]);
      return s;
    case kBmpString:
      if (n % 2) break;
      for (size_t i = 0; i < n; i += 2) {
        uint32_t u = (static_cast<uint32_t>(p[i]) << 8) | p[i + 1];
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
          uint32_t lo = (static_cast<uint32_t>(p[i + 2]) << 8) | p[i + 3];
          if (lo >= 0xDC00 && lo <= 0xDFFF) {
            appendCodePoint(s, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
            i += 2;
            continue;
          }
        }
        appendCodePoint(s, u);
      }
      return s;
    case 0x1C:  // UniversalString
      if (n % 4) break;
      for (size_t i = 0; i < n; i += 4)
        appendCodePoint(s, (static_cast<uint32_t>(p[i]) << 24) | (static_cast<uint32_t>(p[i + 1]) << 16) |
                               (static_cast<uint32_t>(p[i + 2]) << 8) | p[i + 3]);
      return s;
    case kPrintableString:
    case kIa5String:
    case 0x12:  // NumericString
    case 0x1A:  // VisibleString
      for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x80) appendHexByte(s, p[i]);
        else appendCodePoint(s, p[i]);
      }
      return s;
    default:
      break;
  }
  // Anything else is shown as the hex of its value, "#" first (as RFC 4514 does).
  s = "#";
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(buf, sizeof buf, "%02X", p[i]);
    s += buf;
  }
  return s;
}

bool nameText(const Tlv &name, std::string &text) {
  text.clear();
  if (name.tag != kSequence) return false;
  Reader rdns(name);
  Tlv rdn;
  bool firstRdn = true;
  while (rdns.next(rdn)) {
    if (rdn.tag != kSet) return false;
    Reader atvs(rdn);
    Tlv atv;
    bool firstAtv = true;
    while (atvs.next(atv)) {
      if (atv.tag != kSequence) return false;
      Reader parts(atv);
      Tlv oid, value;
      if (!parts.expect(kOid, oid) || !parts.next(value) || !parts.atEnd()) return false;
      std::string dotted = oidText(oid.value, oid.length);
      if (dotted.empty()) return false;
      const char *shortName = nullptr;
      for (const OidName &o : kAttrNames)
        if (dotted == o.oid) shortName = o.name;
      text += firstAtv ? (firstRdn ? "" : ", ") : " + ";
      text += shortName ? shortName : dotted;
      text += "=";
      text += stringText(value.tag, value.value, value.length);
      firstAtv = false;
    }
    if (atvs.failed() || firstAtv) return false;  // malformed or an empty RDN
    firstRdn = false;
  }
  return !rdns.failed();
}

bool timeDigits(const Tlv &t, std::string &out) {
  const uint8_t *p = t.value;
  size_t n = t.length;
  std::string d;
  if (t.tag == kUtcTime) {
    // YYMMDDHHMM[SS]Z; years 50-99 are 19xx.
    if ((n != 13 && n != 11) || p[n - 1] != 'Z' || !digits(p, n - 1)) return false;
    int yy = (p[0] - '0') * 10 + (p[1] - '0');
    d = yy >= 50 ? "19" : "20";
    d.append(reinterpret_cast<const char *>(p), n - 1);
    if (n == 11) d += "00";
  } else if (t.tag == kGeneralizedTime) {
    // YYYYMMDDHHMMSS[.fff]Z
    if (n < 15 || p[n - 1] != 'Z' || !digits(p, 14)) return false;
    if (n > 15) {
      if (p[14] != '.' || n < 17 || !digits(p + 15, n - 16)) return false;
    }
    d.assign(reinterpret_cast<const char *>(p), 14);
  } else {
    return false;
  }
  int month = num2(&d[4]), day = num2(&d[6]), hour = num2(&d[8]), minute = num2(&d[10]),
      second = num2(&d[12]);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  out = d;
  return true;
}

std::string timeDisplay(const std::string &d) {
  if (d.size() != 14) return d;
  return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) +
         ":" + d.substr(10, 2) + ":" + d.substr(12, 2) + " UTC";
}

size_t firstElementLength(const uint8_t *p, size_t n) {
  Reader r(p, n);
  Tlv t;
  return r.next(t) ? t.totalLength : 0;
}

bool parseCertificate(const uint8_t *p, size_t n, CertSummary &out, std::string &why) {
  out = CertSummary();
  Reader top(p, n);
  Tlv cert, tbs, field, sigAlg;
  if (!top.expect(kSequence, cert)) {
    why = top.failed() ? "not a DER certificate (bad or truncated outer element)"
                       : "empty certificate";
    return false;
  }
  Reader c(cert);
  if (!c.expect(kSequence, tbs) || !c.expect(kSequence, sigAlg) || !c.expect(kBitString, field)) {
    why = "malformed certificate (expected to-be-signed part, algorithm and signature)";
    return false;
  }
  Reader t(tbs);
  if (t.peekTag() == 0xA0 && !t.next(field)) {
    why = "malformed version field";
    return false;
  }
  Tlv serial, alg, issuer, validity, subject, spki;
  if (!t.expect(kInteger, serial) || !t.expect(kSequence, alg) || !t.expect(kSequence, issuer) ||
      !t.expect(kSequence, validity) || !t.expect(kSequence, subject) ||
      !t.expect(kSequence, spki)) {
    why = "malformed to-be-signed part of the certificate";
    return false;
  }
  char buf[4];
  for (size_t i = 0; i < serial.length; ++i) {
    snprintf(buf, sizeof buf, i ? ":%02X" : "%02X", serial.value[i]);
    out.serialHex += buf;
  }
  if (!nameText(issuer, out.issuer)) {
    why = "malformed issuer name";
    return false;
  }
  if (!nameText(subject, out.subject)) {
    why = "malformed subject name";
    return false;
  }
  Reader v(validity);
  Tlv nb, na;
  if (!v.next(nb) || !v.next(na) || !timeDigits(nb, out.notBefore) ||
      !timeDigits(na, out.notAfter)) {
    why = "malformed validity";
    return false;
  }
  // The RSA modulus size, when the key is RSA.
  Reader k(spki);
  Tlv keyAlg, keyBits;
  if (k.expect(kSequence, keyAlg) && k.expect(kBitString, keyBits) && keyBits.length > 1 &&
      keyBits.value[0] == 0) {
    Reader a(keyAlg);
    Tlv oid;
    if (a.expect(kOid, oid) && oidText(oid.value, oid.length) == "1.2.840.113549.1.1.1") {
      Reader rsa(keyBits.value + 1, keyBits.length - 1);
      Tlv seq, mod;
      if (rsa.expect(kSequence, seq)) {
        Reader r(seq);
        if (r.expect(kInteger, mod)) {
          size_t i = 0;
          while (i < mod.length && mod.value[i] == 0) ++i;
          if (i < mod.length) {
            uint32_t bits = static_cast<uint32_t>((mod.length - i) * 8);
            for (uint8_t top8 = mod.value[i]; !(top8 & 0x80); top8 <<= 1) --bits;
            out.keyBits = bits;
            out.modulus.assign(mod.value + i, mod.value + mod.length);
          }
        }
      }
    }
  }
  return true;
}

void appendLength(std::vector<uint8_t> &out, size_t len) {
  if (len < 0x80) {
    out.push_back(static_cast<uint8_t>(len));
    return;
  }
  uint8_t bytes[sizeof(size_t)];
  size_t n = 0;
  for (size_t v = len; v; v >>= 8) bytes[n++] = static_cast<uint8_t>(v);
  out.push_back(static_cast<uint8_t>(0x80 | n));
  while (n) out.push_back(bytes[--n]);
}

void appendTlv(std::vector<uint8_t> &out, uint8_t tag, const std::vector<uint8_t> &value) {
  out.push_back(tag);
  appendLength(out, value.size());
  out.insert(out.end(), value.begin(), value.end());
}

void appendUnsigned(std::vector<uint8_t> &out, const uint8_t *be, size_t n) {
  size_t i = 0;
  while (i < n && be[i] == 0) ++i;
  std::vector<uint8_t> v;
  if (i == n || (be[i] & 0x80)) v.push_back(0);
  v.insert(v.end(), be + i, be + n);
  appendTlv(out, kInteger, v);
}

}  // namespace der

namespace {
bool allZero(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}
}  // namespace

bool rsaSpki(const uint8_t *modulus, size_t modLen, const uint8_t *exponent, size_t expLen,
             std::vector<uint8_t> &spki) {
  spki.clear();
  if (!modulus || !exponent || allZero(modulus, modLen) || allZero(exponent, expLen)) return false;
  std::vector<uint8_t> ints, rsaKey, bits, algId, body;
  der::appendUnsigned(ints, modulus, modLen);
  der::appendUnsigned(ints, exponent, expLen);
  der::appendTlv(rsaKey, der::kSequence, ints);
  bits.push_back(0);  // no unused bits
  bits.insert(bits.end(), rsaKey.begin(), rsaKey.end());
  static const uint8_t kRsaAlg[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                    0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
  der::appendTlv(body, der::kSequence, std::vector<uint8_t>(kRsaAlg, kRsaAlg + sizeof kRsaAlg));
  der::appendTlv(body, der::kBitString, bits);
  der::appendTlv(spki, der::kSequence, body);
  return true;
}

std::vector<uint8_t> sha1DigestInfo(const uint8_t digest[20]) {
  static const uint8_t kPrefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                    0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  // Sized once and filled: GCC 12 warns falsely about a vector built from the prefix and grown.
  std::vector<uint8_t> v(sizeof kPrefix + 20);
  memcpy(v.data(), kPrefix, sizeof kPrefix);
  memcpy(v.data() + sizeof kPrefix, digest, 20);
  return v;
}

}  // namespace ukt
