// PIN and device administration and certificate import, export and delete in the client's core,
// natively against emulated tokens: the PIN rules and the dialogs' checks in their order, tries
// spent on the token, unlock of a blocked PIN, label and format, and the import of key material
// (checked before the token is touched, written as big-endian records that sign correctly, every
// failure leaving the token as it was), with the platform's errors injected at the import's seam.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>
#include <vector>

#include "../objects/ossl.h"
#include "admin_ids.h"
#include "admin_import.h"
#include "client_fakes.h"

using namespace client;
using namespace clienttest;

namespace {

using Bytes = std::vector<uint8_t>;

// ---- key material made by OpenSSL ----------------------------------------------------------------

// An RSA key of the given size and public exponent.
struct TestKey {
  RSA *rsa = RSA_new();
  TestKey(int bits, unsigned long e) {
    BIGNUM *bn = BN_new();
    BN_set_word(bn, e);
    RSA_generate_key_ex(rsa, bits, bn, nullptr);
    BN_free(bn);
  }
  ~TestKey() { RSA_free(rsa); }
  int Bytes_() const { return RSA_size(rsa); }
};

void PutLe(const BIGNUM *n, size_t width, Bytes *out) {
  Bytes be(width);
  BN_bn2binpad(n, be.data(), int(width));
  out->insert(out->end(), be.rbegin(), be.rend());
}

void PutLe32(uint32_t v, Bytes *out) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// The PRIVATEKEYBLOB CryptoAPI exports for the key (numbers little-endian).
Bytes PrivateKeyBlob(const TestKey &k, uint32_t alg = 0xA400) {
  const BIGNUM *n, *e, *d, *p, *q, *dp, *dq, *qinv;
  RSA_get0_key(k.rsa, &n, &e, &d);
  RSA_get0_factors(k.rsa, &p, &q);
  RSA_get0_crt_params(k.rsa, &dp, &dq, &qinv);
  size_t bytes = size_t(k.Bytes_()), half = bytes / 2;
  Bytes b = {7, 2, 0, 0};
  PutLe32(alg, &b);
  PutLe32(0x32415352, &b);  // "RSA2"
  PutLe32(uint32_t(bytes * 8), &b);
  PutLe32(uint32_t(BN_get_word(e)), &b);
  PutLe(n, bytes, &b);
  PutLe(p, half, &b);
  PutLe(q, half, &b);
  PutLe(dp, half, &b);
  PutLe(dq, half, &b);
  PutLe(qinv, half, &b);
  PutLe(d, bytes, &b);
  return b;
}

Bytes BigEndian(const BIGNUM *n, size_t width) {
  Bytes b(width);
  BN_bn2binpad(n, b.data(), int(width));
  return b;
}

// A certificate of the key, issued to cn (signed by the key itself), with room for padding in an
// extension so that its size can be chosen.
Bytes Certificate(const TestKey &k, const std::string &cn, size_t padTo = 0) {
  EVP_PKEY *pkey = EVP_PKEY_new();
  RSA_up_ref(k.rsa);
  EVP_PKEY_assign_RSA(pkey, k.rsa);
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 77);
  ASN1_TIME_set_string(X509_getm_notBefore(x), "20260102000000Z");
  ASN1_TIME_set_string(X509_getm_notAfter(x), "20300304000000Z");
  X509_NAME *name = X509_NAME_new();
  testcert::addEntry(name, "CN", cn);
  X509_set_subject_name(x, name);
  testcert::addEntry(name, "O", "Issuer");
  X509_set_issuer_name(x, name);
  X509_NAME_free(name);
  if (padTo) {
    std::string comment(padTo, 'x');
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_netscape_comment, comment.c_str());
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_set_pubkey(x, pkey);
  X509_sign(x, pkey, EVP_sha256());
  Bytes der(size_t(i2d_X509(x, nullptr)));
  unsigned char *p = der.data();
  i2d_X509(x, &p);
  X509_free(x);
  EVP_PKEY_free(pkey);
  return der;
}

// The DER RSAPublicKey of the key (what a certificate's subject public key holds).
Bytes RsaPublicKey(const TestKey &k) {
  Bytes der(size_t(i2d_RSAPublicKey(k.rsa, nullptr)));
  unsigned char *p = der.data();
  i2d_RSAPublicKey(k.rsa, &p);
  return der;
}

// The subject public key of a DER certificate (its DER RSAPublicKey).
Bytes SubjectPublicKey(const Bytes &der) {
  const unsigned char *p = der.data();
  X509 *x = d2i_X509(nullptr, &p, long(der.size()));
  if (!x) return {};
  const unsigned char *key = nullptr;
  int len = 0;
  X509_PUBKEY_get0_param(nullptr, &key, &len, nullptr, X509_get_X509_PUBKEY(x));
  Bytes out(key, key + len);
  X509_free(x);
  return out;
}

// A certificate of the import source with scripted CryptoAPI answers; its public key is the
// certificate's unless one is given.
class FakeSource : public ISourceCertificate {
 public:
  FakeSource(Bytes der, Bytes blob, Bytes publicKey = {})
      : der_(std::move(der)), blob_(std::move(blob)),
        pub_(publicKey.empty() ? SubjectPublicKey(der_) : std::move(publicKey)) {}
  const Bytes &Der() const override { return der_; }
  Bytes PublicKey() const override { return pub_; }
  uint32_t AcquireKey(uint32_t *keySpec) override {
    calls += "acquire ";
    if (!acquireError) *keySpec = spec;
    return acquireError;
  }
  uint32_t OpenKey() override {
    calls += "open ";
    return openError;
  }
  uint32_t ExportSize(uint32_t *size) override {
    calls += "size ";
    if (!sizeError) *size = uint32_t(blob_.size());
    return sizeError;
  }
  bool Export(uint32_t size, Bytes *blob) override {
    calls += "export ";
    if (size != blob_.size()) return false;
    *blob = blob_;
    return true;
  }
  uint32_t acquireError = 0, openError = 0, sizeError = 0, spec = 1;
  std::string calls;

 private:
  Bytes der_, blob_, pub_;
};

// The import dialog's boxes: recorded, answered as scripted (Yes by default).
class FakeImportDialog : public IImportDialog {
 public:
  int MessageBox(const std::wstring &text, unsigned style) override {
    texts.push_back(text);
    styles.push_back(style);
    if (answers.empty()) return kAnswerYes;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<std::wstring> texts;
  std::vector<unsigned> styles;
  std::vector<int> answers;
};

class ClientAdminTest : public ClientModelTest {
 protected:
  void SetUp() override {
    ClientModelTest::SetUp();
    AddToken(kSerial, "Admin");
    ASSERT_TRUE(list.Enumerate());
    d = list.Devices()[0].get();
  }
  UK_DEV_INFO *Dev() { return devs_.back().get(); }
  tokensim::Card &Card() { return bus_->card(kSerial); }

