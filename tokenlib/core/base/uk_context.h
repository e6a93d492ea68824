// Records the library owns: the connection record and the device I/O record.
#pragma once
#include <stdint.h>

#include "uk_tokenlib.h"

#pragma pack(push, 1)
// Device I/O record: the device handle (direct access) or the key service's handle value
// (brokered access), and the per-device mutex.
typedef struct MASS_DEV_CTX {
  uintptr_t device;
  uintptr_t mutex;
  uint8_t brokered;   // the road chosen when the device was opened
} MASS_DEV_CTX, *MASS_DEV_CTX_PTR;

// Connection record, allocated zero-filled by zksTokenConnect.
struct UK_USB_DEV_CTX {
  MASS_DEV_CTX_PTR mass;
  uint32_t selfWord1;        // 0x00040000 from the own-token test
  uint32_t selfWord2;        // 0x0100001F
  char path[260];
  uint8_t smFlags;           // bit 0 MAC, bit 1 command data enciphered
  uint8_t opByte;            // crypto environment: 1 encipher, 2 decipher, 4 sign, 8 public decipher
  uint8_t keys[80];          // S-ENC at 0, S-MAC at 32, transport key at 64
  uint32_t keyLen;           // 16 while a secure channel is in force
  uint32_t pendingSigLen;    // signature waiting for the button
  uint8_t chaining[8];       // last card challenge
};
#pragma pack(pop)

enum : uint8_t { UK_SM_MAC = 0x01, UK_SM_ENC = 0x02 };
enum : uint8_t { UK_OP_ENCIPHER = 1, UK_OP_DECIPHER = 2, UK_OP_SIGN = 4, UK_OP_PUB_DECIPHER = 8 };
