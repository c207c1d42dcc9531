#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "support/pixels.h"
#include "vexa/core/sample.h"
#include "vexa/quant/colorhelpers.h"
#include "vexa/quant/mediancut.h"
#include "vexa/quant/neuquant.h"
#include "vexa/quant/quantizer.h"

using namespace vexa;
using namespace vexa::test;

TEST(MedianCut, OneColourGivesOneEntryRoundedDownToMultiplesOfEight) {
  TBitmap bmp = Filled(17, 9, CreateRGB(201, 77, 14));
  std::vector<TRGB> pal(256, CreateRGB(1, 2, 3));
  TMedianCutQuantizer* q = CreateMedianCutQuantizer(bmp, pal, 256);
  EXPECT_EQ(MedianCutColorCount(q), 1);
  EXPECT_EQ(pal[0], CreateRGB(200, 72, 8));
  EXPECT_EQ(pal[1], CreateRGB(1, 2, 3)) << "entries beyond the produced colours stay untouched";
  EXPECT_EQ(MedianCutFindIndex(q, CreateRGB(0, 0, 0)), 0);
  EXPECT_EQ(MedianCutFindIndex(q, CreateRGB(255, 255, 255)), 0);
  FreeMedianCutQuantizer(q);
}

TEST(MedianCut, TwoColoursGiveExactlyTwoEntries) {
  TBitmap bmp = Filled(10, 10, CreateRGB(10, 200, 30));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) bmp.SetPixel(x, y, CreateRGB(250, 16, 99));
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 256);
  EXPECT_EQ(q.Method(), 1);
  ASSERT_EQ(pal.size(), 256u);
  std::set<int> used;
  const int ia = q.GetRGBIndex(CreateRGB(10, 200, 30)), ib = q.GetRGBIndex(CreateRGB(250, 16, 99));
  EXPECT_NE(ia, ib);
  EXPECT_LT(ia, 2);
  EXPECT_LT(ib, 2);
  EXPECT_EQ(pal[ia], CreateRGB(8, 200, 24));
  EXPECT_EQ(pal[ib], CreateRGB(248, 16, 96));
  EXPECT_EQ(pal[2], TRGB{});
}

TEST(MedianCut, LowThreeBitsNeverChangeTheIndex) {
  TBitmap bmp = VXMakeSampleImage(160, 120, 7);
  std::vector<TRGB> pal(64);
  TVXQuantizer q(bmp, pal, 64);
  for (int r = 0; r < 256; r += 8)
    for (int g = 0; g < 256; g += 24)
      for (int b = 0; b < 256; b += 40) {
        const int base = q.GetRGBIndex(CreateRGB(r, g, b));
        ASSERT_LT(base, 64);
        for (int lr : {1, 5, 7})
          EXPECT_EQ(q.GetRGBIndex(CreateRGB(r + lr, g + (7 - lr), b + lr / 2)), base);
      }
}

TEST(MedianCut, BusyImageUsesEveryRequestedColourAndMapsPixelsToTheirBox) {
  TBitmap bmp = VXMakeSampleImage(200, 150, 3);
  std::vector<TRGB> pal(256);
  TMedianCutQuantizer* q = CreateMedianCutQuantizer(bmp, pal, 256);
  const int n = MedianCutColorCount(q);
  EXPECT_GT(n, 200);
  EXPECT_LE(n, 256);
  // A pixel's palette colour lies in the cell range of its box, so it is never far
  // from the pixel (the box of a pixel's cell contains that cell).
  std::set<int> used;
  for (int y = 0; y < bmp.Height(); ++y) {
    const TRGB* row = reinterpret_cast<const TRGB*>(bmp.ScanLine(y));
    for (int x = 0; x < bmp.Width(); ++x) used.insert(MedianCutFindIndex(q, row[x]));
  }
  EXPECT_EQ(static_cast<int>(used.size()), n) << "every box holds at least one pixel";
  FreeMedianCutQuantizer(q);
}

TEST(MedianCut, EmptyAndOneColourRequestsStillGiveAPalette) {
  TBitmap empty;
  std::vector<TRGB> pal;
  TVXQuantizer q(empty, pal, 16);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(9, 9, 9)), 0);
  TBitmap bmp = VXMakeSampleImage(50, 50);
  std::vector<TRGB> one;
  TVXQuantizer q1(bmp, one, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(q1.GetRGBIndex(CreateRGB(255, 0, 0)), 0);
}