  // The token's containers as the library lists them.
  std::vector<UK_CONTAINER_INFO> Containers() {
    UK_CONTAINER_INFO c[5] = {};
    uint32_t n = 4;
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(Dev(), 0));
    EXPECT_EQ(0u, zksTokenListContainers(Dev(), c, &n));
    return std::vector<UK_CONTAINER_INFO>(c, c + n);
  }
  Bytes ReadCert(UK_CONTAINER_INFO &c, uint32_t spec) {
    Bytes buf(4096);
    uint32_t len = 4096;
    if (zksTokenReadCert(Dev(), &c, buf.data(), &len, spec) != 0) return {};
    buf.resize(len);
    return buf;
  }
  // The user PIN's tries left as the token reports them (block A1, byte 2).
  int UserTriesLeft() {
    uint32_t changed = 0;
    uint8_t usable = 0, tries = 0;
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(Dev(), 0));
    EXPECT_EQ(0u, zksTokenGetDeviceInfo(Dev(), &changed, &usable, &tries, 0));
    return tries;
  }
  bool Verifies(const char *pin, bool so = false) {
    uint8_t tries = 0;
    zksTokenSelectPkiWorkDF(Dev(), 0);
    auto p = reinterpret_cast<const uint8_t *>(pin);
    uint32_t n = uint32_t(strlen(pin));
    return (so ? zksTokenVerifySoPin(Dev(), p, n, &tries) : zksTokenVerifyUserPin(Dev(), p, n, &tries)) == 0;
  }
  // The node of this test's token.
  std::unique_ptr<CTreeNode> TokenNode() { return std::unique_ptr<CTreeNode>(new CTreeDeviceNode(d)); }

  static constexpr const char *kSerial = "UKADM00001";
  CMarvoDevice *d = nullptr;
  RecordingShell shell;
};

const wchar_t *kPin = L"482915";  // the emulator's default user PIN for this serial

// ---- PIN rules and the dialogs' checks -----------------------------------------------------------

TEST(AdminRules, NewPinRulesInTheirOrder) {
  SetLanguageIndex(ui::kEnglish);
  EXPECT_EQ(L"PIN lengeh should not less than 6,please input again!", NewPinProblem(L"12345", L"12345"));
  EXPECT_EQ(L"PIN lengeh should not less than 6,please input again!", NewPinProblem(L"", L"x"));
  EXPECT_EQ(L"PIN lengeh should not bigger than 10 ,please input again!", NewPinProblem(L"12345678901", L""));
  EXPECT_EQ(L"Invalid PIN,please retry!", NewPinProblem(L"abc\tdef", L"abc\tdef"));
  EXPECT_EQ(L"Invalid PIN,please retry!", NewPinProblem(L"abc\x7F" L"def", L"abc\x7F" L"def"));
  EXPECT_EQ(L"Invalid PIN,please retry!", NewPinProblem(L"密码密码密码", L"密码密码密码"));
  EXPECT_EQ(L"New PINs do not match!", NewPinProblem(L"Abc123", L"Abc124"));
  EXPECT_EQ(L"", NewPinProblem(L"Abc123", L"Abc123"));
  EXPECT_EQ(L"", NewPinProblem(L" ~!@#$", L" ~!@#$"));  // 32 and 126 are printable
  EXPECT_EQ(L"", NewPinProblem(L"1234567890", L"1234567890"));
  SetLanguageIndex(ui::kSimplifiedChinese);
  EXPECT_NE(std::wstring::npos, NewPinProblem(L"1", L"1").find(L"6"));
  SetLanguageIndex(ui::kEnglish);
}

TEST_F(ClientAdminTest, NewPinEqualToTheCurrentOneIsRefusedBeforeTheTokenIsTouched) {
  clearTrace();
  DialogVerdict v = ModifyPinVerdict(*d, false, L"Abc123", L"Abc123", L"Abc123");
  EXPECT_FALSE(v.close);
  EXPECT_EQ(L"New PINs can't be same with old PIN for the first time!", v.message);
  EXPECT_EQ(IDC_MODIFY_NEW, v.focus);
  EXPECT_EQ(unsigned(kBoxError), v.style);
  // A rule broken earlier is named first, even when the PINs are also equal.
  EXPECT_EQ(L"PIN lengeh should not less than 6,please input again!",
            ModifyPinVerdict(*d, true, L"12345", L"12345", L"12345").message);
  EXPECT_TRUE(frames().empty());
}

TEST_F(ClientAdminTest, WrongCurrentPinCostsOneTryAndTheDialogStays) {
  int before = UserTriesLeft();
  DialogVerdict v = ModifyPinVerdict(*d, false, L"000000", L"Abc123", L"Abc123");
  EXPECT_FALSE(v.close);
  EXPECT_EQ(IDC_MODIFY_NEW, v.focus);
  EXPECT_EQ(before - 1, UserTriesLeft());
  EXPECT_EQ(L"PIN verification fail, you have " + std::to_wstring(before - 1) + L" chance(s) left to retry",
            v.message);
  // The right current PIN closes the dialog (and the change itself is the command's).
  EXPECT_TRUE(ModifyPinVerdict(*d, false, kPin, L"Abc123", L"Abc123").close);
  EXPECT_TRUE(Verifies("482915"));
  EXPECT_EQ(0, host.held);
}

TEST_F(ClientAdminTest, ModifyPinCommandsChangeBothPinsOnTheToken) {
  auto node = TokenNode();
  // The user types a 5-character PIN, then mismatching ones, then the right entries.
  shell.admin.entries = {{kPin, L"12345", L"12345"}, {kPin, L"Abc123", L"Abc124"}, {kPin, L"Abc123", L"Abc123"}};
  ASSERT_TRUE(DispatchCommand(shell, kCmdModifyPin, node.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"PIN lengeh should not less than 6,please input again!",
                                       L"New PINs do not match!"}),
            shell.admin.refusals);
  EXPECT_EQ((std::vector<std::wstring>{L"PIN Modified"}), shell.notices);
  EXPECT_TRUE(Verifies("Abc123"));
  EXPECT_FALSE(d->CheckPinChange());  // no longer the factory PIN

  // The administrator PIN (the emulator's default "70361524").
  shell.admin.entries = {{L"70361524", L"Adm1n99", L"Adm1n99"}};
  ASSERT_TRUE(DispatchCommand(shell, kCmdModifyAdminPin, node.get()));
  EXPECT_EQ("ModifyAdminPin", shell.admin.calls.back());
  EXPECT_EQ(L"PIN Modified", shell.notices.back());
  EXPECT_TRUE(Verifies("Adm1n99", true));

  // The token is not left with a verified PIN: key generation needs the PIN again.
  UK_CONTAINER_INFO probe = objtest::namedContainer("probe");
  ASSERT_EQ(0u, zksTokenNewContainer(Dev(), &probe));
  EXPECT_EQ(0x80006982u, zksTokenGenRsaKeyPair(Dev(), &probe, 1)) << "the PIN stayed verified";
}

