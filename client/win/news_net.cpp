#include "news_net.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "news_model.h"
#include "news_xml.h"

namespace client {

namespace {

// The text handed to the header-adding call. It carries no header name, so it is no valid header
// line; the call's outcome is not looked at (WinINet refuses such a line) and the session's
// agent name stands as the request's User-Agent.
const wchar_t kAgentHeader[] =
    L"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.50727)";

class CInternetHandle {
 public:
  explicit CInternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~CInternetHandle() {
    if (h_) InternetCloseHandle(h_);
  }
  CInternetHandle(const CInternetHandle &) = delete;
  CInternetHandle &operator=(const CInternetHandle &) = delete;
  operator HINTERNET() const { return h_; }

 private:
  HINTERNET h_;
};

// An open GET request with a "200" answer, or nothing.
struct CRequest {
 private:
  std::wstring path_;  // filled while connecting: declared before the handles
  bool secure_ = false;

 public:
  CInternetHandle session, connection, request;
  CRequest(const std::wstring &url, const NewsProxy &proxy, bool withExtra)
      : session(OpenSession(proxy)), connection(Connect(session, url, path_, secure_, withExtra)),
        request(Open(connection, path_, secure_)) {}
  bool Ok() {
    if (!request) return false;
    HttpAddRequestHeadersW(request, kAgentHeader, DWORD(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return false;
    wchar_t status[16] = {0};
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) return false;
    return lstrcmpW(status, L"200") == 0;
  }

 private:
  static HINTERNET OpenSession(const NewsProxy &p) {
    if (!p.address.empty() && !p.port.empty()) {
      const std::wstring named = p.address + L":" + p.port;
      return InternetOpenW(L"Open by wyv", INTERNET_OPEN_TYPE_PROXY, named.c_str(), nullptr, 0);
    }
    return InternetOpenW(L"Open by wyv", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  }
  static HINTERNET Connect(HINTERNET session, const std::wstring &url, std::wstring &path, bool &secure,
                           bool withExtra) {
    if (!session) return nullptr;
    wchar_t host[257] = {0}, urlPath[257] = {0}, extra[257] = {0};
    URL_COMPONENTSW uc{};
    uc.dwStructSize = sizeof uc;
    uc.lpszHostName = host;
    uc.dwHostNameLength = 257;
    uc.lpszUrlPath = urlPath;
    uc.dwUrlPathLength = 257;
    uc.lpszExtraInfo = extra;
    uc.dwExtraInfoLength = 257;
    if (!InternetCrackUrlW(url.c_str(), DWORD(url.size()), ICU_ESCAPE, &uc)) return nullptr;
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS) return nullptr;
    secure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    path = urlPath;
    if (withExtra) path += extra;
    return InternetConnectW(session, host, uc.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  }
  static HINTERNET Open(HINTERNET connection, const std::wstring &path, bool secure) {
    if (!connection) return nullptr;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    return HttpOpenRequestW(connection, L"GET", path.c_str(), nullptr, nullptr, nullptr, flags, 0);
  }
};

}  // namespace

std::string QueryNewsService(const std::wstring &url, const NewsProxy &proxy) {
  if (url.empty()) return "";
  CRequest r(url, proxy, true);
  if (!r.Ok()) return "";
  // The body is gathered whole and decoded once by the reader: pieces cut at 1024 bytes would
  // split UTF-8 sequences.
  std::string body;
  char buf[1024];
  DWORD got = 0;
  while (InternetReadFile(r.request, buf, sizeof buf, &got) && got > 0) {
    if (body.size() + got > kNewsMaxAnswerBytes) return "";
    body.append(buf, got);
  }
  std::string out;
  out.reserve(body.size());
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += body[i];
  }
  return out;
}

std::wstring NewsPicturePath(const std::wstring &address) {
  const std::wstring name = NewsPictureFileName(address);
  if (name.empty()) return L"";
  wchar_t temp[MAX_PATH] = {0}, longForm[MAX_PATH] = {0};
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return L"";
  const DWORD m = GetLongPathNameW(temp, longForm, MAX_PATH);
  std::wstring folder = (m > 0 && m < MAX_PATH) ? longForm : temp;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  folder += L"ORV\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + name;
}

bool DownloadNewsPicture(const std::wstring &address, const NewsProxy &proxy, std::wstring &path) {
  path = NewsPicturePath(address);
  if (path.empty() || !IsWebLink(address)) return false;
  CRequest r(address, proxy, false);
  if (!r.Ok()) return false;
  DWORD length = 0, size = sizeof length;
  if (!HttpQueryInfoW(r.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
    length = 0;
  if (length < 1025 || length > kNewsMaxPictureBytes) return false;
  std::vector<uint8_t> bytes;
  char buf[10240];
  DWORD got = 0;
  while (InternetReadFile(r.request, buf, sizeof buf, &got) && got > 0) {
    if (bytes.size() + got > kNewsMaxPictureBytes) return false;
    bytes.insert(bytes.end(), buf, buf + got);
  }
  if (!LooksLikePicture(bytes.data(), bytes.size())) return false;
  const std::wstring aside = path + L".part";
  HANDLE f = CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const bool written = WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
  CloseHandle(f);
  if (!written || !MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(aside.c_str());
    return false;
  }
  return true;
}

}  // namespace client
