// Listing, the own-token test, open and close through the exports.
#include <cstring>

#include "road_fixture.h"

using fake::Bytes;

namespace {

class ListingTest : public RoadTest {
 protected:
  uint32_t list(UK_DEV_INFO *devs, uint32_t *count) {
    return zksTokenListDevices(UK_PROJECT_NAME, devs, count);
  }
};

TEST_F(ListingTest, ListsOnlyTokensOfTheProjectWithNamesAndModelCode) {
  bus.addToken("7&aaa&0");
  bus.addToken("7&bbb&0").card->project = "OTHERBANK";
  bus.addToken("7&ccc&0");
  fake::Device other;
  other.usbPath = "\\\\?\\usb#vid_046d&pid_c52b#5&1&0#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  bus.devices.insert(bus.devices.begin(), other);

  UK_DEV_INFO devs[8] = {};
  uint32_t count = 8;
  ASSERT_EQ(list(devs, &count), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(devs[0].devicePath, bus.devices[1].usbPath.c_str());
  EXPECT_STREQ(devs[1].devicePath, bus.devices[3].usbPath.c_str());
  EXPECT_STREQ(devs[0].displayName, "ZV-UK Q57: 0 ");
  EXPECT_STREQ(devs[1].displayName, "ZV-UK Q57: 1 ");
  EXPECT_EQ(devs[0].modelCode, 0x35);
  EXPECT_EQ(int32_t(devs[1].state), 0);
  EXPECT_EQ((UK_USB_DEV_CTX *)(devs[1].connection), nullptr);
  EXPECT_EQ(bus.openHandles, 0u);  // every token was closed again
  EXPECT_EQ(logText(), "zksTokenListDevices starting......\nzksTokenListDevices end......\n");
}

TEST_F(ListingTest, CallerStateFollowsItsDeviceAcrossListings) {
  bus.addToken("7&aaa&0");
  bus.addToken("7&bbb&0");
  UK_DEV_INFO devs[8] = {};
  uint32_t count = 8;
  ASSERT_EQ(list(devs, &count), 0u);
  ASSERT_EQ(count, 2u);

  // The caller keeps its state in the second record (the provider's PIN cache).
  UK_DEV_INFO &mine = devs[1];
  mine.state = 1;
  mine.connection = reinterpret_cast<UK_USB_DEV_CTX *>(0x1234);
  mine.callerWord = 0xCAFEF00D;
  memset(mine.callerDataA, 0xA1, sizeof mine.callerDataA);
  mine.callerDataALen = 20;
  memset(mine.callerDataB, 0xB2, sizeof mine.callerDataB);
  mine.callerDataBLen = 200;  // longer than the field: only the field is copied
  devs[0].callerWord = 77;

  // The first token goes away; the second moves up to position 0.
  bus.devices.erase(bus.devices.begin());
  count = 8;
  ASSERT_EQ(list(devs, &count), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(devs[0].devicePath, bus.devices[0].usbPath.c_str());
  EXPECT_STREQ(devs[0].displayName, "ZV-UK Q57: 0 ");
  EXPECT_EQ(int32_t(devs[0].state), 1);
  EXPECT_EQ((UK_USB_DEV_CTX *)(devs[0].connection), reinterpret_cast<UK_USB_DEV_CTX *>(0x1234));
  EXPECT_EQ(uint32_t(devs[0].callerWord), 0xCAFEF00Du);
  EXPECT_EQ(devs[0].callerDataALen, 20);
  EXPECT_EQ(devs[0].callerDataA[19], 0xA1);
  EXPECT_EQ(devs[0].callerDataA[20], 0x00);  // only the length given is copied
  EXPECT_EQ(devs[0].callerDataBLen, 24);
  EXPECT_EQ(devs[0].callerDataB[23], 0xB2);
}

TEST_F(ListingTest, TooSmallCapacityReturns1WithThePathCount) {
  bus.addToken("7&aaa&0");
  bus.addToken("7&bbb&0").card->project = "OTHER";
  bus.addToken("7&ccc&0");
  UK_DEV_INFO devs[1] = {};
  uint32_t count = 1;
  EXPECT_EQ(list(devs, &count), UKLR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 3u);  // the paths found, not the records
  EXPECT_EQ(devs[0].devicePath[0], 0);
  count = 0;
  EXPECT_EQ(list(nullptr, &count), UKLR_BUFFER_TOO_SMALL);
}

TEST_F(ListingTest, OnlyTheFirstEightInterfacesAreExamined) {
  for (int i = 0; i < 9; ++i) bus.addToken("7&" + std::to_string(i) + "&0");
  UK_DEV_INFO devs[9] = {};
  uint32_t count = 9;
  ASSERT_EQ(list(devs, &count), 0u);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(devs[8].devicePath[0], 0);
}

TEST_F(ListingTest, CapitalLettersInTheUsbPathAreAccepted) {
  fake::Device &d = bus.addToken("7&AAA&0");
  d.usbPath = "\\\\?\\USB#VID_0B0C&PID_10AE#7&AAA&0#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
  UK_DEV_INFO devs[2] = {};
  uint32_t count = 2;
  ASSERT_EQ(list(devs, &count), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(zksTokenConnect(&devs[0], 0), 0u);
  EXPECT_EQ(zksTokenDisconnect(&devs[0]), 0u);
}

TEST_F(ListingTest, EnumerationAndOpenFailures) {
  bus.enumerationFails = true;
  UK_DEV_INFO devs[2] = {};
  uint32_t count = 2;
  EXPECT_EQ(list(devs, &count), UKRL_ENUM_MASS_DEV);
  EXPECT_EQ(logText(),
            "zksTokenListDevices starting......\n---->UKRL_ENUM_MASS_DEV ......\n"
            "---->uk_mass_ListDevices ......\nzksTokenListDevices end......\n");
  bus.enumerationFails = false;
  bus.addToken("7&aaa&0").openError = 5;
  bus.addToken("7&bbb&0");
  clearLog();
  EXPECT_EQ(list(devs, &count), UKLR_DEV_OPEN);  // the listing stops at the first failure
  EXPECT_NE(logText().find("---->CreateFileA Error.Code is  0x00000005\n"), std::string::npos);
  EXPECT_NE(logText().find("---->uk_usb_OpenDevice ......\n"), std::string::npos);
  EXPECT_EQ(list(nullptr, nullptr), UKLR_PARAM_VALUE);
}

// ---- own-token test, open, close -----------------------------------------------------------------

class ConnectTest : public RoadTest {};

TEST_F(ConnectTest, ConnectAndDisconnectThroughTheExports) {
  fake::Device &d = bus.addToken("7&aaa&0");
  UK_DEV_INFO dev = {};
  snprintf(dev.devicePath, sizeof dev.devicePath, "%s", d.usbPath.c_str());
  ASSERT_EQ(zksTokenConnect(&dev, 0), 0u);
  EXPECT_EQ(int32_t(dev.state), 1);
  ASSERT_NE((UK_USB_DEV_CTX *)(dev.connection), nullptr);
  EXPECT_EQ(uint32_t(dev.connection->selfWord1), 0x00040000u);
  EXPECT_EQ(uint32_t(dev.connection->selfWord2), 0x0100001Fu);
  EXPECT_STREQ(dev.connection->path, d.usbPath.c_str());
  EXPECT_EQ(dev.connection->smFlags, 0);
  ASSERT_EQ(bus.opened.size(), 1u);
  EXPECT_EQ(bus.opened[0], d.cdromPath);
  // The device mutex is named after the USB path without "\\?\u".
  ASSERT_EQ(host.mutexNames.size(), 1u);
  EXPECT_EQ(host.mutexNames[0], d.usbPath.substr(5));
  EXPECT_EQ(host.mutexNames[0].find('\\'), std::string::npos);

  // Raw exchange through the export: the response replaces the command in the buffer.
  uint8_t buf[64] = {0x00, 0xEE, 0x00, 0x00, 0x02, 0x5A, 0xA5};
  uint32_t len = sizeof buf;
  EXPECT_EQ(zksTokenTransmit(&dev, 1, 7, buf, &len, 0, 0, 0), 0u);
  EXPECT_EQ(Bytes(buf, buf + len), (Bytes{0x00, 0x04, 0x5A, 0xA5, 0x90, 0x00}));
  EXPECT_EQ(zksTokenTransmit(&dev, 0, 7, buf, &len, 0, 0, 0), UKLR_PARAM_VALUE);

  EXPECT_EQ(zksTokenReconnect(&dev, 0), 0u);
  EXPECT_EQ(int32_t(dev.state), 1);
  EXPECT_EQ(bus.openHandles, 1u);

  clearLog();
  EXPECT_EQ(zksTokenDisconnect(&dev), 0u);
  EXPECT_EQ(int32_t(dev.state), 0);
  EXPECT_EQ((UK_USB_DEV_CTX *)(dev.connection), nullptr);
  EXPECT_EQ(bus.openHandles, 0u);
  EXPECT_EQ(logText(), "zksTokenDisconnect starting......\nzksTokenDisconnect end......\n");
  EXPECT_EQ(zksTokenDisconnect(&dev), UKLR_PARAM_VALUE);
}

TEST_F(ConnectTest, DiskInterfaceWhenThereIsNoCdRom) {
  fake::Device &d = bus.addToken("7&aaa&0", /*diskOnly=*/true);
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(bus.opened.back(), d.diskPath);
  uk::closeConnection(conn);
}

TEST_F(ConnectTest, OwnTokenTestAndPathChecks) {
  UK_USB_DEV_CTX *conn = nullptr;
  EXPECT_EQ(uk::openConnection("\\\\?\\usb#vid_0b0c&pid_10af#1#{x}", &conn), UKLR_NOT_SELF_TOKEN);
  EXPECT_EQ(logText(), "---->uk_usb_IsSelfToken......\n");
  clearLog();
  EXPECT_EQ(uk::openConnection("no-hash-here", &conn), UKLR_DEV_NAME_INVALID);
  EXPECT_EQ(logText(), "---->Device name invalid......\n---->UKLR_DEV_NAME_INVALID......\n");
  EXPECT_EQ(uk::openConnection("\\\\?\\usb#", &conn), UKLR_DEV_NAME_INVALID);
  // The "#" before the "u": no device instance can be cut out of the path.
  clearLog();
  EXPECT_EQ(uk::openConnection("\\\\?\\#vid_0b0c&pid_10ae#u", &conn), UKLR_DEV_NAME_INVALID);
  EXPECT_EQ(logText(), "---->GetCDROMPath ......\n---->uk_mass_OpenDevice......\n");
  host.nt = false;
  clearLog();
  EXPECT_EQ(uk::openConnection("\\\\?\\usb#vid_0b0c&pid_10ae#1#{x}", &conn), UKLR_OS_UNSUPPORTED);
  EXPECT_EQ(logText(), "---->This isn't win2k or later system......\n---->uk_usb_IsSelfToken......\n");
  EXPECT_EQ(conn, nullptr);
}

TEST_F(ConnectTest, MissingChildAndMutexFailures) {
  UK_USB_DEV_CTX *conn = nullptr;
  EXPECT_EQ(uk::openConnection("\\\\?\\usb#vid_0b0c&pid_10ae#gone#{x}", &conn), UKLR_DEV_PATH);
  EXPECT_EQ(logText(),
            "---->CM_Get_Device_ID_ListA Error.Code is  0x0000000d\n---->GetCDROMPath ......\n"
            "---->uk_mass_OpenDevice......\n");

  fake::Device &d = bus.addToken("7&aaa&0");
  host.mutexFailure = uk::MutexFailure::Create;
  clearLog();
  EXPECT_EQ(uk::openConnection(d.usbPath.c_str(), &conn), UKLR_DEV_MUTEX);
  EXPECT_EQ(logText(), "---->CreateMutex Error, code is  0x00000005\n---->uk_mass_OpenDevice......\n");
  EXPECT_EQ(bus.openHandles, 0u);  // the device was closed again
  host.mutexFailure = uk::MutexFailure::Open;
  clearLog();
  EXPECT_EQ(uk::openConnection(d.usbPath.c_str(), &conn), UKLR_DEV_MUTEX);
  EXPECT_EQ(logText(), "---->OpenMutex.......\n---->uk_mass_OpenDevice......\n");
  EXPECT_EQ(conn, nullptr);
}

}  // namespace
