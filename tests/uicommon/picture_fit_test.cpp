// The size a picture is shown at in its frame: what fits stays, what does not is scaled down
// keeping its proportions, and degenerate sizes give nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "picture_fit.h"

namespace {

using ui::FitPicture;
using ui::PictureExtent;

PictureExtent E(long cx, long cy) { return PictureExtent{cx, cy}; }

TEST(PictureFit, PicturesThatFitKeepTheirSize) {
  EXPECT_EQ(E(64, 64), FitPicture(E(64, 64), E(85, 85)));
  EXPECT_EQ(E(85, 85), FitPicture(E(85, 85), E(85, 85)));
  EXPECT_EQ(E(1, 1), FitPicture(E(1, 1), E(85, 85)));
  EXPECT_EQ(E(85, 10), FitPicture(E(85, 10), E(85, 85)));  // never scaled up to fill
}

TEST(PictureFit, LargerPicturesAreScaledDownInProportion) {
  EXPECT_EQ(E(85, 85), FitPicture(E(400, 400), E(85, 85)));
  EXPECT_EQ(E(85, 51), FitPicture(E(400, 240), E(85, 85)));   // 51.0
  EXPECT_EQ(E(51, 85), FitPicture(E(240, 400), E(85, 85)));
  // Only one side too large: that side decides.
  EXPECT_EQ(E(85, 43), FitPicture(E(100, 50), E(85, 85)));    // 42.5 rounds up
  EXPECT_EQ(E(30, 85), FitPicture(E(60, 170), E(85, 85)));
  // A frame that is not square: the tighter side decides.
  EXPECT_EQ(E(50, 25), FitPicture(E(200, 100), E(120, 25)));
  EXPECT_EQ(E(120, 12), FitPicture(E(1000, 100), E(120, 25)));
  // The result always fits and keeps the ratio within rounding.
  for (long w = 1; w <= 300; w += 7)
    for (long h = 1; h <= 300; h += 11) {
      const PictureExtent f = FitPicture(E(w, h), E(85, 60));
      ASSERT_LE(f.cx, 85);
      ASSERT_LE(f.cy, 60);
      ASSERT_TRUE(f.cx == 85 || f.cy == 60 || (f.cx == w && f.cy == h)) << w << "x" << h;
      ASSERT_LE(f.cx, w);
      ASSERT_LE(f.cy, h);
      // Rounded to the nearest pixel: the ratio is off by at most half a pixel of the short side.
      if (f.cx > 1 && f.cy > 1) ASSERT_LE(2 * std::labs(w * f.cy - h * f.cx), std::max(w, h)) << w << "x" << h;
    }
}

TEST(PictureFit, ExtremeAndDegenerateSizes) {
  // A hairline stays at least one pixel thick.
  EXPECT_EQ(E(85, 1), FitPicture(E(100000, 1), E(85, 85)));
  EXPECT_EQ(E(1, 85), FitPicture(E(1, 100000), E(85, 85)));
  // Sides whose product overflows 32 bits.
  EXPECT_EQ(E(85, 43), FitPicture(E(2000000000, 1000000000), E(85, 85)));
  // Nothing to show, or nowhere to show it.
  EXPECT_EQ(E(0, 0), FitPicture(E(0, 10), E(85, 85)));
  EXPECT_EQ(E(0, 0), FitPicture(E(10, -1), E(85, 85)));
  EXPECT_EQ(E(0, 0), FitPicture(E(100, 100), E(0, 85)));
  EXPECT_EQ(E(0, 0), FitPicture(E(100, 100), E(85, -5)));
}

}  // namespace
