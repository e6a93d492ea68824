// The token library in an ordinary process reaching a virtual token through the installed key
// service: on NT 6 and later every device open, exchange and close goes over the brokered
// channel, so with the service stopped the same token is out of reach. Also what happens to
// clients when the service stops or dies in the middle of an exchange (a relay between the
// service and the emulator holds the token's answer, so that a request stays in flight), when a
// client dies with connections open, and when a process uses another process's connection.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "emulator_relay.h"
#include "raw_channel.h"
#include "run_program.h"
#include "service_control.h"
#include "uk_test_main.h"
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

// The client's own bound on an answer (kAnswerWaitMs in the library), and a margin for a loaded
// machine.
constexpr DWORD kAnswerWaitMs = 120000;
constexpr DWORD kPromptMs = 10000;

const char kSettingKey[] = "SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";

// Points the machine-wide emulator setting at 127.0.0.1:port (the 64-bit view first, which the
// library reads first, whatever this program's architecture).
bool setVirtualToken(uint16_t port) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  std::string value = "127.0.0.1:" + std::to_string(port);
  LONG rc = RegSetValueExA(key, "VirtualToken", 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::string selfPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

HANDLE spawn(const std::string &args) {
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::string cmd = "\"" + selfPath() + "\" " + args;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

DWORD exitCodeOf(HANDLE process, DWORD ms = 60000) {
  DWORD code = 0xDEAD;
  if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0)
    GetExitCodeProcess(process, &code);
  else
    TerminateProcess(process, 0xDEAD);
  CloseHandle(process);
  return code;
}

// The listing record of the token with the given serial (its USB path carries the serial), not
// connected. False when the listing fails or does not hold it.
bool listedToken(const std::string &serial, UK_DEV_INFO *found) {
  static UK_DEV_INFO devs[16];
  memset(devs, 0, sizeof devs);
  uint32_t count = 16;
  if (zksTokenListDevices("SOLENEBANK", devs, &count) != 0) return false;
  for (uint32_t i = 0; i < count && i < 16; ++i)
    if (strstr(devs[i].devicePath, ("#" + serial + "#").c_str())) {
      *found = devs[i];
      return true;
    }
  return false;
}

// Child modes, selected by the first argument; the exit code tells the test what happened.
//   --hold-connections SERIAL N READY   connects N times to the token, sets READY, waits to be
//                                       killed (never disconnects)
//   --exchange-on-signal SERIAL READY GO  connects, sets READY, waits for GO, then makes five
//                                       exchanges; exit code = the exchanges that failed
int childMain(int argc, char **argv) {
  if (argc >= 5 && strcmp(argv[1], "--hold-connections") == 0) {
    UK_DEV_INFO listed;
    if (!listedToken(argv[2], &listed)) return 200;
    int n = atoi(argv[3]);
    std::vector<UK_DEV_INFO> devs(size_t(n), listed);
    for (UK_DEV_INFO &d : devs)
      if (zksTokenConnect(&d, 0) != 0) return 201;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
    if (!ready) return 202;
    SetEvent(ready);
    Sleep(INFINITE);
  }
  if (argc >= 5 && strcmp(argv[1], "--exchange-on-signal") == 0) {
    UK_DEV_INFO dev;
    if (!listedToken(argv[2], &dev)) return 200;
    if (zksTokenConnect(&dev, 0) != 0) return 201;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
    if (!ready || !go) return 202;
    SetEvent(ready);
    if (WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 203;
    int failed = 0;
    for (int i = 0; i < 5; ++i) {
      uint8_t r[8];
      if (zksTokenGenRandom(&dev, r, sizeof r) != 0) ++failed;
    }
    zksTokenDisconnect(&dev);
    return failed;
  }
  return -1;
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
    relay_.release();
    if (svc_) CloseServiceHandle(svc_);
    if (scm_) CloseServiceHandle(scm_);
    svctest::removeServiceIfPresent();
    if (relayed_) {
      EXPECT_TRUE(setVirtualToken(sim_.port()));
    }
    relay_.stop();
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
  // The service reaches the token through the relay from its next start on. This process keeps
  // the emulator it already found (the library reads the setting once, at its first listing).
  void relayTheService() {
    UK_DEV_INFO dev;
    listedToken(serial_, &dev);
    ASSERT_TRUE(relay_.start(sim_.port()));
    ASSERT_TRUE(setVirtualToken(relay_.port()));
    relayed_ = true;
  }
  DWORD serviceProcessId() {
    SERVICE_STATUS_PROCESS st;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(svc_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&st),
                              sizeof st, &needed))
      return 0;
    return st.dwProcessId;
  }
  // A get-challenge exchange on another thread, timed.
  struct Timed {
    uint32_t rc;
    DWORD ms;
  };
  static std::future<Timed> exchangeLater(UK_DEV_INFO *dev) {
    return std::async(std::launch::async, [dev] {
      DWORD t0 = GetTickCount();
      uint8_t r[8];
      uint32_t rc = zksTokenGenRandom(dev, r, sizeof r);
      return Timed{rc, GetTickCount() - t0};
    });
  }
  static bool ready(std::future<Timed> &f, DWORD ms) {
    return f.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
  }
  // Starts the service behind the relay, connects *dev and begins an exchange whose request
  // stays in flight in the service (the relay holds the token's answer) until relay_.release().
  void exchangeInFlight(UK_DEV_INFO *dev, std::future<Timed> *inFlight) {
    ASSERT_NO_FATAL_FAILURE(relayTheService());
    ASSERT_TRUE(start());
    ASSERT_TRUE(listedToken(serial_, dev));
    ASSERT_EQ(0u, zksTokenConnect(dev, 0));
    relay_.hold();
    *inFlight = exchangeLater(dev);
    ASSERT_TRUE(relay_.waitHeld(kPromptMs)) << "the service did not pass the request on";
  }

  // Another process (child mode --exchange-on-signal) that connects to the token, says so, and
  // makes its exchanges when told to.
  struct Exchanger {
    HANDLE process = nullptr, ready = nullptr, go = nullptr;
  };
  void startExchanger(Exchanger *e) {
    std::string ready = "uk_brokered_ready_" + serial_, go = "uk_brokered_go_" + serial_;
    e->ready = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    e->go = CreateEventA(nullptr, TRUE, FALSE, go.c_str());
    e->process = spawn("--exchange-on-signal " + serial_ + " " + ready + " " + go);
    ASSERT_NE(nullptr, e->process);
    HANDLE waits[2] = {e->ready, e->process};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000))
        << "the other process could not connect";
  }
  // Lets it make its exchanges; the number that failed (or a setup error above 199).
  static DWORD finishExchanger(Exchanger *e) {
    SetEvent(e->go);
    DWORD code = exitCodeOf(e->process);
    CloseHandle(e->ready);
    CloseHandle(e->go);
    *e = Exchanger{};
    return code;
  }
  // Another process connects and exchanges with the token through the running service.
  DWORD anotherProcessExchanges() {
    Exchanger e;
    startExchanger(&e);
    return e.process ? finishExchanger(&e) : 0xDEAD;
  }

  tokensim::Client sim_;
  std::string serial_;
  SC_HANDLE scm_ = nullptr, svc_ = nullptr;
  relay::EmulatorRelay relay_;
  bool relayed_ = false;
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

