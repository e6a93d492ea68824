// The token library in an ordinary process reaching a virtual token through the installed key
// service: on NT 6 and later every device open, exchange and close goes over the brokered
// channel, so with the service stopped the same token is out of reach.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "service_control.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

// The folder of the key service to install: this program's own, or UK_KEYSRV_DIR (a Windows
// path), which pairs this program's token library with the service of the other architecture.
std::string serviceDir() {
  char dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("UK_KEYSRV_DIR", dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return testrun::binDir();
  std::string d(dir);
  if (d.back() != '\\') d += '\\';
  return d;
}

bool brokeredSystem() {
  OSVERSIONINFOA v;
  ZeroMemory(&v, sizeof(v));
  v.dwOSVersionInfoSize = sizeof(v);
  return GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5;
}

// Lists the tokens and connects to the one with the given serial; false when it is not reachable.
bool findToken(const std::string &serial, UK_DEV_INFO *found) {
  static UK_DEV_INFO devs[16];
  memset(devs, 0, sizeof(devs));
  uint32_t count = 16;
  if (zksTokenListDevices("SOLENEBANK", devs, &count) != 0) return false;
  for (uint32_t i = 0; i < count && i < 16; ++i) {
    if (zksTokenConnect(&devs[i], 1) != 0) continue;
    char sn[64] = {0};
    uint32_t len = sizeof(sn);
    if (zksTokenGetSn(&devs[i], sn, &len) == 0 && serial == sn) {
      *found = devs[i];
      return true;
    }
    zksTokenDisconnect(&devs[i]);
  }
  return false;
}

class BrokeredThroughService : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!brokeredSystem()) GTEST_SKIP() << "the library opens devices directly on this version";
    ASSERT_TRUE(sim_.fromSetting()) << "no emulator named in the machine-wide setting";
    serial_ = tokensim::uniqueSerial("K");
    ASSERT_TRUE(sim_.createToken(serial_, {{"label", "KeySrvBroker"}})) << sim_.lastError();
    svctest::removeServiceIfPresent();
    testrun::RunResult r = testrun::run("\"" + serviceDir() + "ORV_KELM_KeySrv.exe\" -i");
    ASSERT_EQ(0u, r.exitCode) << r.out;
    scm_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, scm_);
    svc_ = OpenServiceA(scm_, svctest::kService, SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, svc_);
  }
  void TearDown() override {
    if (svc_) CloseServiceHandle(svc_);
    if (scm_) CloseServiceHandle(scm_);
    svctest::removeServiceIfPresent();
    if (!serial_.empty()) sim_.deleteToken(serial_);
  }
  bool start() {
    return StartServiceA(svc_, 0, nullptr) && svctest::waitState(svc_, SERVICE_RUNNING, 10000);
  }
  bool stop() {
    SERVICE_STATUS st;
    return ControlService(svc_, SERVICE_CONTROL_STOP, &st) &&
           svctest::waitState(svc_, SERVICE_STOPPED, 10000);
  }

  tokensim::Client sim_;
  std::string serial_;
  SC_HANDLE scm_ = nullptr, svc_ = nullptr;
};

TEST_F(BrokeredThroughService, ListsReadsAndLosesTheTokenWithTheService) {
  // Service stopped: the channel is not there, the token cannot be reached.
  UK_DEV_INFO dev;
  EXPECT_FALSE(findToken(serial_, &dev));

  ASSERT_TRUE(start());
  ASSERT_TRUE(findToken(serial_, &dev));
  char label[64] = {0};
  uint32_t len = sizeof(label);
  EXPECT_EQ(0u, zksTokenGetDeviceLabel(&dev, label, &len));
  EXPECT_STREQ("KeySrvBroker", label);
  uint8_t random[16] = {0};
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, random, sizeof(random)));
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  // The emulator saw the commands.
  EXPECT_FALSE(sim_.trace(serial_).empty());

  // After a stop the handles the service opened are gone and so is the road to the token.
  ASSERT_TRUE(stop());
  EXPECT_FALSE(findToken(serial_, &dev));

  // A restart serves again.
  ASSERT_TRUE(start());
  ASSERT_TRUE(findToken(serial_, &dev));
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  ASSERT_TRUE(stop());
}

}  // namespace
