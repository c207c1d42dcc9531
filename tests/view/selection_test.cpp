#include "vexa/view/selection.h"

#include <gtest/gtest.h>

#include <map>

using namespace vexa;

namespace {
TVXViewGeometry Geometry(int bw, int bh, int zoom = 100, int client = 200) {
  TVXViewGeometry g;
  g.BmpW = bw;
  g.BmpH = bh;
  g.Zoom = zoom;
  g.ClientW = g.ClientH = g.OuterW = g.OuterH = client;
  g.Layout();
  return g;
}

TVXAnimPolygon Rect(int x1, int y1, int x2, int y2) {
  TVXAnimPolygon p;
  TPoint pts[4];
  VXRectPoints({x1, y1, x2, y2}, 1000, 1000, pts);
  for (const TPoint& q : pts) p.AddPtEx(q.X, q.Y);
  p.Visible = true;
  return p;
}
}  // namespace

TEST(SelectionMouseInteract, FirstNewlyEnabledItemDecidesWhatStays) {
  const auto Z = VXMI(miZoom), S = VXMI(miScroll), R = VXMI(miSelect), P = VXMI(miSelectPolygon);
  EXPECT_EQ(VXRestrictMouseInteract(0, Z | P), P);
  EXPECT_EQ(VXRestrictMouseInteract(Z, Z | R | S), Z | S);
  EXPECT_EQ(VXRestrictMouseInteract(0, Z | R), Z | R);
  EXPECT_EQ(VXRestrictMouseInteract(R, R | VXMI(miSelectCircle)), VXMI(miSelectCircle));
  EXPECT_EQ(VXRestrictMouseInteract(0, Z | VXMI(miSelectMagicWand)), Z);
  // Nothing newly on: stored unchanged.
  EXPECT_EQ(VXRestrictMouseInteract(Z | S, Z), Z);
}

TEST(SelectionPolygon, BoxStartsAtTheSecondPointAndSurvivesClear) {
  TVXAnimPolygon p;
  p.X1 = 7;
  p.AddPtEx(50, 60);
  EXPECT_EQ(p.X1, 7);  // one point leaves the old box
  p.AddPtEx(10, 80);
  EXPECT_EQ(p.X1, 10);
  EXPECT_EQ(p.X2, 50);
  EXPECT_EQ(p.Y1, 60);
  EXPECT_EQ(p.Y2, 80);
  p.AddBreak();
  p.AddPtEx(100, 5);
  EXPECT_EQ(p.X2, 100);
  EXPECT_EQ(p.Y1, 5);
  p.Clear();
  EXPECT_EQ(p.X2, 100);
}

TEST(SelectionPolygon, MarkersNeverDoubleAndRemovalDropsTheirTrail) {
  TVXAnimPolygon p;
  p.AddBreak();
  EXPECT_EQ(p.Count, 0);
  for (int i = 0; i < 3; ++i) p.AddPtEx(i, i);
  p.AddBreak();
  p.AddBreak();
  EXPECT_EQ(p.Count, 4);
  p.AddPtEx(9, 9);
  p.RemoveLastPoint();  // the point, then the marker left at the end
  EXPECT_EQ(p.Count, 3);
  p.AddBreak();
  p.AddPtEx(5, 5);
  p.AddPtEx(6, 6);
  p.RemoveLast();
  EXPECT_EQ(p.Count, 3);
  p.RemoveLast();
  EXPECT_EQ(p.Count, 0);
}

TEST(SelectionPolygon, StorageGrowsInBlocksOf64) {
  TVXAnimPolygon p;
  p.AddPtEx(0, 0);
  EXPECT_EQ(p.Points.size(), 64u);
  for (int i = 1; i < 65; ++i) p.AddPtEx(i, 0);
  EXPECT_EQ(p.Points.size(), 128u);
}

