// The software update's decisions, natively: the published version text, the two-key compare
// (1.0.1.10 is newer than 1.0.1.2), the setup's file name, and the whole check against a host
// that records what the client would do: quiet and user checks, reuse of a setup left from
// before, refusal and deletion of a setup whose signature does not hold, and nothing started
// when the download fails.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bank_config.h"
#include "client_text.h"
#include "commands.h"
#include "update_check.h"

namespace {

using namespace client;

FourPartVersion V(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  FourPartVersion v;
  v.part[0] = a;
  v.part[1] = b;
  v.part[2] = c;
  v.part[3] = d;
  return v;
}

std::wstring Text(const FourPartVersion &v) { return VersionText(v); }

TEST(UpdateVersion, PublishedTextIsReadPartByPart) {
  EXPECT_EQ(L"1.0.1.10", Text(ParseVersionText(L"1.0.1.10")));
  EXPECT_EQ(L"1.2.0.0", Text(ParseVersionText(L"1.2")));              // only the parts present
  EXPECT_EQ(L"1.2.3.4", Text(ParseVersionText(L"1.2.3.4.5")));        // nothing beyond the fourth
  EXPECT_EQ(L"1.0.7.0", Text(ParseVersionText(L"1.x.7b.")));          // leading digits; none gives 0
  EXPECT_EQ(L"0.0.0.0", Text(ParseVersionText(L"")));
  EXPECT_EQ(L"0.0.0.0", Text(ParseVersionText(L"...")));
  EXPECT_EQ(L"0.5.0.0", Text(ParseVersionText(L" 1.5")));             // a blank is not a digit
  EXPECT_EQ(L"65535.1.0.0", Text(ParseVersionText(L"99999999999.1")));  // a part holds 16 bits
  // At most 15 characters are read: the 16th and later are not there.
  EXPECT_EQ(L"11111.22222.333.0", Text(ParseVersionText(L"11111.22222.333")));
  EXPECT_EQ(L"11111.22222.33.0", Text(ParseVersionText(L"11111.22222.33.4")));
}

TEST(UpdateVersion, CompareByTwoKeys) {
  EXPECT_TRUE(IsNewer(V(1, 0, 1, 10), V(1, 0, 1, 2)));   // 10 > 2 as numbers, not as text
  EXPECT_FALSE(IsNewer(V(1, 0, 1, 2), V(1, 0, 1, 10)));
  EXPECT_FALSE(IsNewer(V(1, 0, 9, 9), V(1, 1, 0, 0)));   // the high key decides first
  EXPECT_TRUE(IsNewer(V(1, 1, 0, 0), V(1, 0, 9, 9)));
  EXPECT_FALSE(IsNewer(V(1, 0, 3, 0), V(1, 0, 3, 0)));   // equal is not newer
  EXPECT_TRUE(IsNewer(V(2, 0, 0, 0), V(1, 65535, 65535, 65535)));
  EXPECT_TRUE(IsNewer(V(1, 0, 2, 0), V(1, 0, 1, 65535)));
  EXPECT_EQ(0x00010000u, HighKey(V(1, 0, 1, 10)));
  EXPECT_EQ(0x0001000Au, LowKey(V(1, 0, 1, 10)));
  // The file version words of a version resource.
  EXPECT_EQ(L"1.0.3.0", Text(VersionFromWords(0x00010000, 0x00030000)));
  EXPECT_EQ(L"65535.2.3.65534", Text(VersionFromWords(0xFFFF0002, 0x0003FFFE)));
}

TEST(UpdateVersion, SetupFileNameCarriesThePublishedVersion) {
  EXPECT_EQ(L"ORV_ZV_Setup_1_0_1_7.exe", SetupFileName(V(1, 0, 1, 7)));
  EXPECT_EQ(L"ORV_ZV_Setup_65535_65535_65535_65535.exe", SetupFileName(V(65535, 65535, 65535, 65535)));
}

// ---- the check ---------------------------------------------------------------------------------

// A host whose files, server and user are a script.
class ScriptedHost : public IUpdateHost {
 public:
  struct Box {
    std::wstring text, caption;
    unsigned style;
  };
  // The server: what FetchFile writes (ini text) or fails with.
  uint32_t fetchResult = 0;
  std::map<std::wstring, std::wstring> ini;  // key -> value of [ORVClient]
  FourPartVersion own = V(1, 0, 1, 2);
  std::vector<std::wstring> files;            // paths that exist
  int dialogResult = 1;                       // what the download dialog ends with
  ui::SetupTrust trust = ui::SetupTrust::kTrusted;
  uint32_t startResult = 0;

