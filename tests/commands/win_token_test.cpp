// Under Wine, through the real DLL and the virtual device bus: random numbers, PIN flows and
// formatting with a real progress window, checked from the emulator's trace.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

const uint8_t *u8(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

int g_progress = 0;

LRESULT CALLBACK progressProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_USER + 5 && wp == 0 && lp == 0) ++g_progress;
  return DefWindowProcW(w, msg, wp, lp);
}

HWND progressWindow() {
  static HWND w = nullptr;
  if (!w) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = progressProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"UkCommandsTestProgress";
    RegisterClassW(&wc);
    w = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                      nullptr);
  }
  return w;
}

class WinToken : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.fromSetting()) << "the emulator is not configured";
    serial = tokensim::uniqueSerial("CMDW");
    ASSERT_TRUE(client.createToken(serial, {{"userpin", "123456"},
                                            {"sopin", "12345678"},
                                            {"retries", "5"},
                                            {"soretries", "5"}}))
        << client.lastError();
    snprintf(dev.devicePath, sizeof dev.devicePath,
             "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
             serial.c_str());
    ASSERT_EQ(0u, zksTokenConnect(&dev, 0));
    ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev, 0));  // where the key file lives
    ASSERT_TRUE(client.clearTrace(serial));
  }
  void TearDown() override {
    if (dev.connection) zksTokenDisconnect(&dev);
    client.deleteToken(serial);
  }
  // The command frames the token received (after their length bytes), in order.
  std::vector<std::string> requests() {
    std::vector<std::string> out;
    for (const std::string &l : client.trace(serial))
      if (l.compare(0, 2, "> ") == 0) out.push_back(l.substr(2));
    return out;
  }
  size_t countPrefix(const std::string &prefix) {
    size_t n = 0;
    for (const std::string &r : requests())
      if (r.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }

  tokensim::Client client;
  std::string serial;
  UK_DEV_INFO dev{};
};

TEST_F(WinToken, RandomAndArgumentLimits) {
  uint8_t buf[40];
  ASSERT_EQ(0u, zksTokenGenRandom(&dev, buf, 20));
  EXPECT_EQ(std::vector<std::string>({"00840000000000000010", "00840000000000000010"}),
            requests());
  ASSERT_TRUE(client.clearTrace(serial));
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, buf, 0));
  uint8_t pin[33];
  memset(pin, '1', sizeof pin);
  uint8_t tries = 0xEE;
  EXPECT_EQ(4u, zksTokenVerifyUserPin(&dev, pin, 33, &tries));
  EXPECT_EQ(4u, zksTokenUnlockUserPin(&dev, u8("12345678"), 8, pin, 33));
  EXPECT_EQ(0xEE, tries);
  EXPECT_TRUE(requests().empty());
}

TEST_F(WinToken, PinFlows) {
  uint8_t tries = 0xEE;
  EXPECT_EQ(0x800063C4u, zksTokenVerifyUserPin(&dev, u8("000000"), 6, &tries));
  EXPECT_EQ(4, tries);
  ASSERT_EQ(0u, zksTokenVerifyUserPin(&dev, u8("123456"), 6, &tries));

  uint8_t longPin[33];
  memset(longPin, '7', sizeof longPin);
  ASSERT_TRUE(client.clearTrace(serial));
  EXPECT_EQ(4u, zksTokenModifyUserPin(&dev, u8("123456"), 6, longPin, 33, &tries));
  EXPECT_EQ(1u, countPrefix("002000A1"));
  EXPECT_EQ(0u, countPrefix("002400A1"));

  tries = 0xEE;
  EXPECT_EQ(0x800063C4u, zksTokenUnlockUserPin(&dev, u8("00000000"), 8, u8("654321"), 6));
  EXPECT_EQ(0u, countPrefix("00FC00A1"));
  EXPECT_EQ(0xEE, tries);

  ASSERT_EQ(0u, zksTokenVerifySoPin(&dev, u8("12345678"), 8, nullptr));
  ASSERT_EQ(0u, zksTokenSetUserPin(&dev, u8("654321"), 6, 0));
  EXPECT_EQ(0u, zksTokenVerifyUserPin(&dev, u8("654321"), 6, nullptr));
  ASSERT_EQ(0u, zksTokenResetUserPinVerifyFlag(&dev));
  EXPECT_EQ(0x80006982u, zksTokenSetUserPin(&dev, u8("111111"), 6, 0));
}

TEST_F(WinToken, FormatSendsProgressToTheWindow) {
  HWND w = progressWindow();
  ASSERT_NE(nullptr, w);
  g_progress = 0;
  std::string label(70, 'W');
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, w, nullptr, 0, 0, u8("12345678901234567890"), 20, 0, 0,
                                     label.c_str(), 0, 0));
  EXPECT_EQ(14, g_progress);
  EXPECT_EQ(1u, countPrefix("00E40000"));
  EXPECT_EQ(0u, zksTokenVerifyUserPin(&dev, u8("1234567890123456"), 16, nullptr));
  EXPECT_EQ(0u, zksTokenVerifySoPin(&dev, u8("70361524"), 8, nullptr));
  char text[128];
  uint32_t len = sizeof text;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, text, &len));
  EXPECT_EQ(std::string(63, 'W'), std::string(text));

  ASSERT_TRUE(client.blank(serial));
  ASSERT_TRUE(client.clearTrace(serial));
  g_progress = 0;
  ASSERT_EQ(0u, zksTokenFormatDevice(&dev, w, nullptr, 0, 0, nullptr, 0, 0, 0, nullptr, 0, 0));
  EXPECT_EQ(13, g_progress);
  EXPECT_EQ(0u, countPrefix("00E40000"));
  len = sizeof text;
  ASSERT_EQ(0u, zksTokenGetDeviceLabel(&dev, text, &len));
  EXPECT_STREQ("ORV-USBKEY", text);
  EXPECT_EQ(0u, zksTokenVerifyUserPin(&dev, u8("482915"), 6, nullptr));
}

TEST_F(WinToken, SerialNumberAndFiles) {
  char sn[32];
  uint32_t len = 0;
  ASSERT_EQ(0u, zksTokenGetSn(&dev, sn, &len));
  EXPECT_EQ(serial.substr(0, 31), std::string(sn));
  ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&dev, 0));
  const uint8_t idx[2] = {0x50, 0x00};
  ASSERT_EQ(0u, zksTokenSelectDF(&dev, idx));
  // A record file is no transparent file: the card refuses the read binary it is sent.
  ASSERT_TRUE(client.clearTrace(serial));
  uint8_t buf[16];
  EXPECT_NE(0u, zksTokenReadBinary(&dev, 0, 16, buf));
  EXPECT_EQ(std::vector<std::string>({"00B00000000000000010"}), requests());
}

}  // namespace