TEST_F(ClientAdminTest, ChangeThatFailsOnTheTokenShowsTheCode) {
  auto node = TokenNode();
  shell.admin.entries = {{kPin, L"Abc123", L"Abc123"}};
  // The dialog verified the PIN; the change then fails (the token answers "memory failure").
  shell.admin.afterOk = [&] {
    bus_->fault = [](const uktest::Frame &f, uint16_t *sw) {
      if (f.ins() != 0x24) return false;  // CHANGE REFERENCE DATA
      *sw = 0x6581;
      return true;
    };
  };
  ASSERT_TRUE(DispatchCommand(shell, kCmdModifyPin, node.get()));
  ASSERT_EQ(1u, shell.boxes.size());
  EXPECT_EQ(L"Modify PIN fail, error code:0X80006581", shell.boxes[0]);
  EXPECT_EQ(unsigned(kBoxWarning), shell.styles[0]);
  EXPECT_TRUE(shell.notices.empty());
  bus_->fault = nullptr;
  EXPECT_TRUE(Verifies("482915"));
}

TEST_F(ClientAdminTest, BlockedUserPinIsUnlockedWithTheAdministratorPin) {
  // Wrong PINs in the PIN-entry dialog: each attempt costs exactly one try.
  std::vector<std::wstring> seen;
  int tries = UserTriesLeft();
  while (tries > 0) {
    DialogVerdict v = InputPinVerdict(*d, L"000000");
    EXPECT_FALSE(v.close);
    EXPECT_EQ(IDC_INPUT_PIN, v.focus);
    EXPECT_EQ(tries - 1, UserTriesLeft());
    --tries;
    seen.push_back(v.message);
  }
  EXPECT_EQ(L"PIN verification fail, you have 9 chance(s) left to retry", seen.front());
  EXPECT_EQ(L"PIN verification fail, you have 0 chance(s) left to retry", seen.back());
  EXPECT_EQ(L"Device locked!", InputPinVerdict(*d, kPin).message);
  EXPECT_TRUE(d->IsDeviceLocked());

  // Unlock: the new PIN's rules first (focus on it), a wrong administrator PIN costs one of its
  // tries (focus on it), then the change.
  auto node = TokenNode();
  shell.admin.entries = {{L"70361524", L"123", L"123"}, {L"99999999", L"Abc123", L"Abc123"},
                         {L"70361524", L"Abc123", L"Abc123"}};
  ASSERT_TRUE(DispatchCommand(shell, kCmdUnlock, node.get()));
  ASSERT_EQ(2u, shell.admin.refusals.size());
  EXPECT_EQ(L"PIN lengeh should not less than 6,please input again!", shell.admin.refusals[0]);
  EXPECT_EQ(IDC_UNLOCK_NEW, shell.admin.focus[0]);
  EXPECT_EQ(L"PIN verification fail, you have 9 chance(s) left to retry", shell.admin.refusals[1]);
  EXPECT_EQ(IDC_UNLOCK_ADMIN, shell.admin.focus[1]);
  EXPECT_EQ((std::vector<std::wstring>{L"User PIN unlocked!"}), shell.notices);
  EXPECT_FALSE(d->IsDeviceLocked());
  EXPECT_TRUE(Verifies("Abc123"));
}

TEST_F(ClientAdminTest, UnlockThatFailsOnTheTokenShowsTheCode) {
  auto node = TokenNode();
  shell.admin.entries = {{L"70361524", L"Abc123", L"Abc123"}};
  shell.admin.afterOk = [&] { host.lockAvailable = false; };
  ASSERT_TRUE(DispatchCommand(shell, kCmdUnlock, node.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"User PIN unlock fail, error code:0X0!"}), shell.boxes);
  host.lockAvailable = true;
  EXPECT_TRUE(Verifies("482915"));
}

TEST_F(ClientAdminTest, PinEntryLimitsAndATimeOut) {
  clearTrace();
  DialogVerdict v = InputPinVerdict(*d, std::wstring(21, L'1'));
  EXPECT_EQ(L"Wrong PIN!", v.message);
  EXPECT_TRUE(frames().empty());
  host.lockAvailable = false;  // no device lock: a time-out for the user
  EXPECT_EQ(L"Verify PIN time out, please try again!", InputPinVerdict(*d, kPin).message);
  host.lockAvailable = true;
  EXPECT_TRUE(InputPinVerdict(*d, kPin).close);
  EXPECT_TRUE(InputPinVerdict(*d, std::wstring(L"482915")).close);
}

// ---- label and format ----------------------------------------------------------------------------

TEST_F(ClientAdminTest, LabelChecksAndTwentyFourChineseCharacters) {
  host.gbk = true;
  EXPECT_EQ(L"Device label should not be empty", LabelVerdict(L"").message);
  EXPECT_EQ(IDC_LABEL_TEXT, LabelVerdict(L"").focus);
  EXPECT_EQ(unsigned(kBoxWarning), LabelVerdict(L"").style);
  EXPECT_EQ(L"Device label at most 64 characters", LabelVerdict(std::wstring(65, L'a')).message);
  EXPECT_TRUE(LabelVerdict(std::wstring(64, L'a')).close);
  std::wstring chinese;
  for (int i = 0; i < 24; ++i) chinese += wchar_t(0x4E00 + i * 37);  // 48 bytes in GBK
  ASSERT_EQ(48u, host.ToCodePage(chinese).size());
  EXPECT_EQ(LabelProblem(std::string(33 * 2, 'x')), L"Device label at most 64 characters");

  auto node = TokenNode();
  shell.admin.entries = {{L""}, {chinese}};
  ASSERT_TRUE(DispatchCommand(shell, kCmdRenameLabel, node.get()));
  EXPECT_EQ(L"Admin", shell.admin.presetLabel);
  EXPECT_EQ((std::vector<std::wstring>{L"Device label should not be empty"}), shell.admin.refusals);
  EXPECT_EQ((std::vector<std::wstring>{L"Device label modified"}), shell.notices);
  EXPECT_EQ(1, shell.admin.itemUpdates);
  EXPECT_EQ(chinese, d->GetLabel());
  // On the token: the 48 bytes, read back as the same text.
  ASSERT_TRUE(list.Enumerate());
  EXPECT_EQ(chinese, list.Devices()[0]->GetLabel());
}

