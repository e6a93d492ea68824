// Win32 skin of the key service: the service shell, the device watcher, the client launcher, the
// certificate purge and the search-path clean-up. The decisions live in keysrv_core.h.
#pragma once
#include <windows.h>

#include "keysrv_core.h"

namespace uk {
namespace keysrv {

// --- Command line (service_win.cpp) --------------------------------------------------------
// Each returns the process exit code (see exitCodeFor) and writes its texts to stdout.
int installService();
int deleteService();
int runServiceDispatcher();
void printParameterError();

// --- Device watcher (watcher_win.cpp) -------------------------------------------------------
// Registers the service status handle for CD-ROM and disk interface arrivals and removals, in
// that order; stops at the first failure. Returns true when both registrations worked.
bool registerDeviceNotifications(SERVICE_STATUS_HANDLE statusHandle);
// Whether a device broadcast (as handed to the control handler) is an interface of the token.
// Reads at most the header's dbcc_size bytes; anything malformed does not match.
bool broadcastIsToken(const void *eventData);
// A device event from the control handler: decides with the counter what to do.
void handleDeviceEvent(DWORD eventType, const void *eventData, ArrivalCounter &counter,
                       WatcherActions &actions);

// --- Client launcher (launcher_win.cpp) -----------------------------------------------------
// Program Files folder + "\\ORVToken\\KELM\\ORV_KELM_Client.exe".
bool clientPath(char *out, size_t cap);
// Token of the first "EXPLORER.EXE" process of a process snapshot, or null.
HANDLE openShellToken();
// Starts app with " /min" as command line under token, in a new console, shown normally.
bool launchAsUser(HANDLE token, const char *app);
// The whole launch: path, shell token, process creation. Fails silently.
void launchClient();

// --- Certificate purge (purge_win.cpp) -----------------------------------------------------
// Deletes from the system store storeName ("My" in the service) every certificate whose
// key-provider information names our provider. Returns the number deleted, or -1 when the store
// cannot be opened.
int purgeProviderCertificates(const char *storeName);

// --- Search path (searchpath_win.cpp) ------------------------------------------------------
extern const char kEnvironmentKey[];  // "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
// Removes the directory of programPath from the "Path" value of root\subkey (read at most 5000
// bytes), writing the value back with its previous type when it changed and then announcing the
// change to all top-level windows. Returns true when the value was rewritten.
bool removeFromSearchPath(HKEY root, const char *subkey, const char *programPath);

// The watcher's actions as the service performs them.
class ServiceActions : public WatcherActions {
 public:
  void launchClient() override;
  void purgeCertificates() override;
};

}  // namespace keysrv
}  // namespace uk
