#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <cmath>
#include <cstring>

#include "support/pixels.h"
#include "vexa/core/raster.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/resample.h"
#include "vexa/proc/vexaproc.h"

using namespace vexa;
using namespace vexa::test;

namespace {


TBitmap Resampled(const TBitmap& src, int w, int h, TResampleFilter f) {
  TBitmap dst(w, h, pf24bit);
  _Resample(src, dst, f, nullptr, nullptr);
  return dst;
}

TBitmap RandomBits(int w, int h, uint32_t seed) {
  TBitmap b(w, h, pf1bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) _SetPixelbw(b.ScanLine(y), x, rng() & 1);
  return b;
}

// The two passes written out plainly from the filter definition, for the fast
// paths to be checked against.
TBitmap ReferenceResample(const TBitmap& src, int dw, int dh, TResampleFilter f) {
  auto pass = [f](int srcLen, int dstLen, auto get, auto put) {
    const double s = double(dstLen) / srcLen, support = VXFilterSupport(f);
    for (int x = 0; x < dstLen; ++x) {
      const double c = x / s, width = s >= 1 ? support : support / s, scale = s >= 1 ? 1 : 1 / s;
      double sum[3] = {0, 0, 0};
      for (int j = int(std::floor(c - width)); j <= int(std::ceil(c + width)); ++j) {
        const double w = VXFilterKernel(f, (c - j) / scale) / scale;
        if (w == 0) continue;
        const int k = std::clamp(j < 0 ? -j : j >= srcLen ? 2 * srcLen - 1 - j : j, 0, srcLen - 1);
        for (int ch = 0; ch < 3; ++ch) sum[ch] += w * get(k, ch);
      }
      for (int ch = 0; ch < 3; ++ch)
        put(x, ch, sum[ch] > 255 ? 255 : sum[ch] < 0 ? 0 : int(std::nearbyint(sum[ch])));
    }
  };
  TBitmap tmp(dw, src.Height(), pf24bit), dst(dw, dh, pf24bit);
  for (int y = 0; y < src.Height(); ++y)
    pass(src.Width(), dw, [&](int k, int ch) { return src.ScanLine(y)[3 * k + ch]; },
         [&](int x, int ch, int v) { tmp.ScanLine(y)[3 * x + ch] = uint8_t(v); });
  for (int x = 0; x < dw; ++x)
    pass(src.Height(), dh, [&](int k, int ch) { return tmp.ScanLine(k)[3 * x + ch]; },
         [&](int y, int ch, int v) { dst.ScanLine(y)[3 * x + ch] = uint8_t(v); });
  return dst;
}

// Pictures that try the fast sums: noise, a smooth ramp, black and white edges
// (overshoot past 0..255) and neighbours one level apart, whose averages fall
// exactly on halves.
TBitmap Picture(int kind, int w, int h, uint32_t seed) {
  if (kind == 0) return RandomBitmap(w, h, seed);
  TBitmap b(w, h, pf24bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < 3 * w; ++i) {
      const int v = kind == 1 ? (5 * i + 3 * y) % 256 : kind == 2 ? (rng() & 1) * 255 : 127 + int(rng() & 1);
      b.ScanLine(y)[i] = uint8_t(v);
    }
  return b;
}

class ResampleFilters : public testing::TestWithParam<TResampleFilter> {};

// Odd sizes leave partial row groups and vector tails; 2x and 3x enlargements give
// the B-spline and Mitchell weights small denominators; 1-pixel lines mirror
// past both edges.
TEST_P(ResampleFilters, MatchThePlainTwoPassDefinition) {
  const TResampleFilter f = GetParam();
  for (auto [sw, sh] : {std::pair{67, 45}, std::pair{37, 23}, std::pair{1, 1}, std::pair{3, 1}, std::pair{1, 9}})
    for (int kind = 0; kind < 4; ++kind) {
      const TBitmap src = Picture(kind, sw, sh, uint32_t(sw * 31 + kind));
      for (auto [w, h] : {std::pair{std::max(1, sw / 4), std::max(1, sh / 4)}, std::pair{2 * sw, 2 * sh},
                          std::pair{3 * sw, 3 * sh - 1}, std::pair{sw, sh}, std::pair{1, 1}, std::pair{15, 61},
                          std::pair{sw / 3 + 1, sh / 2 + 1}})
        ASSERT_TRUE(SameImage(Resampled(src, w, h, f), ReferenceResample(src, w, h, f)))
            << "kind " << kind << ", " << sw << "x" << sh << " to " << w << "x" << h;
    }
}

// Every source row in one sum: a long list, and too many rows to keep as floats.
TEST(Resample, ExtremeReductionMatchesThePlainDefinition) {
  const TBitmap src = Picture(0, 240, 1600, 5);
  for (TResampleFilter f : {rfLanczos3, rfMitchell})
    EXPECT_TRUE(SameImage(Resampled(src, 239, 1, f), ReferenceResample(src, 239, 1, f))) << f;
}

INSTANTIATE_TEST_SUITE_P(All, ResampleFilters,
                         testing::Values(rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell));

}  // namespace

