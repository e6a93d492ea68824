// The session side of the tool: listing and choosing the token, the device-exclusive lock,
// connecting, the user PIN login, and the switch that runs one command.
#include "tool_cmds.h"

namespace ukt {

const char *toolVersion() { return "ukeytool 1.0"; }

namespace cli {

int Tool::begin() {
  std::string why;
  if (!pins_.load(why)) return fail(kExitFailed, why);
  pf_.armInterrupt(true);
  if (int rc = lockDevices()) return rc;
  memset(devs_, 0, sizeof devs_);
  count_ = kMaxTokens;
  uint32_t rc = zksTokenListDevices(UK_PROJECT_NAME, devs_, &count_);
  trace("zksTokenListDevices", rc);
  if (rc != UKLR_OK) return failRc("cannot list the tokens", rc);
  if (count_ > kMaxTokens) count_ = kMaxTokens;
  return kExitOk;
}

int Tool::lockDevices() {
  std::string why;
  DeviceLock r = pf_.lockDevices(kLockQuietMs, why);
  if (r == DeviceLock::Busy) {
    pf_.err("ukeytool: waiting for another program using the token...\n");
    for (uint32_t waited = kLockQuietMs;
         r == DeviceLock::Busy && !pf_.interrupted() && waited < kLockLimitMs; waited += kLockSliceMs)
      r = pf_.lockDevices(kLockSliceMs, why);
  }
  if (r == DeviceLock::Taken && pf_.interrupted()) {
    pf_.unlockDevices();
    r = DeviceLock::Busy;
  }
  switch (r) {
    case DeviceLock::Taken:
      locked_ = true;
      return kExitOk;
    case DeviceLock::Busy:
      if (pf_.interrupted()) return fail(kExitCancelled, "cancelled; the token was not used");
      return fail(kExitFailed, "another program is still using the token after " +
                                   std::to_string(kLockLimitMs / 1000) +
                                   " seconds; try again when it has finished");
    case DeviceLock::Failed:
      break;
  }
  return fail(kExitFailed, "cannot take the device mutex: " + why);
}

uint32_t Tool::connect(UK_DEV_INFO *d) {
  uint32_t rc = zksTokenConnect(d, 1);
  trace("zksTokenConnect", rc);
  if (rc == UKLR_OK) {
    dev_ = d;
    connected_ = true;
  }
  return rc;
}

void Tool::disconnect() {
  if (!connected_) return;
  if (loggedIn_) {
    trace("zksTokenResetUserPinVerifyFlag", zksTokenResetUserPinVerifyFlag(dev_));
    loggedIn_ = false;
  }
  trace("zksTokenDisconnect", zksTokenDisconnect(dev_));
  connected_ = false;
}

void Tool::end() {
  disconnect();
  if (locked_) {
    pf_.unlockDevices();
    locked_ = false;
  }
  pf_.armInterrupt(false);
}

bool Tool::readSerial(UK_DEV_INFO *d, std::string &serial) {
  char sn[64] = {0};
  uint32_t len = 0;
  uint32_t rc = zksTokenGetSn(d, sn, &len);
  trace("zksTokenGetSn", rc);
  if (rc != UKLR_OK) return false;
  serial = fieldText(sn, len < 31 ? len : 31);
  return true;
}

// Chooses the token of -t (an index of 'list' or a serial number), or the only one attached,
// and connects to it.
int Tool::selectToken() {
  const std::string &t = opt_.token;
  UK_DEV_INFO *chosen = nullptr;
  if (t.empty()) {
    if (count_ == 0) return fail(kExitToken, "no token attached");
    if (count_ > 1) {
      char b[96];
      snprintf(b, sizeof b, "%u tokens attached; choose one with -t INDEX or -t SERIAL",
               static_cast<unsigned>(count_));
      return fail(kExitToken, std::string(b) + " (see 'ukeytool list')");
    }
    chosen = &devs_[0];
  } else {
    uint32_t index = 0;
    if (t.size() <= 2 && parseUnsigned(t, 1, 99, index)) {
      if (index > count_) {
        char b[96];
        snprintf(b, sizeof b, "no token number %u (%u attached)", static_cast<unsigned>(index),
                 static_cast<unsigned>(count_));
        return fail(kExitToken, b);
      }
      chosen = &devs_[index - 1];
    } else {
      // A USB instance path usually carries the serial number ("...#SERIAL#{...}"): try the
      // token whose path names it first, so that other tokens are not touched at all; then
      // every token in turn.
      auto upper = [](std::string s) {
        for (char &ch : s) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        return s;
      };
      const std::string want = upper("#" + t + "#");
      for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t i = 0; i < count_ && !chosen; ++i) {
          if (pass == 0 &&
              upper(fieldText(devs_[i].devicePath, sizeof devs_[i].devicePath)).find(want) ==
                  std::string::npos)
            continue;
          if (connect(&devs_[i]) != UKLR_OK) continue;
          std::string sn;
          if (readSerial(&devs_[i], sn) && sn == t) chosen = &devs_[i];
          disconnect();
        }
      }
      if (!chosen) {
        char b[64];
        snprintf(b, sizeof b, " (%u attached)", static_cast<unsigned>(count_));
        return fail(kExitToken, "no token with serial number '" + t + "'" + b);
      }
    }
  }
  uint32_t rc = connect(chosen);
  if (rc != UKLR_OK) return failRc("cannot connect to the token", rc);
  if (!readSerial(chosen, serial_)) serial_.clear();
  return kExitOk;
}

