// The provider's process-wide state and its entry points in portable form. Each entry point takes
// the CryptoAPI arguments with portable types (handles are uintptr_t) and returns 0 or the 32-bit
// error the skin hands to the caller as the thread's last error; the core never sets it itself.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "csp_codes.h"
#include "csp_host.h"
#include "records.h"

namespace csp {

constexpr const char kProviderName[] = "ZV UKey for ORV Cryptographic Service Provider";
constexpr const char kProjectName[] = "SOLENEBANK";

// The three forms of the preamble of every token operation.
enum class Session {
  Plain,     // connect and select the application directory
  Standard,  // ... and the container-information file (reconnecting once if that fails)
  Listing    // ... and list the containers
};

// Containers of one device as a listing session read them.
struct ContainerListing {
  UK_CONTAINER_INFO records[kMaxContainers];
  uint32_t count;
};

// Signature-confirmation policies of PP_SIGN_CONFIRM_POLICY (in the flags argument).
constexpr uint32_t kPolicyFirstOnly = 0x80000001u;
constexpr uint32_t kPolicyAlways = 0x80000002u;
constexpr uint32_t kPolicyEveryNth = 0x80000003u;

class Provider {
 public:
  Provider(Host &host, Dialogs &dialogs, const TokenApi &api = tokenLibrary());
  // Frees every context still open (the process is letting the provider go).
  ~Provider();
  Provider(const Provider &) = delete;
  Provider &operator=(const Provider &) = delete;

  // ---- Contexts and provider parameters ----
  uint32_t acquireContext(uintptr_t *prov, const char *container, uint32_t flags);
  uint32_t releaseContext(uintptr_t prov, uint32_t flags);
  uint32_t getProvParam(uintptr_t prov, uint32_t param, uint8_t *data, uint32_t *len,
                        uint32_t flags);
  uint32_t setProvParam(uintptr_t prov, uint32_t param, const uint8_t *data, uint32_t flags);

  // ---- Hash objects ----
  uint32_t createHash(uintptr_t prov, uint32_t algid, uintptr_t key, uint32_t flags,
                      uintptr_t *hash);
  uint32_t hashData(uintptr_t prov, uintptr_t hash, const uint8_t *data, uint32_t len,
                    uint32_t flags);
  uint32_t getHashParam(uintptr_t prov, uintptr_t hash, uint32_t param, uint8_t *data,
                        uint32_t *len, uint32_t flags);
  uint32_t setHashParam(uintptr_t prov, uintptr_t hash, uint32_t param, const uint8_t *data,
                        uint32_t flags);
  uint32_t duplicateHash(uintptr_t prov, uintptr_t hash, const void *reserved, uint32_t flags,
                         uintptr_t *out);
  uint32_t hashSessionKey(uintptr_t prov, uintptr_t hash, uintptr_t key, uint32_t flags);
  uint32_t destroyHash(uintptr_t prov, uintptr_t hash);

  // ---- Key objects ----
  uint32_t genKey(uintptr_t prov, uint32_t algid, uint32_t flags, uintptr_t *key);
  uint32_t getUserKey(uintptr_t prov, uint32_t keySpec, uintptr_t *key);
  uint32_t deriveKey(uintptr_t prov, uint32_t algid, uintptr_t hash, uint32_t flags,
                     uintptr_t *key);
  uint32_t duplicateKey(uintptr_t prov, uintptr_t key, const void *reserved, uint32_t flags,
                        uintptr_t *out);
  uint32_t destroyKey(uintptr_t prov, uintptr_t key);
  uint32_t getKeyParam(uintptr_t prov, uintptr_t key, uint32_t param, uint8_t *data,
                       uint32_t *len, uint32_t flags);
  uint32_t setKeyParam(uintptr_t prov, uintptr_t key, uint32_t param, const uint8_t *data,
                       uint32_t flags);
  uint32_t exportKey(uintptr_t prov, uintptr_t key, uintptr_t expKey, uint32_t blobType,
                     uint32_t flags, uint8_t *data, uint32_t *len);
  uint32_t importKey(uintptr_t prov, const uint8_t *data, uint32_t len, uintptr_t impKey,
                     uint32_t flags, uintptr_t *key);

