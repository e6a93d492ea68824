// The animated picture window under Wine: GIFs made here (real LZW image data, decoded by the
// system's picture loader), frames composed by their positions and disposal methods (stepped
// without the thread, read back pixel by pixel), the animation thread and its stop, still
// pictures, and data that is no picture.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "picture_ex_wnd.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Palette of the test GIFs.
constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kGreen = RGB(0, 255, 0),
                   kWhite = RGB(255, 255, 255);

void put16(Bytes &b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// Image data of a w x h frame in one colour (index 0-3), as LZW codes of 3 bits that never let
// the table grow: a clear code before every second pixel.
Bytes lzwSolid(int w, int h, uint8_t index) {
  std::vector<int> codes;
  for (int i = 0; i < w * h; ++i) {
    if (i % 2 == 0) codes.push_back(4);  // clear
    codes.push_back(index);
  }
  codes.push_back(5);  // end of information
  Bytes packed;
  uint32_t acc = 0;
  int bits = 0;
  for (int c : codes) {
    acc |= uint32_t(c) << bits;
    bits += 3;
    while (bits >= 8) {
      packed.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits) packed.push_back(uint8_t(acc));
  Bytes out = {2};  // LZW minimum code size
  for (size_t i = 0; i < packed.size(); i += 255) {
    size_t n = std::min<size_t>(255, packed.size() - i);
    out.push_back(uint8_t(n));
    out.insert(out.end(), packed.begin() + long(i), packed.begin() + long(i + n));
  }
  out.push_back(0);
  return out;
}

struct Frame {
  int left, top, w, h;
  uint8_t color;
  int delay, disposal;
};

Bytes makeGif(int w, int h, const std::vector<Frame> &frames) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  put16(b, uint16_t(w));
  put16(b, uint16_t(h));
  b.insert(b.end(), {0x81, 3, 0});  // global table of 4 colours, background index 3 (white)
  b.insert(b.end(), {255, 0, 0, 0, 0, 255, 0, 255, 0, 255, 255, 255});
  for (const Frame &f : frames) {
    if (f.delay >= 0) {
      b.insert(b.end(), {0x21, 0xF9, 4, uint8_t(f.disposal << 2)});
      put16(b, uint16_t(f.delay));
      b.insert(b.end(), {0, 0});
    }
    b.push_back(0x2C);
    put16(b, uint16_t(f.left));
    put16(b, uint16_t(f.top));
    put16(b, uint16_t(f.w));
    put16(b, uint16_t(f.h));
    b.push_back(0);
    Bytes data = lzwSolid(f.w, f.h, f.color);
    b.insert(b.end(), data.begin(), data.end());
  }
  b.push_back(0x3B);
  return b;
}

// A 24-bit bitmap file of w x h pixels in one colour.
Bytes makeBmp(int w, int h, COLORREF c) {
  const int stride = (w * 3 + 3) & ~3;
  Bytes b(54 + size_t(stride) * h, 0);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfSize = DWORD(b.size());
  fh.bfOffBits = 54;
  BITMAPINFOHEADER ih{};
  ih.biSize = sizeof ih;
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  memcpy(b.data(), &fh, 14);
  memcpy(b.data() + 14, &ih, 40);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t *p = b.data() + 54 + y * stride + x * 3;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return b;
}

// A 24-bit bitmap file of w x h white pixels with a block of its own colour in each corner (a
// quarter of the width and of the height; top left, top right, bottom left, bottom right): a
// picture that shows whole shows all four corners, a cut-out shows white or only some of them.
Bytes makeCornersBmp(int w, int h, const COLORREF (&q)[4]) {
  Bytes b = makeBmp(w, h, kWhite);
  const int stride = (w * 3 + 3) & ~3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool top = y < h / 4, bottom = y >= h - h / 4, left = x < w / 4, right = x >= w - w / 4;
      if (!(top || bottom) || !(left || right)) continue;
      const COLORREF c = q[(top ? 0 : 2) + (left ? 0 : 1)];
      uint8_t *p = b.data() + 54 + size_t(h - 1 - y) * stride + x * 3;  // rows are stored bottom-up
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return b;
}

HGLOBAL toGlobal(const Bytes &b) {
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, b.size());
  memcpy(GlobalLock(g), b.data(), b.size());
  GlobalUnlock(g);
  return g;
}

