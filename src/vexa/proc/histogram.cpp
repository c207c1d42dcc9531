#include "vexa/proc/histogram.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "vexa/core/containers.h"
#include "vexa/proc/lut512.h"
#include "vexa/proc/procrect.h"

namespace vexa {

using procdetail::ClampRect;
using procdetail::Grey;
using procdetail::TRowProgress;

void _GetHistogram(const TBitmap& bmp, THistogramItem* histogram, int x1, int y1, int x2, int y2) {
  if (bmp.PixelFormat() != pf24bit) return;
  std::memset(static_cast<void*>(histogram), 0, 256 * sizeof(THistogramItem));
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  // Separate counters per channel keep the increments independent of each other;
  // each row band counts on its own and the counts are added up after.
  struct TCounts {
    uint32_t R[256], G[256], B[256], K[256];
  };
  const int n = x2 - x1 + 1, rows = y2 - y1 + 1;
  const std::vector<int> bands = VXRowBands(rows, int64_t(n) * rows, 8);
  std::vector<TCounts> counts(bands.size() - 1, TCounts{});
  VXParallelBands(bands, [&](int r0, int r1, bool) {
    TCounts& c = counts[size_t(std::lower_bound(bands.begin(), bands.end(), r0) - bands.begin())];
    for (int y = y1 + r0; y < y1 + r1; ++y) {
      const uint8_t* p = bmp.ScanLine(y) + 3 * x1;
      for (int i = 0; i < n; ++i, p += 3) {
        ++c.B[p[0]];
        ++c.G[p[1]];
        ++c.R[p[2]];
        ++c.K[Grey(p[2], p[1], p[0])];
      }
    }
  });
  for (int i = 0; i < 256; ++i) {
    THistogramItem& h = histogram[i];
    for (const TCounts& c : counts) h.r += c.R[i], h.g += c.G[i], h.b += c.B[i], h.gray += c.K[i];
  }
}

int _GetImageNumColors(const TBitmap& bmp, int x1, int y1, int x2, int y2) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return 0;
  const int rows = y2 - y1 + 1, cols = x2 - x1 + 1;
  const int64_t pixels = int64_t(cols) * rows;
  if (pixels < (int64_t(1) << 18) && !VXParallelWorth(pixels)) {
    THash1 colours(13);
    for (int y = y1; y <= y2; ++y) {
      const uint8_t* p = bmp.ScanLine(y) + 3 * x1;
      for (int x = x1; x <= x2; ++x, p += 3) colours.Insert(p[0] | (p[1] << 8) | (p[2] << 16));
    }
    return colours.Count();
  }
  // One bit per possible colour, shared by the row bands: a bit already set is
  // only read, so pictures of few colours hardly ever write.
  std::vector<std::atomic<uint64_t>> seen(size_t(1) << 18);
  VXParallelRows(rows, pixels, 8, [&](int r0, int r1, bool) {
    for (int y = y1 + r0; y < y1 + r1; ++y) {
      const uint8_t* p = bmp.ScanLine(y) + 3 * x1;
      for (int i = 0; i < cols; ++i, p += 3) {
        const uint32_t c = p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16);
        std::atomic<uint64_t>& word = seen[c >> 6];
        const uint64_t bit = uint64_t(1) << (c & 63);
        if (!(word.load(std::memory_order_relaxed) & bit)) word.fetch_or(bit, std::memory_order_relaxed);
      }
    }
  });
  int64_t count = 0;
  for (const std::atomic<uint64_t>& word : seen) count += std::popcount(word.load(std::memory_order_relaxed));
  return static_cast<int>(count);
}

namespace {

// dst[i] = u[i] + m[i] + d[i].
void ColumnSums(const uint8_t* u, const uint8_t* m, const uint8_t* d, uint16_t* dst, int n) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                     _mm_unpacklo_epi8(c, zero));
    const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                     _mm_unpackhi_epi8(c, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), hi);
  }
#endif
  for (; i < n; ++i) dst[i] = uint16_t(u[i] + m[i] + d[i]);
}

