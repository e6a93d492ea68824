// The client manager's core without windows: the model read from emulated tokens in-process,
// tree nodes with their texts, tooltips and masks, the command factory and dispatch, the command
// bar's hit test, store mirroring on refresh, the register and unregister commands, and the
// shell's decisions (language, "/min", first-use programs, notice geometry).
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "client_fakes.h"
#include "shell_logic.h"

using namespace client;
using namespace clienttest;

namespace {


TEST_F(ClientModelTest, TwoContainersWithBothCertificatesGiveFourNodesInContainerOrder) {
  AddToken("UKCLI00001", "My Token");
  AddContainer("first", "Alice Exchange", "Alice Signature");
  AddContainer("second", "Bob Exchange", "Bob Signature");
  ASSERT_TRUE(list.Enumerate());
  ASSERT_EQ(1u, list.Devices().size());
  CMarvoDevice *d = list.Devices()[0].get();
  EXPECT_EQ(L"My Token", d->GetLabel());
  EXPECT_EQ(L"UKCLI00001", d->GetSerialNumber());
  EXPECT_FALSE(d->CosVersion().empty());
  ASSERT_EQ(2u, d->Containers().size());
  EXPECT_EQ(L"first", d->Containers()[0]->Name());
  EXPECT_EQ(nullptr, d->Containers()[0]->Cert(2));
  EXPECT_EQ(0, host.held);  // every lock given back

  std::vector<NodeRow> nodes = Nodes(list);
  ASSERT_EQ(5u, nodes.size());
  EXPECT_TRUE(nodes[0].root);
  EXPECT_EQ(kNodeToken, nodes[0].node->GetType());
  EXPECT_EQ(uint32_t(kMaskToken), nodes[0].node->mask);
  EXPECT_EQ(kImageToken, nodes[0].node->image);
  const wchar_t *order[] = {L"Alice Exchange", L"Alice Signature", L"Bob Exchange", L"Bob Signature"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(nodes[i + 1].root);
    EXPECT_EQ(kNodeCertificate, nodes[i + 1].node->GetType());
    EXPECT_EQ(uint32_t(kMaskCertificate), nodes[i + 1].node->mask);
    EXPECT_EQ(kImageCertificate, nodes[i + 1].node->selectedImage);
    EXPECT_EQ(order[i], nodes[i + 1].node->GetText());
  }
  auto *sig = static_cast<CTreeCertNode *>(nodes[2].node.get());
  EXPECT_EQ(2u, sig->Cert()->KeySpec());
  EXPECT_STREQ(L"Signature cert", sig->Cert()->KindText());
  EXPECT_STREQ(L"Exchange cert", static_cast<CTreeCertNode *>(nodes[1].node.get())->Cert()->KindText());
}

TEST_F(ClientModelTest, MissingCertificatesAreNotShownAndKeyPairsFollowTheContainerFlags) {
  AddToken("UKCLI00002");
  AddContainer("only-signature", "", "Carol");
  UK_DEV_INFO *dev = devs_.back().get();
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenVerifyUserPin(dev, reinterpret_cast<const uint8_t *>(objtest::kUserPin), 6, &tries));
  UK_CONTAINER_INFO ci{};
  ASSERT_EQ(0u, zksTokenGetContainerByName(dev, &ci, "only-signature"));
  ASSERT_EQ(0u, zksTokenGenRsaKeyPair(dev, &ci, 2));
  ASSERT_TRUE(list.Enumerate());
  TokenContainer &c = *list.Devices()[0]->Containers()[0];
  EXPECT_TRUE(c.Cert(0)->IsAbsent());
  EXPECT_FALSE(c.Cert(1)->IsAbsent());
  EXPECT_TRUE(c.KeyPair(0).IsAbsent());
  EXPECT_FALSE(c.KeyPair(1).IsAbsent());
  EXPECT_EQ(1024u, c.KeyPair(1).ModulusBits());
  EXPECT_EQ(2u, Nodes(list).size());
}

