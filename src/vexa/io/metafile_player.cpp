#include "vexa/io/metafile_player.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "vexa/codecs/bmp.h"
#include "vexa/core/streams.h"
#include "vexa/core/textservice.h"
#include "vexa/io/ioparams.h"

namespace vexa {

double TVXMBytes::F32(size_t off) const {
  uint32_t u = U32(off);
  float f;
  std::memcpy(&f, &u, 4);
  return std::isfinite(f) ? f : 0.0;
}

namespace {

// Bounds on what a file can make us keep.
constexpr size_t kMaxObjects = 65536;
constexpr size_t kMaxSavedStates = 1024;
constexpr size_t kMaxPathPoints = 1 << 20;
// A DIB larger than this is not drawn (48 MiB as 24-bit pixels, under the fuzzers' budget).
constexpr int64_t kMaxDibPixels = 1 << 24;
constexpr size_t kMaxTextChars = 4096;
constexpr double kPi = std::numbers::pi;

// Text and pen alignment flags of the formats.
constexpr uint32_t kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8, kTaBaseline = 24;
constexpr uint32_t kEtoOpaque = 2, kEtoClipped = 4, kEtoPdy = 0x2000;

// A COLORREF is red, green, blue, reserved: TColor's own layout.
TColor ColorRef(uint32_t v) { return static_cast<TColor>(v & 0xFFFFFF); }

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

// How many segments a curve gets: lo for anything unmeasurable (NaN included).
int Steps(double v, double lo, double hi) { return static_cast<int>(v >= lo ? std::min(v, hi) : lo); }

// A device coordinate as a clip-rectangle edge, kept far inside int32.
int32_t Edge(double v) { return static_cast<int32_t>(std::lround(std::clamp(Finite(v), -268435456.0, 268435456.0))); }

TVXMBrush MakeBrush(uint32_t style, TColor color, uint32_t hatch) {
  TVXMBrush b;
  b.Color = color;
  if (style == 0) {
    b.Kind = TVXMBrush::bkSolid;
  } else if (style == 2) {
    b.Kind = TVXMBrush::bkHatched;
    b.Hatch = static_cast<int>(std::min<uint32_t>(hatch, 5));
  } else {
    b.Kind = TVXMBrush::bkHollow;
  }
  return b;
}

TVXMPen MakePen(uint32_t style, double width, TColor color, bool geometric) {
  TVXMPen p;
  p.Style = static_cast<int>(style & 0x0F);
  p.Null = p.Style == 5;
  p.Width = std::abs(width);
  p.Color = color;
  p.Geometric = geometric;
  uint32_t cap = style & 0x0F00, join = style & 0xF000;
  p.Cap = cap == 0x0100 ? capSquare : cap == 0x0200 ? capFlat : capRound;
  p.Join = join == 0x1000 ? joinBevel : join == 0x2000 ? joinMiter : joinRound;
  return p;
}

// The code page most metafile text is written in; the C1 range differs from Latin-1.
char16_t FromCp1252(uint8_t c) {
  static const char16_t kC1[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kC1[c - 0x80] : char16_t(c);
}

std::u16string Ansi(const TVXMBytes& r, size_t off, size_t count) {
  std::u16string s;
  for (size_t i = 0; i < count && r.Has(off + i, 1); ++i) s.push_back(FromCp1252(r.U8(off + i)));
  return s;
}

std::u16string Wide(const TVXMBytes& r, size_t off, size_t count) {
  std::u16string s;
  for (size_t i = 0; i < count && r.Has(off + 2 * i, 2); ++i) s.push_back(static_cast<char16_t>(r.U16(off + 2 * i)));
  return s;
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string FaceName(std::u16string s) {
  if (size_t z = s.find(u'\0'); z != std::u16string::npos) s.resize(z);
  return Utf8(s);
}

// Decodes a DIB given as its header with colour table and its pixel bits, through the
// BMP reader (a file header in front makes it a BMP file). Null for what cannot be drawn.
std::shared_ptr<TBitmap> DecodeDib(const TVXMBytes& bmi, const TVXMBytes& bits) {
  uint32_t headerSize = bmi.U32(0);
  if (headerSize < 12 || headerSize > bmi.N) return nullptr;
  int64_t w = headerSize == 12 ? bmi.U16(4) : bmi.I32(4), h = headerSize == 12 ? bmi.I16(6) : bmi.I32(8);
  h = std::abs(h);
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || w * h > kMaxDibPixels) return nullptr;
  std::vector<uint8_t> file(14);
  uint32_t total = static_cast<uint32_t>(14 + bmi.N + bits.N), offset = static_cast<uint32_t>(14 + bmi.N);
  file[0] = 'B', file[1] = 'M';
  for (int i = 0; i < 4; ++i) file[2 + i] = uint8_t(total >> (8 * i)), file[10 + i] = uint8_t(offset >> (8 * i));
  file.insert(file.end(), bmi.P, bmi.P + bmi.N);
  if (bits.N) file.insert(file.end(), bits.P, bits.P + bits.N);
  TMemoryStream stream(file.data(), file.size());
  auto bmp = std::make_shared<TBitmap>();
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  TIOParamsVals params;
  try {
    BMPReadStream(stream, *bmp, static_cast<int64_t>(file.size()), false, progress, params);
  } catch (const std::exception&) {
    return nullptr;
  }
  if (bmp->Empty()) return nullptr;
  if (bmp->PixelFormat() != pf24bit && bmp->PixelFormat() != pf1bit) bmp->SetPixelFormat(pf24bit);
  return bmp;
}

// Splits a packed DIB (header, colour table, bits in one block) as WMF records hold it.
bool SplitPackedDib(const TVXMBytes& dib, TVXMBytes& bmi, TVXMBytes& bits) {
  uint32_t headerSize = dib.U32(0);
  if (headerSize < 12 || headerSize > dib.N) return false;
  size_t table;
  if (headerSize == 12) {
    uint16_t bpp = dib.U16(10);
    table = bpp <= 8 ? size_t(3) << bpp : 0;
  } else {
    uint16_t bpp = dib.U16(14);
    uint32_t compression = dib.U32(16), used = dib.U32(32);
    if (used > 65536) return false;
    table = 4 * (used ? size_t(used) : bpp <= 8 ? size_t(1) << bpp : 0);
    if (compression == 3 && headerSize == 40) table += 12;
  }
  size_t at = headerSize + table;
  if (at > dib.N) return false;
  bmi = dib.Sub(0, at), bits = dib.Sub(at, dib.N - at);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

TVXMetaPlayer::TVXMetaPlayer(TBitmap* dst, bool enhanced) : FDst(dst), FEnhanced(enhanced) {
  if (FDst) {
    FRaster = std::make_unique<TVXMetaRaster>(*FDst);
    FRaster->SetClip(&FDC.Clip);
  }
}

TVXMetaPlayer::~TVXMetaPlayer() = default;

void TVXMetaPlayer::InitWindow(double orgX, double orgY, double extX, double extY) {
  FDC.WinOrgX = FDC.VpOrgX = orgX, FDC.WinOrgY = FDC.VpOrgY = orgY;
  FDC.WinExtX = FDC.VpExtX = extX, FDC.WinExtY = FDC.VpExtY = extY;
  // A host plays a placeable picture with a stretchable window.
  FDC.MapMode = 8;
}

// ---------------------------------------------------------------------------
// Mapping

TVXMPoint TVXMetaPlayer::FrameToDest(double x, double y) const {
  double fw = FrameWidth != 0 ? FrameWidth : 1, fh = FrameHeight != 0 ? FrameHeight : 1;
  return {Finite(DestLeft + (x - FrameLeft) * DestWidth / fw), Finite(DestTop + (y - FrameTop) * DestHeight / fh)};
}

TVXMPoint TVXMetaPlayer::Map(double x, double y) const {
  const State& s = FDC;
  double wx = s.WinExtX != 0 ? s.WinExtX : 1, wy = s.WinExtY != 0 ? s.WinExtY : 1;
  double sx = s.VpExtX / wx, sy = s.VpExtY / wy;
  if (s.MapMode == 7) {
    // Isotropic: both axes take the smaller scale, each keeping its sign.
    double m = std::min(std::abs(sx), std::abs(sy));
    sx = std::copysign(m, sx), sy = std::copysign(m, sy);
  }
  double fx, fy;
  if (!FEnhanced) {
    fx = (x - s.WinOrgX) * sx + s.VpOrgX;
    fy = (y - s.WinOrgY) * sy + s.VpOrgY;
  } else {
    const TVXMXform& w = s.World;
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
      fx = (px - s.WinOrgX) * sx + s.VpOrgX;
      fy = (py - s.WinOrgY) * sy + s.VpOrgY;
    } else if (unit > 0) {
      // Metric modes have y growing upwards.
      fx = (px - s.WinOrgX) * unit * DevPerMm100X + s.VpOrgX;
      fy = -(py - s.WinOrgY) * unit * DevPerMm100Y + s.VpOrgY;
    } else {
      fx = px - s.WinOrgX + s.VpOrgX;
      fy = py - s.WinOrgY + s.VpOrgY;
    }
  }
  return FrameToDest(fx, fy);
}

double TVXMetaPlayer::ScaleX() const {
  TVXMPoint o = Map(0, 0), a = Map(1, 0);
  return std::hypot(a.X - o.X, a.Y - o.Y);
}

double TVXMetaPlayer::ScaleY() const {
  TVXMPoint o = Map(0, 0), b = Map(0, 1);
  return std::hypot(b.X - o.X, b.Y - o.Y);
}

double TVXMetaPlayer::MapLength(double logical) const { return std::abs(logical) * (ScaleX() + ScaleY()) / 2; }

TRect TVXMetaPlayer::MapRect(double l, double t, double r, double b) const {
  TVXMPoint p[4] = {Map(l, t), Map(r, t), Map(r, b), Map(l, b)};
  double x0 = p[0].X, x1 = p[0].X, y0 = p[0].Y, y1 = p[0].Y;
  for (const TVXMPoint& q : p) x0 = std::min(x0, q.X), x1 = std::max(x1, q.X), y0 = std::min(y0, q.Y), y1 = std::max(y1, q.Y);
  return TRect{Edge(x0), Edge(y0), Edge(x1), Edge(y1)};
}

// ---------------------------------------------------------------------------
// Output

void TVXMetaPlayer::Bound(double x, double y, double pad) {
  MinX = std::min(MinX, x - pad), MaxX = std::max(MaxX, x + pad);
  MinY = std::min(MinY, y - pad), MaxY = std::max(MaxY, y + pad);
}

TVXMStroke TVXMetaPlayer::CurStroke() const {
  const TVXMPen& pen = FDC.Pen;
  TVXMStroke s;
  s.Color = pen.Color;
  // Wide pens are a whole number of pixels wide on the platform.
  s.Width = pen.Width > 0 ? std::max(1.0, std::round(std::min(MapLength(pen.Width), 1e7))) : 1;
  s.Cap = pen.Cap;
  s.Join = pen.Join;
  s.MiterLimit = FDC.MiterLimit;
  // Dashes: in pixels on one-pixel pens, in widths on geometric ones; the platform
  // draws other wide pens solid.
  bool wide = s.Width >= 1.5;
  if (wide && !pen.Geometric) return s;
  double unit = wide ? s.Width : 1;
  static const std::vector<double> kThin[4] = {{18, 6}, {3, 3}, {9, 6, 3, 6}, {9, 3, 3, 3, 3, 3}};
  static const std::vector<double> kWide[4] = {{3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
  if (pen.Style >= 1 && pen.Style <= 4) {
    s.Dash = (wide ? kWide : kThin)[pen.Style - 1];
  } else if (pen.Style == 8) {
    s.Dash = {1, 1};
  } else if (pen.Style == 7 && !pen.UserDash.empty()) {
    s.Dash = pen.UserDash;
    unit = pen.Geometric ? MapLength(1) : 1;
  }
  double total = 0;
  for (double& d : s.Dash) total += (d *= unit);
  // Dashes shorter than a pixel in all would only cost time: draw solid.
  if (!(total >= 1)) s.Dash.clear();
  return s;
}

TVXMPaint TVXMetaPlayer::CurPaint() const {
  const TVXMBrush& b = FDC.Brush;
  TVXMPaint p;
  p.Color = b.Color;
  p.Back = FDC.BkColor;
  p.Opaque = FDC.BkOpaque;
  switch (b.Kind) {
    case TVXMBrush::bkSolid: p.Kind = TVXMPaint::pkSolid; break;
    case TVXMBrush::bkHatched: p.Kind = TVXMPaint::pkHatch, p.Hatch = b.Hatch; break;
    case TVXMBrush::bkPattern: p.Kind = TVXMPaint::pkPattern, p.Pattern = b.Pattern; break;
    default: p.Kind = TVXMPaint::pkNone; break;
  }
  return p;
}

void TVXMetaPlayer::Emit(std::vector<Figure> figs, bool fill, bool stroke) {
  if (FInPath) {
    for (Figure& f : figs) {
      if (f.Pts.empty() || FPathPoints + f.Pts.size() > kMaxPathPoints) continue;
      FPathPoints += f.Pts.size();
      FPath.push_back(std::move(f));
    }
    FFigureOpen = false;
    return;
  }
  bool pen = stroke && !FDC.Pen.Null;
  if (!FRaster) {
    double pad = pen && FDC.Pen.Width > 0 ? MapLength(FDC.Pen.Width) / 2 : 0;
    for (const Figure& f : figs)
      for (const TVXMPoint& p : f.Pts) Bound(p.X, p.Y, pad);
    return;
  }
  if (fill) {
    std::vector<TVXMPolygon> polys;
    for (Figure& f : figs)
      if (f.Pts.size() >= 3) polys.push_back(f.Pts);
    FRaster->FillPolygons(polys, FDC.PolyFill == 2 ? frWinding : frAlternate, CurPaint());
  }
  if (pen) {
    TVXMStroke s = CurStroke();
    for (const Figure& f : figs) FRaster->Stroke(f.Pts, f.Closed, s);
  }
}

// ---------------------------------------------------------------------------
// Shapes

void TVXMetaPlayer::Polyline(const TVXMPolygon& logical) {
  Figure f;
  for (const TVXMPoint& p : logical) f.Pts.push_back(Map(p.X, p.Y));
  Emit({std::move(f)}, false, true);
}

void TVXMetaPlayer::Polygons(const std::vector<TVXMPolygon>& logical) {
  std::vector<Figure> figs;
  for (const TVXMPolygon& poly : logical) {
    Figure f{{}, true};
    for (const TVXMPoint& p : poly) f.Pts.push_back(Map(p.X, p.Y));
    figs.push_back(std::move(f));
  }
  Emit(std::move(figs), true, true);
}

void TVXMetaPlayer::PolyTo(const TVXMPolygon& logical) {
  if (logical.empty()) return;
  if (FInPath) {
    // Continues the open figure, or starts one at the current position.
    if (!FFigureOpen) {
      if (FPathPoints >= kMaxPathPoints) return;
      FPath.push_back(Figure{{Map(FDC.CurX, FDC.CurY)}, false});
      ++FPathPoints;
      FFigureOpen = true;
    }
    for (const TVXMPoint& p : logical) {
      if (FPathPoints >= kMaxPathPoints) break;
      FPath.back().Pts.push_back(Map(p.X, p.Y));
      ++FPathPoints;
    }
  } else {
    TVXMPolygon pts{{FDC.CurX, FDC.CurY}};
    pts.insert(pts.end(), logical.begin(), logical.end());
    Polyline(pts);
  }
  FDC.CurX = logical.back().X, FDC.CurY = logical.back().Y;
}

void TVXMetaPlayer::MoveTo(double x, double y) {
  FDC.CurX = x, FDC.CurY = y;
  FFigureOpen = false;
}

void TVXMetaPlayer::LineTo(double x, double y) { PolyTo({{x, y}}); }

void TVXMetaPlayer::Rectangle(double l, double t, double r, double b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  Figure box{{Map(l, t), Map(r, t), Map(r, b), Map(l, b)}, true};
  if (FInPath || !FRaster || FDC.Pen.Null) return Emit({box}, true, true);
  Emit({box}, true, false);
  TVXMStroke s = CurStroke();
  if (s.Width < 1.5) {
    // A one-pixel outline runs on the last pixels inside, as on the platform.
    double x0 = box.Pts[0].X, y0 = box.Pts[0].Y, x1 = box.Pts[2].X, y1 = box.Pts[2].Y;
    double dx = x1 > x0 ? -1 : 1, dy = y1 > y0 ? -1 : 1;
    box.Pts = {{x0, y0}, {x1 + dx, y0}, {x1 + dx, y1 + dy}, {x0, y1 + dy}};
  }
  FRaster->Stroke(box.Pts, true, s);
}

void TVXMetaPlayer::Ellipse(double l, double t, double r, double b) {
  double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
  int n = Steps(MapLength(rx) + MapLength(ry), 16, 256);
  TVXMPolygon poly;
  for (int k = 0; k < n; ++k) {
    double a = 2 * kPi * k / n;
    poly.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
  }
  Polygons({poly});
}

void TVXMetaPlayer::RoundRect(double l, double t, double r, double b, double cw, double ch) {
  double rx = std::min(std::abs(cw) / 2, std::abs(r - l) / 2), ry = std::min(std::abs(ch) / 2, std::abs(b - t) / 2);
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  TVXMPolygon poly;
  const TVXMPoint centres[4] = {{r - rx, t + ry}, {r - rx, b - ry}, {l + rx, b - ry}, {l + rx, t + ry}};
  for (int q = 0; q < 4; ++q)
    for (int k = 0; k <= 8; ++k) {
      double a = (q - 1 + k / 8.0) * kPi / 2;
      poly.push_back({centres[q].X + rx * std::cos(a), centres[q].Y + ry * std::sin(a)});
    }
  Polygons({poly});
}

// The arc runs on the ellipse inscribed in the box from the radial through the start
// point to the radial through the end point, counter-clockwise on screen unless the
// arc direction says otherwise; equal radials make a whole ellipse.
void TVXMetaPlayer::Arc(TArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe,
                        double ye) {
  double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
  if (rx == 0 || ry == 0) return;
  double t0 = std::atan2(-(ys - cy) / ry, (xs - cx) / rx), t1 = std::atan2(-(ye - cy) / ry, (xe - cx) / rx);
  bool cw = FDC.Clockwise;
  if (!cw && t1 <= t0) t1 += 2 * kPi;
  if (cw && t1 >= t0) t1 -= 2 * kPi;
  double sweep = t1 - t0;
  int n = Steps((MapLength(rx) + MapLength(ry)) * std::abs(sweep) / (2 * kPi), 4, 256);
  TVXMPolygon pts;
  for (int k = 0; k <= n; ++k) {
    double a = t0 + sweep * k / n;
    pts.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
  }
  switch (kind) {
    case akArc: Polyline(pts); break;
    case akChord: Polygons({pts}); break;
    case akPie:
      pts.push_back({cx, cy});
      Polygons({pts});
      break;
    case akArcTo: PolyTo(pts); break;
  }
}

void TVXMetaPlayer::AngleArc(double cx, double cy, double radius, double start, double sweep) {
  double a0 = start * kPi / 180, s = std::clamp(sweep, -360.0 * 16, 360.0 * 16) * kPi / 180;
  int n = Steps(MapLength(radius) * 2 * std::abs(s) / (2 * kPi), 4, 1024);
  TVXMPolygon pts;
  for (int k = 0; k <= n; ++k) {
    double a = a0 + s * k / n;
    pts.push_back({cx + radius * std::cos(a), cy - radius * std::sin(a)});
  }
  PolyTo(pts);
}

void TVXMetaPlayer::BezierTo(TVXMPolygon& out, TVXMPoint p0, TVXMPoint p1, TVXMPoint p2, TVXMPoint p3) {
  constexpr int kSteps = 16;
  for (int i = 1; i <= kSteps; ++i) {
    double t = static_cast<double>(i) / kSteps, u = 1 - t;
    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back({a * p0.X + b * p1.X + c * p2.X + d * p3.X, a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y});
  }
}

TVXMPolygon TVXMetaPlayer::Flatten(const TVXMPolygon& pts) const {
  TVXMPolygon flat{pts[0]};
  for (size_t i = 1; i + 2 < pts.size(); i += 3) BezierTo(flat, flat.back(), pts[i], pts[i + 1], pts[i + 2]);
  return flat;
}

// ---------------------------------------------------------------------------
// Paths

void TVXMetaPlayer::BeginPath() {
  FInPath = true;
  FFigureOpen = false;
  FPath.clear();
  FPathPoints = 0;
}

void TVXMetaPlayer::EndFigure(bool close) {
  if (FInPath && FFigureOpen && !FPath.empty()) FPath.back().Closed = close;
  FFigureOpen = false;
}

void TVXMetaPlayer::FillOrStrokePath(bool fill, bool stroke) {
  FInPath = false;
  std::vector<Figure> figs = std::move(FPath);
  FPath.clear();
  FPathPoints = 0;
  Emit(std::move(figs), fill, stroke);
}

// ---------------------------------------------------------------------------
// Bitmaps

void TVXMetaPlayer::BlitDib(const TVXMBytes& bmi, const TVXMBytes& bits, double xd, double yd, double wd, double hd,
                            double xs, double ys, double ws, double hs, uint32_t rop, bool fromBottom) {
  TVXMPoint a = Map(xd, yd), b = Map(xd + wd, yd + hd);
  if (!FRaster) {
    Bound(a.X, a.Y), Bound(b.X, b.Y);
    return;
  }
  std::shared_ptr<TBitmap> src = DecodeDib(bmi, bits);
  if (!src) return;
  if (ws < 0) ws = -ws, xs -= ws, std::swap(a.X, b.X);
  if (hs < 0) hs = -hs, ys -= hs, std::swap(a.Y, b.Y);
  double top = fromBottom ? src->Height() - ys - hs : ys;
  auto i = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e9, 1e9)); };
  TRect srcRect{i(xs), i(top), i(xs + ws), i(top + hs)};
  FRaster->Blit(*src, srcRect, a.X, a.Y, b.X, b.Y, rop);
}

void TVXMetaPlayer::BlitPacked(const TVXMBytes& dib, double xd, double yd, double wd, double hd, double xs, double ys,
                               double ws, double hs, uint32_t rop, bool fromBottom) {
  TVXMBytes bmi, bits;
  if (SplitPackedDib(dib, bmi, bits)) BlitDib(bmi, bits, xd, yd, wd, hd, xs, ys, ws, hs, rop, fromBottom);
}

void TVXMetaPlayer::ClipRect(double l, double t, double r, double b, bool intersect) {
  const TRect c = MapRect(l, t, r, b);
  if (intersect)
    FDC.Clip.Intersect(c);
  else
    FDC.Clip.Exclude(c);
}

void TVXMetaPlayer::OffsetClip(double x, double y) {
  const TVXMPoint o = Map(0, 0), d = Map(x, y);
  FDC.Clip.Offset(static_cast<int>(std::lround(std::clamp(d.X - o.X, -1e8, 1e8))),
                  static_cast<int>(std::lround(std::clamp(d.Y - o.Y, -1e8, 1e8))));
}

void TVXMetaPlayer::SetPixel(double x, double y, TColor color) {
  TVXMPoint p = Map(x, y);
  if (!FRaster) return Bound(p.X, p.Y);
  // Far outside the bitmap is simply outside: no conversion of a huge coordinate.
  if (p.X < 0 || p.Y < 0 || p.X >= FDst->Width() || p.Y >= FDst->Height()) return;
  FRaster->PutPixel(static_cast<int>(p.X), static_cast<int>(p.Y), color);
}

void TVXMetaPlayer::PatBlt(double x, double y, double w, double h, uint32_t rop) {
  TVXMPoint a = Map(x, y), b = Map(x + w, y + h);
  if (!FRaster) {
    Bound(a.X, a.Y), Bound(b.X, b.Y);
    return;
  }
  FRaster->PatBlt(a.X, a.Y, b.X, b.Y, rop, CurPaint());
}

// ---------------------------------------------------------------------------
// Text

void TVXMetaPlayer::Text(double x, double y, const std::u16string& text, const std::vector<double>& dx,
                         uint32_t options, const double* rect) {
  if (FDC.TextAlign & kTaUpdateCp) x = FDC.CurX, y = FDC.CurY;
  TVXMPoint p = Map(x, y);
  if (!FRaster) {
    Bound(p.X, p.Y);
    if (rect && (options & kEtoOpaque)) {
      TVXMPoint a = Map(rect[0], rect[1]), b = Map(rect[2], rect[3]);
      Bound(a.X, a.Y), Bound(b.X, b.Y);
    }
    return;
  }
  if (rect && (options & kEtoOpaque)) {
    TVXMPoint a = Map(rect[0], rect[1]), b = Map(rect[2], rect[3]);
    FRaster->PatBlt(a.X, a.Y, b.X, b.Y, kRopPatCopy, TVXMPaint{TVXMPaint::pkSolid, FDC.BkColor, 0, false, clWhite, nullptr});
  }
  if (text.empty()) return;
  TVXTextService* service = VXTextService();
  if (!service) {
    ++FSkippedText;
    return;
  }
  const TVXMFont& font = FDC.Font;
  TVXFontSpec spec;
  spec.Face = font.Face;
  double sy = ScaleY(), sx = ScaleX();
  spec.Height = font.Height != 0 ? std::abs(font.Height) * sy : 12;
  spec.CellHeight = font.Height > 0;
  spec.Width = std::abs(font.Width) * sx;
  spec.Weight = font.Weight > 0 ? std::clamp(font.Weight, 100, 900) : 400;
  spec.Italic = font.Italic, spec.Underline = font.Underline, spec.StrikeOut = font.StrikeOut;
  spec.Angle = font.Escapement / 10;
  // Glyphs under a pixel show nothing; glyphs larger than any screen are not drawn.
  if (!(spec.Height >= 1 && spec.Height <= 4096 && spec.Width <= 4096)) return;
  std::vector<double> advances;
  for (size_t i = 0; i < dx.size() && i < text.size(); ++i) advances.push_back(std::clamp(dx[i] * sx, -1e5, 1e5));
  if (!advances.empty()) advances.resize(text.size(), advances.back());
  TVXTextImage img;
  if (!service->Render(spec, Utf8(text), advances, img)) return;

  // Where the baseline starts: the reference point moved by the alignment, along the
  // (possibly rotated) baseline and across it.
  double a = spec.Angle * kPi / 180, ex = std::cos(a), ey = -std::sin(a), nx = std::sin(a), ny = std::cos(a);
  uint32_t align = FDC.TextAlign;
  double u = (align & kTaCenter) == kTaCenter ? -img.Advance / 2 : (align & kTaRight) ? -img.Advance : 0;
  double v = (align & kTaBaseline) == kTaBaseline ? 0 : (align & kTaBottom) ? -img.Descent : img.Ascent;
  double bx = p.X + u * ex + v * nx, by = p.Y + u * ey + v * ny;

  TVXMClip saved = FDC.Clip;
  if (rect && (options & kEtoClipped)) FDC.Clip.Intersect(MapRect(rect[0], rect[1], rect[2], rect[3]));
  if (FDC.BkOpaque) {
    double w = img.Advance, up = img.Ascent, dn = img.Descent;
    TVXMPolygon cell{{bx - up * nx, by - up * ny},
                     {bx + w * ex - up * nx, by + w * ey - up * ny},
                     {bx + w * ex + dn * nx, by + w * ey + dn * ny},
                     {bx + dn * nx, by + dn * ny}};
    FRaster->FillPolygons({cell}, frAlternate, TVXMPaint{TVXMPaint::pkSolid, FDC.BkColor, 0, false, clWhite, nullptr});
  }
  FRaster->DrawText(img, bx, by, FDC.TextColor);
  FDC.Clip = std::move(saved);
  if (align & kTaUpdateCp) {
    if (sx > 0) FDC.CurX += img.Advance * ex / sx;
    if (sy > 0) FDC.CurY += img.Advance * ey / sy;
  }
}

// ---------------------------------------------------------------------------
// State

void TVXMetaPlayer::SaveDC() {
  if (FSaved.size() < kMaxSavedStates) FSaved.push_back(FDC);
}

void TVXMetaPlayer::RestoreDC(int n) {
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

void TVXMetaPlayer::SelectObject(size_t index) {
  const Object* found = nullptr;
  if (FEnhanced) {
    auto it = FHandles.find(index);
    if (it != FHandles.end()) found = &it->second;
  } else if (index < FObjects.size()) {
    found = &FObjects[index];
  }
  if (!found) return;
  switch (found->Kind) {
    case okPen: FDC.Pen = found->Pen; break;
    case okBrush: FDC.Brush = found->Brush; break;
    case okFont: FDC.Font = found->Font; break;
    default: break;
  }
}

void TVXMetaPlayer::SelectStock(uint32_t id) {
  static const TColor greys[] = {clWhite, 0xC0C0C0, 0x808080, 0x404040, clBlack};
  if (id <= 4) FDC.Brush = MakeBrush(0, greys[id], 0);
  else if (id == 5) FDC.Brush = MakeBrush(1, clWhite, 0);
  else if (id == 6) FDC.Pen = MakePen(0, 0, clWhite, false);
  else if (id == 7 || id == 19) FDC.Pen = MakePen(0, 0, clBlack, false);
  else if (id == 8) FDC.Pen = MakePen(5, 0, clBlack, false);
  else if (id >= 10 && id <= 17 && id != 15) FDC.Font = TVXMFont{};
  else if (id == 18) FDC.Brush = MakeBrush(0, clWhite, 0);
}

void TVXMetaPlayer::AddObject(const Object& obj) {
  if (!FFree.empty()) {
    FObjects[*FFree.begin()] = obj;
    FFree.erase(FFree.begin());
  } else if (FObjects.size() < kMaxObjects) {
    // The table grows as needed: headers that under-count their objects are common.
    FObjects.push_back(obj);
  }
}

void TVXMetaPlayer::SetObject(size_t index, const Object& obj) {
  if (FHandles.size() < kMaxObjects || FHandles.count(index)) FHandles[index] = obj;
}

void TVXMetaPlayer::DeleteObject(size_t index) {
  if (FEnhanced) {
    FHandles.erase(index);
  } else if (index < FObjects.size() && FObjects[index].Kind != okNone) {
    FObjects[index] = Object{};
    FFree.insert(index);
  }
}

// ---------------------------------------------------------------------------
// WMF

void TVXMetaPlayer::PlayWmf(const TVXMBytes& d, size_t first) {
  size_t off = first;
  while (d.Has(off, 6)) {
    uint32_t words = d.U32(off);
    uint16_t fn = d.U16(off + 4);
    if (words < 3 || words > (d.N - off) / 2) break;
    if (fn == 0x0000) break;  // META_EOF
    size_t len = static_cast<size_t>(words) * 2;
    WmfRecord(fn, TVXMBytes{d.P + off + 6, len - 6});
    off += len;
  }
}

void TVXMetaPlayer::WmfRecord(uint16_t fn, const TVXMBytes& r) {
  // WMF parameters are stored last first: a record's first coordinate pair is (y, x).
  auto points = [&](size_t at, size_t count) {
    TVXMPolygon pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) pts.push_back({double(r.I16(at + 4 * i)), double(r.I16(at + 4 * i + 2))});
    return pts;
  };
  auto arc = [&](TArcKind kind) {
    Arc(kind, r.I16(14), r.I16(12), r.I16(10), r.I16(8), r.I16(6), r.I16(4), r.I16(2), r.I16(0));
  };
  switch (fn) {
    case 0x0103: FDC.MapMode = r.U16(0); break;                             // SETMAPMODE
    case 0x020B: FDC.WinOrgY = r.I16(0), FDC.WinOrgX = r.I16(2); break;    // SETWINDOWORG
    case 0x020C: FDC.WinExtY = r.I16(0), FDC.WinExtX = r.I16(2); break;    // SETWINDOWEXT
    case 0x020F: FDC.WinOrgY += r.I16(0), FDC.WinOrgX += r.I16(2); break;  // OFFSETWINDOWORG
    case 0x0410: {  // SCALEWINDOWEXT: yDenom, yNum, xDenom, xNum
      int yd = r.I16(0), yn = r.I16(2), xd = r.I16(4), xn = r.I16(6);
      if (xd != 0 && yd != 0) FDC.WinExtX = FDC.WinExtX * xn / xd, FDC.WinExtY = FDC.WinExtY * yn / yd;
      break;
    }
    case 0x0201: FDC.BkColor = ColorRef(r.U32(0)); break;    // SETBKCOLOR
    case 0x0102: FDC.BkOpaque = r.U16(0) == 2; break;        // SETBKMODE
    case 0x0106: FDC.PolyFill = r.U16(0); break;             // SETPOLYFILLMODE
    case 0x0209: FDC.TextColor = ColorRef(r.U32(0)); break;  // SETTEXTCOLOR
    case 0x012E: FDC.TextAlign = r.U16(0); break;            // SETTEXTALIGN
    case 0x001E: SaveDC(); break;
    case 0x0127: RestoreDC(r.I16(0)); break;
    case 0x0214: MoveTo(r.I16(2), r.I16(0)); break;
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
      std::vector<TVXMPolygon> all;
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
    case 0x0817: arc(akArc); break;
    case 0x0830: arc(akChord); break;
    case 0x081A: arc(akPie); break;
    case 0x041F: SetPixel(r.I16(6), r.I16(4), ColorRef(r.U32(0))); break;  // SETPIXEL: colour, y, x
    case 0x0416:  // INTERSECTCLIPRECT: bottom, right, top, left
    case 0x0415:  // EXCLUDECLIPRECT
      ClipRect(r.I16(6), r.I16(4), r.I16(2), r.I16(0), fn == 0x0416);
      break;
    case 0x0220: OffsetClip(r.I16(2), r.I16(0)); break;  // OFFSETCLIPRGN: y, x
    case 0x061D:  // PATBLT: rop, height, width, y, x
      PatBlt(r.I16(10), r.I16(8), r.I16(6), r.I16(4), r.U32(0));
      break;
    case 0x0940:  // DIBBITBLT: rop, ySrc, xSrc, [reserved,] height, width, yDest, xDest[, DIB]
      if (r.N <= 18)
        PatBlt(r.I16(16), r.I16(14), r.I16(12), r.I16(10), r.U32(0));
      else
        BlitPacked(r.Sub(16, r.N - 16), r.I16(14), r.I16(12), r.I16(10), r.I16(8), r.I16(6), r.I16(4), r.I16(10),
                   r.I16(8), r.U32(0), false);
      break;
    case 0x0B41:  // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, [reserved,] destH, destW, yDest, xDest[, DIB]
      if (r.N <= 22)
        PatBlt(r.I16(20), r.I16(18), r.I16(16), r.I16(14), r.U32(0));
      else
        BlitPacked(r.Sub(20, r.N - 20), r.I16(18), r.I16(16), r.I16(14), r.I16(12), r.I16(10), r.I16(8), r.I16(6),
                   r.I16(4), r.U32(0), false);
      break;
    case 0x0F43:  // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest, DIB
      if (r.U16(4) == 0)
        BlitPacked(r.Sub(22, r.N > 22 ? r.N - 22 : 0), r.I16(20), r.I16(18), r.I16(16), r.I16(14), r.I16(12),
                   r.I16(10), r.I16(8), r.I16(6), r.U32(0), true);
      break;
    case 0x0D33:  // SETDIBTODEV: usage, scans, startScan, yDib, xDib, height, width, yDest, xDest, DIB
      if (r.U16(0) == 0)
        BlitPacked(r.Sub(18, r.N > 18 ? r.N - 18 : 0), r.I16(16), r.I16(14), r.I16(12), r.I16(10), r.I16(8),
                   r.I16(6), r.I16(12), r.I16(10), kRopSrcCopy, true);
      break;
    case 0x0521: {  // TEXTOUT: length, string (even), y, x
      size_t n = r.U16(0), padded = (n + 1) & ~size_t(1);
      if (!r.Has(2, padded + 4) || n > kMaxTextChars) break;
      Text(r.I16(4 + padded), r.I16(2 + padded), Ansi(r, 2, n), {}, 0, nullptr);
      break;
    }
    case 0x0A32: {  // EXTTEXTOUT: y, x, length, options, [rectangle,] string (even), [dx]
      size_t n = r.U16(4), padded = (n + 1) & ~size_t(1);
      uint16_t opts = r.U16(6);
      size_t at = 8;
      double rect[4];
      bool hasRect = (opts & (kEtoOpaque | kEtoClipped)) != 0 && r.Has(8, 8);
      if (hasRect) {
        rect[0] = r.I16(8), rect[1] = r.I16(10), rect[2] = r.I16(12), rect[3] = r.I16(14);
        at += 8;
      }
      if (n > kMaxTextChars || !r.Has(at, n)) break;
      std::vector<double> dx;
      if (r.Has(at + padded, 2 * n))
        for (size_t i = 0; i < n; ++i) dx.push_back(r.I16(at + padded + 2 * i));
      Text(r.I16(2), r.I16(0), Ansi(r, at, n), dx, opts, hasRect ? rect : nullptr);
      break;
    }
    case 0x02FA:  // CREATEPENINDIRECT: style, width (x, y), colour
      AddObject(Object{okPen, MakePen(r.U16(0), r.I16(2), ColorRef(r.U32(6)), false), {}, {}});
      break;
    case 0x02FC:  // CREATEBRUSHINDIRECT: style, colour, hatch
      AddObject(Object{okBrush, {}, MakeBrush(r.U16(0), ColorRef(r.U32(2)), r.U16(6)), {}});
      break;
    case 0x0142: {  // DIBCREATEPATTERNBRUSH: style, usage, DIB
      Object o{okBrush, {}, MakeBrush(1, clWhite, 0), {}};
      if (r.U16(0) != 3 && r.U16(2) == 0 && FRaster) {
        TVXMBytes bmi, bits;
        std::shared_ptr<TBitmap> bmp;
        if (SplitPackedDib(r.Sub(4, r.N > 4 ? r.N - 4 : 0), bmi, bits)) bmp = DecodeDib(bmi, bits);
        if (bmp) {
          if (bmp->PixelFormat() != pf24bit) bmp->SetPixelFormat(pf24bit);
          o.Brush.Kind = TVXMBrush::bkPattern, o.Brush.Pattern = std::move(bmp);
        }
      }
      AddObject(o);
      break;
    }
    case 0x02FB: {  // CREATEFONTINDIRECT: height, width, escapement, orientation, weight, flags, face
      Object o{okFont, {}, {}, {}};
      TVXMFont& f = o.Font;
      f.Height = r.I16(0), f.Width = r.I16(2), f.Escapement = r.I16(4), f.Weight = r.I16(8);
      f.Italic = r.U8(10) != 0, f.Underline = r.U8(11) != 0, f.StrikeOut = r.U8(12) != 0, f.Charset = r.U8(13);
      f.Face = FaceName(Ansi(r, 18, std::min<size_t>(32, r.N > 18 ? r.N - 18 : 0)));
      AddObject(o);
      break;
    }
    case 0x01F9:  // CREATEPATTERNBRUSH (device-dependent bitmap: painted hollow)
      AddObject(Object{okBrush, {}, MakeBrush(1, clWhite, 0), {}});
      break;
    case 0x00F7:  // CREATEPALETTE
    case 0x06FF:  // CREATEREGION
      AddObject(Object{okOther, {}, {}, {}});
      break;
    case 0x012D: SelectObject(r.U16(0)); break;
    case 0x01F0: DeleteObject(r.U16(0)); break;
    default: break;  // regions, palettes, escapes, device bitmaps: not played
  }
}

// ---------------------------------------------------------------------------
// EMF

void TVXMetaPlayer::PlayEmf(const TVXMBytes& d) {
  size_t off = 0;
  while (d.Has(off, 8)) {
    uint32_t type = d.U32(off), size = d.U32(off + 4);
    if (size < 8 || size % 4 != 0 || size > d.N - off) break;
    if (type == 14) break;  // EMR_EOF
    EmfRecord(type, TVXMBytes{d.P + off, size});
    off += size;
  }
}

void TVXMetaPlayer::EmfRecord(uint32_t type, const TVXMBytes& r) {
  // Points of the poly records: 32-bit POINTL or 16-bit POINTS.
  auto points = [&](size_t at, size_t count, bool small) {
    TVXMPolygon pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if (small)
        pts.push_back({double(r.I16(at + 4 * i)), double(r.I16(at + 4 * i + 2))});
      else
        pts.push_back({double(r.I32(at + 8 * i)), double(r.I32(at + 8 * i + 4))});
    }
    return pts;
  };
  // A bitmap the record carries: its header and bits at offsets from the record start.
  auto dib = [&](size_t offBmi, size_t offBits) {
    uint32_t ob = r.U32(offBmi), cb = r.U32(offBmi + 4), oBits = r.U32(offBits), cBits = r.U32(offBits + 4);
    return std::pair{r.Sub(ob, cb), r.Sub(oBits, cBits)};
  };
  switch (type) {
    case 2: case 3: case 4: case 5: case 6:          // POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO
    case 85: case 86: case 87: case 88: case 89: {  // the same with 16-bit points
      bool small = type >= 85;
      uint32_t kind = small ? type - 83 : type;
      size_t n = r.U32(24), step = small ? 4 : 8;
      if (n == 0 || n > r.N / step || !r.Has(28, n * step)) break;
      TVXMPolygon pts = points(28, n, small);
      if (kind == 5 || kind == 6) {
        if (kind == 5) {
          pts.insert(pts.begin(), TVXMPoint{FDC.CurX, FDC.CurY});
          pts = Flatten(pts);
          pts.erase(pts.begin());
        }
        PolyTo(pts);
        break;
      }
      if (kind == 2) pts = Flatten(pts);
      if (kind == 3)
        Polygons({pts});
      else
        Polyline(pts);
      break;
    }
    case 7: case 8: case 90: case 91: {  // POLYPOLYLINE, POLYPOLYGON (32/16-bit)
      bool small = type >= 90;
      size_t polys = r.U32(24), total = r.U32(28), step = small ? 4 : 8;
      if (polys == 0 || polys > r.N / 4 || total > r.N / step) break;
      size_t at = 32 + polys * 4;
      if (!r.Has(32, polys * 4) || !r.Has(at, total * step)) break;
      std::vector<TVXMPolygon> all;
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
    case 31: case 32: {  // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX: xNum, xDenom, yNum, yDenom
      double xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
      if (xd == 0 || yd == 0) break;
      double& ex = type == 31 ? FDC.VpExtX : FDC.WinExtX;
      double& ey = type == 31 ? FDC.VpExtY : FDC.WinExtY;
      ex = ex * xn / xd, ey = ey * yn / yd;
      break;
    }
    case 15: SetPixel(r.I32(8), r.I32(12), ColorRef(r.U32(16))); break;  // SETPIXELV
    case 17: FDC.MapMode = static_cast<int>(r.U32(8)); break;
    case 18: FDC.BkOpaque = r.U32(8) == 2; break;
    case 19: FDC.PolyFill = static_cast<int>(r.U32(8)); break;
    case 22: FDC.TextAlign = r.U32(8); break;
    case 24: FDC.TextColor = ColorRef(r.U32(8)); break;
    case 25: FDC.BkColor = ColorRef(r.U32(8)); break;
    case 57: FDC.Clockwise = r.U32(8) == 2; break;
    case 58: FDC.MiterLimit = std::clamp<double>(r.U32(8), 1, 100); break;
    case 27: MoveTo(r.I32(8), r.I32(12)); break;
    case 54: LineTo(r.I32(8), r.I32(12)); break;
    case 33: SaveDC(); break;
    case 34: RestoreDC(r.I32(8)); break;
    case 35:    // SETWORLDTRANSFORM
    case 36: {  // MODIFYWORLDTRANSFORM
      TVXMXform x{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
      uint32_t mode = type == 35 ? 4 : r.U32(32);
      if (mode == 1) FDC.World = TVXMXform{};
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
      SetObject(r.U32(8), Object{okPen, MakePen(r.U32(12), r.I32(16), ColorRef(r.U32(24)), false), {}, {}});
      break;
    case 95: {  // EXTCREATEPEN: ih, bitmap offsets, style, width, brush style, colour, hatch, dash entries
      uint32_t style = r.U32(28);
      bool geometric = (style & 0x00010000u) != 0;
      TVXMPen p = MakePen(style, geometric ? double(r.U32(32)) : 0, ColorRef(r.U32(40)), geometric);
      if (r.U32(36) == 1) p.Null = true;  // hollow brush: nothing is drawn
      size_t entries = r.U32(48);
      if (p.Style == 7 && entries <= 16 && r.Has(52, 4 * entries))
        for (size_t i = 0; i < entries; ++i) p.UserDash.push_back(r.U32(52 + 4 * i));
      SetObject(r.U32(8), Object{okPen, p, {}, {}});
      break;
    }
    case 39:  // CREATEBRUSHINDIRECT: ih, style, colour, hatch
      SetObject(r.U32(8), Object{okBrush, {}, MakeBrush(r.U32(12), ColorRef(r.U32(16)), r.U32(20)), {}});
      break;
    case 93: case 94: {  // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT: ih, usage, bmi, bits
      Object o{okBrush, {}, MakeBrush(1, clWhite, 0), {}};
      if (r.U32(12) == 0 && FRaster) {
        auto [bmi, bits] = dib(16, 24);
        if (auto bmp = DecodeDib(bmi, bits)) {
          if (bmp->PixelFormat() != pf24bit) bmp->SetPixelFormat(pf24bit);
          o.Brush.Kind = TVXMBrush::bkPattern, o.Brush.Pattern = std::move(bmp);
        }
      }
      SetObject(r.U32(8), o);
      break;
    }
    case 82: {  // EXTCREATEFONTINDIRECTW: ih, LOGFONTW
      Object o{okFont, {}, {}, {}};
      TVXMFont& f = o.Font;
      f.Height = r.I32(12), f.Width = r.I32(16), f.Escapement = r.I32(20), f.Weight = r.I32(28);
      f.Italic = r.U8(32) != 0, f.Underline = r.U8(33) != 0, f.StrikeOut = r.U8(34) != 0, f.Charset = r.U8(35);
      f.Face = FaceName(Wide(r, 40, 32));
      SetObject(r.U32(8), o);
      break;
    }
    case 49: SetObject(r.U32(8), Object{okOther, {}, {}, {}}); break;
    case 40: DeleteObject(r.U32(8)); break;
    case 42: Ellipse(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 43: Rectangle(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 44: RoundRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20), r.I32(24), r.I32(28)); break;
    case 45: case 46: case 47: case 55: {  // ARC, CHORD, PIE, ARCTO: box, start, end
      TArcKind kind = type == 45 ? akArc : type == 46 ? akChord : type == 47 ? akPie : akArcTo;
      Arc(kind, r.I32(8), r.I32(12), r.I32(16), r.I32(20), r.I32(24), r.I32(28), r.I32(32), r.I32(36));
      break;
    }
    case 41:  // ANGLEARC: centre, radius, start and sweep angles
      AngleArc(r.I32(8), r.I32(12), r.U32(16), r.F32(20), r.F32(24));
      break;
    case 59: BeginPath(); break;
    case 60: FInPath = false; break;
    case 61: EndFigure(true); break;
    case 62: FillOrStrokePath(true, false); break;
    case 63: FillOrStrokePath(true, true); break;
    case 64: FillOrStrokePath(false, true); break;
    case 68: FInPath = false, FPath.clear(), FPathPoints = 0; break;
    case 67: {  // SELECTCLIPPATH: the path's bounding box stands for it
      uint32_t mode = r.U32(8);
      FInPath = false;
      double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
      for (const Figure& f : FPath)
        for (const TVXMPoint& p : f.Pts) x0 = std::min(x0, p.X), y0 = std::min(y0, p.Y), x1 = std::max(x1, p.X), y1 = std::max(y1, p.Y);
      FPath.clear(), FPathPoints = 0;
      if (x0 > x1) break;
      TRect box{Edge(x0), Edge(y0), Edge(x1), Edge(y1)};
      if (mode == 5) FDC.Clip = TVXMClip{};
      if (mode == 1 || mode == 5) FDC.Clip.Intersect(box);
      else if (mode == 4) FDC.Clip.Exclude(box);
      break;
    }
    case 29: case 30:  // EXCLUDECLIPRECT, INTERSECTCLIPRECT
      ClipRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20), type == 30);
      break;
    case 26: OffsetClip(r.I32(8), r.I32(12)); break;  // OFFSETCLIPRGN (logical offset)
    case 75: {  // EXTSELECTCLIPRGN: size, mode, region of reference-device rectangles
      uint32_t size = r.U32(8), mode = r.U32(12);
      if (mode == 5 && size == 0) {
        FDC.Clip = TVXMClip{};
        break;
      }
      size_t count = r.U32(24);
      if (!r.Has(48, count * 16) || count > TVXMClip::kMaxRects) break;
      std::vector<TRect> rects;
      for (size_t k = 0; k < count; ++k) {
        size_t at = 48 + 16 * k;
        TVXMPoint a = FrameToDest(r.I32(at), r.I32(at + 4)), b = FrameToDest(r.I32(at + 8), r.I32(at + 12));
        rects.push_back(TRect{Edge(std::min(a.X, b.X)), Edge(std::min(a.Y, b.Y)), Edge(std::max(a.X, b.X)),
                              Edge(std::max(a.Y, b.Y))});
      }
      if (mode == 5 || mode == 1) {
        TVXMClip region;
        region.Everywhere = false;
        region.Rects = rects;
        if (mode == 1 && !FDC.Clip.Everywhere) {
          // Intersection of two unions of rectangles, pair by pair.
          std::vector<TRect> both;
          for (const TRect& a : FDC.Clip.Rects)
            for (const TRect& b : rects) {
              TRect c{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
              if (c.Left < c.Right && c.Top < c.Bottom && both.size() < TVXMClip::kMaxRects) both.push_back(c);
            }
          region.Rects = std::move(both);
        }
        FDC.Clip = std::move(region);
      } else if (mode == 4) {
        for (const TRect& c : rects) FDC.Clip.Exclude(c);
      } else if (mode == 2 && !FDC.Clip.Everywhere) {
        for (const TRect& c : rects)
          if (FDC.Clip.Rects.size() < TVXMClip::kMaxRects) FDC.Clip.Rects.push_back(c);
      }
      break;
    }
    case 76: case 77: {  // BITBLT, STRETCHBLT: dest box, rop, source origin, ..., source bitmap[, source size]
      double xd = r.I32(24), yd = r.I32(28), wd = r.I32(32), hd = r.I32(36);
      uint32_t rop = r.U32(40);
      if (r.U32(88) == 0) {
        PatBlt(xd, yd, wd, hd, rop);
        break;
      }
      if (r.U32(80) != 0) break;  // palette-index colours: nothing to resolve them against
      auto [bmi, bits] = dib(84, 92);
      double ws = type == 77 ? r.I32(100) : wd, hs = type == 77 ? r.I32(104) : hd;
      BlitDib(bmi, bits, xd, yd, wd, hd, r.I32(44), r.I32(48), ws, hs, rop, false);
      break;
    }
    case 81: {  // STRETCHDIBITS
      if (r.U32(64) != 0) break;
      auto [bmi, bits] = dib(48, 56);
      BlitDib(bmi, bits, r.I32(24), r.I32(28), r.I32(72), r.I32(76), r.I32(32), r.I32(36), r.I32(40), r.I32(44),
              r.U32(68), true);
      break;
    }
    case 80: {  // SETDIBITSTODEVICE
      if (r.U32(64) != 0) break;
      auto [bmi, bits] = dib(48, 56);
      BlitDib(bmi, bits, r.I32(24), r.I32(28), r.I32(40), r.I32(44), r.I32(32), r.I32(36), r.I32(40), r.I32(44),
              kRopSrcCopy, true);
      break;
    }
    case 83: case 84: {  // EXTTEXTOUTA, EXTTEXTOUTW: mode, scales, then the text record
      size_t n = r.U32(44), offString = r.U32(48), offDx = r.U32(72);
      uint32_t opts = r.U32(52);
      if (n > kMaxTextChars || !r.Has(offString, n * (type == 84 ? 2 : 1))) break;
      std::u16string s = type == 84 ? Wide(r, offString, n) : Ansi(r, offString, n);
      std::vector<double> dx;
      size_t stride = opts & kEtoPdy ? 8 : 4;
      if (offDx && r.Has(offDx, n * stride))
        for (size_t i = 0; i < n; ++i) dx.push_back(r.I32(offDx + stride * i));
      double rect[4] = {double(r.I32(56)), double(r.I32(60)), double(r.I32(64)), double(r.I32(68))};
      bool hasRect = rect[0] < rect[2] && rect[1] < rect[3];
      Text(r.I32(36), r.I32(40), s, dx, opts, hasRect ? rect : nullptr);
      break;
    }
    default: break;  // palettes, regions by handle, masked and alpha blits, comments: not played
  }
}

}  // namespace vexa
