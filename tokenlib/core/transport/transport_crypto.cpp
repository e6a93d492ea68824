// The road's use of the shared cryptography: two-key Triple-DES and the host challenge.
#include "ukcrypto/des.h"
#include "ukcrypto/random.h"
#include "uk_transport.h"

namespace uk {

// The road only ever passes whole blocks and 16-byte keys, so the primitives cannot fail here.
void tdesCbcEncrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t *in, uint32_t len,
                    uint8_t *out) {
  ukcrypto::tdesCbcEncrypt(key, 16, iv, in, len, out);
}

void tdesCbcDecrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t *in, uint32_t len,
                    uint8_t *out) {
  ukcrypto::tdesCbcDecrypt(key, 16, iv, in, len, out);
}

void tdesEcbEncrypt(const uint8_t key[16], const uint8_t *in, uint32_t len, uint8_t *out) {
  ukcrypto::tdesEcbEncrypt(key, 16, in, len, out);
}

void hostChallenge(uint8_t out[8]) {
  ukcrypto::RandomGenerator generator;
  generator.setTimeSeed(ukcrypto::currentTimeSeconds(), 4);
  generator.generate(out, 8);
}

}  // namespace uk
