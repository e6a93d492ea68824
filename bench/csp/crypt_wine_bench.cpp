// CryptEncrypt throughput through this provider against Wine's built-in enhanced RSA provider, in
// one run with the same key (made by ours, handed to Wine in a SIMPLEBLOB) on the same data:
// Triple-DES in CBC mode and RC4 (128 bits), in 64-byte and 64 KiB pieces. The two ciphertexts
// are compared first. Prints MB/s for both and the ratio ours / built-in (target: at least 1.0).
//
//   csp_crypt_bench [MEGABYTES]      (data encrypted per provider and measurement, default 16)
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../../tests/csp/win_registration.h"
#include "../common/win_clock.h"

namespace {

using winbench::seconds;

[[noreturn]] void fail(const char *what) {
  fprintf(stderr, "%s: 0x%08lx\n", what, GetLastError());
  exit(1);
}

// Seconds to encrypt one block of data in place in pieces of the given size (not final: the key
// runs on, as a stream of records would).
double timeBlock(HCRYPTKEY k, std::vector<BYTE> &data, size_t piece, size_t block) {
  double t0 = seconds();
  for (size_t done = 0; done < block; done += piece) {
    DWORD len = DWORD(piece);
    if (!CryptEncrypt(k, 0, FALSE, 0, data.data() + done, &len, DWORD(piece))) fail("CryptEncrypt");
  }
  return seconds() - t0;
}

}  // namespace

int main(int argc, char **argv) {
  size_t megabytes = argc > 1 ? size_t(atoi(argv[1])) : 16;
  if (!csptest::registerProvider()) {
    fprintf(stderr, "cannot register the provider (run in a prefix where the program is administrator)\n");
    return 1;
  }
  HCRYPTPROV ours = 0, builtin = 0;
  if (!CryptAcquireContextA(&ours, nullptr, csptest::kProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptAcquireContextA(&builtin, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    fail("CryptAcquireContext");
  // Wine's exchange key wraps our session keys on their way over.
  HCRYPTKEY exchange = 0, exchangeInOurs = 0;
  BYTE pub[1024];
  DWORD pubLen = sizeof pub;
  if (!CryptGenKey(builtin, AT_KEYEXCHANGE, 0, &exchange) ||
      !CryptExportKey(exchange, 0, PUBLICKEYBLOB, 0, pub, &pubLen) ||
      !CryptImportKey(ours, pub, pubLen, 0, 0, &exchangeInOurs))
    fail("exchange key");

  std::vector<BYTE> data(1 << 20), a, b;
  for (size_t i = 0; i < data.size(); ++i) data[i] = BYTE(i * 2654435761u >> 24);

  printf("%-9s %-7s %12s %12s %8s\n", "cipher", "piece", "ours MB/s", "wine MB/s", "ratio");
  struct {
    ALG_ID alg;
    const char *name;
  } algs[] = {{CALG_3DES, "3DES-CBC"}, {CALG_RC4, "RC4"}};
  struct {
    size_t piece;
    const char *name;
    size_t block;
  } pieces[] = {{64, "64 B", 64 << 10}, {65536, "64 KiB", 1 << 20}};
  double worst = 1e9;
  for (auto &al : algs) {
    HCRYPTKEY kOurs = 0, kWine = 0;
    if (!CryptGenKey(ours, al.alg, 0, &kOurs)) fail("CryptGenKey");
    BYTE blob[1024];
    DWORD blobLen = sizeof blob;
    if (!CryptExportKey(kOurs, exchangeInOurs, SIMPLEBLOB, 0, blob, &blobLen) ||
        !CryptImportKey(builtin, blob, blobLen, exchange, 0, &kWine))
      fail("session key");
    // Both the same to begin with (CBC from a zero IV in both).
    // (Room for the final block's padding.)
    a.assign(data.begin(), data.begin() + 4096);
    a.resize(4096 + 8);
    b = a;
    DWORD la = 4096, lb = 4096;
    if (!CryptEncrypt(kOurs, 0, TRUE, 0, a.data(), &la, DWORD(a.size())) ||
        !CryptEncrypt(kWine, 0, TRUE, 0, b.data(), &lb, DWORD(b.size())))
      fail("first block");
    if (la != lb || memcmp(a.data(), b.data(), la) != 0) {
      fprintf(stderr, "%s: the two providers disagree\n", al.name);
      return 1;
    }
    for (auto &p : pieces) {
      // Blocks alternate between the two providers and each keeps its fastest block: a busy
      // machine then slows neither side's figure.
      std::vector<BYTE> bufOurs = data, bufWine = data;
      double tOurs = 1e9, tWine = 1e9;
      const size_t blocks = std::max<size_t>(1, megabytes * (1 << 20) / p.block);
      for (size_t i = 0; i < blocks; ++i) {
        tOurs = std::min(tOurs, timeBlock(kOurs, bufOurs, p.piece, p.block));
        tWine = std::min(tWine, timeBlock(kWine, bufWine, p.piece, p.block));
      }
      double mb = double(p.block) / (1 << 20);
      double ratio = tWine / tOurs;
      worst = std::min(worst, ratio);
      printf("%-9s %-7s %12.1f %12.1f %8.2f\n", al.name, p.name, mb / tOurs, mb / tWine, ratio);
    }
    CryptDestroyKey(kOurs);
    CryptDestroyKey(kWine);
  }
  printf("lowest ratio: %.2f (target >= 1.0)\n", worst);
  CryptDestroyKey(exchangeInOurs);
  CryptDestroyKey(exchange);
  CryptReleaseContext(ours, 0);
  CryptReleaseContext(builtin, 0);
  return 0;
}
