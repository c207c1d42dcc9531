#include "vexa/proc/filters.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "vexa/core/parallel.h"
#include "vexa/core/streams.h"
#include "vexa/proc/procrect.h"

namespace vexa {

#if defined(__x86_64__) || defined(__i386__)
int procdetail::gFilterSimd = __builtin_cpu_supports("avx2") ? 2 : 1;
#else
int procdetail::gFilterSimd = 0;
#endif

using procdetail::ClampRect;

const TGraphFilter VXFiltPres[9] = {
    {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 0},        // fpNone
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9},        // fpBlur
    {{1, 1, 1, 1, -8, 1, 1, 1, 1}, 1},       // fpEdge
    {{-1, 0, 1, -1, 1, 1, -1, 0, 1}, 1},     // fpEmboss
    {{0, -1, 0, -1, 5, -1, 0, -1, 0}, 1},    // fpHighPass1
    {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1},// fpHighPass2
    {{1, -2, 1, -2, 5, -2, 1, -2, 1}, 1},    // fpHighPass3
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 10},       // LowPass1
    {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16},       // LowPass2
};

namespace {

// Bytes to floats, one row. x86 gets SSE2 always and AVX2 when the CPU has it.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void WidenAvx2(const uint8_t* src, float* dst, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8)
    _mm256_storeu_ps(dst + i, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i)))));
  for (; i < n; ++i) dst[i] = src[i];
}
void WidenSse2(const uint8_t* src, float* dst, int n) {
  const __m128i zero = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i b16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i)), zero);
    _mm_storeu_ps(dst + i, _mm_cvtepi32_ps(_mm_unpacklo_epi16(b16, zero)));
    _mm_storeu_ps(dst + i + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(b16, zero)));
  }
  for (; i < n; ++i) dst[i] = src[i];
}
void Widen(const uint8_t* src, float* dst, int n) {
  if (procdetail::gFilterSimd >= 2)
    WidenAvx2(src, dst, n);
  else
    WidenSse2(src, dst, n);
}
#else
void Widen(const uint8_t* src, float* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
}
#endif
void Widen(const uint8_t* src, int32_t* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
}

// Source rows widened to one element per channel byte, covering the columns
// x1 - 1 .. x2 + 1 with the image edge repeated. Three rows are kept so that each
// row is converted once and the in-place write of row y cannot be seen by row y + 1.
template <typename T>
class TRowCache {
 public:
  TRowCache(const TBitmap& bmp, int x1, int x2) : FBmp(bmp), FX1(x1), FN(x2 - x1 + 1) {
    for (auto& s : FSlots) s.Data.resize(size_t(3) * (FN + 2) + 4);
  }
  /// Rows another band may already have overwritten: read from these copies instead.
  void UseSaved(const std::vector<std::pair<int, std::vector<uint8_t>>>* saved) { FSaved = saved; }
  const T* Row(int y) {
    for (auto& s : FSlots)
      if (s.Row == y) return s.Data.data();
    Slot& s = FSlots[FNext];
    FNext = (FNext + 1) % 3;
    s.Row = y;
    const uint8_t* src = FBmp.ScanLine(y);
    if (FSaved)
      for (const auto& [row, bytes] : *FSaved)
        if (row == y) src = bytes.data();
    const int w = FBmp.Width();
    T* d = s.Data.data();
    Widen(src + 3 * FX1, d + 3, 3 * FN);
    for (int j : {0, FN + 1}) {
      const int x = ilimit(FX1 - 1 + j, 0, w - 1);
      d[3 * j] = src[3 * x];
      d[3 * j + 1] = src[3 * x + 1];
      d[3 * j + 2] = src[3 * x + 2];
    }
    return d;
  }

 private:
  struct Slot {
    int Row = -1;
    std::vector<T> Data;
  };
  const TBitmap& FBmp;
  int FX1, FN;
  const std::vector<std::pair<int, std::vector<uint8_t>>>* FSaved = nullptr;
  Slot FSlots[3];
  int FNext = 0;
};

