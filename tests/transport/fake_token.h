// Test doubles for the device road: a scripted card that answers request frames (with its own
// Triple-DES from OpenSSL, so a fault in the library's cryptography cannot cancel itself out), a
// device bus that carries frames to such cards, and a host whose brokered channel is served
// in-process by the library's own serveRequest.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "uk_channel.h"
#include "uk_platform.h"

namespace fake {

using Bytes = std::vector<uint8_t>;

Bytes tdesCbc(const uint8_t key[16], const uint8_t iv[8], const Bytes &in, bool encrypt);
Bytes tdesEcb(const uint8_t key[16], const Bytes &in);

// The card behind one token.
class Card {
 public:
  Card();
  // Answers one request frame with a response frame.
  Bytes process(const Bytes &frame);

  std::string project = "SOLENEBANK";
  uint8_t transportKey[16];
  uint8_t diversification[10] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xA1, 0xB2, 0xC3, 0xD4};

  // Faults to inject.
  bool wrongCardCryptogram = false;
  bool tamperResponseMac = false;
  bool oddCipherLength = false;     // enciphered response data not a multiple of 8
  bool inflatedInnerLength = false; // deciphered length field beyond the data
  uint32_t echoPadding = 0;         // extra bytes in echo answers (to exceed limits)

  // What the card saw.
  std::vector<Bytes> frames;        // every request frame
  bool secureChannel = false;
  bool lastCommandWasWrapped = false;
  bool lastMacValid = false;
  Bytes lastPlainData;              // command data after unwrapping

 private:
  Bytes answer(const Bytes &data, uint16_t sw);
  Bytes answerWrapped(const Bytes &data, uint16_t sw);
  uint8_t hc_[8], cc_[8], sEnc_[16], sMac_[16], challenge_[8];
  uint32_t counter_ = 0;
};

// A USB device as the bus presents it.
struct Device {
  std::string usbPath;      // "\\?\usb#vid_0b0c&pid_10ae#..."
  std::string childId;      // mass-storage child instance
  std::string cdromPath;    // CD-ROM interface path ("" when it has only a disk interface)
  std::string diskPath;
  std::shared_ptr<Card> card;
  uint32_t openError = 0;   // what open() of its interface path returns
};

class Bus : public uk::DeviceBus {
 public:
  // Adds a token with the given serial; returns it.
  Device &addToken(const std::string &serial, bool diskOnly = false);
  bool listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) override;
  uint32_t firstChild(const char *instanceId, char *child, uint32_t cap) override;
  uint32_t interfacePath(const char *deviceId, uk::DevClass cls, char *path, uint32_t cap,
                         const char **failedCall) override;
  uint32_t open(const char *path, uintptr_t *handle) override;
  uint32_t scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf, uint32_t len,
                uint32_t *transferred) override;
  void close(uintptr_t handle) override;

  std::deque<Device> devices;  // references stay valid as tokens come and go
  bool enumerationFails = false;
  bool reportWholeBuffer = false;  // the read reports the requested length, not the frame's
  uint32_t writeError = 0, readError = 0;
  std::vector<std::string> opened;  // paths given to open()
  std::vector<std::vector<uint8_t>> cdbs;
  uint32_t openHandles = 0;

 private:
  std::map<uintptr_t, size_t> handles_;
  std::map<uintptr_t, Bytes> pending_;
  uintptr_t next_ = 0x40;
};

// The processes of the channel's clients: a process ID is alive until the test ends it; the
// clock moves only when the test moves it.
class Watch : public uk::ClientWatch {
 public:
  uintptr_t watch(uint32_t pid) override {
    if (unwatchable.count(pid)) return 0;
    ++watching;
    return pid;
  }
  bool ended(uintptr_t w) override { return this->endedPids.count(uint32_t(w)) != 0; }
  void release(uintptr_t) override { --watching; }
  uint32_t nowMs() override { return now; }

  std::set<uint32_t> endedPids, unwatchable;
  uint32_t now = 0xFFFF0000u;  // close to wrapping around
  int watching = 0;            // watches given out and not released
};

class Host : public uk::Host {
 public:
  bool isNtFamily() override { return nt; }
  bool useBrokeredChannel() override { return brokered; }
  uk::MutexFailure openDeviceMutex(const char *name, uintptr_t *mutex, uint32_t *error) override;
  bool waitDeviceMutex(uintptr_t mutex, uint32_t ms) override;
  void releaseDeviceMutex(uintptr_t mutex) override;
  void closeDeviceMutex(uintptr_t mutex) override {}
  // Serves the request with the library's serveRequest on serverBus.
  int channelCycle(const uint8_t *request, uint32_t reqLen, uint8_t *answerBlock) override;
  void sendProgress(void *) override {}

  bool nt = true;
  bool brokered = false;
  bool serverUp = true;
  uk::DeviceBus *serverBus = nullptr;
  uint32_t pid = 4242;  // the owner stamp of this client's requests (0: none)
  Watch watch;
  uk::BrokerHandleTable table{&watch};
  std::vector<std::string> mutexNames;
  std::vector<Bytes> requests;      // every request as written to the block
  std::vector<Bytes> answers;       // the answer part of every block (length word + 12 + frame)
  std::vector<std::string> reports;
  // Changes the answer block before the client sees it.
  std::function<void(uint8_t *block)> tamperAnswer;
  uk::MutexFailure mutexFailure = uk::MutexFailure::None;
  bool mutexTimesOut = false;

 private:
  std::mutex lock_;
  std::map<std::string, std::unique_ptr<std::timed_mutex>> mutexes_;
};

}  // namespace fake
