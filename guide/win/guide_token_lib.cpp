#include "guide_token_lib.h"

#include <string.h>

#include "guide_paths.h"

#include "ui_kernel_objects.h"

namespace guide {

namespace {

// The token library's device-exclusive mutex, shared with the client manager and the provider.
// A wait of 30 s covers the longest sequence of another program short of a format.
HANDLE g_deviceMutex = nullptr;
bool LockDevice() {
  if (!g_deviceMutex) return true;  // the mutex could not be made: nothing to share it with
  DWORD r = WaitForSingleObject(g_deviceMutex, 30000);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}
void UnlockDevice() {
  if (g_deviceMutex) ReleaseMutex(g_deviceMutex);
}
const DeviceLockHooks kDeviceLock = {LockDevice, UnlockDevice};

}  // namespace

CGuideTokenLib::CGuideTokenLib(std::wstring path) : path_(std::move(path)) {}

CGuideTokenLib::~CGuideTokenLib() {
  if (!module_) return;
  api_.ReleaseContext();
  FreeLibrary(module_);
}

uint32_t CGuideTokenLib::Bind() {
  if (module_) return 0;
  std::wstring path = path_.empty() ? TokenLibraryPath() : path_;
  if (path.empty()) return 1;
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) return 1;
  GuideTokenApi api{};
  for (size_t i = 0; i < kGuideTokenEntryCount; ++i) {
    FARPROC p = GetProcAddress(module, kGuideTokenExports[i]);
    if (!p) {
      FreeLibrary(module);
      return 2;
    }
    // The entry points are laid out in the order of their names, one pointer each.
    static_assert(sizeof p == sizeof(void *), "entry points are plain pointers");
    memcpy(reinterpret_cast<char *>(&api) + i * sizeof p, &p, sizeof p);
  }
  api_ = api;
  module_ = module;
  if (!g_deviceMutex) g_deviceMutex = ui::CreateSharedMutex(UK_DEVICE_EXCLUSIVE_MUTEX);
  SetDeviceLock(&kDeviceLock);
  return api_.EstablishContext();
}

}  // namespace guide