int Tool::selectDf() {
  uint32_t rc = zksTokenSelectPkiWorkDF(dev_, 0);
  trace("zksTokenSelectPkiWorkDF", rc);
  if (rc != UKLR_OK) return failRc("cannot select the token's PKI application (not formatted?)", rc);
  return kExitOk;
}

// The start of every command on one token: the device mutex, the token list and the chosen
// token; openPki() also selects its PKI application.
int Tool::openToken() {
  int e = begin();
  if (!e) e = selectToken();
  return e;
}

int Tool::openPki() {
  int e = openToken();
  if (!e) e = selectDf();
  return e;
}

int Tool::pinFailure(const char *which, uint32_t rc, uint8_t tries, bool triesValid) {
  if (UKLR_IS_WRONG_PIN(rc) && rc <= 0x800063CFu) {
    unsigned left = triesValid ? tries : (rc & 0x0F);
    char b[128];
    if (left == 0)
      snprintf(b, sizeof b, "wrong %s; no tries left, the PIN is now blocked", which);
    else
      snprintf(b, sizeof b, "wrong %s; %u %s left", which, left, left == 1 ? "try" : "tries");
    return fail(kExitPin, b);
  }
  if (rc == kPinBlocked) {
    std::string hint = strcmp(which, "user PIN") == 0 ? "; reset it with 'ukeytool pin unlock'" : "";
    return fail(kExitPin, std::string("the ") + which + " is blocked" + hint);
  }
  return failRc(std::string("cannot verify the ") + which, rc);
}

int Tool::login() {
  if (loggedIn_) return kExitOk;
  std::string pin, why;
  if (!pins_.get("user PIN", false, pin, why))
    return pinEntryFailed(why);
  uint8_t tries = 0xFF;
  uint32_t rc = zksTokenVerifyUserPin(dev_, reinterpret_cast<const uint8_t *>(pin.data()),
                                      static_cast<uint32_t>(pin.size()), &tries);
  trace("zksTokenVerifyUserPin", rc);
  if (rc != UKLR_OK) return pinFailure("user PIN", rc, tries, tries != 0xFF);
  loggedIn_ = true;
  return kExitOk;
}


int Tool::findContainer(const std::string &name, UK_CONTAINER_INFO &cont, bool &found) {
  found = false;
  std::string local = pf_.toLocal(name);
  if (local.empty() || local.size() > kMaxNameChars)
    return fail(kExitUsage, "a container name has 1 to 79 characters");
  memset(&cont, 0, sizeof cont);
  memcpy(cont.name, local.data(), local.size());
  uint32_t rc = zksTokenGetContainerByName(dev_, &cont, local.c_str());
  trace("zksTokenGetContainerByName", rc);
  if (rc == UKLR_OBJ_NOT_FOUND) return kExitOk;
  if (rc != UKLR_OK) return failRc("cannot look up container '" + name + "'", rc);
  // The library leaves the name as given; keep it terminated whatever it wrote.
  cont.name[sizeof cont.name - 1] = 0;
  found = true;
  return kExitOk;
}

