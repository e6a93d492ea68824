// The brokered device channel: request and answer records in the shared block, the client's
// three wrappers, and the server's handling of one request.
//
// Request (client -> server): length word (4 + payload length), type, payload.
// Answer (server -> client, over the same block): length word, 0x10000 + type, result, then
// the connect handle value or the read response length, then the read response frame.
#pragma once
#include <stdint.h>

#include "uk_platform.h"

namespace uk {

enum : uint32_t {
  REDODIV_REQ_CONNECT = 2,
  REDODIV_REQ_READ = 5,
  REDODIV_REQ_DISCONNECT = 6,
  REDODIV_REQ_STOP_SERV = 0xFFFF,
  REDODIV_ANS_BASE = 0x10000
};

// What the client wrappers return when the cycle itself fails (no service, a wrong answer type
// or an answer that does not fit the block).
constexpr uint32_t kChannelFailure = 0xFFFFFFFFu;
// The server's path buffer, terminator included.
constexpr uint32_t kMaxChannelPath = 260;
// The server's read buffer (the response frame handed back is at most this long).
constexpr uint32_t kServerReadLength = 1024;

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

// The device handles the server opened for its clients. Read and disconnect requests are served
// only for handle values in this table, so a client cannot make the service act on any other
// handle of its process. A value is the slot number (1 to 64) in its low byte under a random
// 24-bit tag: it fits the block's 32-bit field whatever the width of the handle behind it (a
// 64-bit service's handles do not fit 32 bits), and another process cannot guess it.
class BrokerHandleTable {
 public:
  static constexpr uint32_t kSlots = 64;
  // Records a handle; its value for the client, or 0 when the table is full or no random tag
  // could be drawn.
  uint32_t add(uintptr_t handle);
  // The handle of a value, false when the value was not given out.
  bool find(uint32_t value, uintptr_t *handle) const;
  void remove(uint32_t value);
  // Closes every handle still open (the service is stopping).
  void closeAll(DeviceBus &bus);
  uint32_t count() const;

 private:
  struct Slot {
    uintptr_t handle;
    uint32_t value;
    bool used;
  };
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
// it. Returns true when an answer was written (the caller then signals the answer event); false
// for stop, unknown types and the types that get no answer. *type receives the request type.
// Malformed connect, read and disconnect requests are answered with a non-zero result (87 bad
// request, 206 path too long, 5 not a token path, 6 unknown handle value, 4 no free slot) so that
// the client never waits for nothing.
bool serveRequest(uint8_t *block, uint32_t blockSize, DeviceBus &bus, BrokerHandleTable &table,
                  uint32_t *type, BrokerReport report);

}  // namespace uk
