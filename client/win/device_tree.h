// The device tree: a tree-view control whose items are drawn by us (row filled, text shortened to
// 13 characters, tokens in bold) and whose tooltip shows the node under the mouse.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "tree_nodes.h"
#include "ui_window.h"

namespace client {

class CTreeCtrlWithCustomDraw : public ui::CWindowImpl<CTreeCtrlWithCustomDraw> {
 public:
  static const Map &GetMessageMap();
  ~CTreeCtrlWithCustomDraw();
  // Creates the tree control as a child of parent.
  bool Create(HWND parent, UINT id, const RECT &rect);
  // NM_CUSTOMDRAW as the parent receives it.
  LRESULT OnCustomDraw(NMTVCUSTOMDRAW *cd);

  CTreeNode *NodeOf(HTREEITEM item) const;
  CTreeNode *SelectedNode() const;
  HTREEITEM ItemAt(POINT client) const;
  HTREEITEM Insert(CTreeNode *node, HTREEITEM parent);

 protected:
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, bool &);

  HFONT certFont_ = nullptr, tokenFont_ = nullptr;
  HWND tooltip_ = nullptr;
  HTREEITEM tipItem_ = nullptr;
};

// The tree with a tooltip control ("tooltips_class32") for its items. The tooltip asks its
// owner (the main window) for the text through TTN_GETDISPINFOW.
class CTooltipTree : public CTreeCtrlWithCustomDraw {
 public:
  bool CreateTooltip(HWND owner);
  HWND Tooltip() const { return tooltip_; }
  // The item the tooltip is about (under the mouse when the tip was asked for).
  HTREEITEM TipItem() const { return tipItem_; }
};

}  // namespace client
