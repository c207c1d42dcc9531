#include "vexa/core/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexa {

namespace {

// Writes one pixel of colour c (already resolved) into any format.
struct Painter {
  TBitmap& Bmp;
  TRGB Colour;
  bool White;
  Painter(TBitmap& b, TColor color)
      : Bmp(b), Colour(TColor2TRGB(color)), White((Colour.r * 30 + Colour.g * 59 + Colour.b * 11) / 100 >= 128) {}

  void Span(int y, int x0, int x1) {
    if (x0 >= x1) return;
    uint8_t* row = Bmp.ScanLine(y);
    switch (Bmp.PixelFormat()) {
      case pf24bit:
        for (int x = x0; x < x1; ++x) row[3 * x] = Colour.b, row[3 * x + 1] = Colour.g, row[3 * x + 2] = Colour.r;
        break;
      case pf1bit:
        for (int x = x0; x < x1; ++x) _SetPixelbw(row, x, White);
        break;
      default:
        for (int x = x0; x < x1; ++x) Bmp.SetPixel(x, y, Colour);
    }
  }
};

// Copies pixels [sx, sx+n) of src row sy to dst row dy at dx, converting formats.
void CopySpan(TBitmap& dst, int dy, int dx, const TBitmap& src, int sy, int sx, int n) {
  if (n <= 0) return;
  uint8_t* d = dst.ScanLine(dy);
  const uint8_t* s = src.ScanLine(sy);
  if (dst.PixelFormat() == pf24bit && src.PixelFormat() == pf24bit) {
    std::memmove(d + 3 * dx, s + 3 * sx, static_cast<size_t>(n) * 3);
  } else if (dst.PixelFormat() == pf1bit && src.PixelFormat() == pf1bit) {
    for (int i = 0; i < n; ++i) _SetPixelbw(d, dx + i, _GetPixelbw(s, sx + i));
  } else if (dst.PixelFormat() == pf24bit && src.PixelFormat() == pf1bit) {
    for (int i = 0; i < n; ++i) {
      uint8_t v = _GetPixelbw(s, sx + i) ? 255 : 0;
      d[3 * (dx + i)] = d[3 * (dx + i) + 1] = d[3 * (dx + i) + 2] = v;
    }
  } else {
    for (int i = 0; i < n; ++i) dst.SetPixel(dx + i, dy, src.GetPixel(sx + i, sy));
  }
}

// Calls fn(y, x0, x1) for every span of the destination that lies inside the polygon.
template <typename Fn>
void ForEachSpan(const TBitmap& dst, const TPoint* pts, int count, Fn fn) {
  if (count < 3 || dst.Empty()) return;
  std::vector<std::vector<TPoint>> polys{std::vector<TPoint>(pts, pts + count)};
  TVXPolygonMask mask(dst.Width(), dst.Height(), polys);
  for (int y = 0; y < dst.Height(); ++y)
    for (auto [x0, x1] : mask.Spans(y)) fn(y, x0, x1);
}

}  // namespace

