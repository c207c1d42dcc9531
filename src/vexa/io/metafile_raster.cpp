#include "vexa/io/metafile_raster.h"

#include <cmath>
#include <numbers>

namespace vexa {

namespace {

// Device coordinates are kept well inside int32 so that no conversion overflows.
constexpr double kCoordLimit = 1.0e6;

double Clamp(double v) { return std::isfinite(v) ? std::clamp(v, -kCoordLimit, kCoordLimit) : 0.0; }

bool HatchHit(int hatch, int x, int y) {
  bool h = (y & 7) == 0, v = (x & 7) == 0, f = ((x - y) & 7) == 0, b = ((x + y) & 7) == 0;
  switch (hatch) {
    case 0: return h;
    case 1: return v;
    case 2: return f;
    case 3: return b;
    case 4: return h || v;
    default: return f || b;
  }
}

TRGB* Row(TBitmap& bmp, int y) { return reinterpret_cast<TRGB*>(bmp.ScanLine(y)); }



TVXMPolygon Disc(TVXMPoint c, double r) {
  int n = r * 2 >= 8 ? static_cast<int>(std::min(r * 2, 64.0)) : 8;
  TVXMPolygon p;
  p.reserve(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    double a = 2 * std::numbers::pi * k / n;
    p.push_back({c.X + r * std::cos(a), c.Y + r * std::sin(a)});
  }
  return p;
}

// Splits a polyline into its dashes (the on pieces), the pattern running on across vertices.
std::vector<TVXMPolygon> Dashes(const TVXMPolygon& pts, bool closed, const std::vector<double>& dash) {
  std::vector<TVXMPolygon> out;
  double total = 0;
  for (double d : dash) total += d;
  if (total <= 0) return {pts};
  size_t idx = 0;
  double left = dash[0];
  bool on = true;
  TVXMPolygon cur{pts[0]};
  size_t n = pts.size(), segs = closed ? n : n - 1;
  // A dash pattern cannot make more pieces than this; a longer path stays solid past it.
  constexpr size_t kMaxPieces = 1 << 16;
  for (size_t i = 0; i < segs; ++i) {
    TVXMPoint a = pts[i], b = pts[(i + 1) % n];
    double len = std::hypot(b.X - a.X, b.Y - a.Y), pos = 0;
    while (len - pos > left && out.size() < kMaxPieces) {
      pos += left;
      TVXMPoint m{a.X + (b.X - a.X) * pos / len, a.Y + (b.Y - a.Y) * pos / len};
      if (on) {
        cur.push_back(m);
        out.push_back(std::move(cur));
        cur.clear();
      } else {
        cur = {m};
      }
      on = !on;
      idx = (idx + 1) % dash.size();
      left = dash[idx];
    }
    left -= len - pos;
    if (on) cur.push_back(b);
  }
  if (on && cur.size() > 1) out.push_back(std::move(cur));
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Clip

void TVXMClip::Intersect(const TRect& r) {
  if (Everywhere) {
    Everywhere = false;
    Rects = {r};
  } else {
    for (TRect& c : Rects)
      c = TRect{std::max(c.Left, r.Left), std::max(c.Top, r.Top), std::min(c.Right, r.Right),
                std::min(c.Bottom, r.Bottom)};
  }
  std::erase_if(Rects, [](const TRect& c) { return c.Left >= c.Right || c.Top >= c.Bottom; });
}

void TVXMClip::Exclude(const TRect& r) {
  if (r.Left >= r.Right || r.Top >= r.Bottom) return;
  if (Everywhere) {
    Everywhere = false;
    constexpr int kFar = 1 << 28;
    Rects = {TRect{-kFar, -kFar, kFar, kFar}};
  }
  std::vector<TRect> out;
  for (const TRect& c : Rects) {
    if (r.Left >= c.Right || r.Right <= c.Left || r.Top >= c.Bottom || r.Bottom <= c.Top) {
      out.push_back(c);
      continue;
    }
    // What is left of c: a band above, a band below, and the two sides between them.
    int top = std::max(c.Top, r.Top), bottom = std::min(c.Bottom, r.Bottom);
    if (c.Top < r.Top) out.push_back({c.Left, c.Top, c.Right, r.Top});
    if (r.Bottom < c.Bottom) out.push_back({c.Left, r.Bottom, c.Right, c.Bottom});
    if (c.Left < r.Left) out.push_back({c.Left, top, r.Left, bottom});
    if (r.Right < c.Right) out.push_back({r.Right, top, c.Right, bottom});
  }
  if (out.size() <= kMaxRects) Rects = std::move(out);
}

void TVXMClip::Offset(int dx, int dy) {
  if (Everywhere) return;
  constexpr int kFar = 1 << 28;
  for (TRect& c : Rects) {
    c.Left = std::clamp(c.Left + dx, -kFar, kFar), c.Right = std::clamp(c.Right + dx, -kFar, kFar);
    c.Top = std::clamp(c.Top + dy, -kFar, kFar), c.Bottom = std::clamp(c.Bottom + dy, -kFar, kFar);
  }
}

// ---------------------------------------------------------------------------
// Filling

template <class F>
void TVXMetaRaster::Spans(const std::vector<TVXMPolygon>& polys, TVXMFillRule rule, bool snap, F&& fn) {
  struct Edge {
    double X0, Y0, X1, Y1;
    int Dir;
  };
  std::vector<Edge> edges;
  const int w = FDst.Width(), h = FDst.Height();
  for (const TVXMPolygon& p : polys) {
    size_t n = p.size();
    if (n < 3) continue;
    for (size_t i = 0; i < n; ++i) {
      TVXMPoint a{Clamp(p[i].X), Clamp(p[i].Y)}, b{Clamp(p[(i + 1) % n].X), Clamp(p[(i + 1) % n].Y)};
      // Shapes land on whole pixels first, as on the platform: a fill then stops exactly
      // where its one-pixel outline starts. The pieces of a wide stroke keep their
      // fractions, or the wedges of their joins would vanish.
      if (snap) a = {std::round(a.X), std::round(a.Y)}, b = {std::round(b.X), std::round(b.Y)};
      if (a.Y == b.Y) continue;
      if (a.Y < b.Y)
        edges.push_back({a.X, a.Y, b.X, b.Y, 1});
      else
        edges.push_back({b.X, b.Y, a.X, a.Y, -1});
    }
  }
  if (edges.empty()) return;
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.Y0 < b.Y0; });
  double maxY = -kCoordLimit;
  for (const Edge& e : edges) maxY = std::max(maxY, e.Y1);
  int y0 = std::max(0, static_cast<int>(std::floor(edges.front().Y0))), y1 = std::min(h, static_cast<int>(std::ceil(maxY)) + 1);
  std::vector<const Edge*> active;
  std::vector<std::pair<double, int>> xs;
  size_t next = 0;
  for (int y = y0; y < y1; ++y) {
    double yc = y + 0.5;
    while (next < edges.size() && edges[next].Y0 <= yc) active.push_back(&edges[next++]);
    std::erase_if(active, [&](const Edge* e) { return e->Y1 <= yc; });
    xs.clear();
    for (const Edge* e : active)
      if (e->Y0 <= yc) xs.push_back({e->X0 + (yc - e->Y0) * (e->X1 - e->X0) / (e->Y1 - e->Y0), e->Dir});
    if (xs.size() < 2) continue;
    std::sort(xs.begin(), xs.end());
    int wind = 0;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      wind += rule == frWinding ? xs[i].second : 1;
      bool inside = rule == frWinding ? wind != 0 : (wind & 1) != 0;
      if (!inside) continue;
      // Pixel x is inside when its centre x + 0.5 lies in [xa, xb).
      int a = static_cast<int>(std::clamp(std::ceil(xs[i].first - 0.5), 0.0, double(w)));
      int b = static_cast<int>(std::clamp(std::ceil(xs[i + 1].first - 0.5), 0.0, double(w)));
      if (a >= b) continue;
      if (FClip)
        FClip->Spans(y, a, b, [&](int c, int d) { fn(y, c, d); });
      else
        fn(y, a, b);
    }
  }
}

