#include "admin_rules.h"

#include <stdio.h>
#include <string.h>

#include "admin_ids.h"
#include "client_text.h"
#include "commands.h"
#include "device_model.h"

namespace client {

// ---- PINs, label, format settings ---------------------------------------------------------------

std::wstring NewPinProblem(const std::wstring &newPin, const std::wstring &confirm) {
  if (newPin.size() < kPinMinLength) return ui::Format(LangString(42), int(kPinMinLength));
  if (newPin.size() > kPinMaxLength) return ui::Format(LangString(43), int(kPinMaxLength));
  for (wchar_t c : newPin)
    if (c < 32 || c > 126) return LangString(44);
  if (newPin != confirm) return LangString(45);
  return L"";
}

std::wstring LabelProblem(const std::string &codePageLabel) {
  if (codePageLabel.size() > kLabelMaxBytes) return LangString(193);
  if (codePageLabel.empty()) return LangString(194);
  return L"";
}

DialogVerdict ModifyPinVerdict(CMarvoDevice &d, bool admin, const std::wstring &current,
                               const std::wstring &newPin, const std::wstring &confirm) {
  std::wstring problem = NewPinProblem(newPin, confirm);
  if (problem.empty() && newPin == current) problem = LangString(46);
  if (!problem.empty()) return DialogVerdict::Stay(problem, kBoxError, IDC_MODIFY_NEW);
  bool ok = admin ? d.VerifySoPin(current) : d.VerifyUserPin(current);
  if (!ok) return DialogVerdict::Stay(ErrorText(d.TriesLeft(), d.LastResult()), kBoxError, IDC_MODIFY_NEW);
  return DialogVerdict::Close();
}

DialogVerdict UnlockPinVerdict(CMarvoDevice &d, const std::wstring &adminPin,
                               const std::wstring &newPin, const std::wstring &confirm) {
  std::wstring problem = NewPinProblem(newPin, confirm);
  if (!problem.empty()) return DialogVerdict::Stay(problem, kBoxError, IDC_UNLOCK_NEW);
  if (!d.VerifySoPin(adminPin))
    return DialogVerdict::Stay(ErrorText(d.TriesLeft(), d.LastResult()), kBoxError, IDC_UNLOCK_ADMIN);
  return DialogVerdict::Close();
}

DialogVerdict InputPinVerdict(CMarvoDevice &d, const std::wstring &pin) {
  if (pin.size() > kInputPinMaxLength) return DialogVerdict::Stay(LangString(27), kBoxError, IDC_INPUT_PIN);
  if (d.VerifyUserPin(pin)) return DialogVerdict::Close();
  std::wstring text = d.LastResult() ? ErrorText(d.TriesLeft(), d.LastResult()) : std::wstring(LangString(28));
  return DialogVerdict::Stay(text, kBoxError, IDC_INPUT_PIN);
}

DialogVerdict LabelVerdict(const std::wstring &label) {
  std::wstring problem = LabelProblem(Host().ToCodePage(label));
  if (!problem.empty()) return DialogVerdict::Stay(problem, kBoxWarning, IDC_LABEL_TEXT);
  return DialogVerdict::Close();
}

unsigned RetryCount(const std::string &text) {
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + unsigned(c - '0');
    if (v > 1000) break;  // far outside the range already
  }
  return v;
}

DialogVerdict CheckFormatSettings(const FormatSettings &s) {
  auto refuse = [](size_t row, int field) { return DialogVerdict::Stay(LangString(row), kBoxWarning, field); };
  if (s.userPin.size() <= 5) return refuse(144, IDC_FORMAT_USER_PIN);
  if (s.adminPin.size() <= 5) return refuse(145, IDC_FORMAT_ADMIN_PIN);
  unsigned user = RetryCount(s.userRetries), admin = RetryCount(s.adminRetries);
  if (user < 1 || user > 15) return refuse(146, IDC_FORMAT_USER_RETRIES);
  if (admin < 1 || admin > 15) return refuse(147, IDC_FORMAT_ADMIN_RETRIES);
  return DialogVerdict::Close();
}

std::wstring FormatFailureText(uint32_t result) { return ui::Format(LangString(151), result); }

// ---- containers ---------------------------------------------------------------------------------

std::string ContainerNameOfGuid(const Guid &g) {
  char buf[40];
  snprintf(buf, sizeof buf, "%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X",
           static_cast<unsigned long>(g.data1), unsigned(g.data2), unsigned(g.data3),
           unsigned(g.data4[0]), unsigned(g.data4[1]), unsigned(g.data4[2]), unsigned(g.data4[3]),
           unsigned(g.data4[4]), unsigned(g.data4[5]), unsigned(g.data4[6]), unsigned(g.data4[7]));
  return buf;
}

UK_CONTAINER_INFO NewContainerRecord(const std::string &name) {
  UK_CONTAINER_INFO c;
  memset(&c, 0, sizeof c);
  size_t n = name.size() < sizeof c.name - 1 ? name.size() : sizeof c.name - 1;
  memcpy(c.name, name.data(), n);
  size_t idLen = name.size() < sizeof c.id ? name.size() : sizeof c.id;
  c.idLen = uint8_t(idLen);
  memcpy(c.id, name.data(), idLen);
  return c;
}

// ---- key material -------------------------------------------------------------------------------

void WipeMemory(void *p, size_t n) {
  volatile uint8_t *b = static_cast<volatile uint8_t *>(p);
  while (n--) *b++ = 0;
}

