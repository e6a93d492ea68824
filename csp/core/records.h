// The provider's records: the device table, the context, key and hash objects behind the three
// handle kinds, and the singly linked lists that hold them. Every record is a zero-filled heap
// block that is wiped over its whole size before it is freed; a handle is a record's address.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "ukcrypto/des.h"
#include "ukcrypto/hash.h"
#include "ukcrypto/rc4.h"
#include "uk_tokenlib.h"

namespace csp {

constexpr uint32_t kContextMagic = 0xABABABABu;
constexpr uint32_t kHashMagic = 0x99999999u;
constexpr uint32_t kMessageMagic = 0x88888888u;  // a hash object holding a captured message
constexpr uint32_t kKeyMagic = 305419896u;

constexpr uint32_t kMaxDevices = 8;
constexpr uint32_t kMaxContainers = 5;
constexpr size_t kMaxMessage = 257;  // a transaction message: 0x6F, its length byte, 255 bytes

// ---- Heap blocks -------------------------------------------------------------------------------
// A zero-filled block, tried up to three times; null when the heap refuses.
void *allocZeroed(size_t size);
// Wipes the whole block, then frees it.
void freeWiped(void *block, size_t size);
void wipe(void *p, size_t n);

template <class T>
T *newRecord() {
  return static_cast<T *>(allocZeroed(sizeof(T)));
}
template <class T>
void freeRecord(T *record) {
  if (record) freeWiped(record, sizeof(T));
}

// ---- Lists of (object, next) nodes ---------------------------------------------------------------
template <class T>
struct ListNode {
  T *object;
  ListNode *next;
};

template <class T>
struct ObjectList {
  ListNode<T> *head;

  // Pushes at the front; kErrNotEnoughMemory when no node can be had.
  uint32_t push(T *object);
  // Unlinks and frees the node; kErrNotInList when the object is not in the list.
  uint32_t remove(T *object);
  bool contains(const T *object) const {
    for (ListNode<T> *n = head; n; n = n->next)
      if (n->object == object) return true;
    return false;
  }
  bool empty() const { return head == nullptr; }
};

// ---- Device table --------------------------------------------------------------------------------
struct DeviceTable {
  UK_DEV_INFO devices[kMaxDevices];
  uint32_t count;
  uint32_t selected;  // index chosen in the device-selection dialog
  // Connections on which a signature of this process ended well, leaving the card with the
  // application folder selected and the user PIN verified (see Provider::startSignature).
  UK_USB_DEV_CTX *readyToSign[kMaxDevices];
  // Read only for the device-selection dialog.
  struct Choice {
    char serial[260];
    char label[260];
  } choices[kMaxDevices];
};

// ---- Objects behind the handles ------------------------------------------------------------------
struct HashObject {
  uint32_t magic;       // kHashMagic, or kMessageMagic once a message was captured
  uint32_t algorithm;   // MD5, SHA-1 or SSL3 SHAMD5
  uint32_t size;        // 16, 20, 36, or the captured message's length
  uint32_t valueFixed;  // no more data once the value was read, used or set
  union {
    ukcrypto::Md5Context md5;
    ukcrypto::Sha1Context sha1;
    uint8_t shamd5[36];
    struct {
      uint32_t length;
      uint8_t bytes[kMaxMessage];
    } message;
  } state;
};

struct RsaPairState {
  char container[128];
  uint8_t pubFid[2];
  uint8_t priFid[2];
};

struct RsaPublicState {
  uint32_t bits;            // at most 1024
  uint32_t exponent;
  uint8_t modulus[128];     // most significant byte first, bits / 8 bytes used
};

struct BlockCipherState {
  uint8_t key[24];          // DES uses 8 bytes; 3DES_112 repeats bytes 0-7 at 16-23
  uint8_t iv[8];
  uint8_t chain[8];
  uint32_t padding;         // 1 = PKCS #5
  uint32_t mode;            // 1 CBC, 2 ECB, 3 OFB, 4 CFB
  uint32_t modeBits;
  ukcrypto::BlockKey schedule;  // the key's schedule, made once with the key
};

struct Rc4KeyState {
  uint8_t key[16];
  ukcrypto::Rc4State rc4;
  uint32_t keyLength;       // bytes, 5 to 16
  uint8_t salt[16];         // 16 - keyLength bytes used
  uint32_t saltEnabled;
};

struct KeyObject {
  uint32_t magic;             // kKeyMagic
  uint32_t algorithm;
  uint32_t permissions;
  uint32_t softwarePublicKey; // an RSA public key imported from a PUBLICKEYBLOB
  union {
    RsaPairState pair;
    RsaPublicState pub;
    BlockCipherState block;
    Rc4KeyState rc4;
  } state;
};

struct ProviderContext {
  uint32_t magic;                 // kContextMagic
  UK_CONTAINER_INFO container;    // all zero without a container
  UK_DEV_INFO *device;            // entry of the device table, or null
  char devicePath[260];           // the device's path when it was bound
  uint32_t verifyOnly;
  uint32_t algCursor;
  uint32_t algExCursor;
  uint32_t containerCursor;
  uint32_t noConfirmAfterFirst;
  uint32_t confirmCountdown;
  uint32_t confirmFirstArmed;
  ObjectList<HashObject> hashes;
  ObjectList<KeyObject> keys;
};

// ---- ObjectList ----------------------------------------------------------------------------------
template <class T>
uint32_t ObjectList<T>::push(T *object) {
  auto *node = newRecord<ListNode<T>>();
  if (!node) return 8;  // ERROR_NOT_ENOUGH_MEMORY
  node->object = object;
  node->next = head;
  head = node;
  return 0;
}

template <class T>
uint32_t ObjectList<T>::remove(T *object) {
  for (ListNode<T> **link = &head; *link; link = &(*link)->next) {
    if ((*link)->object == object) {
      ListNode<T> *node = *link;
      *link = node->next;
      freeRecord(node);
      return 0;
    }
  }
  return 0x90003001u;  // not in the list
}

// Token families by model code: button tokens wait for their button before signing, plain tokens
// sign at once, and any other code is a display token, which shows transactions and takes the
// PIN itself.
inline bool isButtonToken(uint8_t model) { return model == 21 || model == 35 || model == 37 || model == 53; }
inline bool isPlainToken(uint8_t model) { return model == 20 || model == 36 || model == 38; }
inline bool isDisplayToken(uint8_t model) { return !isButtonToken(model) && !isPlainToken(model); }

// Key and algorithm classes.
inline bool isRsaAlgorithm(uint32_t alg) { return alg == 0xA400 || alg == 0x2400; }
inline bool isBlockAlgorithm(uint32_t alg) {
  return alg == 0x6601 || alg == 0x6603 || alg == 0x6609;
}
inline bool isSessionAlgorithm(uint32_t alg) { return isBlockAlgorithm(alg) || alg == 0x6801; }
inline bool isKeyAlgorithm(uint32_t alg) { return isRsaAlgorithm(alg) || isSessionAlgorithm(alg); }
inline bool isHashAlgorithm(uint32_t alg) { return alg == 0x8003 || alg == 0x8004 || alg == 0x8008; }
// Which pair of a container a key is: 1 exchange, 2 signature.
inline uint32_t keySpecOf(const KeyObject &k) { return k.algorithm == 0x2400 ? 2u : 1u; }

}  // namespace csp
