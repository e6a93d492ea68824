// Fuzz target: the GIF block walker and the cutting of frames (pictures come from resources and,
// in the client, from the network). Every frame the walker reports must lie within the data and
// cut into a GIF that walks again into exactly that one frame.
#include <stdint.h>
#include <stdlib.h>

#include "gif_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui::GifLayout layout;
  if (!ui::WalkGif(data, size, &layout)) return 0;
  for (const ui::GifFrame &f : layout.frames) {
    if (f.start > f.image || f.image >= f.end || f.end > size) abort();
    std::vector<uint8_t> one = ui::CutGifFrame(data, size, layout, f);
    if (one.empty()) abort();
    ui::GifLayout single;
    if (!ui::WalkGif(one.data(), one.size(), &single) || single.frames.size() != 1) abort();
    const ui::GifFrame &g = single.frames[0];
    if (single.width != f.width || single.height != f.height || g.left || g.top ||
        g.delay != f.delay || g.disposal != f.disposal || g.end - g.image != f.end - f.image)
      abort();
  }
  return 0;
}
