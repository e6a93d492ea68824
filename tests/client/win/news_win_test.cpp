// The news files through the real MSXML 3.0 DOM, and the news service through WinINet against
// the local news server (tests/client/news/news_server.py, started by the ctest fixture): the
// configuration built, read and written, the database round trip and its replacing save, the
// fetch thread handing its answer to a window, hostile answers, the proxy, pictures and click
// reports.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "news_center.h"
#include "news_model.h"
#include "news_net.h"
#include "news_store.h"

using namespace client;

namespace {

std::wstring Widen(const std::string &s) {
  std::wstring w;
  DecodeUtf8(s, w);
  return w;
}

std::string ReadAll(const std::wstring &path) {
  std::string s;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return s;
  char buf[4096];
  DWORD got;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) s.append(buf, got);
  CloseHandle(f);
  return s;
}

void WriteAll(const std::wstring &path, const std::string &bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD put;
  WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr);
  CloseHandle(f);
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// COM for the test's thread, and a fresh folder for the files.
class NewsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"newstest" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              Widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
    CreateDirectoryW(folder_.c_str(), nullptr);
    config_ = folder_ + L"\\NewsConfig.xml";
    db_ = folder_ + L"\\NewsDB.bns";
  }
  void TearDown() override {
    for (const std::wstring &f : {config_, db_, config_ + L".new", db_ + L".new"}) DeleteFileW(f.c_str());
    RemoveDirectoryW((db_ + L".new").c_str());
    RemoveDirectoryW(folder_.c_str());
    CoUninitialize();
  }
  std::wstring folder_, config_, db_;
};

std::wstring ServerHost() {
  const char *file = getenv("UK_NEWS_PORT_FILE");
  if (!file) return L"";
  std::ifstream in(file);
  std::string port;
  in >> port;
  return port.empty() ? L"" : L"127.0.0.1:" + Widen(port);
}

// Answers of a scenario of the news server.
std::wstring ScenarioUrl(const std::wstring &scenario, const std::wstring &command, const std::wstring &parameter = L"0") {
  return NewsQueryUrl(L"http://" + ServerHost() + L"/s/" + scenario + L"/newsquery/queryService.action", command,
                      parameter);
}

std::string ServerLog() { return QueryNewsService(L"http://" + ServerHost() + L"/ctl/log", NewsProxy{}); }

}  // namespace

// ---- files -------------------------------------------------------------------------------

TEST_F(NewsFiles, MissingConfigurationIsBuiltWithTheDefaultsAndReadBack) {
  NewsSettings s;
  // The file is made empty (no copy beside the test program): it does not load, nothing changes.
  EXPECT_FALSE(LoadNewsConfig(config_, s));
  EXPECT_TRUE(Exists(config_));
  s.deliveredKeys = L",k1,";
  ASSERT_TRUE(SaveNewsIds(config_, s, L"http://bank.example/newsquery/queryService.action"));
  const std::string text = ReadAll(config_);
  EXPECT_NE(text.find("<?xml version=\"1.0\""), std::string::npos) << text;
  EXPECT_NE(text.find("<Refresh>10</Refresh>"), std::string::npos) << text;
  EXPECT_NE(text.find("<IP>http://bank.example/newsquery/queryService.action</IP>"), std::string::npos);
  NewsSettings back;
  back.enabled = false;
  back.backCount = 3;
  ASSERT_TRUE(LoadNewsConfig(config_, back));
  EXPECT_TRUE(back.enabled);
  EXPECT_EQ(back.backCount, 10);
  EXPECT_EQ(back.refreshMinutes, 10);
  EXPECT_EQ(back.popupSeconds, 10);
  EXPECT_EQ(back.deliveredKeys, L",k1,");
  // Later keys go into the loaded file.
  back.deliveredKeys = L",k1,k2,";
  ASSERT_TRUE(SaveNewsIds(config_, back, L""));
  NewsSettings again;
  ASSERT_TRUE(LoadNewsConfig(config_, again));
  EXPECT_EQ(again.deliveredKeys, L",k1,k2,");
}

