// SHA-1 compression with the x86 SHA extensions, internal to the cryptography library.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ukcrypto {

// True when the processor has the SHA, SSSE3 and SSE4.1 instructions and this build has the code.
bool sha1HardwareAvailable();
// Only to be called when sha1HardwareAvailable() is true.
void sha1BlocksHardware(uint32_t st[5], const uint8_t* p, size_t blocks);

}  // namespace ukcrypto
