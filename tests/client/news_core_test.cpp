// The news core: reading the service's answers (well formed or hostile), the merges of news and
// lottery items, trimming to the back count, the submenu's entries and commands, unread records,
// the popup and menu texts, the settings and the settings dialog's checks, links and pictures.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "news_model.h"
#include "news_xml.h"

using namespace client;

namespace {

std::string Item(const std::string &title, const std::string &cls = "c|1", const std::string &cursor = "0",
                 const std::string &link = "http://bank.example/n", const std::string &content = "text") {
  return "<News><T>" + title + "</T><L>" + link + "</L><C>" + cls + "</C><D>2026-12-08</D><P></P><X>" +
         content + "</X><K>" + cursor + "</K></News>";
}

std::string Answer(const std::vector<std::string> &items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?><NewsAcquire>";
  for (const std::string &i : items) s += i;
  return s + "</NewsAcquire>";
}

std::vector<NewsAnswerItem> Parse(const std::string &xml) {
  std::vector<NewsAnswerItem> items;
  EXPECT_TRUE(ParseNewsAnswer(xml, items)) << xml;
  return items;
}

std::vector<NewsAnswerItem> Titles(int from, int to) {  // titles "n<from>".."n<to>", newest first
  std::vector<std::string> items;
  for (int i = to; i >= from; --i) items.push_back(Item("n" + std::to_string(i), "c|1", std::to_string(i)));
  return Parse(Answer(items));
}

}  // namespace

// ---- answers -----------------------------------------------------------------------------

TEST(NewsAnswer, FieldsByPositionWithEntitiesCdataAndChinese) {
  auto items = Parse(Answer({"<News><a> 标题 &amp; &lt;b&gt; </a><b>http://x.example/?a=1&amp;b=2</b>"
                             "<c>cls|9</c><d>d</d><e>http://x.example/p.gif</e><f><![CDATA[<i>raw</i>]]></f>"
                             "<g>42</g><h>extra</h></News>"}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].title, L"标题 & <b>");
  EXPECT_EQ(items[0].link, L"http://x.example/?a=1&b=2");
  EXPECT_EQ(items[0].className, L"cls|9");
  EXPECT_EQ(items[0].pic, L"http://x.example/p.gif");
  EXPECT_EQ(items[0].content, L"<i>raw</i>");
  EXPECT_EQ(items[0].cursor, L"42");
}

TEST(NewsAnswer, ShortItemsOtherElementsAndEmptyRoot) {
  auto items = Parse(Answer({"<News><a>only</a><b/><c/><d/><e/><f/></News>", "<Other/>", Item("ok")}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].title, L"ok");
  EXPECT_TRUE(Parse("<NewsAcquire/>").empty());
  std::vector<NewsAnswerItem> none;
  EXPECT_FALSE(ParseNewsAnswer("<Other><News/></Other>", none));
}

TEST(NewsAnswer, RefusesWhatIsNotWellFormed) {
  const char *bad[] = {
      "", "   ", "<NewsAcquire>", "<NewsAcquire></Other>", "<NewsAcquire></NewsAcquire><x/>",
      "text<NewsAcquire/>", "<NewsAcquire>&bogus;</NewsAcquire>", "<NewsAcquire>&#0;</NewsAcquire>",
      "<NewsAcquire>&#x110000;</NewsAcquire>", "<NewsAcquire a='1' a='2'/>", "<NewsAcquire a=1/>",
      "<NewsAcquire><!-- x -- y --></NewsAcquire>", "<NewsAcquire>\xC0\xAF</NewsAcquire>",
      "<NewsAcquire>\xED\xA0\x80</NewsAcquire>", "<NewsAcquire>]]></NewsAcquire>",
      "<!DOCTYPE NewsAcquire [<!ENTITY a 'aaaa'>]><NewsAcquire>&a;</NewsAcquire>",
      "<NewsAcquire><![CDATA[open</NewsAcquire>", "<NewsAcquire x='<'/>",
      "</b>]2<News><a>t</a></News></NewsAcquire>"};
  for (const char *b : bad) {
    std::vector<NewsAnswerItem> items;
    EXPECT_FALSE(ParseNewsAnswer(b, items)) << b;
    EXPECT_TRUE(items.empty());
  }
}

