// The provider's dialogs under Wine, in-process: each dialog of the Dialogs seam shown from the
// provider's own templates, its texts read back in the three languages, typed into and clicked
// from another thread as a user would; the button confirmation on its thread with the animation.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dialogs_win.h"
#include "quiet_host.h"
#include "resource.h"
#include "win_dialog_driver.h"

namespace {

using namespace cspui;

using LanguageHost = csptest::QuietHost;  // its language set by each test

class Dialogs : public testing::Test {
 protected:
  // Runs the user's part on a thread of its own while the dialog runs on this one.
  template <class User>
  void user(User u) {
    user_ = std::thread(u);
  }
  void TearDown() override {
    if (user_.joinable()) user_.join();
  }
  LanguageHost host;
  cspwin::WinDialogs dialogs{host};
  std::thread user_;
};

TEST_F(Dialogs, PinEntry) {
  std::wstring title, prompt, ok, cancel;
  bool okAt5 = true, okAt6 = false, focused = false;
  size_t typed = 0;
  user([&] {
    HWND d = WaitDialog(L"Verify PIN");
    ASSERT_NE(nullptr, d);
    prompt = ItemText(d, IDC_TEXT);
    ok = ItemText(d, IDOK);
    cancel = ItemText(d, IDCANCEL);
    HWND edit = GetDlgItem(d, IDC_PIN);
    focused = FocusOf(d) == edit;
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD);
    Type(edit, L"12345");
    okAt5 = IsWindowEnabled(GetDlgItem(d, IDOK));
    Click(d, IDOK);  // refused while OK may not be pressed
    Type(edit, L"6");
    okAt6 = IsWindowEnabled(GetDlgItem(d, IDOK));
    Type(edit, L"7890X");  // an eleventh character does not go in
    typed = Text(edit).size();
    Click(d, IDOK);
  });
  char pin[200];
  ASSERT_TRUE(dialogs.enterPin(pin, sizeof pin));
  EXPECT_STREQ("1234567890", pin);
  EXPECT_EQ(L"Please input your UKEY PIN:", prompt);
  EXPECT_EQ(L"Ok", ok);
  EXPECT_EQ(L"Cancel", cancel);
  EXPECT_FALSE(okAt5);
  EXPECT_TRUE(okAt6);
  EXPECT_TRUE(focused);
  EXPECT_EQ(10u, typed);
}

TEST_F(Dialogs, PinEntryCancelledAndInChinese) {
  host.language = 2052;
  std::wstring prompt;
  user([&] {
    HWND d = WaitDialog(L"密码验证");
    ASSERT_NE(nullptr, d);
    prompt = ItemText(d, IDC_TEXT);
    Type(GetDlgItem(d, IDC_PIN), L"123456");
    Click(d, IDCANCEL);
  });
  char pin[200] = "stale";
  EXPECT_FALSE(dialogs.enterPin(pin, sizeof pin));
  EXPECT_STREQ("", pin);  // nothing of the typed PIN is handed out
  EXPECT_EQ(L"请输入您的USBKey密码:", prompt);
}

TEST_F(Dialogs, TwoButtonMessages) {
  struct Case {
    int message;
    uint32_t tries, language;
    const wchar_t *text, *first, *second;
    int press, result;
  } cases[] = {
      {16, 3, 1033, L"PIN verification fail. You have  3 more chance(s)!", L"Retry", L"Abort", IDCANCEL, 2},
      {16, 9, 2052, L"密码错误！还有 9 次机会！", L"重试", L"取消", IDOK, 1},
      {27, 0, 1028, L"設備使用之前必須修改預設密碼！\n是否繼續修改密碼？", L"繼續", L"取消", IDOK, 1},
      {31, 0, 1033, L"Do you really cancel PIN verification!", L"Continue", L"Exit", IDCANCEL, 2},
      {15, 0, 3076, L"PIN verification fail!", L"Retry", L"Abort", IDOK, 1},
  };
  for (const Case &c : cases) {
    host.language = c.language;
    std::wstring title, text, first, second;
    bool focusFirst = false;
    user([&] {
      HWND d = WaitFor([&] { return FindDialogWithText(IDC_TEXT, c.text) != nullptr; })
                   ? FindDialogWithText(IDC_TEXT, c.text)
                   : nullptr;
      ASSERT_NE(nullptr, d) << Utf8(c.text);
      title = Text(d);
      text = ItemText(d, IDC_TEXT);
      first = ItemText(d, IDOK);
      second = ItemText(d, IDCANCEL);
      focusFirst = FocusOf(d) == GetDlgItem(d, IDOK);
      Click(d, c.press);
    });
    EXPECT_EQ(c.result, dialogs.askTwoButtons(c.message, c.tries));
    user_.join();
    EXPECT_EQ(c.language == 2052 ? L"提示" : c.language == 1028 ? L"提示" : L"Tip", title);
    EXPECT_EQ(c.first, first);
    EXPECT_EQ(c.second, second);
    EXPECT_TRUE(focusFirst) << Utf8(c.text);
  }
}

