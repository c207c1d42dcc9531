#include "vexa/controls/hsvmath.h"

#include <cmath>

#include "vexa/proc/coloradjust.h"

namespace vexa {

namespace {
int Round(double v) { return static_cast<int>(std::nearbyint(v)); }
// The scale factors are single precision, so a row or column lands where it did
// with the historical factor.
double SingleFactor(int extent) { return static_cast<double>(100.0f / static_cast<float>(extent)); }
}  // namespace

THSVZone HSVZoneAt(int x, int squareWidth) {
  if (x < squareWidth) return hzSquare;
  if (x >= squareWidth + kHSVGap) return hzHueBar;
  return hzNone;
}

int HSVSquareSat(int f, int squareWidth) { return static_cast<int>(f * SingleFactor(squareWidth)); }
int HSVSquareVal(int c, int height) { return static_cast<int>(c * SingleFactor(height)); }
int HSVBarHue(int c, int height) { return height > 0 ? c * 360 / height : 0; }

int HSVHueGripY(int hue, int height) { return Round((height - 1) * (359 - hue) / 360.0); }

TRect HSVSquareGripRect(int sat, int val, int squareWidth, int height) {
  const int x = Round(sat / 99.0 * (squareWidth - 1));
  const int v = Round((height - 1) * val / 99.0);
  return {x - 3, height - v - 4, x + 3, height - v + 2};
}

TRect HSVHueGripRect(int hue, int squareWidth, int width, int height) {
  const int y = HSVHueGripY(hue, height);
  return {squareWidth + kHSVGap, y - 2, width, y + 2};
}

void HSVPointToSatVal(int x, int y, int squareWidth, int height, int& sat, int& val) {
  sat = squareWidth > 1 ? Round(static_cast<double>(x) / (squareWidth - 1) * 99) : 0;
  val = height > 1 ? 99 - Round(static_cast<double>(y) / (height - 1) * 99) : 99;
}

int HSVPointToHue(int y, int height) {
  return height > 1 ? 359 - Round(static_cast<double>(y) / (height - 1) * 359) : 359;
}

TPoint HSVClampDrag(THSVZone zone, int x, int y, int squareWidth, int width, int height) {
  y = ilimit(y, 0, imax(0, height - 1));
  x = imax(x, 0);
  if (zone == hzSquare) x = imin(x, imax(0, squareWidth - 1));
  if (zone == hzHueBar) x = ilimit(x, squareWidth + kHSVGap, imax(squareWidth + kHSVGap, width - 1));
  return {x, y};
}

void HSVPaintBox(TBitmap& bmp, int hue, TColor background) {
  const int W = bmp.Width(), H = bmp.Height();
  if (bmp.PixelFormat() != pf24bit || W <= 0 || H <= 0) return;
  const int S = HSVSquareWidth(W);
  const TRGB back = TColor2TRGB(ColorToRGB(background));
  std::vector<int> sats(static_cast<size_t>(imax(S, 0)));
  for (int f = 0; f < S; ++f) sats[static_cast<size_t>(f)] = HSVSquareSat(f, S);
  for (int c = 0; c < H; ++c) {
    TRGB* row = reinterpret_cast<TRGB*>(bmp.ScanLine(H - 1 - c));
    const int val = HSVSquareVal(c, H);
    for (int f = 0; f < S && f < W; ++f) HSV2RGB(row[f], hue, sats[static_cast<size_t>(f)], val);
    for (int x = imax(S, 0); x < imin(S + kHSVGap, W); ++x) row[x] = back;
    TRGB bar;
    HSV2RGB(bar, HSVBarHue(c, H), 99, 99);
    for (int x = imax(S + kHSVGap, 0); x < W; ++x) row[x] = bar;
  }
}

void InvertRectOutline(TBitmap& bmp, const TRect& r) {
  if (bmp.PixelFormat() != pf24bit || r.Right <= r.Left || r.Bottom <= r.Top) return;
  auto invert = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height()) return;
    TRGB& p = reinterpret_cast<TRGB*>(bmp.ScanLine(y))[x];
    p = {static_cast<uint8_t>(~p.b), static_cast<uint8_t>(~p.g), static_cast<uint8_t>(~p.r)};
  };
  const int x2 = r.Right - 1, y2 = r.Bottom - 1;
  for (int x = r.Left; x <= x2; ++x) {
    invert(x, r.Top);
    if (y2 != r.Top) invert(x, y2);
  }
  for (int y = r.Top + 1; y < y2; ++y) {
    invert(r.Left, y);
    if (x2 != r.Left) invert(x2, y);
  }
}

}  // namespace vexa
