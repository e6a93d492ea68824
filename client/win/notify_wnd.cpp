#include "notify_wnd.h"

#include <vector>

#include "resource.h"

namespace client {

namespace {

enum { kTimerIn = 1, kTimerStay = 2, kTimerOut = 3 };

// The window region: every pixel of the bitmap that is not pure red.
HRGN RegionOf(HBITMAP bmp, int w, int h) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<DWORD> px(size_t(w) * size_t(h));
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, bmp, 0, UINT(h), px.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  HRGN all = CreateRectRgn(0, 0, 0, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w;) {
      while (x < w && (px[size_t(y) * w + x] & 0xFFFFFF) == 0xFF0000) ++x;
      int start = x;
      while (x < w && (px[size_t(y) * w + x] & 0xFFFFFF) != 0xFF0000) ++x;
      if (x > start) {
        HRGN r = CreateRectRgn(start, y, x, y + 1);
        CombineRgn(all, all, r, RGN_OR);
        DeleteObject(r);
      }
    }
  }
  return all;
}

}  // namespace

const CNotifyWnd::Map &CNotifyWnd::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_PAINT, &CNotifyWnd::OnPaint),
      Map::Message(WM_TIMER, &CNotifyWnd::OnTimer),
      Map::Message(WM_ERASEBKGND, &CNotifyWnd::OnEraseBkgnd),
  };
  return map;
}

CNotifyWnd::~CNotifyWnd() {
  if (bitmap_) DeleteObject(bitmap_);
}

bool CNotifyWnd::Create(HWND owner, HFONT normal, HFONT bold) {
  normal_ = normal;
  bold_ = bold;
  bitmap_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDB_NOTICE),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap_) return false;
  BITMAP bm;
  GetObjectW(bitmap_, sizeof bm, &bm);
  w_ = bm.bmWidth + 1;
  h_ = bm.bmHeight;
  RECT r{0, 0, 0, 0};
  // Owned by the main window: a notice is no window of its own in the taskbar.
  if (!CWindowImpl::Create(L"CNotifyWnd", owner, r, WS_POPUP,
                           WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE))
    return false;
  return true;
}

void CNotifyWnd::Stop() {
  KillTimer(m_hWnd, kTimerIn);
  KillTimer(m_hWnd, kTimerStay);
  KillTimer(m_hWnd, kTimerOut);
  phase_ = kIdle;
}

void CNotifyWnd::ShowNotice(const std::wstring &text, int slideIn, int stay, int slideOut) {
  if (!IsWindow()) return;
  Stop();
  text_ = text;
  SetWindowTextW(m_hWnd, text.c_str());
  // The work area of the screen the owner is on (the primary screen's is the system work area).
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  HMONITOR mon = MonitorFromWindow(GetWindow(m_hWnd, GW_OWNER), MONITOR_DEFAULTTOPRIMARY);
  RECT wa, screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (mon && GetMonitorInfoW(mon, &mi)) {
    wa = mi.rcWork;
    screen = mi.rcMonitor;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
  }
  work_ = Rect{wa.left - screen.left, wa.top - screen.top, wa.right - screen.left, wa.bottom - screen.top};
  edge_ = TaskbarEdge(work_, screen.right - screen.left, screen.bottom - screen.top);
  work_ = Rect{wa.left, wa.top, wa.right, wa.bottom};
  extent_ = NoticeExtent(edge_, w_, h_);
  stay_ = stay;
  outMs_ = slideOut;
  shown_ = 0;
  // The region is handed to the system with each new cycle (the window was shrunk to nothing).
  SetWindowRgn(m_hWnd, RegionOf(bitmap_, w_ - 1, h_), FALSE);
  Place();
  ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
  InvalidateRect(m_hWnd, nullptr, TRUE);
  phase_ = kIn;
  SetTimer(m_hWnd, kTimerIn, UINT(NoticeStepMs(slideIn, extent_)), nullptr);
}

void CNotifyWnd::Place() {
  Rect r = NoticeRect(edge_, work_, w_, h_, shown_);
  SetWindowPos(m_hWnd, HWND_TOPMOST, r.left, r.top, w_, h_, SWP_NOACTIVATE);
}

LRESULT CNotifyWnd::OnTimer(UINT, WPARAM id, LPARAM, bool &) {
  switch (id) {
    case kTimerIn:
      shown_ += kNoticeStep;
      if (shown_ >= extent_) {
        shown_ = extent_;
        KillTimer(m_hWnd, kTimerIn);
        phase_ = kStay;
        SetTimer(m_hWnd, kTimerStay, UINT(stay_), nullptr);
      }
      Place();
      break;
    case kTimerStay:
      KillTimer(m_hWnd, kTimerStay);
      phase_ = kOut;
      SetTimer(m_hWnd, kTimerOut, UINT(NoticeStepMs(outMs_, extent_)), nullptr);
      break;
    case kTimerOut:
      shown_ -= kNoticeStep;
      if (shown_ <= 0) {
        Stop();
        ShowWindow(m_hWnd, SW_HIDE);
        SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
        break;
      }
      Place();
      break;
  }
  return 0;
}

LRESULT CNotifyWnd::OnPaint(UINT, WPARAM, LPARAM, bool &) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bitmap_);
  BitBlt(dc, 0, 0, w_, h_, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ f = SelectObject(dc, bold_);
  SetTextColor(dc, RGB(255, 255, 255));
  RECT t{10, 5, w_ - 10, 25};
  DrawTextW(dc, title_.c_str(), int(title_.size()), &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  SelectObject(dc, normal_);
  SetTextColor(dc, RGB(40, 50, 60));
  RECT b{14, 36, w_ - 14, h_ - 8};
  DrawTextW(dc, text_.c_str(), int(text_.size()), &b, DT_LEFT | DT_WORDBREAK);
  SelectObject(dc, f);
  EndPaint(m_hWnd, &ps);
  return 0;
}

}  // namespace client