// The key pair named by --keyspec, or the only key pair (certificate) the container holds.
int Tool::chooseKeySpec(const UK_CONTAINER_INFO &cont, bool certificate, const char *what,
                     int &keySpec) {
  uint8_t exBit = certificate ? UK_CONT_EX_CERT : UK_CONT_EX_KEY;
  uint8_t sigBit = certificate ? UK_CONT_SIG_CERT : UK_CONT_SIG_KEY;
  bool ex = cont.flags & exBit, sig = cont.flags & sigBit;
  std::string name = pf_.fromLocal(fieldText(cont.name, sizeof cont.name));
  if (opt_.keySpec) {
    keySpec = opt_.keySpec;
    if (!(keySpec == UK_KEYSPEC_EXCHANGE ? ex : sig))
      return fail(kExitFailed, "container '" + name + "' has no " + keySpecName(keySpec) + " " + what);
    return kExitOk;
  }
  if (ex && sig)
    return fail(kExitUsage, "container '" + name + "' has two " + what +
                                "s; choose one with --keyspec exchange or --keyspec signature");
  if (!ex && !sig) return fail(kExitFailed, "container '" + name + "' has no " + what);
  keySpec = ex ? UK_KEYSPEC_EXCHANGE : UK_KEYSPEC_SIGNATURE;
  return kExitOk;
}

// The container named by the first argument, which must exist, and the key pair (or
// certificate) of it the command works on.
int Tool::openKeyPair(bool certificate, const char *what, UK_CONTAINER_INFO &cont, int &keySpec) {
  bool found = false;
  int e = findContainer(opt_.args[0], cont, found);
  if (e) return e;
  if (!found) return fail(kExitFailed, "no container named '" + opt_.args[0] + "'");
  return chooseKeySpec(cont, certificate, what, keySpec);
}

bool Tool::writeOut(const std::string &path, const std::vector<uint8_t> &data, int &exitCode) {
  std::string why;
  if (!pf_.writeFile(path, data, why)) {
    exitCode = fail(kExitFailed, "cannot write '" + path + "': " + why);
    return false;
  }
  return true;
}

bool Tool::confirm(const std::string &question, int &exitCode) {
  if (opt_.force) return true;
  if (!pf_.stdinIsConsole()) {
    exitCode = fail(kExitUsage, "no console to confirm on; add --force to go ahead");
    return false;
  }
  std::string answer;
  if (!pf_.readLine(question, answer) || (answer != "yes" && answer != "y" && answer != "YES")) {
    exitCode = fail(kExitCancelled, "not confirmed; nothing was changed");
    return false;
  }
  return true;
}

int Tool::run() {
  int e;
  switch (opt_.cmd) {
    case Cmd::List: e = cmdList(); break;
    case Cmd::Show: e = cmdShow(); break;
    case Cmd::PinVerify: e = cmdPinVerify(); break;
    case Cmd::PinChange: e = cmdPinChange(); break;
    case Cmd::PinUnlock: e = cmdPinUnlock(); break;
    case Cmd::Format: e = cmdFormat(); break;
    case Cmd::SetLabel: e = cmdSetLabel(); break;
    case Cmd::ExportCert: e = cmdExportCert(); break;
    case Cmd::ExportPubKey: e = cmdExportPubKey(); break;
    case Cmd::ImportCert: e = cmdImportCert(); break;
    case Cmd::DataWrite: e = cmdDataWrite(); break;
    case Cmd::SymGenerate: e = cmdSymGenerate(); break;
    case Cmd::GenKey: e = cmdGenKey(); break;
    case Cmd::Sign: e = cmdSign(); break;
    case Cmd::DataList: e = cmdRecordList<DataObjects>(false); break;
    case Cmd::DataRead: e = cmdRecordRead<DataObjects>(); break;
    case Cmd::DataDelete: e = cmdRecordDelete<DataObjects>(); break;
    case Cmd::SymList: e = cmdRecordList<SymKeys>(false); break;
    case Cmd::SymRead: e = cmdRecordRead<SymKeys>(); break;
    case Cmd::SymDelete: e = cmdRecordDelete<SymKeys>(); break;
    default: e = fail(kExitUsage, "nothing to do"); break;
  }
  end();
  return e;
}

}  // namespace cli

int runTool(int argc, const char *const *argv, Platform &pf) {
  Options opt;
  std::string error;
  if (!parseArgs(argc, argv, opt, error)) {
    pf.err("ukeytool: " + error + "\nTry 'ukeytool --help'.\n");
    return kExitUsage;
  }
  if (opt.cmd == Cmd::Version) {
    pf.out(std::string(toolVersion()) + "\n");
    return kExitOk;
  }
  if (opt.cmd == Cmd::Help) {
    pf.out(opt.helpFor == Cmd::None ? usageText() : commandHelp(opt.helpFor));
    return kExitOk;
  }
  cli::Tool tool(pf, opt);
  return tool.run();
}

}  // namespace ukt