TEST(NewsAnswer, BoundsOnDepthSizeItemsAndTexts) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  std::vector<NewsAnswerItem> items;
  EXPECT_FALSE(ParseNewsAnswer("<NewsAcquire>" + deep, items));  // no stack exhaustion
  EXPECT_FALSE(ParseNewsAnswer(std::string(kNewsMaxAnswerBytes + 1, ' '), items));

  std::vector<std::string> many(10000, Item("same"));
  items = Parse(Answer(many));
  EXPECT_EQ(items.size(), kNewsMaxItems);

  items = Parse(Answer({Item(std::string(100000, 'x'))}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].title.size(), kNewsMaxTextLength);
}

TEST(NewsAnswer, Utf8RoundTripKeepsCharactersBeyondTheBasicPlane) {
  const std::string s = "a\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a 中 😀 z
  std::wstring w;
  ASSERT_TRUE(DecodeUtf8(s, w));
  EXPECT_EQ(EncodeUtf8(w), s);
  EXPECT_FALSE(DecodeUtf8("\xF0\x9F\x98", w));  // cut in the middle
  EXPECT_TRUE(w.empty());
}

// ---- merges ------------------------------------------------------------------------------

TEST(NewsMerge, NewItemsUnreadInAnswerOrderReversedCursorFromFirst) {
  CNewsDatabase db;
  std::wstring cursor = L"0";
  EXPECT_EQ(db.MergeNews(Titles(1, 3), cursor), 3u);
  ASSERT_EQ(db.Items().size(), 3u);
  EXPECT_EQ(db.Items()[0].title, L"n1");  // the answer's last item first
  EXPECT_EQ(db.Items()[2].title, L"n3");
  EXPECT_EQ(db.Items()[2].state, L"1");
  EXPECT_EQ(cursor, L"3");
  // An empty answer leaves the cursor alone.
  EXPECT_EQ(db.MergeNews({}, cursor), 0u);
  EXPECT_EQ(cursor, L"3");
}

TEST(NewsMerge, KnownAndEmptyTitlesAreNotAddedAgain) {
  CNewsDatabase db;
  std::wstring cursor;
  db.MergeNews(Parse(Answer({Item("a", "c|1", "1", "http://old.example/")})), cursor);
  // Same title with other fields, a duplicate within the answer, an empty title.
  auto answer = Parse(Answer({Item("a", "z|2", "2", "http://new.example/"), Item("b"), Item("b"), Item("")}));
  EXPECT_EQ(db.MergeNews(answer, cursor), 1u);
  ASSERT_EQ(db.Items().size(), 2u);
  EXPECT_EQ(db.Items()[0].link, L"http://old.example/");
  EXPECT_EQ(db.Items()[1].title, L"b");
}

TEST(NewsMerge, LotteryKeysAreDeliveredOnce) {
  CNewsDatabase db;
  std::wstring keys = L",";
  auto answer = Parse(Answer({Item("same title", "k2"), Item("same title", "k1"), Item("no key", "")}));
  EXPECT_EQ(db.MergeLottery(answer, keys), 2u);  // no title check for lottery items
  EXPECT_EQ(keys, L",k1,k2,");
  EXPECT_EQ(db.Items()[0].className, L"k1");
  EXPECT_EQ(db.MergeLottery(answer, keys), 0u);
  EXPECT_EQ(keys, L",k1,k2,");
  // A key that is a part of a delivered one is still new.
  EXPECT_EQ(db.MergeLottery(Parse(Answer({Item("t", "k")})), keys), 1u);
  EXPECT_EQ(keys, L",k1,k2,k,");
}

TEST(NewsMerge, TenThousandItemsEndTrimmedToTheBackCount) {
  CNewsDatabase db;
  std::wstring cursor;
  std::vector<NewsAnswerItem> answer(10000);
  for (size_t i = 0; i < answer.size(); ++i) answer[i].title = L"t" + std::to_wstring(i);
  EXPECT_EQ(db.MergeNews(answer, cursor), 10000u);
  db.Trim(10);
  ASSERT_EQ(db.Items().size(), 10u);
  EXPECT_EQ(db.Items()[9].title, L"t0");
  EXPECT_FALSE(db.HasTitle(L"t10"));  // trimmed titles may come again
  EXPECT_TRUE(db.HasTitle(L"t9"));
}