TEST_F(ClientAdminTest, LabelChangeThatFailsKeepsTheNewTextUntilTheNextRefresh) {
  auto node = TokenNode();
  shell.admin.entries = {{L"Renamed"}};
  bus_->fault = [](const uktest::Frame &f, uint16_t *sw) {
    if (f.ins() != 0xDB) return false;  // PUT DATA of the label
    *sw = 0x6A84;
    return true;
  };
  ASSERT_TRUE(DispatchCommand(shell, kCmdRenameLabel, node.get()));
  bus_->fault = nullptr;
  ASSERT_EQ(1u, shell.boxes.size());
  EXPECT_EQ(L"Modify label fail, errorcode:0x80006a84", shell.boxes[0]);
  EXPECT_EQ(0, shell.admin.itemUpdates);
  EXPECT_EQ(L"Renamed", d->GetLabel());
  ASSERT_TRUE(list.Enumerate());
  EXPECT_EQ(L"Admin", list.Devices()[0]->GetLabel());
}

TEST(AdminRules, FormatSettingsChecksInTheirOrder) {
  SetLanguageIndex(ui::kEnglish);
  FormatSettings s{kFormatUserPin, kFormatRetries, kFormatAdminPin, kFormatRetries};
  EXPECT_TRUE(CheckFormatSettings(s).close);
  FormatSettings bad = s;
  bad.userPin = "12345";
  bad.adminRetries = "0";
  DialogVerdict v = CheckFormatSettings(bad);
  EXPECT_EQ(L"Invalid user PIN", v.message);
  EXPECT_EQ(IDC_FORMAT_USER_PIN, v.focus);
  EXPECT_EQ(unsigned(kBoxWarning), v.style);
  bad = s;
  bad.adminPin = "";
  EXPECT_EQ(IDC_FORMAT_ADMIN_PIN, CheckFormatSettings(bad).focus);
  for (const char *r : {"0", "16", "ab", "", "99"}) {
    bad = s;
    bad.userRetries = r;
    EXPECT_EQ(L"Invalid user PIN retry times,should be between 1 to 15", CheckFormatSettings(bad).message) << r;
    bad = s;
    bad.adminRetries = r;
    EXPECT_EQ(IDC_FORMAT_ADMIN_RETRIES, CheckFormatSettings(bad).focus) << r;
  }
  bad = s;
  bad.userRetries = "15";
  bad.adminRetries = "1";
  EXPECT_TRUE(CheckFormatSettings(bad).close);
  EXPECT_EQ(L"\nError code: 8000655A", FormatFailureText(0x8000655Au));
  EXPECT_EQ(L"\nError code: 00000104", FormatFailureText(260));
}

TEST_F(ClientAdminTest, FormatTaskRestoresTheDefaultPinStateAndReportsProgress) {
  // The token holds a container and a changed PIN before.
  AddContainer("old", "", "Old Cert");
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenModifyUserPin(Dev(), reinterpret_cast<const uint8_t *>("482915"), 6,
                                      reinterpret_cast<const uint8_t *>("Chang3d"), 7, &tries));
  ASSERT_FALSE(d->CheckPinChange());
  clearTrace();
  int bar = 0;
  CFormatDeviceTask task(d, &bar);
  task.adminPin = kFormatAdminPin;
  task.userPin = kFormatUserPin;
  task.adminRetries = uint8_t(RetryCount(kFormatRetries));
  task.userRetries = uint8_t(RetryCount(kFormatRetries));
  task.Run();
  ASSERT_EQ(0u, task.Result());
  EXPECT_EQ(14u, progress().size());  // every step of a format of a token with a file system
  for (void *w : progress()) EXPECT_EQ(static_cast<void *>(&bar), w);
  EXPECT_EQ(0, host.held);

  EXPECT_TRUE(d->CheckPinChange());  // the default-PIN state again
  EXPECT_TRUE(Containers().empty());
  EXPECT_EQ(6, UserTriesLeft());
  EXPECT_TRUE(Verifies("937260"));
  EXPECT_TRUE(Verifies("482915", true));
}

TEST_F(ClientAdminTest, FailedFormatIsReportedAndTheTokenCanBeFormattedAgain) {
  // The token goes away in the middle of the work.
  int frame = 0;
  bus_->fault = [&](const uktest::Frame &f, uint16_t *sw) {
    if (f.ins() != 0xE0 || ++frame != 2) return false;  // the second file created
    *sw = 0x6581;
    return true;
  };
  CFormatDeviceTask task(d, nullptr);
  task.adminPin = kFormatAdminPin;
  task.userPin = kFormatUserPin;
  task.Run();
  EXPECT_EQ(0x80006581u, task.Result());
  EXPECT_EQ(L"\nError code: 80006581", FormatFailureText(task.Result()));
  bus_->fault = nullptr;
  CFormatDeviceTask again(d, nullptr);
  again.adminPin = kFormatAdminPin;
  again.userPin = kFormatUserPin;
  again.adminRetries = again.userRetries = 6;
  again.Run();
  EXPECT_EQ(0u, again.Result());
  EXPECT_TRUE(Verifies("937260"));
}

TEST_F(ClientAdminTest, FormatCommandRefreshesOnlyAfterASuccess) {
  auto node = TokenNode();
  shell.admin.format = [](CMarvoDevice &) { return false; };
  ASSERT_TRUE(DispatchCommand(shell, kCmdFormat, node.get()));
  EXPECT_EQ(0, shell.refreshes);
  shell.admin.format = [](CMarvoDevice &) { return true; };
  ASSERT_TRUE(DispatchCommand(shell, kCmdFormat, node.get()));
  EXPECT_EQ(1, shell.refreshes);
}

// ---- certificate import --------------------------------------------------------------------------

