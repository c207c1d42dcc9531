#include <gtest/gtest.h>

#include <cstring>

#include "vexa/core/bitmap.h"
#include "vexa/core/errors.h"

using namespace vexa;

TEST(BitmapLayout, RowsAreStoredBottomUpInOneBlock) {
  TBitmap b(5, 3, pf24bit);
  EXPECT_EQ(b.RowLen(), 16);
  EXPECT_EQ(b.ImageSize(), 48u);
  EXPECT_EQ(b.ScanLine(2), b.Bits());
  EXPECT_EQ(b.ScanLine(0), b.Bits() + 32);
  b.ScanLine(0)[0] = 7;  // top-left pixel's blue
  EXPECT_EQ(b.Bits()[32], 7);
}