TEST_F(NewsFiles, FirstMissingElementEndsTheReadingAndTheDialogWritesEverything) {
  WriteAll(config_, "<?xml version=\"1.0\" encoding=\"utf-8\"?><NewsConfig><Server><Enable>false</Enable></Server>"
                    "<News><Refresh>30</Refresh><Time>20</Time></News><IDS>,x,</IDS></NewsConfig>");
  NewsSettings s;
  ASSERT_TRUE(LoadNewsConfig(config_, s));
  EXPECT_FALSE(s.enabled);
  EXPECT_EQ(s.refreshMinutes, 30);
  EXPECT_EQ(s.popupSeconds, 10);  // after the missing "Back"
  EXPECT_EQ(s.deliveredKeys, L",");
  // The settings dialog's save: the file lacks elements, so it is written anew from the values.
  s.popupSeconds = 20;
  s.proxyPort = L"3128";
  ASSERT_TRUE(SaveNewsConfig(config_, s, L"srv"));
  NewsSettings t;
  ASSERT_TRUE(LoadNewsConfig(config_, t));
  EXPECT_FALSE(t.enabled);
  EXPECT_EQ(t.popupSeconds, 20);
  EXPECT_EQ(t.proxyPort, L"3128");
  CNewsXml xml;
  ASSERT_TRUE(xml.LoadFile(config_));
  std::wstring ip;
  ASSERT_TRUE(xml.Text(L"/NewsConfig/Server/IP", ip));
  EXPECT_EQ(ip, L"srv");
  // And into a complete file element by element.
  t.refreshMinutes = 120;
  ASSERT_TRUE(SaveNewsConfig(config_, t, L"srv2"));
  NewsSettings u;
  ASSERT_TRUE(LoadNewsConfig(config_, u));
  EXPECT_EQ(u.refreshMinutes, 120);
}

TEST_F(NewsFiles, DatabaseRoundTripKeepsOrderAndEveryCharacter) {
  CNewsDatabase db;
  std::vector<NewsItem> items = {
      {L"新网银上线", L"http://bank.example/a?x=1&y=2", L"promo|1", L"2026-12-08", L"1", L"", L"个人网银"},
      {L"<b>bold</b> & \"quoted\" 'x'", L"", L"", L"", L"0", L"http://bank.example/p.gif", std::wstring(2048, L'z')},
      {L"😀 emoji", L"https://bank.example/", L"k", L"d", L"1", L"", L""}};
  db.Assign(items);
  ASSERT_TRUE(SaveNewsDb(db_, db));
  CNewsDatabase back;
  ASSERT_TRUE(LoadNewsDb(db_, back));
  ASSERT_EQ(back.Items().size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.Items()[i].title, items[i].title);
    EXPECT_EQ(back.Items()[i].link, items[i].link);
    EXPECT_EQ(back.Items()[i].state, items[i].state);
    EXPECT_EQ(back.Items()[i].content, items[i].content);
    EXPECT_EQ(back.Items()[i].pic, items[i].pic);
  }
  EXPECT_TRUE(back.HasTitle(L"新网银上线"));
}

TEST_F(NewsFiles, FailedSaveLeavesTheOldFileWhole) {
  CNewsDatabase db;
  db.Assign({{L"old", L"", L"", L"", L"1", L"", L""}});
  ASSERT_TRUE(SaveNewsDb(db_, db));
  const std::string before = ReadAll(db_);
  // The file beside the target cannot be written: the save fails and the old file stays.
  ASSERT_TRUE(CreateDirectoryW((db_ + L".new").c_str(), nullptr));
  db.Assign({{L"new", L"", L"", L"", L"1", L"", L""}});
  EXPECT_FALSE(SaveNewsDb(db_, db));
  EXPECT_EQ(ReadAll(db_), before);
  RemoveDirectoryW((db_ + L".new").c_str());
  ASSERT_TRUE(SaveNewsDb(db_, db));
  EXPECT_FALSE(Exists(db_ + L".new"));
  CNewsDatabase back;
  ASSERT_TRUE(LoadNewsDb(db_, back));
  ASSERT_EQ(back.Items().size(), 1u);
  EXPECT_EQ(back.Items()[0].title, L"new");
}

