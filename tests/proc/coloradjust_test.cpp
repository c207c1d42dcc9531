#include "vexa/proc/coloradjust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/pixels.h"
#include "vexa/core/parallel.h"
#include "vexa/core/sample.h"
#include "vexa/proc/procrect.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// Every 24-bit colour once: 4096 x 4096 pixels.
TBitmap EveryColour() {
  TBitmap cube(4096, 4096, pf24bit);
  for (int y = 0; y < 4096; ++y) {
    uint8_t* p = cube.ScanLine(y);
    for (int x = 0; x < 4096; ++x) {
      const uint32_t c = uint32_t(y) * 4096 + x;
      p[3 * x] = c & 255, p[3 * x + 1] = (c >> 8) & 255, p[3 * x + 2] = c >> 16;
    }
  }
  return cube;
}

}  // namespace

TEST(ProcGray, WhiteIsTwoFiftyTwoAndEveryColourMatchesTheIntegerFormula) {
  TBitmap b = EveryColour();
  _ConvertToGray(b, 0, 0, b.Width() - 1, b.Height() - 1);
  int bad = 0;
  for (int y = 0; y < 4096; ++y) {
    const uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < 4096; ++x) {
      const uint32_t c = uint32_t(y) * 4096 + x;
      const int expect = (21 * int(c >> 16) + 71 * int((c >> 8) & 255) + 7 * int(c & 255)) / 100;
      bad += p[3 * x] != expect || p[3 * x + 1] != expect || p[3 * x + 2] != expect;
    }
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(Px(b, 4095, 4095), Rgb(252, 252, 252));
  EXPECT_EQ(Px(b, 0, 0), Rgb(0, 0, 0));
}

// The conversions the variation is held to, checked by what any HSL conversion must do.
TEST(ProcHSL, ConversionsKnowThePrimariesRoundTripAndRotateHue) {
  auto apart = [](TRGB a, TRGB b) { return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)}); };
  const struct {
    TRGB Colour;
    double H, S, L;
  } known[] = {{Rgb(255, 0, 0), 0, 1, 0.5},          {Rgb(255, 255, 0), 1.0 / 6, 1, 0.5},
               {Rgb(0, 255, 0), 1.0 / 3, 1, 0.5},    {Rgb(0, 255, 255), 0.5, 1, 0.5},
               {Rgb(0, 0, 255), 2.0 / 3, 1, 0.5},    {Rgb(255, 0, 255), 5.0 / 6, 1, 0.5},
               {Rgb(255, 255, 255), 0, 0, 1},        {Rgb(0, 0, 0), 0, 0, 0},
               {Rgb(51, 51, 51), 0, 0, 0.2},         {Rgb(255, 128, 128), 0, 1, 0.75098039215686274}};
  for (const auto& k : known) {
    double h, s, l;
    RGB2HSL(k.Colour, h, s, l);
    EXPECT_NEAR(h, k.H, 1e-12);
    EXPECT_NEAR(s, k.S, 1e-12);
    EXPECT_NEAR(l, k.L, 1e-12);
    TRGB c;
    HSL2RGB(c, k.H, k.S, k.L);
    EXPECT_LE(apart(c, k.Colour), 1);  // truncation on the way back
  }
  TRGB grey;
  HSL2RGB(grey, 0.3, 0, 0.5);
  EXPECT_EQ(grey, Rgb(127, 127, 127));  // truncate(0.5 x 255)
  int worstTrip = 0, worstTurn = 0, outside = 0;
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; ++b) {
        double h, s, l;
        RGB2HSL(Rgb(r, g, b), h, s, l);
        outside += h < 0 || h >= 1 || s < 0 || s > 1 || l < 0 || l > 1;
        TRGB back, turned;
        HSL2RGB(back, h, s, l);
        worstTrip = std::max(worstTrip, apart(back, Rgb(r, g, b)));
        // A third of a turn sends red to green, green to blue and blue to red.
        if (h > 2.0 / 3) continue;
        HSL2RGB(turned, h + 1.0 / 3, s, l);
        worstTurn = std::max(worstTurn, apart(turned, Rgb(back.b, back.r, back.g)));
      }
  EXPECT_EQ(outside, 0);
  EXPECT_LE(worstTrip, 1);  // truncation on the way back
  EXPECT_LE(worstTurn, 1);
}

