#include "vexa/view/vexaview_ui.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui_test_util_ui.h"
#include "vexa/view/vxhint_ui.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/view/qtbitmap_ui.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// A bitmap whose pixel (x, y) has red x * 16 + 5 and green y * 16 + 7, so every
// painted pixel tells where it came from.
TBitmap Coded(int w, int h) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, CreateRGB(uint8_t(x * 16 + 5), uint8_t(y * 16 + 7), 200));
  return b;
}
int SrcX(QRgb c) { return (qRed(c) - 5) / 16; }
int SrcY(QRgb c) { return (qGreen(c) - 7) / 16; }

struct ViewFixture : ::testing::Test {
  void SetUp() override { App(); }
  // A view of the given outer size showing bmp.
  // Without the border, client and widget coordinates coincide.
  void Show(TVexaView& v, const TBitmap& bmp, int w, int h) {
    v.SetBorderStyle(bsNone);
    v.resize(w, h);
    v.Bitmap() = bmp;
    v.Update();
  }
  QImage Painted(TVexaView& v) {
    QImage img(v.ClientWidth(), v.ClientHeight(), QImage::Format_RGB32);
    img.fill(Qt::magenta);
    TCanvas c(&img);
    v.PaintTo(c);
    return img;
  }
};

using ViewLayout = ViewFixture;
using ViewPaint = ViewFixture;
using ViewMouse = ViewFixture;
using ViewSelect = ViewFixture;

}  // namespace

TEST_F(ViewLayout, TenByTenAtZoom250) {
  TVexaView v;
  Show(v, Coded(10, 10), 100, 100);
  v.SetZoom(250);
  EXPECT_EQ(v.Geometry().ZW, 25);
  EXPECT_EQ(v.Geometry().DrawW, 25);
  int mx, my;
  v.GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(v.XScr2Bmp(12), 5);
  EXPECT_EQ(v.XScr2Bmp(5), 2);
  EXPECT_EQ(v.XBmp2Scr(3), 8);
}

TEST_F(ViewLayout, ImageAsLargeAsTheControlShowsNoScrollBars) {
  TVexaView v;
  v.SetScrollBars(ssBoth);
  Show(v, TBitmap(200, 150), 200, 150);
  EXPECT_EQ(v.ClientWidth(), 200);
  EXPECT_EQ(v.ClientHeight(), 150);
  v.SetViewXY(50, 50);
  EXPECT_EQ(v.ViewX(), 0);
  EXPECT_EQ(v.ViewY(), 0);
  // One pixel wider: both bars appear and the limits count the shrunken client area.
  v.Bitmap().SetSize(201, 150);
  v.Update();
  int mx, my;
  v.GetMaxViewXY(mx, my);
  EXPECT_LT(v.ClientWidth(), 200);
  EXPECT_LT(v.ClientHeight(), 150);
  EXPECT_EQ(mx, 201 - v.ClientWidth());
  EXPECT_EQ(my, 150 - v.ClientHeight());
}

TEST_F(ViewLayout, SetViewXYClampsAndAnnouncesTheScroll) {
  TVexaView v;
  Show(v, TBitmap(400, 300), 100, 100);
  std::vector<int> changes;
  v.OnViewChange = [&](TObject*, int c) { changes.push_back(c); };
  v.SetViewXY(-5, 10000);
  EXPECT_EQ(v.ViewX(), 0);
  EXPECT_EQ(v.ViewY(), 200);
  EXPECT_EQ(changes, std::vector<int>{0});
  v.SetViewXY(0, 200);  // unchanged: no event
  EXPECT_EQ(changes.size(), 1u);
}

TEST_F(ViewLayout, ZoomAtBringsThePointToTheCentre) {
  TVexaView v;
  Show(v, TBitmap(1000, 1000), 100, 100);
  v.ZoomAt(50, 50, 200);
  EXPECT_EQ(v.Zoom(), 200);
  EXPECT_EQ(v.ViewX(), 50);
  EXPECT_EQ(v.ViewY(), 50);
}

TEST_F(ViewLayout, FitIgnoresImagesTooLargeToFitAndZoomStaysPositive) {
  TVexaView v;
  TBitmap huge;
  huge.Allocate(20000, 20000, pf1bit);
  Show(v, huge, 105, 105);
  v.Fit();
  EXPECT_EQ(v.Zoom(), 100);
  v.AutoFit = true;
  v.Update();
  EXPECT_EQ(v.Zoom(), 100);
  Show(v, TBitmap(50, 20), 105, 105);
  v.Fit();
  EXPECT_EQ(v.Zoom(), 210);
  v.SetZoom(0);
  v.SetZoom(-3);
  EXPECT_EQ(v.Zoom(), 210);
}