TEST_F(ClientModelTest, NodeTextsAndTooltipsInEachLanguage) {
  AddToken("UKCLI00003", "Office");
  AddContainer("c", "", "Dave");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  ASSERT_EQ(2u, nodes.size());
  std::wstring cos = list.Devices()[0]->CosVersion();
  EXPECT_EQ(L"Office,  S/N:UKCLI00003,  COS Ver:" + cos, nodes[0].node->GetInfoText());
  EXPECT_EQ(L"Name:Office\nS/N:UKCLI00003\nLabel:Office", nodes[0].node->GetTooltipText());
  EXPECT_EQ(L"Issuer:ORV Test CA, Issue to:Dave\nValid:2026/1/2 To 2028/3/4",
            nodes[1].node->GetInfoText());
  EXPECT_EQ(L"Issuer:ORV Test CA\nIssue to:Dave\nValid:2026/1/2 To 2028/3/4",
            nodes[1].node->GetTooltipText());

  SetLanguageIndex(ui::kSimplifiedChinese);
  EXPECT_EQ(L"颁发者:ORV Test CA，颁发给:Dave\n有效期:2026/1/2 至 2028/3/4", nodes[1].node->GetInfoText());
  EXPECT_EQ(L"名称:Office\n序号:UKCLI00003\n标签:Office", nodes[0].node->GetTooltipText());
  SetLanguageIndex(ui::kTraditionalChinese);
  EXPECT_EQ(L"Office,  序號:UKCLI00003,  COS版本:" + cos, nodes[0].node->GetInfoText());
}

TEST_F(ClientModelTest, BlockedUserPinShowsAsLockedInStatusAndTooltip) {
  AddToken("UKCLI00004", "Blocked");
  UK_DEV_INFO *dev = devs_.back().get();
  uint8_t tries = 0;
  for (int i = 0; i < 10; ++i)
    zksTokenVerifyUserPin(dev, reinterpret_cast<const uint8_t *>("000000"), 6, &tries);
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  EXPECT_TRUE(list.Devices()[0]->IsDeviceLocked());
  EXPECT_EQ(0u, nodes[0].node->GetInfoText().find(L"Blocked(Device locked),  S/N:UKCLI00004"));
  EXPECT_EQ(0u, nodes[0].node->GetTooltipText().find(L"Device locked\nName:Blocked\n"));
}

TEST_F(ClientModelTest, SubjectWithPercentSignAndLongLabels) {
  AddToken("UKCLI00005", "ABCDEFGHIJKLMNOPQRST");
  AddContainer("c", "100% %s %d Bank", "");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  ASSERT_EQ(2u, nodes.size());
  EXPECT_EQ(L"100% %s %d Bank", nodes[1].node->GetText());
  EXPECT_NE(std::wstring::npos, nodes[1].node->GetInfoText().find(L"Issue to:100% %s %d Bank\n"));
  // A 20-character label is drawn as 13 characters and "..."; the tooltip keeps it whole.
  EXPECT_EQ(L"ABCDEFGHIJKLM...", TreeItemLabel(nodes[0].node->GetText()));
  EXPECT_NE(std::wstring::npos, nodes[0].node->GetTooltipText().find(L"Name:ABCDEFGHIJKLMNOPQRST\n"));
  EXPECT_EQ(L"100% %s %d Ba...", TreeItemLabel(nodes[1].node->GetText()));
}

TEST_F(ClientModelTest, FactoryPinAndItsChangeAreReadFromTheToken) {
  AddToken("UKCLI00006");
  ASSERT_TRUE(list.Enumerate());
  CMarvoDevice *d = list.Devices()[0].get();
  EXPECT_TRUE(d->CheckPinChange());
  EXPECT_TRUE(d->NeedsPinChange());
  UK_DEV_INFO *dev = devs_.back().get();
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenModifyUserPin(dev, reinterpret_cast<const uint8_t *>(objtest::kUserPin), 6,
                                      reinterpret_cast<const uint8_t *>("135799"), 6, &tries));
  EXPECT_FALSE(d->CheckPinChange());
  EXPECT_FALSE(d->NeedsPinChange());
  EXPECT_EQ(L"ORV-USBKEY", d->GetLabel());
}

