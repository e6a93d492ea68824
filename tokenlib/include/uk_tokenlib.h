/* Public interface of the token library ORV_KELM_Q57Tokenlib.dll.
 *
 * Every export uses the standard Windows calling convention and returns a 32-bit result code
 * (UKLR_*). "dev" is a device record filled by zksTokenListDevices. Records are byte-packed;
 * their sizes and the offsets callers rely on are checked at compile time below. */
#ifndef UK_TOKENLIB_H
#define UK_TOKENLIB_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define UKAPI __stdcall
#else
#define UKAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes ---------------------------------------------------------------------- */
enum {
  UKLR_OK = 0,
  UKLR_BUFFER_TOO_SMALL = 1,
  UKLR_OS_UNSUPPORTED = 2,
  UKLR_NO_MEMORY = 3,
  UKLR_PARAM_VALUE = 4,
  UKLR_DEV_MUTEX = 5,
  UKLR_DATA_LENGTH = 6,
  UKLR_DEV_BLOCK = 7,
  UKLR_INVALID_TYPE = 8,
  UKLR_FLAG_SUPPORTED = 9,
  UKLR_INVALID_FLAG = 10,
  UKLR_NOT_SUPPORTED = 11,
  UKLR_SIGN_PENDING = 21,
  UKLR_MORE_DATA = 234,
  UKRL_ENUM_MASS_DEV = 257,
  UKLR_DEV_OPEN = 258,
  UKLR_DEV_FULL = 260,
  UKLR_DEV_WRITE = 261,
  UKLR_DEV_READ = 262,
  UKLR_DEV_PATH = 263,
  UKLR_NAME_TOO_LONG = 592,
  UKLR_DEV_NAME_INVALID = 4100,
  UKLR_AUTH_CMP = 4103,
  UKLR_VERIFY_CMP = 4107,
  UKLR_KEY_TYPE_SUPPORT = 4108,
  UKLR_CRYPTO_ENV_NOT_INIT = 4109,
  UKLR_ALG_SUPPORT = 4110,
  UKLR_NOT_SELF_TOKEN = 0x101005,
  UKLR_OBJ_EXISTS = 0x101022,
  UKLR_OBJ_NOT_FOUND = 0x101027,
  UKLR_PADDING = 0x101028
};
/* Codes at or above 0x80000000 do not fit an enum portably. */
#define UKLR_CERT_NOT_FOUND 0x80090011u
#define UKLR_CERT_TOO_LARGE 0x80093104u
#define UKLR_SYM_ALG 0x88000001u
#define UKLR_SW_BASE 0x80000000u          /* + card status word */
#define UKLR_SW(sw) (UKLR_SW_BASE + (uint32_t)(sw))
#define UKLR_IS_WRONG_PIN(rc) (((uint32_t)(rc) & 0xFFFFFFF0u) == 0x800063C0u) /* 63C0..63CF */

#define UK_PROJECT_NAME "SOLENEBANK"
/* The device-exclusive mutex every program holds around a whole token sequence (created by
 * whichever program needs it first, waited for without a time limit). */
#define UK_DEVICE_EXCLUSIVE_MUTEX "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV"
#define UK_KEYSPEC_EXCHANGE 1
#define UK_KEYSPEC_SIGNATURE 2

#pragma pack(push, 1)

typedef struct UK_USB_DEV_CTX UK_USB_DEV_CTX, *UK_USB_DEV_CTX_PTR;

/* Device record. The caller fields are preserved across listings (matched by device path). */
typedef struct UK_DEV_INFO {
  int32_t state;               /* 1 connected, 0 not */
  uint8_t modelCode;           /* 0x35 after listing */
  char displayName[260];       /* "ZV-UK Q57: %d " */
  char devicePath[260];        /* USB device interface path */
  UK_USB_DEV_CTX_PTR connection;
  uint32_t reserved;
  uint32_t callerWord;
  uint8_t callerDataA[32];
  uint8_t callerDataALen;
  uint8_t callerDataB[24];
  uint8_t callerDataBLen;
} UK_DEV_INFO, *UK_DEV_INFO_PTR;

