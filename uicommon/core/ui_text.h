// Texts of the user interfaces: one table per program, looked up by row and language index, and
// the two operations every program applies to them (filling placeholders, shortening for display).
// Portable: no <windows.h>.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>

namespace ui {

// Column of a text table, chosen once per program from the user's language.
enum Language : int { kEnglish = 0, kSimplifiedChinese = 1, kTraditionalChinese = 2 };
constexpr int kLanguageCount = 3;

// One row: the same text in English, Simplified Chinese and Traditional Chinese.
struct TextRow {
  const wchar_t *text[kLanguageCount];
};

// A program's table of user-visible texts. Get never fails: an unknown row or language gives "".
class CTextTable {
 public:
  template <size_t N>
  constexpr explicit CTextTable(const TextRow (&rows)[N]) : rows_(rows), count_(N) {}
  const wchar_t *Get(size_t row, int language) const {
    if (row >= count_ || language < 0 || language >= kLanguageCount) return L"";
    const wchar_t *t = rows_[row].text[language];
    return t ? t : L"";
  }
  size_t Size() const { return count_; }

 private:
  const TextRow *rows_;
  size_t count_;
};

// Language index of a Windows language identifier (its low 16 bits): 1033, 2057 and 3081 give
// English, 2052 Simplified and 1028 Traditional Chinese; any other identifier gives -1 (callers
// fall through to their next source, or take English).
int MapLanguageId(uint32_t langId);
// The identifier a program writes for a language index: 1033, 2052 or 1028.
uint32_t LanguageIdOfIndex(int language);

// Registry key (under HKEY_CURRENT_USER) and value shared by the programs: the user's choice of
// language, written by the client manager and read by the provider and the guide.
constexpr const wchar_t *kClientRegistryKey = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client";
constexpr const wchar_t *kLanguageValue = L"Language";

// One argument of FormatText: a number or a text. Texts are inserted as they are, so a '%' in
// an argument (a certificate subject, a label) never acts as a placeholder.
class FormatArg {
 public:
  FormatArg(int v) : kind_(kSigned), s_(v) {}
  FormatArg(long v) : kind_(kSigned), s_(v) {}
  FormatArg(long long v) : kind_(kSigned), s_(v) {}
  FormatArg(unsigned v) : kind_(kUnsigned), u_(v) {}
  FormatArg(unsigned long v) : kind_(kUnsigned), u_(v) {}
  FormatArg(unsigned long long v) : kind_(kUnsigned), u_(v) {}
  FormatArg(const wchar_t *v) : kind_(kText), t_(v ? v : L"") {}
  FormatArg(const std::wstring &v) : kind_(kText), t_(v.c_str()) {}

  enum Kind { kSigned, kUnsigned, kText };
  Kind kind() const { return kind_; }
  long long asSigned() const { return kind_ == kUnsigned ? (long long)u_ : s_; }
  unsigned long long asUnsigned() const { return kind_ == kSigned ? (unsigned long long)s_ : u_; }
  const wchar_t *text() const { return t_; }

 private:
  Kind kind_;
  long long s_ = 0;
  unsigned long long u_ = 0;
  const wchar_t *t_ = L"";
};

// Fills the placeholders of a table text, with the printf subset the tables use: %% and
// %[-][0][width][l|ll|h]{d,i,u,x,X,s,c}. Numbers are converted by the conversion letter (an
// unsigned value for %x/%X/%u, e.g. "0X%X" with 0x80006983); %s takes a text (a number given to
// %s is written in decimal). A placeholder without an argument is dropped; an unknown one is
// copied as it stands. The same on every platform (wide printf differs between C libraries).
std::wstring FormatText(const wchar_t *format, std::initializer_list<FormatArg> args);
template <class... A>
std::wstring Format(const wchar_t *format, const A &...args) {
  return FormatText(format, {FormatArg(args)...});
}

// A text longer than maxChars characters becomes its first keepChars characters and "...";
// shorter texts are returned unchanged.
std::wstring Abbreviate(const std::wstring &text, size_t maxChars, size_t keepChars);

}  // namespace ui