TEST(AdminImport, PrivateKeyBlobsTheTokenTakes) {
  TestKey k(1024, 65537);
  Bytes blob = PrivateKeyBlob(k);
  ASSERT_EQ(596u, blob.size());
  ImportKey key;
  ASSERT_TRUE(KeyFromPrivateKeyBlob(blob.data(), blob.size(), &key));
  EXPECT_EQ(1u, key.keySpec);
  const BIGNUM *n, *e, *dd, *p, *q, *dp, *dq, *qinv;
  RSA_get0_key(k.rsa, &n, &e, &dd);
  RSA_get0_factors(k.rsa, &p, &q);
  RSA_get0_crt_params(k.rsa, &dp, &dq, &qinv);
  EXPECT_EQ(1024u, key.pub.bits);
  EXPECT_EQ(BigEndian(n, 128), Bytes(key.pub.modulus, key.pub.modulus + 128));
  EXPECT_EQ(BigEndian(e, 128), Bytes(key.pub.exponent, key.pub.exponent + 128));
  EXPECT_EQ(BigEndian(n, 128), Bytes(key.pri.modulus, key.pri.modulus + 128));
  EXPECT_EQ(BigEndian(e, 128), Bytes(key.pri.publicExponent, key.pri.publicExponent + 128));
  EXPECT_EQ(BigEndian(dd, 128), Bytes(key.pri.privateExponent, key.pri.privateExponent + 128));
  EXPECT_EQ(BigEndian(p, 64), Bytes(key.pri.prime1, key.pri.prime1 + 64));
  EXPECT_EQ(BigEndian(q, 64), Bytes(key.pri.prime2, key.pri.prime2 + 64));
  EXPECT_EQ(BigEndian(dp, 64), Bytes(key.pri.exponent1, key.pri.exponent1 + 64));
  EXPECT_EQ(BigEndian(dq, 64), Bytes(key.pri.exponent2, key.pri.exponent2 + 64));
  EXPECT_EQ(BigEndian(qinv, 64), Bytes(key.pri.coefficient, key.pri.coefficient + 64));

  // A signature key (CALG_RSA_SIGN) goes to the signature pair.
  Bytes sign = PrivateKeyBlob(k, 0x2400);
  ImportKey signKey;
  ASSERT_TRUE(KeyFromPrivateKeyBlob(sign.data(), sign.size(), &signKey));
  EXPECT_EQ(2u, signKey.keySpec);

  // What the token does not take: other sizes and exponents, and blobs that are not this shape.
  TestKey big(2048, 65537), three(1024, 3);
  Bytes bigBlob = PrivateKeyBlob(big), threeBlob = PrivateKeyBlob(three);
  EXPECT_EQ(1172u, bigBlob.size());
  ImportKey out;
  EXPECT_FALSE(KeyFromPrivateKeyBlob(bigBlob.data(), bigBlob.size(), &out));
  EXPECT_FALSE(KeyFromPrivateKeyBlob(threeBlob.data(), threeBlob.size(), &out));
  EXPECT_FALSE(KeyFromPrivateKeyBlob(blob.data(), 595, &out));
  EXPECT_FALSE(KeyFromPrivateKeyBlob(nullptr, 596, &out));
  auto patched = [&](size_t at, uint8_t v) {
    Bytes b = blob;
    b[at] = v;
    return KeyFromPrivateKeyBlob(b.data(), b.size(), &out);
  };
  EXPECT_FALSE(patched(0, 6));     // PUBLICKEYBLOB
  EXPECT_FALSE(patched(1, 1));     // version
  EXPECT_FALSE(patched(2, 1));     // reserved
  EXPECT_FALSE(patched(5, 0x66));  // another algorithm
  EXPECT_FALSE(patched(8, 'X'));   // magic
  EXPECT_FALSE(patched(13, 8));    // bit length 2048 in a 596-byte blob
}

TEST(AdminImport, ContainerNamesAndModulusAndPfxTexts) {
  Guid g{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ("01234567-89AB-cdef-0123-456789ABCDEF", ContainerNameOfGuid(g));
  Guid small{0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0xA}};
  EXPECT_EQ("00000001-0002-0003-0000-00000000000A", ContainerNameOfGuid(small));
  UK_CONTAINER_INFO c = NewContainerRecord(ContainerNameOfGuid(g));
  EXPECT_STREQ("01234567-89AB-cdef-0123-456789ABCDEF", c.name);
  EXPECT_EQ(36, c.idLen);
  EXPECT_EQ(0, memcmp(c.id, c.name, 36));
  EXPECT_EQ(0, c.recordNumber);
  EXPECT_EQ(0, c.flags);
  // Name at byte 14, ID length at 142, ID from 143.
  const uint8_t *raw = reinterpret_cast<const uint8_t *>(&c);
  EXPECT_EQ('0', raw[14]);
  EXPECT_EQ(36, raw[142]);
  EXPECT_EQ('0', raw[143]);

  TestKey k(1024, 65537);
  Bytes pub = RsaPublicKey(k);
  uint8_t modulus[128];
  ASSERT_TRUE(ModulusOfPublicKey(pub.data(), pub.size(), modulus));
  const BIGNUM *n;
  RSA_get0_key(k.rsa, &n, nullptr, nullptr);
  EXPECT_EQ(BigEndian(n, 128), Bytes(modulus, modulus + 128));
  EXPECT_FALSE(ModulusOfPublicKey(pub.data(), 134, modulus));

  SetLanguageIndex(ui::kEnglish);
  EXPECT_EQ(L"Import certificate fail!\r\nThe certificate password is wrong", PfxFailureText(86, L"x"));
  EXPECT_EQ(L"Import certificate fail!\r\nThe certificate format is wrong", PfxFailureText(0x80092002u, L"x"));
  EXPECT_EQ(L"Import certificate fail!\r\nAccess is denied.\r\n", PfxFailureText(5, L"Access is denied.\r\n"));
  EXPECT_EQ(L"Import certificate fail!\r\nSorry, unknown error!", PfxFailureText(0x80070057u, L""));
  EXPECT_EQ(L"Import certificate fail!\r\nSorry, unknown error!", PfxFailureText(0, L"The operation completed successfully."));
}

// A PKCS #12 store of an end-entity certificate with its key and a CA certificate without one.
struct Chain {
  TestKey ca{1024, 65537}, ee{1024, 65537};
  FakeSource caCert{Certificate(ca, "Test Root CA"), {}};
  FakeSource eeCert{Certificate(ee, "Alice"), PrivateKeyBlob(ee), RsaPublicKey(ee)};
  Chain() { caCert.acquireError = 0x8009200Bu; }  // CRYPT_E_NO_KEY_PROPERTY
  std::vector<ISourceCertificate *> List() { return {&caCert, &eeCert}; }
};

