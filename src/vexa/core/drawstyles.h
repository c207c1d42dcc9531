// Pen and brush styles, in the order stored files give their ordinals. They live
// in the core because records of the core (vector objects) carry them; the Qt
// canvas maps them to its own styles.
#pragma once

#include <cstdint>

namespace vexa {

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
/// bsClear means unfilled; the hatches are drawn over an opaque white background.
enum TBrushStyle : uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

}  // namespace vexa
