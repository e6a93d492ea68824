// Search-path clean-up after the service is deleted.
#include <windows.h>

#include "keysrv_win.h"

namespace uk {
namespace keysrv {

const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool removeFromSearchPath(HKEY root, const char *subkey, const char *programPath) {
  const DWORD kMaxValue = 5000;
  char dir[MAX_PATH];
  if (!programDirectory(programPath, dir, sizeof(dir))) return false;
  HKEY key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  char value[kMaxValue + 1];
  DWORD type = 0;
  DWORD size = kMaxValue;
  LONG rc = RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    RegCloseKey(key);
    return false;
  }
  // The stored data may or may not carry its terminator.
  size_t len = 0;
  while (len < size && value[len]) ++len;
  char edited[kMaxValue + 1];
  size_t newLen = removeSearchPathEntry(value, len, dir, edited, sizeof(edited));
  bool changed = newLen != static_cast<size_t>(-1) && newLen != len;
  if (changed)
    changed = RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE *>(edited),
                             static_cast<DWORD>(newLen + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (changed) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0,
                        reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG, 2000, &result);
  }
  return changed;
}

}  // namespace keysrv
}  // namespace uk