/* Container record. FIDs are stored as two bytes, high byte first (B0 nn). */
typedef struct UK_CONTAINER_INFO {
  uint8_t recordNumber;        /* 1..5 */
  uint8_t flags;               /* UK_CONT_* */
  uint8_t exPubFid[2];
  uint8_t exPriFid[2];
  uint8_t exCertFid[2];
  uint8_t sigPubFid[2];
  uint8_t sigPriFid[2];
  uint8_t sigCertFid[2];
  char name[128];              /* zero-terminated, fewer than 80 characters */
  uint8_t idLen;               /* below 80 */
  uint8_t id[127];
  uint8_t exKeyUnits;          /* key size in units of 1024 bits, 0 none */
  uint8_t sigKeyUnits;
} UK_CONTAINER_INFO, *UK_CONTAINER_INFO_PTR;

#define UK_CONT_EX_KEY 0x01
#define UK_CONT_SIG_KEY 0x02
#define UK_CONT_EX_CERT 0x10
#define UK_CONT_SIG_CERT 0x20

/* RSA key records of 1024-bit keys; numbers big-endian, the exponent right-aligned in its first
 * bits/8 bytes. */
typedef struct UK_RSA_PUBLIC_KEY {
  uint32_t bits;
  uint8_t modulus[128];
  uint8_t exponent[128];
} UK_RSA_PUBLIC_KEY;

typedef struct UK_RSA_PRIVATE_KEY {
  uint32_t bits;
  uint8_t modulus[128];
  uint8_t publicExponent[128];
  uint8_t privateExponent[128];
  uint8_t prime1[64];
  uint8_t prime2[64];
  uint8_t exponent1[64];       /* dp */
  uint8_t exponent2[64];       /* dq */
  uint8_t coefficient[64];     /* qinv */
} UK_RSA_PRIVATE_KEY;

/* Records of the same shape for 2048-bit keys. A key record whose bits field says 2048 is read
 * and written with this layout; every other value uses the 1024-bit one. */
typedef struct UK_RSA_PUBLIC_KEY_2048 {
  uint32_t bits;
  uint8_t modulus[256];
  uint8_t exponent[256];
} UK_RSA_PUBLIC_KEY_2048;

typedef struct UK_RSA_PRIVATE_KEY_2048 {
  uint32_t bits;
  uint8_t modulus[256];
  uint8_t publicExponent[256];
  uint8_t privateExponent[256];
  uint8_t prime1[128];
  uint8_t prime2[128];
  uint8_t exponent1[128];
  uint8_t exponent2[128];
  uint8_t coefficient[128];
} UK_RSA_PRIVATE_KEY_2048;

/* Symmetric-key record. */
typedef struct UK_SYM_KEY_INFO {
  uint8_t recordNumber;
  uint8_t algId;               /* UK_SYM_ALG_* */
  uint8_t attrFlag;
  uint8_t name[128];           /* 80 bytes used */
  uint8_t id[128];             /* length byte, then the bytes; 80 bytes used */
} UK_SYM_KEY_INFO;

/* Symmetric algorithm identifiers (key class on the token, key length in bytes in comments). */
enum {
  UK_SYM_ALG_1 = 1,            /* class 7, 16 */
  UK_SYM_ALG_2 = 2,            /* class 6, 16 */
  UK_SYM_ALG_DES = 3,          /* class 2,  8 */
  UK_SYM_ALG_3DES_112 = 4,     /* class 4, 16 */
  UK_SYM_ALG_3DES = 5,         /* class 4, 24 */
  UK_SYM_ALG_20 = 20,          /* class 5, 16 */
  UK_SYM_ALG_21 = 21,          /* class 5, 24 */
  UK_SYM_ALG_22 = 22           /* class 5, 32 */
};

/* Data-object record. */
typedef struct UK_DATA_OBJECT_INFO {
  uint8_t recordNumber;
  uint8_t name[128];           /* 80 bytes used */
  uint8_t id[128];             /* length byte, then the bytes; 80 bytes used */
  uint8_t attrFlag;
  uint8_t callerData[24];
} UK_DATA_OBJECT_INFO;

