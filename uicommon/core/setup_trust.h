// Whether a setup program fetched from the network may be started: the outcome of its signature
// check, the rule that the signer is our publisher (installer/signer.h), and the message a
// program shows when it refuses one. Portable; the Win32 check is win/setup_signature.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ui {

enum class SetupTrust {
  kTrusted,       // signed by our publisher through a trusted chain: may be started
  kUnreadable,    // the file cannot be opened (missing, or held by another program)
  kUnsigned,      // no Authenticode signature
  kBadSignature,  // the signature does not match the file (altered, damaged, or taken from another)
  kUntrusted,     // the signer's chain does not end at a trusted root, or is not valid for code
  kWrongSigner,   // a valid signature of somebody else
};

struct SetupCheck {
  SetupTrust trust = SetupTrust::kUnreadable;
  uint32_t code = 0;     // the platform's error code behind the outcome (0 when none)
  std::wstring signer;   // the signer's common name, when a signature was read
};

// One attribute of a certificate's subject name: its object identifier ("2.5.4.3") and value.
struct NameAttribute {
  std::string oid;
  std::wstring value;
};

// True when the subject carries our publisher's country, organisation and common name
// (installer/signer.h), each exactly once and exactly equal. Other attributes may be present.
bool IsOurPublisher(const std::vector<NameAttribute> &subject);

// The publisher's name as the user reads it (the organisation of installer/signer.h).
std::wstring PublisherName();

// The message shown when a setup program is refused: it was not started and has been deleted,
// the reason, the publisher expected. Language index 0 English, 1 Simplified, 2 Traditional.
std::wstring SetupRefusedText(const SetupCheck &check, int language);

// UTF-8 (as the configuration headers are written) to a wide string; invalid bytes become U+FFFD.
std::wstring WidenUtf8(const char *text);

}  // namespace ui
