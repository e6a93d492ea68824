#include "pages.h"

#include <commctrl.h>
#include <wincrypt.h>

#include "environment_win.h"
#include "guide_config.h"
#include "guide_paths.h"
#include "guide_text.h"
#include "ui_config.h"
#include "ui_kernel_objects.h"
#include "ui_look.h"

namespace guide {

// ---- what every page does ---------------------------------------------------------------------

template <class T>
bool CGuidePage<T>::PageMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) {
  const PageArt &art = shell_.Art();
  switch (msg) {
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      RECT rc;
      GetClientRect(this->m_hWnd, &rc);
      FillRect(dc, &rc, art.brush);
      BITMAP bm;
      if (art.background && GetObjectW(art.background, sizeof bm, &bm)) {
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, art.background);
        BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
      }
      result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORDLG:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(art.brush);
      return true;
    case WM_COMMAND:
      // Escape in a page ends the guide, as in the main window.
      if (LOWORD(wParam) == IDCANCEL && lParam == 0) {
        SendMessageW(shell_.GuideWindow(), WM_COMMAND, IDCANCEL, 0);
        result = 0;
        return true;
      }
      return false;
    default:
      return false;
  }
}

WaitResult WaitForEvent(HANDLE event, HANDLE cancel) {
  HANDLE handles[2] = {event, cancel};
  DWORD r = WaitForMultipleObjects(cancel ? 2 : 1, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0) return WaitResult::kSignalled;
  if (cancel && r == WAIT_OBJECT_0 + 1) return WaitResult::kSuperseded;
  return WaitResult::kFailed;
}

namespace {

// The language family's picture: one set for English, one for both Chinese languages.
bool ChineseImages() { return LanguageIndex() != ui::kEnglish; }

void SetFont(HWND control, HFONT font) {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace

// ---- step 1 -------------------------------------------------------------------------------------

const CCheckSoftFrm::Map &CCheckSoftFrm::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CCheckSoftFrm::OnInitDialog),
      Map::Message(WM_GUIDE_DETAILS, &CCheckSoftFrm::OnGuideDetails),
      Map::Command(IDC_SOFT_RECHECK, &CCheckSoftFrm::OnRecheck, BN_CLICKED),
      Map::Command(IDC_SOFT_DETAILS, &CCheckSoftFrm::OnDetails, BN_CLICKED),
      Map::Chain(&CCheckSoftFrm::PageMessage),
  };
  return map;
}

LRESULT CCheckSoftFrm::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetFont(Item(IDC_SOFT_STATUS), shell_.Art().status13);
  recheck_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(),
                                             MAKEINTRESOURCEW(ChineseImages() ? IDB_RECHECK_ZH : IDB_RECHECK_EN),
                                             IMAGE_BITMAP, 0, 0, 0));
  SendMessageW(Item(IDC_SOFT_RECHECK), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(recheck_));
  SetItemText(IDC_SOFT_DETAILS, GetGuideText(kTextShowDetails));
  ui::CMyButton::Attach(Item(IDC_SOFT_DETAILS));
  SendMessageW(Item(IDC_SOFT_PROGRESS), PBM_SETRANGE32, 0, 20);
  details_.reset(new CDisplayInfoDlg(m_hWnd, shell_.GuideWindow()));
  details_->Create(m_hWnd);
  return TRUE;
}

int CCheckSoftFrm::RunStep() {
  CWinEnvironment env(m_hWnd);
  return CheckSoftwareStep(*this, env);
}

void CCheckSoftFrm::ShowDetails(bool shown) {
  details_->SetShown(shown);
  SetItemText(IDC_SOFT_DETAILS, GetGuideText(shown ? kTextHideDetails : kTextShowDetails));
}

void CCheckSoftFrm::BeginCheck() {
  EnableItem(IDC_SOFT_RECHECK, false);
  HWND bar = Item(IDC_SOFT_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, 20);
  SendMessageW(bar, PBM_SETSTEP, 1, 0);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  ShowDetails(true);
  details_->Clear();
}

void CCheckSoftFrm::SetStatusText(int textId) {
  SetItemText(IDC_SOFT_STATUS, GetGuideText(textId));
  SendMessageW(Item(IDC_SOFT_PROGRESS), PBM_STEPIT, 0, 0);
  Sleep(200);
}

void CCheckSoftFrm::AddDetailLine(int state, const std::wstring &text) { details_->AddLine(state, text); }

void CCheckSoftFrm::ReplaceLastDetailLine(int state, const std::wstring &text) {
  details_->ReplaceLastLine(state, text);
}

