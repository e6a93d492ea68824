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
#include "../../csp/win_registration.h"
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

// The user's "My" store entries of a subject (simple display name): how many, and the key-provider
// information of the last.
struct StoreEntry {
  std::wstring container, provider;
  DWORD type = 0, keySpec = 0;
  bool found = false;
  int count = 0;
};

inline StoreEntry FindInMy(const std::wstring &subject) {
  StoreEntry e;
  HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  if (!s) return e;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(s, c))) {
    wchar_t name[512];
    CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
    if (subject != name) continue;
    e.found = true;
    ++e.count;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size);
      auto *info = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buf.data());
      e.container = info->pwszContainerName ? info->pwszContainerName : L"";
      e.provider = info->pwszProvName ? info->pwszProvName : L"";
      e.type = info->dwProvType;
      e.keySpec = info->dwKeySpec;
    }
  }
  CertCloseStore(s, 0);
  return e;
}


// ---- driving another process's dialogs ---------------------------------------------------------

// The visible dialog (class "#32770") of a process with this title; null when there is none.
inline HWND FindDialog(DWORD pid, const std::wstring &title) {
  for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD p = 0;
    GetWindowThreadProcessId(w, &p);
    if (p == pid && IsWindowVisible(w) && Text(w) == title) return w;
  }
  return nullptr;
}

inline HWND WaitDialog(DWORD pid, const std::wstring &title, DWORD ms = 20000) {
  HWND w = nullptr;
  WaitFor([&] { return (w = FindDialog(pid, title)) != nullptr; }, ms);
  return w;
}

// The text of a message box (its static text control).
inline std::wstring BoxText(HWND box) { return Text(GetDlgItem(box, 0xFFFF)); }

// The message box of a process captioned `caption`, once it shows.
inline HWND WaitBox(DWORD pid, const std::wstring &caption, DWORD ms = 20000) {
  HWND w = nullptr;
  WaitFor([&] { return (w = FindDialog(pid, caption)) != nullptr && GetDlgItem(w, 0xFFFF); }, ms);
  return w;
}

// Types text into a field the way the keyboard does: one WM_CHAR per character, after emptying
// it (everything selected, then backspace).
inline void Type(HWND edit, const std::wstring &text) {
  SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 5000, nullptr);
  SendMessageTimeoutW(edit, WM_CHAR, VK_BACK, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  for (wchar_t c : text) SendMessageTimeoutW(edit, WM_CHAR, c, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
}

// Clicks a button of a dialog (the notification a click sends; posted, since the click may open
// a modal window of its own).
inline void Click(HWND dlg, int id) {
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// Waits until the window is gone.
inline bool WaitGone(HWND w, DWORD ms = 20000) {
  return WaitFor([&] { return !IsWindow(w) || !IsWindowVisible(w); }, ms);
}

// The visible top-level windows of a process with their controls (class, id, text), one per
// line: for the message of a failing wait.
inline BOOL CALLBACK CollectWindow(HWND w, LPARAM list) {
  reinterpret_cast<std::vector<HWND> *>(list)->push_back(w);
  return TRUE;
}

inline std::string DescribeWindows(DWORD pid) {
  std::vector<std::wstring> lines;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD p = 0;
    GetWindowThreadProcessId(w, &p);
    if (p != pid || !IsWindowVisible(w)) continue;
    wchar_t cls[64] = {0};
    GetClassNameW(w, cls, 64);
    lines.push_back(std::wstring(cls) + L" \"" + Text(w) + L"\"");
    std::vector<HWND> kids;
    EnumChildWindows(w, CollectWindow, reinterpret_cast<LPARAM>(&kids));
    for (HWND c : kids) {
      GetClassNameW(c, cls, 64);
      lines.push_back(L"  " + std::wstring(cls) + L" " + std::to_wstring(GetDlgCtrlID(c)) + L" \"" + Text(c) + L"\"");
    }
  }
  std::string out;
  for (const auto &l : lines) out += Narrow({l}) + "\n";
  return out;
}

// Answers the common file dialog titled `title` with a path, as a user typing it and pressing
// Enter would.
inline bool AnswerFileDialog(DWORD pid, const std::wstring &title, const std::wstring &path) {
  HWND dlg = WaitDialog(pid, title);
  if (!dlg) return false;
  HWND edit = nullptr;
  // The file name box: the edit of combo box 1148 (cmb13; inside a ComboBoxEx32 the edit belongs
  // to its inner combo box), or edit 1152 (edt1).
  if (HWND combo = GetDlgItem(dlg, 1148)) {
    if (HWND inner = FindWindowExW(combo, nullptr, L"ComboBox", nullptr)) combo = inner;
    edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
  }
  if (!edit) edit = GetDlgItem(dlg, 1152);
  if (!edit) return false;
  SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
  Click(dlg, IDOK);
  return WaitGone(dlg);
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


// ---- signatures through the provider ------------------------------------------------------------

// The provider of this build, beside this program, registered in the prefix as the setup
// registers it. False when the tree has no provider.
inline bool ProviderInstalled() {
  if (GetFileAttributesA(csptest::providerDll().c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  return csptest::registerProvider();
}

inline bool WriteFileBytes(const std::string &path, const Bytes &b) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
  return fclose(f) == 0 && ok;
}

// The folder an OpenSSL check (verify_signature.sh) reads: emptied of an earlier signature; true
// when the provider is there (and registered), else a "skipped" marker is left for the check.
inline bool PrepareSignatureFolder(const std::string &dir) {
  CreateDirectoryA(dir.c_str(), nullptr);
  DeleteFileA((dir + "/signature.bin").c_str());
  if (!ProviderInstalled()) {
    WriteFileBytes(dir + "/skipped", {});
    return false;
  }
  DeleteFileA((dir + "/skipped").c_str());
  return true;
}

struct PinAnswer {
  volatile LONG stop;
  const wchar_t *pin;
};

// Types the PIN into any PIN dialog of this process (an edit control 1002 beside OK) until stopped.
inline DWORD WINAPI AnswerPinDialogs(void *p) {
  PinAnswer *a = static_cast<PinAnswer *>(p);
  while (!a->stop) {
    for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      HWND edit = GetDlgItem(w, 1002);
      if (pid != GetCurrentProcessId() || !edit || !IsWindowVisible(w)) continue;
      SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a->pin));
      SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
    }
    Sleep(50);
  }
  return 0;
}

