#include "algorithms.h"

#include <string.h>

#include "csp_codes.h"

namespace csp {
namespace {

struct Algorithm {
  uint32_t id;
  uint32_t defaultBits, minBits, maxBits;
  const char *name;
};

// PP_ENUMALGS lists every entry but 3DES_112, with its default length.
const Algorithm kAlgorithms[kEnumAlgsExCount] = {
    {kCalgRc4, 128, 40, 128, "RC4"},
    {kCalgDes, 56, 56, 56, "DES"},
    {kCalg3Des, 168, 168, 168, "3DES"},
    {kCalg3Des112, 168, 168, 168, "3DES_112"},
    {kCalgMd5, 128, 128, 128, "MD5"},
    {kCalgSha1, 160, 160, 160, "SHA1"},
    {kCalgSsl3Shamd5, 288, 288, 288, "SSL3 SHAMD5"},
    {kCalgRsaKeyx, 1024, 1024, 1024, "RSA_KEYX"},
    {kCalgRsaSign, 1024, 1024, 1024, "RSA_SIGN"},
};
constexpr uint32_t kProtocols = 0x3F;

void put32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

bool enumAlgsRecord(uint32_t index, uint8_t out[kEnumAlgsSize]) {
  if (index >= kEnumAlgsCount) return false;
  const Algorithm &a = kAlgorithms[index < 3 ? index : index + 1];
  const uint32_t nameLen = uint32_t(strlen(a.name)) + 1;
  memset(out, 0, kEnumAlgsSize);
  put32(out, a.id);
  put32(out + 4, a.defaultBits);
  put32(out + 8, nameLen);
  memcpy(out + 12, a.name, nameLen);
  return true;
}

bool enumAlgsExRecord(uint32_t index, uint8_t out[kEnumAlgsExSize]) {
  if (index >= kEnumAlgsExCount) return false;
  const Algorithm &a = kAlgorithms[index];
  const uint32_t nameLen = uint32_t(strlen(a.name)) + 1;
  memset(out, 0, kEnumAlgsExSize);
  put32(out, a.id);
  put32(out + 4, a.defaultBits);
  put32(out + 8, a.minBits);
  put32(out + 12, a.maxBits);
  put32(out + 16, kProtocols);
  put32(out + 20, nameLen);
  memcpy(out + 24, a.name, nameLen);       // szName[20]
  put32(out + 44, nameLen);
  memcpy(out + 48, a.name, nameLen);       // szLongName[40]
  return true;
}

}  // namespace csp
