#include "client_host_win.h"

#include <objbase.h>
#include <wincrypt.h>

#include <string.h>

#include "device_model.h"

namespace client {

namespace {

struct Store {
  HCERTSTORE h;
  Store()
      : h(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My")) {}
  ~Store() {
    if (h) CertCloseStore(h, CERT_CLOSE_STORE_FORCE_FLAG);
  }
};

std::wstring DateText(const FILETIME &utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return L"";
  wchar_t buf[80];
  int n = GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, 80);
  return n > 0 ? std::wstring(buf) : std::wstring();
}

std::wstring NameText(PCCERT_CONTEXT ctx, DWORD flags) {
  wchar_t buf[1001];
  DWORD n = CertGetNameStringW(ctx, CERT_NAME_FRIENDLY_DISPLAY_TYPE, flags, nullptr, buf, 1001);
  return n > 1 ? std::wstring(buf) : std::wstring();
}

}  // namespace

bool WinClientHost::OpenDeviceMutex() {
  if (!mutex_) mutex_ = CreateSharedMutex(kDeviceMutexName);
  return mutex_ != nullptr;
}

void WinClientHost::CloseDeviceMutex() {
  if (mutex_) CloseHandle(mutex_);
  mutex_ = nullptr;
}

bool WinClientHost::LockDevices() {
  if (!mutex_) return false;
  DWORD w = WaitForSingleObject(mutex_, INFINITE);
  if (w == WAIT_OBJECT_0) return true;
  // A holder that died leaves the mutex abandoned: this wait got it, but what the holder was
  // doing on the token is unknown. The operation fails and the mutex is given back.
  if (w == WAIT_ABANDONED) ReleaseMutex(mutex_);
  return false;
}

void WinClientHost::UnlockDevices() { ReleaseMutex(mutex_); }

bool WinClientHost::DescribeCertificate(const uint8_t *der, size_t len, CertNames *out) {
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                                    DWORD(len));
  if (!ctx) return false;
  out->subject = NameText(ctx, 0);
  out->issuer = NameText(ctx, CERT_NAME_ISSUER_FLAG);
  out->notBefore = DateText(ctx->pCertInfo->NotBefore);
  out->notAfter = DateText(ctx->pCertInfo->NotAfter);
  CertFreeCertificateContext(ctx);
  return true;
}

std::wstring WinClientHost::FromCodePage(const char *text, size_t len) {
  if (!len) return L"";
  int n = MultiByteToWideChar(CP_ACP, 0, text, int(len), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, int(len), &w[0], n);
  return w;
}

std::string WinClientHost::ToCodePage(const std::wstring &text) {
  if (text.empty()) return "";
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), &s[0], n, nullptr, nullptr);
  return s;
}

uint32_t WinClientHost::RegisterCertificate(const TokenCert &cert) {
  if (cert.IsAbsent()) return 0;
  return client::RegisterCertificate(cert.Der(), cert.DerLength(), cert.Container()->Name(),
                                     cert.KeySpec());
}

uint32_t WinClientHost::UnregisterCertificate(const TokenCert &cert) {
  if (cert.IsAbsent()) return 0;
  return client::UnregisterCertificate(cert.Der(), cert.DerLength());
}

Guid WinClientHost::NewGuid() {
  GUID g{};
  CoCreateGuid(&g);
  Guid out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  memcpy(out.data4, g.Data4, sizeof out.data4);
  return out;
}

uint32_t RegisterCertificate(const uint8_t *der, size_t len, const std::wstring &container,
                             uint32_t keySpec) {
  Store store;
  if (!store.h) {
    MessageBoxW(nullptr, L"CertOpenStore", L"fail", MB_OK);
    return 0;
  }
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                                    DWORD(len));
  if (!ctx) return GetLastError();
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<wchar_t *>(container.c_str());
  info.pwszProvName = const_cast<wchar_t *>(kProviderName);
  info.dwProvType = PROV_RSA_FULL;
  info.dwFlags = 0;
  info.cProvParam = 0;
  info.rgProvParam = nullptr;
  info.dwKeySpec = keySpec;
  uint32_t rc = 0;
  if (!CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
    rc = GetLastError();
  else if (!CertAddCertificateContextToStore(store.h, ctx, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
    rc = GetLastError();
  CertFreeCertificateContext(ctx);
  return rc;
}

uint32_t UnregisterCertificate(const uint8_t *der, size_t len) {
  Store store;
  if (!store.h) return GetLastError();
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                                    DWORD(len));
  if (!ctx) return GetLastError();
  uint32_t rc = 0;
  PCCERT_CONTEXT found = CertFindCertificateInStore(store.h, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    0, CERT_FIND_EXISTING, ctx, nullptr);
  if (found) {
    // CertDeleteCertificateFromStore frees the context it is given, also when it fails.
    if (!CertDeleteCertificateFromStore(found)) rc = GetLastError();
    // Write the deletion back now: a store may otherwise keep it in memory until its last
    // context is released, and other processes would still find the certificate.
    else CertControlStore(store.h, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  } else {
    rc = GetLastError();
  }
  CertFreeCertificateContext(ctx);
  return rc;
}

namespace {

// CRYPTUI_VIEWCERTIFICATE_STRUCTW (MinGW ships no cryptui header or import library).
struct ViewCertificateStruct {
  DWORD dwSize;
  HWND hwndParent;
  DWORD dwFlags;
  LPCWSTR szTitle;
  PCCERT_CONTEXT pCertContext;
  LPCSTR *rgszPurposes;
  DWORD cPurposes;
  void *pCryptProviderData;
  BOOL fpCryptProviderDataTrustedUsage;
  DWORD idxSigner;
  DWORD idxCert;
  BOOL fCounterSigner;
  DWORD idxCounterSigner;
  DWORD cStores;
  HCERTSTORE *rghStores;
  DWORD cPropSheetPages;
  void *rgPropSheetPages;
  DWORD nStartPage;
};
constexpr DWORD kDisableAddToStore = 16;  // CRYPTUI_DISABLE_ADDTOSTORE

}  // namespace

void ShowCertificateViewer(HWND parent, PCCERT_CONTEXT cert) {
  HMODULE ui = LoadLibraryW(L"cryptui.dll");
  if (!ui) return;
  using ViewFn = BOOL(WINAPI *)(const ViewCertificateStruct *, BOOL *);
  if (auto view = reinterpret_cast<ViewFn>(reinterpret_cast<void *>(GetProcAddress(ui, "CryptUIDlgViewCertificateW")))) {
    ViewCertificateStruct v{};
    v.dwSize = sizeof v;
    v.hwndParent = parent;
    v.dwFlags = kDisableAddToStore;
    v.pCertContext = cert;
    BOOL changed = FALSE;
    view(&v, &changed);
  }
  FreeLibrary(ui);
}

}  // namespace client
