#include "vexa/proc/histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/pixels.h"
#include "vexa/core/sample.h"
#include "vexa/proc/procrect.h"

using namespace vexa;
using namespace vexa::test;

namespace {


// Automatic equalization written out step by step, on a full copy of the image.
TBitmap ReferenceAutoEqualize(const TBitmap& src, int x1, int y1, int x2, int y2) {
  const int w = src.Width(), h = src.Height();
  std::vector<int64_t> hist(256, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ++hist[GreyOf(Px(src, x, y))];
  const int64_t a = int64_t(w) * h / 256;
  int left[256], right[256];
  int64_t r = 0, s = 0;
  for (int i = 0; i < 256; ++i) {
    left[i] = static_cast<int>(std::clamp<int64_t>(r, 0, 255));
    s += hist[i];
    while (s > a) s -= a, ++r;
    right[i] = static_cast<int>(std::clamp<int64_t>(r, 0, 255));
  }
  TBitmap out = src;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      int sum[3] = {0, 0, 0};
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          TRGB n = Px(src, std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1));
          sum[0] += n.b, sum[1] += n.g, sum[2] += n.r;
        }
      TRGB mean{uint8_t(sum[0] / 9), uint8_t(sum[1] / 9), uint8_t(sum[2] / 9)};
      TRGB p = Px(src, x, y);
      int g = GreyOf(p), m = GreyOf(mean);
      TRGB o;
      if (left[g] == right[g])
        o = {uint8_t(left[p.b]), uint8_t(left[p.g]), uint8_t(left[p.r])};
      else if (m > right[g])
        o = {uint8_t(right[p.b]), uint8_t(right[p.g]), uint8_t(right[p.r])};
      else if (m < left[g])
        o = {uint8_t(left[p.b]), uint8_t(left[p.g]), uint8_t(left[p.r])};
      else
        o = mean;
      SetPx(out, x, y, o);
    }
  return out;
}

}  // namespace

TEST(ProcHistogram, EachCounterSumsToThePixelsOfTheRectangle) {
  TBitmap b = RandomBitmap(37, 23, 5);
  THistogramItem hist[256];
  _GetHistogram(b, hist, 3, 2, 30, 19);
  uint64_t r = 0, g = 0, bl = 0, k = 0;
  for (const auto& it : hist) r += it.r, g += it.g, bl += it.b, k += it.gray;
  const uint64_t n = 28 * 18;
  EXPECT_EQ(r, n);
  EXPECT_EQ(g, n);
  EXPECT_EQ(bl, n);
  EXPECT_EQ(k, n);
  TBitmap white = Filled(4, 4, Rgb(255, 255, 255));
  _GetHistogram(white, hist, 0, 0, 3, 3);
  EXPECT_EQ(hist[252].gray, 16u);
  EXPECT_EQ(hist[255].r, 16u);
}

TEST(ProcHistogram, DistinctColoursOfTheRectangle) {
  TBitmap b = Filled(10, 10, Rgb(1, 2, 3));
  SetPx(b, 9, 9, Rgb(3, 2, 1));
  SetPx(b, 5, 5, Rgb(0, 0, 0));
  EXPECT_EQ(_GetImageNumColors(b, 0, 0, 9, 9), 3);
  EXPECT_EQ(_GetImageNumColors(b, 0, 0, 8, 8), 2);
  TBitmap mono(10, 10, pf1bit);
  EXPECT_EQ(_GetImageNumColors(mono, 0, 0, 9, 9), 0);
}

TEST(ProcAutoEqualize, UniformImageKeepsItsColour) {
  // 256 pixels: A = 1, so Left[g] = 0 and Right[g] = 255 and every pixel is its mean.
  TBitmap b = Filled(16, 16, Rgb(90, 90, 90));
  _HistAutoEqualize(b, 0, 0, 15, 15);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Px(b, x, y), Rgb(90, 90, 90));
}

TEST(ProcAutoEqualize, MatchesTheTablesAndNeighbourhoodRule) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    TBitmap b = RandomBitmap(61, 47, seed);
    // Smooth out part of the picture so that all three choices occur.
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 61; ++x) SetPx(b, x, y, Rgb(x * 4, x * 4, 100));
    TBitmap expect = ReferenceAutoEqualize(b, 5, 3, 55, 40);
    _HistAutoEqualize(b, 5, 3, 55, 40);
    ASSERT_EQ(0, std::memcmp(b.Bits(), expect.Bits(), b.ImageSize())) << seed;
  }
}

TEST(ProcAutoEqualize, TinyImageFinishes) {
  // Under 256 pixels the target per level is 0; the table building must still end.
  // Its limit is Right = 255 from the first counted level on, Left = 255 after it.
  TBitmap b = Filled(5, 5, Rgb(10, 10, 10));
  SetPx(b, 0, 0, Rgb(0, 0, 0));
  _HistAutoEqualize(b, 0, 0, 4, 4);
  // Grey 0: Left 0, Right 255; its neighbourhood mean (50 div 9 = 5, grey 4) lies between: the mean.
  EXPECT_EQ(Px(b, 0, 0), Rgb(5, 5, 5));
  // Grey 9 comes after a counted level: Left = Right = 255, so 10 -> Left[10] = 255.
  EXPECT_EQ(Px(b, 4, 4), Rgb(255, 255, 255));
}

