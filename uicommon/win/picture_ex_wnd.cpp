#include "picture_ex_wnd.h"

#include <string.h>

#include "gif_blocks.h"
#include "picture_fit.h"

namespace ui {

namespace {

constexpr DWORD kStopWaitMs = 5000;
constexpr DWORD kShortFrameMs = 100;  // frames of 4 hundredths or less

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION &cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~Lock() { LeaveCriticalSection(&cs_); }
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;

 private:
  CRITICAL_SECTION &cs_;
};

void FillRectColor(HDC dc, const RECT &rect, COLORREF color) {
  HBRUSH b = CreateSolidBrush(color);
  FillRect(dc, &rect, b);
  DeleteObject(b);
}

// A memory device context with a bitmap of the screen's format.
bool MakeSurface(SIZE size, HDC *dc, HBITMAP *bitmap, HGDIOBJ *old) {
  HDC screen = GetDC(nullptr);
  *dc = CreateCompatibleDC(screen);
  *bitmap = CreateCompatibleBitmap(screen, size.cx > 0 ? size.cx : 1, size.cy > 0 ? size.cy : 1);
  ReleaseDC(nullptr, screen);
  if (!*dc || !*bitmap) {
    if (*dc) DeleteDC(*dc);
    if (*bitmap) DeleteObject(*bitmap);
    *dc = nullptr;
    *bitmap = nullptr;
    return false;
  }
  *old = SelectObject(*dc, *bitmap);
  return true;
}

void FreeSurface(HDC *dc, HBITMAP *bitmap, HGDIOBJ *old) {
  if (*dc) {
    SelectObject(*dc, *old);
    DeleteDC(*dc);
  }
  if (*bitmap) DeleteObject(*bitmap);
  *dc = nullptr;
  *bitmap = nullptr;
  *old = nullptr;
}

}  // namespace

CPictureExWnd::CPictureExWnd() {
  InitializeCriticalSection(&lock_);
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CPictureExWnd::~CPictureExWnd() {
  UnLoad();
  if (stopEvent_) CloseHandle(stopEvent_);
  DeleteCriticalSection(&lock_);
}

const CPictureExWnd::Map &CPictureExWnd::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_PAINT, &CPictureExWnd::OnPaint),
      Map::Message(WM_ERASEBKGND, &CPictureExWnd::OnEraseBackground),
      Map::Message(WM_DESTROY, &CPictureExWnd::OnDestroy),
  };
  return map;
}

// ---- loading -------------------------------------------------------------------------------

IPicture *CPictureExWnd::LoadPicture(const void *bytes, size_t size) {
  if (!size || size > 0x7FFFFFFF) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return nullptr;
  void *p = GlobalLock(copy);
  if (!p) {
    GlobalFree(copy);
    return nullptr;
  }
  memcpy(p, bytes, size);
  GlobalUnlock(copy);
  IStream *stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
    GlobalFree(copy);
    return nullptr;
  }
  IPicture *picture = nullptr;
  if (FAILED(OleLoadPicture(stream, LONG(size), FALSE, IID_IPicture,
                            reinterpret_cast<void **>(&picture))))
    picture = nullptr;
  stream->Release();  // frees the copy
  return picture;
}

SIZE CPictureExWnd::PictureSize(IPicture *picture) {
  OLE_XSIZE_HIMETRIC w = 0;
  OLE_YSIZE_HIMETRIC h = 0;
  picture->get_Width(&w);
  picture->get_Height(&h);
  HDC screen = GetDC(nullptr);
  SIZE s{MulDiv(w, GetDeviceCaps(screen, LOGPIXELSX), 2540),
         MulDiv(h, GetDeviceCaps(screen, LOGPIXELSY), 2540)};
  ReleaseDC(nullptr, screen);
  return s;
}

void CPictureExWnd::Render(IPicture *picture, HDC dc, const RECT &rect) {
  OLE_XSIZE_HIMETRIC w = 0;
  OLE_YSIZE_HIMETRIC h = 0;
  picture->get_Width(&w);
  picture->get_Height(&h);
  picture->Render(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, h, w,
                  -h, nullptr);
}

bool CPictureExWnd::Load(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
  HRSRC res = FindResourceW(module, name, type);
  if (!res) return false;
  DWORD size = SizeofResource(module, res);
  HGLOBAL data = LoadResource(module, res);
  const void *bytes = data ? LockResource(data) : nullptr;
  if (!bytes || !size) return false;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return false;
  void *p = GlobalLock(copy);
  bool ok = false;
  if (p) {
    memcpy(p, bytes, size);
    GlobalUnlock(copy);
    ok = Load(copy, size);
  }
  GlobalFree(copy);
  return ok;
}

