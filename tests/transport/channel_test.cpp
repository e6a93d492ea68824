// The brokered channel: the records the client writes, the server's handling of each request
// (including the requests a hostile client could write), and the whole road through it.
#include <cstring>
#include <set>

#include "road_fixture.h"

using fake::Bytes;

namespace {

uint32_t rd32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(Bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

class ChannelTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    host.brokered = true;
    token = &bus.addToken("7&1a2b3c&0");
  }

  // Serves a request given as (length word, type, payload) in a fresh block, stamped with the
  // process ID in owner (none when 0).
  bool serve(uint32_t lengthWord, uint32_t type, const Bytes &payload) {
    memset(block, 0, sizeof block);
    Bytes head;
    put32(head, lengthWord);
    put32(head, type);
    memcpy(block, head.data(), 8);
    if (!payload.empty())
      memcpy(block + 8, payload.data(), std::min<size_t>(payload.size(), sizeof block - 8));
    if (owner) uk::stampOwner(block, sizeof block, owner);
    uint32_t t = 0;
    reports.clear();
    g_reports = &reports;
    bool answered = uk::serveRequest(block, sizeof block, bus, table, &t, collect);
    g_reports = nullptr;
    EXPECT_EQ(t, type);
    return answered;
  }
  bool serveConnect(const std::string &path, int32_t lenAdjust = 0) {
    Bytes p;
    put32(p, uint32_t(path.size() + 1 + lenAdjust));
    p.insert(p.end(), path.begin(), path.end());
    p.push_back(0);
    return serve(uint32_t(4 + p.size()), uk::REDODIV_REQ_CONNECT, p);
  }
  bool serveRead(uint32_t value, const Bytes &frame, uint32_t lenField) {
    Bytes p;
    put32(p, value);
    put32(p, lenField);
    p.insert(p.end(), frame.begin(), frame.end());
    return serve(uint32_t(4 + p.size()), uk::REDODIV_REQ_READ, p);
  }
  uint32_t word(int offset) const { return rd32(block + offset); }

  static void collect(const char *t) { g_reports->push_back(t); }
  static std::vector<std::string> *g_reports;

  bool serveDisconnect(uint32_t value) {
    Bytes p;
    put32(p, value);
    return serve(8, uk::REDODIV_REQ_DISCONNECT, p);
  }

  fake::Device *token = nullptr;
  uint8_t block[uk::Host::kBlockSize];
  fake::Watch watch;
  uk::BrokerHandleTable table{&watch};
  uint32_t owner = 0;
  std::vector<std::string> reports;
};
std::vector<std::string> *ChannelTest::g_reports = nullptr;

const Bytes kChallengeFrame = {0x00, 0x0A, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};

// ---- the whole road through the channel ---------------------------------------------------------

TEST_F(ChannelTest, ConnectExchangeDisconnectThroughTheService) {
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  EXPECT_TRUE(conn->mass->brokered);
  ASSERT_EQ(host.requests.size(), 1u);
  const Bytes &req = host.requests[0];
  uint32_t pathLen = uint32_t(token->cdromPath.size() + 1);
  EXPECT_EQ(rd32(req.data()), 8 + pathLen);
  EXPECT_EQ(rd32(req.data() + 4), uk::REDODIV_REQ_CONNECT);
  EXPECT_EQ(rd32(req.data() + 8), pathLen);
  EXPECT_STREQ(reinterpret_cast<const char *>(req.data() + 12), token->cdromPath.c_str());
  EXPECT_EQ(rd32(host.answers[0].data()), 12u);  // connect answered with a handle value
  EXPECT_EQ(host.table.count(), 1u);

  // A 12-byte frame: request length word 4 + 8 + 12.
  Bytes resp;
  ASSERT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}, &resp), 0u);
  EXPECT_EQ(resp.size(), 12u);
  EXPECT_EQ(rd32(host.requests[1].data()), 24u);
  EXPECT_EQ(Bytes(host.requests[1].begin() + 16, host.requests[1].end()), kChallengeFrame);
  EXPECT_EQ(rd32(host.answers[1].data()), 16u + 12u);

  // A 14-byte response: answer length word 30.
  ASSERT_EQ(send(conn, {0x00, 0xEE, 0, 0, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, &resp), 0u);
  EXPECT_EQ(resp.size(), 14u);
  EXPECT_EQ(rd32(host.answers[2].data()), 30u);
  EXPECT_EQ(rd32(host.answers[2].data() + 4), 0x10005u);
  EXPECT_EQ(rd32(host.answers[2].data() + 12), 14u);

  EXPECT_EQ(uk::closeConnection(conn), 0u);
  EXPECT_EQ(rd32(host.requests.back().data() + 4), uk::REDODIV_REQ_DISCONNECT);
  EXPECT_EQ(rd32(host.answers.back().data() + 8), 1u);  // closed
  EXPECT_EQ(host.table.count(), 0u);
  EXPECT_EQ(bus.openHandles, 0u);
}

