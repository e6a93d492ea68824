#include "keysrv_core.h"

#include <string.h>

namespace uk {
namespace keysrv {

const char kServiceName[] = "ZVUK for ORV Service";
const char kInstallOk[] = "Install successfully\r";
const char kInstallFailedCode[] = "Install failed,error code: %d\n";
const char kInstallFailed[] = "Install failed\r";
const char kDeleteOk[] = "Delete service successfully\n";
const char kDeleteFailed[] = "Delete failed\n";
const char16_t kParamError[] = u"Error parameter\uFF0C-i install\uFF0C-d delete\n";

const char kHidVidPid[] = "vid_0b0c&pid_10ae";
const char kVendorKestra[] = "ven_kestra";
const char kVendorMarvo[] = "ven_marvo";

const char16_t kProviderName[] = u"ZV UKey for ORV Cryptographic Service Provider";

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char16_t lowerAscii16(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Case-insensitive (ASCII) equality of a[0..alen) with the zero-terminated b.
bool equalsIgnoreCase(const char *a, size_t alen, const char *b) {
  size_t blen = strlen(b);
  if (alen != blen) return false;
  for (size_t i = 0; i < alen; ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

// The text strictly between the first delim and the next one; false when either is missing.
bool fieldBetween(const char *name, char delim, const char **start, size_t *len) {
  const char *first = strchr(name, delim);
  if (!first) return false;
  const char *next = strchr(first + 1, delim);
  if (!next) return false;
  *start = first + 1;
  *len = static_cast<size_t>(next - first - 1);
  return true;
}

// A path entry equal to dir, ignoring case and a trailing backslash on either side.
bool sameDirectory(const char *entry, size_t elen, const char *dir, size_t dlen) {
  if (elen > 0 && entry[elen - 1] == '\\') --elen;
  if (dlen > 0 && dir[dlen - 1] == '\\') --dlen;
  if (elen != dlen || elen == 0) return false;
  for (size_t i = 0; i < elen; ++i)
    if (lowerAscii(entry[i]) != lowerAscii(dir[i])) return false;
  return true;
}

}  // namespace

Command parseCommandLine(int argc, const char *const *argv) {
  if (argc <= 1) return Command::Run;
  if (argc == 2 && argv[1]) {
    if (strcmp(argv[1], "-i") == 0) return Command::Install;
    if (strcmp(argv[1], "-d") == 0) return Command::Delete;
  }
  return Command::BadParameter;
}

int exitCodeFor(bool ok, uint32_t systemError) {
  if (ok) return 0;
  return systemError ? static_cast<int>(systemError) : 1;
}

bool interfaceNameMatches(bool hidClass, const char *name) {
  if (!name) return false;
  const char *field;
  size_t len;
  if (hidClass) {
    if (!fieldBetween(name, '#', &field, &len)) return false;
    return equalsIgnoreCase(field, len, kHidVidPid);
  }
  if (!fieldBetween(name, '&', &field, &len)) return false;
  return equalsIgnoreCase(field, len, kVendorKestra) || equalsIgnoreCase(field, len, kVendorMarvo);
}

void ArrivalCounter::onDeviceEvent(uint32_t eventType, bool tokenInterface,
                                   WatcherActions &actions) {
  if (!tokenInterface) return;
  if (eventType == kDbtDeviceArrival) {
    actions.launchClient();
    ++count_;
  } else if (eventType == kDbtDeviceRemoveComplete) {
    if (count_ == 0) return;
    if (--count_ == 0) actions.purgeCertificates();
  }
}

size_t removeSearchPathEntry(const char *value, size_t len, const char *dir, char *out,
                             size_t cap) {
  if (cap < len + 1) return static_cast<size_t>(-1);
  size_t dlen = dir ? strlen(dir) : 0;
  size_t o = 0;
  size_t pos = 0;
  while (pos <= len) {
    size_t end = pos;
    while (end < len && value[end] != ';') ++end;
    bool hasSeparator = end < len;
    if (dlen && sameDirectory(value + pos, end - pos, dir, dlen)) {
      // Drop the entry and its separator; a last entry leaves the separator before it.
    } else {
      memcpy(out + o, value + pos, end - pos);
      o += end - pos;
      if (hasSeparator) out[o++] = ';';
    }
    if (!hasSeparator) break;
    pos = end + 1;
  }
  out[o] = '\0';
  return o;
}

bool programDirectory(const char *programPath, char *out, size_t cap) {
  if (!programPath) return false;
  const char *slash = strrchr(programPath, '\\');
  if (!slash) return false;
  size_t n = static_cast<size_t>(slash - programPath);
  if (n + 1 > cap) return false;
  memcpy(out, programPath, n);
  out[n] = '\0';
  return true;
}

bool isOurProviderName(const char16_t *name) {
  if (!name) return false;
  const char16_t *ours = kProviderName;
  for (; *name && *ours; ++name, ++ours)
    if (lowerAscii16(*name) != lowerAscii16(*ours)) return false;
  return *name == 0 && *ours == 0;
}

}  // namespace keysrv
}  // namespace uk
