#include "uk_log.h"

#include <stdio.h>

namespace uk {
namespace {
#if defined(_WIN32)
const char kDefaultPath[] = "c:\\kelm\\ORV\\KELM_Q57Tokenlib.log";
#else
// Natively there is no c: drive; the log stays off until a path is set.
const char kDefaultPath[] = "";
#endif
char g_path[512];
bool g_pathSet = false;
}  // namespace

const char *logPath() { return g_pathSet ? g_path : kDefaultPath; }

void setLogPath(const char *path) {
  if (!path) {
    g_pathSet = false;
    return;
  }
  snprintf(g_path, sizeof g_path, "%s", path);
  g_pathSet = true;
}

void log(const char *text) {
  const char *path = logPath();
  if (!path[0]) return;
  FILE *f = fopen(path, "a+");
  if (!f) f = fopen(path, "wb");
  if (!f) return;  // no log: the line is dropped
  fprintf(f, "%s", text);
  fclose(f);
}

void logSw(uint8_t sw1, uint8_t sw2) {
  char line[32];
  snprintf(line, sizeof line, "---->SW is %02X %02X \n", sw1, sw2);
  log(line);
}

void logCode(const char *text, uint32_t code) {
  char line[256];
  snprintf(line, sizeof line, "%s 0x%08x\n", text, (unsigned)code);
  log(line);
}
}  // namespace uk
