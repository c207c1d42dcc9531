#include "vexa/proc/colorhelpers.h"

#include <cstdlib>
#include <utility>

namespace vexa {

int _GetSimilColor(const TRGB* palette, int count, TRGB c) {
  int best = 0, bestDist = 1 << 30;
  for (int i = 0; i < count; ++i) {
    const int d = std::abs(palette[i].r - c.r) + std::abs(palette[i].g - c.g) + std::abs(palette[i].b - c.b);
    if (d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

void _RGB2BGR(TRGB* colors, int count) {
  for (int i = 0; i < count; ++i) std::swap(colors[i].r, colors[i].b);
}

void _CopyBGR_RGB(TRGB* dst, const TRGB* src, int count) {
  for (int i = 0; i < count; ++i) dst[i] = TRGB{src[i].r, src[i].g, src[i].b};
}

}  // namespace vexa
