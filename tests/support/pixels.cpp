#include "support/pixels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

namespace vexa::test {

std::vector<uint8_t> BitmapRgb(const TBitmap& bmp) {
  std::vector<uint8_t> rgb;
  rgb.reserve(static_cast<size_t>(bmp.Width()) * bmp.Height() * 3);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      if (bmp.PixelFormat() == pf1bit) {
        const uint8_t v = _GetPixelbw(bmp.ScanLine(y), x) ? 255 : 0;
        rgb.insert(rgb.end(), {v, v, v});
      } else {
        const TRGB c = bmp.GetPixel(x, y);
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
      }
    }
  return rgb;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return INT_MAX;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

int MaxDifference(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return INT_MAX;
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const TRGB p = a.GetPixel(x, y), q = b.GetPixel(x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  return worst;
}

double MeanAbsDifference(const TBitmap& a, const TBitmap& b) {
  double total = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) total += ColourDistance(a.GetPixel(x, y), b.GetPixel(x, y));
  return total / (static_cast<double>(a.Width()) * a.Height() * 3);
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.GetPixel(x, y) == b.GetPixel(x, y))) return false;
  return true;
}

bool SameImage(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t *ra = a.ScanLine(y), *rb = b.ScanLine(y);
    if (a.PixelFormat() == pf1bit) {
      for (int x = 0; x < a.Width(); ++x)
        if (!_GetPixelbw(ra, x) != !_GetPixelbw(rb, x)) return false;
    } else {
      const size_t bytes = (static_cast<size_t>(a.Width()) * a.BitsPerPixel() + 7) / 8;
      if (std::memcmp(ra, rb, bytes) != 0) return false;
    }
  }
  return true;
}

int ColourDistance(TRGB a, TRGB b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

TBitmap Filled(int w, int h, TRGB c) {
  TBitmap b(w, h, pf24bit);
  b.Fill(c);
  return b;
}

TBitmap RandomBitmap(int w, int h, uint32_t seed) {
  TBitmap b(w, h, pf24bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int i = 0; i < 3 * w; ++i) p[i] = static_cast<uint8_t>(rng());
  }
  return b;
}

TBitmap FewColours(int w, int h, int count) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = (x / 3 + y) % count;
      b.SetPixel(x, y, CreateRGB(static_cast<uint8_t>(k * 40 % 256), static_cast<uint8_t>(k * 16), 200));
    }
  return b;
}

TBitmap MonoPattern(int w, int h) {
  TBitmap b(w, h, pf1bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) _SetPixelbw(b.ScanLine(y), x, (x * y + x) % 3 == 0);
  return b;
}

}  // namespace vexa::test
