// The notification-area icon of a window: added, retitled and removed with Shell_NotifyIconW; its
// callback message is the registered "WM_TRAYICON". T chains ProcessTrayMessage into its message
// map (last) and receives OnTrayNotification(mouse message) for its icon.
#pragma once
#include <windows.h>
#include <shellapi.h>

namespace client {

template <class T>
class CTrayIconImpl {
 public:
  ~CTrayIconImpl() { RemoveIcon(); }

 protected:
  bool InstallIcon(HWND owner, const wchar_t *tip, HICON icon, UINT id) {
    nid_ = NOTIFYICONDATAW{};
    nid_.cbSize = sizeof nid_;
    nid_.hWnd = owner;
    nid_.uID = id;
    nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid_.uCallbackMessage = TrayMessage();
    nid_.hIcon = icon;
    lstrcpynW(nid_.szTip, tip, sizeof nid_.szTip / sizeof nid_.szTip[0]);
    installed_ = Shell_NotifyIconW(NIM_ADD, &nid_) != FALSE;
    return installed_;
  }
  bool SetTooltipText(const wchar_t *tip) {
    lstrcpynW(nid_.szTip, tip, sizeof nid_.szTip / sizeof nid_.szTip[0]);
    nid_.uFlags = NIF_TIP;
    return installed_ && Shell_NotifyIconW(NIM_MODIFY, &nid_);
  }
  // Another icon (nullptr: none shown, the icon keeps its place).
  bool ChangeIcon(HICON icon) {
    nid_.hIcon = icon;
    nid_.uFlags = NIF_ICON;
    return installed_ && Shell_NotifyIconW(NIM_MODIFY, &nid_);
  }
  void RemoveIcon() {
    if (installed_) Shell_NotifyIconW(NIM_DELETE, &nid_);
    installed_ = false;
  }
  const wchar_t *TooltipText() const { return nid_.szTip; }

  static UINT TrayMessage() {
    static const UINT m = RegisterWindowMessageW(L"WM_TRAYICON");
    return m;
  }

  // Chained last in T's map.
  bool ProcessTrayMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) {
    static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    if (msg == taskbarCreated && installed_) {
      // The shell restarted: the icon has to be added again.
      nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
      Shell_NotifyIconW(NIM_ADD, &nid_);
      result = 0;
      return true;
    }
    if (msg != TrayMessage() || wParam != nid_.uID) return false;
    static_cast<T *>(this)->OnTrayNotification(UINT(lParam));
    result = 0;
    return true;
  }

 private:
  NOTIFYICONDATAW nid_{};
  bool installed_ = false;
};

}  // namespace client
