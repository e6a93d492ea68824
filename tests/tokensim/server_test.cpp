// The emulator server in-process on a free port: control commands through the client library,
// the virtual device bus with the device paths of the real stack, power sessions across
// connections, persistence across restarts, concurrent clients, malformed requests, and the
// token library itself running its listing, format, PIN and signature paths over the bus.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "sim_server.h"
#include "sim_test_util.h"
#include "uk_simnet.h"
#include "uk_tokensim_client.h"
#include "uk_tokenlib.h"
#include "uk_virtual_bus.h"

using namespace simtest;
using tokensim::Client;

namespace {

// A request frame of the transport.
Bytes req(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const Bytes &data = {}, uint32_t le = 0) {
  tokensim::Apdu a;
  a.cla = cla; a.ins = ins; a.p1 = p1; a.p2 = p2; a.data = data; a.le = le;
  return tokensim::buildRequestFrame(a);
}
const Bytes kSelectMf = req(0, 0xA4, 0, 0, {0x3F, 0x00});
const Bytes kSelectDf01 = req(0, 0xA4, 0, 0, {0xDF, 0x01});
const Bytes kPinStatus = req(0, 0x20, 0, 0xA1);
Bytes verifyFrame(const char *pin) {
  return req(0, 0x20, 0, 0xA1, Bytes(pin, pin + strlen(pin)));
}

std::string tempDir() {
  char t[] = "/tmp/tokensim-test-XXXXXX";
  return mkdtemp(t);
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tempDir();
    start();
  }
  void TearDown() override {
    stop();
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void start() {
    reg = std::make_unique<tokensim::Registry>(dir);
    reg->loadAll();
    server = std::make_unique<tokensim::Server>(*reg);
    std::string err;
    ASSERT_TRUE(server->start(0, &err)) << err;
    client = Client(server->port());
  }
  void stop() {
    server.reset();
    reg.reset();
  }
  // One frame exchange through the bus: the vendor write and read.
  uint32_t frame(uk::VirtualBus &bus, uintptr_t h, const Bytes &req, Bytes *resp) {
    uint8_t cdb[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 2, uint8_t(req.size() >> 8), uint8_t(req.size()), 0};
    Bytes buf = req;
    uint32_t n = 0;
    if (uint32_t rc = bus.scsi(h, cdb, false, buf.data(), uint32_t(buf.size()), &n)) return rc;
    uint8_t rcdb[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x10, 0x00, 0};
    Bytes in(4096);
    if (uint32_t rc = bus.scsi(h, rcdb, true, in.data(), 4096, &n)) return rc;
    in.resize(n);
    *resp = in;
    return 0;
  }
  std::string dir;
  std::unique_ptr<tokensim::Registry> reg;
  std::unique_ptr<tokensim::Server> server;
  Client client;
};

TEST_F(ServerTest, ControlCommands) {
  ASSERT_TRUE(client.command("ping"));
  ASSERT_TRUE(client.createToken("CTL0001", {{"label", "my label"}, {"project", "OTHER"}}));
  EXPECT_FALSE(client.createToken("CTL0001"));
  EXPECT_FALSE(client.createToken("bad#serial"));
  EXPECT_FALSE(client.command("frobnicate"));
  EXPECT_FALSE(client.command("insert NOSUCH"));
  Client::Options info;
  ASSERT_TRUE(client.info("CTL0001", &info));
  auto get = [&](const std::string &k) {
    for (auto &kv : info)
      if (kv.first == k) return kv.second;
    return std::string("?");
  };
  EXPECT_EQ(get("label"), "my label");
  EXPECT_EQ(get("project"), "OTHER");
  EXPECT_EQ(get("blank"), "0");
  ASSERT_TRUE(client.blank("CTL0001"));
  ASSERT_TRUE(client.info("CTL0001", &info));
  EXPECT_EQ(get("blank"), "1");
  ASSERT_TRUE(client.set("CTL0001", {{"cos", "COS 9"}, {"iface", "disk"}}));
  EXPECT_FALSE(client.set("CTL0001", {{"iface", "floppy"}}));
  ASSERT_TRUE(client.info("CTL0001", &info));
  EXPECT_EQ(get("cos"), "COS 9");
  EXPECT_EQ(get("iface"), "disk");
  EXPECT_FALSE(client.pressButton("CTL0001"));  // no signature waits
  std::vector<Client::Device> devs;
  ASSERT_TRUE(client.devices(&devs));
  ASSERT_EQ(devs.size(), 1u);
  ASSERT_TRUE(client.remove("CTL0001"));
  ASSERT_TRUE(client.devices(&devs));
  EXPECT_TRUE(devs.empty());
  ASSERT_TRUE(client.deleteToken("CTL0001"));
  EXPECT_FALSE(client.info("CTL0001", &info));
  EXPECT_NE(access((dir + "/CTL0001.tok").c_str(), F_OK), 0);
}

TEST_F(ServerTest, BusPresentsRealDevicePaths) {
  ASSERT_TRUE(client.createToken("BUS0001"));
  ASSERT_TRUE(client.createToken("BUS0002", {{"vid", "1234"}, {"pid", "abcd"}}));
  ASSERT_TRUE(client.createToken("BUS0003", {{"iface", "disk"}}));
  ASSERT_TRUE(client.createToken("BUS0004", {{"iface", "none"}}));
  uk::VirtualBus bus(server->port());
  char paths[8][256];
  uint32_t found = 0;
  ASSERT_TRUE(bus.listUsbInterfaces(paths, 8, &found));
  ASSERT_EQ(found, 4u);
  EXPECT_STREQ(paths[0], "\\\\?\\usb#vid_0b0c&pid_10ae#BUS0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_STREQ(paths[1], "\\\\?\\usb#vid_1234&pid_abcd#BUS0002#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  ASSERT_TRUE(bus.listUsbInterfaces(paths, 2, &found));
  EXPECT_EQ(found, 2u);  // only the interface indexes asked for

  // The instance identifier as the library derives it (first "u" to last "#", "#" -> "\").
  auto instance = [](const char *path) {
    std::string p = path;
    std::string s = p.substr(p.find('u'), p.rfind('#') - p.find('u'));
    for (char &c : s)
      if (c == '#') c = '\\';
    return s;
  };
  char child[256];
  ASSERT_EQ(bus.firstChild(instance(paths[0]).c_str(), child, sizeof child), 0u);
  EXPECT_STREQ(child, "USBSTOR\\CdRom&Ven_KESTRA&Prod_UKEY&Rev_1.00\\BUS0001&0");
  EXPECT_EQ(bus.firstChild("USB\\VID_0B0C&PID_10AE\\BUS0001", child, sizeof child), 0u);  // any case
  EXPECT_NE(bus.firstChild("usb\\vid_0b0c&pid_10ae\\NOSUCH", child, sizeof child), 0u);
  EXPECT_NE(bus.firstChild("usb\\vid_0b0c&pid_10ae\\BUS0001", child, 10), 0u);  // too small
  EXPECT_EQ(bus.firstChild("usb\\vid_0b0c&pid_10ae\\BUS0004", child, sizeof child), 0x25u);
  ASSERT_EQ(bus.firstChild(instance(paths[0]).c_str(), child, sizeof child), 0u);
  const char *failed = nullptr;
  char cd[256];
  ASSERT_EQ(bus.interfacePath(child, uk::DevClass::CdRom, cd, sizeof cd, &failed), 0u);
  EXPECT_STREQ(cd, "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#BUS0001&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}");
  EXPECT_NE(bus.interfacePath(child, uk::DevClass::Disk, cd, sizeof cd, &failed), 0u);
  EXPECT_STREQ(failed, "SetupDiOpenDeviceInfoA");
  // The disk-only token: no CD-ROM interface, a disk one.
  ASSERT_EQ(bus.firstChild("usb\\vid_0b0c&pid_10ae\\BUS0003", child, sizeof child), 0u);
  EXPECT_STREQ(child, "USBSTOR\\Disk&Ven_KESTRA&Prod_UKEY&Rev_1.00\\BUS0003&0");
  EXPECT_NE(bus.interfacePath(child, uk::DevClass::CdRom, cd, sizeof cd, &failed), 0u);
  ASSERT_EQ(bus.interfacePath(child, uk::DevClass::Disk, cd, sizeof cd, &failed), 0u);
  EXPECT_STREQ(cd, "\\\\?\\usbstor#disk&ven_kestra&prod_ukey&rev_1.00#BUS0003&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  uintptr_t h = 0;
  ASSERT_EQ(bus.open(cd, &h), 0u);
  Bytes resp;
  ASSERT_EQ(frame(bus, h, hex("000A00840000000000000008"), &resp), 0u);
  EXPECT_EQ(resp.size(), 12u);
  bus.close(h);
  EXPECT_EQ(bus.open("\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#NOSUCH&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}", &h), 2u);
  EXPECT_EQ(bus.open("C:\\file", &h), 2u);
}

TEST_F(ServerTest, ScsiCommandBlockIsChecked) {
  ASSERT_TRUE(client.createToken("CDB0001"));
  uk::VirtualBus bus(server->port());
  uintptr_t h = 0;
  ASSERT_EQ(bus.open("\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#CDB0001&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}", &h), 0u);
  Bytes req = kSelectMf;
  uint32_t n = 0;
  uint8_t good[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 2, 0, uint8_t(req.size()), 0};
  uint8_t cdb[10];
  memcpy(cdb, good, 10);
  cdb[3] = 'X';
  EXPECT_EQ(bus.scsi(h, cdb, false, req.data(), uint32_t(req.size()), &n), 1117u);
  memcpy(cdb, good, 10);
  cdb[8] = uint8_t(req.size() + 1);  // length disagrees with the transfer
  EXPECT_EQ(bus.scsi(h, cdb, false, req.data(), uint32_t(req.size()), &n), 1117u);
  memcpy(cdb, good, 10);
  cdb[6] = 1;  // read direction on a write
  EXPECT_EQ(bus.scsi(h, cdb, false, req.data(), uint32_t(req.size()), &n), 1117u);
  uint8_t rd[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x10, 0x00, 0};
  Bytes in(4096);
  EXPECT_EQ(bus.scsi(h, rd, true, in.data(), 4096, &n), 1117u);  // nothing written yet
  ASSERT_EQ(bus.scsi(h, good, false, req.data(), uint32_t(req.size()), &n), 0u);
  ASSERT_EQ(bus.scsi(h, rd, true, in.data(), 4096, &n), 0u);
  ASSERT_GE(n, 4u);
  EXPECT_EQ(in[n - 2], 0x90);
  EXPECT_EQ(size_t((in[0] << 8) | in[1]) + 2, n);  // transfer count = frame length
  EXPECT_EQ(bus.scsi(0, rd, true, in.data(), 4096, &n), 6u);
  bus.close(h);
}

TEST_F(ServerTest, HandlesGoStaleAtRemovalAndSessionOutlivesConnections) {
  ASSERT_TRUE(client.createToken("SES0001"));
  uk::VirtualBus bus(server->port());
  const char *path = "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#SES0001&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  uintptr_t h1 = 0, h2 = 0;
  ASSERT_EQ(bus.open(path, &h1), 0u);
  Bytes r;
  ASSERT_EQ(frame(bus, h1, kSelectMf, &r), 0u);
  ASSERT_EQ(frame(bus, h1, kSelectDf01, &r), 0u);
  ASSERT_EQ(frame(bus, h1, verifyFrame("482915"), &r), 0u);
  EXPECT_EQ(r, hex("00029000"));
  bus.close(h1);
  // A new handle sees the same power session: the PIN is still verified.
  ASSERT_EQ(bus.open(path, &h2), 0u);
  ASSERT_EQ(frame(bus, h2, kPinStatus, &r), 0u);
  EXPECT_EQ(r, hex("00029000"));
  ASSERT_TRUE(client.remove("SES0001"));
  EXPECT_EQ(frame(bus, h2, hex("000A00840000000000000008"), &r), 1167u);
  ASSERT_TRUE(client.insert("SES0001"));
  EXPECT_EQ(frame(bus, h2, hex("000A00840000000000000008"), &r), 1167u);  // still the old insertion
  bus.close(h2);
  ASSERT_EQ(bus.open(path, &h2), 0u);
  ASSERT_EQ(frame(bus, h2, kSelectMf, &r), 0u);
  ASSERT_EQ(frame(bus, h2, kSelectDf01, &r), 0u);
  ASSERT_EQ(frame(bus, h2, kPinStatus, &r), 0u);
  EXPECT_EQ(r, hex("000263CA"));  // new power session: not verified
  bus.close(h2);
  // The trace holds every frame and its answer.
  std::vector<std::string> t = client.trace("SES0001");
  ASSERT_GE(t.size(), 10u);
  EXPECT_EQ(t[0], "> 00A400000000023F00000000");
  EXPECT_EQ(t[1].substr(0, 8), "< 83023F");  // the select answer: the MF's parameters
  EXPECT_EQ(t[1].substr(t[1].size() - 4), "9000");
  EXPECT_NE(std::find(t.begin(), t.end(), "# remove"), t.end());
  ASSERT_TRUE(client.clearTrace("SES0001"));
  EXPECT_TRUE(client.trace("SES0001").empty());
}

TEST_F(ServerTest, PullAtAChosenFrame) {
  ASSERT_TRUE(client.createToken("PUL0001"));
  EXPECT_FALSE(client.command("pull PUL0001 0"));
  EXPECT_FALSE(client.command("pull PUL0001 1 later"));
  EXPECT_FALSE(client.command("pull NOSUCH 1"));
  std::vector<Client::Device> devs;
  ASSERT_TRUE(client.devices(&devs));
  uint32_t gen = devs.at(0).generation;
  // Out at the second frame, before the card sees it.
  ASSERT_TRUE(client.command("pull PUL0001 2"));
  Bytes r;
  uint8_t st = 0;
  ASSERT_TRUE(client.exchange("PUL0001", gen, kSelectMf, &r));
  EXPECT_FALSE(client.exchange("PUL0001", gen, kSelectDf01, &r, &st));
  EXPECT_EQ(st, uk::simnet::kStale);
  ASSERT_TRUE(client.devices(&devs));
  EXPECT_TRUE(devs.empty());
  std::vector<std::string> t = client.trace("PUL0001");
  EXPECT_EQ(t.back(), "# pull");
  ASSERT_TRUE(client.insert("PUL0001"));
  ASSERT_TRUE(client.devices(&devs));
  gen = devs.at(0).generation;

  // Out once the card has carried the frame out: a wrong PIN costs a try, its answer is lost.
  ASSERT_TRUE(client.exchange("PUL0001", gen, kSelectMf, &r));
  ASSERT_TRUE(client.exchange("PUL0001", gen, kSelectDf01, &r));
  ASSERT_TRUE(client.command("pull PUL0001 1 after"));
  EXPECT_FALSE(client.exchange("PUL0001", gen, verifyFrame("000000"), &r, &st));
  EXPECT_EQ(st, uk::simnet::kStale);
  ASSERT_TRUE(client.insert("PUL0001"));
  ASSERT_TRUE(client.devices(&devs));
  gen = devs.at(0).generation;
  ASSERT_TRUE(client.exchange("PUL0001", gen, kSelectMf, &r));
  ASSERT_TRUE(client.exchange("PUL0001", gen, kSelectDf01, &r));
  ASSERT_TRUE(client.exchange("PUL0001", gen, kPinStatus, &r));
  EXPECT_EQ(r, hex("000263C9"));
  // Nothing stays armed.
  ASSERT_TRUE(client.exchange("PUL0001", gen, kPinStatus, &r));
}

TEST_F(ServerTest, ImagesSurviveARestart) {
  ASSERT_TRUE(client.createToken("PER0001", {{"label", "kept"}, {"retries", "5"}}));
  ASSERT_TRUE(client.createToken("PER0002", {{"blank", "1"}, {"inserted", "0"}}));
  Bytes r;
  std::vector<Client::Device> devs;
  ASSERT_TRUE(client.devices(&devs));
  ASSERT_EQ(devs.size(), 1u);
  uint32_t gen = devs[0].generation;
  ASSERT_TRUE(client.exchange("PER0001", gen, kSelectMf, &r));
  ASSERT_TRUE(client.exchange("PER0001", gen, kSelectDf01, &r));
  ASSERT_TRUE(client.exchange("PER0001", gen, verifyFrame("000000"), &r));
  EXPECT_EQ(r, hex("000263C4"));
  uint8_t st = 0;
  EXPECT_FALSE(client.exchange("PER0001", gen + 1, hex("000A00840000000000000008"), &r, &st));
  EXPECT_EQ(st, uk::simnet::kStale);
  EXPECT_FALSE(client.exchange("NOSUCH", 1, hex("000A00840000000000000008"), &r, &st));
  EXPECT_EQ(st, uk::simnet::kNoToken);
  stop();
  start();
  Client::Options info;
  ASSERT_TRUE(client.info("PER0001", &info));
  EXPECT_NE(std::find(info.begin(), info.end(), std::make_pair(std::string("label"), std::string("kept"))), info.end());
  ASSERT_TRUE(client.info("PER0002", &info));
  EXPECT_NE(std::find(info.begin(), info.end(), std::make_pair(std::string("inserted"), std::string("0"))), info.end());
  ASSERT_TRUE(client.devices(&devs));
  ASSERT_EQ(devs.size(), 1u);
  gen = devs[0].generation;
  ASSERT_TRUE(client.exchange("PER0001", gen, kSelectMf, &r));
  ASSERT_TRUE(client.exchange("PER0001", gen, kSelectDf01, &r));
  ASSERT_TRUE(client.exchange("PER0001", gen, kPinStatus, &r));
  EXPECT_EQ(r, hex("000263C4"));  // the retry counter was persisted
}

TEST_F(ServerTest, MalformedRequestsAndParallelClients) {
  ASSERT_TRUE(client.createToken("PAR0001"));
  // A length prefix beyond the limit: an error answer, the server lives on.
  uk::simnet::Socket s = uk::simnet::connectLoopback(server->port(), 5000);
  ASSERT_NE(s, uk::simnet::kNoSocket);
  uint8_t huge[4] = {0x7F, 0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(uk::simnet::sendAll(s, huge, 4));
  uint32_t len = 0;
  ASSERT_TRUE(uk::simnet::recvLength(s, &len, 1024));
  uint8_t st = 0;
  ASSERT_TRUE(uk::simnet::recvAll(s, &st, 1));
  EXPECT_EQ(st, uk::simnet::kError);
  uk::simnet::closeSocket(s);
  // Unknown operation, malformed exchange, garbage frames.
  std::vector<uint8_t> ans;
  Bytes r;
  EXPECT_TRUE(client.exchange("PAR0001", 1, Bytes(3, 0xFF), &r, &st));
  EXPECT_EQ(st, uk::simnet::kDone);  // the card answered the frame with an error status
  EXPECT_EQ(r, hex("00026700"));
  ASSERT_TRUE(client.command("ping"));
  // Several clients at once, each with its own connection, on one token and on the registry.
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      Client c(server->port());
      for (int i = 0; i < 30; ++i) {
        Bytes resp;
        if (c.exchange("PAR0001", 1, hex("000A00840000000000000010"), &resp) && resp.size() == 20)
          ++good;
        if (t == 0 && i % 10 == 0) c.command("list");
      }
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(good.load(), 180);
}

// The token library over the virtual bus: listing by project name, connect, format, PINs,
// device information, a key pair and a signature that waits for the button.
TEST_F(ServerTest, TokenLibraryRunsOverTheVirtualBus) {
  ASSERT_TRUE(client.createToken("LIB0001", {{"button", "never"}}));
  ASSERT_TRUE(client.createToken("LIB0002", {{"project", "OTHERBANK"}}));
  ASSERT_TRUE(client.createToken("LIB0003", {{"vid", "1111"}}));
  ASSERT_TRUE(client.createToken("LIB0004", {{"iface", "disk"}, {"blank", "1"}}));
  uk::VirtualBus bus(server->port());
  uk::setPlatform(&bus, uk::defaultHost());
  UK_DEV_INFO devs[8];
  memset(devs, 0, sizeof devs);
  uint32_t count = 8;
  ASSERT_EQ(zksTokenListDevices("SOLENEBANK", devs, &count), 0u);
  ASSERT_EQ(count, 2u);  // other project and foreign identifiers are not listed
  EXPECT_NE(strstr(devs[0].devicePath, "LIB0001"), nullptr);
  EXPECT_NE(strstr(devs[1].devicePath, "LIB0004"), nullptr);  // reached through its disk interface
  UK_DEV_INFO &d = devs[0];
  ASSERT_EQ(zksTokenConnect(&d, 1), 0u);
  char sn[64] = {0};
  uint32_t snLen = sizeof sn;
  ASSERT_EQ(zksTokenGetSn(&d, sn, &snLen), 0u);
  EXPECT_STREQ(sn, "LIB0001");
  const uint8_t so[] = "482915", user[] = "937260";
  ASSERT_EQ(zksTokenFormatDevice(&d, nullptr, so, 6, 6, user, 6, 6, 0, "Formatted", 0, 0), 0u);
  ASSERT_EQ(zksTokenSelectPkiWorkDF(&d, 0), 0u);
  uint32_t changed = 99;
  uint8_t usable = 0, tries = 0;
  ASSERT_EQ(zksTokenGetDeviceInfo(&d, &changed, &usable, &tries, 0), 0u);
  EXPECT_EQ(changed, 0u);
  EXPECT_NE(usable, 0);
  uint8_t left = 0;
  EXPECT_EQ(zksTokenVerifyUserPin(&d, reinterpret_cast<const uint8_t *>("000000"), 6, &left), 0x800063C5u);
  EXPECT_EQ(left, 5);
  ASSERT_EQ(zksTokenModifyUserPin(&d, user, 6, reinterpret_cast<const uint8_t *>("111111"), 6, &left), 0u);
  ASSERT_EQ(zksTokenGetDeviceInfo(&d, &changed, &usable, &tries, 0), 0u);
  EXPECT_NE(changed, 0u);
  ASSERT_EQ(zksTokenVerifyUserPin(&d, reinterpret_cast<const uint8_t *>("111111"), 6, &left), 0u);
  UK_CONTAINER_INFO c;
  memset(&c, 0, sizeof c);
  strcpy(c.name, "container-1");
  ASSERT_EQ(zksTokenNewContainer(&d, &c), 0u);
  ASSERT_EQ(zksTokenGenRsaKeyPair(&d, &c, UK_KEYSPEC_SIGNATURE), 0u);
  uint8_t digest[20] = {1, 2, 3};
  uint8_t sig[128];
  uint32_t sigLen = sizeof sig;
  EXPECT_EQ(zksTokenRsaPriEncrypt(&d, &c, digest, 20, sig, &sigLen, UK_KEYSPEC_SIGNATURE, 1), 21u);
  sigLen = sizeof sig;
  EXPECT_EQ(zksTokenRsaPriEncryptFinal(&d, sig, &sigLen, 0), 21u);
  ASSERT_TRUE(client.pressButton("LIB0001"));
  sigLen = sizeof sig;
  EXPECT_EQ(zksTokenRsaPriEncryptFinal(&d, sig, &sigLen, 0), 0u);
  EXPECT_EQ(sigLen, 128u);
  // Recover the block with the public key: type 01 padding around the digest.
  uint8_t rec[128];
  uint32_t recLen = sizeof rec;
  ASSERT_EQ(zksTokenRsaPubDecrypt(&d, &c, sig, 128, rec, &recLen, UK_KEYSPEC_SIGNATURE), 0u);
  ASSERT_EQ(recLen, 20u);
  EXPECT_EQ(memcmp(rec, digest, 20), 0);
  EXPECT_EQ(zksTokenDisconnect(&d), 0u);
  // The format sequence as the card saw it: an erase under the secure channel first.
  std::vector<std::string> t = client.trace("LIB0001");
  auto has = [&](const std::string &prefix) {
    for (auto &l : t)
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  };
  EXPECT_TRUE(has("> 805000FF"));
  EXPECT_TRUE(has("> 84820300"));
  EXPECT_TRUE(has("> 00E40000"));
  uk::setPlatform(nullptr, nullptr);
}

}  // namespace
