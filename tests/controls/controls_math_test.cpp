// The auxiliary controls' geometry, checked against the documented formulas
// without a screen.
#include <gtest/gtest.h>

#include "vexa/controls/gradient.h"
#include "vexa/controls/histogramplot.h"
#include "vexa/controls/hsvmath.h"
#include "vexa/controls/rulermath.h"
#include <cstring>

#include "vexa/proc/coloradjust.h"

using namespace vexa;

namespace {
using Pts = std::vector<TPoint>;

struct GripCase {
  TGripKind kind;
  TGripsDir dir;
  TRulerDir rulerDir;
  Pts expected;
};

// b = 50, base size 12 (h = 6, q = 3), cross extent 39, ruler 21: gdUp has its base
// at 39 and tip at 21; gdDown its base at 0 and tip at 18.
class GripPolygons : public ::testing::TestWithParam<GripCase> {};

TEST_P(GripPolygons, FollowTheKindsPointList) {
  const GripCase& c = GetParam();
  TGripShape s;
  s.Kind = c.kind;
  s.GripsDir = c.dir;
  s.RulerDir = c.rulerDir;
  s.BaseDim = 12;
  s.CrossExtent = 39;
  s.RulerHeight = 21;
  EXPECT_EQ(GripPolygon(s, 50), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ruler, GripPolygons,
    ::testing::Values(
        GripCase{gkTriangle, gdUp, rdHorizontal, {{44, 39}, {56, 39}, {50, 21}}},
        GripCase{gkLeftTriangle, gdUp, rdHorizontal, {{44, 39}, {50, 39}, {50, 21}}},
        GripCase{gkRightTriangle, gdUp, rdHorizontal, {{50, 39}, {56, 39}, {50, 21}}},
        GripCase{gkArrow, gdUp, rdHorizontal, {{47, 39}, {53, 39}, {53, 27}, {56, 27}, {50, 21}, {44, 27}, {47, 27}}},
        GripCase{gkArrow2, gdUp, rdHorizontal, {{44, 39}, {56, 39}, {56, 30}, {50, 21}, {44, 30}}},
        GripCase{gkTriangle, gdDown, rdHorizontal, {{44, 0}, {56, 0}, {50, 18}}},
        GripCase{gkArrow, gdDown, rdHorizontal, {{47, 0}, {53, 0}, {53, 12}, {56, 12}, {50, 18}, {44, 12}, {47, 12}}},
        GripCase{gkArrow2, gdDown, rdHorizontal, {{44, 0}, {56, 0}, {56, 9}, {50, 18}, {44, 9}}},
        GripCase{gkRightTriangle, gdUp, rdVertical, {{39, 50}, {39, 56}, {21, 50}}},
        GripCase{gkArrow, gdDown, rdVertical, {{0, 47}, {0, 53}, {12, 53}, {12, 56}, {18, 50}, {12, 44}, {12, 47}}}));

TEST(RulerMath, OverlappingGripsClickToTheLowestIndexWithInclusiveEdges) {
  const std::vector<Pts> polys = {{{10, 39}, {20, 39}, {15, 21}}, {{14, 39}, {26, 39}, {20, 21}}};
  EXPECT_EQ(ClickedGrip(polys, 16, 30), 0);  // inside both boxes
  EXPECT_EQ(ClickedGrip(polys, 26, 39), 1);  // right-bottom corner counts
  EXPECT_EQ(ClickedGrip(polys, 27, 30), -1);
  EXPECT_EQ(ClickedGrip({}, 16, 30), -1);
}

TEST(RulerMath, TicksSitOnMultiplesAndRoundHalfToEven) {
  std::vector<TRulerTick> t = RulerTicks(0, 1, 10, 300);
  ASSERT_EQ(t.size(), 32u);  // n = 30, k = 0 .. 31
  EXPECT_EQ(t[3].Pixel, 30);
  EXPECT_DOUBLE_EQ(t[31].Value, 310);
  t = RulerTicks(25, 1, 10, 300);
  EXPECT_DOUBLE_EQ(t[0].Value, 20);
  EXPECT_EQ(t[0].Pixel, -5);
  t = RulerTicks(-25, 1, 10, 300);  // truncation towards zero: the first tick is inside
  EXPECT_DOUBLE_EQ(t[0].Value, -20);
  EXPECT_EQ(t[0].Pixel, 5);
  t = RulerTicks(0, 2.5, 1, 10);
  ASSERT_GE(t.size(), 5u);
  EXPECT_EQ(t[1].Pixel, 2);  // 2.5
  EXPECT_EQ(t[3].Pixel, 8);  // 7.5
  EXPECT_TRUE(RulerTicks(0, 1, 0, 300).empty());
  EXPECT_TRUE(RulerTicks(0, 1e-9, 1, 300).empty());
}

TEST(RulerMath, LabelsInDecimalAndHexadecimal) {
  EXPECT_EQ(RulerLabel(-255, true), "-FF");
  EXPECT_EQ(RulerLabel(0, true), "0");
  EXPECT_EQ(RulerLabel(4096.9, true), "1000");
  EXPECT_EQ(RulerLabel(0.1 + 0.2, false), "0.3");
  EXPECT_EQ(RulerLabel(-12.5, false), "-12.5");
  EXPECT_EQ(RulerLabel(40, false), "40");
}

TEST(RulerMath, LimitsApplyOnlyToNonEmptyRanges) {
  EXPECT_DOUBLE_EQ(ClampGripPos(-5, 0, 100), 0);
  EXPECT_DOUBLE_EQ(ClampGripPos(150, 0, 100), 100);
  EXPECT_DOUBLE_EQ(ClampGripPos(150, 100, 100), 150);  // maximum <= minimum
  EXPECT_DOUBLE_EQ(ClampGripPos(-5, 100, 0), -5);
  EXPECT_DOUBLE_EQ(ClampViewPos(-50, 0, 0, 300), -50);  // ViewMin = ViewMax
  EXPECT_DOUBLE_EQ(ClampViewPos(-50, 0, 1000, 300), 0);
  EXPECT_DOUBLE_EQ(ClampViewPos(800, 0, 1000, 300), 700);
  EXPECT_DOUBLE_EQ(FitDotPerUnit(1, 0, 100, 300), 3);
  EXPECT_DOUBLE_EQ(FitDotPerUnit(1, 50, 50, 300), 1);
  EXPECT_EQ(RulerHeight(true, 11), 21);
  EXPECT_EQ(RulerHeight(false, 11), 0);
}

TEST(HSVMath, ZonesAndDragsClampToTheSquareAndBar) {
  const int S = HSVSquareWidth(105);
  ASSERT_EQ(S, 80);
  EXPECT_EQ(HSVZoneAt(79, S), hzSquare);
  EXPECT_EQ(HSVZoneAt(80, S), hzNone);
  EXPECT_EQ(HSVZoneAt(84, S), hzNone);
  EXPECT_EQ(HSVZoneAt(85, S), hzHueBar);
  // Above the bar is hue 359, below it 0.
  EXPECT_EQ(HSVPointToHue(HSVClampDrag(hzHueBar, 90, -40, S, 105, 105).Y, 105), 359);
  EXPECT_EQ(HSVPointToHue(HSVClampDrag(hzHueBar, 90, 400, S, 105, 105).Y, 105), 0);
  EXPECT_EQ(HSVClampDrag(hzSquare, 200, 10, S, 105, 105).X, 79);
  EXPECT_EQ(HSVClampDrag(hzHueBar, 200, 10, S, 105, 105).X, 104);
  int sat, val;
  HSVPointToSatVal(79, 0, S, 105, sat, val);
  EXPECT_EQ(sat, 99);
  EXPECT_EQ(val, 99);
  HSVPointToSatVal(0, 104, S, 105, sat, val);
  EXPECT_EQ(sat, 0);
  EXPECT_EQ(val, 0);
}

TEST(HSVMath, PictureCornersAndBar) {
  TBitmap bmp;
  bmp.Allocate(105, 105, pf24bit);
  HSVPaintBox(bmp, 0, clWhite);
  auto px = [&](int x, int y) { return reinterpret_cast<const TRGB*>(bmp.ScanLine(y))[x]; };
  EXPECT_EQ(px(0, 104), CreateRGB(0, 0, 0));        // no value
  EXPECT_EQ(px(79, 104), CreateRGB(0, 0, 0));
  EXPECT_EQ(px(0, 0), CreateRGB(255, 255, 255));    // value 99, no saturation
  const TRGB red = px(79, 0);                        // saturation 98, value 99
  EXPECT_EQ(red.r, 255);
  EXPECT_LT(red.g, 8);
  EXPECT_EQ(red.g, red.b);
  EXPECT_EQ(px(82, 50), CreateRGB(255, 255, 255));   // the gap
  EXPECT_EQ(px(90, 104), CreateRGB(255, 0, 0));     // hue 0 at the bottom
  EXPECT_EQ(HSVBarHue(35, 105), 120);
  EXPECT_EQ(px(104, 104 - 35), CreateRGB(0, 255, 0));
  EXPECT_EQ(HSVSquareVal(104, 105), 99);
  EXPECT_EQ(HSVSquareSat(79, 80), 98);
}

TEST(HSVMath, GripsSitWhereTheFormulasSayAndInvertingTwiceRestores) {
  EXPECT_EQ(HSVHueGripY(359, 105), 0);
  EXPECT_EQ(HSVHueGripY(0, 105), 104);  // round(104 x 359 / 360) = round(103.71)
  EXPECT_EQ(HSVSquareGripRect(99, 99, 80, 105), (TRect{76, -3, 82, 3}));
  EXPECT_EQ(HSVSquareGripRect(0, 0, 80, 105), (TRect{-3, 101, 3, 107}));
  TBitmap bmp;
  bmp.Allocate(105, 105, pf24bit);
  HSVPaintBox(bmp, 200, clBtnFace);
  TBitmap before;
  VXCopyBitmap(bmp, before);
  InvertRectOutline(bmp, {76, -3, 82, 3});
  EXPECT_NE(std::memcmp(bmp.ScanLine(2), before.ScanLine(2), 105 * 3), 0);
  InvertRectOutline(bmp, {76, -3, 82, 3});
  for (int y = 0; y < 105; ++y) ASSERT_EQ(std::memcmp(bmp.ScanLine(y), before.ScanLine(y), 105 * 3), 0);
}

TEST(HistogramPlot, MaxCountsOnlySelectedChannels) {
  THistogram h;
  h[0] = {5, 7, 1, 2};
  h[200] = {1, 1, 9, 3};
  EXPECT_EQ(HistogramMax(h, HistogramBit(hkGray)), 3u);
  EXPECT_EQ(HistogramMax(h, HistogramBit(hkRed) | HistogramBit(hkGreen)), 7u);
  EXPECT_EQ(HistogramMax(h, 0), 0u);
}

TEST(HistogramPlot, LayoutLeavesRoomForLabelsAxesAndRamp) {
  THistogramTextMetrics m;
  m.FontHeight = 11;
  m.TextHeight = 13;
  m.MaxLabelWidth = 30;
  m.Label255Width = 20;
  const THistogramLayout lay =
      HistogramLayout(256, 105, HistogramBit(hlVertical) | HistogramBit(hlHorizontal), true, m);
  EXPECT_EQ(lay.RampRows, 13);  // trunc(11 x 1.2)
  EXPECT_EQ(lay.L, 32);
  EXPECT_EQ(lay.Wp, 224);
  EXPECT_EQ(lay.HalfLabelY, 45);  // (105 - 15) div 2
  EXPECT_EQ(lay.LabelX[1], 32 + 56);
  EXPECT_EQ(lay.Label255X, 32 + 224 - 20);
  EXPECT_EQ(lay.LabelY, 90 - 11 - 1);
  EXPECT_EQ(lay.Hp, 90 - 15);
  const THistogramLayout bare = HistogramLayout(256, 105, 0, false, m);
  EXPECT_EQ(bare.L, 0);
  EXPECT_EQ(bare.Wp, 256);
  EXPECT_EQ(bare.Hp, 105);
  EXPECT_FALSE(bare.Axes);
}

TEST(HistogramPlot, BarsEntriesAndRamp) {
  EXPECT_EQ(HistogramEntryAt(255, 256), 255);
  EXPECT_EQ(HistogramEntryAt(100, 200), 128);
  EXPECT_EQ(HistogramBarEnd(10, 10, 75), -2);  // the full bar reaches row 0
  EXPECT_EQ(HistogramBarEnd(0, 10, 75), 73);
  EXPECT_EQ(HistogramLineY(5, 10, 75), 36);    // 75 - round(37.5) - 1
  EXPECT_EQ(HistogramRampLevel(0, 256), 0);
  EXPECT_EQ(HistogramRampLevel(128, 256), 128);
  EXPECT_EQ(HistogramRampLevel(999, 1000), 255);  // 255.74 would wrap to black as a byte
  EXPECT_EQ(HistogramRampPixel(100, HistogramBit(hkRed) | HistogramBit(hkBlue)), CreateRGB(100, 0, 100));
  EXPECT_EQ(HistogramRampPixel(100, HistogramBit(hkGray)), CreateRGB(100, 100, 100));
  EXPECT_EQ(HistogramRampPixel(100, 0), CreateRGB(0, 0, 0));
}

TEST(Gradient, DefaultRampAndDownwardChannels) {
  const TVXGradientRamp r = GradientRamp(clBlack, clWhite);
  EXPECT_EQ(r[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(r[128], CreateRGB(128, 128, 128));
  EXPECT_EQ(r[255], CreateRGB(255, 255, 255));
  const TVXGradientRamp d = GradientRamp(RGB2TColor(250, 10, 90), RGB2TColor(10, 250, 90));
  EXPECT_EQ(d[0], CreateRGB(250, 10, 90));
  EXPECT_EQ(d[255], CreateRGB(10, 250, 90));
  for (int i = 1; i < 256; ++i) {
    EXPECT_LE(d[i].r, d[i - 1].r);
    EXPECT_GE(d[i].g, d[i - 1].g);
    EXPECT_EQ(d[i].b, 90);
  }
}

TEST(Gradient, EndsPickTheEndStepsAndVerticalGripsSitOnTheirColour) {
  EXPECT_EQ(GradientPick(gdHorizontal, 0, 5, 300, 40), 0);
  EXPECT_EQ(GradientPick(gdHorizontal, 299, 5, 300, 40), 255);
  EXPECT_EQ(GradientPick(gdVertical, 5, 299, 40, 300), 0);  // bottom row
  EXPECT_EQ(GradientPick(gdVertical, 5, 0, 40, 300), 255);
  EXPECT_EQ(GradientStepAt(0, 1), 0);
  EXPECT_EQ(GradientGripCoord(gdHorizontal, 128, 300, 40), 150);  // trunc(128 x 299 / 255)
  for (int s = 0; s < 256; ++s) {
    const int row = GradientGripCoord(gdVertical, s, 40, 300);
    ASSERT_EQ(GradientStepAt(299 - row, 300), s) << "step " << s;
    ASSERT_EQ(GradientPick(gdVertical, 0, row, 40, 300), s);
  }
}

}  // namespace
