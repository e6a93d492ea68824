// Harness of the provider's native tests: the provider core over the token library's native build,
// with token emulators in-process on the library's device seam (the object tests' bus), a host
// whose device lock is an in-process mutex that knows its waiters, and dialogs that answer from a
// script and record what they were asked.
#pragma once
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../objects/objects_harness.h"
#include "provider.h"

namespace csptest {

using objtest::SimBus;
using uktest::Bytes;

// The device-exclusive mutex of the system, as several provider instances (processes) share it.
// Nested waits by one thread would deadlock a real flow that released in between, so they are
// reported as test failures.
class SharedDeviceLock {
 public:
  void lock() {
    std::unique_lock<std::mutex> g(m_);
    if (held_ && owner_ == std::this_thread::get_id()) ADD_FAILURE() << "device lock taken twice";
    ++waiters_;
    changed_.notify_all();
    cv_.wait(g, [this] { return !held_; });
    --waiters_;
    held_ = true;
    owner_ = std::this_thread::get_id();
    ++acquisitions_;
  }
  void unlock() {
    std::lock_guard<std::mutex> g(m_);
    held_ = false;
    cv_.notify_all();
  }
  // Waits (bounded) until some thread waits for the lock; false when none came.
  bool waitForWaiter(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(m_);
    return changed_.wait_for(g, limit, [this] { return waiters_ > 0; });
  }
  int acquisitions() {
    std::lock_guard<std::mutex> g(m_);
    return acquisitions_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_, changed_;
  bool held_ = false;
  std::thread::id owner_;
  int waiters_ = 0;
  int acquisitions_ = 0;
};

class TestHost : public csp::Host {
 public:
  explicit TestHost(SharedDeviceLock &lock) : lock_(lock) {}
  void lockDevice() override { lock_.lock(); }
  void unlockDevice() override { lock_.unlock(); }
  void lockObjects() override { objects_.lock(); }
  void unlockObjects() override { objects_.unlock(); }
  void signalCertificateChange() override { ++certChanges; }
  void saveLastConnectDevice(const char *n) override { lastConnectDevice = n; }
  void saveLastContainerName(const char *n) override { lastContainerName = n; lastContainerSaved = true; }
  bool userName(char *buf, size_t cap) override {
    ++userNameCalls;
    snprintf(buf, cap, "%s", user.c_str());
    return !user.empty();
  }
  uint32_t languageId() override { return language; }
  void logLine(const char *t) override { log += std::string(t) + "\n"; }
  void logValue(uint32_t v) override {
    char b[16];
    snprintf(b, sizeof b, "0x%08x\n", v);
    log += b;
  }
  bool runThread(uint32_t (*body)(void *), void *arg, uint32_t *exitCode) override {
    ++threadsRun;
    if (failThreads) return false;
    std::thread t([&] { *exitCode = body(arg); });
    t.join();
    return true;
  }
  void pause(uint32_t ms) override {
    ++pauses;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  std::string user = "alice";
  uint32_t language = 1033;
  int certChanges = 0;
  int userNameCalls = 0;
  std::string lastConnectDevice, lastContainerName;
  bool lastContainerSaved = false;
  std::string log;
  int threadsRun = 0;
  int pauses = 0;
  bool failThreads = false;

 private:
  SharedDeviceLock &lock_;
  std::recursive_mutex objects_;
};

// One dialog the provider showed.
struct Shown {
  std::string kind;  // "two", "one", "pin", "select", "open", "close"
  int message = 0;
  uint32_t tries = 0;
  std::vector<std::string> lines;  // selection list: "shown|serial"
  csp::Modeless window = csp::Modeless::KeyGeneration;
};

class ScriptDialogs : public csp::Dialogs {
 public:
  ~ScriptDialogs() override {
    if (user_.joinable()) user_.join();
  }
  int askTwoButtons(int message, uint32_t tries) override {
    shown.push_back({"two", message, tries, {}, {}});
    if (buttons.empty()) {
      ADD_FAILURE() << "unexpected two-button dialog " << message;
      return 2;
    }
    int b = buttons.front();
    buttons.pop_front();
    return b;
  }
  void tell(int message) override { shown.push_back({"one", message, 0, {}, {}}); }
  bool enterPin(char *pin, size_t cap) override {
    shown.push_back({"pin", 0, 0, {}, {}});
    if (pins.empty()) {
      ADD_FAILURE() << "unexpected PIN dialog";
      return false;
    }
    std::string p = pins.front();
    pins.pop_front();
    if (p == kCancel) return false;
    snprintf(pin, cap, "%s", p.c_str());
    return true;
  }
  bool selectDevice(const csp::DeviceChoice *lines, uint32_t count, uint32_t *chosen) override {
    Shown s{"select", 0, 0, {}, {}};
    for (uint32_t i = 0; i < count; ++i)
      s.lines.push_back(std::string(lines[i].shown) + "|" + lines[i].serial);
    shown.push_back(s);
    if (selection < 0) return false;
    *chosen = uint32_t(selection);
    return true;
  }
  uintptr_t openWindow(csp::Modeless kind) override {
    Shown s{"open", 0, 0, {}, kind};
    shown.push_back(s);
    if (onOpen) onOpen(kind);
    return ++windows;
  }
  void closeWindow(uintptr_t w) override {
    Shown s{"close", int(w), 0, {}, {}};
    shown.push_back(s);
  }
  int confirmCancel() override {
    shown.push_back({"cancel?", 0, 0, {}, {}});
    if (cancelAnswers.empty()) {
      ADD_FAILURE() << "unexpected cancel confirmation";
      return 2;
    }
    int b = cancelAnswers.front();
    cancelAnswers.pop_front();
    return b;
  }
  // The button-confirmation window: onConfirm plays the user (and the token's button) on a
  // thread of its own while the provider polls, as the window's thread would.
  uintptr_t openConfirmation(std::atomic<uint32_t> *cancel) override {
    shown.push_back({"confirm", 0, 0, {}, {}});
    if (!confirmationOpens) return 0;
    confirmCancelFlag = cancel;
    if (onConfirm) user_ = std::thread([this, cancel] { onConfirm(cancel); });
    return ++windows;
  }
  void closeConfirmation(uintptr_t, uint32_t result) override {
    if (user_.joinable()) user_.join();
    shown.push_back({"confirmed", 0, 0, {}, {}});
    confirmResults.push_back(result);
    ++confirmationsClosed;
  }

