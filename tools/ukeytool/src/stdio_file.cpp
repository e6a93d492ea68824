#include "stdio_file.h"

#include <errno.h>
#include <string.h>

namespace ukt {

bool readStream(FILE *f, std::vector<uint8_t> &data, std::string &why) {
  if (!f) return why = strerror(errno), false;
  data.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) return why = "read error", false;
  return true;
}

bool writeStream(FILE *f, const std::vector<uint8_t> &data, std::string &why) {
  if (!f) return why = strerror(errno), false;
  bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
  if (fclose(f) != 0) ok = false;
  if (!ok) return why = "write error", false;
  return true;
}

}  // namespace ukt
