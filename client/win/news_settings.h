// The news settings dialog ("Message Options..."): subscription on or off, refresh interval and
// popup time, proxy address and port; it reads and writes the configuration file.
#pragma once
#include <windows.h>

namespace client {

class CNewsCenter;

// Runs the modal dialog over owner; open holds its window while it is shown (one at a time).
void RunNewsSettings(HWND owner, CNewsCenter &center, HWND &open);
// Gives an open dialog the texts of the current language.
void RelabelNewsSettings(HWND dialog);

}  // namespace client