TEST_F(ClientModelTest, RefreshMirrorsCertificatesIntoTheStoreAndOutAgain) {
  AddToken("UKCLI00007");
  AddContainer("mirror", "Eve Exchange", "Eve Signature");
  AddToken("UKCLI00008");
  AddContainer("other", "", "Frank");
  ASSERT_TRUE(list.Refresh(1033));
  ASSERT_EQ(3u, host.store.size());
  int specs = 0;
  for (auto &e : host.store) {
    if (e.second.container == L"mirror") specs |= 1 << e.second.keySpec;
    else EXPECT_EQ(L"other", e.second.container);
  }
  EXPECT_EQ(6, specs);  // key pairs 1 and 2 of the container "mirror"

  // The same certificates registered again leave one entry each.
  ASSERT_TRUE(list.Refresh(2052));
  EXPECT_EQ(3u, host.store.size());

  // The first token is pulled out: its certificates leave the store, the other's stay.
  bus_->pulled.insert("UKCLI00007");
  ASSERT_TRUE(list.Refresh(1033));
  ASSERT_EQ(1u, list.Devices().size());
  ASSERT_EQ(1u, host.store.size());
  EXPECT_EQ(L"other", host.store.begin()->second.container);

  // With no token attached the rest goes too; Exit removes whatever the list still knows.
  bus_->pulled.insert("UKCLI00008");
  ASSERT_TRUE(list.Refresh(1033));
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(host.store.empty());
  EXPECT_EQ(0, host.held);
}

TEST_F(ClientModelTest, WithoutTheDeviceLockNoTokenIsTouched) {
  AddToken("UKCLI00009");
  ASSERT_TRUE(list.Enumerate());
  CMarvoDevice *d = list.Devices()[0].get();
  host.lockAvailable = false;
  clearTrace();
  EXPECT_FALSE(d->IsDeviceLocked());
  EXPECT_FALSE(d->CheckPinChange());
  EXPECT_NE(0u, d->SetLanguage(1033));
  CInputPinTask task(d);
  task.Run();
  EXPECT_EQ(0u, task.Result());  // the result stays as it was
  EXPECT_TRUE(frames().empty());
  // Enumeration drops a token it cannot read.
  ASSERT_TRUE(list.Enumerate());
  EXPECT_TRUE(list.Empty());
}

TEST_F(ClientModelTest, PinTaskReportsTheLibrarysResultAndGivesTheLockBack) {
  AddToken("UKCLI00010");
  ASSERT_TRUE(list.Enumerate());
  CMarvoDevice *d = list.Devices()[0].get();
  // This product's tokens (model 0x35) take their PIN in the client's dialogs: the library
  // refuses the empty PIN of an on-device entry before anything reaches the token.
  EXPECT_FALSE(d->TakesPinOnDevice());
  clearTrace();
  CInputPinTask task(d);
  task.Run();
  EXPECT_EQ(uint32_t(UKLR_PARAM_VALUE), task.Result());
  EXPECT_EQ(0u, countIns(0x20));  // no VERIFY sent
  EXPECT_EQ(0, host.held);
  RecordingShell shell;
  ShowError(shell, 2, 0x800063C2u);
  ASSERT_EQ(1u, shell.boxes.size());
  EXPECT_EQ(L"PIN verification fail, you have 2 chance(s) left to retry", shell.boxes[0]);
  EXPECT_EQ(unsigned(kBoxWarning), shell.styles[0]);
}

// ---- commands ---------------------------------------------------------------------------------

