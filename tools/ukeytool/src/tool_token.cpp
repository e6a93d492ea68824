// The token and PIN commands: list, show, pin verify/change/unlock, format, set label.
#include "tool_cmds.h"

namespace ukt {
namespace cli {

// ---- list and show -------------------------------------------------------------------------

int Tool::cmdList() {
  int rcExit = begin();
  if (rcExit) return rcExit;
  uint32_t first = 0, last = count_;
  if (!opt_.token.empty()) {
    if ((rcExit = selectToken())) return rcExit;
    first = static_cast<uint32_t>(dev_ - devs_);
    last = first + 1;
    disconnect();
  }
  if (count_ == 0) {
    say("No token attached.\n");
    return kExitOk;
  }
  int result = kExitOk;
  for (uint32_t i = first; i < last; ++i) {
    UK_DEV_INFO *d = &devs_[i];
    char head[320];
    snprintf(head, sizeof head, "[%u] %s\n", static_cast<unsigned>(i + 1),
             fieldText(d->displayName, sizeof d->displayName).c_str());
    say(head);
    uint32_t rc = connect(d);
    if (rc != UKLR_OK) {
      say("    error:       cannot connect: " + resultText(rc) + " (" + hex32(rc) + ")\n");
      result = kExitFailed;
      continue;
    }
    std::string sn;
    if (readSerial(d, sn)) say("    serial:      " + sn + "\n");
    else say("    serial:      (unreadable)\n"), result = kExitFailed;

    char label[128] = {0};
    uint32_t len = sizeof label;
    rc = zksTokenGetDeviceLabel(d, label, &len);
    trace("zksTokenGetDeviceLabel", rc);
    if (rc == UKLR_OK)
      say("    label:       " + pf_.fromLocal(fieldText(label, len < sizeof label ? len : sizeof label - 1)) + "\n");
    else
      say("    label:       (unreadable: " + resultText(rc) + ")\n"), result = kExitFailed;

    uint8_t cos[64] = {0};
    len = 16;
    rc = zksTokenGetCosVersion(d, cos, &len);
    trace("zksTokenGetCosVersion", rc);
    if (rc == UKLR_OK) say("    COS version: " + cosVersionText(cos, 16) + "\n");
    else say("    COS version: (unreadable: " + resultText(rc) + ")\n"), result = kExitFailed;

    uint32_t pinChanged = 0xFFFFFFFFu;
    uint8_t usable = 0xFF, third = 0xFF;
    rc = zksTokenSelectPkiWorkDF(d, 0);
    trace("zksTokenSelectPkiWorkDF", rc);
    if (rc == UKLR_OK) {
      rc = zksTokenGetDeviceInfo(d, &pinChanged, &usable, &third, 0);
      trace("zksTokenGetDeviceInfo", rc);
    }
    if (rc == UKLR_OK) {
      if (pinChanged == 0)
        say(std::string("    user PIN:    not changed since formatting (factory default for this "
                        "serial: ") +
            (sn.empty() ? "unknown" : defaultUserPinFor(sn)) + ")\n");
      else
        say("    user PIN:    changed from the factory default\n");
      say(usable == 0 ? "    state:       locked (user PIN blocked)\n" : "    state:       ready\n");
    } else {
      say("    PIN state:   (unreadable: " + resultText(rc) + ")\n");
      result = kExitFailed;
    }
    disconnect();
  }
  return result;
}

int Tool::showContainers() {
  UK_CONTAINER_INFO conts[8];
  memset(conts, 0, sizeof conts);
  uint32_t n = 5;
  int exitCode = kExitOk;
  uint32_t rc = withLogin([&] {
    n = 5;
    return zksTokenListContainers(dev_, conts, &n);
  }, exitCode);
  if (exitCode) return exitCode;
  trace("zksTokenListContainers", rc);
  if (rc != UKLR_OK) return failRc("cannot list the containers", rc);
  if (n > 5) n = 5;
  char b[160];
  snprintf(b, sizeof b, "Containers: %u\n", static_cast<unsigned>(n));
  say(b);
  int result = kExitOk;
  for (uint32_t i = 0; i < n; ++i) {
    UK_CONTAINER_INFO &c = conts[i];
    c.name[sizeof c.name - 1] = 0;
    uint8_t idArea[128];
    idArea[0] = c.idLen;
    memcpy(idArea + 1, c.id, sizeof c.id);
    snprintf(b, sizeof b, "  [%u] ", static_cast<unsigned>(c.recordNumber));
    say(b + pf_.fromLocal(fieldText(c.name, 80)) + "\n");
    say("      ID: " + idAreaText(idArea, 80) + "\n");
    for (int keySpec = UK_KEYSPEC_EXCHANGE; keySpec <= UK_KEYSPEC_SIGNATURE; ++keySpec) {
      bool key = c.flags & (keySpec == 1 ? UK_CONT_EX_KEY : UK_CONT_SIG_KEY);
      bool cert = c.flags & (keySpec == 1 ? UK_CONT_EX_CERT : UK_CONT_SIG_CERT);
      unsigned units = keySpec == 1 ? c.exKeyUnits : c.sigKeyUnits;
      if (!key && !cert) continue;
      if (key)
        snprintf(b, sizeof b, "      %s key pair: RSA %u bits\n", keySpecName(keySpec), units * 1024);
      else
        snprintf(b, sizeof b, "      %s key pair: none\n", keySpecName(keySpec));
      say(b);
      if (!cert) continue;
      std::vector<uint8_t> buf(4096);
      uint32_t len = static_cast<uint32_t>(buf.size());
      rc = zksTokenReadCert(dev_, &c, buf.data(), &len, static_cast<uint32_t>(keySpec));
      trace("zksTokenReadCert", rc);
      if (rc != UKLR_OK || len > buf.size()) {
        say("      certificate: unreadable: " + resultText(rc) + " (" + hex32(rc) + ")\n");
        result = kExitFailed;
        continue;
      }
      der::CertSummary cs;
      std::string why;
      if (!der::parseCertificate(buf.data(), len, cs, why)) {
        say("      certificate: " + std::string(why) + "\n");
        result = kExitFailed;
        continue;
      }
      std::string now = pf_.utcNow();
      const char *state = now < cs.notBefore ? " (not yet valid)"
                          : now > cs.notAfter ? " (expired)" : "";
      say("      certificate:\n");
      say("        subject:    " + cs.subject + "\n");
      say("        issuer:     " + cs.issuer + "\n");
      say("        serial:     " + cs.serialHex + "\n");
      say("        valid from: " + der::timeDisplay(cs.notBefore) + "\n");
      say("        valid to:   " + der::timeDisplay(cs.notAfter) + state + "\n");
    }
  }
  return result;
}

int Tool::cmdShow() {
  int e = openPki();
  if (e) return e;
  say("Token " + serial_ + "\n");
  int r1 = showContainers();
  if (r1 == kExitPin || r1 == kExitCancelled || r1 == kExitUsage) return r1;
  int r2 = cmdRecordList<SymKeys>(true);
  if (r2 == kExitPin || r2 == kExitCancelled || r2 == kExitUsage) return r2;
  int r3 = cmdRecordList<DataObjects>(true);
  return r1 ? r1 : r2 ? r2 : r3;
}

// ---- PINs ----------------------------------------------------------------------------------

int Tool::cmdPinVerify() {
  int e = openPki();
  if (e) return e;
  const char *which = opt_.so ? "administrator PIN" : "user PIN";
  std::string pin, why;
  if (!pins_.get(which, false, pin, why))
    return pinEntryFailed(why);
  uint8_t tries = 0xFF;
  const uint8_t *p = reinterpret_cast<const uint8_t *>(pin.data());
  uint32_t n = static_cast<uint32_t>(pin.size());
  uint32_t rc = opt_.so ? zksTokenVerifySoPin(dev_, p, n, &tries)
                        : zksTokenVerifyUserPin(dev_, p, n, &tries);
  trace(opt_.so ? "zksTokenVerifySoPin" : "zksTokenVerifyUserPin", rc);
  if (rc != UKLR_OK) return pinFailure(which, rc, tries, tries != 0xFF);
  if (!opt_.so) loggedIn_ = true;  // logged out again at the end
  say(std::string("The ") + which + " is correct.\n");
  return kExitOk;
}

int Tool::cmdPinChange() {
  int e = openPki();
  if (e) return e;
  const char *which = opt_.so ? "administrator PIN" : "user PIN";
  std::string oldPin, newPin, why;
  if (!pins_.get(std::string("current ") + which, false, oldPin, why) ||
      !pins_.get(std::string("new ") + which, true, newPin, why))
    return pinEntryFailed(why);
  uint8_t tries = 0xFF;
  const uint8_t *o = reinterpret_cast<const uint8_t *>(oldPin.data());
  const uint8_t *nw = reinterpret_cast<const uint8_t *>(newPin.data());
  uint32_t ol = static_cast<uint32_t>(oldPin.size()), nl = static_cast<uint32_t>(newPin.size());
  uint32_t rc = opt_.so ? zksTokenModifySoPin(dev_, o, ol, nw, nl, &tries)
                        : zksTokenModifyUserPin(dev_, o, ol, nw, nl, &tries);
  trace(opt_.so ? "zksTokenModifySoPin" : "zksTokenModifyUserPin", rc);
  if (rc != UKLR_OK) {
    if (UKLR_IS_WRONG_PIN(rc) || rc == kPinBlocked)
      return pinFailure((std::string("current ") + which).c_str(), rc, tries, tries != 0xFF);
    return failRc(std::string("cannot change the ") + which, rc);
  }
  if (!opt_.so) loggedIn_ = true;
  say(std::string("The ") + which + " was changed.\n");
  return kExitOk;
}

int Tool::cmdPinUnlock() {
  int e = openPki();
  if (e) return e;
  std::string soPin, newPin, why;
  if (!pins_.get("administrator PIN", false, soPin, why) ||
      !pins_.get("new user PIN", true, newPin, why))
    return pinEntryFailed(why);
  uint32_t rc = zksTokenUnlockUserPin(dev_, reinterpret_cast<const uint8_t *>(soPin.data()),
                                      static_cast<uint32_t>(soPin.size()),
                                      reinterpret_cast<const uint8_t *>(newPin.data()),
                                      static_cast<uint32_t>(newPin.size()));
  trace("zksTokenUnlockUserPin", rc);
  if (rc != UKLR_OK) {
    // The export has no tries-left output; a wrong administrator PIN carries them in the code.
    if (UKLR_IS_WRONG_PIN(rc) || rc == kPinBlocked)
      return pinFailure("administrator PIN", rc, 0, false);
    return failRc("cannot unlock the user PIN", rc);
  }
  say("The user PIN was reset and unlocked.\n");
  return kExitOk;
}

// ---- format and label ----------------------------------------------------------------------

int Tool::cmdFormat() {
  std::string label;
  if (!opt_.label.empty()) {
    label = pf_.toLocal(opt_.label);
    if (label.size() > kMaxFormatLabelBytes)
      return fail(kExitUsage, "the label has more than 63 bytes");
  }
  int e = openToken();
  if (e) return e;
  std::string userPin = defaultUserPinFor(serial_), soPin = kFactorySoPin, why;
  if (opt_.setPins) {
    if (!pins_.get("new user PIN", true, userPin, why) ||
        !pins_.get("new administrator PIN", true, soPin, why))
      return pinEntryFailed(why);
  }
  if (!confirm("Formatting erases every key, certificate and object on token " + serial_ +
                   ". Type 'yes' to go ahead: ",
               e))
    return e;
  int userRetries = opt_.retries > 0 ? opt_.retries : kFormatRetries;
  int soRetries = opt_.soRetries > 0 ? opt_.soRetries : kFormatRetries;
  say("Formatting token " + serial_ + "...\n");
  uint32_t rc = zksTokenFormatDevice(
      dev_, nullptr, reinterpret_cast<const uint8_t *>(soPin.data()),
      static_cast<uint32_t>(soPin.size()), static_cast<uint32_t>(soRetries),
      reinterpret_cast<const uint8_t *>(userPin.data()), static_cast<uint32_t>(userPin.size()),
      static_cast<uint32_t>(userRetries), 0, label.empty() ? nullptr : label.c_str(), 0, 0);
  trace("zksTokenFormatDevice", rc);
  if (rc != UKLR_OK) return failRc("formatting failed (the token may be half formatted; format it again)", rc);
  char b[160];
  snprintf(b, sizeof b, "Token formatted: %d tries for the user PIN, %d for the administrator PIN%s.\n",
           userRetries, soRetries,
           opt_.setPins ? "" : "; factory default PINs set");
  say(b);
  return kExitOk;
}

int Tool::cmdSetLabel() {
  std::string label = pf_.toLocal(opt_.args[0]);
  if (label.empty() || label.size() > kMaxLabelBytes)
    return fail(kExitUsage, "a label has 1 to 64 bytes");
  int e = openToken();
  if (e) return e;
  uint32_t rc = zksTokenModifyDeviceLabel(dev_, label.c_str(), static_cast<uint32_t>(label.size()));
  trace("zksTokenModifyDeviceLabel", rc);
  if (rc != UKLR_OK) return failRc("cannot change the label", rc);
  say("Label of token " + serial_ + " set to '" + opt_.args[0] + "'.\n");
  return kExitOk;
}


}  // namespace cli
}  // namespace ukt
