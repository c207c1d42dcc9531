#include "vexa/vect/measure.h"

#include <cmath>

#include "vexa/core/raster.h"

namespace vexa {

namespace {

double Seg(const TPoint& a, const TPoint& b, double cx, double cy) {
  const double dx = cx * std::abs(static_cast<double>(b.X) - a.X), dy = cy * (static_cast<double>(b.Y) - a.Y);
  return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

double VXSelectionLen(const TPoint* pts, int count, double cx, double cy, bool drawing, const TPoint* rubber) {
  if (count < 2) return 0;
  double len = 0;
  int first = 0, i = 0;
  while (i < count - 1) {
    if (IsPolyBreak(pts[i + 1])) {
      len += Seg(pts[i], pts[first], cx, cy);
      first = i + 2;
      i += 2;
    } else {
      len += Seg(pts[i], pts[i + 1], cx, cy);
      ++i;
    }
  }
  // A list ending on a marker has no last polygon left to close.
  const bool lastIsPoint = !IsPolyBreak(pts[count - 1]) && first < count;
  if (!drawing && count > 2 && lastIsPoint) len += Seg(pts[count - 1], pts[first], cx, cy);
  if (drawing && rubber && lastIsPoint) len += Seg(pts[count - 1], *rubber, cx, cy);
  return len;
}

double VXSelectionArea(const TPoint* pts, int count, double cx, double cy) {
  if (count < 3) return 0;
  double sum = 0;
  int first = 0;
  for (int i = 0; i < count; ++i) {
    if (IsPolyBreak(pts[i])) {
      first = i + 1;
      continue;
    }
    // The edge to the next point, or the closing edge at the end of a polygon.
    const int j = (i + 1 < count && !IsPolyBreak(pts[i + 1])) ? i + 1 : first;
    sum += (static_cast<double>(pts[i].X) - pts[j].X) * (static_cast<double>(pts[j].Y) + pts[i].Y) * cx * cy;
  }
  return std::abs(sum / 2);
}

TPoint VXSelectionCentroid(const TPoint* pts, int count) {
  int n = 0;
  while (n < count && !IsPolyBreak(pts[n])) ++n;
  if (n <= 2) return {0, 0};
  double a = 0, sx = 0, sy = 0;
  for (int j = 0; j < n; ++j) {
    const TPoint& pj = pts[j];
    const TPoint& pk = pts[j == 0 ? n - 1 : j - 1];
    const double g = static_cast<double>(pj.Y) * pk.X - static_cast<double>(pj.X) * pk.Y;
    a += g;
    sx += g * (static_cast<double>(pj.X) + pk.X);
    sy += g * (static_cast<double>(pj.Y) + pk.Y);
  }
  if (a == 0) return {0, 0};
  return {static_cast<int32_t>(std::trunc(sx / (3 * a))), static_cast<int32_t>(std::trunc(sy / (3 * a)))};
}

double VXDragLen(int dx, int dy, int zoom, double cx, double cy) {
  const double f = 100.0 / (zoom > 0 ? zoom : 100);
  const double x = dx * f * cx, y = dy * f * cy;
  return std::sqrt(x * x + y * y);
}

}  // namespace vexa
