#include "guide_language.h"

#include <windows.h>

#include <vector>

#include "guide_text.h"
#include "ui_settings.h"

namespace guide {

namespace {

using LangFn = LANGID(WINAPI *)();

uint32_t Kernel32Language(const char *name) {
  auto fn = reinterpret_cast<LangFn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
  return fn ? fn() : 0;
}

// Windows 9x: the hexadecimal default value of HKCU "Control Panel\Desktop\ResourceLocale".
uint32_t ResourceLocale() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\ResourceLocale", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return 0;
  wchar_t buf[32] = {0};
  DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
  LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? uint32_t(wcstoul(buf, nullptr, 16)) : 0;
}

// The language of ntdll.dll's version resource (its first translation).
uint32_t NtdllLanguage() {
  wchar_t path[MAX_PATH];
  UINT n = GetSystemDirectoryW(path, MAX_PATH - 12);
  if (!n || n >= MAX_PATH - 12) return 0;
  lstrcatW(path, L"\\ntdll.dll");
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(path, &ignored);
  if (!size) return 0;
  std::vector<BYTE> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data())) return 0;
  WORD *translation = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                      &len) ||
      len < 2 * sizeof(WORD))
    return 0;
  return translation[0];
}

uint32_t SystemUiLanguage() {
  if (GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemDefaultUILanguage"))
    return Kernel32Language("GetSystemDefaultUILanguage");
  bool windows9x = (GetVersion() & 0x80000000u) != 0;
  return windows9x ? ResourceLocale() : NtdllLanguage();
}

}  // namespace

void SelectGuideLanguage() {
  DWORD chosen = 0;
  if (!ui::ReadLanguageValue(&chosen)) chosen = 0;
  SetLanguageIndex(LanguageFromCandidates({chosen, Kernel32Language("GetUserDefaultUILanguage"),
                                           SystemUiLanguage(), GetUserDefaultLangID(),
                                           GetSystemDefaultLangID()}));
}

}  // namespace guide