void CCheckSoftFrm::EnableRecheck() { EnableItem(IDC_SOFT_RECHECK, true); }

void CCheckSoftFrm::EndCheck() {
  EnableRecheck();
  SendMessageW(Item(IDC_SOFT_PROGRESS), PBM_SETPOS, 20, 0);
  ShowDetails(false);
}

LRESULT CCheckSoftFrm::OnGuideDetails(UINT, WPARAM, LPARAM lParam, bool &) {
  SetItemText(IDC_SOFT_DETAILS, GetGuideText(lParam ? kTextHideDetails : kTextShowDetails));
  return 0;
}

void CCheckSoftFrm::OnRecheck(UINT, UINT, HWND) { shell_.StartSequence(); }

void CCheckSoftFrm::OnDetails(UINT, UINT, HWND) { details_->Toggle(); }

// ---- step 2 -------------------------------------------------------------------------------------

namespace {

const int kPinControls[] = {IDC_PIN_OLD,       IDC_PIN_NEW,           IDC_PIN_CONFIRM, IDC_PIN_OK,
                            IDC_PIN_OLD_LABEL, IDC_PIN_NEW_LABEL, IDC_PIN_CONFIRM_LABEL, IDC_PIN_HINT};

std::string ToAnsi(const std::wstring &text) {
  char buf[33] = {0};
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), buf, 32, nullptr, nullptr);
  return std::string(buf, n > 0 ? size_t(n) : 0);
}

// Step 2 as it runs once: the page, and the wait that a re-check may end.
class CPinStepRun : public IPinPage {
 public:
  CPinStepRun(CCheckPINDlg &page, HANDLE cancel) : page_(page), cancel_(cancel) {}
  void SetStatus(int textId) override { page_.SetStatus(textId); }
  void ShowPinControls(bool show) override { page_.ShowPinControls(show); }
  WaitResult WaitForPinChange() override {
    HANDLE event = ui::CreateSharedEvent(kPinChangedEvent, true);
    if (!event) return WaitResult::kFailed;
    ResetEvent(event);
    WaitResult r = WaitForEvent(event, cancel_);
    CloseHandle(event);
    return r;
  }

 private:
  CCheckPINDlg &page_;
  HANDLE cancel_;
};

}  // namespace

const CCheckPINDlg::Map &CCheckPINDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CCheckPINDlg::OnInitDialog),
      Map::Command(IDC_PIN_OK, &CCheckPINDlg::OnOk, BN_CLICKED),
      Map::Chain(&CCheckPINDlg::PageMessage),
  };
  return map;
}

LRESULT CCheckPINDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetFont(Item(IDC_PIN_STATUS), shell_.Art().status13);
  SetItemText(IDC_PIN_OLD_LABEL, GetGuideText(kTextOldPin));
  SetItemText(IDC_PIN_NEW_LABEL, GetGuideText(kTextNewPin));
  SetItemText(IDC_PIN_CONFIRM_LABEL, GetGuideText(kTextConfirmPin));
  SetItemText(IDC_PIN_HINT, GetGuideText(kTextPinHint));
  SetItemText(IDC_PIN_OK, GetGuideText(kTextPinOk));
  SendMessageW(Item(IDC_PIN_NEW), EM_LIMITTEXT, 16, 0);
  SendMessageW(Item(IDC_PIN_CONFIRM), EM_LIMITTEXT, 16, 0);
  ui::CMyButton::Attach(Item(IDC_PIN_OK));
  return TRUE;
}

int CCheckPINDlg::RunStep(HANDLE cancel) {
  CPinStepRun run(*this, cancel);
  return RunPinStep(run, library_);
}

void CCheckPINDlg::SetStatus(int textId) { SetItemText(IDC_PIN_STATUS, GetGuideText(textId)); }

void CCheckPINDlg::ShowPinControls(bool show) {
  for (int id : kPinControls) ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE);
}

void CCheckPINDlg::OnOk(UINT, UINT, HWND) {
  auto read = [this](int id) {
    wchar_t buf[65] = {0};
    GetDlgItemTextW(m_hWnd, id, buf, 65);
    return std::wstring(buf);
  };
  PinSubmission s = SubmitPinChange(library_, read(IDC_PIN_OLD), read(IDC_PIN_NEW),
                                    read(IDC_PIN_CONFIRM), ToAnsi);
  if (s.status >= 0) SetStatus(s.status);
  if (s.message >= 0) {
    MessageBoxW(m_hWnd, GetGuideText(s.message), L"", MB_OK);
    HWND field = Item(s.focus == PinField::kOldPin ? IDC_PIN_OLD : IDC_PIN_NEW);
    SetFocus(field);
    SendMessageW(field, EM_SETSEL, 0, -1);
  }
  if (!s.changed) return;
  for (int id : {IDC_PIN_OLD, IDC_PIN_NEW, IDC_PIN_CONFIRM, IDC_PIN_OK}) EnableItem(id, false);
  if (HANDLE event = ui::CreateSharedEvent(kPinChangedEvent, true)) {
    SetEvent(event);
    CloseHandle(event);
  }
}