TEST_F(ClientAdminTest, PfxWithAChainImportsTheEndEntityWithItsKeyAndItSigns) {
  Chain chain;
  FakeImportDialog dlg;
  shell.admin.entries = {{L"000000"}, {kPin}};  // a wrong PIN first: the dialog stays
  host.guids = {Guid{0xA1B2C3D4, 0x1111, 0xABCD, {1, 2, 3, 4, 5, 6, 7, 8}}};
  ASSERT_TRUE(ImportPfxCertificates(shell, dlg, *d, chain.List(), kCryptNotFound));
  EXPECT_TRUE(dlg.texts.empty()) << WideToUtf8(dlg.texts[0]);
  EXPECT_EQ((std::vector<size_t>{25}), shell.admin.inputTitles);  // "User PIN"
  EXPECT_EQ(1u, shell.admin.refusals.size());
  EXPECT_EQ("acquire ", chain.caCert.calls);

  std::vector<UK_CONTAINER_INFO> cs = Containers();
  ASSERT_EQ(1u, cs.size());
  EXPECT_STREQ("A1B2C3D4-1111-abcd-0102-030405060708", cs[0].name);
  EXPECT_EQ(36, cs[0].idLen);
  EXPECT_EQ(UK_CONT_EX_KEY | UK_CONT_EX_CERT, cs[0].flags);
  EXPECT_EQ(chain.eeCert.Der(), ReadCert(cs[0], 1));
  EXPECT_TRUE(ReadCert(cs[0], 2).empty());

  // The token is logged out again; with the PIN the imported key signs, and the certificate's
  // key verifies the signature.
  Bytes digestInfo = objtest::sha1DigestInfo({'p', 'a', 'y'});
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  EXPECT_NE(0u, zksTokenRsaPriEncrypt(Dev(), &cs[0], digestInfo.data(), uint32_t(digestInfo.size()), sig, &sigLen, 1, 0));
  ASSERT_TRUE(Verifies("482915"));
  sigLen = sizeof sig;
  ASSERT_EQ(0u, zksTokenRsaPriEncrypt(Dev(), &cs[0], digestInfo.data(), uint32_t(digestInfo.size()), sig, &sigLen, 1, 0));
  const BIGNUM *n, *e;
  RSA_get0_key(chain.ee.rsa, &n, &e, nullptr);
  objtest::OsslRsa verifier(BigEndian(n, 128).data(), 128, BigEndian(e, 3).data(), 3);
  EXPECT_EQ(digestInfo, verifier.recover(Bytes(sig, sig + sigLen)));
  EXPECT_EQ(0, host.held);
}

TEST_F(ClientAdminTest, KeysTheTokenCannotHoldAreRefusedBeforeItIsTouched) {
  TestKey big(2048, 65537), three(1024, 3);
  FakeSource bigCert(Certificate(big, "Big"), PrivateKeyBlob(big));
  FakeSource threeCert(Certificate(three, "Three"), PrivateKeyBlob(three));
  for (FakeSource *s : {&bigCert, &threeCert}) {
    FakeImportDialog dlg;
    clearTrace();
    EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, {s}, kCryptNotFound));
    EXPECT_EQ((std::vector<std::wstring>{L"Device doesn't support!"}), dlg.texts);
    EXPECT_EQ(unsigned(kBoxInformation), dlg.styles[0]);
    EXPECT_TRUE(frames().empty());  // not even connected
    EXPECT_TRUE(shell.admin.calls.empty());
  }
  EXPECT_TRUE(Containers().empty());
}

// The certificate's own key decides: an export that claims exponent 65537 for a key whose
// certificate says 3 (a software provider's import can do that), or the key of another
// certificate, is refused like any key the token cannot hold, before the token is touched.
TEST_F(ClientAdminTest, KeyThatIsNotTheCertificatesIsRefused) {
  TestKey three(1024, 3), mine(1024, 65537), other(1024, 65537);
  Bytes claimed = PrivateKeyBlob(three);
  claimed[16] = 0x01, claimed[17] = 0x00, claimed[18] = 0x01, claimed[19] = 0x00;  // 65537
  FakeSource threeCert(Certificate(three, "Three"), claimed);
  FakeSource swapped(Certificate(mine, "Mine"), PrivateKeyBlob(other));
  for (FakeSource *s : {&threeCert, &swapped}) {
    FakeImportDialog dlg;
    clearTrace();
    EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, {s}, kCryptNotFound));
    EXPECT_EQ((std::vector<std::wstring>{L"Device doesn't support!"}), dlg.texts);
    EXPECT_TRUE(frames().empty());
    EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, *s));
    EXPECT_EQ(L"Device doesn't support!", dlg.texts.back());
    EXPECT_TRUE(frames().empty());
  }
  EXPECT_TRUE(shell.admin.calls.empty());
  EXPECT_TRUE(Containers().empty());

  // The public key is read with its lengths checked: cut short, lengths that run past the end,
  // a negative modulus.
  ImportKey key;
  Bytes blob = PrivateKeyBlob(mine);
  ASSERT_TRUE(KeyFromPrivateKeyBlob(blob.data(), blob.size(), &key));
  Bytes pub = RsaPublicKey(mine);
  EXPECT_TRUE(KeyMatchesPublicKey(key, pub.data(), pub.size()));
  for (size_t cut : {size_t(0), size_t(1), size_t(4), size_t(100), pub.size() - 1})
    EXPECT_FALSE(KeyMatchesPublicKey(key, pub.data(), cut)) << cut;
  Bytes lying = pub;
  lying[2] = 0xFF;  // a SEQUENCE of 255 bytes, more than there are
  EXPECT_FALSE(KeyMatchesPublicKey(key, lying.data(), lying.size()));
  lying = pub;
  lying[4] = 0x84;  // the modulus's length in four bytes that run past the end
  EXPECT_FALSE(KeyMatchesPublicKey(key, lying.data(), lying.size()));
  EXPECT_FALSE(KeyMatchesPublicKey(key, nullptr, 10));
}

TEST_F(ClientAdminTest, NothingToImportIsReportedByTheEnumerationsEnd) {
  Chain chain;
  FakeImportDialog dlg;
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, {&chain.caCert}, kCryptNotFound));
  EXPECT_EQ((std::vector<std::wstring>{L"Certificate doesn't exist!"}), dlg.texts);
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, {}, 0x80070005u));
  EXPECT_EQ(L"Enumerate certificate fail!", dlg.texts.back());
  // A key that cannot be opened or sized is skipped without a word; the dialog stays.
  chain.eeCert.openError = kNteNoKey;
  dlg.texts.clear();
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, chain.List(), kCryptNotFound));
  EXPECT_TRUE(dlg.texts.empty());
  EXPECT_TRUE(Containers().empty());
}

TEST_F(ClientAdminTest, CancelledOrFailedPinStepLeavesNoContainer) {
  Chain chain;
  FakeImportDialog dlg;
  shell.admin.entries = {};  // the user cancels the PIN dialog
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, chain.List(), kCryptNotFound));
  EXPECT_EQ((std::vector<std::string>{"InputPin"}), shell.admin.calls);
  EXPECT_TRUE(Containers().empty());

  // A token that takes the PIN on the device: the wait dialog titled "Tip"; its failure is shown
  // and the new container goes again.
  UK_DEV_INFO rec = *d->Record();
  rec.modelCode = 0x22;
  DeviceRef onDevice(new CMarvoDevice(rec));
  ASSERT_TRUE(onDevice->TakesPinOnDevice());
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *onDevice.get(), chain.List(), kCryptNotFound));
  EXPECT_EQ((std::vector<std::wstring>{L"Tip"}), shell.taskTitles);
  EXPECT_EQ((std::vector<std::wstring>{L"Time out!"}), shell.boxes);  // the library's refusal
  EXPECT_TRUE(Containers().empty());
}

