// storesign: a program that knows only CryptoAPI and the certificate store, as a browser or a
// signing tool does. It finds a certificate in the user's "My" store by its subject, and signs
// a file's SHA-1 digest with the private key the store names for it (through whichever provider
// the certificate's key properties name). Used by the demonstration and by support staff to check
// that a registered certificate signs.
//
//   storesign find SUBJECT [--wait SECONDS] [-o CERT.der]
//       0 when a certificate whose subject contains SUBJECT is in "My" (waiting up to SECONDS for
//       it to appear), 1 when none is; -o writes it (DER).
//   storesign sign SUBJECT FILE -o SIGNATURE [--pin-stdin]
//       signs FILE's SHA-1 digest (PKCS #1 v1.5) and writes the signature most significant byte
//       first, the form OpenSSL reads. --pin-stdin reads the PIN from the first line of standard
//       input and gives it to the provider (PP_SIGNATURE_PIN / PP_KEYEXCHANGE_PIN), as a program
//       that asks for the PIN itself does; without it the provider asks the user.
// Exit status: 0 done, 1 not found or failed, 2 bad command line.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

int usage() {
  fputs("usage: storesign find SUBJECT [--wait SECONDS] [-o CERT.der]\n"
        "       storesign sign SUBJECT FILE -o SIGNATURE [--pin-stdin]\n",
        stderr);
  return 2;
}

int failed(const char *what) {
  DWORD e = GetLastError();
  fprintf(stderr, "storesign: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(e));
  return 1;
}

std::wstring widen(const char *s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::wstring w(n > 0 ? size_t(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n);
  w.resize(wcslen(w.c_str()));
  return w;
}

bool readFile(const char *path, Bytes &out) {
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  BYTE buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

bool writeFile(const char *path, const BYTE *p, size_t n) {
  FILE *f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(p, 1, n, f) == n;
  return fclose(f) == 0 && ok;
}

// The first certificate in the user's "My" store whose subject contains `subject`, or null.
// The store is opened afresh on every call so that registrations by other processes are seen.
PCCERT_CONTEXT findInMy(const std::wstring &subject) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"My");
  if (!store) return nullptr;
  PCCERT_CONTEXT c = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                subject.c_str(), nullptr);
  CertCloseStore(store, 0);
  return c;
}

int cmdFind(const std::wstring &subject, DWORD waitSeconds, const char *out) {
  DWORD start = GetTickCount();
  PCCERT_CONTEXT c;
  while (!(c = findInMy(subject))) {
    if (GetTickCount() - start >= waitSeconds * 1000) {
      fprintf(stderr, "storesign: no certificate with that subject in the user's \"My\" store\n");
      return 1;
    }
    Sleep(250);
  }
  wchar_t name[256] = L"";
  CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
  DWORD size = 0;
  CRYPT_KEY_PROV_INFO *info = nullptr;
  Bytes buf;
  if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    buf.resize(size);
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size))
      info = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buf.data());
  }
  printf("found \"%ls\"", name);
  if (info) printf(", key in container \"%ls\" of \"%ls\"", info->pwszContainerName, info->pwszProvName);
  printf("\n");
  int rc = 0;
  if (out && !writeFile(out, c->pbCertEncoded, c->cbCertEncoded)) {
    fprintf(stderr, "storesign: cannot write '%s'\n", out);
    rc = 1;
  }
  CertFreeCertificateContext(c);
  return rc;
}

int cmdSign(const std::wstring &subject, const char *path, const char *out, bool pinStdin) {
  std::string pin;
  if (pinStdin) {
    char line[64] = "";
    if (!fgets(line, sizeof line, stdin)) {
      fprintf(stderr, "storesign: no PIN on standard input\n");
      return 2;
    }
    pin = line;
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
  }
  Bytes data;
  if (!readFile(path, data)) {
    fprintf(stderr, "storesign: cannot read '%s'\n", path);
    return 1;
  }
  PCCERT_CONTEXT c = findInMy(subject);
  if (!c) {
    fprintf(stderr, "storesign: no certificate with that subject in the user's \"My\" store\n");
    return 1;
  }
  HCRYPTPROV prov = 0;
  DWORD spec = 0;
  BOOL mustFree = FALSE;
  int rc = 1;
  HCRYPTHASH hash = 0;
  DWORD len = 0;
  Bytes sig;
  if (!CryptAcquireCertificatePrivateKey(c, 0, nullptr, &prov, &spec, &mustFree)) {
    rc = failed("CryptAcquireCertificatePrivateKey");
    goto done;
  }
  if (pinStdin) {
    DWORD param = spec == AT_SIGNATURE ? PP_SIGNATURE_PIN : PP_KEYEXCHANGE_PIN;
    if (!CryptSetProvParam(prov, param, reinterpret_cast<const BYTE *>(pin.c_str()), 0)) {
      rc = failed("CryptSetProvParam (PIN)");
      goto done;
    }
  }
  if (!CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash)) {
    rc = failed("CryptCreateHash");
    goto done;
  }
  if (!CryptHashData(hash, data.data(), DWORD(data.size()), 0)) {
    rc = failed("CryptHashData");
    goto done;
  }
  if (!CryptSignHashW(hash, spec, nullptr, 0, nullptr, &len)) {
    rc = failed("CryptSignHash (length)");
    goto done;
  }
  sig.resize(len);
  if (!CryptSignHashW(hash, spec, nullptr, 0, sig.data(), &len)) {
    rc = failed("CryptSignHash");
    goto done;
  }
  sig.resize(len);
  // CryptoAPI gives the signature least significant byte first.
  for (size_t i = 0, j = sig.size(); i + 1 < j; ++i, --j) std::swap(sig[i], sig[j - 1]);
  if (!writeFile(out, sig.data(), sig.size())) {
    fprintf(stderr, "storesign: cannot write '%s'\n", out);
    goto done;
  }
  printf("signed %zu bytes with the %s key: %lu-byte signature\n", data.size(),
         spec == AT_SIGNATURE ? "signature" : "exchange", static_cast<unsigned long>(len));
  rc = 0;
done:
  if (hash) CryptDestroyHash(hash);
  if (prov && mustFree) CryptReleaseContext(prov, 0);
  CertFreeCertificateContext(c);
  SecureZeroMemory(&pin[0], pin.size());
  return rc;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) return usage();
  std::string cmd = argv[1];
  std::wstring subject = widen(argv[2]);
  const char *out = nullptr;
  DWORD wait = 0;
  bool pinStdin = false;
  std::vector<const char *> rest;
  for (int i = 3; i < argc; ++i) {
    if (!strcmp(argv[i], "-o") && i + 1 < argc) {
      out = argv[++i];
    } else if (!strcmp(argv[i], "--wait") && i + 1 < argc) {
      char *end = nullptr;
      unsigned long v = strtoul(argv[++i], &end, 10);
      if (!end || *end || v > 3600) return usage();
      wait = DWORD(v);
    } else if (!strcmp(argv[i], "--pin-stdin")) {
      pinStdin = true;
    } else if (argv[i][0] == '-') {
      return usage();
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (cmd == "find" && rest.empty() && !pinStdin) return cmdFind(subject, wait, out);
  if (cmd == "sign" && rest.size() == 1 && out && !wait) return cmdSign(subject, rest[0], out, pinStdin);
  return usage();
}
