// Key service logic that needs no Win32: the command line and its texts, the rules that decide
// whether a device interface is one of our tokens, the arrival counter that decides when the
// client is started and when stale certificates are purged, the search-path edit done when the
// service is deleted, and the provider name that marks our certificates.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace uk {
namespace keysrv {

// Service name and display name in the service control manager.
extern const char kServiceName[];

// Texts written to the console by the command line.
extern const char kInstallOk[];          // "Install successfully\r"
extern const char kInstallFailedCode[];  // "Install failed,error code: %d\n"
extern const char kInstallFailed[];      // "Install failed\r"
extern const char kDeleteOk[];           // "Delete service successfully\n"
extern const char kDeleteFailed[];       // "Delete failed\n"
// The parameter error text as UTF-16 (its commas are full-width); it is converted to the
// system's ANSI code page before it is written.
extern const char16_t kParamError[];

enum class Command { Run, Install, Delete, BadParameter };

// No argument: run under the service dispatcher; exactly "-i" or "-d": install or delete;
// anything else (including extra arguments) is a parameter error.
Command parseCommandLine(int argc, const char *const *argv);

// Process exit code after a command: 0 on success and for the parameter error (which changes
// nothing); after a failed install or delete the system error code of the failing call, or 1
// when the system gave none, so that scripts can tell failure from success.
int exitCodeFor(bool ok, uint32_t systemError);

// --- Device interfaces -------------------------------------------------------------------

// The USB identifiers of the token as they appear in a HID interface name.
extern const char kHidVidPid[];  // "vid_0b0c&pid_10ae"
// Vendor parts of the token's CD-ROM and disk interface names.
extern const char kVendorKestra[];  // "ven_kestra"
extern const char kVendorMarvo[];   // "ven_marvo"

// Whether an interface name (ANSI, zero-terminated) belongs to the token. For the HID class the
// text between the first "#" and the next "#" must be the token's vid/pid; for the CD-ROM and
// disk classes the text between the first "&" and the next "&" must be one of the two vendor
// parts. Comparison ignores case; a name without both delimiters does not match.
bool interfaceNameMatches(bool hidClass, const char *name);

// Device event types handed to the service's control handler.
enum : uint32_t { kDbtDeviceArrival = 0x8000, kDbtDeviceRemoveComplete = 0x8004 };

// What a device event makes the service do.
class WatcherActions {
 public:
  virtual ~WatcherActions() = default;
  virtual void launchClient() = 0;
  virtual void purgeCertificates() = 0;
};

// Counts arrivals of token interfaces not yet matched by a removal. An arrival starts the client
// and raises the count (whether or not the start worked); a removal lowers it, never below 0,
// and the removal that brings it to 0 purges the certificates. Used from one thread only (the
// service's control handler).
class ArrivalCounter {
 public:
  void onDeviceEvent(uint32_t eventType, bool tokenInterface, WatcherActions &actions);
  uint32_t count() const { return count_; }

 private:
  uint32_t count_ = 0;
};

// --- Search path ---------------------------------------------------------------------------

// Removes the directory dir from a ";"-separated search path value (len bytes, no terminator
// needed). Only whole entries equal to dir (ignoring ASCII case and one trailing "\\") are
// removed, each together with the ";" that follows it; an entry that merely contains the text
// (a longer directory, a sibling such as "dir2") is kept. Writes the result, zero-terminated, to
// out (cap bytes, at least len + 1) and returns its length; returns len unchanged with a copy of
// the value when nothing matched, and (size_t)-1 when out is too small.
size_t removeSearchPathEntry(const char *value, size_t len, const char *dir, char *out,
                             size_t cap);

// The directory of a program path: everything before the last "\\". Returns false when the path
// has no "\\" or out (cap bytes) is too small.
bool programDirectory(const char *programPath, char *out, size_t cap);

// --- Certificates --------------------------------------------------------------------------

extern const char16_t kProviderName[];  // u"ZV UKey for ORV Cryptographic Service Provider"

// Whether a provider name (UTF-16, zero-terminated) names our provider, ignoring case.
bool isOurProviderName(const char16_t *name);

}  // namespace keysrv
}  // namespace uk
