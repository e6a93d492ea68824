// Under Wine: the token library's bus choice finds the machine-wide "VirtualToken" value that the
// tokensim fixture set, lists the emulator's tokens with the device paths of the real stack and
// exchanges frames through the DeviceBus interface; Winsock is not loaded before it is needed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "uk_platform.h"
#include "uk_tokensim_client.h"
#include "uk_virtual_bus.h"

namespace {

// Runs first: nothing in this program, nor the token library DLL, imports ws2_32 statically.
TEST(WinVirtualBus, WinsockIsLoadedOnlyWhenUsed) {
  EXPECT_EQ(GetModuleHandleA("ws2_32.dll"), nullptr);
  HMODULE dll = LoadLibraryA("ORV_KELM_Q57Tokenlib.dll");
  ASSERT_NE(dll, nullptr);
  EXPECT_EQ(GetModuleHandleA("ws2_32.dll"), nullptr);
  FreeLibrary(dll);
}

class WinVirtualBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.fromSetting()) << "the VirtualToken value is not set";
    serial = tokensim::uniqueSerial("WB");
    ASSERT_TRUE(client.createToken(serial)) << client.lastError();
  }
  void TearDown() override { EXPECT_TRUE(client.deleteToken(serial)); }
  tokensim::Client client;
  std::string serial;
};

uint32_t exchange(uk::DeviceBus &bus, uintptr_t h, const uint8_t *frame, uint32_t len,
                  uint8_t *resp, uint32_t *respLen) {
  uint8_t w[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 2, uint8_t(len >> 8), uint8_t(len), 0};
  uint8_t buf[4096];
  memcpy(buf, frame, len);
  uint32_t n = 0;
  if (uint32_t rc = bus.scsi(h, w, false, buf, len, &n)) return rc;
  uint8_t r[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x10, 0x00, 0};
  if (uint32_t rc = bus.scsi(h, r, true, resp, 4096, respLen)) return rc;
  return 0;
}

TEST_F(WinVirtualBusTest, ListsTheEmulatorsTokensAndExchangesFrames) {
  uk::DeviceBus &bus = *uk::defaultBus();
  ASSERT_NE(dynamic_cast<uk::VirtualBus *>(&bus), nullptr) << "the real bus was chosen";
  EXPECT_EQ(dynamic_cast<uk::VirtualBus *>(&bus)->port(), client.port());
  char paths[8][256];
  uint32_t found = 0;
  ASSERT_TRUE(bus.listUsbInterfaces(paths, 8, &found));
  std::string mine;
  for (uint32_t i = 0; i < found; ++i)
    if (strstr(paths[i], serial.c_str())) mine = paths[i];
  ASSERT_FALSE(mine.empty()) << "other tests' tokens may fill the eight interfaces";
  EXPECT_EQ(mine, "\\\\?\\usb#vid_0b0c&pid_10ae#" + serial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  // The library's own steps: instance id from the first "u" to the last "#", then bus relations.
  std::string inst = mine.substr(mine.find('u'), mine.rfind('#') - mine.find('u'));
  for (char &c : inst)
    if (c == '#') c = '\\';
  char child[256], cd[256];
  ASSERT_EQ(bus.firstChild(inst.c_str(), child, sizeof child), 0u);
  const char *failed = nullptr;
  ASSERT_EQ(bus.interfacePath(child, uk::DevClass::CdRom, cd, sizeof cd, &failed), 0u);
  uintptr_t h = 0;
  ASSERT_EQ(bus.open(cd, &h), 0u);
  const uint8_t challenge[12] = {0x00, 0x0A, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
  uint8_t resp[4096];
  uint32_t n = 0;
  ASSERT_EQ(exchange(bus, h, challenge, sizeof challenge, resp, &n), 0u);
  ASSERT_EQ(n, 12u);
  EXPECT_EQ(resp[0], 0x00);
  EXPECT_EQ(resp[1], 0x0A);
  EXPECT_EQ(resp[10], 0x90);
  EXPECT_EQ(resp[11], 0x00);
  // The emulator's trace saw exactly that frame.
  auto trace = client.trace(serial);
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], "> 00840000000000000008");
  // A removed token makes the open handle fail like a vanished device.
  ASSERT_TRUE(client.remove(serial));
  EXPECT_EQ(exchange(bus, h, challenge, sizeof challenge, resp, &n), 1167u);
  bus.close(h);
}

}  // namespace