TEST_F(ClientModelTest, RegisterAndUnregisterCommandsReportEachOutcome) {
  AddToken("UKCLI00011");
  AddContainer("c", "", "Grace");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  CTreeNode *cert = nodes[1].node.get();
  RecordingShell shell;

  ASSERT_TRUE(DispatchCommand(shell, kCmdRegister, cert));
  EXPECT_EQ(1u, host.store.size());
  ASSERT_TRUE(DispatchCommand(shell, kCmdRegister, cert));
  EXPECT_EQ(1u, host.store.size());
  EXPECT_EQ((std::vector<std::wstring>{L"Certificate registered!", L"Certificate registered!"}), shell.notices);

  ASSERT_TRUE(DispatchCommand(shell, kCmdUnregister, cert));
  EXPECT_TRUE(host.store.empty());
  EXPECT_EQ(L"Certificate unregistered", shell.notices.back());

  // Already gone (another tool deleted it): the "couldn't be found" box.
  ASSERT_TRUE(DispatchCommand(shell, kCmdUnregister, cert));
  ASSERT_EQ(1u, shell.boxes.size());
  EXPECT_EQ(L"Unregister fail,the certificate couldn't be found in system!", shell.boxes[0]);
  EXPECT_EQ(unsigned(kBoxOk), shell.styles[0]);

  // Another error: row 53 with the system's text, or "Sorry, unknown error!" without one.
  host.unregisterResult = 5;
  DispatchCommand(shell, kCmdUnregister, cert);
  EXPECT_EQ(L"Unregister fail!Access is denied.\r\n", shell.boxes.back());
  EXPECT_EQ(unsigned(kBoxError), shell.styles.back());
  host.unregisterResult = 0x80070057u;
  DispatchCommand(shell, kCmdUnregister, cert);
  EXPECT_EQ(L"Unregister fail!Sorry, unknown error!", shell.boxes.back());

  // A failed registration is reported, not announced as done.
  host.registerResult = 5;
  DispatchCommand(shell, kCmdRegister, cert);
  EXPECT_EQ(L"Certificate unegister fail!Access is denied.\r\n", shell.boxes.back());

  // Register on a token node is not allowed by its mask: nothing happens.
  size_t before = shell.notices.size() + shell.boxes.size();
  EXPECT_FALSE(DispatchCommand(shell, kCmdRegister, nodes[0].node.get()));
  EXPECT_EQ(before, shell.notices.size() + shell.boxes.size());
}

TEST_F(ClientModelTest, DoubleClickCommandOpensTheViewerOnlyForCertificates) {
  AddToken("UKCLI00012");
  AddContainer("c", "Heidi", "");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  RecordingShell shell;
  EXPECT_FALSE(DispatchCommand(shell, kCmdShowCertificate, nodes[0].node.get()));
  EXPECT_TRUE(shell.viewed.empty());
  EXPECT_TRUE(DispatchCommand(shell, kCmdShowCertificate, nodes[1].node.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"Heidi"}), shell.viewed);
}

TEST_F(ClientModelTest, FactoryMakesTheFourteenCommandsAndNothingElse) {
  AddToken("UKCLI00013");
  AddContainer("c", "Ivan", "");
  ASSERT_TRUE(list.Enumerate());
  std::vector<NodeRow> nodes = Nodes(list);
  RecordingShell shell;
  int made = 0;
  for (int b = 0; b < 16; ++b) {
    uint32_t bit = 1u << b;
    std::unique_ptr<ICommand> c = CreateCommand(shell, bit, nodes[0].node.get());
    if (c) ++made;
    EXPECT_EQ(b < kCommandCount, c != nullptr) << bit;
    EXPECT_EQ(b < kCommandCount, CommandTextRow(bit) != 0) << bit;  // every command has a name
  }
  EXPECT_EQ(kCommandCount, made);
  EXPECT_EQ(nullptr, CreateCommand(shell, 0, nodes[0].node.get()));
  EXPECT_EQ(nullptr, CreateCommand(shell, 3, nodes[0].node.get()));
  // Format only for a token node.
  EXPECT_NE(nullptr, CreateCommand(shell, kCmdFormat, nodes[0].node.get()));
  EXPECT_EQ(nullptr, CreateCommand(shell, kCmdFormat, nodes[1].node.get()));
  EXPECT_EQ(nullptr, CreateCommand(shell, kCmdFormat, nullptr));
}

