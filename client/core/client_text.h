// The client manager's text table and the texts it composes from it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "ui_text.h"

namespace client {

constexpr size_t kClientTextRows = 233;

// Row numbers the code names more than once.
enum TextRow : size_t {
  kRowAbout = 29,
  kRowLibraryInitFailed = 30,
  kRowDeviceRemoved = 31,
  kRowDeviceAttached = 32,
  kRowTitle = 34,  // window title, tray tip and the caption of every message box
  kRowUpdatingCertificates = 38,
  kRowUpdatedCertificates = 39,
  kRowInformationUpdate = 47,
  kRowCertificateRegistered = 48,
  kRowUnknownError = 49,
  kRowRegisterFailed = 50,
  kRowCertificateUnregistered = 51,
  kRowUnregisterNotFound = 52,
  kRowUnregisterFailed = 53,
  kRowPleaseInputPinOnDevice = 112,
  kRowTip = 124,
};

const ui::CTextTable &ClientTextTable();

// The language of the whole program (0 English, 1 Simplified, 2 Traditional Chinese).
int LanguageIndex();
void SetLanguageIndex(int language);

// The text of a row in the program's language.
const wchar_t *LangString(size_t row);

// The wording of a token-library result that the client shows to the user: a blocked PIN, a wrong
// PIN with the tries left, an invalid device, a cancel, and everything else as a time-out.
std::wstring ErrorText(uint8_t triesLeft, uint32_t code);

}  // namespace client