// ---- rebuild: trimming, submenu, unread --------------------------------------------------

TEST(NewsRebuild, BackCountTenWithTwelveItemsDropsTheTwoOldest) {
  CNewsDatabase db;
  std::wstring cursor;
  db.MergeNews(Titles(1, 12), cursor);
  db.Trim(10);
  ASSERT_EQ(db.Items().size(), 10u);
  EXPECT_EQ(db.Items().front().title, L"n3");
  auto menu = db.MenuEntries();
  ASSERT_EQ(menu.size(), 10u);
  EXPECT_EQ(menu.front().title, L"n12");  // newest at the top
  EXPECT_EQ(menu.front().command, kNewsCommandFirst + 9);
  EXPECT_EQ(menu.back().command, kNewsCommandFirst);
  size_t index = 99;
  ASSERT_TRUE(db.IndexOfCommand(kNewsCommandFirst + 9, index));
  EXPECT_EQ(db.Items()[index].title, L"n12");
  EXPECT_FALSE(db.IndexOfCommand(kNewsCommandFirst + 10, index));
  db.Trim(0);
  EXPECT_TRUE(db.MenuEntries().empty());
}

TEST(NewsRebuild, MoreThanTwentyOneKeptItemsListOnlyTheNewestInRoutedCommands) {
  CNewsDatabase db;
  std::wstring cursor;
  db.MergeNews(Titles(1, 30), cursor);
  db.Trim(25);
  EXPECT_EQ(db.Items().size(), 25u);
  auto menu = db.MenuEntries();
  ASSERT_EQ(menu.size(), kNewsMenuMax);
  for (const NewsMenuEntry &e : menu) {
    EXPECT_GE(e.command, kNewsCommandFirst);
    EXPECT_LE(e.command, kNewsCommandLast);
  }
  EXPECT_EQ(menu.front().title, L"n30");
  EXPECT_EQ(menu.back().title, L"n10");
  size_t index;
  ASSERT_TRUE(db.IndexOfCommand(kNewsCommandLast, index));
  EXPECT_EQ(db.Items()[index].title, L"n30");
}

TEST(NewsRebuild, SixUnreadShowFiveAndTheSixthStaysUnread) {
  CNewsDatabase db;
  std::wstring cursor;
  db.MergeNews(Titles(1, 6), cursor);
  auto unread = db.Unread();
  ASSERT_EQ(unread.size(), kNewsMaxUnread);
  EXPECT_EQ(unread.front().title, L"n1");
  for (const NewsItem &i : unread) EXPECT_TRUE(db.MarkRead(i.title));
  unread = db.Unread();
  ASSERT_EQ(unread.size(), 1u);
  EXPECT_EQ(unread[0].title, L"n6");
  EXPECT_FALSE(db.MarkRead(L"missing"));
}

// ---- texts -------------------------------------------------------------------------------

TEST(NewsTexts, MenuTitlesAreCutAndCannotCarryMnemonicsOrControls) {
  EXPECT_EQ(NewsMenuTitle(L"123456789012345"), L"123456789012345");
  EXPECT_EQ(NewsMenuTitle(L"1234567890123456"), L"123456789012345...");
  EXPECT_EQ(NewsMenuTitle(L"A&B\tC"), L"A&&B C");
  EXPECT_EQ(NewsMenuTitle(L"<b>bold</b> &amp;"), L"<b>bold</b> &&am...");
  // A character beyond the basic plane counts once and is never split.
  std::wstring emoji;
  if (sizeof(wchar_t) == 2) emoji = L"\xD83D\xDE00";
  else emoji = std::wstring(1, wchar_t(0x1F600));
  const std::wstring t = std::wstring(14, L'x') + emoji + L"yz";
  EXPECT_EQ(NewsMenuTitle(t), std::wstring(14, L'x') + emoji + L"...");
}

