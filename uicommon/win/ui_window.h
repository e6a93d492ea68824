// The one way our windows route messages: a message map per class, a table from a message,
// a command id or a notification to a member handler, consulted in order. Three kinds of window
// use it: dialogs from .rc templates (CDialogImpl), windows of a class of our own (CWindowImpl)
// and existing controls we take over (CWindowImpl::Subclass). See uicommon/README.md.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace ui {

// The module a piece of code is linked into: uicommon is a static library, so in a DLL this is
// the DLL and dialogs come from the DLL's own resources.
HINSTANCE ThisModule();

// Message sent back to an owner-drawn control with the DRAWITEMSTRUCT its parent received
// (lParam); a control that draws itself answers TRUE.
constexpr UINT kReflectedDrawItem = WM_USER + 0x1C00 + WM_DRAWITEM;

// Any notification code of a command or notify entry.
constexpr UINT kAnyCode = 0xFFFFFFFFu;

// The table of one class T. Entries are tried in order; the first that handles a message ends
// the search. A message handler that leaves `handled` false lets the search go on (and, at the
// end, the default processing).
template <class T>
class MessageMap {
 public:
  using MessageFn = LRESULT (T::*)(UINT msg, WPARAM wParam, LPARAM lParam, bool &handled);
  using CommandFn = void (T::*)(UINT id, UINT code, HWND control);
  using NotifyFn = LRESULT (T::*)(NMHDR *header);
  using ChainFn = bool (T::*)(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result);

  struct Entry {
    enum Kind { kMessage, kCommand, kNotify, kChain } kind;
    UINT first, last, code;
    MessageFn onMessage;
    CommandFn onCommand;
    NotifyFn onNotify;
    ChainFn onChain;
  };

  // One message.
  static Entry Message(UINT msg, MessageFn fn) {
    return {Entry::kMessage, msg, msg, kAnyCode, fn, nullptr, nullptr, nullptr};
  }
  // WM_COMMAND from a control, menu entry or accelerator with this id (any notification code, or
  // the one given: BN_CLICKED, EN_CHANGE, ...).
  static Entry Command(UINT id, CommandFn fn, UINT code = kAnyCode) {
    return {Entry::kCommand, id, id, code, nullptr, fn, nullptr, nullptr};
  }
  static Entry CommandRange(UINT first, UINT last, CommandFn fn) {
    return {Entry::kCommand, first, last, kAnyCode, nullptr, fn, nullptr, nullptr};
  }
  // WM_NOTIFY from control id with this code (kAnyCode: every code; id kAnyCode: every control).
  static Entry Notify(UINT id, UINT code, NotifyFn fn) {
    return {Entry::kNotify, id, id, code, nullptr, nullptr, fn, nullptr};
  }
  // A second map (a base class's, e.g. the tray icon's): it sees every message that reaches it.
  static Entry Chain(ChainFn fn) {
    return {Entry::kChain, 0, 0, kAnyCode, nullptr, nullptr, nullptr, fn};
  }

  MessageMap(std::initializer_list<Entry> entries) : entries_(entries) {}

  bool Dispatch(T *self, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) const {
    for (const Entry &e : entries_) {
      switch (e.kind) {
        case Entry::kMessage:
          if (msg == e.first) {
            bool handled = true;
            LRESULT r = (self->*e.onMessage)(msg, wParam, lParam, handled);
            if (handled) {
              result = r;
              return true;
            }
          }
          break;
        case Entry::kCommand: {
          UINT id = LOWORD(wParam), code = HIWORD(wParam);
          if (msg == WM_COMMAND && id >= e.first && id <= e.last &&
              (e.code == kAnyCode || e.code == code)) {
            (self->*e.onCommand)(id, code, reinterpret_cast<HWND>(lParam));
            result = 0;
            return true;
          }
          break;
        }
        case Entry::kNotify:
          if (msg == WM_NOTIFY && lParam) {
            const NMHDR *h = reinterpret_cast<const NMHDR *>(lParam);
            if ((e.first == kAnyCode || h->idFrom == e.first) &&
                (e.code == kAnyCode || h->code == e.code)) {
              result = (self->*e.onNotify)(reinterpret_cast<NMHDR *>(lParam));
              return true;
            }
          }
          break;
        case Entry::kChain:
          if ((self->*e.onChain)(msg, wParam, lParam, result)) return true;
          break;
      }
    }
    return false;
  }

