// The card command layer: one operation per command of the token's operating system, each built
// on sendApdu. Every operation returns a result code (UKLR_* or 0x80000000 + SW) and logs its
// failures under its step name.
#pragma once
#include <stdint.h>
#include <string.h>

#include "uk_context.h"
#include "uk_transport.h"

namespace uk {

#pragma pack(push, 1)
// File attribute record given to createFile.
struct FILE_ATTR {
  uint32_t flags;          // FA_*
  uint8_t kind;            // FK_*
  uint8_t descriptor;      // second byte of the file descriptor
  uint8_t fid[2];          // ignored for the key file (always 2F02)
  uint8_t size[2];         // big-endian; key files: key length in bits
  uint8_t sfi;
  uint8_t dfNameLen;       // at most 16 used
  uint8_t dfName[23];
  uint8_t security[8];
  uint8_t proprietary[6];
};
#pragma pack(pop)
static_assert(sizeof(FILE_ATTR) == 49, "FILE_ATTR layout");

enum : uint32_t {
  FA_VALID = 0x01, FA_FID = 0x02, FA_SIZE = 0x04, FA_SFI = 0x08, FA_DFNAME = 0x10,
  FA_SECURITY = 0x20, FA_PROPRIETARY = 0x40
};
enum : uint8_t {
  FK_TRANSPARENT = 1, FK_RECORD = 2, FK_RECORD_CYCLIC = 3, FK_DF = 5, FK_RSA_PRIVATE = 6,
  FK_RSA_PUBLIC = 7, FK_SYMMETRIC = 8, FK_KEYFILE = 9
};
enum : uint8_t { PIN_USER = 0xA1, PIN_SO = 0xA4, KEY_EXT_AUTH1 = 0xC2, KEY_EXT_AUTH2 = 0xC1 };

// Entry of the key file installed with installPin ("uk_CreatePIN").
struct PinInstall {
  uint8_t ref;             // P2: PIN_USER, PIN_SO, KEY_EXT_AUTH1, KEY_EXT_AUTH2
  uint8_t number;
  uint8_t access1;
  uint8_t access2;
  uint8_t retries;
  uint8_t algClass;        // 0 for PINs
  uint8_t usage;
};

constexpr uint32_t kMaxTransfer = 500;   // read and write binary
constexpr uint32_t kPiece = 128;         // long transparent reads and writes
constexpr uint32_t kRecordSize = 192;    // index records
constexpr uint32_t kMaxPin = 32;
constexpr uint32_t kMaxLabel = 112;       // label bytes used on the card

// Select by file identifier ("uk_SelectFile"). When fci is given it receives the response data
// (file control information) and *fciLen its length (capacity in).
uint32_t selectFile(UK_USB_DEV_CTX *c, const uint8_t fid[2], uint8_t *fci = nullptr,
                    uint32_t *fciLen = nullptr);
// Read binary ("uk_ReadFile"), at most 500 bytes; *outLen receives the bytes read.
uint32_t readBinary(UK_USB_DEV_CTX *c, uint32_t offset, uint32_t len, uint8_t *out,
                    uint32_t *outLen);
// Write binary ("uk_WriteFile"), at most 500 bytes.
uint32_t writeBinary(UK_USB_DEV_CTX *c, uint32_t offset, const uint8_t *data, uint32_t len);
// Long transparent reads and writes in 128-byte pieces from offset 0.
uint32_t readBinaryLong(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t len);
uint32_t writeBinaryLong(UK_USB_DEV_CTX *c, const uint8_t *data, uint32_t len);
// Delete file ("uk_DelFile"): p1 2 inside the current DF, 0 for the MF.
uint32_t deleteFile(UK_USB_DEV_CTX *c, uint8_t p1, const uint8_t fid[2]);
// Create file ("uk_CreateCOSFile") from a file attribute record.
uint32_t createFile(UK_USB_DEV_CTX *c, const FILE_ATTR &attr);

// Records of the current record EF; the card's 4 header bytes are dropped. *len: capacity in,
// record length out.
uint32_t readRecord(UK_USB_DEV_CTX *c, uint8_t rec, uint8_t *out, uint32_t *len);
uint32_t updateRecord(UK_USB_DEV_CTX *c, uint8_t rec, const uint8_t *data, uint32_t len);
uint32_t eraseRecord(UK_USB_DEV_CTX *c, uint8_t rec);
// True for the answers of an empty index slot (6A83, 6A88).
inline bool isFreeRecord(uint32_t rc) { return rc == 0x80006A83u || rc == 0x80006A88u; }
// Create file answering that a file of that identifier exists (6A89); select or delete answering
// that there is none (6A82).
inline bool isFileExists(uint32_t rc) { return rc == 0x80006A89u; }
inline bool isFileNotFound(uint32_t rc) { return rc == 0x80006A82u; }

// PINs.
uint32_t verifyPin(UK_USB_DEV_CTX *c, uint8_t ref, const uint8_t *pin, uint32_t len);
uint32_t changePin(UK_USB_DEV_CTX *c, uint8_t ref, const uint8_t *oldPin, uint32_t oldLen,
                   const uint8_t *newPin, uint32_t newLen);
uint32_t installPin(UK_USB_DEV_CTX *c, const PinInstall &entry, const uint8_t *value, uint32_t len);
uint32_t resetUserPin(UK_USB_DEV_CTX *c, const uint8_t *pin, uint32_t len);
uint32_t logOut(UK_USB_DEV_CTX *c);

// Random bytes in 16-byte pieces ("uk_GenRandom"); n from 1 to 255.
uint32_t getRandom(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t n);
// Device information item (00 F0 00 item) with its Le; *len: capacity in, length out.
uint32_t getDeviceInfo(UK_USB_DEV_CTX *c, uint8_t item, uint8_t *out, uint32_t *len);
// Device-information block A1 (9 bytes).
uint32_t getInfoBlockA1(UK_USB_DEV_CTX *c, uint8_t out[9]);
// Label: get writes the zero-terminated text (at most 112 bytes); *len: capacity in, text length
// out (without the zero); a capacity not above the text length gives 1 with *len = length + 1.
// set cuts the label to 112 bytes and sends it with a trailing zero byte.
uint32_t getLabel(UK_USB_DEV_CTX *c, char *out, uint32_t *len);
uint32_t setLabel(UK_USB_DEV_CTX *c, const uint8_t *label, uint32_t len);

// Key components: get data 00 CB 01 p2 / put data 00 DB 01 p2.
uint32_t getData(UK_USB_DEV_CTX *c, uint8_t p2, uint32_t le, uint8_t *out, uint32_t *len);
uint32_t putData(UK_USB_DEV_CTX *c, uint8_t p2, const uint8_t *value, uint32_t len);
// Public exponent, placed right-aligned in a zero-filled buffer of modLen bytes.
uint32_t readPublicExponent(UK_USB_DEV_CTX *c, uint8_t *out, uint32_t modLen);
uint32_t generateKeyPair(UK_USB_DEV_CTX *c, const uint8_t pubFid[2], const uint8_t priFid[2]);

// Crypto environment ("uk_SetCrytoEnv"): 00 22 p1 p2, 80 01 alg, 81 02 fid [, 87 len iv]; sets the
// connection's operation byte from p1 p2.
uint32_t setCryptoEnv(UK_USB_DEV_CTX *c, uint8_t p1, uint8_t p2, uint8_t alg, const uint8_t fid[2],
                      const uint8_t *iv = nullptr, uint32_t ivLen = 0);
// Perform-security-operation commands. *outLen: capacity in, length out (1 with the needed
// length when too small).
uint32_t encipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outLen);
uint32_t decipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outLen);
// Sign: an answer without data (*outLen 0) means the signature waits for the button.
uint32_t sign(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outLen);
uint32_t publicDecipher(UK_USB_DEV_CTX *c, const uint8_t *in, uint32_t len, uint8_t *out,
                        uint32_t *outLen);