TEST_F(ChannelTest, SecureChannelWorksThroughTheService) {
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  uint8_t key[16];
  memcpy(key, token->card->transportKey, 16);
  ASSERT_EQ(uk::openSecureChannel(conn, key), 0u);
  Bytes resp;
  ASSERT_EQ(send(conn, {0x84, 0xEE, 0, 0, 0x03, 7, 8, 9}, &resp), 0u);
  EXPECT_EQ(resp, (Bytes{0x00, 0x05, 7, 8, 9, 0x90, 0x00}));
  uk::closeConnection(conn);
}

TEST_F(ChannelTest, ConnectToAMissingDeviceReturnsTheSystemError) {
  token->openError = 2;
  UK_USB_DEV_CTX *conn = nullptr;
  EXPECT_EQ(uk::openConnection(token->usbPath.c_str(), &conn), UKLR_DEV_OPEN);
  EXPECT_EQ(rd32(host.answers[0].data()), 8u);
  EXPECT_EQ(rd32(host.answers[0].data() + 8), 2u);
  EXPECT_EQ(logText(), "---->CreateFileA Error.Code is  0x00000002\n---->uk_mass_OpenDevice......\n");
  // The wrapper itself hands the service's code back.
  uint32_t value = 0;
  EXPECT_EQ(uk::brokerConnect(token->cdromPath.c_str(), &value), 2u);
}

TEST_F(ChannelTest, NoServiceFailsAtOnce) {
  host.serverUp = false;
  UK_USB_DEV_CTX *conn = nullptr;
  EXPECT_EQ(uk::openConnection(token->usbPath.c_str(), &conn), UKLR_DEV_OPEN);
  EXPECT_EQ(logText(), "---->CreateFileA Error.Code is  0xffffffff\n---->uk_mass_OpenDevice......\n");
}

TEST_F(ChannelTest, FailedExchangesMapTo261And262) {
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  // The service reports a device error: the exchange fails like a read.
  bus.writeError = 1167;
  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), UKLR_DEV_READ);
  EXPECT_EQ(logText(),
            "---->VendorUSBKeyDataInOut(Read) Error.Code is  0x0000048f\n---->uk_usb_SendAPDUCmd......\n");
  bus.writeError = 0;
  // The cycle itself fails (no service): like a write.
  host.serverUp = false;
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), UKLR_DEV_WRITE);
  host.serverUp = true;
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), 0u);  // the connection stays usable
  uk::closeConnection(conn);
}

