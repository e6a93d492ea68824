// The key service's portable decisions: command line, interface matching, the arrival counter and
// the search-path edit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keysrv_core.h"

using namespace uk::keysrv;

namespace {

TEST(CommandLine, ArgumentsSelectTheCommand) {
  const char *none[] = {"ORV_KELM_KeySrv.exe"};
  const char *install[] = {"ORV_KELM_KeySrv.exe", "-i"};
  const char *del[] = {"ORV_KELM_KeySrv.exe", "-d"};
  EXPECT_EQ(Command::Run, parseCommandLine(1, none));
  EXPECT_EQ(Command::Install, parseCommandLine(2, install));
  EXPECT_EQ(Command::Delete, parseCommandLine(2, del));
  const char *bad[][3] = {{"x", "-x", nullptr},  {"x", "-I", nullptr}, {"x", "/i", nullptr},
                          {"x", "-i ", nullptr}, {"x", "", nullptr},   {"x", "-i", "-d"},
                          {"x", "-d", "extra"}};
  for (auto &argv : bad) {
    int argc = argv[2] ? 3 : 2;
    EXPECT_EQ(Command::BadParameter, parseCommandLine(argc, argv)) << argv[1];
  }
}

TEST(CommandLine, TextsAreTheServiceOwn) {
  EXPECT_STREQ("ZVUK for ORV Service", kServiceName);
  EXPECT_STREQ("Install successfully\r", kInstallOk);
  EXPECT_STREQ("Install failed,error code: %d\n", kInstallFailedCode);
  EXPECT_STREQ("Install failed\r", kInstallFailed);
  EXPECT_STREQ("Delete service successfully\n", kDeleteOk);
  EXPECT_STREQ("Delete failed\n", kDeleteFailed);
  // The two separators are full-width commas (U+FF0C), the rest is ASCII.
  std::u16string text(kParamError);
  ASSERT_EQ(37u, text.size());
  EXPECT_EQ(u'\uFF0C', text[15]);
  EXPECT_EQ(u'\uFF0C', text[26]);
  std::string ascii;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != 15 && i != 26) ascii.push_back(static_cast<char>(text[i]));
  EXPECT_EQ("Error parameter-i install-d delete\n", ascii);
}

TEST(CommandLine, FailedInstallOrDeleteGivesANonZeroExitCode) {
  EXPECT_EQ(0, exitCodeFor(true, 0));
  EXPECT_EQ(0, exitCodeFor(true, 5));
  EXPECT_EQ(1073, exitCodeFor(false, 1073));
  EXPECT_EQ(1060, exitCodeFor(false, 1060));
  EXPECT_EQ(1, exitCodeFor(false, 0));
}

TEST(InterfaceMatching, CdRomAndDiskNamesByVendorPart) {
  EXPECT_TRUE(interfaceNameMatches(
      false, "\\\\?\\USBSTOR#CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00#7&1a2b3c&0#"
             "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"));
  EXPECT_TRUE(interfaceNameMatches(
      false, "\\\\?\\usbstor#disk&ven_marvo&prod_ukey&rev_1.00#7&1a2b3c&0#"
             "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"));
  EXPECT_TRUE(interfaceNameMatches(false, "x&VEN_MARVO&y"));
  // Another vendor, a vendor part that only starts or ends like ours, no second "&", no "&".
  EXPECT_FALSE(interfaceNameMatches(false, "\\\\?\\USBSTOR#CdRom&Ven_Generic&Prod_Flash#1&2#{x}"));
  EXPECT_FALSE(interfaceNameMatches(false, "a&ven_kestra2&b"));
  EXPECT_FALSE(interfaceNameMatches(false, "a&ven_kestr&b"));
  EXPECT_FALSE(interfaceNameMatches(false, "a&xven_marvo&b"));
  EXPECT_FALSE(interfaceNameMatches(false, "a&ven_kestra"));
  EXPECT_FALSE(interfaceNameMatches(false, "USBSTOR#CdRom#ven_kestra"));
  EXPECT_FALSE(interfaceNameMatches(false, ""));
  EXPECT_FALSE(interfaceNameMatches(false, nullptr));
  // The vendor rule is not applied to HID names, nor the vid/pid rule to the storage classes.
  EXPECT_FALSE(interfaceNameMatches(true, "a&ven_kestra&b"));
  EXPECT_FALSE(interfaceNameMatches(false, "\\\\?\\hid#vid_0b0c&pid_10ae#1&2#{x}"));
}

