// The nodes of the device tree: one per token, under it one per certificate. Each knows its
// texts (item, status line, tooltip) and the commands allowed on it.
#pragma once
#include <stdint.h>

#include <string>

#include "device_model.h"

namespace client {

constexpr int kNodeToken = 1;
constexpr int kNodeCertificate = 3;
// Images of the tree's image list.
constexpr int kImageCertificate = 2;
constexpr int kImageToken = 3;
// Tree items show at most this many characters of a text, then "...".
constexpr size_t kTreeTextChars = 13;

class CTreeNode {
 public:
  virtual ~CTreeNode() = default;
  virtual int GetType() const = 0;
  virtual std::wstring GetText() const = 0;
  virtual std::wstring GetInfoText() const = 0;
  virtual std::wstring GetTooltipText() const = 0;
  // Deletes the node's object on the token; true on success.
  virtual bool Delete() = 0;
  virtual CMarvoDevice *GetDevice() const = 0;

  int image = 0;
  int selectedImage = 0;
  uint32_t mask = 0;
};

class CTreeDeviceNode : public CTreeNode {
 public:
  explicit CTreeDeviceNode(CMarvoDevice *device);
  int GetType() const override { return kNodeToken; }
  std::wstring GetText() const override { return device_->GetLabel(); }
  std::wstring GetInfoText() const override;
  std::wstring GetTooltipText() const override;
  bool Delete() override { return true; }
  CMarvoDevice *GetDevice() const override { return device_.get(); }

 private:
  DeviceRef device_;
};

class CTreeCertNode : public CTreeNode {
 public:
  explicit CTreeCertNode(TokenCert *cert);
  int GetType() const override { return kNodeCertificate; }
  std::wstring GetText() const override { return cert_->Subject(); }
  std::wstring GetInfoText() const override;
  std::wstring GetTooltipText() const override;
  // Deletes the whole container that holds the certificate.
  bool Delete() override;
  CMarvoDevice *GetDevice() const override { return device_.get(); }
  TokenCert *Cert() const { return cert_; }

 private:
  TokenCert *cert_;
  DeviceRef device_;  // keeps the certificate's token (and so the certificate) alive
};

// The certificate of a certificate node; null for any other node.
TokenCert *CertOf(CTreeNode *node);

// The nodes of the tree in insertion order: for every token a token node (root), then for every
// container in order and certificate index 0 then 1 a certificate node when the certificate is
// present. visit(node, isRoot) takes ownership of the node.
template <class Visit>
void ForEachTreeNode(const CDeviceList &list, Visit &&visit) {
  for (const DeviceRef &d : list.Devices()) {
    visit(new CTreeDeviceNode(d.get()), true);
    for (const auto &c : d->Containers())
      for (size_t i = 0; i < 2; ++i)
        if (!c->Cert(i)->IsAbsent()) visit(new CTreeCertNode(c->Cert(i)), false);
  }
}

// The text a tree item draws: at most kTreeTextChars characters, then "...".
std::wstring TreeItemLabel(const std::wstring &text);

}  // namespace client