TEST_F(ViewLayout, SizeChangeDropsTheSelectionContentChangeKeepsIt) {
  TVexaView v;
  Show(v, TBitmap(100, 80), 200, 200);
  v.Select(10, 10, 50, 50);
  v.Bitmap().Fill(CreateRGB(1, 2, 3));
  v.Update();
  EXPECT_TRUE(v.SelectionExists());
  EXPECT_EQ(v.PolySelCount(), 4);
  v.Bitmap().SetSize(90, 80);
  v.Update();
  EXPECT_FALSE(v.SelectionExists());
  EXPECT_EQ(v.PolySelCount(), 0);
}

TEST_F(ViewLayout, DetachingOneOfTwoComponentsKeepsTheOthersCallback) {
  TVexaView v;
  TVexaProc a, b;
  a.SetAttachedVexa(&v);
  b.SetAttachedVexa(&v);
  EXPECT_EQ(v.BitmapChangeEventCount(), 2);
  a.SetAttachedVexa(nullptr);
  EXPECT_EQ(v.BitmapChangeEventCount(), 1);
  EXPECT_EQ(b.AttachedVexa(), &v);
  // The processing component works on the view's bitmap and selection.
  Show(v, TBitmap(20, 20), 100, 100);
  v.SelectionBase = vxsbBitmap;
  v.Select(0, 0, 10, 20);
  b.Negative();
  EXPECT_EQ(v.Bitmap().GetPixel(2, 5), CreateRGB(255, 255, 255));
  EXPECT_EQ(v.Bitmap().GetPixel(15, 5), CreateRGB(0, 0, 0));
}

TEST_F(ViewPaint, ZoomedPaintingShowsTheRightSourcePixels) {
  TVexaView v;
  v.SetBackGround(clBlue);
  Show(v, Coded(10, 10), 40, 30);
  // Zoom 100: one to one, background beside the image.
  QImage img = Painted(v);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(SrcX(img.pixel(x, y)), x);
      EXPECT_EQ(SrcY(img.pixel(x, y)), y);
    }
  EXPECT_EQ(img.pixel(10, 0), qRgb(0, 0, 255));
  EXPECT_EQ(img.pixel(0, 10), qRgb(0, 0, 255));
  // Zoom 250: every source pixel covers a run of 2 or 3 screen pixels, in order.
  v.SetZoom(250);
  img = Painted(v);
  int runStart = 0;
  for (int x = 1; x <= 25; ++x) {
    const int prev = SrcX(img.pixel(x - 1, 3));
    if (x == 25 || SrcX(img.pixel(x, 3)) != prev) {
      EXPECT_EQ(prev, x == 25 ? 9 : SrcX(img.pixel(x, 3)) - 1);
      EXPECT_GE(x - runStart, 2);
      EXPECT_LE(x - runStart, 3);
      runStart = x;
    }
  }
  EXPECT_EQ(SrcX(img.pixel(0, 0)), 0);
  EXPECT_EQ(SrcY(img.pixel(24, 24)), 9);
  EXPECT_EQ(img.pixel(25, 0), qRgb(0, 0, 255));
  // Zoom 50: screen pixel x shows source pixel 2x or 2x + 1.
  v.Bitmap() = Coded(12, 12);
  v.SetZoom(50);
  img = Painted(v);
  for (int x = 0; x < 6; ++x) {
    const int s = SrcX(img.pixel(x, 2));
    EXPECT_TRUE(s == 2 * x || s == 2 * x + 1) << x;
  }
  EXPECT_EQ(img.pixel(6, 0), qRgb(0, 0, 255));
}

TEST_F(ViewPaint, ScrolledAndCentredImagesStartWhereTheMappingSays) {
  TVexaView v;
  Show(v, Coded(15, 15), 10, 10);
  v.SetViewXY(5, 3);
  QImage img = Painted(v);
  EXPECT_EQ(SrcX(img.pixel(0, 0)), 5);
  EXPECT_EQ(SrcY(img.pixel(0, 0)), 3);
  EXPECT_EQ(SrcX(img.pixel(9, 9)), 14);
  TVexaView c;
  c.SetBackGround(clRed);
  c.SetCenter(true);
  Show(c, Coded(4, 4), 20, 10);
  img = Painted(c);
  EXPECT_EQ(c.Geometry().OffX, 8);
  EXPECT_EQ(c.Geometry().OffY, 3);
  EXPECT_EQ(img.pixel(7, 5), qRgb(255, 0, 0));
  EXPECT_EQ(SrcX(img.pixel(8, 3)), 0);
  EXPECT_EQ(SrcY(img.pixel(11, 6)), 3);
  EXPECT_EQ(img.pixel(12, 5), qRgb(255, 0, 0));
}

