// Server side of the brokered channel: one request out of the shared block, answered over it.
//
// The key service runs as the local system account and any process that can open the block (a
// low-integrity one included) writes requests into it. So the server opens only the CD-ROM or
// disk interface of a token that is attached right now, acts only on handles it opened itself and
// only for the process that asked for them, and checks every length in the request against its
// buffers and the block.
#include <ctype.h>
#include <string.h>

#include "uk_channel.h"
#include "uk_syserr.h"
#include "ukcrypto/random.h"
#include "uk_transport.h"

namespace uk {
namespace {

void report(BrokerReport r, const char *text) {
  if (r) r(text);
}

bool sameIgnoringCase(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return false;
  return *a == *b;
}

void answer(uint8_t *block, uint32_t type, uint32_t lengthWord, uint32_t result) {
  putLe32(block, lengthWord);
  putLe32(block + 4, REDODIV_ANS_BASE + type);
  putLe32(block + 8, result);
}

void serveConnect(uint8_t *block, uint32_t blockSize, DeviceBus &bus, BrokerHandleTable &table,
                  uint32_t owner) {
  uint32_t lw = getLe32(block);
  uint32_t pathLen = getLe32(block + 8);
  uint32_t result = 0;
  char path[kMaxChannelPath];
  if (pathLen > kMaxChannelPath) {
    result = kErrPathTooLong;
  } else if (pathLen < 2 || lw < 8 + pathLen || 12 + pathLen > blockSize) {
    result = kErrInvalidParameter;
  } else {
    memcpy(path, block + 12, pathLen);
    if (path[pathLen - 1] != 0 || strlen(path) != pathLen - 1) result = kErrInvalidParameter;
  }
  if (!result && !isTokenInterfacePath(bus, path)) result = kErrAccessDenied;
  uintptr_t handle = 0;
  if (!result) result = bus.open(path, &handle);
  if (!result) {
    uint32_t value = table.add(handle, owner, bus);
    if (!value) {
      bus.close(handle);
      result = kErrTooManyOpen;
    } else {
      answer(block, REDODIV_REQ_CONNECT, 12, 0);
      putLe32(block + 12, value);
      return;
    }
  }
  answer(block, REDODIV_REQ_CONNECT, 8, result);
}

void serveRead(uint8_t *block, uint32_t blockSize, DeviceBus &bus, BrokerHandleTable &table,
               uint32_t owner) {
  uint32_t lw = getLe32(block);
  uint32_t value = getLe32(block + 8);
  uint32_t frameLen = getLe32(block + 12);
  uint32_t result = 0;
  uintptr_t handle = 0;
  if (lw < 12 || frameLen == 0 || frameLen > blockSize - 16 || frameLen > lw - 12 ||
      frameLen > 0xFFFF)
    result = kErrInvalidParameter;
  else if (!table.find(value, owner, &handle))
    result = kErrInvalidHandle;

  uint8_t resp[kServerReadLength];
  uint32_t moved = 0;
  if (!result) {
    uint8_t frame[Host::kBlockSize];
    memcpy(frame, block + 16, frameLen);
    uint8_t cdb[10];
    vendorCdb(false, frameLen, cdb);
    result = bus.scsi(handle, cdb, false, frame, frameLen, &moved);
    moved = 0;
    if (!result) {
      vendorCdb(true, kServerReadLength, cdb);
      result = bus.scsi(handle, cdb, true, resp, kServerReadLength, &moved);
      if (moved > kServerReadLength) moved = kServerReadLength;
    }
  }
  if (result) {
    answer(block, REDODIV_REQ_READ, 16, result);
    putLe32(block + 12, moved);
    return;
  }
  answer(block, REDODIV_REQ_READ, 16 + moved, 0);
  putLe32(block + 12, moved);
  memcpy(block + 16, resp, moved);
}

void serveDisconnect(uint8_t *block, DeviceBus &bus, BrokerHandleTable &table, uint32_t owner) {
  uint32_t value = getLe32(block + 8);
  uintptr_t handle = 0;
  uint32_t closed = 0;
  if (getLe32(block) >= 8 && table.find(value, owner, &handle)) {
    bus.close(handle);
    table.remove(value);
    closed = 1;
  }
  answer(block, REDODIV_REQ_DISCONNECT, 8, closed);
}

}  // namespace

BrokerHandleTable::~BrokerHandleTable() {
  // Handles still open belong to the bus and are closed by closeAll; the watches are ours.
  for (Slot &s : slots_)
    if (s.used && s.watch && watch_) watch_->release(s.watch);
}

void BrokerHandleTable::free(Slot &s, DeviceBus *bus) {
  if (bus) bus->close(s.handle);
  if (s.watch && watch_) watch_->release(s.watch);
  s = Slot{};
}

uint32_t BrokerHandleTable::reclaimEnded(DeviceBus &bus) {
  if (!watch_) return 0;
  uint32_t n = 0;
  for (Slot &s : slots_)
    if (s.used && s.watch && watch_->ended(s.watch)) {
      free(s, &bus);
      ++n;
    }
  return n;
}

// With every slot taken: closes the connection unused for the longest time, if it has been idle
// for kIdleReclaimMs.
bool BrokerHandleTable::reclaimIdle(DeviceBus &bus) {
  if (!watch_) return false;
  uint32_t now = watch_->nowMs();
  Slot *oldest = nullptr;
  for (Slot &s : slots_)
    if (s.used && (!oldest || uint32_t(now - s.lastUse) > uint32_t(now - oldest->lastUse)))
      oldest = &s;
  if (!oldest || uint32_t(now - oldest->lastUse) < kIdleReclaimMs) return false;
  free(*oldest, &bus);
  return true;
}

uint32_t BrokerHandleTable::add(uintptr_t handle, uint32_t owner, DeviceBus &bus) {
  reclaimEnded(bus);
  Slot *slot = nullptr;
  for (Slot &s : slots_)
    if (!s.used) {
      slot = &s;
      break;
    }
  if (!slot && reclaimIdle(bus))
    for (Slot &s : slots_)
      if (!s.used) {
        slot = &s;
        break;
      }
  if (!slot) return 0;
  uint8_t r[3];
  if (ukcrypto::random(nullptr, 0, r, sizeof r) != ukcrypto::kOk) return 0;
  uint32_t tag = uint32_t(r[0]) | uint32_t(r[1]) << 8 | uint32_t(r[2]) << 16;
  if (tag == 0) tag = 1;
  uint32_t index = uint32_t(slot - slots_);
  uintptr_t w = owner && watch_ ? watch_->watch(owner) : 0;
  *slot = Slot{handle, w, tag << 8 | (index + 1), owner, watch_ ? watch_->nowMs() : 0, true};
  return slot->value;
}

bool BrokerHandleTable::find(uint32_t value, uint32_t owner, uintptr_t *handle) {
  uint32_t slot = value & 0xFF;
  if (slot == 0 || slot > kSlots) return false;
  Slot &s = slots_[slot - 1];
  if (!s.used || s.value != value || s.owner != owner) return false;
  if (watch_) s.lastUse = watch_->nowMs();
  *handle = s.handle;
  return true;
}

void BrokerHandleTable::remove(uint32_t value) {
  for (Slot &s : slots_)
    if (s.used && s.value == value) free(s, nullptr);
}

void BrokerHandleTable::closeAll(DeviceBus &bus) {
  for (Slot &s : slots_)
    if (s.used) free(s, &bus);
}

uint32_t BrokerHandleTable::count() const {
  uint32_t n = 0;
  for (const Slot &s : slots_) n += s.used;
  return n;
}

bool isTokenInterfacePath(DeviceBus &bus, const char *path) {
  if (!path || !path[0]) return false;
  char usb[kMaxInterfaces][256];
  uint32_t found = 0;
  if (!bus.listUsbInterfaces(usb, kMaxInterfaces, &found)) return false;
  if (found > kMaxInterfaces) found = kMaxInterfaces;
  for (uint32_t i = 0; i < found; ++i) {
    usb[i][255] = 0;
    uint32_t vid, pid;
    if (!parseVidPid(usb[i], &vid, &pid) || vid != kTokenVid || pid != kTokenPid) continue;
    char instance[260], child[260], candidate[260];
    if (usbInstanceId(usb[i], instance, sizeof instance)) continue;
    if (bus.firstChild(instance, child, sizeof child)) continue;
    child[sizeof child - 1] = 0;
    static const DevClass kClasses[] = {DevClass::CdRom, DevClass::Disk};
    for (DevClass cls : kClasses) {
      const char *failed = nullptr;
      if (bus.interfacePath(child, cls, candidate, sizeof candidate, &failed)) continue;
      candidate[sizeof candidate - 1] = 0;
      if (sameIgnoringCase(candidate, path)) return true;
    }
  }
  return false;
}

bool serveRequest(uint8_t *block, uint32_t blockSize, DeviceBus &bus, BrokerHandleTable &table,
                  uint32_t *type, BrokerReport r) {
  if (blockSize < 16) {
    *type = 0;
    return false;
  }
  uint32_t t = getLe32(block + 4);
  *type = t;
  uint32_t owner = takeOwner(block, blockSize);
  switch (t) {
    case REDODIV_REQ_DISCONNECT:
      report(r, "In REDODIV_REQ_DISCONNECT.\n");
      serveDisconnect(block, bus, table, owner);
      return true;
    case REDODIV_REQ_CONNECT:
      report(r, "In REDODIV_REQ_CONNECT.\n");
      serveConnect(block, blockSize, bus, table, owner);
      return true;
    case REDODIV_REQ_READ:
      report(r, "In REDODIV_REQ_READ.\n");
      serveRead(block, blockSize, bus, table, owner);
      return true;
    case REDODIV_REQ_STOP_SERV:
      report(r, "In REDODIV_REQ_STOP_SERV.\n");
      return false;
    default:
      report(r, "Error req type.\n");
      return false;
  }
}

}  // namespace uk