// ---- step 3 -------------------------------------------------------------------------------------

namespace {

std::wstring DateText(const FILETIME &utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return L"";
  wchar_t buf[32];
  wsprintfW(buf, L"%d/%02d/%02d", st.wYear, st.wMonth, st.wDay);
  return buf;
}

std::wstring CommonName(PCCERT_CONTEXT cert, DWORD flags) {
  wchar_t buf[260] = {0};
  CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags,
                     const_cast<char *>(szOID_COMMON_NAME), buf, 260);
  return buf;
}

// Step 3 as it runs once: the page, the browser, and the wait that a re-check may end.
class CCertificateStepRun : public ICertificatePage {
 public:
  CCertificateStepRun(CDownCertDlg &page, HWND guide, HANDLE cancel)
      : page_(page), guide_(guide), cancel_(cancel) {}
  void SetStatusText(const std::wstring &text) override {
    SetDlgItemTextW(page_.m_hWnd, IDC_CERT_STATUS, text.c_str());
  }
  void ShowDownloadButton(bool show) override {
    HWND b = GetDlgItem(page_.m_hWnd, IDC_CERT_DOWNLOAD);
    EnableWindow(b, show);
    ShowWindow(b, show ? SW_SHOW : SW_HIDE);
  }
  void OpenDownloadPage() override { page_.OpenDownloadPage(); }
  WaitResult WaitForCertificate() override {
    HANDLE event = ui::CreateSharedEvent(kCertChangeEvent, true);
    if (!event) return WaitResult::kFailed;
    WaitResult r = WaitForEvent(event, cancel_);
    CloseHandle(event);
    return r;
  }
  void BringGuideToFront() override { SetForegroundWindow(guide_); }
  bool Describe(const uint8_t *der, size_t len, CertificateFacts *facts) override {
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der, DWORD(len));
    if (!cert) return false;
    facts->subject = CommonName(cert, 0);
    facts->issuer = CommonName(cert, CERT_NAME_ISSUER_FLAG);
    facts->notBefore = DateText(cert->pCertInfo->NotBefore);
    facts->notAfter = DateText(cert->pCertInfo->NotAfter);
    CertFreeCertificateContext(cert);
    return true;
  }

 private:
  CDownCertDlg &page_;
  HWND guide_;
  HANDLE cancel_;
};

}  // namespace

const CDownCertDlg::Map &CDownCertDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CDownCertDlg::OnInitDialog),
      Map::Command(IDC_CERT_DOWNLOAD, &CDownCertDlg::OnDownload, BN_CLICKED),
      Map::Chain(&CDownCertDlg::PageMessage),
  };
  return map;
}

LRESULT CDownCertDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetFont(Item(IDC_CERT_STATUS), shell_.Art().status12);
  SetItemText(IDC_CERT_DOWNLOAD, GetGuideText(kTextCertificateDownload));
  ui::CMyButton::Attach(Item(IDC_CERT_DOWNLOAD));
  return TRUE;
}

int CDownCertDlg::RunStep(HANDLE cancel) {
  CGuideTokenLib library;  // this step's own binding, released when the step ends
  CCertificateStepRun run(*this, shell_.GuideWindow(), cancel);
  return RunCertificateStep(run, library);
}

void CDownCertDlg::OpenDownloadPage() {
  std::wstring line = L"\"" + ProgramFilesFolder() + kInternetExplorer + L"\" \"https://" +
                      ui::BankWebHost() + kCertificateDownloadPage + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

// ---- step 4 -------------------------------------------------------------------------------------

const CCExitDlg::Map &CCExitDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CCExitDlg::OnInitDialog),
      Map::Chain(&CCExitDlg::PageMessage),
  };
  return map;
}

LRESULT CCExitDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetFont(Item(IDC_EXIT_TEXT), shell_.Art().status12);
  SetItemText(IDC_EXIT_TEXT, GetGuideText(kTextComplete));
  return TRUE;
}

}  // namespace guide
