#include "vexa/view/viewgeometry.h"

#include <gtest/gtest.h>

using namespace vexa;

namespace {
TVXViewGeometry Make(int bw, int bh, int zoom, int cw, int ch) {
  TVXViewGeometry g;
  g.BmpW = bw;
  g.BmpH = bh;
  g.Zoom = zoom;
  g.ClientW = g.OuterW = cw;
  g.ClientH = g.OuterH = ch;
  g.Layout();
  return g;
}
}  // namespace

TEST(ViewRound, TiesGoToEven) {
  EXPECT_EQ(VXRound(0.5L), 0);
  EXPECT_EQ(VXRound(1.5L), 2);
  EXPECT_EQ(VXRound(2.5L), 2);
  EXPECT_EQ(VXRound(-0.5L), 0);
  EXPECT_EQ(VXRound(-1.5L), -2);
  EXPECT_EQ(VXRound(4.8L), 5);
}

TEST(ViewMapping, TenByTenAtZoom250InA100Client) {
  TVXViewGeometry g = Make(10, 10, 250, 100, 100);
  EXPECT_EQ(g.ZW, 25);
  EXPECT_EQ(g.DrawW, 25);
  int mx, my;
  g.GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(my, 0);
  EXPECT_EQ(g.XScr2Bmp(12), 5);  // 4.8
  EXPECT_EQ(g.XScr2Bmp(5), 2);   // 2.0
  EXPECT_EQ(g.XBmp2Scr(3), 8);   // 7.5 rounds to even
  EXPECT_EQ(g.YBmp2Scr(1), 2);   // 2.5 rounds to even
}

TEST(ViewMapping, HalfwayPointsAtZoom200RoundToEven) {
  TVXViewGeometry g = Make(100, 100, 200, 50, 50);
  EXPECT_EQ(g.XScr2Bmp(1), 0);
  EXPECT_EQ(g.XScr2Bmp(3), 2);
  EXPECT_EQ(g.XScr2Bmp(5), 2);
}

TEST(ViewMapping, ScrollAndCentringShiftBothDirections) {
  TVXViewGeometry g = Make(1000, 1000, 100, 100, 100);
  g.ViewX = 30;
  g.ViewY = 40;
  EXPECT_EQ(g.XScr2Bmp(0), 30);
  EXPECT_EQ(g.YScr2Bmp(10), 50);
  EXPECT_EQ(g.XBmp2Scr(30), 0);
  TVXViewGeometry c = Make(10, 20, 100, 100, 100);
  c.Center = true;
  c.Layout();
  EXPECT_EQ(c.OffX, 45);
  EXPECT_EQ(c.OffY, 40);
  EXPECT_EQ(c.XScr2Bmp(45), 0);
  EXPECT_EQ(c.XBmp2Scr(9), 54);
}

TEST(ViewScroll, ImageAsLargeAsTheControlNeverScrolls) {
  // Scroll bars shrink the client area, but the outer size still holds the image.
  TVXViewGeometry g = Make(200, 150, 100, 200, 150);
  g.ClientW = 183;
  g.ClientH = 133;
  int mx, my;
  g.GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(my, 0);
  g.OuterW = 199;  // one pixel short: now both axes scroll over the client
  g.GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 17);
  EXPECT_EQ(my, 17);
}

TEST(ViewScroll, ClampKeepsTheViewInsideTheLimits) {
  TVXViewGeometry g = Make(400, 300, 100, 100, 100);
  g.ViewX = -5;
  g.ViewY = 10000;
  EXPECT_TRUE(g.ClampView());
  EXPECT_EQ(g.ViewX, 0);
  EXPECT_EQ(g.ViewY, 200);
  EXPECT_FALSE(g.ClampView());
  TVXViewGeometry empty = Make(0, 0, 100, 100, 100);
  empty.ViewX = 3;
  empty.ClampView();
  EXPECT_EQ(empty.ViewX, 0);
}

TEST(ViewZoomSteps, LeftAndRightClicksFollowTheTable) {
  EXPECT_EQ(VXZoomStepOut(100), 75);
  EXPECT_EQ(VXZoomStepOut(150), 100);
  EXPECT_EQ(VXZoomStepOut(250), 150);
  EXPECT_EQ(VXZoomStepOut(200), 100);
  EXPECT_EQ(VXZoomStepOut(2), 2);
  EXPECT_EQ(VXZoomStepOut(5), 2);
  EXPECT_EQ(VXZoomStepOut(40), 33);
  EXPECT_EQ(VXZoomStepIn(33), 50);
  EXPECT_EQ(VXZoomStepIn(100), 200);
  EXPECT_EQ(VXZoomStepIn(2), 5);
  EXPECT_EQ(VXZoomStepIn(1), 2);
  EXPECT_EQ(VXZoomStepIn(80), 100);
  EXPECT_EQ(VXZoomStepIn(450), 550);
}

TEST(ViewFit, ZoomFromOuterSizeAndHugeImagesGiveNone) {
  EXPECT_EQ(VXFitZoom(105, 105, 20000, 20000), 0);
  EXPECT_EQ(VXFitZoom(200, 100, 100, 100), 100);
  EXPECT_EQ(VXFitZoom(300, 300, 100, 50), 300);
  EXPECT_EQ(VXFitZoom(100, 100, 0, 10), 0);
}

TEST(ViewSource, VisibleSourceRectangleStaysInsideTheBitmap) {
  TVXViewGeometry g = Make(10, 10, 250, 100, 100);
  TVXSourceRect s = g.PaintSource();
  EXPECT_EQ(s.X, 0);
  EXPECT_EQ(s.W, 10);
  EXPECT_EQ(s.H, 10);
  // Scrolled to the far edge at a zoom whose ratio rounds up: never past the bitmap.
  for (int zoom : {33, 37, 150, 333}) {
    TVXViewGeometry h = Make(997, 613, zoom, 211, 97);
    int mx, my;
    h.GetMaxViewXY(mx, my);
    h.ViewX = mx;
    h.ViewY = my;
    for (const TVXSourceRect& r : {h.PaintSource(), h.DrawSource()}) {
      EXPECT_GE(r.X, 0);
      EXPECT_LE(r.X + r.W, 997) << zoom;
      EXPECT_LE(r.Y + r.H, 613) << zoom;
      EXPECT_GT(r.W, 0);
    }
  }
}
