// The software update on Windows: the platform side of the update check (files in the common
// application-data folder, WinINet, version.ini, the program's version resource, the download
// dialog, the setup's signature, the shell) and the thread each check runs on.
#pragma once
#include <memory>
#include <string>

#include "update_check.h"

namespace client {

// Starts one update check on a thread of its own (its handle is closed at once). quiet: the
// start-up check, silent unless a newer version is found. Checks of one process run one after
// the other (they share version.ini and the setup's file).
void StartUpdateCheck(bool quiet);

class CUpdateHostWin : public IUpdateHost {
 public:
  std::wstring DataFolder() override;
  std::wstring WebHost() override;
  uint32_t FetchFile(const std::wstring &url, const std::wstring &path) override;
  std::wstring ReadIniValue(const std::wstring &path, const wchar_t *section, const wchar_t *key,
                            const std::wstring &fallback, size_t maxChars) override;
  FourPartVersion OwnVersion() override;
  bool FileExists(const std::wstring &path) override;
  void RemoveFile(const std::wstring &path) override;
  int RunDownloadDialog(const std::wstring &caption, const std::wstring &url, const std::wstring &path) override;
  std::unique_ptr<ISetupProgram> OpenSetup(const std::wstring &path) override;
  int ShowMessage(const std::wstring &text, const std::wstring &caption, unsigned style) override;
};

}  // namespace client
