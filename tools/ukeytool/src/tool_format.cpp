// How the tool writes numbers, key pair kinds and symmetric algorithms.
#include "tool_cmds.h"

namespace ukt {
namespace cli {

std::string hex32(uint32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
  return b;
}

const char *keySpecName(int keySpec) { return keySpec == UK_KEYSPEC_SIGNATURE ? "signature" : "exchange"; }

const char *symAlgName(uint8_t alg) {
  switch (alg) {
    case UK_SYM_ALG_DES: return "DES, 8-byte key";
    case UK_SYM_ALG_3DES_112: return "Triple-DES, 16-byte key";
    case UK_SYM_ALG_3DES: return "Triple-DES, 24-byte key";
    case UK_SYM_ALG_1: return "algorithm 1 (class 7), 16-byte key";
    case UK_SYM_ALG_2: return "algorithm 2 (class 6), 16-byte key";
    case UK_SYM_ALG_20: return "algorithm 20 (class 5), 16-byte key";
    case UK_SYM_ALG_21: return "algorithm 21 (class 5), 24-byte key";
    case UK_SYM_ALG_22: return "algorithm 22 (class 5), 32-byte key";
    default: return "unknown algorithm";
  }
}
uint32_t symKeyLength(uint8_t alg) {
  switch (alg) {
    case UK_SYM_ALG_DES: return 8;
    case UK_SYM_ALG_3DES: case UK_SYM_ALG_21: return 24;
    case UK_SYM_ALG_22: return 32;
    default: return 16;
  }
}

}  // namespace cli
}  // namespace ukt
