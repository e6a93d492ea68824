// The library log: one plain-text file, opened and closed for every line.
#pragma once
#include <stdint.h>

namespace uk {
void log(const char *text);
// "---->SW is XX XX \n"
void logSw(uint8_t sw1, uint8_t sw2);
// text (ending in "Error.Code is " or "code is ") followed by " 0x%08x\n".
void logCode(const char *text, uint32_t code);
// Points the log at another file (tests); null restores the built-in path.
void setLogPath(const char *path);
const char *logPath();
}  // namespace uk
