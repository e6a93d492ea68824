// Encoders of ukeytool checked against OpenSSL: PEM, the SubjectPublicKeyInfo built from a
// modulus and exponent, the SHA-1 DigestInfo of a signature; and the text helpers.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "cert_maker.h"
#include "der.h"
#include "text.h"
#include "uk_tokenlib.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(UkeytoolEncode, Base64TestVectors) {
  const char *in[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char *out[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(out[i], ukt::base64(reinterpret_cast<const uint8_t *>(in[i]), strlen(in[i])));
  const uint8_t all[] = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ("+/+/", ukt::base64(all, 3));
}

TEST(UkeytoolEncode, Base64DecodingIsStrict) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(ukt::unbase64("Zm9v\r\nYmE=", out));
  EXPECT_EQ(std::string("fooba"), std::string(out.begin(), out.end()));
  ASSERT_TRUE(ukt::unbase64("", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ukt::unbase64("Zm9", out));        // not a multiple of four
  EXPECT_FALSE(ukt::unbase64("Zm9v!", out));      // foreign character
  EXPECT_FALSE(ukt::unbase64("Zg==Zg==", out));   // data after padding
  EXPECT_FALSE(ukt::unbase64("Z===", out));
  // PEM written by the tool reads back; a block without its end line does not.
  const uint8_t body[] = {1, 2, 3, 4, 5};
  std::string p = ukt::pem("CERTIFICATE", body, sizeof body);
  ASSERT_TRUE(ukt::unpem("junk\n" + p, "CERTIFICATE", out));
  EXPECT_EQ(std::vector<uint8_t>(body, body + 5), out);
  EXPECT_FALSE(ukt::unpem(p.substr(0, p.size() - 10), "CERTIFICATE", out));
  EXPECT_FALSE(ukt::unpem(p, "PUBLIC KEY", out));
}

TEST(UkeytoolEncode, PemCertificateReadsBackInOpenssl) {
  testcert::Made m = testcert::make({{"CN", "pem"}}, {{"CN", "pem"}}, "20240101000000Z",
                                    "20340101000000Z", 7);
  std::string text = ukt::pem("CERTIFICATE", m.der.data(), m.der.size());
  // Lines of at most 64 characters between the armour lines.
  size_t start = text.find('\n') + 1, longest = 0;
  for (size_t p = start, nl; (nl = text.find('\n', p)) != std::string::npos; p = nl + 1)
    longest = std::max(longest, nl - p);
  EXPECT_EQ(64u, longest);
  BIO *bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, x);
  unsigned char *der = nullptr;
  int len = i2d_X509(x, &der);
  EXPECT_EQ(m.der, std::vector<uint8_t>(der, der + len));
  OPENSSL_free(der);
  X509_free(x);
  BIO_free(bio);
  EVP_PKEY_free(m.key);
}

TEST(UkeytoolEncode, DerIntegersAndLengths) {
  std::vector<uint8_t> out;
  const uint8_t small[] = {0x00, 0x00, 0x7F};
  ukt::der::appendUnsigned(out, small, 3);
  EXPECT_EQ(bytes({0x02, 0x01, 0x7F}), out);
  out.clear();
  const uint8_t top[] = {0x80};
  ukt::der::appendUnsigned(out, top, 1);
  EXPECT_EQ(bytes({0x02, 0x02, 0x00, 0x80}), out);
  out.clear();
  const uint8_t zero[] = {0x00, 0x00};
  ukt::der::appendUnsigned(out, zero, 2);
  EXPECT_EQ(bytes({0x02, 0x01, 0x00}), out);
  out.clear();
  ukt::der::appendLength(out, 127);
  ukt::der::appendLength(out, 128);
  ukt::der::appendLength(out, 256);
  ukt::der::appendLength(out, 65536);
  EXPECT_EQ(bytes({0x7F, 0x81, 0x80, 0x82, 0x01, 0x00, 0x83, 0x01, 0x00, 0x00}), out);
}

// The public key record as the token library fills it: modulus big-endian, exponent
// right-aligned in a field of the modulus size.
struct KeyParts {
  std::vector<uint8_t> modulus, exponent;
};
KeyParts partsOf(EVP_PKEY *key, size_t size) {
  BIGNUM *n = nullptr, *e = nullptr;
  EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
  EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
  KeyParts k{std::vector<uint8_t>(size), std::vector<uint8_t>(size)};
  BN_bn2binpad(n, k.modulus.data(), static_cast<int>(size));
  BN_bn2binpad(e, k.exponent.data(), static_cast<int>(size));
  BN_free(n);
  BN_free(e);
  return k;
}

std::vector<uint8_t> opensslSpki(EVP_PKEY *key) {
  unsigned char *der = nullptr;
  int len = i2d_PUBKEY(key, &der);
  std::vector<uint8_t> v(der, der + len);
  OPENSSL_free(der);
  return v;
}

TEST(UkeytoolEncode, SpkiEqualsOpensslsEncodingFor1024And2048BitKeys) {
  for (int bits : {1024, 2048}) {
    EVP_PKEY *key = EVP_RSA_gen(static_cast<unsigned>(bits));
    KeyParts k = partsOf(key, static_cast<size_t>(bits / 8));
    std::vector<uint8_t> spki;
    ASSERT_TRUE(ukt::rsaSpki(k.modulus.data(), k.modulus.size(), k.exponent.data(),
                             k.exponent.size(), spki));
    EXPECT_EQ(opensslSpki(key), spki) << bits;
    EVP_PKEY_free(key);
  }
}

