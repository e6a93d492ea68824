// Certificate purge: removes the certificates whose private key our provider holds from a system
// store of the service's account.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "keysrv_win.h"

namespace uk {
namespace keysrv {
namespace {

bool boundToOurProvider(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
      size < sizeof(CRYPT_KEY_PROV_INFO))
    return false;
  std::vector<unsigned char> buf(size);
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size))
    return false;
  const CRYPT_KEY_PROV_INFO *info = reinterpret_cast<const CRYPT_KEY_PROV_INFO *>(buf.data());
  if (!info->pwszProvName) return false;
  return isOurProviderName(reinterpret_cast<const char16_t *>(info->pwszProvName));
}

}  // namespace

int purgeProviderCertificates(const char *storeName) {
  HCERTSTORE store = CertOpenSystemStoreA(0, storeName);
  if (!store) return -1;
  int deleted = 0;
  // A certificate is deleted only once the enumeration has moved past it: deleting the context
  // the enumeration holds would end the walk.
  PCCERT_CONTEXT pending = nullptr;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    if (pending) {
      if (CertDeleteCertificateFromStore(pending)) ++deleted;  // frees the context
      pending = nullptr;
    }
    if (boundToOurProvider(cert)) pending = CertDuplicateCertificateContext(cert);
  }
  if (pending && CertDeleteCertificateFromStore(pending)) ++deleted;
  // Write the deletions back now: a store may otherwise keep them in memory until its last
  // context is released.
  if (deleted) CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(store, 0);
  return deleted;
}

}  // namespace keysrv
}  // namespace uk
