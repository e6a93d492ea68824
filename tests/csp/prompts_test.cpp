// The provider's texts: the table in three languages, the language index of an identifier, and
// what each two-button message shows.
#include <gtest/gtest.h>

#include "prompt_text.h"
#include "provider.h"

namespace {

using namespace csp;

TEST(Prompts, TheTableHasEveryRowInThreeLanguages) {
  ASSERT_EQ(kPromptRows, promptTable().Size());
  for (size_t row = 0; row < kPromptRows; ++row)
    for (uint32_t lang = 0; lang < 3; ++lang) EXPECT_STRNE(L"", promptText(row, lang)) << row;
  EXPECT_STREQ(L"Please input your UKEY PIN:", promptText(1, 0));
  EXPECT_STREQ(L"请输入您的USBKey密码:", promptText(1, 1));
  EXPECT_STREQ(L"請輸入您的USBKey密碼:", promptText(1, 2));
  EXPECT_STREQ(L"Please insert your DEZoda device!", promptText(12, 0));
  EXPECT_STREQ(L"设备使用之前必须修改默认密码！\n是否继续修改密码？", promptText(27, 1));
  EXPECT_STREQ(L"您要取消密碼驗證碼？", promptText(31, 2));
  EXPECT_STREQ(L"请按下UKEY尾部蓝色亮灯按键，确认此操作", promptText(33, 1));
  EXPECT_STREQ(L" ", promptText(22, 0));
  EXPECT_STREQ(L"", promptText(34, 0));
  EXPECT_STREQ(L"", promptText(0, 3));
}

TEST(Prompts, LanguageIndexOfAnIdentifier) {
  EXPECT_EQ(1u, languageIndexOf(2052));
  EXPECT_EQ(2u, languageIndexOf(1028));
  EXPECT_EQ(0u, languageIndexOf(1033));
  EXPECT_EQ(0u, languageIndexOf(3076));  // Hong Kong Chinese is not one of the two
  EXPECT_EQ(0u, languageIndexOf(0));
}

TEST(Prompts, TheWrongPinMessageShowsTheTriesInTwoCharacters) {
  TwoButtonTexts t = twoButtonTexts(16, 3, 0);
  EXPECT_EQ(L"PIN verification fail. You have  3 more chance(s)!", t.text);  // two blanks
  EXPECT_EQ(size_t(kTextRetry), t.first);
  EXPECT_EQ(size_t(kTextAbort), t.second);
  EXPECT_EQ(L"密码错误！还有 9 次机会！", twoButtonTexts(16, 9, 1).text);
  EXPECT_EQ(L"密碼錯誤！還有15 次機會！", twoButtonTexts(16, 0x3F, 2).text);  // low four bits
}

TEST(Prompts, ButtonsByMessage) {
  TwoButtonTexts t = twoButtonTexts(27, 0, 0);
  EXPECT_EQ(L"You must modify default PIN before using it!", t.text);
  EXPECT_EQ(size_t(kTextContinue), t.first);
  EXPECT_EQ(size_t(kTextAbort), t.second);
  t = twoButtonTexts(31, 0, 1);
  EXPECT_EQ(L"您要取消密码验证吗？", t.text);
  EXPECT_EQ(size_t(kTextContinue), t.first);
  EXPECT_EQ(size_t(kTextExit), t.second);
  t = twoButtonTexts(15, 0, 0);
  EXPECT_EQ(L"PIN verification fail!", t.text);
  EXPECT_EQ(size_t(kTextRetry), t.first);
  EXPECT_EQ(size_t(kTextAbort), t.second);
}

}  // namespace