TEST_F(ViewPaint, OneBitImagesPaintBlackAndWhite) {
  TVexaView v;
  TBitmap bw;
  bw.Allocate(16, 4, pf1bit);
  bw.SetPixel(3, 1, CreateRGB(255, 255, 255));
  Show(v, bw, 16, 4);
  const QImage img = Painted(v);
  EXPECT_EQ(img.pixel(3, 1), qRgb(255, 255, 255));
  EXPECT_EQ(img.pixel(4, 1), qRgb(0, 0, 0));
}

TEST_F(ViewPaint, ChessboardSquaresAlternateFromTheComplement) {
  TVexaView v;
  v.SetBackGround(RGB2TColor(10, 20, 30));
  v.SetBackgroundStyle(vxbsChessboard);
  Show(v, TBitmap(0, 0), 40, 20);
  const QImage img = Painted(v);
  const QRgb comp = qRgb(245, 235, 225), bg = qRgb(10, 20, 30);
  EXPECT_EQ(img.pixel(0, 0), comp);
  EXPECT_EQ(img.pixel(15, 15), comp);
  EXPECT_EQ(img.pixel(16, 0), bg);
  EXPECT_EQ(img.pixel(32, 0), comp);
  EXPECT_EQ(img.pixel(39, 15), comp);
  EXPECT_EQ(img.pixel(0, 16), bg);
  EXPECT_EQ(img.pixel(16, 19), comp);
}

TEST_F(ViewPaint, DiagonalsAndHatchesDrawOverTheBackground) {
  TVexaView v;
  v.SetBackGround(clWhite);
  v.SetBackgroundStyle(vxbsDiagonals);
  Show(v, TBitmap(0, 0), 30, 30);
  QImage img = Painted(v);
  EXPECT_EQ(img.pixel(10, 10), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(10, 20), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(10, 12), qRgb(255, 255, 255));
  v.SetBackGround(clRed);
  v.SetBackgroundStyle(vxbsHorizontal);
  img = Painted(v);
  int red = 0, white = 0;
  for (int y = 0; y < 30; ++y) {
    red += img.pixel(5, y) == qRgb(255, 0, 0);
    white += img.pixel(5, y) == qRgb(255, 255, 255);
  }
  EXPECT_GT(red, 0);
  EXPECT_GT(white, red);
}

TEST_F(ViewPaint, FilterOnlyEnlargesOnScreenButDrawToFiltersReductions) {
  TBitmap noisy(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) noisy.SetPixel(x, y, ((x + y) & 1) ? CreateRGB(255, 255, 255) : CreateRGB(0, 0, 0));
  TVexaView v;
  Show(v, noisy, 100, 100);
  v.SetZoom(50);
  const QImage plain = Painted(v);
  v.SetZoomFilter(rfTriangle);
  EXPECT_EQ(Painted(v), plain);
  QImage drawn(20, 20, QImage::Format_RGB32);
  {
    TCanvas c(&drawn);
    v.DrawTo(c);
  }
  EXPECT_NE(drawn, plain.copy(0, 0, 20, 20));
  // Enlarged with a filter: smoothed values appear between black and white.
  v.SetZoom(300);
  const QImage smooth = Painted(v);
  bool grey = false;
  for (int x = 0; x < 60 && !grey; ++x) grey = qRed(smooth.pixel(x, 10)) > 20 && qRed(smooth.pixel(x, 10)) < 235;
  EXPECT_TRUE(grey);
  // The delay countdown paints unfiltered until two timer ticks have passed.
  v.DelayZoomFilter = true;
  v.SetZoom(400);
  EXPECT_EQ(v.FilterCountdown(), 2);
  const QImage waiting = Painted(v);
  for (int x = 0; x < 80; ++x) {
    const int r = qRed(waiting.pixel(x, 10));
    EXPECT_TRUE(r == 0 || r == 255);
  }
  v.AniPolyFunc(true);
  v.AniPolyFunc(true);
  EXPECT_EQ(v.FilterCountdown(), 0);
}

