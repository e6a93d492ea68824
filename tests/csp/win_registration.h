// Registers the provider DLL beside the running program under the provider key of the machine, as
// the installer does (image path and type 1). Used by the Windows tests and the benchmark.
#pragma once
#include <windows.h>

#include <string.h>

#include <string>

namespace csptest {

constexpr char kProviderName[] = "ZV UKey for ORV Cryptographic Service Provider";

inline std::string programDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  *strrchr(path, '\\') = 0;
  return path;
}
inline std::string providerDll() { return programDir() + "\\ORV_KELM_csp.dll"; }

inline bool registerProvider() {
  HKEY key = nullptr;
  std::string name = std::string("SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\") + kProviderName;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  std::string image = providerDll();
  DWORD type = 1;  // PROV_RSA_FULL
  bool ok = RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE *>(image.c_str()),
                           DWORD(image.size() + 1)) == ERROR_SUCCESS &&
            RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&type),
                           sizeof type) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

}  // namespace csptest
