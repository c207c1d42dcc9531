#include <gtest/gtest.h>

#include <cstring>
#include <utility>

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

TEST(BitmapLayout, RowLengthIsFourByteAligned) {
  EXPECT_EQ(_BitmapRowLen(1, 1), 4);
  EXPECT_EQ(_BitmapRowLen(3, 24), 12);
  EXPECT_EQ(_BitmapRowLen(33, 1), 8);
  EXPECT_EQ(_BitmapRowLen(32, 1), 4);
  EXPECT_EQ(_BitmapRowLen(0, 24), 0);
  EXPECT_EQ(TBitmap(7, 2, pf8bit).RowLen(), 8);
  EXPECT_EQ(TBitmap(3, 2, pf16bit).RowLen(), 8);
}

TEST(BitmapLayout, OneBitPixelsAreMostSignificantBitFirst) {
  TBitmap b(10, 1, pf1bit);
  uint8_t* row = b.ScanLine(0);
  _SetPixelbw(row, 0, 1);
  _SetPixelbw(row, 9, 1);
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(row[1], 0x40);
  EXPECT_NE(_GetPixelbw(row, 9), 0);
  EXPECT_EQ(_GetPixelbw(row, 8), 0);
  _SetPixelbw(row, 0, 0);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(b.GetPixel(9, 0), (TRGB{255, 255, 255}));
  EXPECT_EQ(b.GetPixel(1, 0), (TRGB{0, 0, 0}));
}

TEST(BitmapResize, KeepsTopLeftPixelsAndZeroesTheNewArea) {
  TBitmap b(4, 4, pf24bit);
  b.Fill(TRGB{1, 2, 3});
  b.SetPixel(0, 0, TRGB{9, 9, 9});
  b.SetSize(6, 2);
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 2);
  EXPECT_EQ(b.GetPixel(0, 0), (TRGB{9, 9, 9}));
  EXPECT_EQ(b.GetPixel(3, 1), (TRGB{1, 2, 3}));
  EXPECT_EQ(b.GetPixel(4, 0), (TRGB{0, 0, 0}));
  EXPECT_EQ(b.GetPixel(5, 1), (TRGB{0, 0, 0}));
}

// Large bitmaps take their pixels from the kernel rather than the allocator:
// zero at first, and handed on or given back through copies, moves and resizes
// from large to small and back.
TEST(BitmapResize, LargeBitmapsStartZeroAndSurviveCopiesMovesAndResizes) {
  TBitmap big(2000, 1600, pf24bit);  // 9.6 MB
  for (auto [x, y] : {std::pair{0, 0}, std::pair{1999, 1599}, std::pair{1000, 800}})
    ASSERT_EQ(big.GetPixel(x, y), (TRGB{0, 0, 0}));
  big.Fill(TRGB{7, 8, 9});
  TBitmap copy = big;
  TBitmap moved = std::move(big);
  EXPECT_EQ(copy.GetPixel(1999, 0), (TRGB{7, 8, 9}));
  EXPECT_EQ(moved.GetPixel(0, 1599), (TRGB{7, 8, 9}));
  moved.SetSize(2500, 1600);
  EXPECT_EQ(moved.GetPixel(1999, 1599), (TRGB{7, 8, 9}));
  EXPECT_EQ(moved.GetPixel(2000, 1599), (TRGB{0, 0, 0}));
  moved.SetSize(3, 2);
  EXPECT_EQ(moved.GetPixel(2, 1), (TRGB{7, 8, 9}));
  copy = moved;
  EXPECT_EQ(copy.Width(), 3);
  moved.Allocate(2100, 1600, pf24bit);
  EXPECT_EQ(moved.GetPixel(2099, 1599), (TRGB{0, 0, 0}));
}

TEST(BitmapResize, OneBitShrinkClearsBitsPastTheKeptWidth) {
  TBitmap b(16, 1, pf1bit);
  b.Fill(TRGB{255, 255, 255});
  b.SetSize(5, 1);
  b.SetSize(16, 1);
  for (int x = 0; x < 5; ++x) EXPECT_NE(_GetPixelbw(b.ScanLine(0), x), 0) << x;
  for (int x = 5; x < 16; ++x) EXPECT_EQ(_GetPixelbw(b.ScanLine(0), x), 0) << x;
}

TEST(BitmapResize, ZeroSizedBitmapIsValidAndEmpty) {
  TBitmap b(0, 10, pf24bit);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.ImageSize(), 0u);
  b.SetSize(3, 0);
  EXPECT_TRUE(b.Empty());
  b.SetPixelFormat(pf1bit);
  b.SetSize(2, 2);
  EXPECT_FALSE(b.Empty());
  EXPECT_EQ(b.PixelFormat(), pf1bit);
}