TEST(InterfaceMatching, HidNamesByVidPid) {
  EXPECT_TRUE(interfaceNameMatches(
      true, "\\\\?\\HID#VID_0B0C&PID_10AE#7&2f3b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"));
  EXPECT_TRUE(interfaceNameMatches(true, "#vid_0b0c&pid_10ae#"));
  EXPECT_FALSE(interfaceNameMatches(true, "\\\\?\\HID#VID_0B0C&PID_10AF#7&2f3b#{x}"));
  EXPECT_FALSE(interfaceNameMatches(true, "\\\\?\\HID#VID_0B0C&PID_10AE&MI_00#7&2f3b#{x}"));
  EXPECT_FALSE(interfaceNameMatches(true, "\\\\?\\HID#VID_0B0C&PID_10AE"));
  EXPECT_FALSE(interfaceNameMatches(true, "vid_0b0c&pid_10ae"));
}

struct RecordingActions : WatcherActions {
  int launches = 0;
  int purges = 0;
  void launchClient() override { ++launches; }
  void purgeCertificates() override { ++purges; }
};

TEST(ArrivalCounter, OtherDevicesChangeNothing) {
  ArrivalCounter counter;
  RecordingActions actions;
  counter.onDeviceEvent(kDbtDeviceArrival, false, actions);
  counter.onDeviceEvent(kDbtDeviceRemoveComplete, false, actions);
  EXPECT_EQ(0u, counter.count());
  EXPECT_EQ(0, actions.launches);
  EXPECT_EQ(0, actions.purges);
}

TEST(ArrivalCounter, LastRemovalPurgesOnce) {
  ArrivalCounter counter;
  RecordingActions actions;
  // One insertion brings a CD-ROM and a disk interface: two launches, count 2.
  counter.onDeviceEvent(kDbtDeviceArrival, true, actions);
  counter.onDeviceEvent(kDbtDeviceArrival, true, actions);
  EXPECT_EQ(2u, counter.count());
  EXPECT_EQ(2, actions.launches);
  counter.onDeviceEvent(kDbtDeviceRemoveComplete, true, actions);
  EXPECT_EQ(1u, counter.count());
  EXPECT_EQ(0, actions.purges);
  counter.onDeviceEvent(kDbtDeviceRemoveComplete, true, actions);
  EXPECT_EQ(0u, counter.count());
  EXPECT_EQ(1, actions.purges);
  // Removals at 0 neither go negative nor purge again; the next arrival counts from 0.
  counter.onDeviceEvent(kDbtDeviceRemoveComplete, true, actions);
  EXPECT_EQ(0u, counter.count());
  EXPECT_EQ(1, actions.purges);
  counter.onDeviceEvent(kDbtDeviceArrival, true, actions);
  EXPECT_EQ(1u, counter.count());
  counter.onDeviceEvent(kDbtDeviceRemoveComplete, true, actions);
  EXPECT_EQ(2, actions.purges);
  EXPECT_EQ(3, actions.launches);
}

TEST(ArrivalCounter, OtherEventTypesAreIgnored) {
  ArrivalCounter counter;
  RecordingActions actions;
  counter.onDeviceEvent(kDbtDeviceArrival, true, actions);
  for (uint32_t type : {0x8001u, 0x8002u, 0x8003u, 0x8005u, 0x8006u, 0x0007u})
    counter.onDeviceEvent(type, true, actions);
  EXPECT_EQ(1u, counter.count());
  EXPECT_EQ(1, actions.launches);
  EXPECT_EQ(0, actions.purges);
}

std::string edit(const std::string &value, const char *dir) {
  std::vector<char> out(value.size() + 1);
  size_t n = removeSearchPathEntry(value.data(), value.size(), dir, out.data(), out.size());
  EXPECT_NE(static_cast<size_t>(-1), n);
  EXPECT_EQ('\0', out[n]);
  return std::string(out.data(), n);
}

