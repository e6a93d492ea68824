#include "main_dlg.h"

#include <process.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <windowsx.h>

#include "client_host_win.h"
#include "client_text.h"
#include "resource.h"
#include "shell_logic.h"
#include "small_dialogs.h"
#include "bank_config.h"
#include "ui_config.h"
#include "ui_settings.h"
#include "update_win.h"

namespace client {

namespace {

constexpr int kNoticeIn = 500, kNoticeStay = 3000, kNoticeOut = 500;

// Interface classes whose arrival and removal the window hears about: CD-ROM, disk, HID.
const GUID kWatchedClasses[] = {
    {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}},
    {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}},
    {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"" : p.substr(0, slash + 1);
}


}  // namespace

CMainDlg::CMainDlg(ui::CMessageLoop &loop, WinClientHost &host)
    : CDialogImpl(IDD_MAINDLG), loop_(loop), host_(host) {}

CMainDlg::~CMainDlg() {
  if (images_) ImageList_Destroy(images_);
  if (normalFont_) DeleteObject(normalFont_);
  if (boldFont_) DeleteObject(boldFont_);
  if (header_) DeleteObject(header_);
  if (footer_) DeleteObject(footer_);
  if (iconBig_) DestroyIcon(iconBig_);
  if (iconSmall_) DestroyIcon(iconSmall_);
  if (browser_) CloseHandle(browser_);
  delete look_;
}

const CMainDlg::Map &CMainDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_PAINT, &CMainDlg::OnPaint),
      Map::Message(WM_INITDIALOG, &CMainDlg::OnInitDialog),
      Map::Message(WM_CLOSE, &CMainDlg::OnClose),
      Map::Message(WM_DESTROY, &CMainDlg::OnDestroy),
      Map::Message(WM_SIZE, &CMainDlg::OnSize),
      Map::Message(WM_MOUSEMOVE, &CMainDlg::OnMouseMove),
      Map::Message(WM_MOUSELEAVE, &CMainDlg::OnMouseLeave),
      Map::Message(WM_LBUTTONDOWN, &CMainDlg::OnLButtonDown),
      Map::Message(WM_LBUTTONUP, &CMainDlg::OnLButtonUp),
      Map::Message(WM_ERASEBKGND, &CMainDlg::OnEraseBkgnd),
      Map::Message(WM_DEVICECHANGE, &CMainDlg::OnDeviceChange),
      Map::Message(WM_TIMER, &CMainDlg::OnTimer),
      Map::Message(kCertificatesChanged, &CMainDlg::OnCertificatesChanged),
      Map::Message(kNewsFetched, &CMainDlg::OnNewsFetched),
      Map::Message(WM_CONTEXTMENU, &CMainDlg::OnContextMenu),
      Map::Command(ID_APP_EXIT, &CMainDlg::OnExit),
      Map::Command(ID_OPEN, &CMainDlg::OnOpen),
      Map::Command(ID_LANGUAGE_SIMPLIFIED, &CMainDlg::OnLanguage),
      Map::Command(ID_LANGUAGE_TRADITIONAL, &CMainDlg::OnLanguage),
      Map::Command(ID_LANGUAGE_ENGLISH, &CMainDlg::OnLanguage),
      Map::Command(ID_APP_ABOUT, &CMainDlg::OnAbout),
      Map::CommandRange(ID_NEWS_FIRST, ID_NEWS_LAST, &CMainDlg::OnNewsEntry),
      Map::Command(ID_NEWS_GET, &CMainDlg::OnNewsCommand),
      Map::Command(ID_NEWS_OPTIONS, &CMainDlg::OnNewsCommand),
      Map::CommandRange(ID_NODE_COMMAND, ID_NODE_COMMAND + kCommandCount - 1, &CMainDlg::OnNodeCommand),
      Map::Notify(IDC_TREE, TVN_DELETEITEMW, &CMainDlg::OnTreeDeleteItem),
      Map::Notify(IDC_TREE, TVN_SELCHANGEDW, &CMainDlg::OnTreeSelChanged),
      Map::Notify(IDC_TREE, NM_DBLCLK, &CMainDlg::OnTreeDoubleClick),
      Map::Notify(IDC_TREE, NM_RCLICK, &CMainDlg::OnTreeRightClick),
      Map::Notify(IDC_TREE, NM_CUSTOMDRAW, &CMainDlg::OnTreeCustomDraw),
      Map::Notify(ui::kAnyCode, TTN_GETDISPINFOW, &CMainDlg::OnTooltipText),
      Map::Chain(&CMainDlg::ProcessTrayMessage),
  };
  return map;
}