#pragma pack(pop)

/* ---- exports --------------------------------------------------------------------------- */
uint32_t UKAPI zksTokenEstablishContext(void);
uint32_t UKAPI zksTokenReleaseContext(void);
uint32_t UKAPI zksTokenSetLanguage(UK_DEV_INFO *dev, uint32_t language);

uint32_t UKAPI zksTokenListDevices(const char *projectName, UK_DEV_INFO *devs, uint32_t *count);
uint32_t UKAPI zksTokenConnect(UK_DEV_INFO *dev, uint32_t reserved);
uint32_t UKAPI zksTokenDisconnect(UK_DEV_INFO *dev);
uint32_t UKAPI zksTokenReconnect(UK_DEV_INFO *dev, uint32_t reserved);
/* Sends one command APDU of cmdLen bytes from buf and writes the framed response (two length
 * bytes, data, SW1 SW2) back into buf; *respLen: capacity in, length out. Takes the device
 * record, like every other export. */
uint32_t UKAPI zksTokenTransmit(UK_DEV_INFO *dev, uint32_t flag, uint32_t cmdLen, uint8_t *buf,
                                uint32_t *respLen, uint32_t reserved1, uint32_t reserved2,
                                uint32_t reserved3);

uint32_t UKAPI zksTokenSelectMF(UK_DEV_INFO *dev);
uint32_t UKAPI zksTokenSelectPkiWorkDF(UK_DEV_INFO *dev, uint32_t reserved);
uint32_t UKAPI zksTokenSelectDF(UK_DEV_INFO *dev, const uint8_t *fid);
uint32_t UKAPI zksTokenSelectEF(UK_DEV_INFO *dev, const uint8_t *fid);
uint32_t UKAPI zksTokenSelectContainerInfoEF(void *arg);
uint32_t UKAPI zksTokenSelectObjectEF(void *arg);
uint32_t UKAPI zksTokenCreateEF(void *arg1, void *arg2, void *arg3);
uint32_t UKAPI zksTokenDeleteEF(UK_DEV_INFO *dev, const uint8_t *fid);
uint32_t UKAPI zksTokenReadBinary(UK_DEV_INFO *dev, uint32_t offset, uint32_t length, uint8_t *buf);
uint32_t UKAPI zksTokenUpdateBinary(UK_DEV_INFO *dev, uint32_t offset, uint32_t length,
                                    const uint8_t *data);

uint32_t UKAPI zksTokenVerifyUserPin(UK_DEV_INFO *dev, const uint8_t *pin, uint32_t pinLen,
                                     uint8_t *triesLeft);
uint32_t UKAPI zksTokenVerifySoPin(UK_DEV_INFO *dev, const uint8_t *pin, uint32_t pinLen,
                                   uint8_t *triesLeft);
uint32_t UKAPI zksTokenModifyUserPin(UK_DEV_INFO *dev, const uint8_t *oldPin, uint32_t oldLen,
                                     const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft);
uint32_t UKAPI zksTokenModifySoPin(UK_DEV_INFO *dev, const uint8_t *oldPin, uint32_t oldLen,
                                   const uint8_t *newPin, uint32_t newLen, uint8_t *triesLeft);
uint32_t UKAPI zksTokenUnlockUserPin(UK_DEV_INFO *dev, const uint8_t *soPin, uint32_t soLen,
                                     const uint8_t *newUserPin, uint32_t newLen);
uint32_t UKAPI zksTokenSetUserPin(UK_DEV_INFO *dev, const uint8_t *newUserPin, uint32_t len,
                                  uint32_t reserved);
uint32_t UKAPI zksTokenResetUserPinVerifyFlag(UK_DEV_INFO *dev);

uint32_t UKAPI zksTokenGetDeviceLabel(UK_DEV_INFO *dev, char *label, uint32_t *len);
uint32_t UKAPI zksTokenModifyDeviceLabel(UK_DEV_INFO *dev, const char *label, uint32_t len);
uint32_t UKAPI zksTokenGetDeviceConfigInfo(void *a1, void *a2, void *a3, void *a4, void *a5, void *a6);
uint32_t UKAPI zksTokenModifyDeviceConfigInfo(void *a1, void *a2, void *a3, void *a4, void *a5,
                                              void *a6);
