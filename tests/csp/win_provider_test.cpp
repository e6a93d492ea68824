// The provider under Wine, reached only through advapi32 as programs reach it: registered in the
// test prefix, on virtual tokens of the running emulator, with Wine's own RSA provider as the
// other side for key blobs and hashes. The emulator's tokens must be this test's alone (SERIAL).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../win/pe_image.h"
#include "resource.h"
#include "win_dialog_driver.h"
#include "win_registration.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char *const kProvider = csptest::kProviderName;
const char kPin[] = "123456";
constexpr DWORD kNteBadKeyset = 0x80090016u;
constexpr DWORD kScardNoReaders = 0x8010002Eu;

using csptest::providerDll;

std::string hex(const Bytes &b) {
  std::string s;
  char t[4];
  for (uint8_t v : b) snprintf(t, sizeof t, "%02X", v), s += t;
  return s;
}

Bytes readFile(const std::string &path) {
  Bytes b;
  if (FILE *f = fopen(path.c_str(), "rb")) {
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    fclose(f);
  }
  return b;
}

// Files the fixture script made with the OpenSSL command line (key blobs, a certificate).
std::string dataFile(const char *name) {
  const char *dir = getenv("UK_CSP_TESTDATA");
  return std::string("Z:") + (dir ? dir : ".") + "/" + name;
}

class Registration : public testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(csptest::registerProvider()); }
};
testing::Environment *const gRegistration = testing::AddGlobalTestEnvironment(new Registration);

// A context on our provider, released at scope end.
struct Prov {
  HCRYPTPROV h = 0;
  DWORD error = 0;
  Prov(const char *container, DWORD flags, const char *provider = kProvider) {
    if (!CryptAcquireContextA(&h, container, provider, PROV_RSA_FULL, flags)) {
      error = GetLastError();
      h = 0;
    }
  }
  ~Prov() {
    if (h) CryptReleaseContext(h, 0);
  }
  explicit operator bool() const { return h != 0; }
  Prov(const Prov &) = delete;
  Prov &operator=(const Prov &) = delete;
};

DWORD acquireError(const char *container, DWORD flags) {
  HCRYPTPROV h = 0;
  if (CryptAcquireContextA(&h, container, kProvider, PROV_RSA_FULL, flags)) {
    if (h) CryptReleaseContext(h, 0);
    return 0;
  }
  return GetLastError();
}

std::string provString(HCRYPTPROV h, DWORD param) {
  char buf[256] = {0};
  DWORD len = sizeof buf;
  if (!CryptGetProvParam(h, param, reinterpret_cast<BYTE *>(buf), &len, 0)) return "<error>";
  return buf;
}

Bytes exportKey(HCRYPTKEY key, HCRYPTKEY exp, DWORD type) {
  DWORD len = 0;
  if (!CryptExportKey(key, exp, type, 0, nullptr, &len)) return {};
  Bytes b(len);
  if (!CryptExportKey(key, exp, type, 0, b.data(), &len)) return {};
  b.resize(len);
  return b;
}

Bytes hashValue(HCRYPTHASH h) {
  BYTE v[64];
  DWORD len = sizeof v;
  if (!CryptGetHashParam(h, HP_HASHVAL, v, &len, 0)) return {};
  return Bytes(v, v + len);
}

// The digest of a session key's bytes as a provider hashes them.
Bytes sessionKeyDigest(HCRYPTPROV prov, HCRYPTKEY key) {
  HCRYPTHASH h = 0;
  Bytes v;
  if (CryptCreateHash(prov, CALG_SHA1, 0, 0, &h) && CryptHashSessionKey(h, key, CRYPT_LITTLE_ENDIAN))
    v = hashValue(h);
  if (h) CryptDestroyHash(h);
  return v;
}

class WinProvider : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.fromSetting()) << "the emulator is not configured";
  }
  void TearDown() override {
    for (auto &s : serials) client.deleteToken(s);
  }
  std::string addToken(const char *label = "win-label") {
    std::string s = tokensim::uniqueSerial("CSPW");
    EXPECT_TRUE(client.createToken(s, {{"userpin", kPin}, {"label", label}})) << client.lastError();
    serials.push_back(s);
    return s;
  }
  // A container with a PIN-cached context on it.
  void setPin(HCRYPTPROV h) {
    ASSERT_TRUE(CryptSetProvParam(h, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(kPin), 0))
        << std::hex << GetLastError();
  }
  // The token library's own reading of a container's public key, most significant byte first.
  Bytes tokenModulus(const std::string &serial, const char *container, uint32_t keySpec) {
    UK_DEV_INFO dev{};
    snprintf(dev.devicePath, sizeof dev.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
    Bytes m;
    UK_CONTAINER_INFO c{};
    UK_RSA_PUBLIC_KEY pub{};
    if (zksTokenConnect(&dev, 0) == 0 && zksTokenSelectPkiWorkDF(&dev, 0) == 0 &&
        zksTokenGetContainerByName(&dev, &c, container) == 0 &&
        zksTokenReadRsaPubKey(&dev, &c, &pub, keySpec) == 0)
      m.assign(pub.modulus, pub.modulus + 128);
    if (dev.connection) zksTokenDisconnect(&dev);
    return m;
  }
  tokensim::Client client;
  std::vector<std::string> serials;
};