TEST_F(ChannelTest, AnswersTheClientCannotTrust) {
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  uint8_t resp[4096];
  uint32_t n = 0;
  auto read = [&] {
    return uk::brokerRead(uint32_t(conn->mass->device), kChallengeFrame.data(), 12, resp,
                          sizeof resp, &n);
  };
  ASSERT_EQ(read(), 0u);
  EXPECT_EQ(n, 12u);

  // A connect answer type to a read.
  host.tamperAnswer = [](uint8_t *b) { b[4] = 0x02; };
  EXPECT_EQ(read(), uk::kChannelFailure);
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), UKLR_DEV_WRITE);
  // A length word beyond the block.
  host.tamperAnswer = [](uint8_t *b) { b[0] = 0xFF; b[1] = 0xFF; b[2] = 0xFF; };
  EXPECT_EQ(read(), uk::kChannelFailure);
  // A response length beyond what the length word covers, or beyond the block.
  host.tamperAnswer = [](uint8_t *b) { b[12] = 13; };
  EXPECT_EQ(read(), uk::kChannelFailure);
  host.tamperAnswer = [](uint8_t *b) { b[0] = 0xF0; b[1] = 0x27; b[12] = 0x00; b[13] = 0x28; };
  EXPECT_EQ(read(), uk::kChannelFailure);
  // A response longer than the caller's buffer.
  host.tamperAnswer = nullptr;
  EXPECT_EQ(uk::brokerRead(uint32_t(conn->mass->device), kChallengeFrame.data(), 12, resp, 11, &n),
            uk::kChannelFailure);
  // Mismatched type on connect and disconnect.
  host.tamperAnswer = [](uint8_t *b) { b[4] = 0x05; };
  uint32_t value = 0;
  EXPECT_EQ(uk::brokerConnect(token->cdromPath.c_str(), &value), uk::kChannelFailure);
  EXPECT_EQ(uk::brokerDisconnect(12345), uk::kChannelFailure);
  host.tamperAnswer = nullptr;
  uk::closeConnection(conn);
}

// ---- the server, request by request ----------------------------------------------------------

TEST_F(ChannelTest, ServerConnectReadDisconnect) {
  ASSERT_TRUE(serveConnect(token->cdromPath));
  EXPECT_EQ(reports, std::vector<std::string>{"In REDODIV_REQ_CONNECT.\n"});
  EXPECT_EQ(word(0), 12u);
  EXPECT_EQ(word(4), 0x10002u);
  EXPECT_EQ(word(8), 0u);
  uint32_t value = word(12);
  EXPECT_NE(value, 0u);

  ASSERT_TRUE(serveRead(value, kChallengeFrame, 12));
  EXPECT_EQ(reports, std::vector<std::string>{"In REDODIV_REQ_READ.\n"});
  EXPECT_EQ(word(4), 0x10005u);
  EXPECT_EQ(word(8), 0u);
  EXPECT_EQ(word(12), 12u);
  EXPECT_EQ(word(0), 28u);
  EXPECT_EQ(token->card->frames.back(), kChallengeFrame);
  // The server reads with a 1024-byte buffer.
  EXPECT_EQ(bus.cdbs.back(), (std::vector<uint8_t>{0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x04, 0x00, 0}));

  Bytes p;
  put32(p, value);
  ASSERT_TRUE(serve(8, uk::REDODIV_REQ_DISCONNECT, p));
  EXPECT_EQ(reports, std::vector<std::string>{"In REDODIV_REQ_DISCONNECT.\n"});
  EXPECT_EQ(word(0), 8u);
  EXPECT_EQ(word(4), 0x10006u);
  EXPECT_EQ(word(8), 1u);
  ASSERT_TRUE(serve(8, uk::REDODIV_REQ_DISCONNECT, p));
  EXPECT_EQ(word(8), 0u);  // already closed
  EXPECT_EQ(bus.openHandles, 0u);
}

