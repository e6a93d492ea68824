// Named kernel objects that our programs share with one another and with the key service, open
// to processes of every integrity level (a protected-mode browser too): a null DACL, inheritable
// handles, and the low mandatory label "S:(ML;;NW;;;LW)" applied to the object.
#pragma once
#include <windows.h>

namespace ui {

// Creates the object, or opens it when another process made it first; null on failure.
HANDLE CreateSharedMutex(const char *name);
HANDLE CreateSharedEvent(const char *name, bool manualReset);

}  // namespace ui