TEST_F(WinProvider, AcquireFlagCases) {
  // No token: verify-only works, the rest find nothing; opening and creating a container tell
  // the user to insert the token (messages the test answers with OK).
  const DWORD english = 1033;
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                  &english, sizeof english);
  std::atomic<bool> stop{false};
  std::atomic<int> told{0};
  std::thread user([&] {
    while (!stop) {
      HWND d = cspui::FindDialogWithText(IDC_TEXT, L"Please insert your DEZoda device!");
      if (d) {
        ++told;
        cspui::Click(d, IDOK);
        cspui::WaitFor([&] { return !IsWindow(d); }, 5000);
      }
      Sleep(20);
    }
  });
  { Prov v(nullptr, CRYPT_VERIFYCONTEXT); EXPECT_TRUE(v) << std::hex << v.error; }
  EXPECT_EQ(kNteBadKeyset, acquireError("win-c1", 0));
  EXPECT_EQ(kScardNoReaders, acquireError("win-c1", CRYPT_NEWKEYSET));
  stop = true;
  user.join();
  EXPECT_GE(told.load(), 1);

  addToken();
  {
    Prov created("win-c1", CRYPT_NEWKEYSET);
    ASSERT_TRUE(created) << std::hex << created.error;
    EXPECT_EQ("win-c1", provString(created.h, PP_CONTAINER));
  }
  { Prov opened("win-c1", 0); ASSERT_TRUE(opened); EXPECT_EQ("win-c1", provString(opened.h, PP_UNIQUE_CONTAINER)); }
  EXPECT_EQ(DWORD(NTE_BAD_FLAGS), acquireError("win-c1", CRYPT_MACHINE_KEYSET));
  { Prov silent("win-c1", CRYPT_SILENT); ASSERT_TRUE(silent); EXPECT_EQ("", provString(silent.h, PP_CONTAINER)); }
  EXPECT_EQ(kNteBadKeyset, acquireError("", 0));  // the user's container, never the first one
  { Prov byDefault(nullptr, 0); ASSERT_TRUE(byDefault); EXPECT_EQ("win-c1", provString(byDefault.h, PP_CONTAINER)); }

  // The provider writes what it was asked for into the user's registry.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client",
                                         0, KEY_READ, &key));
  char value[128] = {0};
  DWORD len = sizeof value, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "LastContainerName", nullptr, &type,
                                            reinterpret_cast<BYTE *>(value), &len));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_STREQ("", value);  // the empty name was the last one passed
  len = sizeof value;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "LastConnectDevice", nullptr, &type,
                                            reinterpret_cast<BYTE *>(value), &len));
  EXPECT_STREQ("ZV-UK Q57: 0 ", value);
  RegCloseKey(key);

  HCRYPTPROV none = 0x1234;
  ASSERT_TRUE(CryptAcquireContextA(&none, "win-c1", kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET))
      << std::hex << GetLastError();
  EXPECT_EQ(kNteBadKeyset, acquireError("win-c1", 0));
  EXPECT_EQ(kNteBadKeyset, acquireError("win-c1", CRYPT_DELETEKEYSET));
}

// Every record of an enumerating parameter, CRYPT_FIRST then CRYPT_NEXT up to ERROR_NO_MORE_ITEMS.
std::vector<Bytes> enumerate(HCRYPTPROV h, DWORD param) {
  std::vector<Bytes> out;
  for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
    BYTE buf[256];
    DWORD len = sizeof buf;
    if (!CryptGetProvParam(h, param, buf, &len, flags)) {
      EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
      return out;
    }
    out.emplace_back(buf, buf + len);
  }
}

PROV_ENUMALGS alg(ALG_ID id, DWORD bits, const char *name) {
  PROV_ENUMALGS a;
  memset(&a, 0, sizeof a);
  a.aiAlgid = id;
  a.dwBitLen = bits;
  a.dwNameLen = DWORD(strlen(name) + 1);
  strcpy(a.szName, name);
  return a;
}
PROV_ENUMALGS_EX algEx(ALG_ID id, DWORD def, DWORD mn, DWORD mx, const char *name) {
  PROV_ENUMALGS_EX a;
  memset(&a, 0, sizeof a);
  a.aiAlgid = id;
  a.dwDefaultLen = def;
  a.dwMinLen = mn;
  a.dwMaxLen = mx;
  a.dwProtocols = 0x3F;
  a.dwNameLen = a.dwLongNameLen = DWORD(strlen(name) + 1);
  strcpy(a.szName, name);
  strcpy(a.szLongName, name);
  return a;
}

