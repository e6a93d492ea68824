// Client side of the brokered channel: request encoding, answer parsing and the three wrappers.
// The shared block is writable by every process that can open it, so nothing read back from it is
// trusted: every length is checked against the block before it is used.
#include <string.h>

#include "uk_channel.h"

namespace uk {
namespace {

inline uint32_t rd32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void wr32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// One cycle: encode, hand to the host, parse the answer and check its type.
bool cycle(uint32_t type, const uint8_t *payload, uint32_t payloadLen, uint8_t *answerBlock,
           ChannelAnswer *answer) {
  uint8_t request[Host::kBlockSize];
  uint32_t reqLen = encodeRequest(type, payload, payloadLen, request, sizeof request);
  if (!reqLen) return false;
  if (host().channelCycle(request, reqLen, answerBlock) != 0) return false;
  if (!parseAnswer(answerBlock, Host::kBlockSize, answer)) return false;
  return answer->type == REDODIV_ANS_BASE + type;
}

}  // namespace

uint32_t encodeRequest(uint32_t type, const uint8_t *payload, uint32_t payloadLen, uint8_t *block,
                       uint32_t cap) {
  if (cap < 8 || payloadLen > cap - 8) return 0;
  wr32(block, payloadLen + 4);
  wr32(block + 4, type);
  if (payloadLen) memcpy(block + 8, payload, payloadLen);
  return payloadLen + 8;
}

bool parseAnswer(const uint8_t *block, uint32_t blockSize, ChannelAnswer *out) {
  if (blockSize < 16) return false;
  uint32_t lw = rd32(block);
  // An answer holds at least its type and result, and lies inside the block.
  if (lw < 8 || lw > blockSize - 4) return false;
  out->lengthWord = lw;
  out->type = rd32(block + 4);
  out->result = rd32(block + 8);
  out->word3 = lw >= 12 ? rd32(block + 12) : 0;
  out->frame = block + 16;
  return true;
}

uint32_t brokerConnect(const char *path, uint32_t *handleValue) {
  uint32_t pathLen = uint32_t(strlen(path)) + 1;
  if (pathLen > kMaxChannelPath) return kChannelFailure;
  uint8_t payload[4 + kMaxChannelPath];
  wr32(payload, pathLen);
  memcpy(payload + 4, path, pathLen);
  uint8_t answerBlock[Host::kBlockSize];
  ChannelAnswer a;
  if (!cycle(REDODIV_REQ_CONNECT, payload, 4 + pathLen, answerBlock, &a)) return kChannelFailure;
  if (a.result) return a.result;
  if (a.lengthWord < 12) return kChannelFailure;
  *handleValue = a.word3;
  return 0;
}

uint32_t brokerRead(uint32_t handleValue, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                    uint32_t respCap, uint32_t *respLen) {
  *respLen = 0;
  if (frameLen > Host::kBlockSize - 16) return kChannelFailure;
  uint8_t payload[Host::kBlockSize];
  wr32(payload, handleValue);
  wr32(payload + 4, frameLen);
  memcpy(payload + 8, frame, frameLen);
  uint8_t answerBlock[Host::kBlockSize];
  ChannelAnswer a;
  if (!cycle(REDODIV_REQ_READ, payload, 8 + frameLen, answerBlock, &a)) return kChannelFailure;
  if (a.result) return a.result;
  // The response must lie inside what the length word covers and inside the block, and fit the
  // caller's buffer.
  uint32_t n = a.word3;
  if (a.lengthWord < 16 || n > a.lengthWord - 16 || n > Host::kBlockSize - 16 || n > respCap)
    return kChannelFailure;
  memcpy(resp, a.frame, n);
  *respLen = n;
  return 0;
}

uint32_t brokerDisconnect(uint32_t handleValue) {
  uint8_t payload[4];
  wr32(payload, handleValue);
  uint8_t answerBlock[Host::kBlockSize];
  ChannelAnswer a;
  if (!cycle(REDODIV_REQ_DISCONNECT, payload, 4, answerBlock, &a)) return kChannelFailure;
  return a.result;
}

}  // namespace uk
