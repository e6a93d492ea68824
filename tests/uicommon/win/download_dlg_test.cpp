// CDownLoadDlg as a user meets it, under Wine with a display, against our HTTP test server: the
// dialog runs on a thread of its own (as the programs run it on a worker thread) while this
// thread finds it by its caption, reads its progress text and bar, and clicks. A 3 MB download
// steps its text up to "3072k/3072k"; the client manager's dialog ignores OK, Cancel and the
// close box while it downloads; the guide's stops at once and leaves no file; failures end it
// with 2.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <mutex>
#include <thread>

#include "download_dlg.h"
#include "http_test_support.h"

namespace {

using namespace httptest;

constexpr wchar_t kFormat[] = L"Downloading : %8dk/%dk";

// The guide's behaviour with the controls of this test's template (the client manager's ids).
ui::DownloadDialogProfile GuideLike() {
  ui::DownloadDialogProfile p = ui::kGuideDownload;
  p.textId = ui::kClientDownload.textId;
  p.progressId = ui::kClientDownload.progressId;
  return p;
}

std::wstring Text(HWND w) {
  wchar_t buf[512] = {0};
  SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buf;
}

// "Downloading :      12k/3072k" -> 12 and 3072; false for other texts.
bool ParseProgress(const std::wstring &t, unsigned *done, unsigned *total) {
  return swscanf(t.c_str(), L"Downloading : %uk/%uk", done, total) == 2;
}

// Every text the dialog puts into its progress text control, seen from inside the control
// (a subclass): nothing is missed, however fast the dialog ends.
std::mutex g_spyLock;
std::vector<std::wstring> g_texts;
WNDPROC g_original = nullptr;

LRESULT CALLBACK SpyProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SETTEXT && lp) {
    std::lock_guard<std::mutex> lock(g_spyLock);
    g_texts.push_back(reinterpret_cast<const wchar_t *>(lp));
  }
  return CallWindowProcW(g_original, w, msg, wp, lp);
}

void Spy(HWND control) {
  std::lock_guard<std::mutex> lock(g_spyLock);
  g_texts.clear();
  g_original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyProc)));
}

std::vector<std::wstring> SpiedTexts() {
  std::lock_guard<std::mutex> lock(g_spyLock);
  return g_texts;
}

std::wstring Progress(unsigned done, unsigned total) {
  std::wstring d = std::to_wstring(done);
  return L"Downloading : " + std::wstring(d.size() < 8 ? 8 - d.size() : 0, L' ') + d + L"k/" +
         std::to_wstring(total) + L"k";
}

class DownloadDialog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Load()) << "the HTTP test server is not running (fixture http_server)";
    folder = FreshFolder(L"uk-download-dlg-test");
    target = folder + L"\\setup.exe";
  }
  void TearDown() override {
    if (runner.joinable()) runner.join();
    RemoveFolder(folder);
  }
  // Starts the dialog on its own thread; the dialog is found by its caption.
  void Start(const ui::DownloadDialogProfile &profile, const std::wstring &caption, const std::wstring &path,
             const std::wstring &initial = L"获取网络文件大小") {
    dlg = std::make_unique<ui::CDownLoadDlg>(profile, kFormat, initial);
    dlg->SetJob(caption, server.Url(path), target);
    finished = false;
    runner = std::thread([this] {
      result = dlg->Run(nullptr);
      finished = true;
    });
    ASSERT_TRUE(WaitFor([&] { return (wnd = FindWindowW(L"#32770", caption.c_str())) != nullptr || finished; }))
        << "no dialog";
    ASSERT_NE(nullptr, wnd) << "the dialog ended before it was seen";
  }
  HWND TextControl() { return GetDlgItem(wnd, ui::kClientDownload.textId); }
  HWND Bar() { return GetDlgItem(wnd, ui::kClientDownload.progressId); }
  INT_PTR Wait() {
    runner.join();
    return result;
  }

  Server server;
  std::wstring folder, target;
  std::unique_ptr<ui::CDownLoadDlg> dlg;
  std::thread runner;
  volatile bool finished = false;
  INT_PTR result = -1;
  HWND wnd = nullptr;
};