TEST(NewsTexts, PopupContentFiftyOneCharactersShowFortyEight) {
  EXPECT_EQ(NewsPopupContent(L""), L"点此查看详细");
  EXPECT_EQ(NewsPopupContent(std::wstring(50, L'中')), std::wstring(50, L'中'));
  EXPECT_EQ(NewsPopupContent(std::wstring(51, L'中')), std::wstring(48, L'中') + L"...");
}

// ---- links and the query -----------------------------------------------------------------

TEST(NewsLinks, OnlyWebAddressesAreOpened) {
  const std::wstring def = NewsDefaultLink(L"bank.example");
  EXPECT_EQ(def, L"http://bank.example");
  EXPECT_EQ(NewsLinkToOpen(L"", def), def);
  EXPECT_EQ(NewsLinkToOpen(L"https://bank.example/a?b=c", def), L"https://bank.example/a?b=c");
  EXPECT_EQ(NewsLinkToOpen(L"HTTP://Bank.Example/", def), L"HTTP://Bank.Example/");
  for (const wchar_t *bad :
       {L"file:///c:/windows/system32/calc.exe", L"javascript:alert(1)", L"c:\\windows\\notepad.exe",
        L"\\\\server\\share\\x.exe", L"http:evil", L"http://", L"https:///path", L"mailto:a@b",
        L"http://a.example/ x.exe", L"http://a.example/\"x", L" http://a.example/", L"ftp://a.example/",
        L"http://user@/"})
    EXPECT_EQ(NewsLinkToOpen(bad, def), L"") << bad;
}

TEST(NewsLinks, QueryUrlEscapesTheParameterAndClickReports) {
  EXPECT_EQ(NewsQueryUrl(L"http://h/q", L"NewsAcquire", L"0"), L"http://h/q?command=NewsAcquire&parameter=0");
  EXPECT_EQ(NewsQueryUrl(L"", L"NewsAcquire", L"0"), L"");
  EXPECT_EQ(NewsQueryUrl(L"http://h/q", L"", L"0"), L"");
  EXPECT_EQ(NewsQueryUrl(L"http://h/q", L"NewsAnalyse", L"S1,a b&c=d\r\n中"),
            L"http://h/q?command=NewsAnalyse&parameter=S1,a%20b%26c%3Dd%0D%0A%E4%B8%AD");
  EXPECT_EQ(NewsClickParameter(L"UK1", L"promo|7"), L"UK1,promo");
  EXPECT_EQ(NewsClickParameter(L"UK1", L"promo"), L"");
  EXPECT_EQ(NewsClickParameter(L"", L"promo|7"), L"");
  EXPECT_EQ(NewsClickParameter(L"UK1", L"|7"), L"UK1,");
}

TEST(NewsPictures, CacheNamesStayInTheCacheFolder) {
  EXPECT_EQ(NewsPictureFileName(L"http://h/pics/a-1_b.gif"), L"a-1_b.gif");
  EXPECT_EQ(NewsPictureFileName(L"http://h/x/..\\..\\windows\\evil.exe"), L"_.._windows_evil.exe");
  EXPECT_EQ(NewsPictureFileName(L"http://h/p.gif?x=1:2"), L"p.gif_x_1_2");
  EXPECT_EQ(NewsPictureFileName(L"http://h/.."), L"");
  EXPECT_EQ(NewsPictureFileName(L"http://h/"), L"");
  EXPECT_EQ(NewsPictureFileName(L"http://h/???"), L"");
  EXPECT_EQ(NewsPictureFileName(L"http://h/con.gif"), L"_con.gif");
  EXPECT_EQ(NewsPictureFileName(L"http://h/LPT1"), L"_LPT1");
  EXPECT_EQ(NewsPictureFileName(L"http://h/" + std::wstring(300, L'a') + L".gif").size(), 100u);
}

