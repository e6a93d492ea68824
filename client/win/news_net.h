// The news service over WinINet: one query (GET, answer as UTF-8 bytes) and the download of a
// picture into the picture cache. A proxy is named only when both the proxy address and port are
// given; otherwise the system's preconfigured settings apply.
#pragma once
#include <string>

namespace client {

struct NewsProxy {
  std::wstring address, port;
};

// GETs url; the body of a "200" answer with every "\r\n" removed, or empty on any failure.
// Answers above kNewsMaxAnswerBytes are refused (empty).
std::string QueryNewsService(const std::wstring &url, const NewsProxy &proxy);

// Largest picture taken from the network.
constexpr unsigned long kNewsMaxPictureBytes = 2u << 20;

// "<temporary folder>\ORV\" (long form, created if missing) + NewsPictureFileName(address).
std::wstring NewsPicturePath(const std::wstring &address);
// Fetches a picture into the cache path; true only for a "200" answer with a Content-Length of
// at least 1025 bytes whose bytes look like a picture. The file is written aside and moved into
// place, so a failed download leaves no half file under the cache name.
bool DownloadNewsPicture(const std::wstring &address, const NewsProxy &proxy, std::wstring &path);

}  // namespace client
