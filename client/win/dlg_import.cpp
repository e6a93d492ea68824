#include "dlg_import.h"

#include <commctrl.h>
#include <commdlg.h>

#include <memory>

#include "admin_ids.h"
#include "admin_rules.h"
#include "admin_ui_win.h"
#include "client_host_win.h"
#include "client_text.h"
#include "dlg_pin.h"

namespace client {

namespace {

// The last error, or a general failure when a call failed without setting one.
uint32_t LastErrorOr(uint32_t fallback) {
  DWORD e = GetLastError();
  return e ? e : fallback;
}

constexpr uint32_t kGeneralFailure = 0x80004005u;  // E_FAIL

// A certificate with the CryptoAPI key behind it.
class CCertificateKey : public ISourceCertificate {
 public:
  // Takes a reference of its own on the context.
  explicit CCertificateKey(PCCERT_CONTEXT ctx)
      : ctx_(CertDuplicateCertificateContext(ctx)), der_(ctx->pbCertEncoded, ctx->pbCertEncoded + ctx->cbCertEncoded) {}
  ~CCertificateKey() {
    if (key_) CryptDestroyKey(key_);
    if (prov_ && mustFree_) CryptReleaseContext(prov_, 0);
    CertFreeCertificateContext(ctx_);
  }
  CCertificateKey(const CCertificateKey &) = delete;
  CCertificateKey &operator=(const CCertificateKey &) = delete;

  const std::vector<uint8_t> &Der() const override { return der_; }
  std::vector<uint8_t> PublicKey() const override {
    const CRYPT_BIT_BLOB &k = ctx_->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    return std::vector<uint8_t>(k.pbData, k.pbData + k.cbData);
  }
  uint32_t AcquireKey(uint32_t *keySpec) override {
    SetLastError(0);
    if (!CryptAcquireCertificatePrivateKey(ctx_, 0, nullptr, &prov_, &spec_, &mustFree_))
      return LastErrorOr(kGeneralFailure);
    // A key pair number other than exchange or signature (Wine names 3 for the keys it imported
    // from PKCS #12) is the exchange key, the one such an import holds.
    if (spec_ != AT_KEYEXCHANGE && spec_ != AT_SIGNATURE) spec_ = AT_KEYEXCHANGE;
    *keySpec = spec_;
    return 0;
  }
  uint32_t OpenKey() override {
    SetLastError(0);
    return CryptGetUserKey(prov_, spec_, &key_) ? 0 : LastErrorOr(kGeneralFailure);
  }
  uint32_t ExportSize(uint32_t *size) override {
    DWORD n = 0;
    SetLastError(0);
    if (!CryptExportKey(key_, 0, PRIVATEKEYBLOB, 0, nullptr, &n)) return LastErrorOr(kGeneralFailure);
    *size = n;
    return 0;
  }
  bool Export(uint32_t size, std::vector<uint8_t> *blob) override {
    blob->assign(size, 0);
    DWORD n = size;
    if (!CryptExportKey(key_, 0, PRIVATEKEYBLOB, 0, blob->data(), &n)) return false;
    blob->resize(n);
    return true;
  }

 private:
  PCCERT_CONTEXT ctx_;
  std::vector<uint8_t> der_;
  HCRYPTPROV prov_ = 0;
  DWORD spec_ = 0;
  BOOL mustFree_ = FALSE;
  HCRYPTKEY key_ = 0;
};

// The key containers PFXImportCertStore filled for the certificates of its store: once the import
// is over they are deleted, so that no copy of the private key stays in the software key store.
void DeletePfxKeyContainers(HCERTSTORE store) {
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c))) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) continue;
    std::vector<BYTE> buf(size);
    if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) continue;
    const auto *info = reinterpret_cast<const CRYPT_KEY_PROV_INFO *>(buf.data());
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                         CRYPT_DELETEKEYSET | (info->dwFlags & CRYPT_MACHINE_KEYSET));
  }
}

// The store PFXImportCertStore makes of the file. An empty password is tried as the empty string
// and then as no password. A failure without a reason from the platform (Wine gives none) is
// told apart here: data that is not PKCS #12 at all is a format error, PKCS #12 data that does not
// open a wrong password.
HCERTSTORE OpenPfx(std::vector<BYTE> &data, const std::wstring &password, bool emptyPassword, uint32_t *error) {
  CRYPT_DATA_BLOB blob{DWORD(data.size()), data.data()};
  SetLastError(0);
  HCERTSTORE s;
  if (emptyPassword) {
    s = PFXImportCertStore(&blob, L"", CRYPT_EXPORTABLE);
    if (!s) {
      SetLastError(0);
      s = PFXImportCertStore(&blob, nullptr, CRYPT_EXPORTABLE);
    }
  } else {
    s = PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE);
  }
  if (!s) {
    *error = GetLastError();
    if (*error == 0) *error = PFXIsPFXBlob(&blob) ? kErrorInvalidPassword : kCryptBadEncode;
  }
  return s;
}

