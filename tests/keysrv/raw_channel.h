// The brokered channel by hand, as any process that opens its objects can use it: one request
// cycle with chosen bytes, and a look at what the block holds. For the tests of the key service.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace rawchannel {

constexpr uint32_t kBlockSize = 10240;

struct Answer {
  uint32_t lengthWord = 0, type = 0, result = 0, word3 = 0;
};

// Little-endian 32-bit words, the block's unit.
inline std::vector<uint8_t> words(std::initializer_list<uint32_t> ws) {
  std::vector<uint8_t> out(ws.size() * 4);
  size_t at = 0;
  for (uint32_t w : ws)
    for (int i = 0; i < 4; ++i) out[at++] = uint8_t(w >> (8 * i));
  return out;
}

inline void readAnswer(const uint8_t *view, Answer *a) {
  memcpy(&a->lengthWord, view, 4);
  memcpy(&a->type, view + 4, 4);
  memcpy(&a->result, view + 8, 4);
  memcpy(&a->word3, view + 12, 4);
}

// One request cycle under the channel mutex: the request bytes, with this process's owner stamp
// ("OWNR" and the process ID in the block's last 8 bytes) or none. False without an answer
// within ms.
inline bool cycle(const std::vector<uint8_t> &request, bool stamp, Answer *a, DWORD ms = 10000) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\REDODIV_MUTEX_KELM_ORV");
  if (!mutex) return false;
  DWORD w = WaitForSingleObject(mutex, ms);
  if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  HANDLE req = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Global\\REDODIV-REQ-EVENT-KELM_ORV");
  HANDLE ans = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Global\\REDODIV-ANS-EVENT-KELM_ORV");
  HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\REDODIV-MAPFILE-KELM_ORV");
  auto *view =
      map ? static_cast<uint8_t *>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
  bool ok = false;
  if (req && ans && view) {
    memcpy(view, request.data(), request.size());
    if (stamp) {
      DWORD pid = GetCurrentProcessId();
      memcpy(view + kBlockSize - 8, "OWNR", 4);
      memcpy(view + kBlockSize - 4, &pid, 4);
    }
    ResetEvent(ans);
    SetEvent(req);
    if (WaitForSingleObject(ans, ms) == WAIT_OBJECT_0) {
      readAnswer(view, a);
      ok = true;
    }
  }
  if (view) UnmapViewOfFile(view);
  if (map) CloseHandle(map);
  if (req) CloseHandle(req);
  if (ans) CloseHandle(ans);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return ok;
}

// The answer the block holds now (the last cycle's), without making a cycle.
inline bool peek(Answer *a) {
  HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\REDODIV-MAPFILE-KELM_ORV");
  if (!map) return false;
  auto *view = static_cast<uint8_t *>(MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0));
  if (view) {
    readAnswer(view, a);
    UnmapViewOfFile(view);
  }
  CloseHandle(map);
  return view != nullptr;
}

}  // namespace rawchannel
