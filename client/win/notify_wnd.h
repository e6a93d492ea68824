// The notice window: a small window in the shape of its background bitmap (pure red pixels cut
// away) that slides out of the taskbar's edge, stays, and slides back. Its window text is the
// notice shown.
#pragma once
#include <string>

#include "shell_logic.h"
#include "ui_window.h"

namespace client {

class CNotifyWnd : public ui::CWindowImpl<CNotifyWnd> {
 public:
  static const Map &GetMessageMap();
  ~CNotifyWnd();
  // Created hidden, owned by owner; the fonts stay the caller's.
  bool Create(HWND owner, HFONT normal, HFONT bold);
  // Restarts the cycle with the new text; times in milliseconds.
  void ShowNotice(const std::wstring &text, int slideIn, int stay, int slideOut);
  void SetTitle(const std::wstring &title) { title_ = title; }

 private:
  enum Phase { kIdle, kIn, kStay, kOut };
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnTimer(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, bool &) { return TRUE; }
  void Place();
  void Stop();

  HBITMAP bitmap_ = nullptr;
  HRGN region_ = nullptr;
  HFONT normal_ = nullptr, bold_ = nullptr;
  int w_ = 0, h_ = 0;
  std::wstring text_, title_;
  Phase phase_ = kIdle;
  Edge edge_ = Edge::kBottom;
  Rect work_;
  int shown_ = 0, extent_ = 0, stay_ = 0, outMs_ = 0;
};

}  // namespace client