// Waiting signature: fetch ("uk_SignFinal", 0x80006785 while waiting) and cancel ("uk_SignCancel").
uint32_t fetchSignature(UK_USB_DEV_CTX *c, uint32_t len, uint8_t *out, uint32_t *outLen);
uint32_t cancelSignature(UK_USB_DEV_CTX *c);

// Building blocks shared by the command files.
namespace cmd {

// A command APDU under construction (short or extended form). Oversized commands are not built:
// size() is then 0, which the send operation refuses.
class Apdu {
 public:
  Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2) : n_(4) {
    b_[0] = cla;
    b_[1] = ins;
    b_[2] = p1;
    b_[3] = p2;
  }
  void shortData(const uint8_t *d, uint32_t len) {
    if (len > 0xFF || !room(1 + len)) return;
    b_[n_++] = uint8_t(len);
    put(d, len);
  }
  void extData(const uint8_t *d, uint32_t len) {
    if (len > 0xFFFF || !room(3 + len)) return;
    b_[n_++] = 0x00;
    b_[n_++] = uint8_t(len >> 8);
    b_[n_++] = uint8_t(len);
    put(d, len);
  }
  void shortLe(uint8_t le) {
    if (room(1)) b_[n_++] = le;
  }
  // Extended Le of a command without data: 00 Le-hi Le-lo.
  void extLe(uint32_t le) {
    if (!room(3)) return;
    b_[n_++] = 0x00;
    b_[n_++] = uint8_t(le >> 8);
    b_[n_++] = uint8_t(le);
  }
  const uint8_t *bytes() const { return b_; }
  uint32_t size() const { return bad_ ? 0 : n_; }