TEST_F(ClientAdminTest, FailedWriteDeletesTheNewContainer) {
  // A certificate larger than the token's 4096-byte limit: the key pair is written, the
  // certificate refused, and the container (with its key files) is deleted again.
  TestKey k(1024, 65537);
  FakeSource big(Certificate(k, "Too Big", 4200), PrivateKeyBlob(k));
  ASSERT_GT(big.Der().size(), 4096u);
  FakeImportDialog dlg;
  shell.admin.entries = {{kPin}};
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, {&big}, kCryptNotFound));
  EXPECT_EQ((std::vector<std::wstring>{L"Import certificate fail!"}), dlg.texts);
  EXPECT_EQ(unsigned(kBoxError), dlg.styles[0]);
  EXPECT_TRUE(Containers().empty());

  // The key files refused by the token (memory full): the same.
  Chain chain;
  bus_->fault = [](const uktest::Frame &f, uint16_t *sw) {
    if (f.ins() != 0xE0 || f.raw.size() < 20) return false;
    *sw = 0x6A84;
    return true;
  };
  shell.admin.entries = {{kPin}};
  dlg.texts.clear();
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, chain.List(), kCryptNotFound));
  bus_->fault = nullptr;
  EXPECT_EQ((std::vector<std::wstring>{L"Import certificate fail!"}), dlg.texts);
  EXPECT_TRUE(Containers().empty());
}

TEST_F(ClientAdminTest, NameCollisionsAreRetriedAndAFullTokenIsReported) {
  // A container already carries the first GUID's name: the import takes the next one.
  Guid taken{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  std::string takenName = ContainerNameOfGuid(taken);
  AddContainer(takenName.c_str(), "", "");
  Chain chain;
  FakeImportDialog dlg;
  host.guids = {taken};
  shell.admin.entries = {{kPin}};
  ASSERT_TRUE(ImportPfxCertificates(shell, dlg, *d, chain.List(), kCryptNotFound));
  std::vector<UK_CONTAINER_INFO> cs = Containers();
  ASSERT_EQ(2u, cs.size());
  EXPECT_STREQ(takenName.c_str(), cs[0].name);
  EXPECT_EQ(std::string(cs[1].name), ContainerNameOfGuid(Guid{0xC0DE0001u, 0xABCD, 0x0EF1, {7, 8, 9, 10, 11, 12, 13, 14}}));

  // Five names in a row that exist: the creation gives up.
  host.guids = {taken, taken, taken, taken, taken};
  Chain second;
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, second.List(), kCryptNotFound));
  EXPECT_EQ(L"Create certificate container fail", dlg.texts.back());
  EXPECT_EQ(2u, Containers().size());

  // A token with all five containers in use.
  for (const char *name : {"c3", "c4", "c5"}) AddContainer(name, "", "");
  Chain third;
  EXPECT_FALSE(ImportPfxCertificates(shell, dlg, *d, third.List(), kCryptNotFound));
  EXPECT_EQ(L"Insuffient space on device,import certificate fail", dlg.texts.back());
  EXPECT_EQ(5u, Containers().size());
}

TEST_F(ClientAdminTest, StoreCertificateWithItsKey) {
  TestKey k(1024, 65537);
  FakeSource c(Certificate(k, "Store Signer"), PrivateKeyBlob(k, 0x2400), RsaPublicKey(k));
  c.spec = 2;
  FakeImportDialog dlg;
  shell.admin.entries = {{kPin}};
  ASSERT_TRUE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_TRUE(dlg.texts.empty());
  std::vector<UK_CONTAINER_INFO> cs = Containers();
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ(UK_CONT_SIG_KEY | UK_CONT_SIG_CERT, cs[0].flags);
  EXPECT_EQ(c.Der(), ReadCert(cs[0], 2));
}

TEST_F(ClientAdminTest, StoreCertificateRefusals) {
  TestKey k(1024, 65537);
  FakeSource c(Certificate(k, "Store"), PrivateKeyBlob(k), RsaPublicKey(k));
  FakeImportDialog dlg;
  c.acquireError = 0x8009200Bu;
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_EQ(L"Acquire certificate private key fail!", dlg.texts.back());
  c.acquireError = 0;
  c.openError = 0x80090016u;  // NTE_BAD_KEYSET
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_EQ(L"Acquire certificate private key fail!", dlg.texts.back());
  c.openError = 0;
  c.sizeError = kNteBadKeyState;
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_EQ(L"The private key is not exportable corresponding to the selected certificate!", dlg.texts.back());
  size_t shown = dlg.texts.size();
  c.sizeError = 0x80090020u;  // NTE_FAIL: stops without a word
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_EQ(shown, dlg.texts.size());
  TestKey three(1024, 3);
  FakeSource t(Certificate(three, "Three"), PrivateKeyBlob(three));
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, t));
  EXPECT_EQ(L"Device doesn't support!", dlg.texts.back());
  EXPECT_TRUE(Containers().empty());
  EXPECT_TRUE(shell.admin.calls.empty());
}