TEST_F(WinProvider, AlgorithmEnumerationsAreByteExact) {
  static_assert(sizeof(PROV_ENUMALGS) == 32 && sizeof(PROV_ENUMALGS_EX) == 88, "record sizes");
  const PROV_ENUMALGS algs[] = {alg(CALG_RC4, 128, "RC4"),       alg(CALG_DES, 56, "DES"),
                                alg(CALG_3DES, 168, "3DES"),     alg(CALG_MD5, 128, "MD5"),
                                alg(CALG_SHA1, 160, "SHA1"),     alg(CALG_SSL3_SHAMD5, 288, "SSL3 SHAMD5"),
                                alg(CALG_RSA_KEYX, 1024, "RSA_KEYX"), alg(CALG_RSA_SIGN, 1024, "RSA_SIGN")};
  const PROV_ENUMALGS_EX ex[] = {
      algEx(CALG_RC4, 128, 40, 128, "RC4"),          algEx(CALG_DES, 56, 56, 56, "DES"),
      algEx(CALG_3DES, 168, 168, 168, "3DES"),       algEx(CALG_3DES_112, 168, 168, 168, "3DES_112"),
      algEx(CALG_MD5, 128, 128, 128, "MD5"),         algEx(CALG_SHA1, 160, 160, 160, "SHA1"),
      algEx(CALG_SSL3_SHAMD5, 288, 288, 288, "SSL3 SHAMD5"),
      algEx(CALG_RSA_KEYX, 1024, 1024, 1024, "RSA_KEYX"),
      algEx(CALG_RSA_SIGN, 1024, 1024, 1024, "RSA_SIGN")};
  Prov p(nullptr, CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(p);
  std::vector<Bytes> got = enumerate(p.h, PP_ENUMALGS);
  ASSERT_EQ(8u, got.size());
  for (size_t i = 0; i < 8; ++i) {
    const uint8_t *e = reinterpret_cast<const uint8_t *>(&algs[i]);
    EXPECT_EQ(hex(Bytes(e, e + 32)), hex(got[i])) << i;
  }
  got = enumerate(p.h, PP_ENUMALGS_EX);
  ASSERT_EQ(9u, got.size());
  for (size_t i = 0; i < 9; ++i) {
    const uint8_t *e = reinterpret_cast<const uint8_t *>(&ex[i]);
    EXPECT_EQ(hex(Bytes(e, e + 88)), hex(got[i])) << i;
  }

  // The security descriptor is the platform's own initialised one with a null DACL.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  BYTE buf[64];
  DWORD len = sizeof buf;
  ASSERT_TRUE(CryptGetProvParam(p.h, PP_KEYSET_SEC_DESCR, buf, &len, 0));
  ASSERT_EQ(DWORD(sizeof sd), len);
  EXPECT_EQ(0, memcmp(buf, &sd, sizeof sd));
  EXPECT_EQ(kProvider, provString(p.h, PP_NAME));
}

TEST_F(WinProvider, KeyPairGeneratedOnTheTokenExportsIntoWinesProvider) {
  std::string serial = addToken();
  Prov p("win-gen", CRYPT_NEWKEYSET);
  ASSERT_TRUE(p) << std::hex << p.error;
  setPin(p.h);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(p.h, AT_KEYEXCHANGE, 0, &key)) << std::hex << GetLastError();
  Bytes blob = exportKey(key, 0, PUBLICKEYBLOB);
  ASSERT_EQ(148u, blob.size());
  Bytes modulus = tokenModulus(serial, "win-gen", 1);
  ASSERT_EQ(128u, modulus.size());
  EXPECT_EQ(hex(Bytes(modulus.rbegin(), modulus.rend())), hex(Bytes(blob.begin() + 20, blob.end())));

  Prov wine(nullptr, CRYPT_VERIFYCONTEXT, MS_DEF_PROV_A);
  ASSERT_TRUE(wine);
  HCRYPTKEY imported = 0;
  ASSERT_TRUE(CryptImportKey(wine.h, blob.data(), DWORD(blob.size()), 0, 0, &imported));
  EXPECT_EQ(hex(blob), hex(exportKey(imported, 0, PUBLICKEYBLOB)));
  DWORD bits = 0, len = sizeof bits;
  ASSERT_TRUE(CryptGetKeyParam(imported, KP_KEYLEN, reinterpret_cast<BYTE *>(&bits), &len, 0));
  EXPECT_EQ(1024u, bits);

  // A user key of the same pair, and PRIVATEKEYBLOB stays on the token.
  HCRYPTKEY user = 0;
  ASSERT_TRUE(CryptGetUserKey(p.h, AT_KEYEXCHANGE, &user));
  EXPECT_EQ(hex(blob), hex(exportKey(user, 0, PUBLICKEYBLOB)));
  DWORD n = 0;
  EXPECT_FALSE(CryptExportKey(user, 0, PRIVATEKEYBLOB, 0, nullptr, &n));
  EXPECT_EQ(DWORD(NTE_BAD_KEY_STATE), GetLastError());
  CryptDestroyKey(imported);
  CryptDestroyKey(user);
  CryptDestroyKey(key);
}