// Mean of each 3 x 3 neighbourhood from the column sums, whose entry i + 3 is the
// column of output byte i.
void NeighbourMeans(const uint16_t* cs, uint8_t* mean, int n) {
  int i = 0;
#if defined(__SSE2__)
  // For sums up to 9 * 255, (x * 7282) >> 16 equals x div 9.
  const __m128i k = _mm_set1_epi16(7282);
  for (; i + 16 <= n; i += 16) {
    auto sum8 = [&](int j) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + j));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + j + 3));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + j + 6));
      return _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(a, b), c), k);
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mean + i), _mm_packus_epi16(sum8(i), sum8(i + 8)));
  }
#endif
  for (; i < n; ++i) mean[i] = uint8_t(unsigned(cs[i] + cs[i + 3] + cs[i + 6]) / 9u);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) int GreyRowAvx2(const uint8_t* src, uint8_t* dst, int count) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i weights = _mm256_set1_epi32(7 | (71 << 8) | (21 << 16));
  const __m256i ones = _mm256_set1_epi16(1), k = _mm256_set1_epi32(5243);
  int j = 0;
  // Two 16-byte loads of four pixels each; the second reaches two pixels further.
  for (; j + 10 <= count; j += 8, src += 24) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12));
    const __m256i px = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), spread);
    const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(px, weights), ones);
    // For sums up to 99 * 255, (x * 5243) >> 19 equals x div 100.
    const __m256i g = _mm256_srli_epi32(_mm256_mullo_epi32(sum, k), 19);
    const __m128i g16 = _mm_packus_epi32(_mm256_castsi256_si128(g), _mm256_extracti128_si256(g, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(g16, g16));
  }
  return j;
}
#endif

// dst[j] = grey of pixel j of src.
void GreyRow(const uint8_t* src, uint8_t* dst, int count) {
  int j = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (procdetail::gFilterSimd >= 2) j = GreyRowAvx2(src, dst, count);
#endif
  for (src += 3 * j; j < count; ++j, src += 3) dst[j] = static_cast<uint8_t>(Grey(src[2], src[1], src[0]));
}

#if defined(__x86_64__) || defined(__i386__)
const bool kHasVbmi = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");

#define VEXA_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

using procdetail::LoadLut;
using procdetail::Lookup;
using procdetail::TLut512;

// One mask bit per pixel to one per byte.
VEXA_VBMI inline __mmask64 Triple(__mmask64 k, __m512i expand) {
  return _mm512_movepi8_mask(_mm512_maskz_permutexvar_epi8(~__mmask64(0), expand, _mm512_movm_epi8(k)));
}

// The table choice for sixteen pixels at a time; returns the pixels done.
VEXA_VBMI int ChooseRowVbmi(const uint8_t* left, const uint8_t* right, const uint8_t* p, const uint8_t* mean,
                            const uint8_t* pixGrey, const uint8_t* meanGrey, uint8_t* o, int cols) {
  const TLut512 l = LoadLut(left), r = LoadLut(right);
  const __mmask64 k48 = (__mmask64(1) << 48) - 1;
  alignas(64) uint8_t spread[64] = {};
  for (int i = 0; i < 48; ++i) spread[i] = static_cast<uint8_t>(i / 3);
  const __m512i expand = _mm512_load_si512(spread);
  int j = 0;
  for (; j + 16 <= cols; j += 16) {
    const __m512i g = _mm512_maskz_loadu_epi8(0xFFFF, pixGrey + j);
    const __m512i m = _mm512_maskz_loadu_epi8(0xFFFF, meanGrey + j);
    const __m512i lo = Lookup(l, g), hi = Lookup(r, g);
    const __mmask64 useLeft = _mm512_cmpeq_epu8_mask(lo, hi) | _mm512_cmplt_epu8_mask(m, lo);
    const __mmask64 useMean = ~useLeft & _mm512_cmple_epu8_mask(m, hi);
    const __mmask64 left3 = Triple(useLeft, expand), mean3 = Triple(useMean, expand);
    const __m512i px = _mm512_maskz_loadu_epi8(k48, p + 3 * j);
    const __m512i mv = _mm512_maskz_loadu_epi8(k48, mean + 3 * j);
    __m512i out = _mm512_mask_blend_epi8(mean3, Lookup(r, px), mv);
    out = _mm512_mask_blend_epi8(left3, out, Lookup(l, px));
    _mm512_mask_storeu_epi8(o + 3 * j, k48, out);
  }
  return j;
}
#endif

}  // namespace

