#include "commands.h"

#include "admin_commands.h"
#include "client_text.h"
#include "tree_nodes.h"

namespace client {

size_t CommandTextRow(uint32_t bit) {
  switch (bit) {
    case kCmdModifyPin: return 90;
    case kCmdExport: return 92;
    case kCmdImport: return 93;
    case kCmdShowCertificate: return 177;
    case kCmdRegister: return 94;
    case kCmdUnregister: return 95;
    case kCmdRefresh: return 96;
    case kCmdAutoCheck: return 97;
    case kCmdRenameLabel: return 100;
    case kCmdFormat: return 98;
    case kCmdDelete: return 99;
    case kCmdUnlock: return 101;
    case kCmdModifyAdminPin: return 91;
    case kCmdUpdate: return 207;
    default: return 0;
  }
}

void ShowError(IClientShell &shell, uint8_t triesLeft, uint32_t code) {
  std::wstring text = ErrorText(triesLeft, code);
  if (code == 0x8010006Eu) shell.ShowNotice(text);
  else shell.MessageBox(text, kBoxWarning);
}

CCommand::CCommand(IClientShell &shell, uint32_t bit, CTreeNode *node)
    : shell_(shell), bit_(bit), node_(node), device_(node ? node->GetDevice() : nullptr) {}

namespace {

class CRefreshCommand : public ICommand {
 public:
  explicit CRefreshCommand(IClientShell &shell) : shell_(shell) {}
  int Execute() override {
    zksTokenEstablishContext();
    shell_.RefreshDevices();
    shell_.ShowNotice(LangString(kRowInformationUpdate));
    return 0;
  }

 private:
  IClientShell &shell_;
};

class CUpdateSWCommand : public ICommand {
 public:
  explicit CUpdateSWCommand(IClientShell &shell) : shell_(shell) {}
  int Execute() override {
    shell_.StartUpdateCheck();
    return 0;
  }

 private:
  IClientShell &shell_;
};

class CAutoCheckCommand : public ICommand {
 public:
  explicit CAutoCheckCommand(IClientShell &shell) : shell_(shell) {}
  int Execute() override {
    shell_.StartCheckTool();
    return 0;
  }

 private:
  IClientShell &shell_;
};

// The row text followed by the system's words for the error (row 49 when it has none).
std::wstring WithSystemMessage(IClientShell &shell, size_t row, uint32_t code) {
  std::wstring m = shell.SystemMessage(code);
  return std::wstring(LangString(row)) + (m.empty() ? std::wstring(LangString(kRowUnknownError)) : m);
}

class CRegisterCommand : public ICommand {
 public:
  CRegisterCommand(IClientShell &shell, CTreeNode *node, uint32_t bit)
      : shell_(shell), node_(node), bit_(bit) {}
  uint32_t Bit() const { return bit_; }
  int Execute() override {
    TokenCert *cert = CertOf(node_);
    if (!cert) return 0;
    uint32_t r = Host().RegisterCertificate(*cert);
    if (r == 0) shell_.ShowNotice(LangString(kRowCertificateRegistered));
    else shell_.MessageBox(WithSystemMessage(shell_, kRowRegisterFailed, r), kBoxError);
    return int(r);
  }

 private:
  IClientShell &shell_;
  CTreeNode *node_;
  uint32_t bit_;
};

class CUnregisterCommand : public ICommand {
 public:
  CUnregisterCommand(IClientShell &shell, CTreeNode *node, uint32_t bit)
      : shell_(shell), node_(node), bit_(bit) {}
  uint32_t Bit() const { return bit_; }
  int Execute() override {
    TokenCert *cert = CertOf(node_);
    if (!cert) return 0;
    uint32_t r = Host().UnregisterCertificate(*cert);
    if (r == 0) shell_.ShowNotice(LangString(kRowCertificateUnregistered));
    else if (r == 0x80092004u) shell_.MessageBox(LangString(kRowUnregisterNotFound), kBoxOk);
    else shell_.MessageBox(WithSystemMessage(shell_, kRowUnregisterFailed, r), kBoxError);
    return int(r);
  }

