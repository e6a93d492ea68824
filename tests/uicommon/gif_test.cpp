// The GIF block walker and the cutting of frames: GIFs built block by block here (every block
// kind, colour tables, truncations at every length), and the provider's own animation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gif_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A GIF made of blocks: the prologue with an optional global colour table, then whatever the
// test appends.
struct Gif {
  Bytes b;
  explicit Gif(uint16_t w = 40, uint16_t h = 30, int tableBits = 1, uint8_t background = 1) {
    const char *sig = "GIF89a";
    b.assign(sig, sig + 6);
    put16(w);
    put16(h);
    b.push_back(tableBits ? uint8_t(0x80 | (tableBits - 1)) : 0);
    b.push_back(background);
    b.push_back(0);
    for (int i = 0; i < (tableBits ? 1 << tableBits : 0); ++i) {
      b.push_back(uint8_t(10 * i + 1));
      b.push_back(uint8_t(10 * i + 2));
      b.push_back(uint8_t(10 * i + 3));
    }
  }
  void put16(uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
  Gif &control(uint16_t delay, uint8_t disposal) {
    Bytes e = {0x21, 0xF9, 4, uint8_t(disposal << 2 | 1), uint8_t(delay), uint8_t(delay >> 8), 0, 0};
    b.insert(b.end(), e.begin(), e.end());
    return *this;
  }
  Gif &image(uint16_t l, uint16_t t, uint16_t w, uint16_t h, int localBits = 0, size_t dataLen = 3) {
    b.push_back(0x2C);
    put16(l);
    put16(t);
    put16(w);
    put16(h);
    b.push_back(localBits ? uint8_t(0x80 | (localBits - 1)) : 0);
    for (int i = 0; i < (localBits ? 3 << localBits : 0); ++i) b.push_back(uint8_t(i));
    b.push_back(2);  // LZW code size
    subBlocks(dataLen);
    return *this;
  }
  Gif &subBlocks(size_t n) {
    while (n) {
      size_t k = n > 255 ? 255 : n;
      b.push_back(uint8_t(k));
      for (size_t i = 0; i < k; ++i) b.push_back(uint8_t(0x40 + i));
      n -= k;
    }
    b.push_back(0);
    return *this;
  }
  Gif &application() {
    Bytes e = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    b.insert(b.end(), e.begin(), e.end());
    b.insert(b.end(), {3, 1, 0, 0, 0});
    return *this;
  }
  Gif &comment(size_t n) {
    b.insert(b.end(), {0x21, 0xFE});
    return subBlocks(n);
  }
  Gif &plainText() {
    b.insert(b.end(), {0x21, 0x01, 12});
    for (int i = 0; i < 12; ++i) b.push_back(uint8_t(i));
    return subBlocks(5);
  }
  Gif &trailer() {
    b.push_back(0x3B);
    return *this;
  }
};

ui::GifLayout walk(const Bytes &b, bool expect = true) {
  ui::GifLayout l;
  EXPECT_EQ(expect, ui::WalkGif(b.data(), b.size(), &l));
  return l;
}

TEST(GifBlocks, ScreenBackgroundAndFrames) {
  Gif g(200, 90, 2, 3);
  g.application().comment(300).control(7, 2).image(10, 20, 30, 40, 0, 600);
  const size_t second = g.b.size();
  g.comment(4).control(3, 3).plainText().image(1, 2, 3, 4, 1).image(5, 6, 7, 8).trailer();
  ui::GifLayout l = walk(g.b);
  EXPECT_EQ(200, l.width);
  EXPECT_EQ(90, l.height);
  EXPECT_EQ(12u, l.globalTableSize);
  ASSERT_TRUE(l.hasBackground);
  EXPECT_EQ(31, l.red);  // entry 3
  EXPECT_EQ(32, l.green);
  EXPECT_EQ(33, l.blue);
  ASSERT_EQ(3u, l.frames.size());
  EXPECT_EQ(7, l.frames[0].delay);
  EXPECT_EQ(2, l.frames[0].disposal);
  EXPECT_EQ(10, l.frames[0].left);
  EXPECT_EQ(20, l.frames[0].top);
  EXPECT_EQ(30, l.frames[0].width);
  EXPECT_EQ(40, l.frames[0].height);
  // The second frame starts at its control extension; the plain-text extension between it and
  // the image belongs to it, the comment before it does not.
  EXPECT_EQ(second + 8, l.frames[1].start);
  EXPECT_EQ(3, l.frames[1].delay);
  EXPECT_EQ(3, l.frames[1].disposal);
  EXPECT_EQ(4, l.frames[1].height);
  // Without a control extension: no delay, disposal 0, starts at the image.
  EXPECT_EQ(-1, l.frames[2].delay);
  EXPECT_EQ(0, l.frames[2].disposal);
  EXPECT_EQ(l.frames[2].image, l.frames[2].start);
  EXPECT_EQ(g.b.size() - 1, l.frames[2].end);
}

TEST(GifBlocks, NoGlobalTableAndABackgroundOutsideIt) {
  Gif none(5, 5, 0, 0);
  none.image(0, 0, 5, 5).trailer();
  ui::GifLayout l = walk(none.b);
  EXPECT_EQ(0u, l.globalTableSize);
  EXPECT_FALSE(l.hasBackground);
  Gif outside(5, 5, 1, 7);  // index 7 of a two-colour table
  outside.image(0, 0, 5, 5).trailer();
  EXPECT_FALSE(walk(outside.b).hasBackground);
}

TEST(GifBlocks, WhatIsNotAGifOrHasNoFrame) {
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'};
  EXPECT_FALSE(ui::IsGif(jpeg.data(), jpeg.size()));
  walk(jpeg, false);
  EXPECT_FALSE(ui::IsGif(nullptr, 0));
  Gif empty;
  empty.trailer();
  walk(empty.b, false);
  // An unknown block before any frame ends loading.
  Gif unknown;
  unknown.b.push_back(0x99);
  unknown.image(0, 0, 1, 1).trailer();
  walk(unknown.b, false);
  // An extension of unknown kind, too.
  Gif ext;
  ext.b.insert(ext.b.end(), {0x21, 0x77, 0});
  ext.image(0, 0, 1, 1).trailer();
  walk(ext.b, false);
  // A global table that does not fit.
  Gif table(1, 1, 8);
  table.b.resize(13 + 100);
  walk(table.b, false);
}

TEST(GifBlocks, AfterTheTrailerOrABadBlockTheFramesSoFarStand) {
  Gif g;
  g.image(0, 0, 2, 2).control(5, 1).image(0, 0, 2, 2);
  g.b.push_back(0x42);  // garbage
  g.image(0, 0, 2, 2).trailer();
  EXPECT_EQ(2u, walk(g.b).frames.size());
  Gif t;
  t.image(0, 0, 2, 2).trailer().image(0, 0, 2, 2);
  EXPECT_EQ(1u, walk(t.b).frames.size());
}

// Every prefix of a valid GIF: the walk never reads past the end, and keeps exactly the frames
// that are complete within it.
TEST(GifBlocks, EveryTruncation) {
  Gif g(64, 64, 3);
  g.application().control(10, 1).image(0, 0, 64, 64, 0, 300).comment(20).control(10, 2).image(8, 8, 16, 16, 2, 40)
      .plainText().image(1, 1, 2, 2).trailer();
  ui::GifLayout full = walk(g.b);
  ASSERT_EQ(3u, full.frames.size());
  for (size_t n = 0; n <= g.b.size(); ++n) {
    Bytes cut(g.b.begin(), g.b.begin() + long(n));
    ui::GifLayout l;
    bool ok = ui::WalkGif(cut.data(), cut.size(), &l);
    size_t complete = 0;
    for (const auto &f : full.frames) complete += f.end <= n;
    EXPECT_EQ(complete > 0, ok) << n;
    EXPECT_EQ(complete, l.frames.size()) << n;
  }
}

TEST(GifBlocks, AFrameCutOnItsOwn) {
  Gif g(100, 80, 2);
  g.control(9, 3).comment(3).image(30, 40, 20, 10, 1, 50).control(4, 2).image(0, 0, 100, 80).trailer();
  ui::GifLayout l = walk(g.b);
  ASSERT_EQ(2u, l.frames.size());
  Bytes one = ui::CutGifFrame(g.b.data(), g.b.size(), l, l.frames[0]);
  // Prologue and global table, the frame's blocks, the trailer.
  const size_t prologue = 13 + 12;
  ASSERT_EQ(prologue + (l.frames[0].end - l.frames[0].start) + 1, one.size());
  EXPECT_EQ(0x3B, one.back());
  EXPECT_EQ(Bytes(g.b.begin() + 10, g.b.begin() + long(prologue)), Bytes(one.begin() + 10, one.begin() + long(prologue)));
  // Its screen is the frame's own rectangle, its image at the origin, the rest as it was.
  ui::GifLayout back = walk(one);
  ASSERT_EQ(1u, back.frames.size());
  EXPECT_EQ(20, back.width);
  EXPECT_EQ(10, back.height);
  EXPECT_EQ(0, back.frames[0].left);
  EXPECT_EQ(0, back.frames[0].top);
  EXPECT_EQ(20, back.frames[0].width);
  EXPECT_EQ(9, back.frames[0].delay);
  EXPECT_EQ(3, back.frames[0].disposal);
  EXPECT_EQ(Bytes(g.b.begin() + long(l.frames[0].image) + 9, g.b.begin() + long(l.frames[0].end)),
            Bytes(one.begin() + long(back.frames[0].image) + 9, one.begin() + long(back.frames[0].end)));
  // A frame that does not lie within the data is not cut.
  ui::GifFrame wrong = l.frames[1];
  wrong.end = g.b.size() + 5;
  EXPECT_TRUE(ui::CutGifFrame(g.b.data(), g.b.size(), l, wrong).empty());
  wrong = l.frames[1];
  wrong.start = 3;
  EXPECT_TRUE(ui::CutGifFrame(g.b.data(), g.b.size(), l, wrong).empty());
}

#ifdef UK_CSP_ANIMATION
// The animation of the provider's button confirmation: six frames over a 240 x 100 screen, each
// disposal method, a short frame.
TEST(GifBlocks, TheProvidersAnimation) {
  FILE *f = fopen(UK_CSP_ANIMATION, "rb");
  ASSERT_NE(nullptr, f);
  Bytes b;
  int c;
  while ((c = fgetc(f)) != EOF) b.push_back(uint8_t(c));
  fclose(f);
  ui::GifLayout l = walk(b);
  EXPECT_EQ(240, l.width);
  EXPECT_EQ(100, l.height);
  ASSERT_EQ(6u, l.frames.size());
  std::string disposals, delays;
  for (const auto &fr : l.frames) {
    disposals += char('0' + fr.disposal);
    delays += std::to_string(fr.delay) + " ";
    Bytes one = ui::CutGifFrame(b.data(), b.size(), l, fr);
    ui::GifLayout single = walk(one);
    EXPECT_EQ(1u, single.frames.size());
    EXPECT_EQ(fr.width, single.width);
  }
  EXPECT_EQ("133312", disposals);
  EXPECT_EQ("40 12 4 15 50 70 ", delays);
}
#endif

}  // namespace
