#include "vexa/controls/gradient.h"

#include <cstdlib>

namespace vexa {

TVXGradientRamp GradientRamp(TColor beginColor, TColor endColor) {
  const TRGB b = TColor2TRGB(ColorToRGB(beginColor)), e = TColor2TRGB(ColorToRGB(endColor));
  TVXGradientRamp ramp;
  auto channel = [](int from, int to, int i) {
    const double step = std::abs(to - from) / 255.0;
    const int delta = static_cast<int>(i * step);
    return static_cast<uint8_t>(to >= from ? from + delta : from - delta);
  };
  for (int i = 0; i < 256; ++i) ramp[static_cast<size_t>(i)] = {channel(b.b, e.b, i), channel(b.g, e.g, i), channel(b.r, e.r, i)};
  return ramp;
}

// Integer arithmetic keeps the ends exact: the last pixel is step 255, not 254.999.
int GradientStepAt(int pos, int extent) {
  if (extent <= 1) return 0;
  return ilimit(255 * ilimit(pos, 0, extent - 1) / (extent - 1), 0, 255);
}

int GradientStepPos(int step, int extent) { return ilimit(step, 0, 255) * imax(extent - 1, 0) / 255; }

int GradientGripCoord(TVXGradientDir dir, int step, int width, int height) {
  if (dir == gdHorizontal) return GradientStepPos(step, width);
  // The first row painted with the step (rounding up), so the grip marks the
  // colour that picking there selects.
  const int e = imax(height - 1, 0);
  return height - 1 - imin(e, (ilimit(step, 0, 255) * e + 254) / 255);
}

int GradientPick(TVXGradientDir dir, int x, int y, int width, int height) {
  if (dir == gdHorizontal) return GradientStepAt(x, width);
  return GradientStepAt(height - 1 - ilimit(y, 0, imax(height - 1, 0)), height);
}

}  // namespace vexa
