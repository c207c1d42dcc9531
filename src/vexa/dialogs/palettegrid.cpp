#include "vexa/dialogs/palettegrid.h"

namespace vexa {

TRect PaletteCellRect(int index) {
  const int col = index % kPaletteCellsPerRow, row = index / kPaletteCellsPerRow;
  return {col * kPaletteCellSize + 1, row * kPaletteCellSize + 1, col * kPaletteCellSize + 16,
          row * kPaletteCellSize + 16};
}

int PaletteIndexAt(int x, int y, int count) {
  // Points left of, above or right of the 32 columns would otherwise wrap into a
  // neighbouring row's cells.
  if (x < 1 || y < 1) return -1;
  const int col = (x - 1) / kPaletteCellSize, row = (y - 1) / kPaletteCellSize;
  if (col >= kPaletteCellsPerRow) return -1;
  const int index = row * kPaletteCellsPerRow + col;
  return index < count ? index : -1;
}

}  // namespace vexa
