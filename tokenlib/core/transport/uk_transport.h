// The device road below the command layer: listing, open and close, frame exchange, framing,
// secure messaging and the secure channel.
#pragma once
#include <stdint.h>

#include "uk_context.h"
#include "uk_limits.h"
#include "ukcrypto/des.h"

namespace uk {

// At most this many USB interfaces are examined by a listing.
constexpr uint32_t kMaxInterfaces = 8;

// The single entry of the command layer ("uk_dev_SendAPDUCmd"): frames the command APDU
// (5 to 1000 bytes), applies secure messaging when the connection has it and CLA's low nibble is
// 4, exchanges the frame, unwraps the answer, checks it against *respLen (capacity in, length
// out) and maps the status word (9000 -> 0, else 0x80000000 + SW). The response is in framed form:
// two length bytes, data, SW1 SW2; its data length is *respLen - 4.
uint32_t sendApdu(UK_USB_DEV_CTX *conn, const uint8_t *apdu, uint32_t apduLen, uint8_t *resp,
                  uint32_t *respLen);

// Opens the secure channel with a 16-byte transport key; a null key switches secure messaging off.
// Returns 0, 4103 when the card cryptogram does not match, or the code of the failing command.
// The caller logs its own step name on failure.
uint32_t openSecureChannel(UK_USB_DEV_CTX *conn, const uint8_t *transportKey);

// Open (own-token test, CD-ROM path, device, mutex, records) and close of a connection. Open
// writes the log lines of the connect step ("---->uk_usb_IsSelfToken......" and the like); the
// road (direct or brokered) is chosen at open and kept in the device record.
uint32_t openConnection(const char *usbPath, UK_USB_DEV_CTX **conn);
uint32_t closeConnection(UK_USB_DEV_CTX *conn);

// Lists the interface paths of the attached tokens ("uk_mass_ListDevices"): count in: capacity
// of paths (slots of 256 bytes, may be null); out: paths kept. 0, 1 (too small, *count = kept)
// or 257.
uint32_t listTokenPaths(char (*paths)[256], uint32_t *count);

// The token's USB identifiers.
constexpr uint32_t kTokenVid = 0x0B0C;
constexpr uint32_t kTokenPid = 0x10AE;

// Reads "vid_%04x&pid_%04x" from the (lower-cased) text between the first "#" of a USB interface
// path and the next "#".
bool parseVidPid(const char *usbPath, uint32_t *vid, uint32_t *pid);
// The device instance identifier of a USB interface path: the text from its first "u" up to its
// last "#", every "#" replaced by a backslash. 0, or 4100 when the parts are missing.
uint32_t usbInstanceId(const char *usbPath, char *out, uint32_t cap);

// Own-token test ("uk_usb_IsSelfToken"): 0 with the two identification words, 2, 4100 or
// 0x101005.
uint32_t isSelfToken(const char *usbPath, uint32_t *word1, uint32_t *word2);

// The CD-ROM (else disk) interface path of a token given by its USB path ("GetCDROMPath"):
// 0, 4100 or 263.
uint32_t cdromPath(const char *usbPath, char *path, uint32_t cap);

// One frame exchange under the device mutex: response frame into resp (capacity cap), its
// transferred length in *respLen. 0, 7, 261 or 262. On the brokered road the service writes and
// reads in one request, so the codes mean: 261 the request cycle itself failed (no service,
// wrong answer type, an answer that does not fit) and nothing reached the device; 262 the
// service reported a device error (its system error is logged). A failed brokered connect gives
// 258, as a failed CreateFileA does.
uint32_t exchangeFrame(MASS_DEV_CTX *dev, const uint8_t *frame, uint32_t frameLen, uint8_t *resp,
                       uint32_t cap, uint32_t *respLen);

// ---- pure building blocks (also used by the tests, the fuzz targets and the benchmark) ------

// A parsed command APDU; data points into the APDU.
struct ApduParts {
  uint8_t cla, ins, p1, p2;
  uint32_t lc;
  const uint8_t *data;
  uint32_t le;
};

// Parses a short or extended command APDU: 0, 6 (length outside 5..1000) or 4 (malformed).
uint32_t parseApdu(const uint8_t *apdu, uint32_t len, ApduParts *out);

// Writes the request frame (always lc + 12 bytes) and returns its length.
uint32_t buildFrame(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const uint8_t *data,
                    uint32_t lc, uint32_t le, uint8_t *frame);

// Keys and chaining value of one secured command.
struct SmContext {
  uint8_t flags;            // UK_SM_MAC, UK_SM_ENC
  const uint8_t *encKey;    // 16 bytes
  const uint8_t *macKey;    // 16 bytes
  const uint8_t *challenge; // 8 bytes: IV of the command and of its response
  // Key schedules, prepared at first use and shared by a command and its response; wiped at the
  // end.
  ukcrypto::BlockKey encSchedule{};
  ukcrypto::BlockKey macSchedule{};
  bool encReady = false;
  bool macReady = false;
  ~SmContext() {
    ukcrypto::blockKeyClear(encSchedule);
    ukcrypto::blockKeyClear(macSchedule);
  }
};

// Whether a command of this class byte is wrapped on a connection with these flags.
inline bool smApplies(uint8_t flags, uint8_t cla) { return flags != 0 && (cla & 0x0F) == 4; }

// Wraps the command data (encipher, then MAC over the header and the data). out must hold
// kMaxWrappedData bytes; *outLc receives the new Lc.
void smWrapCommand(SmContext &sm, const ApduParts &apdu, uint8_t *out, uint32_t *outLc);

// Unwraps a response frame in place (MAC check, then decipher) and rebuilds it; *frameLen is
// the frame's length in and out. 0, 4107 (MAC mismatch) or 6 (bad enciphered length).
uint32_t smUnwrapResponse(SmContext &sm, uint8_t *frame, uint32_t *frameLen);

// Checks a received response: at least the two length bytes and a status word, its length
// field within what was transferred, and the frame no longer than kMaxResponse. 0 with the frame
// length (length field + 2), or 6.
uint32_t checkResponseFrame(const uint8_t *raw, uint32_t transferred, uint32_t *frameLen);

// The 10-byte vendor SCSI command block (write: dataIn false).
void vendorCdb(bool dataIn, uint32_t length, uint8_t cdb[10]);

// ---- Triple-DES (two-key) and the random generator, as the road uses them ------------------
void tdesCbcEncrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t *in, uint32_t len,
                    uint8_t *out);
void tdesCbcDecrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t *in, uint32_t len,
                    uint8_t *out);
void tdesEcbEncrypt(const uint8_t key[16], const uint8_t *in, uint32_t len, uint8_t *out);
// Host challenge: the generator seeded with the current time (4 bytes).
void hostChallenge(uint8_t out[8]);

// Maps a status word to a result code.
inline uint32_t mapStatusWord(uint8_t sw1, uint8_t sw2) {
  uint32_t sw = (uint32_t(sw1) << 8) | sw2;
  return sw == 0x9000 ? 0u : 0x80000000u + sw;
}

}  // namespace uk