TEST(NewsPictures, OnlyPictureBytesAreShown) {
  const uint8_t gif[] = "GIF89a....";
  const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0};
  const uint8_t jpg[] = {0xFF, 0xD8, 0xFF, 0xE0};
  const uint8_t html[] = "<html><body>not found</body></html>";
  EXPECT_TRUE(LooksLikePicture(gif, sizeof gif));
  EXPECT_TRUE(LooksLikePicture(png, sizeof png));
  EXPECT_TRUE(LooksLikePicture(jpg, sizeof jpg));
  EXPECT_FALSE(LooksLikePicture(html, sizeof html));
  EXPECT_FALSE(LooksLikePicture(gif, 3));
}

// ---- settings ----------------------------------------------------------------------------

TEST(NewsSettingsRead, FirstMissingElementEndsTheReading) {
  std::map<std::wstring, std::wstring> file = {{L"/NewsConfig/Server/Enable", L"false"},
                                               {L"/NewsConfig/News/Refresh", L"30"},
                                               {L"/NewsConfig/News/Time", L"20"},
                                               {L"/NewsConfig/IDS", L",a,"}};
  NewsSettings s;
  ReadNewsSettings(s, [&](const wchar_t *path, std::wstring &t) {
    auto i = file.find(path);
    if (i == file.end()) return false;
    t = i->second;
    return true;
  });
  EXPECT_FALSE(s.enabled);
  EXPECT_EQ(s.refreshMinutes, 30);
  EXPECT_EQ(s.backCount, 10);  // "Back" is missing: it and everything after keep their values
  EXPECT_EQ(s.popupSeconds, 10);
  EXPECT_EQ(s.deliveredKeys, L",");
}

TEST(NewsSettingsRead, NumbersAreDecimalTextAndBounded) {
  std::vector<std::wstring> texts = {L"TRUE", L"abc", L"99999999999", L"-5", L"p", L"8080", L",k,"};
  NewsSettings s;
  size_t k = 0;
  ReadNewsSettings(s, [&](const wchar_t *, std::wstring &t) { return t = texts[k++], true; });
  EXPECT_FALSE(s.enabled);  // only "true" enables
  EXPECT_EQ(s.refreshMinutes, 0);
  EXPECT_EQ(s.backCount, kNewsMaxBackCount);
  EXPECT_EQ(s.popupSeconds, 0);
  EXPECT_EQ(s.proxyAddress, L"p");
  EXPECT_EQ(s.proxyPort, L"8080");
  EXPECT_EQ(s.deliveredKeys, L",k,");
  EXPECT_EQ(ParseNewsNumber(L"12abc"), 12);
  EXPECT_EQ(NewsSettingsTexts(NewsSettings{})[0], L"true");
  EXPECT_EQ(NewsSettingsTexts(NewsSettings{})[6], L",");
}

TEST(NewsSettingsForm, LimitsAndEmptyFields) {
  NewsSettingsForm f{L"120", L"60", L""};
  EXPECT_EQ(CheckNewsSettingsForm(f, 10, 10).field, NewsFormField::kNone);  // empty port accepted
  f = {L"121", L"10", L""};
  NewsFormCheck c = CheckNewsSettingsForm(f, 10, 10);
  EXPECT_EQ(c.field, NewsFormField::kRefresh);
  EXPECT_EQ(c.row, 230u);
  f = {L"10", L"61", L""};
  c = CheckNewsSettingsForm(f, 10, 10);
  EXPECT_EQ(c.field, NewsFormField::kPopupTime);
  EXPECT_EQ(c.row, 231u);
  f = {L"10", L"10", L"65536"};
  c = CheckNewsSettingsForm(f, 10, 10);
  EXPECT_EQ(c.field, NewsFormField::kPort);
  EXPECT_EQ(c.row, 229u);
  f = {L"", L"", L"65535"};
  EXPECT_EQ(CheckNewsSettingsForm(f, 7, 9).field, NewsFormField::kNone);
  EXPECT_EQ(f.refresh, L"7");
  EXPECT_EQ(f.popupTime, L"9");
  for (const wchar_t *bad : {L"-1", L"1e3", L"99999999999999", L" 5"}) {
    f = {bad, L"10", L""};
    EXPECT_EQ(CheckNewsSettingsForm(f, 10, 10).field, NewsFormField::kRefresh) << bad;
  }
}
