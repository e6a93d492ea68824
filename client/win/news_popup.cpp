#include "news_popup.h"

#include <commctrl.h>

#include <algorithm>
#include <process.h>
#include <shellapi.h>

#include "client_text.h"
#include "news_center.h"
#include "news_net.h"
#include "resource.h"
#include "picture_ex_wnd.h"
#include "ui_window.h"

namespace client {

namespace {

constexpr BYTE kAlphaAway = 102, kAlphaOver = 255;
constexpr UINT_PTR kTimerLife = 1;  // one minute at most
constexpr UINT kPictureDone = WM_APP + 20;
constexpr COLORREF kTextColor = RGB(85, 95, 104);
constexpr COLORREF kPanelColor = RGB(205, 213, 224);
constexpr int kPictureMax = 85;
const wchar_t kFace[] = L"\u5b8b\u4f53";  // 宋体

// A picture file of the cache in movable global memory, for the animated picture window; the
// block stays with the caller while the window shows it. Null for anything that is not a picture.
HGLOBAL ReadPictureFile(const std::wstring &path, DWORD &size) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER length{};
  HGLOBAL mem = nullptr;
  if (GetFileSizeEx(f, &length) && length.QuadPart > 0 && length.QuadPart <= LONGLONG(kNewsMaxPictureBytes)) {
    size = DWORD(length.QuadPart);
    mem = GlobalAlloc(GMEM_MOVEABLE, size);
    void *p = mem ? GlobalLock(mem) : nullptr;
    DWORD got = 0;
    const bool ok = p && ReadFile(f, p, size, &got, nullptr) && got == size &&
                    LooksLikePicture(static_cast<const uint8_t *>(p), size);
    if (p) GlobalUnlock(mem);
    if (!ok && mem) GlobalFree(mem), mem = nullptr;
  }
  CloseHandle(f);
  return mem;
}

HFONT MakeFont(int pixels, bool bold) {
  return CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                     CLEARTYPE_QUALITY, 0, kFace);
}