std::vector<std::vector<TPoint>> VXSplitPolygons(const TPoint* poly, int count) {
  std::vector<std::vector<TPoint>> out(1);
  for (int i = 0; i < count; ++i) {
    if (IsPolyBreak(poly[i])) {
      if (!out.back().empty()) out.emplace_back();
    } else {
      out.back().push_back(poly[i]);
    }
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

TVXPolygonMask::TVXPolygonMask(int width, int height, const std::vector<std::vector<TPoint>>& polygons) {
  FRows.resize(static_cast<size_t>(std::max(height, 0)));
  struct Edge {
    double x0, y0, x1, y1;
  };
  std::vector<Edge> edges;
  double minY = 1e300, maxY = -1e300;
  for (const auto& p : polygons) {
    size_t n = p.size();
    if (n < 3) continue;
    for (size_t i = 0; i < n; ++i) {
      const TPoint& a = p[i];
      const TPoint& b = p[(i + 1) % n];
      if (a.Y == b.Y) continue;
      edges.push_back({double(a.X), double(a.Y), double(b.X), double(b.Y)});
      minY = std::min({minY, double(a.Y), double(b.Y)});
      maxY = std::max({maxY, double(a.Y), double(b.Y)});
    }
  }
  if (edges.empty()) return;
  int yStart = std::max(0, static_cast<int>(std::floor(minY)));
  int yEnd = std::min(height, static_cast<int>(std::ceil(maxY)) + 1);
  std::vector<double> xs;
  for (int y = yStart; y < yEnd; ++y) {
    double yc = y + 0.5;
    xs.clear();
    for (const Edge& e : edges) {
      double lo = std::min(e.y0, e.y1), hi = std::max(e.y0, e.y1);
      if (yc < lo || yc >= hi) continue;
      xs.push_back(e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0));
    }
    std::sort(xs.begin(), xs.end());
    auto& row = FRows[static_cast<size_t>(y)];
    for (size_t i = 0; i + 1 < xs.size(); i += 2) {
      // Pixel x is inside when its centre x + 0.5 lies in [xa, xb).
      double a = std::ceil(xs[i] - 0.5), b = std::ceil(xs[i + 1] - 0.5);
      int x0 = static_cast<int>(std::clamp(a, 0.0, double(width)));
      int x1 = static_cast<int>(std::clamp(b, 0.0, double(width)));
      if (x0 < x1) {
        if (!row.empty() && row.back().second >= x0)
          row.back().second = std::max(row.back().second, x1);
        else
          row.emplace_back(x0, x1);
      }
    }
  }
}

bool TVXPolygonMask::Contains(int x, int y) const {
  if (y < 0 || y >= Height()) return false;
  for (auto [a, b] : FRows[static_cast<size_t>(y)])
    if (x >= a && x < b) return true;
  return false;
}

void VXFillRect(TBitmap& dst, const TRect& r, TColor color) {
  int x0 = std::max(0, std::min(r.Left, r.Right)), x1 = std::min(dst.Width(), std::max(r.Left, r.Right));
  int y0 = std::max(0, std::min(r.Top, r.Bottom)), y1 = std::min(dst.Height(), std::max(r.Top, r.Bottom));
  Painter p(dst, color);
  for (int y = y0; y < y1; ++y) p.Span(y, x0, x1);
}

void VXFillPolygon(TBitmap& dst, const TPoint* pts, int count, TColor color) {
  Painter p(dst, color);
  ForEachSpan(dst, pts, count, [&](int y, int x0, int x1) { p.Span(y, x0, x1); });
}

void VXFillClipped(TBitmap& dst, const TPoint* pts, int count, TColor color) { VXFillPolygon(dst, pts, count, color); }

void VXDrawBitmap(TBitmap& dst, int x, int y, const TBitmap& src) {
  int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
  int sx1 = std::min(src.Width(), dst.Width() - x), sy1 = std::min(src.Height(), dst.Height() - y);
  for (int sy = sy0; sy < sy1; ++sy) CopySpan(dst, sy + y, sx0 + x, src, sy, sx0, sx1 - sx0);
}

void VXDrawBitmapClipped(TBitmap& dst, int x, int y, const TBitmap& src, const TPoint* pts, int count) {
  ForEachSpan(dst, pts, count, [&](int dy, int x0, int x1) {
    int sy = dy - y;
    if (sy < 0 || sy >= src.Height()) return;
    int a = std::max(x0, x), b = std::min(x1, x + src.Width());
    CopySpan(dst, dy, a, src, sy, a - x, b - a);
  });
}

void VXStretchDrawBitmapClipped(TBitmap& dst, const TRect& dstRect, const TBitmap& src, const TRect& srcRect,
                                const TPoint* pts, int count) {
  int dw = dstRect.Width(), dh = dstRect.Height(), sw = srcRect.Width(), sh = srcRect.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  ForEachSpan(dst, pts, count, [&](int dy, int x0, int x1) {
    if (dy < dstRect.Top || dy >= dstRect.Bottom) return;
    int sy = srcRect.Top + static_cast<int>(int64_t(dy - dstRect.Top) * sh / dh);
    if (sy < 0 || sy >= src.Height()) return;
    for (int dx = std::max(x0, dstRect.Left); dx < std::min(x1, dstRect.Right); ++dx) {
      int sx = srcRect.Left + static_cast<int>(int64_t(dx - dstRect.Left) * sw / dw);
      if (sx >= 0 && sx < src.Width()) CopySpan(dst, dy, dx, src, sy, sx, 1);
    }
  });
}

void VXStretchDrawBitmap(TBitmap& dst, const TRect& dstRect, const TBitmap& src) {
  int dw = dstRect.Width(), dh = dstRect.Height();
  if (dw <= 0 || dh <= 0 || src.Empty()) return;
  int y0 = std::max(0, dstRect.Top), y1 = std::min(dst.Height(), dstRect.Bottom);
  int x0 = std::max(0, dstRect.Left), x1 = std::min(dst.Width(), dstRect.Right);
  if (x0 >= x1) return;
  std::vector<int> xmap(static_cast<size_t>(x1 - x0));
  for (int dx = x0; dx < x1; ++dx)
    xmap[static_cast<size_t>(dx - x0)] = static_cast<int>(int64_t(dx - dstRect.Left) * src.Width() / dw);
  bool fast = dst.PixelFormat() == pf24bit && src.PixelFormat() == pf24bit;
  for (int dy = y0; dy < y1; ++dy) {
    int sy = static_cast<int>(int64_t(dy - dstRect.Top) * src.Height() / dh);
    if (fast) {
      const uint8_t* s = src.ScanLine(sy);
      uint8_t* d = dst.ScanLine(dy) + 3 * x0;
      for (int sx : xmap) {
        const uint8_t* p = s + 3 * sx;
        d[0] = p[0], d[1] = p[1], d[2] = p[2];
        d += 3;
      }
    } else {
      for (int dx = x0; dx < x1; ++dx) CopySpan(dst, dy, dx, src, sy, xmap[static_cast<size_t>(dx - x0)], 1);
    }
  }
}

void VXResizeKeep(TBitmap& bmp, int width, int height, TColor color) {
  int ow = bmp.Width(), oh = bmp.Height();
  bmp.SetSize(width, height);
  if (width > ow) VXFillRect(bmp, TRect{ow, 0, width, height}, color);
  if (height > oh) VXFillRect(bmp, TRect{0, oh, std::min(ow, width), height}, color);
}

void VXLine(TBitmap& dst, int x1, int y1, int x2, int y2, TColor color) {
  Painter p(dst, color);
  int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
  int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1, err = dx + dy;
  int x = x1, y = y1;
  while (!(x == x2 && y == y2)) {
    if (x >= 0 && y >= 0 && x < dst.Width() && y < dst.Height()) p.Span(y, x, x + 1);
    int e2 = 2 * err;
    if (e2 >= dy) err += dy, x += sx;
    if (e2 <= dx) err += dx, y += sy;
  }
}

void _VXBmpStretch(const TBitmap& src, TBitmap& dst, int width, int height) {
  TPixelFormat pf = src.PixelFormat() == pf1bit ? pf1bit : pf24bit;
  dst.Allocate(std::max(width, 0), std::max(height, 0), pf);
  VXStretchDrawBitmap(dst, TRect{0, 0, width, height}, src);
}

}  // namespace vexa