TEST(SearchPath, RemovesTheWholeEntry) {
  EXPECT_EQ("E:\\A;G:\\B", edit("E:\\A;F:\\Prog\\Svc;G:\\B", "F:\\Prog\\Svc"));
  EXPECT_EQ("E:\\A;", edit("E:\\A;F:\\Prog\\Svc", "F:\\Prog\\Svc"));
  EXPECT_EQ("G:\\B", edit("F:\\Prog\\Svc;G:\\B", "F:\\Prog\\Svc"));
  EXPECT_EQ("", edit("F:\\Prog\\Svc", "F:\\Prog\\Svc"));
  EXPECT_EQ("E:\\A;G:\\B", edit("E:\\A;f:\\PROG\\svc;G:\\B", "F:\\Prog\\Svc"));
  EXPECT_EQ("E:\\A;G:\\B", edit("E:\\A;F:\\Prog\\Svc\\;G:\\B", "F:\\Prog\\Svc"));
  // Listed twice: both go.
  EXPECT_EQ("E:\\A;G:\\B", edit("F:\\Prog\\Svc;E:\\A;F:\\Prog\\Svc;G:\\B", "F:\\Prog\\Svc"));
}

TEST(SearchPath, KeepsEntriesThatMerelyContainTheDirectory) {
  const char *dir = "F:\\Prog\\Svc";
  for (const char *value :
       {"E:\\A;F:\\Prog\\Svc2;G:\\B", "E:\\A;F:\\Prog\\Svc\\bin;G:\\B", "E:\\A;X:\\F:\\Prog\\Svc",
        "F:\\Prog\\Svc2", "E:\\A;G:\\B", "", ";;", "F:\\Prog"})
    EXPECT_EQ(value, edit(value, dir)) << value;
  // A neighbour containing the text survives while the entry itself goes.
  EXPECT_EQ("F:\\Prog\\Svc2;G:\\B", edit("F:\\Prog\\Svc2;F:\\Prog\\Svc;G:\\B", dir));
  EXPECT_EQ("E:\\A;F:\\Prog\\Svc\\x", edit("E:\\A;F:\\Prog\\Svc;F:\\Prog\\Svc\\x", dir));
}

TEST(SearchPath, RefusesASmallOutputAndAnEmptyDirectory) {
  std::string value = "E:\\A;F:\\Prog\\Svc";
  char out[8];
  EXPECT_EQ(static_cast<size_t>(-1),
            removeSearchPathEntry(value.data(), value.size(), "F:\\Prog\\Svc", out, sizeof(out)));
  EXPECT_EQ(value, edit(value, ""));
}

TEST(SearchPath, ProgramDirectoryIsCutAtTheLastBackslash) {
  char dir[32];
  ASSERT_TRUE(programDirectory("F:\\Prog\\Svc\\ORV_KELM_KeySrv.exe", dir, sizeof(dir)));
  EXPECT_STREQ("F:\\Prog\\Svc", dir);
  EXPECT_FALSE(programDirectory("ORV_KELM_KeySrv.exe", dir, sizeof(dir)));
  char tiny[4];
  EXPECT_FALSE(programDirectory("F:\\Prog\\Svc\\x.exe", tiny, sizeof(tiny)));
}

TEST(ProviderName, ComparedIgnoringCase) {
  EXPECT_TRUE(isOurProviderName(u"ZV UKey for ORV Cryptographic Service Provider"));
  EXPECT_TRUE(isOurProviderName(u"zv ukey FOR orv cryptographic service provider"));
  EXPECT_FALSE(isOurProviderName(u"ZV UKey for ORV Cryptographic Service Provider "));
  EXPECT_FALSE(isOurProviderName(u"ZV UKey for ORV Cryptographic Service Provide"));
  EXPECT_FALSE(isOurProviderName(u"Microsoft Base Cryptographic Provider v1.0"));
  EXPECT_FALSE(isOurProviderName(u""));
  EXPECT_FALSE(isOurProviderName(nullptr));
}

}  // namespace