bool CPictureExWnd::Load(HGLOBAL memory, DWORD size) {
  UnLoad();
  const uint8_t *bytes = memory ? static_cast<const uint8_t *>(GlobalLock(memory)) : nullptr;
  if (!bytes) return false;
  if (GlobalSize(memory) < size) size = DWORD(GlobalSize(memory));

  GifLayout layout;
  if (!IsGif(bytes, size)) {
    single_ = LoadPicture(bytes, size);
    if (single_) canvasSize_ = PictureSize(single_);
  } else if (WalkGif(bytes, size, &layout)) {
    canvasSize_ = SIZE{layout.width, layout.height};
    if (layout.hasBackground) background_ = RGB(layout.red, layout.green, layout.blue);
    if (layout.frames.size() == 1) {
      single_ = LoadPicture(bytes, size);
    } else {
      for (const GifFrame &g : layout.frames) {
        std::vector<uint8_t> one = CutGifFrame(bytes, size, layout, g);
        IPicture *picture = one.empty() ? nullptr : LoadPicture(one.data(), one.size());
        if (!picture) continue;  // a frame the loader refuses is left out
        Frame f;
        f.picture = picture;
        f.rect = RECT{g.left, g.top, LONG(g.left) + g.width, LONG(g.top) + g.height};
        f.delay = g.delay;
        f.disposal = g.disposal;
        frames_.push_back(f);
      }
    }
  }
  GlobalUnlock(memory);
  if (!single_ && frames_.empty()) {
    UnLoad();
    return false;
  }
  if (frames_.size() == 1) {
    // Only one frame survived: it is the picture.
    single_ = frames_[0].picture;
    frames_.clear();
  }
  if (!PrepareCanvas()) {
    UnLoad();
    return false;
  }
  loaded_ = true;
  return true;
}

