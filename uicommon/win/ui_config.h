// The bank's web host and domain in force on this machine: the machine-wide override when it is
// set, else the built-in value (uicommon/core/bank_config.h).
#pragma once
#include <string>

namespace ui {

std::wstring BankWebHost();
std::wstring BankDomain();

}  // namespace ui
