#include "vexa/io/metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <set>

#include "vexa/core/bytereader.h"
#include "vexa/core/raster.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr uint32_t kEmfSignature = 0x464D4520u;  // " EMF"
// Bounds on what a file can make us keep: object slots and saved DC states.
constexpr size_t kMaxObjects = 65536;
constexpr size_t kMaxSavedStates = 1024;
// Device coordinates are kept well inside int32 so the raster never overflows.
constexpr double kCoordLimit = 1.0e6;

// Little-endian reads that answer 0 outside the record instead of reading past it. Records are
// read through const references while playing, so this keeps no failed state (TVXByteReader does).
struct Bytes {
  const uint8_t* P = nullptr;
  size_t N = 0;
  bool Has(size_t off, size_t len) const { return off <= N && len <= N - off; }
  uint16_t U16(size_t off) const { return Has(off, 2) ? VXLoadU16(P + off) : 0; }
  int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
  uint32_t U32(size_t off) const { return Has(off, 4) ? VXLoadU32(P + off) : 0; }
  int32_t I32(size_t off) const { return static_cast<int32_t>(U32(off)); }
  double F32(size_t off) const {
    uint32_t u = U32(off);
    float f;
    std::memcpy(&f, &u, 4);
    return std::isfinite(f) ? f : 0.0;
  }
};

// A COLORREF is red, green, blue, reserved: TColor's own layout.
TColor ColorRef(uint32_t v) { return static_cast<TColor>(v & 0xFFFFFF); }

struct Pen {
  bool Null = false;
  double Width = 0;  // logical units; 0 = one pixel
  TColor Color = clBlack;
};

enum TBrushKind { bkSolid, bkHollow, bkHatched };
struct Brush {
  TBrushKind Kind = bkSolid;
  TColor Color = clWhite;
  int Hatch = 0;
};

struct Xform {
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
  Xform Then(const Xform& b) const {  // this, then b
    return {M11 * b.M11 + M12 * b.M21, M11 * b.M12 + M12 * b.M22, M21 * b.M11 + M22 * b.M21,
            M21 * b.M12 + M22 * b.M22, Dx * b.M11 + Dy * b.M21 + b.Dx, Dx * b.M12 + Dy * b.M22 + b.Dy};
  }
};

struct DCState {
  Pen CurPen;
  Brush CurBrush;
  TColor BkColor = clWhite;
  bool BkOpaque = true;
  int MapMode = 1;  // MM_TEXT
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  Xform World;
  double CurX = 0, CurY = 0;  // logical
};

enum TObjKind { okNone, okPen, okBrush, okPatternBrush, okOther };
struct GdiObject {
  TObjKind Kind = okNone;
  Pen ThePen;
  Brush TheBrush;
};

struct DPoint {
  double X, Y;
};

int ToDevice(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::lround(std::clamp(v, -kCoordLimit, kCoordLimit)));
}

// Plays records onto a pf24bit bitmap, or only measures the logical extent (dst null).
class Player {
 public:
  Player(TBitmap* dst, bool enhanced) : FDst(dst), FEnhanced(enhanced) {}

  // Frame of the picture (in logical units for WMF, device units for EMF) -> dest rect.
  double FrameLeft = 0, FrameTop = 0, FrameWidth = 1, FrameHeight = 1;
  double DestLeft = 0, DestTop = 0, DestWidth = 1, DestHeight = 1;
  double DevPerMm100X = 96.0 / 2540.0, DevPerMm100Y = 96.0 / 2540.0;

  // Measured logical extent (dst null).
  double MinX = 1e300, MinY = 1e300, MaxX = -1e300, MaxY = -1e300;
  bool Measured() const { return MinX <= MaxX; }

  void InitWindow(double orgX, double orgY, double extX, double extY) {
    FDC.WinOrgX = orgX, FDC.WinOrgY = orgY, FDC.WinExtX = extX, FDC.WinExtY = extY;
  }

  void PlayWmf(const Bytes& data, size_t first);
  void PlayEmf(const Bytes& data);

 private:
  // -- mapping
  DPoint Map(double x, double y);
  double MapLength(double logical);

  // -- drawing in device pixels
  void FillPolygons(const std::vector<std::vector<TPoint>>& polys, const Brush& brush);
  void Line(double x0, double y0, double x1, double y1, TColor color);
  void StrokePath(const std::vector<DPoint>& pts, bool closed, const Pen& pen);
  void PutPixel(int x, int y, TColor color);

  // -- shapes in logical units
  void Shape(const std::vector<std::vector<DPoint>>& logical, bool fill, bool stroke, bool closed);
  void Polyline(const std::vector<DPoint>& pts) { Shape({pts}, false, true, false); }
  void Polygons(const std::vector<std::vector<DPoint>>& polys) { Shape(polys, true, true, true); }
  void Rectangle(double l, double t, double r, double b);
  void Ellipse(double l, double t, double r, double b);
  void RoundRect(double l, double t, double r, double b, double cw, double ch);
  void LineTo(double x, double y);
  void BezierTo(std::vector<DPoint>& out, DPoint p0, DPoint p1, DPoint p2, DPoint p3);

