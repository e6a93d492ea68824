// The brokered device channel: request and answer records in the shared block, the client's
// three wrappers, and the server's handling of one request.
//
// Request (client -> server): length word (4 + payload length), type, payload.
// Answer (server -> client, over the same block): length word, 0x10000 + type, result, then
// the connect handle value or the read response length, then the read response frame.
#pragma once
#include <stdint.h>

#include "uk_bytes.h"
#include "uk_limits.h"
#include "uk_platform.h"

namespace uk {

// The named kernel objects of the channel. The key service creates all but the channel mutex
// (null DACL, low integrity label), and also the certificate-change event and the device-exclusive
// mutex (UK_DEVICE_EXCLUSIVE_MUTEX); the first client that finds the channel mutex missing creates
// it. The service's request loop owns the loop mutex for as long as it runs: a client waits for
// its answer and for that mutex together, so a loop that ends (stopped, or its process killed)
// releases or abandons the mutex and the client stops waiting at once.
constexpr char kChannelMutexName[] = "Global\\REDODIV_MUTEX_KELM_ORV";
constexpr char kReqEventName[] = "Global\\REDODIV-REQ-EVENT-KELM_ORV";
constexpr char kAnsEventName[] = "Global\\REDODIV-ANS-EVENT-KELM_ORV";
constexpr char kMappingName[] = "Global\\REDODIV-MAPFILE-KELM_ORV";
constexpr char kLoopMutexName[] = "Global\\REDODIV-LOOP-MUTEX-KELM_ORV";
constexpr char kCertChangeEventName[] = "Global\\EVENT_CERT_CHANGE_KELM_ORV";

enum : uint32_t {
  REDODIV_REQ_CONNECT = 2,
  REDODIV_REQ_READ = 5,
  REDODIV_REQ_DISCONNECT = 6,
  REDODIV_REQ_STOP_SERV = 0xFFFF,
  REDODIV_ANS_BASE = 0x10000
};

// The block's words are 32-bit little-endian on every architecture (getLe32, putLe32).

// What the client wrappers return when the cycle itself fails (no service, a service whose loop
// ended, no answer within kAnswerWaitMs, a wrong answer type or an answer that does not fit the
// block).
constexpr uint32_t kChannelFailure = 0xFFFFFFFFu;
// The server's path buffer, terminator included.
constexpr uint32_t kMaxChannelPath = 260;
// The server's read buffer, kServerReadLength, is with the other limits in uk_limits.h.

// The longest a client waits for the answer to one request, and the longest a stopping service
// lets the request in flight run on. One request is one frame exchange with the token, and the
// library allows one exchange on a device at most 120 s: that is how long another process waits
// for the per-device lock before it reports the device blocked (UKLR_DEV_BLOCK). A request that
// takes longer than that has already made every other user of the token give up, so its answer
// is not waited for any longer. The token's slowest command (generating an RSA key pair on the
// chip) takes seconds, far inside the limit. A service whose loop has ended is noticed at once,
// without waiting for the limit (see kLoopMutexName).
constexpr uint32_t kAnswerWaitMs = 120000;

// The owner stamp: with every request the client writes its process ID into the last 8 bytes of
// the block ("OWNR" and the ID, little-endian), outside the request itself, whose bytes stay
// exactly as before. A service that does not know the stamp ignores it; requests never reach that
// far (the largest frame the library sends is about 1 KB) and answers end well before it. The
// server ties each connection to the process that opened it, refuses its handle value to any
// other process, and takes back the connections of processes that have ended.
constexpr uint32_t kOwnerStampSize = 8;
// Writes the stamp for process pid at the end of block.
void stampOwner(uint8_t *block, uint32_t blockSize, uint32_t pid);
// Reads and clears the stamp of the request in block: the process ID, or 0 when there is none
// (a client without the stamp, or a request that runs into the stamp's bytes).
uint32_t takeOwner(uint8_t *block, uint32_t blockSize);

// Whether the block holds a request of one of the types the server answers (connect, read,
// disconnect) rather than an answer: at the start of a cycle this means the previous cycle ended
// without taking its answer (its client died or gave up waiting), and the service may still be
// serving it.
bool holdsUnansweredRequest(const uint8_t *block);

// Writes a request (length word, type, payload) at the start of block. Returns the bytes used,
// or 0 when it does not fit cap.
uint32_t encodeRequest(uint32_t type, const uint8_t *payload, uint32_t payloadLen, uint8_t *block,
                       uint32_t cap);

// An answer as the client reads it. dataLen is how many bytes from offset 12 the length word
// covers (clamped to the block).
struct ChannelAnswer {
  uint32_t lengthWord;
  uint32_t type;
  uint32_t result;
  uint32_t word3;        // connect: handle value; read: response length
  const uint8_t *frame;  // read: the response frame at offset 16
};
// False when the length word does not describe an answer inside the block.
bool parseAnswer(const uint8_t *block, uint32_t blockSize, ChannelAnswer *out);

// Client wrappers (one request cycle each through Host::channelCycle).
// Connect: 0 with the service's handle value, the service's system error, or kChannelFailure.
uint32_t brokerConnect(const char *path, uint32_t *handleValue);
// Read: 0 with the response frame in resp (at most respCap bytes), the service's system error,
// or kChannelFailure (also when the response would not fit resp or the block).
uint32_t brokerRead(uint32_t handleValue, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                    uint32_t respCap, uint32_t *respLen);
// Disconnect: the service's result word (non-zero when closed), or kChannelFailure.
uint32_t brokerDisconnect(uint32_t handleValue);

// ---- server side -----------------------------------------------------------------------------

// What the server needs to know about its clients' processes: whether one has ended, and the time.
// The Win32 skin watches processes through handles opened with SYNCHRONIZE access (a watched
// process's ID is not reused while the handle is open); tests use their own.
class ClientWatch {
 public:
  virtual ~ClientWatch() = default;
  // A watch on process pid, or 0 when it cannot be watched (no such process).
  virtual uintptr_t watch(uint32_t pid) = 0;
  virtual bool ended(uintptr_t watch) = 0;
  virtual void release(uintptr_t watch) = 0;
  // A millisecond clock; it may wrap around (only differences are used).
  virtual uint32_t nowMs() = 0;
};

// The device handles the server opened for its clients. Read and disconnect requests are served
// only for handle values in this table and only for the process that opened the connection, so a
// client cannot make the service act on any other handle of its process, nor on another client's
// device. A value is the slot number (1 to 64) in its low byte under a random 24-bit tag: it fits
// the block's 32-bit field whatever the width of the handle behind it (a 64-bit service's handles
// do not fit 32 bits), and another process cannot guess it.
//
// Connections are given back by disconnect requests; those of a client that died are taken back
// by the table: whenever a connection is added, the connections of processes that have ended are
// closed, and when every slot is still taken the connection unused for the longest time is closed
// if it has been idle for kIdleReclaimMs (a client without an owner stamp, or one that cannot be
// watched, is only reclaimed that way). So crashed clients never lock the others out.
class BrokerHandleTable {
 public:
  static constexpr uint32_t kSlots = 64;
  static constexpr uint32_t kIdleReclaimMs = 10 * 60 * 1000;