void OpenWebLink(const std::wstring &link) {
  if (IsWebLink(link)) ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// What both popups share: the background bitmap and its region, the place at the work area's
// corner, translucency with hover tracking, the two closing timers and the close mark.
template <class T>
class CNewsPopBase : public ui::CDialogImpl<T> {
 protected:
  CNewsPopBase(UINT dialog, UINT background, UINT_PTR fadeTimer, const NewsPopupData &data)
      : ui::CDialogImpl<T>(dialog), background_(background), fadeTimer_(fadeTimer), data_(data) {}
  ~CNewsPopBase() override {
    if (bitmap_) DeleteObject(bitmap_);
  }

  HWND Wnd() const { return this->m_hWnd; }

  void InitFrame() {
    HWND w = Wnd();
    SetWindowTextW(w, LangString(215));
    bitmap_ = static_cast<HBITMAP>(LoadImageW(ui::ThisModule(), MAKEINTRESOURCEW(background_), IMAGE_BITMAP, 0, 0, 0));
    BITMAP bm{};
    if (bitmap_) GetObjectW(bitmap_, sizeof bm, &bm);
    width_ = bm.bmWidth ? bm.bmWidth : 240;
    height_ = bm.bmHeight ? bm.bmHeight : 150;
    SetWindowLongPtrW(w, GWL_EXSTYLE, GetWindowLongPtrW(w, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(w, HWND_TOPMOST, work.right - width_, work.bottom - height_, width_, height_, SWP_NOACTIVATE);
    if (HRGN region = RegionWithoutRed()) SetWindowRgn(w, region, FALSE);
    SetLayeredWindowAttributes(w, 0, kAlphaAway, LWA_ALPHA);
    SetWindowPos(GetDlgItem(w, IDC_NEWS_CLOSE), nullptr, width_ - 22, 5, 14, 14, SWP_NOZORDER);
    if (close_.Subclass(GetDlgItem(w, IDC_NEWS_CLOSE))) ShowCloseMark(false);
    SetTimer(w, kTimerLife, 60000, nullptr);
    SetTimer(w, fadeTimer_, UINT(data_.seconds) * 1000, nullptr);
  }

  // The bitmap's pixels other than pure red, row by row.
  HRGN RegionWithoutRed() const {
    if (!bitmap_) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap_);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_;) {
        while (x < width_ && GetPixel(dc, x, y) == RGB(255, 0, 0)) ++x;
        const int start = x;
        while (x < width_ && GetPixel(dc, x, y) != RGB(255, 0, 0)) ++x;
        if (x > start) {
          HRGN run = CreateRectRgn(start, y, x, y + 1);
          CombineRgn(region, region, run, RGN_OR);
          DeleteObject(run);
        }
      }
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    return region;
  }

  void PaintFrame(HDC dc) {
    if (bitmap_) {
      HDC mem = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(mem, bitmap_);
      BitBlt(dc, 0, 0, width_, height_, mem, 0, 0, SRCCOPY);
      SelectObject(mem, old);
      DeleteDC(mem);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT band{10, 0, width_ - 30, 24};
    HFONT font = MakeFont(12, true);
    HGDIOBJ oldFont = SelectObject(dc, font);
    DrawTextW(dc, LangString(215), -1, &band, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    DeleteObject(font);
  }

  // The close mark: GIF 266, and 267 while the cursor is on it.
  void ShowCloseMark(bool hover) {
    close_.Stop();
    close_.UnLoad();
    if (close_.Load(ui::ThisModule(), MAKEINTRESOURCEW(hover ? IDR_GIF_CLOSE_HOVER : IDR_GIF_CLOSE), L"GIF")) {
      close_.SetBkColor(RGB(64, 112, 170));
      close_.Draw();
    }
  }

  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Wnd(), &ps);
    static_cast<T *>(this)->Paint(dc);
    EndPaint(Wnd(), &ps);
    return 0;
  }
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, bool &) { return TRUE; }

  LRESULT OnCtlColorStatic(UINT, WPARAM wParam, LPARAM, bool &) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, kTextColor);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }

  // The mouse over the window (or a child): opaque and no fading until it leaves.
  void MouseOver() {
    if (!tracking_) {
      TRACKMOUSEEVENT t{sizeof t, TME_LEAVE | TME_HOVER, Wnd(), 1};
      tracking_ = TrackMouseEvent(&t) != FALSE;
    }
    KillTimer(Wnd(), fadeTimer_);
    SetLayeredWindowAttributes(Wnd(), 0, kAlphaOver, LWA_ALPHA);
  }
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, bool &) {
    MouseOver();
    return 0;
  }
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, bool &) {
    POINT p;
    GetCursorPos(&p);
    tracking_ = false;
    if (WindowFromPoint(p) && (WindowFromPoint(p) == Wnd() || IsChild(Wnd(), WindowFromPoint(p)))) return 0;
    SetTimer(Wnd(), fadeTimer_, UINT(data_.seconds) * 1000, nullptr);
    SetLayeredWindowAttributes(Wnd(), 0, kAlphaAway, LWA_ALPHA);
    return 0;
  }
  LRESULT OnTimer(UINT, WPARAM id, LPARAM, bool &handled) {
    if (id != kTimerLife && id != fadeTimer_) {
      handled = false;
      return 0;
    }
    Close();
    return 0;
  }
  // Hand over the title, the content and the close mark (the multiple popup: the close mark).
  LRESULT OnSetCursor(UINT, WPARAM wParam, LPARAM, bool &) {
    HWND over = reinterpret_cast<HWND>(wParam);
    const int id = over == Wnd() ? 0 : GetDlgCtrlID(over);
    MouseOver();
    const bool close = id == IDC_NEWS_CLOSE;
    if (close != overClose_) {
      overClose_ = close;
      ShowCloseMark(close);
    }
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(static_cast<T *>(this)->HandOver(id) ? 32649 : 32512)));  // hand, arrow
    return TRUE;
  }
  void OnClose(UINT, UINT, HWND) { Close(); }
  void Close() {
    KillTimer(Wnd(), kTimerLife);
    KillTimer(Wnd(), fadeTimer_);
    this->DestroyWindow();
  }
  void OnFinalMessage() override { delete static_cast<T *>(this); }

  // Reports the click and opens the item's link (the caller decides whether it may be opened).
  void Report(const NewsItem &item) const {
    if (data_.center) data_.center->ReportClick(data_.serial, item.className);
  }

  UINT background_;
  UINT_PTR fadeTimer_;
  NewsPopupData data_;
  HBITMAP bitmap_ = nullptr;
  int width_ = 0, height_ = 0;
  bool tracking_ = false, overClose_ = false;
  ui::CPictureExWnd close_;
};