  // -- state
  void SaveDC();
  void RestoreDC(int n);
  void SelectObject(size_t index);
  void SelectStock(uint32_t id);
  void AddObject(const GdiObject& obj);  // lowest free slot (WMF)
  void SetObject(size_t index, const GdiObject& obj);
  void DeleteObject(size_t index);

  void WmfRecord(uint16_t fn, const Bytes& r);
  void EmfRecord(uint32_t type, const Bytes& r);

  TBitmap* FDst;
  bool FEnhanced;
  DCState FDC;
  std::vector<DCState> FSaved;
  std::vector<GdiObject> FObjects;      // WMF: slots in creation order
  std::map<size_t, GdiObject> FHandles;  // EMF: indices chosen by the file
  // WMF: freed slots below FObjects.size(), so the lowest free one is found at once.
  std::set<size_t> FFree;
};

// ---------------------------------------------------------------------------
// Mapping

DPoint Player::Map(double x, double y) {
  if (!FDst) {
    MinX = std::min(MinX, x), MaxX = std::max(MaxX, x);
    MinY = std::min(MinY, y), MaxY = std::max(MaxY, y);
    return {0, 0};
  }
  const DCState& s = FDC;
  double wx = s.WinExtX != 0 ? s.WinExtX : 1, wy = s.WinExtY != 0 ? s.WinExtY : 1;
  double dx, dy;
  if (!FEnhanced) {
    // The player owns the viewport: the window maps straight onto the frame.
    dx = (x - s.WinOrgX) * FrameWidth / wx + FrameLeft;
    dy = (y - s.WinOrgY) * FrameHeight / wy + FrameTop;
  } else {
    const Xform& w = s.World;
    double px = x * w.M11 + y * w.M21 + w.Dx, py = x * w.M12 + y * w.M22 + w.Dy;
    double unit = 0;  // 0.01 mm per logical unit of the metric modes
    switch (s.MapMode) {
      case 2: unit = 10; break;
      case 3: unit = 1; break;
      case 4: unit = 25.4; break;
      case 5: unit = 2.54; break;
      case 6: unit = 2540.0 / 1440.0; break;
      default: break;
    }
    if (s.MapMode == 7 || s.MapMode == 8) {
      dx = (px - s.WinOrgX) * s.VpExtX / wx + s.VpOrgX;
      dy = (py - s.WinOrgY) * s.VpExtY / wy + s.VpOrgY;
    } else if (unit > 0) {
      // Metric modes have y growing upwards.
      dx = (px - s.WinOrgX) * unit * DevPerMm100X + s.VpOrgX;
      dy = -(py - s.WinOrgY) * unit * DevPerMm100Y + s.VpOrgY;
    } else {
      dx = px - s.WinOrgX + s.VpOrgX;
      dy = py - s.WinOrgY + s.VpOrgY;
    }
  }
  double fw = FrameWidth != 0 ? FrameWidth : 1, fh = FrameHeight != 0 ? FrameHeight : 1;
  return {DestLeft + (dx - FrameLeft) * DestWidth / fw, DestTop + (dy - FrameTop) * DestHeight / fh};
}

double Player::MapLength(double logical) {
  if (!FDst) return 0;
  DPoint o = Map(0, 0), a = Map(logical, 0), b = Map(0, logical);
  double la = std::hypot(a.X - o.X, a.Y - o.Y), lb = std::hypot(b.X - o.X, b.Y - o.Y);
  return (la + lb) / 2;
}

// ---------------------------------------------------------------------------
// Device drawing

void Player::PutPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= FDst->Width() || y >= FDst->Height()) return;
  uint8_t* p = FDst->ScanLine(y) + 3 * x;
  p[0] = static_cast<uint8_t>(color >> 16), p[1] = static_cast<uint8_t>(color >> 8), p[2] = static_cast<uint8_t>(color);
}

bool HatchHit(int hatch, int x, int y) {
  int h = (y & 7) == 0, v = (x & 7) == 0, f = ((x - y) & 7) == 0, b = ((x + y) & 7) == 0;
  switch (hatch) {
    case 0: return h;
    case 1: return v;
    case 2: return f;
    case 3: return b;
    case 4: return h || v;
    default: return f || b;
  }
}

void Player::FillPolygons(const std::vector<std::vector<TPoint>>& polys, const Brush& brush) {
  if (brush.Kind == bkHollow) return;
  TVXPolygonMask mask(FDst->Width(), FDst->Height(), polys);
  TRGB c = TColor2TRGB(brush.Color), bk = TColor2TRGB(FDC.BkColor);
  bool opaque = FDC.BkOpaque;
  for (int y = 0; y < FDst->Height(); ++y) {
    const auto& spans = mask.Spans(y);
    if (spans.empty()) continue;
    TRGB* row = reinterpret_cast<TRGB*>(FDst->ScanLine(y));
    for (auto [x0, x1] : spans) {
      if (brush.Kind == bkSolid) {
        std::fill(row + x0, row + x1, c);
      } else {
        for (int x = x0; x < x1; ++x) {
          if (HatchHit(brush.Hatch, x, y))
            row[x] = c;
          else if (opaque)
            row[x] = bk;
        }
      }
    }
  }
}