uint32_t UKAPI zksTokenGetSn(UK_DEV_INFO *dev, char *sn, uint32_t *len);
/* Writes bytes 8, 5 and 2 of device-information block A1 to the three outputs. */
uint32_t UKAPI zksTokenGetDeviceInfo(UK_DEV_INFO *dev, uint32_t *byte8, uint8_t *byte5,
                                     uint8_t *byte2, uint32_t reserved);
uint32_t UKAPI zksTokenGetCosVersion(UK_DEV_INFO *dev, uint8_t *version, uint32_t *len);
uint32_t UKAPI zksTokenGenRandom(UK_DEV_INFO *dev, uint8_t *buf, uint32_t len);
uint32_t UKAPI zksTokenFormatDevice(UK_DEV_INFO *dev, void *progressWnd, const uint8_t *soPin,
                                    uint32_t soLen, uint32_t soRetries, const uint8_t *userPin,
                                    uint32_t userLen, uint32_t userRetries, uint32_t reserved1,
                                    const char *label, uint32_t reserved2, uint32_t reserved3);

uint32_t UKAPI zksTokenNewContainer(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont);
uint32_t UKAPI zksTokenListContainers(UK_DEV_INFO *dev, UK_CONTAINER_INFO *conts, uint32_t *count);
uint32_t UKAPI zksTokenGetContainerByName(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                          const char *name);
uint32_t UKAPI zksTokenModifyContainerName(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                           const char *newName);
uint32_t UKAPI zksTokenModifyContainerID(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                         const uint8_t *id, uint32_t idLen);
uint32_t UKAPI zksTokenDeleteContainer(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont);
uint32_t UKAPI zksTokenDeleteContainerKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                              uint32_t keySpec);
uint32_t UKAPI zksTokenDeleteContainerCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont,
                                           uint32_t keySpec);
uint32_t UKAPI zksTokenGenRsaKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, uint32_t keySpec);
/* pub and pri point at UK_RSA_PUBLIC_KEY / UK_RSA_PRIVATE_KEY when their bits field is 1024, or
 * at the _2048 records when it is 2048; both must have the same size, any other size gives 4.
 * The records' size decides the key files and the size units stored in the container.
 * zksTokenReadRsaPubKey writes a UK_RSA_PUBLIC_KEY_2048 when the container's size units for the
 * pair are 2, a UK_RSA_PUBLIC_KEY when they are 1, and refuses other units with 4. */
uint32_t UKAPI zksTokenWriteRsaKeyPair(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const void *pub,
                                       const void *pri, uint32_t keySpec);
uint32_t UKAPI zksTokenReadRsaPubKey(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, void *pub,
                                     uint32_t keySpec);
uint32_t UKAPI zksTokenReadCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, uint8_t *cert,
                                uint32_t *len, uint32_t keySpec);
uint32_t UKAPI zksTokenWriteCert(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *cert,
                                 uint32_t len, uint32_t keySpec);

uint32_t UKAPI zksTokenRsaPubEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec);
uint32_t UKAPI zksTokenRsaPriEncrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec, uint32_t confirm);
uint32_t UKAPI zksTokenRsaPriEncryptFinal(UK_DEV_INFO *dev, uint8_t *out, uint32_t *outLen,
                                          uint32_t reserved);
uint32_t UKAPI zksTokenRsaPriEncryptCancel(UK_DEV_INFO *dev);
uint32_t UKAPI zksTokenRsaPubDecrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec);
uint32_t UKAPI zksTokenRsaPriDecrypt(UK_DEV_INFO *dev, UK_CONTAINER_INFO *cont, const uint8_t *in,
                                     uint32_t inLen, uint8_t *out, uint32_t *outLen,
                                     uint32_t keySpec);

uint32_t UKAPI zksTokenListSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *keys, uint32_t *count);
uint32_t UKAPI zksTokenGenSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key);
uint32_t UKAPI zksTokenWriteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                   uint32_t len);
uint32_t UKAPI zksTokenReadSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint8_t *buf,
                                  uint32_t *len);
