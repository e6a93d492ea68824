#include "toolbar_wnd.h"

#include <windowsx.h>

#include "client_text.h"
#include "resource.h"
#include "ui_look.h"

namespace client {

const VToolBarWnd::Map &VToolBarWnd::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_PAINT, &VToolBarWnd::OnPaint),
      Map::Message(WM_ERASEBKGND, &VToolBarWnd::OnEraseBkgnd),
      Map::Message(WM_MOUSEMOVE, &VToolBarWnd::OnMouseMove),
      Map::Message(WM_MOUSELEAVE, &VToolBarWnd::OnMouseLeave),
      Map::Message(WM_LBUTTONDOWN, &VToolBarWnd::OnLButtonDown),
      Map::Message(WM_LBUTTONUP, &VToolBarWnd::OnLButtonUp),
  };
  return map;
}

VToolBarWnd::~VToolBarWnd() {
  for (HICON i : icons_) DestroyIcon(i);
  if (hoverImage_) DestroyIcon(hoverImage_);
}

bool VToolBarWnd::Create(HWND parent, UINT id, IListener *listener, HFONT font) {
  listener_ = listener;
  font_ = font;
  buttons_ = MakeBarButtons();
  for (const BarButton &b : buttons_)
    icons_.push_back(static_cast<HICON>(
        LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(b.icon), IMAGE_ICON, 32, 32, 0)));
  hoverImage_ = static_cast<HICON>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDI_BAR_HOVER),
                                              IMAGE_ICON, kBarButtonWidth, kBarButtonHeight, 0));
  RECT r{0, 0, kBarWidth, 100};
  return CWindowImpl::Create(L"VToolBarWnd", parent, r,
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, id) != nullptr;
}

void VToolBarWnd::RebuildButtons() {
  std::vector<BarButton> fresh = MakeBarButtons();
  for (size_t i = 0; i < fresh.size() && i < buttons_.size(); ++i) fresh[i].enabled = buttons_[i].enabled;
  buttons_ = fresh;
  UpdateText();
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

void VToolBarWnd::SetMask(uint32_t mask) {
  mask_ = mask;
  SetBarMask(&buttons_, mask);
  hover_ = pressed_ = -1;
  UpdateText();
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

void VToolBarWnd::UpdateText() {
  std::wstring t;
  for (const BarButton &b : buttons_) {
    if (!b.enabled) continue;
    if (!t.empty()) t += L"\n";
    t += LangString(b.textRow);
  }
  SetWindowTextW(m_hWnd, t.c_str());
}

int VToolBarWnd::Width() const {
  RECT r;
  GetClientRect(m_hWnd, &r);
  return r.right;
}

void VToolBarWnd::SetHover(int index) {
  if (index == hover_) return;
  hover_ = index;
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT VToolBarWnd::OnMouseMove(UINT, WPARAM, LPARAM lParam, bool &) {
  SetHover(BarHitTest(buttons_, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), Width()));
  TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, m_hWnd, 0};
  TrackMouseEvent(&t);
  return 0;
}

LRESULT VToolBarWnd::OnMouseLeave(UINT, WPARAM, LPARAM, bool &) {
  SetHover(-1);
  return 0;
}

LRESULT VToolBarWnd::OnLButtonDown(UINT, WPARAM, LPARAM lParam, bool &) {
  // The button under the press point (a press without a move before it still hits its button).
  SetHover(BarHitTest(buttons_, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), Width()));
  if (hover_ >= 0) {
    pressed_ = hover_;
    SetCapture(m_hWnd);
    InvalidateRect(m_hWnd, nullptr, FALSE);
  }
  return 0;
}

LRESULT VToolBarWnd::OnLButtonUp(UINT, WPARAM, LPARAM lParam, bool &) {
  if (GetCapture() == m_hWnd) ReleaseCapture();
  int pressed = pressed_;
  pressed_ = -1;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  // The button under the release point, whether or not a leave arrived in between.
  int under = BarHitTest(buttons_, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), Width());
  if (pressed >= 0 && pressed == under && listener_) listener_->OnCommand(buttons_[size_t(pressed)].bit);
  return 0;
}

LRESULT VToolBarWnd::OnPaint(UINT, WPARAM, LPARAM, bool &) {
  ui::CPaintBuffer paint(m_hWnd, RGB(245, 247, 249));
  HDC mem = paint.Dc();
  const RECT &rc = paint.Client();
  static const COLORREF edge[5] = {RGB(219, 225, 231), RGB(210, 218, 226), RGB(201, 210, 220),
                                   RGB(193, 203, 215), RGB(184, 196, 209)};
  for (int i = 0; i < 5; ++i) {
    RECT l{rc.right - 5 + i, 0, rc.right - 4 + i, rc.bottom};
    HBRUSH b = CreateSolidBrush(edge[i]);
    FillRect(mem, &l, b);
    DeleteObject(b);
  }

  HGDIOBJ oldFont = SelectObject(mem, font_);
  int left = (rc.right - 5 - kBarButtonWidth) / 2;
  int n = 0;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    const BarButton &b = buttons_[i];
    if (!b.enabled) continue;
    int top = BarButtonTop(n++);
    bool hover = int(i) == hover_, pressed = int(i) == pressed_;
    if (hover && hoverImage_)
      DrawIconEx(mem, left, top, hoverImage_, kBarButtonWidth, kBarButtonHeight, 0, nullptr, DI_NORMAL);
    int off = pressed ? 1 : 0;
    if (icons_[i])
      DrawIconEx(mem, left + (kBarButtonWidth - 32) / 2 + off, top + 2 + off, icons_[i], 32, 32, 0,
                 nullptr, DI_NORMAL);
    SetTextColor(mem, hover ? RGB(255, 255, 255) : RGB(140, 157, 174));
    RECT t{left, top + 34, left + kBarButtonWidth, top + kBarButtonHeight};
    const wchar_t *text = LangString(b.textRow);
    DrawTextW(mem, text, -1, &t, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  SelectObject(mem, oldFont);
  return 0;
}

}  // namespace client
