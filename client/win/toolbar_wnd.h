// The vertical command bar on the left of the main window: the enabled buttons packed from the
// top, each an icon above its text; hover over the hover image, press shown by an offset icon.
// Its window text lists the visible buttons' texts, one per line, for screen readers and tests.
#pragma once
#include <vector>

#include "commands.h"
#include "ui_window.h"

namespace client {

class VToolBarWnd : public ui::CWindowImpl<VToolBarWnd> {
 public:
  class IListener {
   public:
    virtual void OnCommand(uint32_t bit) = 0;

   protected:
    ~IListener() = default;
  };

  static const Map &GetMessageMap();
  ~VToolBarWnd();
  bool Create(HWND parent, UINT id, IListener *listener, HFONT font);
  // Re-reads the texts (after a language change).
  void RebuildButtons();
  void SetMask(uint32_t mask);
  uint32_t Mask() const { return mask_; }

 private:
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, bool &) { return TRUE; }
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, bool &);
  void SetHover(int index);
  void UpdateText();
  int Width() const;

  std::vector<BarButton> buttons_;
  std::vector<HICON> icons_;
  HICON hoverImage_ = nullptr;
  HFONT font_ = nullptr;
  IListener *listener_ = nullptr;
  uint32_t mask_ = 0;
  int hover_ = -1, pressed_ = -1;
};

}  // namespace client
