#include "vexa/quant/colorhelpers.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

#include "vexa/core/parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexa {

namespace {

// Adds the bytes of the n pixels at p to b, g and r, per channel.
void AddChannelSums(const uint8_t* p, int n, uint64_t& b, uint64_t& g, uint64_t& r) {
  int x = 0;
#if defined(__SSE2__)
  // Sixteen pixels are three registers; in each, a mask keeps one channel's bytes
  // and a sum of absolute differences against zero adds them up. Red is the rest.
  alignas(16) uint8_t maskB[48], maskG[48];
  for (int i = 0; i < 48; ++i) maskB[i] = i % 3 == 0 ? 0xFF : 0, maskG[i] = i % 3 == 1 ? 0xFF : 0;
  const __m128i zero = _mm_setzero_si128();
  __m128i sb = zero, sg = zero, st = zero;
  for (; x + 16 <= n; x += 16, p += 48) {
    for (int j = 0; j < 3; ++j) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
      const __m128i mb = _mm_load_si128(reinterpret_cast<const __m128i*>(maskB + 16 * j));
      const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(maskG + 16 * j));
      st = _mm_add_epi64(st, _mm_sad_epu8(v, zero));
      sb = _mm_add_epi64(sb, _mm_sad_epu8(_mm_and_si128(v, mb), zero));
      sg = _mm_add_epi64(sg, _mm_sad_epu8(_mm_and_si128(v, mg), zero));
    }
  }
  alignas(16) uint64_t t[2], vb[2], vg[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(t), st);
  _mm_store_si128(reinterpret_cast<__m128i*>(vb), sb);
  _mm_store_si128(reinterpret_cast<__m128i*>(vg), sg);
  b += vb[0] + vb[1], g += vg[0] + vg[1], r += t[0] + t[1] - vb[0] - vb[1] - vg[0] - vg[1];
#endif
  uint64_t rb = 0, rg = 0, rr = 0;
  for (; x < n; ++x, p += 3) rb += p[0], rg += p[1], rr += p[2];
  b += rb, g += rg, r += rr;
}

}  // namespace

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
  // Sums per row band, added up after: whole numbers, so the order does not matter.
  const int h = bmp.Height();
  const std::vector<int> bands = VXRowBands(h, int64_t(bmp.Width()) * h, 8);
  std::vector<std::array<uint64_t, 3>> sums(bands.size() - 1, std::array<uint64_t, 3>{});
  VXParallelBands(bands, [&](int y0, int y1, bool) {
    std::array<uint64_t, 3>& s = sums[size_t(std::lower_bound(bands.begin(), bands.end(), y0) - bands.begin())];
    for (int y = y0; y < y1; ++y) AddChannelSums(bmp.ScanLine(y), bmp.Width(), s[0], s[1], s[2]);
  });
  uint64_t sr = 0, sg = 0, sb = 0;
  for (const auto& s : sums) sb += s[0], sg += s[1], sr += s[2];
  red = static_cast<int>(int64_t(sr) / div);
  green = static_cast<int>(int64_t(sg) / div);
  blue = static_cast<int>(int64_t(sb) / div);
}

}  // namespace vexa
