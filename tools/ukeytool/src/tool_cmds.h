// The tool's commands: the Tool class that runs one command against one token, its PIN source
// and the kinds of records. The class is spread over the command families: tool.cpp (session:
// token choice, device lock, login; the command switch), tool_token.cpp (list, show, PINs,
// format, label), tool_objects.cpp (certificates, keys, data objects, symmetric keys) and
// tool_format.cpp (how numbers and algorithms are written).
#pragma once
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "args.h"
#include "der.h"
#include "text.h"
#include "tool.h"
#include "uk_tokenlib.h"
#include "ukcrypto/hash.h"

namespace ukt {
namespace cli {


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

// ---- output formatting (tool_format.cpp) ---------------------------------------------------
std::string hex32(uint32_t v);
const char *keySpecName(int keySpec);
const char *symAlgName(uint8_t alg);
uint32_t symKeyLength(uint8_t alg);

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

inline bool endsWithNoCase(const std::string &s, const char *suffix) {
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

}  // namespace cli
}  // namespace ukt
