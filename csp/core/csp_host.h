// The seams of the provider core: what it needs from the operating system (Host), the dialogs it
// asks the user through (Dialogs) and the token library it drives (TokenApi). The Win32 skin
// supplies the real ones; native tests supply an in-process device lock, scripted dialog answers
// and, where a result cannot be produced by the token emulator, a wrapped token-library call.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "uk_tokenlib.h"

namespace csp {

class Host {
 public:
  virtual ~Host() = default;

  // The device-exclusive mutex shared by every process that talks to the token: wait without
  // time-out (a failed wait is not an error), and release.
  virtual void lockDevice() = 0;
  virtual void unlockDevice() = 0;
  // The process-local lock of the context, key and hash lists (held only for list work, never
  // across a device call or a dialog).
  virtual void lockObjects() = 0;
  virtual void unlockObjects() = 0;

  // Sets the certificate-change event (the client manager re-reads certificates).
  virtual void signalCertificateChange() = 0;
  // The user's registry values "LastConnectDevice" and "LastContainerName".
  virtual void saveLastConnectDevice(const char *name) = 0;
  virtual void saveLastContainerName(const char *name) = 0;
  // The Windows user name into buf (cap bytes); false when it cannot be had.
  virtual bool userName(char *buf, size_t cap) = 0;
  // The display language identifier (1033, 2052, 1028, ...).
  virtual uint32_t languageId() = 0;

  // The provider log: a time-stamped text line, and a bare value line.
  virtual void logLine(const char *text) = 0;
  virtual void logValue(uint32_t value) = 0;

  // Runs body(arg) on a thread of its own and waits for it without time-out; true with the
  // body's result in *exitCode, false when the thread could not be started or its result read.
  virtual bool runThread(uint32_t (*body)(void *), void *arg, uint32_t *exitCode) = 0;
  // Sleeps the calling thread.
  virtual void pause(uint32_t milliseconds) = 0;
};

// Message indexes of the prompt table that the flows show in the message dialogs.
enum Prompt : int {
  kPromptInsertDevice = 12,
  kPromptDeviceLocked = 13,
  kPromptDeviceFull = 14,
  kPromptPinFailed = 15,
  kPromptWrongPin = 16,       // built with the remaining tries
  kPromptDefaultPin = 27,
  kPromptCancelPinEntry = 31,
  kPromptPinTimeout = 32
};

// Windows without buttons that a flow opens around a long token call.
enum class Modeless {
  KeyGeneration,    // "Generating RSA key pair. Please wait..."
  SetPinOnDevice,   // progress window, PIN-change form
  PinOnDevice,      // progress window, PIN-entry form
  ConfirmOnDevice   // "Please confirm transaction on device!"
};

// One line of the device-selection list.
struct DeviceChoice {
  const char *shown;   // the label, or the device's name when the label could not be read
  const char *serial;  // serial number (may be empty)
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Two-button message dialog; tries is used by the wrong-PIN message. Returns 1 for the first
  // button (Retry / Continue), 2 for the second, 0 when the dialog could not be shown.
  virtual int askTwoButtons(int message, uint32_t tries) = 0;
  // One-button message dialog.
  virtual void tell(int message) = 0;
  // PIN dialog: true with the typed PIN, NUL-terminated, in pin (cap bytes); false on Cancel or
  // when the dialog could not be shown.
  virtual bool enterPin(char *pin, size_t cap) = 0;
  // Device selection: true with *chosen set to the selected line; false on Cancel or failure.
  virtual bool selectDevice(const DeviceChoice *lines, uint32_t count, uint32_t *chosen) = 0;
  // Opens a modeless window; the returned value (0 when it could not be opened) closes it again.
  virtual uintptr_t openWindow(Modeless kind) = 0;
  virtual void closeWindow(uintptr_t window) = 0;
  // "Do you really want to cancel the transaction?": 1 for Continue, 2 for Cancel, 0 when the
  // dialog could not be shown.
  virtual int confirmCancel() = 0;
  // The button-confirmation window, shown on a thread of its own while the token waits for its
  // button. Its cancel button sets *cancel to 1 and closes it. Returns 0 when it could not be
  // opened; once open, closeConfirmation is called exactly once, from any thread, with the
  // signing result: it closes the window if it is still open and returns after the window's
  // thread has ended.
  virtual uintptr_t openConfirmation(std::atomic<uint32_t> *cancel) = 0;
  virtual void closeConfirmation(uintptr_t window, uint32_t result) = 0;
};

// The token-library calls of the provider, bound to the library's exports by default.
struct TokenApi {
  decltype(&zksTokenEstablishContext) establishContext;
  decltype(&zksTokenReleaseContext) releaseContext;
  decltype(&zksTokenListDevices) listDevices;
  decltype(&zksTokenConnect) connect;
  decltype(&zksTokenDisconnect) disconnect;
  decltype(&zksTokenReconnect) reconnect;
  decltype(&zksTokenSelectPkiWorkDF) selectPkiWorkDF;
  decltype(&zksTokenSelectContainerInfoEF) selectContainerInfoEF;
  decltype(&zksTokenModifyUserPin) modifyUserPin;
  decltype(&zksTokenVerifyUserPin) verifyUserPin;
  decltype(&zksTokenResetUserPinVerifyFlag) resetUserPinVerifyFlag;
  decltype(&zksTokenGetSn) getSn;
  decltype(&zksTokenGetDeviceLabel) getDeviceLabel;
  decltype(&zksTokenListContainers) listContainers;
  decltype(&zksTokenNewContainer) newContainer;
  decltype(&zksTokenDeleteContainer) deleteContainer;
  decltype(&zksTokenGenRsaKeyPair) genRsaKeyPair;
  decltype(&zksTokenReadRsaPubKey) readRsaPubKey;
  decltype(&zksTokenWriteRsaKeyPair) writeRsaKeyPair;
  decltype(&zksTokenReadCert) readCert;
  decltype(&zksTokenWriteCert) writeCert;
  decltype(&zksTokenRsaPubEncrypt) rsaPubEncrypt;
  decltype(&zksTokenRsaPriDecrypt) rsaPriDecrypt;
  decltype(&zksTokenRsaPriEncrypt) rsaPriEncrypt;
  decltype(&zksTokenRsaPriEncryptFinal) rsaPriEncryptFinal;
  decltype(&zksTokenRsaPriEncryptCancel) rsaPriEncryptCancel;
  decltype(&zksTokenRsaPubDecrypt) rsaPubDecrypt;
};

// The library's exports.
TokenApi tokenLibrary();

}  // namespace csp
