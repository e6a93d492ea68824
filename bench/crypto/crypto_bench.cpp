// Measures our primitives and OpenSSL's EVP equivalents in one run on the same data and prints
// the throughput ratio ours/OpenSSL for each: MD5, SHA-1, DES-CBC, 3DES-CBC and RC4 on 64 KiB
// buffers, and the RSA-1024 public operation (e = 65537).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ukcrypto/ukcrypto.h"

using namespace ukcrypto;

namespace {

constexpr size_t kBuf = 64 * 1024;

std::vector<uint8_t>& data() {
  static std::vector<uint8_t> d = [] {
    std::vector<uint8_t> v(kBuf);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    return v;
  }();
  return d;
}

const uint8_t kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
                          0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};
const uint8_t kIv[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// --- hashes ---
void Ours_MD5(benchmark::State& st) {
  uint8_t d[16];
  for (auto _ : st) {
    md5(data().data(), kBuf, d);
    benchmark::DoNotOptimize(d);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
}
void Ours_SHA1(benchmark::State& st) {
  uint8_t d[20];
  for (auto _ : st) {
    sha1(data().data(), kBuf, d);
    benchmark::DoNotOptimize(d);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
}
// The portable SHA-1 code, for processors without the SHA instructions (shown, not in the ratios).
void Ours_SHA1_Portable(benchmark::State& st) {
  sha1SetHardwareAcceleration(false);
  uint8_t d[20];
  for (auto _ : st) {
    sha1(data().data(), kBuf, d);
    benchmark::DoNotOptimize(d);
  }
  sha1SetHardwareAcceleration(true);
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
}
void evpDigest(benchmark::State& st, const char* name) {
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  uint8_t d[64];
  unsigned len = 0;
  for (auto _ : st) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data().data(), kBuf);
    EVP_DigestFinal_ex(ctx, d, &len);
    benchmark::DoNotOptimize(d);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
}
void OpenSSL_MD5(benchmark::State& st) { evpDigest(st, "MD5"); }
void OpenSSL_SHA1(benchmark::State& st) { evpDigest(st, "SHA1"); }

// --- block ciphers and RC4 ---
void oursCbc(benchmark::State& st, size_t keyLen) {
  BlockKey key;
  blockKeySet(key, kKey, keyLen);
  std::vector<uint8_t> out(kBuf);
  uint8_t iv[8];
  std::memcpy(iv, kIv, 8);
  for (auto _ : st) {
    modeEncrypt(key, kModeCbc, 0, iv, data().data(), kBuf, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
}
void Ours_DES_CBC(benchmark::State& st) { oursCbc(st, 8); }
void Ours_3DES_CBC(benchmark::State& st) { oursCbc(st, 24); }

void evpCipher(benchmark::State& st, const char* name, size_t keyLen, bool iv) {
  EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, name, nullptr);
  if (!c) {
    st.SkipWithError("cipher not available");
    return;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, c, nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(keyLen));
  EVP_EncryptInit_ex(ctx, nullptr, nullptr, kKey, iv ? kIv : nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> out(kBuf + 16);
  int n = 0;
  for (auto _ : st) {
    EVP_EncryptUpdate(ctx, out.data(), &n, data().data(), static_cast<int>(kBuf));
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
}
void OpenSSL_DES_CBC(benchmark::State& st) { evpCipher(st, "DES-CBC", 8, true); }
void OpenSSL_3DES_CBC(benchmark::State& st) { evpCipher(st, "DES-EDE3-CBC", 24, true); }

void Ours_RC4(benchmark::State& st) {
  Rc4State s;
  rc4Init(s, kKey, 16);
  std::vector<uint8_t> out(kBuf);
  for (auto _ : st) {
    rc4Crypt(s, data().data(), out.data(), kBuf);
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kBuf);
}
void OpenSSL_RC4(benchmark::State& st) { evpCipher(st, "RC4", 16, false); }

// --- RSA ---
EVP_PKEY* rsaKey() {
  static EVP_PKEY* k = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
  return k;
}
std::vector<uint8_t> rsaInput() {
  std::vector<uint8_t> in(128);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
  in[0] = 0x01;
  return in;
}
void Ours_RSA1024_Public(benchmark::State& st) {
  BIGNUM *n = nullptr, *e = nullptr;
  EVP_PKEY_get_bn_param(rsaKey(), "n", &n);
  EVP_PKEY_get_bn_param(rsaKey(), "e", &e);
  uint8_t nb[128], eb[8];
  BN_bn2binpad(n, nb, 128);
  int el = BN_num_bytes(e);
  BN_bn2bin(e, eb);
  RsaPublicKey key;
  rsaKeySet(key, nb, 128, eb, static_cast<size_t>(el));
  auto in = rsaInput();
  uint8_t out[128];
  for (auto _ : st) {
    rsaPublicBlock(key, in.data(), 128, out, sizeof(out));
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(int64_t(st.iterations()));
  BN_free(n);
  BN_free(e);
}
void OpenSSL_RSA1024_Public(benchmark::State& st) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(rsaKey(), nullptr);
  EVP_PKEY_encrypt_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
  auto in = rsaInput();
  uint8_t out[128];
  for (auto _ : st) {
    size_t len = sizeof(out);
    EVP_PKEY_encrypt(ctx, out, &len, in.data(), in.size());
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(int64_t(st.iterations()));
  EVP_PKEY_CTX_free(ctx);
}

BENCHMARK(Ours_MD5);
BENCHMARK(OpenSSL_MD5);
BENCHMARK(Ours_SHA1);
BENCHMARK(OpenSSL_SHA1);
BENCHMARK(Ours_SHA1_Portable);
BENCHMARK(Ours_DES_CBC);
BENCHMARK(OpenSSL_DES_CBC);
BENCHMARK(Ours_3DES_CBC);
BENCHMARK(OpenSSL_3DES_CBC);
BENCHMARK(Ours_RC4);
BENCHMARK(OpenSSL_RC4);
BENCHMARK(Ours_RSA1024_Public);
BENCHMARK(OpenSSL_RSA1024_Public);

// Console output as usual, and the CPU time per iteration of every run kept for the ratios (CPU
// time rather than wall time: the build machine is shared, and both sides run single-threaded).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (!r.error_occurred && r.run_type == Run::RT_Iteration) {
        seconds[r.benchmark_name()] =
            r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  struct Row { const char* name; const char* unit; double target; } rows[] = {
      {"MD5", "MB/s", 0.8}, {"SHA1", "MB/s", 0.5}, {"DES_CBC", "MB/s", 0.8},
      {"3DES_CBC", "MB/s", 0.8}, {"RC4", "MB/s", 0.8}, {"RSA1024_Public", "ops/s", 0.3}};
  std::printf("\n%-16s %12s %12s %7s %7s\n", "primitive", "ours", "OpenSSL", "ratio", "target");
  bool allMet = true;
  for (const auto& row : rows) {
    auto o = reporter.seconds.find(std::string("Ours_") + row.name);
    auto s = reporter.seconds.find(std::string("OpenSSL_") + row.name);
    if (o == reporter.seconds.end() || s == reporter.seconds.end()) continue;
    bool bytes = std::strcmp(row.unit, "MB/s") == 0;
    double scale = bytes ? double(kBuf) / 1e6 : 1.0;
    double ours = scale / o->second, theirs = scale / s->second, ratio = ours / theirs;
    bool met = ratio >= row.target;
    allMet = allMet && met;
    std::printf("%-16s %9.1f %-5s %9.1f %-5s %6.2f %6.2f %s\n", row.name, ours, row.unit, theirs,
                row.unit, ratio, row.target, met ? "" : "BELOW TARGET");
  }
  benchmark::Shutdown();
  if (legacy) OSSL_PROVIDER_unload(legacy);
  if (deflt) OSSL_PROVIDER_unload(deflt);
  return allMet ? 0 : 1;
}
