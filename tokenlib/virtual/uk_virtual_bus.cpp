#include "uk_virtual_bus.h"

#include <stdio.h>
#include <string.h>

#include "uk_simnet.h"
#include "uk_syserr.h"

namespace uk {

namespace {

// The device installer's own error value (the system ones are in uk_syserr.h).
constexpr uint32_t kErrNoSuchDevinst = 0xE000020B;
// Configuration manager results.
constexpr uint32_t kCrNoSuchDevnode = 0x0D, kCrFailure = 0x13, kCrBufferSmall = 0x1A,
                   kCrNoSuchValue = 0x25;

constexpr uint32_t kTimeoutMs = 120000;
constexpr uint32_t kMaxTokens = 64;
constexpr uint32_t kDeviceBuffer = 4096;  // the device's transfer buffer
constexpr uint32_t kHandleMagic = 0x564B5442;

const char kUsbGuid[] = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kCdRomGuid[] = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const char kDiskGuid[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const char kStorCdRom[] = "cdrom&ven_kestra&prod_ukey&rev_1.00";
const char kStorDisk[] = "disk&ven_kestra&prod_ukey&rev_1.00";

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Case-insensitive prefix test; on success *rest points after the prefix.
bool startsWith(const char *s, const char *prefix, const char **rest) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (lower(s[i]) != lower(prefix[i])) return false;
  if (rest) *rest = s + i;
  return true;
}

bool hex4(const char *s, uint16_t *v) {
  uint32_t r = 0;
  for (int i = 0; i < 4; ++i) {
    char c = lower(s[i]);
    uint32_t d;
    if (c >= '0' && c <= '9') d = uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
    else return false;
    r = r * 16 + d;
  }
  *v = uint16_t(r);
  return true;
}

// Copies the serial that runs up to `end` (a terminator character) into out; false when it is
// empty, too long or has characters a serial cannot have.
bool takeSerial(const char *s, char end, char out[33], const char **rest) {
  size_t n = 0;
  for (; s[n] && s[n] != end; ++n) {
    char c = s[n];
    bool okc = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-' || c == '_';
    if (!okc || n >= 32) return false;
  }
  if (n == 0 || s[n] != end) return false;
  memcpy(out, s, n);
  out[n] = 0;
  if (rest) *rest = s + n + 1;
  return true;
}

bool sameSerial(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

struct Handle {
  uint32_t magic;
  char serial[33];
  uint32_t generation;
  simnet::Socket sock;
  bool hasResponse;
  uint32_t respLen;
  uint8_t resp[kDeviceBuffer];
};

// Sends one request and reads the answer body into buf (cap bytes); the answer's length in *len.
bool roundTrip(simnet::Socket s, const uint8_t *a, size_t an, const uint8_t *b, size_t bn,
               uint8_t *buf, uint32_t cap, uint32_t *len) {
  if (!simnet::sendMessage(s, a, an, b, bn)) return false;
  if (!simnet::recvLength(s, len, cap) || *len == 0) return false;
  return simnet::recvAll(s, buf, *len);
}

}  // namespace

bool VirtualBus::listTokens(Token *out, uint32_t max, uint32_t *count) {
  *count = 0;
  simnet::Socket s = simnet::connectLoopback(port_, kTimeoutMs);
  if (s == simnet::kNoSocket) return false;
  static const uint32_t kCap = kMaxTokens * 64;
  uint8_t *buf = new uint8_t[kCap + 1];
  uint32_t len = 0;
  const uint8_t op = simnet::kOpList;
  bool ok = roundTrip(s, &op, 1, nullptr, 0, buf, kCap, &len) && buf[0] == simnet::kDone;
  simnet::closeSocket(s);
  if (ok) {
    buf[len] = 0;
    const char *p = reinterpret_cast<const char *>(buf + 1);
    while (*p && *count < max) {
      const char *eol = strchr(p, '\n');
      if (!eol) break;
      char line[128];
      size_t n = size_t(eol - p);
      if (n < sizeof line) {
        memcpy(line, p, n);
        line[n] = 0;
        Token t;
        char kind[8];
        unsigned vid, pid, gen;
        if (sscanf(line, "%32s %4x %4x %7s %u", t.serial, &vid, &pid, kind, &gen) == 5) {
          t.vid = uint16_t(vid);
          t.pid = uint16_t(pid);
          t.iface = !strcmp(kind, "cdrom") ? 0 : !strcmp(kind, "disk") ? 1 : 2;
          t.generation = gen;
          out[(*count)++] = t;
        }
      }
      p = eol + 1;
    }
  }
  delete[] buf;
  return ok;
}

bool VirtualBus::findToken(const char *serial, Token *t, bool *reached) {
  Token all[kMaxTokens];
  uint32_t n = 0;
  *reached = listTokens(all, kMaxTokens, &n);
  for (uint32_t i = 0; i < n; ++i)
    if (sameSerial(all[i].serial, serial)) {
      *t = all[i];
      return true;
    }
  return false;
}

bool VirtualBus::listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) {
  *found = 0;
  Token all[kMaxTokens];
  uint32_t n = 0;
  if (!listTokens(all, max < kMaxTokens ? max : kMaxTokens, &n)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    snprintf(paths[i], 256, "\\\\?\\usb#vid_%04x&pid_%04x#%s#%s", all[i].vid, all[i].pid,
             all[i].serial, kUsbGuid);
  }
  *found = n;
  return true;
}

uint32_t VirtualBus::firstChild(const char *instanceId, char *child, uint32_t cap) {
  const char *p;
  uint16_t vid, pid;
  char serial[33];
  if (!instanceId || !startsWith(instanceId, "usb\\vid_", &p) || !hex4(p, &vid) ||
      !startsWith(p + 4, "&pid_", &p) || !hex4(p, &pid) || p[4] != '\\' ||
      !takeSerial(p + 5, '\0', serial, nullptr))
    return kCrNoSuchDevnode;
  Token t;
  bool reached;
  if (!findToken(serial, &t, &reached)) return reached ? kCrNoSuchDevnode : kCrFailure;
  if (t.vid != vid || t.pid != pid) return kCrNoSuchDevnode;
  if (t.iface == 2) return kCrNoSuchValue;
  int n = snprintf(child, cap, "USBSTOR\\%s&Ven_KESTRA&Prod_UKEY&Rev_1.00\\%s&0",
                   t.iface == 0 ? "CdRom" : "Disk", t.serial);
  if (n < 0 || uint32_t(n) >= cap) return kCrBufferSmall;
  return 0;
}

uint32_t VirtualBus::interfacePath(const char *deviceId, DevClass cls, char *path, uint32_t cap,
                                   const char **failedCall) {
  *failedCall = "SetupDiOpenDeviceInfoA";
  const char *p;
  bool cd;
  char serial[33];
  if (!deviceId || !startsWith(deviceId, "usbstor\\", &p)) return kErrNoSuchDevinst;
  if (startsWith(p, kStorCdRom, &p)) cd = true;
  else if (startsWith(p, kStorDisk, &p)) cd = false;
  else return kErrNoSuchDevinst;
  if (*p != '\\' || !takeSerial(p + 1, '&', serial, &p) || strcmp(p, "0") != 0)
    return kErrNoSuchDevinst;
  Token t;
  bool reached;
  if (!findToken(serial, &t, &reached)) {
    if (!reached) {
      *failedCall = "SetupDiGetClassDevsA";
      return kErrNotReady;
    }
    return kErrNoSuchDevinst;
  }
  // The child answers in the interface class of its kind only.
  if (t.iface != (cd ? 0 : 1) || (cls == DevClass::CdRom) != cd) return kErrNoSuchDevinst;
  int n = snprintf(path, cap, "\\\\?\\usbstor#%s#%s&0#%s", cd ? kStorCdRom : kStorDisk, t.serial,
                   cd ? kCdRomGuid : kDiskGuid);
  if (n < 0 || uint32_t(n) >= cap) {
    *failedCall = "SetupDiGetDeviceInterfaceDetailA";
    return kErrInsufficientBuffer;
  }
  return 0;
}

uint32_t VirtualBus::open(const char *path, uintptr_t *handle) {
  const char *p;
  bool cd;
  char serial[33];
  *handle = 0;
  if (!path || !startsWith(path, "\\\\?\\usbstor#", &p)) return kErrFileNotFound;
  if (startsWith(p, kStorCdRom, &p)) cd = true;
  else if (startsWith(p, kStorDisk, &p)) cd = false;
  else return kErrFileNotFound;
  if (*p != '#' || !takeSerial(p + 1, '&', serial, &p) || !startsWith(p, "0#", &p) ||
      !startsWith(p, cd ? kCdRomGuid : kDiskGuid, &p) || *p)
    return kErrFileNotFound;
  Token t;
  bool reached;
  if (!findToken(serial, &t, &reached)) return reached ? kErrFileNotFound : kErrNotReady;
  if (t.iface != (cd ? 0 : 1)) return kErrFileNotFound;
  simnet::Socket s = simnet::connectLoopback(port_, kTimeoutMs);
  if (s == simnet::kNoSocket) return kErrNotReady;
  Handle *h = new Handle;
  h->magic = kHandleMagic;
  memcpy(h->serial, t.serial, sizeof h->serial);
  h->generation = t.generation;
  h->sock = s;
  h->hasResponse = false;
  h->respLen = 0;
  *handle = reinterpret_cast<uintptr_t>(h);
  return 0;
}

uint32_t VirtualBus::scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf,
                          uint32_t len, uint32_t *transferred) {
  Handle *h = reinterpret_cast<Handle *>(handle);
  *transferred = 0;
  if (!h || h->magic != kHandleMagic) return kErrInvalidHandle;
  if (!cdb || !buf || len == 0) return kErrInvalidParameter;
  // The vendor command: FF "MARVO" direction length-high length-low 00, where the direction is
  // 2 for data out (write) and 1 for data in (read) and the length is the transfer length.
  if (cdb[0] != 0xFF || memcmp(cdb + 1, "MARVO", 5) != 0 || cdb[9] != 0x00 ||
      cdb[6] != (dataIn ? 1 : 2) || ((uint32_t(cdb[7]) << 8) | cdb[8]) != len ||
      len > kDeviceBuffer)
    return kErrIoDevice;
  if (dataIn) {
    if (!h->hasResponse) return kErrIoDevice;
    h->hasResponse = false;
    uint32_t n = h->respLen < len ? h->respLen : len;
    memcpy(buf, h->resp, n);
    *transferred = n;
    return h->respLen > len ? kErrMoreData : 0;
  }
  h->hasResponse = false;
  uint8_t head[1 + 33 + 4];
  size_t sl = strlen(h->serial);
  size_t hn = 0;
  head[hn++] = simnet::kOpExchange;
  memcpy(head + hn, h->serial, sl + 1);
  hn += sl + 1;
  for (int sh = 24; sh >= 0; sh -= 8) head[hn++] = uint8_t(h->generation >> sh);
  uint8_t *ans = new uint8_t[kDeviceBuffer + 1];
  uint32_t alen = 0;
  bool sent = simnet::sendMessage(h->sock, head, hn, buf, len);
  if (!sent) {
    // The connection broke before the frame went out: one new connection, one more try.
    simnet::closeSocket(h->sock);
    h->sock = simnet::connectLoopback(port_, kTimeoutMs);
    sent = h->sock != simnet::kNoSocket && simnet::sendMessage(h->sock, head, hn, buf, len);
  }
  bool ok = sent && simnet::recvLength(h->sock, &alen, kDeviceBuffer + 1) && alen > 0 &&
            simnet::recvAll(h->sock, ans, alen);
  if (sent && !ok) {
    // A lost or oversize answer leaves the stream out of step: start a fresh connection.
    simnet::closeSocket(h->sock);
    h->sock = simnet::connectLoopback(port_, kTimeoutMs);
  }
  uint32_t rc = 0;
  if (!ok) {
    rc = kErrGenFailure;
  } else if (ans[0] == simnet::kNoToken || ans[0] == simnet::kStale) {
    rc = kErrNotConnected;
  } else if (ans[0] != simnet::kDone || alen < 5) {
    rc = kErrIoDevice;
  } else {
    // Keep the response frame only when its own length field agrees with what arrived.
    uint32_t flen = alen - 1;
    uint32_t l = (uint32_t(ans[1]) << 8) | ans[2];
    if (l + 2 != flen) {
      rc = kErrIoDevice;
    } else {
      memcpy(h->resp, ans + 1, flen);
      h->respLen = flen;
      h->hasResponse = true;
      *transferred = len;
    }
  }
  delete[] ans;
  return rc;
}

void VirtualBus::close(uintptr_t handle) {
  Handle *h = reinterpret_cast<Handle *>(handle);
  if (!h || h->magic != kHandleMagic) return;
  simnet::closeSocket(h->sock);
  h->magic = 0;
  delete h;
}

}  // namespace uk