// Clipped to the bitmap first, so a line far outside costs nothing.
void Player::Line(double x0, double y0, double x1, double y1, TColor color) {
  double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
  const double lim[4][2] = {{-dx, x0 - 0.0}, {dx, FDst->Width() - 1 - x0}, {-dy, y0 - 0.0},
                            {dy, FDst->Height() - 1 - y0}};
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
  int ax = ToDevice(x0 + t0 * dx), ay = ToDevice(y0 + t0 * dy);
  int bx = ToDevice(x0 + t1 * dx), by = ToDevice(y0 + t1 * dy);
  int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  int ex = std::abs(bx - ax), ey = -std::abs(by - ay), err = ex + ey;
  for (int x = ax, y = ay;;) {
    // The end point belongs to the next segment, unless clipping moved it.
    if (x == bx && y == by) {
      if (endClipped) PutPixel(x, y, color);
      break;
    }
    PutPixel(x, y, color);
    int e2 = 2 * err;
    if (e2 >= ey) err += ey, x += sx;
    if (e2 <= ex) err += ex, y += sy;
  }
}

void Player::StrokePath(const std::vector<DPoint>& pts, bool closed, const Pen& pen) {
  if (pen.Null || pts.empty()) return;
  size_t n = pts.size();
  size_t segs = closed ? n : n - 1;
  double width = pen.Width > 0 ? MapLength(pen.Width) : 1;
  if (width < 1.5) {
    for (size_t i = 0; i < segs; ++i) {
      const DPoint &a = pts[i], &b = pts[(i + 1) % n];
      Line(a.X, a.Y, b.X, b.Y, pen.Color);
    }
    return;
  }
  width = std::min(width, 4 * kCoordLimit);
  Brush solid{bkSolid, pen.Color, 0};
  double r = width / 2;
  auto disc = [&](DPoint c) {
    std::vector<TPoint> poly;
    for (int k = 0; k < 16; ++k) {
      double a = k * std::numbers::pi / 8;
      poly.push_back({ToDevice(c.X + r * std::cos(a)), ToDevice(c.Y + r * std::sin(a))});
    }
    FillPolygons({poly}, solid);
  };
  for (size_t i = 0; i < segs; ++i) {
    const DPoint &a = pts[i], &b = pts[(i + 1) % n];
    double len = std::hypot(b.X - a.X, b.Y - a.Y);
    if (len > 0) {
      double nx = -(b.Y - a.Y) / len * r, ny = (b.X - a.X) / len * r;
      FillPolygons({{{ToDevice(a.X + nx), ToDevice(a.Y + ny)},
                     {ToDevice(b.X + nx), ToDevice(b.Y + ny)},
                     {ToDevice(b.X - nx), ToDevice(b.Y - ny)},
                     {ToDevice(a.X - nx), ToDevice(a.Y - ny)}}},
                   solid);
    }
    disc(a);
  }
  if (!closed) disc(pts.back());
}

// ---------------------------------------------------------------------------
// Shapes

void Player::Shape(const std::vector<std::vector<DPoint>>& logical, bool fill, bool stroke, bool closed) {
  std::vector<std::vector<DPoint>> dev;
  for (const auto& poly : logical) {
    std::vector<DPoint> d;
    d.reserve(poly.size());
    for (const DPoint& p : poly) d.push_back(Map(p.X, p.Y));
    dev.push_back(std::move(d));
  }
  if (!FDst) return;
  if (fill && closed) {
    std::vector<std::vector<TPoint>> polys;
    for (const auto& d : dev) {
      std::vector<TPoint> p;
      p.reserve(d.size());
      for (const DPoint& q : d) p.push_back({ToDevice(q.X), ToDevice(q.Y)});
      polys.push_back(std::move(p));
    }
    FillPolygons(polys, FDC.CurBrush);
  }
  if (stroke)
    for (const auto& d : dev) StrokePath(d, closed, FDC.CurPen);
}