TEST_F(ViewPaint, SelectionOutlineAlternatesThreeAndThree) {
  TVexaView v;
  Show(v, TBitmap(100, 100), 100, 100);
  v.Bitmap().Fill(CreateRGB(128, 0, 0));
  v.SelectionBase = vxsbBitmap;
  v.Select(10, 10, 40, 40);
  const QImage img = v.RenderClient();
  // Along the top edge, clear of the grip squares at the corners.
  for (int x = 14; x < 36; ++x) {
    const bool first = ((x - 10) / 3) % 2 == 0;
    EXPECT_EQ(img.pixel(x, 10), first ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x;
  }
  EXPECT_EQ(img.pixel(20, 11), qRgb(128, 0, 0));
  // Grip squares: outline in colour 1, inside colour 2.
  EXPECT_EQ(img.pixel(7, 7), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(8, 8), qRgb(255, 255, 255));
  // A timer tick shifts the dashes by one pixel.
  v.AniPolyFunc(true);
  const QImage next = v.RenderClient();
  EXPECT_EQ(next.pixel(20, 10), img.pixel(19, 10));
  v.DeSelect();
  EXPECT_EQ(v.RenderClient().pixel(20, 10), qRgb(128, 0, 0));
}

TEST_F(ViewSelect, SelectClampsOrdersAndAddsWithAMarker) {
  TVexaView v;
  Show(v, TBitmap(100, 80), 200, 200);
  v.SelectionBase = vxsbBitmap;
  v.Select(10, 10, 10, 50);
  EXPECT_FALSE(v.SelectionExists());
  v.Select(5000, 5000, -5, -5);
  EXPECT_EQ(v.SelX1(), 0);
  EXPECT_EQ(v.SelY1(), 0);
  EXPECT_EQ(v.SelX2(), 99);
  EXPECT_EQ(v.SelY2(), 79);
  EXPECT_TRUE(_IsRectangle(v.PolySelArray(), v.PolySelCount()));
  v.Select(1, 1, 5, 5, vxspReplace);
  v.Select(20, 20, 30, 30, vxspAdd);
  ASSERT_EQ(v.PolySelCount(), 9);
  EXPECT_TRUE(IsPolyBreak(v.PolySel(4)));
  EXPECT_EQ(v.PolySel(9), (TPoint{0, 0}));
  EXPECT_EQ(v.PolySel(-1), (TPoint{0, 0}));
  EXPECT_EQ(v.SelX2(), 30);
  // Client coordinates go through the mapping.
  v.SelectionBase = vxsbClientArea;
  v.SetZoom(200);
  v.Select(20, 20, 41, 61);
  EXPECT_EQ(v.SelX1(), 10);
  EXPECT_EQ(v.SelY2(), 30);
}

TEST_F(ViewSelect, MouseInteractRulesApplyOnTheView) {
  TVexaView v;
  v.SetMouseInteract(VXMI(miZoom) | VXMI(miSelectPolygon));
  EXPECT_EQ(v.MouseInteract(), VXMI(miSelectPolygon));
  v.SetMouseInteract(VXMI(miZoom));
  v.SetMouseInteract(VXMI(miZoom) | VXMI(miSelect) | VXMI(miScroll));
  EXPECT_EQ(v.MouseInteract(), VXMI(miZoom) | VXMI(miScroll));
}

TEST_F(ViewMouse, ClicksStepTheZoomAndIgnoreTheBackground) {
  TVexaView v;
  Show(v, TBitmap(40, 40), 200, 200);
  v.SetMouseInteract(VXMI(miZoom));
  Click(v, 10, 10, Qt::RightButton);
  EXPECT_EQ(v.Zoom(), 75);
  Click(v, 10, 10, Qt::LeftButton);
  EXPECT_EQ(v.Zoom(), 100);
  Click(v, 10, 10, Qt::LeftButton);
  EXPECT_EQ(v.Zoom(), 200);
  Click(v, 150, 150, Qt::LeftButton);  // on the image at 200 %: 80 x 80 shown
  EXPECT_EQ(v.Zoom(), 200);
  Click(v, 5, 5, Qt::MiddleButton);
  EXPECT_EQ(v.Zoom(), 200);
  // A press and a release elsewhere is no click.
  Press(v, 10, 10);
  Release(v, 12, 10);
  EXPECT_EQ(v.Zoom(), 200);
}

TEST_F(ViewMouse, DraggingAGripPastTheOtherSideSwapsIt) {
  TVexaView v;
  Show(v, TBitmap(100, 100), 100, 100);
  v.SetMouseInteract(VXMI(miSelect));
  v.SelectionBase = vxsbBitmap;
  v.Select(10, 10, 30, 30);
  int changing = 0, changed = 0;
  v.OnSelectionChanging = [&](TObject*) { ++changing; };
  v.OnSelectionChange = [&](TObject*) { ++changed; };
  Press(v, 10, 10);
  Drag(v, 40, 15);
  EXPECT_EQ(v.SelX1(), 30);
  EXPECT_EQ(v.SelY1(), 15);
  EXPECT_EQ(v.SelX2(), 40);
  Drag(v, 45, 12);  // now the top-right grip: the right side follows
  EXPECT_EQ(v.SelX1(), 30);
  EXPECT_EQ(v.SelX2(), 45);
  EXPECT_EQ(v.SelY1(), 12);
  Release(v, 45, 12);
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 1);
}

