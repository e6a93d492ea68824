#include "ui_window.h"

#include "ui_look.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ui {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

void CenterWindow(HWND wnd, HWND parent) {
  RECT r, area;
  GetWindowRect(wnd, &r);
  if (parent && IsWindowVisible(parent) && !IsIconic(parent)) {
    GetWindowRect(parent, &area);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  int w = r.right - r.left, h = r.bottom - r.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  // Kept inside the work area of the monitor it lands on (a parent near the screen's edge).
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  RECT at{x, y, x + w, y + h};
  if (GetMonitorInfoW(MonitorFromRect(&at, MONITOR_DEFAULTTONEAREST), &mi)) {
    const RECT &wa = mi.rcWork;
    if (x + w > wa.right) x = wa.right - w;
    if (y + h > wa.bottom) y = wa.bottom - h;
    if (x < wa.left) x = wa.left;
    if (y < wa.top) y = wa.top;
  }
  SetWindowPos(wnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring WindowText(HWND wnd) {
  int n = GetWindowTextLengthW(wnd);
  std::wstring s(size_t(n) + 1, L'\0');
  n = GetWindowTextW(wnd, &s[0], n + 1);
  s.resize(size_t(n > 0 ? n : 0));
  return s;
}

void SetFontOnChildren(HWND wnd, HFONT font) {
  for (HWND c = GetWindow(wnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

// ---- dialogs ------------------------------------------------------------------------------

CDialogBase::~CDialogBase() {
  if (IsWindow()) {
    SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
  }
}

INT_PTR CDialogBase::DoModal(HWND owner) {
  return DialogBoxParamW(resources_, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

HWND CDialogBase::Create(HWND owner) {
  return CreateDialogParamW(resources_, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

void CDialogBase::DestroyWindow() {
  if (IsWindow()) ::DestroyWindow(m_hWnd);
}

bool CDialogBase::LookMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) {
  switch (msg) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, kDialogBackground);
      SetBkMode(dc, TRANSPARENT);
      result = reinterpret_cast<LRESULT>(look_->Brush());
      return true;
    }
    default:
      return false;
  }
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDialogBase *self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase *>(lParam);
    SetWindowLongPtrW(wnd, DWLP_USER, lParam);
    self->m_hWnd = wnd;
    if (self->look_) self->look_->Apply(wnd);
  } else {
    self = reinterpret_cast<CDialogBase *>(GetWindowLongPtrW(wnd, DWLP_USER));
  }
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = self->ProcessMessage(msg, wParam, lParam, result);
  if (!handled && self->look_) handled = self->LookMessage(msg, wParam, lParam, result);
  if (!handled && msg == WM_DRAWITEM && lParam) {
    // Owner-drawn controls of ours draw themselves.
    HWND item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam)->hwndItem;
    if (item && ::IsWindow(item) && GetParent(item) == wnd &&
        SendMessageW(item, kReflectedDrawItem, wParam, lParam)) {
      handled = true;
      result = TRUE;
    }
  }
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(wnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage();
    return handled ? TRUE : FALSE;
  }
  if (!handled) return msg == WM_INITDIALOG ? TRUE : FALSE;
  switch (msg) {
    // These answer through the return value itself.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      SetWindowLongPtrW(wnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

// ---- windows of our own class, and subclassed controls ------------------------------------

CWindowBase::~CWindowBase() {
  if (!IsWindow()) return;
  if (subclassed_) {
    RemoveWindowSubclass(m_hWnd, SubclassProc, 0);
  } else {
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    ::DestroyWindow(m_hWnd);
  }
}

HWND CWindowBase::Create(const wchar_t *className, HWND parent, const RECT &rect, DWORD style,
                         DWORD exStyle, UINT id, const wchar_t *title) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(ThisModule(), className, &wc)) {
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc)) return nullptr;
  }
  HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
  return CreateWindowExW(exStyle, className, title, style, rect.left, rect.top,
                         rect.right - rect.left, rect.bottom - rect.top, parent, menu,
                         ThisModule(), this);
}

bool CWindowBase::Subclass(HWND wnd) {
  if (!wnd || m_hWnd) return false;
  if (!SetWindowSubclass(wnd, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this))) return false;
  m_hWnd = wnd;
  subclassed_ = true;
  return true;
}

void CWindowBase::DestroyWindow() {
  if (IsWindow()) ::DestroyWindow(m_hWnd);
}

LRESULT CWindowBase::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (subclassed_) return DefSubclassProc(m_hWnd, msg, wParam, lParam);
  return DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CWindowBase::Route(UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND wnd = m_hWnd;
  LRESULT result = 0;
  bool handled = ProcessMessage(msg, wParam, lParam, result);
  if (!handled) result = DefaultProc(msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    if (subclassed_) RemoveWindowSubclass(wnd, SubclassProc, 0);
    else SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    m_hWnd = nullptr;
    subclassed_ = false;
    OnFinalMessage();
  }
  return result;
}

LRESULT CALLBACK CWindowBase::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWindowBase *self;
  if (msg == WM_NCCREATE) {
    self = static_cast<CWindowBase *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = wnd;
  } else {
    self = reinterpret_cast<CWindowBase *>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(wnd, msg, wParam, lParam);
  return self->Route(msg, wParam, lParam);
}

LRESULT CALLBACK CWindowBase::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR data) {
  return reinterpret_cast<CWindowBase *>(data)->Route(msg, wParam, lParam);
}

bool RegisterDialogClass(const wchar_t *className) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(ThisModule(), className, &wc)) return true;
  if (!GetClassInfoExW(nullptr, L"#32770", &wc)) return false;
  wc.cbSize = sizeof wc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = className;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace ui
