// The auxiliary controls on the offscreen platform: painting at the default
// sizes against their geometry, and the mouse.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "view/ui_test_util_ui.h"
#include "vexa/controls/gradientbar_ui.h"
#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/proc/coloradjust.h"

using namespace vexa;
using vexa::test::Click;
using vexa::test::Drag;
using vexa::test::Press;
using vexa::test::Release;

namespace {
const QRgb kBlack = qRgb(0, 0, 0), kWhite = qRgb(255, 255, 255), kRed = qRgb(255, 0, 0);
QRgb Q(TColor c) { return VXQRgb(c); }
QRgb Grey(int v) { return qRgb(v, v, v); }

class Controls : public ::testing::Test {
 protected:
  void SetUp() override { vexa::test::App(); }
};

// --- ruler box

TEST_F(Controls, RulerPaintsGripsAndTicksAtTheDefaultSize) {
  TRulerBox r;
  ASSERT_EQ(r.width(), 300);
  ASSERT_EQ(r.height(), 40);
  ASSERT_EQ(r.GetRulerHeight(), 21);  // 8-point font: 11 pixels
  r.SetGripsCol(0, clRed);
  r.SetGripsPos(0, 100);
  const QImage& img = r.Picture();
  // Grip: (94, 39), (106, 39), (100, 21), filled red inside a black outline.
  EXPECT_EQ(img.pixel(100, 35), kRed);
  EXPECT_EQ(img.pixel(100, 39), kBlack);
  EXPECT_EQ(img.pixel(94, 39), kBlack);
  EXPECT_EQ(img.pixel(92, 35), Q(clBtnFace));
  EXPECT_EQ(img.pixel(108, 39), Q(clBtnFace));
  // Small ticks every 10 pixels, 5 long, up from the strip's inner row 21.
  for (int y = 17; y <= 21; ++y) EXPECT_EQ(img.pixel(20, y), kBlack) << y;
  EXPECT_EQ(img.pixel(20, 16), Q(clBtnFace));
  EXPECT_EQ(img.pixel(25, 21), Q(clBtnFace));
  // Labelled ticks every 40 pixels, 10 long.
  for (int y = 12; y <= 21; ++y) EXPECT_EQ(img.pixel(120, y), kBlack) << y;
  EXPECT_EQ(img.pixel(120, 11) == kBlack, false);
}

TEST_F(Controls, VerticalAndDownwardRulersSwapAndMirror) {
  TRulerBox r;
  r.resize(40, 300);
  r.SetRulerDir(rdVertical);
  r.SetGripsDir(gdDown);
  r.SetGripsCol(0, clRed);
  r.SetGripsPos(0, 100);
  const QImage& img = r.Picture();
  // gdDown: base at x = 0, tip at x = 39 - 21 = 18; the strip holds x = 19 .. 39.
  EXPECT_EQ(img.pixel(4, 100), kRed);
  EXPECT_EQ(img.pixel(0, 100), kBlack);
  EXPECT_EQ(r.GetClickedGrip(10, 100), 0);
  for (int x = 19; x <= 23; ++x) EXPECT_EQ(img.pixel(x, 30), kBlack) << x;  // tick at 30
  EXPECT_EQ(img.pixel(24, 30), Q(clBtnFace));
  // A vertical ruler fits its length, not its width.
  r.SetViewMin(0);
  r.SetViewMax(100);
  r.SetFitInView(true);
  EXPECT_DOUBLE_EQ(r.DotPerUnit(), 3);
}

TEST_F(Controls, RulerClicksAndGripDrags) {
  TRulerBox r;
  std::vector<std::string> events;
  r.OnRulerClick = [&](TObject*, double ps) { events.push_back("click " + RulerLabel(ps, false)); };
  r.OnRulerPosChange = [&](TObject*, int g) { events.push_back("pos " + std::to_string(g)); };
  r.OnRulerGripClick = [&](TObject*, int g) { events.push_back("gripclick " + std::to_string(g)); };
  r.OnRulerGripDblClick = [&](TObject*, int g) { events.push_back("dbl " + std::to_string(g)); };
  r.SetGripsCount(2);
  r.SetGripsPos(0, 100);
  r.SetGripsPos(1, 102);  // overlaps grip 0
  r.SetViewPos(10);
  r.SetDotPerUnit(2);
  events.clear();
  Click(r, 50, 30);
  EXPECT_EQ(events, std::vector<std::string>{"click 35"});
  events.clear();
  const int x = r.GetXGripPos(0);
  ASSERT_EQ(x, 180);
  Click(r, x + 2, 35);  // inside both grips' boxes
  EXPECT_EQ(events, std::vector<std::string>{"gripclick 0"});
  events.clear();
  Press(r, x + 2, 35);
  Drag(r, x + 22, 35);
  Release(r, x + 22, 35);
  EXPECT_EQ(events, std::vector<std::string>{"pos 0"});
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 110);  // 20 pixels at 2 per unit
  events.clear();
  vexa::test::SendMouse(r, QEvent::MouseButtonDblClick, r.GetXGripPos(1) + 6, 35, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(events, std::vector<std::string>{"dbl 1"});
  Release(r, 0, 0);
  r.SetGripsCount(0);
  events.clear();
  Click(r, x, 35);
  EXPECT_EQ(events, std::vector<std::string>{"click 100"});
}

TEST_F(Controls, RulerLimitsApplyOnlyToNonEmptyRanges) {
  TRulerBox r;
  r.SetViewPos(-500);  // ViewMin = ViewMax: unconstrained
  EXPECT_DOUBLE_EQ(r.ViewPos(), -500);
  r.SetGripsPos(0, -1e6);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), -1e6);
  r.SetViewMin(0);
  r.SetViewMax(1000);
  EXPECT_DOUBLE_EQ(r.ViewPos(), 0);
  EXPECT_DOUBLE_EQ(r.GripsMin(0), 0);
  EXPECT_DOUBLE_EQ(r.GripsMax(0), 1000);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 0);  // re-clamped into the new range
  r.SetGripsPos(0, 1500);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 1000);
  r.SetGripsMin(0, 50);
  r.SetGripsMax(0, 50);  // maximum <= minimum: not clamped
  r.SetGripsPos(0, 10);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 10);
  r.SetViewPos(900);
  EXPECT_DOUBLE_EQ(r.ViewPos(), 700);
  EXPECT_DOUBLE_EQ(r.GripsPos(5), 0);  // outside the list
  r.SetGripsPos(5, 3);
  EXPECT_EQ(r.GripsCount(), 1);
}

