#include "gif_blocks.h"

#include <string.h>

namespace ui {

namespace {

constexpr size_t kHeader = 6;           // "GIF87a" / "GIF89a"
constexpr size_t kScreenDescriptor = 7;
constexpr size_t kPrologue = kHeader + kScreenDescriptor;
constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kApplication = 0xFF, kComment = 0xFE, kGraphicControl = 0xF9, kPlainText = 0x01;

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

// Bytes of a colour table whose packed byte has the table flag in bit 7 and N in bits 0-2.
size_t colourTable(uint8_t packed) { return (packed & 0x80) ? 3u << ((packed & 7) + 1) : 0; }

// The end of a chain of data sub-blocks starting at pos (just past its zero terminator), or 0
// when the chain runs past the end of the data.
size_t subBlocksEnd(const uint8_t *data, size_t size, size_t pos) {
  while (pos < size) {
    const size_t n = data[pos];
    if (n == 0) return pos + 1;
    if (n + 1 > size - pos) return 0;
    pos += n + 1;
  }
  return 0;
}

// A fixed part of n bytes at pos followed by sub-blocks: the end of the block, or 0.
size_t blockEnd(const uint8_t *data, size_t size, size_t pos, size_t fixed) {
  if (fixed > size - pos) return 0;
  return subBlocksEnd(data, size, pos + fixed);
}

}  // namespace

bool IsGif(const uint8_t *data, size_t size) {
  return data && size >= 3 && memcmp(data, "GIF", 3) == 0;
}

bool WalkGif(const uint8_t *data, size_t size, GifLayout *layout) {
  *layout = GifLayout();
  if (!IsGif(data, size) || size < kPrologue) return false;
  const uint8_t *screen = data + kHeader;
  layout->width = le16(screen);
  layout->height = le16(screen + 2);
  const uint8_t packed = screen[4], background = screen[5];
  layout->globalTableSize = colourTable(packed);
  if (layout->globalTableSize > size - kPrologue) return false;
  if (layout->globalTableSize && size_t(background) * 3 + 3 <= layout->globalTableSize) {
    const uint8_t *rgb = data + kPrologue + size_t(background) * 3;
    layout->hasBackground = true;
    layout->red = rgb[0];
    layout->green = rgb[1];
    layout->blue = rgb[2];
  }

  size_t pos = kPrologue + layout->globalTableSize;
  bool haveControl = false;  // a graphic control extension waits for its image
  GifFrame next{};
  while (pos < size) {
    const uint8_t kind = data[pos];
    size_t end = 0;
    if (kind == kTrailer) break;
    if (kind == kExtension) {
      if (size - pos < 2) break;
      switch (data[pos + 1]) {
        case kApplication: end = blockEnd(data, size, pos, 14); break;
        case kComment: end = blockEnd(data, size, pos, 2); break;
        case kPlainText: end = blockEnd(data, size, pos, 15); break;
        case kGraphicControl:
          if (size - pos >= 8) {
            end = pos + 8;
            // A second control extension before an image replaces the first.
            haveControl = true;
            next.start = pos;
            next.delay = le16(data + pos + 4);
            next.disposal = uint8_t((data[pos + 3] >> 2) & 7);
          }
          break;
        default: break;  // an extension of unknown kind ends the walk
      }
    } else if (kind == kImage) {
      if (size - pos >= 10) {
        const size_t table = colourTable(data[pos + 9]);
        // Descriptor, local colour table, the LZW code size byte, then the image data.
        if (table + 1 <= size - pos - 10) end = blockEnd(data, size, pos, 10 + table + 1);
      }
      if (end) {
        if (!haveControl) {
          next.start = pos;
          next.delay = -1;
          next.disposal = 0;
        }
        next.image = pos;
        next.end = end;
        next.left = le16(data + pos + 1);
        next.top = le16(data + pos + 3);
        next.width = le16(data + pos + 5);
        next.height = le16(data + pos + 7);
        layout->frames.push_back(next);
        haveControl = false;
        next = GifFrame{};
      }
    }
    if (!end) break;  // unknown or truncated: the frames so far stand
    pos = end;
  }
  return !layout->frames.empty();
}

std::vector<uint8_t> CutGifFrame(const uint8_t *data, size_t size, const GifLayout &layout,
                                 const GifFrame &frame) {
  const size_t prologue = kPrologue + layout.globalTableSize;
  if (!data || prologue > size || frame.start < prologue || frame.start > frame.image ||
      frame.image > size || size - frame.image < 10 || frame.end > size || frame.end <= frame.image)
    return {};
  std::vector<uint8_t> out;
  out.reserve(prologue + (frame.end - frame.start) + 1);
  out.insert(out.end(), data, data + prologue);
  out.insert(out.end(), data + frame.start, data + frame.end);
  out.push_back(kTrailer);
  // The frame's own rectangle as the logical screen, its image at its origin.
  uint8_t *screen = out.data() + kHeader;
  uint8_t *image = out.data() + prologue + (frame.image - frame.start);
  memcpy(screen, image + 5, 4);  // width and height
  memset(image + 1, 0, 4);       // left and top
  return out;
}

}  // namespace ui