TEST(ProcHistEqualize, LevelsStretchBetweenTwoColours) {
  TBitmap b(256, 1, pf24bit);
  for (int x = 0; x < 256; ++x) SetPx(b, x, 0, Rgb(x, x, x));
  TBitmap same = b;
  _HistEqualize(same, Rgb(0, 0, 0), Rgb(255, 255, 255), 0, 0, 255, 0);
  EXPECT_EQ(0, std::memcmp(same.Bits(), b.Bits(), b.ImageSize()));
  _HistEqualize(b, Rgb(0, 0, 0), Rgb(128, 128, 128), 0, 0, 255, 0);
  for (int v = 0; v < 256; ++v) {
    const int expect = std::min(255, static_cast<int>(std::nearbyint(v * 255.0 / 128)));
    ASSERT_EQ(Px(b, v, 0), Rgb(expect, expect, expect)) << v;
  }
  EXPECT_EQ(Px(b, 64, 0).r, 128);  // 127.5 goes to the even neighbour
}

TEST(ProcHistEqualize, LowLimitAndZeroHighLimit) {
  TBitmap b = Filled(1, 1, Rgb(100, 200, 255));
  // Low 100 maps 100 -> 0 and 200 -> round(100 / 155 x 255) = 165; high 0 is raised to 1.
  _HistEqualize(b, Rgb(100, 100, 100), Rgb(255, 255, 0), 0, 0, 0, 0);
  EXPECT_EQ(Px(b, 0, 0), Rgb(0, 165, 255));
}

TEST(ProcHistEqualize, ProgressOverTenRows) {
  TBitmap b = Filled(4, 12, Rgb(9, 9, 9));
  std::vector<int> seen;
  _HistEqualize(b, Rgb(1, 1, 1), Rgb(200, 200, 200), 0, 1, 3, 10, [&](TObject*, int p) { seen.push_back(p); });
  EXPECT_EQ(seen, (std::vector<int>{10, 21, 31, 42, 52, 63, 73, 84, 94, 105}));
}

TEST(ProcAutoEqualize, ExactOnAVariedImageForAnyRectangle) {
  // Photo-like content with every grey level, saturated colours and a noisy band.
  TBitmap src = VXMakeSampleImage(203, 151);
  for (int x = 0; x < 203; ++x) SetPx(src, x, 75, Rgb(x, x, x));
  for (int x = 0; x < 53; ++x) SetPx(src, 150 + x, 76, Rgb(x + 203, x + 203, x + 203));
  SetPx(src, 0, 0, Rgb(255, 255, 255)), SetPx(src, 202, 150, Rgb(255, 0, 0));
  SetPx(src, 202, 0, Rgb(0, 0, 255)), SetPx(src, 0, 150, Rgb(0, 0, 0));
  TBitmap noise = RandomBitmap(203, 20, 9);
  for (int y = 0; y < 20; ++y) std::memcpy(src.ScanLine(100 + y), noise.ScanLine(y), 203 * 3);
  const int rects[][4] = {{0, 0, 202, 150}, {5, 3, 55, 40},   {0, 0, 0, 150},     {202, 0, 202, 150},
                          {0, 150, 202, 150}, {0, 0, 202, 0}, {-4, -9, 900, 900}, {101, 77, 101, 77},
                          {1, 1, 201, 149}};
  // Every instruction-set path the processor offers, then the portable one.
  const int detected = procdetail::gFilterSimd;
  for (int level : {detected, 0}) {
    procdetail::gFilterSimd = level;
    for (const auto& r : rects) {
      TBitmap b = src;
      const TBitmap expect = ReferenceAutoEqualize(src, std::max(r[0], 0), std::max(r[1], 0),
                                                   std::min(r[2], 202), std::min(r[3], 150));
      _HistAutoEqualize(b, r[0], r[1], r[2], r[3]);
      EXPECT_EQ(0, std::memcmp(b.Bits(), expect.Bits(), b.ImageSize())) << level << ": " << r[0] << "," << r[1];
    }
    // Widths around the vector steps, so that every row end is met.
    for (int wdt = 1; wdt <= 40; ++wdt) {
      TBitmap b = src;
      const TBitmap expect = ReferenceAutoEqualize(src, 150 - wdt, 10, 149, 12);
      _HistAutoEqualize(b, 150 - wdt, 10, 149, 12);
      EXPECT_EQ(0, std::memcmp(b.Bits(), expect.Bits(), b.ImageSize())) << level << ": width " << wdt;
    }
  }
  procdetail::gFilterSimd = detected;
}
