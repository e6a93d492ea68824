// The DER reader of ukeytool: element bounds, lengths that lie, names, times, and certificates
// made by OpenSSL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cert_maker.h"
#include "der.h"

namespace {

using ukt::der::Reader;
using ukt::der::Tlv;

TEST(UkeytoolDer, ReadsNestedElementsWithinTheirParents) {
  const uint8_t d[] = {0x30, 0x05, 0x02, 0x01, 0x05, 0x05, 0x00, 0xAA};
  Reader top(d, sizeof d);
  Tlv seq, i, n, extra;
  ASSERT_TRUE(top.expect(0x30, seq));
  EXPECT_EQ(5u, seq.length);
  EXPECT_EQ(7u, seq.totalLength);
  Reader in(seq);
  ASSERT_TRUE(in.expect(0x02, i));
  EXPECT_EQ(0x05, i.value[0]);
  ASSERT_TRUE(in.expect(0x05, n));
  EXPECT_EQ(0u, n.length);
  EXPECT_FALSE(in.next(extra));
  EXPECT_FALSE(in.failed());  // a clean end is not a failure
  // The byte after the sequence is not a whole element.
  EXPECT_FALSE(top.next(extra));
  EXPECT_TRUE(top.failed());
}

TEST(UkeytoolDer, RefusesLengthsBeyondTheBuffer) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char *what;
  } cases[] = {
      {{0x30}, "header cut after the tag"},
      {{0x30, 0x05, 0x02, 0x01}, "value shorter than its length"},
      {{0x30, 0x81}, "long form without its length byte"},
      {{0x30, 0x82, 0x01}, "long form with one of two length bytes"},
      {{0x30, 0x82, 0xFF, 0xFF, 0x00}, "65535 bytes claimed, one present"},
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, "4 GB claimed (no wrap-around)"},
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFA, 0x00}, "length that wraps when the header is added"},
      {{0x30, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, "five length bytes"},
      {{0x30, 0x88, 0, 0, 0, 0, 0, 0, 0, 1, 0}, "eight length bytes"},
      {{0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}, "indefinite length (not DER)"},
      {{0x1F, 0x81, 0x01, 0x00}, "high tag number form"},
  };
  for (const Case &c : cases) {
    Reader r(c.bytes.data(), c.bytes.size());
    Tlv t;
    EXPECT_FALSE(r.next(t)) << c.what;
    EXPECT_TRUE(r.failed()) << c.what;
    EXPECT_FALSE(r.next(t)) << c.what << " (failure sticks)";
  }
}

TEST(UkeytoolDer, ChildLongerThanItsParentIsRefused) {
  // The outer length is honest, the inner INTEGER claims 5 bytes of a 3-byte parent.
  const uint8_t d[] = {0x30, 0x03, 0x02, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};
  Reader top(d, sizeof d);
  Tlv seq, i;
  ASSERT_TRUE(top.expect(0x30, seq));
  Reader in(seq);
  EXPECT_FALSE(in.next(i));
  EXPECT_TRUE(in.failed());
}

TEST(UkeytoolDer, LongFormLengths) {
  std::vector<uint8_t> d = {0x04, 0x82, 0x01, 0x00};
  d.resize(4 + 256, 0xEE);
  Reader r(d.data(), d.size());
  Tlv t;
  ASSERT_TRUE(r.next(t));
  EXPECT_EQ(256u, t.length);
  EXPECT_EQ(d.data() + 4, t.value);
  EXPECT_EQ(0u, ukt::der::firstElementLength(d.data(), d.size() - 1));
  d.push_back(0x00);  // trailing byte: the element's own length is still found
  EXPECT_EQ(260u, ukt::der::firstElementLength(d.data(), d.size()));
}

