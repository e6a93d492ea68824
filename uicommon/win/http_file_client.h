// HttpFileClient: one URL over WinINet, its size and its download into a local file in 1 KiB
// pieces, used by the client manager (software update) and the guide (network check, client
// setup). The two programs differ in a few settings (HttpProfile).
//
//   ui::HttpFileClient http(ui::kClientHttp);
//   uint32_t rc = http.Open(L"http://host/portal/.../version.ini");
//   if (rc == 0) rc = http.DownloadToFile(path, nullptr);   // 0: the file is complete
//   http.Close();                                          // also done by the destructor
//
// Results are 0, a Windows system or WinINet error code, or one of the codes below. Only an
// answer with status 200 is ever written: another status gives kHttpStatusError + the status.
// The body goes to a temporary file in the target's folder and takes the target's name only
// when it arrived whole, so a failed or cancelled download never leaves a partial file under the
// target's name (nor a stale one: the target is replaced only on success).
#pragma once
#include <windows.h>
#include <wininet.h>

#include <stdint.h>

#include <string>

#include "http_response.h"

namespace ui {

// What differs between the programs that download.
struct HttpProfile {
  // QueryContentLength gives 1 when the length is at or below this.
  uint32_t queryLimit;
  // DownloadToFile gives 1, writing nothing, when the length is below this (0: no minimum).
  uint32_t minimumLength;
  // Failures of QueryContentLength carry the step that failed: kRequestNotOpened,
  // kRequestNotSent or kHeadersNotRead plus the system error.
  bool stageFlags;
};
constexpr HttpProfile kGuideHttp = {1000, 40000, true};
constexpr HttpProfile kClientHttp = {0, 0, false};

// Step flags of the guide's size query.
constexpr uint32_t kRequestNotOpened = 0x10000000u;
constexpr uint32_t kRequestNotSent = 0x20000000u;
constexpr uint32_t kHeadersNotRead = 0x40000000u;
// The server answered with a status other than 200 (the status is added: 0x08000194 for 404).
constexpr uint32_t kHttpStatusError = 0x08000000u;
// Result 1 of QueryContentLength and DownloadToFile: the length is at or below the limit.
constexpr uint32_t kTooSmall = 1;

// What a download tells its progress display. Called on the downloading thread.
class IDownloadProgress {
 public:
  // The size is known (totalKiB 0 when the server sent no length); nothing read yet.
  virtual void OnDownloadStarted(uint32_t totalKiB) = 0;
  // doneKiB of totalKiB (rounded up) have been written.
  virtual void OnDownloadProgress(uint32_t doneKiB, uint32_t totalKiB) = 0;
  // Polled between pieces: true stops the download (result ERROR_CANCELLED).
  virtual bool DownloadCancelled() = 0;

 protected:
  ~IDownloadProgress() = default;
};

class HttpFileClient {
 public:
  explicit HttpFileClient(const HttpProfile &profile);
  ~HttpFileClient();
  HttpFileClient(const HttpFileClient &) = delete;
  HttpFileClient &operator=(const HttpFileClient &) = delete;

  // Opens a session (user agent "Open by Qok", the system's proxy settings), cracks the URL
  // (http or https; parts of at most 256 characters) and connects to its host and port. The
  // query of the URL is not sent. 0 or the system error.
  uint32_t Open(const std::wstring &url, const std::wstring &verb = L"GET");
  // Asks for the resource and reads its length: 0 with *length; kTooSmall when the length is at
  // or below the profile's limit; an error otherwise.
  uint32_t QueryContentLength(uint32_t *length);
  // Downloads the resource to path (replacing it only on success): 0; kTooSmall (nothing
  // written) below the profile's minimum length; an error (no file written). maxBytes > 0 caps
  // the size accepted (ERROR_FILE_TOO_LARGE beyond it). progress may be null.
  uint32_t DownloadToFile(const std::wstring &path, IDownloadProgress *progress, uint64_t maxBytes = 0);
  // Closes the request, the connection and the session, in that order, each if open.
  void Close();
  // From another thread: stops the transfer in progress (its call returns ERROR_CANCELLED) and
  // any later request. The owner still calls Close.
  void Abort();

  // Of the last response: the content length (saturated to 32 bits; 0 without the header) and
  // the HTTP status (0 before any).
  uint32_t ContentLength() const { return length_; }
  int Status() const { return status_; }

 private:
  // Opens and sends a request and reads the response head; 0 or an error with the step flag.
  uint32_t Request(uint32_t *stageFlag);
  void CloseRequest();

  HttpProfile profile_;
  HINTERNET session_ = nullptr, connect_ = nullptr;
  HINTERNET volatile request_ = nullptr;
  volatile LONG aborted_ = 0;
  std::wstring verb_, path_;
  bool secure_ = false;
  HttpResponseHead head_;
  uint32_t length_ = 0;
  int status_ = 0;
};

}  // namespace ui