class PictureWindow : public testing::Test {
 protected:
  void SetUp() override {
    parent = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, parent);
    frame = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 20, 50, 50, parent, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(picture.Subclass(frame));
  }
  void TearDown() override {
    picture.UnLoad();
    DestroyWindow(parent);
  }
  bool load(const Bytes &b) {
    HGLOBAL g = toGlobal(b);
    bool ok = picture.Load(g, DWORD(b.size()));
    GlobalFree(g);
    return ok;
  }
  // Processes the messages that are waiting (paints).
  static void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  HWND parent = nullptr, frame = nullptr;
  ui::CPictureExWnd picture;
};

TEST_F(PictureWindow, FramesAreComposedByTheirDisposalMethods) {
  ASSERT_TRUE(load(makeGif(20, 20, {{0, 0, 20, 20, 0, 10, 1},    // red everywhere, kept
                                     {2, 2, 4, 4, 1, 10, 2},     // blue, then the background
                                     {10, 10, 4, 4, 2, 10, 3},   // green, then what was under it
                                     {16, 16, 2, 2, 3, 10, 1}})));  // white, kept
  EXPECT_EQ(4u, picture.FrameCount());
  // The window takes the canvas size where it stands.
  RECT r;
  GetWindowRect(frame, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
  EXPECT_EQ(10, r.left);
  EXPECT_EQ(20, r.top);
  EXPECT_EQ(20, r.right - r.left);
  EXPECT_EQ(20, r.bottom - r.top);
  const COLORREF background = RGB(1, 2, 3);
  picture.SetBkColor(background);
  EXPECT_EQ(background, picture.CanvasPixel(0, 0));

  EXPECT_EQ(100u, picture.ShowNextFrame());
  EXPECT_EQ(kRed, picture.CanvasPixel(0, 0));
  EXPECT_EQ(kRed, picture.CanvasPixel(19, 19));
  picture.ShowNextFrame();
  EXPECT_EQ(kBlue, picture.CanvasPixel(3, 3));
  picture.ShowNextFrame();
  EXPECT_EQ(background, picture.CanvasPixel(3, 3));  // disposal 2
  EXPECT_EQ(kGreen, picture.CanvasPixel(11, 11));
  picture.ShowNextFrame();
  EXPECT_EQ(kRed, picture.CanvasPixel(11, 11));  // disposal 3: restored
  EXPECT_EQ(kWhite, picture.CanvasPixel(17, 17));
  EXPECT_EQ(background, picture.CanvasPixel(3, 3));
  // Round again: a clean canvas, then the first frame.
  picture.ShowNextFrame();
  EXPECT_EQ(kRed, picture.CanvasPixel(17, 17));
  EXPECT_EQ(kRed, picture.CanvasPixel(3, 3));
  EXPECT_EQ(5, picture.FramesDrawn());

  // The window shows the canvas.
  pump();
  HDC dc = GetDC(frame);
  EXPECT_EQ(kRed, GetPixel(dc, 5, 5));
  ReleaseDC(frame, dc);
}

TEST_F(PictureWindow, ShortDelaysShowForATenthOfASecond) {
  ASSERT_TRUE(load(makeGif(8, 8, {{0, 0, 8, 8, 0, 0, 1}, {0, 0, 8, 8, 1, 4, 1}, {0, 0, 8, 8, 2, 5, 1},
                                   {0, 0, 8, 8, 3, -1, 0}})));
  EXPECT_EQ(100u, picture.ShowNextFrame());  // 0
  EXPECT_EQ(100u, picture.ShowNextFrame());  // 4
  EXPECT_EQ(50u, picture.ShowNextFrame());   // 5
  EXPECT_EQ(100u, picture.ShowNextFrame());  // no control extension
}

TEST_F(PictureWindow, TheAnimationThreadPlaysAndStops) {
  ASSERT_TRUE(load(makeGif(8, 8, {{0, 0, 8, 8, 0, 0, 1}, {0, 0, 8, 8, 1, 0, 1}})));
  ASSERT_TRUE(picture.Draw());
  EXPECT_TRUE(picture.IsAnimating());
  DWORD start = GetTickCount();
  while (picture.FramesDrawn() < 3 && GetTickCount() - start < 10000) {
    pump();
    Sleep(20);
  }
  EXPECT_GE(picture.FramesDrawn(), 3);
  start = GetTickCount();
  picture.Stop();
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_FALSE(picture.IsAnimating());
  LONG drawn = picture.FramesDrawn();
  Sleep(300);
  EXPECT_EQ(drawn, picture.FramesDrawn());
  // Destroying the window stops it too.
  ASSERT_TRUE(picture.Draw());
  EXPECT_TRUE(picture.IsAnimating());
  DestroyWindow(frame);
  EXPECT_FALSE(picture.IsAnimating());
}

TEST_F(PictureWindow, StillPictures) {
  // A GIF of one frame: shown as it is, no thread.
  ASSERT_TRUE(load(makeGif(6, 5, {{0, 0, 6, 5, 1, 20, 1}})));
  EXPECT_EQ(0u, picture.FrameCount());
  EXPECT_EQ(6, picture.CanvasSize().cx);
  ASSERT_TRUE(picture.Draw());
  EXPECT_FALSE(picture.IsAnimating());
  EXPECT_EQ(kBlue, picture.CanvasPixel(2, 2));
  // A bitmap: its own size.
  ASSERT_TRUE(load(makeBmp(7, 5, kGreen)));
  EXPECT_EQ(7, picture.CanvasSize().cx);
  EXPECT_EQ(5, picture.CanvasSize().cy);
  ASSERT_TRUE(picture.Draw());
  EXPECT_EQ(kGreen, picture.CanvasPixel(3, 2));
}

TEST_F(PictureWindow, WhatCannotBeShown) {
  EXPECT_FALSE(load(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}));  // no frame
  EXPECT_FALSE(load(Bytes{1, 2, 3, 4, 5, 6, 7, 8}));                                    // no picture
  EXPECT_FALSE(picture.Draw());
  EXPECT_EQ(0, picture.CanvasSize().cx);
  EXPECT_FALSE(picture.Load(nullptr, 10));
  EXPECT_FALSE(picture.Load(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(999), L"GIF"));
}

