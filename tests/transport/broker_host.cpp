// Hosts the server side of the brokered channel in a plain process, as the key service does:
// creates the shared objects and serves requests with the bus in use (the virtual bus when the
// machine-wide setting names the emulator) until the named event argv[1] is set.
#include <windows.h>

#include <cstdio>

#include "uk_broker_server.h"

namespace {
uk::BrokerObjects g_objects;
volatile LONG g_loop = 1;
volatile LONG g_finished = 0;
HANDLE g_stop = nullptr;

DWORD WINAPI stopper(LPVOID) {
  WaitForSingleObject(g_stop, INFINITE);
  InterlockedExchange(&g_loop, 0);
  uk::signalBrokerStop(&g_objects);
  return 0;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: transport_broker_host STOP_EVENT_NAME\n");
    return 2;
  }
  g_stop = CreateEventA(nullptr, TRUE, FALSE, argv[1]);
  if (!g_stop) return 3;
  if (!uk::createBrokerObjects(&g_objects)) return 1;
  HANDLE t = CreateThread(nullptr, 0, stopper, nullptr, 0, nullptr);
  uk::runBrokerLoop(&g_objects, &g_loop, &g_finished);
  WaitForSingleObject(t, 5000);
  return g_finished ? 0 : 4;
}
