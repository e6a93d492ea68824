// The client core's native test doubles: the platform host (a lock that can be refused, OpenSSL
// for certificate texts, UTF-8 or GBK as the system code page, an in-memory "My" store, scripted
// GUIDs), a shell and administration dialogs that record what they show and answer as scripted
// (the dialogs' checks run as the real dialogs run them), and token emulators in-process.
#pragma once
#include <gtest/gtest.h>
#include <iconv.h>
#include <openssl/x509.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../common/utf8_text.h"
#include "../objects/objects_harness.h"
#include "../tools/cert_maker.h"
#include "admin_commands.h"
#include "admin_rules.h"
#include "client_host.h"
#include "client_text.h"
#include "commands.h"
#include "device_model.h"
#include "tree_nodes.h"

namespace clienttest {

using namespace client;

// The administration dialogs as a user drives them: each OK press takes the next scripted entry
// and runs the dialog's own check; a refusal is recorded and the next entry is tried; with no
// entry left the user cancels.
class ScriptedAdminUi : public IAdminUi {
 public:
  struct Entry {
    Entry(std::wstring first = L"", std::wstring second = L"", std::wstring third = L"")
        : a(std::move(first)), b(std::move(second)), c(std::move(third)) {}
    std::wstring a, b, c;  // the dialog's fields in order
  };
  bool ModifyPin(CMarvoDevice &d, bool admin, std::wstring *current, std::wstring *newPin) override {
    calls.push_back(admin ? "ModifyAdminPin" : "ModifyPin");
    return Drive([&](const Entry &e) { return ModifyPinVerdict(d, admin, e.a, e.b, e.c); }, current, newPin);
  }
  bool UnlockPin(CMarvoDevice &d, std::wstring *adminPin, std::wstring *newUserPin) override {
    calls.push_back("UnlockPin");
    return Drive([&](const Entry &e) { return UnlockPinVerdict(d, e.a, e.b, e.c); }, adminPin, newUserPin);
  }
  bool InputPin(CMarvoDevice &d, size_t titleRow) override {
    calls.push_back("InputPin");
    inputTitles.push_back(titleRow);
    return Drive([&](const Entry &e) { return InputPinVerdict(d, e.a); }, nullptr, nullptr);
  }
  bool RenameLabel(const std::wstring &current, std::wstring *label) override {
    calls.push_back("RenameLabel");
    presetLabel = current;
    return Drive([&](const Entry &e) { return LabelVerdict(e.a); }, label, nullptr);
  }
  bool FormatDevice(CMarvoDevice &d) override {
    calls.push_back("FormatDevice");
    return format ? format(d) : false;
  }
  bool ImportCertificates(CMarvoDevice &) override {
    calls.push_back("ImportCertificates");
    return importResult;
  }
  bool ChooseExportFile(std::wstring *path) override {
    calls.push_back("ChooseExportFile");
    if (exportPath.empty()) return false;
    *path = exportPath;
    return true;
  }
  uint32_t WriteWholeFile(const std::wstring &path, const uint8_t *data, size_t len) override {
    if (writeError) return writeError;
    files[path].assign(data, data + len);
    return 0;
  }
  void UpdateSelectedItem() override { ++itemUpdates; }

  std::deque<Entry> entries;               // what the user types, one entry per OK press
  std::vector<std::wstring> refusals;      // what the dialogs showed when they stayed open
  std::vector<int> focus;                  // the field focused after each refusal
  std::vector<std::string> calls;
  std::vector<size_t> inputTitles;
  std::wstring presetLabel, exportPath;
  std::map<std::wstring, std::vector<uint8_t>> files;
  std::function<bool(CMarvoDevice &)> format;
  bool importResult = false;
  uint32_t writeError = 0;
  int itemUpdates = 0;
  // Runs after a dialog closed with OK, before the command goes on.
  std::function<void()> afterOk;

