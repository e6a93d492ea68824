// Any bytes as an answer of the news service: the reader must refuse or parse them within its
// bounds, and whatever it returns goes through the merges, trimming and the texts shown.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "news_model.h"
#include "news_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string answer(reinterpret_cast<const char *>(data), size);
  std::vector<client::NewsAnswerItem> items;
  if (!client::ParseNewsAnswer(answer, items)) {
    if (!items.empty()) __builtin_trap();
    return 0;
  }
  if (items.size() > client::kNewsMaxItems) __builtin_trap();
  client::CNewsDatabase db;
  std::wstring cursor, keys = L",";
  db.MergeNews(items, cursor);
  db.MergeLottery(items, keys);
  db.Trim(3);
  for (const client::NewsMenuEntry &e : db.MenuEntries())
    if (e.command < client::kNewsCommandFirst || e.command > client::kNewsCommandLast) __builtin_trap();
  for (const client::NewsItem &i : db.Unread()) {
    client::NewsPopupContent(i.content);
    client::NewsLinkToOpen(i.link, L"http://bank.example");
    client::NewsPictureFileName(i.pic);
    db.MarkRead(i.title);
  }
  return 0;
}