void TVXMetaRaster::FillPolygons(const std::vector<TVXMPolygon>& polys, TVXMFillRule rule, const TVXMPaint& paint,
                                 bool snap) {
  if (paint.Kind == TVXMPaint::pkNone) return;
  const TRGB c = TColor2TRGB(paint.Color), bk = TColor2TRGB(paint.Back);
  const TBitmap* pat = paint.Kind == TVXMPaint::pkPattern ? paint.Pattern.get() : nullptr;
  if (paint.Kind == TVXMPaint::pkPattern && (!pat || pat->Empty() || pat->PixelFormat() != pf24bit)) return;
  Spans(polys, rule, snap, [&](int y, int x0, int x1) {
    TRGB* row = Row(FDst, y);
    switch (paint.Kind) {
      case TVXMPaint::pkSolid: std::fill(row + x0, row + x1, c); break;
      case TVXMPaint::pkHatch:
        for (int x = x0; x < x1; ++x) {
          if (HatchHit(paint.Hatch, x, y))
            row[x] = c;
          else if (paint.Opaque)
            row[x] = bk;
        }
        break;
      default: {
        const TRGB* prow = reinterpret_cast<const TRGB*>(pat->ScanLine(y % pat->Height()));
        for (int x = x0; x < x1; ++x) row[x] = prow[x % pat->Width()];
        break;
      }
    }
  });
}

