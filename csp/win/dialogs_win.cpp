#include "dialogs_win.h"

#include <objbase.h>
#include <string.h>

#include <string>
#include <vector>

#include "picture_ex_wnd.h"
#include "prompt_text.h"
#include "provider.h"
#include "resource.h"
#include "ui_look.h"
#include "ui_window.h"

namespace cspwin {

namespace {

using csp::promptText;

constexpr int kPressFontPoints = 14;
constexpr DWORD kConfirmationStartMs = 30000;  // the window thread reports its window
constexpr DWORD kConfirmationEndMs = 10000;    // ... and ends once the window is closed

std::wstring Widen(const char *text) {
  if (!text || !*text) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &w[0], n);
  w.resize(wcslen(w.c_str()));
  return w;
}

// ---- messages ------------------------------------------------------------------------------

// The message dialogs (two buttons, one button, cancel confirmation): a text and one or two
// buttons; the first button gets the focus. Results: 1 for the first button, 2 for the second.
class CMessageDlg : public ui::CDialogImpl<CMessageDlg> {
 public:
  CMessageDlg(UINT id, uint32_t lang, std::wstring text, size_t first, size_t second)
      : CDialogImpl(id), lang_(lang), text_(std::move(text)), first_(first), second_(second) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CMessageDlg::OnInitDialog),
        Map::Command(IDOK, &CMessageDlg::OnFirst),
        Map::Command(IDCANCEL, &CMessageDlg::OnSecond),
    };
    return map;
  }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    SetTitle(promptText(csp::kTextMessageTitle, lang_));
    SetItemText(IDC_TEXT, text_.c_str());
    SetItemText(IDOK, promptText(first_, lang_));
    if (Item(IDCANCEL)) SetItemText(IDCANCEL, promptText(second_, lang_));
    ui::CenterWindow(m_hWnd, nullptr);
    SetFocus(Item(IDOK));
    return FALSE;
  }
  void OnFirst(UINT, UINT, HWND) { EndDialog(1); }
  // The one-button message also ends with 1 when it is closed with Esc.
  void OnSecond(UINT, UINT, HWND) { EndDialog(Item(IDCANCEL) ? 2 : 1); }

  uint32_t lang_;
  std::wstring text_;
  size_t first_, second_;
};

// ---- PIN -----------------------------------------------------------------------------------

constexpr int kMinPin = 6, kMaxPin = 10;

class CPinDlg : public ui::CDialogImpl<CPinDlg> {
 public:
  CPinDlg(uint32_t lang, char *pin, size_t cap) : CDialogImpl(IDD_PIN), lang_(lang), pin_(pin), cap_(cap) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CPinDlg::OnInitDialog),
        Map::Command(IDC_PIN, &CPinDlg::OnPinChange, EN_CHANGE),
        Map::Command(IDOK, &CPinDlg::OnOk),
        Map::Command(IDCANCEL, &CPinDlg::OnCancel),
    };
    return map;
  }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    SetTitle(promptText(csp::kTextVerifyPin, lang_));
    SetItemText(IDC_TEXT, promptText(csp::kTextInputPin, lang_));
    SetItemText(IDOK, promptText(csp::kTextPinOk, lang_));
    SetItemText(IDCANCEL, promptText(csp::kTextPinCancel, lang_));
    SendMessageW(Item(IDC_PIN), EM_LIMITTEXT, kMaxPin, 0);
    EnableItem(IDOK, false);
    ui::CenterWindow(m_hWnd, nullptr);
    SetFocus(Item(IDC_PIN));
    return FALSE;
  }
  // The length of the typed PIN (ANSI), the text wiped again.
  int TypedLength() {
    char text[kMaxPin + 2];
    int n = GetDlgItemTextA(m_hWnd, IDC_PIN, text, sizeof text);
    SecureZeroMemory(text, sizeof text);
    return n;
  }
  void OnPinChange(UINT, UINT, HWND) {
    const int n = TypedLength();
    EnableItem(IDOK, n >= kMinPin && n <= kMaxPin);
  }
  void OnOk(UINT, UINT, HWND) {
    char text[200];
    int n = GetDlgItemTextA(m_hWnd, IDC_PIN, text, sizeof text);
    // OK counts only while it may be pressed: never an empty or short PIN.
    if (n >= kMinPin && n <= kMaxPin && size_t(n) < cap_) {
      memcpy(pin_, text, size_t(n) + 1);
      SecureZeroMemory(text, sizeof text);
      SetDlgItemTextA(m_hWnd, IDC_PIN, "");
      EndDialog(1);
      return;
    }
    SecureZeroMemory(text, sizeof text);
  }
  void OnCancel(UINT, UINT, HWND) {
    SetDlgItemTextA(m_hWnd, IDC_PIN, "");
    EndDialog(0);
  }

  uint32_t lang_;
  char *pin_;
  size_t cap_;
};

