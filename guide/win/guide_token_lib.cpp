#include "guide_token_lib.h"

#include <string.h>

#include "guide_paths.h"

namespace guide {

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
  return api_.EstablishContext();
}

}  // namespace guide
