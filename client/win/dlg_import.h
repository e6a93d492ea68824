// Certificate import: the import dialog (a PKCS #12 file with its password, or a certificate of
// the user's "My" store) and the selection list of the store's certificates.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "admin_import.h"
#include "device_model.h"
#include "ui_look.h"
#include "ui_window.h"

namespace client {

// PKCS #12 files larger than this are refused as not being one (no file holding a token's key
// and its chain comes near it), before they are read.
constexpr DWORD kMaxPfxFileSize = 1024 * 1024;

class CImportDlg : public ui::CDialogImpl<CImportDlg>, public IImportDialog {
 public:
  CImportDlg(IClientShell &shell, CMarvoDevice &device, const ui::CDialogLook *look);
  static const Map &GetMessageMap();
  int MessageBox(const std::wstring &text, unsigned style) override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnSource(UINT, UINT, HWND);
  void OnBrowse(UINT, UINT, HWND);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  bool ImportFile();
  bool ImportFromStore();
  // Reads the whole file; false (with the reason shown) when it cannot.
  bool ReadPfxFile(const std::wstring &path, std::vector<BYTE> *data);

  IClientShell &shell_;
  CMarvoDevice &device_;
  const ui::CDialogLook *look_;
};

// The certificates of a store in a list (issuer, subject, end of validity); View shows the
// selected one in the system's viewer, OK returns it.
class CSelectCertificateDlg : public ui::CDialogImpl<CSelectCertificateDlg> {
 public:
  explicit CSelectCertificateDlg(HCERTSTORE store);
  ~CSelectCertificateDlg();
  static const Map &GetMessageMap();
  // The chosen certificate (a context the caller frees), or null.
  PCCERT_CONTEXT TakeSelected();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnView(UINT, UINT, HWND);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  LRESULT OnDoubleClick(NMHDR *);
  int SelectedRow() const;

  std::vector<PCCERT_CONTEXT> certs_;
  PCCERT_CONTEXT selected_ = nullptr;
};

}  // namespace client