// ---- device selection ----------------------------------------------------------------------

class CSelectDeviceDlg : public ui::CDialogImpl<CSelectDeviceDlg> {
 public:
  CSelectDeviceDlg(uint32_t lang, const csp::DeviceChoice *lines, uint32_t count)
      : CDialogImpl(IDD_SELECT_DEVICE), lang_(lang), lines_(lines), count_(count) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CSelectDeviceDlg::OnInitDialog),
        Map::Command(IDC_DEVICES, &CSelectDeviceDlg::OnSelectionChange, CBN_SELCHANGE),
        Map::Command(IDOK, &CSelectDeviceDlg::OnOk),
        Map::Command(IDCANCEL, &CSelectDeviceDlg::OnCancel),
    };
    return map;
  }
  uint32_t chosen = 0;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    SetTitle(promptText(csp::kTextSelectDevice, lang_));
    SetItemText(IDC_TEXT, promptText(csp::kTextSelectPrompt, lang_));
    SetItemText(IDOK, promptText(csp::kTextSelectOk, lang_));
    SetItemText(IDCANCEL, promptText(csp::kTextExit, lang_));
    SetItemText(IDC_SERIAL_LABEL, promptText(csp::kTextSerial, lang_));
    HWND list = Item(IDC_DEVICES);
    for (uint32_t i = 0; i < count_; ++i)
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(lines_[i].shown).c_str()));
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    ShowSerial();
    ui::CenterWindow(m_hWnd, nullptr);
    return TRUE;
  }
  void ShowSerial() {
    LRESULT i = SendMessageW(Item(IDC_DEVICES), CB_GETCURSEL, 0, 0);
    SetItemText(IDC_SERIAL, i >= 0 && uint32_t(i) < count_ ? Widen(lines_[i].serial).c_str() : L"");
  }
  void OnSelectionChange(UINT, UINT, HWND) { ShowSerial(); }
  void OnOk(UINT, UINT, HWND) {
    LRESULT i = SendMessageW(Item(IDC_DEVICES), CB_GETCURSEL, 0, 0);
    if (i < 0 || uint32_t(i) >= count_) return;
    chosen = uint32_t(i);
    EndDialog(1);
  }
  void OnCancel(UINT, UINT, HWND) { EndDialog(0); }

  uint32_t lang_;
  const csp::DeviceChoice *lines_;
  uint32_t count_;
};

// ---- windows without buttons ---------------------------------------------------------------

class CTipWnd : public ui::CDialogImpl<CTipWnd> {
 public:
  CTipWnd(UINT id, uint32_t lang, size_t title, size_t text)
      : CDialogImpl(id), lang_(lang), title_(title), text_(text) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CTipWnd::OnInitDialog),
    };
    return map;
  }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    SetTitle(promptText(title_, lang_));
    SetItemText(IDC_TEXT, promptText(text_, lang_));
    ui::CenterWindow(m_hWnd, nullptr);
    return FALSE;
  }
  uint32_t lang_;
  size_t title_, text_;
};

// ---- button confirmation -------------------------------------------------------------------