  // What happened.
  std::vector<std::wstring> fetched, dialogs, deleted, opened, started, discarded;
  std::wstring dialogCaption;
  std::vector<Box> boxes;

  std::wstring DataFolder() override { return L"C:\\ProgramData\\ORVToken"; }
  std::wstring WebHost() override { return L"bank.test:8080"; }
  uint32_t FetchFile(const std::wstring &url, const std::wstring &path) override {
    fetched.push_back(url + L" -> " + path);
    return fetchResult;
  }
  std::wstring ReadIniValue(const std::wstring &path, const wchar_t *section, const wchar_t *key,
                            const std::wstring &fallback, size_t maxChars) override {
    EXPECT_EQ(L"C:\\ProgramData\\ORVToken\\version.ini", path);
    EXPECT_STREQ(L"ORVClient", section);
    auto it = ini.find(key);
    std::wstring v = it == ini.end() ? fallback : it->second;
    return v.substr(0, maxChars);
  }
  FourPartVersion OwnVersion() override { return own; }
  bool FileExists(const std::wstring &path) override {
    for (auto &f : files)
      if (f == path) return true;
    return false;
  }
  void RemoveFile(const std::wstring &path) override {
    deleted.push_back(path);
    Remove(path);
  }
  int RunDownloadDialog(const std::wstring &caption, const std::wstring &url, const std::wstring &path) override {
    dialogCaption = caption;
    dialogs.push_back(url + L" -> " + path);
    files.push_back(path);  // the dialog leaves a (possibly partial) file behind
    return dialogResult;
  }
  class Setup : public ISetupProgram {
   public:
    Setup(ScriptedHost &h, const std::wstring &p) : host_(h), path_(p) {
      check_.trust = h.FileExists(p) ? h.trust : ui::SetupTrust::kUnreadable;
      if (check_.trust == ui::SetupTrust::kWrongSigner) check_.signer = L"Somebody Else";
    }
    const ui::SetupCheck &Check() const override { return check_; }
    uint32_t Start() override {
      EXPECT_EQ(ui::SetupTrust::kTrusted, check_.trust) << "an untrusted setup was started";
      host_.started.push_back(path_);
      return host_.startResult;
    }
    void Discard() override {
      host_.discarded.push_back(path_);
      host_.Remove(path_);
    }

