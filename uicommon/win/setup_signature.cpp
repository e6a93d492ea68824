#include "setup_signature.h"

#include <shellapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace ui {

namespace {

SetupTrust TrustOfVerifyResult(LONG r) {
  switch (static_cast<DWORD>(r)) {
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
      return SetupTrust::kUnsigned;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
    case static_cast<DWORD>(CERT_E_REVOKED):
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS):
    case static_cast<DWORD>(CERT_E_CRITICAL):
    case static_cast<DWORD>(CERT_E_PURPOSE):
      return SetupTrust::kUntrusted;
    default:
      return SetupTrust::kBadSignature;
  }
}

// The attributes of a certificate's subject, in order.
std::vector<NameAttribute> SubjectOf(PCCERT_CONTEXT cert) {
  std::vector<NameAttribute> out;
  CERT_NAME_INFO *name = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, cert->pCertInfo->Subject.pbData,
                           cert->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &name, &size))
    return out;
  for (DWORD i = 0; i < name->cRDN; ++i) {
    const CERT_RDN &rdn = name->rgRDN[i];
    for (DWORD k = 0; k < rdn.cRDNAttr; ++k) {
      const CERT_RDN_ATTR &a = rdn.rgRDNAttr[k];
      DWORD n = CertRDNValueToStrW(a.dwValueType, const_cast<CERT_RDN_VALUE_BLOB *>(&a.Value), nullptr, 0);
      std::wstring value(n ? n : 1, L'\0');
      n = CertRDNValueToStrW(a.dwValueType, const_cast<CERT_RDN_VALUE_BLOB *>(&a.Value), &value[0], n ? n : 1);
      value.resize(n ? n - 1 : 0);
      out.push_back({a.pszObjId ? a.pszObjId : "", value});
    }
  }
  LocalFree(name);
  return out;
}

// Without an extended-key-usage extension a certificate serves every purpose; with one, it must
// name code signing.
bool ValidForCode(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size))
    return GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  std::vector<BYTE> buf(size);
  auto *usage = reinterpret_cast<CERT_ENHKEY_USAGE *>(buf.data());
  if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
    if (lstrcmpA(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
  return false;
}

// Verifies the open file (path for messages only).
SetupCheck Verify(const std::wstring &path, HANDLE file) {
  SetupCheck check;
  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof info;
  info.pcwszFilePath = path.c_str();
  info.hFile = file;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  LONG r = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

  if (r != ERROR_SUCCESS) {
    check.trust = TrustOfVerifyResult(r);
    check.code = static_cast<uint32_t>(r);
  } else {
    CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR *signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT *leaf = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!leaf || !leaf->pCert || !signer->pChainContext) {
      check.trust = SetupTrust::kBadSignature;
      check.code = static_cast<uint32_t>(TRUST_E_NO_SIGNER_CERT);
    } else {
      wchar_t cn[256] = {0};
      CertGetNameStringW(leaf->pCert, CERT_NAME_ATTR_TYPE, 0, const_cast<char *>(szOID_COMMON_NAME), cn, 256);
      check.signer = cn;
      // The policy of the verification above decides on trust in the chain on Windows; Wine's
      // reports success for a chain that ends at an untrusted root, so the chain is judged here
      // as well, by the same policy.
      CERT_CHAIN_POLICY_PARA para{};
      para.cbSize = sizeof para;
      CERT_CHAIN_POLICY_STATUS status{};
      status.cbSize = sizeof status;
      if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &para, &status)) {
        check.trust = SetupTrust::kUntrusted;
        check.code = GetLastError();
      } else if (status.dwError != 0) {
        check.trust = SetupTrust::kUntrusted;
        check.code = status.dwError;
      } else if (!ValidForCode(leaf->pCert)) {
        check.trust = SetupTrust::kUntrusted;
        check.code = static_cast<uint32_t>(CERT_E_WRONG_USAGE);
      } else if (!IsOurPublisher(SubjectOf(leaf->pCert))) {
        check.trust = SetupTrust::kWrongSigner;
      } else {
        check.trust = SetupTrust::kTrusted;
      }
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return check;
}

HANDLE OpenHeld(const std::wstring &path) {
  // Others may read it (the loader, a virus scanner), nobody may change, rename or delete it.
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

CSetupFile::CSetupFile(const std::wstring &path) : path_(path) {
  file_ = OpenHeld(path);
  if (file_ == INVALID_HANDLE_VALUE) {
    check_.trust = SetupTrust::kUnreadable;
    check_.code = GetLastError();
    return;
  }
  check_ = Verify(path_, file_);
}

CSetupFile::~CSetupFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

INT_PTR CSetupFile::ShellOpen() {
  if (!Trusted()) return 0;
  return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", path_.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

bool CSetupFile::StartProcess(const std::wstring &commandLine, PROCESS_INFORMATION *pi) {
  if (!Trusted()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::wstring line = commandLine;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  return CreateProcessW(path_.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si,
                        pi) != FALSE;
}

void CSetupFile::Discard() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  DeleteFileW(path_.c_str());
}

SetupCheck CheckSetupSignature(const std::wstring &path) {
  CSetupFile file(path);
  return file.Check();
}

}  // namespace ui
