// The export frame's log lines, the no-op exports and the record layout. Natively the test links
// the core and points the log at a temporary file; under Wine it calls the real DLL, whose log is
// the fixed path on drive c:.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "uk_tokenlib.h"
#ifndef UK_TEST_DLL
#include "uk_log.h"
#endif

namespace {

#ifdef UK_TEST_DLL
const char *kLog = "c:\\kelm\\ORV\\KELM_Q57Tokenlib.log";
#else
std::string g_log = testing::TempDir() + "uk_frame_test.log";
const char *kLog = g_log.c_str();
#endif

class FrameTest : public testing::Test {
 protected:
  void SetUp() override {
    std::remove(kLog);
#ifndef UK_TEST_DLL
    uk::setLogPath(kLog);
#endif
  }
  // The log is opened in text mode ("a+"), so on Windows every line ends in CR LF; the
  // expectations are written with LF and compared after folding CR LF.
  static std::string logText() {
    std::ifstream f(kLog, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    std::string text = s.str();
#ifdef UK_TEST_DLL
    for (size_t p; (p = text.find("\r\n")) != std::string::npos;) text.erase(p, 1);
#endif
    return text;
  }
};

TEST_F(FrameTest, DisconnectOfUnconnectedRecordLogsCloseStepAndReturns4) {
  UK_DEV_INFO dev{};
  EXPECT_EQ(4u, zksTokenDisconnect(&dev));
  EXPECT_EQ("zksTokenDisconnect starting......\n"
            "---->uk_usb_CloseDevice ......\n"
            "zksTokenDisconnect end......\n",
            logText());
}

TEST_F(FrameTest, NullDeviceRecordIsAParameterErrorWithoutEndLine) {
  EXPECT_EQ(4u, zksTokenDisconnect(nullptr));
  EXPECT_EQ("zksTokenDisconnect starting......\n---->UKLR_PARAM_VALUE......\n", logText());
}

TEST_F(FrameTest, LogAppendsLineAfterLine) {
  UK_DEV_INFO dev{};
  zksTokenDisconnect(&dev);
  zksTokenDisconnect(&dev);
  std::string text = logText();
  EXPECT_EQ(6u * 1, static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
}

TEST_F(FrameTest, NoOpExportsReturnZeroWhateverTheArgumentsAndLogNothing) {
  EXPECT_EQ(0u, zksTokenEstablishContext());
  EXPECT_EQ(0u, zksTokenReleaseContext());
  EXPECT_EQ(0u, zksTokenSetLanguage(nullptr, 0));
  EXPECT_EQ(0u, zksTokenSetLanguage(nullptr, 0xFFFFFFFFu));
  EXPECT_EQ(0u, zksTokenSelectContainerInfoEF(nullptr));
  EXPECT_EQ(0u, zksTokenSelectObjectEF(nullptr));
  EXPECT_EQ(0u, zksTokenCreateEF(nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, zksTokenGetDeviceConfigInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  int junk = 7;
  EXPECT_EQ(0u, zksTokenModifyDeviceConfigInfo(&junk, &junk, nullptr, &junk, nullptr, &junk));
  EXPECT_EQ("", logText());
}

TEST_F(FrameTest, ReservedExportsReturn11AndLogNothing) {
  EXPECT_EQ(11u, zksTokenHashInit(nullptr, nullptr));
  EXPECT_EQ(11u, zksTokenHashFinal(nullptr, nullptr, nullptr));
  EXPECT_EQ(11u, zksTokenUpdate(nullptr, nullptr, nullptr));
  EXPECT_EQ(11u, zksTokenGetUserInputData4QRB(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(11u, zksTokenRsaPriEncrypt4QRB(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr));
  EXPECT_EQ("", logText());
}

TEST(Records, LayoutMatchesWhatCallersIndexInto) {
  // Offsets that other programs compute by hand (the guide reads the container flag byte at 1).
  EXPECT_EQ(272u, sizeof(UK_CONTAINER_INFO));
  EXPECT_EQ(1u, offsetof(UK_CONTAINER_INFO, flags));
  EXPECT_EQ(2u, offsetof(UK_CONTAINER_INFO, exPubFid));
  EXPECT_EQ(12u, offsetof(UK_CONTAINER_INFO, sigCertFid));
  EXPECT_EQ(271u, offsetof(UK_CONTAINER_INFO, sigKeyUnits));
  EXPECT_EQ(525u, offsetof(UK_DEV_INFO, connection));
  EXPECT_EQ(591u + sizeof(void *), sizeof(UK_DEV_INFO));
  EXPECT_EQ(sizeof(UK_DEV_INFO) - 1, offsetof(UK_DEV_INFO, callerDataBLen));
#ifdef UK_TEST_DLL
  // The record as Windows callers see it: 595 bytes in 32-bit processes; in 64-bit ones the
  // connection pointer is 8 bytes wide and everything after it moves by 4.
  EXPECT_EQ(sizeof(void *) == 4 ? 595u : 599u, sizeof(UK_DEV_INFO));
  EXPECT_EQ(sizeof(void *) == 4 ? 529u : 533u, offsetof(UK_DEV_INFO, reserved));
#endif
}

}  // namespace
