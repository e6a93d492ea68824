// Hosts the server side of the brokered channel in a plain process, as the key service does:
// creates the shared objects and serves requests with the bus in use (the virtual bus when the
// machine-wide setting names the emulator) until the named event argv[1] is set.
#include <windows.h>

#include <cstdio>

#include "uk_broker_server.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: transport_broker_host STOP_EVENT_NAME\n");
    return 2;
  }
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, argv[1]);
  if (!stop) return 3;
  uk::BrokerObjects objects;
  if (uk::createBrokerObjects(&objects) != 0) {
    uk::closeBrokerObjects(&objects);
    return 1;
  }
  uk::runBrokerLoop(&objects, stop);
  return 0;
}