void TVXMetaRaster::PutPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= FDst.Width() || y >= FDst.Height()) return;
  bool in = !FClip;
  if (FClip) FClip->Spans(y, x, x + 1, [&](int, int) { in = true; });
  if (in) Row(FDst, y)[x] = TColor2TRGB(color);
}

// ---------------------------------------------------------------------------
// Stroking

// Clipped to the bitmap first, so a line far outside costs nothing.
void TVXMetaRaster::Line(double x0, double y0, double x1, double y1, TColor color, bool lastPixel) {
  x0 = Clamp(x0), y0 = Clamp(y0), x1 = Clamp(x1), y1 = Clamp(y1);
  double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
  const double lim[4][2] = {{-dx, x0}, {dx, FDst.Width() - 1 - x0}, {-dy, y0}, {dy, FDst.Height() - 1 - y0}};
  for (const auto& [p, q] : lim) {
    if (p == 0) {
      if (q < 0) return;
      continue;
    }
    double t = q / p;
    if (p < 0) {
      if (t > t1) return;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return;
      t1 = std::min(t1, t);
    }
  }
  bool endClipped = t1 < 1;
  int ax = static_cast<int>(std::lround(x0 + t0 * dx)), ay = static_cast<int>(std::lround(y0 + t0 * dy));
  int bx = static_cast<int>(std::lround(x0 + t1 * dx)), by = static_cast<int>(std::lround(y0 + t1 * dy));
  int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  int ex = std::abs(bx - ax), ey = -std::abs(by - ay), err = ex + ey;
  for (int x = ax, y = ay;;) {
    // The end point belongs to the next segment, unless clipping moved it.
    if (x == bx && y == by) {
      if (endClipped || lastPixel) PutPixel(x, y, color);
      break;
    }
    PutPixel(x, y, color);
    int e2 = 2 * err;
    if (e2 >= ey) err += ey, x += sx;
    if (e2 <= ex) err += ex, y += sy;
  }
}