BOOL CMainDlg::PreTranslateMessage(MSG *msg) {
  return m_hWnd && IsDialogMessageW(m_hWnd, msg);
}

// ---- start-up -----------------------------------------------------------------------------

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  ui::CenterWindow(m_hWnd, nullptr);
  SetTitle(LangString(kRowTitle));

  look_ = new ui::CDialogLook(ui::MakeDialogFont());
  ui::SetFontOnChildren(m_hWnd, look_->Font());
  normalFont_ = ui::MakeDialogFont(FW_NORMAL);
  boldFont_ = ui::MakeDialogFont(FW_BOLD);
  notice_.SetTitle(LangString(kRowTitle));

  iconBig_ = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  iconSmall_ = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig_));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall_));

  header_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDB_HEADER), IMAGE_BITMAP, 0, 0, 0));
  footer_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDB_FOOTER), IMAGE_BITMAP, 0, 0, 0));
  BITMAP bm;
  if (header_ && GetObjectW(header_, sizeof bm, &bm)) headerHeight_ = bm.bmHeight;
  if (footer_ && GetObjectW(footer_, sizeof bm, &bm)) footerHeight_ = bm.bmHeight;

  menu_ = LoadMenuW(ui::ThisModule(), MAKEINTRESOURCEW(IDR_TRAYMENU));
  if (!menu_) return TRUE;

  InstallIcon(m_hWnd, LangString(kRowTitle), iconSmall_, TRAY_ICON_ID);

  certEvent_ = CreateSharedEvent(kCertChangeEventName, true);
  StartCertificateWatcher();
  client::StartUpdateCheck(true);  // quiet: says nothing unless a newer version is published

  loop_.AddMessageFilter(this);
  loop_.AddIdleHandler(this);

  images_ = ImageList_Create(24, 24, ILC_COLOR24 | ILC_MASK, 10, 1);
  for (int id : {IDI_TREE_0, IDI_TREE_1, IDI_TREE_CERT, IDI_TREE_TOKEN, IDI_TREE_4}) {
    HICON i = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, 24, 24, 0));
    ImageList_AddIcon(images_, i);
    DestroyIcon(i);
  }
  RECT r{kBarWidth, 0, 200, 100};
  tree_.Create(m_hWnd, IDC_TREE, r);
  TreeView_SetImageList(tree_.m_hWnd, images_, TVSIL_NORMAL);
  tree_.CreateTooltip(m_hWnd);
  bar_.Create(m_hWnd, IDC_BAR, this, normalFont_);
  bar_.SetMask(kMaskNoSelection);
  SetStatus(L"");
  SendMessageW(tree_.m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(look_->Font()), FALSE);
  admin_.Attach(m_hWnd, tree_.m_hWnd, look_);
  Layout();

  if (zksTokenEstablishContext() != 0) SetStatus(LangString(kRowLibraryInitFailed));
  notice_.Create(m_hWnd, normalFont_, boldFont_);

  for (const GUID &g : kWatchedClasses) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = g;
    HDEVNOTIFY n = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!n) break;
    notifications_.push_back(n);
  }

  // Wait until no other process holds the token, then start.
  if (host_.OpenDeviceMutex()) {
    WaitForSingleObject(host_.DeviceMutex(), INFINITE);
    ReleaseMutex(host_.DeviceMutex());
  }
  RefreshDevices();
  news_.reset(new CNewsUi(m_hWnd, menu_, iconSmall_, *this));
  news_->Start();
  return TRUE;
}

void CMainDlg::StartCertificateWatcher() {
  if (!certEvent_) return;
  watcher_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CertificateWatcher, this, 0, nullptr));
}