class CConfirmDlg : public ui::CDialogImpl<CConfirmDlg> {
 public:
  CConfirmDlg(uint32_t lang, std::atomic<uint32_t> *cancel)
      : CDialogImpl(IDD_BUTTON_CONFIRM), lang_(lang), cancel_(cancel) {}
  ~CConfirmDlg() override {
    if (font_) DeleteObject(font_);
    if (banner_) DeleteObject(banner_);
  }
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CConfirmDlg::OnInitDialog),
        Map::Message(WM_PAINT, &CConfirmDlg::OnPaint),
        Map::Message(WM_DESTROY, &CConfirmDlg::OnDestroy),
        Map::Command(IDCANCEL, &CConfirmDlg::OnCancel),
        Map::Command(IDC_SIGNING_DONE, &CConfirmDlg::OnSigningDone),
    };
    return map;
  }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    SetTitle(promptText(csp::kTextBlank, lang_));
    SetItemText(IDC_TEXT, promptText(csp::kTextBanner, lang_));
    SetItemText(IDCANCEL, promptText(csp::kTextExit, lang_));
    SetItemText(IDC_PRESS_TEXT, promptText(csp::kTextPressButton, lang_));
    font_ = ui::MakeFont(L"楷体", ui::PointsToHeight(kPressFontPoints), FW_BOLD, GB2312_CHARSET);
    SendMessageW(Item(IDC_PRESS_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageW(Item(IDCANCEL), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    cancel_->store(0);
    banner_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(IDB_BANNER),
                                              IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));

    // The animation, over the dialog's own colour, centred across the dialog.
    if (picture_.Subclass(Item(IDC_PICTURE)) &&
        picture_.Load(ui::ThisModule(), MAKEINTRESOURCEW(IDR_CONFIRM_GIF), L"GIF")) {
      picture_.SetBkColor(GetSysColor(COLOR_BTNFACE));
      RECT client, pic;
      GetClientRect(m_hWnd, &client);
      GetWindowRect(picture_.m_hWnd, &pic);
      MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT *>(&pic), 2);
      SetWindowPos(picture_.m_hWnd, nullptr, (client.right - (pic.right - pic.left)) / 2, pic.top, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      picture_.Draw();
    }
    ui::CenterWindow(m_hWnd, nullptr);
    SetFocus(Item(IDCANCEL));
    return FALSE;
  }
  // The banner across the top, as wide as the dialog.
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    BITMAP bm;
    if (banner_ && GetObjectW(banner_, sizeof bm, &bm) && bm.bmWidth > 0) {
      RECT client;
      GetClientRect(m_hWnd, &client);
      HDC mem = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(mem, banner_);
      SetStretchBltMode(dc, HALFTONE);
      StretchBlt(dc, 0, 0, client.right, MulDiv(bm.bmHeight, client.right, bm.bmWidth), mem, 0, 0,
                 bm.bmWidth, bm.bmHeight, SRCCOPY);
      SelectObject(mem, old);
      DeleteDC(mem);
    }
    EndPaint(m_hWnd, &ps);
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool &handled) {
    picture_.Stop();
    PostQuitMessage(0);  // ends the window thread's message loop
    handled = false;
    return 0;
  }
  void OnCancel(UINT, UINT, HWND) {
    cancel_->store(1);
    DestroyWindow();
  }
  void OnSigningDone(UINT, UINT, HWND) { DestroyWindow(); }

  uint32_t lang_;
  std::atomic<uint32_t> *cancel_;
  HFONT font_ = nullptr;
  HBITMAP banner_ = nullptr;
  ui::CPictureExWnd picture_;
};

// One button confirmation: its thread, and the window the thread made.
struct Confirmation {
  uint32_t lang;
  std::atomic<uint32_t> *cancel;
  HANDLE ready;
  HANDLE thread;
  HWND window;
};

