#include "guide_paths.h"

#include <windows.h>
#include <shlobj.h>

#include "guide_config.h"

namespace guide {

namespace {

std::wstring ShellFolder(int csidl) {
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetFolderLocation(nullptr, csidl, nullptr, 0, &items)) || !items) return L"";
  wchar_t path[MAX_PATH] = {0};
  BOOL ok = SHGetPathFromIDListW(items, path);
  CoTaskMemFree(items);
  return ok ? std::wstring(path) : std::wstring();
}

// A file under a folder, or nothing when the folder is unknown.
std::wstring Under(const std::wstring &folder, const wchar_t *rest) {
  return folder.empty() ? folder : folder + rest;
}

}  // namespace

std::wstring ProgramFilesFolder() { return ShellFolder(CSIDL_PROGRAM_FILES); }
std::wstring CommonAppDataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA); }

std::wstring ClientProgramPath() { return Under(ProgramFilesFolder(), kClientProgram); }
std::wstring TokenLibraryPath() { return Under(ProgramFilesFolder(), kTokenLibrary); }
std::wstring SetupDownloadFolder() { return Under(CommonAppDataFolder(), kDownloadFolder); }
std::wstring SetupDownloadPath() { return Under(SetupDownloadFolder(), kSetupFile); }

}  // namespace guide
