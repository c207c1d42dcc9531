// Small helpers shared by the processing tests.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>

#include "vexa/core/bitmap.h"

namespace vexatest {

/// A 24-bit bitmap of uniformly random bytes.
inline vexa::TBitmap RandomBitmap(int w, int h, uint32_t seed) {
  vexa::TBitmap b(w, h, vexa::pf24bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int i = 0; i < 3 * w; ++i) p[i] = static_cast<uint8_t>(rng());
  }
  return b;
}

inline vexa::TBitmap Filled(int w, int h, vexa::TRGB c) {
  vexa::TBitmap b(w, h, vexa::pf24bit);
  b.Fill(c);
  return b;
}

inline vexa::TRGB Px(const vexa::TBitmap& b, int x, int y) {
  return reinterpret_cast<const vexa::TRGB*>(b.ScanLine(y))[x];
}

inline void SetPx(vexa::TBitmap& b, int x, int y, vexa::TRGB c) { reinterpret_cast<vexa::TRGB*>(b.ScanLine(y))[x] = c; }

inline vexa::TRGB Rgb(int r, int g, int b) {
  return vexa::TRGB{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r)};
}

}  // namespace vexatest
