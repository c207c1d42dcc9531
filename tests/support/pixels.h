// Building test pictures and measuring how far two pictures are apart.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa::test {

/// A bitmap as 8-bit RGB, top row first; 1-bit pixels become 0 or 255 whatever the palette.
std::vector<uint8_t> BitmapRgb(const TBitmap& bmp);

/// Largest channel difference; INT_MAX when the sizes differ, so that no tolerance accepts it.
int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
int MaxDifference(const TBitmap& a, const TBitmap& b);

/// Mean absolute channel difference of two bitmaps of one size.
double MeanAbsDifference(const TBitmap& a, const TBitmap& b);

/// Same size and the same colour at every pixel, whatever the pixel formats.
bool SamePixels(const TBitmap& a, const TBitmap& b);
/// Same size, pixel format and stored pixels (padding bits aside).
bool SameImage(const TBitmap& a, const TBitmap& b);

/// The library's grey level of a colour.
inline int GreyOf(TRGB c) { return (21 * c.r + 71 * c.g + 7 * c.b) / 100; }

/// Sum of the absolute channel differences.
int ColourDistance(TRGB a, TRGB b);

inline TRGB Rgb(int r, int g, int b) {
  return TRGB{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r)};
}
inline TRGB Px(const TBitmap& b, int x, int y) { return reinterpret_cast<const TRGB*>(b.ScanLine(y))[x]; }
inline void SetPx(TBitmap& b, int x, int y, TRGB c) { reinterpret_cast<TRGB*>(b.ScanLine(y))[x] = c; }

/// A 24-bit bitmap of one colour.
TBitmap Filled(int w, int h, TRGB c);
/// A 24-bit bitmap of uniformly random bytes.
TBitmap RandomBitmap(int w, int h, uint32_t seed);

/// A picture of `count` colours in diagonal stripes (colours chosen so palette building can keep them).
TBitmap FewColours(int w, int h, int count);
/// A 1-bit pattern with no symmetry.
TBitmap MonoPattern(int w, int h);

}  // namespace vexa::test
