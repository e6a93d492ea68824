// The commands of PIN and device administration (change either PIN, unlock, label, format) and
// of certificates (import, export, delete), and what they ask of the windows.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "commands.h"

namespace client {

class IAdminUi {
 public:
  // The change-PIN dialog for a token, in user or administrator mode. On OK the entries kept the
  // rules and the token took the current PIN; false on Cancel.
  virtual bool ModifyPin(CMarvoDevice &d, bool admin, std::wstring *current, std::wstring *newPin) = 0;
  // The unlock dialog: on OK the token took the administrator PIN; false on Cancel.
  virtual bool UnlockPin(CMarvoDevice &d, std::wstring *adminPin, std::wstring *newUserPin) = 0;
  // The PIN-entry dialog titled with a text row: true once the token took the user PIN, false on
  // Cancel.
  virtual bool InputPin(CMarvoDevice &d, size_t titleRow) = 0;
  // The label dialog preset with the current label; false on Cancel.
  virtual bool RenameLabel(const std::wstring &current, std::wstring *label) = 0;
  // The format dialog: true when the token was formatted.
  virtual bool FormatDevice(CMarvoDevice &d) = 0;
  // The import dialog: true when it closed with OK (something was imported).
  virtual bool ImportCertificates(CMarvoDevice &d) = 0;
  // The save-file dialog of an export; false on Cancel.
  virtual bool ChooseExportFile(std::wstring *path) = 0;
  // Replaces the file's contents with the bytes: 0 or the system's error.
  virtual uint32_t WriteWholeFile(const std::wstring &path, const uint8_t *data, size_t len) = 0;
  // The selected tree item takes its node's text and images again.
  virtual void UpdateSelectedItem() = 0;

 protected:
  ~IAdminUi() = default;
};

// The user PIN for work on the token: typed on the token (behind the wait dialog titled "Tip";
// a failure is shown) or in the PIN-entry dialog titled "User PIN". True once verified.
bool AskUserPin(IClientShell &shell, CMarvoDevice &d);

// The factory's part for these commands: null for any other bit.
std::unique_ptr<ICommand> CreateAdminCommand(IClientShell &shell, uint32_t bit, CTreeNode *node);

}  // namespace client