TEST(ProcHSL, OutOfRangeValuesAreClampedNotWrapped) {
  TRGB a, b;
  HSL2RGB(a, 1.3, 2, 0.5);
  HSL2RGB(b, 1.0, 1, 0.5);
  EXPECT_EQ(a, b);
  HSL2RGB(a, -0.2, 1, -1);
  EXPECT_EQ(a, Rgb(0, 0, 0));
  // A hue pushed past a full turn by HSLvar stays at 1 (red), not wrapped round to green.
  TBitmap bmp = Filled(1, 1, Rgb(255, 0, 0));
  _HSLvar(bmp, 480, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Px(bmp, 0, 0), Rgb(255, 0, 0));
}

TEST(ProcHSL, RoundTripKeepsColoursWithinOneStep) {
  TBitmap b = RandomBitmap(64, 64, 7);
  TBitmap orig = b;
  _HSLvar(b, 0, 0, 0, 0, 0, 63, 63);
  int worst = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      TRGB p = Px(b, x, y), q = Px(orig, x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  EXPECT_LE(worst, 1);  // truncation on the way back may lose one level
}

TEST(ProcHSV, ConversionsUseZeroToNinetyNine) {
  int h, s, v;
  RGB2HSV(Rgb(255, 255, 255), h, s, v);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(v, 99);
  RGB2HSV(Rgb(0, 0, 255), h, s, v);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(s, 99);
  TRGB c;
  HSV2RGB(c, 0, 0, 99);
  EXPECT_EQ(c, Rgb(255, 255, 255));
  HSV2RGB(c, 120, 99, 99);
  EXPECT_EQ(c, Rgb(0, 255, 0));
  HSV2RGB(c, 500, 150, -3);  // clamped to 359, 99, 0
  EXPECT_EQ(c, Rgb(0, 0, 0));
}

TEST(ProcHSV, HueIsClampedAt359NotWrapped) {
  // (255, 0, 44) scales to (99, 0, 17): hue (0 - 17) x 60 div 99 + 360 = 350.
  int h, s, v;
  RGB2HSV(Rgb(255, 0, 44), h, s, v);
  ASSERT_EQ(h, 350);
  TBitmap b = Filled(3, 3, Rgb(255, 0, 44));
  _HSVvar(b, 30, 0, 0, 0, 0, 2, 2);
  // Hue 359: (V, p, q) = (99, 0, 2) -> (255, 0, 5). Wrapping to 20 would give (255, 85, 0).
  EXPECT_EQ(Px(b, 1, 1), Rgb(255, 0, 5));
}

TEST(ProcHSV, VariationEqualsTheConversionOfEachPixel) {
  // Colours met again are served from memory; they must agree with a fresh conversion.
  TBitmap b = RandomBitmap(300, 200, 3);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) SetPx(b, x, y, Rgb((x % 9) * 28, (y % 4) * 60, 200));
  const TBitmap orig = b;
  _HSVvar(b, 25, -10, 7, 0, 0, 299, 199);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      int h, s, v;
      RGB2HSV(Px(orig, x, y), h, s, v);
      TRGB expect;
      HSV2RGB(expect, h + 25, s - 10, v + 7);
      ASSERT_EQ(Px(b, x, y), expect) << x << "," << y;
    }
}

TEST(ProcContrast, ReferenceLevelsDivideByWidthMinusOneTimesHeightMinusOne) {
  TBitmap b = Filled(3, 3, Rgb(100, 20, 0));
  int r, g, bl;
  _GetMediaContrastRGB(b, r, g, bl);
  EXPECT_EQ(r, 225);  // 9 x 100 / (2 x 2)
  EXPECT_EQ(g, 45);
  EXPECT_EQ(bl, 0);
  TBitmap line = Filled(5, 1, Rgb(1, 1, 1));
  _GetMediaContrastRGB(line, r, g, bl);
  EXPECT_EQ(r, 128);
  EXPECT_EQ(_GetMediaContrast(b), 120 * 9 / (8 * 2));
  // Vector sums on wide rows with a few pixels left over.
  for (int w : {16, 37, 1001}) {
    const TBitmap rnd = RandomBitmap(w, 5, uint32_t(w));
    int64_t sum[3] = {};
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 3 * w; ++x) sum[x % 3] += rnd.ScanLine(y)[x];
    _GetMediaContrastRGB(rnd, r, g, bl);
    EXPECT_EQ(bl, sum[0] / (4 * (w - 1)));
    EXPECT_EQ(g, sum[1] / (4 * (w - 1)));
    EXPECT_EQ(r, sum[2] / (4 * (w - 1)));
  }
}

