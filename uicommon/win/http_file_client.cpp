#include "http_file_client.h"

#include <vector>

namespace ui {

namespace {

constexpr wchar_t kUserAgent[] = L"Open by Qok";
constexpr DWORD kUrlPart = 257;          // 256 characters and the terminator
constexpr DWORD kHeaderBytes = 2048;      // the usual header block fits the first try
constexpr DWORD kHeaderBytesMax = 65536;  // a server may not make us read more than this
constexpr DWORD kPiece = 1024;

uint32_t LastErrorOr(uint32_t fallback) {
  DWORD e = GetLastError();
  return e ? e : fallback;
}

// The folder part of a path ("." when it has none).
std::wstring FolderOf(const std::wstring &path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

HttpFileClient::HttpFileClient(const HttpProfile &profile) : profile_(profile) {}

HttpFileClient::~HttpFileClient() { Close(); }

uint32_t HttpFileClient::Open(const std::wstring &url, const std::wstring &verb) {
  Close();
  session_ = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session_) return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);

  wchar_t scheme[kUrlPart], host[kUrlPart], path[kUrlPart], extra[kUrlPart];
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszScheme = scheme;
  parts.dwSchemeLength = kUrlPart;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kUrlPart;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kUrlPart;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = kUrlPart;
  if (!InternetCrackUrlW(url.c_str(), DWORD(url.size()), ICU_ESCAPE, &parts))
    return LastErrorOr(ERROR_INTERNET_INVALID_URL);
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
    return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;
  path_ = parts.dwUrlPathLength ? std::wstring(path, parts.dwUrlPathLength) : L"/";

  connect_ = InternetConnectW(session_, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connect_) return LastErrorOr(ERROR_INTERNET_CANNOT_CONNECT);
  verb_ = verb.substr(0, 260);
  return 0;
}

void HttpFileClient::CloseRequest() {
  HINTERNET r = static_cast<HINTERNET>(InterlockedExchangePointer(&request_, nullptr));
  if (r) InternetCloseHandle(r);
}

void HttpFileClient::Close() {
  CloseRequest();
  if (connect_) InternetCloseHandle(connect_);
  if (session_) InternetCloseHandle(session_);
  connect_ = session_ = nullptr;
}

void HttpFileClient::Abort() {
  InterlockedExchange(&aborted_, 1);
  CloseRequest();
}

uint32_t HttpFileClient::Request(uint32_t *stageFlag) {
  CloseRequest();
  head_ = HttpResponseHead();
  length_ = 0;
  status_ = 0;
  *stageFlag = kRequestNotOpened;
  if (!connect_) return ERROR_INVALID_HANDLE;
  if (aborted_) return ERROR_CANCELLED;
  // Always from the server: a version file must never come from a cache, and downloads do not
  // belong in it.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | (secure_ ? INTERNET_FLAG_SECURE : 0);
  HINTERNET req = HttpOpenRequestW(connect_, verb_.c_str(), path_.c_str(), nullptr, nullptr, nullptr, flags, 0);
  if (!req) return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);
  InterlockedExchangePointer(&request_, req);
  if (aborted_) return ERROR_CANCELLED;  // Abort may have missed the handle just stored

  *stageFlag = kRequestNotSent;
  if (!HttpSendRequestW(req, nullptr, 0, nullptr, 0)) return aborted_ ? ERROR_CANCELLED : LastErrorOr(ERROR_INTERNET_CONNECTION_ABORTED);

  *stageFlag = kHeadersNotRead;
  std::vector<wchar_t> raw(kHeaderBytes / sizeof(wchar_t) + 1);
  DWORD size = kHeaderBytes;
  if (!HttpQueryInfoW(req, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr)) {
    DWORD e = GetLastError();
    if (e != ERROR_INSUFFICIENT_BUFFER || size > kHeaderBytesMax) return e ? e : ERROR_INTERNET_INVALID_OPERATION;
    raw.assign(size / sizeof(wchar_t) + 1, 0);
    if (!HttpQueryInfoW(req, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr))
      return LastErrorOr(ERROR_INTERNET_INVALID_OPERATION);
  }
  // The header block is ASCII; anything else is of no interest to the parser.
  size_t chars = size / sizeof(wchar_t) < raw.size() ? size / sizeof(wchar_t) : raw.size();
  std::string text(chars, '\0');
  for (size_t i = 0; i < chars; ++i) text[i] = raw[i] < 0x80 ? char(raw[i]) : '?';
  head_ = ParseResponseHead(text);
  length_ = ContentLength32(head_);
  status_ = head_.status;
  *stageFlag = 0;
  return 0;
}

