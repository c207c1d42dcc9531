#include "vexa/codecs/codec_depth.h"

#include <cstring>

namespace vexa {

namespace {

// Ordered-dither thresholds, first index x mod 8, second y mod 8.
constexpr uint8_t kDither[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

int Grey(TRGB c) { return (21 * c.r + 71 * c.g + 7 * c.b) / 100; }
int RoundedGrey(TRGB c) { return (21 * c.r + 71 * c.g + 7 * c.b + 50) / 100; }

// Two-colour detection: true with dst filled when src holds exactly two colours.
bool TwoColours(const TBitmap& src, TBitmap& dst, TRGB& c0, TRGB& c1) {
  const int w = src.Width(), h = src.Height();
  TBitmap out(w, h, pf1bit);
  int seen = 0;
  for (int y = 0; y < h; ++y) {
    const TRGB* s = reinterpret_cast<const TRGB*>(src.ScanLine(y));
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const TRGB p = s[x];
      if (seen == 0) {
        c0 = p;
        seen = 1;
      } else if (!(p == c0)) {
        if (seen == 1) {
          c1 = p;
          seen = 2;
        } else if (!(p == c1)) {
          return false;
        }
        d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
    }
  }
  if (seen != 2) return false;
  if (RoundedGrey(c1) < RoundedGrey(c0)) {
    std::swap(c0, c1);
    const int full = w / 8, rest = w % 8;
    const uint8_t lastMask = static_cast<uint8_t>(0xFF00 >> rest);
    for (int y = 0; y < h; ++y) {
      uint8_t* d = out.ScanLine(y);
      for (int i = 0; i < full; ++i) d[i] = static_cast<uint8_t>(~d[i]);
      if (rest) d[full] = static_cast<uint8_t>(~d[full] & lastMask);
    }
  }
  dst = std::move(out);
  return true;
}

void OrderedDither(const TBitmap& src, TBitmap& dst) {
  const int w = src.Width(), h = src.Height();
  TBitmap out(w, h, pf1bit);
  for (int y = 0; y < h; ++y) {
    const TRGB* s = reinterpret_cast<const TRGB*>(src.ScanLine(y));
    uint8_t* d = out.ScanLine(y);
    const int ym = y & 7;
    for (int x = 0; x < w; ++x)
      if (Grey(s[x]) / 4 > kDither[x & 7][ym]) d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  dst = std::move(out);
}

}  // namespace

bool VXPrepareOneBit(const TBitmap& src, TBitmap& dst, TRGB& c0, TRGB& c1) {
  if (src.PixelFormat() == pf1bit) {
    dst = src;
    c0 = TRGB{0, 0, 0};
    c1 = TRGB{255, 255, 255};
    return true;
  }
  if (src.PixelFormat() != pf24bit) return false;
  if (TwoColours(src, dst, c0, c1)) return true;
  OrderedDither(src, dst);
  c0 = TRGB{0, 0, 0};
  c1 = TRGB{255, 255, 255};
  return true;
}

void VXExpandOneBit(const TBitmap& src, TBitmap& dst) {
  const int w = src.Width(), h = src.Height();
  TBitmap out(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const uint8_t v = (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      std::memset(d + 3 * x, v, 3);
    }
  }
  dst = std::move(out);
}

}  // namespace vexa