TEST_F(Dialogs, OneButtonMessageAndCancelConfirmation) {
  std::wstring button;
  user([&] {
    HWND d = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (d = FindDialogWithText(IDC_TEXT, L"Your device has been locked!")); }));
    button = ItemText(d, IDOK);
    EXPECT_EQ(nullptr, GetDlgItem(d, IDCANCEL));
    Click(d, IDOK);
  });
  dialogs.tell(13);
  user_.join();
  EXPECT_EQ(L"Ok", button);

  host.language = 1028;
  std::wstring cont, cancel;
  user([&] {
    HWND d = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (d = FindDialogWithText(IDC_TEXT, L"您要取消交易嗎！")); }));
    cont = ItemText(d, IDOK);
    cancel = ItemText(d, IDCANCEL);
    Click(d, IDOK);
  });
  EXPECT_EQ(1, dialogs.confirmCancel());
  user_.join();
  EXPECT_EQ(L"繼續", cont);
  EXPECT_EQ(L"取消", cancel);
}

TEST_F(Dialogs, DeviceSelectionShowsTheSerialOfTheSelectedLine) {
  const csp::DeviceChoice lines[] = {{"Office token", "UKQ5711000001"}, {"ZV-UK Q57: 1 ", ""}, {"Home", "UKQ5711000003"}};
  std::wstring serialFirst, serialThird, label, items;
  user([&] {
    HWND d = WaitDialog(L"Select Device");
    ASSERT_NE(nullptr, d);
    HWND list = GetDlgItem(d, IDC_DEVICES);
    for (int i = 0; i < int(SendMessageW(list, CB_GETCOUNT, 0, 0)); ++i) {
      wchar_t t[64] = {0};
      SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
      items += std::wstring(t) + L"|";
    }
    serialFirst = ItemText(d, IDC_SERIAL);
    label = ItemText(d, IDC_SERIAL_LABEL);
    SendMessageW(list, CB_SETCURSEL, 2, 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_DEVICES, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    serialThird = ItemText(d, IDC_SERIAL);
    Click(d, IDOK);
  });
  uint32_t chosen = 9;
  ASSERT_TRUE(dialogs.selectDevice(lines, 3, &chosen));
  EXPECT_EQ(2u, chosen);
  EXPECT_EQ(L"Office token|ZV-UK Q57: 1 |Home|", items);
  EXPECT_EQ(L"UKQ5711000001", serialFirst);
  EXPECT_EQ(L"UKQ5711000003", serialThird);
  EXPECT_EQ(L"S/N:", label);
  user_.join();

  user([&] {
    HWND d = WaitDialog(L"Select Device");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(L"Exit", ItemText(d, IDCANCEL));
    Click(d, IDCANCEL);
  });
  EXPECT_FALSE(dialogs.selectDevice(lines, 3, &chosen));
}

TEST_F(Dialogs, WindowsWithoutButtons) {
  struct Case {
    csp::Modeless kind;
    const wchar_t *title, *text;
  } cases[] = {
      {csp::Modeless::KeyGeneration, L"Tip", L"Generating RSA key pair. Please wait..."},
      {csp::Modeless::SetPinOnDevice, L"Set PIN", L"Please set your new PIN on device!"},
      {csp::Modeless::PinOnDevice, L"Input PIN", L"Please input your device PIN on device!"},
      {csp::Modeless::ConfirmOnDevice, L" ", L"Please confirm transaction on device!"},
  };
  for (const Case &c : cases) {
    uintptr_t w = dialogs.openWindow(c.kind);
    ASSERT_NE(0u, w);
    HWND d = FindDialog(c.title);
    ASSERT_NE(nullptr, d) << Utf8(c.title);
    EXPECT_EQ(c.text, ItemText(d, IDC_TEXT));
    EXPECT_EQ(nullptr, GetDlgItem(d, IDOK));
    dialogs.closeWindow(w);
    EXPECT_FALSE(IsWindow(d));
  }
}

TEST_F(Dialogs, ButtonConfirmationRunsOnItsOwnThread) {
  std::atomic<uint32_t> cancel{1};
  uintptr_t w = dialogs.openConfirmation(&cancel);
  ASSERT_NE(0u, w);
  EXPECT_EQ(0u, cancel.load());  // cleared when the window starts
  HWND d = FindDialogWithText(IDC_PRESS_TEXT,
                              L"Please press the button in the tail of the device to confirm the transaction");
  ASSERT_NE(nullptr, d);
  EXPECT_NE(GetCurrentThreadId(), GetWindowThreadProcessId(d, nullptr));
  EXPECT_EQ(L" ", Text(d));
  EXPECT_EQ(L"Transaction is confirmed by button pressing, which can reduce the risk of information hacking",
            ItemText(d, IDC_TEXT));
  EXPECT_EQ(L"Exit", ItemText(d, IDCANCEL));
  // The press text and the button in 14-point bold KaiTi (GB2312).
  for (int id : {IDC_PRESS_TEXT, IDCANCEL}) {
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(d, id), WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    ASSERT_TRUE(GetObjectW(f, sizeof lf, &lf));
    EXPECT_EQ(FW_BOLD, lf.lfWeight);
    EXPECT_EQ(GB2312_CHARSET, lf.lfCharSet);
    EXPECT_STREQ(L"楷体", lf.lfFaceName);
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(-MulDiv(14, GetDeviceCaps(dc, LOGPIXELSY), 72), lf.lfHeight);
    ReleaseDC(nullptr, dc);
  }
  // The picture frame took the animation's size, centred across the dialog.
  HWND pic = GetDlgItem(d, IDC_PICTURE);
  RECT pr, dr;
  GetWindowRect(pic, &pr);
  GetClientRect(d, &dr);
  EXPECT_EQ(240, pr.right - pr.left);
  EXPECT_EQ(100, pr.bottom - pr.top);
  POINT origin{pr.left, pr.top};
  ScreenToClient(d, &origin);
  EXPECT_LE(std::abs(origin.x - (dr.right - 240) / 2), 1);

  // The signing result closes it, from another thread, and its thread ends promptly (the
  // animation stops within 5 seconds).
  const DWORD start = GetTickCount();
  std::thread poller([&] { dialogs.closeConfirmation(w, 0); });
  poller.join();
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_FALSE(IsWindow(d));
  EXPECT_EQ(0u, cancel.load());
}

TEST_F(Dialogs, ButtonConfirmationCancelled) {
  host.language = 2052;
  std::atomic<uint32_t> cancel{0};
  uintptr_t w = dialogs.openConfirmation(&cancel);
  ASSERT_NE(0u, w);
  HWND d = FindDialogWithText(IDC_PRESS_TEXT, L"请按下UKEY尾部蓝色亮灯按键，确认此操作");
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(L"退出", ItemText(d, IDCANCEL));
  EXPECT_EQ(L"索伦银行率先使用安全按键UKEY，为您网上交易保驾护航", ItemText(d, IDC_TEXT));
  Click(d, IDCANCEL);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(d); }));
  EXPECT_EQ(1u, cancel.load());
  dialogs.closeConfirmation(w, 0x8010006Eu);  // the polling thread's turn: nothing left to close
}

}  // namespace