TEST(Resample, IntegerUpsamplingWithTriangleKeepsSourcePixels) {
  const TBitmap src = RandomBitmap(10, 8, 1);
  const TBitmap dst = Resampled(src, 30, 24, rfTriangle);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(Px(dst, 3 * x, 3 * y), Px(src, x, y)) << x << "," << y;
  // Between two source pixels on a source row: one third of the way along.
  const TRGB a = Px(src, 0, 0), b = Px(src, 1, 0);
  EXPECT_EQ(Px(dst, 1, 0).r, std::lrint(a.r * 2.0 / 3 + b.r / 3.0));
}

TEST(Resample, ScaleOneIsIdentityForTriangleButBSplineAndBellBlur) {
  TBitmap dot = Filled(9, 9, Rgb(0, 0, 0));
  SetPx(dot, 4, 4, Rgb(255, 255, 255));
  EXPECT_TRUE(SameImage(Resampled(dot, 9, 9, rfTriangle), dot));
  const TBitmap bs = Resampled(dot, 9, 9, rfBSpline);
  // 2/3 per pass at the centre, 1/6 beside it.
  EXPECT_EQ(Px(bs, 4, 4).g, 113);  // round(round(255 * 2/3) * 2/3)
  EXPECT_EQ(Px(bs, 5, 4).g, 28);   // round(round(255 / 6) * 2/3)
  EXPECT_EQ(Px(bs, 5, 5).g, 7);
  const TBitmap bell = Resampled(dot, 9, 9, rfBell);
  EXPECT_LT(Px(bell, 4, 4).g, 255);
  EXPECT_GT(Px(bell, 3, 4).g, 0);
}

TEST(Resample, ReductionAveragesAndTinySourcesStayInside) {
  const TBitmap grey = Filled(64, 48, Rgb(100, 100, 100));
  for (TResampleFilter f : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell}) {
    const TBitmap small = Resampled(grey, 16, 12, f);
    EXPECT_NEAR(Px(small, 8, 6).r, 100, 2) << f;
  }
  // A single source pixel mirrored under a wide kernel: the triangle's weights sum to 1.
  const TBitmap one = Filled(1, 1, Rgb(128, 64, 32));
  const TBitmap big = Resampled(one, 5, 5, rfTriangle);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(Px(big, x, y), Rgb(128, 64, 32));
  Resampled(Filled(2, 1, Rgb(1, 2, 3)), 1, 7, rfLanczos3);  // must not read outside (sanitizer build)
}

TEST(Resample, NonTrueColourLeavesDestinationAlone) {
  TBitmap src(8, 8, pf1bit);
  TBitmap dst = Filled(4, 4, Rgb(9, 9, 9));
  _Resample(src, dst, rfTriangle, nullptr, nullptr);
  _QuickResample(src, dst, rfTriangle, nullptr, nullptr);
  EXPECT_EQ(Px(dst, 2, 2), Rgb(9, 9, 9));
}

