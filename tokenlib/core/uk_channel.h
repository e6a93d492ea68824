// The brokered device channel: request and answer records in the shared block, the client's
// three wrappers, and the server's handling of one request.
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

// Client wrappers (one request cycle each through Host::channelCycle). Connect and disconnect
// return the service's result (or -1 as 0xFFFFFFFF when the cycle or the answer type fails).
uint32_t brokerConnect(const char *path, uint32_t *handleValue);
uint32_t brokerRead(uint32_t handleValue, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                    uint32_t respCap, uint32_t *respLen);
uint32_t brokerDisconnect(uint32_t handleValue);

// Server side: handles the request in block (blockSize bytes) with the given bus and writes the
// answer over it. Returns true when an answer was written (the caller then signals the answer
// event); false for stop, unknown types and the types that get no answer. *type receives the
// request type.
bool serveRequest(uint8_t *block, uint32_t blockSize, DeviceBus &bus, uint32_t *type);

}  // namespace uk