TEST_F(WinProvider, SessionKeysTravelBothWaysWithWinesProvider) {
  addToken();
  Prov p("win-sb", CRYPT_NEWKEYSET);
  ASSERT_TRUE(p) << std::hex << p.error;
  setPin(p.h);
  HCRYPTKEY ours = 0;
  ASSERT_TRUE(CryptGenKey(p.h, AT_KEYEXCHANGE, 0, &ours)) << std::hex << GetLastError();
  Prov wine(nullptr, CRYPT_VERIFYCONTEXT, MS_ENHANCED_PROV_A);
  ASSERT_TRUE(wine);

  for (ALG_ID alg : {ALG_ID(CALG_DES), ALG_ID(CALG_3DES)}) {
    // Wine wraps under the token's public key; the token unwraps.
    Bytes pub = exportKey(ours, 0, PUBLICKEYBLOB);
    HCRYPTKEY tokenPub = 0, wineSession = 0, ourSession = 0;
    ASSERT_TRUE(CryptImportKey(wine.h, pub.data(), DWORD(pub.size()), 0, 0, &tokenPub));
    ASSERT_TRUE(CryptGenKey(wine.h, alg, CRYPT_EXPORTABLE, &wineSession));
    Bytes simple = exportKey(wineSession, tokenPub, SIMPLEBLOB);
    ASSERT_EQ(140u, simple.size());
    ASSERT_TRUE(CryptImportKey(p.h, simple.data(), DWORD(simple.size()), ours, 0, &ourSession))
        << std::hex << GetLastError();
    EXPECT_EQ(hex(sessionKeyDigest(wine.h, wineSession)), hex(sessionKeyDigest(p.h, ourSession))) << alg;

    // Our provider wraps under Wine's key pair; Wine unwraps.
    HCRYPTKEY wineExchange = 0, winePubInOurs = 0, generated = 0, unwrapped = 0;
    ASSERT_TRUE(CryptGenKey(wine.h, AT_KEYEXCHANGE, 0, &wineExchange));
    Bytes winePub = exportKey(wineExchange, 0, PUBLICKEYBLOB);
    ASSERT_TRUE(CryptImportKey(p.h, winePub.data(), DWORD(winePub.size()), 0, 0, &winePubInOurs));
    ASSERT_TRUE(CryptGenKey(p.h, alg, 0, &generated));
    Bytes back = exportKey(generated, winePubInOurs, SIMPLEBLOB);
    ASSERT_EQ(12u + winePub.size() - 20, back.size());
    ASSERT_TRUE(CryptImportKey(wine.h, back.data(), DWORD(back.size()), wineExchange, 0, &unwrapped))
        << std::hex << GetLastError();
    EXPECT_EQ(hex(sessionKeyDigest(p.h, generated)), hex(sessionKeyDigest(wine.h, unwrapped))) << alg;
    for (HCRYPTKEY k : {tokenPub, wineSession, wineExchange, unwrapped}) CryptDestroyKey(k);
    for (HCRYPTKEY k : {ourSession, winePubInOurs, generated}) CryptDestroyKey(k);
  }
  CryptDestroyKey(ours);
}