void Player::Rectangle(double l, double t, double r, double b) {
  if (!FDst) {
    Map(l, t), Map(r, b);
    return;
  }
  // The outline runs on the last pixel inside, as on the platform's Rectangle.
  DPoint a = Map(l, t), c = Map(r, b);
  std::vector<TPoint> box{{ToDevice(a.X), ToDevice(a.Y)},
                          {ToDevice(c.X), ToDevice(a.Y)},
                          {ToDevice(c.X), ToDevice(c.Y)},
                          {ToDevice(a.X), ToDevice(c.Y)}};
  FillPolygons({box}, FDC.CurBrush);
  double x0 = std::min(a.X, c.X), x1 = std::max(a.X, c.X) - 1, y0 = std::min(a.Y, c.Y), y1 = std::max(a.Y, c.Y) - 1;
  StrokePath({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, true, FDC.CurPen);
}

void Player::Ellipse(double l, double t, double r, double b) {
  double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
  int n = FDst ? static_cast<int>(std::clamp(MapLength(std::abs(rx)) + MapLength(std::abs(ry)), 16.0, 256.0)) : 4;
  std::vector<DPoint> poly;
  for (int k = 0; k < n; ++k) {
    double a = 2 * std::numbers::pi * k / n;
    poly.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
  }
  Polygons({poly});
}

void Player::RoundRect(double l, double t, double r, double b, double cw, double ch) {
  double rx = std::min(std::abs(cw) / 2, std::abs(r - l) / 2), ry = std::min(std::abs(ch) / 2, std::abs(b - t) / 2);
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  std::vector<DPoint> poly;
  const DPoint centres[4] = {{r - rx, t + ry}, {r - rx, b - ry}, {l + rx, b - ry}, {l + rx, t + ry}};
  for (int q = 0; q < 4; ++q)
    for (int k = 0; k <= 8; ++k) {
      double a = (q - 1 + k / 8.0) * std::numbers::pi / 2;
      poly.push_back({centres[q].X + rx * std::cos(a), centres[q].Y + ry * std::sin(a)});
    }
  Polygons({poly});
}

void Player::LineTo(double x, double y) {
  Polyline({{FDC.CurX, FDC.CurY}, {x, y}});
  FDC.CurX = x, FDC.CurY = y;
}

void Player::BezierTo(std::vector<DPoint>& out, DPoint p0, DPoint p1, DPoint p2, DPoint p3) {
  constexpr int kSteps = 16;
  for (int i = 1; i <= kSteps; ++i) {
    double t = static_cast<double>(i) / kSteps, u = 1 - t;
    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back({a * p0.X + b * p1.X + c * p2.X + d * p3.X, a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y});
  }
}

// ---------------------------------------------------------------------------
// State

void Player::SaveDC() {
  if (FSaved.size() < kMaxSavedStates) FSaved.push_back(FDC);
}

void Player::RestoreDC(int n) {
  // Negative: relative to the current level; positive: that saved level (1 = first).
  size_t keep;
  if (n < 0) {
    size_t back = static_cast<size_t>(-static_cast<int64_t>(n));
    if (back > FSaved.size()) return;
    keep = FSaved.size() - back;
  } else {
    if (n == 0 || static_cast<size_t>(n) > FSaved.size()) return;
    keep = static_cast<size_t>(n) - 1;
  }
  FDC = FSaved[keep];
  FSaved.resize(keep);
}

void Player::SelectObject(size_t index) {
  const GdiObject* found = nullptr;
  if (FEnhanced) {
    auto it = FHandles.find(index);
    if (it != FHandles.end()) found = &it->second;
  } else if (index < FObjects.size()) {
    found = &FObjects[index];
  }
  if (!found) return;
  const GdiObject& o = *found;
  switch (o.Kind) {
    case okPen: FDC.CurPen = o.ThePen; break;
    case okBrush: FDC.CurBrush = o.TheBrush; break;
    case okPatternBrush: FDC.CurBrush = Brush{bkHollow, clWhite, 0}; break;
    default: break;
  }
}

void Player::SelectStock(uint32_t id) {
  static const TColor greys[] = {clWhite, 0xC0C0C0, 0x808080, 0x404040, clBlack};
  if (id <= 4) FDC.CurBrush = Brush{bkSolid, greys[id], 0};
  else if (id == 5) FDC.CurBrush = Brush{bkHollow, clWhite, 0};
  else if (id == 6) FDC.CurPen = Pen{false, 0, clWhite};
  else if (id == 7) FDC.CurPen = Pen{false, 0, clBlack};
  else if (id == 8) FDC.CurPen = Pen{true, 0, clBlack};
  else if (id == 18) FDC.CurBrush = Brush{bkSolid, clWhite, 0};
  else if (id == 19) FDC.CurPen = Pen{false, 0, clBlack};
}

void Player::AddObject(const GdiObject& obj) {
  if (!FFree.empty()) {
    FObjects[*FFree.begin()] = obj;
    FFree.erase(FFree.begin());
  } else if (FObjects.size() < kMaxObjects) {
    // The table grows as needed: headers that under-count their objects are common.
    FObjects.push_back(obj);
  }
}

void Player::SetObject(size_t index, const GdiObject& obj) {
  if (FHandles.size() < kMaxObjects || FHandles.count(index)) FHandles[index] = obj;
}

void Player::DeleteObject(size_t index) {
  if (FEnhanced) {
    FHandles.erase(index);
  } else if (index < FObjects.size() && FObjects[index].Kind != okNone) {
    FObjects[index] = GdiObject{};
    FFree.insert(index);
  }
}

Brush MakeBrush(uint32_t style, TColor color, uint32_t hatch) {
  if (style == 0) return {bkSolid, color, 0};
  if (style == 2) return {bkHatched, color, static_cast<int>(std::min<uint32_t>(hatch, 5))};
  return {bkHollow, color, 0};
}

// ---------------------------------------------------------------------------
// WMF

void Player::PlayWmf(const Bytes& d, size_t first) {
  size_t off = first;
  while (d.Has(off, 6)) {
    uint32_t words = d.U32(off);
    uint16_t fn = d.U16(off + 4);
    if (words < 3 || words > (d.N - off) / 2) break;
    if (fn == 0x0000) break;  // META_EOF
    size_t len = static_cast<size_t>(words) * 2;
    WmfRecord(fn, Bytes{d.P + off + 6, len - 6});
    off += len;
  }
}

void Player::WmfRecord(uint16_t fn, const Bytes& r) {
  auto points = [&](size_t at, size_t count) {
    std::vector<DPoint> pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) pts.push_back({double(r.I16(at + 4 * i)), double(r.I16(at + 4 * i + 2))});
    return pts;
  };
  switch (fn) {
    case 0x020B: FDC.WinOrgY = r.I16(0), FDC.WinOrgX = r.I16(2); break;  // SETWINDOWORG
    case 0x020C: FDC.WinExtY = r.I16(0), FDC.WinExtX = r.I16(2); break;  // SETWINDOWEXT
    case 0x020F: FDC.WinOrgY += r.I16(0), FDC.WinOrgX += r.I16(2); break;  // OFFSETWINDOWORG
    case 0x0410: {  // SCALEWINDOWEXT: yDenom, yNum, xDenom, xNum
      int yd = r.I16(0), yn = r.I16(2), xd = r.I16(4), xn = r.I16(6);
      if (xd != 0 && yd != 0) FDC.WinExtX = FDC.WinExtX * xn / xd, FDC.WinExtY = FDC.WinExtY * yn / yd;
      break;
    }
    case 0x0201: FDC.BkColor = ColorRef(r.U32(0)); break;  // SETBKCOLOR
    case 0x0102: FDC.BkOpaque = r.U16(0) == 2; break;      // SETBKMODE
    case 0x001E: SaveDC(); break;
    case 0x0127: RestoreDC(r.I16(0)); break;
    case 0x0214: FDC.CurY = r.I16(0), FDC.CurX = r.I16(2); break;  // MOVETO
    case 0x0213: LineTo(r.I16(2), r.I16(0)); break;
    case 0x0325:    // POLYLINE
    case 0x0324: {  // POLYGON
      size_t n = r.U16(0);
      if (!r.Has(2, n * 4) || n == 0) break;
      if (fn == 0x0325)
        Polyline(points(2, n));
      else
        Polygons({points(2, n)});
      break;
    }
    case 0x0538: {  // POLYPOLYGON: count, counts, then all points
      size_t polys = r.U16(0);
      if (!r.Has(2, polys * 2)) break;
      size_t at = 2 + polys * 2, total = 0;
      for (size_t i = 0; i < polys; ++i) total += r.U16(2 + 2 * i);
      if (!r.Has(at, total * 4)) break;
      std::vector<std::vector<DPoint>> all;
      for (size_t i = 0; i < polys; ++i) {
        size_t n = r.U16(2 + 2 * i);
        all.push_back(points(at, n));
        at += n * 4;
      }
      Polygons(all);
      break;
    }
    case 0x041B: Rectangle(r.I16(6), r.I16(4), r.I16(2), r.I16(0)); break;
    case 0x0418: Ellipse(r.I16(6), r.I16(4), r.I16(2), r.I16(0)); break;
    case 0x061C: RoundRect(r.I16(10), r.I16(8), r.I16(6), r.I16(4), r.I16(2), r.I16(0)); break;
    case 0x041F: {  // SETPIXEL: colour, y, x
      DPoint p = Map(r.I16(6), r.I16(4));
      if (FDst) PutPixel(ToDevice(p.X), ToDevice(p.Y), ColorRef(r.U32(0)));
      break;
    }
    case 0x061D: {  // PATBLT: rop, height, width, y, x
      uint32_t rop = r.U32(0);
      double x = r.I16(10), y = r.I16(8), w = r.I16(6), h = r.I16(4);
      Brush b = rop == 0x00F00021 ? FDC.CurBrush
                : rop == 0x00000042 ? Brush{bkSolid, clBlack, 0}
                : rop == 0x00FF0062 ? Brush{bkSolid, clWhite, 0}
                                    : Brush{bkHollow, clWhite, 0};
      std::vector<DPoint> box{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
      std::vector<DPoint> dev;
      for (const DPoint& p : box) dev.push_back(Map(p.X, p.Y));
      if (FDst) {
        std::vector<TPoint> poly;
        for (const DPoint& p : dev) poly.push_back({ToDevice(p.X), ToDevice(p.Y)});
        FillPolygons({poly}, b);
      }
      break;
    }
    case 0x02FA: {  // CREATEPENINDIRECT: style, width (x, y), colour
      GdiObject o{okPen, Pen{(r.U16(0) & 0x0F) == 5, double(std::abs(r.I16(2))), ColorRef(r.U32(6))}, {}};
      AddObject(o);
      break;
    }
    case 0x02FC: {  // CREATEBRUSHINDIRECT: style, colour, hatch
      AddObject(GdiObject{okBrush, {}, MakeBrush(r.U16(0), ColorRef(r.U32(2)), r.U16(6))});
      break;
    }
    case 0x01F9:  // CREATEPATTERNBRUSH
    case 0x0142:  // DIBCREATEPATTERNBRUSH
      AddObject(GdiObject{okPatternBrush, {}, {}});
      break;
    case 0x02FB:  // CREATEFONTINDIRECT
    case 0x00F7:  // CREATEPALETTE
    case 0x06FF:  // CREATEREGION
      AddObject(GdiObject{okOther, {}, {}});
      break;
    case 0x012D: SelectObject(r.U16(0)); break;
    case 0x01F0: DeleteObject(r.U16(0)); break;
    default: break;  // text, bitmaps, arcs, regions, clipping: not played
  }
}

// ---------------------------------------------------------------------------
// EMF

void Player::PlayEmf(const Bytes& d) {
  size_t off = 0;
  while (d.Has(off, 8)) {
    uint32_t type = d.U32(off), size = d.U32(off + 4);
    if (size < 8 || size % 4 != 0 || size > d.N - off) break;
    if (type == 14) break;  // EMR_EOF
    EmfRecord(type, Bytes{d.P + off, size});
    off += size;
  }
}

void Player::EmfRecord(uint32_t type, const Bytes& r) {
  // Points of the poly records: 32-bit POINTL or 16-bit POINTS.
  auto points = [&](size_t at, size_t count, bool small) {
    std::vector<DPoint> pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if (small)
        pts.push_back({double(r.I16(at + 4 * i)), double(r.I16(at + 4 * i + 2))});
      else
        pts.push_back({double(r.I32(at + 8 * i)), double(r.I32(at + 8 * i + 4))});
    }
    return pts;
  };
  switch (type) {
    case 2: case 3: case 4: case 5: case 6:          // POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO
    case 85: case 86: case 87: case 88: case 89: {  // the same with 16-bit points
      bool small = type >= 85;
      uint32_t kind = small ? type - 83 : type;
      size_t n = r.U32(24), step = small ? 4 : 8;
      if (n == 0 || n > r.N / step || !r.Has(28, n * step)) break;
      std::vector<DPoint> pts = points(28, n, small);
      bool to = kind == 5 || kind == 6;
      if (to) pts.insert(pts.begin(), DPoint{FDC.CurX, FDC.CurY});
      if (kind == 2 || kind == 5) {
        std::vector<DPoint> flat{pts[0]};
        for (size_t i = 1; i + 2 < pts.size(); i += 3) BezierTo(flat, flat.back(), pts[i], pts[i + 1], pts[i + 2]);
        pts = std::move(flat);
      }
      if (kind == 3)
        Polygons({pts});
      else
        Polyline(pts);
      if (to) FDC.CurX = pts.back().X, FDC.CurY = pts.back().Y;
      break;
    }
    case 7: case 8: case 90: case 91: {  // POLYPOLYLINE, POLYPOLYGON (32/16-bit)
      bool small = type >= 90;
      size_t polys = r.U32(24), total = r.U32(28), step = small ? 4 : 8;
      if (polys == 0 || polys > r.N / 4 || total > r.N / step) break;
      size_t at = 32 + polys * 4;
      if (!r.Has(32, polys * 4) || !r.Has(at, total * step)) break;
      std::vector<std::vector<DPoint>> all;
      size_t used = 0;
      for (size_t i = 0; i < polys; ++i) {
        size_t n = r.U32(32 + 4 * i);
        if (n > total - used) return;
        all.push_back(points(at + used * step, n, small));
        used += n;
      }
      if (type == 8 || type == 91)
        Polygons(all);
      else
        for (const auto& p : all) Polyline(p);
      break;
    }
    case 9: FDC.WinExtX = r.I32(8), FDC.WinExtY = r.I32(12); break;
    case 10: FDC.WinOrgX = r.I32(8), FDC.WinOrgY = r.I32(12); break;
    case 11: FDC.VpExtX = r.I32(8), FDC.VpExtY = r.I32(12); break;
    case 12: FDC.VpOrgX = r.I32(8), FDC.VpOrgY = r.I32(12); break;
    case 15: {  // SETPIXELV
      DPoint p = Map(r.I32(8), r.I32(12));
      if (FDst) PutPixel(ToDevice(p.X), ToDevice(p.Y), ColorRef(r.U32(16)));
      break;
    }
    case 17: FDC.MapMode = static_cast<int>(r.U32(8)); break;
    case 18: FDC.BkOpaque = r.U32(8) == 2; break;
    case 25: FDC.BkColor = ColorRef(r.U32(8)); break;
    case 27: FDC.CurX = r.I32(8), FDC.CurY = r.I32(12); break;  // MOVETOEX
    case 54: LineTo(r.I32(8), r.I32(12)); break;
    case 33: SaveDC(); break;
    case 34: RestoreDC(r.I32(8)); break;
    case 35:    // SETWORLDTRANSFORM
    case 36: {  // MODIFYWORLDTRANSFORM
      Xform x{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
      uint32_t mode = type == 35 ? 4 : r.U32(32);
      if (mode == 1) FDC.World = Xform{};
      else if (mode == 2) FDC.World = x.Then(FDC.World);
      else if (mode == 3) FDC.World = FDC.World.Then(x);
      else if (mode == 4) FDC.World = x;
      break;
    }
    case 37: {  // SELECTOBJECT
      uint32_t ih = r.U32(8);
      if (ih & 0x80000000u)
        SelectStock(ih & 0x7FFFFFFFu);
      else
        SelectObject(ih);
      break;
    }
    case 38:  // CREATEPEN: ih, style, width (x, y), colour
      SetObject(r.U32(8), GdiObject{okPen, Pen{(r.U32(12) & 0x0F) == 5, double(std::abs(r.I32(16))), ColorRef(r.U32(24))}, {}});
      break;
    case 95: {  // EXTCREATEPEN: ih, bitmap offsets, then style, width, brush style, colour
      uint32_t style = r.U32(28);
      bool geometric = (style & 0x00010000u) != 0;
      Pen p{(style & 0x0F) == 5 || r.U32(36) == 1, geometric ? double(r.U32(32)) : 0, ColorRef(r.U32(40))};
      SetObject(r.U32(8), GdiObject{okPen, p, {}});
      break;
    }
    case 39:  // CREATEBRUSHINDIRECT: ih, style, colour, hatch
      SetObject(r.U32(8), GdiObject{okBrush, {}, MakeBrush(r.U32(12), ColorRef(r.U32(16)), r.U32(20))});
      break;
    case 93: case 94: SetObject(r.U32(8), GdiObject{okPatternBrush, {}, {}}); break;
    case 49: case 82: SetObject(r.U32(8), GdiObject{okOther, {}, {}}); break;
    case 40: DeleteObject(r.U32(8)); break;
    case 42: Ellipse(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 43: Rectangle(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 44: RoundRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20), r.I32(24), r.I32(28)); break;
    default: break;  // text, bitmaps, arcs, paths, clipping: not played
  }
}

}  // namespace

