// The message-map layer in-process: a dialog from this program's resources routes commands,
// notifications and messages to the member handlers of its table, in order; a chained map sees
// what the class's own entries leave; modal dialogs end with their handler's value; the look
// paints the background, flattens push buttons and sets the font; windows of our own class and
// subclassed controls route through the same tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui_look.h"
#include "ui_window.h"

namespace {

class CProbeDlg : public ui::CDialogImpl<CProbeDlg> {
 public:
  CProbeDlg() : CDialogImpl(100) {}
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CProbeDlg::OnInitDialog),
        Map::Command(1002, &CProbeDlg::OnEditChange, EN_CHANGE),
        Map::CommandRange(1010, 1011, &CProbeDlg::OnRange),
        Map::Command(IDOK, &CProbeDlg::OnOk),
        Map::Command(IDCANCEL, &CProbeDlg::OnCancel),
        Map::Notify(777, NM_CLICK, &CProbeDlg::OnNotifyClick),
        Map::Message(WM_APP + 1, &CProbeDlg::OnDeclined),
        Map::Message(WM_APP + 1, &CProbeDlg::OnSecondChoice),
        Map::Chain(&CProbeDlg::OnChained),
    };
    return map;
  }
  std::vector<std::wstring> log;
  INT_PTR okResult = 5;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    log.push_back(L"init");
    SetItemText(1001, L"设置");
    return TRUE;
  }
  void OnEditChange(UINT id, UINT code, HWND) { log.push_back(L"change " + ItemText(id)); }
  void OnRange(UINT id, UINT, HWND) { log.push_back(L"range " + std::to_wstring(id)); }
  void OnOk(UINT, UINT, HWND) { EndDialog(okResult); }
  void OnCancel(UINT, UINT, HWND) { EndDialog(IDCANCEL); }
  LRESULT OnNotifyClick(NMHDR *h) {
    log.push_back(L"notify");
    return 42;
  }
  LRESULT OnDeclined(UINT, WPARAM, LPARAM, bool &handled) {
    handled = false;
    log.push_back(L"declined");
    return 1;
  }
  LRESULT OnSecondChoice(UINT, WPARAM w, LPARAM, bool &handled) {
    handled = w != 0;
    log.push_back(L"second");
    return 7;
  }
  bool OnChained(UINT msg, WPARAM, LPARAM, LRESULT &result) {
    if (msg != WM_APP + 2) return false;
    log.push_back(L"chained");
    result = 99;
    return true;
  }
};

TEST(DialogMessageMap, RoutesCommandsNotificationsAndMessagesThroughTheTable) {
  CProbeDlg dlg;
  ASSERT_NE(nullptr, dlg.Create(nullptr));
  ASSERT_EQ(1u, dlg.log.size());
  EXPECT_EQ(L"init", dlg.log[0]);
  EXPECT_EQ(L"设置", dlg.ItemText(1001));

  // Typing into the edit control reaches the EN_CHANGE entry with the new text.
  SetWindowTextW(dlg.Item(1002), L"abc");
  ASSERT_EQ(2u, dlg.log.size());
  EXPECT_EQ(L"change abc", dlg.log[1]);

  // A click on either button of the range reaches the range entry with its id.
  SendMessageW(dlg.Item(1011), BM_CLICK, 0, 0);
  SendMessageW(dlg.Item(1010), BM_CLICK, 0, 0);
  ASSERT_EQ(4u, dlg.log.size());
  EXPECT_EQ(L"range 1011", dlg.log[2]);
  EXPECT_EQ(L"range 1010", dlg.log[3]);

  // A notification answers through the dialog's message result.
  NMHDR h{dlg.Item(1002), 777, UINT(NM_CLICK)};
  SendMessageW(dlg.m_hWnd, WM_NOTIFY, 777, reinterpret_cast<LPARAM>(&h));
  EXPECT_EQ(42, GetWindowLongPtrW(dlg.m_hWnd, DWLP_MSGRESULT));
  NMHDR other{dlg.Item(1002), 778, UINT(NM_CLICK)};
  dlg.log.clear();
  SendMessageW(dlg.m_hWnd, WM_NOTIFY, 778, reinterpret_cast<LPARAM>(&other));
  EXPECT_TRUE(dlg.log.empty());  // another control's notification is not ours

  // A handler that leaves `handled` false passes the message on to the next entry.
  dlg.log.clear();
  SendMessageW(dlg.m_hWnd, WM_APP + 1, 1, 0);
  EXPECT_EQ((std::vector<std::wstring>{L"declined", L"second"}), dlg.log);
  EXPECT_EQ(7, GetWindowLongPtrW(dlg.m_hWnd, DWLP_MSGRESULT));

  // The chained map sees what the class's entries leave.
  dlg.log.clear();
  SendMessageW(dlg.m_hWnd, WM_APP + 2, 0, 0);
  EXPECT_EQ((std::vector<std::wstring>{L"chained"}), dlg.log);
  EXPECT_EQ(99, GetWindowLongPtrW(dlg.m_hWnd, DWLP_MSGRESULT));

  dlg.DestroyWindow();
  EXPECT_EQ(nullptr, dlg.m_hWnd);
}