TEST_F(ClientAdminTest, CertificateOnlyGoesToTheContainerHoldingItsKey) {
  // A key pair generated on the token, and a certificate for it whose key is not at hand.
  UK_CONTAINER_INFO gen = objtest::namedContainer("generated");
  ASSERT_EQ(0u, zksTokenNewContainer(Dev(), &gen));
  ASSERT_TRUE(Verifies("482915"));
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(Dev(), &gen, 1));
  UK_RSA_PUBLIC_KEY pub{};
  ASSERT_EQ(0u, zksTokenReadRsaPubKey(Dev(), &gen, &pub, 1));
  TestKey other(1024, 65537);
  RSA *tokenKey = RSA_new();
  RSA_set0_key(tokenKey, BN_bin2bn(pub.modulus, 128, nullptr), BN_bin2bn(pub.exponent, 128, nullptr), nullptr);
  Bytes tokenPub(size_t(i2d_RSAPublicKey(tokenKey, nullptr)));
  unsigned char *p = tokenPub.data();
  i2d_RSAPublicKey(tokenKey, &p);
  RSA_free(tokenKey);
  FakeSource c(Certificate(other, "Issued Elsewhere"), {}, tokenPub);
  c.openError = kNteNoKey;

  // The user declines the certificate alone: nothing happens.
  FakeImportDialog dlg;
  dlg.answers = {6 + 1};  // No
  EXPECT_FALSE(ImportStoreCertificate(shell, dlg, *d, c));
  EXPECT_EQ(L"No private key corresponding to the selected certificate,do you want to import the certificate only?",
            dlg.texts.back());
  EXPECT_EQ(unsigned(kBoxYesNo | kBoxInformation), dlg.styles.back());
  // Agrees: the certificate goes into the container of its key, without a PIN.
  ASSERT_TRUE(ImportStoreCertificate(shell, dlg, *d, c));
  std::vector<UK_CONTAINER_INFO> cs = Containers();
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ(c.Der(), ReadCert(cs[0], 1));
  EXPECT_TRUE(shell.admin.calls.empty());

  // A certificate whose key the token does not hold: a new container for it alone.
  TestKey stranger(1024, 65537);
  FakeSource s(Certificate(stranger, "Stranger"), {}, RsaPublicKey(stranger));
  s.openError = kNteNoKey;
  s.spec = 2;
  ASSERT_TRUE(ImportStoreCertificate(shell, dlg, *d, s));
  cs = Containers();
  ASSERT_EQ(2u, cs.size());
  EXPECT_EQ(UK_CONT_SIG_CERT, cs[1].flags);
  EXPECT_EQ(s.Der(), ReadCert(cs[1], 2));
}

TEST_F(ClientAdminTest, ImportCommandRefreshesAndAnnouncesOnlyAnImport) {
  auto node = TokenNode();
  shell.admin.importResult = false;
  ASSERT_TRUE(DispatchCommand(shell, kCmdImport, node.get()));
  EXPECT_EQ(0, shell.refreshes);
  EXPECT_TRUE(shell.notices.empty());
  shell.admin.importResult = true;
  ASSERT_TRUE(DispatchCommand(shell, kCmdImport, node.get()));
  EXPECT_EQ(1, shell.refreshes);
  EXPECT_EQ((std::vector<std::wstring>{L"Import Certificate success!"}), shell.notices);
}

// ---- export, delete ------------------------------------------------------------------------------

// A shell whose refresh is the real one, so that the store follows the token.
class RefreshingShell : public RecordingShell {
 public:
  explicit RefreshingShell(CDeviceList &list) : list_(list) {}
  void RefreshDevices() override {
    ++refreshes;
    list_.Refresh(1033);
  }

 private:
  CDeviceList &list_;
};

TEST_F(ClientAdminTest, ExportWritesTheExactDerBytes) {
  AddContainer("exported", "Exchange Holder", "Signature Holder");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  ASSERT_EQ(3u, nodes.size());
  TokenCert *sig = CertOf(nodes[2].node.get());
  ASSERT_NE(nullptr, sig);
  shell.admin.exportPath = L"C:\\out\\signature.cer";
  ASSERT_TRUE(DispatchCommand(shell, kCmdExport, nodes[2].node.get()));
  EXPECT_EQ(Bytes(sig->Der(), sig->Der() + sig->DerLength()), shell.admin.files[L"C:\\out\\signature.cer"]);
  UK_CONTAINER_INFO c = Containers()[0];
  EXPECT_EQ(ReadCert(c, 2), shell.admin.files[L"C:\\out\\signature.cer"]);
  EXPECT_EQ((std::vector<std::wstring>{L"Export certificate success!"}), shell.notices);

  // Cancelled: nothing written. A write that fails is reported, not announced.
  shell.admin.exportPath.clear();
  ASSERT_TRUE(DispatchCommand(shell, kCmdExport, nodes[1].node.get()));
  EXPECT_EQ(1u, shell.admin.files.size());
  shell.admin.exportPath = L"C:\\locked.cer";
  shell.admin.writeError = 5;
  ASSERT_TRUE(DispatchCommand(shell, kCmdExport, nodes[1].node.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"Access is denied.\r\n"}), shell.boxes);
  EXPECT_EQ(1u, shell.notices.size());
}

TEST_F(ClientAdminTest, DeleteRemovesTheWholeContainerAndItsStoreEntries) {
  AddContainer("keep", "", "Kept");
  AddContainer("doomed", "Doomed Exchange", "Doomed Signature");
  RefreshingShell rs(list);
  rs.RefreshDevices();
  ASSERT_EQ(3u, host.store.size());
  std::vector<NodeRow> nodes = Nodes(list);
  ASSERT_EQ(4u, nodes.size());
  CTreeNode *doomedSig = nodes[3].node.get();
  ASSERT_EQ(L"Doomed Signature", doomedSig->GetText());

  // "No" stops; a cancelled PIN stops.
  rs.answers = {7};
  ASSERT_TRUE(DispatchCommand(rs, kCmdDelete, doomedSig));
  EXPECT_EQ((std::vector<std::wstring>{L"Are you sure you want to delete Doomed Signature?"}), rs.boxes);
  EXPECT_TRUE(rs.admin.calls.empty());
  rs.answers = {6};
  ASSERT_TRUE(DispatchCommand(rs, kCmdDelete, doomedSig));
  EXPECT_EQ((std::vector<std::string>{"InputPin"}), rs.admin.calls);
  EXPECT_EQ(2u, Containers().size());

  // Yes and the PIN: the container goes with both certificates, and so do their store entries.
  rs.answers = {6};
  rs.admin.entries = {{kPin}};
  ASSERT_TRUE(DispatchCommand(rs, kCmdDelete, doomedSig));
  std::vector<UK_CONTAINER_INFO> cs = Containers();
  ASSERT_EQ(1u, cs.size());
  EXPECT_STREQ("keep", cs[0].name);
  EXPECT_EQ(L"Deleted", rs.notices.back());
  ASSERT_EQ(1u, host.store.size());
  EXPECT_EQ(L"keep", host.store.begin()->second.container);
  EXPECT_EQ(2, rs.refreshes);
}

TEST_F(ClientAdminTest, DeleteThatFailsIsReported) {
  AddContainer("stays", "", "Stays");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  shell.answers = {6};
  shell.admin.entries = {{kPin}};
  bus_->fault = [](const uktest::Frame &f, uint16_t *sw) {
    if (f.ins() != 0xE4) return false;  // DELETE FILE
    *sw = 0x6581;
    return true;
  };
  ASSERT_TRUE(DispatchCommand(shell, kCmdDelete, nodes[1].node.get()));
  bus_->fault = nullptr;
  EXPECT_EQ(L"Delete fail", shell.boxes.back());
  EXPECT_EQ(L"Are you sure you want to delete Stays?", shell.boxes.front());
  EXPECT_EQ(0, shell.refreshes);
  EXPECT_TRUE(shell.notices.empty());
}

}  // namespace
