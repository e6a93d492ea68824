#include "ui_loop.h"

#include <algorithm>


namespace ui {

void CMessageLoop::RemoveMessageFilter(CMessageFilter *f) {
  filters_.erase(std::remove(filters_.begin(), filters_.end(), f), filters_.end());
}

void CMessageLoop::RemoveIdleHandler(CIdleHandler *h) {
  idle_.erase(std::remove(idle_.begin(), idle_.end(), h), idle_.end());
}

int CMessageLoop::Run() {
  MSG msg;
  for (;;) {
    bool idle = true;
    while (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!idle) break;
      idle = false;
      for (CIdleHandler *h : idle_) idle |= h->OnIdle() != FALSE;
    }
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) return int(msg.wParam);
    if (r == -1) return -1;
    bool consumed = false;
    // Newest filter first: a dialog opened later gets its keys before the main window.
    for (auto it = filters_.rbegin(); it != filters_.rend() && !consumed; ++it)
      consumed = (*it)->PreTranslateMessage(&msg) != FALSE;
    if (consumed) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace ui
