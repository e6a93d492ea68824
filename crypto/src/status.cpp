#include "ukcrypto/status.h"

namespace ukcrypto {

const char* statusName(Status s) {
  switch (s) {
    case kOk: return "ok";
    case kBadParameter: return "bad parameter";
    case kBadKeyLength: return "bad key length";
    case kBadDataLength: return "bad data length";
    case kBadMode: return "unsupported mode";
    case kMissingIv: return "missing IV";
    case kBufferTooSmall: return "buffer too small";
    case kBadPadding: return "bad padding";
    case kOutOfRange: return "input not below the modulus";
    case kBadKey: return "bad key";
    case kSeedTooLong: return "seed too long";
    case kNoSystemRandom: return "system random source failed";
  }
  return "unknown";
}

}  // namespace ukcrypto
