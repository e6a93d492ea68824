#include "tool.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "args.h"
#include "der.h"
#include "text.h"
#include "uk_tokenlib.h"
#include "ukcrypto/hash.h"

namespace ukt {

const char *toolVersion() { return "ukeytool 1.0"; }

namespace {

const uint32_t kMaxTokens = 8;
const uint32_t kSecurityNotSatisfied = UKLR_SW(0x6982);
const uint32_t kPinBlocked = UKLR_SW(0x6983);
// A format without --set-pins returns the token to its factory state: the factory user PIN of
// its serial number (the one the guide expects as the old PIN), the library's default SO PIN and
// 10 tries each. The client manager's length rule for new PINs.
const char kFactorySoPin[] = "70361524";
const int kFormatRetries = 10;
const size_t kNewPinMin = 6, kNewPinMax = 10;
const size_t kMaxLabelBytes = 64;        // the client manager's limit
const size_t kMaxFormatLabelBytes = 63;  // the format stores at most 63
const size_t kMaxNameChars = 79;         // container names and object names
// The device-exclusive mutex: a hold shorter than the first wait goes unmentioned; a longer one
// is announced and waited for in slices (so that Ctrl+C ends it) up to the limit, as long as the
// token library itself waits for another process's exchange on a device.
const uint32_t kLockQuietMs = 1000;
const uint32_t kLockSliceMs = 250;
const uint32_t kLockLimitMs = 120000;

std::string hex32(uint32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
  return b;
}

const char *keySpecName(int keySpec) { return keySpec == UK_KEYSPEC_SIGNATURE ? "signature" : "exchange"; }

const char *symAlgName(uint8_t alg) {
  switch (alg) {
    case UK_SYM_ALG_DES: return "DES, 8-byte key";
    case UK_SYM_ALG_3DES_112: return "Triple-DES, 16-byte key";
    case UK_SYM_ALG_3DES: return "Triple-DES, 24-byte key";
    case UK_SYM_ALG_1: return "algorithm 1 (class 7), 16-byte key";
    case UK_SYM_ALG_2: return "algorithm 2 (class 6), 16-byte key";
    case UK_SYM_ALG_20: return "algorithm 20 (class 5), 16-byte key";
    case UK_SYM_ALG_21: return "algorithm 21 (class 5), 24-byte key";
    case UK_SYM_ALG_22: return "algorithm 22 (class 5), 32-byte key";
    default: return "unknown algorithm";
  }
}
uint32_t symKeyLength(uint8_t alg) {
  switch (alg) {
    case UK_SYM_ALG_DES: return 8;
    case UK_SYM_ALG_3DES: case UK_SYM_ALG_21: return 24;
    case UK_SYM_ALG_22: return 32;
    default: return 16;
  }
}

// The two kinds of records of the PKI application besides containers: what their commands say
// and which exports they call. At most kMaxRecords of each.
const uint32_t kMaxRecords = 8;

struct DataObjects {
  typedef UK_DATA_OBJECT_INFO Rec;
  static constexpr const char *kNoun = "data object";
  static constexpr const char *kNounTitle = "Data object";
  static constexpr const char *kNouns = "data objects";
  static constexpr const char *kNounsTitle = "Data objects";
  static constexpr const char *kListCall = "zksTokenListDataObject";
  static constexpr const char *kReadCall = "zksTokenReadDataObject";
  static constexpr const char *kDeleteCall = "zksTokenDeleteDataObject";
  static constexpr size_t kReadBuffer = 256;
  static uint32_t list(UK_DEV_INFO *d, Rec *r, uint32_t *n) { return zksTokenListDataObject(d, r, n); }
  static uint32_t read(UK_DEV_INFO *d, Rec *r, uint8_t *buf, uint32_t &len) {
    len = static_cast<uint32_t>(kReadBuffer);
    return zksTokenReadDataObject(d, r, buf, &len);
  }
  static uint32_t remove(UK_DEV_INFO *d, Rec *r) { return zksTokenDeleteDataObject(d, r); }
  static std::string details(const Rec &r) { return r.attrFlag ? "  private" : ""; }
  static std::string badLength(const Rec &, uint32_t len) {
    return len > kReadBuffer ? "the library reported an impossible object length" : "";
  }
  static std::string display(const std::vector<uint8_t> &v) { return hexDump(v.data(), v.size()); }
};

struct SymKeys {
  typedef UK_SYM_KEY_INFO Rec;
  static constexpr const char *kNoun = "symmetric key";
  static constexpr const char *kNounTitle = "Symmetric key";
  static constexpr const char *kNouns = "symmetric keys";
  static constexpr const char *kNounsTitle = "Symmetric keys";
  static constexpr const char *kListCall = "zksTokenListSymKey";
  static constexpr const char *kReadCall = "zksTokenReadSymKey";
  static constexpr const char *kDeleteCall = "zksTokenDeleteSymKey";
  static constexpr size_t kReadBuffer = 256;
  static uint32_t list(UK_DEV_INFO *d, Rec *r, uint32_t *n) { return zksTokenListSymKey(d, r, n); }
  static uint32_t read(UK_DEV_INFO *d, Rec *r, uint8_t *buf, uint32_t &len) {
    len = 0;
    return zksTokenReadSymKey(d, r, buf, &len);
  }
  static uint32_t remove(UK_DEV_INFO *d, Rec *r) { return zksTokenDeleteSymKey(d, r); }
  static std::string details(const Rec &r) {
    return std::string("  ") + symAlgName(r.algId) + (r.attrFlag ? "  flagged" : "");
  }
  static std::string badLength(const Rec &r, uint32_t len) {
    if (len != 0 && len <= symKeyLength(r.algId)) return "";
    return "the library returned a key of unexpected length " + std::to_string(len);
  }
  static std::string display(const std::vector<uint8_t> &v) { return hex(v.data(), v.size()) + "\n"; }
};

bool endsWithNoCase(const std::string &s, const char *suffix) {
  size_t n = strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char a = s[s.size() - n + i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// Where PINs come from: the lines of a file or of standard input, the command line, or the
// console without echo.
class PinSource {
 public:
  PinSource(Platform &pf, const Options &opt) : pf_(pf), opt_(opt) {}

  bool load(std::string &why) {
    if (!opt_.pinFile.empty()) {
      std::vector<uint8_t> data;
      std::string reason;
      if (!pf_.readFile(opt_.pinFile, data, reason)) {
        why = "cannot read the PIN file '" + opt_.pinFile + "': " + reason;
        return false;
      }
      std::string text(data.begin(), data.end());
      if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
      size_t start = 0;
      while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(line);
        if (nl == std::string::npos) break;
        start = nl + 1;
      }
    }
    return true;
  }

  // what: "user PIN", "new user PIN"... fresh: a new PIN (asked twice on the console).
  bool get(const std::string &what, bool fresh, std::string &pin, std::string &why) {
    std::string value;
    if (!opt_.pinFile.empty()) {
      if (next_ >= lines_.size()) {
        why = "the PIN file has no line for the " + what;
        return false;
      }
      value = lines_[next_++];
    } else if (opt_.pinStdin) {
      if (!pf_.readStdinLine(value)) {
        why = "standard input ended before the " + what;
        return false;
      }
      if (!value.empty() && value.back() == '\r') value.pop_back();
    } else if (!opt_.pins.empty()) {
      if (!warned_) {
        pf_.err("ukeytool: warning: a PIN on the command line can be seen by other users and "
                "may be kept in the shell history; prefer --pin-file or --pin-stdin\n");
        warned_ = true;
      }
      if (next_ >= opt_.pins.size()) {
        why = "no --pin given for the " + what;
        return false;
      }
      value = opt_.pins[next_++];
    } else {
      if (!pf_.stdinIsConsole()) {
        why = "no console to ask for the " + what + "; use --pin-file FILE or --pin-stdin";
        return false;
      }
      if (!pf_.readSecret("Enter the " + what + ": ", value)) {
        why = pf_.interrupted() ? "cancelled" : "no " + what + " entered";
        return false;
      }
      if (fresh) {
        std::string again;
        if (!pf_.readSecret("Enter the " + what + " again: ", again)) {
          why = pf_.interrupted() ? "cancelled" : "no " + what + " entered";
          return false;
        }
        if (again != value) {
          why = "the two entries of the " + what + " differ";
          return false;
        }
      }
    }
    if (value.empty()) {
      why = "the " + what + " is empty";
      return false;
    }
    pin = pf_.toLocal(value);
    if (pin.size() > 32) {
      why = "the " + what + " is longer than 32 bytes";
      return false;
    }
    if (fresh && (pin.size() < kNewPinMin || pin.size() > kNewPinMax)) {
      why = "the " + what + " must have 6 to 10 characters";
      return false;
    }
    return true;
  }

 private:
  Platform &pf_;
  const Options &opt_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  bool warned_ = false;
};

class Tool {
 public:
  Tool(Platform &pf, const Options &opt) : pf_(pf), opt_(opt), pins_(pf, opt) {}
  ~Tool() { end(); }

  int run();

 private:
  // ---- messages ----------------------------------------------------------------------------
  int fail(int code, const std::string &msg) {
    pf_.err("ukeytool: " + msg + "\n");
    return code;
  }
  int failRc(const std::string &what, uint32_t rc) {
    return fail(rc == kPinBlocked ? kExitPin : kExitFailed,
                what + ": " + resultText(rc) + " (" + hex32(rc) + ")");
  }
  void trace(const char *call, uint32_t rc) {
    if (opt_.verbose) pf_.err(std::string("  ") + call + " -> " + hex32(rc) + "\n");
  }
  void say(const std::string &s) { pf_.out(s); }

  // ---- session -----------------------------------------------------------------------------
  int begin();
  int lockDevices();
  int selectToken();
  uint32_t connect(UK_DEV_INFO *d);
  void disconnect();
  void end();
  int selectDf();
  int openToken();
  int openPki();
  int pinEntryFailed(const std::string &why) {
    return fail(pf_.interrupted() ? kExitCancelled : kExitUsage, why);
  }
  int login();
  int pinFailure(const char *which, uint32_t rc, uint8_t tries, bool triesValid);
  template <class F>
  uint32_t withLogin(F op, int &exitCode);
  bool readSerial(UK_DEV_INFO *d, std::string &serial);
  int findContainer(const std::string &name, UK_CONTAINER_INFO &cont, bool &found);
  int chooseKeySpec(const UK_CONTAINER_INFO &cont, bool certificate, const char *what, int &keySpec);
  int openKeyPair(bool certificate, const char *what, UK_CONTAINER_INFO &cont, int &keySpec);
  bool writeOut(const std::string &path, const std::vector<uint8_t> &data, int &exitCode);

  // ---- commands ----------------------------------------------------------------------------
  int cmdList();
  int cmdShow();
  int cmdPinVerify();
  int cmdPinChange();
  int cmdPinUnlock();
  int cmdFormat();
  int cmdSetLabel();
  int cmdExportCert();
  int cmdExportPubKey();
  int cmdImportCert();
  int cmdDataWrite();
  int cmdSymGenerate();
  bool readPublicKey(const UK_CONTAINER_INFO &cont, int keySpec, std::vector<uint8_t> &modulus,
                     std::vector<uint8_t> &exponent, uint32_t &bits, int &exitCode);
  int cmdGenKey();
  int cmdSign();
  template <class K>
  int listRecords(typename K::Rec *recs, uint32_t &n, bool traced);
  template <class K>
  int findRecord(typename K::Rec &rec);
  template <class K>
  int cmdRecordList(bool inShow);
  template <class K>
  int cmdRecordRead();
  template <class K>
  int cmdRecordDelete();
  int newRecordName(const char *what, std::string &name);
  template <class Rec>
  void nameRecord(Rec &rec, const std::string &name);
  int stored(const char *call, uint32_t rc, const char *noun, const char *verb);

  int showContainers();
  bool confirm(const std::string &question, int &exitCode);

  Platform &pf_;
  const Options &opt_;
  PinSource pins_;
  UK_DEV_INFO devs_[kMaxTokens];
  uint32_t count_ = 0;
  UK_DEV_INFO *dev_ = nullptr;
  std::string serial_;
  bool locked_ = false;
  bool connected_ = false;
  bool loggedIn_ = false;
};

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

// Runs op; if the token wants the user PIN first (status 6982), verifies it and runs op again.
template <class F>
uint32_t Tool::withLogin(F op, int &exitCode) {
  exitCode = kExitOk;
  if (opt_.login && (exitCode = login()) != kExitOk) return UKLR_OK;
  uint32_t rc = op();
  if (rc == kSecurityNotSatisfied && !loggedIn_) {
    if ((exitCode = login()) != kExitOk) return UKLR_OK;
    rc = op();
  }
  return rc;
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

// ---- certificates and keys -----------------------------------------------------------------

int Tool::cmdExportCert() {
  int e = openPki();
  if (e) return e;
  UK_CONTAINER_INFO cont;
  int keySpec = 0;
  if ((e = openKeyPair(true, "certificate", cont, keySpec))) return e;
  std::vector<uint8_t> buf(4096);
  uint32_t len = static_cast<uint32_t>(buf.size());
  uint32_t rc = zksTokenReadCert(dev_, &cont, buf.data(), &len, static_cast<uint32_t>(keySpec));
  trace("zksTokenReadCert", rc);
  if (rc != UKLR_OK) return failRc("cannot read the certificate", rc);
  if (len > buf.size()) return fail(kExitFailed, "the library reported an impossible certificate length");
  size_t derLen = der::firstElementLength(buf.data(), len);
  der::CertSummary cs;
  std::string why;
  if (derLen == 0 || !der::parseCertificate(buf.data(), derLen, cs, why))
    return fail(kExitFailed, "the certificate on the token is not valid DER" +
                                 (why.empty() ? std::string() : ": " + why));
  buf.resize(derLen);
  bool asPem = opt_.format == OutFormat::Pem ||
               (opt_.format == OutFormat::Auto && (opt_.out.empty() || endsWithNoCase(opt_.out, ".pem")));
  if (opt_.out.empty()) {
    say(pem("CERTIFICATE", buf.data(), buf.size()));
    return kExitOk;
  }
  std::vector<uint8_t> data = buf;
  if (asPem) {
    std::string p = pem("CERTIFICATE", buf.data(), buf.size());
    data.assign(p.begin(), p.end());
  }
  if (!writeOut(opt_.out, data, e)) return e;
  say("Certificate of '" + opt_.args[0] + "' (" + keySpecName(keySpec) + ", " + cs.subject +
      ") written to " + opt_.out + (asPem ? " (PEM)" : " (DER)") + ".\n");
  return kExitOk;
}

// The key pair's public key, read through the library; modulus and exponent big-endian with
// their leading zero bytes removed.
bool Tool::readPublicKey(const UK_CONTAINER_INFO &contIn, int keySpec, std::vector<uint8_t> &modulus,
                         std::vector<uint8_t> &exponent, uint32_t &bits, int &exitCode) {
  UK_CONTAINER_INFO cont = contIn;
  // Room for the 2048-bit record; the bits field says which layout the library wrote.
  UK_RSA_PUBLIC_KEY_2048 rec;
  memset(&rec, 0, sizeof rec);
  uint32_t rc = zksTokenReadRsaPubKey(dev_, &cont, &rec, static_cast<uint32_t>(keySpec));
  trace("zksTokenReadRsaPubKey", rc);
  if (rc != UKLR_OK) return exitCode = failRc("cannot read the public key", rc), false;
  const uint8_t *n, *e;
  size_t size;
  if (rec.bits == 2048) {
    n = rec.modulus, e = rec.exponent, size = 256;
  } else if (rec.bits == 1024) {
    const UK_RSA_PUBLIC_KEY *r = reinterpret_cast<const UK_RSA_PUBLIC_KEY *>(&rec);
    n = r->modulus, e = r->exponent, size = 128;
  } else {
    char b[96];
    snprintf(b, sizeof b, "the library returned a key of %u bits", static_cast<unsigned>(rec.bits));
    return exitCode = fail(kExitFailed, b), false;
  }
  size_t i = 0, j = 0;
  while (i < size && n[i] == 0) ++i;
  while (j < size && e[j] == 0) ++j;
  if (i == size || j == size)
    return exitCode = fail(kExitFailed, "the public key read from the token is empty"), false;
  modulus.assign(n + i, n + size);
  exponent.assign(e + j, e + size);
  bits = rec.bits;
  return true;
}

int Tool::cmdExportPubKey() {
  int e = openPki();
  if (e) return e;
  UK_CONTAINER_INFO cont;
  int keySpec = 0;
  if ((e = openKeyPair(false, "key pair", cont, keySpec))) return e;
  std::vector<uint8_t> n, x, spki;
  uint32_t bits = 0;
  if (!readPublicKey(cont, keySpec, n, x, bits, e)) return e;
  if (!rsaSpki(n.data(), n.size(), x.data(), x.size(), spki))
    return fail(kExitFailed, "the public key read from the token is empty");
  bool asDer = opt_.format == OutFormat::Der;
  if (opt_.out.empty()) {
    say(pem("PUBLIC KEY", spki.data(), spki.size()));
    return kExitOk;
  }
  std::vector<uint8_t> data = spki;
  if (!asDer) {
    std::string p = pem("PUBLIC KEY", spki.data(), spki.size());
    data.assign(p.begin(), p.end());
  }
  if (!writeOut(opt_.out, data, e)) return e;
  char b[64];
  snprintf(b, sizeof b, "RSA %u-bit", static_cast<unsigned>(bits));
  say(std::string("Public key (") + b + ", " + keySpecName(keySpec) + ") of '" + opt_.args[0] +
      "' written to " + opt_.out + ".\n");
  return kExitOk;
}

int Tool::cmdImportCert() {
  std::vector<uint8_t> file, cert;
  std::string why;
  const std::string &path = opt_.args[1];
  if (!pf_.readFile(path, file, why)) return fail(kExitFailed, "cannot read '" + path + "': " + why);
  std::string text(file.begin(), file.end());
  if (text.find("-----BEGIN CERTIFICATE-----") != std::string::npos) {
    if (!unpem(text, "CERTIFICATE", cert))
      return fail(kExitFailed, "'" + path + "' holds a malformed PEM certificate");
  } else {
    cert = file;
  }
  der::CertSummary cs;
  if (!der::parseCertificate(cert.data(), cert.size(), cs, why))
    return fail(kExitFailed, "'" + path + "' is not a certificate: " + why);
  if (der::firstElementLength(cert.data(), cert.size()) != cert.size())
    return fail(kExitFailed, "'" + path + "' has bytes after the certificate");
  if (cert.size() > 4096) return fail(kExitFailed, "the certificate is longer than 4096 bytes");

  int e = openPki();
  if (e) return e;
  UK_CONTAINER_INFO cont;
  int keySpec = 0;
  if ((e = openKeyPair(false, "key pair", cont, keySpec))) return e;
  uint8_t certBit = keySpec == UK_KEYSPEC_EXCHANGE ? UK_CONT_EX_CERT : UK_CONT_SIG_CERT;
  bool replace = (cont.flags & certBit) != 0;
  if (replace && !opt_.force)
    return fail(kExitFailed, "container '" + opt_.args[0] + "' already has a " + keySpecName(keySpec) +
                                 " certificate; --force replaces it");
  if (!opt_.force) {
    std::vector<uint8_t> n, x;
    uint32_t bits = 0;
    if (!readPublicKey(cont, keySpec, n, x, bits, e)) return e;
    if (n != cs.modulus)
      return fail(kExitFailed, "the certificate is not for the container's " +
                                   std::string(keySpecName(keySpec)) + " key pair (--force skips this check)");
  }
  if ((e = login())) return e;
  uint32_t rc;
  if (replace) {
    rc = zksTokenDeleteContainerCert(dev_, &cont, static_cast<uint32_t>(keySpec));
    trace("zksTokenDeleteContainerCert", rc);
    if (rc != UKLR_OK) return failRc("cannot remove the old certificate", rc);
  }
  rc = zksTokenWriteCert(dev_, &cont, cert.data(), static_cast<uint32_t>(cert.size()),
                         static_cast<uint32_t>(keySpec));
  trace("zksTokenWriteCert", rc);
  if (rc != UKLR_OK) return failRc("cannot write the certificate", rc);
  say("Certificate (" + cs.subject + ") written to the " + keySpecName(keySpec) + " key pair of '" +
      opt_.args[0] + "'.\n");
  return kExitOk;
}

int Tool::cmdGenKey() {
  int e = openPki();
  if (e) return e;
  UK_CONTAINER_INFO cont;
  bool found = false;
  if ((e = findContainer(opt_.args[0], cont, found))) return e;
  int keySpec = opt_.keySpec ? opt_.keySpec : UK_KEYSPEC_EXCHANGE;
  uint8_t keyBit = keySpec == UK_KEYSPEC_EXCHANGE ? UK_CONT_EX_KEY : UK_CONT_SIG_KEY;
  if (found && (cont.flags & keyBit))
    return fail(kExitFailed, "container '" + opt_.args[0] + "' already has an " +
                                 (keySpec == UK_KEYSPEC_EXCHANGE ? "exchange" : "signature") +
                                 " key pair");
  if ((e = login())) return e;
  bool created = false;
  if (!found) {
    std::string local = pf_.toLocal(opt_.args[0]);
    memset(&cont, 0, sizeof cont);
    memcpy(cont.name, local.data(), local.size());
    uint32_t rc = zksTokenNewContainer(dev_, &cont);
    trace("zksTokenNewContainer", rc);
    if (rc != UKLR_OK) return failRc("cannot create container '" + opt_.args[0] + "'", rc);
    created = true;
  }
  uint8_t units = static_cast<uint8_t>(opt_.bits / 1024);
  if (keySpec == UK_KEYSPEC_EXCHANGE) cont.exKeyUnits = units;
  else cont.sigKeyUnits = units;
  char b[160];
  snprintf(b, sizeof b, "Generating an RSA %u-bit %s key pair in '%s' on the token...\n",
           static_cast<unsigned>(opt_.bits), keySpecName(keySpec), opt_.args[0].c_str());
  say(b);
  uint32_t rc = zksTokenGenRsaKeyPair(dev_, &cont, static_cast<uint32_t>(keySpec));
  trace("zksTokenGenRsaKeyPair", rc);
  if (rc != UKLR_OK) {
    if (created) {
      // Do not leave an empty container behind that this command made.
      trace("zksTokenDeleteContainer", zksTokenDeleteContainer(dev_, &cont));
    }
    return failRc("key generation failed", rc);
  }
  say(std::string("Key pair generated") + (created ? " (container created)" : "") + ".\n");
  return kExitOk;
}

int Tool::cmdSign() {
  // The file first: a missing file must not cost a PIN entry.
  std::vector<uint8_t> data;
  std::string why;
  if (!pf_.readFile(opt_.in, data, why))
    return fail(kExitFailed, "cannot read '" + opt_.in + "': " + why);
  uint8_t digest[ukcrypto::kSha1DigestSize];
  ukcrypto::sha1(data.data(), data.size(), digest);
  std::vector<uint8_t> digestInfo = sha1DigestInfo(digest);
  if (opt_.verbose) pf_.err("  SHA-1 " + hex(digest, sizeof digest) + "\n");

  int e = openPki();
  if (e) return e;
  UK_CONTAINER_INFO cont;
  int keySpec = 0;
  if ((e = openKeyPair(false, "key pair", cont, keySpec))) return e;
  if ((e = login())) return e;

  uint8_t sig[256] = {0};
  uint32_t sigLen = sizeof sig;
  uint32_t rc = zksTokenRsaPriEncrypt(dev_, &cont, digestInfo.data(),
                                      static_cast<uint32_t>(digestInfo.size()), sig, &sigLen,
                                      static_cast<uint32_t>(keySpec), opt_.button ? 1u : 0u);
  trace("zksTokenRsaPriEncrypt", rc);
  if (rc == UKLR_SIGN_PENDING) {
    if (opt_.waitSeconds)
      say("Press the button on the token to confirm the signature (Ctrl+C cancels; waiting up to " +
          std::to_string(opt_.waitSeconds) + " s)...\n");
    else
      say("Press the button on the token to confirm the signature (Ctrl+C cancels)...\n");
    uint64_t waited = 0;
    while (rc == UKLR_SIGN_PENDING) {
      if (pf_.interrupted() || (opt_.waitSeconds && waited >= opt_.waitSeconds * 1000ull)) {
        bool byUser = pf_.interrupted();
        uint32_t c = zksTokenRsaPriEncryptCancel(dev_);
        trace("zksTokenRsaPriEncryptCancel", c);
        return fail(kExitCancelled, byUser ? "signature cancelled"
                                           : "the button was not pressed in time; signature cancelled");
      }
      pf_.sleepMs(100);
      waited += 100;
      sigLen = sizeof sig;
      rc = zksTokenRsaPriEncryptFinal(dev_, sig, &sigLen, 0);
      if (rc != UKLR_SIGN_PENDING) trace("zksTokenRsaPriEncryptFinal", rc);
    }
  }
  if (rc != UKLR_OK) return failRc("signing failed", rc);
  unsigned keyBytes = (keySpec == UK_KEYSPEC_EXCHANGE ? cont.exKeyUnits : cont.sigKeyUnits) * 128u;
  if (sigLen == 0 || sigLen > sizeof sig || (keyBytes && sigLen != keyBytes))
    return fail(kExitFailed, "the library returned a signature of unexpected length " +
                                 std::to_string(sigLen));
  if (!writeOut(opt_.out, std::vector<uint8_t>(sig, sig + sigLen), e)) return e;
  say("Signature (" + std::to_string(sigLen) + " bytes, SHA-1, " + keySpecName(keySpec) + " key of '" +
      opt_.args[0] + "') written to " + opt_.out + ".\n");
  return kExitOk;
}

// ---- data objects and symmetric keys -------------------------------------------------------
// Both kinds are listed, picked by record number or name, read and deleted the same way; the
// kinds (DataObjects, SymKeys above) say what differs.

template <class K>
int Tool::listRecords(typename K::Rec *recs, uint32_t &n, bool traced) {
  n = kMaxRecords;
  int e = kExitOk;
  uint32_t rc = withLogin([&] {
    memset(recs, 0, kMaxRecords * sizeof *recs);
    n = kMaxRecords;
    return K::list(dev_, recs, &n);
  }, e);
  if (e) return e;
  if (traced) trace(K::kListCall, rc);
  if (rc != UKLR_OK) return failRc(std::string("cannot list the ") + K::kNouns, rc);
  if (n > kMaxRecords) n = kMaxRecords;
  return kExitOk;
}

template <class K>
int Tool::cmdRecordList(bool inShow) {
  if (!inShow) {
    int e = openPki();
    if (e) return e;
  }
  typename K::Rec recs[kMaxRecords];
  uint32_t n = 0;
  int e = listRecords<K>(recs, n, true);
  if (e) return e;
  char b[96];
  snprintf(b, sizeof b, "%s: %u\n", K::kNounsTitle, static_cast<unsigned>(n));
  say(b);
  for (uint32_t i = 0; i < n; ++i) {
    const typename K::Rec &r = recs[i];
    snprintf(b, sizeof b, "  [%u] ", static_cast<unsigned>(r.recordNumber));
    say(b + pf_.fromLocal(fieldText(r.name, 80)) + "  ID " + idAreaText(r.id, 80) +
        K::details(r) + "\n");
  }
  return kExitOk;
}

// OBJECT is a record number (1 to 8) or a name; a name must match exactly one entry.
template <class Rec>
int pickEntry(const Rec *list, uint32_t n, const std::string &sel, Platform &pf, Rec &out,
              std::string &why) {
  uint32_t record = 0;
  bool byNumber = parseUnsigned(sel, 1, 8, record);
  int hits = 0;
  for (uint32_t i = 0; i < n; ++i) {
    bool match = byNumber ? list[i].recordNumber == record
                          : pf.fromLocal(fieldText(list[i].name, 80)) == sel;
    if (match) {
      out = list[i];
      ++hits;
    }
  }
  if (hits == 1) return 0;
  why = hits == 0 ? "no entry '" + sel + "'" : "several entries are named '" + sel + "'; use the record number";
  return 1;
}

// The record the first argument names.
template <class K>
int Tool::findRecord(typename K::Rec &rec) {
  typename K::Rec recs[kMaxRecords];
  uint32_t n = 0;
  int e = listRecords<K>(recs, n, false);
  if (e) return e;
  std::string why;
  if (pickEntry(recs, n, opt_.args[0], pf_, rec, why))
    return fail(kExitFailed, std::string(K::kNoun) + ": " + why);
  return kExitOk;
}

template <class K>
int Tool::cmdRecordRead() {
  int e = openPki();
  if (e) return e;
  typename K::Rec rec;
  if ((e = findRecord<K>(rec))) return e;
  uint8_t buf[K::kReadBuffer] = {0};
  uint32_t len = 0;
  uint32_t rc = withLogin([&] { return K::read(dev_, &rec, buf, len); }, e);
  if (e) return e;
  trace(K::kReadCall, rc);
  if (rc != UKLR_OK) return failRc(std::string("cannot read the ") + K::kNoun, rc);
  std::string bad = K::badLength(rec, len);
  if (!bad.empty()) return fail(kExitFailed, bad);
  std::vector<uint8_t> value(buf, buf + len);
  if (opt_.out.empty()) {
    say(K::display(value));
    return kExitOk;
  }
  if (!writeOut(opt_.out, value, e)) return e;
  say(std::string(K::kNounTitle) + " (" + std::to_string(len) + " bytes) written to " + opt_.out +
      ".\n");
  return kExitOk;
}

template <class K>
int Tool::cmdRecordDelete() {
  int e = openPki();
  if (e) return e;
  typename K::Rec rec;
  if ((e = findRecord<K>(rec))) return e;
  std::string name = pf_.fromLocal(fieldText(rec.name, 80));
  if (!confirm(std::string("Delete ") + K::kNoun + " [" + std::to_string(rec.recordNumber) + "] '" +
                   name + "'? Type 'yes': ",
               e))
    return e;
  if ((e = login())) return e;
  uint32_t rc = K::remove(dev_, &rec);
  trace(K::kDeleteCall, rc);
  if (rc != UKLR_OK) return failRc(std::string("cannot delete the ") + K::kNoun, rc);
  say(std::string(K::kNounTitle) + " '" + name + "' deleted.\n");
  return kExitOk;
}

namespace {
// Stores text as an ID area (length byte, bytes).
void putIdArea(uint8_t *area, size_t cap, const std::string &text) {
  size_t n = text.size() < cap - 1 ? text.size() : cap - 1;
  area[0] = static_cast<uint8_t>(n);
  memcpy(area + 1, text.data(), n);
}
}  // namespace

// The name of a new data object or key: the first argument in the system code page.
int Tool::newRecordName(const char *what, std::string &name) {
  name = pf_.toLocal(opt_.args[0]);
  if (name.empty() || name.size() > kMaxNameChars)
    return fail(kExitUsage, std::string("a ") + what + " name has 1 to 79 characters");
  return kExitOk;
}

// A cleared record with the name and its ID area (--id, or the name).
template <class Rec>
void Tool::nameRecord(Rec &rec, const std::string &name) {
  memset(&rec, 0, sizeof rec);
  memcpy(rec.name, name.data(), name.size());
  putIdArea(rec.id, 80, opt_.id.empty() ? name : pf_.toLocal(opt_.id));
}

// The outcome of the export that stores a new record.
int Tool::stored(const char *call, uint32_t rc, const char *noun, const char *verb) {
  trace(call, rc);
  if (rc == UKLR_OBJ_EXISTS) return fail(kExitFailed, std::string("a ") + noun + " with that ID exists");
  if (rc != UKLR_OK) return failRc(std::string("cannot ") + verb + " the " + noun, rc);
  return kExitOk;
}

int Tool::cmdDataWrite() {
  std::string name;
  int e = newRecordName("data object", name);
  if (e) return e;
  std::vector<uint8_t> data;
  std::string why;
  if (!pf_.readFile(opt_.args[1], data, why))
    return fail(kExitFailed, "cannot read '" + opt_.args[1] + "': " + why);
  if (data.empty() || data.size() > 255)
    return fail(kExitFailed, "a data object holds 1 to 255 bytes; '" + opt_.args[1] + "' has " +
                                 std::to_string(data.size()));
  if ((e = openPki()) || (e = login())) return e;
  UK_DATA_OBJECT_INFO obj;
  nameRecord(obj, name);
  obj.attrFlag = opt_.isPrivate ? 1 : 0;
  uint32_t rc = zksTokenWriteDataObject(dev_, &obj, data.data(), static_cast<uint32_t>(data.size()));
  if ((e = stored("zksTokenWriteDataObject", rc, DataObjects::kNoun, "write"))) return e;
  say("Data object '" + opt_.args[0] + "' (" + std::to_string(data.size()) + " bytes) stored as record " +
      std::to_string(obj.recordNumber) + ".\n");
  return kExitOk;
}

int Tool::cmdSymGenerate() {
  std::string name;
  int e = newRecordName("key", name);
  if (e) return e;
  if ((e = openPki()) || (e = login())) return e;
  UK_SYM_KEY_INFO key;
  nameRecord(key, name);
  key.algId = opt_.symAlg;
  uint32_t rc = zksTokenGenSymKey(dev_, &key);
  if ((e = stored("zksTokenGenSymKey", rc, SymKeys::kNoun, "generate"))) return e;
  say("Symmetric key '" + opt_.args[0] + "' (" + symAlgName(key.algId) + ") generated as record " +
      std::to_string(key.recordNumber) + ".\n");
  return kExitOk;
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

}  // namespace

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
  Tool tool(pf, opt);
  return tool.run();
}

}  // namespace ukt