TEST_F(ChannelTest, ServerIgnoresStopAndUnknownTypes) {
  EXPECT_FALSE(serve(4, uk::REDODIV_REQ_STOP_SERV, {}));
  EXPECT_EQ(reports, std::vector<std::string>{"In REDODIV_REQ_STOP_SERV.\n"});
  for (uint32_t type : {0u, 1u, 3u, 4u, 7u, 0x10002u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(serve(4, type, {})) << type;
    EXPECT_EQ(reports, std::vector<std::string>{"Error req type.\n"}) << type;
    EXPECT_EQ(word(0), 4u) << "the block is left as the request wrote it";
    EXPECT_EQ(word(4), type);
  }
}

TEST_F(ChannelTest, ServerRefusesPathsThatAreNotTokenInterfaces) {
  fake::Device &diskOnly = bus.addToken("7&disk&0", true);
  const std::string foreign[] = {
      "\\\\.\\PhysicalDrive0",
      "C:\\Windows\\System32\\config\\SAM",
      "\\\\.\\pipe\\anything",
      token->usbPath,                      // the USB device itself
      // The CD-ROM interface of a token that has only a disk interface.
      "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#7&disk&0&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
      // Looks right, but no such token is attached.
      "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#7&gone&0&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
      token->cdromPath + "\\..\\..\\windows",
      "",
  };
  for (const std::string &path : foreign) {
    ASSERT_TRUE(serveConnect(path)) << path;
    EXPECT_EQ(word(0), 8u) << path;
    EXPECT_NE(word(8), 0u) << path;
  }
  EXPECT_TRUE(bus.opened.empty());
  // The interfaces of attached tokens are accepted, whatever the case of the letters.
  std::string upper = token->cdromPath;
  for (char &c : upper) c = char(toupper((unsigned char)c));
  ASSERT_TRUE(serveConnect(upper));
  EXPECT_EQ(word(8), 0u);
  ASSERT_TRUE(serveConnect(diskOnly.diskPath));
  EXPECT_EQ(word(8), 0u);
  EXPECT_EQ(word(0), 12u);
  // A non-token USB device with a CD-ROM child is not ours either.
  fake::Device other = bus.devices[0];
  other.usbPath = "\\\\?\\usb#vid_1234&pid_5678#9&x&0#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  other.childId = "USBSTOR\\CDROM&VEN_OTHER\\9&x&0";
  other.cdromPath = "\\\\?\\usbstor#cdrom&ven_other#9&x&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  bus.devices.push_back(other);
  ASSERT_TRUE(serveConnect(other.cdromPath));
  EXPECT_EQ(word(8), 5u);
}

TEST_F(ChannelTest, ServerPathLimitIs260BytesWithTheTerminator) {
  // A token whose interface path is exactly 259 characters long is served...
  fake::Device &longOne = bus.addToken("7&long&0");
  const std::string guid = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  std::string stem = longOne.cdromPath.substr(0, longOne.cdromPath.size() - guid.size());
  longOne.cdromPath = stem + std::string(259 - stem.size() - guid.size(), 'z') + guid;
  ASSERT_EQ(longOne.cdromPath.size(), 259u);
  ASSERT_TRUE(serveConnect(longOne.cdromPath));
  EXPECT_EQ(word(8), 0u);
  // ...one byte more is refused before anything is looked at.
  std::string tooLong = stem + std::string(260 - stem.size() - guid.size(), 'z') + guid;
  longOne.cdromPath = tooLong;
  bus.opened.clear();
  ASSERT_TRUE(serveConnect(tooLong));
  EXPECT_EQ(word(0), 8u);
  EXPECT_EQ(word(8), 206u);
  EXPECT_TRUE(bus.opened.empty());
  // A path length field of 4 GB, one beyond the request, or no terminator.
  ASSERT_TRUE(serveConnect(token->cdromPath, -int32_t(token->cdromPath.size() + 1) - 1));
  EXPECT_EQ(word(8), 206u);
  ASSERT_TRUE(serveConnect(token->cdromPath, 1));
  EXPECT_EQ(word(8), 87u);
  ASSERT_TRUE(serveConnect(token->cdromPath, -1));
  EXPECT_EQ(word(8), 87u);
  EXPECT_TRUE(bus.opened.empty());
  // The client does not send what the server would refuse.
  uint32_t value = 0;
  EXPECT_EQ(uk::brokerConnect(tooLong.c_str(), &value), uk::kChannelFailure);
}

TEST_F(ChannelTest, ServerActsOnlyOnHandlesItOpened) {
  ASSERT_TRUE(serveConnect(token->cdromPath));
  uint32_t value = word(12);
  // Any other value: a handle of the service's own process, for instance.
  for (uint32_t other : {value + 4, 0u, 4u, 0xFFFFFFFFu}) {
    ASSERT_TRUE(serveRead(other, kChallengeFrame, 12));
    EXPECT_EQ(word(8), 6u) << other;
    EXPECT_EQ(word(0), 16u);
    Bytes p;
    put32(p, other);
    ASSERT_TRUE(serve(8, uk::REDODIV_REQ_DISCONNECT, p));
    EXPECT_EQ(word(8), 0u) << other;
  }
  EXPECT_EQ(bus.openHandles, 1u);
  EXPECT_TRUE(token->card->frames.empty());
}

TEST_F(ChannelTest, ServerRefusesReadFramesThatDoNotFitTheBlock) {
  ASSERT_TRUE(serveConnect(token->cdromPath));
  uint32_t value = word(12);
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 10240 - 16 + 1));  // beyond the block
  EXPECT_EQ(word(8), 87u);
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 13));  // beyond the request's length word
  EXPECT_EQ(word(8), 87u);
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 0));
  EXPECT_EQ(word(8), 87u);
  EXPECT_TRUE(token->card->frames.empty());
  // The largest frame that fits is carried.
  Bytes big(10240 - 16, 0);
  ASSERT_TRUE(serveRead(value, big, uint32_t(big.size())));
  EXPECT_EQ(word(8), 0u);
  EXPECT_EQ(token->card->frames.back().size(), big.size());
}

