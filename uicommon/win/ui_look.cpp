#include "ui_look.h"

namespace ui {

HFONT MakeFont(const wchar_t *face, int height, int weight, BYTE charset) {
  LOGFONTW lf{};
  if (face) {
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  } else if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof lf, &lf, 0)) {
    lf = LOGFONTW{};
    lstrcpynW(lf.lfFaceName, L"宋体", LF_FACESIZE);
  }
  lf.lfHeight = height;
  lf.lfWidth = 0;
  lf.lfWeight = weight;
  lf.lfItalic = FALSE;
  lf.lfUnderline = FALSE;
  lf.lfStrikeOut = FALSE;
  lf.lfCharSet = charset;
  lf.lfQuality = DEFAULT_QUALITY;
  return CreateFontIndirectW(&lf);
}

int PointsToHeight(int points) {
  HDC dc = GetDC(nullptr);
  int h = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  return h;
}

CPaintBuffer::CPaintBuffer(HWND wnd, COLORREF background) : wnd_(wnd) {
  dc_ = BeginPaint(wnd, &ps_);
  GetClientRect(wnd, &rc_);
  mem_ = CreateCompatibleDC(dc_);
  bmp_ = CreateCompatibleBitmap(dc_, rc_.right > 0 ? rc_.right : 1, rc_.bottom > 0 ? rc_.bottom : 1);
  old_ = SelectObject(mem_, bmp_);
  HBRUSH b = CreateSolidBrush(background);
  FillRect(mem_, &rc_, b);
  DeleteObject(b);
  SetBkMode(mem_, TRANSPARENT);
}

CPaintBuffer::~CPaintBuffer() {
  BitBlt(dc_, 0, 0, rc_.right, rc_.bottom, mem_, 0, 0, SRCCOPY);
  SelectObject(mem_, old_);
  DeleteObject(bmp_);
  DeleteDC(mem_);
  EndPaint(wnd_, &ps_);
}

CDialogLook::CDialogLook(HFONT font)
    : brush_(CreateSolidBrush(kDialogBackground)), font_(font) {}

CDialogLook::~CDialogLook() {
  DeleteObject(brush_);
  if (font_) DeleteObject(font_);
}

void CDialogLook::Apply(HWND dialog) const {
  if (font_) SetFontOnChildren(dialog, font_);
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[16];
    if (!GetClassNameW(c, cls, 16) || lstrcmpiW(cls, L"Button") != 0) continue;
    LONG type = GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) CMyButton::Attach(c);
  }
}

// ---- flat button ----------------------------------------------------------------------------

const CMyButton::Map &CMyButton::GetMessageMap() {
  static const Map map = {
      Map::Message(kReflectedDrawItem, &CMyButton::OnDrawItem),
      Map::Message(WM_MOUSEMOVE, &CMyButton::OnMouseMove),
      Map::Message(WM_MOUSELEAVE, &CMyButton::OnMouseLeave),
      Map::Message(WM_GETDLGCODE, &CMyButton::OnGetDlgCode),
      Map::Message(BM_SETSTYLE, &CMyButton::OnSetStyle),
  };
  return map;
}

void CMyButton::Attach(HWND button) {
  CMyButton *b = new CMyButton;
  LONG style = GetWindowLongW(button, GWL_STYLE);
  b->default_ = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  if (!b->Subclass(button)) {
    delete b;
    return;
  }
  SetWindowLongW(button, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
  InvalidateRect(button, nullptr, TRUE);
}

// The dialog manager moves the default-button state with BM_SETSTYLE; an owner-drawn button
// keeps its type and remembers the state for drawing.
LRESULT CMyButton::OnSetStyle(UINT msg, WPARAM wParam, LPARAM lParam, bool &) {
  default_ = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  WPARAM style = (wParam & ~WPARAM(BS_TYPEMASK)) | BS_OWNERDRAW;
  return DefaultProc(msg, style, lParam);
}

// Owner-drawn buttons do not say they are push buttons; the dialog manager needs to know to move
// the default state to them.
LRESULT CMyButton::OnGetDlgCode(UINT msg, WPARAM wParam, LPARAM lParam, bool &) {
  LRESULT code = DefaultProc(msg, wParam, lParam);
  code &= ~LRESULT(DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON);
  return code | (default_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

LRESULT CMyButton::OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, bool &) {
  if (!hover_) {
    hover_ = true;
    TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, m_hWnd, 0};
    TrackMouseEvent(&t);
    InvalidateRect(m_hWnd, nullptr, FALSE);
  }
  return DefaultProc(msg, wParam, lParam);
}

LRESULT CMyButton::OnMouseLeave(UINT msg, WPARAM wParam, LPARAM lParam, bool &) {
  hover_ = false;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  return DefaultProc(msg, wParam, lParam);
}

LRESULT CMyButton::OnDrawItem(UINT, WPARAM, LPARAM lParam, bool &) {
  const DRAWITEMSTRUCT *d = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
  HDC dc = d->hDC;
  RECT r = d->rcItem;
  bool disabled = (d->itemState & ODS_DISABLED) != 0;
  bool pressed = (d->itemState & ODS_SELECTED) != 0;
  bool focus = (d->itemState & ODS_FOCUS) != 0;

  COLORREF fill = pressed ? RGB(205, 213, 224) : hover_ ? RGB(232, 238, 245) : RGB(255, 255, 255);
  COLORREF edge = disabled ? RGB(200, 206, 212)
                  : (default_ || focus) ? RGB(85, 120, 160)
                                        : RGB(160, 175, 190);
  HBRUSH b = CreateSolidBrush(fill);
  FillRect(dc, &r, b);
  DeleteObject(b);
  HBRUSH e = CreateSolidBrush(edge);
  FrameRect(dc, &r, e);
  DeleteObject(e);

  std::wstring text = WindowText(m_hWnd);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? RGB(160, 165, 170) : RGB(40, 50, 60));
  RECT t = r;
  if (pressed) OffsetRect(&t, 1, 1);
  DrawTextW(dc, text.c_str(), int(text.size()), &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (old) SelectObject(dc, old);
  if (focus && !(d->itemState & ODS_NOFOCUSRECT)) {
    RECT f = r;
    InflateRect(&f, -3, -3);
    DrawFocusRect(dc, &f);
  }
  return TRUE;
}

}  // namespace ui
