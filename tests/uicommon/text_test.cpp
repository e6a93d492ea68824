// Texts of the user interfaces: table lookup, placeholders, shortening, language identifiers.
#include <gtest/gtest.h>

#include "ui_text.h"

namespace {

const ui::TextRow kRows[] = {
    {{L"Ok", L"确定", L"確定"}},
    {{L"only English", nullptr, L""}},
};
const ui::CTextTable kTable(kRows);

TEST(TextTable, LooksUpByRowAndLanguageAndNeverFails) {
  EXPECT_STREQ(L"Ok", kTable.Get(0, ui::kEnglish));
  EXPECT_STREQ(L"确定", kTable.Get(0, ui::kSimplifiedChinese));
  EXPECT_STREQ(L"確定", kTable.Get(0, ui::kTraditionalChinese));
  EXPECT_EQ(2u, kTable.Size());
  // A missing cell, a row past the end and a language outside the three give an empty text.
  EXPECT_STREQ(L"", kTable.Get(1, ui::kSimplifiedChinese));
  EXPECT_STREQ(L"", kTable.Get(2, ui::kEnglish));
  EXPECT_STREQ(L"", kTable.Get(0, 3));
  EXPECT_STREQ(L"", kTable.Get(0, -1));
}

TEST(FormatText, TwoWideTriesFieldAsTheMessagesUseIt) {
  // A wrong PIN with 3 tries left: the field is two characters wide, so two blanks in English.
  EXPECT_EQ(L"You have  3 more", ui::Format(L"You have %2d more", 3));
  EXPECT_EQ(L"You have 12 more", ui::Format(L"You have %2d more", 12));
  EXPECT_EQ(L"x123x", ui::Format(L"x%2dx", 123));  // wider values are not cut
  EXPECT_EQ(L"Downloading :      512k/2048k", ui::Format(L"Downloading : %8dk/%dk", 512, 2048));
}

TEST(FormatText, HexadecimalErrorCodes) {
  EXPECT_EQ(L"error code:0X80006983", ui::Format(L"error code:0X%X", 0x80006983u));
  EXPECT_EQ(L"errorcode:0x6a82", ui::Format(L"errorcode:0x%x", 0x6A82u));
  EXPECT_EQ(L"\nError code: 0000006A", ui::Format(L"\nError code: %08X", 0x6Au));
  // A negative int reads as its 32-bit pattern, as printf reads it.
  EXPECT_EQ(L"FFFFFFFF", ui::Format(L"%X", -1));
  EXPECT_EQ(L"-42|-0042", ui::Format(L"%d|%05d", -42, -42));
  EXPECT_EQ(L"7  |", ui::Format(L"%-3d|", 7));
}

TEST(FormatText, TextArgumentsAreNeverReadAsPlaceholders) {
  // A certificate subject with a percent sign (and placeholders) comes out unchanged.
  std::wstring subject = L"100% Bank %s %d %n";
  EXPECT_EQ(L"Are you sure you want to delete 100% Bank %s %d %n?",
            ui::Format(L"Are you sure you want to delete %s?", subject));
  EXPECT_EQ(L"PIN verification fail, you have 2 chance(s) left to retry",
            ui::Format(L"%s%d%s", L"PIN verification fail, you have ", 2, L" chance(s) left to retry"));
}

TEST(FormatText, OddFormatsDoNotRunPastTheArguments) {
  EXPECT_EQ(L"100%", ui::Format(L"100%%"));
  EXPECT_EQ(L"a  b ", ui::Format(L"a %d b %s"));           // no arguments: placeholders dropped
  EXPECT_EQ(L"1 %q 2", ui::Format(L"%d %q %d", 1, 2));    // unknown conversion kept as written
  EXPECT_EQ(L"end %", ui::Format(L"end %"));
  EXPECT_EQ(L"end %5", ui::Format(L"end %5"));
  EXPECT_EQ(L"", ui::FormatText(nullptr, {}));
  EXPECT_EQ(L"5 x", ui::Format(L"%s %c", 5, L"xyz"));
}

TEST(Abbreviate, CutsOnlyTextsLongerThanTheLimit) {
  EXPECT_EQ(L"ABCDEFGHIJKLM...", ui::Abbreviate(L"ABCDEFGHIJKLMNOPQRST", 13, 13));
  EXPECT_EQ(L"ABCDEFGHIJKLM", ui::Abbreviate(L"ABCDEFGHIJKLM", 13, 13));
  EXPECT_EQ(L"", ui::Abbreviate(L"", 13, 13));
  // Popup contents: more than 50 characters are cut to 48 and "...".
  std::wstring c51(51, L'字');
  EXPECT_EQ(std::wstring(48, L'字') + L"...", ui::Abbreviate(c51, 50, 48));
  EXPECT_EQ(std::wstring(50, L'字'), ui::Abbreviate(std::wstring(50, L'字'), 50, 48));
}

TEST(Language, IdentifiersMapToColumnsAndBack) {
  EXPECT_EQ(ui::kEnglish, ui::MapLanguageId(1033));
  EXPECT_EQ(ui::kEnglish, ui::MapLanguageId(2057));
  EXPECT_EQ(ui::kEnglish, ui::MapLanguageId(3081));
  EXPECT_EQ(ui::kSimplifiedChinese, ui::MapLanguageId(2052));
  EXPECT_EQ(ui::kTraditionalChinese, ui::MapLanguageId(1028));
  EXPECT_EQ(-1, ui::MapLanguageId(3076));  // Hong Kong Chinese is not one of the three
  EXPECT_EQ(-1, ui::MapLanguageId(0));
  EXPECT_EQ(ui::kSimplifiedChinese, ui::MapLanguageId(0x00010804));  // only the low 16 bits count
  for (int l = 0; l < ui::kLanguageCount; ++l)
    EXPECT_EQ(l, ui::MapLanguageId(ui::LanguageIdOfIndex(l)));
  EXPECT_EQ(1033u, ui::LanguageIdOfIndex(7));
}

}  // namespace
