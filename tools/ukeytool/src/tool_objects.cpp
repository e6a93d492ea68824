// The object commands: certificates and key pairs, data objects and symmetric keys.
#include "tool_cmds.h"

namespace ukt {
namespace cli {

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


// The record commands the other families run (show lists both kinds; the command switch runs
// every one).
template int Tool::cmdRecordList<DataObjects>(bool);
template int Tool::cmdRecordList<SymKeys>(bool);
template int Tool::cmdRecordRead<DataObjects>();
template int Tool::cmdRecordRead<SymKeys>();
template int Tool::cmdRecordDelete<DataObjects>();
template int Tool::cmdRecordDelete<SymKeys>();

}  // namespace cli
}  // namespace ukt