TEST(ClientCommands, MasksAllowExactlyTheTabledCommands) {
  EXPECT_EQ(15301u, uint32_t(kCmdModifyPin | kCmdImport | kCmdRefresh | kCmdAutoCheck | kCmdRenameLabel |
                             kCmdFormat | kCmdUnlock | kCmdModifyAdminPin | kCmdUpdate));
  EXPECT_EQ(9466u, uint32_t(kCmdExport | kCmdShowCertificate | kCmdRegister | kCmdUnregister |
                            kCmdRefresh | kCmdAutoCheck | kCmdDelete | kCmdUpdate));
  EXPECT_EQ(8384u, uint32_t(kCmdRefresh | kCmdAutoCheck | kCmdUpdate));

  // Without a selection only refresh, auto check and update run.
  RecordingShell shell;
  SetClientHost(nullptr);
  EXPECT_FALSE(DispatchCommand(shell, kCmdRegister, nullptr));
  EXPECT_FALSE(DispatchCommand(shell, kCmdModifyPin, nullptr));
  EXPECT_TRUE(DispatchCommand(shell, kCmdAutoCheck, nullptr));
  EXPECT_EQ(1, shell.checkTools);
  EXPECT_FALSE(DispatchCommand(shell, 1u << 14, nullptr));
}

std::vector<std::wstring> Visible(const std::vector<BarButton> &b) {
  std::vector<std::wstring> out;
  for (auto &x : b)
    if (x.enabled) out.push_back(ClientTextTable().Get(x.textRow, ui::kEnglish));
  return out;
}

TEST(CommandBar, SelectionDecidesTheVisibleButtons) {
  std::vector<BarButton> b = MakeBarButtons();
  ASSERT_EQ(6u, b.size());
  SetBarMask(&b, kMaskNoSelection);
  EXPECT_EQ((std::vector<std::wstring>{L"Refresh", L"Auto Check", L"Online Update"}), Visible(b));
  SetBarMask(&b, kMaskCertificate);
  EXPECT_EQ((std::vector<std::wstring>{L"Export", L"Refresh", L"Auto Check", L"Online Update"}), Visible(b));
  SetBarMask(&b, kMaskToken);
  EXPECT_EQ((std::vector<std::wstring>{L"Modify PIN", L"Label", L"Refresh", L"Auto Check", L"Online Update"}),
            Visible(b));
}

TEST(CommandBar, HitTestPacksVisibleButtonsFromTheTop) {
  std::vector<BarButton> b = MakeBarButtons();
  SetBarMask(&b, kMaskNoSelection);  // Refresh, Auto Check, Online Update at rows 0, 1, 2
  EXPECT_EQ(3, BarHitTest(b, 10, 2, kBarWidth));       // first pixel of row 0
  EXPECT_EQ(3, BarHitTest(b, 119, 51, kBarWidth));     // last pixel of row 0
  EXPECT_EQ(-1, BarHitTest(b, 10, 52, kBarWidth));     // the gap
  EXPECT_EQ(-1, BarHitTest(b, 10, 61, kBarWidth));
  EXPECT_EQ(4, BarHitTest(b, 10, 62, kBarWidth));      // row 1
  EXPECT_EQ(5, BarHitTest(b, 10, BarButtonTop(2) + 25, kBarWidth));
  EXPECT_EQ(-1, BarHitTest(b, 10, BarButtonTop(3) + 25, kBarWidth));  // no fourth button
  EXPECT_EQ(-1, BarHitTest(b, 10, 1, kBarWidth));      // top margin
  EXPECT_EQ(-1, BarHitTest(b, 120, 10, kBarWidth));    // outside the bar
  EXPECT_EQ(-1, BarHitTest(b, -1, 10, kBarWidth));
}

// ---- texts and shell decisions ---------------------------------------------------------------

