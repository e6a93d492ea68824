#include "news_settings.h"

#include <string>

#include "client_text.h"
#include "news_center.h"
#include "news_store.h"
#include "resource.h"
#include "ui_window.h"

namespace client {

namespace {

// Control and the text row it shows.
struct Label {
  int id;
  size_t row;
};
const Label kLabels[] = {{IDC_NEWSSET_GROUP, 217}, {IDC_NEWSSET_ENABLE, 218}, {IDC_NEWSSET_REFRESH_LABEL, 219},
                         {IDC_NEWSSET_REFRESH_UNIT, 226}, {IDC_NEWSSET_TIME_LABEL, 220}, {IDC_NEWSSET_TIME_UNIT, 225},
                         {IDC_NEWSSET_PROXY_GROUP, 221}, {IDC_NEWSSET_PROXY_NOTE, 222},
                         {IDC_NEWSSET_PROXY_ADDRESS_LABEL, 223}, {IDC_NEWSSET_PROXY_PORT_LABEL, 224},
                         {IDC_NEWSSET_SAVE, 227}, {IDC_NEWSSET_CLOSE, 155}};

class CNewsPopSet : public ui::CDialogImpl<CNewsPopSet> {
 public:
  explicit CNewsPopSet(CNewsCenter &center) : CDialogImpl(IDD_NEWSSET), center_(center) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CNewsPopSet::OnInitDialog),
        Map::Command(IDC_NEWSSET_SAVE, &CNewsPopSet::OnSave),
        Map::Command(IDC_NEWSSET_CLOSE, &CNewsPopSet::OnCancel),
        Map::Command(IDCANCEL, &CNewsPopSet::OnCancel),
    };
    return map;
  }
  HWND *open = nullptr;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    if (open) *open = m_hWnd;
    RelabelNewsSettings(m_hWnd);
    for (int id : {IDC_NEWSSET_REFRESH, IDC_NEWSSET_TIME}) SendDlgItemMessageW(m_hWnd, id, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageW(m_hWnd, IDC_NEWSSET_PROXY_PORT, EM_LIMITTEXT, 5, 0);
    SendDlgItemMessageW(m_hWnd, IDC_NEWSSET_PROXY_ADDRESS, EM_LIMITTEXT, 255, 0);
    // The file's values, or the defaults when it cannot be read.
    NewsSettings s;
    std::wstring serverIp = center_.ServiceAddress();
    if (!LoadNewsConfig(center_.ConfigPath(), s)) {
      s = NewsSettings{};
      s.enabled = true;
    } else {
      CNewsXml xml;
      std::wstring ip;
      if (xml.LoadFile(center_.ConfigPath()) && xml.Text(L"/NewsConfig/Server/IP", ip)) serverIp = ip;
    }
    remembered_ = s;
    CheckDlgButton(m_hWnd, IDC_NEWSSET_ENABLE, s.enabled ? BST_CHECKED : BST_UNCHECKED);
    SetItemText(IDC_NEWSSET_SERVER, serverIp.c_str());
    SetItemText(IDC_NEWSSET_REFRESH, std::to_wstring(s.refreshMinutes).c_str());
    SetItemText(IDC_NEWSSET_BACK, std::to_wstring(s.backCount).c_str());
    SetItemText(IDC_NEWSSET_TIME, std::to_wstring(s.popupSeconds).c_str());
    SetItemText(IDC_NEWSSET_PROXY_ADDRESS, s.proxyAddress.c_str());
    SetItemText(IDC_NEWSSET_PROXY_PORT, s.proxyPort.c_str());
    ui::CenterWindow(m_hWnd, nullptr);
    return TRUE;
  }

  void OnSave(UINT, UINT, HWND) {
    NewsSettingsForm form{ItemText(IDC_NEWSSET_REFRESH), ItemText(IDC_NEWSSET_TIME), ItemText(IDC_NEWSSET_PROXY_PORT)};
    const NewsFormCheck check = CheckNewsSettingsForm(form, remembered_.refreshMinutes, remembered_.popupSeconds);
    if (check.field != NewsFormField::kNone) {
      const int id = check.field == NewsFormField::kRefresh ? IDC_NEWSSET_REFRESH
                     : check.field == NewsFormField::kPopupTime ? IDC_NEWSSET_TIME
                                                                : IDC_NEWSSET_PROXY_PORT;
      SetFocus(Item(id));
      SendDlgItemMessageW(m_hWnd, id, EM_SETSEL, 0, -1);
      MessageBoxW(m_hWnd, LangString(check.row), LangString(kRowTitle), MB_OK | MB_ICONWARNING);
      return;
    }
    SetItemText(IDC_NEWSSET_REFRESH, form.refresh.c_str());
    SetItemText(IDC_NEWSSET_TIME, form.popupTime.c_str());
    NewsSettings s = remembered_;
    s.enabled = IsDlgButtonChecked(m_hWnd, IDC_NEWSSET_ENABLE) == BST_CHECKED;
    s.refreshMinutes = ParseNewsNumber(form.refresh);
    s.backCount = ParseNewsNumber(ItemText(IDC_NEWSSET_BACK));
    s.popupSeconds = ParseNewsNumber(form.popupTime);
    s.proxyAddress = ItemText(IDC_NEWSSET_PROXY_ADDRESS);
    s.proxyPort = form.port;
    if (!SaveNewsConfig(center_.ConfigPath(), s, ItemText(IDC_NEWSSET_SERVER))) {
      // Nothing written: the user is told instead of being told it worked.
      MessageBoxW(m_hWnd, LangString(kRowUnknownError), LangString(kRowTitle), MB_OK | MB_ICONERROR);
      return;
    }
    MessageBoxW(m_hWnd, LangString(228), LangString(kRowTitle), MB_OK | MB_ICONINFORMATION);
    EndDialog(IDOK);
  }
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }

  CNewsCenter &center_;
  NewsSettings remembered_;
};

}  // namespace

void RelabelNewsSettings(HWND dialog) {
  SetWindowTextW(dialog, LangString(214));
  for (const Label &l : kLabels) SetDlgItemTextW(dialog, l.id, LangString(l.row));
}

void RunNewsSettings(HWND owner, CNewsCenter &center, HWND &open) {
  CNewsPopSet dlg(center);
  dlg.open = &open;
  dlg.DoModal(owner);
  open = nullptr;
}

}  // namespace client
