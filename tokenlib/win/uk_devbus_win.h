// The real Win32 device bus (SetupAPI, the configuration manager, CreateFileA and the SCSI
// pass-through), for the skin's bus choice and for programs that want the hardware explicitly.
#pragma once
#include "uk_platform.h"

namespace uk {
DeviceBus *win32Bus();
}  // namespace uk