TEST_F(BrokeredThroughService, StopLetsTheRequestInFlightFinishThenTheRoadIsClosedUntilARestart) {
  UK_DEV_INFO dev;
  std::future<Timed> inFlight;
  ASSERT_NO_FATAL_FAILURE(exchangeInFlight(&dev, &inFlight));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(svc_, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  // The stop waits for the request the service is serving.
  Sleep(1500);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), svctest::serviceState(svc_));
  EXPECT_FALSE(ready(inFlight, 0));
  relay_.release();
  ASSERT_TRUE(ready(inFlight, kPromptMs));
  EXPECT_EQ(0u, inFlight.get().rc) << "the request in flight was answered";
  EXPECT_TRUE(svctest::waitState(svc_, SERVICE_STOPPED, kPromptMs));

  // The next exchange fails at once with the brokered road's failure code.
  Timed next = exchangeLater(&dev).get();
  EXPECT_EQ(static_cast<uint32_t>(UKLR_DEV_WRITE), next.rc);
  EXPECT_LT(next.ms, 5000u);
  zksTokenDisconnect(&dev);

  // Running again, the service serves a new connection of this process and another process.
  ASSERT_TRUE(start());
  ASSERT_TRUE(listedToken(serial_, &dev));
  ASSERT_EQ(0u, zksTokenConnect(&dev, 0));
  EXPECT_EQ(0u, exchangeLater(&dev).get().rc);
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  EXPECT_EQ(0u, anotherProcessExchanges());
  ASSERT_TRUE(stop());
}