   private:
    ScriptedHost &host_;
    std::wstring path_;
    ui::SetupCheck check_;
  };
  std::unique_ptr<ISetupProgram> OpenSetup(const std::wstring &path) override {
    opened.push_back(path);
    return std::make_unique<Setup>(*this, path);
  }
  int ShowMessage(const std::wstring &text, const std::wstring &caption, unsigned style) override {
    boxes.push_back({text, caption, style});
    return 1;
  }
  void Remove(const std::wstring &path) {
    for (size_t i = 0; i < files.size(); ++i)
      if (files[i] == path) files.erase(files.begin() + long(i--));
  }
};

const std::wstring kSetup1010 = L"C:\\ProgramData\\ORVToken\\ORV_ZV_Setup_1_0_1_10.exe";

class UpdateCheck : public testing::Test {
 protected:
  void SetUp() override {
    SetLanguageIndex(0);
    host.ini = {{L"URL", L"http://bank.test:8080/files/setup.exe"}, {L"version", L"1.0.1.10"}};
  }
  void TearDown() override { SetLanguageIndex(0); }
  ScriptedHost host;
};

TEST_F(UpdateCheck, NewerVersionIsDownloadedPromptedAndStarted) {
  EXPECT_EQ(kUpdateChecked, CheckForUpdate(host, true));
  ASSERT_EQ(1u, host.fetched.size());
  EXPECT_EQ(std::wstring(L"http://bank.test:8080") + config::kVersionFilePath +
                L" -> C:\\ProgramData\\ORVToken\\version.ini",
            host.fetched[0]);
  ASSERT_EQ(1u, host.dialogs.size());
  EXPECT_EQ(L"http://bank.test:8080/files/setup.exe -> " + kSetup1010, host.dialogs[0]);
  EXPECT_EQ(L"Downloading", host.dialogCaption);
  // The prompt comes even in the quiet check, after the signature held and before the start.
  ASSERT_EQ(1u, host.boxes.size());
  EXPECT_EQ(L"Click OK to install the last version", host.boxes[0].text);
  EXPECT_EQ(L"UKEY Client for ORV ", host.boxes[0].caption);
  EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, host.opened);
  EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, host.started);
  EXPECT_TRUE(host.deleted.empty());
}

TEST_F(UpdateCheck, EqualOrOlderDoesNothingQuietlyAndSaysSoToTheUser) {
  for (const wchar_t *published : {L"1.0.1.2", L"1.0.1.1", L"1.0.0.99", L"0.9"}) {
    host.ini[L"version"] = published;
    host.boxes.clear();
    EXPECT_EQ(kUpdateChecked, CheckForUpdate(host, true)) << published;
    EXPECT_TRUE(host.boxes.empty()) << published;
    EXPECT_EQ(kUpdateChecked, CheckForUpdate(host, false)) << published;
    ASSERT_EQ(1u, host.boxes.size()) << published;
    EXPECT_EQ(L"UKEY client is the latest version", host.boxes[0].text);
    EXPECT_EQ(L"UKEY Client for ORV ", host.boxes[0].caption);
  }
  EXPECT_TRUE(host.dialogs.empty());
  EXPECT_TRUE(host.started.empty());
}

TEST_F(UpdateCheck, UnreachableServerIsSilentAtStartUpAndAnInternetErrorForTheUser) {
  host.fetchResult = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
  EXPECT_EQ(kUpdateNoVersionFile, CheckForUpdate(host, true));
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(kUpdateNoVersionFile, CheckForUpdate(host, false));
  ASSERT_EQ(1u, host.boxes.size());
  EXPECT_EQ(L"Internet Error", host.boxes[0].text);
  EXPECT_EQ(L"ERROR", host.boxes[0].caption);
  SetLanguageIndex(1);
  host.boxes.clear();
  CheckForUpdate(host, false);
  ASSERT_EQ(1u, host.boxes.size());
  EXPECT_EQ(L"网络错误", host.boxes[0].text);
  EXPECT_EQ(L"ERROR", host.boxes[0].caption);
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_F(UpdateCheck, VersionFileWithoutKeysMeansOneZeroZeroZeroAndTheDefaultSetup) {
  host.ini.clear();
  host.own = V(1, 0, 0, 0);
  CheckForUpdate(host, false);
  EXPECT_TRUE(host.dialogs.empty());
  host.own = V(0, 9, 0, 0);
  host.boxes.clear();
  CheckForUpdate(host, true);
  ASSERT_EQ(1u, host.dialogs.size());
  EXPECT_EQ(std::wstring(L"http://bank.test:8080") + config::kDefaultSetupPath +
                L" -> C:\\ProgramData\\ORVToken\\ORV_ZV_Setup_1_0_0_0.exe",
            host.dialogs[0]);
}

TEST_F(UpdateCheck, SetupAddressIsCutAt260Characters) {
  host.ini[L"URL"] = L"http://bank.test/" + std::wstring(400, L'a');
  CheckForUpdate(host, true);
  ASSERT_EQ(1u, host.dialogs.size());
  EXPECT_EQ(260u, host.dialogs[0].find(L" -> "));
}

TEST_F(UpdateCheck, SetupLeftFromBeforeIsCheckedAndStartedWithoutDownload) {
  host.files.push_back(kSetup1010);
  CheckForUpdate(host, true);
  EXPECT_TRUE(host.dialogs.empty());
  EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, host.opened);
  EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, host.started);
}

