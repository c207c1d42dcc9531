// The gradient bar's 256-step ramp and the mapping between steps and pixels.
//
// Steps run along the bar: left to right on a horizontal bar, bottom to top on a
// vertical one (step 0 on the bottom row). Picking and the grip follow the
// painted colours in both directions.
#pragma once

#include <array>

#include "vexa/core/bitmap.h"

namespace vexa {

enum TVXGradientDir { gdHorizontal, gdVertical };

using TVXGradientRamp = std::array<TRGB, 256>;

/// Step i of each channel: begin +/- trunc(i x |end - begin| / 255), moving towards
/// end, so every channel stays within 0..255 in either direction.
TVXGradientRamp GradientRamp(TColor beginColor, TColor endColor);

/// The step painted at `pos` pixels from the start of the bar (0..extent-1):
/// trunc(255 x pos / (extent - 1)); 0 for a bar one pixel long.
int GradientStepAt(int pos, int extent);
/// trunc(step x (extent - 1) / 255): where a horizontal bar centres a step's grip.
int GradientStepPos(int step, int extent);

/// Client coordinate of a step's grip: x, or on a vertical bar the top-down row of
/// the lowest row painted with that step.
int GradientGripCoord(TVXGradientDir dir, int step, int width, int height);
/// The step under a client point (clamped to the client area).
int GradientPick(TVXGradientDir dir, int x, int y, int width, int height);

}  // namespace vexa