// Presses OK of the test dialog once it runs its own loop.
void CALLBACK PressOk(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND w = FindWindowW(L"#32770", L"模板");
  if (w) SendMessageW(GetDlgItem(w, IDOK), BM_CLICK, 0, 0);
}

TEST(DialogMessageMap, ModalDialogEndsWithTheHandlersValue) {
  CProbeDlg dlg;
  dlg.okResult = 1234;
  SetTimer(nullptr, 0, 10, PressOk);
  EXPECT_EQ(1234, dlg.DoModal(nullptr));
  EXPECT_EQ(nullptr, dlg.m_hWnd);
}

TEST(DialogMessageMap, MissingTemplateFailsInsteadOfShowingNothing) {
  class CMissing : public ui::CDialogImpl<CMissing> {
   public:
    CMissing() : CDialogImpl(4242) {}
    static const Map &GetMessageMap() {
      static const Map map = {};
      return map;
    }
  } dlg;
  EXPECT_EQ(nullptr, dlg.Create(nullptr));
  EXPECT_EQ(-1, dlg.DoModal(nullptr));
}

TEST(DialogLook, BackgroundFlatButtonsAndFont) {
  ui::CDialogLook look;
  CProbeDlg dlg;
  dlg.UseLook(&look);
  ASSERT_NE(nullptr, dlg.Create(nullptr));

  HDC dc = GetDC(dlg.m_hWnd);
  LRESULT brush = SendMessageW(dlg.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(dlg.Item(1001)));
  EXPECT_EQ(reinterpret_cast<LRESULT>(look.Brush()), brush);
  EXPECT_EQ(reinterpret_cast<LRESULT>(look.Brush()),
            SendMessageW(dlg.m_hWnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(dlg.m_hWnd)));
  ReleaseDC(dlg.m_hWnd, dc);

  // Push buttons are flat (owner-drawn); the check box keeps its own type.
  for (int id : {IDOK, IDCANCEL, 1010, 1011})
    EXPECT_EQ(BS_OWNERDRAW, GetWindowLongW(dlg.Item(id), GWL_STYLE) & BS_TYPEMASK) << id;
  EXPECT_EQ(BS_AUTOCHECKBOX, GetWindowLongW(dlg.Item(1003), GWL_STYLE) & BS_TYPEMASK);
  for (int id : {1001, 1002, 1003, IDOK})
    EXPECT_EQ(reinterpret_cast<LRESULT>(look.Font()), SendMessageW(dlg.Item(id), WM_GETFONT, 0, 0));

  // A flat button still clicks, and draws itself when its parent asks.
  dlg.log.clear();
  SendMessageW(dlg.Item(1010), BM_CLICK, 0, 0);
  EXPECT_EQ((std::vector<std::wstring>{L"range 1010"}), dlg.log);
  HDC bdc = GetDC(dlg.Item(IDOK));
  DRAWITEMSTRUCT d{};
  d.CtlType = ODT_BUTTON;
  d.CtlID = IDOK;
  d.hwndItem = dlg.Item(IDOK);
  d.hDC = bdc;
  GetClientRect(d.hwndItem, &d.rcItem);
  EXPECT_TRUE(SendMessageW(dlg.m_hWnd, WM_DRAWITEM, IDOK, reinterpret_cast<LPARAM>(&d)));
  ReleaseDC(dlg.Item(IDOK), bdc);
  dlg.DestroyWindow();
}

