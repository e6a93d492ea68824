#include "ui_kernel_objects.h"

#include <aclapi.h>
#include <sddl.h>

namespace ui {

namespace {

// Lowers the object's integrity label so that low-integrity processes can open it.
void ApplyLowLabel(HANDLE h) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("S:(ML;;NW;;;LW)", SDDL_REVISION_1, &sd,
                                                            nullptr))
    return;
  PACL sacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (GetSecurityDescriptorSacl(sd, &present, &sacl, &defaulted) && present)
    SetSecurityInfo(h, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, sacl);
  LocalFree(sd);
}

struct NullDaclAttributes {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  NullDaclAttributes() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = TRUE;
  }
};

}  // namespace

HANDLE CreateSharedMutex(const char *name) {
  NullDaclAttributes a;
  HANDLE h = CreateMutexA(&a.sa, FALSE, name);
  if (h) ApplyLowLabel(h);
  return h;
}

HANDLE CreateSharedEvent(const char *name, bool manualReset) {
  NullDaclAttributes a;
  HANDLE h = CreateEventA(&a.sa, manualReset, FALSE, name);
  if (h) ApplyLowLabel(h);
  return h;
}

}  // namespace ui
