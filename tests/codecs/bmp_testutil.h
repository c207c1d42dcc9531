// Helpers shared by the BMP, ICO and CUR tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/bmp.h"

namespace bmptest {

using namespace vexa;
using namespace vexa::test;

enum class TKind { Bmp, Ico, Cur };

inline void ReadBytes(const std::vector<uint8_t>& bytes, TReadOutcome& r, TKind kind = TKind::Bmp, bool preview = false) {
  TMemoryStream s(bytes.data(), bytes.size());
  TProgressRec pr;
  pr.Aborting = &r.Aborting;
  switch (kind) {
    case TKind::Bmp:
      BMPReadStream(s, r.Bitmap, s.Size(), preview, pr, r.Params);
      break;
    case TKind::Ico:
      ICOReadStream(s, r.Bitmap, r.Params, pr, preview);
      break;
    case TKind::Cur:
      CURReadStream(s, r.Bitmap, r.Params, pr, preview);
      break;
  }
}

/// RGB of a decoded bitmap as the file means it: 1-bit pixels through the file's palette (the
/// decoder shows bits, inverting only a white-black palette).
inline std::vector<uint8_t> PaletteRgb(const TBitmap& bmp, const std::vector<TRGB>& pal) {
  if (bmp.PixelFormat() != pf1bit) return BitmapRgb(bmp);
  const bool inverted = pal.size() == 2 && pal[0] == TRGB{255, 255, 255} && pal[1] == TRGB{0, 0, 0};
  std::vector<uint8_t> rgb;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const size_t bit = (_GetPixelbw(bmp.ScanLine(y), x) ? 1 : 0) ^ (inverted ? 1 : 0);
      EXPECT_LT(bit, pal.size()) << "bit outside the palette at " << x << "," << y;
      const TRGB c = bit < pal.size() ? pal[bit] : TRGB{};
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
  return rgb;
}

/// A deterministic pseudo-random 24-bit image.
inline TBitmap Noise(int w, int h, uint32_t seed) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w * 3; ++x) {
      seed = seed * 1664525u + 1013904223u;
      row[x] = static_cast<uint8_t>(seed >> 24);
    }
  }
  return b;
}

inline uint16_t U16At(const std::vector<uint8_t>& d, size_t p) { return static_cast<uint16_t>(d[p] | (d[p + 1] << 8)); }
inline uint32_t U32At(const std::vector<uint8_t>& d, size_t p) {
  return d[p] | (d[p + 1] << 8) | (d[p + 2] << 16) | (static_cast<uint32_t>(d[p + 3]) << 24);
}
inline void Put16(std::vector<uint8_t>& d, uint32_t v) {
  d.push_back(static_cast<uint8_t>(v));
  d.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& d, uint32_t v) {
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/// A BMP with a 40-byte header, the given palette (4-byte entries) or bit-field masks, and raw data.
inline std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, int bits, uint32_t compression, const std::vector<TRGB>& pal,
                                    const std::vector<uint8_t>& data, const std::vector<uint32_t>& masks = {},
                                    int32_t ppm = 0) {
  std::vector<uint8_t> d = {'B', 'M'};
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(masks.size() * 4 + pal.size() * 4);
  Put32(d, offset + static_cast<uint32_t>(data.size()));
  Put32(d, 0);
  Put32(d, offset);
  Put32(d, 40);
  Put32(d, static_cast<uint32_t>(w));
  Put32(d, static_cast<uint32_t>(h));
  Put16(d, 1);
  Put16(d, static_cast<uint32_t>(bits));
  Put32(d, compression);
  Put32(d, static_cast<uint32_t>(data.size()));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(pal.size()));
  Put32(d, 0);
  for (uint32_t m : masks) Put32(d, m);
  for (TRGB c : pal) {
    d.push_back(c.b);
    d.push_back(c.g);
    d.push_back(c.r);
    d.push_back(0);
  }
  d.insert(d.end(), data.begin(), data.end());
  return d;
}

}  // namespace bmptest