  // Without a watch the table never reclaims anything (owners are still checked).
  explicit BrokerHandleTable(ClientWatch *watch = nullptr) : watch_(watch) {}
  ~BrokerHandleTable();
  BrokerHandleTable(const BrokerHandleTable &) = delete;
  BrokerHandleTable &operator=(const BrokerHandleTable &) = delete;

  // Records a handle opened for process owner (0: unknown); its value for the client, or 0 when
  // the table is full even after reclaiming, or no random tag could be drawn. Reclaimed handles
  // are closed on bus.
  uint32_t add(uintptr_t handle, uint32_t owner, DeviceBus &bus);
  // The handle of a value given out to owner (and marks it used now); false for any other value
  // or owner.
  bool find(uint32_t value, uint32_t owner, uintptr_t *handle);
  void remove(uint32_t value);
  // Closes the connections of processes that have ended; returns how many.
  uint32_t reclaimEnded(DeviceBus &bus);
  // Closes every handle still open (the service is stopping).
  void closeAll(DeviceBus &bus);
  uint32_t count() const;

 private:
  struct Slot {
    uintptr_t handle;
    uintptr_t watch;
    uint32_t value;
    uint32_t owner;
    uint32_t lastUse;
    bool used;
  };
  void free(Slot &s, DeviceBus *bus);
  bool reclaimIdle(DeviceBus &bus);
  ClientWatch *watch_;
  Slot slots_[kSlots] = {};
};

// Where the server writes its reports ("In REDODIV_REQ_CONNECT.\n", "Error req type.\n" ...);
// the Win32 loop passes the debugger output. May be null.
using BrokerReport = void (*)(const char *text);

// Whether path is the CD-ROM or disk interface path of one of the tokens attached to bus: the
// server lists the token USB devices and derives their interface paths exactly as the client does,
// and accepts only an exact (case-insensitive) match.
bool isTokenInterfacePath(DeviceBus &bus, const char *path);

// Handles the request in block (blockSize bytes) with the given bus and writes the answer over
// it (the owner stamp is read and cleared first). Returns true when an answer was written (the caller then signals the answer event); false
// for stop, unknown types and the types that get no answer. *type receives the request type.
// Malformed connect, read and disconnect requests are answered with a non-zero result (87 bad
// request, 206 path too long, 5 not a token path, 6 unknown handle value, 4 no free slot) so that
// the client never waits for nothing.
bool serveRequest(uint8_t *block, uint32_t blockSize, DeviceBus &bus, BrokerHandleTable &table,
                  uint32_t *type, BrokerReport report);

}  // namespace uk