TEST_F(BrokeredThroughService, AClientWaitingOnAKilledServiceReturnsAtOnce) {
  UK_DEV_INFO dev;
  std::future<Timed> inFlight;
  ASSERT_NO_FATAL_FAILURE(exchangeInFlight(&dev, &inFlight));
  HANDLE service = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, serviceProcessId());
  ASSERT_NE(nullptr, service);
  DWORD t0 = GetTickCount();
  ASSERT_TRUE(TerminateProcess(service, 1));
  // The loop's mutex is abandoned with the process: the client stops waiting at once, long
  // before its time limit, with the failure code of the brokered road.
  ASSERT_TRUE(ready(inFlight, kPromptMs)) << "the client still waits";
  EXPECT_EQ(static_cast<uint32_t>(UKLR_DEV_WRITE), inFlight.get().rc);
  EXPECT_LT(GetTickCount() - t0, kPromptMs);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(service, kPromptMs));
  CloseHandle(service);
  relay_.release();
  zksTokenDisconnect(&dev);

  // Started again, the service serves another process. (Windows' service manager marks a
  // killed service stopped; Wine's keeps showing it running, but starts it again all the same.)
  svctest::waitState(svc_, SERVICE_STOPPED, 2000);
  ASSERT_TRUE(start());
  EXPECT_EQ(0u, anotherProcessExchanges());
  ASSERT_TRUE(stop());
}

TEST_F(BrokeredThroughService, AClientKilledInTheMiddleOfACycleDoesNotHandItsAnswerToTheNext) {
  ASSERT_NO_FATAL_FAILURE(relayTheService());
  ASSERT_TRUE(start());
  // Another process is killed while the service serves its request (it holds the channel mutex).
  Exchanger other;
  ASSERT_NO_FATAL_FAILURE(startExchanger(&other));
  relay_.hold();
  SetEvent(other.go);
  ASSERT_TRUE(relay_.waitHeld(kPromptMs));
  ASSERT_TRUE(TerminateProcess(other.process, 9));
  EXPECT_EQ(9u, finishExchanger(&other));

  // This process's next cycle gets the abandoned channel mutex and waits for the answer to the
  // dead process's request before it writes its own, so it reads its own answers (the serial
  // number), never the dead process's random bytes.
  UK_DEV_INFO dev = {};
  std::string serial = serial_;
  std::future<uint32_t> sn = std::async(std::launch::async, [&dev, serial] {
    if (!listedToken(serial, &dev)) return 1u;
    uint32_t rc = zksTokenConnect(&dev, 0);
    if (rc) return rc;
    char text[64] = {0};
    uint32_t len = sizeof text;
    rc = zksTokenGetSn(&dev, text, &len);
    return rc ? rc : serial == text ? 0u : 2u;
  });
  EXPECT_NE(std::future_status::ready, sn.wait_for(std::chrono::milliseconds(1000)));
  relay_.release();
  ASSERT_EQ(std::future_status::ready, sn.wait_for(std::chrono::milliseconds(kPromptMs)));
  ASSERT_EQ(0u, sn.get());
  for (int i = 0; i < 10; ++i) {
    char text[64] = {0};
    uint32_t len = sizeof text;
    ASSERT_EQ(0u, zksTokenGetSn(&dev, text, &len)) << i;
    EXPECT_EQ(serial_, std::string(text)) << i;
  }
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  ASSERT_TRUE(stop());
}

TEST_F(BrokeredThroughService, StopWithATokenThatNeverAnswersEndsWithinTheLimit) {
  UK_DEV_INFO dev;
  std::future<Timed> inFlight;
  ASSERT_NO_FATAL_FAILURE(exchangeInFlight(&dev, &inFlight));
  DWORD t0 = GetTickCount();
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(svc_, SERVICE_CONTROL_STOP, &st));
  // The service gives the request the client's own limit, then stops without it; its process
  // ends and the client stops waiting.
  ASSERT_TRUE(svctest::waitState(svc_, SERVICE_STOPPED, kAnswerWaitMs + 2 * kPromptMs));
  DWORD stopMs = GetTickCount() - t0;
  EXPECT_GE(stopMs + 2000, kAnswerWaitMs);
  ASSERT_TRUE(ready(inFlight, kPromptMs));
  EXPECT_EQ(static_cast<uint32_t>(UKLR_DEV_WRITE), inFlight.get().rc);
  printf("stop with a hung token took %lu ms\n", static_cast<unsigned long>(stopMs));
  relay_.release();
  zksTokenDisconnect(&dev);
}