// Pictures larger than their window are scaled down to fit it whole, keeping their proportions;
// smaller ones keep their size. Checked on what the window paints, read back from its device
// context.
class ScaledPicture : public PictureWindow {
 protected:
  // The window's position in the parent and its size.
  RECT placed() const {
    RECT r;
    GetWindowRect(frame, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
    return r;
  }
  void expectPlaced(int left, int top, int width, int height) const {
    const RECT r = placed();
    EXPECT_EQ(left, r.left);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(width, r.right - r.left);
    EXPECT_EQ(height, r.bottom - r.top);
  }
  // The window's own painting, captured into a bitmap of ours and read back.
  std::vector<COLORREF> capture(int *w, int *h) {
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    pump();
    RECT c;
    GetClientRect(frame, &c);
    *w = c.right;
    *h = c.bottom;
    HDC window = GetDC(frame);
    HDC mem = CreateCompatibleDC(window);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = *w;
    bi.bmiHeader.biHeight = -*h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(window, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, *w, *h, window, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<COLORREF> px(size_t(*w) * size_t(*h));
    const uint8_t *p = static_cast<const uint8_t *>(bits);
    for (size_t i = 0; i < px.size(); ++i) px[i] = RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(frame, window);
    return px;
  }
  static COLORREF at(const std::vector<COLORREF> &px, int w, int x, int y) { return px[size_t(y) * w + x]; }
  struct Spot {
    int x, y;
    COLORREF colour;
  };
  static void expectSpots(const std::vector<COLORREF> &px, int w, std::initializer_list<Spot> spots) {
    for (const Spot &s : spots) EXPECT_EQ(s.colour, at(px, w, s.x, s.y)) << "at " << s.x << "," << s.y;
  }

  static constexpr COLORREF kYellow = RGB(255, 255, 0);
  static constexpr COLORREF kCorners[4] = {kRed, kGreen, kBlue, kYellow};
};

TEST_F(ScaledPicture, ALargeStillPictureIsShownWholeInItsBox) {
  // 200 x 100 into a box of 50 x 50 at (10, 20): 50 x 25, centred in the box.
  ASSERT_TRUE(load(makeCornersBmp(200, 100, kCorners)));
  EXPECT_EQ(200, picture.CanvasSize().cx);
  ASSERT_TRUE(picture.Draw());
  picture.FitInto(RECT{10, 20, 60, 70});
  expectPlaced(10, 20 + (50 - 25) / 2, 50, 25);
  int w = 0, h = 0;
  std::vector<COLORREF> px = capture(&w, &h);
  ASSERT_EQ(50, w);
  ASSERT_EQ(25, h);
  // Every corner shows its own colour: nothing is cut off; white in between.
  expectSpots(px, w, {{1, 1, kRed}, {w - 2, 1, kGreen}, {1, h - 2, kBlue}, {w - 2, h - 2, kYellow},
                      {w / 2, h / 2, kWhite}, {1, h / 2, kWhite}});
}

TEST_F(ScaledPicture, AWindowMadeSmallerShowsThePictureScaledAndCentred) {
  // The caller gives the window 60 x 60 for a picture of 120 x 240: 30 x 60 in the middle,
  // the background colour on both sides.
  ASSERT_TRUE(load(makeCornersBmp(120, 240, kCorners)));
  ASSERT_TRUE(picture.Draw());
  const COLORREF background = RGB(1, 2, 3);
  picture.SetBkColor(background);
  picture.Draw();
  SetWindowPos(frame, nullptr, 0, 0, 60, 60, SWP_NOMOVE | SWP_NOZORDER);
  int w = 0, h = 0;
  std::vector<COLORREF> px = capture(&w, &h);
  ASSERT_EQ(60, w);
  expectSpots(px, w, {{2, 30, background}, {57, 30, background}, {16, 1, kRed}, {43, 1, kGreen},
                      {16, 58, kBlue}, {43, 58, kYellow}, {30, 30, kWhite}});
}

TEST_F(ScaledPicture, AnimationFramesAreScaledWithTheirPositions) {
  // 160 x 160, red everywhere then blue in the bottom-right corner (40 x 40); shown in 80 x 80.
  ASSERT_TRUE(load(makeGif(160, 160, {{0, 0, 160, 160, 0, 10, 1}, {120, 120, 40, 40, 1, 10, 1}})));
  ASSERT_EQ(2u, picture.FrameCount());
  picture.FitInto(RECT{0, 0, 80, 80});
  expectPlaced(0, 0, 80, 80);
  picture.ShowNextFrame();
  picture.ShowNextFrame();
  int w = 0, h = 0;
  std::vector<COLORREF> px = capture(&w, &h);
  ASSERT_EQ(80, w);
  expectSpots(px, w, {{1, 1, kRed}, {78, 1, kRed}, {1, 78, kRed}, {78, 78, kBlue}, {62, 62, kBlue},
                      {57, 57, kRed}});
}

TEST_F(ScaledPicture, SmallPicturesKeepTheirSize) {
  // 20 x 10 in a box of 85 x 85: its own size, centred; painted pixel for pixel.
  ASSERT_TRUE(load(makeCornersBmp(20, 10, kCorners)));
  ASSERT_TRUE(picture.Draw());
  picture.FitInto(RECT{10, 54, 95, 139});
  expectPlaced(10 + (85 - 20) / 2, 54 + (85 - 10) / 2, 20, 10);
  int w = 0, h = 0;
  std::vector<COLORREF> px = capture(&w, &h);
  ASSERT_EQ(20, w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool corner = (y < 2 || y >= 8) && (x < 5 || x >= 15);
      ASSERT_EQ(corner ? kCorners[(y < 2 ? 0 : 2) + (x < 5 ? 0 : 1)] : kWhite, at(px, w, x, y)) << x << "," << y;
    }
  // A window larger than the picture: still its own size, in the middle.
  SetWindowPos(frame, nullptr, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER);
  px = capture(&w, &h);
  ASSERT_EQ(40, w);
  expectSpots(px, w, {{10, 10, kRed}, {29, 19, kYellow}, {9, 10, picture.BkColor()}, {30, 19, picture.BkColor()}});
}

}  // namespace