 private:
  IClientShell &shell_;
  CTreeNode *node_;
  uint32_t bit_;
};

class CShowCertificationInfoCommand : public CCommand {
 public:
  using CCommand::CCommand;
  int Execute() override {
    if (TokenCert *cert = CertOf(node_)) shell_.ViewCertificate(*cert);
    return 0;
  }
};

}  // namespace

std::unique_ptr<ICommand> CreateCommand(IClientShell &shell, uint32_t bit, CTreeNode *node) {
  switch (bit) {
    case kCmdRefresh: return std::make_unique<CRefreshCommand>(shell);
    case kCmdAutoCheck: return std::make_unique<CAutoCheckCommand>(shell);
    case kCmdRegister: return std::make_unique<CRegisterCommand>(shell, node, bit);
    case kCmdUnregister: return std::make_unique<CUnregisterCommand>(shell, node, bit);
    case kCmdShowCertificate: return std::make_unique<CShowCertificationInfoCommand>(shell, bit, node);
    case kCmdModifyPin:
    case kCmdExport:
    case kCmdImport:
    case kCmdRenameLabel:
    case kCmdFormat:
    case kCmdDelete:
    case kCmdUnlock:
    case kCmdModifyAdminPin:
      return CreateAdminCommand(shell, bit, node);
    case kCmdUpdate:
      return std::make_unique<CUpdateSWCommand>(shell);
    default:
      return nullptr;
  }
}

bool DispatchCommand(IClientShell &shell, uint32_t bit, CTreeNode *selected) {
  std::unique_ptr<ICommand> cmd;
  if (selected) {
    if (bit & selected->mask) cmd = CreateCommand(shell, bit, selected);
  } else if (bit & kMaskNoSelection) {
    cmd = CreateCommand(shell, bit, nullptr);
  }
  if (!cmd) return false;
  cmd->Execute();
  return true;
}

// ---- tasks ------------------------------------------------------------------------------------

namespace {

// Device lock, connect (mode 1), PKI application: the common start of the PIN tasks. False (and
// the result untouched) when the lock is not held; otherwise *rc is the first failure or 0.
template <class Work>
void RunOnToken(CMarvoDevice *d, uint32_t *result, Work &&work) {
  if (!d) return;
  DeviceLock lock;
  if (!lock.Held()) return;
  uint32_t rc = zksTokenConnect(d->Record(), 1);
  if (rc) {
    *result = rc;
    return;
  }
  rc = zksTokenSelectPkiWorkDF(d->Record(), 0);
  if (rc == 0) rc = work(d->Record());
  *result = rc;
  zksTokenDisconnect(d->Record());
}

}  // namespace

void CInputPinTask::Run() {
  RunOnToken(device_.get(), &result_, [this](UK_DEV_INFO *dev) {
    return zksTokenVerifyUserPin(dev, reinterpret_cast<const uint8_t *>(""), 0, &tries_);
  });
}

void CModifyPinTask::Run() {
  RunOnToken(device_.get(), &result_, [this](UK_DEV_INFO *dev) {
    const uint8_t *empty = reinterpret_cast<const uint8_t *>("");
    return zksTokenModifyUserPin(dev, empty, 0, empty, 0, &tries_);
  });
}

void CModifyAdminPinTask::Run() {
  RunOnToken(device_.get(), &result_, [this](UK_DEV_INFO *dev) {
    const uint8_t *empty = reinterpret_cast<const uint8_t *>("");
    return zksTokenModifySoPin(dev, empty, 0, empty, 0, &tries_);
  });
}

void CFormatDeviceTask::Run() {
  CMarvoDevice *d = device_.get();
  if (!d) return;
  DeviceLock lock;
  if (!lock.Held()) return;
  uint32_t rc = zksTokenConnect(d->Record(), 1);
  if (rc == 0) {
    rc = zksTokenFormatDevice(d->Record(), progress_,
                              reinterpret_cast<const uint8_t *>(adminPin.data()),
                              uint32_t(adminPin.size()), adminRetries,
                              reinterpret_cast<const uint8_t *>(userPin.data()),
                              uint32_t(userPin.size()), userRetries, 4, nullptr, 0, 0);
    zksTokenDisconnect(d->Record());
  }
  result_ = rc;
}

bool RunTaskWithWaitDialog(IClientShell &shell, ITask &task, size_t titleRow) {
  shell.RunTask(task, LangString(titleRow));
  if (task.Result() == 0) return true;
  ShowError(shell, task.TriesLeft(), task.Result());
  return false;
}

// ---- the command bar ------------------------------------------------------------------------

std::vector<BarButton> MakeBarButtons() {
  return {{90, 202, kCmdModifyPin, false}, {100, 241, kCmdRenameLabel, false},
          {92, 210, kCmdExport, false},    {96, 219, kCmdRefresh, false},
          {97, 249, kCmdAutoCheck, false}, {207, 250, kCmdUpdate, false}};
}

void SetBarMask(std::vector<BarButton> *buttons, uint32_t mask) {
  for (auto &b : *buttons) b.enabled = (mask & b.bit) != 0;
}

int BarHitTest(const std::vector<BarButton> &buttons, int x, int y, int barWidth) {
  if (x < 0 || x >= barWidth || y < kBarTopMargin) return -1;
  int pitch = kBarButtonHeight + kBarButtonGap;
  int row = (y - kBarTopMargin) / pitch;
  if ((y - kBarTopMargin) % pitch >= kBarButtonHeight) return -1;
  int n = 0;
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (!buttons[i].enabled) continue;
    if (n++ == row) return int(i);
  }
  return -1;
}

}  // namespace client
