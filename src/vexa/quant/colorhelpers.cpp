#include "vexa/quant/colorhelpers.h"

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

void _GetMediaContrastRGB(const TBitmap& bmp, int& red, int& green, int& blue) {
  red = green = blue = 0;
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return;
  const int64_t div = int64_t(bmp.Width() - 1) * (bmp.Height() - 1);
  if (div == 0) {
    red = green = blue = 128;
    return;
  }
  int64_t sr = 0, sg = 0, sb = 0;
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* p = bmp.ScanLine(y);
    uint64_t rb = 0, rg = 0, rr = 0;
    for (int x = 0; x < bmp.Width(); ++x, p += 3) {
      rb += p[0];
      rg += p[1];
      rr += p[2];
    }
    sb += rb, sg += rg, sr += rr;
  }
  red = static_cast<int>(sr / div);
  green = static_cast<int>(sg / div);
  blue = static_cast<int>(sb / div);
}

}  // namespace vexa
