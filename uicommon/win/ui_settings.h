// The user's language choice shared by our programs (the provider, the client manager, the guide).
#pragma once
#include <windows.h>

namespace ui {

// The registry value of the user's language choice (HKEY_CURRENT_USER, ui::kClientRegistryKey,
// "Language", REG_DWORD). Read: false when absent or not a 4-byte REG_DWORD.
bool ReadLanguageValue(DWORD *langId);
// Write: opens the key for reading and writing, creating it when it cannot be opened.
bool WriteLanguageValue(DWORD langId);

}  // namespace ui