  // ---- Signing, verification, encryption and random numbers ----
  uint32_t signHash(uintptr_t prov, uintptr_t hash, uint32_t keySpec, uint32_t flags, uint8_t *sig,
                    uint32_t *len);
  uint32_t verifySignature(uintptr_t prov, uintptr_t hash, const uint8_t *sig, uint32_t len,
                           uintptr_t key, uint32_t flags);
  // bufLen is the capacity of data; *len the plaintext length in, the ciphertext length out.
  uint32_t encrypt(uintptr_t prov, uintptr_t key, uintptr_t hash, bool final, uint32_t flags,
                   uint8_t *data, uint32_t *len, uint32_t bufLen);
  uint32_t decrypt(uintptr_t prov, uintptr_t key, uintptr_t hash, bool final, uint32_t flags,
                   uint8_t *data, uint32_t *len);
  uint32_t genRandom(uintptr_t prov, uint32_t len, uint8_t *out);

  // ---- Operations the signing entry points build on ----
  // The preamble of every token operation. Listing sessions fill *listing.
  uint32_t openDeviceSession(UK_DEV_INFO *dev, Session variant,
                             ContainerListing *listing = nullptr);
  // Verifies the user PIN before a private-key operation: silently from the PIN cache when it
  // holds a PIN the token accepts, else through the PIN dialog (up to 15 attempts).
  uint32_t verifyUserPinCached(UK_DEV_INFO *dev);
  // The device a context works on (null when it has none or the device has gone).
  UK_DEV_INFO *deviceOf(ProviderContext *ctx);

  // The one handle check, for the three handle kinds (ProviderContext, HashObject, KeyObject):
  // 0 with the record, or the error of the contract (a null handle: ERROR_INVALID_PARAMETER; an
  // unknown one: NTE_BAD_UID / NTE_BAD_HASH / NTE_BAD_KEY). A handle is known while its record is
  // in the context list or in the hash or key list of a live context, so a stale or foreign value
  // is refused without being read.
  template <class T>
  uint32_t checkHandle(uintptr_t handle, T **out);

  Host &host() { return host_; }
  Dialogs &dialogs() { return dialogs_; }
  const TokenApi &token() const { return tl_; }
  DeviceTable &deviceTable() { return devices_; }
  uint32_t languageIndex() const { return languageIndex_; }
  size_t contextCount();

  // Holds the device-exclusive mutex for a scope.
  class DeviceLock {
   public:
    explicit DeviceLock(Provider &p) : host_(p.host_) { host_.lockDevice(); }
    ~DeviceLock() { host_.unlockDevice(); }
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

   private:
    Host &host_;
  };

 private:
  class ObjectLock;

  // Acquire.
  uint32_t enumerateDevices(uint32_t flags, UK_DEV_INFO **chosen);
  uint32_t chooseAmongDevices(uint32_t *index);
  template <class Match>
  uint32_t searchDevices(Match match, UK_CONTAINER_INFO *found, UK_DEV_INFO **where);
  uint32_t findContainer(const char *name, UK_CONTAINER_INFO *found, UK_DEV_INFO **where);
  uint32_t firstContainer(UK_CONTAINER_INFO *found, UK_DEV_INFO **where);
  uint32_t createContainer(UK_DEV_INFO *dev, const char *name, UK_CONTAINER_INFO *created);
  uint32_t deleteContainer(const char *name);
  uint32_t changeDefaultPin(UK_DEV_INFO *dev);
  uint32_t setPin(ProviderContext *ctx, const uint8_t *data);
  uint32_t verifyCallerPin(UK_DEV_INFO *dev, const char *pin, size_t len);
  uint32_t enumContainer(ProviderContext *ctx, uint8_t *data, uint32_t *len, uint32_t flags);
  void freeContext(ProviderContext *ctx);
  void releaseDevices();

