// The main window of the client manager: header, command bar, device tree, status line; it lives
// in the notification area while hidden, and it is the shell every command works through.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <memory>
#include <string>
#include <vector>

#include "admin_ui_win.h"
#include "commands.h"
#include "device_model.h"
#include "device_tree.h"
#include "news_ui.h"
#include "notify_wnd.h"
#include "toolbar_wnd.h"
#include "tray_icon.h"
#include "ui_loop.h"
#include "ui_look.h"
#include "ui_window.h"

namespace client {

class WinClientHost;

constexpr UINT kCertificatesChanged = WM_APP + 10;  // from the certificate-change watcher

class CMainDlg : public ui::CDialogImpl<CMainDlg>,
                 public ui::CMessageFilter,
                 public ui::CIdleHandler,
                 public VToolBarWnd::IListener,
                 public CTrayIconImpl<CMainDlg>,
                 public IClientShell,
                 public INewsShell {
 public:
  CMainDlg(ui::CMessageLoop &loop, WinClientHost &host);
  ~CMainDlg();
  static const Map &GetMessageMap();

  BOOL PreTranslateMessage(MSG *msg) override;
  BOOL OnIdle() override { return FALSE; }
  void OnCommand(uint32_t bit) override;  // command bar, double click, context menu
  void OnTrayNotification(UINT mouseMessage);

  // IClientShell
  void ShowNotice(const std::wstring &text) override;
  int MessageBox(const std::wstring &text, unsigned style) override;
  void RefreshDevices() override;
  void StartCheckTool() override;
  void ViewCertificate(const TokenCert &cert) override;
  std::wstring SystemMessage(uint32_t code) override;
  void RunTask(ITask &task, const std::wstring &title) override;
  void StartUpdateCheck() override;
  IAdminUi &AdminUi() override { return admin_; }

  void ShowAnimated();
  void HideAnimated();

  // INewsShell
  void SetTrayIcon(HICON icon) override { ChangeIcon(icon); }
  void SetTrayTip(const wchar_t *tip) override { SetTooltipText(tip); }
  std::wstring FirstSerial() const override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, bool &) { return TRUE; }
  LRESULT OnClose(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnSize(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnDeviceChange(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnTimer(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnCertificatesChanged(UINT, WPARAM, LPARAM, bool &);
  void OnExit(UINT, UINT, HWND);
  void OnOpen(UINT, UINT, HWND) { ShowAnimated(); }
  void OnLanguage(UINT, UINT, HWND);
  void OnAbout(UINT, UINT, HWND);
  void OnNewsEntry(UINT id, UINT, HWND) {
    if (news_) news_->OnEntry(id);
  }
  void OnNewsCommand(UINT id, UINT, HWND);
  LRESULT OnNewsFetched(UINT, WPARAM, LPARAM, bool &);
  void OnNodeCommand(UINT, UINT, HWND);
  LRESULT OnTreeDeleteItem(NMHDR *);
  LRESULT OnTreeSelChanged(NMHDR *);
  LRESULT OnTreeDoubleClick(NMHDR *);
  LRESULT OnTreeRightClick(NMHDR *);
  LRESULT OnContextMenu(UINT, WPARAM, LPARAM, bool &);
  void ShowNodeMenu(POINT screen);
  LRESULT OnTreeCustomDraw(NMHDR *);
  LRESULT OnTooltipText(NMHDR *);

  void SetLanguage(int language);
  void SetStatus(const std::wstring &text);
  void SelectionChanged();
  void Layout();
  RECT AboutRect() const;
  void ShowTrayMenu();
  void OpenWebPage();
  bool BrowserRunning() const;
  void StartCertificateWatcher();
  static unsigned __stdcall CertificateWatcher(void *self);

  ui::CMessageLoop &loop_;
  WinClientHost &host_;
  CDeviceList devices_;
  CTooltipTree tree_;
  VToolBarWnd bar_;
  CNotifyWnd notice_;
  HIMAGELIST images_ = nullptr;
  HFONT normalFont_ = nullptr, boldFont_ = nullptr;
  ui::CDialogLook *look_ = nullptr;
  HBITMAP header_ = nullptr, footer_ = nullptr;
  int headerHeight_ = 0, footerHeight_ = 0;
  HICON iconBig_ = nullptr, iconSmall_ = nullptr;
  HMENU menu_ = nullptr;
  std::wstring status_;
  std::wstring tipText_;
  bool aboutHover_ = false, aboutPressed_ = false, trackingLeave_ = false;
  HANDLE certEvent_ = nullptr;
  HANDLE watcher_ = nullptr;
  HANDLE browser_ = nullptr;
  std::vector<HDEVNOTIFY> notifications_;
  CAdminUi admin_{*this};
  std::unique_ptr<CNewsUi> news_;
};

}  // namespace client
