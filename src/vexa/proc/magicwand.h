// The magic wand: the outline of the colour region around a clicked pixel.
#pragma once

#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Flood-fills from (x, y) over the pixels whose largest channel difference to the
/// seed colour is at most `tolerance` (4-connected), grows the region by one pixel
/// when `maximum` is set, and traces its outer border into a closed polygon in
/// bitmap coordinates (corners of pixels, so a lone pixel at (x, y) gives a loop
/// through (x, y) and (x + 1, y + 1)). Only the loop reached from the top-left of
/// the border is traced; holes are not. Empty, with count 0, when the bitmap is
/// not 24-bit, (x, y) lies outside it, or the tracing grid (16 cells per pixel of
/// the region's box) would exceed the bitmap size limit.
std::vector<TPoint> _MakeMagicWandPoints(const TBitmap& bmp, int x, int y, bool maximum, int tolerance, int& count);

}  // namespace vexa
