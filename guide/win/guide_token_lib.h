// GuideTokenLib: the token library loaded at run time from the installation folder, with the
// thirteen entry points the guide uses bound by name.
#pragma once
#include <windows.h>

#include <string>

#include "guide_steps.h"

namespace guide {

class CGuideTokenLib : public ITokenBinding {
 public:
  // path: the library's full path; empty: the installed library under the Program Files folder.
  explicit CGuideTokenLib(std::wstring path = L"");
  ~CGuideTokenLib();
  CGuideTokenLib(const CGuideTokenLib &) = delete;
  CGuideTokenLib &operator=(const CGuideTokenLib &) = delete;

  // 0 bound (or bound before); 1 the library cannot be loaded; 2 an entry point is missing (the
  // module is freed again); otherwise the result of establishing the library's context.
  uint32_t Bind() override;
  const GuideTokenApi *Api() const override { return module_ ? &api_ : nullptr; }

 private:
  std::wstring path_;
  HMODULE module_ = nullptr;
  GuideTokenApi api_{};
};

}  // namespace guide
