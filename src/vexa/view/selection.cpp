#include "vexa/view/selection.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace vexa {

TVXMouseInteract VXRestrictMouseInteract(TVXMouseInteract current, TVXMouseInteract wanted) {
  struct Rule {
    TVXMouseInteractItems item;
    TVXMouseInteract keep;
  };
  static const Rule rules[] = {
      {miScroll, VXMI(miZoom) | VXMI(miScroll)},
      {miSelect, VXMI(miZoom) | VXMI(miSelect)},
      {miSelectPolygon, VXMI(miSelectPolygon)},
      {miSelectCircle, VXMI(miSelectCircle)},
      {miSelectZoom, VXMI(miZoom) | VXMI(miSelectZoom)},
      {miZoom, VXMI(miZoom) | VXMI(miScroll) | VXMI(miSelect) | VXMI(miSelectZoom)},
      {miSelectMagicWand, VXMI(miSelectMagicWand)},
  };
  const TVXMouseInteract newlyOn = wanted & ~current;
  for (const Rule& r : rules)
    if (newlyOn & VXMI(r.item)) return wanted & r.keep;
  return wanted;
}

void TVXAnimPolygon::AddPtEx(int x, int y) {
  if (Count % 64 == 0) Points.resize(static_cast<size_t>(Count) + 64);
  Points[static_cast<size_t>(Count++)] = {x, y};
  if (Count == 2) {
    const TPoint& a = Points[0];
    if (IsPolyBreak(a)) return;
    const TPoint& b = IsPolyBreak(Points[1]) ? a : Points[1];
    X1 = imin(a.X, b.X);
    X2 = imax(a.X, b.X);
    Y1 = imin(a.Y, b.Y);
    Y2 = imax(a.Y, b.Y);
  } else if (Count > 2) {
    X1 = imin(X1, x);
    X2 = imax(X2, x);
    Y1 = imin(Y1, y);
    Y2 = imax(Y2, y);
  }
}

void TVXAnimPolygon::AddBreak() {
  if (Count == 0 || LastIsBreak()) return;
  // The marker must not widen the box, so it bypasses AddPtEx.
  if (Count % 64 == 0) Points.resize(static_cast<size_t>(Count) + 64);
  Points[static_cast<size_t>(Count++)] = kPolyBreak;
}

void TVXAnimPolygon::RemoveLast() {
  int i = Count - 1;
  while (i >= 0 && !IsPolyBreak(Points[static_cast<size_t>(i)])) --i;
  Count = i < 0 ? 0 : i;
}

void TVXAnimPolygon::RemoveLastPoint() {
  if (Count > 0) --Count;
  while (LastIsBreak()) --Count;
}

bool _IsRectangle(const TPoint* p, int count) {
  if (count != 4 || !p) return false;
  auto vertical = [](const TPoint& a, const TPoint& b) { return a.X == b.X && a.Y != b.Y; };
  auto horizontal = [](const TPoint& a, const TPoint& b) { return a.Y == b.Y && a.X != b.X; };
  const TPoint& p0 = p[0];
  const TPoint& p1 = p[1];
  const TPoint& p2 = p[2];
  const TPoint& p3 = p[3];
  return (vertical(p3, p0) && horizontal(p0, p1) && vertical(p1, p2) && horizontal(p2, p3)) ||
         (horizontal(p3, p0) && vertical(p0, p1) && horizontal(p1, p2) && vertical(p2, p3));
}

int VXResizeGripAt(const TVXAnimPolygon& sel, const TVXViewGeometry& g, int x, int y) {
  if (!_IsRectangle(sel.Data(), sel.Count)) return -1;
  for (int i = 0; i < 4; ++i) {
    const TPoint& p = sel.Points[static_cast<size_t>(i)];
    if (std::abs(g.XBmp2Scr(p.X) - x) <= 3 && std::abs(g.YBmp2Scr(p.Y) - y) <= 3) return i;
  }
  const int l = g.XBmp2Scr(sel.X1), r = g.XBmp2Scr(sel.X2);
  const int t = g.YBmp2Scr(sel.Y1), b = g.YBmp2Scr(sel.Y2);
  if (_DistPoint2Seg(x, y, l, t, l, b) < 3) return 4;
  if (_DistPoint2Seg(x, y, r, t, r, b) < 3) return 5;
  if (_DistPoint2Seg(x, y, l, t, r, t) < 3) return 6;
  if (_DistPoint2Seg(x, y, l, b, r, b) < 3) return 7;
  return -1;
}