TEST(ClientTexts, TableShapeAndTellingRows) {
  const ui::CTextTable &t = ClientTextTable();
  ASSERT_EQ(kClientTextRows, t.Size());
  EXPECT_STREQ(L"UKEY Client for ORV ", t.Get(34, 0));
  EXPECT_STREQ(L"索伦银行个人网银向导", t.Get(34, 1));
  EXPECT_STREQ(L"有设备拔出,正在更新列表...", t.Get(31, 1));
  EXPECT_STREQ(L"有设备插入,正在更新列表...", t.Get(32, 1));
  EXPECT_STREQ(L"信息已刷新", t.Get(47, 1));
  EXPECT_STREQ(L"更新证书列表...", t.Get(38, 1));
  EXPECT_STREQ(L"证书列表已更新", t.Get(39, 1));
  EXPECT_STREQ(L"Unregister fail,the certificate couldn't be found in system!", t.Get(52, 0));
  EXPECT_STREQ(L"Insuffient space on device,import certificate fail", t.Get(22, 0));
  // Every row the client uses has all three columns; rows it does not use are empty.
  for (size_t r = 0; r < t.Size(); ++r) {
    bool en = t.Get(r, 0)[0] != 0;
    EXPECT_EQ(en, t.Get(r, 1)[0] != 0) << r;
    EXPECT_EQ(en, t.Get(r, 2)[0] != 0) << r;
  }
  for (size_t r : {0, 12, 19, 20, 33, 35, 54, 60, 70, 73, 82, 121, 137, 143, 152, 175, 200, 205, 232})
    EXPECT_STREQ(L"", t.Get(r, 0)) << r;
  // Placeholders survive translation: the same conversions in every column.
  for (size_t r = 0; r < t.Size(); ++r) {
    auto convs = [](const wchar_t *s) {
      std::wstring c;
      for (; *s; ++s)
        if (*s == L'%') c += s[1];
      return c;
    };
    EXPECT_EQ(convs(t.Get(r, 0)), convs(t.Get(r, 1))) << r;
    EXPECT_EQ(convs(t.Get(r, 0)), convs(t.Get(r, 2))) << r;
  }
}

TEST(ClientTexts, ErrorTextWording) {
  SetLanguageIndex(ui::kEnglish);
  EXPECT_EQ(L"Device locked!", ErrorText(0, 0x80006983u));
  EXPECT_EQ(L"PIN verification fail, you have 3 chance(s) left to retry", ErrorText(3, 0x800063C3u));
  EXPECT_EQ(L"PIN verification fail, you have 0 chance(s) left to retry", ErrorText(0, 0x800063C0u));
  EXPECT_EQ(L"Invalid device", ErrorText(0, 0x80100003u));
  EXPECT_EQ(L"User cancelled", ErrorText(0, 0x8010006Eu));
  EXPECT_EQ(L"Time out!", ErrorText(0, 0x80006A82u));
  EXPECT_EQ(L"Time out!", ErrorText(0, 0x8000FFFFu));  // not a wrong-PIN answer
  SetLanguageIndex(ui::kSimplifiedChinese);
  EXPECT_EQ(L"密码验证失败，您还有2次重试机会", ErrorText(2, 0x800063C2u));
  RecordingShell shell;
  ShowError(shell, 0, 0x8010006Eu);
  EXPECT_EQ((std::vector<std::wstring>{L"用户已取消"}), shell.notices);
  EXPECT_TRUE(shell.boxes.empty());
  SetLanguageIndex(ui::kEnglish);
}

TEST(ShellLogic, LanguageAtStart) {
  LanguageSources s;
  s.system = {1033, 1033};
  s.hasRegistry = true;
  s.registry = 2052;
  EXPECT_EQ(ui::kSimplifiedChinese, ChooseLanguage(s));  // regardless of the system language
  s.registry = 3076;                                       // unknown: fall through
  s.system = {3076, 1028, 2052};
  EXPECT_EQ(ui::kTraditionalChinese, ChooseLanguage(s));
  s.system = {0x0C09};
  EXPECT_EQ(ui::kEnglish, ChooseLanguage(s));
  s.hasRegistry = false;
  s.system = {1041, 1049};
  EXPECT_EQ(ui::kEnglish, ChooseLanguage(s));  // nothing maps
}

TEST(ShellLogic, MinSwitch) {
  EXPECT_TRUE(IsMinSwitch(L"/min"));
  EXPECT_TRUE(IsMinSwitch(L"/MIN"));
  EXPECT_TRUE(IsMinSwitch(L"/Min"));
  EXPECT_FALSE(IsMinSwitch(L"/min extra"));
  EXPECT_FALSE(IsMinSwitch(L"/minimal"));
  EXPECT_FALSE(IsMinSwitch(L" /min"));
  EXPECT_FALSE(IsMinSwitch(L""));
}

