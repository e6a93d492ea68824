// CryptHashData throughput through this provider against Wine's built-in RSA provider ("Microsoft
// Base Cryptographic Provider v1.0"), in one run on the same data: MD5 and SHA-1, in 64-byte and
// 64 KiB pieces. Prints MB/s for both and the ratio ours / built-in (target: at least 1.0).
//
//   csp_hash_bench [MEGABYTES]      (data hashed per provider and measurement, default 64)
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "../../tests/csp/win_registration.h"
#include "../common/win_clock.h"

namespace {

using winbench::seconds;

// Seconds to feed one block of data to an open hash in pieces of the given size.
double timeBlock(HCRYPTHASH h, const std::vector<BYTE> &data, size_t piece, size_t block) {
  double t0 = seconds();
  for (size_t done = 0; done < block; done += piece) {
    if (!CryptHashData(h, data.data() + done, DWORD(piece), 0)) {
      fprintf(stderr, "CryptHashData: 0x%08lx\n", GetLastError());
      exit(1);
    }
  }
  return seconds() - t0;
}

HCRYPTHASH createHash(HCRYPTPROV prov, ALG_ID alg) {
  HCRYPTHASH h = 0;
  if (!CryptCreateHash(prov, alg, 0, 0, &h)) {
    fprintf(stderr, "CryptCreateHash: 0x%08lx\n", GetLastError());
    exit(1);
  }
  return h;
}

}  // namespace

int main(int argc, char **argv) {
  size_t megabytes = argc > 1 ? size_t(atoi(argv[1])) : 64;
  if (!csptest::registerProvider()) {
    fprintf(stderr, "cannot register the provider (run in a prefix where the program is administrator)\n");
    return 1;
  }
  HCRYPTPROV ours = 0, builtin = 0;
  if (!CryptAcquireContextA(&ours, nullptr, csptest::kProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptAcquireContextA(&builtin, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    fprintf(stderr, "CryptAcquireContext: 0x%08lx\n", GetLastError());
    return 1;
  }
  std::vector<BYTE> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = BYTE(i * 2654435761u >> 24);

  printf("%-6s %-7s %12s %12s %8s\n", "hash", "piece", "ours MB/s", "wine MB/s", "ratio");
  struct { ALG_ID alg; const char *name; } algs[] = {{CALG_MD5, "MD5"}, {CALG_SHA1, "SHA-1"}};
  struct { size_t piece; const char *name; size_t block; } pieces[] = {
      {64, "64 B", 64 << 10}, {65536, "64 KiB", 1 << 20}};
  double worst = 1e9;
  for (auto &a : algs) {
    for (auto &p : pieces) {
      // Blocks alternate between the two providers and each keeps its fastest block: a busy
      // machine (other processes preempting this one) then slows neither side's figure.
      HCRYPTHASH hOurs = createHash(ours, a.alg), hWine = createHash(builtin, a.alg);
      double tOurs = 1e9, tWine = 1e9;
      const size_t blocks = megabytes * (1 << 20) / p.block;
      for (size_t i = 0; i < blocks; ++i) {
        tOurs = std::min(tOurs, timeBlock(hOurs, data, p.piece, p.block));
        tWine = std::min(tWine, timeBlock(hWine, data, p.piece, p.block));
      }
      CryptDestroyHash(hOurs);
      CryptDestroyHash(hWine);
      double mb = double(p.block) / (1 << 20);
      double ratio = tWine / tOurs;
      if (ratio < worst) worst = ratio;
      printf("%-6s %-7s %12.1f %12.1f %8.2f\n", a.name, p.name, mb / tOurs, mb / tWine, ratio);
    }
  }
  printf("lowest ratio: %.2f (target >= 1.0)\n", worst);
  CryptReleaseContext(ours, 0);
  CryptReleaseContext(builtin, 0);
  return 0;
}