bool VXInsideBox(const TVXAnimPolygon& sel, const TVXViewGeometry& g, int x, int y) {
  if (!_IsRectangle(sel.Data(), sel.Count)) return false;
  return _InRect(x, y, g.XBmp2Scr(sel.X1), g.YBmp2Scr(sel.Y1), g.XBmp2Scr(sel.X2), g.YBmp2Scr(sel.Y2));
}

int VXResizeBox(TVXBox& b, int grip, int bx, int by) {
  if (grip == 0 || grip == 3 || grip == 4) b.X1 = bx == b.X2 ? bx - 1 : bx;
  if (grip == 1 || grip == 2 || grip == 5) b.X2 = b.X1 == bx ? bx + 1 : bx;
  if (grip == 0 || grip == 1 || grip == 6) b.Y1 = by == b.Y2 ? by - 1 : by;
  if (grip == 2 || grip == 3 || grip == 7) b.Y2 = b.Y1 == by ? by + 1 : by;
  if (b.X2 < b.X1) {
    static const int swapH[8] = {1, 0, 3, 2, 5, 4, 6, 7};
    grip = swapH[grip];
  }
  if (b.Y2 < b.Y1) {
    static const int swapV[8] = {3, 2, 1, 0, 4, 5, 7, 6};
    grip = swapV[grip];
  }
  return grip;
}

void VXRectPoints(TVXBox b, int bmpW, int bmpH, TPoint out[4]) {
  b.X1 = ilimit(b.X1, 0, bmpW - 1);
  b.X2 = ilimit(b.X2, 0, bmpW - 1);
  b.Y1 = ilimit(b.Y1, 0, bmpH - 1);
  b.Y2 = ilimit(b.Y2, 0, bmpH - 1);
  OrdCor(b.X1, b.Y1, b.X2, b.Y2);
  out[0] = {b.X1, b.Y1};
  out[1] = {b.X2, b.Y1};
  out[2] = {b.X2, b.Y2};
  out[3] = {b.X1, b.Y2};
}

std::vector<TPoint> VXEllipsePoints(int px, int py, int rx, int ry, const TVXViewGeometry& g) {
  const double twoPi = 2 * std::numbers::pi;
  int n = static_cast<int>(std::trunc(imin(rx, ry) * twoPi)) / 4;
  if (n < 3) n = 3;
  std::vector<TPoint> pts;
  pts.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double a = twoPi / n * i;
    int x = g.XScr2Bmp(static_cast<int>(std::trunc(std::cos(a) * rx + px)));
    int y = g.YScr2Bmp(static_cast<int>(std::trunc(std::sin(a) * ry + py)));
    g.ClampToBitmap(x, y);
    pts.push_back({x, y});
  }
  return pts;
}

namespace {
// Bresenham from (x0, y0) towards (x1, y1), the end point excluded.
template <class F>
void LinePixels(int x0, int y0, int x1, int y1, F&& f) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (x0 != x1 || y0 != y1) {
    f(x0, y0);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}
}  // namespace

void VXWalkOutline(const TPoint* pts, int count, bool closeLast, const TVXViewGeometry& g, int& drawPhase,
                   const std::function<void(int x, int y, int colour)>& pixel) {
  auto segment = [&](const TPoint& a, const TPoint& b) {
    LinePixels(g.XBmp2Scr(a.X), g.YBmp2Scr(a.Y), g.XBmp2Scr(b.X), g.YBmp2Scr(b.Y), [&](int x, int y) {
      pixel(x, y, drawPhase < 3 ? 1 : 2);
      drawPhase = drawPhase >= 5 ? 0 : drawPhase + 1;
    });
  };
  int first = 0;
  for (int i = 0; i < count; ++i) {
    if (IsPolyBreak(pts[i])) {
      if (i > first) segment(pts[i - 1], pts[first]);
      first = i + 1;
    } else if (i + 1 < count && !IsPolyBreak(pts[i + 1])) {
      segment(pts[i], pts[i + 1]);
    }
  }
  if (closeLast && first < count) segment(pts[count - 1], pts[first]);
}

}  // namespace vexa