TEST_F(ViewMouse, MovingASelectionAgainstTheEdgeShrinksIt) {
  TVexaView v;
  Show(v, TBitmap(100, 100), 100, 100);
  v.SetMouseInteract(VXMI(miSelect));
  v.SelectionBase = vxsbBitmap;
  v.Select(10, 10, 29, 29);
  Press(v, 25, 20);  // inside, clear of the edge grips
  Drag(v, -40, 20);   // clamped to the image's left edge: 25 pixels to the left
  EXPECT_EQ(v.SelX1(), 0);
  EXPECT_EQ(v.SelY1(), 10);
  EXPECT_EQ(v.SelX2(), 4);
  EXPECT_EQ(v.SelY2(), 29);
  Release(v, 0, 20);
}

TEST_F(ViewMouse, RectangleDragWithShiftAddsASecondRectangle) {
  TVexaView v;
  Show(v, TBitmap(100, 100), 100, 100);
  v.SetMouseInteract(VXMI(miSelect));
  Press(v, 5, 5);
  Drag(v, 20, 20);
  Drag(v, 25, 30);
  Release(v, 25, 30);
  EXPECT_EQ(v.PolySelCount(), 4);
  EXPECT_EQ(v.SelX2(), 25);
  Press(v, 60, 60, Qt::LeftButton, Qt::ShiftModifier);
  Drag(v, 70, 70, Qt::LeftButton, Qt::ShiftModifier);
  Drag(v, 80, 75, Qt::LeftButton, Qt::ShiftModifier);
  Release(v, 80, 75, Qt::LeftButton, Qt::ShiftModifier);
  ASSERT_EQ(v.PolySelCount(), 9);
  EXPECT_EQ(v.PolySel(7), (TPoint{80, 75}));
}

TEST_F(ViewMouse, EllipseDragGivesPointsByTheSmallerRadius) {
  TVexaView v;
  Show(v, TBitmap(300, 300), 300, 300);
  v.SetMouseInteract(VXMI(miSelectCircle));
  Press(v, 100, 100);
  Drag(v, 110, 140);
  EXPECT_EQ(v.PolySelCount(), 15);
  Drag(v, 110, 140, Qt::LeftButton, Qt::ControlModifier);  // circle of radius 40
  EXPECT_EQ(v.PolySelCount(), static_cast<int>(40 * 6.2831853) / 4);
  EXPECT_EQ(v.SelX2(), 140);
  Release(v, 110, 140);
  EXPECT_TRUE(v.SelectionExists());
}

TEST_F(ViewMouse, PolygonClicksSnapWithCtrlAndCloseOnDoubleClick) {
  TVexaView v;
  Show(v, TBitmap(200, 200), 200, 200);
  v.SetMouseInteract(VXMI(miSelectPolygon));
  Click(v, 50, 50);
  Click(v, 90, 55, Qt::LeftButton, Qt::ControlModifier);
  ASSERT_EQ(v.PolySelCount(), 2);
  EXPECT_EQ(v.PolySel(1), (TPoint{90, 50}));
  Click(v, 115, 75, Qt::LeftButton, Qt::ControlModifier);  // 25 right, 25 below: diagonal
  EXPECT_EQ(v.PolySel(2), (TPoint{115, 75}));
  Click(v, 60, 120);
  SendMouse(v, QEvent::MouseButtonDblClick, 60, 120, Qt::LeftButton, Qt::LeftButton);
  Release(v, 60, 120);
  EXPECT_FALSE(v.PolygonDrawing());
  EXPECT_EQ(v.PolySelCount(), 4);
  // A new polygon without Shift replaces it; with Shift it follows a marker.
  Click(v, 10, 10, Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_EQ(v.PolySelCount(), 6);
  EXPECT_TRUE(IsPolyBreak(v.PolySel(4)));
  // Leaving polygon mode while drawing drops the last point.
  v.SetMouseInteract(VXMI(miSelect));
  EXPECT_FALSE(v.PolygonDrawing());
  EXPECT_EQ(v.PolySelCount(), 4);
}

TEST_F(ViewMouse, DragScrollsAndSelectionDragAutoScrolls) {
  TVexaView v;
  Show(v, TBitmap(400, 400), 100, 100);
  v.SetMouseInteract(VXMI(miScroll));
  Press(v, 50, 50);
  Drag(v, 20, 30);
  EXPECT_EQ(v.ViewX(), 30);
  EXPECT_EQ(v.ViewY(), 20);
  Release(v, 10, 50);
  EXPECT_EQ(v.ViewX(), 40);
  EXPECT_EQ(v.ViewY(), 0);
  v.SetViewXY(0, 0);
  v.SetMouseInteract(VXMI(miSelect));
  Press(v, 10, 10);
  Drag(v, 120, 50);  // 21 pixels right of the image: the view follows
  EXPECT_EQ(v.ViewX(), 21);
  EXPECT_EQ(v.SelX1(), 10);  // the press point kept its bitmap position
  EXPECT_EQ(v.SelX2(), 99 + 21);
  Release(v, 120, 50);
}

TEST_F(ViewMouse, MagicWandSelectsTheClickedRegion) {
  TVexaView v;
  TBitmap b(50, 50);
  b.Fill(CreateRGB(255, 255, 255));
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 30; ++x) b.SetPixel(x, y, CreateRGB(0, 0, 0));
  Show(v, b, 100, 100);
  v.SetMouseInteract(VXMI(miSelectMagicWand));
  Click(v, 15, 15);
  ASSERT_TRUE(v.SelectionExists());
  EXPECT_EQ(v.SelX1(), 10);
  EXPECT_EQ(v.SelY1(), 10);
  EXPECT_EQ(v.SelX2(), 30);
  EXPECT_EQ(v.SelY2(), 20);
  const int before = v.PolySelCount();
  Click(v, 90, 90);  // outside the bitmap: unchanged
  EXPECT_EQ(v.PolySelCount(), before);
}

