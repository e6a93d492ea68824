// One client per session: the first instance publishes its main window in a named file mapping;
// a later instance that can open the mapping knows another one runs.
#pragma once
#include <windows.h>

#include <string>

namespace client {

class CInstanceChecker {
 public:
  explicit CInstanceChecker(const wchar_t *uniqueName);
  virtual ~CInstanceChecker();
  virtual std::wstring GetMappingName() const { return name_ + L"_CInstanceChecker_MMF"; }
  // The window published by the running instance (null when none can be read).
  virtual HWND PublishedWindow() const;

  bool IsAnotherInstanceRunning() const;
  // Creates the mapping and writes the window handle into it; the mapping stays open for the life
  // of the process. The handle is stored as 8 bytes on every architecture.
  bool PublishMainWindow(HWND wnd);

 private:
  std::wstring name_;
  HANDLE mapping_ = nullptr;
};

}  // namespace client
