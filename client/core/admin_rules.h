// The rules of PIN and device administration and of certificate import that need no window:
// what a new PIN, a label and the format settings must be, the name of a new container, the key
// material a token accepts and the messages of a failed PKCS #12 import.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>

#include "client_host.h"
#include "uk_tokenlib.h"

namespace client {

// A new PIN (either PIN's change, and the new user PIN of an unlock) is 6 to 10 printable ASCII
// characters (32 to 126).
constexpr size_t kPinMinLength = 6;
constexpr size_t kPinMaxLength = 10;
// The PIN-entry dialog refuses longer entries without asking the token.
constexpr size_t kInputPinMaxLength = 20;
// The label field takes 24 characters; the token takes 64 bytes in the system code page.
constexpr size_t kLabelFieldChars = 24;
constexpr size_t kLabelMaxBytes = 64;

// Settings every format uses: the token comes back with these PINs and retry counts.
constexpr const char *kFormatUserPin = "937260";
constexpr const char *kFormatAdminPin = "482915";
constexpr const char *kFormatRetries = "6";
constexpr size_t kFormatPinField = 10, kFormatRetryField = 2;

// What a dialog does with its entries when OK (or Start) is pressed: close, or stay open with a
// message and the focus on a field.
struct DialogVerdict {
  bool close = false;
  std::wstring message;  // shown in a box when the dialog stays open (may be empty)
  unsigned style = 0;    // the box's style (error or warning icon)
  int focus = 0;         // control that takes the focus
  static DialogVerdict Close() {
    DialogVerdict v;
    v.close = true;
    return v;
  }
  static DialogVerdict Stay(std::wstring message, unsigned style, int focus) {
    DialogVerdict v;
    v.message = std::move(message);
    v.style = style;
    v.focus = focus;
    return v;
  }
};

// The first rule a new PIN breaks, worded for the user: too short (row 42), too long (43), a
// character outside 32 to 126 (44), confirmation different (45). Empty when it keeps them all.
std::wstring NewPinProblem(const std::wstring &newPin, const std::wstring &confirm);

class CMarvoDevice;

// OK in the change-PIN dialog (user or administrator mode): the rules of the new PIN, a new PIN
// different from the current one, then the current PIN verified on the token (a wrong one costs
// a try and is worded with the tries left). A refusal focuses the new PIN.
DialogVerdict ModifyPinVerdict(CMarvoDevice &d, bool admin, const std::wstring &current,
                               const std::wstring &newPin, const std::wstring &confirm);
// OK in the unlock dialog: the rules of the new user PIN (focus on it), then the administrator
// PIN verified on the token (focus on it).
DialogVerdict UnlockPinVerdict(CMarvoDevice &d, const std::wstring &adminPin,
                               const std::wstring &newPin, const std::wstring &confirm);
// OK in the PIN-entry dialog: more than 20 characters is wrong at once; otherwise the token
// decides. A failure without a result (no device lock, no connection) reads as a time-out.
DialogVerdict InputPinVerdict(CMarvoDevice &d, const std::wstring &pin);
// OK in the label dialog.
DialogVerdict LabelVerdict(const std::wstring &label);

// The label dialog's check of the label in the system code page: more than 64 bytes (row 193),
// empty (row 194); empty when accepted.
std::wstring LabelProblem(const std::string &codePageLabel);

// The format dialog's fields as read back (byte strings of at most 10, 2, 10 and 2 characters).
struct FormatSettings {
  std::string userPin, userRetries, adminPin, adminRetries;
};
// Start pressed: a PIN of 5 bytes or fewer, or a retry count outside 1 to 15, is refused with its
// row and field; the verdict closes (meaning: go on) when all are valid.
DialogVerdict CheckFormatSettings(const FormatSettings &s);
// A decimal retry count as the dialog reads it: leading digits only, 0 when there are none.
unsigned RetryCount(const std::string &text);
// "\nError code: %08X" with the library's result (row 151).
std::wstring FormatFailureText(uint32_t result);

// ---- certificate import ---------------------------------------------------------------------

// The name (and ID) of a new container: a fresh GUID formatted as
// "%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X" (36 characters; the third group in lower
// case).
std::string ContainerNameOfGuid(const Guid &guid);
// A zeroed container record carrying the name and the same text as its ID.
UK_CONTAINER_INFO NewContainerRecord(const std::string &name);

// Result codes the import tells apart.
constexpr uint32_t kErrorInvalidPassword = 86;        // ERROR_INVALID_PASSWORD
constexpr uint32_t kErrorDiskFull = 112;              // ERROR_DISK_FULL
constexpr uint32_t kCryptBadEncode = 0x80092002u;     // CRYPT_E_BAD_ENCODE
constexpr uint32_t kCryptNotFound = 0x80092004u;      // CRYPT_E_NOT_FOUND
constexpr uint32_t kNteBadKeyState = 0x8009000Bu;     // NTE_BAD_KEY_STATE
constexpr uint32_t kNteNoKey = 0x8009000Du;           // NTE_NO_KEY
constexpr uint32_t kNteExists = 0x8009000Fu;          // NTE_EXISTS

// Key material of a 1024-bit RSA key pair with public exponent 65537 in the token's records; the
// private half is wiped when the object ends.
struct ImportKey {
  UK_RSA_PUBLIC_KEY pub;
  UK_RSA_PRIVATE_KEY pri;
  uint32_t keySpec = 0;  // 1 exchange (CALG_RSA_KEYX), 2 signature
  ImportKey();
  ~ImportKey();
  ImportKey(const ImportKey &) = delete;
  ImportKey &operator=(const ImportKey &) = delete;
};

// Checks a CryptoAPI PRIVATEKEYBLOB (exactly 596 bytes: type 7, version 2, reserved 0, algorithm
// CALG_RSA_KEYX or CALG_RSA_SIGN, "RSA2", 1024 bits, exponent 65537) and fills the key records
// with its numbers turned big-endian. False for anything else (the token does not take it).
bool KeyFromPrivateKeyBlob(const uint8_t *blob, size_t len, ImportKey *out);

// Whether the certificate's subject public key (a DER RSAPublicKey) is the public half of the
// key: the same 1024-bit modulus and exponent 65537. A key export cannot be trusted alone: a
// software provider may report exponent 65537 in the blob for a key whose exponent is another.
bool KeyMatchesPublicKey(const ImportKey &key, const uint8_t *rsaPublicKey, size_t len);

// The 128 modulus bytes of a 1024-bit key inside a certificate's DER RSAPublicKey (they start at
// byte 7). False when the key is too short to hold them.
bool ModulusOfPublicKey(const uint8_t *rsaPublicKey, size_t len, uint8_t modulus[128]);

// The text of a failed PKCS #12 import: a wrong password (row 13), not PKCS #12 (row 14), or row
// 15 followed by the system's words for the error (row 49 when there are none, or no error).
std::wstring PfxFailureText(uint32_t error, const std::wstring &systemMessage);

// Overwrites memory that held key material (not optimised away).
void WipeMemory(void *p, size_t n);

}  // namespace client
