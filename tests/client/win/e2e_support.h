// Shared by the client's Wine tests and the screenshot driver: bounded waits, reading another
// process's windows and tree, a token prepared with one container holding both certificates
// (issued by a test CA for the token's own key pairs), and starting the client.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../../common/win_signature_check.h"
#include "uk_tokenlib.h"

namespace e2e {

using Bytes = std::vector<uint8_t>;
constexpr const wchar_t *kProvider = L"ZV UKey for ORV Cryptographic Service Provider";
constexpr UINT kExit = 32776, kSimplified = 32788, kEnglish = 32789;

// Polls pred every 20 ms until it holds or ms pass.
inline bool WaitFor(const std::function<bool()> &pred, DWORD ms = 20000) {
  DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
}

inline std::wstring Text(HWND w) {
  wchar_t buf[2048] = {0};
  SendMessageTimeoutW(w, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buf;
}

inline std::wstring Widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }

// Lines for a failure message (UTF-8).
inline std::string Narrow(const std::vector<std::wstring> &lines) {
  std::string out;
  for (const auto &l : lines) {
    char buf[1024] = {0};
    WideCharToMultiByte(CP_UTF8, 0, l.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
    out += std::string(buf) + "|";
  }
  return out;
}

// Reads tree items of another process through memory allocated in that process.
// Memory in the process that owns a window, for the messages whose arguments point at buffers.
class RemoteMemory {
 public:
  explicit RemoteMemory(HWND wnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    proc_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (proc_) mem_ = VirtualAllocEx(proc_, nullptr, 8192, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteMemory() {
    if (mem_) VirtualFreeEx(proc_, mem_, 0, MEM_RELEASE);
    if (proc_) CloseHandle(proc_);
  }
  RemoteMemory(const RemoteMemory &) = delete;
  RemoteMemory &operator=(const RemoteMemory &) = delete;
  bool ok() const { return mem_ != nullptr; }
  // Address in the other process of byte `offset` of the block.
  template <class T>
  T *At(size_t offset) const { return reinterpret_cast<T *>(static_cast<char *>(mem_) + offset); }
  void Write(size_t offset, const void *data, size_t n) { WriteProcessMemory(proc_, At<char>(offset), data, n, nullptr); }
  void Read(size_t offset, void *data, size_t n) { ReadProcessMemory(proc_, At<char>(offset), data, n, nullptr); }
  std::wstring ReadText(size_t offset, size_t chars) {
    std::vector<wchar_t> buf(chars + 1, 0);
    ReadProcessMemory(proc_, At<char>(offset), buf.data(), chars * sizeof(wchar_t), nullptr);
    return buf.data();
  }

 private:
  HANDLE proc_ = nullptr;
  void *mem_ = nullptr;
};

// Reads tree items of another process.
class RemoteTree {
 public:
  explicit RemoteTree(HWND tree) : tree_(tree), mem_(tree) {}
  bool ok() const { return mem_.ok(); }
  std::wstring ItemText(HTREEITEM item) {
    TVITEMW it{};
    it.mask = TVIF_TEXT | TVIF_HANDLE;
    it.hItem = item;
    it.pszText = mem_.At<wchar_t>(1024);
    it.cchTextMax = 1024;
    mem_.Write(0, &it, sizeof it);
    if (!SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(mem_.At<char>(0)))) return L"?";
    return mem_.ReadText(1024, 1023);
  }
  HTREEITEM Next(HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
  }
  // "root" then "  child" lines, in tree order.
  std::vector<std::wstring> Lines() {
    std::vector<std::wstring> out;
    for (HTREEITEM r = Next(nullptr, TVGN_ROOT); r; r = Next(r, TVGN_NEXT)) {
      out.push_back(ItemText(r));
      for (HTREEITEM c = Next(r, TVGN_CHILD); c; c = Next(c, TVGN_NEXT)) out.push_back(L"  " + ItemText(c));
    }
    return out;
  }

 private:
  HWND tree_;
  RemoteMemory mem_;
};

struct TrayTipSearch {
  DWORD shell;
  std::vector<std::wstring> *tips;
};

inline BOOL CALLBACK CollectTrayTips(HWND w, LPARAM p) {
  TrayTipSearch *c = reinterpret_cast<TrayTipSearch *>(p);
  wchar_t cls[64];
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (!GetClassNameW(w, cls, 64) || lstrcmpiW(cls, L"tooltips_class32") || (c->shell && pid != c->shell))
    return TRUE;
  RemoteMemory mem(w);
  if (!mem.ok()) return TRUE;
  int n = int(SendMessageW(w, TTM_GETTOOLCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    mem.Write(0, &ti, sizeof ti);
    if (!SendMessageW(w, TTM_ENUMTOOLSW, WPARAM(i), reinterpret_cast<LPARAM>(mem.At<char>(0)))) continue;
    // The tool as the control filled it in, then its text into the remote buffer.
    TTTOOLINFOW got{};
    mem.Read(0, &got, sizeof got);
    got.cbSize = sizeof got;
    got.lpszText = mem.At<wchar_t>(1024);
    mem.Write(0, &got, sizeof got);
    SendMessageW(w, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(mem.At<char>(0)));
    std::wstring text = mem.ReadText(1024, 511);
    if (!text.empty()) c->tips->push_back(text);
  }
  return TRUE;
}

// The tips of the notification-area icons: the texts of the tools of every tooltip window that
// belongs to the process showing the notification area (the shell), read in that process.
inline std::vector<std::wstring> TrayTips() {
  std::vector<std::wstring> tips;
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD shell = 0;
  if (tray) GetWindowThreadProcessId(tray, &shell);
  TrayTipSearch ctx{shell, &tips};
  EnumWindows(CollectTrayTips, reinterpret_cast<LPARAM>(&ctx));
  return tips;
}

// A certificate for a token key pair, issued by a test CA whose key lives in Wine's software
// provider: subject CN, the token's public key, SHA-1 with RSA.
inline Bytes IssueCertificate(HCRYPTPROV ca, const std::wstring &cn, const UK_RSA_PUBLIC_KEY &pub) {
  Bytes blob = wintest::publicKeyBlob(pub);
  BYTE *rsaDer = nullptr;
  DWORD rsaLen = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, blob.data(), CRYPT_ENCODE_ALLOC_FLAG,
                           nullptr, &rsaDer, &rsaLen))
    return {};
  auto name = [](const wchar_t *x500, Bytes *out) {
    DWORD n = 0;
    CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, nullptr, &n, nullptr);
    out->resize(n);
    CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, out->data(), &n, nullptr);
  };
  Bytes subject, issuer;
  name((L"CN=\"" + cn + L"\"").c_str(), &subject);
  name(L"CN=UKey Client Test CA", &issuer);
  static BYTE nullParams[] = {0x05, 0x00};
  static char rsaOid[] = szOID_RSA_RSA, sigOid[] = szOID_RSA_SHA1RSA;
  BYTE serial[8];
  for (int i = 0; i < 8; ++i) serial[i] = BYTE(GetTickCount() >> (i % 4 * 8)) ^ BYTE(i * 37 + 1);
  serial[7] &= 0x7F;
  CERT_INFO info{};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {8, serial};
  info.SignatureAlgorithm.pszObjId = sigOid;
  info.Issuer = {DWORD(issuer.size()), issuer.data()};
  info.Subject = {DWORD(subject.size()), subject.data()};
  SYSTEMTIME st{};
  st.wYear = 2026;
  st.wMonth = 1;
  st.wDay = 2;
  SystemTimeToFileTime(&st, &info.NotBefore);
  st.wYear = 2036;
  SystemTimeToFileTime(&st, &info.NotAfter);
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = rsaOid;
  info.SubjectPublicKeyInfo.Algorithm.Parameters = {2, nullParams};
  info.SubjectPublicKeyInfo.PublicKey = {rsaLen, rsaDer, 0};
  CRYPT_ALGORITHM_IDENTIFIER alg{};
  alg.pszObjId = sigOid;
  DWORD len = 0;
  Bytes der;
  if (CryptSignAndEncodeCertificate(ca, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, &alg,
                                    nullptr, nullptr, &len)) {
    der.resize(len);
    if (!CryptSignAndEncodeCertificate(ca, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                       &alg, nullptr, der.data(), &len))
      der.clear();
    else der.resize(len);
  }
  LocalFree(rsaDer);
  return der;
}

