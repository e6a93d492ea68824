// Test certificates made with OpenSSL, so the tool's DER reader is checked against an
// independent encoder.
#pragma once
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace testcert {

struct Made {
  std::vector<uint8_t> der;
  EVP_PKEY *key = nullptr;  // owned by the caller
};

inline void addEntry(X509_NAME *n, const char *field, const std::string &value) {
  X509_NAME_add_entry_by_txt(n, field, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char *>(value.c_str()), -1, -1, 0);
}

// The common name of a name, in UTF-8 ("" without one).
inline std::string commonName(X509_NAME *n) {
  char buf[256] = {0};
  X509_NAME_get_text_by_NID(n, NID_commonName, buf, sizeof buf);
  return buf;
}

// A certificate time as year, month and day through format (three %d), in UTC.
inline std::string dayText(const ASN1_TIME *t, const char *format) {
  struct tm tm {};
  ASN1_TIME_to_tm(t, &tm);
  char buf[32];
  snprintf(buf, sizeof buf, format, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

// subject/issuer: pairs of field and UTF-8 value, in order.
inline Made make(const std::vector<std::pair<std::string, std::string>> &subject,
                 const std::vector<std::pair<std::string, std::string>> &issuer,
                 const char *notBefore, const char *notAfter, long serial, int bits = 1024) {
  Made m;
  m.key = EVP_RSA_gen(static_cast<unsigned>(bits));
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  ASN1_TIME_set_string(X509_getm_notBefore(x), notBefore);
  ASN1_TIME_set_string(X509_getm_notAfter(x), notAfter);
  X509_NAME *s = X509_NAME_new(), *i = X509_NAME_new();
  for (auto &e : subject) addEntry(s, e.first.c_str(), e.second);
  for (auto &e : issuer) addEntry(i, e.first.c_str(), e.second);
  X509_set_subject_name(x, s);
  X509_set_issuer_name(x, i);
  X509_NAME_free(s);
  X509_NAME_free(i);
  X509_set_pubkey(x, m.key);
  X509_sign(x, m.key, EVP_sha256());
  int len = i2d_X509(x, nullptr);
  m.der.resize(static_cast<size_t>(len));
  unsigned char *p = m.der.data();
  i2d_X509(x, &p);
  X509_free(x);
  return m;
}

}  // namespace testcert