// ---- one item ----------------------------------------------------------------------------

class CNewsPopShow : public CNewsPopBase<CNewsPopShow> {
 public:
  using Map = ui::MessageMap<CNewsPopShow>;
  explicit CNewsPopShow(const NewsPopupData &data) : CNewsPopBase(IDD_NEWSPOP, IDB_NEWSPOP, 5, data) {
    item_ = data.items.front();
    link_ = item_.link.empty() ? data.defaultLink : item_.link;
  }
  ~CNewsPopShow() override {
    if (titleFont_) DeleteObject(titleFont_);
    if (textFont_) DeleteObject(textFont_);
    if (pictureFile_) GlobalFree(pictureFile_);
  }
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CNewsPopShow::OnInitDialog),
        Map::Message(WM_PAINT, &CNewsPopShow::OnPaint),
        Map::Message(WM_ERASEBKGND, &CNewsPopShow::OnEraseBkgnd),
        Map::Message(WM_CTLCOLORSTATIC, &CNewsPopShow::OnCtlColorStatic),
        Map::Message(WM_MOUSEMOVE, &CNewsPopShow::OnMouseMove),
        Map::Message(WM_MOUSELEAVE, &CNewsPopShow::OnMouseLeave),
        Map::Message(WM_SETCURSOR, &CNewsPopShow::OnSetCursor),
        Map::Message(WM_TIMER, &CNewsPopShow::OnTimer),
        Map::Message(kPictureDone, &CNewsPopShow::OnPictureDone),
        Map::Command(IDC_NEWS_CLOSE, &CNewsPopShow::OnClose),
        Map::Command(IDCANCEL, &CNewsPopShow::OnClose),
        Map::Command(IDC_NEWS_TITLE, &CNewsPopShow::OnItemClick),
        Map::Command(IDC_NEWS_CONTENT, &CNewsPopShow::OnItemClick),
    };
    return map;
  }
  void Paint(HDC dc) {
    PaintFrame(dc);
    HBRUSH panel = CreateSolidBrush(kPanelColor);
    FillRect(dc, &pictureBox_, panel);
    DeleteObject(panel);
  }
  bool HandOver(int id) const { return id == IDC_NEWS_TITLE || id == IDC_NEWS_CONTENT || id == IDC_NEWS_CLOSE; }

 private:
  struct PictureJob {
    HWND window;
    std::wstring address;
    NewsProxy proxy;
  };

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    InitFrame();
    titleFont_ = MakeFont(15, true);
    textFont_ = MakeFont(12, false);
    SendDlgItemMessageW(m_hWnd, IDC_NEWS_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), FALSE);
    SendDlgItemMessageW(m_hWnd, IDC_NEWS_CONTENT, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_), FALSE);
    SetWindowPos(GetDlgItem(m_hWnd, IDC_NEWS_TITLE), nullptr, 10, 30, width_ - 20, 20, SWP_NOZORDER);
    pictureBox_ = RECT{10, 54, 10 + kPictureMax, 54 + kPictureMax};
    SetWindowPos(GetDlgItem(m_hWnd, IDC_NEWS_PICTURE), nullptr, 10, 54, kPictureMax, kPictureMax, SWP_NOZORDER);
    picture_.Subclass(GetDlgItem(m_hWnd, IDC_NEWS_PICTURE));
    SetWindowPos(GetDlgItem(m_hWnd, IDC_NEWS_CONTENT), nullptr, 20 + kPictureMax, 56, width_ - 30 - kPictureMax,
                 height_ - 64, SWP_NOZORDER);
    SetItemText(IDC_NEWS_TITLE, item_.title.c_str());
    SetItemText(IDC_NEWS_CONTENT, NewsPopupContent(item_.content).c_str());
    if (!item_.pic.empty()) {
      ShowResource(IDR_GIF_LOADING);
      PictureJob *job = new PictureJob{m_hWnd, item_.pic, data_.center ? data_.center->Proxy() : NewsProxy{}};
      HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, PictureThread, job, 0, nullptr));
      if (t) CloseHandle(t);
      else delete job;
    } else {
      ShowResource(IDR_GIF_NOPICTURE);
    }
    return FALSE;
  }
  void ShowResource(UINT id) {
    if (picture_.Load(ui::ThisModule(), MAKEINTRESOURCEW(id), L"GIF")) Show();
  }
  void Show() {
    picture_.SetBkColor(kPanelColor);
    picture_.FitInto(pictureBox_);  // a larger picture is scaled down, whole
    picture_.Draw();
  }
  static unsigned __stdcall PictureThread(void *p) {
    PictureJob *job = static_cast<PictureJob *>(p);
    std::wstring *path = new std::wstring;
    if (!DownloadNewsPicture(job->address, job->proxy, *path) ||
        !PostMessageW(job->window, kPictureDone, 0, reinterpret_cast<LPARAM>(path)))
      delete path;  // a failed download leaves the waiting picture
    delete job;
    return 0;
  }
  LRESULT OnPictureDone(UINT, WPARAM, LPARAM lParam, bool &) {
    std::wstring *path = reinterpret_cast<std::wstring *>(lParam);
    DWORD size = 0;
    HGLOBAL file = ReadPictureFile(*path, size);
    delete path;
    if (!file) return 0;  // not a picture: the waiting animation stays
    picture_.Stop();
    picture_.UnLoad();
    if (pictureFile_) GlobalFree(pictureFile_);
    pictureFile_ = file;
    if (picture_.Load(pictureFile_, size)) Show();
    InvalidateRect(m_hWnd, &pictureBox_, FALSE);
    return 0;
  }
  // The title or the content: report, and open the link unless it is the bank's default page.
  void OnItemClick(UINT, UINT code, HWND) {
    if (code != STN_CLICKED) return;
    Report(item_);
    if (link_ != data_.defaultLink) OpenWebLink(link_);
  }

  NewsItem item_;
  std::wstring link_;
  HFONT titleFont_ = nullptr, textFont_ = nullptr;
  ui::CPictureExWnd picture_;
  HGLOBAL pictureFile_ = nullptr;
  RECT pictureBox_{};
};