TEST_F(ViewMouse, HoverOverAGripAnnouncesItAndSetsTheResizeCursor) {
  TVexaView v;
  Show(v, TBitmap(100, 100), 100, 100);
  v.SetMouseInteract(VXMI(miSelect));
  v.SelectionBase = vxsbBitmap;
  v.Select(10, 10, 50, 50);
  int inSel = 0;
  v.OnMouseInSel = [&](TObject*) { ++inSel; };
  Hover(v, 50, 30);
  EXPECT_EQ(v.cursor().shape(), Qt::SizeHorCursor);
  Hover(v, 30, 30);
  EXPECT_EQ(v.cursor().shape(), Qt::SizeAllCursor);
  Hover(v, 80, 80);
  EXPECT_EQ(inSel, 2);
}

TEST_F(ViewSelect, ZoomSelectionFitsTheBoxAndCentresIt) {
  TVexaView v;
  Show(v, TBitmap(400, 400), 100, 100);
  v.SelectionBase = vxsbBitmap;
  v.Select(100, 100, 124, 149);
  v.ZoomSelection();
  EXPECT_EQ(v.Zoom(), 200);  // min(100 / 0.5, 100 / 0.25)
  EXPECT_FALSE(v.SelectionExists());
  EXPECT_EQ(v.ViewX(), 200 - (100 - 50) / 2);
  EXPECT_EQ(v.ViewY(), 200);
}

TEST_F(ViewSelect, AssignCopiesBitmapAndSelection) {
  TVexaView a, b;
  Show(a, Coded(10, 10), 50, 50);
  a.SetDPI(300, 200);
  b.Assign(&a);
  EXPECT_EQ(b.Bitmap().GetPixel(7, 3), a.Bitmap().GetPixel(7, 3));
  EXPECT_EQ(b.DPIX(), 300);
  a.SelectionBase = vxsbBitmap;
  a.Select(2, 2, 6, 8);
  TBitmap part;
  a.AssignSelTo(part);
  EXPECT_EQ(part.Width(), 4);
  EXPECT_EQ(part.Height(), 6);
  EXPECT_EQ(part.GetPixel(0, 0), a.Bitmap().GetPixel(2, 2));
  b.Assign(static_cast<const TVexaView*>(nullptr));
  EXPECT_EQ(b.Bitmap().Width(), 10);
}