// Runs until the process ends: each signal of the provider is handed to the window, which
// refreshes; the event is reset once that is done.
unsigned __stdcall CMainDlg::CertificateWatcher(void *p) {
  CMainDlg *self = static_cast<CMainDlg *>(p);
  for (;;) {
    if (WaitForSingleObject(self->certEvent_, INFINITE) != WAIT_OBJECT_0) return 0;
    Sleep(500);
    HWND wnd = self->m_hWnd;
    if (!wnd) return 0;
    SendMessageW(wnd, kCertificatesChanged, 0, 0);
    ResetEvent(self->certEvent_);
  }
}

LRESULT CMainDlg::OnCertificatesChanged(UINT, WPARAM, LPARAM, bool &) {
  ShowNotice(LangString(kRowUpdatingCertificates));
  RefreshDevices();
  ShowNotice(LangString(kRowUpdatedCertificates));
  return 0;
}

// ---- layout and painting ------------------------------------------------------------------

void CMainDlg::Layout() {
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  int top = headerHeight_, bottom = rc.bottom - footerHeight_;
  if (bottom < top) bottom = top;
  if (bar_.m_hWnd) MoveWindow(bar_.m_hWnd, 0, top, kBarWidth, bottom - top, TRUE);
  if (tree_.m_hWnd) MoveWindow(tree_.m_hWnd, kBarWidth, top, rc.right - kBarWidth, bottom - top, TRUE);
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CMainDlg::OnSize(UINT, WPARAM, LPARAM, bool &) {
  Layout();
  return 0;
}

RECT CMainDlg::AboutRect() const {
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  const wchar_t *text = LangString(kRowAbout);
  HDC dc = GetDC(m_hWnd);
  HGDIOBJ old = SelectObject(dc, normalFont_);
  SIZE sz{0, 0};
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &sz);
  SelectObject(dc, old);
  ReleaseDC(m_hWnd, dc);
  Rect a = AboutHotArea(rc.right, headerHeight_, sz.cx, sz.cy, size_t(lstrlenW(text)));
  return RECT{a.left, a.top, a.right, a.bottom};
}

LRESULT CMainDlg::OnPaint(UINT, WPARAM, LPARAM, bool &) {
  ui::CPaintBuffer paint(m_hWnd, ui::kDialogBackground);
  HDC mem = paint.Dc();
  const RECT &rc = paint.Client();

  HDC src = CreateCompatibleDC(mem);
  if (header_) {
    HGDIOBJ o = SelectObject(src, header_);
    BitBlt(mem, 0, 0, rc.right, headerHeight_, src, 0, 0, SRCCOPY);
    SelectObject(src, o);
  }
  int footerTop = rc.bottom - footerHeight_;
  if (footer_) {
    HGDIOBJ o = SelectObject(src, footer_);
    BitBlt(mem, 0, footerTop, rc.right, footerHeight_, src, 0, 0, SRCCOPY);
    SelectObject(src, o);
  }
  DeleteDC(src);

  // The product name beside the header's emblem, and the About link in the hot area.
  HGDIOBJ oldFont = SelectObject(mem, boldFont_);
  SetTextColor(mem, RGB(255, 255, 255));
  RECT title{70, 0, rc.right - 80, headerHeight_};
  DrawTextW(mem, LangString(kRowTitle), -1, &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  SelectObject(mem, normalFont_);
  RECT about = AboutRect();
  SetTextColor(mem, aboutHover_ ? RGB(255, 230, 150) : RGB(230, 238, 248));
  DrawTextW(mem, LangString(kRowAbout), -1, &about, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
  if (aboutHover_) {
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 230, 150));
    HGDIOBJ op = SelectObject(mem, pen);
    MoveToEx(mem, about.left, about.bottom, nullptr);
    LineTo(mem, about.right, about.bottom);
    SelectObject(mem, op);
    DeleteObject(pen);
  }

  SetTextColor(mem, RGB(0, 0, 0));
  RECT status{10, footerTop + 10, rc.right - 10, rc.bottom - 2};
  DrawTextW(mem, status_.c_str(), int(status_.size()), &status, DT_LEFT | DT_WORDBREAK);
  SelectObject(mem, oldFont);
  return 0;
}