TEST_F(WinProvider, PrivateKeyBlobFromOpenSslWorksOnTheToken) {
  Bytes blob = readFile(dataFile("openssl_private.blob"));
  Bytes pubBlob = readFile(dataFile("openssl_public.blob"));
  ASSERT_EQ(596u, blob.size());
  ASSERT_EQ(148u, pubBlob.size());
  addToken();
  Prov p("win-imp", CRYPT_NEWKEYSET);
  ASSERT_TRUE(p) << std::hex << p.error;
  setPin(p.h);
  HCRYPTKEY key = 0;
  Bytes shorter(blob.begin(), blob.end() - 1);
  EXPECT_FALSE(CryptImportKey(p.h, shorter.data(), DWORD(shorter.size()), 0, 0, &key));
  EXPECT_EQ(DWORD(NTE_BAD_DATA), GetLastError());
  ASSERT_TRUE(CryptImportKey(p.h, blob.data(), DWORD(blob.size()), 0, 0, &key)) << std::hex << GetLastError();
  // The token holds OpenSSL's public key ...
  Bytes exported = exportKey(key, 0, PUBLICKEYBLOB);
  EXPECT_EQ(hex(Bytes(pubBlob.begin() + 8, pubBlob.end())), hex(Bytes(exported.begin() + 8, exported.end())));
  // ... and its private half: a key wrapped by Wine under OpenSSL's public key opens on the token.
  Prov wine(nullptr, CRYPT_VERIFYCONTEXT, MS_DEF_PROV_A);
  HCRYPTKEY osslPub = 0, session = 0, unwrapped = 0;
  ASSERT_TRUE(CryptImportKey(wine.h, pubBlob.data(), DWORD(pubBlob.size()), 0, 0, &osslPub));
  ASSERT_TRUE(CryptGenKey(wine.h, CALG_DES, CRYPT_EXPORTABLE, &session));
  Bytes simple = exportKey(session, osslPub, SIMPLEBLOB);
  ASSERT_TRUE(CryptImportKey(p.h, simple.data(), DWORD(simple.size()), key, 0, &unwrapped))
      << std::hex << GetLastError();
  EXPECT_EQ(hex(sessionKeyDigest(wine.h, session)), hex(sessionKeyDigest(p.h, unwrapped)));
  for (HCRYPTKEY k : {osslPub, session}) CryptDestroyKey(k);
  CryptDestroyKey(unwrapped);
  CryptDestroyKey(key);
}

TEST_F(WinProvider, HashesEqualWinesProvider) {
  Prov ours(nullptr, CRYPT_VERIFYCONTEXT);
  Prov wine(nullptr, CRYPT_VERIFYCONTEXT, MS_DEF_PROV_A);
  ASSERT_TRUE(ours);
  ASSERT_TRUE(wine);
  std::mt19937 rng(99);
  for (int round = 0; round < 30; ++round) {
    Bytes data(rng() % 5000);
    for (auto &b : data) b = uint8_t(rng());
    for (ALG_ID alg : {ALG_ID(CALG_MD5), ALG_ID(CALG_SHA1)}) {
      HCRYPTHASH a = 0, b = 0;
      ASSERT_TRUE(CryptCreateHash(ours.h, alg, 0, 0, &a));
      ASSERT_TRUE(CryptCreateHash(wine.h, alg, 0, 0, &b));
      for (size_t off = 0; off < data.size();) {
        size_t n = std::min<size_t>(data.size() - off, 1 + rng() % 700);
        ASSERT_TRUE(CryptHashData(a, data.data() + off, DWORD(n), 0));
        ASSERT_TRUE(CryptHashData(b, data.data() + off, DWORD(n), 0));
        off += n;
      }
      EXPECT_EQ(hex(hashValue(b)), hex(hashValue(a))) << alg << " " << data.size();
      CryptDestroyHash(a);
      CryptDestroyHash(b);
    }
  }
  // SSL3 SHAMD5 holds the 36 bytes it is given.
  HCRYPTHASH ssl = 0;
  ASSERT_TRUE(CryptCreateHash(ours.h, CALG_SSL3_SHAMD5, 0, 0, &ssl));
  Bytes v(36);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(3 * i + 1);
  ASSERT_TRUE(CryptSetHashParam(ssl, HP_HASHVAL, v.data(), 0));
  EXPECT_EQ(hex(v), hex(hashValue(ssl)));
  EXPECT_FALSE(CryptHashData(ssl, v.data(), 1, 0));
  EXPECT_EQ(DWORD(NTE_BAD_HASH), GetLastError());
  CryptDestroyHash(ssl);
}

TEST_F(WinProvider, CertificateIsWrittenAndOtherContainersGo) {
  Bytes cert = readFile(dataFile("certificate.der"));
  ASSERT_GT(cert.size(), 300u);
  std::string serial = addToken();
  for (const char *n : {"win-other-1", "win-cert", "win-other-2"}) {
    Prov c(n, CRYPT_NEWKEYSET);
    ASSERT_TRUE(c) << n << " " << std::hex << c.error;
  }
  HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Global\\EVENT_CERT_CHANGE_KELM_ORV");
  if (!event) event = CreateEventA(nullptr, TRUE, FALSE, "Global\\EVENT_CERT_CHANGE_KELM_ORV");
  ASSERT_NE(nullptr, event);
  ResetEvent(event);

  Prov p("win-cert", 0);
  ASSERT_TRUE(p);
  setPin(p.h);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(p.h, AT_SIGNATURE, 0, &key)) << std::hex << GetLastError();
  EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
  ASSERT_TRUE(CryptSetKeyParam(key, KP_CERTIFICATE, cert.data(), 0)) << std::hex << GetLastError();
  EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(event, 0));

  DWORD len = 0;
  ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &len, 0)) << std::hex << GetLastError();
  EXPECT_EQ(DWORD(cert.size()), len);
  Bytes back(len);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, back.data(), &len, 0));
  EXPECT_EQ(hex(cert), hex(back));

  std::vector<std::string> names;
  for (const Bytes &n : enumerate(p.h, PP_ENUMCONTAINERS)) names.emplace_back(reinterpret_cast<const char *>(n.data()));
  EXPECT_EQ(std::vector<std::string>{"win-cert"}, names);
  CryptDestroyKey(key);
  CloseHandle(event);
}