TEST_F(ChannelTest, ServerHandleTableHasAFixedSize) {
  for (uint32_t i = 0; i < uk::BrokerHandleTable::kSlots; ++i) {
    ASSERT_TRUE(serveConnect(token->cdromPath));
    ASSERT_EQ(word(8), 0u) << i;
  }
  ASSERT_TRUE(serveConnect(token->cdromPath));
  EXPECT_EQ(word(8), 4u);
  EXPECT_EQ(bus.openHandles, uk::BrokerHandleTable::kSlots);  // the extra one was closed
  table.closeAll(bus);
  EXPECT_EQ(bus.openHandles, 0u);
}

TEST_F(ChannelTest, ServerServesAConnectionOnlyToTheProcessThatOpenedIt) {
  owner = 100;
  ASSERT_TRUE(serveConnect(token->cdromPath));
  uint32_t value = word(12);
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 12));
  EXPECT_EQ(word(8), 0u);
  // The value seen in the block by another process, used with its own stamp or with none.
  for (uint32_t other : {200u, 0u}) {
    owner = other;
    ASSERT_TRUE(serveRead(value, kChallengeFrame, 12));
    EXPECT_EQ(word(8), 6u) << other;
    ASSERT_TRUE(serveDisconnect(value));
    EXPECT_EQ(word(8), 0u) << other;
  }
  EXPECT_EQ(token->card->frames.size(), 1u);
  EXPECT_EQ(bus.openHandles, 1u);
  // The owner still has it.
  owner = 100;
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 12));
  EXPECT_EQ(word(8), 0u);
  ASSERT_TRUE(serveDisconnect(value));
  EXPECT_EQ(word(8), 1u);
  EXPECT_EQ(watch.watching, 0);
}

TEST_F(ChannelTest, ConnectionsOfEndedProcessesAreTakenBack) {
  // A process takes every slot and ends without a disconnect.
  owner = 100;
  uint32_t first = 0;
  for (uint32_t i = 0; i < uk::BrokerHandleTable::kSlots; ++i) {
    ASSERT_TRUE(serveConnect(token->cdromPath));
    ASSERT_EQ(word(8), 0u) << i;
    if (i == 0) first = word(12);
  }
  // While it lives, the others are refused (its connections are not idle yet).
  owner = 200;
  ASSERT_TRUE(serveConnect(token->cdromPath));
  EXPECT_EQ(word(8), 4u);
  EXPECT_EQ(bus.openHandles, uk::BrokerHandleTable::kSlots);
  // Once it has ended, the next connect closes all of its handles and gets a slot.
  watch.endedPids.insert(100);
  ASSERT_TRUE(serveConnect(token->cdromPath));
  ASSERT_EQ(word(8), 0u);
  uint32_t value = word(12);
  EXPECT_EQ(bus.openHandles, 1u);
  EXPECT_EQ(table.count(), 1u);
  EXPECT_EQ(watch.watching, 1);
  ASSERT_TRUE(serveRead(value, kChallengeFrame, 12));
  EXPECT_EQ(word(8), 0u);
  // The dead process's values are gone, also the one whose slot number was given out again.
  EXPECT_EQ(value & 0xFF, first & 0xFF);
  owner = 100;
  ASSERT_TRUE(serveRead(first, kChallengeFrame, 12));
  EXPECT_EQ(word(8), 6u);
}