TEST(ProcContrast, ZeroKeepsPixelsAndMinusHundredFlattensToTheLevels) {
  TBitmap b = RandomBitmap(9, 7, 11);
  TBitmap orig = b;
  _ContrastRGB(b, 0, 100, 120, 140, 0, 0, 8, 6);
  EXPECT_EQ(0, std::memcmp(b.Bits(), orig.Bits(), b.ImageSize()));
  _ContrastRGB(b, -100, 300, 120, 5, 0, 0, 8, 6);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(Px(b, x, y), Rgb(255, 120, 5));
}

TEST(ProcContrast, PositiveContrastStretchesAroundTheLevelWithTruncation) {
  TBitmap b = Filled(1, 1, Rgb(110, 90, 100));
  _ContrastRGB(b, 5, 100, 100, 100, 0, 0, 0, 0);  // k = 1.5
  EXPECT_EQ(Px(b, 0, 0), Rgb(115, 85, 100));
  TBitmap c = Filled(1, 1, Rgb(103, 97, 0));
  _ContrastRGB(c, -1, 100, 100, 100, 0, 0, 0, 0);  // k = 0.9: 3 x 0.9 = 2.7 -> 2, -2.7 -> -2
  EXPECT_EQ(Px(c, 0, 0), Rgb(102, 98, 10));
}

TEST(ProcThreshold, SecondPassSeesTheFirstPassResult) {
  TBitmap b(3, 1, pf24bit);
  SetPx(b, 0, 0, Rgb(50, 120, 200));
  SetPx(b, 1, 0, Rgb(100, 150, 151));
  SetPx(b, 2, 0, Rgb(255, 0, 101));
  // Per channel: v <= 100 -> 200, then v > 150 -> 10.
  _Threshold(b, Rgb(100, 100, 100), Rgb(150, 150, 150), Rgb(200, 200, 200), Rgb(10, 10, 10), 0, 0, 2, 0);
  EXPECT_EQ(Px(b, 0, 0), Rgb(10, 120, 10));
  EXPECT_EQ(Px(b, 1, 0), Rgb(10, 150, 10));
  EXPECT_EQ(Px(b, 2, 0), Rgb(10, 10, 101));
}

TEST(ProcThreshold, FullRangeLimitsLeaveTheImageAlone) {
  TBitmap b = RandomBitmap(5, 5, 2);
  TBitmap orig = b;
  _Threshold(b, Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(9, 9, 9), Rgb(7, 7, 7), 0, 0, 4, 4);
  EXPECT_EQ(0, std::memcmp(b.Bits(), orig.Bits(), b.ImageSize()));
}

TEST(ProcAdjust, IntensityCastAndNegativeStayInsideTheRectangle) {
  TBitmap b = Filled(6, 6, Rgb(250, 10, 128));
  _IntensityRGBall(b, 10, -20, 5, 1, 1, 3, 3);
  EXPECT_EQ(Px(b, 1, 1), Rgb(255, 0, 133));
  EXPECT_EQ(Px(b, 3, 3), Rgb(255, 0, 133));
  EXPECT_EQ(Px(b, 4, 4), Rgb(250, 10, 128));
  EXPECT_EQ(Px(b, 0, 2), Rgb(250, 10, 128));
  _CastColorRange(b, Rgb(250, 0, 130), Rgb(255, 0, 140), Rgb(1, 2, 3), 0, 0, 99, 99);  // X2, Y2 clamped
  EXPECT_EQ(Px(b, 2, 2), Rgb(1, 2, 3));
  EXPECT_EQ(Px(b, 5, 5), Rgb(250, 10, 128));
  _Negative(b, 2, 2, 2, 2);
  EXPECT_EQ(Px(b, 2, 2), Rgb(254, 253, 252));
}