TEST(SelectionRectangle, IsRectangleNeedsAlternatingEdges) {
  const TPoint r[4] = {{0, 0}, {5, 0}, {5, 5}, {0, 5}};
  const TPoint r2[4] = {{0, 0}, {0, 5}, {5, 5}, {5, 0}};
  const TPoint skew[4] = {{0, 0}, {5, 0}, {6, 5}, {0, 5}};
  const TPoint flat[4] = {{0, 0}, {5, 0}, {5, 0}, {0, 0}};
  EXPECT_TRUE(_IsRectangle(r, 4));
  EXPECT_TRUE(_IsRectangle(r2, 4));
  EXPECT_FALSE(_IsRectangle(skew, 4));
  EXPECT_FALSE(_IsRectangle(flat, 4));
  EXPECT_FALSE(_IsRectangle(r, 3));
}

TEST(SelectionRectangle, CornersAreClampedAndOrdered) {
  TPoint pts[4];
  VXRectPoints({5000, 5000, -5, -5}, 100, 80, pts);
  EXPECT_EQ(pts[0], (TPoint{0, 0}));
  EXPECT_EQ(pts[1], (TPoint{99, 0}));
  EXPECT_EQ(pts[2], (TPoint{99, 79}));
  EXPECT_EQ(pts[3], (TPoint{0, 79}));
  EXPECT_TRUE(_IsRectangle(pts, 4));
}

TEST(SelectionGrips, CornersWinOverEdgesAndEdgesNeedCloserThanThree) {
  const TVXViewGeometry g = Geometry(200, 200);
  const TVXAnimPolygon sel = Rect(20, 30, 80, 90);
  EXPECT_EQ(VXResizeGripAt(sel, g, 23, 33), 0);
  EXPECT_EQ(VXResizeGripAt(sel, g, 77, 30), 1);
  EXPECT_EQ(VXResizeGripAt(sel, g, 80, 90), 2);
  EXPECT_EQ(VXResizeGripAt(sel, g, 17, 87), 3);
  EXPECT_EQ(VXResizeGripAt(sel, g, 22, 60), 4);
  EXPECT_EQ(VXResizeGripAt(sel, g, 23, 60), -1);
  EXPECT_EQ(VXResizeGripAt(sel, g, 81, 60), 5);
  EXPECT_EQ(VXResizeGripAt(sel, g, 50, 28), 6);
  EXPECT_EQ(VXResizeGripAt(sel, g, 50, 92), 7);
  EXPECT_EQ(VXResizeGripAt(sel, g, 50, 60), -1);
  EXPECT_TRUE(VXInsideBox(sel, g, 80, 90));
  EXPECT_FALSE(VXInsideBox(sel, g, 81, 60));
  // At zoom 200 the grips sit on the zoomed corners.
  const TVXViewGeometry z = Geometry(200, 200, 200, 400);
  EXPECT_EQ(VXResizeGripAt(sel, z, 160, 180), 2);
}

TEST(SelectionGrips, DraggingACornerPastTheOppositeSideSwapsTheGrip) {
  TVXBox box{10, 10, 30, 30};
  EXPECT_EQ(VXResizeBox(box, 0, 40, 15), 1);  // top-left dragged past the right edge
  TPoint pts[4];
  VXRectPoints(box, 100, 100, pts);
  EXPECT_EQ(pts[0], (TPoint{30, 15}));
  EXPECT_EQ(pts[2], (TPoint{40, 30}));
  box = {10, 10, 30, 30};
  EXPECT_EQ(VXResizeBox(box, 2, 20, 5), 1);    // bottom-right above the top
  box = {10, 10, 30, 30};
  EXPECT_EQ(VXResizeBox(box, 0, 40, 40), 2);   // both ways
  box = {10, 10, 30, 30};
  EXPECT_EQ(VXResizeBox(box, 6, 99, 50), 7);   // an edge grip only follows its axis
  EXPECT_EQ(box.X1, 10);
  box = {10, 10, 30, 30};
  EXPECT_EQ(VXResizeBox(box, 5, 10, 20), 5);   // onto the other side: kept one pixel apart
  EXPECT_EQ(box.X2, 11);
}

