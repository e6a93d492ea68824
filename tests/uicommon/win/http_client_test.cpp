// HttpFileClient through the real WinINet against our HTTP test server on 127.0.0.1: the
// settings of the guide and of the client manager (size limits at 1000/1001 and 39999/40000
// bytes, a missing Content-Length), answers other than 200 never written, a connection dropped
// in the middle of the body, a cancelled transfer, an unreachable server, and that no partial
// file is ever left under the target's name.
#include <gtest/gtest.h>

#include <thread>

#include "http_file_client.h"
#include "http_test_support.h"

namespace {

using namespace httptest;

// Records what a download tells its progress display.
struct Recorder : ui::IDownloadProgress {
  int starts = 0;
  uint32_t total = 0xFFFFFFFFu, lastDone = 0, calls = 0;
  bool monotonic = true;
  volatile bool cancel = false;
  void OnDownloadStarted(uint32_t t) override {
    ++starts;
    total = t;
  }
  void OnDownloadProgress(uint32_t done, uint32_t t) override {
    if (done < lastDone || t != total) monotonic = false;
    lastDone = done;
    ++calls;
  }
  bool DownloadCancelled() override { return cancel; }
};

class HttpFileClientTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Load()) << "the HTTP test server is not running (fixture http_server)";
    folder = FreshFolder(L"uk-http-client-test");
    target = folder + L"\\file.bin";
  }
  void TearDown() override {
    RemoveFolder(folder);
  }
  // Downloads url with a profile; *data receives the file (empty when none).
  uint32_t Download(const ui::HttpProfile &profile, const std::wstring &path, std::string *data,
                    Recorder *rec = nullptr, uint64_t maxBytes = 0) {
    ui::HttpFileClient http(profile);
    uint32_t rc = http.Open(server.Url(path));
    if (rc == 0) rc = http.DownloadToFile(target, rec, maxBytes);
    lastStatus = http.Status();
    lastLength = http.ContentLength();
    http.Close();
    *data = Exists(target) ? ReadAll(target) : std::string();
    return rc;
  }
  // Nothing but the expected files in the folder (no temporary leftovers).
  std::vector<std::wstring> Leftovers() { return Entries(folder); }

  Server server;
  std::wstring folder, target;
  int lastStatus = 0;
  uint32_t lastLength = 0;
};

TEST_F(HttpFileClientTest, ClientDownloadsWithAndWithoutContentLength) {
  std::string data;
  Recorder rec;
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/gen/100000/a.bin", &data, &rec));
  EXPECT_TRUE(IsPattern(data, 100000));
  EXPECT_EQ(200, lastStatus);
  EXPECT_EQ(100000u, lastLength);
  EXPECT_EQ(1, rec.starts);
  EXPECT_EQ(98u, rec.total);  // KiB, rounded up
  EXPECT_EQ(98u, rec.lastDone);
  EXPECT_TRUE(rec.monotonic);
  EXPECT_GE(rec.calls, 98u);

  // Without a length the body is written all the same, against a total of 0 KiB.
  Recorder rec2;
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/gen/5000/nolength/b.bin", &data, &rec2));
  EXPECT_TRUE(IsPattern(data, 5000));
  EXPECT_EQ(0u, lastLength);
  EXPECT_EQ(0u, rec2.total);
  EXPECT_EQ(5u, rec2.lastDone);
  EXPECT_EQ(std::vector<std::wstring>{L"file.bin"}, Leftovers());

  // An empty body is an empty file, and a body of exactly two pieces is two KiB.
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/gen/0", &data));
  EXPECT_TRUE(Exists(target));
  EXPECT_TRUE(data.empty());
  Recorder rec3;
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/gen/2048", &data, &rec3));
  EXPECT_TRUE(IsPattern(data, 2048));
  EXPECT_EQ(2u, rec3.lastDone);
  EXPECT_EQ(2u, rec3.total);
}

