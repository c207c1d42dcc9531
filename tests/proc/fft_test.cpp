#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>

#include "support/pixels.h"
#include "vexa/core/raster.h"
#include "vexa/proc/fft.h"
#include "vexa/proc/vexaproc.h"

using namespace vexa;
using namespace vexa::test;

namespace {

TBitmap GreyRamp(int w, int h, uint32_t seed) {
  TBitmap b = RandomBitmap(w, h, seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t v = Px(b, x, y).g;
      SetPx(b, x, y, Rgb(v, v, v));
    }
  SetPx(b, 0, 0, Rgb(0, 0, 0));
  SetPx(b, 1, 0, Rgb(255, 255, 255));
  return b;
}



}  // namespace

TEST(FtImage, CoefficientsEqualTheCentredScaledDft) {
  const int n = 8;
  const TBitmap img = GreyRamp(n, n, 1);
  TVXFtImage ft;
  ft.BuildFT(img, vxitGrayscale);
  ASSERT_EQ(ft.Size(), n);
  double largest = 1;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) largest = std::max(largest, double(GreyOf(Px(img, x, y))));
  for (int v = 0; v < n; ++v)
    for (int u = 0; u < n; ++u) {
      std::complex<double> sum = 0;
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const double g = GreyOf(Px(img, x, y)) / largest * ((x + y) % 2 ? -1 : 1);
          sum += g * std::polar(1.0, -2 * M_PI * (u * x + v * y) / n);
        }
      sum /= n;  // 1/sqrt(N) per direction
      const TVXFtImage::TComplexRefs c = ft.GetComplexImage(u, v);
      ASSERT_NE(c.GreyRe, nullptr);
      EXPECT_EQ(c.RedRe, nullptr);
      EXPECT_NEAR(*c.GreyRe, sum.real(), 1e-5) << u << "," << v;
      EXPECT_NEAR(*c.GreyIm, sum.imag(), 1e-5) << u << "," << v;
    }
}

TEST(FtImage, PaddingSizeAndOffsets) {
  TVXFtImage ft;
  ft.BuildFT(Filled(300, 200, Rgb(1, 2, 3)), vxitRGB);
  EXPECT_EQ(ft.Size(), 512);
  EXPECT_EQ(ft.OffsetX(), 106);
  EXPECT_EQ(ft.OffsetY(), 156);
  ft.BuildFT(Filled(1, 1, Rgb(1, 2, 3)), vxitRGB);
  EXPECT_EQ(ft.Size(), 1);
}

TEST(FtImage, InverseReproducesAnImageSpanningTheFullRange) {
  const TBitmap grey = GreyRamp(64, 64, 2);
  TVXFtImage ft;
  ft.BuildFT(grey, vxitGrayscale);
  TBitmap back;
  ft.BuildBitmap(back);
  ASSERT_EQ(back.Width(), 64);
  EXPECT_LE(MaxDifference(back, grey), 1);
  // Colour, not square: the black padding gives the stretch its zero.
  TBitmap colour = RandomBitmap(50, 30, 3);
  SetPx(colour, 3, 3, Rgb(255, 255, 255));
  ft.BuildFT(colour, vxitRGB);
  TVXFtImage copy;
  copy.Assign(ft);
  copy.BuildBitmap(back);
  ASSERT_EQ(back.Width(), 50);
  ASSERT_EQ(back.Height(), 30);
  EXPECT_LE(MaxDifference(back, colour), 1);
}