TEST(UkeytoolEncode, SpkiOfAnEmptyKeyIsRefused) {
  std::vector<uint8_t> zero(128), e(128), spki;
  e[127] = 3;
  EXPECT_FALSE(ukt::rsaSpki(zero.data(), 128, e.data(), 128, spki));
  EXPECT_FALSE(ukt::rsaSpki(e.data(), 128, zero.data(), 128, spki));
  EXPECT_TRUE(spki.empty());
}

// The DigestInfo, padded as the token pads it (block type 1) and signed raw, must verify as an
// RSA/SHA-1 signature in OpenSSL, which compares the whole DigestInfo.
TEST(UkeytoolEncode, Sha1DigestInfoVerifiesAsRsaSha1Signature) {
  EVP_PKEY *key = EVP_RSA_gen(1024);
  const char msg[] = "the file to sign";
  uint8_t digest[20];
  SHA1(reinterpret_cast<const unsigned char *>(msg), sizeof msg - 1, digest);
  std::vector<uint8_t> di = ukt::sha1DigestInfo(digest);
  ASSERT_EQ(35u, di.size());

  EVP_PKEY_CTX *sctx = EVP_PKEY_CTX_new(key, nullptr);
  ASSERT_EQ(1, EVP_PKEY_sign_init(sctx));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(sctx, RSA_PKCS1_PADDING));
  uint8_t sig[128];
  size_t sigLen = sizeof sig;
  ASSERT_EQ(1, EVP_PKEY_sign(sctx, sig, &sigLen, di.data(), di.size()));
  EVP_PKEY_CTX_free(sctx);

  EVP_MD_CTX *v = EVP_MD_CTX_new();
  ASSERT_EQ(1, EVP_DigestVerifyInit(v, nullptr, EVP_sha1(), nullptr, key));
  EXPECT_EQ(1, EVP_DigestVerify(v, sig, sigLen, reinterpret_cast<const unsigned char *>(msg),
                                sizeof msg - 1));
  EVP_MD_CTX_free(v);
  EVP_PKEY_free(key);
}

TEST(UkeytoolText, HexAndHexDump) {
  const uint8_t d[] = {0x00, 0x41, 0xFF, 0x7E};
  EXPECT_EQ("0041FF7E", ukt::hex(d, 4));
  std::string dump = ukt::hexDump(reinterpret_cast<const uint8_t *>("0123456789abcdefXY"), 18);
  std::string first = "0000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  0123456789abcdef\n";
  ASSERT_EQ(first, dump.substr(0, first.size()));
  std::string second = dump.substr(first.size());
  EXPECT_EQ(0u, second.find("0010  58 59 "));
  // The text column of a short last line lines up with the full lines above it.
  EXPECT_EQ(first.find("0123"), second.find("XY"));
  EXPECT_EQ('\n', second.back());
  EXPECT_EQ("", ukt::hexDump(d, 0));
}

TEST(UkeytoolText, FixedFieldsNeverReadPastTheirSize) {
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ("abcd", ukt::fieldText(unterminated, sizeof unterminated));
  EXPECT_EQ("ab", ukt::fieldText("ab\0cd", 5));
  // An ID area whose length byte claims more than the area holds is cut to the area.
  uint8_t area[5] = {200, 'w', 'x', 'y', 'z'};
  EXPECT_EQ("\"wxyz\"", ukt::idAreaText(area, sizeof area));
  uint8_t binary[4] = {2, 0x01, 0xFE, 0};
  EXPECT_EQ("0x01FE", ukt::idAreaText(binary, sizeof binary));
  uint8_t none[2] = {0, 0};
  EXPECT_EQ("(none)", ukt::idAreaText(none, sizeof none));
  const uint8_t cos[16] = {'V', '1', '.', '2'};
  EXPECT_EQ("V1.2", ukt::cosVersionText(cos, 16));
  const uint8_t rawCos[4] = {0x01, 0x02, 0x00, 0x00};
  EXPECT_EQ("01020000", ukt::cosVersionText(rawCos, 4));
}

TEST(UkeytoolText, ResultCodes) {
  EXPECT_EQ("wrong PIN, 3 tries left", ukt::resultText(0x800063C3u));
  EXPECT_EQ("wrong PIN, 0 tries left", ukt::resultText(0x800063C0u));
  EXPECT_NE(std::string::npos, ukt::resultText(0x80006982u).find("6982"));
  EXPECT_NE(std::string::npos, ukt::resultText(0x80006983u).find("blocked"));
  EXPECT_NE(std::string::npos, ukt::resultText(UKLR_OBJ_NOT_FOUND).find("UKLR_OBJ_NOT_FOUND"));
  EXPECT_NE(std::string::npos, ukt::resultText(UKLR_CERT_NOT_FOUND).find("UKLR_CERT_NOT_FOUND"));
  EXPECT_EQ("card status 6F00", ukt::resultText(0x80006F00u));
  EXPECT_EQ("unknown result", ukt::resultText(0x12345u));
}

TEST(UkeytoolText, FactoryDefaultPinFollowsTheSeventhSerialCharacter) {
  EXPECT_STREQ("937260", ukt::defaultUserPinFor("1234562000"));
  EXPECT_STREQ("482915", ukt::defaultUserPinFor("1234561000"));
  EXPECT_STREQ("482915", ukt::defaultUserPinFor("222222"));  // no seventh character
  EXPECT_STREQ("482915", ukt::defaultUserPinFor(""));
}

}  // namespace
