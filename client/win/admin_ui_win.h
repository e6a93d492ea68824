// The windows behind the administration commands: their dialogs over the main window, the
// export's save-file dialog and file, and the tree item a label change renames.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <string>

#include "admin_commands.h"
#include "ui_look.h"

namespace client {

// The common file dialog (save or open) for certificate files, default extension "cer": the
// filter's parts (a description, its patterns, ...) and the dialog's flags. False when cancelled.
bool ChooseCertificateFile(HWND owner, bool save, std::initializer_list<std::wstring> filter,
                           DWORD flags, std::wstring *path);

class CAdminUi : public IAdminUi {
 public:
  explicit CAdminUi(IClientShell &shell) : shell_(shell) {}
  // The main window, its tree and the look of the client's dialogs (set once they exist).
  void Attach(HWND main, HWND tree, const ui::CDialogLook *look);

  bool ModifyPin(CMarvoDevice &d, bool admin, std::wstring *current, std::wstring *newPin) override;
  bool UnlockPin(CMarvoDevice &d, std::wstring *adminPin, std::wstring *newUserPin) override;
  bool InputPin(CMarvoDevice &d, size_t titleRow) override;
  bool RenameLabel(const std::wstring &current, std::wstring *label) override;
  bool FormatDevice(CMarvoDevice &d) override;
  bool ImportCertificates(CMarvoDevice &d) override;
  bool ChooseExportFile(std::wstring *path) override;
  uint32_t WriteWholeFile(const std::wstring &path, const uint8_t *data, size_t len) override;
  void UpdateSelectedItem() override;

 private:
  // Dialogs are modal over the active window (the main window when none of ours is active).
  HWND Owner() const;
  IClientShell &shell_;
  HWND main_ = nullptr, tree_ = nullptr;
  const ui::CDialogLook *look_ = nullptr;
};

}  // namespace client