TEST(FtImage, HiPassZeroRemovesOnlyTheMean) {
  TVXFtImage ft, before;
  ft.BuildFT(RandomBitmap(16, 16, 4), vxitRGB);
  before.Assign(ft);
  ft.HiPass(0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const auto a = ft.GetComplexImage(x, y), b = before.GetComplexImage(x, y);
      if (x == 8 && y == 8) {
        EXPECT_EQ(*a.GreenRe, 0);
        EXPECT_NE(*b.GreenRe, 0);
      } else {
        ASSERT_EQ(*a.GreenRe, *b.GreenRe);
        ASSERT_EQ(*a.BlueIm, *b.BlueIm);
      }
    }
  ft.LoPass(2);
  EXPECT_EQ(*ft.GetComplexImage(8, 11).RedRe, 0);
  EXPECT_EQ(*ft.GetComplexImage(9, 10).RedRe, *before.GetComplexImage(9, 10).RedRe);
  ft.ClearZone(9, 10, 9, 10);
  EXPECT_EQ(*ft.GetComplexImage(9, 10).RedRe, 0);
}

TEST(FtImage, SpectrumOfAFlatImageIsOneWhiteCentre) {
  TVXFtImage ft;
  ft.BuildFT(Filled(32, 32, Rgb(100, 150, 200)), vxitRGB);
  TBitmap spec;
  ft.GetFTImage(spec);
  ASSERT_EQ(spec.Width(), 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(Px(spec, x, y), (x == 16 && y == 16) ? Rgb(255, 255, 255) : Rgb(0, 0, 0)) << x << "," << y;
}

TEST(FtImage, FlatPlanesComeBackAtTheirOwnScale) {
  TBitmap halves = Filled(32, 32, Rgb(0, 0, 0));
  VXFillRect(halves, {0, 0, 16, 32}, clWhite);
  TVXFtImage ft;
  ft.BuildFT(halves, vxitGrayscale);
  ft.LoPass(0);  // only the mean is left: half of the brightest value everywhere
  TBitmap back;
  ft.BuildBitmap(back);
  for (int y = 0; y < 32; y += 7)
    for (int x = 0; x < 32; x += 5) EXPECT_NEAR(Px(back, x, y).r, 127, 1);
  ft.HiPass(100);  // nothing left at all
  ft.BuildBitmap(back);
  EXPECT_EQ(Px(back, 3, 3), Rgb(0, 0, 0));
  ft.GetFTImage(back);
  EXPECT_EQ(Px(back, 16, 16), Rgb(0, 0, 0));
}

TEST(FtImage, UnknownTypeOnlySizesTheBitmap) {
  TVXFtImage ft;
  ft.BuildFT(Filled(10, 6, Rgb(9, 9, 9)), vxitUnknown);
  TBitmap b = Filled(3, 3, Rgb(7, 7, 7));
  ft.BuildBitmap(b);
  EXPECT_EQ(b.Width(), 10);
  EXPECT_EQ(Px(b, 1, 1), Rgb(0, 0, 0));
  ft.GetFTImage(b);
  EXPECT_EQ(b.Width(), 16);
}

TEST(ProcFt, CreateConvertAndDisplay) {
  TBitmap b = RandomBitmap(128, 64, 5);
  TVexaProc proc;
  proc.SetAttachedBitmap(&b);
  std::unique_ptr<TVXFtImage> scaled(proc.FTCreateImage(vxitGrayscale, 64, -1));
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->Width(), 64);
  EXPECT_EQ(scaled->Height(), 32);
  int reports = 0;
  proc.OnProgress = [&](TObject* sender, int) {
    EXPECT_EQ(sender, &proc);
    ++reports;
  };
  std::unique_ptr<TVXFtImage> ft(proc.FTCreateImage(vxitRGB, -1, -1));
  ASSERT_TRUE(ft);
  EXPECT_EQ(reports, 3 * 128);
  proc.FTDisplayFrom(*ft);
  EXPECT_EQ(b.Width(), 128);
  EXPECT_EQ(b.Height(), 128);
  proc.FTConvertFrom(*ft);
  EXPECT_EQ(b.Height(), 64);
  TBitmap bw(8, 8, pf1bit);
  proc.SetAttachedBitmap(&bw);
  EXPECT_EQ(proc.FTCreateImage(vxitRGB, -1, -1), nullptr);
}
