#include "news_ui.h"

#include <shellapi.h>

#include <algorithm>

#include "client_text.h"
#include "news_popup.h"
#include "news_settings.h"
#include "news_store.h"
#include "resource.h"
#include "ui_config.h"

namespace client {

namespace {
constexpr UINT kMinute = 60000;
const wchar_t kUnreadTip[] = L"\u60a8\u6709\u672a\u8bfb\u6d88\u606f";  // 您有未读消息
}  // namespace

CNewsUi::CNewsUi(HWND window, HMENU trayMenu, HICON icon, INewsShell &shell)
    : window_(window), trayMenu_(trayMenu), icon_(icon), shell_(shell), center_(ui::BankWebHost(), NewsFolder()) {}

CNewsUi::~CNewsUi() { Stop(); }

HMENU CNewsUi::NewsMenu() const {
  HMENU popup = trayMenu_ ? GetSubMenu(trayMenu_, 0) : nullptr;
  return popup ? GetSubMenu(popup, 5) : nullptr;
}

void CNewsUi::Start() {
  center_.LoadConfig();
  center_.LoadDb();
  if (!center_.Db().Items().empty()) RebuildMenu();
  if (center_.Settings().enabled) Fetch();
  SetRefreshTimer();
  SetTimer(window_, kNewsTimerSave, kMinute, nullptr);
  SetTimer(window_, kNewsTimerLottery, 90000, nullptr);
}

// A refresh interval of 0 would fire without pause; it is taken as one minute.
void CNewsUi::SetRefreshTimer() {
  SetTimer(window_, kNewsTimerRefresh, UINT(std::max(1, center_.Settings().refreshMinutes)) * kMinute, nullptr);
}

void CNewsUi::Stop() {
  KillTimer(window_, kNewsTimerRefresh);
  KillTimer(window_, kNewsTimerSave);
  KillTimer(window_, kNewsTimerBlink);
  KillTimer(window_, kNewsTimerLottery);
  center_.WaitFetches(2000);
  center_.SaveDb();
}

void CNewsUi::Fetch() { center_.StartNews(window_); }

void CNewsUi::GetNow() {
  center_.LoadConfig();
  if (center_.Settings().enabled) Fetch();
}

bool CNewsUi::OnTimer(UINT_PTR id) {
  switch (id) {
    case kNewsTimerRefresh:
      GetNow();
      return true;
    case kNewsTimerSave:
      center_.SaveDb();
      return true;
    case kNewsTimerBlink:
      blinkOn_ = !blinkOn_;
      shell_.SetTrayIcon(blinkOn_ ? nullptr : icon_);
      return true;
    case kNewsTimerLottery:
      if (center_.Settings().enabled) center_.StartLottery(window_, shell_.FirstSerial());
      KillTimer(window_, kNewsTimerLottery);
      return true;
    default:
      return false;
  }
}

void CNewsUi::OnFetched(NewsFetch *fetch) {
  if (!center_.Apply(fetch)) return;
  RebuildMenu();
  unread_ = center_.Db().Unread();
  if (!unread_.empty()) StartBlinking();
}

// The submenu holds the database's titles, newest first, or the placeholder when it is empty.
void CNewsUi::RebuildMenu() {
  HMENU menu = NewsMenu();
  if (!menu) return;
  while (GetMenuItemCount(menu) > 0) DeleteMenu(menu, 0, MF_BYPOSITION);
  const std::vector<NewsMenuEntry> entries = center_.Db().MenuEntries();
  for (const NewsMenuEntry &e : entries) AppendMenuW(menu, MF_STRING, e.command, e.title.c_str());
  if (entries.empty()) AppendMenuW(menu, MF_STRING, ID_NEWS_NONE, LangString(216));
}

void CNewsUi::StartBlinking() {
  shell_.SetTrayTip(kUnreadTip);
  blinking_ = true;
  SetTimer(window_, kNewsTimerBlink, 500, nullptr);
}

void CNewsUi::StopBlinking() {
  KillTimer(window_, kNewsTimerBlink);
  blinking_ = blinkOn_ = false;
  shell_.SetTrayIcon(icon_);
  shell_.SetTrayTip(LangString(kRowTitle));
}

void CNewsUi::OnEntry(UINT command) {
  size_t index;
  if (!center_.Db().IndexOfCommand(command, index)) return;
  const std::wstring link = NewsLinkToOpen(center_.Db().Items()[index].link, center_.DefaultLink());
  if (!link.empty()) ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CNewsUi::OnTrayClick() {
  if (unread_.empty()) return;
  StopBlinking();
  NewsPopupData data;
  data.seconds = center_.Settings().popupSeconds;
  data.items = unread_;
  data.serial = shell_.FirstSerial();
  data.defaultLink = center_.DefaultLink();
  data.center = &center_;
  for (const NewsItem &i : unread_) center_.Db().MarkRead(i.title);
  unread_.clear();
  ShowNewsPopup(window_, data);
}

void CNewsUi::OpenSettings() {
  if (settings_) {
    SetForegroundWindow(settings_);
    return;
  }
  RunNewsSettings(window_, center_, settings_);
  // The dialog wrote the file; the window takes its values but keeps its own delivered keys.
  const std::wstring keys = center_.Settings().deliveredKeys;
  center_.LoadConfig();
  center_.Settings().deliveredKeys = keys;
  SetRefreshTimer();  // a new interval counts from now
}

void CNewsUi::Relabel() {
  if (settings_) RelabelNewsSettings(settings_);
}

}  // namespace client