ImportKey::ImportKey() {
  memset(&pub, 0, sizeof pub);
  memset(&pri, 0, sizeof pri);
}

ImportKey::~ImportKey() { WipeMemory(&pri, sizeof pri); }

namespace {

constexpr size_t kBlobSize = 596;
constexpr uint32_t kAlgRsaKeyx = 0xA400, kAlgRsaSign = 0x2400;
constexpr uint32_t kMagicRsa2 = 0x32415352;

uint32_t Le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// n little-endian bytes of the blob into a big-endian field.
void Reversed(const uint8_t *src, size_t n, uint8_t *dst) {
  for (size_t i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
}

// The exponent as a 4-byte big-endian number at the end of a 128-byte field.
void PutExponent(uint32_t e, uint8_t field[128]) {
  memset(field, 0, 128);
  field[124] = uint8_t(e >> 24);
  field[125] = uint8_t(e >> 16);
  field[126] = uint8_t(e >> 8);
  field[127] = uint8_t(e);
}

}  // namespace

bool KeyFromPrivateKeyBlob(const uint8_t *blob, size_t len, ImportKey *out) {
  if (!blob || len != kBlobSize) return false;
  // BLOBHEADER: bType, bVersion, reserved (2 bytes), aiKeyAlg (4); RSAPUBKEY: magic, bitlen,
  // pubexp.
  if (blob[0] != 7 || blob[1] != 2 || blob[2] != 0 || blob[3] != 0) return false;
  uint32_t alg = Le32(blob + 4);
  if (alg != kAlgRsaKeyx && alg != kAlgRsaSign) return false;
  if (Le32(blob + 8) != kMagicRsa2 || Le32(blob + 12) != 1024 || Le32(blob + 16) != 65537)
    return false;
  out->keySpec = alg == kAlgRsaKeyx ? UK_KEYSPEC_EXCHANGE : UK_KEYSPEC_SIGNATURE;

  memset(&out->pub, 0, sizeof out->pub);
  out->pub.bits = 1024;
  Reversed(blob + 20, 128, out->pub.modulus);
  PutExponent(65537, out->pub.exponent);

  UK_RSA_PRIVATE_KEY &k = out->pri;
  memset(&k, 0, sizeof k);
  k.bits = 1024;
  memcpy(k.modulus, out->pub.modulus, 128);
  PutExponent(65537, k.publicExponent);
  Reversed(blob + 148, 64, k.prime1);
  Reversed(blob + 212, 64, k.prime2);
  Reversed(blob + 276, 64, k.exponent1);
  Reversed(blob + 340, 64, k.exponent2);
  Reversed(blob + 404, 64, k.coefficient);
  Reversed(blob + 468, 128, k.privateExponent);
  return true;
}

bool ModulusOfPublicKey(const uint8_t *key, size_t len, uint8_t modulus[128]) {
  if (!key || len < 7 + 128) return false;
  memcpy(modulus, key + 7, 128);
  return true;
}

namespace {

// One DER element at *p (before end): its tag and contents; false when its length runs past the
// end or is not a definite length of at most four bytes.
bool DerElement(const uint8_t *&p, const uint8_t *end, uint8_t *tag, const uint8_t **content, size_t *len) {
  if (end - p < 2) return false;
  *tag = p[0];
  size_t n = p[1];
  p += 2;
  if (n & 0x80) {
    size_t bytes = n & 0x7F;
    if (bytes == 0 || bytes > 4 || size_t(end - p) < bytes) return false;
    n = 0;
    for (size_t i = 0; i < bytes; ++i) n = n << 8 | *p++;
  }
  if (size_t(end - p) < n) return false;
  *content = p;
  *len = n;
  p += n;
  return true;
}

// A positive DER INTEGER without its sign byte.
bool DerUnsigned(const uint8_t *&p, const uint8_t *end, const uint8_t **value, size_t *len) {
  uint8_t tag = 0;
  if (!DerElement(p, end, &tag, value, len) || tag != 0x02 || *len == 0 || (**value & 0x80)) return false;
  while (*len > 1 && **value == 0) ++*value, --*len;
  return true;
}

}  // namespace

bool KeyMatchesPublicKey(const ImportKey &key, const uint8_t *rsaPublicKey, size_t len) {
  if (!rsaPublicKey) return false;
  const uint8_t *p = rsaPublicKey, *end = rsaPublicKey + len, *seq = nullptr, *n = nullptr, *e = nullptr;
  size_t seqLen = 0, nLen = 0, eLen = 0;
  uint8_t tag = 0;
  if (!DerElement(p, end, &tag, &seq, &seqLen) || tag != 0x30) return false;
  const uint8_t *q = seq, *seqEnd = seq + seqLen;
  if (!DerUnsigned(q, seqEnd, &n, &nLen) || !DerUnsigned(q, seqEnd, &e, &eLen)) return false;
  static const uint8_t k65537[] = {0x01, 0x00, 0x01};
  return nLen == sizeof key.pub.modulus && memcmp(n, key.pub.modulus, nLen) == 0 &&
         eLen == sizeof k65537 && memcmp(e, k65537, eLen) == 0;
}

std::wstring PfxFailureText(uint32_t error, const std::wstring &systemMessage) {
  if (error == kErrorInvalidPassword) return LangString(13);
  if (error == kCryptBadEncode) return LangString(14);
  std::wstring words = error && !systemMessage.empty() ? systemMessage : std::wstring(LangString(kRowUnknownError));
  return LangString(15) + words;
}

}  // namespace client