TEST_F(Controls, DraggingAGripPastAnEdgeScrollsOnATimer) {
  TRulerBox r;
  r.SetViewMin(0);
  r.SetViewMax(1000);
  r.SetGripsPos(0, 100);
  int changes = 0;
  r.OnRulerPosChange = [&](TObject*, int) { ++changes; };
  Press(r, 100, 35);
  Drag(r, 350, 35);  // past the trailing edge: returns at once, the timer scrolls
  EXPECT_TRUE(r.AutoScrolling());
  r.AutoScrollStep();
  r.AutoScrollStep();
  EXPECT_DOUBLE_EQ(r.ViewPos(), 2);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 302);
  EXPECT_EQ(changes, 2);
  Drag(r, -20, 35);  // now before the leading edge
  r.AutoScrollStep();
  EXPECT_DOUBLE_EQ(r.ViewPos(), 1);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 0);
  r.AutoScrollStep();
  r.AutoScrollStep();  // the view stops at ViewMin and the grip at its minimum
  EXPECT_DOUBLE_EQ(r.ViewPos(), 0);
  EXPECT_DOUBLE_EQ(r.GripsPos(0), 0);
  Drag(r, 150, 35);
  EXPECT_FALSE(r.AutoScrolling());
  Release(r, 150, 35);
  EXPECT_FALSE(r.AutoScrolling());
}

TEST_F(Controls, DesignTimeSpreadsTheGrips) {
  TRulerBox r;
  r.SetDesigning(true);
  r.SetGripsCount(3);
  EXPECT_EQ(r.GripPolygonOf(2)[2].X, 2 * 17);  // tip at i x (GripBaseDim + 5)
  r.SetFitInView(true);
  r.SetDotPerUnit(7);
  EXPECT_DOUBLE_EQ(r.DotPerUnit(), 1);
}

// --- HSV box

