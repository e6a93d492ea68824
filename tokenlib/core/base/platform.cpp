#include "uk_platform.h"

namespace uk {
namespace {
DeviceBus *g_bus = nullptr;
Host *g_host = nullptr;
}  // namespace

DeviceBus &bus() {
  if (!g_bus) g_bus = defaultBus();
  return *g_bus;
}
Host &host() {
  if (!g_host) g_host = defaultHost();
  return *g_host;
}
void setPlatform(DeviceBus *b, Host *h) {
  g_bus = b;
  g_host = h;
}
}  // namespace uk
