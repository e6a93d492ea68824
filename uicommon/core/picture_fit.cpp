#include "picture_fit.h"

#include <stdint.h>

namespace ui {

namespace {

// a * b / c rounded to the nearest whole number, for non-negative values (64-bit: the product of
// two picture sides does not fit 32 bits).
long ScaleRounded(long a, long b, long c) {
  const int64_t p = int64_t(a) * int64_t(b);
  return long((p + c / 2) / c);
}

}  // namespace

PictureExtent FitPicture(PictureExtent picture, PictureExtent frame) {
  if (picture.cx <= 0 || picture.cy <= 0 || frame.cx <= 0 || frame.cy <= 0) return PictureExtent{};
  if (picture.cx <= frame.cx && picture.cy <= frame.cy) return picture;
  PictureExtent fitted;
  // The side that overflows more (relative to the frame) decides the scale.
  if (int64_t(picture.cx) * frame.cy >= int64_t(picture.cy) * frame.cx) {
    fitted.cx = frame.cx;
    fitted.cy = ScaleRounded(picture.cy, frame.cx, picture.cx);
  } else {
    fitted.cy = frame.cy;
    fitted.cx = ScaleRounded(picture.cx, frame.cy, picture.cy);
  }
  if (fitted.cx < 1) fitted.cx = 1;
  if (fitted.cy < 1) fitted.cy = 1;
  return fitted;
}

}  // namespace ui
