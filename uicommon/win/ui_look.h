// The look of our dialogs: one way to build fonts, the light background brush and the flat push
// button that replaces the system's.
#pragma once
#include <windows.h>

#include "ui_window.h"

namespace ui {

// Background of dialogs and static controls.
constexpr COLORREF kDialogBackground = RGB(245, 247, 249);

// A font of the given face (null: the face of the system's icon-title font, "宋体" when that
// cannot be read), height in logical units (negative: character height, as in LOGFONT) and
// weight; charset DEFAULT_CHARSET unless given. The caller owns it (DeleteObject).
HFONT MakeFont(const wchar_t *face, int height, int weight = FW_NORMAL,
               BYTE charset = DEFAULT_CHARSET);
// The dialog font of our programs: the icon-title face at height -12, normal weight.
inline HFONT MakeDialogFont(int weight = FW_NORMAL) { return MakeFont(nullptr, -12, weight); }
// The LOGFONT height of a point size on the screen (for "14-point" fonts).
int PointsToHeight(int points);

// Double-buffered painting for WM_PAINT: draw into Dc(), a bitmap as large as the client area
// and filled with the background colour; it reaches the window when the object ends.
class CPaintBuffer {
 public:
  CPaintBuffer(HWND wnd, COLORREF background);
  ~CPaintBuffer();
  CPaintBuffer(const CPaintBuffer &) = delete;
  CPaintBuffer &operator=(const CPaintBuffer &) = delete;
  HDC Dc() const { return mem_; }
  const RECT &Client() const { return rc_; }

 private:
  HWND wnd_;
  PAINTSTRUCT ps_;
  HDC dc_, mem_;
  HBITMAP bmp_;
  HGDIOBJ old_;
  RECT rc_;
};

// What a dialog looks like: background brush, font for its children, flat buttons. One object
// serves any number of dialogs (CDialogBase::UseLook); it owns its brush and font.
class CDialogLook {
 public:
  explicit CDialogLook(HFONT font = MakeDialogFont());
  ~CDialogLook();
  CDialogLook(const CDialogLook &) = delete;
  CDialogLook &operator=(const CDialogLook &) = delete;

  HBRUSH Brush() const { return brush_; }
  HFONT Font() const { return font_; }
  // The look's font on every child; every push button (not check boxes, radio buttons or group
  // boxes) becomes a CMyButton.
  void Apply(HWND dialog) const;

 private:
  HBRUSH brush_;
  HFONT font_;
};

// Flat push button: owner-drawn, lighter while the mouse is over it, its text offset while
// pressed, grey when disabled. Subclasses an existing button and deletes itself with it.
class CMyButton : public CWindowImpl<CMyButton> {
 public:
  static void Attach(HWND button);
  static const Map &GetMessageMap();
  // Whether this button (reached through the style bits) is the dialog's default button.
  bool IsDefault() const { return default_; }

 private:
  CMyButton() = default;
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnGetDlgCode(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnSetStyle(UINT, WPARAM, LPARAM, bool &);
  void OnFinalMessage() override { delete this; }
  bool hover_ = false;
  bool default_ = false;
};

}  // namespace ui
