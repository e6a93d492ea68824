// The token library DLL on the brokered road (Wine's default version, above NT 5: every open,
// exchange and close is a request to the key service) against a virtual token. The server side
// runs in transport_broker_host.exe, which hosts the library's own broker loop.
#include "win_road.h"

#include <string>

#include "uk_tokensim_client.h"

namespace {

const char kReqEvent[] = "Global\\REDODIV-REQ-EVENT-KELM_ORV";

class BrokeredRoad : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(road::ntAboveFive()) << "this program must run with a Windows version above NT 5";
    ASSERT_TRUE(sim_.fromSetting()) << "no emulator named in the machine-wide setting";
    serial_ = tokensim::uniqueSerial("B");
    ASSERT_TRUE(sim_.createToken(serial_)) << sim_.lastError();
  }
  void TearDown() override {
    stopServer();
    if (!serial_.empty()) sim_.deleteToken(serial_);
  }

  void startServer() {
    HANDLE existing = OpenEventA(SYNCHRONIZE, FALSE, kReqEvent);
    ASSERT_EQ(existing, nullptr) << "a key service is already serving the channel";
    stopName_ = "uk_transport_broker_stop_" + serial_;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, stopName_.c_str());
    server_ = road::spawn("\"" + road::binDir() + "transport_broker_host.exe\" " + stopName_);
    ASSERT_NE(server_, nullptr);
    for (int i = 0; i < 200; ++i) {
      HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, kReqEvent);
      if (h) {
        CloseHandle(h);
        return;
      }
      Sleep(25);
    }
    FAIL() << "the broker host did not create its objects";
  }
  void stopServer() {
    if (!server_) return;
    SetEvent(stop_);
    EXPECT_EQ(road::waitExit(server_, 20000), 0u);
    CloseHandle(stop_);
    server_ = stop_ = nullptr;
  }

  tokensim::Client sim_;
  std::string serial_, stopName_;
  HANDLE server_ = nullptr, stop_ = nullptr;
};

TEST_F(BrokeredRoad, ListConnectExchangeDisconnect) {
  startServer();
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  EXPECT_EQ(0, strncmp(dev.displayName, "ZV-UK Q57: ", 11));
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  ASSERT_NE(dev.connection, nullptr);
  EXPECT_EQ(road::challenges(&dev, 20), 0);
  uint8_t buf[64] = {0x00, 0x84, 0x00, 0x00, 0x08};
  uint32_t len = 11;  // one byte short of the 12-byte response
  EXPECT_EQ(zksTokenTransmit(&dev, 1, 5, buf, &len, 0, 0, 0), UKLR_BUFFER_TOO_SMALL);
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
}

TEST_F(BrokeredRoad, TwoProcessesUseOneTokenAtOnce) {
  startServer();
  HANDLE child = road::spawn("\"" + road::selfPath() + "\" --exchange " + serial_ + " 100");
  ASSERT_NE(child, nullptr);
  UK_DEV_INFO dev;
  ASSERT_EQ(road::findToken(serial_, &dev), 0u);
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  EXPECT_EQ(road::challenges(&dev, 100), 0);
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
  EXPECT_EQ(road::waitExit(child), 0u);
}

TEST_F(BrokeredRoad, WithoutAServerEverythingFailsPromptly) {
  DWORD start = GetTickCount();
  UK_DEV_INFO devs[8] = {};
  uint32_t count = 8;
  // The token is listed by the bus, but opening it needs the service.
  EXPECT_EQ(zksTokenListDevices(UK_PROJECT_NAME, devs, &count), UKLR_DEV_OPEN);
  UK_DEV_INFO dev = {};
  std::vector<tokensim::Client::Device> devices;
  ASSERT_TRUE(sim_.devices(&devices));
  for (const auto &d : devices)
    if (d.serial == serial_)
      snprintf(dev.devicePath, sizeof dev.devicePath,
               "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
               d.serial.c_str());
  ASSERT_NE(dev.devicePath[0], 0);
  EXPECT_EQ(zksTokenConnect(&dev, 0), UKLR_DEV_OPEN);
  EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST_F(BrokeredRoad, ServerRefusesAPathThatIsNoToken) {
  startServer();
  // Straight onto the channel, as a hostile low-integrity process could: ask the service to
  // open a file of its own choosing.
  HANDLE req = OpenEventA(EVENT_ALL_ACCESS, FALSE, kReqEvent);
  HANDLE ans = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Global\\REDODIV-ANS-EVENT-KELM_ORV");
  HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\REDODIV-MAPFILE-KELM_ORV");
  ASSERT_TRUE(req && ans && map);
  auto *view = static_cast<uint8_t *>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const char path[] = "C:\\windows\\win.ini";
  uint32_t words[3] = {8 + sizeof path, 2, sizeof path};
  memcpy(view, words, 12);
  memcpy(view + 12, path, sizeof path);
  SetEvent(req);
  ASSERT_EQ(WaitForSingleObject(ans, 10000), WAIT_OBJECT_0);
  uint32_t answer[3];
  memcpy(answer, view, 12);
  EXPECT_EQ(answer[0], 8u);
  EXPECT_EQ(answer[1], 0x10002u);
  EXPECT_EQ(answer[2], 5u);  // access denied
  UnmapViewOfFile(view);
  CloseHandle(map);
  CloseHandle(ans);
  CloseHandle(req);
}

}  // namespace

ROAD_TEST_MAIN
