// Exports that do nothing: the context and language calls, the unused file calls and the
// configuration calls return 0; the reserved hash and QRB calls return 11. None writes a log line.
#include "uk_tokenlib.h"

extern "C" {

uint32_t UKAPI zksTokenEstablishContext(void) { return UKLR_OK; }
uint32_t UKAPI zksTokenSetLanguage(UK_DEV_INFO *, uint32_t) { return UKLR_OK; }
uint32_t UKAPI zksTokenSelectContainerInfoEF(void *) { return UKLR_OK; }
uint32_t UKAPI zksTokenCreateEF(void *, void *, void *) { return UKLR_OK; }
uint32_t UKAPI zksTokenGetDeviceConfigInfo(void *, void *, void *, void *, void *, void *) {
  return UKLR_OK;
}

uint32_t UKAPI zksTokenHashInit(void *, void *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenUpdate(void *, void *, void *) { return UKLR_NOT_SUPPORTED; }
uint32_t UKAPI zksTokenGetUserInputData4QRB(void *, void *, void *, void *, void *, void *) {
  return UKLR_NOT_SUPPORTED;
}
uint32_t UKAPI zksTokenRsaPriEncrypt4QRB(void *, void *, void *, void *, void *, void *, void *,
                                         void *, void *) {
  return UKLR_NOT_SUPPORTED;
}

// Second names of shared bodies. The DLL exports them from the entry point above (see the .def);
// native builds get them as plain functions.
#if !defined(_WIN32)
uint32_t UKAPI zksTokenReleaseContext(void) { return zksTokenEstablishContext(); }
uint32_t UKAPI zksTokenSelectObjectEF(void *a) { return zksTokenSelectContainerInfoEF(a); }
uint32_t UKAPI zksTokenModifyDeviceConfigInfo(void *a1, void *a2, void *a3, void *a4, void *a5,
                                              void *a6) {
  return zksTokenGetDeviceConfigInfo(a1, a2, a3, a4, a5, a6);
}
uint32_t UKAPI zksTokenHashFinal(void *a1, void *a2, void *a3) { return zksTokenUpdate(a1, a2, a3); }
#endif
}