TEST(QuantizerObject, MethodFollowsTheColourCount) {
  TBitmap bmp = VXMakeSampleImage(64, 48);
  std::vector<TRGB> a, b;
  TVXQuantizer q256(bmp, a, 256, -1, 0);
  TVXQuantizer q257(bmp, b, 257, -1, 1);
  EXPECT_EQ(q256.Method(), 1);
  EXPECT_EQ(q257.Method(), 0);
  EXPECT_EQ(b.size(), 257u);
}

TEST(NeuQuant, SamplingFactorRules) {
  EXPECT_EQ(NeuQuantSampleFactor(40, 49, -1), 1);  // 1960 pixels
  EXPECT_EQ(NeuQuantSampleFactor(100, 20, -1), 2);  // 2000: round(2)
  EXPECT_EQ(NeuQuantSampleFactor(1000, 1000, -1), 30);  // 89.7, limited
  EXPECT_EQ(NeuQuantSampleFactor(300, 300, -1), 10);  // 88000*13/148000+2 = 9.73
  EXPECT_EQ(NeuQuantSampleFactor(150, 100, -1), 3);   // 13000*13/148000+2 = 3.14
  EXPECT_EQ(NeuQuantSampleFactor(10, 10, 100), 1);
  EXPECT_EQ(NeuQuantSampleFactor(10, 10, 0), 30);
  EXPECT_EQ(NeuQuantSampleFactor(10, 10, 50), 15);  // trunc(14.5) + 1
  EXPECT_EQ(NeuQuantSampleFactor(10, 10, 250), 1);
  EXPECT_EQ(NeuQuantSampleFactor(10, 10, -300), 30);
}

TEST(NeuQuant, GivesExactlyNColEntriesAndNearestIndices) {
  TBitmap bmp = VXMakeSampleImage(120, 90, 5);
  for (int ncol : {257, 300, 1000}) {
    std::vector<TRGB> pal;
    TVXQuantizer q(bmp, pal, ncol);
    ASSERT_EQ(q.Method(), 0);
    ASSERT_EQ(static_cast<int>(pal.size()), ncol);
    for (int i = 0; i < ncol; ++i) {
      const int idx = q.GetRGBIndex(pal[i]);
      ASSERT_GE(idx, 0);
      ASSERT_LT(idx, ncol);
      EXPECT_EQ(pal[idx], pal[i]) << "entry " << i;
    }
    // Arbitrary colours against a brute-force nearest search.
    uint32_t seed = 12345;
    for (int k = 0; k < 2000; ++k) {
      seed = seed * 1664525u + 1013904223u;
      const TRGB c = CreateRGB(seed >> 24, (seed >> 16) & 255, (seed >> 8) & 255);
      int bestD = 1 << 30;
      for (const TRGB& p : pal) bestD = std::min(bestD, ColourDistance(p, c));
      const int idx = q.GetRGBIndex(c);
      ASSERT_LT(idx, ncol);
      EXPECT_EQ(ColourDistance(pal[idx], c), bestD);
    }
  }
}

TEST(NeuQuant, SameInputGivesTheSamePalette) {
  TBitmap bmp = VXMakeSampleImage(300, 200, 9);
  std::vector<TRGB> a, b;
  TVXQuantizer qa(bmp, a, 512), qb(bmp, b, 512);
  EXPECT_EQ(a, b);
}

TEST(NeuQuant, TinyImagesAreSampledSafely) {
  // Fewer pixels than the sampling step, and fewer than 100 samples.
  for (int n : {1, 2, 7, 499, 500}) {
    TBitmap bmp = VXMakeSampleImage(n, 1, 2);
    std::vector<TRGB> pal;
    TVXQuantizer q(bmp, pal, 300);
    ASSERT_EQ(pal.size(), 300u);
    const TRGB c = bmp.GetPixel(0, 0);
    EXPECT_LT(q.GetRGBIndex(c), 300);
  }
}

TEST(NeuQuant, TheNetworkIsNoLargerThanThePixelCount) {
  // 16 million neurons for one pixel took seconds and a gigabyte; the palette keeps
  // the requested length and only the entries the network learnt are ever chosen.
  TBitmap bmp = VXMakeSampleImage(3, 1, 4);
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 1 << 24);
  ASSERT_EQ(pal.size(), size_t{1} << 24);
  for (int x = 0; x < 3; ++x) EXPECT_LT(q.GetRGBIndex(bmp.GetPixel(x, 0)), 3);
  EXPECT_EQ(pal[3], CreateRGB(0, 0, 0));
}

