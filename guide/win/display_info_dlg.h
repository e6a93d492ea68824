// The detail window of step 1: one line per check, with a state icon (done, being repaired,
// failed) and the state's colour. Owned by the step-1 page; the step worker fills it.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

#include "ui_window.h"

namespace guide {

// Sent to the step-1 page when the detail window was shown (lParam 1) or hidden (0).
constexpr UINT WM_GUIDE_DETAILS = WM_USER + 5;

class CDisplayInfoDlg : public ui::CDialogImpl<CDisplayInfoDlg> {
 public:
  // page: the step-1 page (told of every show and hide by the user); guide: the main window
  // (ended by Cancel here as by Cancel there).
  CDisplayInfoDlg(HWND page, HWND guide);
  ~CDisplayInfoDlg();
  static const Map &GetMessageMap();

  // These may be called from the step worker.
  void AddLine(int state, const std::wstring &text);
  void ReplaceLastLine(int state, const std::wstring &text);
  void Clear();
  // Shows or hides the window and keeps the flag; the caller sets the details button's text.
  void SetShown(bool shown);
  bool Shown() const { return shown_; }
  // The details button: the other state, and the step-1 page told.
  void Toggle();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnClose(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);
  void OnCancel(UINT, UINT, HWND);
  LRESULT OnCustomDraw(NMHDR *header);
  void HideByUser();
  void Insert(int index, int state, const std::wstring &text);

  HWND page_, guide_;
  HIMAGELIST images_ = nullptr;
  std::atomic<bool> shown_{false};
};

}  // namespace guide
