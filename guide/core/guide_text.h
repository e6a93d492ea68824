// The guide's texts (GuideText): 58 ids, each in English, Simplified and Traditional Chinese,
// looked up in the language chosen once at start-up. Portable: no <windows.h>.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "ui_text.h"

namespace guide {

constexpr size_t kGuideTextCount = 58;

// Ids of GuideText by what they say.
enum TextId : int {
  kTextTitle = 0,
  kTextStartChecking = 1,
  kTextEnvironmentStart = 2,
  kTextEnvironmentError = 3,
  kTextClientCheckStart = 4,
  kTextClientRepairing = 5,
  kTextRepairStart = 6,
  kTextClientInstalled = 7,
  kTextClientDownloadError = 8,
  kTextClientInstallError = 9,
  kTextEnvironmentOk = 10,
  kTextReinstall = 11,
  kTextNoToken = 12,
  kTextPinAlreadyChanged = 13,
  kTextChangePinFirst = 14,
  kTextCertificateReadError = 15,   // %08x
  kTextNoCertificate = 16,
  kTextCertificateDownloadError = 17,
  kTextCertificateDownloaded = 18,
  kTextCertificateUndecodable = 19,
  kTextCertificateInfo = 20,        // holder, issuer, start date, end date
  kTextComplete = 21,
  kTextAdministrator = 22,
  kTextNotAdministrator = 23,
  kTextSystemUnsupported = 24,
  kTextConnectionOk = 25,
  kTextSizeQueryError = 26,         // %08x
  kTextConnectError = 27,           // %08x
  kTextTrustRepairing = 28,
  kTextTrustOk = 29,
  kTextActiveXRepairing = 30,
  kTextActiveXOk = 31,
  kTextClientDownloading = 32,
  kTextClientDownloaded = 33,
  kTextClientInstalling = 34,
  kTextOperatingSystem = 35,
  kTextIeVersionUnknown = 36,
  kTextIeVersion = 37,              // %s
  kTextIeTooOld = 38,
  kTextShowDetails = 39,
  kTextHideDetails = 40,
  kTextDetailTitle = 41,
  kTextDetailOk = 42,
  kTextOldPin = 43,
  kTextNewPin = 44,
  kTextConfirmPin = 45,
  kTextPinHint = 46,
  kTextPinOk = 47,
  kTextPinMismatch = 48,
  kTextPinLength = 49,
  kTextPinCharacters = 50,
  kTextPinEqualsDefault = 51,
  kTextWrongOldPin = 52,
  kTextPinChangeFailed = 53,
  kTextPinChanged = 54,
  kTextDownloadProgress = 55,       // %8d, %d
  kTextDirectoryError = 56,
  kTextCertificateDownload = 57,
};

// The table itself (for the tests and the download dialog's progress format).
const ui::CTextTable &GuideTextTable();

// The language index (ui::Language) every text is looked up in; 0 until set.
void SetLanguageIndex(int language);
int LanguageIndex();
// The text of an id in the current language ("" for an unknown id).
const wchar_t *GetGuideText(int id);

// The language of the first identifier that maps to one (1028 Traditional, 1033/2057/3081
// English, 2052 Simplified; only the low 16 bits count); English when none does. The candidates
// are the user's "Language" value (0 when missing) and then the system's languages in order.
int LanguageFromCandidates(const std::vector<uint32_t> &candidates);

}  // namespace guide
