#include "ui_config.h"

#include <windows.h>

#include "bank_config.h"

namespace ui {

namespace {

std::wstring MachineValue(const wchar_t *name, const wchar_t *fallback) {
  wchar_t buf[256];
  DWORD size = sizeof buf, type = 0;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, config::kDeveloperKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS && type == REG_SZ && size >= sizeof(wchar_t)) {
      buf[sizeof buf / sizeof buf[0] - 1] = 0;
      buf[size / sizeof(wchar_t) < 255 ? size / sizeof(wchar_t) : 255] = 0;
      if (buf[0]) return buf;
    }
  }
  return fallback;
}

}  // namespace

std::wstring BankWebHost() { return MachineValue(config::kWebHostValue, config::kBankWebHost); }
std::wstring BankDomain() { return MachineValue(config::kDomainValue, config::kBankDomain); }

}  // namespace ui
