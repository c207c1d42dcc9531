// 3 x 3 integer convolution of 24-bit bitmaps, the built-in kernels, and the
// 43-byte filter file.
//
// Kernel layout (row by row, as seen on the picture):
//
//     [0] [1] [2]     row above
//     [3] [4] [5]     the pixel's row      [4] weighs the pixel itself
//     [6] [7] [8]     row below
//
// Each channel's weighted sum (32-bit) is divided by Divisor truncating toward
// zero (Divisor 0 acts as 1) and clamped to 0..255. Neighbours beyond the image
// edge repeat the edge pixel. Every read sees the unfiltered image.
//
// Filter file, little-endian: bytes 1, 3, 3, then the nine values and the divisor
// as 32-bit signed integers (43 bytes in all).
#pragma once

#include <cstdint>
#include "vexa/core/errors.h"
#include <string>

#include "vexa/core/bitmap.h"

namespace vexa {

struct TGraphFilter {
  int32_t Values[9] = {};
  int32_t Divisor = 0;
  friend bool operator==(const TGraphFilter&, const TGraphFilter&) = default;
};
static_assert(sizeof(TGraphFilter) == 40);

enum TVXFilterPresets {
  fpNone,
  fpBlur,
  fpEdge,
  fpEmboss,
  fpHighPass1,
  fpHighPass2,
  fpHighPass3,
  LowPass1,
  LowPass2
};

/// The built-in kernels in TVXFilterPresets order.
extern const TGraphFilter VXFiltPres[9];

/// Part of the interface for callers that validate kernels; nothing here throws it.
class EFilterInvalid : public EVXError {
 public:
  using EVXError::EVXError;
};

/// Convolves the inclusive rectangle in place (X2, Y2 clamped; negative X1, Y1
/// read as 0). Progress after each row: truncate((y - Y1 + 1) x 100 / (Y2 - Y1 + 0.5)).
void _ApplyFilter(TBitmap& bmp, const TGraphFilter& filter, int x1, int y1, int x2, int y2,
                  TProgressRec& progress = nullpr);

/// Reads a filter file. A file whose first three bytes are not 1, 3, 3 leaves
/// `filter` as it was and returns false; a short record fills what it can and
/// returns false. Open errors throw (EFOpenError).
bool LoadFilterFromFile(const std::string& fileName, TGraphFilter& filter);
/// As above, returning a record that is all zero when nothing could be read.
TGraphFilter LoadFilterFromFile(const std::string& fileName);
/// Creates or overwrites the file; errors throw.
void SaveFilterToFile(const std::string& fileName, const TGraphFilter& filter);

}  // namespace vexa
