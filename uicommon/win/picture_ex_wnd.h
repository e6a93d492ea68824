// CPictureExWnd: a static control taken over to show a picture and, for a GIF with several
// frames, to play its animation. Each frame is cut into a GIF of its own (ui::WalkGif,
// ui::CutGifFrame) and decoded by the system's picture loader (OleLoadPicture); the frames are
// composed on an off-screen canvas by their positions, delays and disposal methods on an
// animation thread of the window's own, and the window paints from the canvas: at its own size
// when it fits the window, else scaled down to fit, keeping its proportions (never scaled up).
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <vector>

#include "ui_window.h"

namespace ui {

class CPictureExWnd : public CWindowImpl<CPictureExWnd> {
 public:
  CPictureExWnd();
  ~CPictureExWnd() override;

  static const Map &GetMessageMap();

  // A resource of the module (e.g. L"GIF" type, identifier 122): copied into movable global
  // memory and loaded from there.
  bool Load(HINSTANCE module, LPCWSTR name, LPCWSTR type);
  // A global memory block holding size bytes of a picture (GIF, JPEG, bitmap, ...). The block
  // stays the caller's.
  bool Load(HGLOBAL memory, DWORD size);
  // The background the canvas is filled with (and where frames are disposed of to).
  void SetBkColor(COLORREF color);
  // Shows the picture, or starts the animation.
  bool Draw();
  // Ends the animation (waits at most 5 seconds for its thread).
  void Stop();
  void UnLoad();
  // Loading a picture gives the window the picture's size. This places the window in a box of the
  // parent's client area instead: the picture's size scaled down to fit the box, centred in it.
  void FitInto(const RECT &box);
  // Paints only this part of the canvas (an empty rectangle: all of it).
  void SetPaintRect(const RECT &rect) { paintRect_ = rect; }

  SIZE CanvasSize() const { return canvasSize_; }
  size_t FrameCount() const { return frames_.size(); }
  bool IsAnimating() const { return threadRunning_ != 0; }
  // How many frames were drawn since the picture was loaded.
  LONG FramesDrawn() const { return framesDrawn_; }
  COLORREF BkColor() const { return background_; }
  // One step of the animation, as its thread takes it: disposes of the previous frame, draws the
  // next one (after the last frame the canvas starts clean again) and returns how long it is
  // shown in milliseconds. Tests step through an animation with it without the thread.
  DWORD ShowNextFrame();
  // A pixel of the canvas (CLR_INVALID without one).
  COLORREF CanvasPixel(int x, int y);

 private:
  struct Frame {
    IPicture *picture = nullptr;
    RECT rect{};         // left, top, right, bottom on the canvas
    int delay = -1;      // hundredths of a second
    int disposal = 0;
  };

  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool &);

  static IPicture *LoadPicture(const void *bytes, size_t size);
  static SIZE PictureSize(IPicture *picture);
  static void Render(IPicture *picture, HDC dc, const RECT &rect);
  bool PrepareCanvas();
  void FillCanvas(const RECT &rect);
  static DWORD WINAPI AnimationThread(void *self);
  void Animate();

  CRITICAL_SECTION lock_;  // the canvas, between the animation thread and painting
  HDC canvas_ = nullptr;
  HBITMAP canvasBitmap_ = nullptr;
  HGDIOBJ canvasOld_ = nullptr;
  HDC save_ = nullptr;      // what lies under a frame that is disposed of by restoring it
  HBITMAP saveBitmap_ = nullptr;
  HGDIOBJ saveOld_ = nullptr;
  SIZE canvasSize_{0, 0};
  COLORREF background_ = RGB(255, 255, 255);
  IPicture *single_ = nullptr;
  std::vector<Frame> frames_;
  size_t current_ = 0;
  const Frame *previous_ = nullptr;  // the frame to dispose of before the next one
  bool saved_ = false;               // the save area holds what lay under previous_
  RECT paintRect_{0, 0, 0, 0};
  bool loaded_ = false;
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  volatile LONG threadRunning_ = 0;
  volatile LONG stop_ = 0;
  volatile LONG framesDrawn_ = 0;
};

}  // namespace ui