// Session keys made by our provider, handed to Wine's enhanced provider wrapped in a SIMPLEBLOB:
// both encrypt and decrypt alike, every algorithm and mode Wine has, lengths 0 to 40, final and
// not final. The cases are written out for OpenSSL too (csp_cipher_openssl).
struct CipherMode {
  DWORD mode, bits;
  const char *name;  // for the vector file
};

void setKeyValue(HCRYPTKEY k, DWORD param, DWORD v, bool *ok = nullptr) {
  BOOL r = CryptSetKeyParam(k, param, reinterpret_cast<const BYTE *>(&v), 0);
  if (ok) *ok = *ok && r;
}

TEST_F(WinProvider, EncryptionMatchesWinesProvider) {
  Prov ours(nullptr, CRYPT_VERIFYCONTEXT);
  Prov wine(nullptr, CRYPT_VERIFYCONTEXT, MS_ENHANCED_PROV_A);
  ASSERT_TRUE(ours);
  ASSERT_TRUE(wine);
  HCRYPTKEY wineExchange = 0, exchangeInOurs = 0;
  ASSERT_TRUE(CryptGenKey(wine.h, AT_KEYEXCHANGE, 0, &wineExchange));
  Bytes pub = exportKey(wineExchange, 0, PUBLICKEYBLOB);
  ASSERT_TRUE(CryptImportKey(ours.h, pub.data(), DWORD(pub.size()), 0, 0, &exchangeInOurs));
  const char *dir = getenv("UK_CSP_TESTDATA");
  std::string vectorsPath = std::string("Z:") + (dir ? dir : ".") + "/cipher_vectors.txt";
  FILE *vectors = fopen(vectorsPath.c_str(), "w");
  ASSERT_NE(nullptr, vectors);

  const BYTE iv[8] = {0x1F, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x88};
  struct Alg {
    ALG_ID id;
    DWORD flags;
    const char *name;
  } algs[] = {{CALG_DES, 0, "des"}, {CALG_3DES, 0, "3des"}, {CALG_3DES_112, 0, "3des112"},
              {CALG_RC4, 0, "rc4"}, {CALG_RC4, 0x00280000, "rc4-40"}};
  const CipherMode blockModes[] = {{CRYPT_MODE_CBC, 0, "cbc"}, {CRYPT_MODE_ECB, 0, "ecb"},
                                   {CRYPT_MODE_OFB, 8, "ofb8"}, {CRYPT_MODE_OFB, 64, "ofb64"},
                                   {CRYPT_MODE_CFB, 8, "cfb8"}, {CRYPT_MODE_CFB, 64, "cfb64"}};
  int compared = 0;
  for (const Alg &a : algs) {
    HCRYPTKEY k = 0, w = 0;
    ASSERT_TRUE(CryptGenKey(ours.h, a.id, a.flags, &k)) << a.name;
    Bytes simple = exportKey(k, exchangeInOurs, SIMPLEBLOB);
    ASSERT_FALSE(simple.empty()) << a.name;
    // Two-key Triple-DES travels as the 24 bytes K1 K2 K1, which is three-key Triple-DES to Wine.
    if (a.id == CALG_3DES_112) reinterpret_cast<BLOBHEADER *>(simple.data())->aiKeyAlg = CALG_3DES;
    ASSERT_TRUE(CryptImportKey(wine.h, simple.data(), DWORD(simple.size()), wineExchange, CRYPT_EXPORTABLE, &w))
        << a.name << " " << std::hex << GetLastError();
    Bytes plain = exportKey(w, 0, PLAINTEXTKEYBLOB);
    ASSERT_GT(plain.size(), 12u);
    Bytes keyBytes(plain.begin() + 12, plain.end());
    const bool rc4 = a.id == CALG_RC4;
    const CipherMode rc4Mode[] = {{0, 0, "stream"}};
    const CipherMode *modes = rc4 ? rc4Mode : blockModes;
    const size_t nModes = rc4 ? 1 : sizeof blockModes / sizeof blockModes[0];
    for (size_t m = 0; m < nModes; ++m) {
      const CipherMode &mode = modes[m];
      // Our ciphers' modes: DES runs OFB and CFB with 8 bits here (64 for CFB), Triple-DES with 64.
      if (!rc4 && mode.bits && (a.id == CALG_DES ? mode.mode == CRYPT_MODE_OFB && mode.bits == 64
                                                 : mode.bits != 64))
        continue;
      // Wine's provider takes OFB and every feedback size, but runs only ECB, CBC and 8-bit CFB
      // (OFB fails with NTE_BAD_ALGID, CFB is 8-bit whatever the size): the other modes are
      // compared with OpenSSL only (csp_cipher_openssl).
      bool wineHasIt = rc4 || mode.mode == CRYPT_MODE_CBC || mode.mode == CRYPT_MODE_ECB ||
                       (mode.mode == CRYPT_MODE_CFB && mode.bits == 8);
      if (!rc4) {
        bool set = true;
        setKeyValue(k, KP_MODE, mode.mode, &set);
        setKeyValue(k, KP_MODE_BITS, mode.bits, &set);
        ASSERT_TRUE(set);
        setKeyValue(w, KP_MODE, mode.mode, &wineHasIt);
        setKeyValue(w, KP_MODE_BITS, mode.bits, &wineHasIt);
      }
      for (int final = 1; final >= 0; --final) {
        for (DWORD n = 0; n <= 40; ++n) {
          SCOPED_TRACE(std::string(a.name) + "-" + mode.name + (final ? " final " : " open ") + std::to_string(n));
          if (!rc4) {
            ASSERT_TRUE(CryptSetKeyParam(k, KP_IV, iv, 0));
            if (wineHasIt) CryptSetKeyParam(w, KP_IV, iv, 0);
          }
          Bytes in(n);
          for (DWORD i = 0; i < n; ++i) in[i] = BYTE(n * 3 + i * 7);
          Bytes mine = in, theirs = in;
          mine.resize(n + 16);
          theirs.resize(n + 16);
          DWORD mineLen = n, theirLen = n;
          BOOL okMine = CryptEncrypt(k, 0, final, 0, mine.data(), &mineLen, DWORD(mine.size()));
          DWORD errMine = okMine ? 0 : GetLastError();
          if (!final && n % 8 && !rc4) {
            EXPECT_FALSE(okMine);
            EXPECT_EQ(DWORD(NTE_BAD_DATA), errMine);
          } else {
            ASSERT_TRUE(okMine) << std::hex << errMine;
          }
          if (wineHasIt) {
            BOOL okTheirs = CryptEncrypt(w, 0, final, 0, theirs.data(), &theirLen, DWORD(theirs.size()));
            // An empty message: Wine writes nothing for it where a final block carries its pad.
            if (!(final && n == 0 && okTheirs && theirLen == 0)) {
              EXPECT_EQ(okMine, okTheirs);
              if (okMine && okTheirs) {
                EXPECT_EQ(hex(Bytes(theirs.begin(), theirs.begin() + theirLen)),
                          hex(Bytes(mine.begin(), mine.begin() + mineLen)));
                ++compared;
              }
            }
          }
          if (!okMine) continue;
          // An RC4 stream runs on across calls that are not final: only final calls (each
          // starting the stream afresh) come back whole and stand on their own.
          if (rc4 && !final) continue;
          // Back again, by our provider and by Wine's.
          // (One byte more than the ciphertext: an empty buffer has no address, and advapi32
          // refuses a null one.)
          Bytes back(mine.begin(), mine.begin() + mineLen + 1);
          DWORD backLen = mineLen;
          if (!rc4) {
            ASSERT_TRUE(CryptSetKeyParam(k, KP_IV, iv, 0));
          }
          ASSERT_TRUE(CryptDecrypt(k, 0, final, 0, back.data(), &backLen)) << std::hex << GetLastError();
          EXPECT_EQ(hex(in), hex(Bytes(back.begin(), back.begin() + backLen)));
          if (wineHasIt && mineLen) {
            Bytes wback(mine.begin(), mine.begin() + mineLen);
            DWORD wlen = mineLen;
            if (!rc4) CryptSetKeyParam(w, KP_IV, iv, 0);
            EXPECT_TRUE(CryptDecrypt(w, 0, final, 0, wback.data(), &wlen)) << std::hex << GetLastError();
            EXPECT_EQ(hex(in), hex(Bytes(wback.begin(), wback.begin() + wlen)));
          }
          fprintf(vectors, "%s %s %d %s %s %s %s\n", a.name, mode.name, final, hex(keyBytes).c_str(),
                  rc4 ? "-" : hex(Bytes(iv, iv + 8)).c_str(), n ? hex(in).c_str() : "-",
                  mineLen ? hex(Bytes(mine.begin(), mine.begin() + mineLen)).c_str() : "-");
        }
      }
      if (!wineHasIt) printf("Wine's provider has no %s-%s: compared with OpenSSL only\n", a.name, mode.name);
    }
    CryptDestroyKey(k);
    CryptDestroyKey(w);
  }
  fclose(vectors);
  EXPECT_GT(compared, 200);
  CryptDestroyKey(exchangeInOurs);
  CryptDestroyKey(wineExchange);
}

