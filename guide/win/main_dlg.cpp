#include "main_dlg.h"

#include <process.h>

#include "guide_language.h"
#include "guide_text.h"
#include "resource.h"
#include "ui_look.h"

namespace guide {

namespace {

constexpr int kPageTop = 98, kPageWidth = 498, kPageHeight = 450;
constexpr int kStartDelayMs = 500;
const UINT kStepButtons[4] = {IDC_STEP_SOFTWARE, IDC_STEP_PIN, IDC_STEP_CERTIFICATE, IDC_STEP_EXIT};

int StepOf(UINT id) {
  for (int i = 0; i < 4; ++i)
    if (kStepButtons[i] == id) return i;
  return -1;
}

HBITMAP LoadBitmapResource(int id) {
  return static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
}

int BitmapHeight(HBITMAP b) {
  BITMAP bm;
  return b && GetObjectW(b, sizeof bm, &bm) ? bm.bmHeight : 0;
}

struct Sequence {
  CMainDlg *main;
  HANDLE cancel;
};

}  // namespace

CMainDlg::CMainDlg(ui::CMessageLoop &loop)
    : CDialogImpl(IDD_MAIN), loop_(loop), software_(*this), pin_(*this), certificate_(*this),
      exit_(*this) {}

CMainDlg::~CMainDlg() {
  loop_.RemoveMessageFilter(this);
  for (auto &row : images_)
    for (HBITMAP b : row)
      if (b) DeleteObject(b);
  for (HGDIOBJ o : {static_cast<HGDIOBJ>(banner_), static_cast<HGDIOBJ>(strip_),
                    static_cast<HGDIOBJ>(art_.background), static_cast<HGDIOBJ>(art_.brush),
                    static_cast<HGDIOBJ>(art_.status13), static_cast<HGDIOBJ>(art_.status12)})
    if (o) DeleteObject(o);
  if (iconBig_) DestroyIcon(iconBig_);
  if (iconSmall_) DestroyIcon(iconSmall_);
  if (cancel_) CloseHandle(cancel_);
}

const CMainDlg::Map &CMainDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CMainDlg::OnInitDialog),
      Map::Message(WM_PAINT, &CMainDlg::OnPaint),
      Map::Message(WM_ERASEBKGND, &CMainDlg::OnEraseBkgnd),
      Map::CommandRange(IDC_STEP_SOFTWARE, IDC_STEP_CERTIFICATE, &CMainDlg::OnStepButton),
      Map::Command(IDC_STEP_EXIT, &CMainDlg::OnStepButton),
      Map::Command(IDCANCEL, &CMainDlg::OnCancel),
  };
  return map;
}

// Keyboard navigation inside the window that holds the message: the detail window, a page (so
// that Enter presses the page's default button), or the main window.
BOOL CMainDlg::PreTranslateMessage(MSG *msg) {
  if (!m_hWnd) return FALSE;
  HWND target = m_hWnd;
  CDisplayInfoDlg *details = software_.Details();
  if (details && details->m_hWnd && (msg->hwnd == details->m_hWnd || IsChild(details->m_hWnd, msg->hwnd))) {
    target = details->m_hWnd;
  } else {
    for (HWND page : {software_.m_hWnd, pin_.m_hWnd, certificate_.m_hWnd, exit_.m_hWnd})
      if (page && IsChild(page, msg->hwnd)) target = page;
  }
  return IsDialogMessageW(target, msg);
}

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SelectGuideLanguage();
  SetTitle(GetGuideText(kTextTitle));

  RECT r;
  GetWindowRect(m_hWnd, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(m_hWnd, nullptr, GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2 - 200,
               GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

  iconBig_ = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDI_GUIDE), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  iconSmall_ = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDI_GUIDE), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig_));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall_));
  banner_ = LoadBitmapResource(IDB_BANNER);
  strip_ = LoadBitmapResource(IDB_STEP_STRIP);

  art_.background = LoadBitmapResource(IDB_PAGE);
  art_.brush = CreateSolidBrush(ui::kDialogBackground);
  art_.status13 = ui::MakeFont(L"宋体", ui::PointsToHeight(13));
  art_.status12 = ui::MakeFont(L"宋体", ui::PointsToHeight(12));
  software_.Create(m_hWnd);
  pin_.Create(m_hWnd);
  certificate_.Create(m_hWnd);
  exit_.Create(m_hWnd);
  for (HWND page : {software_.m_hWnd, pin_.m_hWnd, certificate_.m_hWnd, exit_.m_hWnd})
    SetWindowPos(page, nullptr, 0, kPageTop, kPageWidth, kPageHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowPage(0);

  // One image set for English, the other for both Chinese languages.
  int family = LanguageIndex() == ui::kEnglish ? 0 : 1;
  for (int lit = 0; lit < 2; ++lit)
    for (int step = 0; step < 4; ++step)
      images_[lit][step] = LoadBitmapResource(IDB_STEP_FIRST + 4 * family + 8 * lit + step);
  for (int step = 0; step < 4; ++step) {
    SetButtonImage(step, false);
    if (step > 0) ShowWindow(Item(kStepButtons[step]), SW_HIDE);
  }

  loop_.AddMessageFilter(this);
  StartSequence();
  return TRUE;
}

