// Numbers of the CryptoAPI provider contract the core works with: result codes, algorithm
// identifiers, parameter numbers and flags. The core builds without <windows.h>, so it carries
// its own copies under k-prefixed names (the Win32 headers define the originals as macros).
#pragma once
#include <stdint.h>

namespace csp {

// ---- Result codes (0 = success) ---------------------------------------------------------------
constexpr uint32_t kOk = 0;
constexpr uint32_t kErrNotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kErrInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrMoreData = 234;             // ERROR_MORE_DATA
constexpr uint32_t kErrNoMoreItems = 259;          // ERROR_NO_MORE_ITEMS

constexpr uint32_t kNteBadUid = 0x80090001u;
constexpr uint32_t kNteBadHash = 0x80090002u;
constexpr uint32_t kNteBadKey = 0x80090003u;
constexpr uint32_t kNteBadData = 0x80090005u;
constexpr uint32_t kNteBadSignature = 0x80090006u;
constexpr uint32_t kNteBadVer = 0x80090007u;
constexpr uint32_t kNteBadAlgid = 0x80090008u;
constexpr uint32_t kNteBadFlags = 0x80090009u;
constexpr uint32_t kNteBadType = 0x8009000Au;
constexpr uint32_t kNteBadKeyState = 0x8009000Bu;
constexpr uint32_t kNteBadHashState = 0x8009000Cu;
constexpr uint32_t kNteNoKey = 0x8009000Du;
constexpr uint32_t kNtePerm = 0x80090010u;
constexpr uint32_t kNteFail = 0x80090020u;
constexpr uint32_t kNteBadKeyset = 0x80090016u;    // NTE_BAD_KEYSET: "Keyset does not exist"

constexpr uint32_t kScardETimeout = 0x8010000Au;
constexpr uint32_t kScardEUnsupportedFeature = 0x80100022u;
constexpr uint32_t kScardEInvalidChv = 0x8010002Au;
constexpr uint32_t kScardENoReadersAvailable = 0x8010002Eu;
constexpr uint32_t kScardWCancelledByUser = 0x8010006Eu;

// The provider's own codes.
constexpr uint32_t kErrCertTooLarge = 0x90000009u;      // certificate total above 4096 bytes
constexpr uint32_t kErrTokenLibInit = 0x9000000Eu;      // token library could not be initialised
constexpr uint32_t kErrPinCancelled = 0x90001001u;      // PIN dialog cancelled
constexpr uint32_t kErrNoContainerName = 0x90003000u;   // no container name and no user name
constexpr uint32_t kErrNotInList = 0x90003001u;         // object missing from its list

// Token-library results the flows look at.
constexpr uint32_t kTokDefaultPin = 27130;             // 0x69FA: the factory PIN is still set
constexpr uint32_t kTokPinBlocked = 0x80006983u;
constexpr uint32_t kTokDeviceFull = 260;               // UKLR_DEV_FULL (see createContainer)
constexpr uint32_t kTokStorageFull = 112;              // ERROR_DISK_FULL, from other libraries
constexpr uint32_t kTokWaitingForButton = 21;

inline bool isWrongPin(uint32_t rc) { return (rc & 0x800063C0u) == 0x800063C0u; }

// ---- Algorithm identifiers ---------------------------------------------------------------------
constexpr uint32_t kCalgRc4 = 0x6801;
constexpr uint32_t kCalgDes = 0x6601;
constexpr uint32_t kCalg3Des = 0x6603;
constexpr uint32_t kCalg3Des112 = 0x6609;
constexpr uint32_t kCalgMd5 = 0x8003;
constexpr uint32_t kCalgSha1 = 0x8004;
constexpr uint32_t kCalgSsl3Shamd5 = 0x8008;
constexpr uint32_t kCalgRsaKeyx = 0xA400;
constexpr uint32_t kCalgRsaSign = 0x2400;

constexpr uint32_t kAtKeyExchange = 1;
constexpr uint32_t kAtSignature = 2;

// ---- Acquire flags --------------------------------------------------------------------------
constexpr uint32_t kCryptNewKeyset = 0x8;
constexpr uint32_t kCryptDeleteKeyset = 0x10;
constexpr uint32_t kCryptMachineKeyset = 0x20;
constexpr uint32_t kCryptSilent = 0x40;
constexpr uint32_t kCryptVerifyContext = 0xF0000000u;
constexpr uint32_t kAcquireRefusedFlags = 0x0FFFFFA7u;
// A verify-only request has all four top bits set.
inline bool isVerifyOnlyRequest(uint32_t flags) { return (flags & kCryptVerifyContext) == kCryptVerifyContext; }

// ---- Provider parameters -----------------------------------------------------------------------
constexpr uint32_t kPpEnumAlgs = 1;
constexpr uint32_t kPpEnumContainers = 2;
constexpr uint32_t kPpImpType = 3;
constexpr uint32_t kPpName = 4;
constexpr uint32_t kPpVersion = 5;
constexpr uint32_t kPpContainer = 6;
constexpr uint32_t kPpKeysetSecDescr = 8;
constexpr uint32_t kPpProvType = 16;
constexpr uint32_t kPpKeyStorage = 17;
constexpr uint32_t kPpEnumAlgsEx = 22;
constexpr uint32_t kPpKeyExchangePin = 32;
constexpr uint32_t kPpSignaturePin = 33;
constexpr uint32_t kPpUniqueContainer = 36;
constexpr uint32_t kPpUseHardwareRng = 38;
constexpr uint32_t kPpKeySpec = 39;
constexpr uint32_t kPpEnumExSigningProt = 40;
constexpr uint32_t kPpSignConfirmPolicy = 0x4253;

constexpr uint32_t kCryptFirst = 1;
constexpr uint32_t kCryptNext = 2;
constexpr uint32_t kCryptSgcEnum = 4;

// ---- Key parameters, blobs and key flags -------------------------------------------------------
constexpr uint32_t kKpIv = 1;
constexpr uint32_t kKpSalt = 2;
constexpr uint32_t kKpPadding = 3;
constexpr uint32_t kKpMode = 4;
constexpr uint32_t kKpModeBits = 5;
constexpr uint32_t kKpPermissions = 6;
constexpr uint32_t kKpAlgid = 7;
constexpr uint32_t kKpBlockLen = 8;
constexpr uint32_t kKpKeyLen = 9;
constexpr uint32_t kKpSaltEx = 10;
constexpr uint32_t kKpCertificate = 26;

constexpr uint32_t kPkcs5Padding = 1;
constexpr uint32_t kCryptModeCbc = 1;
constexpr uint32_t kCryptModeCfb = 4;
constexpr uint32_t kDefaultPermissions = 0x3B;
constexpr uint32_t kCryptNoSalt = 0x10;

constexpr uint8_t kSimpleBlob = 1;
constexpr uint8_t kPublicKeyBlob = 6;
constexpr uint8_t kPrivateKeyBlob = 7;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kMagicRsa1 = 0x31415352u;  // "RSA1"
constexpr uint32_t kMagicRsa2 = 0x32415352u;  // "RSA2"

// ---- Hash parameters -----------------------------------------------------------------------
constexpr uint32_t kHpAlgid = 1;
constexpr uint32_t kHpHashVal = 2;
constexpr uint32_t kHpHashSize = 4;
constexpr uint32_t kCryptLittleEndian = 1;

}  // namespace csp
