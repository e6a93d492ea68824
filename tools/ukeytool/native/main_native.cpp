// Native (Linux) skin of ukeytool, for tests of the command logic against the library built
// natively. The device-exclusive mutex is the native named lock of the same name, shared with
// every other native program of the user, so parallel runs take turns as on Windows.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform.h"
#include "stdio_file.h"
#include "tool.h"
#include "uk_native_lock.h"
#include "uk_tokenlib.h"

namespace {

volatile sig_atomic_t g_armed = 0;
volatile sig_atomic_t g_interrupted = 0;
volatile sig_atomic_t g_echoOff = 0;
struct termios g_savedTerm;

void onSigint(int sig) {
  if (g_echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerm);
  if (g_armed) {
    g_interrupted = 1;
    return;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

class NativePlatform : public ukt::Platform {
 public:
  void out(const std::string &t) override { fwrite(t.data(), 1, t.size(), stdout), fflush(stdout); }
  void err(const std::string &t) override { fwrite(t.data(), 1, t.size(), stderr), fflush(stderr); }
  bool stdinIsConsole() override { return isatty(STDIN_FILENO) != 0; }

  bool readConsoleLine(const std::string &prompt, std::string &value, bool echo) {
    if (!stdinIsConsole()) return false;
    err(prompt);
    if (!echo) {
      tcgetattr(STDIN_FILENO, &g_savedTerm);
      struct termios t = g_savedTerm;
      t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      g_echoOff = 1;
      tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    bool ok = readStdinLine(value);
    if (!echo) {
      tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerm);
      g_echoOff = 0;
      err("\n");
    }
    return ok && !g_interrupted;
  }
  bool readSecret(const std::string &p, std::string &v) override { return readConsoleLine(p, v, false); }
  bool readLine(const std::string &p, std::string &v) override { return readConsoleLine(p, v, true); }
  bool readStdinLine(std::string &value) override {
    value.clear();
    bool any = false;
    for (;;) {
      char c;
      ssize_t n = read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR && !g_interrupted) continue;
      if (n <= 0) return any;
      any = true;
      if (c == '\n') return true;
      value += c;
    }
  }

  bool readFile(const std::string &path, std::vector<uint8_t> &data, std::string &why) override {
    return ukt::readStream(fopen(path.c_str(), "rb"), data, why);
  }
  bool writeFile(const std::string &path, const std::vector<uint8_t> &data, std::string &why) override {
    return ukt::writeStream(fopen(path.c_str(), "wb"), data, why);
  }

  ukt::DeviceLock lockDevices(uint32_t ms, std::string &why) override {
    if (!lock_.valid()) {
      why = std::string("lock file: ") + strerror(lock_.error());
      return ukt::DeviceLock::Failed;
    }
    return lock_.lock(ms) ? ukt::DeviceLock::Taken : ukt::DeviceLock::Busy;
  }
  void unlockDevices() override { lock_.unlock(); }
  void sleepMs(uint32_t ms) override {
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
  }
  std::string utcNow() override {
    time_t now = time(nullptr);
    struct tm t;
    gmtime_r(&now, &t);
    char b[32];
    strftime(b, sizeof b, "%Y%m%d%H%M%S", &t);
    return b;
  }
  void armInterrupt(bool armed) override {
    g_armed = armed;
    if (!armed) g_interrupted = 0;
  }
  bool interrupted() override { return g_interrupted != 0; }
  std::string toLocal(const std::string &s) override { return s; }
  std::string fromLocal(const std::string &s) override { return s; }

 private:
  uk::native::NamedLock lock_{UK_DEVICE_EXCLUSIVE_MUTEX};
};

}  // namespace

int main(int argc, char **argv) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSigint;
  sigaction(SIGINT, &sa, nullptr);
  NativePlatform pf;
  return ukt::runTool(argc, argv, pf);
}
