#include <gtest/gtest.h>

#include "vexa/core/raster.h"

using namespace vexa;

namespace {
int CountColour(const TBitmap& b, TRGB c) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.GetPixel(x, y) == c;
  return n;
}
const TRGB kRed{0, 0, 255};
}  // namespace

TEST(RasterFill, RectangleExcludesRightAndBottomAndClips) {
  TBitmap b(10, 10, pf24bit);
  VXFillRect(b, TRect{2, 3, 5, 7}, clRed);
  EXPECT_EQ(CountColour(b, kRed), 3 * 4);
  EXPECT_EQ(b.GetPixel(2, 3), kRed);
  EXPECT_NE(b.GetPixel(5, 3), kRed);
  VXFillRect(b, TRect{-5, -5, 100, 100}, clRed);
  EXPECT_EQ(CountColour(b, kRed), 100);
}

TEST(RasterPolygon, AxisAlignedSquareCoversItsPixels) {
  TBitmap b(10, 10, pf24bit);
  TPoint sq[4] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  VXFillPolygon(b, sq, 4, clRed);
  EXPECT_EQ(CountColour(b, kRed), 16);
  EXPECT_EQ(b.GetPixel(3, 3), kRed);
  EXPECT_NE(b.GetPixel(4, 4), kRed);
}

TEST(RasterPolygon, EvenOddLeavesTheOverlapOfASelfCrossingStarEmpty) {
  // A pentagram: its centre is covered twice and so stays outside.
  TPoint star[5] = {{50, 0}, {79, 90}, {2, 34}, {98, 34}, {21, 90}};
  TVXPolygonMask mask(100, 100, {std::vector<TPoint>(star, star + 5)});
  EXPECT_FALSE(mask.Contains(50, 50));
  EXPECT_TRUE(mask.Contains(50, 10));
  EXPECT_FALSE(mask.Contains(0, 0));
  EXPECT_FALSE(mask.Contains(-1, 50));
  EXPECT_FALSE(mask.Contains(50, 1000));
}

TEST(RasterPolygon, BreakMarkersSplitPolygons) {
  TPoint pts[9] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, kPolyBreak, {5, 5}, {7, 5}, {7, 7}, kPolyBreak};
  auto polys = VXSplitPolygons(pts, 9);
  ASSERT_EQ(polys.size(), 2u);
  EXPECT_EQ(polys[0].size(), 4u);
  EXPECT_EQ(polys[1].size(), 3u);
}

TEST(RasterPolygon, PolygonFarOutsideTheBitmapTouchesNothing) {
  TBitmap b(4, 4, pf1bit);
  TPoint pts[3] = {{-1000000, -5}, {1000000, -5}, {0, 1000000}};
  VXFillPolygon(b, pts, 3, clWhite);  // huge, but clipped
  EXPECT_NE(_GetPixelbw(b.ScanLine(3), 3), 0);
  TPoint away[3] = {{100, 100}, {200, 100}, {150, 200}};
  TBitmap c(4, 4, pf24bit);
  VXFillPolygon(c, away, 3, clRed);
  EXPECT_EQ(CountColour(c, kRed), 0);
}

TEST(RasterDraw, ClippedDrawCopiesOnlyInsideThePolygon) {
  TBitmap src(6, 6, pf24bit), dst(8, 8, pf24bit);
  src.Fill(kRed);
  TPoint tri[3] = {{0, 0}, {8, 0}, {0, 8}};
  VXDrawBitmapClipped(dst, 1, 1, src, tri, 3);
  EXPECT_EQ(dst.GetPixel(1, 1), kRed);
  EXPECT_NE(dst.GetPixel(0, 0), kRed);   // inside the triangle but outside the source
  EXPECT_NE(dst.GetPixel(6, 6), kRed);   // inside the source, outside the triangle
}

TEST(RasterDraw, DrawConvertsOneBitToTwentyFourAndClipsAtEdges) {
  TBitmap src(3, 3, pf1bit), dst(4, 4, pf24bit);
  src.Fill(TRGB{255, 255, 255});
  VXDrawBitmap(dst, 2, -1, src);
  EXPECT_EQ(dst.GetPixel(3, 0), (TRGB{255, 255, 255}));
  EXPECT_EQ(dst.GetPixel(3, 1), (TRGB{255, 255, 255}));
  EXPECT_EQ(dst.GetPixel(3, 2), (TRGB{0, 0, 0}));
  EXPECT_EQ(dst.GetPixel(1, 0), (TRGB{0, 0, 0}));
}

TEST(RasterStretch, NearestNeighbourDoublesEachPixel) {
  TBitmap src(2, 1, pf24bit), dst;
  src.SetPixel(0, 0, kRed);
  _VXBmpStretch(src, dst, 4, 2);
  ASSERT_EQ(dst.Width(), 4);
  EXPECT_EQ(dst.GetPixel(1, 1), kRed);
  EXPECT_NE(dst.GetPixel(2, 0), kRed);
  TBitmap bw(16, 1, pf1bit), bw2;
  _SetPixelbw(bw.ScanLine(0), 14, 1);  // destination pixel 7 samples source pixel 14
  _VXBmpStretch(bw, bw2, 8, 1);
  EXPECT_EQ(bw2.PixelFormat(), pf1bit);
  EXPECT_NE(_GetPixelbw(bw2.ScanLine(0), 7), 0);
}

TEST(RasterResize, NewAreaTakesTheColour) {
  TBitmap b(2, 2, pf24bit);
  b.Fill(kRed);
  VXResizeKeep(b, 3, 3, clWhite);
  EXPECT_EQ(b.GetPixel(1, 1), kRed);
  EXPECT_EQ(b.GetPixel(2, 0), (TRGB{255, 255, 255}));
  EXPECT_EQ(b.GetPixel(0, 2), (TRGB{255, 255, 255}));
}