void Check(HWND item, bool on) { SendMessageW(item, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

}  // namespace

// ---- the import dialog --------------------------------------------------------------------------

CImportDlg::CImportDlg(IClientShell &shell, CMarvoDevice &device, const ui::CDialogLook *look)
    : CDialogImpl(IDD_IMPORT), shell_(shell), device_(device), look_(look) {}

const CImportDlg::Map &CImportDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CImportDlg::OnInitDialog),
      Map::Command(IDC_IMPORT_FROM_FILE, &CImportDlg::OnSource, BN_CLICKED),
      Map::Command(IDC_IMPORT_FROM_STORE, &CImportDlg::OnSource, BN_CLICKED),
      Map::Command(IDC_IMPORT_BROWSE, &CImportDlg::OnBrowse, BN_CLICKED),
      Map::Command(IDOK, &CImportDlg::OnOk),
      Map::Command(IDCANCEL, &CImportDlg::OnCancel),
  };
  return map;
}

LRESULT CImportDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(107));
  SetItemText(IDC_IMPORT_FROM_FILE, LangString(108));
  SetItemText(IDC_IMPORT_FROM_STORE, LangString(109));
  SetItemText(IDC_IMPORT_FILE_LABEL, LangString(110));
  SetItemText(IDC_IMPORT_PASSWORD_LABEL, LangString(111));
  SetItemText(IDC_IMPORT_BROWSE, LangString(113));
  SetItemText(IDOK, LangString(102));
  SetItemText(IDCANCEL, LangString(103));
  SendMessageW(Item(IDC_IMPORT_PASSWORD), EM_SETPASSWORDCHAR, L'*', 0);
  Check(Item(IDC_IMPORT_FROM_FILE), true);
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

int CImportDlg::MessageBox(const std::wstring &text, unsigned style) {
  return MessageBoxW(m_hWnd, text.c_str(), LangString(kRowTitle), style);
}

void CImportDlg::OnSource(UINT id, UINT, HWND) {
  bool file = id == IDC_IMPORT_FROM_FILE;
  Check(Item(IDC_IMPORT_FROM_FILE), file);
  Check(Item(IDC_IMPORT_FROM_STORE), !file);
  for (int item : {IDC_IMPORT_FILE_LABEL, IDC_IMPORT_PASSWORD_LABEL, IDC_IMPORT_PASSWORD, IDC_IMPORT_PATH,
                   IDC_IMPORT_BROWSE})
    EnableItem(item, file);
}

void CImportDlg::OnBrowse(UINT, UINT, HWND) {
  std::wstring path;
  if (ChooseCertificateFile(m_hWnd, false, {LangString(4), L"*.pfx;*.p12"}, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, &path))
    SetItemText(IDC_IMPORT_PATH, path.c_str());
}

void CImportDlg::OnOk(UINT, UINT, HWND) {
  bool ok = SendMessageW(Item(IDC_IMPORT_FROM_STORE), BM_GETCHECK, 0, 0) == BST_CHECKED ? ImportFromStore()
                                                                                        : ImportFile();
  if (ok) EndDialog(IDOK);
}

bool CImportDlg::ReadPfxFile(const std::wstring &path, std::vector<BYTE> *data) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    MessageBox(LangString(6), kBoxError);
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = false;
  if (!GetFileSizeEx(f, &size)) {
    MessageBox(LangString(7), kBoxError);
  } else if (size.QuadPart > kMaxPfxFileSize) {
    MessageBox(LangString(14), kBoxError);
  } else {
    data->resize(size_t(size.QuadPart));
    DWORD got = 0;
    ok = (data->empty() || ReadFile(f, data->data(), DWORD(data->size()), &got, nullptr)) && got == data->size();
    if (!ok) MessageBox(LangString(8), kBoxError);
  }
  CloseHandle(f);
  return ok;
}

bool CImportDlg::ImportFile() {
  std::wstring password = ItemText(IDC_IMPORT_PASSWORD), path = ItemText(IDC_IMPORT_PATH);
  if (path.empty()) {
    MessageBox(LangString(5), kBoxError);
    return false;
  }
  std::vector<BYTE> data;
  if (!ReadPfxFile(path, &data)) return false;
  bool emptyPassword = password.empty();
  if (emptyPassword && MessageBox(LangString(9), kBoxYesNo | kBoxInformation) != kAnswerYes) return false;

  uint32_t error = 0;
  HCERTSTORE store = OpenPfx(data, password, emptyPassword, &error);
  WipeMemory(&password[0], password.size() * sizeof(wchar_t));
  if (!store) {
    MessageBox(PfxFailureText(error, shell_.SystemMessage(error)), kBoxError);
    return false;
  }
  bool imported;
  {
    std::vector<std::unique_ptr<CCertificateKey>> certs;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store, c))) certs.emplace_back(new CCertificateKey(c));
    uint32_t enumerationError = GetLastError();
    std::vector<ISourceCertificate *> list;
    for (auto &k : certs) list.push_back(k.get());
    imported = ImportPfxCertificates(shell_, *this, device_, list, enumerationError);
  }
  DeletePfxKeyContainers(store);
  CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
  return imported;
}