TEST(ColorHelpers, GreyAndNearestEntry) {
  EXPECT_EQ(_RGBToGray(CreateRGB(255, 255, 255)), 252);
  EXPECT_EQ(_RGBToGray(CreateRGB(0, 0, 0)), 0);
  EXPECT_EQ(_RGBToGray(CreateRGB(100, 0, 0)), 21);
  const TRGB pal[] = {CreateRGB(90, 90, 90), CreateRGB(10, 0, 0), CreateRGB(0, 10, 0), CreateRGB(200, 200, 200)};
  EXPECT_EQ(_GetSimilColor(pal, 4, CreateRGB(5, 5, 0)), 1) << "first of two equally near entries";
  EXPECT_EQ(_GetSimilColor(pal, 4, CreateRGB(1, 8, 0)), 2);
  EXPECT_EQ(_GetSimilColor(pal, 4, CreateRGB(190, 180, 250)), 3);
  EXPECT_EQ(_GetSimilColor(pal, 0, CreateRGB(190, 180, 250)), 0);
}

TEST(ColorHelpers, RedBlueSwaps) {
  TRGB a[2] = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6)};
  TRGB b[2];
  _CopyBGR_RGB(b, a, 2);
  EXPECT_EQ(b[0], CreateRGB(3, 2, 1));
  EXPECT_EQ(b[1], CreateRGB(6, 5, 4));
  _RGB2BGR(a, 2);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[1], b[1]);
}

TEST(MedianCut, ImagesWiderThanSixteenBitsAreCountedWhole) {
  // The colour that appears only beyond column 65535 must still get its entry.
  TBitmap bmp = Filled(70000, 2, CreateRGB(0, 0, 0));
  for (int y = 0; y < 2; ++y)
    for (int x = 66000; x < 70000; ++x) bmp.SetPixel(x, y, CreateRGB(255, 255, 255));
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 256);
  const int black = q.GetRGBIndex(CreateRGB(0, 0, 0)), white = q.GetRGBIndex(CreateRGB(255, 255, 255));
  EXPECT_NE(black, white);
  EXPECT_EQ(pal[black], CreateRGB(0, 0, 0));
  EXPECT_EQ(pal[white], CreateRGB(248, 248, 248));
}

TEST(MedianCut, PaletteRegressionGuard) {
  // A checksum of our own output on the sample image: a regression guard, not a
  // proof of agreement with any other implementation.
  TBitmap bmp = VXMakeSampleImage(256, 192, 1);
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 256);
  uint32_t h = 2166136261u;
  for (const TRGB& c : pal)
    for (uint8_t v : {c.b, c.g, c.r}) h = (h ^ v) * 16777619u;
  RecordProperty("checksum", std::to_string(h));
  EXPECT_EQ(h, 3787887365u);
}

TEST(NeuQuant, PaletteRegressionGuard) {
  // Regression guard on our own output (the learning is integer-exact, so any
  // change in arithmetic or sampling order shows up here).
  TBitmap bmp = VXMakeSampleImage(256, 192, 1);
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 400);
  uint32_t h = 2166136261u;
  for (const TRGB& c : pal)
    for (uint8_t v : {c.b, c.g, c.r}) h = (h ^ v) * 16777619u;
  EXPECT_EQ(h, 3237745992u);
}

TEST(MedianCut, UnseenColoursMapToTheBoxHoldingTheirCellElseZero) {
  // Black alone, and a light cluster whose box spans red cells 29..31.
  TBitmap bmp = Filled(6, 1, CreateRGB(0, 0, 0));
  bmp.SetPixel(3, 0, CreateRGB(239, 255, 255));
  bmp.SetPixel(4, 0, CreateRGB(255, 255, 255));
  bmp.SetPixel(5, 0, CreateRGB(255, 255, 255));
  std::vector<TRGB> pal;
  TVXQuantizer q(bmp, pal, 2);
  const int black = q.GetRGBIndex(CreateRGB(0, 0, 0)), light = q.GetRGBIndex(CreateRGB(255, 255, 255));
  ASSERT_EQ(black, 0);
  ASSERT_EQ(light, 1);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(239, 255, 255)), 1);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(247, 250, 251)), 1) << "inside the light box, never seen";
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(247, 0, 0)), 0) << "in no box";
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(128, 128, 128)), 0) << "in no box";
  // Means 30.33 and 31 round to 30 and 31.
  EXPECT_EQ(pal[1], CreateRGB(240, 248, 248));
}
