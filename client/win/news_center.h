// The news state of the client manager and its fetches: the settings, the database, the acquire
// cursor, and the two fetch threads ("NewsAcquire" and "LotteryAcquire") plus the click reports.
//
// A fetch thread only asks the service and reads the answer; it hands the items to the window
// (a posted message) and the merge, trimming and saving run on the user-interface thread, so the
// database is never touched by two threads. One fetch of each kind runs at a time: a timer tick
// that finds its fetch still running starts none.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "news_model.h"
#include "news_net.h"

namespace client {

// Posted to the window by a fetch thread; lParam is a NewsFetch* that the window hands to
// CNewsCenter::Apply, which frees it.
constexpr UINT kNewsFetched = WM_APP + 11;

enum class NewsKind { kNews, kLottery };

struct NewsFetch {
  NewsKind kind;
  std::vector<NewsAnswerItem> items;
};

class CNewsCenter {
 public:
  // webHost: the bank's web server ("host[:port]"); the files live under folder.
  CNewsCenter(const std::wstring &webHost, const std::wstring &folder);
  ~CNewsCenter();

  // Reads the configuration (creating it when missing); the settings keep their values when it
  // cannot be read.
  void LoadConfig();
  // Loads the database; false when it cannot be loaded (the database is then empty).
  bool LoadDb();
  bool SaveDb() const;

  // Starts a fetch thread whose answer is posted to window; false when one of that kind is still
  // running or the thread cannot start.
  bool StartNews(HWND window);
  bool StartLottery(HWND window, const std::wstring &serial);
  // Sends "NewsAnalyse" for a click in a thread of its own (nothing without a "|" class name).
  void ReportClick(const std::wstring &serial, const std::wstring &className) const;
  // Waits for the running fetch threads (at exit), at most timeoutMs in all.
  void WaitFetches(DWORD timeoutMs);

  // Merges a posted answer (and frees it). True when the database was rebuilt: trimmed to the
  // back count, so that the submenu and the unread records are to be built again.
  bool Apply(NewsFetch *fetch);

  NewsSettings &Settings() { return settings_; }
  CNewsDatabase &Db() { return db_; }
  const std::wstring &ServiceAddress() const { return serviceAddress_; }
  const std::wstring &DefaultLink() const { return defaultLink_; }
  const std::wstring &ConfigPath() const { return configPath_; }
  NewsProxy Proxy() const { return NewsProxy{settings_.proxyAddress, settings_.proxyPort}; }
  // The query answer of one command, as items; false for no answer or one that is not a
  // well-formed "NewsAcquire" document.
  static bool Fetch(const std::wstring &url, const NewsProxy &proxy, std::vector<NewsAnswerItem> &items);

 private:
  struct Job;
  bool StartFetch(HWND window, NewsKind kind, const std::wstring &command, const std::wstring &parameter);
  static unsigned __stdcall FetchThread(void *job);

  NewsSettings settings_;
  CNewsDatabase db_;
  std::wstring serviceAddress_, defaultLink_, configPath_, dbPath_;
  std::wstring cursor_ = L"0";
  // Shared with the threads, which may outlive a center that gave up waiting for them at exit.
  std::shared_ptr<std::atomic<bool>> running_[2] = {std::make_shared<std::atomic<bool>>(false),
                                                    std::make_shared<std::atomic<bool>>(false)};
  HANDLE threads_[2] = {nullptr, nullptr};
};

}  // namespace client
