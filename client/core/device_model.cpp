#include "device_model.h"

#include <string.h>

#include "client_text.h"

namespace client {

namespace {

ClientHost *g_host = nullptr;

// A byte string of the library (terminated within len, or len long) as wide text.
std::wstring Wide(const char *text, size_t len) {
  size_t n = strnlen(text, len);
  return Host().FromCodePage(text, n);
}

}  // namespace

TokenSession::TokenSession(CMarvoDevice &d, uint32_t mode) : d_(d) {
  if (lock_.Held()) connect_ = zksTokenConnect(d.Record(), mode);
}

TokenSession::~TokenSession() {
  if (Ok()) zksTokenDisconnect(d_.Record());
}

void SetClientHost(ClientHost *host) { g_host = host; }
ClientHost &Host() { return *g_host; }

// ---- certificates, containers -------------------------------------------------------------

const wchar_t *TokenCert::KindText() const {
  return LangString(keySpec_ == UK_KEYSPEC_SIGNATURE ? 71 : 72);
}

void TokenCert::Set(const uint8_t *der, size_t len) {
  if (len > kCertBufferSize) len = kCertBufferSize;
  der_.assign(der, der + len);
  absent_ = false;
  names_ = CertNames{};
  Host().DescribeCertificate(der_.data(), der_.size(), &names_);
}

TokenContainer::TokenContainer(CMarvoDevice *device, const UK_CONTAINER_INFO &record)
    : device_(device),
      record_(record),
      certs_{TokenCert(this, UK_KEYSPEC_EXCHANGE), TokenCert(this, UK_KEYSPEC_SIGNATURE)},
      keyPairs_{TokenKeyPair(this, UK_KEYSPEC_EXCHANGE), TokenKeyPair(this, UK_KEYSPEC_SIGNATURE)} {
  name_ = Wide(record_.name, sizeof record_.name);
}

TokenCert *TokenContainer::Cert(size_t index) { return index < 2 ? &certs_[index] : nullptr; }
const TokenCert *TokenContainer::Cert(size_t index) const {
  return index < 2 ? &certs_[index] : nullptr;
}

void TokenContainer::Load() {
  for (size_t i = 0; i < 2; ++i) {
    uint32_t spec = certs_[i].KeySpec();
    std::vector<uint8_t> buf(kCertBufferSize);
    uint32_t len = kCertBufferSize;
    zksTokenSelectPkiWorkDF(device_->Record(), 0);
    if (zksTokenReadCert(device_->Record(), &record_, buf.data(), &len, spec) == 0 &&
        len <= kCertBufferSize)
      certs_[i].Set(buf.data(), len);
    uint8_t bit = spec == UK_KEYSPEC_EXCHANGE ? UK_CONT_EX_KEY : UK_CONT_SIG_KEY;
    keyPairs_[i].SetPresent((record_.flags & bit) != 0);
  }
}

bool ParseDataObjectContent(const uint8_t *data, size_t len, std::string *first,
                            std::string *second) {
  size_t pos = 0;
  while (pos < len) {
    if (len - pos < 3) return false;
    uint8_t tag = data[pos];
    size_t n = (size_t(data[pos + 1]) << 8) | data[pos + 2];
    pos += 3;
    if (n > len - pos) return false;
    const char *value = reinterpret_cast<const char *>(data + pos);
    if (tag == 'P' && n > 0 && data[pos] != 0) return true;
    if (tag == 'O') first->assign(value, n);
    else second->assign(value, n);
    pos += n;
  }
  return true;
}

// ---- the token ----------------------------------------------------------------------------

CMarvoDevice::CMarvoDevice(const UK_DEV_INFO &record) : dev_(record) {
  memset(containerIndex_, 0, sizeof containerIndex_);
  memset(symKeyIndex_, 0, sizeof symKeyIndex_);
  memset(dataObjectIndex_, 0, sizeof dataObjectIndex_);
}

void CMarvoDevice::Release() {
  if (--refs_ <= 0) delete this;
}

bool CMarvoDevice::TakesPinOnDevice() const {
  return dev_.modelCode == 0x22 || dev_.modelCode == 0x21 || dev_.modelCode == 0x01;
}

bool CMarvoDevice::RegisterCertificates() {
  for (auto &c : containers_)
    for (size_t i = 0; i < 2; ++i)
      if (!c->Cert(i)->IsAbsent()) Host().RegisterCertificate(*c->Cert(i));
  return true;
}

bool CMarvoDevice::UnregisterCertificates() {
  for (auto &c : containers_)
    for (size_t i = 0; i < 2; ++i)
      if (!c->Cert(i)->IsAbsent()) Host().UnregisterCertificate(*c->Cert(i));
  return true;
}

uint32_t CMarvoDevice::Load() {
  TokenSession s(*this, 1);
  if (!s.Ok()) return s.Failure() ? s.Failure() : uint32_t(UKLR_DEV_MUTEX);

  char text[1024];
  uint32_t len = sizeof text;
  memset(text, 0, sizeof text);
  if (zksTokenGetSn(&dev_, text, &len) == 0) serial_ = Wide(text, len < sizeof text ? len : sizeof text);
  uint8_t cos[1024] = {0};
  len = sizeof cos;
  if (zksTokenGetCosVersion(&dev_, cos, &len) == 0)
    cosVersion_ = Wide(reinterpret_cast<const char *>(cos), len < sizeof cos ? len : sizeof cos);

  uint32_t rc = zksTokenSelectPkiWorkDF(&dev_, 0);
  if (rc == 0) {
    memset(text, 0, sizeof text);
    len = sizeof text;
    rc = zksTokenGetDeviceLabel(&dev_, text, &len);
    if (rc == 0) label_ = Wide(text, len < sizeof text ? len : sizeof text);
  }
  if (rc) {
    label_.clear();
    return rc;
  }

  zksTokenSelectPkiWorkDF(&dev_, 0);
  zksTokenSelectContainerInfoEF(&dev_);
  containerCount_ = 4;
  rc = zksTokenListContainers(&dev_, containerIndex_, &containerCount_);
  if (rc) return rc;
  if (containerCount_ > 5) containerCount_ = 5;
  containers_.clear();
  for (uint32_t i = 0; i < containerCount_; ++i) {
    containers_.push_back(std::make_unique<TokenContainer>(this, containerIndex_[i]));
    containers_.back()->Load();
  }

  uint32_t count = 8;
  rc = zksTokenListSymKey(&dev_, symKeyIndex_, &count);
  if (rc) return rc;
  symKeys_.clear();
  for (uint32_t i = 0; i < count && i < 8; ++i) {
    SymKeyEntry e;
    e.record = symKeyIndex_[i];
    e.name = Wide(reinterpret_cast<const char *>(e.record.name), sizeof e.record.name);
    symKeys_.push_back(e);
  }

  count = 8;
  rc = zksTokenListDataObject(&dev_, dataObjectIndex_, &count);
  if (rc) return rc;
  dataObjects_.clear();
  for (uint32_t i = 0; i < count && i < 8; ++i) {
    DataObjectEntry e;
    e.record = dataObjectIndex_[i];
    std::vector<uint8_t> buf(kDataObjectBufferSize);
    uint32_t n = kDataObjectBufferSize;
    if (zksTokenReadDataObject(&dev_, &e.record, buf.data(), &n) != 0 || n > buf.size()) continue;
    e.content.assign(buf.begin(), buf.begin() + n);
    if (e.record.attrFlag == 0)
      e.label = Wide(reinterpret_cast<const char *>(e.record.name), sizeof e.record.name);
    std::string first, second;
    e.parsed = ParseDataObjectContent(e.content.data(), e.content.size(), &first, &second);
    e.first = Host().FromCodePage(first.data(), first.size());
    e.second = Host().FromCodePage(second.data(), second.size());
    dataObjects_.push_back(std::move(e));
  }
  return 0;
}

bool CMarvoDevice::ReadDeviceInfo(uint32_t *pinChanged, uint8_t *usable) {
  TokenSession s(*this, 1);
  if (!s.Ok()) return false;
  uint8_t third = 0;
  return zksTokenGetDeviceInfo(&dev_, pinChanged, usable, &third, 0) == 0;
}

bool CMarvoDevice::IsDeviceLocked() {
  uint32_t changed = 0;
  uint8_t usable = 1;
  return ReadDeviceInfo(&changed, &usable) && usable == 0;
}

bool CMarvoDevice::CheckPinChange() {
  TokenSession s(*this, 0);
  uint32_t changed = 0;
  uint8_t usable = 0, third = 0;
  if (!s.Ok() || zksTokenSelectPkiWorkDF(&dev_, 0) != 0 ||
      zksTokenGetDeviceInfo(&dev_, &changed, &usable, &third, 0) != 0) {
    label_.clear();
    return false;
  }
  needsPinChange_ = changed == 0 ? 1 : 0;
  return needsPinChange_ != 0;
}

uint32_t CMarvoDevice::SetLanguage(uint32_t langId) {
  TokenSession s(*this, 1);
  if (!s.Ok()) return s.Failure() ? s.Failure() : uint32_t(UKLR_DEV_MUTEX);
  return zksTokenSetLanguage(&dev_, langId);
}

// ---- the list -----------------------------------------------------------------------------

bool CDeviceList::Enumerate() {
  Clear();
  UK_DEV_INFO records[8];
  memset(records, 0, sizeof records);
  uint32_t count = 8;
  if (zksTokenListDevices(UK_PROJECT_NAME, records, &count) != 0) return false;
  for (uint32_t i = 0; i < count && i < 8; ++i) {
    DeviceRef d(new CMarvoDevice(records[i]));
    uint32_t rc = d->Load();
    if (rc == kLoadDefaultPin) d->SetNeedsPinChange(true);
    else if (rc != 0) continue;
    devices_.push_back(d);
  }
  return true;
}

void CDeviceList::UnregisterAll() {
  for (auto &d : devices_) d->UnregisterCertificates();
}

bool CDeviceList::Refresh(uint32_t langId) {
  UnregisterAll();
  if (!Enumerate()) return false;
  for (auto &d : devices_) d->RegisterCertificates();
  for (auto &d : devices_) d->SetLanguage(langId);
  return true;
}

bool CountDevices(uint32_t *count) {
  UK_DEV_INFO records[8];
  memset(records, 0, sizeof records);
  uint32_t n = 8;
  if (zksTokenListDevices(UK_PROJECT_NAME, records, &n) != 0) return false;
  *count = n;
  return true;
}

}  // namespace client
