#include "ui_settings.h"

#include "ui_text.h"

namespace ui {

bool ReadLanguageValue(DWORD *langId) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kClientRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG rc = RegQueryValueExW(key, kLanguageValue, nullptr, &type,
                             reinterpret_cast<BYTE *>(&value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return false;
  *langId = value;
  return true;
}

bool WriteLanguageValue(DWORD langId) {
  HKEY key;
  LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kClientRegistryKey, 0, KEY_READ | KEY_WRITE, &key);
  if (rc != ERROR_SUCCESS)
    rc = RegCreateKeyExW(HKEY_CURRENT_USER, kClientRegistryKey, 0, nullptr, 0,
                         KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return false;
  rc = RegSetValueExW(key, kLanguageValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&langId),
                      sizeof langId);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace ui