  // The common checks of the entry points on a key: the handles and the required out pointer
  // present, then the context, then the key.
  uint32_t keyEntry(uintptr_t prov, uintptr_t key, bool outGiven, ProviderContext **ctx,
                    KeyObject **k);
  // Objects. publish lists a new hash or key object in its context and hands out its handle;
  // when it cannot be listed, the object is freed and the allocation error returned.
  template <class T>
  uint32_t publish(ProviderContext *ctx, T *object, uintptr_t *handle);
  void destroyObject(ProviderContext *ctx, HashObject *h);
  void destroyObject(ProviderContext *ctx, KeyObject *k);
  uint32_t readCertificate(ProviderContext *ctx, KeyObject *k, uint8_t *data, uint32_t *len);
  uint32_t writeCertificate(ProviderContext *ctx, KeyObject *k, const uint8_t *data);
  uint32_t exportPublicKey(ProviderContext *ctx, KeyObject *k, uint8_t *data, uint32_t *len);
  uint32_t exportSimpleBlob(ProviderContext *ctx, KeyObject *k, KeyObject *exchange,
                            uint8_t *data, uint32_t *len);
  uint32_t importSimpleBlob(ProviderContext *ctx, const uint8_t *data, uint32_t len,
                            uintptr_t impKey, uint32_t flags, KeyObject *key);
  uint32_t importPrivateKey(ProviderContext *ctx, const uint8_t *data, uint32_t len,
                            KeyObject *key);
  // A private-key sequence on the context's device: session, PIN, the operation, log-out.
  template <class Op>
  uint32_t withPrivateKey(ProviderContext *ctx, Session variant, Op op);

  // Signing by token family (under the device mutex). out holds 128 bytes, *outLen its length.
  struct Signature {
    const UK_CONTAINER_INFO *container;
    const uint8_t *data;
    uint32_t length;
    uint32_t keySpec;
    uint32_t mode;  // 0: sign at once; nonzero: the user confirms on the token
    uint8_t *out;
    uint32_t *outLen;
  };
  // The signature command on a ready session: the connection the last signature left ready, or a
  // new session with the PIN verified. Returns the command's result (kTokWaitingForButton when
  // the token waits for its button).
  uint32_t startSignature(UK_DEV_INFO *dev, const Signature &s);
  bool readyToSign(const UK_DEV_INFO *dev) const;
  void markReadyToSign(const UK_USB_DEV_CTX *connection, bool ready);
  uint32_t signOnButtonToken(UK_DEV_INFO *dev, const Signature &s);
  uint32_t signOnPlainToken(UK_DEV_INFO *dev, const Signature &s);
  uint32_t signOnDisplayToken(UK_DEV_INFO *dev, const Signature &s);
  // The token waits for its button: the confirmation window and the polling thread.
  uint32_t waitForButton(UK_DEV_INFO *dev, uint8_t *out, uint32_t *outLen);
  static uint32_t pollForButton(void *provider);
  // Block ciphers and RC4 over a session key, in place (the common part of encrypt and decrypt).
  uint32_t cryptEntry(uintptr_t prov, uintptr_t key, uintptr_t hash, bool decrypting, uint32_t flags,
                      const uint8_t *data, const uint32_t *len, KeyObject **k, HashObject **h);

  Host &host_;
  Dialogs &dialogs_;
  TokenApi tl_;
  DeviceTable devices_;
  ObjectList<ProviderContext> contexts_;
  char pinEntry_[200];
  // What the signing call, the confirmation window and the polling thread of a button-confirmed
  // signature share. One such signature runs at a time: the device mutex is held around it.
  struct ButtonWait {
    UK_DEV_INFO *device;
    uint8_t *out;
    uint32_t *outLen;
    uintptr_t window;
    std::atomic<uint32_t> cancel;
  } signing_;
  uint32_t languageIndex_ = 0;
  bool established_ = false;  // the token library's context is open
};

// The null-buffer / short-buffer contract of the Get*Param calls and the exports: a null data
// pointer sets *len to n and succeeds; a buffer shorter than n gives ERROR_MORE_DATA with *len
// unchanged; otherwise the n bytes are copied and *len = n.
uint32_t putBytes(const void *src, uint32_t n, uint8_t *data, uint32_t *len);
uint32_t putValue(uint32_t value, uint8_t *data, uint32_t *len);

// The digest of an MD5 or SHA-1 hash object into out (16 or 20 bytes); an open value is
// finalised and fixed first.
void hashValue(HashObject &h, uint8_t *out);

// Keys an RC4 session key's stream: the key bytes followed, while salting is on, by the salt (16
// bytes in all). Also restarts the stream after a final block.
void rekeyRc4(Rc4KeyState &s);

// languageIndex from a language identifier: 1 Simplified Chinese, 2 Traditional, 0 English.
uint32_t languageIndexOf(uint32_t languageId);

}  // namespace csp