TEST(Resample, QuickResampleFiltersEnlargementAndStretchesReduction) {
  const TBitmap src = RandomBitmap(20, 16, 2);
  TBitmap quick(50, 40, pf24bit);
  _QuickResample(src, quick, rfMitchell, nullptr, nullptr);
  EXPECT_TRUE(SameImage(quick, Resampled(src, 50, 40, rfMitchell)));
  TBitmap down(7, 5, pf24bit), stretched;
  _QuickResample(src, down, rfMitchell, nullptr, nullptr);
  _VXBmpStretch(src, stretched, 7, 5);
  EXPECT_TRUE(SameImage(down, stretched));
}

TEST(Resample, ProgressEndsNearOneHundred) {
  const TBitmap src = RandomBitmap(40, 30, 3);
  TBitmap dst(20, 60, pf24bit);
  int last = -1, calls = 0;
  bool monotone = true;
  _Resample(src, dst, rfLanczos3, [&](TObject*, int per) {
    monotone = monotone && per >= last;
    last = per;
    ++calls;
  }, nullptr);
  EXPECT_TRUE(monotone);
  EXPECT_EQ(calls, 30 + 60);
  EXPECT_EQ(last, static_cast<int>(100.0 / 50.5 * 50));
}

TEST(ProcResample, NegativeSideKeepsAspectAndBothNegativeOnlySnapshots) {
  TBitmap b = RandomBitmap(400, 200, 4);
  TVexaProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Resample(-1, 100, rfTriangle);
  EXPECT_EQ(b.Width(), 200);
  EXPECT_EQ(b.Height(), 100);
  proc.ClearUndo();
  proc.Resample(-1, -1, rfTriangle);
  EXPECT_EQ(b.Width(), 200);
  EXPECT_TRUE(proc.CanUndo());
  TBitmap bw(16, 8, pf1bit);
  proc.SetAttachedBitmap(&bw);
  proc.Resample(32, -1, rfLanczos3);
  EXPECT_EQ(bw.PixelFormat(), pf1bit);
  EXPECT_EQ(bw.Height(), 16);
}

TEST(Rotate, QuarterTurnsAreCounterClockwiseAndInverse) {
  const TBitmap src = RandomBitmap(5, 3, 5);
  TBitmap ccw, back;
  _Rot90(src, ccw);
  ASSERT_EQ(ccw.Width(), 3);
  ASSERT_EQ(ccw.Height(), 5);
  EXPECT_EQ(Px(ccw, 0, 0), Px(src, 4, 0));  // top-right corner comes to the top-left
  EXPECT_EQ(Px(ccw, 0, 4), Px(src, 0, 0));
  _Rot90o(ccw, back);
  EXPECT_TRUE(SameImage(back, src));
}

TEST(Rotate, NinetyEqualsMinusTwoSeventyAndFullTurnsKeepTheImage) {
  const TBitmap src = RandomBitmap(7, 4, 6);
  TBitmap a = src, b = src, c = src;
  TVexaProc proc;
  proc.SetAttachedBitmap(&a);
  proc.Rotate(90, false);
  proc.SetAttachedBitmap(&b);
  proc.Rotate(-270, true);
  EXPECT_TRUE(SameImage(a, b));
  TBitmap expect;
  _Rot90(src, expect);
  EXPECT_TRUE(SameImage(a, expect));
  proc.SetAttachedBitmap(&c);
  proc.ClearUndo();
  proc.Rotate(360, true);
  EXPECT_TRUE(SameImage(c, src));
  EXPECT_TRUE(proc.CanUndo());
}

TEST(Rotate, FortyFiveShearsAndFortySixTurnsThenShearsBack) {
  const TBitmap src = RandomBitmap(100, 100, 7);
  TBitmap r45 = src;
  TProgressRec rec;
  _Rotate24(r45, 45, false, Rgb(0, 0, 0), rec);
  EXPECT_EQ(r45.Width(), 143);  // worked by hand from the shear sizes
  EXPECT_EQ(r45.Height(), 141);
  TBitmap r46 = src, turned, expect;
  _Rotate24(r46, 46, true, Rgb(1, 2, 3), rec);
  _Rot90(src, turned);
  _RotateShear(turned, expect, -44, true, Rgb(1, 2, 3), rec);
  EXPECT_TRUE(SameImage(r46, expect));
}

