#include "admin_import.h"

#include <string.h>

#include "admin_commands.h"
#include "admin_rules.h"
#include "client_text.h"

namespace client {

namespace {

// Attempts at a new container name: the first GUID and up to four more while the name exists.
constexpr int kNameAttempts = 5;

enum class NewContainer { kReady, kStop, kSkip };

// A new container named by a GUID, read back from the token's listing into *record. kStop after
// a creation failure (shown), kSkip when the new container could not be found again (it is then
// deleted again, so that no empty container is left behind).
NewContainer MakeContainer(IImportDialog &dlg, CMarvoDevice &d, UK_CONTAINER_INFO *record) {
  UK_CONTAINER_INFO created;
  std::string name;
  bool ok = false;
  for (int attempt = 0; attempt < kNameAttempts && !ok; ++attempt) {
    name = ContainerNameOfGuid(Host().NewGuid());
    created = NewContainerRecord(name);
    ok = d.CreateContainer(&created);
    // The platform's "exists" and the library's own code for a name already taken.
    if (!ok && d.LastResult() != kNteExists && d.LastResult() != uint32_t(UKLR_OBJ_EXISTS)) break;
  }
  if (!ok) {
    uint32_t rc = d.LastResult();
    // The platform's "disk full" and the library's code for a token without a free container.
    bool full = rc == kErrorDiskFull || rc == uint32_t(UKLR_DEV_FULL);
    dlg.MessageBox(LangString(full ? 22 : 23), kBoxError);
    return NewContainer::kStop;
  }
  if (d.FindContainer(name.c_str(), record) < 0) {
    if (d.LastResult() == 0) dlg.MessageBox(LangString(24), kBoxError);
    d.DeleteContainer(&created);
    return NewContainer::kSkip;
  }
  return NewContainer::kReady;
}

// The key of a source certificate in the token's records; false (and the blob wiped either way)
// when the export fails, the key is not one the token takes, or it is not the key of the
// certificate (the certificate's own public key decides the exponent).
bool ExportedKey(ISourceCertificate &c, uint32_t size, ImportKey *key) {
  std::vector<uint8_t> blob;
  bool exported = c.Export(size, &blob);
  bool ok = exported && KeyFromPrivateKeyBlob(blob.data(), blob.size(), key);
  if (!blob.empty()) WipeMemory(blob.data(), blob.size());
  if (ok) {
    std::vector<uint8_t> pub = c.PublicKey();
    ok = KeyMatchesPublicKey(*key, pub.data(), pub.size());
  }
  return ok;
}

// Writes the key pair and the certificate into the new container; on failure the container is
// deleted and "Import certificate fail!" shown.
bool WriteKeyAndCertificate(IImportDialog &dlg, CMarvoDevice &d, UK_CONTAINER_INFO *c,
                            const ImportKey &key, const std::vector<uint8_t> &der, uint32_t certSpec) {
  bool ok = d.WriteKeyPair(c, key.pub, key.pri, key.keySpec) &&
            d.WriteCertificate(c, der.data(), der.size(), certSpec);
  if (!ok) {
    d.DeleteContainer(c);
    dlg.MessageBox(LangString(26), kBoxError);
  }
  return ok;
}

}  // namespace

bool ImportPfxCertificates(IClientShell &shell, IImportDialog &dlg, CMarvoDevice &d,
                           const std::vector<ISourceCertificate *> &certificates,
                           uint32_t enumerationError) {
  int withKey = 0, imported = 0;
  bool pinAsked = false, stopped = false;
  for (ISourceCertificate *c : certificates) {
    uint32_t keySpec = 0, size = 0;
    if (c->AcquireKey(&keySpec) != 0) continue;  // a certificate without key (a CA of the chain)
    ++withKey;
    if (c->OpenKey() != 0 || c->ExportSize(&size) != 0) continue;
    ImportKey key;
    if (!ExportedKey(*c, size, &key)) {
      dlg.MessageBox(LangString(21), kBoxInformation);
      continue;
    }
    UK_CONTAINER_INFO record;
    NewContainer made = MakeContainer(dlg, d, &record);
    if (made == NewContainer::kStop) {
      stopped = true;
      break;
    }
    if (made == NewContainer::kSkip) continue;
    pinAsked = true;
    if (!AskUserPin(shell, d)) {
      d.DeleteContainer(&record);
      stopped = true;
      break;
    }
    if (WriteKeyAndCertificate(dlg, d, &record, key, c->Der(), key.keySpec)) ++imported;
  }
  if (pinAsked) d.LogOut();
  if (stopped) return false;
  if (withKey == 0) {
    dlg.MessageBox(LangString(enumerationError == kCryptNotFound ? 17 : 16), kBoxInformation);
    return false;
  }
  return imported > 0;
}

bool ImportStoreCertificate(IClientShell &shell, IImportDialog &dlg, CMarvoDevice &d,
                            ISourceCertificate &c) {
  uint32_t keySpec = 0;
  if (c.AcquireKey(&keySpec) != 0) {
    dlg.MessageBox(LangString(18), kBoxError);
    return false;
  }
  uint32_t rc = c.OpenKey();
  bool certificateOnly = false;
  if (rc == kNteNoKey) {
    if (dlg.MessageBox(LangString(10), kBoxYesNo | kBoxInformation) != kAnswerYes) return false;
    certificateOnly = true;
  } else if (rc != 0) {
    dlg.MessageBox(LangString(18), kBoxError);
    return false;
  }

  UK_CONTAINER_INFO record;
  if (certificateOnly) {
    // The certificate goes into the container that holds its key, when the token has it.
    uint8_t modulus[128];
    std::vector<uint8_t> pub = c.PublicKey();
    if (ModulusOfPublicKey(pub.data(), pub.size(), modulus) &&
        d.FindContainerByExchangeModulus(modulus, &record) >= 0) {
      if (!d.WriteCertificate(&record, c.Der().data(), c.Der().size(), keySpec)) {
        dlg.MessageBox(LangString(26), kBoxError);
        return false;
      }
      return true;
    }
    if (MakeContainer(dlg, d, &record) != NewContainer::kReady) return false;
    if (!d.WriteCertificate(&record, c.Der().data(), c.Der().size(), keySpec)) {
      d.DeleteContainer(&record);
      dlg.MessageBox(LangString(26), kBoxError);
      return false;
    }
    return true;
  }

  uint32_t size = 0;
  rc = c.ExportSize(&size);
  if (rc == kNteBadKeyState) {
    dlg.MessageBox(LangString(11), kBoxError);
    return false;
  }
  if (rc != 0) return false;
  ImportKey key;
  if (!ExportedKey(c, size, &key)) {
    dlg.MessageBox(LangString(21), kBoxInformation);
    return false;
  }
  if (MakeContainer(dlg, d, &record) != NewContainer::kReady) return false;
  bool ok = false;
  if (!AskUserPin(shell, d)) d.DeleteContainer(&record);
  else ok = WriteKeyAndCertificate(dlg, d, &record, key, c.Der(), keySpec);
  d.LogOut();
  return ok;
}

}  // namespace client