TEST(Fonts, DialogFontHasTheRequestedHeightAndWeight) {
  HFONT f = ui::MakeDialogFont(FW_BOLD);
  ASSERT_NE(nullptr, f);
  LOGFONTW lf{};
  GetObjectW(f, sizeof lf, &lf);
  EXPECT_EQ(-12, lf.lfHeight);
  EXPECT_EQ(FW_BOLD, lf.lfWeight);
  EXPECT_NE(0, lf.lfFaceName[0]);
  DeleteObject(f);
  HFONT k = ui::MakeFont(L"楷体", ui::PointsToHeight(14), FW_BOLD, GB2312_CHARSET);
  GetObjectW(k, sizeof lf, &lf);
  EXPECT_STREQ(L"楷体", lf.lfFaceName);
  EXPECT_EQ(GB2312_CHARSET, lf.lfCharSet);
  EXPECT_LT(lf.lfHeight, 0);
  DeleteObject(k);
}

// An edit control taken over: pasting does nothing, every other message goes on as before.
class CNoPasteEdit : public ui::CWindowImpl<CNoPasteEdit> {
 public:
  static const Map &GetMessageMap() {
    static const Map map = {Map::Message(WM_PASTE, &CNoPasteEdit::OnPaste)};
    return map;
  }
  int pastes = 0;

 private:
  LRESULT OnPaste(UINT, WPARAM, LPARAM, bool &) {
    ++pastes;
    return 0;
  }
};

TEST(WindowMessageMap, SubclassedControlKeepsItsOwnBehaviourBesideOurEntries) {
  CProbeDlg dlg;
  ASSERT_NE(nullptr, dlg.Create(nullptr));
  CNoPasteEdit edit;
  ASSERT_TRUE(edit.Subclass(dlg.Item(1002)));
  EXPECT_FALSE(edit.Subclass(dlg.Item(1002)));  // one object, one window
  SendMessageW(dlg.Item(1002), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed"));
  SendMessageW(dlg.Item(1002), WM_PASTE, 0, 0);
  EXPECT_EQ(1, edit.pastes);
  EXPECT_EQ(L"typed", dlg.ItemText(1002));
  dlg.DestroyWindow();
  EXPECT_EQ(nullptr, edit.m_hWnd);  // released with the window
}

class CCounterWnd : public ui::CWindowImpl<CCounterWnd> {
 public:
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_CREATE, &CCounterWnd::OnCreate),
        Map::Message(WM_APP, &CCounterWnd::OnCount),
    };
    return map;
  }
  int created = 0, counted = 0;
  bool finalMessage = false;

 private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM, bool &) {
    ++created;
    return 0;
  }
  LRESULT OnCount(UINT, WPARAM w, LPARAM, bool &) {
    counted += int(w);
    return counted;
  }
  void OnFinalMessage() override { finalMessage = true; }
};

TEST(WindowMessageMap, WindowOfOurOwnClass) {
  CCounterWnd w;
  RECT r{0, 0, 100, 50};
  ASSERT_NE(nullptr, w.Create(L"UkTestCounterWnd", nullptr, r, WS_POPUP));
  EXPECT_EQ(1, w.created);
  EXPECT_EQ(3, SendMessageW(w.m_hWnd, WM_APP, 3, 0));
  EXPECT_EQ(5, SendMessageW(w.m_hWnd, WM_APP, 2, 0));
  wchar_t cls[64];
  GetClassNameW(w.m_hWnd, cls, 64);
  EXPECT_STREQ(L"UkTestCounterWnd", cls);
  // A second window of the same class reuses the registration.
  CCounterWnd w2;
  ASSERT_NE(nullptr, w2.Create(L"UkTestCounterWnd", nullptr, r, WS_POPUP));
  w.DestroyWindow();
  EXPECT_TRUE(w.finalMessage);
  EXPECT_EQ(nullptr, w.m_hWnd);
}

TEST(DialogClass, CopyOfTheStandardDialogClassUnderAnotherName) {
  ASSERT_TRUE(ui::RegisterDialogClass(L"UkTestDialogClass"));
  ASSERT_TRUE(ui::RegisterDialogClass(L"UkTestDialogClass"));  // twice is fine
  WNDCLASSEXW mine{}, std{};
  mine.cbSize = std.cbSize = sizeof mine;
  ASSERT_TRUE(GetClassInfoExW(ui::ThisModule(), L"UkTestDialogClass", &mine));
  ASSERT_TRUE(GetClassInfoExW(nullptr, L"#32770", &std));
  EXPECT_EQ(std.cbWndExtra, mine.cbWndExtra);
  EXPECT_EQ(std.style, mine.style);
}

}  // namespace
