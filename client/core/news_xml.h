// Reading the news service's answers: a small, strict XML reader for what arrives from the
// network, and the items of a "NewsAcquire" answer. Portable: no <windows.h>.
//
// The answer is untrusted. The reader accepts only well-formed UTF-8 XML (elements, attributes,
// character data, the five predefined entities, character references, CDATA sections, comments
// and processing instructions); a document type declaration is refused outright, so no entity can
// expand. Input size, nesting depth, node count, item count and text length are bounded.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace client {

// Bounds on an answer. Larger answers are refused whole; more items or longer texts are cut.
constexpr size_t kNewsMaxAnswerBytes = 4u << 20;
constexpr size_t kNewsMaxItems = 1000;
constexpr size_t kNewsMaxTextLength = 2048;

// A UTF-8 byte string as wide text (UTF-16 where wchar_t has 16 bits). Invalid sequences give
// false and an empty text.
bool DecodeUtf8(const std::string &bytes, std::wstring &out);
// Wide text as UTF-8 (unpaired surrogates become U+FFFD).
std::string EncodeUtf8(const std::wstring &text);

// One element of a parsed document: its name, its element children (indices into the
// document's node list) and the concatenation of all character data below it.
struct XmlNode {
  std::string name;
  std::vector<size_t> children;
  std::wstring text;
};

// A parsed document; node 0 is the root element.
struct XmlDocument {
  std::vector<XmlNode> nodes;
};

// Parses a whole document. False for anything that is not well formed or exceeds the bounds.
bool ParseXml(const std::string &utf8, XmlDocument &doc);

// One "News" element of an answer, its child elements taken by position:
// 0 title, 1 link, 2 class name (a lottery item's delivery key), 3 date, 4 picture address,
// 5 content, 6 cursor. Element names below "News" are not looked at.
struct NewsAnswerItem {
  std::wstring title, link, className, date, pic, content, cursor;
};

// The items of an answer: root "NewsAcquire", its "News" children in document order. Items with
// fewer than seven child elements are skipped; texts are trimmed of surrounding white space and
// cut to kNewsMaxTextLength; at most kNewsMaxItems items are taken. False when the answer is not
// a well-formed document with that root.
bool ParseNewsAnswer(const std::string &utf8, std::vector<NewsAnswerItem> &items);

}  // namespace client