TEST(BitmapFormat, ConversionsKeepColoursWhereTheFormatCan) {
  TBitmap b(3, 2, pf24bit);
  b.SetPixel(0, 0, TRGB{0, 0, 255});
  b.SetPixel(1, 0, TRGB{255, 255, 255});
  b.SetPixel(2, 1, TRGB{16, 32, 64});
  for (TPixelFormat pf : {pf32bit, pfDevice, pfCustom}) {
    TBitmap c(b);
    c.SetPixelFormat(pf);
    c.SetPixelFormat(pf24bit);
    EXPECT_EQ(c.GetPixel(2, 1), (TRGB{16, 32, 64})) << pf;
  }
  TBitmap p(b);
  p.SetPixelFormat(pf8bit);
  p.SetPixelFormat(pf24bit);
  EXPECT_EQ(p.GetPixel(0, 0), (TRGB{0, 0, 255}));  // pure red is in the colour cube
  EXPECT_EQ(p.GetPixel(1, 0), (TRGB{255, 255, 255}));
  TBitmap m(b);
  m.SetPixelFormat(pf1bit);
  EXPECT_NE(_GetPixelbw(m.ScanLine(0), 1), 0);
  EXPECT_EQ(_GetPixelbw(m.ScanLine(0), 0), 0);
  TBitmap h(b);
  h.SetPixelFormat(pf16bit);
  EXPECT_EQ(h.GetPixel(1, 0), (TRGB{255, 255, 255}));
  h.SetPixelFormat(pf15bit);
  EXPECT_EQ(h.GetPixel(1, 0), (TRGB{255, 255, 255}));
}

TEST(BitmapSizeLimit, RefusesBeyondTheLimitWithoutAllocating) {
  EXPECT_TRUE(VXCheckBitmapSize(4000, 3000, 24));
  EXPECT_FALSE(VXCheckBitmapSize(100000, 100000, 24));
  EXPECT_FALSE(VXCheckBitmapSize(-1, 10, 24));
  EXPECT_FALSE(VXCheckBitmapSize(int64_t(1) << 40, 1, 24));  // overflow of the row length
  TBitmap b(2, 2, pf24bit);
  EXPECT_THROW(b.SetSize(100000, 100000), EVXBitmapTooLarge);
  EXPECT_EQ(b.Width(), 2);  // unchanged after the refusal
  uint64_t old = VXGetMaxBitmapBytes();
  VXSetMaxBitmapBytes(100);
  EXPECT_FALSE(VXCheckBitmapSize(10, 10, 24));
  VXSetMaxBitmapBytes(0);
  EXPECT_TRUE(VXCheckBitmapSize(100000, 100000, 24));
  VXSetMaxBitmapBytes(old);
}

TEST(BitmapCopy, VXCopyBitmapOfAnEmptySourceGivesOneByOne) {
  TBitmap src(0, 0, pf1bit), dst(5, 5, pf24bit);
  VXCopyBitmap(src, dst);
  EXPECT_EQ(dst.Width(), 1);
  EXPECT_EQ(dst.Height(), 1);
  EXPECT_EQ(dst.PixelFormat(), pf1bit);
  TBitmap full(3, 3, pf24bit);
  full.SetPixel(2, 2, TRGB{1, 2, 3});
  VXCopyBitmap(full, dst);
  EXPECT_EQ(dst.GetPixel(2, 2), (TRGB{1, 2, 3}));
  EXPECT_EQ(dst.PixelFormat(), pf24bit);
}

TEST(Colours, TColorPacksRedLowAndResolvesSystemColours) {
  EXPECT_EQ(RGB2TColor(1, 2, 3), 0x030201);
  EXPECT_EQ(TRGB2TColor(CreateRGB(1, 2, 3)), 0x030201);
  EXPECT_EQ(TColor2TRGB(0x030201), CreateRGB(1, 2, 3));
  EXPECT_EQ(ColorToRGB(clWindow), 0xFFFFFF);
  EXPECT_EQ(ColorToRGB(clWindowText), 0);
  EXPECT_EQ(ColorToRGB(clRed), clRed);
  VXSetSystemColor(15, 0x123456);
  EXPECT_EQ(TColor2TRGB(clBtnFace), CreateRGB(0x56, 0x34, 0x12));
  VXSetSystemColor(15, 0xF0F0F0);
}

TEST(Helpers, PixelFormatAndColourCounts) {
  EXPECT_EQ(_Bitcount2Pixelformat(2), pfCustom);
  EXPECT_EQ(_Bitcount2Pixelformat(15), pf15bit);
  EXPECT_EQ(_Pixelformat2BitCount(pfDevice), 0);
  EXPECT_EQ(_Pixelformat2BitCount(pf15bit), 15);
  EXPECT_EQ(_NColToBitsPixel(256), 8);
  EXPECT_EQ(_NColToBitsPixel(255), 8);
  EXPECT_EQ(_NColToBitsPixel(257), 9);
  EXPECT_EQ(_NColToBitsPixel(2), 1);
  EXPECT_EQ(_NColToBitsPixel(1), 0);
  EXPECT_EQ(_NColToBitsPixel(0), -1);
  EXPECT_EQ(_GetNumCol(8, 1), 256);
  EXPECT_EQ(_GetNumCol(8, 3), 16777216);
  EXPECT_EQ(_GetNumCol(8, 0), 1);
  EXPECT_EQ(_GetNumCol(16, 2), 0);  // 2^32 wraps in 32-bit arithmetic
}

