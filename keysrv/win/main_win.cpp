// ORV_KELM_KeySrv: "-i" installs the service, "-d" deletes it, no argument runs it under the
// service control dispatcher.
#include "keysrv_win.h"

int main(int argc, char **argv) {
  using namespace uk::keysrv;
  switch (parseCommandLine(argc, argv)) {
    case Command::Run:
      return runServiceDispatcher();
    case Command::Install:
      return installService();
    case Command::Delete:
      return deleteService();
    case Command::BadParameter:
      break;
  }
  printParameterError();
  return 0;
}