 private:
  template <class Check>
  bool Drive(Check &&check, std::wstring *first, std::wstring *second) {
    while (!entries.empty()) {
      Entry e = entries.front();
      entries.pop_front();
      DialogVerdict v = check(e);
      if (v.close) {
        if (first) *first = e.a;
        if (second) *second = e.b;
        if (afterOk) afterOk();
        return true;
      }
      refusals.push_back(v.message);
      focus.push_back(v.focus);
    }
    return false;
  }
};

using testtext::Utf8ToWide;
using testtext::WideToUtf8;

// The platform of the native tests: a lock that can be refused, certificates decoded with
// OpenSSL, an in-memory "My" store keyed by the DER encoding.
class FakeHost : public ClientHost {
 public:
  bool LockDevices() override {
    ++lockCalls;
    if (!lockAvailable) return false;
    ++held;
    return true;
  }
  void UnlockDevices() override { --held; }
  bool DescribeCertificate(const uint8_t *der, size_t len, CertNames *out) override {
    const unsigned char *p = der;
    X509 *x = d2i_X509(nullptr, &p, long(len));
    if (!x) return false;
    out->subject = Cn(X509_get_subject_name(x));
    out->issuer = Cn(X509_get_issuer_name(x));
    out->notBefore = Date(X509_get0_notBefore(x));
    out->notAfter = Date(X509_get0_notAfter(x));
    X509_free(x);
    return true;
  }
  // UTF-8 as the system code page, or GBK (two bytes a Chinese character, as on a Chinese
  // Windows) when gbk is set.
  std::wstring FromCodePage(const char *text, size_t len) override {
    return gbk ? Convert<std::wstring>("WCHAR_T", "GBK", std::string(text, len))
               : Utf8ToWide(std::string(text, len));
  }
  std::string ToCodePage(const std::wstring &text) override {
    return gbk ? Convert<std::string>("GBK", "WCHAR_T", text) : WideToUtf8(text);
  }
  // Scripted GUIDs first (a name that collides on purpose), then fresh ones.
  Guid NewGuid() override {
    Guid g{};
    if (!guids.empty()) {
      g = guids.front();
      guids.erase(guids.begin());
      return g;
    }
    ++guidCounter;
    g.data1 = 0xC0DE0000u + guidCounter;
    g.data2 = 0xABCD;
    g.data3 = 0x0EF1;
    for (int i = 0; i < 8; ++i) g.data4[i] = uint8_t(guidCounter * 7 + i);
    return g;
  }
  uint32_t RegisterCertificate(const TokenCert &c) override {
    store[Key(c)] = {c.Container()->Name(), c.KeySpec()};
    return registerResult;
  }
  uint32_t UnregisterCertificate(const TokenCert &c) override {
    if (unregisterResult) return unregisterResult;
    return store.erase(Key(c)) ? 0 : 0x80092004u;
  }

  static std::string Key(const TokenCert &c) {
    return std::string(reinterpret_cast<const char *>(c.Der()), c.DerLength());
  }
  struct Entry {
    std::wstring container;
    uint32_t keySpec;
  };
  std::map<std::string, Entry> store;
  std::vector<Guid> guids;
  uint32_t guidCounter = 0;
  bool gbk = false;
  bool lockAvailable = true;
  int held = 0, lockCalls = 0;
  uint32_t registerResult = 0, unregisterResult = 0;

