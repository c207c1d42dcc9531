// Small colour helpers shared by the codecs and the pixel algorithms. Palettes
// are arrays of TRGB (blue, green, red in memory). The numeric helpers used beside
// these (imin, imax, ilimit, blimit, dmin, dmax, iswap, bswap, OrdCor) and
// CreateRGB / EqualRGB / the TColor conversions live in core/bitmap.h.
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Grey level (21 R + 71 G + 7 B) div 100: the weights sum to 99, so white is 252.
inline int _RGBToGray(TRGB c) { return (21 * c.r + 71 * c.g + 7 * c.b) / 100; }

/// Index of the first palette entry with the smallest |dR| + |dG| + |dB|;
/// 0 for an empty palette (count <= 0).
int _GetSimilColor(const TRGB* palette, int count, TRGB c);

/// Swaps red and blue in place in count entries.
void _RGB2BGR(TRGB* colors, int count);

/// Copies count triples from src to dst swapping red and blue (the two may not overlap).
void _CopyBGR_RGB(TRGB* dst, const TRGB* src, int count);

/// Per-channel reference levels: the channel's sum over the whole bitmap divided
/// by (width - 1) x (height - 1), truncated (levels may exceed 255). 128 each when
/// that divisor is 0; 0 each for a non-24-bit bitmap.
void _GetMediaContrastRGB(const TBitmap& bmp, int& red, int& green, int& blue);

}  // namespace vexa