TEST(Helpers, BitRuns) {
  EXPECT_EQ(_GetBitCount(0x00F0), 4);
  EXPECT_EQ(_GetBitCount(0x0F0F), 4);
  EXPECT_EQ(_GetBitCount(0xFFFFFFFF), 32);
  EXPECT_EQ(_GetBitCount(0xF800), 5);
  EXPECT_EQ(_GetBitCount(0), 0);
  uint32_t v = 1;
  ReverseBits(v);
  EXPECT_EQ(v, 0x80000000u);
  v = 0x12345678;
  ReverseBits(v);
  EXPECT_EQ(v, 0x1E6A2C48u);
  uint8_t b = 0x01;
  ReverseBitsB(b);
  EXPECT_EQ(b, 0x80);
  for (int i = 0; i < 256; ++i) {
    uint8_t x = static_cast<uint8_t>(i);
    ReverseBitsB(x);
    ReverseBitsB(x);
    EXPECT_EQ(x, i);
  }
}

TEST(Helpers, NumericClampsAndFloor) {
  EXPECT_EQ(VXFloor(-1.5), -2);
  EXPECT_EQ(VXFloor(2.0), 2);
  EXPECT_EQ(VXFloor(-2.0), -2);
  EXPECT_EQ(VXFloor(0.7), 0);
  EXPECT_EQ(blimit(-5), 0);
  EXPECT_EQ(blimit(300), 255);
  EXPECT_EQ(ilimit(5, 0, 3), 3);
  int x1 = 5, y1 = 1, x2 = 2, y2 = 7;
  OrdCor(x1, y1, x2, y2);
  EXPECT_EQ(x1, 2);
  EXPECT_EQ(x2, 5);
  EXPECT_EQ(y1, 1);
  EXPECT_EQ(y2, 7);
}

TEST(Geometry, RectangleTests) {
  EXPECT_TRUE(_InRect(2, 2, 0, 0, 2, 2));
  EXPECT_FALSE(_InRect(1, 1, 2, 2, 0, 0));  // unordered corners are taken as given
  EXPECT_TRUE(_InRectO(1, 1, 2, 2, 0, 0));
  EXPECT_TRUE(_RectXRect(0, 0, 10, 10, 10, 10, 20, 20));  // touching counts
  EXPECT_FALSE(_RectXRect(0, 0, 10, 10, 11, 0, 20, 20));
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 2, 2, 5, 5), 2);
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 5, 5, 15, 15), 1);
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 20, 20, 30, 30), 0);
}

TEST(Geometry, DistancesToPointsLinesAndSegments) {
  EXPECT_DOUBLE_EQ(_DistPoint2Point(0, 0, 3, 4), 5.0);
  EXPECT_DOUBLE_EQ(_DistPoint2Line(0, 5, -10, 0, 10, 0), 5.0);
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(3, 4, 0, 0, 0, 0), 5.0);     // coincident end points
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(13, 4, 0, 0, 10, 0), 5.0);   // beyond the far end
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(-3, -4, 0, 0, 10, 0), 5.0);  // before the near end
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(5, 7, 0, 0, 10, 0), 7.0);
}

TEST(Geometry, CastPolySelSnapsToAxesAndDiagonals) {
  int x = 5, y = 100;  // steep: vertical
  _CastPolySelCC(0, 0, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 100);
  x = 100, y = 5;  // flat: horizontal
  _CastPolySelCC(0, 0, x, y);
  EXPECT_EQ(y, 0);
  x = 50, y = 40;  // near the diagonal, both negative offsets: y catches up
  _CastPolySelCC(0, 0, x, y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 50);
  x = 60, y = 30;  // exactly 30 off the diagonal still takes the diagonal branch
  _CastPolySelCC(0, 0, x, y);
  EXPECT_EQ(x, 60);
  EXPECT_EQ(y, 60);
  x = -40, y = -50;  // both positive offsets, dy > dx
  _CastPolySelCC(0, 0, x, y);
  EXPECT_EQ(x, -40);
  EXPECT_EQ(y, -40);
}

TEST(Progress, NullRecordHasNoEventAndASharedFlag) {
  EXPECT_FALSE(static_cast<bool>(nullpr.OnProgress));
  ASSERT_NE(nullpr.Aborting, nullptr);
  int reported = -1;
  bool abort = false;
  TProgressRec pr;
  pr.OnProgress = [&](TObject*, int per) { reported = per; };
  pr.Aborting = &abort;
  pr.PerUnit = 100.0 / 3;
  pr.Report(2);
  EXPECT_EQ(reported, 66);
  pr.Abort();
  EXPECT_TRUE(pr.Aborted());
}
