// Loopback TCP to the token emulator: the socket layer and the message framing shared by the
// virtual device bus (inside the token library) and the emulator's client library (tests, tools).
//
// Wire protocol. Every message, in both directions, is a 4-byte big-endian body length followed
// by the body (at most kMaxBody bytes). A request body starts with an operation byte:
//   'L'                          list the inserted tokens; answer text, one line per token:
//                                "<serial> <vid hex4> <pid hex4> <cdrom|disk|none> <generation>"
//   'X' serial 00 gen(4) frame   one request frame to a token; answer: the response frame
//   'C' text                     a control command (see tokensim/README.md); answer text whose
//                                first line is "ok" or "error <reason>"
// An answer body starts with a status byte: 0 done, 1 error (text follows), 2 no such token,
// 3 the token was removed (or reinserted) since the generation the request names.
//
// In the Windows tree Winsock is loaded with LoadLibraryA on first use, so binaries that never
// reach the emulator do not import ws2_32.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace uk {
namespace simnet {

constexpr uint32_t kMaxBody = 1u << 20;
enum : uint8_t { kOpList = 'L', kOpExchange = 'X', kOpControl = 'C' };
enum : uint8_t { kDone = 0, kError = 1, kNoToken = 2, kStale = 3 };

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// "127.0.0.1:PORT" (only the loopback address is accepted). False on anything else.
bool parseAddress(const char *text, uint16_t *port);

#ifdef _WIN32
// The emulator named by the machine-wide setting HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey
// Developer, "VirtualToken" (REG_SZ "127.0.0.1:PORT"); false when it is absent or malformed. The
// 64-bit registry view is read first, so that on 64-bit Windows one setting serves 32-bit and
// 64-bit programs alike (a 32-bit program would otherwise see only the WOW6432Node copy).
bool settingAddress(uint16_t *port);
#endif

// Connects to 127.0.0.1:port; kNoSocket on failure. Receives time out after timeoutMs.
Socket connectLoopback(uint16_t port, uint32_t timeoutMs);
void closeSocket(Socket s);

bool sendAll(Socket s, const uint8_t *p, size_t n);
bool recvAll(Socket s, uint8_t *p, size_t n);

// One message (length prefix and body, the body given in two parts that are sent back to back).
bool sendMessage(Socket s, const uint8_t *a, size_t an, const uint8_t *b = nullptr, size_t bn = 0);
// Reads the length prefix of a message; false when it fails or exceeds limit.
bool recvLength(Socket s, uint32_t *len, uint32_t limit);

}  // namespace simnet
}  // namespace uk