 private:
  template <class Out, class In>
  static Out Convert(const char *to, const char *from, const In &in) {
    iconv_t cd = iconv_open(to, from);
    Out out;
    if (cd == iconv_t(-1)) return out;
    std::vector<char> buf(in.size() * 4 + 8);
    char *src = const_cast<char *>(reinterpret_cast<const char *>(in.data()));
    size_t srcLeft = in.size() * sizeof(in[0]);
    char *dst = buf.data();
    size_t dstLeft = buf.size();
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    size_t bytes = buf.size() - dstLeft;
    out.assign(reinterpret_cast<const typename Out::value_type *>(buf.data()), bytes / sizeof(typename Out::value_type));
    return out;
  }
  static std::wstring Cn(X509_NAME *n) { return Utf8ToWide(testcert::commonName(n)); }
  static std::wstring Date(const ASN1_TIME *t) { return Utf8ToWide(testcert::dayText(t, "%04d/%d/%d")); }
};

// Shell that records what a command shows; its boxes answer as scripted.
class RecordingShell : public IClientShell {
 public:
  void ShowNotice(const std::wstring &t) override { notices.push_back(t); }
  int MessageBox(const std::wstring &t, unsigned style) override {
    boxes.push_back(t);
    styles.push_back(style);
    return Answer();
  }
  void RefreshDevices() override { ++refreshes; }
  void StartCheckTool() override { ++checkTools; }
  void ViewCertificate(const TokenCert &c) override { viewed.push_back(c.Subject()); }
  std::wstring SystemMessage(uint32_t code) override {
    return code == 5 ? L"Access is denied.\r\n" : L"";
  }
  void RunTask(ITask &t, const std::wstring &title) override {
    taskTitles.push_back(title);
    t.Run();
  }
  IAdminUi &AdminUi() override { return admin; }
  void StartUpdateCheck() override { ++updateChecks; }
  // The boxes answer OK, or what answers holds (first first).
  int Answer() {
    if (answers.empty()) return kAnswerOk;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<std::wstring> notices, boxes, viewed, taskTitles;
  std::vector<unsigned> styles;
  std::vector<int> answers;
  int refreshes = 0, checkTools = 0, updateChecks = 0;
  ScriptedAdminUi admin;
};

// Token emulators in-process on a bus from which a token can be pulled out.
class PullableBus : public objtest::SimBus {
 public:
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    char all[16][256];
    uint32_t n = 0;
    objtest::SimBus::listUsbInterfaces(all, 16, &n);
    uint32_t k = 0;
    for (uint32_t i = 0; i < n && k < max; ++i) {
      bool gone = false;
      for (auto &s : pulled) gone |= std::string(all[i]).find(s) != std::string::npos;
      if (!gone) snprintf(paths[k++], 256, "%s", all[i]);
    }
    *found = k;
    return true;
  }
  std::set<std::string> pulled;
};

class ClientModelTest : public uktest::PlatformFixture {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PullableBus>();
    installPlatform(bus_.get(), true, "uk_client_");
    SetClientHost(&host);
    SetLanguageIndex(ui::kEnglish);
  }
  void TearDown() override {
    list.Clear();
    SetClientHost(nullptr);
    uktest::PlatformFixture::TearDown();
  }

  // A formatted token with a label; containers are added with AddContainer.
  void AddToken(const std::string &serial, const char *label = "ORV-USBKEY") {
    tokensim::Card &c = bus_->add(serial);
    c.factoryFormat(objtest::kUserPin, "70361524", 10, 10, label);
    devs_.push_back(std::make_unique<UK_DEV_INFO>());
    UK_DEV_INFO *d = devs_.back().get();
    ASSERT_EQ(0u, connect(d, objtest::usbPathOf(serial)));
    ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(d, 0));
  }
  // A container on the last token with the certificates named (empty: none of that kind).
  void AddContainer(const char *name, const std::string &exchangeCn, const std::string &signatureCn) {
    UK_DEV_INFO *d = devs_.back().get();
    UK_CONTAINER_INFO ci = objtest::namedContainer(name);
    ASSERT_EQ(0u, zksTokenNewContainer(d, &ci));
    const std::string cns[2] = {exchangeCn, signatureCn};
    for (uint32_t spec = 1; spec <= 2; ++spec) {
      if (cns[spec - 1].empty()) continue;
      testcert::Made m = testcert::make({{"CN", cns[spec - 1]}}, {{"CN", "ORV Test CA"}},
                                        "20260102000000Z", "20280304000000Z", 7 + spec);
      EVP_PKEY_free(m.key);
      ASSERT_EQ(0u, zksTokenWriteCert(d, &ci, m.der.data(), uint32_t(m.der.size()), spec));
    }
  }

  FakeHost host;
  CDeviceList list;
  std::unique_ptr<PullableBus> bus_;
  std::vector<std::unique_ptr<UK_DEV_INFO>> devs_;
};


struct NodeRow {
  std::unique_ptr<CTreeNode> node;
  bool root;
};

inline std::vector<NodeRow> Nodes(const CDeviceList &list) {
  std::vector<NodeRow> out;
  ForEachTreeNode(list, [&](CTreeNode *n, bool root) { out.push_back({std::unique_ptr<CTreeNode>(n), root}); });
  return out;
}

}  // namespace clienttest
