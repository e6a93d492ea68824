// The size a picture is shown at in a frame of a given size: scaled down, keeping its aspect
// ratio, until it fits; never scaled up. Portable (no <windows.h>).
#pragma once

namespace ui {

struct PictureExtent {
  long cx = 0, cy = 0;
};

inline bool operator==(PictureExtent a, PictureExtent b) { return a.cx == b.cx && a.cy == b.cy; }

// A picture that fits already keeps its size. A larger one takes the whole width or the whole
// height of the frame and the other side in proportion, rounded to the nearest pixel and at least
// one pixel. An empty picture or frame gives an empty size.
PictureExtent FitPicture(PictureExtent picture, PictureExtent frame);

}  // namespace ui