TEST(Rotate, ShearsMoveWholePixelsWithoutLosingAny) {
  const TRGB red = Rgb(255, 0, 0), bg = Rgb(0, 0, 255);
  // (At some angles, -30 and 45 among them, the computed size clips a corner tip by a pixel.)
  for (int angle : {30, -17, 10, 20}) {
    TBitmap b = Filled(60, 40, red);
    TProgressRec rec;
    _Rotate24(b, angle, false, bg, rec);
    int reds = 0, mixed = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        reds += Px(b, x, y) == red;
        mixed += !(Px(b, x, y) == red) && !(Px(b, x, y) == bg);
      }
    EXPECT_EQ(reds, 60 * 40) << angle;
    EXPECT_EQ(mixed, 0) << angle;
    EXPECT_EQ(Px(b, 0, 0), bg);
  }
  // Anti-aliased: the middle stays pure, the edges blend with the background.
  TBitmap aa = Filled(60, 40, red);
  TProgressRec rec;
  _Rotate24(aa, 30, true, bg, rec);
  EXPECT_EQ(Px(aa, aa.Width() / 2, aa.Height() / 2), red);
  bool blended = false;
  for (int y = 0; y < aa.Height(); ++y)
    for (int x = 0; x < aa.Width(); ++x) blended |= Px(aa, x, y).r > 0 && Px(aa, x, y).b > 0;
  EXPECT_TRUE(blended);
}

TEST(Rotate, OneBitNinetyDegreesSwapsSidesLikeTheQuarterTurn) {
  const TBitmap bits = RandomBits(12, 7, 8);
  TBitmap rotated = bits;
  TProgressRec rec;
  _rotate1bit(rotated, 90, 0, rec);
  ASSERT_EQ(rotated.Width(), 7);
  ASSERT_EQ(rotated.Height(), 12);
  TBitmap wide = bits, expect;
  wide.SetPixelFormat(pf24bit);
  _Rot90(wide, expect);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 7; ++x)
      ASSERT_EQ(_GetPixelbw(rotated.ScanLine(y), x) != 0, Px(expect, x, y).r == 255) << x << "," << y;
  // Corners uncovered by a 30-degree turn take the background bit.
  TBitmap black(20, 20, pf1bit);
  TVexaProc proc;
  proc.SetBackground(clWhite);
  proc.SetAttachedBitmap(&black);
  proc.Rotate(30, false);
  EXPECT_GT(black.Width(), 20);
  EXPECT_NE(_GetPixelbw(black.ScanLine(0), 0), 0);
  EXPECT_EQ(_GetPixelbw(black.ScanLine(black.Height() / 2), black.Width() / 2), 0);
}

TEST(Flip, MirrorsEveryFormatPixelExactly) {
  const TBitmap src = RandomBitmap(9, 5, 9);
  TBitmap h = src, v = src;
  _Flip(h, fdHorizontal);
  _Flip(v, fdVertical);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x) {
      ASSERT_EQ(Px(h, x, y), Px(src, 8 - x, y));
      ASSERT_EQ(Px(v, x, y), Px(src, x, 4 - y));
    }
  // 13 pixels: the padding bits of the last byte must not move into the picture.
  const TBitmap bits = RandomBits(13, 3, 10);
  TBitmap hb = bits;
  _Flip(hb, fdHorizontal);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x)
      ASSERT_EQ(_GetPixelbw(hb.ScanLine(y), x) != 0, _GetPixelbw(bits.ScanLine(y), 12 - x) != 0);
  TBitmap nib(5, 2, pf4bit);
  nib.ScanLine(0)[0] = 0x12, nib.ScanLine(0)[1] = 0x34, nib.ScanLine(0)[2] = 0x50;
  _Flip(nib, fdHorizontal);
  EXPECT_EQ(nib.ScanLine(0)[0], 0x54);
  EXPECT_EQ(nib.ScanLine(0)[1], 0x32);
  EXPECT_EQ(nib.ScanLine(0)[2] & 0xF0, 0x10);
}
