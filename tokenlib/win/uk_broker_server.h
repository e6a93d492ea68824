// The key service's side of the brokered channel as a reusable unit: the shared kernel objects
// and the request loop. The service shell hosts it; tests host it in a plain process.
#pragma once
#include <windows.h>

namespace uk {

struct BrokerObjects {
  HANDLE loopMutex = nullptr;  // owned by the loop's thread while it runs
  HANDLE reqEvent = nullptr;
  HANDLE ansEvent = nullptr;
  HANDLE mapping = nullptr;
  HANDLE devExclusiveMutex = nullptr;
  HANDLE certChangeEvent = nullptr;
  unsigned char *view = nullptr;
  bool ownsLoopMutex = false;
};

// Creates the shared objects (null DACL, inheritable, low integrity label) and maps the view.
// Must run on the thread that then runs the loop: that thread takes the loop mutex before any
// client can find the request event. (What an earlier instance left in objects that clients kept
// open is dealt with by the clients: a request it never answered is marked dead by its client,
// and every cycle clears an answer nobody took.) Returns 0, or the system error of the step that
// failed (written to the debugger output); call closeBrokerObjects either way.
DWORD createBrokerObjects(BrokerObjects *objects);
// Serves requests until stop is set. A request the loop has taken (or finds signalled together
// with the stop) is answered before it ends. Then closes the objects (closeBrokerObjects).
void runBrokerLoop(BrokerObjects *objects, HANDLE stop);
// Closes whatever was created, the request event first, then gives up the loop mutex, so that
// waiting clients stop waiting. Closes the device handles the loop opened for its clients.
void closeBrokerObjects(BrokerObjects *objects);

}  // namespace uk