TEST_F(DownloadDialog, ThreeMegabytesStepTheProgressTextToTheEnd) {
  // About 3 s: each KiB of the body a millisecond apart.
  ASSERT_NO_FATAL_FAILURE(Start(ui::kClientDownload, L"Downloading 3 MB", L"/gen/3145728/delay=1/setup.exe"));
  Spy(TextControl());
  EXPECT_EQ(L"Downloading 3 MB", Text(wnd));
  int lastPos = 0;
  bool barFollows = true;
  while (!finished) {
    HWND bar = Bar();
    int pos = int(SendMessageW(bar, PBM_GETPOS, 0, 0));
    int hi = int(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    if (!bar || !IsWindow(bar)) break;  // the dialog ended: what was read is not the bar's
    if (pos < lastPos || pos > 3072 || (pos > 0 && hi != 3072)) barFollows = false;
    lastPos = pos;
    Sleep(15);
  }
  EXPECT_EQ(ui::kDownloaded, Wait());
  EXPECT_EQ(0u, dlg->Result());
  EXPECT_TRUE(barFollows);
  EXPECT_GT(lastPos, 0);
  EXPECT_TRUE(IsPattern(ReadAll(target), 3145728));

  std::vector<std::wstring> texts = SpiedTexts();
  ASSERT_GE(texts.size(), 5u) << "the text did not step";
  EXPECT_EQ(Progress(3072, 3072), texts.back());
  unsigned previous = 0;
  bool first = true;
  for (const auto &t : texts) {
    unsigned d = 0, total = 0;
    ASSERT_TRUE(ParseProgress(t, &d, &total)) << "unexpected text";
    EXPECT_EQ(Progress(d, 3072), t);  // eight places for the count, the total in KiB
    if (!first) {
      EXPECT_LT(previous, d);
    }
    previous = d;
    first = false;
  }
}

TEST_F(DownloadDialog, StartsWithItsInitialTextAndEndsWithTheWholeFile) {
  // The server waits before it answers: the initial text stands until the size is known.
  ASSERT_NO_FATAL_FAILURE(Start(ui::kClientDownload, L"Downloading small", L"/gen/41000/wait=1500/setup.exe"));
  Spy(TextControl());
  EXPECT_EQ(L"获取网络文件大小", Text(TextControl()));
  EXPECT_EQ(ui::kDownloaded, Wait());
  std::vector<std::wstring> texts = SpiedTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(Progress(41, 41), texts.back());
}

TEST_F(DownloadDialog, WithoutALengthTheTotalIsZero) {
  ASSERT_NO_FATAL_FAILURE(Start(ui::kClientDownload, L"Downloading unsized", L"/gen/20000/nolength/wait=800/x.exe"));
  Spy(TextControl());
  EXPECT_EQ(ui::kDownloaded, Wait());
  std::vector<std::wstring> texts = SpiedTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(Progress(20, 0), texts.back());
  EXPECT_TRUE(IsPattern(ReadAll(target), 20000));
}

TEST_F(DownloadDialog, ClientManagerIgnoresOkCancelAndCloseWhileBusy) {
  // About 2 s of body.
  ASSERT_NO_FATAL_FAILURE(Start(ui::kClientDownload, L"Downloading busy", L"/gen/204800/delay=10/setup.exe"));
  ASSERT_TRUE(WaitFor([&] {
    unsigned d = 0, t = 0;
    return ParseProgress(Text(TextControl()), &d, &t) && d > 10;
  }));
  SendMessageW(wnd, WM_COMMAND, IDCANCEL, 0);
  SendMessageW(wnd, WM_COMMAND, IDOK, 0);
  SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(finished);
  EXPECT_TRUE(IsWindow(wnd));
  EXPECT_EQ(ui::kDownloaded, Wait());
  EXPECT_TRUE(IsPattern(ReadAll(target), 204800));
}

TEST_F(DownloadDialog, GuideCancelStopsAtOnceAndRemovesThePartialFile) {
  for (UINT id : {IDCANCEL, IDOK}) {
    // 60 s of body if nobody stopped it.
    ASSERT_NO_FATAL_FAILURE(Start(GuideLike(), L"Downloading guide", L"/gen/3000000/delay=20/orvwy.exe", L""));
    EXPECT_EQ(L"", Text(TextControl()));  // the guide starts with an empty text
    ASSERT_TRUE(WaitFor([&] {
      unsigned d = 0, t = 0;
      return ParseProgress(Text(TextControl()), &d, &t) && d > 5;
    }));
    DWORD t0 = GetTickCount();
    SendMessageW(wnd, WM_COMMAND, id, 0);
    EXPECT_EQ(INT_PTR(id), Wait());
    EXPECT_LT(GetTickCount() - t0, 10000u) << "the worker was not stopped";
    EXPECT_EQ(uint32_t(ERROR_CANCELLED), dlg->Result());
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(Entries(folder).empty()) << "a partial file was left behind";
  }
}

TEST_F(DownloadDialog, FailuresEndTheDialogWithTwo) {
  struct Case {
    const wchar_t *path;
    bool guide;
    uint32_t result;
  } cases[] = {
      {L"/gen/50000/status=404/setup.exe", false, ui::kHttpStatusError + 404},
      {L"/gen/50000/status=500/setup.exe", true, ui::kHttpStatusError + 500},
      {L"/gen/39999/setup.exe", true, ui::kTooSmall},
      {L"/gen/200000/drop=50000/setup.exe", false, 0},  // 0: any error
  };
  for (const Case &c : cases) {
    std::wstring caption = std::wstring(L"Failing ") + c.path;
    dlg = std::make_unique<ui::CDownLoadDlg>(c.guide ? GuideLike() : ui::kClientDownload, kFormat, L"");
    dlg->SetJob(caption, server.Url(c.path), target);
    EXPECT_EQ(ui::kDownloadFailed, dlg->Run(nullptr)) << c.path;
    if (c.result) EXPECT_EQ(c.result, dlg->Result()) << c.path;
    else EXPECT_NE(0u, dlg->Result()) << c.path;
    EXPECT_FALSE(Exists(target)) << c.path;
  }
  EXPECT_TRUE(Entries(folder).empty());
}

}  // namespace
