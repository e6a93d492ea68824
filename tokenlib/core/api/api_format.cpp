// Formatting: erases the token's file system and lays out the fixed tree every other operation
// assumes (MF, the PKI application DF01, its key file with the two external authentication keys
// and the two PINs, the label and the three index files).
#include <string.h>

#include "uk_card_keys.h"
#include "uk_commands.h"
#include "uk_frame.h"
#include "uk_platform.h"

namespace {

const uint8_t kMF[2] = {0x3F, 0x00};
const uint8_t kPkiDF[2] = {0xDF, 0x01};
const uint8_t kPkiDFName[12] = {0xA0, 0x00, 0x00, 0x00, 'c', 'P', 'K', 'C', 'S', '-', '1', '5'};
const char kDefaultUserPin[] = "482915";
const char kDefaultSoPin[] = "70361524";
// The default label goes out as 12 bytes: the ten characters and two zero bytes.
const char kDefaultLabel[] = "ORV-USBKEY";
constexpr uint32_t kMaxFormatPin = 16;
constexpr uint32_t kMaxFormatLabel = 63;
constexpr uint8_t kDefaultRetries = 10;

uk::FILE_ATTR dfAttr(const uint8_t fid[2]) {
  uk::FILE_ATTR a{};
  a.flags = uk::FA_VALID | uk::FA_FID;
  a.kind = uk::FK_DF;
  memcpy(a.fid, fid, 2);
  return a;
}

uk::FILE_ATTR indexAttr(uint8_t fidHi, uint8_t prop0) {
  uk::FILE_ATTR a{};
  a.flags = uk::FA_VALID | uk::FA_FID | uk::FA_SIZE | uk::FA_PROPRIETARY;
  a.kind = uk::FK_RECORD;
  a.fid[0] = fidHi;
  a.fid[1] = 0x00;
  a.size[0] = 0x00;
  a.size[1] = uint8_t(uk::kRecordSize);
  a.proprietary[0] = prop0;
  return a;
}

class Format {
 public:
  Format(UK_USB_DEV_CTX *c, void *window) : c_(c), window_(window) {}