 private:
  bool room(uint32_t more) {
    if (n_ + more > sizeof b_) bad_ = true;
    return !bad_;
  }
  void put(const uint8_t *d, uint32_t len) {
    if (len) memcpy(b_ + n_, d, len);
    n_ += len;
  }
  uint8_t b_[1024];
  uint32_t n_;
  bool bad_ = false;
};

// A response in framed form: two length bytes, data, SW1 SW2.
struct Answer {
  uint8_t buf[kMaxResponse + 8];
  uint32_t len = 0;  // framed length; 0 when nothing usable arrived
  const uint8_t *data() const { return buf + 2; }
  uint32_t dataLen() const { return len >= 4 ? len - 4 : 0; }
};

// sendApdu with an answer capacity of cap framed bytes. A failure logs
// "---->uk_dev_SendAPDUCmd ......\n"; a success without a readable frame gives 6.
uint32_t exchange(UK_USB_DEV_CTX *c, const uint8_t *apdu, uint32_t apduLen, Answer &a,
                  uint32_t cap = kMaxResponse);
// Copies the answer data to out (*len: capacity in, length out); 1 with the needed length when
// it does not fit.
uint32_t copyOut(const Answer &a, uint8_t *out, uint32_t *len);
// The re-issue rules: two status words with which the card names the Le it wants, answered by
// sending the same command header again with that Le as its short Le. Each command that follows
// a rule names it; no command follows both.
//   MoreData     61xx  xx bytes are waiting (read binary, read record)
//   WrongLength  6Cxx  wrong length, xx is the right one (the public exponent read)
enum class Reissue : uint8_t { MoreData, WrongLength };
// Whether rc is the status word of rule; *le then receives the Le the card named.
inline bool reissueLe(uint32_t rc, Reissue rule, uint8_t *le) {
  const uint32_t sw1 = rule == Reissue::MoreData ? 0x80006100u : 0x80006C00u;
  if ((rc & 0xFFFFFF00u) != sw1) return false;
  *le = uint8_t(rc);
  return true;
}
// Sends the header cla ins p1 p2 again with the short Le the card named.
uint32_t reissue(UK_USB_DEV_CTX *c, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint8_t le,
                 Answer &a);
// 63Cx: wrong PIN, x tries left.
inline bool isWrongPin(uint32_t rc) { return (rc & 0xFFFFFFF0u) == 0x800063C0u; }

}  // namespace cmd

// The file control parameters createFile sends (bare TLVs), with every refusal of createFile.
constexpr uint32_t kMaxFileControl = 64;
uint32_t buildFileControl(const FILE_ATTR &attr, uint8_t *out, uint32_t *outLen);

}  // namespace uk
