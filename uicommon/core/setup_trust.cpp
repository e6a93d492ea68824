#include "setup_trust.h"

#include "signer.h"
#include "ui_text.h"

namespace ui {

namespace {

void PutCodePoint(std::wstring *out, uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
    cp -= 0x10000;
    *out += wchar_t(0xD800 + (cp >> 10));
    *out += wchar_t(0xDC00 + (cp & 0x3FF));
  } else {
    *out += wchar_t(cp);
  }
}

// The refusal texts: a frame with the reason and the publisher, and one reason per outcome.
const TextRow kRefusalRows[] = {
    /* 0: frame */
    {{L"The downloaded setup program was not started and has been deleted: its digital signature %s. "
      L"Expected publisher: %s.",
      L"下载的安装程序未被运行，并已删除：它的数字签名%s。应有的发布者：%s。",
      L"下載的安裝程式未被執行，並已刪除：它的數位簽章%s。應有的發行者：%s。"}},
    /* 1: kUnreadable */
    {{L"could not be checked, because the file cannot be read",
      L"无法检查，因为文件无法读取",
      L"無法檢查，因為檔案無法讀取"}},
    /* 2: kUnsigned */
    {{L"is missing", L"不存在", L"不存在"}},
    /* 3: kBadSignature */
    {{L"does not match the file (it was altered or damaged)",
      L"与文件不符（文件已被篡改或损坏）",
      L"與檔案不符（檔案已被竄改或損毀）"}},
    /* 4: kUntrusted */
    {{L"does not lead to a trusted certification authority",
      L"不能追溯到受信任的证书颁发机构",
      L"無法追溯到受信任的憑證授權單位"}},
    /* 5: kWrongSigner */
    {{L"belongs to another publisher (%s)", L"属于其他发布者（%s）", L"屬於其他發行者（%s）"}},
};
const CTextTable kRefusal(kRefusalRows);

bool Equal(const std::wstring &a, const char *utf8) { return a == WidenUtf8(utf8); }

}  // namespace

std::wstring WidenUtf8(const char *text) {
  std::wstring out;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : "");
  while (*p) {
    unsigned char c = *p;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0) {
      out += wchar_t(0xFFFD);
      ++p;
      continue;
    }
    uint32_t cp = more == 0 ? c : c & (0x3F >> more);
    int i = 1;
    for (; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) break;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (i <= more) {  // a truncated sequence
      out += wchar_t(0xFFFD);
      p += i;
      continue;
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    PutCodePoint(&out, cp);
    p += more + 1;
  }
  return out;
}

bool IsOurPublisher(const std::vector<NameAttribute> &subject) {
  struct Wanted {
    const char *oid;
    const char *value;
    int seen;
  } wanted[] = {{"2.5.4.6", UK_SIGNER_COUNTRY, 0},
                {"2.5.4.10", UK_SIGNER_ORGANIZATION, 0},
                {"2.5.4.3", UK_SIGNER_COMMON_NAME, 0}};
  for (const NameAttribute &a : subject) {
    for (Wanted &w : wanted) {
      if (a.oid != w.oid) continue;
      if (!Equal(a.value, w.value)) return false;
      ++w.seen;
    }
  }
  for (const Wanted &w : wanted)
    if (w.seen != 1) return false;
  return true;
}

std::wstring PublisherName() { return WidenUtf8(UK_SIGNER_ORGANIZATION); }

std::wstring SetupRefusedText(const SetupCheck &check, int language) {
  size_t row = 1;
  switch (check.trust) {
    case SetupTrust::kTrusted:
      return L"";
    case SetupTrust::kUnreadable: row = 1; break;
    case SetupTrust::kUnsigned: row = 2; break;
    case SetupTrust::kBadSignature: row = 3; break;
    case SetupTrust::kUntrusted: row = 4; break;
    case SetupTrust::kWrongSigner: row = 5; break;
  }
  std::wstring reason = Format(kRefusal.Get(row, language), check.signer);
  std::wstring text = Format(kRefusal.Get(0, language), reason, PublisherName());
  if (check.code) text += Format(L" (0x%08X)", check.code);
  return text;
}

}  // namespace ui