// ---------------------------------------------------------------------------

bool TVXMetafile::LoadFromStream(TStream& stream) {
  int64_t n = stream.Remaining();
  if (n <= 0 || n > kMaxBytes) {
    FData.clear();
    FFailure.Clear();
    if (n <= 0)
      FFailure.Set(fkTruncated, "no data");
    else
      FFailure.Set(fkSizeLimit, "metafiles over " + std::to_string(kMaxBytes >> 20) + " MiB are refused");
    return false;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(n));
  buf.resize(static_cast<size_t>(stream.Read(buf.data(), n)));
  return LoadFromBytes(buf.data(), buf.size());
}

bool TVXMetafile::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  return LoadFromStream(f);
}

bool TVXMetafile::LoadFromBytes(const uint8_t* data, size_t size) {
  FData.assign(data, data + size);
  FWidth = FHeight = 0;
  FHasFrame = false;
  FFailure.Clear();
  Bytes b{FData.data(), FData.size()};
  bool ok = b.U32(0) == 1 && b.U32(40) == kEmfSignature ? ParseEmf() : ParseWmf();
  if (!ok) FData.clear();
  return ok;
}

bool TVXMetafile::ParseEmf() {
  Bytes b{FData.data(), FData.size()};
  if (b.U32(4) < 88 || b.U32(4) > b.N) {
    FFailure.Set(b.U32(4) > b.N ? fkTruncated : fkCorrupt, "EMF header size", b.U32(4));
    return false;
  }
  FEnhanced = true;
  int32_t bl = b.I32(8), bt = b.I32(12), br = b.I32(16), bb = b.I32(20);
  int32_t fl = b.I32(24), ft = b.I32(28), fr = b.I32(32), fb = b.I32(36);
  int32_t devX = b.I32(72), devY = b.I32(76), mmX = b.I32(80), mmY = b.I32(84);
  if (devX > 0 && mmX > 0) FDevPerMm100X = devX / (mmX * 100.0);
  if (devY > 0 && mmY > 0) FDevPerMm100Y = devY / (mmY * 100.0);
  double fw = double(fr) - fl, fh = double(fb) - ft;
  if (fw > 0 && fh > 0) {
    FFrameLeft = fl * FDevPerMm100X, FFrameTop = ft * FDevPerMm100Y;
    FFrameWidth = fw * FDevPerMm100X, FFrameHeight = fh * FDevPerMm100Y;
    FWidth = static_cast<int>(std::clamp(std::lround(fw * gSystemDPIX / 2540.0), 0l, 1l << 24));
    FHeight = static_cast<int>(std::clamp(std::lround(fh * gSystemDPIY / 2540.0), 0l, 1l << 24));
  } else {
    // No usable frame: fall back on the inclusive bounds in device pixels.
    double w = double(br) - bl + 1, h = double(bb) - bt + 1;
    if (w <= 0 || h <= 0) return true;
    FFrameLeft = bl, FFrameTop = bt, FFrameWidth = w, FFrameHeight = h;
    FWidth = static_cast<int>(std::min(w, double(1 << 24)));
    FHeight = static_cast<int>(std::min(h, double(1 << 24)));
  }
  FFirstRecord = 0;
  return true;
}