TEST_F(ViewSelect, HintSizesToItsTextAndLetsClicksThrough) {
  TVXHint h;
  EXPECT_FALSE(h.isVisible());
  h.SetText("123.4 mm");
  QImage probe(1, 1, QImage::Format_RGB32);
  TCanvas c(&probe);
  EXPECT_EQ(h.width(), c.TextWidth("123.4 mm") + 4);
  EXPECT_EQ(h.height(), c.TextHeight("123.4 mm") + 4);
  EXPECT_TRUE(h.testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_TRUE(h.windowFlags() & Qt::WindowTransparentForInput);
  const QImage shot = h.grab().toImage();
  EXPECT_EQ(shot.pixel(h.width() - 3, 2), qRgb(0xFF, 0xFF, 0xE0));
}

TEST(ViewQImage, ConversionKeepsColoursBothWays) {
  TBitmap b = TBitmap(3, 2);
  b.SetPixel(2, 1, CreateRGB(1, 2, 3));
  const QImage img = VXBitmapToQImage(b);
  EXPECT_EQ(img.pixel(2, 1), qRgb(1, 2, 3));
  TBitmap back;
  VXQImageToBitmap(img, back);
  EXPECT_EQ(back.GetPixel(2, 1), CreateRGB(1, 2, 3));
  EXPECT_TRUE(VXBitmapToQImage(b, {2, 0, 2, 2}, 4, 4).isNull());  // reaches past the edge
}

TEST_F(ViewSelect, PaletteHas256ColoursOfTheImage) {
  TVexaView v;
  TBitmap two(32, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) two.SetPixel(x, y, x < 16 ? CreateRGB(250, 0, 0) : CreateRGB(0, 0, 250));
  Show(v, two, 50, 50);
  const std::vector<TRGB> pal = v._CreatePalette();
  ASSERT_EQ(pal.size(), 256u);
  int nearRed = 0;
  for (const TRGB& c : pal) nearRed += c.r > 200 && c.g < 40 && c.b < 40;
  EXPECT_GT(nearRed, 0);
}

TEST_F(ViewSelect, ClipboardGoesThroughTheDesktopClipboard) {
  TVexaView v;  // the first view installs the desktop clipboard
  Show(v, Coded(8, 6), 50, 50);
  TVexaProc proc;
  proc.SetAttachedVexa(&v);
  proc.CopyToClipboard();
  const QImage img = QGuiApplication::clipboard()->image();
  ASSERT_EQ(img.width(), 8);
  ASSERT_EQ(img.height(), 6);
  EXPECT_EQ(SrcX(img.pixel(5, 4)), 5);
  EXPECT_EQ(SrcY(img.pixel(5, 4)), 4);
  // An image another program put there pastes into the view.
  QImage other(3, 2, QImage::Format_RGB32);
  other.fill(qRgb(10, 200, 30));
  QGuiApplication::clipboard()->setImage(other);
  proc.PasteFromClipboard();
  EXPECT_EQ(v.Bitmap().Width(), 3);
  EXPECT_EQ(v.Bitmap().GetPixel(2, 1), CreateRGB(10, 200, 30));
}

TEST_F(ViewLayout, ComponentsForgetAViewDestroyedBeforeThem) {
  TVexaProc proc;
  {
    TVexaView v;
    Show(v, TBitmap(10, 10), 20, 20);
    proc.SetAttachedVexa(&v);
  }
  EXPECT_EQ(proc.AttachedVexa(), nullptr);
  proc.Negative();  // nothing attached: nothing to do, nothing touched
}

TEST_F(ViewLayout, FirstViewReadsTheScreenResolution) {
  TVexaView v;
  const QScreen* s = QGuiApplication::primaryScreen();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(gSystemDPIX, qRound(s->logicalDotsPerInchX()));
  EXPECT_EQ(v.DPIX(), gSystemDPIX);
  EXPECT_EQ(gSystemColors, s->depth());
}

TEST_F(ViewMouse, ZoomRectangleDragZoomsToTheDraggedBox) {
  TVexaView v;
  Show(v, TBitmap(400, 400), 100, 100);
  v.SetMouseInteract(VXMI(miSelectZoom));
  EXPECT_EQ(v.MouseInteract(), VXMI(miSelectZoom));
  // Listeners that saw the rubber band grow hear that no selection is left.
  bool selectedAtLastChange = true;
  v.OnSelectionChange = [&](TObject*) { selectedAtLastChange = v.SelectionExists(); };
  Press(v, 10, 10);
  Drag(v, 34, 59);
  Release(v, 34, 59);
  EXPECT_EQ(v.Zoom(), 200);  // a 25 x 50 box in a 100 x 100 control
  EXPECT_FALSE(v.SelectionExists());
  EXPECT_FALSE(selectedAtLastChange);
  EXPECT_EQ(v.ViewY(), 20);
}

TEST_F(ViewLayout, ScrollBarsFollowTheViewAndMoveIt) {
  TVexaView v;
  v.SetScrollBars(ssBoth);
  Show(v, TBitmap(400, 300), 100, 100);
  QScrollBar* h = nullptr;
  for (QScrollBar* bar : v.findChildren<QScrollBar*>())
    if (bar->orientation() == Qt::Horizontal) h = bar;
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(h->isHidden());
  EXPECT_EQ(h->maximum(), 400 - v.ClientWidth());
  EXPECT_EQ(h->pageStep(), v.ClientWidth());
  h->setValue(30);
  EXPECT_EQ(v.ViewX(), 30);
  v.SetViewX(50);
  EXPECT_EQ(h->value(), 50);
  v.SetScrollBars(ssVertical);
  EXPECT_TRUE(h->isHidden());
  EXPECT_EQ(v.ClientHeight(), 100);
}

TEST_F(ViewLayout, ThirteenCursorsAndTheIdleOne) {
  for (int id = crZoomOut; id <= crMove; ++id) {
    const QCursor c = VXCursor(id);
    const bool drawn = c.shape() == Qt::BitmapCursor && !c.pixmap().isNull();
    EXPECT_TRUE(drawn || c.shape() != Qt::ArrowCursor) << id;
  }
  EXPECT_NE(VXCursor(crZoomIn).pixmap().toImage(), VXCursor(crZoomOut).pixmap().toImage());
  TVexaView v;
  EXPECT_EQ(v.Cursor(), crCross2);
  v.SetCursor(crHand);
  EXPECT_EQ(v.cursor().shape(), Qt::OpenHandCursor);
}

TEST_F(ViewMouse, TheSingleBorderFramesTheClientArea) {
  TVexaView v;
  EXPECT_EQ(v.BorderStyle(), bsSingle);
  v.resize(104, 104);
  v.Bitmap() = TBitmap(400, 400);
  v.Bitmap().Fill(CreateRGB(0, 200, 0));
  v.Update();
  EXPECT_EQ(v.ClientWidth(), 100);
  EXPECT_EQ(v.ClientHeight(), 100);
  // Mouse positions count from inside the edge.
  v.SetMouseInteract(VXMI(miSelect));
  Press(v, 12, 12);
  Drag(v, 32, 42);
  Release(v, 32, 42);
  EXPECT_EQ(v.SelX1(), 10);
  EXPECT_EQ(v.SelY2(), 40);
  v.DeSelect();
  const QImage shot = v.grab().toImage();
  EXPECT_NE(shot.pixel(0, 50), qRgb(0, 200, 0));
  EXPECT_NE(shot.pixel(1, 50), qRgb(0, 200, 0));
  EXPECT_EQ(shot.pixel(2, 50), qRgb(0, 200, 0));
  EXPECT_EQ(shot.pixel(101, 101), qRgb(0, 200, 0));
  EXPECT_NE(shot.pixel(102, 101), qRgb(0, 200, 0));
}

namespace {
void Wheel(QWidget& w, int x, int y, QPoint angle, Qt::KeyboardModifiers mods = {}) {
  QWheelEvent e(QPointF(x, y), w.mapToGlobal(QPointF(x, y)), QPoint(), angle, Qt::NoButton, mods, Qt::NoScrollPhase,
                false);
  QCoreApplication::sendEvent(&w, &e);
}
bool Key(QWidget& w, int key) {
  QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &e);
  return e.isAccepted();
}
}  // namespace

