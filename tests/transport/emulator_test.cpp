// The road against the token emulator's card in-process (its own OpenSSL cryptography): the
// secure channel with the built-in transport key, wrapped commands, and the project-name filter.
#include <cstring>
#include <memory>

#include "road_fixture.h"
#include "sim_card.h"
#include "uk_card_keys.h"

namespace {

// A bus with emulator cards behind the paths the virtual bus would present.
class EmulatorBus : public uk::DeviceBus {
 public:
  void add(const std::string &serial, const std::string &project = "SOLENEBANK") {
    tokensim::TokenConfig cfg;
    cfg.serial = serial;
    cfg.projectName = project;
    auto card = std::make_unique<tokensim::Card>(cfg);
    card->factoryFormat("482915", "12345678", 6, 6, "emulated");
    cards.push_back(std::move(card));
    serials.push_back(serial);
  }
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    *found = 0;
    for (size_t i = 0; i < serials.size() && *found < max; ++i)
      snprintf(paths[(*found)++], 256,
               "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
               serials[i].c_str());
    return true;
  }
  uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) override {
    const char *serial = strrchr(instanceId, '\\');
    if (!serial) return 13;
    snprintf(child, cap, "USBSTOR\\CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00\\%s&0", serial + 1);
    return 0;
  }
  uint32_t interfacePath(const char *deviceId, uk::DevClass cls, char *path, uint32_t cap,
                         const char **failed) override {
    if (cls != uk::DevClass::CdRom) {
      *failed = "SetupDiGetDeviceInterfaceDetailA";
      return 259;
    }
    const char *tail = strrchr(deviceId, '\\');
    snprintf(path, cap, "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#%s#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
             tail + 1);
    return 0;
  }
  uint32_t open(const char *path, uintptr_t *handle) override {
    for (size_t i = 0; i < serials.size(); ++i)
      if (strstr(path, ("#" + serials[i] + "&0#").c_str())) {
        *handle = i + 1;
        return 0;
      }
    return 2;
  }
  uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    tokensim::Card &card = *cards.at(handle - 1);
    if (!dataIn) {
      pending = card.processFrame(buf, len);
      *transferred = len;
      return 0;
    }
    uint32_t n = std::min<uint32_t>(len, uint32_t(pending.size()));
    memcpy(buf, pending.data(), n);
    *transferred = n;
    return 0;
  }
  void close(uintptr_t) override {}

  std::vector<std::unique_ptr<tokensim::Card>> cards;
  std::vector<std::string> serials;
  tokensim::Bytes pending;
};

class EmulatorTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    uk::setPlatform(&emu, &host);
  }
  EmulatorBus emu;
};

TEST_F(EmulatorTest, SecureChannelAndWrappedCommands) {
  emu.add("UKQ5711000001");
  UK_USB_DEV_CTX *conn = nullptr;
  char path[256];
  uint32_t n = 1;
  ASSERT_EQ(uk::listTokenPaths(reinterpret_cast<char(*)[256]>(path), &n), 0u);
  ASSERT_EQ(uk::openConnection(path, &conn), 0u);
  ASSERT_EQ(uk::openSecureChannel(conn, uk::kTransportKey), 0u);
  EXPECT_EQ(conn->smFlags, 3);

  // Wrapped select of the MF: the emulator checks the MAC and deciphers the data.
  fake::Bytes resp;
  EXPECT_EQ(send(conn, {0x84, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, &resp), 0u);
  const tokensim::Bytes &plain = emu.cards[0]->lastUnwrapped();
  ASSERT_FALSE(plain.empty()) << "the emulator did not see a wrapped command";
  // Unwrapped (CLA 00) commands still go through as they are.
  EXPECT_EQ(send(conn, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, &resp), 0u);
  EXPECT_TRUE(emu.cards[0]->lastUnwrapped().empty());

  // Another transport key: the card cryptogram does not match.
  uint8_t wrong[16];
  memcpy(wrong, uk::kTransportKey, 16);
  wrong[5] ^= 0x40;
  EXPECT_EQ(uk::openSecureChannel(conn, wrong), UKLR_AUTH_CMP);
  uk::closeConnection(conn);
}

TEST_F(EmulatorTest, ListingKeepsOnlyTheProjectsTokens) {
  emu.add("UKQ5711000001");
  emu.add("UKQ5711000002", "ELSEWHERE");
  emu.add("UKQ5711000003");
  UK_DEV_INFO devs[4] = {};
  uint32_t count = 4;
  ASSERT_EQ(zksTokenListDevices(UK_PROJECT_NAME, devs, &count), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_NE(strstr(devs[0].devicePath, "#UKQ5711000001#"), nullptr);
  EXPECT_NE(strstr(devs[1].devicePath, "#UKQ5711000003#"), nullptr);
  EXPECT_STREQ(devs[1].displayName, "ZV-UK Q57: 1 ");
}

}  // namespace
