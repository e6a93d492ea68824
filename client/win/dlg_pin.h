// The PIN and label dialogs of the client: change either PIN, unlock the user PIN with the
// administrator PIN, enter the user PIN, change the token's label. Each checks its entries when
// OK is pressed and stays open with a message until they are right (or the user cancels).
#pragma once
#include <windows.h>

#include <string>

#include "admin_rules.h"
#include "device_model.h"
#include "ui_look.h"
#include "ui_window.h"

namespace client {

// A PIN field: echoes "*", takes nothing pasted and ignores the cursor and delete keys (typed
// characters and backspace still arrive).
class CPasswordEdit : public ui::CWindowImpl<CPasswordEdit> {
 public:
  static const Map &GetMessageMap();
  // Takes over the dialog's edit control and limits it to maxChars characters.
  bool Attach(HWND edit, int maxChars);

 private:
  LRESULT OnSwallow(UINT, WPARAM, LPARAM, bool &) { return 0; }
};

// Shows a refusal of the dialog's entries (captioned with the program's title, owned by the
// dialog) and focuses the field it names; true when the verdict closes the dialog.
bool ApplyVerdict(HWND dialog, const DialogVerdict &v);

// A modal dialog of the client's look over the active window (or the given owner).
INT_PTR RunModal(ui::CDialogBase &dlg, const ui::CDialogLook *look, HWND owner = nullptr);

class CModifyPinDlg : public ui::CDialogImpl<CModifyPinDlg> {
 public:
  CModifyPinDlg(CMarvoDevice &device, bool admin);
  static const Map &GetMessageMap();
  const std::wstring &Current() const { return current_; }
  const std::wstring &NewPin() const { return new_; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  CMarvoDevice &device_;
  bool admin_;
  CPasswordEdit fields_[3];
  std::wstring current_, new_;
};

class CUnlockPinDlg : public ui::CDialogImpl<CUnlockPinDlg> {
 public:
  explicit CUnlockPinDlg(CMarvoDevice &device);
  static const Map &GetMessageMap();
  const std::wstring &AdminPin() const { return admin_; }
  const std::wstring &NewPin() const { return new_; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  CMarvoDevice &device_;
  CPasswordEdit fields_[2];
  std::wstring admin_, new_;
};

class CInputPinDlg : public ui::CDialogImpl<CInputPinDlg> {
 public:
  CInputPinDlg(CMarvoDevice &device, const std::wstring &title);
  static const Map &GetMessageMap();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  CMarvoDevice &device_;
  std::wstring title_;
};

class CRenameLabelDlg : public ui::CDialogImpl<CRenameLabelDlg> {
 public:
  explicit CRenameLabelDlg(const std::wstring &current);
  static const Map &GetMessageMap();
  const std::wstring &Label() const { return label_; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  std::wstring label_;
};

}  // namespace client
