// Pen and brush styles, in the order stored files give their ordinals, and the
// font record. They live in the core because records of the core (vector objects,
// the components' dialog fonts) carry them; the Qt canvas maps them to its own.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/bitmap.h"

namespace vexa {

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
/// bsClear means unfilled; the hatches are drawn over an opaque white background.
enum TBrushStyle : uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

struct TFont {
  std::string Name = "Sans Serif";
  int Size = 8;  ///< points
  TColor Color = clBlack;
  bool Bold = false, Italic = false, Underline = false;
  int Escapement = 0;  ///< tenths of a degree, counter-clockwise
  friend bool operator==(const TFont&, const TFont&) = default;
};

}  // namespace vexa