TEST_F(WinProvider, UnsupportedModeBitsFailAndLeaveThePlaintextAlone) {
  Prov ours(nullptr, CRYPT_VERIFYCONTEXT);
  HCRYPTKEY k = 0;
  ASSERT_TRUE(CryptGenKey(ours.h, CALG_3DES, 0, &k));
  setKeyValue(k, KP_MODE, CRYPT_MODE_OFB);
  setKeyValue(k, KP_MODE_BITS, 8);  // Triple-DES runs OFB with 64 bits only
  BYTE data[16] = "plain text here";
  DWORD len = 15;
  EXPECT_FALSE(CryptEncrypt(k, 0, TRUE, 0, data, &len, sizeof data));
  EXPECT_EQ(DWORD(NTE_BAD_KEY_STATE), GetLastError());
  EXPECT_STREQ("plain text here", reinterpret_cast<char *>(data));
  EXPECT_EQ(15u, len);
  CryptDestroyKey(k);
}

TEST_F(WinProvider, RandomBytes) {
  Prov ours(nullptr, CRYPT_VERIFYCONTEXT);
  BYTE a[48] = {0}, b[48] = {0};
  EXPECT_TRUE(CryptGenRandom(ours.h, 0, a));
  ASSERT_TRUE(CryptGenRandom(ours.h, sizeof a, a));
  ASSERT_TRUE(CryptGenRandom(ours.h, sizeof b, b));
  EXPECT_NE(0, memcmp(a, b, sizeof a));
}