TEST_F(Controls, HSVBoxPaintsTheSquareBarAndInvertedGrips) {
  THSVBox h;
  ASSERT_EQ(h.width(), 105);
  h.SetHue(0);
  const QImage& img = h.Picture();
  EXPECT_EQ(img.pixel(0, 0), kWhite);       // value 99, saturation 0
  EXPECT_EQ(qRed(img.pixel(79, 0)), 255);   // saturation and value at their top
  EXPECT_LT(qGreen(img.pixel(79, 0)), 8);
  EXPECT_EQ(img.pixel(40, 104), kBlack);    // value 0 along the bottom
  EXPECT_EQ(img.pixel(82, 50), Q(clBtnFace));
  auto bar = [](int row) {
    TRGB p;
    HSV2RGB(p, HSVBarHue(104 - row, 105), 99, 99);
    return qRgb(p.r, p.g, p.b);
  };
  EXPECT_EQ(img.pixel(95, 50), bar(50));
  EXPECT_EQ(bar(50), qRgb(0, 234, 255));  // hue trunc(54 x 360 / 105) = 185
  // Black: the square grip frames the bottom-left corner, the hue grip row 104.
  EXPECT_EQ(img.pixel(2, 103), kWhite);
  EXPECT_EQ(img.pixel(1, 103), kBlack);
  EXPECT_EQ(img.pixel(95, 102), bar(102) ^ 0x00FFFFFF);
  EXPECT_EQ(img.pixel(95, 103), bar(103));
  h.SetColor(clRed);
  EXPECT_EQ(h.Hue(), 0);
  EXPECT_EQ(h.Sat(), 99);
  EXPECT_EQ(h.Val(), 99);
  EXPECT_EQ(h.Red(), 255);
  // The square grip moved to the top-right: its outline is inverted there.
  EXPECT_EQ(h.Picture().pixel(81, 2), Q(clBtnFace) ^ 0x00FFFFFF);
}

TEST_F(Controls, HSVBoxMouse) {
  THSVBox h;
  int changes = 0;
  h.OnChange = [&](TObject*) { ++changes; };
  h.SetColor(RGB2TColor(10, 200, 30));
  const int hue = h.Hue(), sat = h.Sat(), val = h.Val();
  Click(h, 82, 50);  // the gap: the colour is recomputed from unchanged HSV
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(h.Hue(), hue);
  EXPECT_EQ(h.Sat(), sat);
  EXPECT_EQ(h.Val(), val);
  TRGB rgb;
  HSV2RGB(rgb, hue, sat, val);
  EXPECT_EQ(h.Color(), TRGB2TColor(rgb));
  Press(h, 95, 50);
  Drag(h, 95, -30);
  EXPECT_EQ(h.Hue(), 359);
  Drag(h, 500, 300);
  EXPECT_EQ(h.Hue(), 0);
  Release(h, 500, 300);
  Press(h, 79, 0);
  Drag(h, -10, 200);
  EXPECT_EQ(h.Sat(), 0);
  EXPECT_EQ(h.Val(), 0);
  Release(h, 0, 0);
  EXPECT_EQ(h.Color(), clBlack);
  Click(h, 79, 0);
  EXPECT_EQ(h.Sat(), 99);
  EXPECT_EQ(h.Val(), 99);
  EXPECT_EQ(h.Color(), clRed);  // hue 0 from the drag below the bar
  EXPECT_EQ(changes, 7);
}

// --- histogram box

struct HistogramFixture : Controls {
  TBitmap bmp;
  TVexaProc proc;
  void Black(int w, int h) {
    bmp.Allocate(w, h, pf24bit);
    std::fill(bmp.ScanLine(h - 1), bmp.ScanLine(h - 1) + static_cast<size_t>(bmp.RowLen()) * h, 0);
    proc.SetAttachedBitmap(&bmp);
  }
};

TEST_F(HistogramFixture, AllBlackImageGivesOneTallBar) {
  Black(10, 10);
  THistogramBox box;
  ASSERT_EQ(box.width(), 256);
  box.SetLabels(0);
  box.SetCompBar(false);
  box.SetAttachedVexaProc(&proc);
  const QImage& img = box.Picture();
  for (int y = 0; y < 105; ++y) ASSERT_EQ(img.pixel(0, y), kBlack) << y;
  EXPECT_EQ(img.pixel(1, 104), kBlack);  // empty levels leave one pixel at the bottom
  EXPECT_EQ(img.pixel(1, 103), kWhite);
  EXPECT_EQ(img.pixel(200, 50), kWhite);
}

