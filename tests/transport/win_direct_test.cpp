// The token library DLL on the direct road (Windows XP: the library opens the device itself)
// against a virtual token. The test's own Windows version is set to winxp for this program only
// (Wine's per-program AppDefaults key, written by the ctest fixture transport_winxp).
#include "win_road.h"

#include <string>

#include "uk_tokensim_client.h"

namespace {

class DirectRoad : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(road::ntAboveFive()) << "this program must run with Wine's version set to winxp";
    ASSERT_TRUE(sim_.fromSetting()) << "no emulator named in the machine-wide setting";
    serial_ = tokensim::uniqueSerial("D");
    ASSERT_TRUE(sim_.createToken(serial_)) << sim_.lastError();
  }
  void TearDown() override {
    if (!serial_.empty()) sim_.deleteToken(serial_);
  }
  tokensim::Client sim_;
  std::string serial_;
};

TEST_F(DirectRoad, ListConnectExchangeDisconnect) {
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  EXPECT_EQ(0, strncmp(dev.displayName, "ZV-UK Q57: ", 11));
  EXPECT_EQ(dev.modelCode, 0x35);
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  EXPECT_EQ(dev.state, 1);

  uint8_t buf[64] = {0x00, 0x84, 0x00, 0x00, 0x08};
  uint32_t len = sizeof buf;
  ASSERT_EQ(zksTokenTransmit(&dev, 1, 5, buf, &len, 0, 0, 0), 0u);
  EXPECT_EQ(len, 12u);
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(buf[1], 0x0A);
  EXPECT_EQ(buf[10], 0x90);
  EXPECT_EQ(buf[11], 0x00);
  // A status word other than 9000 comes back as 0x80000000 + SW.
  uint8_t bad[64] = {0x00, 0xB0, 0x7F, 0xFF, 0x01};
  len = sizeof bad;
  uint32_t rc = zksTokenTransmit(&dev, 1, 5, bad, &len, 0, 0, 0);
  EXPECT_GE(rc, 0x80000000u);
  EXPECT_EQ(rc & 0xFFFF, uint32_t(bad[len - 2]) << 8 | bad[len - 1]);

  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
  EXPECT_EQ(dev.state, 0);
  // The emulator saw the get challenge.
  bool seen = false;
  for (const std::string &line : sim_.trace(serial_))
    if (line.rfind("> 00840000", 0) == 0) seen = true;
  EXPECT_TRUE(seen);
}

TEST_F(DirectRoad, PerDeviceMutexHoldsOffAnotherProcess) {
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  // The mutex is named after the USB path without its first five characters.
  std::string name = std::string(dev.devicePath).substr(5);
  HANDLE probe = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  ASSERT_NE(probe, nullptr) << name;
  CloseHandle(probe);

  std::string ready = "uk_transport_ready_" + serial_;
  HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
  HANDLE child = road::spawn("\"" + road::selfPath() + "\" --hold-mutex \"" + name + "\" " +
                             ready + " 1500");
  ASSERT_NE(child, nullptr);
  ASSERT_EQ(WaitForSingleObject(readyEvent, 20000), WAIT_OBJECT_0);
  DWORD start = GetTickCount();
  EXPECT_EQ(road::challenges(&dev, 1), 0);
  DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 1000u) << "the exchange did not wait for the other process";
  EXPECT_EQ(road::waitExit(child), 0u);
  CloseHandle(readyEvent);
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
}

TEST_F(DirectRoad, AbandonedDeviceMutexFailsOneExchangeOnly) {
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  std::string name = std::string(dev.devicePath).substr(5);
  HANDLE child = road::spawn("\"" + road::selfPath() + "\" --abandon-mutex \"" + name + "\"");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(road::waitExit(child), 0u);
  uint8_t buf[64] = {0x00, 0x84, 0x00, 0x00, 0x08};
  uint32_t len = sizeof buf;
  EXPECT_EQ(zksTokenTransmit(&dev, 1, 5, buf, &len, 0, 0, 0), uint32_t(UKLR_DEV_BLOCK));
  // The mutex was given back: another process can take it (it abandons it again: one more 7);
  // after that the exchanges work.
  HANDLE other = road::spawn("\"" + road::selfPath() + "\" --abandon-mutex \"" + name + "\"");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(road::waitExit(other, 20000), 0u);
  len = sizeof buf;
  EXPECT_EQ(zksTokenTransmit(&dev, 1, 5, buf, &len, 0, 0, 0), uint32_t(UKLR_DEV_BLOCK));
  EXPECT_EQ(road::challenges(&dev, 1), 0);
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
}

TEST_F(DirectRoad, TwoProcessesUseOneTokenAtOnce) {
  HANDLE child = road::spawn("\"" + road::selfPath() + "\" --exchange " + serial_ + " 150");
  ASSERT_NE(child, nullptr);
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  EXPECT_EQ(road::challenges(&dev, 150), 0);
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
  EXPECT_EQ(road::waitExit(child), 0u);
}

}  // namespace

ROAD_TEST_MAIN