TEST(ProcAdjust, NegativeInvertsOneBitPixelsOfTheRectangleOnly) {
  TBitmap b(20, 2, pf1bit);
  _Negative(b, 3, 1, 12, 1);
  for (int x = 0; x < 20; ++x) {
    EXPECT_EQ(_GetPixelbw(b.ScanLine(0), x), 0);
    EXPECT_EQ(_GetPixelbw(b.ScanLine(1), x) != 0, x >= 3 && x <= 12) << x;
  }
  _Negative1Bit(b);
  EXPECT_EQ(_GetPixelbw(b.ScanLine(0), 19) != 0, true);
  EXPECT_EQ(b.ScanLine(0)[3], 0xFF);  // padding inverted too
}

TEST(ProcAdjust, NonTwentyFourBitImagesAreLeftAlone) {
  TBitmap b(4, 4, pf8bit);
  b.Fill(Rgb(10, 10, 10));
  TBitmap orig = b;
  _ConvertToGray(b, 0, 0, 3, 3);
  _IntensityRGBall(b, 50, 50, 50, 0, 0, 3, 3);
  _Negative(b, 0, 0, 3, 3);
  EXPECT_EQ(0, std::memcmp(b.Bits(), orig.Bits(), b.ImageSize()));
  EXPECT_EQ(_GetRGBChannel(b, 0), nullptr);
}

TEST(ProcAdjust, NegativeRectangleOriginIsNotReadBeforeTheRow) {
  TBitmap b = Filled(4, 4, Rgb(0, 0, 0));
  _Negative(b, -5, -5, 1, 1);
  EXPECT_EQ(Px(b, 0, 0), Rgb(255, 255, 255));
  EXPECT_EQ(Px(b, 2, 2), Rgb(0, 0, 0));
}

TEST(ProcChannels, IndexSelectsStoredByteAndHsvComponent) {
  TBitmap b = Filled(2, 2, Rgb(200, 100, 50));
  std::unique_ptr<TBitmap> blue(_GetRGBChannel(b, 0)), red(_GetRGBChannel(b, 9));
  EXPECT_EQ(Px(*blue, 1, 1), Rgb(50, 50, 50));
  EXPECT_EQ(Px(*red, 1, 1), Rgb(200, 200, 200));
  int h, s, v;
  RGB2HSV(Rgb(200, 100, 50), h, s, v);
  std::unique_ptr<TBitmap> hue(_GetHSVChannel(b, 7)), val(_GetHSVChannel(b, 2));
  const int hg = static_cast<int>(h / 359.0 * 255), vg = static_cast<int>(v / 99.0 * 255);
  EXPECT_EQ(Px(*hue, 0, 0), Rgb(hg, hg, hg));
  EXPECT_EQ(Px(*val, 0, 0), Rgb(vg, vg, vg));
  TBitmap r, g, bb, hh, ss, vv;
  _GetRGBChannelAll(b, r, g, bb);
  EXPECT_EQ(Px(g, 0, 1), Rgb(100, 100, 100));
  _GetHSVChannelAll(b, hh, ss, vv);
  EXPECT_EQ(Px(hh, 1, 0), Px(*hue, 1, 0));
  EXPECT_EQ(Px(vv, 1, 0), Px(*val, 1, 0));
}

TEST(ProcChannels, ProgressIsReportedBeforeEachRow) {
  TBitmap b = Filled(3, 4, Rgb(1, 2, 3));
  std::vector<int> seen;
  std::unique_ptr<TBitmap> c(_GetRGBChannel(b, 1, [&](TObject*, int per) { seen.push_back(per); }));
  EXPECT_EQ(seen, (std::vector<int>{0, 25, 50, 75}));
}

TEST(ProcHSL, VariationEqualsTheConversionOfEachPixel) {
  // Repeated colours (served from the colour cache) and random ones alike.
  TBitmap b = RandomBitmap(300, 200, 21);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) SetPx(b, x, y, Rgb((x % 7) * 30, (y % 5) * 50, 90));
  const TBitmap orig = b;
  _HSLvar(b, 25, -8, 6, 0, 0, 299, 199);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      double h, s, l;
      RGB2HSL(Px(orig, x, y), h, s, l);
      TRGB expect;
      HSL2RGB(expect, h + 25 / 360.0, s - 0.08, l + 0.06);
      ASSERT_EQ(Px(b, x, y), expect) << x << "," << y;
    }
}

