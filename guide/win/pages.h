// The four pages of the wizard, child dialogs of the main window: step 1 (environment and client
// software, with the detail window), step 2 (the factory PIN), step 3 (the certificate) and
// step 4 (closing text). Each step page runs its step on the step worker.
#pragma once
#include <windows.h>

#include <memory>

#include "display_info_dlg.h"
#include "guide_steps.h"
#include "guide_token_lib.h"
#include "resource.h"
#include "ui_window.h"

namespace guide {

// What every page is drawn with; made once by the main window.
struct PageArt {
  HBITMAP background = nullptr;
  HBRUSH brush = nullptr;     // the colour of the background under the controls
  HFONT status13 = nullptr;   // 13-point "宋体": status lines of steps 1 and 2
  HFONT status12 = nullptr;   // 12-point "宋体": texts of steps 3 and 4
};

// What the pages need of the main window.
class IGuideShell {
 public:
  virtual const PageArt &Art() const = 0;
  virtual HWND GuideWindow() const = 0;
  // The re-check button: the step sequence again from step 1.
  virtual void StartSequence() = 0;

 protected:
  ~IGuideShell() = default;
};

// Background image, the background brush for texts, and Escape ending the guide.
template <class T>
class CGuidePage : public ui::CDialogImpl<T> {
 public:
  CGuidePage(UINT templateId, IGuideShell &shell) : ui::CDialogImpl<T>(templateId), shell_(shell) {}

 protected:
  bool PageMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result);
  IGuideShell &shell_;
};

class CCheckSoftFrm : public CGuidePage<CCheckSoftFrm>, public IStepOnePage {
 public:
  explicit CCheckSoftFrm(IGuideShell &shell) : CGuidePage(IDD_STEP_SOFTWARE, shell) {}
  static const Map &GetMessageMap();
  CDisplayInfoDlg *Details() { return details_.get(); }

  // Step 1, on the step worker.
  int RunStep();

  // IStepOnePage
  void BeginCheck() override;
  void SetStatusText(int textId) override;
  void AddDetailLine(int state, const std::wstring &text) override;
  void ReplaceLastDetailLine(int state, const std::wstring &text) override;
  void EnableRecheck() override;
  void EndCheck() override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnGuideDetails(UINT, WPARAM, LPARAM, bool &);
  void OnRecheck(UINT, UINT, HWND);
  void OnDetails(UINT, UINT, HWND);
  void ShowDetails(bool shown);

  std::unique_ptr<CDisplayInfoDlg> details_;
  HBITMAP recheck_ = nullptr;
};

class CCheckPINDlg : public CGuidePage<CCheckPINDlg> {
 public:
  explicit CCheckPINDlg(IGuideShell &shell) : CGuidePage(IDD_STEP_PIN, shell) {}
  static const Map &GetMessageMap();

  // Step 2, on the step worker; cancel ends its wait when a re-check takes over.
  int RunStep(HANDLE cancel);
  void SetStatus(int textId);
  void ShowPinControls(bool show);

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnOk(UINT, UINT, HWND);

  // The page's binding, for step 2 and the OK button alike.
  CGuideTokenLib library_;
};

class CDownCertDlg : public CGuidePage<CDownCertDlg> {
 public:
  explicit CDownCertDlg(IGuideShell &shell) : CGuidePage(IDD_STEP_CERTIFICATE, shell) {}
  static const Map &GetMessageMap();

  // Step 3, on the step worker; cancel ends its wait when a re-check takes over.
  int RunStep(HANDLE cancel);
  // Internet Explorer on the bank's certificate-download page.
  void OpenDownloadPage();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  void OnDownload(UINT, UINT, HWND) { OpenDownloadPage(); }
};

class CCExitDlg : public CGuidePage<CCExitDlg> {
 public:
  explicit CCExitDlg(IGuideShell &shell) : CGuidePage(IDD_STEP_EXIT, shell) {}
  static const Map &GetMessageMap();

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
};

// Waits for a named event or the sequence's cancel event.
WaitResult WaitForEvent(HANDLE event, HANDLE cancel);

}  // namespace guide
