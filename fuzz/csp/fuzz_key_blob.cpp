// Key-blob import: the three blob parsers on arbitrary bytes, and CPImportKey's checks on a
// provider context (a software public key as the import key for SIMPLEBLOBs). A public-key blob
// that is accepted must export back byte for byte.
#include <stdlib.h>
#include <string.h>

#include "blobs.h"
#include "fuzz_provider.h"

namespace {

// The provider and a software RSA public key to import session keys with.
struct Fixture : cspfuzz::OfflineProvider {
  uintptr_t softKey = 0;
  Fixture() : OfflineProvider(53) {
    // A 1024-bit RSA public key (any odd modulus with the top bit set serves).
    uint8_t blob[148] = {6, 2, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '1', 0x00, 0x04, 0, 0,
                         0x01, 0x00, 0x01, 0x00};
    for (int i = 20; i < 148; ++i) blob[i] = uint8_t(i * 37 + 11);
    blob[20] |= 1;
    blob[147] |= 0x80;
    if (provider.importKey(prov, blob, sizeof blob, 0, 0, &softKey)) abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Fixture f;
  if (size < 2) return 0;
  const uint8_t selector = data[0];
  const uint8_t *blob = data + 1;
  const uint32_t len = uint32_t(size - 1);
  // The parsers read only what the caller's length covers: run them on an exact-size copy.
  uint8_t *copy = static_cast<uint8_t *>(malloc(len));
  memcpy(copy, blob, len);

  csp::RsaPublicState pub;
  uint32_t alg = 0;
  if (len >= 8) {
    csp::parsePublicKeyBlob(copy, len, &pub, &alg);
    uint8_t encrypted[128];
    const uint32_t importAlg = (selector & 1) ? csp::kCalgRsaKeyx : csp::kCalgRsaSign;
    csp::parseSimpleBlob(copy, len, importAlg, (selector & 2) != 0, &alg, encrypted);
    UK_RSA_PUBLIC_KEY p;
    UK_RSA_PRIVATE_KEY q;
    csp::parsePrivateKeyBlob(copy, len, &p, &q, &alg);
  }

  uintptr_t key = 0;
  const uint32_t flags = (selector & 4) ? csp::kCryptNoSalt : 0;
  const uintptr_t importKey = (selector & 8) ? f.softKey : 0;
  if (f.provider.importKey(f.prov, copy, len, importKey, flags, &key) == 0) {
    if (copy[0] == csp::kPublicKeyBlob) {
      uint8_t back[148];
      uint32_t backLen = sizeof back;
      if (f.provider.exportKey(f.prov, key, 0, csp::kPublicKeyBlob, 0, back, &backLen) != 0 ||
          backLen != len || memcmp(back, copy, len) != 0)
        abort();
    }
    f.provider.destroyKey(f.prov, key);
  }
  free(copy);
  return 0;
}