void _HistAutoEqualize(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress,
                       TObject* sender) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return;
  const int w = bmp.Width(), h = bmp.Height();
  // Only the grey counters matter here; four copies keep neighbouring pixels of
  // equal grey from waiting on each other's increment. Each row band counts on
  // its own and the counts are added up after.
  struct TGreyCounts {
    uint32_t N[4][256];
  };
  const std::vector<int> countBands = VXRowBands(h, int64_t(w) * h, 8);
  std::vector<TGreyCounts> counts(countBands.size() - 1, TGreyCounts{});
  VXParallelBands(countBands, [&](int r0, int r1, bool) {
    auto& hist = counts[size_t(std::lower_bound(countBands.begin(), countBands.end(), r0) - countBands.begin())].N;
    std::vector<uint8_t> grey(size_t(w) + 4);
    for (int y = r0; y < r1; ++y) {
      GreyRow(bmp.ScanLine(y), grey.data(), w);
      const uint8_t* g = grey.data();
      int x = 0;
      for (; x + 4 <= w; x += 4) ++hist[0][g[x]], ++hist[1][g[x + 1]], ++hist[2][g[x + 2]], ++hist[3][g[x + 3]];
      for (; x < w; ++x) ++hist[0][g[x]];
    }
  });

  const int64_t target = int64_t(w) * h / 256;
  uint8_t left[256], right[256];
  int64_t r = 0, s = 0;
  for (int i = 0; i < 256; ++i) {
    left[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    for (const TGreyCounts& c : counts) s += int64_t(c.N[0][i]) + c.N[1][i] + c.N[2][i] + c.N[3][i];
    if (target == 0) {
      // Below 256 pixels every counted level would push r up for ever; its limit
      // after clamping is 255, so go there directly instead of hanging.
      if (s > 0) r = 256;
    } else if (s > target) {
      const int64_t steps = (s - 1) / target;  // the loop "while s > target: s -= target"
      s -= steps * target;
      r += steps;
    }
    right[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
  }

  const int cols = x2 - x1 + 1, n = cols * 3, rows = y2 - y1 + 1;
  const int xl = imax(x1 - 1, 0), xr = imin(x2 + 1, w - 1);
  // Each band writes its rows in place, a row late, as the next row still reads the
  // original. The rows just outside a band belong to its neighbours, which change
  // them meanwhile: copies of them are taken before any band starts.
  const std::vector<int> bands = VXRowBands(rows, int64_t(cols) * rows, 8);
  const size_t nb = bands.size() - 1, rowLen = size_t(bmp.RowLen());
  std::vector<uint8_t> edges(2 * nb * rowLen);
  for (size_t b = 0; b < nb; ++b) {
    std::memcpy(edges.data() + 2 * b * rowLen, bmp.ScanLine(imax(y1 + bands[b] - 1, 0)), rowLen);
    std::memcpy(edges.data() + (2 * b + 1) * rowLen, bmp.ScanLine(imin(y1 + bands[b + 1], h - 1)), rowLen);
  }
  TRowProgress progress(onProgress, sender, y1, y2, true);
  VXParallelBands(bands, [&](int r0, int r1, bool onCaller) {
    const size_t b = size_t(std::lower_bound(bands.begin(), bands.end(), r0) - bands.begin());
    const uint8_t* above = edges.data() + 2 * b * rowLen;
    const uint8_t* below = edges.data() + (2 * b + 1) * rowLen;
    // Column sums of the three rows over x1 - 1 .. x2 + 1, edge columns repeated.
    std::vector<uint16_t> colSum(size_t(n) + 6);
    std::vector<uint8_t> mean(static_cast<size_t>(n)), pixGrey(static_cast<size_t>(cols)), meanGrey(pixGrey);
    std::vector<uint8_t> out[2] = {std::vector<uint8_t>(size_t(n)), std::vector<uint8_t>(size_t(n))};
    const int yb = y1 + r0, ye = y1 + r1 - 1;
    for (int y = yb; y <= ye; ++y) {
      const uint8_t* up = y == yb ? above : bmp.ScanLine(y - 1);
      const uint8_t* mid = bmp.ScanLine(y);
      const uint8_t* down = y == ye ? below : bmp.ScanLine(y + 1);
      uint16_t* cs = colSum.data();
      for (int c = 0; c < 3; ++c) cs[c] = uint16_t(up[3 * xl + c] + mid[3 * xl + c] + down[3 * xl + c]);
      ColumnSums(up + 3 * x1, mid + 3 * x1, down + 3 * x1, cs + 3, n);
      for (int c = 0; c < 3; ++c) cs[n + 3 + c] = uint16_t(up[3 * xr + c] + mid[3 * xr + c] + down[3 * xr + c]);
      NeighbourMeans(cs, mean.data(), n);

      GreyRow(mid + 3 * x1, pixGrey.data(), cols);
      GreyRow(mean.data(), meanGrey.data(), cols);

      uint8_t* o = out[(y - yb) & 1].data();
      const uint8_t* p = mid + 3 * x1;
      const uint8_t* mn = mean.data();
      int first = 0;
#if defined(__x86_64__) || defined(__i386__)
      if (procdetail::gFilterSimd >= 2 && kHasVbmi)
        first = ChooseRowVbmi(left, right, p, mn, pixGrey.data(), meanGrey.data(), o, cols);
#endif
      for (int j = first, i = 3 * first; j < cols; ++j, i += 3) {
        const unsigned g = pixGrey[j], m = meanGrey[j];
        const unsigned lo = left[g], hi = right[g];
        // Branch-free: on photographs the choice changes from pixel to pixel.
        const bool useLeft = lo == hi || m < lo, useMean = !useLeft && m <= hi;
        const uint8_t* t = useLeft ? left : right;
        const unsigned keep = useMean ? 0xFFu : 0u;
        o[i] = uint8_t((t[p[i]] & ~keep) | (mn[i] & keep));
        o[i + 1] = uint8_t((t[p[i + 1]] & ~keep) | (mn[i + 1] & keep));
        o[i + 2] = uint8_t((t[p[i + 2]] & ~keep) | (mn[i + 2] & keep));
      }
      if (y > yb) std::memcpy(bmp.ScanLine(y - 1) + 3 * x1, out[(y - 1 - yb) & 1].data(), size_t(n));
      if (onCaller) progress.Row(y);
    }
    std::memcpy(bmp.ScanLine(ye) + 3 * x1, out[(ye - yb) & 1].data(), size_t(n));
  }, [&](int done) {
    progress.Row(y1 + done - 1);
    return true;
  });
}

void _HistEqualize(TBitmap& bmp, TRGB low, TRGB high, int x1, int y1, int x2, int y2,
                   const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit) return;
  if (high.r < 1) high.r = 1;
  if (high.g < 1) high.g = 1;
  if (high.b < 1) high.b = 1;
  if (low == high) return;
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  // nearbyint rounds half to even under the default rounding mode.
  auto build = [](uint8_t* t, int l, int hi) {
    const double d = l == 255 ? 1 : 255 - l;
    for (int m = 0; m < 256; ++m) {
      int t1 = blimit(static_cast<int>(std::nearbyint((m - l) / d * 255)));
      t[m] = static_cast<uint8_t>(t1);
    }
    uint8_t t2[256];
    for (int m = 0; m < 256; ++m) t2[m] = static_cast<uint8_t>(blimit(static_cast<int>(std::nearbyint(double(m) / hi * 255))));
    for (int m = 0; m < 256; ++m) t[m] = t2[t[m]];
  };
  uint8_t tr[256], tg[256], tb[256];
  build(tr, low.r, high.r);
  build(tg, low.g, high.g);
  build(tb, low.b, high.b);
  procdetail::ApplyTables(bmp, tb, tg, tr, x1, y1, x2, y2, onProgress, sender, true);
}

}  // namespace vexa
