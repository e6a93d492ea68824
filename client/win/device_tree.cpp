#include "device_tree.h"

#include <windowsx.h>

#include "ui_look.h"

namespace client {

const CTreeCtrlWithCustomDraw::Map &CTreeCtrlWithCustomDraw::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_MOUSEMOVE, &CTreeCtrlWithCustomDraw::OnMouseMove),
  };
  return map;
}

CTreeCtrlWithCustomDraw::~CTreeCtrlWithCustomDraw() {
  if (certFont_) DeleteObject(certFont_);
  if (tokenFont_) DeleteObject(tokenFont_);
}

bool CTreeCtrlWithCustomDraw::Create(HWND parent, UINT id, const RECT &r) {
  HWND tree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TVS_HASBUTTONS |
                                  TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_NOTOOLTIPS,
                              r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ui::ThisModule(), nullptr);
  if (!tree) return false;
  certFont_ = ui::MakeFont(L"宋体", 12, FW_NORMAL);
  tokenFont_ = ui::MakeFont(L"宋体", 12, FW_BOLD);
  return Subclass(tree);
}

CTreeNode *CTreeCtrlWithCustomDraw::NodeOf(HTREEITEM item) const {
  if (!item) return nullptr;
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_HANDLE;
  it.hItem = item;
  if (!SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return nullptr;
  return reinterpret_cast<CTreeNode *>(it.lParam);
}

CTreeNode *CTreeCtrlWithCustomDraw::SelectedNode() const { return NodeOf(TreeView_GetSelection(m_hWnd)); }

HTREEITEM CTreeCtrlWithCustomDraw::ItemAt(POINT pt) const {
  TVHITTESTINFO hit{};
  hit.pt = pt;
  HTREEITEM item = TreeView_HitTest(m_hWnd, &hit);
  return (hit.flags & (TVHT_ONITEM | TVHT_ONITEMRIGHT | TVHT_ONITEMINDENT)) ? item : nullptr;
}

HTREEITEM CTreeCtrlWithCustomDraw::Insert(CTreeNode *node, HTREEITEM parent) {
  std::wstring text = node->GetText();
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent ? parent : TVI_ROOT;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  ins.item.pszText = const_cast<wchar_t *>(text.c_str());
  ins.item.iImage = node->image;
  ins.item.iSelectedImage = node->selectedImage;
  ins.item.lParam = reinterpret_cast<LPARAM>(node);
  return reinterpret_cast<HTREEITEM>(SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

LRESULT CTreeCtrlWithCustomDraw::OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, bool &handled) {
  handled = false;  // the tree keeps its own handling
  if (!tooltip_) return 0;
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  HTREEITEM item = ItemAt(pt);
  if (item != tipItem_) {
    // Another item: the tip text is asked for again.
    tipItem_ = item;
    SendMessageW(tooltip_, TTM_POP, 0, 0);
    SendMessageW(tooltip_, TTM_ACTIVATE, item != nullptr, 0);
  }
  MSG m{m_hWnd, msg, wParam, lParam, 0, {pt.x, pt.y}};
  SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
  return 0;
}

LRESULT CTreeCtrlWithCustomDraw::OnCustomDraw(NMTVCUSTOMDRAW *cd) {
  NMCUSTOMDRAW &n = cd->nmcd;
  if (n.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (n.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
  HTREEITEM item = reinterpret_cast<HTREEITEM>(n.dwItemSpec);
  CTreeNode *node = NodeOf(item);
  RECT row;
  if (!node || !TreeView_GetItemRect(m_hWnd, item, &row, TRUE)) return CDRF_DODEFAULT;
  RECT client;
  GetClientRect(m_hWnd, &client);
  bool child = TreeView_GetParent(m_hWnd, item) != nullptr;
  bool selected = (TreeView_GetItemState(m_hWnd, item, TVIS_SELECTED) & TVIS_SELECTED) != 0;
  HDC dc = n.hdc;
  // The row from the item to the right edge: the selection colour, or the tree's background.
  RECT fill{row.left - 28, row.top, client.right, row.bottom};
  HBRUSH b = CreateSolidBrush(selected ? RGB(205, 213, 224) : RGB(255, 255, 255));
  FillRect(dc, &fill, b);
  DeleteObject(b);
  HIMAGELIST images = TreeView_GetImageList(m_hWnd, TVSIL_NORMAL);
  int iconX = row.left - 26;
  if (images) ImageList_Draw(images, node->image, dc, iconX, row.top + (row.bottom - row.top - 24) / 2, ILD_TRANSPARENT);
  std::wstring text = TreeItemLabel(node->GetText());
  HGDIOBJ old = SelectObject(dc, child ? certFont_ : tokenFont_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(85, 95, 104));
  RECT t{row.left + (child ? 15 : 0) + 2, row.top, client.right - 2, row.bottom};
  RECT measure = t;
  DrawTextW(dc, text.c_str(), int(text.size()), &measure, DT_WORDBREAK | DT_CALCRECT);
  int h = measure.bottom - measure.top;
  if (h < row.bottom - row.top) t.top += (row.bottom - row.top - h) / 2;
  DrawTextW(dc, text.c_str(), int(text.size()), &t, DT_WORDBREAK);
  SelectObject(dc, old);
  return CDRF_SKIPDEFAULT;
}

bool CTooltipTree::CreateTooltip(HWND owner) {
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, ui::ThisModule(), nullptr);
  if (!tooltip_) return false;
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND;
  ti.hwnd = owner;
  ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  ti.lpszText = LPSTR_TEXTCALLBACKW;
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 420);  // lets "\n" break lines
  return true;
}

}  // namespace client
