// Histograms, colour counting and the two equalizations of 24-bit bitmaps.
//
// Rectangles are inclusive (X2, Y2 clamped to the bitmap, negative X1, Y1 read as
// 0). Non-24-bit bitmaps are left unchanged and count as empty. The equalizations
// report progress after each row as truncate((y - Y1 + 1) x 100 / (Y2 - Y1 + 0.5)).
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Counters of one level: how many pixels have this red, green, blue and grey value.
struct THistogramItem {
  uint32_t r = 0, g = 0, b = 0, gray = 0;
};
static_assert(sizeof(THistogramItem) == 16);

/// A histogram is 256 items indexed by level.
using THistogram = THistogramItem[256];

/// Zeroes the 256 items, then counts the rectangle's pixels.
void _GetHistogram(const TBitmap& bmp, THistogramItem* histogram, int x1, int y1, int x2, int y2);
/// Number of distinct 24-bit colours in the rectangle; 0 for non-24-bit bitmaps.
int _GetImageNumColors(const TBitmap& bmp, int x1, int y1, int x2, int y2);

/// Automatic equalization from the whole image's grey histogram, with the 3 x 3
/// neighbourhood choosing between the left and right mapping of each level.
void _HistAutoEqualize(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress = {},
                       TObject* sender = nullptr);
/// Levels stretch: per channel v := T2[T1[v]] with T1 stretching [low, 255] to the
/// full range and T2 stretching [0, high] (rounded half to even, clamped).
void _HistEqualize(TBitmap& bmp, TRGB low, TRGB high, int x1, int y1, int x2, int y2,
                   const TProgressEvent& onProgress = {}, TObject* sender = nullptr);

}  // namespace vexa
