// Per-signature cost through CryptoAPI and this provider against the bare token-library call
// (zksTokenRsaPriEncrypt) on the same virtual token, in one run. Signatures are SSL3 SHAMD5 (the
// TLS client signature, which never waits for the button) with the PIN cached, so that both
// sides time the token and the road to it, not a user. Prints milliseconds per signature, the
// provider's overhead (target: at most 10 %), and the commands one signature sends.
//
// Runs under Wine against the emulator named by the machine-wide "VirtualToken" setting:
//   csp_sign_bench [SIGNATURES]      (per side, default 400)
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../tests/csp/win_registration.h"
#include "../common/win_clock.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

using winbench::seconds;

const char kPin[] = "482915";

[[noreturn]] void fail(const char *what, unsigned long code) {
  fprintf(stderr, "%s: 0x%08lx\n", what, code);
  exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  const int total = argc > 1 ? std::max(10, atoi(argv[1])) : 400;
  if (!csptest::registerProvider()) fail("cannot register the provider", GetLastError());
  tokensim::Client sim;
  if (!sim.fromSetting()) fail("no emulator configured (VirtualToken)", 0);
  const std::string serial = tokensim::uniqueSerial("BENCH");
  if (!sim.createToken(serial, {{"userpin", kPin}})) fail("create token", 0);

  // A container with a signature pair, made with the token library.
  UK_DEV_INFO dev{};
  snprintf(dev.devicePath, sizeof dev.devicePath,
           "\\\\?\\usb#vid_0b0c&pid_10ae#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", serial.c_str());
  UK_CONTAINER_INFO c{};
  snprintf(c.name, sizeof c.name, "bench");
  uint8_t tries = 0;
  uint32_t rc;
  if ((rc = zksTokenConnect(&dev, 1)) || (rc = zksTokenSelectPkiWorkDF(&dev, 0)) ||
      (rc = zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>(kPin), 6, &tries)) ||
      (rc = zksTokenNewContainer(&dev, &c)) || (rc = zksTokenGenRsaKeyPair(&dev, &c, AT_SIGNATURE)))
    fail("prepare the token", rc);

  // The provider's context, PIN cached.
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, "bench", csptest::kProviderName, PROV_RSA_FULL, 0))
    fail("CryptAcquireContext", GetLastError());
  if (!CryptSetProvParam(prov, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE *>(kPin), 0))
    fail("PP_SIGNATURE_PIN", GetLastError());
  BYTE value[36];
  for (int i = 0; i < 36; ++i) value[i] = BYTE(i * 7 + 1);

  auto viaCryptoApi = [&] {
    HCRYPTHASH h = 0;
    BYTE sig[128];
    DWORD len = sizeof sig;
    if (!CryptCreateHash(prov, CALG_SSL3_SHAMD5, 0, 0, &h) || !CryptSetHashParam(h, HP_HASHVAL, value, 0) ||
        !CryptSignHashA(h, AT_SIGNATURE, nullptr, 0, sig, &len))
      fail("CryptSignHash", GetLastError());
    CryptDestroyHash(h);
  };
  // The same calls without the signature: what CryptoAPI and the hash object cost on their own.
  auto hashOnly = [&] {
    HCRYPTHASH h = 0;
    if (!CryptCreateHash(prov, CALG_SSL3_SHAMD5, 0, 0, &h) || !CryptSetHashParam(h, HP_HASHVAL, value, 0))
      fail("CryptCreateHash", GetLastError());
    CryptDestroyHash(h);
  };
  auto bare = [&] {
    uint8_t out[128];
    uint32_t len = sizeof out;
    uint32_t r = zksTokenRsaPriEncrypt(&dev, &c, value, 36, out, &len, AT_SIGNATURE, 0);
    if (r) fail("zksTokenRsaPriEncrypt", r);
  };
  // The token sequence the provider runs for each signature, through the bare library: a fresh
  // session (connect, PKI folder, container file), the cached PIN, the signature. Its time
  // against the provider's is the provider's own cost (CryptoAPI, handle checks, PIN cache).
  UK_DEV_INFO sdev = dev;
  sdev.connection = {};
  auto bareSession = [&] {
    uint8_t out[128];
    uint32_t len = sizeof out;
    uint8_t t = 0;
    if (sdev.connection) zksTokenDisconnect(&sdev);
    uint32_t r;
    if ((r = zksTokenConnect(&sdev, 1)) || (r = zksTokenSelectPkiWorkDF(&sdev, 0)) ||
        (r = zksTokenSelectContainerInfoEF(&sdev)) ||
        (r = zksTokenVerifyUserPin(&sdev, reinterpret_cast<const uint8_t *>(kPin), 6, &t)) ||
        (r = zksTokenRsaPriEncrypt(&sdev, &c, value, 36, out, &len, AT_SIGNATURE, 0)))
      fail("session and signature", r);
  };
  // The bare side works on its own connection with the PIN verified once; the provider's
  // signatures in between log the card out, so the bare side verifies again before its round.
  auto barePrepare = [&] {
    if ((rc = zksTokenVerifyUserPin(&dev, reinterpret_cast<const uint8_t *>(kPin), 6, &tries)))
      fail("verify", rc);
  };

  viaCryptoApi();  // warm: the provider loaded, the device listed
  barePrepare();
  bare();
  // Rounds alternate between the two sides and each keeps its fastest round: a busy machine
  // then slows neither side's figure.
  const int rounds = 10, per = std::max(1, total / rounds);
  double tApi = 1e9, tBare = 1e9, tSession = 1e9, tHash = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double t0 = seconds();
    for (int i = 0; i < per; ++i) viaCryptoApi();
    tApi = std::min(tApi, (seconds() - t0) / per);
    t0 = seconds();
    for (int i = 0; i < per; ++i) bareSession();
    tSession = std::min(tSession, (seconds() - t0) / per);
    barePrepare();
    t0 = seconds();
    for (int i = 0; i < per; ++i) bare();
    tBare = std::min(tBare, (seconds() - t0) / per);
    t0 = seconds();
    for (int i = 0; i < per; ++i) hashOnly();
    tHash = std::min(tHash, (seconds() - t0) / per);
  }
  printf("signatures per side: %d in %d rounds (fastest round counts)\n", per * rounds, rounds);
  printf("bare zksTokenRsaPriEncrypt   %8.3f ms per signature\n", tBare * 1e3);
  printf("CryptSignHash (provider)     %8.3f ms per signature\n", tApi * 1e3);
  printf("  of which the hash object   %8.3f ms (CryptCreateHash, CryptSetHashParam, CryptDestroyHash)\n",
         tHash * 1e3);
  printf("bare session and signature   %8.3f ms per signature\n", tSession * 1e3);
  printf("provider overhead            %8.1f %% over the bare call (target <= 10 %%)\n", (tApi / tBare - 1) * 100);
  printf("                             %8.1f %% over the same session through the library\n",
         (tApi / tSession - 1) * 100);

  // What one signature with the PIN cached sends to the token.
  sim.clearTrace(serial);
  viaCryptoApi();
  printf("commands of one signature through the provider (PIN cached):\n");
  for (const std::string &line : sim.trace(serial))
    if (line.rfind("> ", 0) == 0 || line.rfind("= ", 0) == 0) printf("  %s\n", line.substr(0, 40).c_str());
  sim.clearTrace(serial);
  bare();
  printf("commands of one bare zksTokenRsaPriEncrypt:\n");
  for (const std::string &line : sim.trace(serial))
    if (line.rfind("> ", 0) == 0 || line.rfind("= ", 0) == 0) printf("  %s\n", line.substr(0, 40).c_str());

  CryptReleaseContext(prov, 0);
  if (sdev.connection) zksTokenDisconnect(&sdev);
  zksTokenDisconnect(&dev);
  sim.deleteToken(serial);
  return 0;
}
