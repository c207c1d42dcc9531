// The HSV colour box's layout, picture and mouse mapping.
//
//   0          S-1  S   S+5        W-1
//   +-------------+-----+-----------+   value 99 at the top row,
//   | saturation  | gap | hue bar   |   0 at the bottom; saturation
//   | -> / value  |     | 359 top   |   0 at the left; hue 0 at the
//   |             |     |   0 bottom|   bottom of the bar
//   +-------------+-----+-----------+
//
// S = W - 25: the bar is 20 pixels wide with a 5-pixel gap before it. H and S,
// V follow the conventions of coloradjust.h (hue 0..359, saturation and value 0..99).
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

constexpr int kHSVBarWidth = 20, kHSVGap = 5;

/// Width of the saturation/value square in a box `width` pixels wide.
inline int HSVSquareWidth(int width) { return width - kHSVBarWidth - kHSVGap; }

/// Drag modes: none, the square, the hue bar.
enum THSVZone { hzNone, hzSquare, hzHueBar };
/// Where a press at column x starts a drag; the gap starts none.
THSVZone HSVZoneAt(int x, int squareWidth);

/// Saturation painted in column f of the square, value in row c counted from the bottom.
int HSVSquareSat(int f, int squareWidth);
int HSVSquareVal(int c, int height);
/// Hue painted in row c of the bar counted from the bottom.
int HSVBarHue(int c, int height);

/// Row (from the top) of the hue grip's centre.
int HSVHueGripY(int hue, int height);
/// The square grip's rectangle as drawn (right and bottom exclusive).
TRect HSVSquareGripRect(int sat, int val, int squareWidth, int height);
/// The hue grip's rectangle across the bar (right and bottom exclusive).
TRect HSVHueGripRect(int hue, int squareWidth, int width, int height);

/// A point of the square (top-down y) as saturation and value.
void HSVPointToSatVal(int x, int y, int squareWidth, int height, int& sat, int& val);
/// A row of the bar (top-down y) as a hue.
int HSVPointToHue(int y, int height);
/// Limits a dragged point: y to 0..height-1, x to >= 0, then to the square or the bar.
TPoint HSVClampDrag(THSVZone zone, int x, int y, int squareWidth, int width, int height);

/// Paints the square for `hue`, the gap in `background` and the hue bar into a
/// 24-bit bitmap (whose size is the box's); no grips.
void HSVPaintBox(TBitmap& bmp, int hue, TColor background);
/// Inverts the outline of r (right and bottom exclusive) inside the bitmap, as an
/// inverting pen does: drawing it twice restores the picture.
void InvertRectOutline(TBitmap& bmp, const TRect& r);

}  // namespace vexa