uint32_t HttpFileClient::QueryContentLength(uint32_t *length) {
  uint32_t stage = 0;
  uint32_t rc = Request(&stage);
  CloseRequest();
  if (rc) return profile_.stageFlags ? rc + stage : rc;
  if (status_ != 200) return kHttpStatusError + uint32_t(status_);
  if (length_ <= profile_.queryLimit) return kTooSmall;
  if (length) *length = length_;
  return 0;
}

uint32_t HttpFileClient::DownloadToFile(const std::wstring &path, IDownloadProgress *progress, uint64_t maxBytes) {
  uint32_t stage = 0;
  uint32_t rc = Request(&stage);
  if (rc) {
    CloseRequest();
    return rc;
  }
  // An error page is never taken for the file.
  if (status_ != 200) {
    CloseRequest();
    return kHttpStatusError + uint32_t(status_);
  }
  if (length_ < profile_.minimumLength) {
    CloseRequest();
    return kTooSmall;
  }
  if (maxBytes && head_.hasLength && head_.contentLength > maxBytes) {
    CloseRequest();
    return ERROR_FILE_TOO_LARGE;
  }

  wchar_t temp[MAX_PATH];
  if (!GetTempFileNameW(FolderOf(path).c_str(), L"ukd", 0, temp)) {
    rc = LastErrorOr(ERROR_PATH_NOT_FOUND);
    CloseRequest();
    return rc;
  }
  HANDLE file = CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    rc = LastErrorOr(ERROR_CANNOT_MAKE);
    DeleteFileW(temp);
    CloseRequest();
    return rc;
  }

  uint64_t totalKiB64 = KiBRoundedUp(head_.contentLength);
  uint32_t totalKiB = totalKiB64 > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(totalKiB64);
  if (progress) progress->OnDownloadStarted(totalKiB);

  // Read until the server says the body has ended (a read of 0 bytes): a short read is not the
  // end, the network may deliver a piece in parts.
  HINTERNET req = request_;
  char buf[kPiece];
  uint64_t got = 0;
  rc = 0;
  for (;;) {
    if (aborted_ || (progress && progress->DownloadCancelled())) {
      rc = ERROR_CANCELLED;
      break;
    }
    DWORD n = 0;
    if (!InternetReadFile(req, buf, kPiece, &n)) {
      rc = aborted_ ? ERROR_CANCELLED : LastErrorOr(ERROR_INTERNET_CONNECTION_ABORTED);
      break;
    }
    if (n == 0) break;
    if (maxBytes && got + n > maxBytes) {
      rc = ERROR_FILE_TOO_LARGE;
      break;
    }
    DWORD written = 0;
    if (!WriteFile(file, buf, n, &written, nullptr) || written != n) {
      rc = LastErrorOr(ERROR_WRITE_FAULT);
      break;
    }
    got += n;
    if (progress) {
      uint64_t done = KiBRoundedUp(got);
      progress->OnDownloadProgress(done > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(done), totalKiB);
    }
  }
  if (rc == 0 && aborted_) rc = ERROR_CANCELLED;
  // A body that ended before its announced length is a dropped connection, not a file.
  if (rc == 0 && head_.hasLength && got != head_.contentLength) rc = ERROR_INTERNET_CONNECTION_RESET;
  if (!CloseHandle(file) && rc == 0) rc = LastErrorOr(ERROR_WRITE_FAULT);
  if (rc == 0 && !MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING)) rc = LastErrorOr(ERROR_CANNOT_MAKE);
  if (rc) DeleteFileW(temp);
  CloseRequest();
  return rc;
}

}  // namespace ui
