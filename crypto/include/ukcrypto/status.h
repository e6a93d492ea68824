// Result codes shared by every primitive of the cryptography library.
#pragma once

namespace ukcrypto {

enum Status : int {
  kOk = 0,
  kBadParameter = 1,    // null pointer where data is required, or an argument out of its range
  kBadKeyLength = 2,    // key length not accepted by the algorithm
  kBadDataLength = 3,   // data length not a multiple of the block size (or not the modulus length)
  kBadMode = 4,         // cipher mode / mode-bits combination not supported
  kMissingIv = 5,       // the mode needs an initialisation vector and none was given
  kBufferTooSmall = 6,  // output buffer too small; the needed length is reported where possible
  kBadPadding = 7,      // padding check failed on decryption / verification
  kOutOfRange = 8,      // RSA input not below the modulus
  kBadKey = 9,          // RSA key unusable (even or too short modulus, oversized numbers)
  kSeedTooLong = 10,    // random seed longer than the 32 bytes allowed
  kNoSystemRandom = 11  // the operating system's random source failed
};

// Short English name of a status, for logs and test messages.
const char* statusName(Status s);

}  // namespace ukcrypto