TEST_F(ViewMouse, WheelScrollsShiftWheelScrollsSidewaysCtrlWheelZoomsAroundThePointer) {
  TVexaView v;
  Show(v, Coded(16, 16), 100, 100);
  v.SetZoom(1000);  // 160 x 160 on screen
  Wheel(v, 50, 50, {0, -120});
  EXPECT_GT(v.ViewY(), 0);
  EXPECT_EQ(v.ViewX(), 0);
  Wheel(v, 50, 50, {0, -120}, Qt::ShiftModifier);
  EXPECT_GT(v.ViewX(), 0);
  v.SetViewXY(0, 0);
  // The pixel under the pointer stays under it across the zoom.
  const int bx = v.XScr2Bmp(75), by = v.YScr2Bmp(35);
  Wheel(v, 75, 35, {0, 120}, Qt::ControlModifier);
  EXPECT_EQ(v.Zoom(), 1100);
  EXPECT_EQ(v.XScr2Bmp(75), bx);
  EXPECT_EQ(v.YScr2Bmp(35), by);
  Wheel(v, 75, 35, {0, -240}, Qt::ControlModifier);
  EXPECT_EQ(v.Zoom(), 900);
  EXPECT_EQ(v.XScr2Bmp(75), bx);
}

TEST_F(ViewMouse, KeysScrollEscapeDeselectsAndUnusedKeysGoToTheParent) {
  TVexaView v;
  Show(v, TBitmap(400, 400), 100, 100);
  EXPECT_TRUE(Key(v, Qt::Key_Down));
  EXPECT_TRUE(Key(v, Qt::Key_Right));
  EXPECT_EQ(v.ViewX(), 32);
  EXPECT_EQ(v.ViewY(), 32);
  EXPECT_TRUE(Key(v, Qt::Key_PageDown));
  EXPECT_EQ(v.ViewY(), 32 + 90);
  EXPECT_TRUE(Key(v, Qt::Key_PageUp));
  EXPECT_EQ(v.ViewY(), 32);

  int changes = 0;
  v.OnSelectionChange = [&](TObject*) { ++changes; };
  v.Select(10, 10, 50, 50);
  ASSERT_TRUE(v.SelectionExists());
  EXPECT_TRUE(Key(v, Qt::Key_Escape));
  EXPECT_FALSE(v.SelectionExists());
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(Key(v, Qt::Key_Escape));  // nothing left to drop

  // An image that fits has nothing to page through: the window may show the next file.
  Show(v, TBitmap(50, 50), 100, 100);
  EXPECT_FALSE(Key(v, Qt::Key_PageDown));
  EXPECT_FALSE(Key(v, Qt::Key_Left));
}
