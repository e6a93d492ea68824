// The commands of ukeytool, written over the token library's exports only.
#pragma once
#include "platform.h"

namespace ukt {

enum ExitCode {
  kExitOk = 0,
  kExitFailed = 1,    // the operation failed (token, library or file error)
  kExitUsage = 2,     // bad command line, or a question that could not be asked
  kExitToken = 3,     // no such token, no token, or several and none chosen
  kExitPin = 4,       // PIN rejected or blocked
  kExitCancelled = 5, // cancelled by the user (Ctrl+C, declined confirmation, button not pressed)
};

const char *toolVersion();

// Runs one command line. argv holds UTF-8 strings.
int runTool(int argc, const char *const *argv, Platform &pf);

}  // namespace ukt
