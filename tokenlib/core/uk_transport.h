// The device road below the command layer: listing, open and close, frame exchange, framing,
// secure messaging and the secure channel.
#pragma once
#include <stdint.h>

#include "uk_context.h"

namespace uk {

// Responses the send operation keeps (frames beyond this are refused).
constexpr uint32_t kMaxResponse = 2048;

// The single entry of the command layer ("uk_dev_SendAPDUCmd"): frames the command APDU
// (5 to 1000 bytes), applies secure messaging when the connection has it and CLA's low nibble is
// 4, exchanges the frame, unwraps the answer, checks it against *respLen (capacity in, length
// out) and maps the status word (9000 -> 0, else 0x80000000 + SW). The response is in framed form:
// two length bytes, data, SW1 SW2; its data length is *respLen - 4.
uint32_t sendApdu(UK_USB_DEV_CTX *conn, const uint8_t *apdu, uint32_t apduLen, uint8_t *resp,
                  uint32_t *respLen);

// Opens the secure channel with a 16-byte transport key; a null key switches secure messaging off.
uint32_t openSecureChannel(UK_USB_DEV_CTX *conn, const uint8_t *transportKey);

// Open (own-token test, CD-ROM path, device, mutex, records) and close of a connection.
uint32_t openConnection(const char *usbPath, UK_USB_DEV_CTX **conn);
uint32_t closeConnection(UK_USB_DEV_CTX *conn);

// Maps a status word to a result code.
inline uint32_t mapStatusWord(uint8_t sw1, uint8_t sw2) {
  uint32_t sw = (uint32_t(sw1) << 8) | sw2;
  return sw == 0x9000 ? 0u : 0x80000000u + sw;
}

}  // namespace uk
