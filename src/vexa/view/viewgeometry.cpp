#include "vexa/view/viewgeometry.h"

#include <cmath>

namespace vexa {

int VXRound(long double v) {
  // nearbyint follows the current rounding mode, which is to-nearest-even by default.
  return static_cast<int>(std::nearbyintl(v));
}

namespace {
constexpr int kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};

long double Scaled(int v, int zoom) { return static_cast<long double>(v) * zoom / 100; }
long double Unscaled(int v, int zoom) { return static_cast<long double>(v) * 100 / zoom; }
}  // namespace

int VXZoomStepIn(int zoom) {
  if (zoom >= 100) return zoom + 100;
  for (int s : kZoomSteps)
    if (s > zoom) return s;
  return 100;
}

int VXZoomStepOut(int zoom) {
  if (zoom >= 200) return zoom - 100;
  int r = 2;
  for (int s : kZoomSteps)
    if (s < zoom) r = s;
  return r;
}

int VXFitZoom(int areaW, int areaH, int bmpW, int bmpH) {
  if (bmpW <= 0 || bmpH <= 0) return 0;
  const long double zx = std::trunc(areaW / (static_cast<long double>(bmpW) / 100));
  const long double zy = std::trunc(areaH / (static_cast<long double>(bmpH) / 100));
  const long double z = zx < zy ? zx : zy;
  return z < 1 ? 0 : static_cast<int>(z);
}

int TVXViewGeometry::XBmp2Scr(int x) const { return VXRound(Scaled(x, Zoom) + (OffX - ViewX)); }
int TVXViewGeometry::YBmp2Scr(int y) const { return VXRound(Scaled(y, Zoom) + (OffY - ViewY)); }
int TVXViewGeometry::XScr2Bmp(int x) const { return VXRound(Unscaled(x + ViewX - OffX, Zoom)); }
int TVXViewGeometry::YScr2Bmp(int y) const { return VXRound(Unscaled(y + ViewY - OffY, Zoom)); }

void TVXViewGeometry::GetMaxViewXY(int& maxX, int& maxY) const {
  const int zw = VXRound(Scaled(BmpW, Zoom)), zh = VXRound(Scaled(BmpH, Zoom));
  maxX = maxY = 0;
  if (zw <= 0 || zh <= 0) return;
  // An image that would fit without scroll bars never scrolls, even when the bars
  // currently shown make the client area smaller than the image.
  if (OuterW >= zw && OuterH >= zh) return;
  maxX = imax(0, zw - ClientW);
  maxY = imax(0, zh - ClientH);
}

bool TVXViewGeometry::ClampView() {
  int mx, my;
  GetMaxViewXY(mx, my);
  const int nx = ilimit(ViewX, 0, mx), ny = ilimit(ViewY, 0, my);
  const bool changed = nx != ViewX || ny != ViewY;
  ViewX = nx;
  ViewY = ny;
  return changed;
}

void TVXViewGeometry::Layout() {
  ZW = VXRound(Scaled(BmpW, Zoom));
  ZH = VXRound(Scaled(BmpH, Zoom));
  OffX = OffY = 0;
  DrawW = imax(0, imin(ZW, ClientW));
  DrawH = imax(0, imin(ZH, ClientH));
  if (Center) {
    if (DrawW < ClientW) OffX = (ClientW - DrawW) / 2;
    if (DrawH < ClientH) OffY = (ClientH - DrawH) / 2;
  }
}

namespace {
// One axis of the source rectangle; `shorten` is the painting variant.
void SourceAxis(int bmp, int zoomed, int view, int draw, bool shorten, int& pos, int& len) {
  pos = len = 0;
  if (zoomed == 0) return;
  const long double ratio = static_cast<long double>(bmp) / zoomed;
  pos = VXRound(view * ratio);
  len = VXRound(draw * ratio);
  if (shorten && pos + len > bmp) --len;
  // Rounding can still reach past the edge on tiny or huge zooms; never read outside.
  pos = ilimit(pos, 0, imax(0, bmp - 1));
  len = ilimit(len, 0, bmp - pos);
}
}  // namespace

TVXSourceRect TVXViewGeometry::PaintSource() const {
  TVXSourceRect r;
  SourceAxis(BmpW, ZW, ViewX, DrawW, true, r.X, r.W);
  SourceAxis(BmpH, ZH, ViewY, DrawH, true, r.Y, r.H);
  return r;
}

TVXSourceRect TVXViewGeometry::DrawSource() const {
  TVXSourceRect r;
  SourceAxis(BmpW, ZW, ViewX, DrawW, false, r.X, r.W);
  SourceAxis(BmpH, ZH, ViewY, DrawH, false, r.Y, r.H);
  return r;
}

void TVXViewGeometry::ClampToDrawRect(int& x, int& y) const {
  x = imax(OffX, imin(x, OffX + DrawW - 1));
  y = imax(OffY, imin(y, OffY + DrawH - 1));
}

void TVXViewGeometry::ClampToBitmap(int& x, int& y) const {
  x = imax(0, imin(x, BmpW - 1));
  y = imax(0, imin(y, BmpH - 1));
}

TPoint TVXViewGeometry::ViewAround(int x, int y, int zoom) const {
  // Work in unrounded bitmap units so that repeated steps do not drift.
  const long double bx = static_cast<long double>(x + ViewX - OffX) * 100 / Zoom;
  const long double by = static_cast<long double>(y + ViewY - OffY) * 100 / Zoom;
  return {VXRound(bx * zoom / 100 - x), VXRound(by * zoom / 100 - y)};
}

}  // namespace vexa