TEST_F(UpdateCheck, FailedDownloadDeletesThePartialFileAndStartsNothing) {
  for (int result : {2, 0, -1}) {  // failed, closed, no dialog at all
    ScriptedHost h;
    h.ini = host.ini;
    h.dialogResult = result;
    EXPECT_EQ(UpdateStep::kNotDownloaded, DownloadAndStart(h, h.DataFolder(), L"http://x/s.exe", V(1, 0, 1, 10)));
    EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, h.deleted);
    EXPECT_TRUE(h.files.empty());
    EXPECT_TRUE(h.opened.empty());
    EXPECT_TRUE(h.started.empty());
    EXPECT_TRUE(h.boxes.empty());
    EXPECT_EQ(kUpdateChecked, CheckForUpdate(h, false));  // the check itself still counts as done
  }
}

TEST_F(UpdateCheck, SetupWithoutOurSignatureIsRefusedDeletedAndNeverStarted) {
  for (auto t : {ui::SetupTrust::kUnsigned, ui::SetupTrust::kBadSignature, ui::SetupTrust::kUntrusted,
                 ui::SetupTrust::kWrongSigner}) {
    for (bool reused : {false, true}) {
      ScriptedHost h;
      h.ini = host.ini;
      h.trust = t;
      if (reused) h.files.push_back(kSetup1010);
      EXPECT_EQ(UpdateStep::kRefused, DownloadAndStart(h, h.DataFolder(), L"http://x/s.exe", V(1, 0, 1, 10)));
      EXPECT_TRUE(h.started.empty());
      EXPECT_EQ(std::vector<std::wstring>{kSetup1010}, h.discarded);
      EXPECT_TRUE(h.files.empty());
      ASSERT_EQ(1u, h.boxes.size());  // the refusal, and no install prompt
      EXPECT_NE(std::wstring::npos, h.boxes[0].text.find(L"has been deleted"));
      EXPECT_EQ(unsigned(kBoxError), h.boxes[0].style);
      EXPECT_EQ(L"UKEY Client for ORV ", h.boxes[0].caption);
    }
  }
  // The refusal is in the user's language.
  SetLanguageIndex(2);
  host.trust = ui::SetupTrust::kWrongSigner;
  CheckForUpdate(host, true);
  ASSERT_EQ(1u, host.boxes.size());
  EXPECT_NE(std::wstring::npos, host.boxes[0].text.find(L"屬於其他發行者（Somebody Else）"));
}

TEST_F(UpdateCheck, SetupThatTheShellCannotStartEndsTheStep) {
  host.startResult = 2;  // ERROR_FILE_NOT_FOUND from the shell
  EXPECT_EQ(UpdateStep::kStartFailed, DownloadAndStart(host, host.DataFolder(), L"http://x/s.exe", V(1, 0, 1, 10)));
  EXPECT_EQ(kUpdateChecked, CheckForUpdate(host, false));
}

TEST_F(UpdateCheck, NoDataFolderIsAnInternetErrorForTheUser) {
  struct NoFolder : ScriptedHost {
    std::wstring DataFolder() override { return L""; }
  } h;
  EXPECT_EQ(kUpdateNoVersionFile, CheckForUpdate(h, false));
  EXPECT_TRUE(h.fetched.empty());
  ASSERT_EQ(1u, h.boxes.size());
  EXPECT_EQ(L"Internet Error", h.boxes[0].text);
}

}  // namespace
