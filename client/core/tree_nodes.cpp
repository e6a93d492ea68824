#include "tree_nodes.h"

#include "client_text.h"
#include "commands.h"

namespace client {

CTreeDeviceNode::CTreeDeviceNode(CMarvoDevice *device) : device_(device) {
  image = selectedImage = kImageToken;
  mask = kMaskToken;
}

std::wstring CTreeDeviceNode::GetInfoText() const {
  std::wstring s = device_->GetLabel();
  if (device_->IsDeviceLocked()) s += std::wstring(L"(") + LangString(84) + L")";
  s += std::wstring(L",  ") + LangString(56) + device_->GetSerialNumber();
  s += std::wstring(L",  ") + LangString(57) + device_->CosVersion();
  return s;
}

std::wstring CTreeDeviceNode::GetTooltipText() const {
  std::wstring s;
  if (device_->IsDeviceLocked()) s = std::wstring(LangString(84)) + L"\n";
  s += LangString(55) + device_->GetLabel() + L"\n";
  s += LangString(58) + device_->GetSerialNumber() + L"\n";
  s += LangString(59) + device_->GetLabel();
  return s;
}

CTreeCertNode::CTreeCertNode(TokenCert *cert) : cert_(cert), device_(cert->Container()->Device()) {
  image = selectedImage = kImageCertificate;
  mask = kMaskCertificate;
}

std::wstring CTreeCertNode::GetInfoText() const {
  return LangString(77) + cert_->Issuer() + LangString(78) + cert_->Subject() + LangString(80) +
         cert_->NotBefore() + LangString(81) + cert_->NotAfter();
}

std::wstring CTreeCertNode::GetTooltipText() const {
  return LangString(77) + cert_->Issuer() + LangString(79) + cert_->Subject() + LangString(80) +
         cert_->NotBefore() + LangString(81) + cert_->NotAfter();
}

bool CTreeCertNode::Delete() {
  CMarvoDevice *d = device_.get();
  DeviceLock lock;
  if (!lock.Held()) return false;
  if (zksTokenReconnect(d->Record(), 1) != 0) return false;
  uint32_t rc = zksTokenSelectPkiWorkDF(d->Record(), 0);
  if (rc == 0) rc = zksTokenDeleteContainer(d->Record(), &cert_->Container()->Record());
  zksTokenDisconnect(d->Record());
  return rc == 0;
}

TokenCert *CertOf(CTreeNode *node) {
  if (!node || node->GetType() != kNodeCertificate) return nullptr;
  return static_cast<CTreeCertNode *>(node)->Cert();
}

std::wstring TreeItemLabel(const std::wstring &text) {
  return ui::Abbreviate(text, kTreeTextChars, kTreeTextChars);
}

}  // namespace client