// With every partial sum below 2^24 in magnitude, float holds the sums exactly and
// a correctly rounded float quotient truncates to the same integer as exact
// division (a non-whole quotient is at least 1/|divisor| from the next integer).
// Zero weights are skipped, so sparse kernels cost less. The saturating packs
// 32 -> 16 -> 8 bits clamp to 0..255.
void FilterRowScalar(const float* const* taps, const float* k, int nTaps, uint8_t* out, int from, int bytes,
                     float divisor) {
  for (int i = from; i < bytes; ++i) {
    float s = 0;
    for (int t = 0; t < nTaps; ++t) s += k[t] * taps[t][i];
    out[i] = static_cast<uint8_t>(blimit(static_cast<int>(s / divisor)));
  }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void FilterRowAvx2(const float* const* taps, const float* k, int nTaps,
                                                    uint8_t* out, int bytes, float divisor) {
  __m256 kv[9];
  for (int t = 0; t < nTaps; ++t) kv[t] = _mm256_set1_ps(k[t]);
  const __m256 dv = _mm256_set1_ps(divisor);
  const bool divide = divisor != 1.0f;
  int i = 0;
  for (; i + 8 <= bytes; i += 8) {
    // Separate multiply and add: every value is exact, so fusing would change nothing.
    __m256 s = _mm256_setzero_ps();
    for (int t = 0; t < nTaps; ++t) s = _mm256_add_ps(s, _mm256_mul_ps(kv[t], _mm256_loadu_ps(taps[t] + i)));
    if (divide) s = _mm256_div_ps(s, dv);
    const __m256i q = _mm256_cvttps_epi32(s);
    const __m128i w = _mm_packs_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(w, w));
  }
  FilterRowScalar(taps, k, nTaps, out, i, bytes, divisor);
}

void FilterRowSse2(const float* const* taps, const float* k, int nTaps, uint8_t* out, int bytes, float divisor) {
  __m128 kv[9];
  for (int t = 0; t < nTaps; ++t) kv[t] = _mm_set1_ps(k[t]);
  const __m128 dv = _mm_set1_ps(divisor);
  const bool divide = divisor != 1.0f;
  int i = 0;
  for (; i + 4 <= bytes; i += 4) {
    __m128 s = _mm_setzero_ps();
    for (int t = 0; t < nTaps; ++t) s = _mm_add_ps(s, _mm_mul_ps(kv[t], _mm_loadu_ps(taps[t] + i)));
    if (divide) s = _mm_div_ps(s, dv);
    const __m128i q = _mm_cvttps_epi32(s);
    const __m128i w = _mm_packs_epi32(q, q);
    const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
    std::memcpy(out + i, &packed, 4);
  }
  FilterRowScalar(taps, k, nTaps, out, i, bytes, divisor);
}

void FilterRowFloat(const float* const* taps, const float* k, int nTaps, uint8_t* out, int bytes, float divisor) {
  if (procdetail::gFilterSimd >= 2)
    FilterRowAvx2(taps, k, nTaps, out, bytes, divisor);
  else if (procdetail::gFilterSimd == 1)
    FilterRowSse2(taps, k, nTaps, out, bytes, divisor);
  else
    FilterRowScalar(taps, k, nTaps, out, 0, bytes, divisor);
}
#else
void FilterRowFloat(const float* const* taps, const float* k, int nTaps, uint8_t* out, int bytes, float divisor) {
  FilterRowScalar(taps, k, nTaps, out, 0, bytes, divisor);
}
#endif

// Any kernel: the sums wrap at 32 bits as the kernel tables hold them.
void FilterRowExact(const int32_t* u, const int32_t* m, const int32_t* d, uint8_t* out, int bytes,
                    const int32_t* k, int32_t divisor) {
  for (int i = 0; i < bytes; ++i) {
    uint32_t s = uint32_t(k[0]) * uint32_t(u[i]) + uint32_t(k[1]) * uint32_t(u[i + 3]) +
                 uint32_t(k[2]) * uint32_t(u[i + 6]) + uint32_t(k[3]) * uint32_t(m[i]) +
                 uint32_t(k[4]) * uint32_t(m[i + 3]) + uint32_t(k[5]) * uint32_t(m[i + 6]) +
                 uint32_t(k[6]) * uint32_t(d[i]) + uint32_t(k[7]) * uint32_t(d[i + 3]) +
                 uint32_t(k[8]) * uint32_t(d[i + 6]);
    const int64_t q = int64_t(static_cast<int32_t>(s)) / divisor;
    out[i] = static_cast<uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
  }
}

