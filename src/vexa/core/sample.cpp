#include "vexa/core/sample.h"

#include <cmath>

namespace vexa {

TBitmap VXMakeSampleImage(int width, int height, uint32_t seed) {
  TBitmap bmp(width, height, pf24bit);
  uint32_t state = seed ? seed : 1;
  auto noise = [&state]() {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;  // xorshift32
    return static_cast<int>(state & 15) - 8;
  };
  const double cx = width * 0.62, cy = height * 0.45, radius = 0.28 * (width < height ? width : height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    double fy = height > 1 ? double(y) / (height - 1) : 0;
    for (int x = 0; x < width; ++x) {
      double fx = width > 1 ? double(x) / (width - 1) : 0;
      // Sky-like vertical gradient over a warm horizontal one.
      int r = static_cast<int>(40 + 180 * fx * (1 - fy) + 30 * fy);
      int g = static_cast<int>(70 + 120 * (1 - fy) + 40 * std::sin(fx * 6.283));
      int b = static_cast<int>(200 * (1 - fy) + 40 * fx);
      double d = std::hypot(x - cx, y - cy);
      if (d < radius) {  // a shaded disc with a sharp rim
        double k = 1 - d / radius;
        r = static_cast<int>(220 * k + 35), g = static_cast<int>(160 * k + 20), b = static_cast<int>(40 * k + 10);
      }
      if ((x / 16 + y / 16) % 2 == 0 && y > height * 3 / 4) r /= 2, g /= 2, b /= 2;  // checker floor
      int n = noise();
      row[3 * x] = static_cast<uint8_t>(blimit(b + n));
      row[3 * x + 1] = static_cast<uint8_t>(blimit(g + n));
      row[3 * x + 2] = static_cast<uint8_t>(blimit(r + n));
    }
  }
  return bmp;
}

}  // namespace vexa
