// The chip's side of the token: a card operating system that takes one request frame and gives
// one response frame, with its file system, key file, PINs, keys, secure channel and secure
// messaging.
//
// Frames (both directions) are the token's USB transport frames:
//   request  L(2) CLA INS P1 P2 00 Lc(2) data 00 Le(2)   with L = Lc + 10
//   response L(2) data SW1 SW2                            with L = data length + 2
//
// Access rules of this card (the host software relies on them):
// - Formatting needs the open secure channel: deleting the MF, creating the MF or any DF, and
//   installing PINs or keys into a key file (00 24 with P1 low nibble 1, and changing the C1/C2
//   external authentication keys).
// - Private-key use and private-key writes need the user PIN (A1 of the key file of the key's
//   DF or a parent DF) verified in the current power session: generate key pair, put data into
//   an RSA private-key file, and decipher and sign with an RSA private key. The private
//   components of an RSA key can never be read back (get data 12 to 17 answers 6982).
// - Everything else is free: creating and deleting files (including key files), reading and
//   writing transparent files (certificates, data objects), index records, public keys, the
//   label, symmetric keys and their use.
// - Reset of the user PIN (00 FC 00 A1) needs the SO PIN (A4) verified in the power session.
// The power session runs from insertion (or reset) to removal; log out (00 2E) clears the
// verified PINs and a waiting signature, a new initialize update replaces the secure channel.
#pragma once
#include <stdint.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim_crypto.h"

namespace tokensim {

enum class Iface : uint8_t { CdRom = 0, Disk = 1, None = 2 };
enum class ButtonMode : uint8_t { Auto = 0, Never = 1 };

struct TokenConfig {
  std::string serial;
  std::string cosVersion = "Q57 COS 2.10";
  std::string projectName = "SOLENEBANK";
  uint16_t vid = 0x0B0C;
  uint16_t pid = 0x10AE;
  Iface iface = Iface::CdRom;
  ButtonMode button = ButtonMode::Auto;
  uint32_t buttonDelayMs = 0;  // Auto: the button is pressed this long after a signature waits
};

// One entry of a key file: a PIN (A1, A4) or a key (C1, C2).
struct KeyEntry {
  uint8_t ref = 0;
  uint8_t number = 0;
  uint8_t access1 = 0, access2 = 0, usage = 0, keyClass = 0;
  uint8_t maxTries = 0, tries = 0;
  uint8_t changed = 0;  // user PIN: changed since it was installed
  Bytes value;
};

struct FileNode {
  uint16_t fid = 0;
  uint8_t desc = 0;   // first byte of the file descriptor (01 03 07 38 13 15 11 10)
  uint8_t desc2 = 0;  // its second byte
  uint16_t size = 0;  // bytes; bits for key files; record length for record files
  Bytes fcp;          // the file control parameters as created, answered by select
  Bytes prop;         // tag 85
  Bytes sec;          // tag 86
  Bytes dfName;       // tag 84
  Bytes data;         // transparent content
  std::vector<Bytes> records;  // record files: empty vector = empty slot
  RsaComps comps;              // RSA key files: components; symmetric: 0x20 value
  std::vector<KeyEntry> keys;  // key file (AKF)
  std::vector<std::unique_ptr<FileNode>> children;
  FileNode *parent = nullptr;

  bool isDf() const { return desc == 0x38; }
  bool isTransparent() const { return desc == 0x01; }
  bool isRecord() const { return desc == 0x03 || desc == 0x07; }
  bool isPrivKey() const { return desc == 0x13; }
  bool isPubKey() const { return desc == 0x15; }
  bool isSymKey() const { return desc == 0x11; }
  bool isKeyFile() const { return desc == 0x10; }
  FileNode *child(uint16_t id) const;
};

struct Apdu {
  uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  Bytes data;
  uint32_t le = 0;
};

struct Answer {
  Bytes data;
  uint16_t sw = 0x9000;
};

class Card {
 public:
  // Limits of the chip: largest request frame and largest file.
  static constexpr size_t kMaxFrame = 4096;
  static constexpr uint16_t kMaxFileSize = 8192;
  static constexpr size_t kMemory = 192 * 1024;

  explicit Card(TokenConfig cfg);
  ~Card();

  // One request frame in, one response frame out. Never fails: malformed frames get an error
  // status word. *changed tells whether the persistent image changed.
  Bytes processFrame(const uint8_t *frame, size_t len, bool *changed = nullptr);
  // The plain command the last frame carried after secure messaging was removed (for the trace);
  // empty when the frame was not wrapped.
  const Bytes &lastUnwrapped() const { return lastUnwrapped_; }

