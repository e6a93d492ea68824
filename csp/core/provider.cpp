// Process state, the handle checks, acquiring and releasing contexts, and the provider
// parameters.
#include "provider.h"

#include <stdio.h>
#include <string.h>

#include <type_traits>

#include "algorithms.h"

namespace csp {

class Provider::ObjectLock {
 public:
  explicit ObjectLock(Provider &p) : host_(p.host_) { host_.lockObjects(); }
  ~ObjectLock() { host_.unlockObjects(); }
  ObjectLock(const ObjectLock &) = delete;
  ObjectLock &operator=(const ObjectLock &) = delete;

 private:
  Host &host_;
};

TokenApi tokenLibrary() {
  TokenApi t;
  t.establishContext = zksTokenEstablishContext;
  t.releaseContext = zksTokenReleaseContext;
  t.listDevices = zksTokenListDevices;
  t.connect = zksTokenConnect;
  t.disconnect = zksTokenDisconnect;
  t.reconnect = zksTokenReconnect;
  t.selectPkiWorkDF = zksTokenSelectPkiWorkDF;
  t.selectContainerInfoEF = zksTokenSelectContainerInfoEF;
  t.modifyUserPin = zksTokenModifyUserPin;
  t.verifyUserPin = zksTokenVerifyUserPin;
  t.resetUserPinVerifyFlag = zksTokenResetUserPinVerifyFlag;
  t.getSn = zksTokenGetSn;
  t.getDeviceLabel = zksTokenGetDeviceLabel;
  t.listContainers = zksTokenListContainers;
  t.newContainer = zksTokenNewContainer;
  t.deleteContainer = zksTokenDeleteContainer;
  t.genRsaKeyPair = zksTokenGenRsaKeyPair;
  t.readRsaPubKey = zksTokenReadRsaPubKey;
  t.writeRsaKeyPair = zksTokenWriteRsaKeyPair;
  t.readCert = zksTokenReadCert;
  t.writeCert = zksTokenWriteCert;
  t.rsaPubEncrypt = zksTokenRsaPubEncrypt;
  t.rsaPriDecrypt = zksTokenRsaPriDecrypt;
  t.rsaPriEncrypt = zksTokenRsaPriEncrypt;
  t.rsaPriEncryptFinal = zksTokenRsaPriEncryptFinal;
  t.rsaPriEncryptCancel = zksTokenRsaPriEncryptCancel;
  t.rsaPubDecrypt = zksTokenRsaPubDecrypt;
  return t;
}

Provider::Provider(Host &host, Dialogs &dialogs, const TokenApi &api)
    : host_(host), dialogs_(dialogs), tl_(api) {
  memset(&devices_, 0, sizeof devices_);
  contexts_.head = nullptr;
  memset(pinEntry_, 0, sizeof pinEntry_);
  signing_.device = nullptr;
  signing_.out = nullptr;
  signing_.outLen = nullptr;
  signing_.window = 0;
  signing_.cancel = 0;
}

Provider::~Provider() {
  while (!contexts_.empty()) {
    ProviderContext *ctx = contexts_.head->object;
    contexts_.remove(ctx);
    freeContext(ctx);
  }
  // Connections of a failed acquire stay in the table until the next one; none may outlive it.
  releaseDevices();
  if (established_) tl_.releaseContext();
  wipe(pinEntry_, sizeof pinEntry_);
}

size_t Provider::contextCount() {
  ObjectLock lock(*this);
  size_t n = 0;
  for (auto *node = contexts_.head; node; node = node->next) ++n;
  return n;
}

// ---- Handle checks -------------------------------------------------------------------------------

namespace {

// What a live record of each handle kind looks like, where it is listed, and the error for a
// handle that is not one.
template <class T>
struct HandleKind;
template <>
struct HandleKind<ProviderContext> {
  static constexpr uint32_t kUnknown = kNteBadUid;
  static bool live(const ProviderContext &c) { return c.magic == kContextMagic; }
};
template <>
struct HandleKind<HashObject> {
  static constexpr uint32_t kUnknown = kNteBadHash;
  static constexpr ObjectList<HashObject> ProviderContext::*kList = &ProviderContext::hashes;
  static bool live(const HashObject &h) { return h.magic == kHashMagic || h.magic == kMessageMagic; }
};
template <>
struct HandleKind<KeyObject> {
  static constexpr uint32_t kUnknown = kNteBadKey;
  static constexpr ObjectList<KeyObject> ProviderContext::*kList = &ProviderContext::keys;
  static bool live(const KeyObject &k) { return k.magic == kKeyMagic; }
};

template <class T>
T *findLive(const ObjectList<T> &list, uintptr_t handle) {
  for (auto *node = list.head; node; node = node->next)
    if (reinterpret_cast<uintptr_t>(node->object) == handle && HandleKind<T>::live(*node->object))
      return node->object;
  return nullptr;
}

}  // namespace

template <class T>
uint32_t Provider::checkHandle(uintptr_t handle, T **out) {
  if (!handle) return kErrInvalidParameter;
  ObjectLock lock(*this);
  T *found = nullptr;
  if constexpr (std::is_same<T, ProviderContext>::value) {
    found = findLive(contexts_, handle);
  } else {
    for (auto *c = contexts_.head; c && !found; c = c->next)
      found = findLive(c->object->*HandleKind<T>::kList, handle);
  }
  if (!found) return HandleKind<T>::kUnknown;
  *out = found;
  return kOk;
}
template uint32_t Provider::checkHandle(uintptr_t, ProviderContext **);
template uint32_t Provider::checkHandle(uintptr_t, HashObject **);
template uint32_t Provider::checkHandle(uintptr_t, KeyObject **);

uint32_t Provider::keyEntry(uintptr_t prov, uintptr_t key, bool outGiven, ProviderContext **ctx,
                            KeyObject **k) {
  if (!prov || !key || !outGiven) return kErrInvalidParameter;
  uint32_t rc = checkHandle(prov, ctx);
  return rc ? rc : checkHandle(key, k);
}

template <class T>
uint32_t Provider::publish(ProviderContext *ctx, T *object, uintptr_t *handle) {
  uint32_t rc;
  {
    ObjectLock lock(*this);
    rc = (ctx->*HandleKind<T>::kList).push(object);
  }
  if (rc) {
    freeRecord(object);
    return rc;
  }
  *handle = reinterpret_cast<uintptr_t>(object);
  return kOk;
}
template uint32_t Provider::publish(ProviderContext *, HashObject *, uintptr_t *);
template uint32_t Provider::publish(ProviderContext *, KeyObject *, uintptr_t *);

// Unlinks the object from the context that lists it (the given one first) and frees it; an
// object no list holds any more is still freed.
template <class T>
static void unlinkFrom(ObjectList<ProviderContext> &contexts, ProviderContext *ctx, T *obj,
                       ObjectList<T> ProviderContext::*list) {
  if ((ctx->*list).remove(obj) == kOk) return;
  for (auto *c = contexts.head; c; c = c->next)
    if ((c->object->*list).remove(obj) == kOk) return;
}

void Provider::destroyObject(ProviderContext *ctx, HashObject *h) {
  {
    ObjectLock lock(*this);
    unlinkFrom(contexts_, ctx, h, &ProviderContext::hashes);
  }
  freeRecord(h);
}

void Provider::destroyObject(ProviderContext *ctx, KeyObject *k) {
  {
    ObjectLock lock(*this);
    unlinkFrom(contexts_, ctx, k, &ProviderContext::keys);
  }
  freeRecord(k);
}

void Provider::freeContext(ProviderContext *ctx) {
  while (!ctx->hashes.empty()) destroyObject(ctx, ctx->hashes.head->object);
  while (!ctx->keys.empty()) destroyObject(ctx, ctx->keys.head->object);
  freeRecord(ctx);
}

UK_DEV_INFO *Provider::deviceOf(ProviderContext *ctx) {
  UK_DEV_INFO *dev = ctx->device;
  if (!dev) return nullptr;
  // A later enumeration may have moved the device to another entry of the table (or dropped it):
  // follow it by its path rather than act on whichever device took its place.
  if (size_t(dev - devices_.devices) < devices_.count &&
      strncmp(dev->devicePath, ctx->devicePath, sizeof ctx->devicePath) == 0)
    return dev;
  for (uint32_t i = 0; i < devices_.count && i < kMaxDevices; ++i) {
    if (strncmp(devices_.devices[i].devicePath, ctx->devicePath, sizeof ctx->devicePath) == 0) {
      ctx->device = &devices_.devices[i];
      return ctx->device;
    }
  }
  return nullptr;
}

// ---- CPAcquireContext ----------------------------------------------------------------------------

namespace {

void copyName(char *dst, size_t cap, const char *src) {
  size_t n = strnlen(src, cap - 1);
  memcpy(dst, src, n);
  dst[n] = 0;
}

}  // namespace

uint32_t Provider::acquireContext(uintptr_t *out, const char *name, uint32_t flags) {
  host_.logLine("----->CPAcquireContext");
  if (contextCount() == 0) {
    languageIndex_ = languageIndexOf(host_.languageId());
    if (tl_.establishContext() != 0) return kErrTokenLibInit;
    established_ = true;
  }

  UK_DEV_INFO *chosen = nullptr;
  uint32_t selection;
  {
    DeviceLock lock(*this);
    selection = enumerateDevices(flags, &chosen);
  }

  if (!out) return kErrInvalidParameter;
  if (flags & kAcquireRefusedFlags) return kNteBadFlags;

  char container[128];
  if (name && name[0]) {
    copyName(container, sizeof container, name);
  } else {
    container[0] = 0;
    bool have = false;
    for (int attempt = 0; attempt < 3 && !have; ++attempt) {
      have = host_.userName(container, sizeof container);
    }
    container[sizeof container - 1] = 0;
    if (!have || !container[0]) return kErrNoContainerName;
  }
  if (name) {
    char saved[128];
    copyName(saved, sizeof saved, name);
    host_.saveLastContainerName(saved);
  }

  if (flags & kCryptDeleteKeyset) {
    uint32_t rc = deleteContainer(container);
    if (rc == kOk) *out = 0;
    return rc;
  }

  UK_CONTAINER_INFO bound;
  memset(&bound, 0, sizeof bound);
  UK_DEV_INFO *dev = chosen;
  if (flags & kCryptNewKeyset) {
    if (!chosen) return selection ? selection : kScardENoReadersAvailable;
    uint32_t rc = createContainer(chosen, container, &bound);
    if (rc) return rc;
  } else if (flags == 0) {
    uint32_t rc = findContainer(container, &bound, &dev);
    if (rc == kNteBadKeyset && !name) rc = firstContainer(&bound, &dev);
    if (rc) return rc;
  }

  auto *ctx = newRecord<ProviderContext>();
  if (!ctx) return kErrNotEnoughMemory;
  ctx->magic = kContextMagic;
  ctx->confirmFirstArmed = 1;
  if (isVerifyOnlyRequest(flags)) {
    ctx->verifyOnly = 1;
  } else {
    ctx->container = bound;
  }
  ctx->device = dev;
  if (dev) copyName(ctx->devicePath, sizeof ctx->devicePath, dev->devicePath);
  uint32_t rc;
  {
    ObjectLock lock(*this);
    rc = contexts_.push(ctx);
  }
  if (rc) {
    freeRecord(ctx);
    return rc;
  }
  *out = reinterpret_cast<uintptr_t>(ctx);
  return kOk;
}

// Lists the devices in table order (each under the mutex) until match takes a record of one;
// a device that cannot be listed does not stop the search. NTE_BAD_KEYSET when none matched.
template <class Match>
uint32_t Provider::searchDevices(Match match, UK_CONTAINER_INFO *found, UK_DEV_INFO **where) {
  for (uint32_t i = 0; i < devices_.count && i < kMaxDevices; ++i) {
    UK_DEV_INFO *dev = &devices_.devices[i];
    ContainerListing listing;
    uint32_t rc;
    {
      DeviceLock lock(*this);
      rc = openDeviceSession(dev, Session::Listing, &listing);
    }
    if (rc) continue;
    for (uint32_t k = 0; k < listing.count; ++k) {
      UK_CONTAINER_INFO &c = listing.records[k];
      c.name[sizeof c.name - 1] = 0;
      if (match(c)) {
        *found = c;
        *where = dev;
        return kOk;
      }
    }
  }
  return kNteBadKeyset;
}

uint32_t Provider::findContainer(const char *name, UK_CONTAINER_INFO *found, UK_DEV_INFO **where) {
  return searchDevices([name](const UK_CONTAINER_INFO &c) { return strcmp(c.name, name) == 0; },
                       found, where);
}

uint32_t Provider::firstContainer(UK_CONTAINER_INFO *found, UK_DEV_INFO **where) {
  return searchDevices([](const UK_CONTAINER_INFO &) { return true; }, found, where);
}

uint32_t Provider::createContainer(UK_DEV_INFO *dev, const char *name, UK_CONTAINER_INFO *rec) {
  memset(rec, 0, sizeof *rec);
  size_t n = strnlen(name, sizeof rec->id);
  copyName(rec->name, sizeof rec->name, name);
  rec->idLen = uint8_t(n);
  memcpy(rec->id, name, n);
  // The name field keeps 64 characters; the ID keeps the whole name.
  if (strlen(rec->name) > 64) rec->name[64] = 0;

  DeviceLock lock(*this);
  uint32_t rc = openDeviceSession(dev, Session::Standard);
  if (rc == kOk) rc = tl_.newContainer(dev, rec);
  // The token library reports a full index as UKLR_DEV_FULL; other libraries answer 112.
  if (rc == kTokDeviceFull || rc == kTokStorageFull) dialogs_.tell(kPromptDeviceFull);
  return rc;
}

uint32_t Provider::deleteContainer(const char *name) {
  UK_CONTAINER_INFO rec;
  UK_DEV_INFO *dev = nullptr;
  uint32_t rc = findContainer(name, &rec, &dev);
  if (rc) return rc;
  DeviceLock lock(*this);
  rc = openDeviceSession(dev, Session::Standard);
  if (rc == kOk) rc = tl_.deleteContainer(dev, &rec);
  return rc;
}

// ---- CPReleaseContext ----------------------------------------------------------------------------

uint32_t Provider::releaseContext(uintptr_t prov, uint32_t flags) {
  host_.logLine("----->CPReleaseContext");
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (flags) return kNteBadFlags;
  bool last;
  {
    ObjectLock lock(*this);
    contexts_.remove(ctx);
    last = contexts_.empty();
  }
  freeContext(ctx);
  if (last) {
    releaseDevices();
    tl_.releaseContext();
    established_ = false;
  }
  return kOk;
}

void Provider::releaseDevices() {
  // The token library's connection records would otherwise outlive the table that knows them.
  for (uint32_t i = 0; i < kMaxDevices; ++i) {
    if (devices_.devices[i].connection) tl_.disconnect(&devices_.devices[i]);
  }
  wipe(&devices_, sizeof devices_);
}

// ---- CPGetProvParam ------------------------------------------------------------------------------

namespace {

bool knownProvParam(uint32_t p) {
  switch (p) {
    case kPpEnumAlgs: case kPpEnumContainers: case kPpImpType: case kPpName: case kPpVersion:
    case kPpContainer: case kPpKeysetSecDescr: case kPpProvType: case kPpKeyStorage:
    case kPpEnumAlgsEx: case kPpUniqueContainer: case kPpUseHardwareRng: case kPpKeySpec:
    case kPpEnumExSigningProt:
      return true;
    default:
      return false;
  }
}

// A freshly initialised absolute security descriptor with a present, null DACL, laid out as the
// platform's SECURITY_DESCRIPTOR (20 bytes on 32-bit Windows, 40 on 64-bit).
struct AbsoluteSecurityDescriptor {
  uint8_t revision;
  uint8_t sbz1;
  uint16_t control;
  void *owner;
  void *group;
  void *sacl;
  void *dacl;
};
static_assert(sizeof(AbsoluteSecurityDescriptor) == (sizeof(void *) == 4 ? 20 : 40),
              "security descriptor layout");

}  // namespace

uint32_t Provider::getProvParam(uintptr_t prov, uint32_t param, uint8_t *data, uint32_t *len,
                                uint32_t flags) {
  host_.logLine("---->CPGetProvParam  ");
  host_.logValue(param);
  if (!prov || !len) return kErrInvalidParameter;
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  if (!knownProvParam(param)) return kNteBadType;
  if (flags != 0 && flags != kCryptFirst && flags != kCryptNext && flags != kCryptSgcEnum)
    return kNteBadFlags;

  switch (param) {
    case kPpEnumAlgs: {
      if (flags == kCryptFirst) ctx->algCursor = 0;
      uint8_t rec[kEnumAlgsSize];
      if (!enumAlgsRecord(ctx->algCursor, rec)) return kErrNoMoreItems;
      rc = putBytes(rec, sizeof rec, data, len);
      if (rc == kOk && data) ++ctx->algCursor;
      return rc;
    }
    case kPpEnumAlgsEx: {
      if (flags == kCryptFirst) ctx->algExCursor = 0;
      uint8_t rec[kEnumAlgsExSize];
      if (!enumAlgsExRecord(ctx->algExCursor, rec)) return kErrNoMoreItems;
      rc = putBytes(rec, sizeof rec, data, len);
      if (rc == kOk && data) ++ctx->algExCursor;
      return rc;
    }
    case kPpEnumContainers:
      return enumContainer(ctx, data, len, flags);
    case kPpImpType:
      return putValue(3, data, len);  // CRYPT_IMPL_MIXED
    case kPpName:
      return putBytes(kProviderName, sizeof kProviderName, data, len);
    case kPpVersion:
      return putValue(0x200, data, len);
    case kPpContainer:
    case kPpUniqueContainer: {
      const char *n = ctx->container.name;
      return putBytes(n, uint32_t(strnlen(n, sizeof ctx->container.name - 1) + 1), data, len);
    }
    case kPpKeysetSecDescr: {
      AbsoluteSecurityDescriptor sd;
      memset(&sd, 0, sizeof sd);
      sd.revision = 1;
      sd.control = 0x0004;  // SE_DACL_PRESENT, the DACL itself null
      return putBytes(&sd, sizeof sd, data, len);
    }
    case kPpProvType:
      return putValue(1, data, len);
    case kPpKeyStorage:
      return putValue(1, data, len);
    case kPpKeySpec:
      return putValue(kAtKeyExchange | kAtSignature, data, len);
    default:  // PP_USE_HARDWARE_RNG, PP_ENUMEX_SIGNING_PROT: supported, nothing to return
      return kOk;
  }
}

uint32_t Provider::enumContainer(ProviderContext *ctx, uint8_t *data, uint32_t *len,
                                 uint32_t flags) {
  if (flags == kCryptFirst) ctx->containerCursor = 0;
  UK_DEV_INFO *dev = deviceOf(ctx);
  if (!dev) return kScardENoReadersAvailable;
  ContainerListing listing;
  uint32_t rc;
  {
    DeviceLock lock(*this);
    rc = openDeviceSession(dev, Session::Listing, &listing);
  }
  if (rc) {
    host_.logLine("---->zksCspListContainers....");
    return rc;
  }
  if (ctx->containerCursor >= listing.count) return kErrNoMoreItems;
  UK_CONTAINER_INFO &c = listing.records[ctx->containerCursor];
  uint32_t n = uint32_t(strnlen(c.name, sizeof c.name - 1));
  c.name[n] = 0;
  rc = putBytes(c.name, n + 1, data, len);
  if (rc == kOk && data) ++ctx->containerCursor;
  return rc;
}

// ---- CPSetProvParam ------------------------------------------------------------------------------

uint32_t Provider::setProvParam(uintptr_t prov, uint32_t param, const uint8_t *data,
                                uint32_t flags) {
  host_.logLine("---->CPSetProvParam");
  ProviderContext *ctx = nullptr;
  uint32_t rc = checkHandle(prov, &ctx);
  if (rc) return rc;
  switch (param) {
    case kPpKeysetSecDescr:
      return flags < 16 ? kOk : kNteBadFlags;
    case kPpKeyExchangePin:
    case kPpSignaturePin:
      return setPin(ctx, data);
    case kPpSignConfirmPolicy:
      if (flags == kPolicyFirstOnly) {
        ctx->noConfirmAfterFirst = 1;
        ctx->confirmCountdown = 0xFFFFFFFFu;
      } else if (flags == kPolicyAlways || (flags == kPolicyEveryNth && !data)) {
        ctx->noConfirmAfterFirst = 0;
        ctx->confirmCountdown = 0;
      } else if (flags == kPolicyEveryNth) {
        ctx->noConfirmAfterFirst = 0;
        ctx->confirmCountdown = uint32_t(data[0]) | uint32_t(data[1]) << 8 |
                                uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
      } else {
        return kNteBadFlags;
      }
      ctx->confirmFirstArmed = 1;
      return kOk;
    default:
      return kNteBadType;
  }
}

}  // namespace csp
