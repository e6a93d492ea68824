// The guide's main window: the banner, the four step buttons (flat bitmap buttons, a normal and
// a highlighted image each, in the language family's set) and the four pages, of which one is
// shown at a time; and GuideStepThread, the worker that runs the steps one after another and
// moves the wizard on.
#pragma once
#include <windows.h>

#include "pages.h"
#include "ui_loop.h"
#include "ui_window.h"

namespace guide {

class CMainDlg : public ui::CDialogImpl<CMainDlg>, public ui::CMessageFilter, public IGuideShell {
 public:
  explicit CMainDlg(ui::CMessageLoop &loop);
  ~CMainDlg();
  static const Map &GetMessageMap();

  BOOL PreTranslateMessage(MSG *msg) override;

  // IGuideShell
  const PageArt &Art() const override { return art_; }
  HWND GuideWindow() const override { return m_hWnd; }
  // Starts GuideStepThread; a sequence still waiting in step 2 or 3 ends without acting.
  void StartSequence() override;

  // The step buttons' handler (1009, 1010, 1011 and the finish button 1) for focus gained,
  // focus lost and click; the step worker drives it too.
  void OnStepButton(UINT id, UINT code, HWND);

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, bool &) { return TRUE; }
  void OnCancel(UINT, UINT, HWND);

  void ShowPage(int step);
  void SetButtonImage(int step, bool highlighted);
  void RevealButton(int step);
  void EndGuide(int code);
  static unsigned __stdcall GuideStepThread(void *param);
  void RunSequence(HANDLE cancel);

  ui::CMessageLoop &loop_;
  PageArt art_;
  HBITMAP banner_ = nullptr, strip_ = nullptr;
  HBITMAP images_[2][4] = {};  // [highlighted][step]
  HICON iconBig_ = nullptr, iconSmall_ = nullptr;
  CCheckSoftFrm software_;
  CCheckPINDlg pin_;
  CDownCertDlg certificate_;
  CCExitDlg exit_;
  // Set when a newer sequence starts: ends the waits of the one before.
  HANDLE cancel_ = nullptr;
};

}  // namespace guide