TEST_F(BrokeredThroughService, ACrashedClientsConnectionsAreTakenBack) {
  ASSERT_TRUE(start());
  std::string readyName = "uk_brokered_held_" + serial_;
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
  HANDLE child = spawn("--hold-connections " + serial_ + " 64 " + readyName);
  ASSERT_NE(nullptr, child);
  HANDLE waits[2] = {ready, child};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000))
      << "the child could not connect 64 times";
  // While it lives, its 64 connections fill the service's table: nobody else gets in.
  UK_DEV_INFO devs[16] = {};
  uint32_t count = 16;
  EXPECT_EQ(static_cast<uint32_t>(UKLR_DEV_OPEN), zksTokenListDevices("SOLENEBANK", devs, &count));
  // It crashes without a disconnect; the next connect finds room.
  ASSERT_TRUE(TerminateProcess(child, 3));
  WaitForSingleObject(child, kPromptMs);
  CloseHandle(child);
  CloseHandle(ready);
  UK_DEV_INFO dev;
  ASSERT_TRUE(listedToken(serial_, &dev));
  ASSERT_EQ(0u, zksTokenConnect(&dev, 0));
  uint8_t r[8];
  EXPECT_EQ(0u, zksTokenGenRandom(&dev, r, sizeof r));
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  ASSERT_TRUE(stop());
}

TEST_F(BrokeredThroughService, AHandleValueSeenInTheBlockIsRefusedToAnotherProcess) {
  ASSERT_TRUE(start());
  Exchanger other;
  ASSERT_NO_FATAL_FAILURE(startExchanger(&other));
  // The other process's connect was the channel's last cycle: its handle value is there for
  // anyone who maps the block.
  rawchannel::Answer connected;
  ASSERT_TRUE(rawchannel::peek(&connected));
  ASSERT_EQ(0x10002u, connected.type);
  ASSERT_EQ(12u, connected.lengthWord);
  uint32_t value = connected.word3;
  // A get-challenge frame on it from this process, with its own owner stamp or with none; a
  // disconnect of it likewise.
  const uint8_t frame[12] = {0x00, 0x0A, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
  for (bool stamp : {true, false}) {
    std::vector<uint8_t> read = rawchannel::words({4 + 8 + sizeof frame, 5, value, sizeof frame});
    read.insert(read.end(), frame, frame + sizeof frame);
    rawchannel::Answer a;
    ASSERT_TRUE(rawchannel::cycle(read, stamp, &a));
    EXPECT_EQ(0x10005u, a.type);
    EXPECT_EQ(6u, a.result) << "ERROR_INVALID_HANDLE";
    ASSERT_TRUE(rawchannel::cycle(rawchannel::words({8, 6, value}), stamp, &a));
    EXPECT_EQ(0x10006u, a.type);
    EXPECT_EQ(0u, a.result) << "not closed";
  }
  // The owner's connection works on.
  EXPECT_EQ(0u, finishExchanger(&other));
  ASSERT_TRUE(stop());
}

TEST_F(BrokeredThroughService, AServiceThatCannotMakeItsObjectsReportsStoppedWithTheError) {
  // Another object already has the request event's name.
  HANDLE squatter = CreateMutexA(nullptr, FALSE, "Global\\REDODIV-REQ-EVENT-KELM_ORV");
  ASSERT_NE(nullptr, squatter);
  StartServiceA(svc_, 0, nullptr);  // may report the failure itself
  bool sawRunning = false;
  for (int i = 0; i < 200 && svctest::serviceState(svc_) != SERVICE_STOPPED; ++i) {
    sawRunning |= svctest::serviceState(svc_) == SERVICE_RUNNING;
    Sleep(50);
  }
  SERVICE_STATUS st;
  ASSERT_TRUE(QueryServiceStatus(svc_, &st));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), st.dwCurrentState);
  EXPECT_NE(0u, st.dwWin32ExitCode);
  EXPECT_FALSE(sawRunning);
  CloseHandle(squatter);
  // With the name free again it starts and serves.
  ASSERT_TRUE(start());
  UK_DEV_INFO dev;
  ASSERT_TRUE(listedToken(serial_, &dev));
  ASSERT_EQ(0u, zksTokenConnect(&dev, 0));
  EXPECT_EQ(0u, zksTokenDisconnect(&dev));
  ASSERT_TRUE(stop());
}

}  // namespace

int main(int argc, char **argv) {
  int child = childMain(argc, argv);
  if (child >= 0) return child;
  return uktest::runAll(&argc, argv);
}
