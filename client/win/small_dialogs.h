// The About box and the wait dialog of the tasks that run on the token.
#pragma once
#include <windows.h>

#include <string>

#include "commands.h"
#include "ui_look.h"
#include "ui_window.h"

namespace client {

// Product name, version, copyright and maker. One at a time: Show ignores a second request while
// one is open.
class CAboutDlg : public ui::CDialogImpl<CAboutDlg> {
 public:
  CAboutDlg();
  static const Map &GetMessageMap();
  static void Show(HWND parent, const ui::CDialogLook *look);

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnClose(UINT, UINT, HWND) { EndDialog(IDOK); }
  static bool open_;
};

// Runs a task on a worker thread (created through the runtime library) and tells the window with
// message kTaskFinished, synchronously, when the task is done.
constexpr UINT kTaskFinished = WM_USER + 100;
class TaskRunner {
 public:
  TaskRunner(HWND notify, ITask &task) : notify_(notify), task_(task) {}
  ~TaskRunner();
  bool Start();
  bool Finished() const { return finished_ != 0; }

 private:
  static unsigned __stdcall Thread(void *self);
  HWND notify_;
  ITask &task_;
  volatile LONG finished_ = 0;
  HANDLE thread_ = nullptr;
};

// "Please input PIN on device!" while the task runs; no cancel: it closes when the task ends.
class CWaitModifyPinDlg : public ui::CDialogImpl<CWaitModifyPinDlg> {
 public:
  CWaitModifyPinDlg(ITask &task, const std::wstring &title);
  ~CWaitModifyPinDlg() { delete runner_; }
  static const Map &GetMessageMap();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnTaskFinished(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnSysCommand(UINT, WPARAM, LPARAM, bool &);
  ITask &task_;
  std::wstring title_;
  TaskRunner *runner_ = nullptr;
};

}  // namespace client