TEST_F(HttpFileClientTest, GuideLimitsAtTheirEdges) {
  std::string data;
  // The download: below 40000 bytes nothing is written.
  EXPECT_EQ(ui::kTooSmall, Download(ui::kGuideHttp, L"/gen/39999", &data));
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(0u, Download(ui::kGuideHttp, L"/gen/40000", &data));
  EXPECT_TRUE(IsPattern(data, 40000));
  DeleteFileW(target.c_str());
  // Without a length the guide takes the size as 0: too small, nothing written.
  EXPECT_EQ(ui::kTooSmall, Download(ui::kGuideHttp, L"/gen/50000/nolength", &data));
  EXPECT_FALSE(Exists(target));

  // The size query: at or below 1000 bytes gives 1.
  ui::HttpFileClient http(ui::kGuideHttp);
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/1000")));
  uint32_t length = 7;
  EXPECT_EQ(ui::kTooSmall, http.QueryContentLength(&length));
  EXPECT_EQ(7u, length);
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/1001")));
  EXPECT_EQ(0u, http.QueryContentLength(&length));
  EXPECT_EQ(1001u, length);
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/5000/nolength")));
  EXPECT_EQ(ui::kTooSmall, http.QueryContentLength(&length));
  // The same client asks again (the request of the first call was closed).
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/123456")));
  EXPECT_EQ(0u, http.QueryContentLength(&length));
  EXPECT_EQ(0u, http.QueryContentLength(&length));
  EXPECT_EQ(123456u, length);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(HttpFileClientTest, ErrorPagesAreNeverTakenForTheFile) {
  std::string data;
  for (const ui::HttpProfile &p : {ui::kClientHttp, ui::kGuideHttp}) {
    // Pages long enough to pass every size limit.
    EXPECT_EQ(ui::kHttpStatusError + 404, Download(p, L"/gen/50000/status=404", &data));
    EXPECT_EQ(404, lastStatus);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(ui::kHttpStatusError + 500, Download(p, L"/gen/50000/status=500", &data));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(ui::kHttpStatusError + 404, Download(p, L"/no/such/file.exe", &data));
    EXPECT_FALSE(Exists(target));
  }
  // An older file of that name stays as it was.
  ASSERT_TRUE(WriteAll(target, "the earlier file"));
  EXPECT_EQ(ui::kHttpStatusError + 500, Download(ui::kClientHttp, L"/gen/50000/status=500", &data));
  EXPECT_EQ("the earlier file", data);
  // The size query says so too (the guide's network check).
  ui::HttpFileClient http(ui::kGuideHttp);
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/50000/status=503")));
  uint32_t length = 0;
  EXPECT_EQ(ui::kHttpStatusError + 503, http.QueryContentLength(&length));
  EXPECT_EQ(std::vector<std::wstring>{L"file.bin"}, Leftovers());
}

TEST_F(HttpFileClientTest, DroppedConnectionLeavesNoFile) {
  std::string data;
  uint32_t rc = Download(ui::kClientHttp, L"/gen/300000/drop=100000", &data);
  EXPECT_NE(0u, rc);
  EXPECT_FALSE(Exists(target));
  EXPECT_TRUE(Leftovers().empty()) << "a temporary file was left behind";
  // Over an earlier file: it is not replaced by the part that arrived.
  ASSERT_TRUE(WriteAll(target, "the earlier file"));
  EXPECT_NE(0u, Download(ui::kGuideHttp, L"/gen/300000/drop=150000", &data));
  EXPECT_EQ("the earlier file", data);
  EXPECT_EQ(std::vector<std::wstring>{L"file.bin"}, Leftovers());
}

TEST_F(HttpFileClientTest, CancelAndAbortStopTheTransfer) {
  std::string data;
  // Cancelled by the progress display after some pieces.
  struct CancelAfter : Recorder {
    bool DownloadCancelled() override { return lastDone >= 20; }
  } rec;
  EXPECT_EQ(uint32_t(ERROR_CANCELLED), Download(ui::kClientHttp, L"/gen/1000000/delay=2", &data, &rec));
  EXPECT_FALSE(Exists(target));
  EXPECT_LT(rec.lastDone, 100u);

  // Aborted from another thread while a slow server sends (30 s for the whole body).
  ui::HttpFileClient http(ui::kClientHttp);
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/3000000/delay=10")));
  Recorder slow;
  uint32_t rc = 0;
  DWORD took = 0;
  std::thread worker([&] {
    DWORD t0 = GetTickCount();
    rc = http.DownloadToFile(target, &slow);
    took = GetTickCount() - t0;
  });
  EXPECT_TRUE(WaitFor([&] { return slow.lastDone >= 5; }, 20000));
  http.Abort();
  worker.join();
  EXPECT_EQ(uint32_t(ERROR_CANCELLED), rc);
  EXPECT_LT(took, 15000u);
  EXPECT_FALSE(Exists(target));
  EXPECT_TRUE(Leftovers().empty());
  // After an abort the client asks nothing more.
  EXPECT_EQ(uint32_t(ERROR_CANCELLED), http.DownloadToFile(target, nullptr));
}

TEST_F(HttpFileClientTest, SizeCapForSmallFiles) {
  std::string data;
  EXPECT_EQ(uint32_t(ERROR_FILE_TOO_LARGE), Download(ui::kClientHttp, L"/gen/70000", &data, nullptr, 65536));
  EXPECT_EQ(uint32_t(ERROR_FILE_TOO_LARGE), Download(ui::kClientHttp, L"/gen/70000/nolength", &data, nullptr, 65536));
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(0u, Download(ui::kClientHttp, L"/gen/65536/nolength", &data, nullptr, 65536));
  EXPECT_TRUE(IsPattern(data, 65536));
}

TEST_F(HttpFileClientTest, AddressesAndServersThatCannotServe) {
  ui::HttpFileClient http(ui::kClientHttp);
  // Only http and https.
  EXPECT_EQ(uint32_t(ERROR_INTERNET_UNRECOGNIZED_SCHEME), http.Open(L"ftp://127.0.0.1/file.exe"));
  EXPECT_EQ(uint32_t(ERROR_INTERNET_UNRECOGNIZED_SCHEME), http.Open(L"file:///C:/windows/notepad.exe"));
  EXPECT_NE(0u, http.Open(L"not a url"));
  // A part longer than 256 characters does not fit.
  EXPECT_NE(0u, http.Open(server.Url(L"/" + std::wstring(300, L'a'))));
  // Nothing listens on that port.
  int port = ClosedPort();
  ASSERT_GT(port, 0);
  ASSERT_EQ(0u, http.Open(L"http://127.0.0.1:" + std::to_wstring(port) + L"/version.ini"));
  uint32_t rc = http.DownloadToFile(target, nullptr);
  EXPECT_NE(0u, rc);
  EXPECT_FALSE(Exists(target));
  // A target in a folder that does not exist: an error, and nothing made.
  ASSERT_EQ(0u, http.Open(server.Url(L"/gen/100")));
  EXPECT_NE(0u, http.DownloadToFile(folder + L"\\missing\\file.bin", nullptr));
  EXPECT_TRUE(Leftovers().empty());
  // Without Open nothing is asked.
  ui::HttpFileClient fresh(ui::kClientHttp);
  EXPECT_NE(0u, fresh.DownloadToFile(target, nullptr));
}

TEST_F(HttpFileClientTest, ServedFileArrivesByteForByte) {
  std::string content = "[ORVClient]\r\nURL=http://127.0.0.1/x.exe\r\nversion=1.0.1.10\r\n";
  ASSERT_TRUE(server.Put(L"/http-client-test/version.ini", content));
  std::string data;
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/http-client-test/version.ini", &data));
  EXPECT_EQ(content, data);
  // A second download replaces the file.
  content += "; changed\r\n";
  ASSERT_TRUE(server.Put(L"/http-client-test/version.ini", content));
  ASSERT_EQ(0u, Download(ui::kClientHttp, L"/http-client-test/version.ini", &data));
  EXPECT_EQ(content, data);
}

}  // namespace
