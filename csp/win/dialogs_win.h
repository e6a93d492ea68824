// The provider's dialogs: the Win32 side of the core's Dialogs seam, from the templates of the
// provider's own resources, in the language the user chose (read again whenever a dialog starts).
// Modal dialogs run on the calling thread and are owned by no window; the button confirmation
// runs on a thread of its own with its own message loop.
#pragma once
#include <windows.h>

#include "csp_host.h"

namespace cspwin {

class WinDialogs : public csp::Dialogs {
 public:
  explicit WinDialogs(csp::Host &host) : host_(host) {}

  int askTwoButtons(int message, uint32_t tries) override;
  void tell(int message) override;
  bool enterPin(char *pin, size_t cap) override;
  bool selectDevice(const csp::DeviceChoice *lines, uint32_t count, uint32_t *chosen) override;
  uintptr_t openWindow(csp::Modeless kind) override;
  void closeWindow(uintptr_t window) override;
  int confirmCancel() override;
  uintptr_t openConfirmation(std::atomic<uint32_t> *cancel) override;
  void closeConfirmation(uintptr_t window, uint32_t result) override;

 private:
  uint32_t language();
  csp::Host &host_;
};

}  // namespace cspwin
