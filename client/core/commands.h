// Every user action on a token or a certificate is a command: created by the factory from its
// command bit and the selected tree node, executed once and deleted. Work the user does on the
// token itself (PIN entry on the device) runs as a task on a worker thread behind a wait dialog.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "device_model.h"

namespace client {

class CTreeNode;

// Command bits; a node's mask is the OR of the bits allowed on it.
enum CommandBit : uint32_t {
  kCmdModifyPin = 1,
  kCmdExport = 2,
  kCmdImport = 4,
  kCmdShowCertificate = 8,
  kCmdRegister = 16,
  kCmdUnregister = 32,
  kCmdRefresh = 64,
  kCmdAutoCheck = 128,
  kCmdRenameLabel = 256,
  kCmdFormat = 512,
  kCmdDelete = 1024,
  kCmdUnlock = 2048,
  kCmdModifyAdminPin = 4096,
  kCmdUpdate = 8192,
};
constexpr uint32_t kMaskToken = 15301;        // 1 4 64 128 256 512 2048 4096 8192
constexpr uint32_t kMaskCertificate = 9466;   // 2 8 16 32 64 128 1024 8192
constexpr uint32_t kMaskNoSelection = 8384;   // 64 128 8192
constexpr int kCommandCount = 14;

// Name of a command in the program's text table (bar, context menu).
size_t CommandTextRow(uint32_t bit);

// Message-box styles and answers, with the values of the Windows message box.
enum BoxStyle : unsigned {
  kBoxOk = 0x0,
  kBoxOkCancel = 0x1,
  kBoxYesNo = 0x4,
  kBoxError = 0x10,
  kBoxWarning = 0x30,
  kBoxInformation = 0x40,
};
constexpr int kAnswerOk = 1, kAnswerYes = 6;

class ITask;
class IAdminUi;

// What commands ask of the main window.
class IClientShell {
 public:
  // Slides a notice out of the taskbar edge (500 ms in, 3000 ms shown, 500 ms out).
  virtual void ShowNotice(const std::wstring &text) = 0;
  // A message box captioned with the program's title, owned by the main window.
  virtual int MessageBox(const std::wstring &text, unsigned style) = 0;
  virtual void RefreshDevices() = 0;
  // Starts "ORV_Check_tool.exe" from the program's folder.
  virtual void StartCheckTool() = 0;
  // The system's certificate viewer for a token certificate.
  virtual void ViewCertificate(const TokenCert &cert) = 0;
  // The system's text for an error code; empty when it has none.
  virtual std::wstring SystemMessage(uint32_t code) = 0;
  // Runs the task on a worker thread while the wait dialog with this title is shown modally.
  virtual void RunTask(ITask &task, const std::wstring &title) = 0;
  // Starts the user's software update check on a thread of its own (it says when the client is
  // up to date or the server cannot be reached).
  virtual void StartUpdateCheck() = 0;
  // The dialogs of PIN and device administration and of certificate import and export.
  virtual IAdminUi &AdminUi() = 0;

 protected:
  ~IClientShell() = default;
};

// A token-library result to the user: a notice for a cancel, else a warning box.
void ShowError(IClientShell &shell, uint8_t triesLeft, uint32_t code);

class ICommand {
 public:
  virtual int Execute() = 0;
  virtual ~ICommand() = default;
};

// A command on the selected node's token: holds a reference on the token for its lifetime.
class CCommand : public ICommand {
 public:
  CCommand(IClientShell &shell, uint32_t bit, CTreeNode *node);
  uint32_t Bit() const { return bit_; }
  CTreeNode *Node() const { return node_; }
  CMarvoDevice *Device() const { return device_.get(); }

 protected:
  IClientShell &shell_;
  uint32_t bit_;
  CTreeNode *node_;
  DeviceRef device_;
};

// Creates the command for a bit and node (null for a bit outside the table, and for format on a
// node that is not a token). The caller executes and deletes it.
std::unique_ptr<ICommand> CreateCommand(IClientShell &shell, uint32_t bit, CTreeNode *node);

// The main window's dispatch of a bit (bar button, double click, context menu): the command runs
// when the bit is allowed on the selected node, or, with nothing selected, when it is one of the
// no-selection commands. True when a command ran.
bool DispatchCommand(IClientShell &shell, uint32_t bit, CTreeNode *selected);

// ---- tasks ----------------------------------------------------------------------------------

class ITask {
 public:
  explicit ITask(CMarvoDevice *device) : device_(device) {}
  virtual void Run() = 0;
  uint32_t Result() const { return result_; }
  uint8_t TriesLeft() const { return tries_; }
  CMarvoDevice *Device() const { return device_.get(); }

 protected:
  ~ITask() = default;
  DeviceRef device_;
  uint32_t result_ = 0;
  uint8_t tries_ = 0;
};

// PIN verification with the PIN typed on the token.
class CInputPinTask : public ITask {
 public:
  using ITask::ITask;
  void Run() override;
};

// User PIN change with both PINs typed on the token.
class CModifyPinTask : public ITask {
 public:
  using ITask::ITask;
  void Run() override;
};

// Administrator PIN change with both PINs typed on the token.
class CModifyAdminPinTask : public ITask {
 public:
  using ITask::ITask;
  void Run() override;
};

// Formats the token; progress goes to the given progress bar window.
class CFormatDeviceTask : public ITask {
 public:
  CFormatDeviceTask(CMarvoDevice *device, void *progressWindow) : ITask(device), progress_(progressWindow) {}
  void Run() override;
  std::string adminPin, userPin;
  uint8_t adminRetries = 3, userRetries = 3;

 private:
  void *progress_;
};

// Runs a task behind the wait dialog titled with a text row; a failure is shown with ShowError.
// True when the task succeeded.
bool RunTaskWithWaitDialog(IClientShell &shell, ITask &task, size_t titleRow);

// ---- the command bar ------------------------------------------------------------------------

struct BarButton {
  size_t textRow;
  int icon;
  uint32_t bit;
  bool enabled;
};

constexpr int kBarWidth = 120;
constexpr int kBarButtonWidth = 88;
constexpr int kBarButtonHeight = 50;
constexpr int kBarButtonGap = 10;
constexpr int kBarTopMargin = 2;

// The six buttons in display order, all disabled.
std::vector<BarButton> MakeBarButtons();
// Each button is enabled when the mask holds its bit.
void SetBarMask(std::vector<BarButton> *buttons, uint32_t mask);
// The button (index into buttons) drawn at (x, y) of a bar barWidth wide, or -1. Only enabled
// buttons are shown, packed from the top.
int BarHitTest(const std::vector<BarButton> &buttons, int x, int y, int barWidth);
// Top of the n-th visible button.
inline int BarButtonTop(int n) { return kBarTopMargin + n * (kBarButtonHeight + kBarButtonGap); }

}  // namespace client
