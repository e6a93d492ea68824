// Text helpers of ukeytool: PEM, hex, fixed-size fields of the token records, result codes.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ukt {

std::string base64(const uint8_t *p, size_t n);
// PEM block: "-----BEGIN label-----", base64 in lines of 64, "-----END label-----".
std::string pem(const char *label, const uint8_t *p, size_t n);

// Decodes base64 (whitespace between characters allowed, padding required). False on any other
// character or a bad length.
bool unbase64(const std::string &text, std::vector<uint8_t> &out);
// The body of the first PEM block with this label. False when there is none or it is malformed.
bool unpem(const std::string &text, const char *label, std::vector<uint8_t> &out);

// "A1B2C3" (upper case, no separators).
std::string hex(const uint8_t *p, size_t n);
// Hex dump: offset, 16 bytes in hex, the printable ASCII characters.
std::string hexDump(const uint8_t *p, size_t n);

// Text of a zero-padded field of at most cap bytes (stops at the first zero byte, never reads
// beyond cap).
std::string fieldText(const void *p, size_t cap);
// An ID area: a length byte, then the bytes; the length is limited to cap - 1. Shown as text
// when printable, else as hex.
std::string idAreaText(const uint8_t *area, size_t cap);
// True when every byte is printable ASCII.
bool printable(const std::string &s);

// The COS version (16 bytes) as text: printable characters up to the first zero, or hex.
std::string cosVersionText(const uint8_t *v, size_t n);

// Name of a result code and a short explanation: "UKLR_OBJ_NOT_FOUND", "card status 6982
// (security status not satisfied)", "wrong PIN, 3 tries left".
std::string resultText(uint32_t rc);

// Factory default user PIN of a token from its serial number: "937260" when the seventh
// character is '2', else "482915".
const char *defaultUserPinFor(const std::string &serial);

}  // namespace ukt