TEST_F(WinProvider, LoadingCreatesTheSharedObjectsAndAmendsThePathOnce) {
  Prov p(nullptr, CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(p);
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV");
  EXPECT_NE(nullptr, mutex);
  if (mutex) CloseHandle(mutex);
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "Global\\EVENT_CERT_CHANGE_KELM_ORV");
  EXPECT_NE(nullptr, event);
  if (event) CloseHandle(event);

  // The provider's folder is one entry of the machine's Path, however often it was loaded (this
  // program runs again and again in the same prefix).
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                         "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                         0, KEY_READ, &key));
  char path[8192] = {0};
  DWORD len = sizeof path - 1;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE *>(path), &len));
  RegCloseKey(key);
  std::string dir = csptest::programDir();
  int found = 0;
  for (char *entry = strtok(path, ";"); entry; entry = strtok(nullptr, ";"))
    found += _stricmp(entry, dir.c_str()) == 0;
  EXPECT_EQ(1, found) << path;
}

TEST(WinProviderModule, ExportTableAndCode) {
  PeImage pe = readPeImage(providerDll());
  ASSERT_TRUE(pe.ok);
  EXPECT_EQ(sizeof(void *) == 4, pe.is32);
  EXPECT_EQ("zkscsp.dll", pe.exportModuleName);
  std::vector<std::string> expected = {
      "CPAcquireContext", "CPCreateHash",   "CPDecrypt",      "CPDeriveKey",      "CPDestroyHash",
      "CPDestroyKey",     "CPDuplicateHash", "CPDuplicateKey", "CPEncrypt",        "CPExportKey",
      "CPGenKey",         "CPGenRandom",    "CPGetHashParam", "CPGetKeyParam",    "CPGetProvParam",
      "CPGetUserKey",     "CPHashData",     "CPHashSessionKey", "CPImportKey",    "CPReleaseContext",
      "CPSetHashParam",   "CPSetKeyParam",  "CPSetProvParam", "CPSignHash",       "CPVerifySignature",
      "zksGetCode"};
  EXPECT_EQ(expected, pe.exports);
  bool linksTokenLibrary = false;
  for (auto &imp : pe.imports) linksTokenLibrary = linksTokenLibrary || imp.dll == "ORV_KELM_Q57Tokenlib.dll";
  EXPECT_TRUE(linksTokenLibrary);

  // zksGetCode is called by programs directly, not through advapi32.
  HMODULE m = LoadLibraryA(providerDll().c_str());
  ASSERT_NE(nullptr, m);
  auto getCode = reinterpret_cast<BOOL(WINAPI *)(BYTE *, DWORD *)>(
      reinterpret_cast<void *>(GetProcAddress(m, "zksGetCode")));
  ASSERT_NE(nullptr, getCode);
  BYTE code[32];
  memset(code, 0xEE, sizeof code);
  DWORD len = 19;
  EXPECT_FALSE(getCode(code, &len));
  EXPECT_EQ(19u, len);
  EXPECT_EQ(0xEE, code[0]);
  len = sizeof code;
  EXPECT_TRUE(getCode(code, &len));
  EXPECT_EQ(20u, len);
  EXPECT_EQ(0xEE, code[20]);
  FreeLibrary(m);
}

}  // namespace