  // A new power session: verified PINs, crypto environment, secure channel, waiting signature
  // and current file are forgotten; the current DF becomes the MF.
  void powerCycle();
  // Erases the file system (a blank chip has none: select 3F00 answers 6A82).
  void blank();
  // Lays out the tree a format by the token library creates (MF, DF01, key file with the two
  // external authentication keys, user and SO PIN, the three index files) and sets the label.
  void factoryFormat(const std::string &userPin, const std::string &soPin, uint8_t userTries,
                     uint8_t soTries, const std::string &label);

  // Confirms a waiting signature as the button would. False when no signature waits.
  bool pressButton();
  bool signatureWaiting() const;

  bool hasFileSystem() const { return mf_ != nullptr; }
  // The file system, read-only (null on a blank chip): tests compare whole trees.
  const FileNode *root() const { return mf_.get(); }
  TokenConfig &config() { return cfg_; }
  const TokenConfig &config() const { return cfg_; }
  const std::string &label() const { return label_; }
  void setLabel(const std::string &l) { label_ = l; }

  // Persistent image: configuration, label and file system (not the power session).
  Bytes saveImage() const;
  static std::unique_ptr<Card> loadImage(const uint8_t *p, size_t n);

  // For tests: the default user PIN a serial number implies (seventh character '2': "937260",
  // else "482915").
  static std::string defaultUserPin(const std::string &serial);

 private:
  Answer dispatch(const Apdu &a);
  Answer secureMessaging(const Apdu &wrapped);
  Answer cmdSelect(const Apdu &a);
  Answer cmdReadBinary(const Apdu &a);
  Answer cmdWriteBinary(const Apdu &a);
  Answer cmdCreate(const Apdu &a);
  Answer cmdDelete(const Apdu &a);
  Answer cmdReadRecord(const Apdu &a);
  Answer cmdUpdateRecord(const Apdu &a);
  Answer cmdEraseRecord(const Apdu &a);
  Answer cmdVerify(const Apdu &a);
  Answer cmdChangeOrInstall(const Apdu &a);
  Answer cmdResetPin(const Apdu &a);
  Answer cmdLogOut(const Apdu &a);
  Answer cmdChallenge(const Apdu &a);
  Answer cmdDevInfo(const Apdu &a);
  Answer cmdGetData(const Apdu &a);
  Answer cmdPutData(const Apdu &a);
  Answer cmdGenKeyPair(const Apdu &a);
  Answer cmdSetEnv(const Apdu &a);
  Answer cmdPso(const Apdu &a);
  Answer cmdFetchSignature(const Apdu &a);
  Answer cmdCancelSignature(const Apdu &a);
  Answer cmdInitUpdate(const Apdu &a);
  Answer cmdExternalAuth(const Apdu &a);

  FileNode *findForSelect(uint16_t fid) const;
  FileNode *findKeyFile(FileNode *df) const;
  KeyEntry *findKey(FileNode *df, uint8_t ref, FileNode **owner) const;
  KeyEntry *userPinEntry(FileNode **owner) const;
  bool userPinVerifiedFor(FileNode *df) const;
  bool isVerified(const FileNode *keyFile, uint8_t ref) const;
  void setVerified(const FileNode *keyFile, uint8_t ref, bool on);
  size_t memoryUsed(const FileNode *n) const;
  void forgetPaths(const FileNode *gone);

  TokenConfig cfg_;
  std::string label_;
  std::unique_ptr<FileNode> mf_;
  bool changed_ = false;
  Bytes lastUnwrapped_;

  // Power session.
  struct Session {
    FileNode *curDf = nullptr;
    FileNode *curEf = nullptr;
    std::vector<std::pair<const FileNode *, uint8_t>> verified;
    // Crypto environment.
    uint8_t envP1 = 0, envP2 = 0, envAlg = 0;
    uint16_t envFid = 0;
    FileNode *envDf = nullptr;
    Bytes envIv;
    // Last get-challenge answer (first 8 bytes), the chaining value of secure messaging.
    uint8_t challenge[8] = {0};
    bool challengeValid = false;
    // Secure channel.
    bool initDone = false;
    bool channelOpen = false;
    uint8_t hostChallenge[8] = {0}, cardChallenge[8] = {0};
    uint8_t sEnc[16] = {0}, sMac[16] = {0};
    // Signature waiting for the button.
    bool pending = false;
    bool pressed = false;
    Bytes pendingSig;
    std::chrono::steady_clock::time_point pendingSince;
  } s_;
};

// Frame helpers shared with the tests and the fuzz target.
Bytes buildRequestFrame(const Apdu &a);
Bytes buildResponseFrame(const Answer &a);

}  // namespace tokensim
