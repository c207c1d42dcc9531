#include "vexa/controls/rulermath.h"

#include <cmath>
#include <cstdio>

namespace vexa {

int RulerRound(double v) { return static_cast<int>(std::nearbyint(v)); }

int RulerHeight(bool ruler, int fontHeight) {
  if (!ruler) return 0;
  return static_cast<int>(std::abs(fontHeight) * 1.7) + 3;
}

std::vector<TPoint> GripPolygon(const TGripShape& s, int b) {
  const int h = s.BaseDim / 2;
  const int E = s.CrossExtent, R = s.RulerHeight;
  const bool up = s.GripsDir == gdUp;
  const int base = up ? E : 0;
  const int tip = up ? R : E - R;
  std::vector<TPoint> p;
  switch (s.Kind) {
    case gkTriangle:
      p = {{b - h, base}, {b + h, base}, {b, tip}};
      break;
    case gkLeftTriangle:
      p = {{b - h, base}, {b, base}, {b, tip}};
      break;
    case gkRightTriangle:
      p = {{b, base}, {b + h, base}, {b, tip}};
      break;
    case gkArrow: {
      const int q = s.BaseDim / 4;
      const int m = up ? tip + (base - tip) / 3 : base + (tip - base) / 3 * 2;
      p = {{b - q, base}, {b + q, base}, {b + q, m}, {b + h, m}, {b, tip}, {b - h, m}, {b - q, m}};
      break;
    }
    case gkArrow2: {
      const int m = (base + tip) / 2;
      p = {{b - h, base}, {b + h, base}, {b + h, m}, {b, tip}, {b - h, m}};
      break;
    }
  }
  if (s.RulerDir == rdVertical)
    for (TPoint& pt : p) std::swap(pt.X, pt.Y);
  return p;
}

TRect PolygonBounds(const std::vector<TPoint>& points) {
  if (points.empty()) return {};
  TRect r{points[0].X, points[0].Y, points[0].X, points[0].Y};
  for (const TPoint& p : points) {
    r.Left = imin(r.Left, p.X);
    r.Top = imin(r.Top, p.Y);
    r.Right = imax(r.Right, p.X);
    r.Bottom = imax(r.Bottom, p.Y);
  }
  return r;
}

int ClickedGrip(const std::vector<std::vector<TPoint>>& polygons, int x, int y) {
  int found = -1;
  for (int i = static_cast<int>(polygons.size()) - 1; i >= 0; --i) {
    const TRect r = PolygonBounds(polygons[static_cast<size_t>(i)]);
    if (x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom) found = i;
  }
  return found;
}

std::vector<TRulerTick> RulerTicks(double viewPos, double dotPerUnit, double frequency, int length) {
  std::vector<TRulerTick> ticks;
  if (!(frequency > 0) || !(dotPerUnit > 0)) return ticks;
  const double count = length / dotPerUnit / frequency;
  // A tick every pixel or less is no graduation; it would also make the loop unbounded.
  if (!(count < 1e6)) return ticks;
  const int n = static_cast<int>(count);
  const double first = viewPos - (viewPos - std::trunc(viewPos / frequency) * frequency);
  for (int k = 0; k <= n + 1; ++k) {
    const double v = k * frequency + first;
    ticks.push_back({v, AxisToPixel(v, viewPos, dotPerUnit)});
  }
  return ticks;
}

std::string RulerLabel(double value, bool hex) {
  char buf[64];
  if (!hex) {
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
  }
  const double mag = std::trunc(std::fabs(value));
  // Beyond 64 bits a hexadecimal label means nothing; saturate rather than overflow.
  const unsigned long long n = mag >= 1.8e19 ? ~0ull : static_cast<unsigned long long>(mag);
  std::snprintf(buf, sizeof buf, "%s%llX", value < 0 ? "-" : "", n);
  return buf;
}

TRect RulerStripRect(TGripsDir gripsDir, TRulerDir rulerDir, int rulerHeight, int width, int height) {
  if (rulerDir == rdHorizontal) {
    if (gripsDir == gdUp) return {0, 0, width, rulerHeight + 1};
    return {0, height - rulerHeight, width, height};
  }
  if (gripsDir == gdUp) return {0, 0, rulerHeight, height};
  return {width - rulerHeight, 0, width, height};
}

TTickLine RulerTickLine(TGripsDir gripsDir, TRulerDir rulerDir, int pixel, int length, int rulerHeight, int width,
                        int height) {
  const TRect s = RulerStripRect(gripsDir, rulerDir, rulerHeight, width, height);
  if (rulerDir == rdHorizontal) {
    if (gripsDir == gdUp) return {{pixel, s.Bottom - 1}, {pixel, s.Bottom - 1 - length}};
    return {{pixel, s.Top}, {pixel, s.Top + length}};
  }
  if (gripsDir == gdUp) return {{s.Right - 1, pixel}, {s.Right - 1 - length, pixel}};
  return {{s.Left, pixel}, {s.Left + length, pixel}};
}

double ClampGripPos(double pos, double minimum, double maximum) {
  if (!(maximum > minimum)) return pos;
  if (pos < minimum) return minimum;
  if (pos > maximum) return maximum;
  return pos;
}

double ClampViewPos(double viewPos, double viewMin, double viewMax, double widthInUnit) {
  if (!(viewMin < viewMax)) return viewPos;
  if (viewPos < viewMin) return viewMin;
  if (viewMax - widthInUnit < viewPos) return viewMax - widthInUnit;
  return viewPos;
}

double FitDotPerUnit(double dotPerUnit, double viewMin, double viewMax, int width) {
  if (!(viewMax > viewMin)) return dotPerUnit;
  return width / (viewMax - viewMin);
}

}  // namespace vexa