void CMainDlg::SetStatus(const std::wstring &text) {
  status_ = text;
  // Mirrored into a hidden label, so that screen readers and tests can read the status line.
  SetItemText(IDC_STATUS, text.c_str());
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  rc.top = rc.bottom - footerHeight_;
  InvalidateRect(m_hWnd, &rc, FALSE);
}

// ---- the About hot area -------------------------------------------------------------------

LRESULT CMainDlg::OnMouseMove(UINT, WPARAM, LPARAM lParam, bool &) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT a = AboutRect();
  bool in = PtInRect(&a, pt) != FALSE;
  if (in != aboutHover_) {
    aboutHover_ = in;
    InvalidateRect(m_hWnd, nullptr, FALSE);
  }
  if (!trackingLeave_) {
    TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, m_hWnd, 0};
    trackingLeave_ = TrackMouseEvent(&t) != FALSE;
  }
  return 0;
}

LRESULT CMainDlg::OnMouseLeave(UINT, WPARAM, LPARAM, bool &) {
  trackingLeave_ = false;
  aboutPressed_ = false;
  if (aboutHover_) {
    aboutHover_ = false;
    InvalidateRect(m_hWnd, nullptr, FALSE);
  }
  return 0;
}

LRESULT CMainDlg::OnLButtonDown(UINT, WPARAM, LPARAM lParam, bool &) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT a = AboutRect();
  aboutPressed_ = PtInRect(&a, pt) != FALSE;
  return 0;
}

LRESULT CMainDlg::OnLButtonUp(UINT, WPARAM, LPARAM lParam, bool &) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT a = AboutRect();
  bool open = aboutPressed_ && PtInRect(&a, pt);
  aboutPressed_ = false;
  if (open) CAboutDlg::Show(m_hWnd, look_);
  return 0;
}

void CMainDlg::OnAbout(UINT, UINT, HWND) { CAboutDlg::Show(m_hWnd, look_); }

// ---- show, hide, close, exit --------------------------------------------------------------

namespace {

// The taskbar's notification area, or a 100-pixel strip at the far end of the taskbar.
bool TrayRect(RECT *out) {
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) return false;
  if (HWND area = FindWindowExW(tray, nullptr, L"TrayNotifyWnd", nullptr)) return GetWindowRect(area, out);
  RECT t;
  if (!GetWindowRect(tray, &t)) return false;
  *out = t;
  if (t.right - t.left > t.bottom - t.top) out->left = t.right - 100;
  else out->top = t.bottom - 100;
  return true;
}

}  // namespace

void CMainDlg::HideAnimated() {
  RECT from, to;
  GetWindowRect(m_hWnd, &from);
  if (IsWindowVisible(m_hWnd) && TrayRect(&to)) DrawAnimatedRects(m_hWnd, IDANI_CAPTION, &from, &to);
  ShowWindow(m_hWnd, SW_HIDE);
}

void CMainDlg::ShowAnimated() {
  RECT from, to;
  if (!IsWindowVisible(m_hWnd) && TrayRect(&from)) {
    GetWindowRect(m_hWnd, &to);
    DrawAnimatedRects(m_hWnd, IDANI_CAPTION, &from, &to);
  }
  ShowWindow(m_hWnd, SW_SHOW);
  if (IsIconic(m_hWnd)) ShowWindow(m_hWnd, SW_RESTORE);
  else BringWindowToTop(m_hWnd);
  SetForegroundWindow(m_hWnd);
}

LRESULT CMainDlg::OnClose(UINT, WPARAM, LPARAM, bool &) {
  HideAnimated();
  return 0;
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM, bool &) {
  for (HDEVNOTIFY n : notifications_) UnregisterDeviceNotification(n);
  notifications_.clear();
  loop_.RemoveMessageFilter(this);
  loop_.RemoveIdleHandler(this);
  host_.CloseDeviceMutex();
  return 0;
}

void CMainDlg::OnExit(UINT, UINT, HWND) {
  // The news are saved while the window and its timers still exist.
  news_.reset();
  if (menu_) DestroyMenu(menu_);
  menu_ = nullptr;
  devices_.UnregisterAll();
  TreeView_DeleteAllItems(tree_.m_hWnd);
  devices_.Clear();
  RemoveIcon();
  DestroyWindow();
  PostQuitMessage(1);
}

