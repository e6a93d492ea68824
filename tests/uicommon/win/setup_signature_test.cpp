// The check before a downloaded setup program is started, under Wine with its real wintrust and
// crypt32: our publisher's signature through a trusted chain passes; a missing signature, a
// changed byte, a signature taken from another program, another publisher (even one the machine
// trusts), a certificate that only copies our publisher's name, and our own certificate while its
// root is not trusted are refused. The real setups of the build pass. While checked and until it
// is started, the file cannot be changed or deleted, and it starts.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include "http_test_support.h"
#include "setup_signature.h"

namespace {

using namespace httptest;

std::wstring Beside(const wchar_t *name) {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring p(self, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

// The current user's "Root" store: where the tests make the machine trust a test authority.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::wstring &cerFile) {
    std::string der = ReadAll(cerFile);
    cert_ = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(der.data()),
                                         DWORD(der.size()));
  }
  ~TrustedRoot() {
    Remove();
    if (cert_) CertFreeCertificateContext(cert_);
  }
  bool Loaded() const { return cert_ != nullptr; }
  bool Add() {
    HCERTSTORE s = Open();
    bool ok = s && CertAddCertificateContextToStore(s, cert_, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (s) CertCloseStore(s, 0);
    return ok;
  }
  void Remove() {
    if (!cert_) return;
    HCERTSTORE s = Open();
    if (!s) return;
    if (PCCERT_CONTEXT found = CertFindCertificateInStore(s, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert_, nullptr))
      CertDeleteCertificateFromStore(found);
    CertCloseStore(s, 0);
  }

 private:
  static HCERTSTORE Open() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  }
  PCCERT_CONTEXT cert_ = nullptr;
};

class SetupSignature : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(Beside(L"probe_signed.exe"))) << "the probes are built with the tests (make-probes.sh)";
    ASSERT_TRUE(ours.Loaded());
    ASSERT_TRUE(other.Loaded());
    ASSERT_TRUE(ours.Add());
    ASSERT_TRUE(other.Add());
  }
  ui::SetupCheck Check(const wchar_t *name) { return ui::CheckSetupSignature(Beside(name)); }

  TrustedRoot ours{Beside(L"test_root.cer")};
  TrustedRoot other{Beside(L"other_root.cer")};
};

TEST_F(SetupSignature, OurPublisherThroughATrustedChainPasses) {
  ui::SetupCheck c = Check(L"probe_signed.exe");
  EXPECT_EQ(ui::SetupTrust::kTrusted, c.trust) << std::hex << c.code;
  EXPECT_EQ(0u, c.code);
  EXPECT_EQ(L"ZV KESTRA UKey Setup Signing (test)", c.signer);
}

TEST_F(SetupSignature, EverythingElseIsRefusedWithItsReason) {
  struct Case {
    const wchar_t *file;
    ui::SetupTrust trust;
  } cases[] = {
      {L"probe_unsigned.exe", ui::SetupTrust::kUnsigned},
      {L"probe_tampered.exe", ui::SetupTrust::kBadSignature},
      {L"probe_transplanted.exe", ui::SetupTrust::kBadSignature},
      {L"probe_other.exe", ui::SetupTrust::kWrongSigner},
      {L"probe_lookalike.exe", ui::SetupTrust::kUntrusted},
      {L"no_such_setup.exe", ui::SetupTrust::kUnreadable},
  };
  for (const Case &k : cases) {
    ui::SetupCheck c = Check(k.file);
    EXPECT_EQ(int(k.trust), int(c.trust)) << k.file << " code 0x" << std::hex << c.code;
  }
  EXPECT_EQ(L"Somebody Else", Check(L"probe_other.exe").signer);
  EXPECT_EQ(uint32_t(CERT_E_UNTRUSTEDROOT), Check(L"probe_lookalike.exe").code);
  EXPECT_EQ(uint32_t(TRUST_E_NOSIGNATURE), Check(L"probe_unsigned.exe").code);
}

// A process reads the trusted roots once, when it first builds a chain: the check without our
// root runs in a child process started after the root was taken out.
constexpr wchar_t kWithoutRootChild[] = L"UK_SIGNATURE_WITHOUT_ROOT";

