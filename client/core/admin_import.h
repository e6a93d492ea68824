// Certificate import onto a token: from the certificates of an opened PKCS #12 file, or from one
// certificate of the user's "My" store. The key is checked before the token is touched; a new
// container is named by a GUID, the user PIN is asked for, the key pair and the certificate are
// written, and whatever was created is deleted again when a later step fails or is cancelled.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "commands.h"

namespace client {

// A certificate of the import source and the CryptoAPI key behind it; the skin implements it
// with crypt32 and advapi32, tests with scripted answers. Errors are Windows error codes, 0 for
// success.
class ISourceCertificate {
 public:
  virtual const std::vector<uint8_t> &Der() const = 0;
  // The subject public key (the DER RSAPublicKey of an RSA key).
  virtual std::vector<uint8_t> PublicKey() const = 0;
  // Acquires the certificate's private key; *keySpec is the pair it names (1 exchange, 2 signature).
  virtual uint32_t AcquireKey(uint32_t *keySpec) = 0;
  // Opens the key of that pair.
  virtual uint32_t OpenKey() = 0;
  // The size of the key's PRIVATEKEYBLOB export.
  virtual uint32_t ExportSize(uint32_t *size) = 0;
  // Exports the PRIVATEKEYBLOB (the caller wipes it); false when the export fails.
  virtual bool Export(uint32_t size, std::vector<uint8_t> *blob) = 0;

 protected:
  ~ISourceCertificate() = default;
};

// The import dialog, owner of the import's message boxes (captioned with the program's title).
class IImportDialog {
 public:
  virtual int MessageBox(const std::wstring &text, unsigned style) = 0;

 protected:
  ~IImportDialog() = default;
};

// The file import once the PKCS #12 file is open: every certificate with a private key, in
// store order. enumerationError is the error that ended the walk through the store. True when
// at least one certificate was imported with its key (the dialog then closes with OK).
bool ImportPfxCertificates(IClientShell &shell, IImportDialog &dlg, CMarvoDevice &d,
                           const std::vector<ISourceCertificate *> &certificates,
                           uint32_t enumerationError);

// The import of one certificate chosen from the user's store: with its key, or, when the key is
// missing and the user agrees, the certificate alone (into the container that holds its key, or a
// new one). True when the dialog closes with OK.
bool ImportStoreCertificate(IClientShell &shell, IImportDialog &dlg, CMarvoDevice &d,
                            ISourceCertificate &certificate);

}  // namespace client