void TVXMetaRaster::Stroke(const TVXMPolygon& pts, bool closed, const TVXMStroke& stroke) {
  if (pts.size() < 2 && !(pts.size() == 1 && stroke.Width >= 1.5)) return;
  std::vector<TVXMPolygon> pieces;
  bool dashed = !stroke.Dash.empty();
  if (dashed)
    pieces = Dashes(pts, closed, stroke.Dash);
  else
    pieces = {pts};
  bool pieceClosed = closed && !dashed;
  if (stroke.Width < 1.5) {
    for (const TVXMPolygon& p : pieces) {
      size_t n = p.size(), segs = pieceClosed ? n : n - 1;
      for (size_t i = 0; i < segs; ++i) Line(p[i].X, p[i].Y, p[(i + 1) % n].X, p[(i + 1) % n].Y, stroke.Color, false);
    }
    return;
  }
  double r = std::min(stroke.Width, 4 * kCoordLimit) / 2;
  std::vector<TVXMPolygon> shape;
  for (const TVXMPolygon& p : pieces) {
    size_t n = p.size();
    if (n == 0) continue;
    size_t segs = pieceClosed ? n : n - 1;
    auto normal = [&](size_t i) {
      TVXMPoint a = p[i], b = p[(i + 1) % n];
      double len = std::hypot(b.X - a.X, b.Y - a.Y);
      return len > 0 ? TVXMPoint{-(b.Y - a.Y) / len * r, (b.X - a.X) / len * r} : TVXMPoint{0, 0};
    };
    for (size_t i = 0; i < segs; ++i) {
      TVXMPoint a = p[i], b = p[(i + 1) % n], nv = normal(i);
      if (nv.X == 0 && nv.Y == 0) continue;
      // Square caps lengthen the open ends by half the width.
      if (!pieceClosed && stroke.Cap == capSquare) {
        TVXMPoint t{nv.Y, -nv.X};
        if (i == 0) a = {a.X - t.X, a.Y - t.Y};
        if (i + 1 == segs) b = {b.X + t.X, b.Y + t.Y};
      }
      shape.push_back({{a.X + nv.X, a.Y + nv.Y}, {b.X + nv.X, b.Y + nv.Y}, {b.X - nv.X, b.Y - nv.Y}, {a.X - nv.X, a.Y - nv.Y}});
    }
    // Joins at the inner vertices (and every vertex of a closed figure).
    for (size_t i = pieceClosed ? 0 : 1; i < (pieceClosed ? n : n - 1); ++i) {
      TVXMPoint v = p[i];
      if (stroke.Join == joinRound) {
        shape.push_back(Disc(v, r));
        continue;
      }
      TVXMPoint n1 = normal((i + n - 1) % n), n2 = normal(i);
      double cross = n1.X * n2.Y - n1.Y * n2.X;
      if (cross == 0) continue;
      // The outer side is where the offset edges leave a gap.
      double s = cross > 0 ? -1 : 1;
      TVXMPoint o1{v.X + s * n1.X, v.Y + s * n1.Y}, o2{v.X + s * n2.X, v.Y + s * n2.Y};
      TVXMPolygon join{v, o1, o2};
      if (stroke.Join == joinMiter) {
        TVXMPoint mid{(n1.X + n2.X) / 2, (n1.Y + n2.Y) / 2};
        double ml = std::hypot(mid.X, mid.Y);
        if (ml > 0) {
          double reach = r * r / ml;  // distance from the vertex to the miter tip
          if (reach <= stroke.MiterLimit * r)
            join = {v, o1, {v.X + s * mid.X / ml * reach, v.Y + s * mid.Y / ml * reach}, o2};
        }
      }
      shape.push_back(join);
    }
    if (!pieceClosed && stroke.Cap == capRound) {
      shape.push_back(Disc(p.front(), r));
      shape.push_back(Disc(p.back(), r));
    }
  }
  // One piece at a time: filling them together would need one orientation for all,
  // which slivers lose once their corners land on whole pixels.
  const TVXMPaint ink{TVXMPaint::pkSolid, stroke.Color, 0, false, clWhite, nullptr};
  for (const TVXMPolygon& piece : shape) FillPolygons({piece}, frWinding, ink, false);
}

// ---------------------------------------------------------------------------
// Blits and text

