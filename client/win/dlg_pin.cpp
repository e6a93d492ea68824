#include "dlg_pin.h"

#include "admin_ids.h"
#include "client_text.h"

namespace client {

// ---- the PIN field ------------------------------------------------------------------------------

const CPasswordEdit::Map &CPasswordEdit::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_PASTE, &CPasswordEdit::OnSwallow),
      Map::Message(WM_KEYDOWN, &CPasswordEdit::OnSwallow),
  };
  return map;
}

bool CPasswordEdit::Attach(HWND edit, int maxChars) {
  if (!edit || !Subclass(edit)) return false;
  SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
  SendMessageW(edit, EM_LIMITTEXT, WPARAM(maxChars), 0);
  return true;
}

// ---- shared -------------------------------------------------------------------------------------

bool ApplyVerdict(HWND dialog, const DialogVerdict &v) {
  if (v.close) return true;
  if (!v.message.empty()) MessageBoxW(dialog, v.message.c_str(), LangString(kRowTitle), v.style);
  if (HWND field = GetDlgItem(dialog, v.focus)) SetFocus(field);
  return false;
}

INT_PTR RunModal(ui::CDialogBase &dlg, const ui::CDialogLook *look, HWND owner) {
  dlg.UseLook(look);
  if (!owner) owner = GetActiveWindow();
  return dlg.DoModal(owner);
}

namespace {

void SetOkCancel(const ui::CDialogBase &d) {
  d.SetItemText(IDOK, LangString(102));
  d.SetItemText(IDCANCEL, LangString(103));
}

void SetPasswordChar(HWND edit) { SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0); }

}  // namespace

// ---- change PIN ---------------------------------------------------------------------------------

CModifyPinDlg::CModifyPinDlg(CMarvoDevice &device, bool admin)
    : CDialogImpl(IDD_MODIFYPIN), device_(device), admin_(admin) {}

const CModifyPinDlg::Map &CModifyPinDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CModifyPinDlg::OnInitDialog),
      Map::Command(IDOK, &CModifyPinDlg::OnOk),
      Map::Command(IDCANCEL, &CModifyPinDlg::OnCancel),
  };
  return map;
}

LRESULT CModifyPinDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(admin_ ? 120 : 119));
  SetItemText(IDC_MODIFY_CURRENT_LABEL, LangString(116));
  SetItemText(IDC_MODIFY_NEW_LABEL, LangString(117));
  SetItemText(IDC_MODIFY_CONFIRM_LABEL, LangString(118));
  SetItemText(IDC_MODIFY_NOTE, ui::Format(LangString(115), int(kPinMinLength), int(kPinMaxLength)).c_str());
  const int ids[3] = {IDC_MODIFY_CURRENT, IDC_MODIFY_NEW, IDC_MODIFY_CONFIRM};
  for (int i = 0; i < 3; ++i) fields_[i].Attach(Item(ids[i]), int(kPinMaxLength));
  SetOkCancel(*this);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

void CModifyPinDlg::OnOk(UINT, UINT, HWND) {
  std::wstring current = ItemText(IDC_MODIFY_CURRENT), next = ItemText(IDC_MODIFY_NEW);
  if (!ApplyVerdict(m_hWnd, ModifyPinVerdict(device_, admin_, current, next, ItemText(IDC_MODIFY_CONFIRM))))
    return;
  current_ = current;
  new_ = next;
  EndDialog(IDOK);
}

// ---- unlock -------------------------------------------------------------------------------------

CUnlockPinDlg::CUnlockPinDlg(CMarvoDevice &device) : CDialogImpl(IDD_UNLOCKPIN), device_(device) {}

const CUnlockPinDlg::Map &CUnlockPinDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CUnlockPinDlg::OnInitDialog),
      Map::Command(IDOK, &CUnlockPinDlg::OnOk),
      Map::Command(IDCANCEL, &CUnlockPinDlg::OnCancel),
  };
  return map;
}

LRESULT CUnlockPinDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(197));
  SetItemText(IDC_UNLOCK_ADMIN_LABEL, LangString(199));
  SetItemText(IDC_UNLOCK_NEW_LABEL, LangString(201));
  SetItemText(IDC_UNLOCK_CONFIRM_LABEL, LangString(202));
  SetPasswordChar(Item(IDC_UNLOCK_ADMIN));
  fields_[0].Attach(Item(IDC_UNLOCK_NEW), int(kPinMaxLength));
  fields_[1].Attach(Item(IDC_UNLOCK_CONFIRM), int(kPinMaxLength));
  SetOkCancel(*this);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

void CUnlockPinDlg::OnOk(UINT, UINT, HWND) {
  std::wstring admin = ItemText(IDC_UNLOCK_ADMIN), next = ItemText(IDC_UNLOCK_NEW);
  if (!ApplyVerdict(m_hWnd, UnlockPinVerdict(device_, admin, next, ItemText(IDC_UNLOCK_CONFIRM)))) return;
  admin_ = admin;
  new_ = next;
  EndDialog(IDOK);
}

// ---- PIN entry ----------------------------------------------------------------------------------

CInputPinDlg::CInputPinDlg(CMarvoDevice &device, const std::wstring &title)
    : CDialogImpl(IDD_INPUTPIN), device_(device), title_(title) {}

const CInputPinDlg::Map &CInputPinDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CInputPinDlg::OnInitDialog),
      Map::Command(IDOK, &CInputPinDlg::OnOk),
      Map::Command(IDCANCEL, &CInputPinDlg::OnCancel),
  };
  return map;
}

LRESULT CInputPinDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(title_.c_str());
  SetItemText(IDC_INPUT_PIN_LABEL, LangString(114));
  SetPasswordChar(Item(IDC_INPUT_PIN));
  SetOkCancel(*this);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

void CInputPinDlg::OnOk(UINT, UINT, HWND) {
  if (ApplyVerdict(m_hWnd, InputPinVerdict(device_, ItemText(IDC_INPUT_PIN)))) EndDialog(IDOK);
}

// ---- label --------------------------------------------------------------------------------------

CRenameLabelDlg::CRenameLabelDlg(const std::wstring &current) : CDialogImpl(IDD_RENAMELABEL), label_(current) {}

const CRenameLabelDlg::Map &CRenameLabelDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CRenameLabelDlg::OnInitDialog),
      Map::Command(IDOK, &CRenameLabelDlg::OnOk),
      Map::Command(IDCANCEL, &CRenameLabelDlg::OnCancel),
  };
  return map;
}

LRESULT CRenameLabelDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(191));
  SetItemText(IDC_LABEL_CAPTION, LangString(192));
  SendMessageW(Item(IDC_LABEL_TEXT), EM_LIMITTEXT, kLabelFieldChars, 0);
  SetItemText(IDC_LABEL_TEXT, label_.c_str());
  SetOkCancel(*this);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

void CRenameLabelDlg::OnOk(UINT, UINT, HWND) {
  std::wstring label = ItemText(IDC_LABEL_TEXT);
  if (!ApplyVerdict(m_hWnd, LabelVerdict(label))) return;
  label_ = label;
  EndDialog(IDOK);
}

}  // namespace client