inline std::wstring ProgramPath(const wchar_t *name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

inline HANDLE Start(const std::wstring &args = L"") {
  std::wstring line = L"\"" + ProgramPath(L"ORV_KELM_Client.exe") + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

// One container named `container` on the token `serial` (user PIN `pin`) with an exchange and a
// signature key pair generated on the token and their certificates (subjects exchangeCn and
// signatureCn). False with *why on failure.
inline bool PrepareToken(const std::string &serial, const char *pin, const std::string &container,
                         const std::wstring &exchangeCn, const std::wstring &signatureCn, std::string *why) {
  UK_DEV_INFO dev{};
  snprintf(dev.devicePath, sizeof dev.devicePath,
           "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
  auto fail = [&](const char *what, uint32_t rc) {
    char buf[160];
    snprintf(buf, sizeof buf, "%s: 0x%08x", what, unsigned(rc));
    *why = buf;
    if (dev.connection) zksTokenDisconnect(&dev);
    return false;
  };
  uint32_t rc = zksTokenConnect(&dev, 1);
  if (rc) return fail("connect", rc);
  if ((rc = zksTokenSelectPkiWorkDF(&dev, 0))) return fail("select", rc);
  uint8_t tries = 0;
  if ((rc = zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>(pin), uint32_t(strlen(pin)), &tries)))
    return fail("verify PIN", rc);
  UK_CONTAINER_INFO c{};
  snprintf(c.name, sizeof c.name, "%s", container.c_str());
  if ((rc = zksTokenNewContainer(&dev, &c))) return fail("new container", rc);
  HCRYPTPROV ca = 0;
  const wchar_t *caName = L"ukey-client-test-ca";
  if (!CryptAcquireContextW(&ca, caName, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0) &&
      !CryptAcquireContextW(&ca, caName, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return fail("test CA", GetLastError());
  HCRYPTKEY caKey = 0;
  if (!CryptGetUserKey(ca, AT_SIGNATURE, &caKey) && !CryptGenKey(ca, AT_SIGNATURE, 1024u << 16, &caKey))
    return fail("test CA key", GetLastError());
  CryptDestroyKey(caKey);
  for (uint32_t spec = 1; spec <= 2; ++spec) {
    if ((rc = zksTokenGenRsaKeyPair(&dev, &c, spec))) return fail("key pair", rc);
    UK_RSA_PUBLIC_KEY pub{};
    if ((rc = zksTokenReadRsaPubKey(&dev, &c, &pub, spec))) return fail("public key", rc);
    Bytes der = IssueCertificate(ca, spec == 1 ? exchangeCn : signatureCn, pub);
    if (der.empty()) return fail("certificate", GetLastError());
    if ((rc = zksTokenWriteCert(&dev, &c, der.data(), uint32_t(der.size()), spec))) return fail("write certificate", rc);
  }
  CryptReleaseContext(ca, 0);
  zksTokenDisconnect(&dev);
  return true;
}

}  // namespace e2e