// In place, in row bands: each band reads the rows on either side of it as they
// were before any band ran, from copies taken beforehand.
template <typename T, typename RowFn>
void Convolve(TBitmap& bmp, int x1, int y1, int x2, int y2, TProgressRec& progress, RowFn rowFn) {
  const int h = bmp.Height();
  const int bytes = 3 * (x2 - x1 + 1);
  const int rows = y2 - y1 + 1;
  const std::vector<int> bands = VXRowBands(rows, static_cast<int64_t>(x2 - x1 + 1) * rows, 8);
  std::vector<std::pair<int, std::vector<uint8_t>>> saved;
  for (size_t b = 1; b + 1 < bands.size(); ++b)
    for (const int y : {y1 + bands[b] - 1, y1 + bands[b]}) {
      const uint8_t* p = bmp.ScanLine(y);
      saved.emplace_back(y, std::vector<uint8_t>(p, p + bmp.RowLen()));
    }
  const double div = y2 - y1 + 0.5;
  VXParallelBands(bands, [&](int r0, int r1, bool onCaller) {
    TRowCache<T> cache(bmp, x1, x2);
    if (!saved.empty()) cache.UseSaved(&saved);
    for (int y = y1 + r0; y < y1 + r1; ++y) {
      const T* u = cache.Row(imax(y - 1, 0));
      const T* m = cache.Row(y);
      const T* d = cache.Row(imin(y + 1, h - 1));
      rowFn(u, m, d, bmp.ScanLine(y) + 3 * x1, bytes);
      if (onCaller && progress.OnProgress)
        progress.OnProgress(progress.Sender, static_cast<int>((y - y1 + 1) * 100 / div));
    }
  }, [&](int done) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>(done * 100 / div));
    return true;
  });
}

}  // namespace

void _ApplyFilter(TBitmap& bmp, const TGraphFilter& filter, int x1, int y1, int x2, int y2,
                  TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return;
  const int32_t divisor = filter.Divisor == 0 ? 1 : filter.Divisor;
  int64_t reach = 0;
  for (int32_t v : filter.Values) reach += std::llabs(int64_t(v)) * 255;
  if (reach < (int64_t(1) << 24) && std::llabs(int64_t(divisor)) < (int64_t(1) << 24)) {
    float k[9];
    int which[9], nTaps = 0;
    for (int i = 0; i < 9; ++i)
      if (filter.Values[i] != 0) {
        k[nTaps] = static_cast<float>(filter.Values[i]);
        which[nTaps++] = i;
      }
    const float fd = static_cast<float>(divisor);
    Convolve<float>(bmp, x1, y1, x2, y2, progress,
                    [&](const float* u, const float* m, const float* d, uint8_t* out, int bytes) {
                      const float* rows[3] = {u, m, d};
                      const float* taps[9];
                      for (int t = 0; t < nTaps; ++t) taps[t] = rows[which[t] / 3] + 3 * (which[t] % 3);
                      FilterRowFloat(taps, k, nTaps, out, bytes, fd);
                    });
  } else {
    Convolve<int32_t>(bmp, x1, y1, x2, y2, progress,
                      [&](const int32_t* u, const int32_t* m, const int32_t* d, uint8_t* out, int bytes) {
                        FilterRowExact(u, m, d, out, bytes, filter.Values, divisor);
                      });
  }
}

bool LoadFilterFromFile(const std::string& fileName, TGraphFilter& filter) {
  TFileStream f(fileName, fmOpenRead);
  uint8_t head[3];
  if (f.Read(head, 3) != 3 || head[0] != 1 || head[1] != 3 || head[2] != 3) return false;
  uint8_t rec[40];
  const int64_t got = f.Read(rec, 40);
  // Fields are little-endian in the file whatever the host order.
  for (int i = 0; i < 10 && (i + 1) * 4 <= got; ++i) {
    const uint8_t* p = rec + 4 * i;
    const int32_t v = static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
    if (i < 9)
      filter.Values[i] = v;
    else
      filter.Divisor = v;
  }
  return got == 40;
}

TGraphFilter LoadFilterFromFile(const std::string& fileName) {
  TGraphFilter f;
  LoadFilterFromFile(fileName, f);
  return f;
}

void SaveFilterToFile(const std::string& fileName, const TGraphFilter& filter) {
  TSafeFileStream f(fileName);
  const uint8_t head[3] = {1, 3, 3};
  f.WriteBuffer(head, 3);
  for (int32_t v : filter.Values) f.WriteI32(v);
  f.WriteI32(filter.Divisor);
  f.Commit();
}

}  // namespace vexa
