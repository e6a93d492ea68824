// Finding the tokens: the USB interface paths of the attached tokens, the own-token test, and the
// CD-ROM (else disk) interface path the exchange opens.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "uk_log.h"
#include "uk_platform.h"
#include "uk_transport.h"

namespace uk {
namespace {

constexpr uint32_t kSelfWord1 = 0x00040000;
constexpr uint32_t kSelfWord2 = 0x0100001F;

}  // namespace

bool parseVidPid(const char *usbPath, uint32_t *vid, uint32_t *pid) {
  const char *hash = strchr(usbPath, '#');
  if (!hash) return false;
  char part[64];
  uint32_t n = 0;
  for (const char *p = hash + 1; *p && *p != '#' && n + 1 < sizeof part; ++p)
    part[n++] = char(tolower((unsigned char)*p));
  part[n] = 0;
  unsigned v = 0, d = 0;
  if (sscanf(part, "vid_%04x&pid_%04x", &v, &d) != 2) return false;
  *vid = v;
  *pid = d;
  return true;
}

uint32_t usbInstanceId(const char *usbPath, char *out, uint32_t cap) {
  const char *u = nullptr;
  for (const char *p = usbPath; *p; ++p)
    if (*p == 'u' || *p == 'U') {
      u = p;
      break;
    }
  const char *hash = strrchr(usbPath, '#');
  if (!u || !hash || hash < u) return UKLR_DEV_NAME_INVALID;
  uint32_t len = uint32_t(hash - u);
  if (len + 1 > cap) return UKLR_DEV_NAME_INVALID;
  for (uint32_t i = 0; i < len; ++i) out[i] = u[i] == '#' ? '\\' : u[i];
  out[len] = 0;
  return UKLR_OK;
}

uint32_t listTokenPaths(char (*paths)[256], uint32_t *count) {
  char found[kMaxInterfaces][256];
  uint32_t n = 0;
  if (!bus().listUsbInterfaces(found, kMaxInterfaces, &n)) {
    log("---->UKRL_ENUM_MASS_DEV ......\n");
    return UKRL_ENUM_MASS_DEV;
  }
  if (n > kMaxInterfaces) n = kMaxInterfaces;
  uint32_t kept = 0;
  char keep[kMaxInterfaces][256];
  for (uint32_t i = 0; i < n; ++i) {
    found[i][255] = 0;
    uint32_t vid, pid;
    if (parseVidPid(found[i], &vid, &pid) && vid == kTokenVid && pid == kTokenPid)
      memcpy(keep[kept++], found[i], 256);
  }
  if (paths && *count < kept) {
    log("---->UKLR_BUFFER_TOO_SMALL ......\n");
    *count = kept;
    return UKLR_BUFFER_TOO_SMALL;
  }
  if (paths)
    for (uint32_t i = 0; i < kept; ++i) memcpy(paths[i], keep[i], 256);
  *count = kept;
  return UKLR_OK;
}

uint32_t isSelfToken(const char *usbPath, uint32_t *word1, uint32_t *word2) {
  if (!host().isNtFamily()) {
    log("---->This isn't win2k or later system......\n");
    return UKLR_OS_UNSUPPORTED;
  }
  const char *hash = strchr(usbPath, '#');
  if (!hash || !hash[1]) {
    log("---->Device name invalid......\n");
    return UKLR_DEV_NAME_INVALID;
  }
  uint32_t vid, pid;
  if (!parseVidPid(usbPath, &vid, &pid) || vid != kTokenVid || pid != kTokenPid)
    return UKLR_NOT_SELF_TOKEN;
  *word1 = kSelfWord1;
  *word2 = kSelfWord2;
  return UKLR_OK;
}

uint32_t cdromPath(const char *usbPath, char *path, uint32_t cap) {
  char instance[260];
  uint32_t rc = usbInstanceId(usbPath, instance, sizeof instance);
  if (rc) return rc;
  char child[260];
  uint32_t err = bus().firstChild(instance, child, sizeof child);
  if (err) {
    logCode("---->CM_Get_Device_ID_ListA Error.Code is ", err);
    return UKLR_DEV_PATH;
  }
  child[sizeof child - 1] = 0;
  const char *failed = "SetupDiGetClassDevsA";
  err = bus().interfacePath(child, DevClass::CdRom, path, cap, &failed);
  if (err) {
    failed = "SetupDiGetClassDevsA";
    err = bus().interfacePath(child, DevClass::Disk, path, cap, &failed);
  }
  if (err) {
    char text[96];
    snprintf(text, sizeof text, "---->%s Error.Code is ", failed ? failed : "SetupDiGetClassDevsA");
    logCode(text, err);
    return UKLR_DEV_PATH;
  }
  path[cap - 1] = 0;
  return UKLR_OK;
}

}  // namespace uk
