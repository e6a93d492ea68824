// A small DER reader for the parts of an X.509 certificate the tool shows, and a DER writer for
// the public key it exports. The reader trusts no length: every element must lie wholly inside
// its parent, long-form lengths are limited to four bytes, and indefinite lengths are refused.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ukt {
namespace der {

enum : uint8_t {
  kInteger = 0x02,
  kBitString = 0x03,
  kOctetString = 0x04,
  kNull = 0x05,
  kOid = 0x06,
  kUtf8String = 0x0C,
  kSequence = 0x30,
  kSet = 0x31,
  kPrintableString = 0x13,
  kT61String = 0x14,
  kIa5String = 0x16,
  kUtcTime = 0x17,
  kGeneralizedTime = 0x18,
  kBmpString = 0x1E,
};

struct Tlv {
  uint8_t tag = 0;
  const uint8_t *value = nullptr;
  size_t length = 0;
  size_t totalLength = 0;  // header and value
};

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : p_(data), end_(data ? data + size : data) {}
  explicit Reader(const Tlv &t) : Reader(t.value, t.length) {}
  // Reads the next element; false at the end or on a malformed element (then failed() is true).
  bool next(Tlv &t);
  // Reads the next element and requires its tag.
  bool expect(uint8_t tag, Tlv &t);
  // Peeks at the tag of the next element without consuming it (0 at the end).
  uint8_t peekTag() const { return p_ < end_ ? *p_ : 0; }
  bool atEnd() const { return p_ >= end_; }
  bool failed() const { return failed_; }

 private:
  const uint8_t *p_;
  const uint8_t *end_;
  bool failed_ = false;
};

// Dotted text of an object identifier ("2.5.4.3"); empty if malformed.
std::string oidText(const uint8_t *p, size_t n);

// Text of a directory string (UTF8String, PrintableString, IA5String, T61String, BMPString,
// UniversalString ...) as UTF-8; bytes that are not valid text come out as \xNN.
std::string stringText(uint8_t tag, const uint8_t *p, size_t n);

// A distinguished name as "C=CN, O=Bank, CN=Name" in the order of the certificate. False if the
// Name is malformed.
bool nameText(const Tlv &name, std::string &text);

// UTCTime or GeneralizedTime as "YYYYMMDDHHMMSS" (UTC, the Z form only). False otherwise.
bool timeDigits(const Tlv &t, std::string &digits);
// "YYYYMMDDHHMMSS" shown as "YYYY-MM-DD HH:MM:SS UTC".
std::string timeDisplay(const std::string &digits);

struct CertSummary {
  std::string serialHex;   // "01:A3:..."
  std::string subject;
  std::string issuer;
  std::string notBefore;   // YYYYMMDDHHMMSS
  std::string notAfter;
  uint32_t keyBits = 0;    // RSA modulus length, 0 when not an RSA key or not readable
  std::vector<uint8_t> modulus;  // RSA modulus without leading zero bytes
};

// Length of the first DER element in the buffer (header and value), 0 if it is malformed or does
// not fit. Certificates read from the token may carry bytes after their DER element.
size_t firstElementLength(const uint8_t *p, size_t n);

// Reads the summary of a DER X.509 certificate (the first element of the buffer; bytes after it
// are ignored). False with a reason in why when it is not a well-formed certificate.
bool parseCertificate(const uint8_t *p, size_t n, CertSummary &out, std::string &why);

// Writer helpers.
void appendLength(std::vector<uint8_t> &out, size_t len);
void appendTlv(std::vector<uint8_t> &out, uint8_t tag, const std::vector<uint8_t> &value);
// A non-negative INTEGER from big-endian magnitude bytes (leading zeros dropped, a zero byte
// added when the top bit is set).
void appendUnsigned(std::vector<uint8_t> &out, const uint8_t *be, size_t n);

}  // namespace der

// SubjectPublicKeyInfo DER of an RSA public key (rsaEncryption, NULL parameters). False when the
// modulus or exponent is zero.
bool rsaSpki(const uint8_t *modulus, size_t modLen, const uint8_t *exponent, size_t expLen,
             std::vector<uint8_t> &spki);

// DigestInfo of a SHA-1 digest (35 bytes), the input of a PKCS #1 v1.5 signature.
std::vector<uint8_t> sha1DigestInfo(const uint8_t digest[20]);

}  // namespace ukt