// ---- tray ---------------------------------------------------------------------------------

void CMainDlg::OnTrayNotification(UINT mouse) {
  switch (mouse) {
    case WM_RBUTTONUP:
      ShowTrayMenu();
      break;
    case WM_LBUTTONDBLCLK:
      ShowAnimated();
      break;
    case WM_LBUTTONUP:
      if (news_) news_->OnTrayClick();
      break;
    default:
      break;
  }
}

void CMainDlg::ShowTrayMenu() {
  if (!menu_) return;
  HMENU popup = GetSubMenu(menu_, 0);
  auto relabel = [](HMENU m, UINT pos, const wchar_t *text) {
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_STRING;
    mi.dwTypeData = const_cast<wchar_t *>(text);
    SetMenuItemInfoW(m, pos, TRUE, &mi);
  };
  relabel(popup, 0, LangString(184));
  relabel(popup, 2, LangString(187));
  HMENU lang = GetSubMenu(popup, 2);
  relabel(lang, 0, LangString(188));
  relabel(lang, 1, LangString(189));
  relabel(lang, 2, LangString(190));
  CheckMenuRadioItem(lang, 0, 2, UINT(LanguageIndex()), MF_BYPOSITION);
  relabel(popup, 3, LangString(213));
  relabel(popup, 4, LangString(214));
  relabel(popup, 5, LangString(215));
  HMENU news = GetSubMenu(popup, 5);
  if (news && GetMenuItemCount(news) > 0) {
    wchar_t text[64] = {0};
    GetMenuStringW(news, 0, text, 64, MF_BYPOSITION);
    const ui::CTextTable &t = ClientTextTable();
    for (int l = 0; l < ui::kLanguageCount; ++l)
      if (lstrcmpW(text, t.Get(216, l)) == 0) relabel(news, 0, LangString(216));
  }
  relabel(popup, 6, LangString(185));
  relabel(popup, 7, LangString(186));
  SetMenuDefaultItem(popup, 0, TRUE);

  POINT pt;
  GetCursorPos(&pt);
  SetForegroundWindow(m_hWnd);
  TrackPopupMenu(popup, TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
  PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

// ---- language -----------------------------------------------------------------------------

void CMainDlg::OnLanguage(UINT id, UINT, HWND) {
  SetLanguage(id == ID_LANGUAGE_SIMPLIFIED ? ui::kSimplifiedChinese
              : id == ID_LANGUAGE_TRADITIONAL ? ui::kTraditionalChinese
                                              : ui::kEnglish);
}

void CMainDlg::SetLanguage(int language) {
  SetLanguageIndex(language);
  SetTitle(LangString(kRowTitle));
  SetTooltipText(LangString(kRowTitle));
  notice_.SetTitle(LangString(kRowTitle));
  ui::WriteLanguageValue(ui::LanguageIdOfIndex(language));
  if (news_) news_->Relabel();
  bar_.RebuildButtons();
  SelectionChanged();
  RefreshDevices();
  InvalidateRect(bar_.m_hWnd, nullptr, TRUE);
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

// ---- devices ------------------------------------------------------------------------------

void CMainDlg::RefreshDevices() {
  TreeView_DeleteAllItems(tree_.m_hWnd);
  bool listed = devices_.Refresh(ui::LanguageIdOfIndex(LanguageIndex()));
  (void)listed;
  bool anyCert = false;
  HTREEITEM root = nullptr;
  std::vector<HTREEITEM> roots;
  ForEachTreeNode(devices_, [&](CTreeNode *node, bool isRoot) {
    HTREEITEM item = tree_.Insert(node, isRoot ? nullptr : root);
    if (!item) {
      delete node;
      return;
    }
    if (isRoot) roots.push_back(root = item);
    else anyCert = true;
  });
  for (HTREEITEM r : roots) TreeView_Expand(tree_.m_hWnd, r, TVE_EXPAND);
  if (!roots.empty()) TreeView_SelectItem(tree_.m_hWnd, roots[0]);
  if (!TreeView_GetSelection(tree_.m_hWnd)) {
    SetStatus(L"");
    bar_.SetMask(kMaskNoSelection);
  }

  std::wstring serial = devices_.Empty() ? L"" : devices_.Devices()[0]->GetSerialNumber();
  switch (DecideFirstUse(!devices_.Empty(), anyCert, BrowserRunning(), browser_ != nullptr, serial)) {
    case FirstUse::kOpenWebPage:
      OpenWebPage();
      break;
    case FirstUse::kStartCheckTool:
      StartCheckTool();
      break;
    case FirstUse::kTerminateBrowser:
      TerminateProcess(browser_, 0);
      CloseHandle(browser_);
      browser_ = nullptr;
      break;
    case FirstUse::kNothing:
      break;
  }
}

bool CMainDlg::BrowserRunning() const {
  DWORD code = 0;
  return browser_ && GetExitCodeProcess(browser_, &code) && code == STILL_ACTIVE;
}

void CMainDlg::OpenWebPage() {
  std::wstring command = L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"";
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    wchar_t buf[1024];
    DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      buf[size / sizeof(wchar_t)] = 0;
      command = buf;
    }
    RegCloseKey(key);
  }
  std::wstring url = L"https://" + ui::BankWebHost() + config::kPersonalBankingPath;
  std::wstring line = BrowserCommandLine(command, url);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    if (browser_) CloseHandle(browser_);
    browser_ = pi.hProcess;
  }
}