DWORD WINAPI ConfirmationThread(void *arg) {
  Confirmation *c = static_cast<Confirmation *>(arg);
  CoInitialize(nullptr);
  {
    CConfirmDlg dlg(c->lang, c->cancel);
    HWND w = dlg.Create(nullptr);
    c->window = w;
    if (w) {
      ShowWindow(w, SW_SHOW);
      SetForegroundWindow(w);
    }
    SetEvent(c->ready);
    MSG msg;
    while (w && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (!IsDialogMessageW(w, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  CoUninitialize();
  return 0;
}

}  // namespace

uint32_t WinDialogs::language() { return csp::languageIndexOf(host_.languageId()); }

// ---- the seam ------------------------------------------------------------------------------

int WinDialogs::askTwoButtons(int message, uint32_t tries) {
  const uint32_t lang = language();
  csp::TwoButtonTexts t = csp::twoButtonTexts(message, tries, lang);
  CMessageDlg dlg(IDD_MESSAGE_TWO, lang, t.text, t.first, t.second);
  INT_PTR r = dlg.DoModal(nullptr);
  return r == 1 || r == 2 ? int(r) : 0;
}

void WinDialogs::tell(int message) {
  const uint32_t lang = language();
  CMessageDlg dlg(IDD_MESSAGE_ONE, lang, promptText(size_t(message), lang), csp::kTextOk,
                  csp::kTextOk);
  dlg.DoModal(nullptr);
}

int WinDialogs::confirmCancel() {
  const uint32_t lang = language();
  CMessageDlg dlg(IDD_CANCEL_CONFIRM, lang, promptText(csp::kTextCancelTransaction, lang),
                  csp::kTextContinue, csp::kTextPinCancel);
  INT_PTR r = dlg.DoModal(nullptr);
  return r == 1 || r == 2 ? int(r) : 0;
}

bool WinDialogs::enterPin(char *pin, size_t cap) {
  if (!pin || cap == 0) return false;
  pin[0] = 0;
  CPinDlg dlg(language(), pin, cap);
  // -1: the dialog could not be created; the flow ends as if it were cancelled.
  return dlg.DoModal(nullptr) == 1 && pin[0] != 0;
}

bool WinDialogs::selectDevice(const csp::DeviceChoice *lines, uint32_t count, uint32_t *chosen) {
  if (!lines || count == 0) return false;
  CSelectDeviceDlg dlg(language(), lines, count);
  if (dlg.DoModal(nullptr) != 1) return false;
  *chosen = dlg.chosen;
  return true;
}

uintptr_t WinDialogs::openWindow(csp::Modeless kind) {
  const uint32_t lang = language();
  CTipWnd *w;
  switch (kind) {
    case csp::Modeless::KeyGeneration:
      w = new CTipWnd(IDD_KEY_GENERATION, lang, csp::kTextTip, csp::kTextGenerating);
      break;
    case csp::Modeless::SetPinOnDevice:
      w = new CTipWnd(IDD_PIN_ON_DEVICE, lang, csp::kTextSetPinTitle, csp::kTextSetPinOnDevice);
      break;
    case csp::Modeless::PinOnDevice:
      w = new CTipWnd(IDD_PIN_ON_DEVICE, lang, csp::kTextInputPinTitle, csp::kTextInputPinOnDevice);
      break;
    default:
      w = new CTipWnd(IDD_CONFIRM_ON_DEVICE, lang, csp::kTextBlank, csp::kTextConfirmOnDevice);
      break;
  }
  if (!w->Create(nullptr)) {
    delete w;
    return 0;
  }
  // The calling thread goes on into a long token call: the window is drawn now.
  ShowWindow(w->m_hWnd, SW_SHOW);
  UpdateWindow(w->m_hWnd);
  return reinterpret_cast<uintptr_t>(w);
}

void WinDialogs::closeWindow(uintptr_t window) {
  CTipWnd *w = reinterpret_cast<CTipWnd *>(window);
  if (!w) return;
  w->DestroyWindow();
  delete w;
}

uintptr_t WinDialogs::openConfirmation(std::atomic<uint32_t> *cancel) {
  Confirmation *c = new Confirmation{language(), cancel, CreateEventW(nullptr, TRUE, FALSE, nullptr),
                                     nullptr, nullptr};
  if (c->ready) c->thread = CreateThread(nullptr, 0, ConfirmationThread, c, 0, nullptr);
  if (!c->thread) {
    if (c->ready) CloseHandle(c->ready);
    delete c;
    return 0;
  }
  HANDLE both[2] = {c->ready, c->thread};
  WaitForMultipleObjects(2, both, FALSE, kConfirmationStartMs);
  if (!c->window) {
    // The window could not be made: the thread ends (or has ended) without one.
    if (WaitForSingleObject(c->thread, kConfirmationEndMs) == WAIT_OBJECT_0) {
      CloseHandle(c->thread);
      CloseHandle(c->ready);
      delete c;
    }
    return 0;
  }
  return reinterpret_cast<uintptr_t>(c);
}

void WinDialogs::closeConfirmation(uintptr_t window, uint32_t result) {
  Confirmation *c = reinterpret_cast<Confirmation *>(window);
  if (!c) return;
  // Still open (the user did not cancel): the signing result closes it.
  if (IsWindow(c->window))
    SendMessageW(c->window, WM_COMMAND, MAKEWPARAM(IDC_SIGNING_DONE, 0), LPARAM(result));
  if (WaitForSingleObject(c->thread, kConfirmationEndMs) != WAIT_OBJECT_0) return;  // still busy: kept
  CloseHandle(c->thread);
  CloseHandle(c->ready);
  delete c;
}

}  // namespace cspwin
