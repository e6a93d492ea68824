#include "guide_text.h"

namespace guide {

namespace {

// Every text the guide shows, by id: English, Simplified Chinese, Traditional Chinese.
// Placeholders are filled with ui::Format where a text is used.
const ui::TextRow kGuideText[] = {
    /*  0 */ {{L"Checking Tool for ORV", L"索伦银行一键检测工具", L"索倫銀行一鍵檢測工具"}},
    /*  1 */ {{L"Start checking...", L"开始检测软件安装情况......", L"開始檢測軟體安裝情況......"}},
    /*  2 */ {{L"Start environment checking...", L"开始检测当前计算机环境", L"開始檢測當前電腦環境"}},
    /*  3 */ {{L"Environment checking error", L"检测当前计算机环境失败。", L"檢測當前電腦環境失敗。"}},
    /*  4 */ {{L"Start UKEY client checking", L"开始检测UKEY客户端安装情况", L"開始檢測UKEY用戶端安裝情況"}},
    /*  5 */ {{L"UKEY client error(repairing)", L"UKEY客户端工具没有正确安装(正在修复)。", L"UKEY用戶端工具沒有正確安裝(正在修復)。"}},
    /*  6 */ {{L"Start repair", L"开始修复UKEY客户端工具", L"開始修復UKEY用戶端工具"}},
    /*  7 */ {{L"UKEY client install is successful", L"UKEY客户端工具安装成功。", L"UKEY用戶端工具安裝成功。"}},
    /*  8 */ {{L"UKEY client download error", L"UKEY客户端工具下载失败,请重新检测网络设置。", L"UKEY用戶端工具下載失敗,請重新檢測網路設置。"}},
    /*  9 */ {{L"UKEY client install error", L"UKEY客户端工具安装失败,请重新进行操作。", L"UKEY用戶端工具安裝失敗,請重新進行操作。"}},
    /* 10 */ {{L"Environment checking is successful", L"当前环境检测正常", L"當前環境檢測正常"}},
    /* 11 */ {{L"UKEY client install error,please reinstall", L"客户端程序没有正确安装，请重新安装", L"用戶端程式沒有正確安裝，請重新安裝"}},
    /* 12 */ {{L"Please confirm that UKEY was attached.", L"未检测到UKEY，请检查UKEY是否插好。", L"未檢測到UKEY，請檢查UKEY是否插好。"}},
    /* 13 */ {{L"Default password is modified.", L"UKEY初始密码已经被修改。", L"UKEY初始密碼已經被修改。"}},
    /* 14 */ {{L"Please modify PIN first.", L"默认UKEY密码没有被修改，为了您的网银安全，请输入新UKEY密码。", L"預設UKEY密碼沒有被修改，為了您的網銀安全，請輸入新UKEY密碼。"}},
    /* 15 */ {{L"Certificate checking error,code: 0x%08x", L"检测证书失败，错误码: 0x%08x", L"檢測證書失敗，錯誤碼: 0x%08x"}},
    /* 16 */ {{L"No certificate found in UKEY,please download in IE browser", L"UKEY中没有证书，请在弹出的IE窗口中按照提示下载您的客户端证书", L"UKEY中沒有證書，請在彈出的IE窗口中按照提示下載您的用戶端證書"}},
    /* 17 */ {{L"Certificate download error,please try it again", L"证书下载失败,请重新下载证书", L"證書下載失敗,請重新下載證書"}},
    /* 18 */ {{L"Certificate download OK", L"证书已经下载到UKEY中.......", L"證書已經下載到UKEY中......."}},
    /* 19 */ {{L"Certificate contents reading error", L"读取的证书内容错误.......", L"讀取的證書內容錯誤......."}},
    /* 20 */ {{L"Certificate information:\nIssued to: %s \nIssued by: %s\nValid: %s - %s", L"证书信息如下：\n颁发给：%s \n颁发者：%s\n有效期：%s - %s", L"證書資訊如下：\n頒發給：%s \n頒發者：%s\n有效期：%s - %s"}},
    /* 21 */ {{L"Checking complete,click \"Exit\" to exit", L"一键检测已完成，请点击“完成”按钮退出程序。", L"一鍵檢測已完成，請點擊“完成”按鈕退出程式。"}},
    /* 22 */ {{L"The current user is administrator", L"当前用户是administrator级别用户。", L"當前用戶是administrator級別用戶。"}},
    /* 23 */ {{L"The current user is not administrator", L"当前用户非administrator级别用户（请更换身份重新登录）。", L"當前用戶非administrator級別用戶（請更換身份重新登錄）。"}},
    /* 24 */ {{L"The operating system does not support online banking", L"当前操作系统不支持网银，请更换操作系统", L"當前作業系統不支援網銀，請更換作業系統"}},
    /* 25 */ {{L"Connection is available", L"当前网络连接正常。", L"當前網路連接正常。"}},
    /* 26 */ {{L"Connection error,code:0x%08x", L"获取文件大小失败，RET is  0x%08x", L"獲取檔大小失敗，RET is  0x%08x"}},
    /* 27 */ {{L"Connection error,code:0x%08x", L"建立连接失败，RET is  0x%08x", L"建立連接失敗，RET is  0x%08x"}},
    /* 28 */ {{L"Add to Trusted Sites", L"未将索伦银行网银地址添加到可信站点(正在修复)。", L"未將索倫銀行網銀地址添加到可信網站(正在修復)。"}},
    /* 29 */ {{L"Trusted Sites is added successfully", L"已经将索伦银行网银地址添加到可信站点。", L"已經將索倫銀行網銀地址添加到可信網站。"}},
    /* 30 */ {{L"ActiveX control error", L"Active控件设置异常(正在修复)。", L"Active控制項設置異常(正在修復)。"}},
    /* 31 */ {{L"ActiveX control OK", L"Active控件设置正常。", L"Active控制項設置正常。"}},
    /* 32 */ {{L"Client downloading", L"正在下载UKEY客户端工具...", L"正在下載UKEY用戶端工具..."}},
    /* 33 */ {{L"Client download OK", L"UKEY客户端工具下载完成......", L"UKEY用戶端工具下載完成......"}},
    /* 34 */ {{L"Installing Client...", L"开始安装UKEY客户端工具......", L"開始安裝UKEY用戶端工具......"}},
    /* 35 */ {{L"Operating system:", L"操作系统：", L"作業系統："}},
    /* 36 */ {{L"Get IE version error", L"获取当前IE版本失败。", L"獲取當前IE版本失敗。"}},
    /* 37 */ {{L"IE version: %s", L"IE版本: %s", L"IE版本: %s"}},
    /* 38 */ {{L"Please update IE browser", L"(请更换IE版本)", L"(請更換IE版本)"}},
    /* 39 */ {{L"Show Details>>", L"显示详细信息>>", L"顯示詳細資訊>>"}},
    /* 40 */ {{L"Hide Details<<", L"隐藏详细信息<<", L"隱藏詳細資訊<<"}},
    /* 41 */ {{L"Operating system information", L"索伦银行UKEY检测信息", L"索倫銀行UKEY檢測資訊"}},
    /* 42 */ {{L"OK", L"确定", L"確定"}},
    /* 43 */ {{L"Old PIN:", L"初始UKEY密码：", L"初始UKEY密碼："}},
    /* 44 */ {{L"New PIN:", L"新UKEY密码：", L"新UKEY密碼："}},
    /* 45 */ {{L"Confirm PIN:", L"确认新UKEY密码：", L"確認新UKEY密碼："}},
    /* 46 */ {{L"PIN length of 6-10 and should have case-sensitive letters and numbers.", L"新UKEY密码必须由6-10个数字或字母组成，字母区分大小写", L"新UKEY密碼必須由6-10個數位或字母組成，字母區分大小寫。"}},
    /* 47 */ {{L"OK", L"确定", L"確定"}},
    /* 48 */ {{L"New PINs do not match!", L"两次输入新密码不一致，请重新输入！", L"兩次密码輸入不同, 請重新輸入！"}},
    /* 49 */ {{L"Invalid user PIN length,should be within 6 and 10", L"UKEY密码的长度错误，请输入6-10个字符。", L"UKEY密碼的長度錯誤，請輸入6-10個。"}},
    /* 50 */ {{L"Invalid user PIN,should be letters and numbers", L"UKEY密码中含有非法字符，请输入数字或字母。", L"UKEY密碼中含有非法字元，請輸入數位或字母。"}},
    /* 51 */ {{L"New PINs can't be same with old PIN for the first time!", L"新的UKEY密码与旧UKEY密码相同，请重新设置UKEY密码", L"新的UKEY密碼與舊UKEY密碼相同，請重新設置UKEY密碼"}},
    /* 52 */ {{L"Wrong old PIN!", L"初始UKEY密码错误", L"初始UKEY密碼錯誤"}},
    /* 53 */ {{L"Modify PIN fail,Please check UKEY connecting", L"修改默认UKEY密码失败，请检查设备是否正确插入", L"修改預設UKEY密碼失敗，請檢查設備是否正確插入"}},
    /* 54 */ {{L"PIN Modified", L"默认PIN已经被成功修改。", L"默認PIN已經被成功修改。"}},
    /* 55 */ {{L"Downloading : %8dk/%dk", L"已经下载： %8dk/%dk", L"已經下載：%8dk/%dk"}},
    /* 56 */ {{L"Directory error", L"创建菜单目录失败......", L"創建功能表目錄失敗......"}},
    /* 57 */ {{L"Certificate download", L"下载证书", L"下載證書"}},
};
static_assert(sizeof kGuideText / sizeof kGuideText[0] == kGuideTextCount, "58 texts");

const ui::CTextTable kTable(kGuideText);
int g_language = ui::kEnglish;

}  // namespace

const ui::CTextTable &GuideTextTable() { return kTable; }

void SetLanguageIndex(int language) {
  g_language = (language >= 0 && language < ui::kLanguageCount) ? language : int(ui::kEnglish);
}

int LanguageIndex() { return g_language; }

const wchar_t *GetGuideText(int id) { return kTable.Get(size_t(id), g_language); }

int LanguageFromCandidates(const std::vector<uint32_t> &candidates) {
  for (uint32_t id : candidates) {
    int language = ui::MapLanguageId(id);
    if (language >= 0) return language;
  }
  return ui::kEnglish;
}

}  // namespace guide
