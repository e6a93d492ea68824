#include "admin_ui_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include "client_text.h"
#include "dlg_format.h"
#include "dlg_import.h"
#include "dlg_pin.h"
#include "tree_nodes.h"

namespace client {

void CAdminUi::Attach(HWND main, HWND tree, const ui::CDialogLook *look) {
  main_ = main;
  tree_ = tree;
  look_ = look;
}

HWND CAdminUi::Owner() const {
  HWND active = GetActiveWindow();
  return active ? active : main_;
}

bool CAdminUi::ModifyPin(CMarvoDevice &d, bool admin, std::wstring *current, std::wstring *newPin) {
  CModifyPinDlg dlg(d, admin);
  if (RunModal(dlg, look_, Owner()) != IDOK) return false;
  *current = dlg.Current();
  *newPin = dlg.NewPin();
  return true;
}

bool CAdminUi::UnlockPin(CMarvoDevice &d, std::wstring *adminPin, std::wstring *newUserPin) {
  CUnlockPinDlg dlg(d);
  if (RunModal(dlg, look_, Owner()) != IDOK) return false;
  *adminPin = dlg.AdminPin();
  *newUserPin = dlg.NewPin();
  return true;
}

bool CAdminUi::InputPin(CMarvoDevice &d, size_t titleRow) {
  CInputPinDlg dlg(d, LangString(titleRow));
  return RunModal(dlg, look_, Owner()) == IDOK;
}

bool CAdminUi::RenameLabel(const std::wstring &current, std::wstring *label) {
  CRenameLabelDlg dlg(current);
  if (RunModal(dlg, look_, Owner()) != IDOK) return false;
  *label = dlg.Label();
  return true;
}

bool CAdminUi::FormatDevice(CMarvoDevice &d) {
  CFormatDeviceDlg dlg(shell_, d);
  RunModal(dlg, look_, Owner());
  return dlg.Succeeded();
}

bool CAdminUi::ImportCertificates(CMarvoDevice &d) {
  CImportDlg dlg(shell_, d, look_);
  return RunModal(dlg, look_, Owner()) == IDOK;
}

bool ChooseCertificateFile(HWND owner, bool save, std::initializer_list<std::wstring> filter,
                           DWORD flags, std::wstring *path) {
  // The filter: its parts, each ended by a NUL, and a final NUL.
  std::wstring joined;
  for (const std::wstring &part : filter) {
    joined += part;
    joined.push_back(L'\0');
  }
  joined.push_back(L'\0');
  wchar_t file[MAX_PATH] = {0};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = joined.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = L"cer";
  ofn.Flags = flags;
  if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return false;
  *path = file;
  return true;
}

bool CAdminUi::ChooseExportFile(std::wstring *path) {
  return ChooseCertificateFile(Owner(), true, {LangString(1), L"*.cer", L"*.crt"},
                               OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST, path);
}

uint32_t CAdminUi::WriteWholeFile(const std::wstring &path, const uint8_t *data, size_t len) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  uint32_t rc = 0;
  if (!WriteFile(f, data, DWORD(len), &written, nullptr)) rc = GetLastError();
  else if (written != len) rc = ERROR_HANDLE_DISK_FULL;
  if (!CloseHandle(f) && rc == 0) rc = GetLastError();
  return rc;
}

void CAdminUi::UpdateSelectedItem() {
  HTREEITEM item = TreeView_GetSelection(tree_);
  if (!item) return;
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_HANDLE;
  it.hItem = item;
  // The wide messages explicitly: the TreeView_ macros name the ANSI ones in this build.
  if (!SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it)) || !it.lParam) return;
  CTreeNode *node = reinterpret_cast<CTreeNode *>(it.lParam);
  std::wstring text = node->GetText();
  it.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
  it.pszText = const_cast<wchar_t *>(text.c_str());
  it.iImage = node->image;
  it.iSelectedImage = node->selectedImage;
  SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  InvalidateRect(tree_, nullptr, FALSE);
}

}  // namespace client