// ---- several items -----------------------------------------------------------------------

class CNewsPopMultShow : public CNewsPopBase<CNewsPopMultShow> {
 public:
  using Map = ui::MessageMap<CNewsPopMultShow>;
  explicit CNewsPopMultShow(const NewsPopupData &data) : CNewsPopBase(IDD_NEWSPOPMULT, IDB_NEWSPOPMULT, 6, data) {}
  ~CNewsPopMultShow() override {
    if (font_) DeleteObject(font_);
  }
  static const Map &GetMessageMap() {
    static const Map map = {
        Map::Message(WM_INITDIALOG, &CNewsPopMultShow::OnInitDialog),
        Map::Message(WM_PAINT, &CNewsPopMultShow::OnPaint),
        Map::Message(WM_ERASEBKGND, &CNewsPopMultShow::OnEraseBkgnd),
        Map::Message(WM_CTLCOLORSTATIC, &CNewsPopMultShow::OnCtlColorStatic),
        Map::Message(WM_MOUSEMOVE, &CNewsPopMultShow::OnMouseMove),
        Map::Message(WM_MOUSELEAVE, &CNewsPopMultShow::OnMouseLeave),
        Map::Message(WM_SETCURSOR, &CNewsPopMultShow::OnSetCursor),
        Map::Message(WM_TIMER, &CNewsPopMultShow::OnTimer),
        Map::Command(IDC_NEWS_CLOSE, &CNewsPopMultShow::OnClose),
        Map::Command(IDCANCEL, &CNewsPopMultShow::OnClose),
        Map::Notify(IDC_TREE, NM_CLICK, &CNewsPopMultShow::OnTreeClick),
    };
    return map;
  }
  void Paint(HDC dc) { PaintFrame(dc); }
  bool HandOver(int id) const { return id == IDC_NEWS_CLOSE; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
    InitFrame();
    HWND tree = GetDlgItem(m_hWnd, IDC_TREE);
    font_ = MakeFont(12, false);
    SendMessageW(tree, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SetWindowPos(tree, nullptr, 6, 28, width_ - 12, height_ - 34, SWP_NOZORDER);
    TreeView_SetItemHeight(tree, 24);
    TreeView_SetBkColor(tree, kPanelColor);
    TreeView_SetTextColor(tree, kTextColor);
    HTREEITEM first = nullptr;
    for (size_t k = data_.items.size(); k-- > 0;) {
      const NewsItem &i = data_.items[k];
      TVINSERTSTRUCTW ins{};
      ins.hParent = TVI_ROOT;
      ins.hInsertAfter = TVI_LAST;
      ins.item.mask = TVIF_TEXT;
      std::wstring title = i.title;
      ins.item.pszText = &title[0];
      HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
      if (!first) first = root;
      std::wstring content = i.content.empty() ? NewsPopupContent(L"") : i.content;
      ins.hParent = root;
      ins.item.pszText = &content[0];
      SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
    }
    if (first) TreeView_Expand(tree, first, TVE_EXPAND);
    return FALSE;
  }
  // A click on a content entry opens the item whose title is its parent's text.
  LRESULT OnTreeClick(NMHDR *h) {
    TVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(h->hwndFrom, &hit.pt);
    HTREEITEM item = TreeView_HitTest(h->hwndFrom, &hit);
    HTREEITEM parent = item ? TreeView_GetParent(h->hwndFrom, item) : nullptr;
    if (!parent || !(hit.flags & TVHT_ONITEM)) return 0;
    wchar_t text[kNewsMaxTextLength + 1] = {0};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = parent;
    tv.pszText = text;
    tv.cchTextMax = int(kNewsMaxTextLength + 1);
    SendMessageW(h->hwndFrom, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    for (const NewsItem &i : data_.items) {
      if (i.title != text) continue;
      Report(i);
      if (!i.link.empty()) OpenWebLink(i.link);
      break;
    }
    return 0;
  }

  HFONT font_ = nullptr;
};

}  // namespace

HWND ShowNewsPopup(HWND owner, const NewsPopupData &data) {
  if (data.items.empty()) return nullptr;
  HWND w = nullptr;
  if (data.items.size() == 1) {
    auto *pop = new CNewsPopShow(data);
    w = pop->Create(owner);
    if (!w) delete pop;
  } else {
    auto *pop = new CNewsPopMultShow(data);
    w = pop->Create(owner);
    if (!w) delete pop;
  }
  if (w) ShowWindow(w, SW_SHOWNOACTIVATE);
  return w;
}

}  // namespace client
