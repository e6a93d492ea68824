// The key service's side of the brokered channel as a reusable unit: the shared kernel objects
// and the request loop. The service shell hosts it; tests host it in a plain process.
#pragma once
#include <windows.h>

namespace uk {

struct BrokerObjects {
  HANDLE reqEvent = nullptr;
  HANDLE ansEvent = nullptr;
  HANDLE mapping = nullptr;
  HANDLE devExclusiveMutex = nullptr;
  HANDLE certChangeEvent = nullptr;
  unsigned char *view = nullptr;
};

// Creates the shared objects (null DACL, inheritable, low integrity label) and maps the view.
// On failure writes the failing step to the debugger output and returns false; what was created
// stays open.
bool createBrokerObjects(BrokerObjects *objects);
// Serves requests until *loopFlag is cleared (checked after each request), then closes the
// handles and sets *loopFinished.
void runBrokerLoop(BrokerObjects *objects, volatile LONG *loopFlag, volatile LONG *loopFinished);
// Writes a stop request into the shared block and signals the request event.
void signalBrokerStop(BrokerObjects *objects);

}  // namespace uk
