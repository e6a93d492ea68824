// The shared block of the brokered channel, byte for byte. On 64-bit Windows a 32-bit token
// library talks to a 64-bit key service and the reverse, so the records must not depend on the
// architecture: this program runs in every tree (native, i686 and x86-64 Windows) and checks the
// same literal bytes, written and read, in each.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "uk_channel.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One token behind a bus that answers every read with a fixed frame. Its handle is wider than 32
// bits where pointers are, as a 64-bit service's handles are.
class OneTokenBus : public uk::DeviceBus {
 public:
  static constexpr const char *kUsb =
      "\\\\?\\usb#vid_0b0c&pid_10ae#UKQ5711000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  static constexpr const char *kCdrom =
      "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#UKQ5711000001&0#"
      "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override {
    strcpy(paths[0], kUsb);
    *found = 1;
    return true;
  }
  uint32_t firstChild(const char *, char *child, uint32_t cap) override {
    snprintf(child, cap, "USBSTOR\\CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00\\UKQ5711000001&0");
    return 0;
  }
  uint32_t interfacePath(const char *, uk::DevClass cls, char *path, uint32_t cap,
                         const char **) override {
    if (cls != uk::DevClass::CdRom) return 2;
    snprintf(path, cap, "%s", kCdrom);
    return 0;
  }
  uint32_t open(const char *, uintptr_t *handle) override {
    *handle = sizeof(uintptr_t) > 4 ? uintptr_t(0x7FF6A0B0C0D0ull) : uintptr_t(0xA0B0C0D0u);
    return 0;
  }
  uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override {
    if (!dataIn) {
      *transferred = len;
      return 0;
    }
    const uint8_t resp[] = {0x00, 0x04, 0x12, 0x34, 0x90, 0x00};
    memcpy(buf, resp, sizeof resp);
    *transferred = sizeof resp;
    return 0;
  }
  void close(uintptr_t) override {}
};

TEST(ChannelLayout, RequestsAreTheSameBytesOnEveryArchitecture) {
  uint8_t block[64] = {0};
  const uint8_t payload[] = {0x0C, 0x00, 0x00, 0x00, 'A', 'B'};
  ASSERT_EQ(14u, uk::encodeRequest(uk::REDODIV_REQ_CONNECT, payload, sizeof payload, block, sizeof block));
  const Bytes want = {0x0A, 0, 0, 0, 0x02, 0, 0, 0, 0x0C, 0, 0, 0, 'A', 'B'};
  EXPECT_EQ(want, Bytes(block, block + 14));
}

TEST(ChannelLayout, AnswersWrittenByOneArchitectureAreReadByTheOther) {
  // A read answer as any service writes it: length word 16 + 6, type 0x10005, result 0,
  // response length 6, the frame.
  uint8_t block[64] = {0x16, 0, 0, 0, 0x05, 0, 1, 0, 0, 0, 0, 0, 0x06, 0, 0, 0,
                       0x00, 0x04, 0x12, 0x34, 0x90, 0x00};
  uk::ChannelAnswer a;
  ASSERT_TRUE(uk::parseAnswer(block, sizeof block, &a));
  EXPECT_EQ(0x16u, a.lengthWord);
  EXPECT_EQ(0x10005u, a.type);
  EXPECT_EQ(0u, a.result);
  EXPECT_EQ(6u, a.word3);
  ASSERT_NE(nullptr, a.frame);
  EXPECT_EQ(0x12, a.frame[2]);
}

TEST(ChannelLayout, TheServerAnswersInTheSameBytesWhateverItsHandleWidth) {
  OneTokenBus bus;
  uk::BrokerHandleTable table;
  std::vector<uint8_t> block(10240, 0);
  // Connect: payload = path length (terminator included), path.
  std::string path = OneTokenBus::kCdrom;
  Bytes p = {uint8_t(path.size() + 1), 0, 0, 0};
  p.insert(p.end(), path.begin(), path.end());
  p.push_back(0);
  ASSERT_NE(0u, uk::encodeRequest(uk::REDODIV_REQ_CONNECT, p.data(), uint32_t(p.size()),
                                  block.data(), uint32_t(block.size())));
  uint32_t type = 0;
  ASSERT_TRUE(uk::serveRequest(block.data(), uint32_t(block.size()), bus, table, &type, nullptr));
  // Length word 12, type 0x10002, result 0, then the 32-bit handle value (slot 1, random tag).
  EXPECT_EQ(Bytes({0x0C, 0, 0, 0, 0x02, 0, 1, 0, 0, 0, 0, 0}), Bytes(block.begin(), block.begin() + 12));
  EXPECT_EQ(1u, block[12]);
  uint32_t value = uint32_t(block[12]) | uint32_t(block[13]) << 8 | uint32_t(block[14]) << 16 |
                   uint32_t(block[15]) << 24;

  // Read: handle value, frame length, frame.
  const uint8_t frame[] = {0x00, 0x05, 0x00, 0x84, 0x00, 0x00, 0x02};
  Bytes r = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24),
             sizeof frame, 0, 0, 0};
  r.insert(r.end(), frame, frame + sizeof frame);
  ASSERT_NE(0u, uk::encodeRequest(uk::REDODIV_REQ_READ, r.data(), uint32_t(r.size()), block.data(),
                                  uint32_t(block.size())));
  ASSERT_TRUE(uk::serveRequest(block.data(), uint32_t(block.size()), bus, table, &type, nullptr));
  const Bytes answer = {0x16, 0, 0, 0, 0x05, 0, 1, 0, 0, 0, 0, 0, 0x06, 0, 0, 0,
                        0x00, 0x04, 0x12, 0x34, 0x90, 0x00};
  EXPECT_EQ(answer, Bytes(block.begin(), block.begin() + answer.size()));
}

}  // namespace
