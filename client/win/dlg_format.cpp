#include "dlg_format.h"

#include <commctrl.h>

#include "admin_ids.h"
#include "admin_rules.h"
#include "client_text.h"
#include "dlg_pin.h"

namespace client {

CFormatDeviceDlg::CFormatDeviceDlg(IClientShell &shell, CMarvoDevice &device)
    : CDialogImpl(IDD_FORMAT), shell_(shell), device_(device) {}

// The worker has ended when the dialog is gone (Start and Exit stay disabled until it reports).
CFormatDeviceDlg::~CFormatDeviceDlg() = default;

const CFormatDeviceDlg::Map &CFormatDeviceDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CFormatDeviceDlg::OnInitDialog),
      Map::Message(kFormatProgress, &CFormatDeviceDlg::OnProgress),
      Map::Message(kTaskFinished, &CFormatDeviceDlg::OnTaskFinished),
      Map::Command(IDOK, &CFormatDeviceDlg::OnStart),
      Map::Command(IDCANCEL, &CFormatDeviceDlg::OnExit),
  };
  return map;
}

LRESULT CFormatDeviceDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(135));
  SetItemText(IDC_FORMAT_DEVICE_LABEL, LangString(136));
  SetItemText(IDC_FORMAT_GROUP, LangString(138));
  SetItemText(IDC_FORMAT_USER_PIN_LABEL, LangString(139));
  SetItemText(IDC_FORMAT_USER_RETRIES_LABEL, LangString(140));
  SetItemText(IDC_FORMAT_ADMIN_PIN_LABEL, LangString(141));
  SetItemText(IDC_FORMAT_ADMIN_RETRIES_LABEL, LangString(142));
  SetItemText(IDC_FORMAT_NOTE, LangString(148));
  SetItemText(IDOK, LangString(154));
  SetItemText(IDCANCEL, LangString(155));

  const struct {
    int id;
    size_t limit;
    const char *value;
  } fields[] = {{IDC_FORMAT_USER_PIN, kFormatPinField, kFormatUserPin},
                {IDC_FORMAT_USER_RETRIES, kFormatRetryField, kFormatRetries},
                {IDC_FORMAT_ADMIN_PIN, kFormatPinField, kFormatAdminPin},
                {IDC_FORMAT_ADMIN_RETRIES, kFormatRetryField, kFormatRetries}};
  for (const auto &f : fields) {
    SendMessageW(Item(f.id), EM_LIMITTEXT, f.limit, 0);
    SetDlgItemTextA(m_hWnd, f.id, f.value);
  }
  EnableItem(IDC_FORMAT_USER_PIN, false);
  EnableItem(IDC_FORMAT_USER_RETRIES, false);
  for (int id : {IDC_FORMAT_ADMIN_PIN, IDC_FORMAT_ADMIN_RETRIES, IDC_FORMAT_ADMIN_PIN_LABEL,
                 IDC_FORMAT_ADMIN_RETRIES_LABEL})
    ShowWindow(Item(id), SW_HIDE);

  std::wstring entry = device_.GetLabel() + L" | " + device_.GetSerialNumber();
  SendMessageW(Item(IDC_FORMAT_DEVICE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  SendMessageW(Item(IDC_FORMAT_DEVICE), CB_SETCURSEL, 0, 0);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

std::string CFormatDeviceDlg::FieldBytes(int id, int maxChars) const {
  char buf[32] = {0};
  int n = GetDlgItemTextA(m_hWnd, id, buf, maxChars + 1);
  return std::string(buf, n > 0 ? size_t(n) : 0);
}

void CFormatDeviceDlg::EnableButtons(bool enable) {
  EnableItem(IDOK, enable);
  EnableItem(IDCANCEL, enable);
}

void CFormatDeviceDlg::OnStart(UINT, UINT, HWND) {
  if (running_) return;
  FormatSettings s;
  s.userPin = FieldBytes(IDC_FORMAT_USER_PIN, int(kFormatPinField));
  s.userRetries = FieldBytes(IDC_FORMAT_USER_RETRIES, int(kFormatRetryField));
  s.adminPin = FieldBytes(IDC_FORMAT_ADMIN_PIN, int(kFormatPinField));
  s.adminRetries = FieldBytes(IDC_FORMAT_ADMIN_RETRIES, int(kFormatRetryField));
  if (!ApplyVerdict(m_hWnd, CheckFormatSettings(s))) return;
  if (MessageBoxW(m_hWnd, LangString(148), LangString(kRowTitle), MB_OKCANCEL | MB_ICONWARNING) != IDOK) return;

  EnableButtons(false);
  HWND bar = Item(IDC_FORMAT_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETSTEP, 2, 0);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  task_.reset(new CFormatDeviceTask(&device_, bar));
  task_->adminPin = s.adminPin;
  task_->userPin = s.userPin;
  task_->adminRetries = uint8_t(RetryCount(s.adminRetries));
  task_->userRetries = uint8_t(RetryCount(s.userRetries));
  runner_.reset(new TaskRunner(m_hWnd, *task_));
  running_ = runner_->Start();
  if (!running_) {
    runner_.reset();
    EnableButtons(true);
  }
}

LRESULT CFormatDeviceDlg::OnProgress(UINT, WPARAM wParam, LPARAM, bool &) {
  HWND bar = Item(IDC_FORMAT_PROGRESS);
  if (wParam == 1) SendMessageW(bar, PBM_STEPIT, 0, 0);
  else SendMessageW(bar, PBM_SETPOS, wParam, 0);
  return 0;
}

LRESULT CFormatDeviceDlg::OnTaskFinished(UINT, WPARAM, LPARAM, bool &) {
  running_ = false;
  EnableButtons(true);
  uint32_t rc = task_->Result();
  success_ = rc == 0;
  if (success_) {
    shell_.ShowNotice(LangString(149));
  } else {
    std::wstring text = FormatFailureText(rc);
    shell_.ShowNotice(LangString(150));
    MessageBoxW(m_hWnd, text.c_str(), LangString(150), MB_OK | MB_ICONERROR);
  }
  EndDialog(IDOK);
  return 0;
}

void CFormatDeviceDlg::OnExit(UINT, UINT, HWND) {
  if (running_) return;  // the work on the token finishes first
  runner_.reset();
  EndDialog(IDCANCEL);
}

}  // namespace client