bool TVXMetafile::ParseWmf() {
  Bytes b{FData.data(), FData.size()};
  FEnhanced = false;
  size_t h = 0;
  bool placeable = b.U32(0) == kPlaceableKey;
  if (placeable) h = 22;
  uint16_t type = b.U16(h), headerWords = b.U16(h + 2), version = b.U16(h + 4);
  if (!b.Has(h, 18)) {
    FFailure.Set(fkTruncated, "WMF header ends early");
    return false;
  }
  if ((type != 1 && type != 2) || headerWords != 9) {
    FFailure.Set(fkCorrupt, "not a WMF or EMF header");
    return false;
  }
  if (!placeable && version != 0x0100 && version != 0x0300) {
    FFailure.Set(fkUnsupported, "WMF version", version);
    return false;
  }
  FFirstRecord = h + 18;
  if (placeable) {
    int l = b.I16(6), t = b.I16(8), r = b.I16(10), bt = b.I16(12);
    int inch = b.U16(14);
    if (inch == 0) inch = 1440;  // twips, the usual unit
    FFrameLeft = l, FFrameTop = t, FFrameWidth = r - l, FFrameHeight = bt - t;
    FWidth = static_cast<int>(static_cast<int64_t>(std::abs(r - l)) * gSystemDPIX / inch);
    FHeight = static_cast<int>(static_cast<int64_t>(std::abs(bt - t)) * gSystemDPIY / inch);
    FHasFrame = FFrameWidth != 0 && FFrameHeight != 0;
    return true;
  }
  // Plain metafile: the first window origin and extent give the frame, in pixels.
  double orgX = 0, orgY = 0;
  bool haveOrg = false;
  for (size_t off = FFirstRecord; b.Has(off, 6);) {
    uint32_t words = b.U32(off);
    uint16_t fn = b.U16(off + 4);
    if (words < 3 || words > (b.N - off) / 2 || fn == 0) break;
    if (fn == 0x020B && !haveOrg) orgY = b.I16(off + 6), orgX = b.I16(off + 8), haveOrg = true;
    if (fn == 0x020C) {
      int ey = b.I16(off + 6), ex = b.I16(off + 8);
      if (ex != 0 && ey != 0) {
        FFrameLeft = orgX, FFrameTop = orgY, FFrameWidth = ex, FFrameHeight = ey;
        FWidth = std::abs(ex), FHeight = std::abs(ey);
        FHasFrame = true;
        return true;
      }
    }
    off += static_cast<size_t>(words) * 2;
  }
  // No window: the extent of what is drawn.
  Player measure(nullptr, false);
  measure.PlayWmf(b, FFirstRecord);
  if (!measure.Measured()) return true;
  FFrameLeft = measure.MinX, FFrameTop = measure.MinY;
  FFrameWidth = measure.MaxX - measure.MinX + 1, FFrameHeight = measure.MaxY - measure.MinY + 1;
  FWidth = static_cast<int>(FFrameWidth), FHeight = static_cast<int>(FFrameHeight);
  FHasFrame = true;
  return true;
}

void TVXMetafile::Draw(TBitmap& dst, const TRect& dstRect) const {
  if (FData.empty() || dst.Empty()) return;
  if (dst.PixelFormat() != pf24bit) dst.SetPixelFormat(pf24bit);
  Bytes b{FData.data(), FData.size()};
  Player p(&dst, FEnhanced);
  p.FrameLeft = FFrameLeft, p.FrameTop = FFrameTop, p.FrameWidth = FFrameWidth, p.FrameHeight = FFrameHeight;
  p.DestLeft = dstRect.Left, p.DestTop = dstRect.Top, p.DestWidth = dstRect.Width(), p.DestHeight = dstRect.Height();
  p.DevPerMm100X = FDevPerMm100X, p.DevPerMm100Y = FDevPerMm100Y;
  if (FEnhanced) {
    p.PlayEmf(b);
  } else {
    // The window starts as the frame; the records may move it.
    p.InitWindow(FFrameLeft, FFrameTop, FFrameWidth, FFrameHeight);
    p.PlayWmf(b, FFirstRecord);
  }
}

}  // namespace vexa