void TVXMetaRaster::Blit(const TBitmap& src, const TRect& srcRect, double x0, double y0, double x1, double y1,
                         uint32_t rop) {
  int sw = srcRect.Width(), sh = srcRect.Height();
  if (src.Empty() || sw <= 0 || sh <= 0 || x0 == x1 || y0 == y1) return;
  if (src.PixelFormat() != pf24bit && src.PixelFormat() != pf1bit) return;
  x0 = Clamp(x0), y0 = Clamp(y0), x1 = Clamp(x1), y1 = Clamp(y1);
  double dw = x1 - x0, dh = y1 - y0;
  TVXMPolygon box{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  bool mono = src.PixelFormat() == pf1bit;
  Spans({box}, frAlternate, true, [&](int y, int a, int b) {
    // In doubles until known to be in range: a destination a fraction of a pixel tall
    // makes the ratio huge.
    double fy = srcRect.Top + std::floor((y + 0.5 - y0) / dh * sh);
    if (!(fy >= std::max(0, srcRect.Top) && fy < std::min(srcRect.Bottom, src.Height()))) return;
    int sy = static_cast<int>(fy);
    const uint8_t* srow = src.ScanLine(sy);
    TRGB* row = Row(FDst, y);
    for (int x = a; x < b; ++x) {
      double fx = srcRect.Left + std::floor((x + 0.5 - x0) / dw * sw);
      if (!(fx >= std::max(0, srcRect.Left) && fx < std::min(srcRect.Right, src.Width()))) continue;
      int sx = static_cast<int>(fx);
      TRGB s;
      if (mono) {
        uint8_t v = (srow[sx >> 3] >> (7 - (sx & 7))) & 1 ? 255 : 0;
        s = {v, v, v};
      } else {
        s = reinterpret_cast<const TRGB*>(srow)[sx];
      }
      TRGB& d = row[x];
      switch (rop) {
        case kRopSrcAnd: d = {uint8_t(d.b & s.b), uint8_t(d.g & s.g), uint8_t(d.r & s.r)}; break;
        case kRopSrcPaint: d = {uint8_t(d.b | s.b), uint8_t(d.g | s.g), uint8_t(d.r | s.r)}; break;
        case kRopSrcInvert: d = {uint8_t(d.b ^ s.b), uint8_t(d.g ^ s.g), uint8_t(d.r ^ s.r)}; break;
        case kRopNotSrcCopy: d = {uint8_t(~s.b), uint8_t(~s.g), uint8_t(~s.r)}; break;
        case kRopSrcErase: d = {uint8_t(~d.b & s.b), uint8_t(~d.g & s.g), uint8_t(~d.r & s.r)}; break;
        default: d = s; break;
      }
    }
  });
}

void TVXMetaRaster::PatBlt(double x0, double y0, double x1, double y1, uint32_t rop, const TVXMPaint& paint) {
  TVXMPolygon box{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  if (rop == kRopDstInvert) {
    Spans({box}, frAlternate, true, [&](int y, int a, int b) {
      TRGB* row = Row(FDst, y);
      for (int x = a; x < b; ++x) row[x] = {uint8_t(~row[x].b), uint8_t(~row[x].g), uint8_t(~row[x].r)};
    });
    return;
  }
  TVXMPaint p = rop == kRopPatCopy      ? paint
                : rop == kRopBlackness  ? TVXMPaint{TVXMPaint::pkSolid, clBlack, 0, false, clWhite, nullptr}
                : rop == kRopWhiteness  ? TVXMPaint{TVXMPaint::pkSolid, clWhite, 0, false, clWhite, nullptr}
                                        : TVXMPaint{TVXMPaint::pkNone, clBlack, 0, false, clWhite, nullptr};
  FillPolygons({box}, frAlternate, p);
}

void TVXMetaRaster::DrawText(const TVXTextImage& text, double x, double y, TColor color) {
  if (text.Width <= 0 || text.Height <= 0 || text.Coverage.size() < size_t(text.Width) * size_t(text.Height)) return;
  int left = static_cast<int>(std::lround(Clamp(x - text.OriginX))), top = static_cast<int>(std::lround(Clamp(y - text.OriginY)));
  TVXMPolygon box{{double(left), double(top)}, {double(left) + text.Width, double(top)},
                  {double(left) + text.Width, double(top) + text.Height}, {double(left), double(top) + text.Height}};
  const TRGB c = TColor2TRGB(color);
  Spans({box}, frAlternate, true, [&](int py, int a, int b) {
    const uint8_t* cov = text.Coverage.data() + size_t(py - top) * size_t(text.Width);
    TRGB* row = Row(FDst, py);
    for (int px = a; px < b; ++px) {
      unsigned k = cov[px - left];
      if (k == 0) continue;
      TRGB& d = row[px];
      d.b = static_cast<uint8_t>((d.b * (255 - k) + c.b * k + 127) / 255);
      d.g = static_cast<uint8_t>((d.g * (255 - k) + c.g * k + 127) / 255);
      d.r = static_cast<uint8_t>((d.r * (255 - k) + c.r * k + 127) / 255);
    }
  });
}

}  // namespace vexa