TEST_F(NewsFiles, DatabaseThatDoesNotLoadGivesAnEmptyOneAndIsNotTouched) {
  WriteAll(db_, "<NewsClient><News><Title>cut");
  CNewsDatabase db;
  db.Assign({{L"x", L"", L"", L"", L"1", L"", L""}});
  EXPECT_FALSE(LoadNewsDb(db_, db));
  EXPECT_TRUE(db.Items().empty());
  EXPECT_EQ(ReadAll(db_), "<NewsClient><News><Title>cut");
}

// ---- the service -------------------------------------------------------------------------

class NewsService : public NewsFiles {
 protected:
  void SetUp() override {
    NewsFiles::SetUp();
    host_ = ServerHost();
    if (host_.empty()) GTEST_SKIP() << "no news server (UK_NEWS_PORT_FILE)";
  }
  std::wstring host_;
};

TEST_F(NewsService, FetchThreadHandsTheAnswerToTheWindowAndTheMergeKeepsTheBackCount) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  CNewsCenter center(host_, folder_);
  center.Settings().backCount = 2;
  auto fetchOnce = [&](bool lottery) -> NewsFetch * {
    EXPECT_TRUE(lottery ? center.StartLottery(window, L"UKQ1") : center.StartNews(window));
    MSG msg;
    const DWORD end = GetTickCount() + 30000;
    while (GetTickCount() < end) {
      if (PeekMessageW(&msg, window, kNewsFetched, kNewsFetched, PM_REMOVE))
        return reinterpret_cast<NewsFetch *>(msg.lParam);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    }
    return nullptr;
  };
  NewsFetch *fetch = fetchOnce(false);
  ASSERT_TRUE(fetch);
  ASSERT_EQ(fetch->items.size(), 3u);
  EXPECT_EQ(fetch->items[1].title, L"新网银上线");
  EXPECT_TRUE(center.Apply(fetch));
  ASSERT_EQ(center.Db().Items().size(), 2u);  // three merged, trimmed to two
  EXPECT_EQ(center.Db().Items()[1].title, L"Rates from December");

  // The next query carries the cursor of the answer's first item.
  fetch = fetchOnce(false);
  ASSERT_TRUE(fetch);
  EXPECT_TRUE(center.Apply(fetch));  // the same titles: nothing new, still two
  EXPECT_EQ(center.Db().Items().size(), 2u);
  EXPECT_NE(ServerLog().find("command=NewsAcquire&parameter=103"), std::string::npos);

  // Lottery items: keys delivered once and written into the configuration at once.
  fetch = fetchOnce(true);
  ASSERT_TRUE(fetch);
  center.Apply(fetch);
  EXPECT_EQ(center.Settings().deliveredKeys, L",key-UKQ1-2,key-UKQ1-1,");
  NewsSettings saved;
  ASSERT_TRUE(LoadNewsConfig(center.ConfigPath(), saved));
  EXPECT_EQ(saved.deliveredKeys, L",key-UKQ1-2,key-UKQ1-1,");
  fetch = fetchOnce(true);
  ASSERT_TRUE(fetch);
  const size_t before = center.Db().Items().size();
  center.Apply(fetch);
  EXPECT_EQ(center.Db().Items().size(), before);
  EXPECT_EQ(center.Settings().deliveredKeys, L",key-UKQ1-2,key-UKQ1-1,");
  // No token, no lottery query.
  EXPECT_FALSE(center.StartLottery(window, L""));
  DestroyWindow(window);
}