void CMainDlg::StartCheckTool() {
  std::wstring path = ProgramFolder() + L"ORV_Check_tool.exe";
  std::wstring line = path;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

LRESULT CMainDlg::OnDeviceChange(UINT, WPARAM wParam, LPARAM lParam, bool &) {
  if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return TRUE;
  const DEV_BROADCAST_HDR *h = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
  if (!h || h->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;
  uint32_t count = 0;
  if (!CountDevices(&count)) {
    ShowNotice(L"设备个数为零!");
    return TRUE;
  }
  long d = long(devices_.Devices().size()) - long(count);
  if (d == 0) return TRUE;
  ShowNotice(LangString(d > 0 ? kRowDeviceRemoved : kRowDeviceAttached));
  SetFocus(m_hWnd);
  RefreshDevices();
  ShowNotice(LangString(kRowInformationUpdate));
  return TRUE;
}

LRESULT CMainDlg::OnTimer(UINT, WPARAM id, LPARAM, bool &) {
  if (news_) news_->OnTimer(id);
  return 0;
}

// ---- news ---------------------------------------------------------------------------------

LRESULT CMainDlg::OnNewsFetched(UINT, WPARAM, LPARAM lParam, bool &) {
  NewsFetch *fetch = reinterpret_cast<NewsFetch *>(lParam);
  if (news_) news_->OnFetched(fetch);
  else delete fetch;
  return 0;
}

void CMainDlg::OnNewsCommand(UINT id, UINT, HWND) {
  if (!news_) return;
  if (id == ID_NEWS_GET) news_->GetNow();
  else news_->OpenSettings();
}

std::wstring CMainDlg::FirstSerial() const {
  return devices_.Empty() ? L"" : devices_.Devices()[0]->GetSerialNumber();
}

// ---- the tree and the commands ------------------------------------------------------------

LRESULT CMainDlg::OnTreeDeleteItem(NMHDR *h) {
  NMTREEVIEWW *tv = reinterpret_cast<NMTREEVIEWW *>(h);
  delete reinterpret_cast<CTreeNode *>(tv->itemOld.lParam);
  return 0;
}

LRESULT CMainDlg::OnTreeSelChanged(NMHDR *) {
  SelectionChanged();
  return 0;
}

void CMainDlg::SelectionChanged() {
  CTreeNode *node = tree_.SelectedNode();
  if (!node) {
    // Nothing selected: the status line describes nothing either.
    SetStatus(L"");
    bar_.SetMask(kMaskNoSelection);
    return;
  }
  bar_.SetMask(node->mask);
  SetStatus(node->GetInfoText());
  if (node->GetType() == kNodeToken && node->GetDevice()->CheckPinChange()) {
    if (IsIconic(m_hWnd)) ShowWindow(m_hWnd, SW_RESTORE);
    ShowAnimated();
  }
}

LRESULT CMainDlg::OnTreeDoubleClick(NMHDR *) {
  OnCommand(kCmdShowCertificate);
  return 0;
}

LRESULT CMainDlg::OnTreeRightClick(NMHDR *) {
  POINT pt;
  GetCursorPos(&pt);
  POINT client = pt;
  ScreenToClient(tree_.m_hWnd, &client);
  HTREEITEM item = tree_.ItemAt(client);
  if (!item) return 0;
  TreeView_SelectItem(tree_.m_hWnd, item);
  ShowNodeMenu(pt);
  return 1;
}

// The context key or Shift+F10 in the tree: the menu of the selected node, below its item.
LRESULT CMainDlg::OnContextMenu(UINT, WPARAM wParam, LPARAM lParam, bool &handled) {
  if (reinterpret_cast<HWND>(wParam) != tree_.m_hWnd || lParam != -1) {
    handled = false;
    return 0;
  }
  HTREEITEM item = TreeView_GetSelection(tree_.m_hWnd);
  RECT r;
  if (!item || !TreeView_GetItemRect(tree_.m_hWnd, item, &r, TRUE)) return 0;
  POINT pt{r.left, r.bottom};
  ClientToScreen(tree_.m_hWnd, &pt);
  ShowNodeMenu(pt);
  return 0;
}

// Every command the selected node allows, in the order of the command bits.
void CMainDlg::ShowNodeMenu(POINT screen) {
  CTreeNode *node = tree_.SelectedNode();
  if (!node) return;
  HMENU menu = CreatePopupMenu();
  for (int i = 0; i < kCommandCount; ++i) {
    uint32_t bit = 1u << i;
    if ((node->mask & bit) && CommandTextRow(bit))
      AppendMenuW(menu, MF_STRING, ID_NODE_COMMAND + UINT(i), LangString(CommandTextRow(bit)));
  }
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, screen.x, screen.y, 0, m_hWnd, nullptr);
  DestroyMenu(menu);
}

void CMainDlg::OnNodeCommand(UINT id, UINT, HWND) { OnCommand(1u << (id - ID_NODE_COMMAND)); }

LRESULT CMainDlg::OnTreeCustomDraw(NMHDR *h) {
  return tree_.OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW *>(h));
}

