#include "uk_frame.h"

#include <stdio.h>

namespace uk {

ExportFrame::ExportFrame(const char *name, bool startLine, bool endLine)
    : name_(name), endLine_(endLine) {
  if (startLine) {
    char line[160];
    snprintf(line, sizeof line, "%s starting......\n", name_);
    log(line);
  }
}

uint32_t ExportFrame::paramError() {
  log("---->UKLR_PARAM_VALUE......\n");
  return UKLR_PARAM_VALUE;
}

uint32_t ExportFrame::finish(uint32_t rc, const char *failingStep) {
  char line[200];
  if (rc != UKLR_OK && failingStep) {
    snprintf(line, sizeof line, "---->%s ......\n", failingStep);
    log(line);
  }
  if (endLine_) {
    snprintf(line, sizeof line, "%s end......\n", name_);
    log(line);
  }
  return rc;
}

}  // namespace uk