namespace {

// The variation of one colour as the library's own conversions give it, there and back.
TRGB ExpectedHSLvar(TRGB c, int hue, int sat, int lum) {
  double h, s, l;
  RGB2HSL(c, h, s, l);
  TRGB out;
  HSL2RGB(out, h + hue / 360.0, s + sat / 100.0, l + lum / 100.0);
  return out;
}

// A photo-like picture with every grey level, the saturated primaries and noise.
TBitmap VariedImage() {
  TBitmap b = VXMakeSampleImage(331, 257);
  for (int x = 0; x < 256; ++x) SetPx(b, x, 0, Rgb(x, x, x));
  const TRGB corners[] = {Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), Rgb(255, 255, 0),
                          Rgb(0, 255, 255), Rgb(255, 0, 255), Rgb(255, 255, 255), Rgb(0, 0, 0)};
  for (int i = 0; i < 8; ++i) SetPx(b, 256 + i, 0, corners[i]);
  SetPx(b, 0, 256, corners[0]), SetPx(b, 330, 256, corners[2]);
  SetPx(b, 330, 1, corners[1]);
  TBitmap noise = RandomBitmap(331, 40, 5);
  for (int y = 0; y < 40; ++y) std::memcpy(b.ScanLine(200 + y), noise.ScanLine(y), 331 * 3);
  return b;
}

void ExpectHSLvarMatches(const TBitmap& src, int hue, int sat, int lum, int x1, int y1, int x2, int y2) {
  TBitmap b = src;
  _HSLvar(b, hue, sat, lum, x1, y1, x2, y2);
  const int cx1 = std::max(x1, 0), cy1 = std::max(y1, 0);
  const int cx2 = std::min(x2, src.Width() - 1), cy2 = std::min(y2, src.Height() - 1);
  int bad = 0;
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) {
      const TRGB c = Px(src, x, y);
      const bool inside = x >= cx1 && x <= cx2 && y >= cy1 && y <= cy2;
      const TRGB expect = inside ? ExpectedHSLvar(c, hue, sat, lum) : c;
      if (Px(b, x, y) != expect && ++bad < 4)
        ADD_FAILURE() << "(" << hue << "," << sat << "," << lum << ") at " << x << "," << y;
    }
  EXPECT_EQ(bad, 0) << hue << "," << sat << "," << lum;
}

}  // namespace

TEST(ProcHSL, VariationIsExactOnAVariedImageForManySettings) {
  const TBitmap src = VariedImage();
  const int params[][3] = {{0, 0, 0},       {10, 5, -3},     {-30, -20, 15},  {360, 100, 100}, {-360, -100, -100},
                           {480, 0, 0},     {-480, 0, 0},    {180, 50, -50},  {1, 1, 1},       {-1, -1, -1},
                           {90, -100, 0},   {0, 200, 0},     {45, 0, -60},    {0, 0, 50},      {200, -7, 33},
                           {-120, 100, -1}, {359, -50, 200}, {0, -300, -200}, {7, 13, -49}};
  // Every instruction-set path the processor offers, then the portable one.
  const int detected = procdetail::gColourSimd;
  for (int level : {3, 2, 1, 0}) {
    if (level > detected) continue;
    procdetail::gColourSimd = level;
    for (const auto& p : params) ExpectHSLvarMatches(src, p[0], p[1], p[2], 0, 0, 330, 256);
    // Part of the image, rectangles reaching past every edge, odd widths for the row ends.
    ExpectHSLvarMatches(src, 40, 20, -10, 17, 9, 200, 150);
    ExpectHSLvarMatches(src, -40, -20, 10, -5, -3, 1000, 1000);
    ExpectHSLvarMatches(src, 40, 20, -10, 330, 0, 330, 256);
    for (int wdt = 1; wdt <= 11; ++wdt) ExpectHSLvarMatches(src, 15, 30, 5, 320 - wdt, 3, 319, 4);
    // Large enough for the level table, also split into row bands (each with its
    // own colour cache) over the shared table.
    TBitmap large = VXMakeSampleImage(1030, 260);
    for (int y = 0; y < 256; ++y) std::memcpy(large.ScanLine(y), src.ScanLine(y), 331 * 3);
    ExpectHSLvarMatches(large, -70, 40, -20, 0, 0, 1029, 259);
    VXSetParallelMinPixels(0);
    VXSetThreadCount(3);
    ExpectHSLvarMatches(large, 25, -15, 10, 0, 0, 1029, 259);
    VXSetThreadCount(0);
    VXSetParallelMinPixels(-1);
  }
  procdetail::gColourSimd = detected;
}

