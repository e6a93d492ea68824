// The common frame of an export: start line, argument checks, the operation on the connection
// record, the failing-step line and the end line.
#pragma once
#include <stdint.h>

#include "uk_context.h"
#include "uk_log.h"

namespace uk {

class ExportFrame {
 public:
  // name: the export's (or its step's) name in the start and end lines; lines: false for the
  // exports that write none.
  explicit ExportFrame(const char *name, bool startLine = true, bool endLine = true);

  // A missing pointer or bad argument: "---->UKLR_PARAM_VALUE......\n", 4; no end line.
  uint32_t paramError();
  // Ends the export: "---->" step " ......\n" when rc is a failure and a step is named, then the
  // end line; returns rc unchanged.
  uint32_t finish(uint32_t rc, const char *failingStep = nullptr);

 private:
  const char *name_;
  bool endLine_;
};

// The connection record of a device record (null when not connected).
inline UK_USB_DEV_CTX *connectionOf(UK_DEV_INFO *dev) { return dev ? dev->connection : nullptr; }

}  // namespace uk
