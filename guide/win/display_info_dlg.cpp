#include "display_info_dlg.h"

#include <commctrl.h>

#include "guide_steps.h"
#include "guide_text.h"
#include "resource.h"
#include "ui_look.h"

namespace guide {

namespace {

constexpr int kColumnWidth = 470, kIconSize = 18;
constexpr COLORREF kIconMask = RGB(255, 0, 255);

COLORREF StateColour(int state) {
  switch (state) {
    case kDetailRepairing: return RGB(0, 0, 255);
    case kDetailFailed: return RGB(255, 0, 0);
    default: return RGB(0, 0, 0);
  }
}

}  // namespace

CDisplayInfoDlg::CDisplayInfoDlg(HWND page, HWND guide)
    : CDialogImpl(IDD_DETAILS), page_(page), guide_(guide) {}

CDisplayInfoDlg::~CDisplayInfoDlg() {
  DestroyWindow();
  if (images_) ImageList_Destroy(images_);
}

const CDisplayInfoDlg::Map &CDisplayInfoDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CDisplayInfoDlg::OnInitDialog),
      Map::Message(WM_CLOSE, &CDisplayInfoDlg::OnClose),
      Map::Command(IDC_DETAIL_OK, &CDisplayInfoDlg::OnOk),
      Map::Command(IDCANCEL, &CDisplayInfoDlg::OnCancel),
      Map::Notify(IDC_DETAIL_LIST, NM_CUSTOMDRAW, &CDisplayInfoDlg::OnCustomDraw),
  };
  return map;
}

LRESULT CDisplayInfoDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  SetTitle(GetGuideText(kTextDetailTitle));
  SetItemText(IDC_DETAIL_OK, GetGuideText(kTextDetailOk));
  ui::CMyButton::Attach(Item(IDC_DETAIL_OK));
  HWND list = Item(IDC_DETAIL_LIST);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = kColumnWidth;
  column.pszText = const_cast<wchar_t *>(L"Info");
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  images_ = ImageList_Create(kIconSize, kIconSize, ILC_COLOR24 | ILC_MASK, 3, 0);
  for (int id : {IDB_STATE_DONE, IDB_STATE_REPAIRING, IDB_STATE_FAILED}) {
    HBITMAP b = static_cast<HBITMAP>(
        LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ImageList_AddMasked(images_, b, kIconMask);
    DeleteObject(b);
  }
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
  int x = GetSystemMetrics(SM_CXSCREEN) / 2 + 63, y = GetSystemMetrics(SM_CYSCREEN) / 2 - 180;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

void CDisplayInfoDlg::Insert(int index, int state, const std::wstring &text) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = index;
  item.iImage = state;
  item.lParam = state;
  item.pszText = const_cast<wchar_t *>(text.c_str());
  HWND list = Item(IDC_DETAIL_LIST);
  // The column grows to the widest line (icon, margins and text), so that scrolling the list
  // sideways shows every line whole.
  int needed = int(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str()))) +
               kIconSize + 16;
  if (needed > int(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)))
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, needed);
  int at = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (at >= 0) SendMessageW(list, LVM_ENSUREVISIBLE, WPARAM(at), FALSE);
}

void CDisplayInfoDlg::AddLine(int state, const std::wstring &text) {
  Insert(int(SendMessageW(Item(IDC_DETAIL_LIST), LVM_GETITEMCOUNT, 0, 0)), state, text);
}

void CDisplayInfoDlg::ReplaceLastLine(int state, const std::wstring &text) {
  HWND list = Item(IDC_DETAIL_LIST);
  int last = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
  if (last < 0) last = 0;
  else SendMessageW(list, LVM_DELETEITEM, WPARAM(last), 0);
  Insert(last, state, text);
}

void CDisplayInfoDlg::Clear() { SendMessageW(Item(IDC_DETAIL_LIST), LVM_DELETEALLITEMS, 0, 0); }

void CDisplayInfoDlg::SetShown(bool shown) {
  shown_ = shown;
  ShowWindow(m_hWnd, shown ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void CDisplayInfoDlg::Toggle() {
  bool shown = !shown_;
  SetShown(shown);
  SendMessageW(page_, WM_GUIDE_DETAILS, 0, shown ? 1 : 0);
}

void CDisplayInfoDlg::HideByUser() {
  SetShown(false);
  SendMessageW(page_, WM_GUIDE_DETAILS, 0, 0);
}

LRESULT CDisplayInfoDlg::OnClose(UINT, WPARAM, LPARAM, bool &) {
  HideByUser();
  return 0;
}

void CDisplayInfoDlg::OnOk(UINT, UINT, HWND) { HideByUser(); }

// Escape ends the guide, as in the main window.
void CDisplayInfoDlg::OnCancel(UINT, UINT, HWND) { SendMessageW(guide_, WM_COMMAND, IDCANCEL, 0); }

LRESULT CDisplayInfoDlg::OnCustomDraw(NMHDR *header) {
  NMLVCUSTOMDRAW *cd = reinterpret_cast<NMLVCUSTOMDRAW *>(header);
  if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
    cd->clrText = StateColour(int(cd->nmcd.lItemlParam));
    return CDRF_DODEFAULT;
  }
  return CDRF_DODEFAULT;
}

}  // namespace guide