TEST(ProcHSL, VariationIsExactForEveryColour) {
  const TBitmap cube = EveryColour();
  for (const auto& p : {std::array<int, 3>{0, 0, 0}, {10, 5, -3}, {-75, 30, 20}}) {
    TBitmap b = cube;
    _HSLvar(b, p[0], p[1], p[2], 0, 0, 4095, 4095);
    int bad = 0;
    for (int y = 0; y < 4096; ++y) {
      const TRGB* q = reinterpret_cast<const TRGB*>(b.ScanLine(y));
      const TRGB* o = reinterpret_cast<const TRGB*>(cube.ScanLine(y));
      for (int x = 0; x < 4096; ++x) bad += q[x] != ExpectedHSLvar(o[x], p[0], p[1], p[2]);
    }
    EXPECT_EQ(bad, 0) << p[0] << "," << p[1] << "," << p[2];
  }
}

// The eight-pixel kernel replaces the hue's divisions by corrected products:
// every colour's hue must come out bit for bit as RGB2HSL's.
TEST(ProcHSL, KernelHueEqualsTheDivisionsForEveryColour) {
  std::vector<uint8_t> bgr(3 * 4096);
  std::vector<double> got(4096);
  const int detected = procdetail::gColourSimd;
  for (int level : {3, 2}) {
    if (level > detected) continue;
    procdetail::gColourSimd = level;
    int64_t bad = 0;
    for (uint32_t first = 0; first < (1u << 24); first += 4096) {
      for (uint32_t i = 0; i < 4096; ++i) {
        const uint32_t c = first + i;
        bgr[3 * i] = c & 255, bgr[3 * i + 1] = (c >> 8) & 255, bgr[3 * i + 2] = uint8_t(c >> 16);
      }
      ASSERT_TRUE(procdetail::HslKernelHues(bgr.data(), 4096, got.data()));
      for (uint32_t i = 0; i < 4096; ++i) {
        double h, s, l;
        RGB2HSL(TRGB{bgr[3 * i], bgr[3 * i + 1], bgr[3 * i + 2]}, h, s, l);
        bad += std::memcmp(&h, &got[i], sizeof h) != 0;
      }
    }
    EXPECT_EQ(bad, 0) << "level " << level;
  }
  procdetail::gColourSimd = detected;
  if (detected < 2) GTEST_SKIP() << "no FMA here";
}

