// The provider's user-visible texts: the PromptText table in English, Simplified and Traditional
// Chinese, and the texts each message dialog shows for a message index.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "ui_text.h"

namespace csp {

// Rows of PromptText the dialogs use by name.
enum PromptRow : size_t {
  kTextVerifyPin = 0,          // PIN dialog: title, prompt, OK, Cancel
  kTextInputPin = 1,
  kTextPinOk = 2,
  kTextPinCancel = 3,
  kTextSelectDevice = 4,       // device selection: title, prompt, OK, Exit, "S/N:"
  kTextSelectPrompt = 5,
  kTextSelectOk = 6,
  kTextExit = 7,
  kTextSerial = 8,
  kTextTip = 9,                // key-generation window
  kTextGenerating = 10,
  kTextMessageTitle = 11,      // message dialogs
  kTextWrongPinHead = 16,      // "... You have " <tries> " more chance(s)!"
  kTextWrongPinTail = 17,
  kTextRetry = 18,
  kTextAbort = 19,
  kTextOk = 20,
  kTextBanner = 21,            // button confirmation: the bank's line
  kTextBlank = 22,             // title of the windows without a title
  kTextInputPinTitle = 23,     // progress window, PIN-entry form
  kTextInputPinOnDevice = 24,
  kTextConfirmOnDevice = 25,
  kTextCancelTransaction = 26,
  kTextSetPinTitle = 28,       // progress window, PIN-change form
  kTextSetPinOnDevice = 29,
  kTextContinue = 30,
  kTextPressButton = 33        // button confirmation: what to do
};

constexpr size_t kPromptRows = 34;

const ui::CTextTable &promptTable();
// A row in the language of languageIndex (0 English, 1 Simplified, 2 Traditional Chinese).
const wchar_t *promptText(size_t row, uint32_t languageIndex);

// The two-button message dialog: its text and the rows of its two buttons. Message 16 (wrong
// PIN) shows the low four bits of tries in a field two characters wide between rows 16 and 17.
struct TwoButtonTexts {
  std::wstring text;
  size_t first;
  size_t second;
};
TwoButtonTexts twoButtonTexts(int message, uint32_t tries, uint32_t languageIndex);

}  // namespace csp
