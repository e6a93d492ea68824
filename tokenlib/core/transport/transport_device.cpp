// Finding the tokens, opening and closing one, the frame exchange under the per-device mutex
// (directly on the device or through the key service), and the send operation with secure
// messaging that the whole command layer uses.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "uk_channel.h"
#include "uk_log.h"
#include "uk_platform.h"
#include "uk_transport.h"

namespace uk {
namespace {

constexpr uint32_t kSelfWord1 = 0x00040000;
constexpr uint32_t kSelfWord2 = 0x0100001F;
constexpr uint32_t kDeviceMutexWaitMs = 120000;

void copyString(char *dst, uint32_t cap, const char *src) {
  uint32_t n = 0;
  while (src[n] && n + 1 < cap) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}


void closeDevice(MASS_DEV_CTX *dev) {
  if (dev->brokered)
    brokerDisconnect(uint32_t(dev->device));
  else
    bus().close(dev->device);
}

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

uint32_t openConnection(const char *usbPath, UK_USB_DEV_CTX **out) {
  if (!usbPath || !out) return UKLR_PARAM_VALUE;
  *out = nullptr;
  char usb[260];
  copyString(usb, sizeof usb, usbPath);

  uint32_t w1 = 0, w2 = 0;
  uint32_t rc = isSelfToken(usb, &w1, &w2);
  if (rc) {
    log(rc == UKLR_DEV_NAME_INVALID ? "---->UKLR_DEV_NAME_INVALID......\n"
                                    : "---->uk_usb_IsSelfToken......\n");
    return rc;
  }

  // uk_mass_OpenDevice: interface path, device, device record, device mutex.
  char ifPath[260];
  rc = cdromPath(usb, ifPath, sizeof ifPath);
  if (rc) {
    log("---->GetCDROMPath ......\n");
    log("---->uk_mass_OpenDevice......\n");
    return rc;
  }

  bool brokered = host().useBrokeredChannel();
  uintptr_t handle = 0;
  uint32_t err;
  if (brokered) {
    uint32_t value = 0;
    err = brokerConnect(ifPath, &value);
    handle = value;
  } else {
    err = bus().open(ifPath, &handle);
  }
  if (err) {
    logCode("---->CreateFileA Error.Code is ", err);
    log("---->uk_mass_OpenDevice......\n");
    return UKLR_DEV_OPEN;
  }

  MASS_DEV_CTX *dev = static_cast<MASS_DEV_CTX *>(calloc(1, sizeof(MASS_DEV_CTX)));
  MASS_DEV_CTX tmp{handle, 0, uint8_t(brokered)};
  if (!dev) {
    closeDevice(&tmp);
    log("---->malloc MASS_DEV_CTX_PTR error");
    log("---->uk_mass_OpenDevice......\n");
    return UKLR_NO_MEMORY;
  }
  *dev = tmp;

  // The mutex is named after the USB path without its first five characters ("\\?\u").
  const char *mutexName = strlen(usb) > 5 ? usb + 5 : usb;
  uint32_t mutexError = 0;
  switch (host().openDeviceMutex(mutexName, &dev->mutex, &mutexError)) {
    case MutexFailure::None:
      break;
    case MutexFailure::Open:
      log("---->OpenMutex.......\n");
      closeDevice(dev);
      free(dev);
      log("---->uk_mass_OpenDevice......\n");
      return UKLR_DEV_MUTEX;
    case MutexFailure::Create:
      logCode("---->CreateMutex Error, code is ", mutexError);
      closeDevice(dev);
      free(dev);
      log("---->uk_mass_OpenDevice......\n");
      return UKLR_DEV_MUTEX;
  }

  UK_USB_DEV_CTX *conn = static_cast<UK_USB_DEV_CTX *>(calloc(1, sizeof(UK_USB_DEV_CTX)));
  if (!conn) {
    host().closeDeviceMutex(dev->mutex);
    closeDevice(dev);
    free(dev);
    log("---->malloc UK_USB_DEV_CTX_PTR error");
    return UKLR_NO_MEMORY;
  }
  conn->mass = dev;
  conn->selfWord1 = w1;
  conn->selfWord2 = w2;
  copyString(conn->path, sizeof conn->path, usb);
  conn->smFlags = 0;
  *out = conn;
  return UKLR_OK;
}

uint32_t closeConnection(UK_USB_DEV_CTX *conn) {
  if (!conn) return UKLR_PARAM_VALUE;
  if (MASS_DEV_CTX *dev = conn->mass) {
    closeDevice(dev);
    host().closeDeviceMutex(dev->mutex);
    free(dev);
  }
  // The record holds session keys and the transport key: wipe it before it goes back.
  volatile uint8_t *p = reinterpret_cast<volatile uint8_t *>(conn);
  for (size_t i = 0; i < sizeof *conn; ++i) p[i] = 0;
  free(conn);
  return UKLR_OK;
}

uint32_t exchangeFrame(MASS_DEV_CTX *dev, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                       uint32_t cap, uint32_t *respLen) {
  *respLen = 0;
  if (!host().waitDeviceMutex(dev->mutex, kDeviceMutexWaitMs)) {
    log("---->UKLR_DEV_BLOCK......\n");
    return UKLR_DEV_BLOCK;
  }
  uint32_t rc = UKLR_OK;
  if (dev->brokered) {
    // The service writes the frame and reads the answer in one request. A cycle that did not
    // reach the service fails like a write; an error the service reports fails like a read.
    uint32_t err = brokerRead(uint32_t(dev->device), frame, frameLen, resp, cap, respLen);
    if (err == kChannelFailure) {
      logCode("---->VendorUSBKeyDataInOut(Write) Error.Code is ", err);
      rc = UKLR_DEV_WRITE;
    } else if (err) {
      logCode("---->VendorUSBKeyDataInOut(Read) Error.Code is ", err);
      rc = UKLR_DEV_READ;
    }
  } else {
    uint8_t cdb[10];
    uint8_t out[kMaxFrame];
    uint32_t len = frameLen < sizeof out ? frameLen : uint32_t(sizeof out);
    memcpy(out, frame, len);
    uint32_t moved = 0;
    vendorCdb(false, len, cdb);
    uint32_t err = bus().scsi(dev->device, cdb, false, out, len, &moved);
    if (err) {
      logCode("---->VendorUSBKeyDataInOut(Write) Error.Code is ", err);
      rc = UKLR_DEV_WRITE;
    } else {
      uint32_t want = cap < kReadLength ? cap : kReadLength;
      vendorCdb(true, want, cdb);
      moved = 0;
      err = bus().scsi(dev->device, cdb, true, resp, want, &moved);
      if (err) {
        logCode("---->VendorUSBKeyDataInOut(Read) Error.Code is ", err);
        rc = UKLR_DEV_READ;
      } else {
        *respLen = moved < want ? moved : want;
      }
    }
  }
  host().releaseDeviceMutex(dev->mutex);
  return rc;
}

uint32_t sendApdu(UK_USB_DEV_CTX *conn, const uint8_t *apdu, uint32_t apduLen, uint8_t *resp,
                  uint32_t *respLen) {
  if (!conn || !conn->mass || !apdu || !resp || !respLen) return UKLR_PARAM_VALUE;

  // Frame the command (GenQ57Sendbuf).
  ApduParts parts;
  uint32_t rc = parseApdu(apdu, apduLen, &parts);
  if (rc) {
    if (rc == UKLR_DATA_LENGTH) log("---->UKLR_DATA_LENGTH......\n");
    log("---->GenQ57Sendbuf.\n");
    return rc;
  }

  uint8_t raw[kReadLength];
  uint32_t rawLen = 0;
  bool wrapped = smApplies(conn->smFlags, parts.cla);
  // The command and its response share the keys and the chaining value.
  SmContext sm{conn->smFlags, conn->keys, conn->keys + 32, conn->chaining};
  uint8_t data[kMaxWrappedData];
  uint32_t lc = parts.lc;
  const uint8_t *payload = parts.data;
  if (wrapped) {
    // A fresh card challenge chains this command and its response.
    static const uint8_t kGetChallenge[12] = {0x00, 0x0A, 0x00, 0x84, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
    rc = exchangeFrame(conn->mass, kGetChallenge, sizeof kGetChallenge, raw, sizeof raw, &rawLen);
    if (rc) {
      log("---->uk_usb_SendAPDUCmd......\n");
      return rc;
    }
    uint32_t frameLen = 0;
    if (checkResponseFrame(raw, rawLen, &frameLen) || frameLen < 12) {
      log("---->UKLR_DATA_LENGTH......\n");
      log("---->ParseQ57Recvbuf......\n");
      return UKLR_DATA_LENGTH;
    }
    uint8_t sw1 = raw[frameLen - 2], sw2 = raw[frameLen - 1];
    if (mapStatusWord(sw1, sw2)) {
      logSw(sw1, sw2);
      return mapStatusWord(sw1, sw2);
    }
    memcpy(conn->chaining, raw + 2, 8);
    smWrapCommand(sm, parts, data, &lc);
    payload = data;
  }

  uint8_t frame[kMaxFrame];
  uint32_t frameLen = buildFrame(parts.cla, parts.ins, parts.p1, parts.p2, payload, lc, parts.le,
                                 frame);
  rc = exchangeFrame(conn->mass, frame, frameLen, raw, sizeof raw, &rawLen);
  if (rc) {
    log("---->uk_usb_SendAPDUCmd......\n");
    return rc;
  }

  // Take the response apart (ParseQ57Recvbuf).
  uint32_t len = 0;
  if (checkResponseFrame(raw, rawLen, &len)) {
    log("---->UKLR_DATA_LENGTH......\n");
    log("---->ParseQ57Recvbuf......\n");
    return UKLR_DATA_LENGTH;
  }
  if (wrapped) {
    rc = smUnwrapResponse(sm, raw, &len);
    if (rc) {
      log("---->ParseQ57Recvbuf......\n");
      return rc;
    }
  }
  if (len > *respLen) {
    log("---->UKLR_BUFFER_TOO_SMALL......\n");
    log("---->ParseQ57Recvbuf......\n");
    return UKLR_BUFFER_TOO_SMALL;
  }
  memcpy(resp, raw, len);
  *respLen = len;
  uint8_t sw1 = raw[len - 2], sw2 = raw[len - 1];
  if (sw1 != 0x90) logSw(sw1, sw2);
  return mapStatusWord(sw1, sw2);
}

uint32_t openSecureChannel(UK_USB_DEV_CTX *conn, const uint8_t *key) {
  if (!conn) return UKLR_PARAM_VALUE;
  if (!key) {
    conn->smFlags = 0;
    conn->keyLen = 0;
    return UKLR_OK;
  }

  // Initialize update with the host challenge.
  uint8_t hc[8];
  hostChallenge(hc);
  uint8_t cmd[13] = {0x80, 0x50, 0x00, 0xFF, 0x08};
  memcpy(cmd + 5, hc, 8);
  uint8_t resp[256];
  uint32_t respLen = sizeof resp;
  uint32_t rc = sendApdu(conn, cmd, sizeof cmd, resp, &respLen);
  if (rc) return rc;
  if (respLen < 28 + 4) return UKLR_DATA_LENGTH;
  const uint8_t *div = resp + 2;  // diversification data (10), key information (2)
  const uint8_t *cc = resp + 2 + 12;
  const uint8_t *cardCryptogram = resp + 2 + 20;

  // Card keys diversified from the transport key.
  uint8_t block[16] = {0x00, 0x00, div[6], div[7], div[8], div[9], 0xF0, 0x01,
                       0x00, 0x00, div[6], div[7], div[8], div[9], 0x0F, 0x01};
  uint8_t k1[16], k2[16];
  tdesEcbEncrypt(key, block, 16, k1);
  block[7] = block[15] = 0x02;
  tdesEcbEncrypt(key, block, 16, k2);

  // Session keys.
  uint8_t deriv[16];
  memcpy(deriv, cc + 4, 4);
  memcpy(deriv + 4, hc, 4);
  memcpy(deriv + 8, cc, 4);
  memcpy(deriv + 12, hc + 4, 4);
  uint8_t sEnc[16], sMac[16];
  tdesEcbEncrypt(k1, deriv, 16, sEnc);
  tdesEcbEncrypt(k2, deriv, 16, sMac);

  static const uint8_t kZeroIv[8] = {};
  uint8_t in[24], out[24];
  memcpy(in, hc, 8);
  memcpy(in + 8, cc, 8);
  memcpy(in + 16, "\x80\0\0\0\0\0\0\0", 8);
  tdesCbcEncrypt(sEnc, kZeroIv, in, 24, out);
  bool match = memcmp(out + 16, cardCryptogram, 8) == 0;
  uint8_t hostCryptogram[8];
  memcpy(in, cc, 8);
  memcpy(in + 8, hc, 8);
  tdesCbcEncrypt(sEnc, kZeroIv, in, 24, out);
  memcpy(hostCryptogram, out + 16, 8);
  if (!match) {
    memset(sEnc, 0, 16);
    memset(sMac, 0, 16);
    memset(k1, 0, 16);
    memset(k2, 0, 16);
    return UKLR_AUTH_CMP;
  }

  // External authenticate (security level 03), MAC'd with S-MAC, sent unwrapped.
  uint8_t ext[7 + 16] = {0x84, 0x82, 0x03, 0x00, 0x00, 0x00, 0x10};
  memcpy(ext + 7, hostCryptogram, 8);
  memcpy(in, ext, 7);
  memcpy(in + 7, hostCryptogram, 8);
  in[15] = 0x80;
  tdesCbcEncrypt(sMac, kZeroIv, in, 16, out);
  memcpy(ext + 15, out + 8, 8);
  uint8_t saved = conn->smFlags;
  conn->smFlags = 0;
  respLen = 200;
  rc = sendApdu(conn, ext, sizeof ext, resp, &respLen);
  if (rc) {
    conn->smFlags = saved;
    memset(sEnc, 0, 16);
    memset(sMac, 0, 16);
    return rc;
  }

  memcpy(conn->keys, sEnc, 16);
  memcpy(conn->keys + 32, sMac, 16);
  memcpy(conn->keys + 64, key, 16);
  conn->keyLen = 16;
  conn->smFlags = UK_SM_MAC | UK_SM_ENC;
  memset(sEnc, 0, 16);
  memset(sMac, 0, 16);
  memset(k1, 0, 16);
  memset(k2, 0, 16);
  return UKLR_OK;
}

}  // namespace uk
