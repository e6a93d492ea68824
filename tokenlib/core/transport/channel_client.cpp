// The records of the brokered channel (request encoding, answer parsing, the owner stamp) and the
// client's three wrappers.
// The shared block is writable by every process that can open it, so nothing read back from it is
// trusted: every length is checked against the block before it is used.
#include <string.h>

#include "uk_channel.h"

namespace uk {
namespace {

// One cycle: encode, hand to the host, parse the answer and check its type.
bool cycle(uint32_t type, const uint8_t *payload, uint32_t payloadLen, uint8_t *answerBlock,
           ChannelAnswer *answer) {
  // The request ends before the owner stamp, which the host writes.
  uint8_t request[Host::kBlockSize - kOwnerStampSize];
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
  putLe32(block, payloadLen + 4);
  putLe32(block + 4, type);
  if (payloadLen) memcpy(block + 8, payload, payloadLen);
  return payloadLen + 8;
}

namespace {
constexpr uint8_t kOwnerMagic[4] = {'O', 'W', 'N', 'R'};
}  // namespace

void stampOwner(uint8_t *block, uint32_t blockSize, uint32_t pid) {
  if (blockSize < 16 + kOwnerStampSize) return;
  uint8_t *stamp = block + blockSize - kOwnerStampSize;
  memcpy(stamp, kOwnerMagic, 4);
  putLe32(stamp + 4, pid);
}

uint32_t takeOwner(uint8_t *block, uint32_t blockSize) {
  if (blockSize < 16 + kOwnerStampSize) return 0;
  uint8_t *stamp = block + blockSize - kOwnerStampSize;
  // Bytes the request itself covers are not a stamp.
  uint32_t lw = getLe32(block);
  if (lw > blockSize - 4 - kOwnerStampSize || memcmp(stamp, kOwnerMagic, 4) != 0) return 0;
  uint32_t pid = getLe32(stamp + 4);
  memset(stamp, 0, kOwnerStampSize);
  return pid;
}

bool holdsUnansweredRequest(const uint8_t *block) {
  uint32_t type = getLe32(block + 4);
  return type == REDODIV_REQ_CONNECT || type == REDODIV_REQ_READ || type == REDODIV_REQ_DISCONNECT;
}

bool parseAnswer(const uint8_t *block, uint32_t blockSize, ChannelAnswer *out) {
  if (blockSize < 16) return false;
  uint32_t lw = getLe32(block);
  // An answer holds at least its type and result, and lies inside the block.
  if (lw < 8 || lw > blockSize - 4) return false;
  out->lengthWord = lw;
  out->type = getLe32(block + 4);
  out->result = getLe32(block + 8);
  out->word3 = lw >= 12 ? getLe32(block + 12) : 0;
  out->frame = block + 16;
  return true;
}

uint32_t brokerConnect(const char *path, uint32_t *handleValue) {
  uint32_t pathLen = uint32_t(strlen(path)) + 1;
  if (pathLen > kMaxChannelPath) return kChannelFailure;
  uint8_t payload[4 + kMaxChannelPath];
  putLe32(payload, pathLen);
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
  if (frameLen > Host::kBlockSize - kOwnerStampSize - 16) return kChannelFailure;
  uint8_t payload[Host::kBlockSize];
  putLe32(payload, handleValue);
  putLe32(payload + 4, frameLen);
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
  putLe32(payload, handleValue);
  uint8_t answerBlock[Host::kBlockSize];
  ChannelAnswer a;
  if (!cycle(REDODIV_REQ_DISCONNECT, payload, 4, answerBlock, &a)) return kChannelFailure;
  return a.result;
}

}  // namespace uk
