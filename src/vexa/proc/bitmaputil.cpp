#include "vexa/proc/bitmaputil.h"

#include <climits>
#include <cstring>
#include <vector>

namespace vexa {

namespace {

template <typename Fn>
void ForEachPolygon(const TPoint* poly, int count, Fn fn) {
  if (!poly || count < 1) return;
  for (const auto& p : VXSplitPolygons(poly, count))
    if (!p.empty()) fn(p.data(), static_cast<int>(p.size()));
}

// Bounding box of every point but the break markers; false when there is none.
bool PolyBounds(const TPoint* poly, int count, TRect& box) {
  int minX = INT_MAX, minY = INT_MAX, maxX = INT_MIN, maxY = INT_MIN;
  for (int i = 0; i < count; ++i) {
    if (IsPolyBreak(poly[i])) continue;
    minX = imin(minX, poly[i].X), maxX = imax(maxX, poly[i].X);
    minY = imin(minY, poly[i].Y), maxY = imax(maxY, poly[i].Y);
  }
  if (minX > maxX) return false;
  box = {minX, minY, maxX, maxY};
  return true;
}

void GrowTo(TBitmap& dst, int width, int height) {
  if (width > dst.Width() || height > dst.Height())
    VXResizeKeep(dst, imax(width, dst.Width()), imax(height, dst.Height()), clBlack);
}

}  // namespace

TBitmap* VXCloneBitmap(const TBitmap& src) {
  auto* b = new TBitmap;
  VXCopyBitmap(src, *b);
  return b;
}

void _CopyBitmapRect(const TBitmap& src, TBitmap& dst, int x1, int y1, int x2, int y2) {
  dst.Allocate(1, 1, src.PixelFormat());
  if (src.Empty()) return;
  if (x2 == 0 || x2 >= src.Width()) x2 = src.Width() - 1;
  if (y2 == 0 || y2 >= src.Height()) y2 = src.Height() - 1;
  x1 = imax(x1, 0), y1 = imax(y1, 0);
  if (x1 > x2 || y1 > y2) return;
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  dst.Allocate(w, h, src.PixelFormat());
  if (src.PixelFormat() == pf24bit) {
    for (int y = 0; y < h; ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y1 + y) + 3 * x1, size_t(3) * w);
  } else if (src.PixelFormat() == pf1bit) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y1 + y);
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) _SetPixelbw(d, x, _GetPixelbw(s, x1 + x));
    }
  }
}

void _CopyPolygonBitmap(TBitmap& dst, const TBitmap& src, int x, int y, const TPoint* poly, int polyCount) {
  ForEachPolygon(poly, polyCount, [&](const TPoint* p, int n) { VXDrawBitmapClipped(dst, x, y, src, p, n); });
}

void _CopyBitmapPoly(const TBitmap& src, TBitmap& dst, int x1, int y1, int x2, int y2, const TPoint* poly,
                     int polyCount) {
  const int w = x2 - x1, h = y2 - y1;
  if (w <= 0 || h <= 0) {
    dst.Allocate(1, 1, src.PixelFormat());
    return;
  }
  dst.Allocate(w, h, src.PixelFormat());
  ForEachPolygon(poly, polyCount, [&](const TPoint* p, int n) {
    std::vector<TPoint> moved(p, p + n);
    for (TPoint& q : moved) q.X -= x1, q.Y -= y1;
    VXDrawBitmapClipped(dst, -x1, -y1, src, moved.data(), n);
  });
}

void _ClearSel(TBitmap& bmp, const TPoint* poly, int polyCount, TColor color) {
  ForEachPolygon(poly, polyCount, [&](const TPoint* p, int n) { VXFillClipped(bmp, p, n, color); });
}

void _CopyPolygonToPoint(const TBitmap& src, const TPoint* poly, int polyCount, TPoint point, TBitmap& dst) {
  TRect box;
  if (polyCount < 3 || !PolyBounds(poly, polyCount, box)) return;
  const int bw = box.Right - box.Left + 1, bh = box.Bottom - box.Top + 1;
  GrowTo(dst, point.X + bw, point.Y + bh);
  const int dx = point.X - box.Left, dy = point.Y - box.Top;
  ForEachPolygon(poly, polyCount, [&](const TPoint* p, int n) {
    std::vector<TPoint> moved(p, p + n);
    for (TPoint& q : moved) q.X += dx, q.Y += dy;
    VXDrawBitmapClipped(dst, dx, dy, src, moved.data(), n);
  });
}

void _CopyPointToPolygon(const TBitmap& src, const TPoint* poly, int polyCount, TPoint point, TBitmap& dst) {
  TRect box;
  if (polyCount < 3 || !PolyBounds(poly, polyCount, box)) return;
  GrowTo(dst, box.Right + 1, box.Bottom + 1);
  // The polygons lie inside their box, so the clip alone keeps the copy box-sized.
  const int dx = box.Left - point.X, dy = box.Top - point.Y;
  ForEachPolygon(poly, polyCount, [&](const TPoint* p, int n) { VXDrawBitmapClipped(dst, dx, dy, src, p, n); });
}

bool _BitmapCompareX(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.RowLen() != b.RowLen()) return false;
  if (a.ImageSize() == 0) return true;
  return std::memcmp(a.Bits(), b.Bits(), a.ImageSize()) == 0;
}

}  // namespace vexa
