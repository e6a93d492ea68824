#include "prompt_text.h"

namespace csp {

namespace {

const ui::TextRow kPromptText[] = {
    /* 0 */ {{L"Verify PIN", L"密码验证", L"密碼驗證"}},
    /* 1 */ {{L"Please input your UKEY PIN:", L"请输入您的USBKey密码:", L"請輸入您的USBKey密碼:"}},
    /* 2 */ {{L"Ok", L"确定", L"確定"}},
    /* 3 */ {{L"Cancel", L"取消", L"取消"}},
    /* 4 */ {{L"Select Device", L"选择设备", L"選擇設備"}},
    /* 5 */ {{L"Please select device:", L"请选择设备：", L"請選擇設備："}},
    /* 6 */ {{L"Ok", L"确定", L"確定"}},
    /* 7 */ {{L"Exit", L"退出", L"退出"}},
    /* 8 */ {{L"S/N:", L"序号:", L"序號:"}},
    /* 9 */ {{L"Tip", L"提示", L"提示"}},
    /* 10 */ {{L"Generating RSA key pair. Please wait...", L"正在生成RSA密钥对，请稍候...",
               L"正在產生RSA金鑰對，請稍候..."}},
    /* 11 */ {{L"Tip", L"提示", L"提示"}},
    /* 12 */ {{L"Please insert your DEZoda device!", L"请插入USBKEY设备！", L"請插入USBKEY設備！"}},
    /* 13 */ {{L"Your device has been locked!", L"设备已锁定！", L"設備已鎖定！"}},
    /* 14 */ {{L"Your device space has been full.", L"设备空间已满！", L"設備空間已滿！"}},
    /* 15 */ {{L"PIN verification fail!", L"密码验证错误！", L"密碼驗證錯誤！"}},
    /* 16 */ {{L"PIN verification fail. You have ", L"密码错误！还有", L"密碼錯誤！還有"}},
    /* 17 */ {{L" more chance(s)!", L" 次机会！", L" 次機會！"}},
    /* 18 */ {{L"Retry", L"重试", L"重試"}},
    /* 19 */ {{L"Abort", L"取消", L"取消"}},
    /* 20 */ {{L"Ok", L"确定", L"確定"}},
    /* 21 */ {{L"Transaction is confirmed by button pressing, which can reduce the risk of "
               L"information hacking",
               L"索伦银行率先使用安全按键UKEY，为您网上交易保驾护航",
               L"索倫銀行率先使用安全按鍵UKEY，為您網上交易保駕護航"}},
    /* 22 */ {{L" ", L" ", L" "}},
    /* 23 */ {{L"Input PIN", L"输入密码", L"輸入密碼"}},
    /* 24 */ {{L"Please input your device PIN on device!", L"请在设备上输入密码！",
               L"請在設備上輸入密碼！"}},
    /* 25 */ {{L"Please confirm transaction on device!", L"请在设备上确认交易信息！",
               L"請在設備上確認轉賬訊息！"}},
    /* 26 */ {{L"Do you really want to cancel the transaction?", L"您要取消交易吗！",
               L"您要取消交易嗎！"}},
    /* 27 */ {{L"You must modify default PIN before using it!",
               L"设备使用之前必须修改默认密码！\n是否继续修改密码？",
               L"設備使用之前必須修改預設密碼！\n是否繼續修改密碼？"}},
    /* 28 */ {{L"Set PIN", L"设置密码", L"設定密碼"}},
    /* 29 */ {{L"Please set your new PIN on device!", L"请在设备上根据提示设置设备密码！",
               L"請在設備上根據提示設置設備密碼！"}},
    /* 30 */ {{L"Continue", L"继续", L"繼續"}},
    /* 31 */ {{L"Do you really cancel PIN verification!", L"您要取消密码验证吗？",
               L"您要取消密碼驗證碼？"}},
    /* 32 */ {{L"PIN verification timeout!", L"密码验证超时！", L"密碼驗證超時！"}},
    /* 33 */ {{L"Please press the button in the tail of the device to confirm the transaction",
               L"请按下UKEY尾部蓝色亮灯按键，确认此操作", L"請按下UKEY尾部藍色亮燈按鍵，確認此操作"}},
};
static_assert(sizeof kPromptText / sizeof kPromptText[0] == kPromptRows, "34 prompt texts");

const ui::CTextTable kTable(kPromptText);

}  // namespace

const ui::CTextTable &promptTable() { return kTable; }

const wchar_t *promptText(size_t row, uint32_t languageIndex) {
  return kTable.Get(row, int(languageIndex));
}

TwoButtonTexts twoButtonTexts(int message, uint32_t tries, uint32_t languageIndex) {
  TwoButtonTexts t;
  const size_t row = message >= 0 ? size_t(message) : kPromptRows;
  switch (message) {
    case 16:
      t.text = std::wstring(promptText(kTextWrongPinHead, languageIndex)) +
               ui::Format(L"%2d", unsigned(tries & 0x0F)) + promptText(kTextWrongPinTail, languageIndex);
      t.first = kTextRetry;
      t.second = kTextAbort;
      break;
    case 27:
      t.text = promptText(row, languageIndex);
      t.first = kTextContinue;
      t.second = kTextAbort;
      break;
    case 31:
      t.text = promptText(row, languageIndex);
      t.first = kTextContinue;
      t.second = kTextExit;
      break;
    default:
      t.text = promptText(row, languageIndex);
      t.first = kTextRetry;
      t.second = kTextAbort;
      break;
  }
  return t;
}

}  // namespace csp
