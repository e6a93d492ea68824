#include "admin_commands.h"

#include "client_text.h"
#include "tree_nodes.h"

namespace client {

namespace {

constexpr size_t kRowUserPinTitle = 25, kRowModifyPinTitle = 119, kRowModifyAdminPinTitle = 120;

// Change of the user PIN, or of the administrator PIN: typed on the token (behind the wait
// dialog) or in the change-PIN dialog.
class CModifyPinCommand : public CCommand {
 public:
  CModifyPinCommand(IClientShell &shell, uint32_t bit, CTreeNode *node, bool admin)
      : CCommand(shell, bit, node), admin_(admin) {}
  int Execute() override {
    CMarvoDevice *d = Device();
    if (!d) return 0;
    size_t title = admin_ ? kRowModifyAdminPinTitle : kRowModifyPinTitle;
    if (d->TakesPinOnDevice()) {
      bool ok;
      if (admin_) {
        CModifyAdminPinTask task(d);
        ok = RunTaskWithWaitDialog(shell_, task, title);
      } else {
        CModifyPinTask task(d);
        ok = RunTaskWithWaitDialog(shell_, task, title);
      }
      if (ok) shell_.ShowNotice(LangString(40));
      return 0;
    }
    std::wstring current, next;
    if (!shell_.AdminUi().ModifyPin(*d, admin_, &current, &next)) return 0;
    bool ok = admin_ ? d->ChangeSoPin(current, next) : d->ChangeUserPin(current, next);
    uint32_t rc = d->LastResult();
    d->LogOut();
    if (ok) shell_.ShowNotice(LangString(40));
    else shell_.MessageBox(ui::Format(LangString(41), rc), kBoxWarning);
    return 0;
  }

 private:
  bool admin_;
};

class CModifyAdminPinCommand : public CModifyPinCommand {
 public:
  CModifyAdminPinCommand(IClientShell &shell, uint32_t bit, CTreeNode *node)
      : CModifyPinCommand(shell, bit, node, true) {}
};

// A blocked (or forgotten) user PIN set anew with the administrator PIN.
class CUnlockDeviceCommand : public CCommand {
 public:
  using CCommand::CCommand;
  int Execute() override {
    CMarvoDevice *d = Device();
    if (!d) return 0;
    std::wstring admin, next;
    if (!shell_.AdminUi().UnlockPin(*d, &admin, &next)) return 0;
    bool ok = d->UnlockUserPin(admin, next);
    uint32_t rc = d->LastResult();
    d->LogOut();
    if (ok) shell_.ShowNotice(LangString(203));
    else shell_.MessageBox(ui::Format(LangString(204), rc), kBoxWarning);
    return 0;
  }
};

class CRenameLabelCommand : public CCommand {
 public:
  using CCommand::CCommand;
  int Execute() override {
    CMarvoDevice *d = Device();
    if (!d) return 0;
    std::wstring label;
    if (!shell_.AdminUi().RenameLabel(d->GetLabel(), &label)) return 0;
    // The cached label changes at once and keeps the new text until the next refresh.
    d->SetLabel(label);
    if (d->ChangeLabel(label)) {
      shell_.AdminUi().UpdateSelectedItem();
      shell_.ShowNotice(LangString(195));
    } else {
      shell_.MessageBox(ui::Format(LangString(196), d->LastResult()), kBoxWarning);
    }
    return 0;
  }
};

class CFormatDeviceCommand : public CCommand {
 public:
  using CCommand::CCommand;
  int Execute() override {
    if (CMarvoDevice *d = Device())
      if (shell_.AdminUi().FormatDevice(*d)) shell_.RefreshDevices();
    return 0;
  }
};

class CImportCommand : public CCommand {
 public:
  using CCommand::CCommand;
  int Execute() override {
    CMarvoDevice *d = Device();
    if (!d || !shell_.AdminUi().ImportCertificates(*d)) return 0;
    shell_.RefreshDevices();
    shell_.ShowNotice(LangString(3));
    return 0;
  }
};

// The certificate's DER bytes, exactly, into a file the user chooses.
class CExportCommand : public CCommand {
 public:
  CExportCommand(IClientShell &shell, uint32_t bit, CTreeNode *node)
      : CCommand(shell, bit, node), cert_(CertOf(node)) {}
  int Execute() override {
    if (!cert_ || cert_->IsAbsent()) return 0;
    std::wstring path;
    if (!shell_.AdminUi().ChooseExportFile(&path)) return 0;
    uint32_t rc = shell_.AdminUi().WriteWholeFile(path, cert_->Der(), cert_->DerLength());
    if (rc == 0) {
      shell_.ShowNotice(LangString(2));
    } else {
      // Not written: the system's words for why (a full disk, a folder without access).
      std::wstring why = shell_.SystemMessage(rc);
      shell_.MessageBox(why.empty() ? std::wstring(LangString(kRowUnknownError)) : why, kBoxError);
    }
    return 0;
  }

 private:
  TokenCert *cert_;
};

// Deletes the container that holds the certificate (both key pairs and both certificates) after
// the user confirmed and gave the PIN.
class CDeleteCommand : public CCommand {
 public:
  CDeleteCommand(IClientShell &shell, uint32_t bit, CTreeNode *node)
      : CCommand(shell, bit, node), text_(node ? node->GetText() : std::wstring()) {}
  int Execute() override {
    CMarvoDevice *d = Device();
    if (!d || !node_ || node_->GetType() != kNodeCertificate) return 0;
    if (shell_.MessageBox(ui::Format(LangString(181), text_), kBoxYesNo) != kAnswerYes) return 0;
    if (!AskUserPin(shell_, *d)) return 0;
    bool ok = node_->Delete();
    d->LogOut();
    if (ok) {
      shell_.RefreshDevices();  // frees the node; the store entry leaves with the old list
      shell_.ShowNotice(LangString(182));
    } else {
      shell_.MessageBox(LangString(183), kBoxError);
    }
    return 0;
  }

 private:
  std::wstring text_;
};

}  // namespace

bool AskUserPin(IClientShell &shell, CMarvoDevice &d) {
  if (d.TakesPinOnDevice()) {
    CInputPinTask task(&d);
    return RunTaskWithWaitDialog(shell, task, kRowTip);
  }
  return shell.AdminUi().InputPin(d, kRowUserPinTitle);
}

std::unique_ptr<ICommand> CreateAdminCommand(IClientShell &shell, uint32_t bit, CTreeNode *node) {
  switch (bit) {
    case kCmdModifyPin: return std::make_unique<CModifyPinCommand>(shell, bit, node, false);
    case kCmdModifyAdminPin: return std::make_unique<CModifyAdminPinCommand>(shell, bit, node);
    case kCmdUnlock: return std::make_unique<CUnlockDeviceCommand>(shell, bit, node);
    case kCmdRenameLabel: return std::make_unique<CRenameLabelCommand>(shell, bit, node);
    case kCmdFormat:
      if (!node || node->GetType() != kNodeToken) return nullptr;
      return std::make_unique<CFormatDeviceCommand>(shell, bit, node);
    case kCmdImport: return std::make_unique<CImportCommand>(shell, bit, node);
    case kCmdExport: return std::make_unique<CExportCommand>(shell, bit, node);
    case kCmdDelete: return std::make_unique<CDeleteCommand>(shell, bit, node);
    default: return nullptr;
  }
}

}  // namespace client