TEST_F(HistogramFixture, LabelsShowThePixelCountAndTheRampFollowsTheChannels) {
  Black(10, 30);
  THistogramBox box;
  box.SetAttachedVexaProc(&proc);
  // The max label is the text "300" at the top-left corner.
  QImage ref(box.Picture().size(), QImage::Format_RGB32);
  ref.fill(Qt::white);
  int labelW, labelH;
  {
    TCanvas c(&ref);
    c.Brush.Style = bsClear;
    c.TextOut(0, 0, "300");
    labelW = c.TextWidth("300");
    labelH = c.TextHeight("300");
  }
  EXPECT_EQ(box.Picture().copy(0, 0, labelW, labelH), ref.copy(0, 0, labelW, labelH));
  const int L = labelW + 2;
  EXPECT_EQ(box.HistogramXPos(), L);
  // The ramp: trunc(11 x 1.2) = 13 bottom rows, grey at column u = u x 256 / Wp.
  const int Wp = 256 - L;
  const int u = Wp / 2;
  const int level = static_cast<int>(std::nearbyint(u * 256.0 / Wp));
  EXPECT_EQ(box.Picture().pixel(L + u, 104), Grey(level));
  EXPECT_EQ(box.Picture().pixel(L + u, 104 - 12), Grey(level));
  EXPECT_EQ(box.Picture().pixel(L + u, 104 - 13), kWhite);
  box.SetHistogramKind(HistogramBit(hkRed) | HistogramBit(hkBlue));
  EXPECT_EQ(box.Picture().pixel(L + u, 104), qRgb(level, 0, level));
  EXPECT_EQ(box.Picture().pixel(L, 0), qRgb(0, 0, 255));  // blue bars are drawn over red ones
  // No channel: background, labels and a black ramp; no bar.
  box.SetHistogramKind(0);
  EXPECT_EQ(box.Picture().pixel(L + u, 104), kBlack);
  EXPECT_EQ(box.Picture().copy(0, 0, labelW, labelH), ref.copy(0, 0, labelW, labelH));
  EXPECT_EQ(box.Picture().pixel(L, 10), kWhite);
}

TEST_F(HistogramFixture, LinesAndADestroyedSource) {
  Black(10, 10);
  auto owned = std::make_unique<TVexaProc>();
  owned->SetAttachedBitmap(&bmp);
  THistogramBox box;
  box.SetLabels(0);
  box.SetCompBar(false);
  box.SetHistogramStyle(hsLines);
  box.SetAttachedVexaProc(owned.get());
  EXPECT_EQ(box.Picture().pixel(0, 50), kBlack);  // the line climbs to the peak at column 0
  EXPECT_EQ(box.Picture().pixel(3, 104), kBlack);
  EXPECT_EQ(box.Picture().pixel(3, 50), kWhite);
  owned.reset();
  EXPECT_EQ(box.AttachedVexaProc(), nullptr);
  box.Update();
  for (int y = 0; y < 105; y += 8)
    for (int x = 0; x < 256; x += 8) ASSERT_EQ(box.Picture().pixel(x, y), kWhite);
}

// --- gradient bar

TEST_F(Controls, GradientBarPaintsBottomUpWithAnInvertedGrip) {
  TVXGradientBar g;
  ASSERT_EQ(g.width(), 40);
  ASSERT_EQ(g.height(), 300);
  const QImage& img = g.Picture();
  EXPECT_EQ(img.pixel(20, 299), kBlack);
  EXPECT_EQ(img.pixel(20, 0), kWhite);
  EXPECT_EQ(img.pixel(20, 150), Grey(127));  // a = 149: trunc(255 x 149 / 299)
  EXPECT_EQ(img.pixel(20, 296), Grey(255 - 2));  // grip outline over step trunc(255 x 3 / 299)
  g.SetColorIndex(128);
  EXPECT_EQ(g.RGB(), CreateRGB(128, 128, 128));
  // The grip frames the lowest row painted with step 128 (row 148).
  EXPECT_EQ(g.Picture().pixel(20, 145), Grey(255 - 131));  // a = 154
  EXPECT_EQ(g.Picture().pixel(20, 148), Grey(128));
  EXPECT_EQ(g.Picture().pixel(0, 148), Grey(255 - 128));
}

TEST_F(Controls, GradientBarPicksTheEndsAndHonoursMouseInteract) {
  TVXGradientBar g;
  int changes = 0;
  g.OnChange = [&](TObject*) { ++changes; };
  Click(g, 20, 0);
  EXPECT_EQ(g.ColorIndex(), 255);
  Click(g, 20, 299);
  EXPECT_EQ(g.ColorIndex(), 0);
  g.resize(300, 40);
  g.SetDirection(gdHorizontal);
  Click(g, 299, 20);
  EXPECT_EQ(g.ColorIndex(), 255);
  Press(g, 150, 20);
  Drag(g, 900, 20);
  EXPECT_EQ(g.ColorIndex(), 255);
  Drag(g, -40, 20);
  EXPECT_EQ(g.ColorIndex(), 0);
  Release(g, 0, 20);
  EXPECT_EQ(changes, 6);
  g.SetMouseInteract(0);
  Click(g, 150, 20);
  EXPECT_EQ(g.ColorIndex(), 0);
  EXPECT_EQ(changes, 6);
  for (int x = 0; x < 300; ++x) ASSERT_EQ(g.Picture().pixel(x, 20), Grey(GradientStepAt(x, 300)));
}

}  // namespace
