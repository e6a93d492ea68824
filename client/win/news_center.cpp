#include "news_center.h"

#include <process.h>

#include "news_store.h"

namespace client {

struct CNewsCenter::Job {
  std::shared_ptr<std::atomic<bool>> running;
  HWND window;
  NewsKind kind;
  std::wstring url;
  NewsProxy proxy;
};

CNewsCenter::CNewsCenter(const std::wstring &webHost, const std::wstring &folder)
    : serviceAddress_(NewsServiceAddress(webHost)),
      defaultLink_(NewsDefaultLink(webHost)),
      configPath_(folder + L"\\NewsConfig.xml"),
      dbPath_(folder + L"\\NewsDB.bns") {}

CNewsCenter::~CNewsCenter() {
  WaitFetches(5000);
  for (HANDLE &t : threads_)
    if (t) CloseHandle(t), t = nullptr;
}

void CNewsCenter::LoadConfig() { LoadNewsConfig(configPath_, settings_); }

bool CNewsCenter::LoadDb() { return LoadNewsDb(dbPath_, db_); }

bool CNewsCenter::SaveDb() const { return SaveNewsDb(dbPath_, db_); }

bool CNewsCenter::Fetch(const std::wstring &url, const NewsProxy &proxy, std::vector<NewsAnswerItem> &items) {
  items.clear();
  const std::string answer = QueryNewsService(url, proxy);
  return !answer.empty() && ParseNewsAnswer(answer, items);
}

bool CNewsCenter::StartNews(HWND window) {
  return StartFetch(window, NewsKind::kNews, L"NewsAcquire", cursor_);
}

bool CNewsCenter::StartLottery(HWND window, const std::wstring &serial) {
  if (serial.empty()) return false;
  return StartFetch(window, NewsKind::kLottery, L"LotteryAcquire", serial);
}

bool CNewsCenter::StartFetch(HWND window, NewsKind kind, const std::wstring &command,
                             const std::wstring &parameter) {
  const int k = kind == NewsKind::kNews ? 0 : 1;
  if (running_[k]->exchange(true)) return false;
  if (threads_[k]) CloseHandle(threads_[k]), threads_[k] = nullptr;
  Job *job = new Job{running_[k], window, kind, NewsQueryUrl(serviceAddress_, command, parameter), Proxy()};
  threads_[k] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FetchThread, job, 0, nullptr));
  if (!threads_[k]) {
    delete job;
    *running_[k] = false;
    return false;
  }
  return true;
}

unsigned __stdcall CNewsCenter::FetchThread(void *p) {
  Job *job = static_cast<Job *>(p);
  NewsFetch *fetch = new NewsFetch{job->kind, {}};
  const bool answered = Fetch(job->url, job->proxy, fetch->items) && !fetch->items.empty();
  // The next fetch may start from here on: answers are merged one after the other by the window.
  *job->running = false;
  // No answer, an answer that is not well formed, or no items: nothing is handed over.
  if (!answered || !PostMessageW(job->window, kNewsFetched, 0, reinterpret_cast<LPARAM>(fetch))) delete fetch;
  delete job;
  return 0;
}

void CNewsCenter::WaitFetches(DWORD timeoutMs) {
  HANDLE running[2];
  DWORD n = 0;
  for (HANDLE t : threads_)
    if (t) running[n++] = t;
  if (n) WaitForMultipleObjects(n, running, TRUE, timeoutMs);
}

namespace {
struct ReportJob {
  std::wstring url;
  NewsProxy proxy;
};
unsigned __stdcall ReportThread(void *p) {
  ReportJob *job = static_cast<ReportJob *>(p);
  QueryNewsService(job->url, job->proxy);  // the answer is not looked at
  delete job;
  return 0;
}
}  // namespace

void CNewsCenter::ReportClick(const std::wstring &serial, const std::wstring &className) const {
  const std::wstring parameter = NewsClickParameter(serial, className);
  if (parameter.empty()) return;
  ReportJob *job = new ReportJob{NewsQueryUrl(serviceAddress_, L"NewsAnalyse", parameter), Proxy()};
  HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReportThread, job, 0, nullptr));
  if (t) CloseHandle(t);
  else delete job;
}

bool CNewsCenter::Apply(NewsFetch *fetch) {
  if (!fetch) return false;
  if (fetch->kind == NewsKind::kNews) {
    db_.MergeNews(fetch->items, cursor_);
  } else {
    const std::wstring before = settings_.deliveredKeys;
    db_.MergeLottery(fetch->items, settings_.deliveredKeys);
    // New keys are written at once, before the items are shown.
    if (settings_.deliveredKeys != before) SaveNewsIds(configPath_, settings_, serviceAddress_);
  }
  delete fetch;
  if (db_.Items().empty()) return false;
  db_.Trim(settings_.backCount);
  return true;
}

}  // namespace client
