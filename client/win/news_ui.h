// The news as the main window shows them: the timers, the "Message" submenu, the blinking tray
// icon, the popups and the settings dialog. The main window owns one CNewsUi and forwards its
// timers 1 to 4, the fetched answers, the news commands and the tray's left click to it.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "news_center.h"

namespace client {

// What the news need from the main window.
class INewsShell {
 public:
  virtual ~INewsShell() = default;
  virtual void SetTrayIcon(HICON icon) = 0;  // nullptr: the blank phase of the blinking
  virtual void SetTrayTip(const wchar_t *tip) = 0;
  virtual std::wstring FirstSerial() const = 0;  // the first listed token's, or empty
};

// Timers of the main window that belong to the news.
enum NewsTimer : UINT_PTR {
  kNewsTimerRefresh = 1,  // every refresh interval: read the configuration, fetch
  kNewsTimerSave = 2,     // every minute: save the database
  kNewsTimerBlink = 3,    // every 500 ms while unread items wait
  kNewsTimerLottery = 4,  // once, 90 s after start: the lottery fetch
};

class CNewsUi {
 public:
  CNewsUi(HWND window, HMENU trayMenu, HICON icon, INewsShell &shell);
  ~CNewsUi();

  // At start: configuration, database and submenu, the first fetch and the timers.
  void Start();
  // Handles a news timer; false for another timer.
  bool OnTimer(UINT_PTR id);
  void OnFetched(NewsFetch *fetch);
  void OnEntry(UINT command);  // 32800 + n
  void GetNow();               // "Get Information"
  void OpenSettings();         // "Message Options..."
  // The tray's left click: the popup of the unread items, if there are any.
  void OnTrayClick();
  // At exit: the fetches are given a moment to end and the database is saved.
  void Stop();
  // The language changed: an open settings dialog is relabelled.
  void Relabel();

  CNewsCenter &Center() { return center_; }
  size_t UnreadCount() const { return unread_.size(); }

 private:
  void Fetch();
  void SetRefreshTimer();
  void RebuildMenu();
  void StartBlinking();
  void StopBlinking();
  HMENU NewsMenu() const;

  HWND window_;
  HMENU trayMenu_;
  HICON icon_;
  INewsShell &shell_;
  CNewsCenter center_;
  std::vector<NewsItem> unread_;
  bool blinkOn_ = false, blinking_ = false;
  HWND settings_ = nullptr;
};

}  // namespace client
