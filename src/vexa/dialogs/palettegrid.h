// The palette dialog's grid: 32 cells of 16 x 16 pixels per row, entry i in row
// i div 32, column i mod 32. A cell's rectangle leaves the first row and column
// of its 16 x 16 square free, so neighbouring outlines never touch.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

constexpr int kPaletteCellsPerRow = 32, kPaletteCellSize = 16;

/// Rectangle of entry i (right and bottom exclusive).
TRect PaletteCellRect(int index);
/// The entry under (x, y) among `count` entries, or -1 when the point lies outside
/// the grid or past the last entry.
int PaletteIndexAt(int x, int y, int count);

}  // namespace vexa