bool CImportDlg::ImportFromStore() {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
  if (!store) return false;
  PCCERT_CONTEXT chosen = nullptr;
  {
    CSelectCertificateDlg select(store);
    if (RunModal(select, look_, m_hWnd) == IDOK) chosen = select.TakeSelected();
  }
  bool imported = false;
  if (chosen) {
    CCertificateKey source(chosen);
    CertFreeCertificateContext(chosen);
    imported = ImportStoreCertificate(shell_, *this, device_, source);
  }
  CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
  return imported;
}

// ---- the certificate list -----------------------------------------------------------------------

CSelectCertificateDlg::CSelectCertificateDlg(HCERTSTORE store) : CDialogImpl(IDD_SELECTCERT) {
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c))) certs_.push_back(CertDuplicateCertificateContext(c));
}

CSelectCertificateDlg::~CSelectCertificateDlg() {
  for (PCCERT_CONTEXT c : certs_) CertFreeCertificateContext(c);
  if (selected_) CertFreeCertificateContext(selected_);
}

const CSelectCertificateDlg::Map &CSelectCertificateDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CSelectCertificateDlg::OnInitDialog),
      Map::Command(IDC_SELECT_VIEW, &CSelectCertificateDlg::OnView, BN_CLICKED),
      Map::Command(IDOK, &CSelectCertificateDlg::OnOk),
      Map::Command(IDCANCEL, &CSelectCertificateDlg::OnCancel),
      Map::Notify(IDC_SELECT_LIST, NM_DBLCLK, &CSelectCertificateDlg::OnDoubleClick),
  };
  return map;
}

LRESULT CSelectCertificateDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(LangString(176));
  SetItemText(IDC_SELECT_VIEW, LangString(177));
  SetItemText(IDOK, LangString(102));
  SetItemText(IDCANCEL, LangString(103));
  HWND list = Item(IDC_SELECT_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  const size_t headings[3] = {178, 179, 180};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = 132;
    col.pszText = const_cast<wchar_t *>(LangString(headings[i]));
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
  for (size_t i = 0; i < certs_.size(); ++i) {
    wchar_t issuer[512] = {0}, subject[512] = {0};
    CertGetNameStringW(certs_[i], CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, issuer, 512);
    CertGetNameStringW(certs_[i], CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, 512);
    CertNames names;
    Host().DescribeCertificate(certs_[i]->pbCertEncoded, certs_[i]->cbCertEncoded, &names);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = int(i);
    item.pszText = issuer;
    item.lParam = LPARAM(i);
    int row = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = subject;
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = const_cast<wchar_t *>(names.notAfter.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
  }
  ui::CenterWindow(m_hWnd, GetParent(m_hWnd));
  return TRUE;
}

int CSelectCertificateDlg::SelectedRow() const {
  int row = int(SendMessageW(Item(IDC_SELECT_LIST), LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
  if (row < 0) return -1;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageW(Item(IDC_SELECT_LIST), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return item.lParam >= 0 && size_t(item.lParam) < certs_.size() ? int(item.lParam) : -1;
}

void CSelectCertificateDlg::OnView(UINT, UINT, HWND) {
  int i = SelectedRow();
  if (i >= 0) ShowCertificateViewer(m_hWnd, certs_[size_t(i)]);
}

void CSelectCertificateDlg::OnOk(UINT, UINT, HWND) {
  int i = SelectedRow();
  if (i < 0) {
    MessageBoxW(m_hWnd, LangString(5), LangString(kRowTitle), MB_OK | MB_ICONINFORMATION);
    return;
  }
  selected_ = CertDuplicateCertificateContext(certs_[size_t(i)]);
  EndDialog(IDOK);
}

LRESULT CSelectCertificateDlg::OnDoubleClick(NMHDR *) {
  if (SelectedRow() >= 0) OnOk(IDOK, 0, nullptr);
  return 0;
}

PCCERT_CONTEXT CSelectCertificateDlg::TakeSelected() {
  PCCERT_CONTEXT c = selected_;
  selected_ = nullptr;
  return c;
}

}  // namespace client