 private:
  std::vector<Entry> entries_;
};

class CDialogLook;

// Small helpers on any window handle.
// Over the parent, or the work area when none; kept inside the monitor's work area.
void CenterWindow(HWND wnd, HWND parent);
std::wstring WindowText(HWND wnd);
void SetFontOnChildren(HWND wnd, HFONT font);

// A dialog from a template of a module's resources, modal (DoModal) or modeless (Create).
class CDialogBase {
 public:
  HWND m_hWnd = nullptr;

  explicit CDialogBase(UINT templateId, HINSTANCE resources = ThisModule())
      : templateId_(templateId), resources_(resources) {}
  virtual ~CDialogBase();
  CDialogBase(const CDialogBase &) = delete;
  CDialogBase &operator=(const CDialogBase &) = delete;

  // Modal over owner; the value given to EndDialog, or -1 when the dialog could not be created.
  INT_PTR DoModal(HWND owner);
  // Modeless; null when the dialog could not be created.
  HWND Create(HWND owner);
  void EndDialog(INT_PTR result);
  void DestroyWindow();
  bool IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }

  HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
  void SetItemText(int id, const wchar_t *text) const { SetDlgItemTextW(m_hWnd, id, text); }
  std::wstring ItemText(int id) const { return WindowText(Item(id)); }
  void EnableItem(int id, bool enable) const { EnableWindow(Item(id), enable); }
  void SetTitle(const wchar_t *text) const { SetWindowTextW(m_hWnd, text); }

  // Dialog look: background brush on the dialog and its static controls, flat push buttons and
  // the look's font on every child. Set before the dialog is created; the look must outlive it.
  void UseLook(const CDialogLook *look) { look_ = look; }

 protected:
  virtual bool ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) = 0;
  // After the last message (WM_NCDESTROY); m_hWnd is already null.
  virtual void OnFinalMessage() {}

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool LookMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result);

  UINT templateId_;
  HINSTANCE resources_;
  const CDialogLook *look_ = nullptr;
};

// Derive as `class CMyDlg : public ui::CDialogImpl<CMyDlg>` and give the class
//   static const ui::MessageMap<CMyDlg> &GetMessageMap();
template <class T>
class CDialogImpl : public CDialogBase {
 public:
  using CDialogBase::CDialogBase;
  using Map = MessageMap<T>;

 protected:
  bool ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) override {
    return T::GetMessageMap().Dispatch(static_cast<T *>(this), msg, wParam, lParam, result);
  }
};

// A window of a class of our own (Create), or an existing control taken over (Subclass).
class CWindowBase {
 public:
  HWND m_hWnd = nullptr;

  CWindowBase() = default;
  virtual ~CWindowBase();
  CWindowBase(const CWindowBase &) = delete;
  CWindowBase &operator=(const CWindowBase &) = delete;

  // Registers className once per process (arrow cursor, no background brush: the window paints
  // itself) and creates the window.
  HWND Create(const wchar_t *className, HWND parent, const RECT &rect, DWORD style,
              DWORD exStyle = 0, UINT id = 0, const wchar_t *title = L"");
  // Routes the messages of an existing window through this object's map first.
  bool Subclass(HWND wnd);
  void DestroyWindow();
  bool IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }

 protected:
  virtual bool ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) = 0;
  // The processing the window would have had without us.
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // After the last message (WM_NCDESTROY); m_hWnd is already null. An object that owns itself
  // deletes itself here.
  virtual void OnFinalMessage() {}

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  LRESULT Route(UINT msg, WPARAM wParam, LPARAM lParam);
  bool subclassed_ = false;
};

template <class T>
class CWindowImpl : public CWindowBase {
 public:
  using Map = MessageMap<T>;

 protected:
  bool ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result) override {
    return T::GetMessageMap().Dispatch(static_cast<T *>(this), msg, wParam, lParam, result);
  }
};

// Registers a window class that is a copy of the standard dialog class "#32770" under another
// name, so that a dialog template naming it (CLASS "...") gets that class name.
bool RegisterDialogClass(const wchar_t *className);

}  // namespace ui
