// The bank's news in the client manager, without windows: the news settings and their reading,
// the news database with its merges and trimming, the "Message" submenu's entries, the unread
// records, the texts the popups show, the settings dialog's checks, and the checks on what the
// news service hands us (links, picture names, picture bytes). Portable: no <windows.h>.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "news_xml.h"

namespace client {

// Commands of the "Message" submenu: 32800 + n. The main window routes 32800 to 32820, so the
// submenu lists at most 21 entries (the newest); older kept items stay in the database.
constexpr unsigned kNewsCommandFirst = 32800;
constexpr unsigned kNewsCommandLast = 32820;
constexpr size_t kNewsMenuMax = kNewsCommandLast - kNewsCommandFirst + 1;
// Unread records held for one popup.
constexpr size_t kNewsMaxUnread = 5;
// Submenu titles longer than this are cut and "..." appended.
constexpr size_t kNewsMenuTitleLength = 15;
// The largest back count taken from the configuration: the database never holds more items.
constexpr int kNewsMaxBackCount = 1000;

// The news settings of the main window, with their defaults.
struct NewsSettings {
  bool enabled = true;
  int refreshMinutes = 10;
  int backCount = 10;
  int popupSeconds = 10;
  std::wstring proxyAddress;
  std::wstring proxyPort;
  std::wstring deliveredKeys = L",";
};

// The configuration's element paths, in the order they are read.
extern const wchar_t *const kNewsConfigPaths[7];

// Reads the settings through lookup(path, text), which gives false for a missing element. The
// first missing element ends the reading; every later value keeps what it had. Numbers are
// decimal text (a non-number reads as 0); the back count is limited to 0..kNewsMaxBackCount and
// the other numbers to 0..99999.
void ReadNewsSettings(NewsSettings &s,
                      const std::function<bool(const wchar_t *path, std::wstring &text)> &lookup);
// The texts written for the settings, by the same paths ("Enable" as "true"/"false").
std::vector<std::wstring> NewsSettingsTexts(const NewsSettings &s);
// A decimal number of the configuration: leading digits (after an optional sign), else 0.
int ParseNewsNumber(const std::wstring &text);

// One item of the database; State "1" is unread, "0" read.
struct NewsItem {
  std::wstring title, link, className, date, state, pic, content;
};

// One entry of the "Message" submenu: its command, its (cut) title, the database index it opens.
struct NewsMenuEntry {
  unsigned command;
  std::wstring title;
  size_t index;
};

// The database: items in arrival order, identified by their title.
class CNewsDatabase {
 public:
  const std::vector<NewsItem> &Items() const { return items_; }
  void Assign(std::vector<NewsItem> items);
  bool HasTitle(const std::wstring &title) const { return titles_.count(title) != 0; }

  // Adds the answer's items from the last to the first: every one with a title that is not
  // empty and not yet present. With any items, cursor becomes the first item's cursor. Returns
  // the number of items added.
  size_t MergeNews(const std::vector<NewsAnswerItem> &answer, std::wstring &cursor);
  // Adds the answer's items from the last to the first whose delivery key (the class-name
  // position) is not empty and not yet in keys; each such key is appended to keys ("," + key
  // + "," is how a key is found). Returns the number of items added.
  size_t MergeLottery(const std::vector<NewsAnswerItem> &answer, std::wstring &keys);

  // Removes all but the newest backCount items.
  void Trim(int backCount);
  // The submenu: the newest items (at most kNewsMenuMax), newest first, commands counting from
  // kNewsCommandFirst over the listed items in database order.
  std::vector<NewsMenuEntry> MenuEntries() const;
  // The database index a submenu command opens, or false.
  bool IndexOfCommand(unsigned command, size_t &index) const;
  // The first kNewsMaxUnread unread items, in database order.
  std::vector<NewsItem> Unread() const;
  // Marks the first item with this title read.
  bool MarkRead(const std::wstring &title);

 private:
  void Add(NewsItem item);
  std::vector<NewsItem> items_;
  std::unordered_set<std::wstring> titles_;
};

// A submenu title: control characters become spaces, cut to kNewsMenuTitleLength with "..."
// added, and "&" doubled so that the menu shows it instead of taking it for a mnemonic.
std::wstring NewsMenuTitle(const std::wstring &title);
// The content line of the single popup: empty gives "点此查看详细", up to 50 characters as is,
// longer ones cut to 48 and "..." added.
std::wstring NewsPopupContent(const std::wstring &content);
// Cuts text to at most n characters without splitting a surrogate pair.
std::wstring NewsCut(const std::wstring &text, size_t n);

// The service address and the default link for a web host ("host" or "host:port").
std::wstring NewsServiceAddress(const std::wstring &webHost);
std::wstring NewsDefaultLink(const std::wstring &webHost);
// The query URL: address + "?command=" + command + "&parameter=" + parameter, the parameter
// percent-encoded except for letters, digits and "-._~,|"; empty when address or command is.
std::wstring NewsQueryUrl(const std::wstring &address, const std::wstring &command,
                          const std::wstring &parameter);
// The parameter of a click report: serial + "," + the class name before its first "|"; empty
// (nothing is sent) when either is empty or the class name has no "|".
std::wstring NewsClickParameter(const std::wstring &serial, const std::wstring &className);

// Only an absolute http or https address with a host is ever handed to the shell.
bool IsWebLink(const std::wstring &link);
// What a click on an item opens: its link when it is a web link, the default link when the link
// is empty, nothing (empty) otherwise.
std::wstring NewsLinkToOpen(const std::wstring &link, const std::wstring &defaultLink);

// The file name of a picture in the cache: the address's part after its last "/" with every
// character outside letters, digits, "-", "_" and "." replaced by "_"; empty (no download) when
// nothing usable remains. Never a path, never a device name.
std::wstring NewsPictureFileName(const std::wstring &address);
// Whether bytes start like a GIF, PNG, JPEG or BMP picture.
bool LooksLikePicture(const uint8_t *data, size_t size);

// The settings dialog's checks. Empty refresh or popup-time fields take the remembered values;
// an empty port is accepted.
struct NewsSettingsForm {
  std::wstring refresh, popupTime, port;
};
enum class NewsFormField { kNone, kRefresh, kPopupTime, kPort };
struct NewsFormCheck {
  NewsFormField field = NewsFormField::kNone;  // the field to focus on failure
  size_t row = 0;                              // the ClientText row to show on failure
};
NewsFormCheck CheckNewsSettingsForm(NewsSettingsForm &form, int rememberedRefresh,
                                    int rememberedPopupTime);

}  // namespace client
