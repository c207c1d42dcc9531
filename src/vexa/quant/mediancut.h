// Median-cut quantizer: at most 256 colours chosen on a 5-bit-per-channel
// histogram, boxes split by variance. The handle owns a fixed amount of memory
// (histogram, 256 boxes, index map) whatever the image size.
//
// Colour cells are indexed (R >> 3) << 10 | (G >> 3) << 5 | (B >> 3), so colours
// that differ only in their low three bits per channel always share an index.
#pragma once

#include <cstdint>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

struct TMedianCutQuantizer;

/// Builds the palette of a pf24bit bitmap (other formats are quantized from a
/// 24-bit copy). Writes one entry per produced colour into colorMap from entry 0,
/// growing it when it is shorter; entries beyond the produced colours are left
/// alone. NCol is limited to 1..256. The bitmap is only read during the call.
TMedianCutQuantizer* CreateMedianCutQuantizer(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol);
/// Palette index of any colour: the index map entry of its cell (0 when no box
/// holds the cell).
int MedianCutFindIndex(const TMedianCutQuantizer* q, TRGB c);
/// Number of palette entries written at creation.
int MedianCutColorCount(const TMedianCutQuantizer* q);
/// Releases everything the handle owns; null is accepted.
void FreeMedianCutQuantizer(TMedianCutQuantizer* q);

}  // namespace vexa