uint32_t UKAPI zksTokenModifySymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, const uint8_t *value,
                                    uint32_t len, uint32_t selector);
uint32_t UKAPI zksTokenDeleteSymKey(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key);
uint32_t UKAPI zksTokenSymInit(UK_DEV_INFO *dev, UK_SYM_KEY_INFO *key, uint32_t mode,
                               uint32_t chaining, const uint8_t *iv, uint32_t reserved);
uint32_t UKAPI zksTokenSymUpdate(UK_DEV_INFO *dev, const uint8_t *in, uint32_t inLen, uint8_t *out,
                                 uint32_t *outLen);
uint32_t UKAPI zksTokenListDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *objs, uint32_t *count);
uint32_t UKAPI zksTokenWriteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj,
                                       const uint8_t *data, uint32_t len);
/* *len: capacity in, object length out (1 with the needed length when the buffer is smaller). */
uint32_t UKAPI zksTokenReadDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj, uint8_t *buf,
                                      uint32_t *len);
uint32_t UKAPI zksTokenDeleteDataObject(UK_DEV_INFO *dev, UK_DATA_OBJECT_INFO *obj);

/* Reserved. */
uint32_t UKAPI zksTokenHashInit(void *a1, void *a2);
uint32_t UKAPI zksTokenHashFinal(void *a1, void *a2, void *a3);
uint32_t UKAPI zksTokenUpdate(void *a1, void *a2, void *a3);
uint32_t UKAPI zksTokenGetUserInputData4QRB(void *a1, void *a2, void *a3, void *a4, void *a5,
                                            void *a6);
uint32_t UKAPI zksTokenRsaPriEncrypt4QRB(void *a1, void *a2, void *a3, void *a4, void *a5,
                                         void *a6, void *a7, void *a8, void *a9);

#ifdef __cplusplus
}

static_assert(sizeof(UK_DEV_INFO) == 591 + sizeof(void *), "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, modelCode) == 4, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, displayName) == 5, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, devicePath) == 265, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, connection) == 525, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, callerWord) == 533 + sizeof(void *) - 4, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, callerDataA) == 537 + sizeof(void *) - 4, "UK_DEV_INFO layout");
static_assert(offsetof(UK_DEV_INFO, callerDataB) == 570 + sizeof(void *) - 4, "UK_DEV_INFO layout");
static_assert(sizeof(UK_CONTAINER_INFO) == 272, "UK_CONTAINER_INFO layout");
static_assert(offsetof(UK_CONTAINER_INFO, flags) == 1, "UK_CONTAINER_INFO layout");
static_assert(offsetof(UK_CONTAINER_INFO, name) == 14, "UK_CONTAINER_INFO layout");
static_assert(offsetof(UK_CONTAINER_INFO, idLen) == 142, "UK_CONTAINER_INFO layout");
static_assert(offsetof(UK_CONTAINER_INFO, exKeyUnits) == 270, "UK_CONTAINER_INFO layout");
static_assert(sizeof(UK_RSA_PUBLIC_KEY) == 260, "UK_RSA_PUBLIC_KEY layout");
static_assert(sizeof(UK_RSA_PRIVATE_KEY) == 708, "UK_RSA_PRIVATE_KEY layout");
static_assert(sizeof(UK_RSA_PUBLIC_KEY_2048) == 516, "UK_RSA_PUBLIC_KEY_2048 layout");
static_assert(sizeof(UK_RSA_PRIVATE_KEY_2048) == 1412, "UK_RSA_PRIVATE_KEY_2048 layout");
static_assert(sizeof(UK_SYM_KEY_INFO) == 259, "UK_SYM_KEY_INFO layout");
static_assert(sizeof(UK_DATA_OBJECT_INFO) == 282, "UK_DATA_OBJECT_INFO layout");
static_assert(offsetof(UK_DATA_OBJECT_INFO, attrFlag) == 257, "UK_DATA_OBJECT_INFO layout");
#endif

#endif