TEST(ShellLogic, FirstUsePrograms) {
  // Certificates shown, browser not running: the page opens once.
  EXPECT_EQ(FirstUse::kOpenWebPage, DecideFirstUse(true, true, false, false, L"UKQ5711000001"));
  EXPECT_EQ(FirstUse::kNothing, DecideFirstUse(true, true, true, true, L"UKQ5711000001"));
  // The seventh character "2" never opens it.
  EXPECT_EQ(FirstUse::kNothing, DecideFirstUse(true, true, false, false, L"UKQ5712000001"));
  // No certificate: the check program, on every refresh.
  EXPECT_EQ(FirstUse::kStartCheckTool, DecideFirstUse(true, false, false, false, L"UKQ5711000001"));
  EXPECT_EQ(FirstUse::kStartCheckTool, DecideFirstUse(true, false, true, true, L"UKQ5712000001"));
  // The last token removed: the browser the client started is ended.
  EXPECT_EQ(FirstUse::kTerminateBrowser, DecideFirstUse(false, false, true, true, L""));
  EXPECT_EQ(FirstUse::kNothing, DecideFirstUse(false, false, false, false, L""));
  EXPECT_EQ(FirstUse::kOpenWebPage, DecideFirstUse(true, true, false, false, L"SHORT"));
}