// A program that knows only CryptoAPI signs with the key of the "My" certificate of `subject`
// through the provider its key-provider information names (the provider's PIN dialog answered
// with pin, the token pressing its own button); Wine's base provider checks the signature with
// the certificate's public key, and the message, the signature (most significant byte first) and
// the certificate go into dir for OpenSSL. False with *why on failure.
inline bool SignThroughStore(const std::wstring &subject, const wchar_t *pin, DWORD expectedSpec,
                             const std::string &dir, std::string *why) {
  auto fail = [&](const char *what) {
    char buf[160];
    snprintf(buf, sizeof buf, "%s: 0x%08lx", what, GetLastError());
    *why = buf;
    return false;
  };
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  if (!store) return fail("My store");
  PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                   subject.c_str(), nullptr);
  bool ok = false;
  if (!cert) {
    fail("certificate not in My");
  } else {
    PinAnswer answer{0, pin};
    HANDLE answerer = CreateThread(nullptr, 0, AnswerPinDialogs, &answer, 0, nullptr);
    HCRYPTPROV prov = 0;
    DWORD spec = 0;
    BOOL mustFree = FALSE;
    HCRYPTHASH hash = 0;
    const std::string message = "payment order 42: 100.00 to account 6222";
    Bytes sig;
    DWORD len = 0;
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &spec, &mustFree)) fail("acquire");
    else if (spec != expectedSpec) fail("key pair number");
    else if (!CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) ||
             !CryptHashData(hash, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0))
      fail("hash");
    else if (!CryptSignHashW(hash, spec, nullptr, 0, nullptr, &len)) fail("signature size");
    else if (sig.resize(len), !CryptSignHashW(hash, spec, nullptr, 0, sig.data(), &len)) fail("sign");
    else ok = true;
    sig.resize(len);
    if (hash) CryptDestroyHash(hash);
    if (prov && mustFree) CryptReleaseContext(prov, 0);
    InterlockedExchange(&answer.stop, 1);
    WaitForSingleObject(answerer, 5000);
    CloseHandle(answerer);

    if (ok) {
      HCRYPTPROV base = 0;
      HCRYPTKEY pub = 0;
      ok = CryptAcquireContextW(&base, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
           CryptImportPublicKeyInfo(base, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &pub) &&
           CryptCreateHash(base, CALG_SHA1, 0, 0, &hash) &&
           CryptHashData(hash, reinterpret_cast<const BYTE *>(message.data()), DWORD(message.size()), 0) &&
           CryptVerifySignatureW(hash, sig.data(), DWORD(sig.size()), pub, nullptr, 0);
      if (!ok) fail("CryptoAPI verification");
      if (hash) CryptDestroyHash(hash);
      if (pub) CryptDestroyKey(pub);
      if (base) CryptReleaseContext(base, 0);
    }
    if (ok) {
      Bytes be(sig.rbegin(), sig.rend());
      ok = WriteFileBytes(dir + "/message.txt", Bytes(message.begin(), message.end())) &&
           WriteFileBytes(dir + "/certificate.der", Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded)) &&
           WriteFileBytes(dir + "/signature.bin", be);
      if (!ok) fail("writing the files");
    }
    CertFreeCertificateContext(cert);
  }
  CertCloseStore(store, 0);
  return ok;
}

}  // namespace e2e
