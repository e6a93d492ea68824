// The block structure of a GIF file, as the animated picture window needs it: the logical screen,
// the global colour table's background colour, and each frame's blocks, position, size, delay and
// disposal method; and the cutting of one frame into a GIF of its own, for a picture loader that
// shows only the first image of a file. Portable (no <windows.h>). The bytes come from resources
// and from pictures downloaded from the network: every length is checked against the data.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace ui {

struct GifFrame {
  size_t start;       // the frame's first block: its graphic control extension, else its image
  size_t end;         // just past the end of its image data
  size_t image;       // its image descriptor (0x2C)
  int delay;          // hundredths of a second; -1 without a graphic control extension
  uint8_t disposal;   // 0 to 7 (bits 2-4 of the graphic control extension); 0 without one
  uint16_t left, top, width, height;
};

struct GifLayout {
  uint16_t width = 0, height = 0;  // the logical screen
  size_t globalTableSize = 0;      // bytes of the global colour table (0: none)
  bool hasBackground = false;      // the background index lies in the global colour table
  uint8_t red = 0, green = 0, blue = 0;  // ... and its colour
  std::vector<GifFrame> frames;
};

// True when the data starts with "GIF" (the caller hands anything else to the picture loader
// whole).
bool IsGif(const uint8_t *data, size_t size);

// Walks the blocks after the header, logical screen descriptor and global colour table up to the
// trailer. A frame is an image descriptor with its image data, optionally preceded by a graphic
// control extension; other extensions in between belong to the frame. The walk stops at the
// trailer, at a block of unknown kind and at a block that runs past the end of the data (the
// frames before it stay). False when the data is not a GIF, is too short for its screen
// descriptor and colour table, or holds no complete frame.
bool WalkGif(const uint8_t *data, size_t size, GifLayout *layout);

// One frame as a GIF of its own: the source's header, logical screen descriptor and global colour
// table, the frame's blocks from its graphic control extension to the end of its image data, and
// the trailer. The frame's logical screen is its own rectangle and its image sits at 0,0 in it,
// so that the picture a loader makes of it is exactly the frame (the caller places it at the
// frame's left and top). Empty when the frame does not lie within the data.
std::vector<uint8_t> CutGifFrame(const uint8_t *data, size_t size, const GifLayout &layout,
                                 const GifFrame &frame);

}  // namespace ui
