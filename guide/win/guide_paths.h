// Where the guide finds the installation and keeps its download: shell folders resolved through
// the shell's item lists; a folder that cannot be resolved gives an empty path.
#pragma once
#include <string>

namespace guide {

std::wstring ProgramFilesFolder();
std::wstring CommonAppDataFolder();

std::wstring ClientProgramPath();    // Program Files + "\ORVToken\kelm\ORV_KELM_Client.exe"
std::wstring TokenLibraryPath();     // Program Files + "\ORVToken\kelm\ORV_KELM_Q57Tokenlib.dll"
std::wstring SetupDownloadFolder();  // common application data + "\ORVToken"
std::wstring SetupDownloadPath();    // that folder + "\ORV_ZV_Setup.exe"

}  // namespace guide
