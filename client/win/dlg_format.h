// The format dialog: the token is rebuilt with the fixed PINs and retry counts while a progress
// bar follows the library's steps; the dialog cannot be closed while the work runs.
#pragma once
#include <windows.h>

#include <memory>

#include "commands.h"
#include "small_dialogs.h"
#include "ui_window.h"

namespace client {

// Message 1125: parameter 1 steps the progress bar, any other value sets its position.
constexpr UINT kFormatProgress = WM_USER + 101;

class CFormatDeviceDlg : public ui::CDialogImpl<CFormatDeviceDlg> {
 public:
  CFormatDeviceDlg(IClientShell &shell, CMarvoDevice &device);
  ~CFormatDeviceDlg();
  static const Map &GetMessageMap();
  // The token was formatted.
  bool Succeeded() const { return success_; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnProgress(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnTaskFinished(UINT, WPARAM, LPARAM, bool &);
  void OnStart(UINT, UINT, HWND);
  void OnExit(UINT, UINT, HWND);
  void EnableButtons(bool enable);
  std::string FieldBytes(int id, int maxChars) const;

  IClientShell &shell_;
  CMarvoDevice &device_;
  std::unique_ptr<CFormatDeviceTask> task_;
  std::unique_ptr<TaskRunner> runner_;
  bool running_ = false;
  bool success_ = false;
};

}  // namespace client