TEST(ShellLogic, BrowserCommand) {
  const std::wstring url = L"https://ebank.example/pweb/";
  EXPECT_EQ(L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" \"" + url + L"\"",
            BrowserCommandLine(L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome", url));
  EXPECT_EQ(L"\"C:\\b.exe\" \"" + url + L"\"", BrowserCommandLine(L"\"C:\\b.exe\" --single-argument %1", url));
  EXPECT_EQ(L"C:\\Progs\\Web Browser.EXE \"" + url + L"\"",
            BrowserCommandLine(L"C:\\Progs\\Web Browser.EXE %1", url));
  EXPECT_EQ(L"browser \"" + url + L"\"", BrowserCommandLine(L"browser %1", url));
  EXPECT_EQ(L"\"C:\\x.exe\" \"" + url + L"\"", BrowserCommandLine(L"\"C:\\x.exe", url));
}

TEST(ShellLogic, NoticeSlidesOutOfTheTaskbarEdge) {
  Rect screen{0, 0, 1024, 768};
  Rect bottomBar{0, 0, 1024, 728}, leftBar{40, 0, 1024, 768}, topBar{0, 30, 1024, 768},
      rightBar{0, 0, 980, 768};
  EXPECT_EQ(Edge::kBottom, TaskbarEdge(bottomBar, 1024, 768));
  EXPECT_EQ(Edge::kBottom, TaskbarEdge(screen, 1024, 768));  // no taskbar at all
  EXPECT_EQ(Edge::kLeft, TaskbarEdge(leftBar, 1024, 768));
  EXPECT_EQ(Edge::kTop, TaskbarEdge(topBar, 1024, 768));
  EXPECT_EQ(Edge::kRight, TaskbarEdge(rightBar, 1024, 768));

  Rect r = NoticeRect(Edge::kBottom, bottomBar, 241, 110, 0);
  EXPECT_EQ(728, r.top);  // hidden behind the edge
  EXPECT_EQ(1024, r.right);
  r = NoticeRect(Edge::kBottom, bottomBar, 241, 110, 110);
  EXPECT_EQ(618, r.top);
  EXPECT_EQ(728, r.bottom);
  r = NoticeRect(Edge::kLeft, leftBar, 241, 110, 241);
  EXPECT_EQ(40, r.left);
  EXPECT_EQ(768, r.bottom);
  r = NoticeRect(Edge::kTop, topBar, 241, 110, 110);
  EXPECT_EQ(30, r.top);
  r = NoticeRect(Edge::kRight, rightBar, 241, 110, 241);
  EXPECT_EQ(980, r.right);
  EXPECT_EQ(110, NoticeExtent(Edge::kBottom, 241, 110));
  EXPECT_EQ(241, NoticeExtent(Edge::kLeft, 241, 110));
  // 500 ms over 110 pixels in steps of 4: 27 steps of 18 ms.
  EXPECT_EQ(18, NoticeStepMs(500, 110));
  EXPECT_EQ(500, NoticeStepMs(500, 2));
  EXPECT_EQ(1, NoticeStepMs(0, 110));
}

TEST(ShellLogic, AboutHotArea) {
  Rect r = AboutHotArea(500, 64, 40, 16, 5);
  EXPECT_EQ(495, r.right);
  EXPECT_EQ(455, r.left);
  EXPECT_EQ(20, r.top);
  EXPECT_EQ(36, r.bottom);
}

TEST(DataObjects, ContentEntriesAreBoundsChecked) {
  std::string first, second;
  const uint8_t good[] = {'O', 0, 3, 'a', 'b', 'c', 'L', 0, 2, 'x', 'y'};
  EXPECT_TRUE(ParseDataObjectContent(good, sizeof good, &first, &second));
  EXPECT_EQ("abc", first);
  EXPECT_EQ("xy", second);
  // A length running past the end, a truncated header, and lengths near the 16-bit limit fail.
  const uint8_t lying[] = {'O', 0xFF, 0xFF, 'a'};
  EXPECT_FALSE(ParseDataObjectContent(lying, sizeof lying, &first, &second));
  const uint8_t truncated[] = {'O', 0, 1, 'a', 'A', 0};
  EXPECT_FALSE(ParseDataObjectContent(truncated, sizeof truncated, &first, &second));
  const uint8_t over[] = {'A', 0, 2, 'a'};
  EXPECT_FALSE(ParseDataObjectContent(over, sizeof over, &first, &second));
  // A "P" entry with a non-zero first byte ends the walk (what follows is not read).
  first.clear();
  const uint8_t stop[] = {'P', 0, 1, 1, 'O', 0xFF, 0xFF};
  EXPECT_TRUE(ParseDataObjectContent(stop, sizeof stop, &first, &second));
  EXPECT_EQ("", first);
  const uint8_t pzero[] = {'P', 0, 1, 0, 'O', 0, 1, 'z'};
  EXPECT_TRUE(ParseDataObjectContent(pzero, sizeof pzero, &first, &second));
  EXPECT_EQ("z", first);
  EXPECT_TRUE(ParseDataObjectContent(nullptr, 0, &first, &second));
}

TEST_F(ClientModelTest, DataObjectsAndSymmetricKeysAreLoadedWithTheToken) {
  AddToken("UKCLI00014");
  UK_DEV_INFO *dev = devs_.back().get();
  uint8_t tries = 0;
  ASSERT_EQ(0u, zksTokenVerifyUserPin(dev, reinterpret_cast<const uint8_t *>(objtest::kUserPin), 6, &tries));
  UK_DATA_OBJECT_INFO obj{};
  memcpy(obj.name, "profile", 7);
  const uint8_t content[] = {'O', 0, 4, 'o', 'r', 'g', '1', 'A', 0, 2, 'z', 'z'};
  ASSERT_EQ(0u, zksTokenWriteDataObject(dev, &obj, content, sizeof content));
  UK_SYM_KEY_INFO key{};
  key.algId = UK_SYM_ALG_DES;
  memcpy(key.name, "mac", 3);
  const uint8_t value[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(0u, zksTokenWriteSymKey(dev, &key, value, 8));
  ASSERT_TRUE(list.Enumerate());
  CMarvoDevice *d = list.Devices()[0].get();
  ASSERT_EQ(1u, d->DataObjects().size());
  EXPECT_EQ(L"profile", d->DataObjects()[0].label);
  EXPECT_EQ(L"org1", d->DataObjects()[0].first);
  EXPECT_EQ(L"zz", d->DataObjects()[0].second);
  EXPECT_TRUE(d->DataObjects()[0].parsed);
  ASSERT_EQ(1u, d->SymKeys().size());
  EXPECT_EQ(L"mac", d->SymKeys()[0].name);
}

}  // namespace