bool CPictureExWnd::PrepareCanvas() {
  if (canvasSize_.cx <= 0 || canvasSize_.cy <= 0) return false;
  if (m_hWnd)
    SetWindowPos(m_hWnd, nullptr, 0, 0, canvasSize_.cx, canvasSize_.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Lock lock(lock_);
  if (!MakeSurface(canvasSize_, &canvas_, &canvasBitmap_, &canvasOld_)) return false;
  if (!MakeSurface(canvasSize_, &save_, &saveBitmap_, &saveOld_)) return false;
  RECT all{0, 0, canvasSize_.cx, canvasSize_.cy};
  FillRect(canvas_, &all, GetSysColorBrush(COLOR_BTNFACE));
  background_ = GetSysColor(COLOR_BTNFACE);
  return true;
}

void CPictureExWnd::SetBkColor(COLORREF color) {
  background_ = color;
  {
    Lock lock(lock_);
    if (!canvas_) return;
    FillCanvas(RECT{0, 0, canvasSize_.cx, canvasSize_.cy});
  }
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CPictureExWnd::FitInto(const RECT &box) {
  if (!m_hWnd) return;
  const PictureExtent area{box.right - box.left, box.bottom - box.top};
  PictureExtent size = FitPicture(PictureExtent{canvasSize_.cx, canvasSize_.cy}, area);
  if (size.cx <= 0 || size.cy <= 0) size = area;  // nothing loaded: the whole box
  SetWindowPos(m_hWnd, nullptr, box.left + LONG(area.cx - size.cx) / 2, box.top + LONG(area.cy - size.cy) / 2,
               int(size.cx), int(size.cy), SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CPictureExWnd::FillCanvas(const RECT &rect) { FillRectColor(canvas_, rect, background_); }

// ---- showing -------------------------------------------------------------------------------

bool CPictureExWnd::Draw() {
  if (!loaded_) return false;
  if (!frames_.empty()) {
    if (thread_) return true;  // already playing
    stop_ = 0;
    ResetEvent(stopEvent_);
    current_ = 0;
    previous_ = nullptr;
    saved_ = false;
    thread_ = CreateThread(nullptr, 0, AnimationThread, this, CREATE_SUSPENDED, nullptr);
    if (!thread_) return false;
    InterlockedExchange(&threadRunning_, 1);
    ResumeThread(thread_);
    return true;
  }
  {
    Lock lock(lock_);
    Render(single_, canvas_, RECT{0, 0, canvasSize_.cx, canvasSize_.cy});
  }
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
  return true;
}

DWORD WINAPI CPictureExWnd::AnimationThread(void *self) {
  static_cast<CPictureExWnd *>(self)->Animate();
  return 0;
}

void CPictureExWnd::Animate() {
  while (!stop_) {
    const DWORD wait = ShowNextFrame();
    WaitForSingleObject(stopEvent_, wait);
  }
  InterlockedExchange(&threadRunning_, 0);
}

DWORD CPictureExWnd::ShowNextFrame() {
  if (frames_.empty()) return kShortFrameMs;
  Frame *f;
  {
    Lock lock(lock_);
    if (current_ >= frames_.size()) {
      // After the last frame the animation starts again on a clean canvas.
      current_ = 0;
      previous_ = nullptr;
      saved_ = false;
      FillCanvas(RECT{0, 0, canvasSize_.cx, canvasSize_.cy});
    }
    f = &frames_[current_];
    // The previous frame's area is disposed of before this frame is drawn.
    if (previous_ && previous_->disposal == 2) {
      FillCanvas(previous_->rect);
    } else if (previous_ && saved_) {
      const RECT &r = previous_->rect;
      BitBlt(canvas_, r.left, r.top, r.right - r.left, r.bottom - r.top, save_, r.left, r.top, SRCCOPY);
    }
    saved_ = false;
    if (f->disposal == 3) {
      const RECT &r = f->rect;
      BitBlt(save_, r.left, r.top, r.right - r.left, r.bottom - r.top, canvas_, r.left, r.top, SRCCOPY);
      saved_ = true;
    }
    Render(f->picture, canvas_, f->rect);
    previous_ = f;
    ++current_;
  }
  InterlockedIncrement(&framesDrawn_);
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
  return f->delay > 4 ? DWORD(f->delay) * 10 : kShortFrameMs;
}

COLORREF CPictureExWnd::CanvasPixel(int x, int y) {
  Lock lock(lock_);
  return canvas_ ? GetPixel(canvas_, x, y) : CLR_INVALID;
}

void CPictureExWnd::Stop() {
  if (!thread_) return;
  InterlockedExchange(&stop_, 1);
  SetEvent(stopEvent_);
  const bool ended = WaitForSingleObject(thread_, kStopWaitMs) == WAIT_OBJECT_0;
  CloseHandle(thread_);
  thread_ = nullptr;
  if (ended) {
    ResetEvent(stopEvent_);
    InterlockedExchange(&stop_, 0);
  }
}

void CPictureExWnd::UnLoad() {
  Stop();
  if (threadRunning_) return;  // a thread that would not stop still uses the frames
  for (Frame &f : frames_)
    if (f.picture) f.picture->Release();
  frames_.clear();
  if (single_) single_->Release();
  single_ = nullptr;
  {
    Lock lock(lock_);
    FreeSurface(&canvas_, &canvasBitmap_, &canvasOld_);
    FreeSurface(&save_, &saveBitmap_, &saveOld_);
  }
  canvasSize_ = SIZE{0, 0};
  background_ = RGB(255, 255, 255);
  current_ = 0;
  previous_ = nullptr;
  saved_ = false;
  paintRect_ = RECT{0, 0, 0, 0};
  loaded_ = false;
  framesDrawn_ = 0;
}

// ---- messages ------------------------------------------------------------------------------

LRESULT CPictureExWnd::OnPaint(UINT, WPARAM, LPARAM, bool &) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  RECT client;
  GetClientRect(m_hWnd, &client);
  Lock lock(lock_);
  if (!canvas_) {
    FillRectColor(dc, client, GetSysColor(COLOR_BTNFACE));
  } else {
    RECT src = paintRect_;
    if (IsRectEmpty(&src)) src = RECT{0, 0, canvasSize_.cx, canvasSize_.cy};
    const int w = src.right - src.left, h = src.bottom - src.top;
    // A picture larger than the window is scaled down to fit it, keeping its proportions; one
    // smaller than the window shows at its own size. Either is centred on the background colour.
    const PictureExtent shown = FitPicture(PictureExtent{w, h}, PictureExtent{client.right, client.bottom});
    const int sw = int(shown.cx), sh = int(shown.cy);
    const int x = (client.right - sw) / 2, y = (client.bottom - sh) / 2;
    if (client.right > sw || client.bottom > sh) {
      HRGN all = CreateRectRgnIndirect(&client);
      HRGN pic = CreateRectRgn(x, y, x + sw, y + sh);
      CombineRgn(all, all, pic, RGN_DIFF);
      HBRUSH b = CreateSolidBrush(background_);
      FillRgn(dc, all, b);
      DeleteObject(b);
      DeleteObject(pic);
      DeleteObject(all);
    }
    if (sw == w && sh == h) {
      BitBlt(dc, x, y, w, h, canvas_, src.left, src.top, SRCCOPY);
    } else if (sw > 0 && sh > 0) {
      // Halftone averages the pixels that fall together instead of dropping rows and columns.
      const int oldMode = SetStretchBltMode(dc, HALFTONE);
      POINT oldOrigin;
      SetBrushOrgEx(dc, 0, 0, &oldOrigin);
      StretchBlt(dc, x, y, sw, sh, canvas_, src.left, src.top, w, h, SRCCOPY);
      SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
      SetStretchBltMode(dc, oldMode);
    }
  }
  EndPaint(m_hWnd, &ps);
  return 0;
}

LRESULT CPictureExWnd::OnEraseBackground(UINT, WPARAM, LPARAM, bool &) { return 1; }

LRESULT CPictureExWnd::OnDestroy(UINT, WPARAM, LPARAM, bool &handled) {
  Stop();
  handled = false;
  return 0;
}

}  // namespace ui
