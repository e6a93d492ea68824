// The news popups at the bottom-right corner of the work area: CNewsPopShow for one unread
// item (title, picture, content) and CNewsPopMultShow for several (a tree of titles with their
// contents). Both are borderless, topmost, layered tool windows: 40 % opaque until the mouse is
// over them, closed after the popup time or by their close mark; a click on an item reports it
// to the news service and opens its web link. Modeless windows of the user-interface thread; each
// deletes itself when closed.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "news_model.h"

namespace client {

class CNewsCenter;

struct NewsPopupData {
  int seconds = 10;
  std::vector<NewsItem> items;
  std::wstring serial;       // the first token's serial number, for click reports
  std::wstring defaultLink;  // the bank's page: opened by no click of the single popup
  const CNewsCenter *center = nullptr;
};

// Shows the popup that fits the number of items (none: nothing); the window, or null. Its window
// text (never drawn) is the "Message" row, by which tests find it.
HWND ShowNewsPopup(HWND owner, const NewsPopupData &data);

}  // namespace client