TEST_F(ChannelTest, WithEverySlotTakenTheLongestIdleConnectionGoesAfterTenMinutes) {
  // Clients that cannot be watched: one without the stamp, one whose process cannot be opened.
  watch.unwatchable.insert(300);
  std::vector<uint32_t> values;
  for (uint32_t i = 0; i < uk::BrokerHandleTable::kSlots; ++i) {
    owner = i % 2 ? 300 : 0;
    ASSERT_TRUE(serveConnect(token->cdromPath));
    ASSERT_EQ(word(8), 0u);
    values.push_back(word(12));
    watch.now += 1000;  // the clock runs through its wrap-around meanwhile
  }
  EXPECT_EQ(watch.watching, 0);
  // The first connection is used again later: the second is then the longest idle.
  watch.now += uk::BrokerHandleTable::kIdleReclaimMs - 64 * 1000;
  owner = 0;
  ASSERT_TRUE(serveRead(values[0], kChallengeFrame, 12));
  ASSERT_EQ(word(8), 0u);
  owner = 200;
  ASSERT_TRUE(serveConnect(token->cdromPath));
  EXPECT_EQ(word(8), 4u) << "nothing has been idle for ten minutes yet";
  watch.now += 1000;
  ASSERT_TRUE(serveConnect(token->cdromPath));
  ASSERT_EQ(word(8), 0u);
  EXPECT_EQ(bus.openHandles, uk::BrokerHandleTable::kSlots);
  owner = 300;
  ASSERT_TRUE(serveRead(values[1], kChallengeFrame, 12));
  EXPECT_EQ(word(8), 6u) << "the longest idle connection was closed";
  owner = 0;
  ASSERT_TRUE(serveRead(values[0], kChallengeFrame, 12));
  EXPECT_EQ(word(8), 0u) << "the one used recently stays";
  table.closeAll(bus);
  EXPECT_EQ(bus.openHandles, 0u);
}

TEST_F(ChannelTest, TheLibraryStampsItsRequestsAndAnotherProcessCannotUseItsConnection) {
  UK_USB_DEV_CTX *conn = connect();
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), 0u);
  // The request keeps its bytes (the stamp goes to the end of the block).
  EXPECT_EQ(host.requests[1].size(), 4u + 24u);
  EXPECT_EQ(rd32(host.requests[1].data()), 24u);
  // The same connection record in another process (its value copied there).
  host.pid = 4343;
  clearLog();
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), UKLR_DEV_READ);
  EXPECT_EQ(logText(),
            "---->VendorUSBKeyDataInOut(Read) Error.Code is  0x00000006\n---->uk_usb_SendAPDUCmd......\n");
  host.pid = 4242;
  EXPECT_EQ(send(conn, {0x00, 0x84, 0x00, 0x00, 0x08}), 0u);
  EXPECT_EQ(uk::closeConnection(conn), 0u);
  EXPECT_EQ(bus.openHandles, 0u);
  EXPECT_EQ(host.watch.watching, 0);
}