TEST_F(NewsService, HostileAndBrokenAnswersGiveNothingOrBoundedItems) {
  std::vector<NewsAnswerItem> items;
  for (const wchar_t *s : {L"error", L"malformed", L"doctype", L"huge", L"empty", L"nosuch"})
    EXPECT_FALSE(CNewsCenter::Fetch(ScenarioUrl(s, L"NewsAcquire"), NewsProxy{}, items)) << s;
  ASSERT_TRUE(CNewsCenter::Fetch(ScenarioUrl(L"many", L"NewsAcquire"), NewsProxy{}, items));
  EXPECT_EQ(items.size(), kNewsMaxItems);
  ASSERT_TRUE(CNewsCenter::Fetch(ScenarioUrl(L"hostile", L"NewsAcquire"), NewsProxy{}, items));
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].title, L"<b>bold</b> &amp; <script>x</script>");
  for (size_t i = 0; i < 3; ++i)  // file:, javascript: and a share path are never opened
    EXPECT_EQ(NewsLinkToOpen(items[i].link, L"http://bank.example"), L"") << i;
  EXPECT_EQ(items[4].title.size(), kNewsMaxTextLength);
  // Multi-byte text across the pieces the body arrives in.
  ASSERT_TRUE(CNewsCenter::Fetch(ScenarioUrl(L"split", L"NewsAcquire"), NewsProxy{}, items));
  ASSERT_EQ(items.size(), 1u);
  std::wstring expected;
  for (int i = 0; i < 700; ++i) expected += L"银行";
  EXPECT_EQ(items[0].content, NewsCut(expected + L"end", kNewsMaxTextLength));
  EXPECT_EQ(items[0].title, L"中文中文中文");
}

TEST_F(NewsService, NamedProxyCarriesTheQuery) {
  // The host exists only for the proxy (the news server answers absolute request paths).
  const size_t colon = host_.find(L':');
  NewsProxy proxy{host_.substr(0, colon), host_.substr(colon + 1)};
  std::vector<NewsAnswerItem> items;
  ASSERT_TRUE(CNewsCenter::Fetch(
      NewsQueryUrl(L"http://news.invalid/newsquery/queryService.action", L"NewsAcquire", L"0"), proxy, items));
  EXPECT_EQ(items.size(), 3u);
  const std::string log = ServerLog();
  EXPECT_NE(log.find("http://news.invalid"), std::string::npos)
      << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

TEST_F(NewsService, OnlyPicturesReachTheCacheAndOnlyUnderItsFolder) {
  std::wstring path;
  const std::wstring base = L"http://" + host_ + L"/pic/";
  ASSERT_TRUE(DownloadNewsPicture(base + L"ok.gif", NewsProxy{}, path));
  EXPECT_NE(path.find(L"\\ORV\\ok.gif"), std::wstring::npos) << std::string(path.begin(), path.end());
  EXPECT_EQ(ReadAll(path).substr(0, 6), "GIF89a");
  DeleteFileW(path.c_str());
  for (const wchar_t *bad : {L"small.gif", L"notimage.gif", L"big.gif", L"missing.gif"}) {
    EXPECT_FALSE(DownloadNewsPicture(base + bad, NewsProxy{}, path)) << bad;
    EXPECT_FALSE(Exists(path)) << bad;
    EXPECT_FALSE(Exists(path + L".part")) << bad;
  }
  const std::wstring traversal = NewsPicturePath(L"http://h/x/..\\..\\evil.exe");
  ASSERT_GT(traversal.size(), 17u);
  EXPECT_EQ(traversal.substr(traversal.size() - 17), L"\\ORV\\_.._evil.exe");
  EXPECT_FALSE(DownloadNewsPicture(L"file:///c:/windows/win.ini", NewsProxy{}, path));
}

TEST_F(NewsService, ClickReportsOnlyForClassNamesWithABar) {
  CNewsCenter center(host_, folder_);
  center.ReportClick(L"UKQ5712000001", L"nobar");
  center.ReportClick(L"UKQ5712000001", L"promo|7");
  std::string log;
  const DWORD end = GetTickCount() + 20000;
  while (GetTickCount() < end) {
    log = ServerLog();
    if (log.find("command=NewsAnalyse&parameter=UKQ5712000001,promo") != std::string::npos) break;
    Sleep(50);
  }
  EXPECT_NE(log.find("command=NewsAnalyse&parameter=UKQ5712000001,promo"), std::string::npos) << log;
  EXPECT_EQ(log.find("nobar"), std::string::npos);
  EXPECT_NE(log.find("Open by wyv"), std::string::npos);  // the session's agent name
}