  // Kinds (and message numbers) in order, e.g. "pin two:16 pin".
  std::string trail() const {
    std::string t;
    for (const auto &s : shown) {
      if (!t.empty()) t += " ";
      t += s.kind;
      if (s.kind == "two" || s.kind == "one") t += ":" + std::to_string(s.message);
    }
    return t;
  }

  static constexpr const char *kCancel = "<cancel>";
  std::deque<std::string> pins;
  std::deque<int> buttons;
  int selection = 0;  // -1: cancel
  std::function<void(csp::Modeless)> onOpen;
  std::deque<int> cancelAnswers;
  bool confirmationOpens = true;
  std::function<void(std::atomic<uint32_t> *)> onConfirm;
  std::atomic<uint32_t> *confirmCancelFlag = nullptr;
  std::vector<uint32_t> confirmResults;
  int confirmationsClosed = 0;
  std::vector<Shown> shown;
  uintptr_t windows = 0;

 private:
  std::thread user_;
};

constexpr const char *kPin = "482915";

// Token emulators on the bus, and one provider instance (a process) over them.
class ProviderFixture : public uktest::PlatformFixture {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<SimBus>();
    installPlatform(bus_.get(), true, "uk_csp_");
    host = std::make_unique<TestHost>(deviceLock);
    provider = std::make_unique<csp::Provider>(*host, dialogs, api);
  }
  void TearDown() override {
    provider.reset();
    PlatformFixture::TearDown();
  }
  // Rebuilds the provider with another token-library binding (a process that loads it afresh).
  void rebind(const csp::TokenApi &a) {
    provider.reset();
    api = a;
    provider = std::make_unique<csp::Provider>(*host, dialogs, api);
  }

  tokensim::Card &addToken(const std::string &serial, const std::string &label = "ORV-USBKEY") {
    tokensim::Card &c = bus_->add(serial);
    c.factoryFormat(kPin, "70361524", 10, 10, label);
    return c;
  }
  tokensim::Card &card(const std::string &serial) { return bus_->card(serial); }

  // A container on a token, made with the token library directly.
  // A device record of the test itself, connected to a token with the application selected.
  UK_DEV_INFO *direct(const std::string &serial) {
    directDevs_.emplace_back();
    UK_DEV_INFO *d = &directDevs_.back();
    EXPECT_EQ(0u, connect(d, objtest::usbPathOf(serial)));
    EXPECT_EQ(0u, zksTokenSelectPkiWorkDF(d, 0));
    return d;
  }
  UK_CONTAINER_INFO makeContainer(const std::string &serial, const char *name,
                                  uint32_t keySpec = 0) {
    UK_DEV_INFO *d = direct(serial);
    UK_CONTAINER_INFO c = objtest::namedContainer(name);
    EXPECT_EQ(0u, zksTokenNewContainer(d, &c));
    if (keySpec) {
      uint8_t tries = 0;
      EXPECT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(kPin), 6, &tries));
      EXPECT_EQ(0u, zksTokenGenRsaKeyPair(d, &c, keySpec));
      zksTokenResetUserPinVerifyFlag(d);
    }
    return c;
  }
  std::vector<std::string> containersOn(const std::string &serial) {
    UK_DEV_INFO *d = direct(serial);
    UK_CONTAINER_INFO all[5];
    uint32_t n = 5;
    EXPECT_EQ(0u, zksTokenListContainers(d, all, &n));
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i) names.push_back(all[i].name);
    return names;
  }

  uintptr_t acquire(const char *name, uint32_t flags = 0) {
    uintptr_t h = 0;
    uint32_t rc = provider->acquireContext(&h, name, flags);
    EXPECT_EQ(0u, rc) << std::hex << rc << " acquiring " << (name ? name : "(null)");
    return h;
  }
  // Sets the PIN through the provider parameter, so that later operations find it cached.
  void cachePin(uintptr_t prov, const char *pin = kPin) {
    ASSERT_EQ(0u, provider->setProvParam(prov, csp::kPpSignaturePin,
                                         reinterpret_cast<const uint8_t *>(pin), 0));
  }
  std::string provString(uintptr_t prov, uint32_t param) {
    uint32_t len = 0;
    if (provider->getProvParam(prov, param, nullptr, &len, 0)) return "<error>";
    std::string s(len, '\0');
    if (provider->getProvParam(prov, param, reinterpret_cast<uint8_t *>(&s[0]), &len, 0))
      return "<error>";
    s.resize(len ? len - 1 : 0);
    return s;
  }

  std::deque<UK_DEV_INFO> directDevs_;
  std::unique_ptr<SimBus> bus_;
  SharedDeviceLock deviceLock;
  std::unique_ptr<TestHost> host;
  ScriptDialogs dialogs;
  csp::TokenApi api = csp::tokenLibrary();
  std::unique_ptr<csp::Provider> provider;
};

inline Bytes bytesOf(const char *s) { return Bytes(s, s + strlen(s)); }

}  // namespace csptest