TEST(ChannelOwnerStamp, WrittenAtTheEndOfTheBlockReadOnceAndOnlyOutsideTheRequest) {
  std::vector<uint8_t> block(uk::Host::kBlockSize, 0);
  uint8_t req[8] = {4, 0, 0, 0, 6, 0, 0, 0};
  memcpy(block.data(), req, 8);
  uk::stampOwner(block.data(), uint32_t(block.size()), 0x01020304);
  EXPECT_EQ(std::vector<uint8_t>(block.end() - 8, block.end()),
            (std::vector<uint8_t>{'O', 'W', 'N', 'R', 4, 3, 2, 1}));
  EXPECT_EQ(uk::takeOwner(block.data(), uint32_t(block.size())), 0x01020304u);
  EXPECT_EQ(std::vector<uint8_t>(block.end() - 8, block.end()), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(uk::takeOwner(block.data(), uint32_t(block.size())), 0u) << "read once";
  // A request whose length word reaches into the stamp's bytes has no stamp.
  uk::stampOwner(block.data(), uint32_t(block.size()), 7);
  block[0] = uint8_t((block.size() - 11) & 0xFF);
  block[1] = uint8_t((block.size() - 11) >> 8);
  EXPECT_EQ(uk::takeOwner(block.data(), uint32_t(block.size())), 0u);
  block[0] = uint8_t((block.size() - 12) & 0xFF);
  block[1] = uint8_t((block.size() - 12) >> 8);
  EXPECT_EQ(uk::takeOwner(block.data(), uint32_t(block.size())), 7u);
}

TEST(ChannelOwnerStamp, UnansweredRequestsAreToldFromAnswers) {
  uint8_t block[16] = {0};
  for (uint32_t type : {2u, 5u, 6u}) {
    block[4] = uint8_t(type);
    EXPECT_TRUE(uk::holdsUnansweredRequest(block)) << type;
    block[6] = 1;  // the answer to it
    EXPECT_FALSE(uk::holdsUnansweredRequest(block)) << type;
    block[6] = 0;
  }
  for (uint32_t type : {0u, 1u, 3u, 4u, 7u}) {
    block[4] = uint8_t(type);
    EXPECT_FALSE(uk::holdsUnansweredRequest(block)) << type;
  }
  block[4] = 0xFF;
  block[5] = 0xFF;  // the stop request
  EXPECT_FALSE(uk::holdsUnansweredRequest(block));
}

TEST(BrokerHandleTable, ValuesAreTaggedSlotNumbersWhateverTheHandleWidth) {
  uk::BrokerHandleTable t;
  fake::Bus bus;
  // Handles of a 64-bit service lie above 4 GB; the client still gets a 32-bit value.
  const uintptr_t wide = sizeof(uintptr_t) > 4 ? uintptr_t(0x7FF612345678ull) : uintptr_t(0x12345678);
  uint32_t a = t.add(wide, 0, bus), b = t.add(wide + 8, 0, bus);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(a & 0xFF, 1u);
  EXPECT_EQ(b & 0xFF, 2u);
  EXPECT_NE(a >> 8, 0u);
  uintptr_t h = 0;
  ASSERT_TRUE(t.find(a, 0, &h));
  EXPECT_EQ(h, wide);
  ASSERT_TRUE(t.find(b, 0, &h));
  EXPECT_EQ(h, wide + 8);
  // The right slot under another tag, slot 0 and slots past the table are refused.
  EXPECT_FALSE(t.find(a ^ 0x100, 0, &h));
  EXPECT_FALSE(t.find(a & 0xFFFFFF00u, 0, &h));
  EXPECT_FALSE(t.find((a & 0xFFFFFF00u) | (uk::BrokerHandleTable::kSlots + 1), 0, &h));
  // A freed slot given out again carries a new tag: the old value stays dead.
  t.remove(a);
  EXPECT_FALSE(t.find(a, 0, &h));
  uint32_t c = 0;
  for (int i = 0; i < 8 && (c = t.add(wide + 16, 0, bus)) == a; ++i) t.remove(c);
  EXPECT_EQ(c & 0xFF, 1u);
  EXPECT_NE(c, a);
  EXPECT_FALSE(t.find(a, 0, &h));
  EXPECT_EQ(t.count(), 2u);
}

TEST(BrokerHandleTable, TagsDifferBetweenTables) {
  // Two services (or one restarted) do not hand out the same values.
  std::set<uint32_t> seen;
  fake::Bus bus;
  for (int i = 0; i < 32; ++i) {
    uk::BrokerHandleTable t;
    seen.insert(t.add(1, 0, bus));
  }
  EXPECT_GT(seen.size(), 30u);
}

TEST(ChannelEncoding, RequestRecords) {
  uint8_t block[64];
  const uint8_t payload[12] = {1};
  EXPECT_EQ(uk::encodeRequest(5, payload, 12, block, sizeof block), 20u);
  EXPECT_EQ(rd32(block), 16u);
  EXPECT_EQ(rd32(block + 4), 5u);
  EXPECT_EQ(uk::encodeRequest(5, payload, 57, block, sizeof block), 0u);  // does not fit
  uk::ChannelAnswer a;
  memset(block, 0, sizeof block);
  block[0] = 7;  // shorter than type and result
  EXPECT_FALSE(uk::parseAnswer(block, sizeof block, &a));
  block[0] = 60;
  EXPECT_TRUE(uk::parseAnswer(block, sizeof block, &a));
  block[0] = 61;  // one beyond the block
  EXPECT_FALSE(uk::parseAnswer(block, sizeof block, &a));
}

}  // namespace
