#include "small_dialogs.h"

#include <process.h>

#include "client_text.h"
#include "resource.h"
#include "version.h"

namespace client {

bool CAboutDlg::open_ = false;

CAboutDlg::CAboutDlg() : CDialogImpl(IDD_ABOUTBOX) {}

const CAboutDlg::Map &CAboutDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CAboutDlg::OnInitDialog),
      Map::Command(IDOK, &CAboutDlg::OnClose),
      Map::Command(IDCANCEL, &CAboutDlg::OnClose),
  };
  return map;
}

void CAboutDlg::Show(HWND parent, const ui::CDialogLook *look) {
  if (open_) return;
  open_ = true;
  CAboutDlg dlg;
  dlg.UseLook(look);
  dlg.DoModal(parent);
  open_ = false;
}

LRESULT CAboutDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(kRowAbout));
  SetItemText(IDC_ABOUT_NAME, LangString(kRowTitle));
  SetItemText(IDC_ABOUT_VERSION, ui::Format(L"%s %d.%d.%d", LangString(104), UK_VERSION_MAJOR, UK_VERSION_MINOR,
                                            UK_VERSION_BUILD).c_str());
  SetItemText(IDC_ABOUT_COPYRIGHT, LangString(105));
  SetItemText(IDC_ABOUT_MAKER, LangString(106));
  SetItemText(IDOK, LangString(102));
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

// ---- tasks ------------------------------------------------------------------------------------

TaskRunner::~TaskRunner() {
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
}

bool TaskRunner::Start() {
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Thread, this, 0, nullptr));
  return thread_ != nullptr;
}

unsigned __stdcall TaskRunner::Thread(void *p) {
  TaskRunner *self = static_cast<TaskRunner *>(p);
  InterlockedExchange(&self->finished_, 0);
  self->task_.Run();
  InterlockedExchange(&self->finished_, 1);
  SendMessageW(self->notify_, kTaskFinished, 0, 0);
  return 0;
}

CWaitModifyPinDlg::CWaitModifyPinDlg(ITask &task, const std::wstring &title)
    : CDialogImpl(IDD_WAITPIN), task_(task), title_(title) {}

const CWaitModifyPinDlg::Map &CWaitModifyPinDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CWaitModifyPinDlg::OnInitDialog),
      Map::Message(kTaskFinished, &CWaitModifyPinDlg::OnTaskFinished),
      Map::Message(WM_SYSCOMMAND, &CWaitModifyPinDlg::OnSysCommand),
  };
  return map;
}

LRESULT CWaitModifyPinDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(title_.c_str());
  SetItemText(IDC_WAIT_TEXT, LangString(kRowPleaseInputPinOnDevice));
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  runner_ = new TaskRunner(m_hWnd, task_);
  if (!runner_->Start()) {
    delete runner_;
    runner_ = nullptr;
    EndDialog(0);
  }
  return TRUE;
}

LRESULT CWaitModifyPinDlg::OnTaskFinished(UINT, WPARAM, LPARAM, bool &) {
  EndDialog(1);
  return 0;
}

// The dialog stays until the task ends: closing it from its system menu does nothing.
LRESULT CWaitModifyPinDlg::OnSysCommand(UINT, WPARAM wParam, LPARAM, bool &handled) {
  handled = (wParam & 0xFFF0) == SC_CLOSE;
  return 0;
}

}  // namespace client