LRESULT CMainDlg::OnTooltipText(NMHDR *h) {
  NMTTDISPINFOW *di = reinterpret_cast<NMTTDISPINFOW *>(h);
  CTreeNode *node = tree_.NodeOf(tree_.TipItem());
  tipText_ = node ? node->GetTooltipText().substr(0, 1024) : L"";
  di->lpszText = const_cast<wchar_t *>(tipText_.c_str());
  return 0;
}

void CMainDlg::OnCommand(uint32_t bit) { DispatchCommand(*this, bit, tree_.SelectedNode()); }

// ---- the shell the commands work through --------------------------------------------------

void CMainDlg::ShowNotice(const std::wstring &text) {
  SetFocus(m_hWnd);
  notice_.ShowNotice(text, kNoticeIn, kNoticeStay, kNoticeOut);
}

int CMainDlg::MessageBox(const std::wstring &text, unsigned style) {
  return MessageBoxW(m_hWnd, text.c_str(), LangString(kRowTitle), style);
}

std::wstring CMainDlg::SystemMessage(uint32_t code) {
  wchar_t *buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t *>(&buf), 0, nullptr);
  std::wstring s = n && buf ? std::wstring(buf, n) : std::wstring();
  if (buf) LocalFree(buf);
  return s;
}

void CMainDlg::ViewCertificate(const TokenCert &cert) {
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, cert.Der(),
                                                    DWORD(cert.DerLength()));
  if (!ctx) return;
  ShowCertificateViewer(m_hWnd, ctx);
  CertFreeCertificateContext(ctx);
}

void CMainDlg::StartUpdateCheck() { client::StartUpdateCheck(false); }

void CMainDlg::RunTask(ITask &task, const std::wstring &title) {
  CWaitModifyPinDlg dlg(task, title);
  dlg.UseLook(look_);
  HWND owner = GetActiveWindow();
  dlg.DoModal(owner ? owner : m_hWnd);
}

}  // namespace client