TEST(UkeytoolDer, ObjectIdentifiers) {
  const uint8_t cn[] = {0x55, 0x04, 0x03};
  EXPECT_EQ("2.5.4.3", ukt::der::oidText(cn, sizeof cn));
  const uint8_t rsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  EXPECT_EQ("1.2.840.113549.1.1.1", ukt::der::oidText(rsa, sizeof rsa));
  const uint8_t big[] = {0x88, 0x37};
  EXPECT_EQ("2.999", ukt::der::oidText(big, sizeof big));
  const uint8_t unfinished[] = {0x55, 0x86};
  EXPECT_EQ("", ukt::der::oidText(unfinished, sizeof unfinished));
  const uint8_t padded[] = {0x55, 0x80, 0x01};
  EXPECT_EQ("", ukt::der::oidText(padded, sizeof padded));
  const uint8_t huge[] = {0x55, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ("", ukt::der::oidText(huge, sizeof huge));
}

TEST(UkeytoolDer, DirectoryStringsBecomeUtf8) {
  using ukt::der::stringText;
  const uint8_t utf8[] = {0xE5, 0xBC, 0xA0, 'a'};
  EXPECT_EQ("\xE5\xBC\xA0" "a", stringText(0x0C, utf8, sizeof utf8));
  const uint8_t badUtf8[] = {'a', 0xC3, 'b'};
  EXPECT_EQ("a\\xC3b", stringText(0x0C, badUtf8, sizeof badUtf8));
  const uint8_t overlong[] = {0xC0, 0xAF};
  EXPECT_EQ("\\xC0\\xAF", stringText(0x0C, overlong, sizeof overlong));
  const uint8_t control[] = {'a', 0x1B, 'b'};
  EXPECT_EQ("a\\x1Bb", stringText(0x13, control, sizeof control));
  const uint8_t bmp[] = {0x5F, 0x20, 0x00, 0x41};
  EXPECT_EQ("\xE5\xBC\xA0" "A", stringText(0x1E, bmp, sizeof bmp));
  const uint8_t pair[] = {0xD8, 0x3D, 0xDE, 0x00};  // U+1F600
  EXPECT_EQ("\xF0\x9F\x98\x80", stringText(0x1E, pair, sizeof pair));
  const uint8_t loneSurrogate[] = {0xD8, 0x3D};
  EXPECT_EQ("\\uD83D", stringText(0x1E, loneSurrogate, sizeof loneSurrogate));
  const uint8_t oddBmp[] = {0x00, 0x41, 0x00};
  EXPECT_EQ("#004100", stringText(0x1E, oddBmp, sizeof oddBmp));
  const uint8_t latin1[] = {'c', 0xE9};
  EXPECT_EQ("c\xC3\xA9", stringText(0x14, latin1, sizeof latin1));
  const uint8_t high[] = {'x', 0xE9};
  EXPECT_EQ("x\\xE9", stringText(0x13, high, sizeof high));
}

Tlv tlvOf(uint8_t tag, const std::string &s) {
  Tlv t;
  t.tag = tag;
  t.value = reinterpret_cast<const uint8_t *>(s.data());
  t.length = s.size();
  return t;
}

TEST(UkeytoolDer, Times) {
  std::string d;
  std::string utc = "491231235959Z";
  ASSERT_TRUE(ukt::der::timeDigits(tlvOf(0x17, utc), d));
  EXPECT_EQ("20491231235959", d);
  std::string utc50 = "500101000000Z";
  ASSERT_TRUE(ukt::der::timeDigits(tlvOf(0x17, utc50), d));
  EXPECT_EQ("19500101000000", d);
  std::string gen = "20380119031408.5Z";
  ASSERT_TRUE(ukt::der::timeDigits(tlvOf(0x18, gen), d));
  EXPECT_EQ("20380119031408", d);
  EXPECT_EQ("2038-01-19 03:14:08 UTC", ukt::der::timeDisplay(d));
  for (const char *bad : {"491331235959Z", "490100235959Z", "491231245959Z", "4912312359590",
                          "49123123595Z", "49a231235959Z", ""}) {
    std::string b = bad;
    EXPECT_FALSE(ukt::der::timeDigits(tlvOf(0x17, b), d)) << bad;
  }
  std::string local = "20240101000000+0800";
  EXPECT_FALSE(ukt::der::timeDigits(tlvOf(0x18, local), d));
  std::string noFraction = "20240101000000.Z";
  EXPECT_FALSE(ukt::der::timeDigits(tlvOf(0x18, noFraction), d));
  EXPECT_FALSE(ukt::der::timeDigits(tlvOf(0x04, utc), d));
}

class UkeytoolCert : public testing::Test {
 protected:
  void SetUp() override {
    made_ = testcert::make({{"C", "CN"}, {"O", "Solene Bank"}, {"CN", "\xE5\xBC\xA0\xE4\xB8\x89"}},
                           {{"C", "CN"}, {"O", "Solene Bank CA"}, {"CN", "Test, Issuing CA"}},
                           "20240301120000Z", "20510228235959Z", 0x1234567);
  }
  void TearDown() override { EVP_PKEY_free(made_.key); }
  testcert::Made made_;
};

TEST_F(UkeytoolCert, SummaryMatchesWhatOpensslEncoded) {
  ukt::der::CertSummary cs;
  std::string why;
  ASSERT_TRUE(ukt::der::parseCertificate(made_.der.data(), made_.der.size(), cs, why)) << why;
  EXPECT_EQ("C=CN, O=Solene Bank, CN=\xE5\xBC\xA0\xE4\xB8\x89", cs.subject);
  EXPECT_EQ("C=CN, O=Solene Bank CA, CN=Test, Issuing CA", cs.issuer);
  EXPECT_EQ("01:23:45:67", cs.serialHex);
  EXPECT_EQ("20240301120000", cs.notBefore);  // OpenSSL writes UTCTime before 2050
  EXPECT_EQ("20510228235959", cs.notAfter);   // and GeneralizedTime from 2050 on
  EXPECT_EQ(1024u, cs.keyBits);
}

TEST_F(UkeytoolCert, EveryTruncationIsRefused) {
  ukt::der::CertSummary cs;
  std::string why;
  for (size_t n = 0; n < made_.der.size(); ++n)
    EXPECT_FALSE(ukt::der::parseCertificate(made_.der.data(), n, cs, why)) << n;
}

TEST_F(UkeytoolCert, TrailingBytesAfterTheCertificateAreIgnored) {
  std::vector<uint8_t> padded = made_.der;
  padded.insert(padded.end(), 40, 0xFF);
  ukt::der::CertSummary cs;
  std::string why;
  EXPECT_TRUE(ukt::der::parseCertificate(padded.data(), padded.size(), cs, why)) << why;
  EXPECT_EQ(made_.der.size(), ukt::der::firstElementLength(padded.data(), padded.size()));
}

TEST_F(UkeytoolCert, CorruptedBytesNeverReadOutOfBounds) {
  // Each byte of the header area replaced by values that make lengths lie; under the address
  // sanitizer any read outside the buffer fails the test.
  ukt::der::CertSummary cs;
  std::string why;
  size_t limit = made_.der.size() < 400 ? made_.der.size() : 400;
  int parsed = 0;
  for (size_t i = 0; i < limit; ++i) {
    for (uint8_t v : {0x00, 0x7F, 0x80, 0x81, 0x84, 0xFF}) {
      std::vector<uint8_t> c = made_.der;
      c[i] = v;
      if (ukt::der::parseCertificate(c.data(), c.size(), cs, why)) ++parsed;
    }
  }
  EXPECT_GT(parsed, 0);  // some substitutions hit value bytes and still parse
}

TEST(UkeytoolCertMalformed, ReasonsForWhatIsNotACertificate) {
  ukt::der::CertSummary cs;
  std::string why;
  EXPECT_FALSE(ukt::der::parseCertificate(nullptr, 0, cs, why));
  const uint8_t notSeq[] = {0x04, 0x01, 0x00};
  EXPECT_FALSE(ukt::der::parseCertificate(notSeq, sizeof notSeq, cs, why));
  const uint8_t emptySeq[] = {0x30, 0x00};
  EXPECT_FALSE(ukt::der::parseCertificate(emptySeq, sizeof emptySeq, cs, why));
  EXPECT_FALSE(why.empty());
}

TEST(UkeytoolDerNames, MultiValuedAndUnknownAttributes) {
  // SEQUENCE { SET { CN=a, OU=b }, SET { 1.2.3=#0101 } }
  const uint8_t name[] = {0x30, 0x1E, 0x31, 0x14, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03,
                          0x0C, 0x01, 'a',  0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x0B, 0x13,
                          0x01, 'b',  0x31, 0x06, 0x30, 0x04, 0x06, 0x02, 0x2A, 0x03};
  Reader r(name, sizeof name);
  Tlv t;
  ASSERT_TRUE(r.next(t));
  std::string text;
  // The last attribute has no value: refused as a whole.
  EXPECT_FALSE(ukt::der::nameText(t, text));
  const uint8_t good[] = {0x30, 0x21, 0x31, 0x14, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03,
                          0x0C, 0x01, 'a',  0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x0B, 0x13,
                          0x01, 'b',  0x31, 0x09, 0x30, 0x07, 0x06, 0x02, 0x2A, 0x03, 0x01,
                          0x01, 0xFF};
  Reader g(good, sizeof good);
  ASSERT_TRUE(g.next(t));
  ASSERT_TRUE(ukt::der::nameText(t, text));
  EXPECT_EQ("CN=a + OU=b, 1.2.3=#FF", text);
}

}  // namespace