  uint32_t run(const uint8_t *soPin, uint8_t soLen, uint8_t soRetries, const uint8_t *userPin,
               uint8_t userLen, uint8_t userRetries, const char *label) {
    // 1. Erase an existing file system; a token where 3F00 cannot be selected is blank.
    uk::host().sendProgress(window_);
    if (uk::selectFile(c_, kMF) == UKLR_OK) {
      uint32_t rc = uk::openSecureChannel(c_, uk::kTransportKey);
      if (rc != UKLR_OK) return fail(rc, "---->SetTransKey ......\n");
      rc = uk::deleteFile(c_, 0x00, kMF);
      if (rc != UKLR_OK) return fail(rc, "---->DelFile ......\n");
      progress();
    }
    // 2. A fresh secure channel for building the tree.
    uint32_t rc = uk::openSecureChannel(c_, uk::kTransportKey);
    if (rc != UKLR_OK) return fail(rc, "---->SetTransKey ......\n");
    progress();
    // 3, 4. MF and the PKI application DF.
    rc = uk::createFile(c_, dfAttr(kMF));
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreateCOSFile ......\n");
    progress();
    uk::FILE_ATTR df = dfAttr(kPkiDF);
    df.flags |= uk::FA_DFNAME;
    df.dfNameLen = sizeof kPkiDFName;
    memcpy(df.dfName, kPkiDFName, sizeof kPkiDFName);
    rc = uk::createFile(c_, df);
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreateCOSFile ......\n");
    progress();
    // 5. The key file.
    uk::FILE_ATTR akf{};
    akf.flags = uk::FA_VALID | uk::FA_FID | uk::FA_SIZE;
    akf.kind = uk::FK_KEYFILE;
    akf.fid[0] = 0x2F;
    akf.fid[1] = 0x02;
    akf.size[0] = 0x01;  // 256
    akf.size[1] = 0x00;
    rc = uk::createFile(c_, akf);
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreateCOSFile(AKF) ......\n");
    progress();
    // 6. The two external authentication keys.
    uk::PinInstall key{};
    key.ref = uk::KEY_EXT_AUTH1;
    key.access2 = 8;
    key.retries = 15;
    key.algClass = 1;
    rc = uk::installPin(c_, key, uk::kExtAuthKey1, sizeof uk::kExtAuthKey1);
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreatePIN(extern) ......\n");
    progress();
    key.ref = uk::KEY_EXT_AUTH2;
    rc = uk::installPin(c_, key, uk::kExtAuthKey2, sizeof uk::kExtAuthKey2);
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreatePIN(extern) ......\n");
    progress();
    // 7, 8. The user PIN (PIN1) and the SO PIN (PIN5), cut to 16 bytes, defaults when absent.
    rc = installPin(uk::PIN_USER, 9, userRetries, userPin, userLen, kDefaultUserPin);
    if (rc != UKLR_OK) return fail(rc, "---->CreatePIN(df01/PIN1)......\n");
    progress();
    rc = installPin(uk::PIN_SO, 8, soRetries, soPin, soLen, kDefaultSoPin);
    if (rc != UKLR_OK) return fail(rc, "---->CreatePIN(df01/PIN5)......\n");
    progress();
    // 9. The label, cut to 63 characters.
    if (label && *label)
      rc = uk::setLabel(c_, reinterpret_cast<const uint8_t *>(label),
                        uint32_t(strnlen(label, kMaxFormatLabel)));
    else
      rc = uk::setLabel(c_, reinterpret_cast<const uint8_t *>(kDefaultLabel),
                        sizeof kDefaultLabel);  // the text and its zero; setLabel adds one more
    if (rc != UKLR_OK) return fail(rc, "---->uk_dev_SetDevLabel......\n");
    progress();
    // 10. Container index and symmetric-key index.
    rc = uk::createFile(c_, indexAttr(0x50, 0x10));
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreateCOSFile(AKF) ......\n");
    progress();
    rc = uk::createFile(c_, indexAttr(0x60, 0x10));
    if (rc != UKLR_OK) return fail(rc, "---->uk_CreateCOSFile(AKF) ......\n");
    progress();
    // 11. Data-object index: a failure is reported but the format finishes.
    rc = uk::createFile(c_, indexAttr(0x70, 0x08));
    if (rc != UKLR_OK) uk::log("---->uk_CreateCOSFile(AKF) ......\n");
    progress();
    // 12. Leave the application DF current.
    uk::selectFile(c_, kMF);
    uk::selectFile(c_, kPkiDF);
    return rc;
  }

 private:
  void progress() {
    if (window_) uk::host().sendProgress(window_);
  }
  static uint32_t fail(uint32_t rc, const char *line) {
    uk::log(line);
    return rc;
  }
  uint32_t installPin(uint8_t ref, uint8_t access2, uint8_t retries, const uint8_t *pin,
                      uint8_t len, const char *fallback) {
    uk::PinInstall e{};
    e.ref = ref;
    e.access2 = access2;
    e.retries = retries ? retries : kDefaultRetries;
    if (!pin || len == 0) {
      pin = reinterpret_cast<const uint8_t *>(fallback);
      len = uint8_t(strlen(fallback));
    }
    if (len > kMaxFormatPin) len = kMaxFormatPin;
    return uk::installPin(c_, e, pin, len);
  }

  UK_USB_DEV_CTX *c_;
  void *window_;
};

}  // namespace

extern "C" {

uint32_t UKAPI zksTokenFormatDevice(UK_DEV_INFO *dev, void *progressWnd, const uint8_t *soPin,
                                    uint32_t soLen, uint32_t soRetries, const uint8_t *userPin,
                                    uint32_t userLen, uint32_t userRetries, uint32_t,
                                    const char *label, uint32_t, uint32_t) {
  uk::ExportFrame f("zksTokenFormatDevice", false, false);
  if (!dev || !uk::connectionOf(dev)) return f.paramError();
  Format format(uk::connectionOf(dev), progressWnd);
  return format.run(soPin, uint8_t(soLen), uint8_t(soRetries), userPin, uint8_t(userLen),
                    uint8_t(userRetries), label);
}
}