LRESULT CMainDlg::OnPaint(UINT, WPARAM, LPARAM, bool &) {
  ui::CPaintBuffer paint(m_hWnd, ui::kDialogBackground);
  HDC mem = CreateCompatibleDC(paint.Dc());
  int y = 0;
  for (HBITMAP b : {banner_, strip_}) {
    BITMAP bm;
    if (!b || !GetObjectW(b, sizeof bm, &bm)) continue;
    HGDIOBJ old = SelectObject(mem, b);
    BitBlt(paint.Dc(), 0, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    y += BitmapHeight(b);
  }
  DeleteDC(mem);
  return 0;
}

void CMainDlg::ShowPage(int step) {
  HWND pages[4] = {software_.m_hWnd, pin_.m_hWnd, certificate_.m_hWnd, exit_.m_hWnd};
  for (int i = 0; i < 4; ++i)
    if (i != step) ShowWindow(pages[i], SW_HIDE);
  ShowWindow(pages[step], SW_SHOW);
}

void CMainDlg::SetButtonImage(int step, bool highlighted) {
  SendMessageW(Item(kStepButtons[step]), BM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(images_[highlighted ? 1 : 0][step]));
}

void CMainDlg::RevealButton(int step) { ShowWindow(Item(kStepButtons[step]), SW_SHOW); }

void CMainDlg::OnStepButton(UINT id, UINT code, HWND) {
  int step = StepOf(id);
  if (step < 0) return;
  switch (code) {
    case BN_SETFOCUS:
      if (id == IDC_STEP_EXIT) ShowPage(3);
      SetButtonImage(step, true);
      break;
    case BN_KILLFOCUS:
      SetButtonImage(step, false);
      break;
    case BN_CLICKED:
      if (id != IDC_STEP_EXIT) ShowPage(step);
      // Enter in the main window reaches here as a click of IDOK: the guide ends only once the
      // finish button is there to be pressed.
      else if (IsWindowVisible(Item(IDC_STEP_EXIT))) EndGuide(1);
      break;
  }
}

void CMainDlg::OnCancel(UINT, UINT, HWND) { EndGuide(2); }

void CMainDlg::EndGuide(int code) {
  DestroyWindow();
  PostQuitMessage(code);
}

void CMainDlg::StartSequence() {
  if (cancel_) {
    SetEvent(cancel_);
    CloseHandle(cancel_);
  }
  cancel_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE own = nullptr;
  if (!cancel_ || !DuplicateHandle(GetCurrentProcess(), cancel_, GetCurrentProcess(), &own, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS))
    return;
  Sequence *s = new Sequence{this, own};
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, GuideStepThread, s, 0, nullptr));
  if (thread) {
    CloseHandle(thread);
  } else {
    CloseHandle(own);
    delete s;
  }
}

unsigned __stdcall CMainDlg::GuideStepThread(void *param) {
  Sequence *s = static_cast<Sequence *>(param);
  s->main->RunSequence(s->cancel);
  CloseHandle(s->cancel);
  delete s;
  return 0;
}

void CMainDlg::RunSequence(HANDLE cancel) {
  Sleep(kStartDelayMs);
  if (software_.RunStep() != 0) return;
  RevealButton(1);
  OnStepButton(IDC_STEP_SOFTWARE, BN_KILLFOCUS, nullptr);
  OnStepButton(IDC_STEP_PIN, BN_CLICKED, nullptr);
  OnStepButton(IDC_STEP_PIN, BN_SETFOCUS, nullptr);
  if (pin_.RunStep(cancel) != 0) return;
  RevealButton(2);
  OnStepButton(IDC_STEP_PIN, BN_KILLFOCUS, nullptr);
  OnStepButton(IDC_STEP_CERTIFICATE, BN_CLICKED, nullptr);
  OnStepButton(IDC_STEP_CERTIFICATE, BN_SETFOCUS, nullptr);
  if (certificate_.RunStep(cancel) != 0) return;
  RevealButton(3);
  OnStepButton(IDC_STEP_CERTIFICATE, BN_KILLFOCUS, nullptr);
  OnStepButton(IDC_STEP_EXIT, BN_SETFOCUS, nullptr);
}

}  // namespace guide