TEST(SelectionEllipse, PointCountFollowsTheSmallerRadius) {
  const TVXViewGeometry g = Geometry(500, 500, 100, 500);
  EXPECT_EQ(VXEllipsePoints(100, 100, 10, 40, g).size(), 15u);
  const auto dot = VXEllipsePoints(100, 100, 0, 0, g);
  ASSERT_EQ(dot.size(), 3u);
  for (const TPoint& p : dot) EXPECT_EQ(p, (TPoint{100, 100}));
  for (const TPoint& p : VXEllipsePoints(5, 5, 50, 50, g)) {
    EXPECT_GE(p.X, 0);
    EXPECT_GE(p.Y, 0);
  }
}

TEST(SelectionSnap, CtrlSnapsToRowColumnOrDiagonal) {
  int x = 140, y = 105;
  _CastPolySelCC(100, 100, x, y);
  EXPECT_EQ(x, 140);
  EXPECT_EQ(y, 100);
  x = 140, y = 125;
  _CastPolySelCC(100, 100, x, y);
  EXPECT_EQ(x, 140);
  EXPECT_EQ(y, 140);
  x = 105, y = 150;
  _CastPolySelCC(100, 100, x, y);
  EXPECT_EQ(x, 100);
  x = 60, y = 75;  // left and above: the larger distance shrinks
  _CastPolySelCC(100, 100, x, y);
  EXPECT_EQ(x, 75);
  EXPECT_EQ(y, 75);
}

TEST(SelectionOutline, DashesRunThreeAndThreeAcrossSegments) {
  const TVXViewGeometry g = Geometry(100, 100);
  const TVXAnimPolygon sel = Rect(10, 10, 20, 20);
  int phase = 0;
  std::vector<int> colours;
  std::map<std::pair<int, int>, int> seen;
  VXWalkOutline(sel.Data(), sel.Count, true, g, phase, [&](int x, int y, int c) {
    colours.push_back(c);
    ++seen[{x, y}];
  });
  ASSERT_EQ(colours.size(), 40u);  // four sides of 10, end points excluded
  EXPECT_EQ(seen.size(), 40u);     // every outline pixel exactly once
  for (size_t i = 0; i < colours.size(); ++i) EXPECT_EQ(colours[i], (i / 3) % 2 == 0 ? 1 : 2) << i;
  EXPECT_EQ(phase, 40 % 6);
  // Open outline (a polygon being drawn) leaves out the closing side.
  int open = 0;
  phase = 0;
  VXWalkOutline(sel.Data(), sel.Count, false, g, phase, [&](int, int, int) { ++open; });
  EXPECT_EQ(open, 30);
}

TEST(SelectionOutline, EachPolygonClosesAtItsMarker) {
  const TVXViewGeometry g = Geometry(100, 100);
  const TPoint pts[] = {{0, 0}, {4, 0}, {4, 4}, kPolyBreak, {10, 10}, {12, 10}, {12, 12}};
  int phase = 0;
  std::map<std::pair<int, int>, int> seen;
  VXWalkOutline(pts, 7, true, g, phase, [&](int x, int y, int) { ++seen[{x, y}]; });
  EXPECT_TRUE(seen.count({2, 2}));    // closing diagonal of the first triangle
  EXPECT_TRUE(seen.count({11, 11}));  // and of the second
  EXPECT_FALSE(seen.count({4, 10}));  // nothing joins the two
}

TEST(SelectionGrips, EdgesCountOnlyAlongTheirLength) {
  const TVXViewGeometry g = Geometry(200, 200);
  const TVXAnimPolygon sel = Rect(20, 30, 80, 90);
  EXPECT_EQ(VXResizeGripAt(sel, g, 21, 150), -1);  // on the left line, far below the box
}
