// The portable parts of the download: the response head (status line, Content-Length) as WinINet
// hands it over, and the rules for a setup program's signer and the message when one is refused.
#include <gtest/gtest.h>

#include <string>

#include "http_response.h"
#include "setup_trust.h"
#include "signer.h"

namespace {

using ui::HttpResponseHead;
using ui::ParseResponseHead;

TEST(ResponseHead, StatusAndLengthOfOrdinaryAnswers) {
  HttpResponseHead h = ParseResponseHead(std::string(
      "HTTP/1.1 200 OK\r\nServer: test\r\nContent-Length: 40000\r\nContent-Type: application/octet-stream\r\n\r\n"));
  EXPECT_EQ(200, h.status);
  EXPECT_TRUE(h.hasLength);
  EXPECT_EQ(40000u, h.contentLength);

  h = ParseResponseHead(std::string("HTTP/1.0 404 File not found\r\nContent-Length: 469\r\n\r\n"));
  EXPECT_EQ(404, h.status);
  EXPECT_EQ(469u, h.contentLength);

  h = ParseResponseHead(std::string("HTTP/1.1 500\r\n\r\n"));  // no reason phrase
  EXPECT_EQ(500, h.status);
  EXPECT_FALSE(h.hasLength);
  EXPECT_EQ(0u, h.contentLength);
}

TEST(ResponseHead, ContentLengthIsAHeaderNotAnySubstring) {
  // Another header that merely ends in the name, and one whose value mentions it, come first.
  HttpResponseHead h = ParseResponseHead(std::string(
      "HTTP/1.1 200 OK\r\nX-Original-Content-Length: 7\r\nX-Note: Content-Length: 9\r\ncontent-length:12\r\n\r\n"));
  EXPECT_TRUE(h.hasLength);
  EXPECT_EQ(12u, h.contentLength);  // any letter case, no blank after the colon
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length \t:\t 3 \r\n\r\n"));
  EXPECT_EQ(3u, h.contentLength);
  // The first header of that name decides, even when its value is not a number.
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: abc\r\nContent-Length: 5\r\n\r\n"));
  EXPECT_FALSE(h.hasLength);
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"));
  EXPECT_EQ(5u, h.contentLength);
  // Leading digits count, the rest of the value does not.
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: 1001x\r\n\r\n"));
  EXPECT_EQ(1001u, h.contentLength);
  // Headers after the blank line are a body, not headers.
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\n\r\nContent-Length: 5\r\n"));
  EXPECT_FALSE(h.hasLength);
  // Bare LF line ends.
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\nContent-Length: 8\n\n"));
  EXPECT_EQ(200, h.status);
  EXPECT_EQ(8u, h.contentLength);
}

TEST(ResponseHead, LengthsBeyondThirtyTwoBitsSaturate) {
  HttpResponseHead h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n"));
  EXPECT_EQ(4294967296ull, h.contentLength);
  EXPECT_EQ(0xFFFFFFFFu, ui::ContentLength32(h));
  h = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999999\r\n\r\n"));
  EXPECT_EQ(UINT64_MAX, h.contentLength);
  EXPECT_EQ(0xFFFFFFFFu, ui::ContentLength32(h));
}

TEST(ResponseHead, MalformedStatusLinesGiveNoStatus) {
  for (const char *bad : {"", "HTTP/1.1", "HTTP/1.1 ", "HTTP/1.1 20", "HTTP/1.1 2000 OK", "HTTP/x.1 200 OK",
                          "HTTP/1. 200 OK", "HTTP/1.1200 OK", "ICY 200 OK", "HTTP/1.1 099 Low", "http/1.1 200 OK"}) {
    std::string text = std::string(bad) + "\r\nContent-Length: 10\r\n\r\n";
    EXPECT_EQ(0, ParseResponseHead(text).status) << bad;
  }
  // A buffer cut in the middle of a header is read up to its end, and no further.
  std::string cut = "HTTP/1.1 200 OK\r\nContent-Len";
  EXPECT_FALSE(ParseResponseHead(cut.data(), cut.size()).hasLength);
  std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 123456";
  EXPECT_EQ(123u, ParseResponseHead(partial.data(), partial.size() - 3).contentLength);
  EXPECT_EQ(0, ParseResponseHead(nullptr, 5).status);
}

TEST(ResponseHead, SizeInKiBRoundsUp) {
  EXPECT_EQ(0u, ui::KiBRoundedUp(0));
  EXPECT_EQ(1u, ui::KiBRoundedUp(1));
  EXPECT_EQ(1u, ui::KiBRoundedUp(1024));
  EXPECT_EQ(2u, ui::KiBRoundedUp(1025));
  EXPECT_EQ(40u, ui::KiBRoundedUp(40000));
  EXPECT_EQ(3072u, ui::KiBRoundedUp(3u * 1024 * 1024));
  EXPECT_EQ(4194304u, ui::KiBRoundedUp(0xFFFFFFFFull));
}

// ---- the setup's signer ------------------------------------------------------------------------

std::vector<ui::NameAttribute> OurSubject() {
  return {{"2.5.4.6", ui::WidenUtf8(UK_SIGNER_COUNTRY)},
          {"2.5.4.10", ui::WidenUtf8(UK_SIGNER_ORGANIZATION)},
          {"2.5.4.3", ui::WidenUtf8(UK_SIGNER_COMMON_NAME)}};
}

TEST(SetupSigner, OnlyOurPublisherExactlyOnce) {
  EXPECT_TRUE(ui::IsOurPublisher(OurSubject()));
  // A purchased certificate carries more attributes: they do not matter.
  auto more = OurSubject();
  more.insert(more.begin() + 1, {"2.5.4.7", L"Beijing"});
  more.push_back({"1.2.840.113549.1.9.1", L"pki@example.com"});
  EXPECT_TRUE(ui::IsOurPublisher(more));

  for (size_t drop = 0; drop < 3; ++drop) {
    auto s = OurSubject();
    s.erase(s.begin() + long(drop));
    EXPECT_FALSE(ui::IsOurPublisher(s)) << "without attribute " << drop;
  }
  auto other = OurSubject();
  other[2].value += L" ";  // near is not equal
  EXPECT_FALSE(ui::IsOurPublisher(other));
  other = OurSubject();
  other[1].value = L"zv kestra it co.,ltd.";
  EXPECT_FALSE(ui::IsOurPublisher(other));
  // A second common name (ours and somebody else's) is not our certificate.
  auto twice = OurSubject();
  twice.push_back({"2.5.4.3", L"Somebody Else"});
  EXPECT_FALSE(ui::IsOurPublisher(twice));
  twice = OurSubject();
  twice.push_back(twice[2]);
  EXPECT_FALSE(ui::IsOurPublisher(twice));
  EXPECT_FALSE(ui::IsOurPublisher({}));
}

TEST(SetupSigner, RefusalSaysWhyInEachLanguage) {
  ui::SetupCheck c;
  c.trust = ui::SetupTrust::kWrongSigner;
  c.signer = L"Somebody Else";
  std::wstring en = ui::SetupRefusedText(c, 0);
  EXPECT_NE(std::wstring::npos, en.find(L"not started and has been deleted")) << en.size();
  EXPECT_NE(std::wstring::npos, en.find(L"another publisher (Somebody Else)"));
  EXPECT_NE(std::wstring::npos, en.find(ui::PublisherName()));
  EXPECT_NE(std::wstring::npos, ui::SetupRefusedText(c, 1).find(L"属于其他发布者（Somebody Else）"));
  EXPECT_NE(std::wstring::npos, ui::SetupRefusedText(c, 2).find(L"屬於其他發行者（Somebody Else）"));

  c.trust = ui::SetupTrust::kBadSignature;
  c.code = 0x80096010u;
  en = ui::SetupRefusedText(c, 0);
  EXPECT_NE(std::wstring::npos, en.find(L"does not match the file"));
  EXPECT_NE(std::wstring::npos, en.find(L"(0x80096010)"));
  // Every outcome but the trusted one has its own reason, in every language.
  for (int l = 0; l < 3; ++l) {
    std::vector<std::wstring> seen;
    for (auto t : {ui::SetupTrust::kUnreadable, ui::SetupTrust::kUnsigned, ui::SetupTrust::kBadSignature,
                   ui::SetupTrust::kUntrusted, ui::SetupTrust::kWrongSigner}) {
      ui::SetupCheck k;
      k.trust = t;
      std::wstring text = ui::SetupRefusedText(k, l);
      EXPECT_FALSE(text.empty());
      for (const auto &s : seen) EXPECT_NE(s, text);
      seen.push_back(text);
    }
    ui::SetupCheck ok;
    ok.trust = ui::SetupTrust::kTrusted;
    EXPECT_TRUE(ui::SetupRefusedText(ok, l).empty());
  }
  // A '%' in a signer's name is shown as it stands.
  c.trust = ui::SetupTrust::kWrongSigner;
  c.code = 0;
  c.signer = L"100%s Evil";
  EXPECT_NE(std::wstring::npos, ui::SetupRefusedText(c, 0).find(L"(100%s Evil)"));
}

TEST(SetupSigner, Utf8OfTheConfigurationHeader) {
  EXPECT_EQ(L"ZV", ui::WidenUtf8("ZV"));
  EXPECT_EQ(L"索伦银行", ui::WidenUtf8("\xE7\xB4\xA2\xE4\xBC\xA6\xE9\x93\xB6\xE8\xA1\x8C"));
  std::wstring four = ui::WidenUtf8("\xF0\x9F\x98\x80");  // outside the BMP
  EXPECT_EQ(sizeof(wchar_t) == 2 ? 2u : 1u, four.size());
  EXPECT_EQ(L"\xFFFD" L"A", ui::WidenUtf8("\xC3" "A"));      // truncated sequence
  EXPECT_EQ(L"\xFFFD", ui::WidenUtf8("\xC0\x80"));            // overlong
  EXPECT_EQ(L"\xFFFD", ui::WidenUtf8("\xFF"));
  EXPECT_EQ(L"", ui::WidenUtf8(nullptr));
}

}  // namespace