TEST_F(SetupSignature, OurCertificateWithoutItsTrustedRootIsRefused) {
  ours.Remove();
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = std::wstring(L"\"") + self + L"\" --gtest_filter=WithoutRoot.*";
  SetEnvironmentVariableW(kWithoutRootChild, L"1");
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(kWithoutRootChild, nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(0u, code) << "the check without our root (child process) failed";
  ASSERT_TRUE(ours.Add());
}

// Runs only as the child of the test above, with our root not trusted.
TEST(WithoutRoot, OurSignedSetupIsUntrusted) {
  if (Env(kWithoutRootChild).empty()) GTEST_SKIP() << "run by OurCertificateWithoutItsTrustedRootIsRefused";
  ui::SetupCheck c = ui::CheckSetupSignature(Beside(L"probe_signed.exe"));
  EXPECT_EQ(ui::SetupTrust::kUntrusted, c.trust);
  EXPECT_EQ(uint32_t(CERT_E_UNTRUSTEDROOT), c.code);
}

TEST_F(SetupSignature, TheBuildsSetupsPass) {
  // build/installer/<flavour>/ORV_ZV_Setup.exe, from build/<tree>/bin.
  bool any = false;
  for (const wchar_t *flavour : {L"amd64", L"x86"}) {
    std::wstring setup = Beside(L"..\\..\\installer\\") + flavour + L"\\ORV_ZV_Setup.exe";
    if (!Exists(setup)) continue;
    any = true;
    ui::SetupCheck c = ui::CheckSetupSignature(setup);
    EXPECT_EQ(ui::SetupTrust::kTrusted, c.trust) << flavour << " 0x" << std::hex << c.code;
  }
  if (!any) GTEST_SKIP() << "the setups are not built (scripts/build.sh installer)";
}

TEST_F(SetupSignature, CheckedFileIsHeldUntilStartedAndThenStarts) {
  std::wstring folder = FreshFolder(L"uk-setup-signature-test");
  std::wstring setup = folder + L"\\ORV_ZV_Setup.exe", log = folder + L"\\probe.log";
  ASSERT_TRUE(CopyFileW(Beside(L"probe_signed.exe").c_str(), setup.c_str(), FALSE));
  SetEnvironmentVariableW(L"UK_PROBE_LOG", log.c_str());
  {
    ui::CSetupFile file(setup);
    ASSERT_TRUE(file.Trusted());
    // Nobody swaps the checked file before it runs.
    EXPECT_FALSE(DeleteFileW(setup.c_str()));
    EXPECT_FALSE(MoveFileW(setup.c_str(), (setup + L".old").c_str()));
    HANDLE w = CreateFileW(setup.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, w);
    if (w != INVALID_HANDLE_VALUE) CloseHandle(w);
    // Readers are welcome.
    EXPECT_EQ(ui::SetupTrust::kTrusted, ui::CheckSetupSignature(setup).trust);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(file.StartProcess(L"\"" + setup + L"\" ", &pi)) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  std::string line = ReadAll(log);
  EXPECT_NE(std::string::npos, line.find("ORV_ZV_Setup.exe")) << line;
  // Released, it can go.
  EXPECT_TRUE(DeleteFileW(setup.c_str()));
  DeleteFileW(log.c_str());
  SetEnvironmentVariableW(L"UK_PROBE_LOG", nullptr);
  RemoveDirectoryW(folder.c_str());
}

TEST_F(SetupSignature, RefusedFileIsNeverStartedAndDiscardDeletesIt) {
  std::wstring folder = FreshFolder(L"uk-setup-signature-test2");
  std::wstring setup = folder + L"\\ORV_ZV_Setup_1_0_1_10.exe";
  ASSERT_TRUE(CopyFileW(Beside(L"probe_other.exe").c_str(), setup.c_str(), FALSE));
  ui::CSetupFile file(setup);
  EXPECT_FALSE(file.Trusted());
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(file.StartProcess(L"x", &pi));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0, file.ShellOpen());
  file.Discard();
  EXPECT_FALSE(Exists(setup));
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