namespace {

// One colour operation beside the per-pixel formula it has always had.
struct TKernelCase {
  const char* Name;
  void (*Run)(TBitmap&, int, int, int, int);
  TRGB (*Expect)(TRGB);
};

uint8_t Clip(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
TRGB PerChannel(TRGB c, int (*f)(int, int), int kb, int kg, int kr) {
  return {Clip(f(c.b, kb)), Clip(f(c.g, kg)), Clip(f(c.r, kr))};
}
int Stretch(int v, int level) {  // contrast 25: k = 3.5
  return level + static_cast<int>((v - level) * 3.5);
}
int ThresholdOne(int v, int) { return (v <= 60 ? 20 : v) > 190 ? 230 : (v <= 60 ? 20 : v); }

const TKernelCase kKernelCases[] = {
    {"Negative", [](TBitmap& b, int x1, int y1, int x2, int y2) { _Negative(b, x1, y1, x2, y2); },
     [](TRGB c) { return TRGB{uint8_t(255 - c.b), uint8_t(255 - c.g), uint8_t(255 - c.r)}; }},
    {"Grey", [](TBitmap& b, int x1, int y1, int x2, int y2) { _ConvertToGray(b, x1, y1, x2, y2); },
     [](TRGB c) {
       const uint8_t g = static_cast<uint8_t>((21 * c.r + 71 * c.g + 7 * c.b) / 100);
       return TRGB{g, g, g};
     }},
    {"Intensity", [](TBitmap& b, int x1, int y1, int x2, int y2) { _IntensityRGBall(b, 40, -70, 3, x1, y1, x2, y2); },
     [](TRGB c) { return PerChannel(c, [](int v, int d) { return v + d; }, 3, -70, 40); }},
    {"ContrastRGB",
     [](TBitmap& b, int x1, int y1, int x2, int y2) { _ContrastRGB(b, 25, 100, 128, 140, x1, y1, x2, y2); },
     [](TRGB c) { return PerChannel(c, Stretch, 140, 128, 100); }},
    {"Contrast", [](TBitmap& b, int x1, int y1, int x2, int y2) { _Contrast(b, 25, 90, x1, y1, x2, y2); },
     [](TRGB c) { return PerChannel(c, Stretch, 90, 90, 90); }},
    {"Threshold",
     [](TBitmap& b, int x1, int y1, int x2, int y2) {
       _Threshold(b, Rgb(60, 60, 60), Rgb(190, 190, 190), Rgb(20, 20, 20), Rgb(230, 230, 230), x1, y1, x2, y2);
     },
     [](TRGB c) { return PerChannel(c, ThresholdOne, 0, 0, 0); }},
    {"CastRange",
     [](TBitmap& b, int x1, int y1, int x2, int y2) {
       _CastColorRange(b, Rgb(20, 0, 40), Rgb(230, 200, 255), Rgb(1, 2, 3), x1, y1, x2, y2);
     },
     [](TRGB c) {
       const bool in = c.r >= 20 && c.r <= 230 && c.g <= 200 && c.b >= 40;
       return in ? Rgb(1, 2, 3) : c;
     }},
    {"HSL", [](TBitmap& b, int x1, int y1, int x2, int y2) { _HSLvar(b, 33, -12, 7, x1, y1, x2, y2); },
     [](TRGB c) { return ExpectedHSLvar(c, 33, -12, 7); }},
    {"HSV", [](TBitmap& b, int x1, int y1, int x2, int y2) { _HSVvar(b, -50, 20, -9, x1, y1, x2, y2); },
     [](TRGB c) {
       int h, s, v;
       RGB2HSV(c, h, s, v);
       TRGB out;
       HSV2RGB(out, h - 50, s + 20, v - 9);
       return out;
     }},
};

void PrintTo(const TKernelCase& k, std::ostream* os) { *os << k.Name; }

class ColourKernels : public ::testing::TestWithParam<TKernelCase> {};

}  // namespace

// Every instruction-set path against the per-pixel formula, on random pictures
// of odd widths and on rectangles that start and end anywhere: the bytes inside
// match, and nothing outside (row padding included) changes.
TEST_P(ColourKernels, MatchThePerPixelFormulaOnEveryPath) {
  const TKernelCase& k = GetParam();
  const int detected = procdetail::gColourSimd;
  uint32_t seed = 1;
  auto next = [&](int n) { return int((seed = seed * 1103515245u + 12345u) >> 8) % n; };
  for (int level : {3, 2, 1, 0}) {
    if (level > detected) continue;
    procdetail::gColourSimd = level;
    for (int w : {1, 2, 17, 63, 97, 131, 259}) {
      TBitmap src(w, 23, pf24bit);
      // Random bytes, row padding included; a band of rows repeats a few colours.
      for (size_t i = 0; i < src.ImageSize(); ++i) src.Bits()[i] = static_cast<uint8_t>(next(256));
      for (int y = 8; y < 14; ++y)
        for (int x = 0; x < w; ++x) SetPx(src, x, y, Rgb(40 * (x % 5), 200 - y, 90));
      for (int trial = 0; trial < 6; ++trial) {
        int x1 = next(w + 2) - 1, x2 = x1 + next(w + 3);
        int y1 = next(25) - 1, y2 = y1 + next(25);
        if (trial == 0) x1 = y1 = 0, x2 = w - 1, y2 = 22;
        TBitmap got = src;
        k.Run(got, x1, y1, x2, y2);
        TBitmap want = src;
        for (int y = std::max(y1, 0); y <= std::min(y2, 22); ++y)
          for (int x = std::max(x1, 0); x <= std::min(x2, w - 1); ++x) SetPx(want, x, y, k.Expect(Px(src, x, y)));
        ASSERT_EQ(0, std::memcmp(got.Bits(), want.Bits(), src.ImageSize()))
            << k.Name << " level " << level << " width " << w << " rect " << x1 << "," << y1 << " " << x2 << "," << y2;
      }
    }
  }
  procdetail::gColourSimd = detected;
}

INSTANTIATE_TEST_SUITE_P(Proc, ColourKernels, ::testing::ValuesIn(kKernelCases),
                         [](const auto& info) { return std::string(info.param.Name); });
