// The client's software update: fetch the version file the bank publishes, compare its version
// with the client's own and, when it is newer, download the setup program it names (with the
// progress dialog), check the setup's signature and start it. The start-up check is quiet (no
// message when the client is up to date or the server cannot be reached); the user's check says
// so. What needs the platform (files, HTTP, dialogs, the signature check, the shell) is behind
// IUpdateHost; the Win32 host is win/update_host_win.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "setup_trust.h"
#include "update_version.h"

namespace client {

// A setup program on disk, held open against changes from its check until it is started or
// discarded (so that the file that is started is the file that was checked).
class ISetupProgram {
 public:
  virtual ~ISetupProgram() = default;
  virtual const ui::SetupCheck &Check() const = 0;
  // Opens it with the shell verb "open", shown normally: 0, or the shell's result (32 or less).
  virtual uint32_t Start() = 0;
  // Lets it go and deletes it.
  virtual void Discard() = 0;
};

class IUpdateHost {
 public:
  virtual ~IUpdateHost() = default;
  // The folder of the update files: the common application-data folder + "\ORVToken", created
  // when missing; empty when it cannot be had.
  virtual std::wstring DataFolder() = 0;
  // The bank's web server ("host" or "host:port").
  virtual std::wstring WebHost() = 0;
  // Downloads url to path without a dialog: 0, or an error code.
  virtual uint32_t FetchFile(const std::wstring &url, const std::wstring &path) = 0;
  // A value of an INI file; `fallback` when the file, section or key is missing; at most
  // maxChars characters.
  virtual std::wstring ReadIniValue(const std::wstring &path, const wchar_t *section, const wchar_t *key,
                                    const std::wstring &fallback, size_t maxChars) = 0;
  // The file version of the client's own program (0.0.0.0 when it cannot be read).
  virtual FourPartVersion OwnVersion() = 0;
  virtual bool FileExists(const std::wstring &path) = 0;
  virtual void RemoveFile(const std::wstring &path) = 0;
  // The download dialog, modal over the active window: 1 when the file was downloaded.
  virtual int RunDownloadDialog(const std::wstring &caption, const std::wstring &url, const std::wstring &path) = 0;
  // Opens a setup program on disk and checks its signature.
  virtual std::unique_ptr<ISetupProgram> OpenSetup(const std::wstring &path) = 0;
  // A message box without owner window; the button pressed.
  virtual int ShowMessage(const std::wstring &text, const std::wstring &caption, unsigned style) = 0;
};

// Outcomes of CheckForUpdate.
constexpr int kUpdateChecked = 0;      // whatever happened to the download and start
constexpr int kUpdateNoVersionFile = 4;

// Outcomes of the download-and-start step (not passed on by CheckForUpdate).
enum class UpdateStep {
  kStarted,        // the setup program was started
  kNotDownloaded,  // the download failed or the dialog was closed; the partial file is gone
  kRefused,        // the setup's signature did not hold; the user was told, the file deleted
  kStartFailed,    // the shell could not start it
};

// The longest address the version file may name for the setup program.
constexpr size_t kSetupUrlMax = 260;

// One check. quiet: the start-up check (silent when up to date or the server is unreachable).
int CheckForUpdate(IUpdateHost &host, bool quiet);

// Download (unless a file of that version is already there) and start the setup of a published
// version. Used by CheckForUpdate; separate for tests.
UpdateStep DownloadAndStart(IUpdateHost &host, const std::wstring &folder, const std::wstring &setupUrl,
                            const FourPartVersion &published);

}  // namespace client
