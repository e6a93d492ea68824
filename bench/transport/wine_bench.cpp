// Per-exchange time of the direct road and of the brokered road, in one run, against the same
// virtual token. The library core and Win32 skin are linked in; the road is chosen per connection
// by a host that forwards everything to the real Win32 host except that choice. The brokered road
// is served by transport_broker_host.exe (the library's broker loop in its own process, as the key
// service runs it), started here.
//
//   transport_wine_bench [EXCHANGES]      (needs the emulator named in the machine-wide setting)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/win_clock.h"
#include "uk_channel.h"
#include "uk_platform.h"
#include "uk_tokensim_client.h"
#include "uk_transport.h"

namespace {

class RoadHost : public uk::Host {
 public:
  explicit RoadHost(uk::Host *real) : real_(real) {}
  bool brokered = false;
  bool isNtFamily() override { return real_->isNtFamily(); }
  bool useBrokeredChannel() override { return brokered; }
  uk::MutexFailure openDeviceMutex(const char *n, uintptr_t *m, uint32_t *e) override {
    return real_->openDeviceMutex(n, m, e);
  }
  bool waitDeviceMutex(uintptr_t m, uint32_t ms) override { return real_->waitDeviceMutex(m, ms); }
  void releaseDeviceMutex(uintptr_t m) override { real_->releaseDeviceMutex(m); }
  void closeDeviceMutex(uintptr_t m) override { real_->closeDeviceMutex(m); }
  int channelCycle(const uint8_t *r, uint32_t n, uint8_t *a) override {
    return real_->channelCycle(r, n, a);
  }
  void sendProgress(void *w) override { real_->sendProgress(w); }

 private:
  uk::Host *real_;
};

double nowUs() { return winbench::seconds() * 1e6; }

// Time of n get-challenge exchanges, in microseconds; -1 on a failed exchange.
double timeExchanges(UK_USB_DEV_CTX *conn, int n) {
  static const uint8_t apdu[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
  double start = nowUs();
  for (int i = 0; i < n; ++i) {
    uint8_t resp[64];
    uint32_t len = sizeof resp;
    if (uk::sendApdu(conn, apdu, 5, resp, &len) != 0 || len != 12) return -1;
  }
  return nowUs() - start;
}

std::string binDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p = path;
  return p.substr(0, p.find_last_of("\\/") + 1);
}

}  // namespace

int main(int argc, char **argv) {
  int exchanges = argc > 1 ? atoi(argv[1]) : 2000;
  if (exchanges < 10) exchanges = 10;

  tokensim::Client sim;
  if (!sim.fromSetting()) {
    fprintf(stderr, "no emulator named in the machine-wide setting\n");
    return 2;
  }
  std::string serial = tokensim::uniqueSerial("P");
  if (!sim.createToken(serial)) {
    fprintf(stderr, "cannot create a token: %s\n", sim.lastError().c_str());
    return 2;
  }

  // The server side, in its own process.
  std::string stopName = "uk_transport_bench_stop_" + serial;
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
  std::string cmd = "\"" + binDir() + "transport_broker_host.exe\" " + stopName;
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    fprintf(stderr, "cannot start transport_broker_host.exe\n");
    sim.deleteToken(serial);
    return 2;
  }
  for (int i = 0; i < 200; ++i) {
    HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, "Global\\REDODIV-REQ-EVENT-KELM_ORV");
    if (h) {
      CloseHandle(h);
      break;
    }
    Sleep(25);
  }

  RoadHost host(uk::defaultHost());
  uk::setPlatform(uk::defaultBus(), &host);

  char paths[8][256];
  uint32_t count = 8;
  std::string usbPath;
  if (uk::listTokenPaths(paths, &count) == 0)
    for (uint32_t i = 0; i < count; ++i)
      if (strstr(paths[i], ("#" + serial + "#").c_str())) usbPath = paths[i];

  int rc = 1;
  UK_USB_DEV_CTX *direct = nullptr, *brokered = nullptr;
  host.brokered = false;
  uint32_t e1 = usbPath.empty() ? 1 : uk::openConnection(usbPath.c_str(), &direct);
  host.brokered = true;
  uint32_t e2 = usbPath.empty() ? 1 : uk::openConnection(usbPath.c_str(), &brokered);
  if (e1 || e2) {
    fprintf(stderr, "cannot open the token (direct %u, brokered %u)\n", e1, e2);
  } else {
    // Warm up both roads, then alternate blocks so that drift hits both alike.
    timeExchanges(direct, 20);
    timeExchanges(brokered, 20);
    const int rounds = 10;
    int per = exchanges / rounds;
    double tDirect = 0, tBrokered = 0;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
      double a = timeExchanges(direct, per), b = timeExchanges(brokered, per);
      ok = a >= 0 && b >= 0;
      tDirect += a;
      tBrokered += b;
    }
    if (ok) {
      int n = per * rounds;
      double d = tDirect / n, b = tBrokered / n;
      printf("get-challenge exchanges per road: %d\n", n);
      printf("direct:   %9.1f us per exchange\n", d);
      printf("brokered: %9.1f us per exchange\n", b);
      printf("brokered - direct: %9.1f us per exchange (target <= 200)\n", b - d);
      // The channel alone: a request the server answers without touching a device (a
      // disconnect of a handle value it never gave out).
      double t0 = nowUs();
      for (int i = 0; i < n; ++i) uk::brokerDisconnect(0xFFFFFFF0u);
      printf("channel request cycle alone: %9.1f us\n", (nowUs() - t0) / n);
      rc = 0;
    } else {
      fprintf(stderr, "an exchange failed\n");
    }
  }
  if (direct) uk::closeConnection(direct);
  if (brokered) uk::closeConnection(brokered);

  SetEvent(stop);
  WaitForSingleObject(pi.hProcess, 20000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(stop);
  sim.deleteToken(serial);
  return rc;
}
