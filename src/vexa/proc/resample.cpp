#include "vexa/proc/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "vexa/core/parallel.h"
#include "vexa/core/raster.h"

namespace vexa {

double VXFilterKernel(TResampleFilter filter, double x) {
  const double a = std::fabs(x);
  switch (filter) {
    case rfTriangle:
      return a < 1 ? 1 - a : 0;
    case rfHermite:
      return a < 1 ? (2 * a - 3) * a * a + 1 : 0;
    case rfBell:
      if (a < 0.5) return 0.75 - a * a;
      if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
      return 0;
    case rfBSpline:
      if (a < 1) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
      if (a < 2) return (2 - a) * (2 - a) * (2 - a) / 6;
      return 0;
    case rfLanczos3: {
      if (a >= 3) return 0;
      auto sinc = [](double v) {
        if (v == 0) return 1.0;
        v *= M_PI;
        return std::sin(v) / v;
      };
      return sinc(x) * sinc(x / 3);
    }
    case rfMitchell:
      if (a < 1) return (7 * a * a * a - 12 * a * a + 16.0 / 3.0) / 6;
      if (a < 2) return (-(7.0 / 3.0) * a * a * a + 12 * a * a - 20 * a + 32.0 / 3.0) / 6;
      return 0;
    default:
      return 0;
  }
}

double VXFilterSupport(TResampleFilter filter) {
  switch (filter) {
    case rfTriangle:
    case rfHermite:
      return 1.0;
    case rfBell:
      return 1.5;
    case rfBSpline:
    case rfMitchell:
      return 2.0;
    case rfLanczos3:
      return 3.0;
    default:
      return 0;
  }
}

namespace {

// Contribution lists of every destination index, flattened: entries First[i] to
// First[i + 1] - 1 belong to destination i.
struct TContributions {
  std::vector<int> First;
  std::vector<int> Index;
  std::vector<double> Weight;
};

TContributions BuildContributions(int srcLen, int dstLen, TResampleFilter filter) {
  TContributions c;
  c.First.reserve(static_cast<size_t>(dstLen) + 1);
  const double scale = static_cast<double>(dstLen) / srcLen;
  const double support = VXFilterSupport(filter);
  const double width = scale >= 1 ? support : support / scale;
  const double f = scale >= 1 ? 1.0 : 1.0 / scale;
  for (int x = 0; x < dstLen; ++x) {
    c.First.push_back(static_cast<int>(c.Index.size()));
    const double centre = x / scale;
    const int lo = static_cast<int>(std::floor(centre - width));
    const int hi = static_cast<int>(std::ceil(centre + width));
    for (int j = lo; j <= hi; ++j) {
      const double w = scale >= 1 ? VXFilterKernel(filter, centre - j) : VXFilterKernel(filter, (centre - j) / f) / f;
      if (w == 0) continue;
      int k = j < 0 ? -j : (j >= srcLen ? 2 * srcLen - 1 - j : j);
      // A wide kernel on a very short line can mirror past the far edge too.
      if (k < 0) k = 0;
      if (k >= srcLen) k = srcLen - 1;
      c.Index.push_back(k);
      c.Weight.push_back(w);
    }
  }
  c.First.push_back(static_cast<int>(c.Index.size()));
  return c;
}

inline uint8_t ClampRound(double v) {
  if (v > 255) return 255;
  if (v < 0) return 0;
  return static_cast<uint8_t>(std::lrint(v));
}

// The wide kernels below add the same products in the same order as the plain
// ones (multiply, then add; never fused), so both give identical pixels.

// Source row as four doubles per pixel (blue, green, red, 0), so one tap is one
// four-lane multiply-add.
void WidenRow(const uint8_t* s, double* wide, int n) {
  for (int i = 0; i < n; ++i) {
    wide[4 * i] = s[3 * i];
    wide[4 * i + 1] = s[3 * i + 1];
    wide[4 * i + 2] = s[3 * i + 2];
    wide[4 * i + 3] = 0;
  }
}

void HorizontalRowPlain(const double* wide, uint8_t* d, int dstW, const int* first, const int* index,
                        const double* weight) {
  for (int x = 0; x < dstW; ++x) {
    double b = 0, g = 0, r = 0;
    for (int e = first[x], end = first[x + 1]; e < end; ++e) {
      const double* p = wide + 4 * index[e];
      const double w = weight[e];
      b += w * p[0];
      g += w * p[1];
      r += w * p[2];
    }
    d[3 * x] = ClampRound(b);
    d[3 * x + 1] = ClampRound(g);
    d[3 * x + 2] = ClampRound(r);
  }
}

void VerticalBlockPlain(double* acc, const uint8_t* s, double w, int n) {
  for (int i = 0; i < n; ++i) acc[i] += w * s[i];
}

void StoreRowPlain(const double* acc, uint8_t* d, int n) {
  for (int i = 0; i < n; ++i) d[i] = ClampRound(acc[i]);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline __m128i RoundClamp4(__m256d v) {
  v = _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  v = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255));
  return _mm256_cvtpd_epi32(v);
}

__attribute__((target("avx2"))) inline void StorePixel(uint8_t* d, __m256d acc) {
  alignas(16) int32_t v[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(v), RoundClamp4(acc));
  d[0] = static_cast<uint8_t>(v[0]);
  d[1] = static_cast<uint8_t>(v[1]);
  d[2] = static_cast<uint8_t>(v[2]);
}

__attribute__((target("avx2"))) inline __m256d Tap(__m256d acc, const double* wide, const int* index,
                                                    const double* weight, int e) {
  return _mm256_add_pd(acc, _mm256_mul_pd(_mm256_set1_pd(weight[e]), _mm256_loadu_pd(wide + 4 * index[e])));
}

// Four destination pixels at a time: four independent sums hide the latency of
// the additions, while each sum still adds its taps in list order.
__attribute__((target("avx2"))) void HorizontalRowAvx2(const double* wide, uint8_t* d, int dstW, const int* first,
                                                       const int* index, const double* weight) {
  int x = 0;
  for (; x + 4 <= dstW; x += 4) {
    const int s0 = first[x], s1 = first[x + 1], s2 = first[x + 2], s3 = first[x + 3], e3 = first[x + 4];
    const int n0 = s1 - s0, n1 = s2 - s1, n2 = s3 - s2, n3 = e3 - s3;
    const int common = imin(imin(n0, n1), imin(n2, n3));
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < common; ++k) {
      a0 = Tap(a0, wide, index, weight, s0 + k);
      a1 = Tap(a1, wide, index, weight, s1 + k);
      a2 = Tap(a2, wide, index, weight, s2 + k);
      a3 = Tap(a3, wide, index, weight, s3 + k);
    }
    for (int k = common; k < n0; ++k) a0 = Tap(a0, wide, index, weight, s0 + k);
    for (int k = common; k < n1; ++k) a1 = Tap(a1, wide, index, weight, s1 + k);
    for (int k = common; k < n2; ++k) a2 = Tap(a2, wide, index, weight, s2 + k);
    for (int k = common; k < n3; ++k) a3 = Tap(a3, wide, index, weight, s3 + k);
    StorePixel(d + 3 * x, a0);
    StorePixel(d + 3 * x + 3, a1);
    StorePixel(d + 3 * x + 6, a2);
    StorePixel(d + 3 * x + 9, a3);
  }
  for (; x < dstW; ++x) {
    __m256d acc = _mm256_setzero_pd();
    for (int e = first[x], end = first[x + 1]; e < end; ++e) acc = Tap(acc, wide, index, weight, e);
    StorePixel(d + 3 * x, acc);
  }
}

// Four source rows at a time: each weight is loaded once for four sums.
__attribute__((target("avx2"))) void HorizontalRows4Avx2(const double* const* wide, uint8_t* const* d, int dstW,
                                                         const int* first, const int* index, const double* weight) {
  for (int x = 0; x < dstW; ++x) {
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int e = first[x], end = first[x + 1]; e < end; ++e) {
      const __m256d w = _mm256_set1_pd(weight[e]);
      const int off = 4 * index[e];
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(w, _mm256_loadu_pd(wide[0] + off)));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(w, _mm256_loadu_pd(wide[1] + off)));
      a2 = _mm256_add_pd(a2, _mm256_mul_pd(w, _mm256_loadu_pd(wide[2] + off)));
      a3 = _mm256_add_pd(a3, _mm256_mul_pd(w, _mm256_loadu_pd(wide[3] + off)));
    }
    StorePixel(d[0] + 3 * x, a0);
    StorePixel(d[1] + 3 * x, a1);
    StorePixel(d[2] + 3 * x, a2);
    StorePixel(d[3] + 3 * x, a3);
  }
}

__attribute__((target("avx2"))) void VerticalBlockAvx2(double* acc, const uint8_t* s, double w, int n) {
  const __m256d wv = _mm256_set1_pd(w);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
    const __m256i ints = _mm256_cvtepu8_epi32(bytes);
    const __m256d lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(ints));
    const __m256d hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(ints, 1));
    _mm256_storeu_pd(acc + i, _mm256_add_pd(_mm256_loadu_pd(acc + i), _mm256_mul_pd(wv, lo)));
    _mm256_storeu_pd(acc + i + 4, _mm256_add_pd(_mm256_loadu_pd(acc + i + 4), _mm256_mul_pd(wv, hi)));
  }
  for (; i < n; ++i) acc[i] += w * s[i];
}

__attribute__((target("avx2"))) inline __m256d Widen4(const uint8_t* s) {
  int32_t v;
  std::memcpy(&v, s, 4);
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(v)));
}

// Four source rows per visit of the sums: the sums stay in registers while the
// four products are added one after the other, as the plain pass adds them.
__attribute__((target("avx2"))) void VerticalBlock4Avx2(double* acc, const uint8_t* const* s, const double* w, int n) {
  const __m256d w0 = _mm256_set1_pd(w[0]), w1 = _mm256_set1_pd(w[1]), w2 = _mm256_set1_pd(w[2]),
                w3 = _mm256_set1_pd(w[3]);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d a = _mm256_loadu_pd(acc + i);
    a = _mm256_add_pd(a, _mm256_mul_pd(w0, Widen4(s[0] + i)));
    a = _mm256_add_pd(a, _mm256_mul_pd(w1, Widen4(s[1] + i)));
    a = _mm256_add_pd(a, _mm256_mul_pd(w2, Widen4(s[2] + i)));
    a = _mm256_add_pd(a, _mm256_mul_pd(w3, Widen4(s[3] + i)));
    _mm256_storeu_pd(acc + i, a);
  }
  for (; i < n; ++i) {
    double a = acc[i];
    for (int k = 0; k < 4; ++k) a += w[k] * s[k][i];
    acc[i] = a;
  }
}

__attribute__((target("avx2"))) void StoreRowAvx2(const double* acc, uint8_t* d, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i a = RoundClamp4(_mm256_loadu_pd(acc + i)), b = RoundClamp4(_mm256_loadu_pd(acc + i + 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_setzero_si128()));
  }
  for (; i < n; ++i) d[i] = ClampRound(acc[i]);
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#else
constexpr bool kHasAvx2 = false;
#define HorizontalRowAvx2 HorizontalRowPlain
inline void HorizontalRows4Avx2(const double* const* wide, uint8_t* const* d, int dstW, const int* first,
                                const int* index, const double* weight) {
  for (int k = 0; k < 4; ++k) HorizontalRowPlain(wide[k], d[k], dstW, first, index, weight);
}
#define VerticalBlockAvx2 VerticalBlockPlain
#define StoreRowAvx2 StoreRowPlain
inline void VerticalBlock4Avx2(double*, const uint8_t* const*, const double*, int) {}
#endif

void HorizontalPass(const TBitmap& src, TBitmap& tmp, const TContributions& c, const TProgressEvent& onProgress,
                    TObject* sender, double factor) {
  const int dstW = tmp.Width(), srcH = src.Height();
  const size_t wideLen = 4 * static_cast<size_t>(src.Width());
  auto band = [&](int y0, int y1, bool onCaller) {
    const bool report = onCaller && onProgress;
    std::vector<double> wideRows(4 * wideLen);
    const double* wide[4] = {wideRows.data(), wideRows.data() + wideLen, wideRows.data() + 2 * wideLen,
                             wideRows.data() + 3 * wideLen};
    int y = y0;
    if (kHasAvx2) {
      for (; y + 4 <= y1; y += 4) {
        uint8_t* out[4];
        for (int k = 0; k < 4; ++k) {
          WidenRow(src.ScanLine(y + k), const_cast<double*>(wide[k]), src.Width());
          out[k] = tmp.ScanLine(y + k);
        }
        HorizontalRows4Avx2(wide, out, dstW, c.First.data(), c.Index.data(), c.Weight.data());
        if (report)
          for (int k = 1; k <= 4; ++k) onProgress(sender, static_cast<int>(factor * (y + k)));
      }
    }
    for (; y < y1; ++y) {
      WidenRow(src.ScanLine(y), wideRows.data(), src.Width());
      if (kHasAvx2)
        HorizontalRowAvx2(wide[0], tmp.ScanLine(y), dstW, c.First.data(), c.Index.data(), c.Weight.data());
      else
        HorizontalRowPlain(wide[0], tmp.ScanLine(y), dstW, c.First.data(), c.Index.data(), c.Weight.data());
      if (report) onProgress(sender, static_cast<int>(factor * (y + 1)));
    }
  };
  const int64_t work = static_cast<int64_t>(std::max(src.Width(), dstW)) * srcH;
  VXParallelRows(srcH, work, 4, band, [&](int rows) {
    if (onProgress) onProgress(sender, static_cast<int>(factor * rows));
    return true;
  });
}

// Row by row rather than column by column: every destination row reads whole
// source rows, which keeps the inner loop contiguous. Blocks keep the sums in cache.
void VerticalPass(const TBitmap& tmp, TBitmap& dst, const TContributions& c, const TProgressEvent& onProgress,
                  TObject* sender, double factor) {
  constexpr int kBlock = 2048;
  const int n = 3 * dst.Width();
  const int dstH = dst.Height();
  auto report = [&](int rows) {
    const double columnsDone = static_cast<double>(dst.Width()) * rows / dstH;
    onProgress(sender, static_cast<int>(factor * (tmp.Height() + columnsDone)));
  };
  auto band = [&](int y0, int y1, bool onCaller) {
    std::vector<double> acc(static_cast<size_t>(n));
    double* a = acc.data();
    for (int y = y0; y < y1; ++y) {
      for (int i = 0; i < n; ++i) a[i] = 0;
      for (int i0 = 0; i0 < n; i0 += kBlock) {
        const int len = imin(kBlock, n - i0);
        int e = c.First[y];
        const int end = c.First[y + 1];
        if (kHasAvx2)
          for (; e + 4 <= end; e += 4) {
            const uint8_t* rows[4];
            for (int k = 0; k < 4; ++k) rows[k] = tmp.ScanLine(c.Index[e + k]) + i0;
            VerticalBlock4Avx2(a + i0, rows, &c.Weight[e], len);
          }
        for (; e < end; ++e) {
          const uint8_t* s = tmp.ScanLine(c.Index[e]) + i0;
          if (kHasAvx2)
            VerticalBlockAvx2(a + i0, s, c.Weight[e], len);
          else
            VerticalBlockPlain(a + i0, s, c.Weight[e], len);
        }
      }
      if (kHasAvx2)
        StoreRowAvx2(a, dst.ScanLine(y), n);
      else
        StoreRowPlain(a, dst.ScanLine(y), n);
      if (onCaller && onProgress) report(y + 1);
    }
  };
  const int64_t work = std::max(static_cast<int64_t>(tmp.Width()) * tmp.Height(), static_cast<int64_t>(dst.Width()) * dstH);
  VXParallelRows(dstH, work, 1, band, [&](int rows) {
    if (onProgress) report(rows);
    return true;
  });
}

bool ResampleArgsOk(const TBitmap& src, const TBitmap& dst) {
  return src.PixelFormat() == pf24bit && dst.PixelFormat() == pf24bit && !src.Empty() && !dst.Empty();
}

}  // namespace

void _Resample(const TBitmap& src, TBitmap& dst, TResampleFilter filter, const TProgressEvent& onProgress,
               TObject* sender) {
  if (!ResampleArgsOk(src, dst) || filter == rfNone) return;
  const double factor = 100.0 / (dst.Width() + src.Height() + 0.5);
  TBitmap tmp(dst.Width(), src.Height(), pf24bit);
  HorizontalPass(src, tmp, BuildContributions(src.Width(), dst.Width(), filter), onProgress, sender, factor);
  VerticalPass(tmp, dst, BuildContributions(src.Height(), dst.Height(), filter), onProgress, sender, factor);
}

void _QuickResample(const TBitmap& src, TBitmap& dst, TResampleFilter filter, const TProgressEvent& onProgress,
                    TObject* sender) {
  if (!ResampleArgsOk(src, dst) || filter == rfNone) return;
  const double factor = 100.0 / (dst.Width() + src.Height() + 0.5);
  TBitmap tmp;
  if (dst.Width() < src.Width()) {
    _VXBmpStretch(src, tmp, dst.Width(), src.Height());
  } else {
    tmp.Allocate(dst.Width(), src.Height(), pf24bit);
    HorizontalPass(src, tmp, BuildContributions(src.Width(), dst.Width(), filter), onProgress, sender, factor);
  }
  if (dst.Height() < src.Height()) {
    TBitmap out;
    _VXBmpStretch(tmp, out, dst.Width(), dst.Height());
    VXDrawBitmap(dst, 0, 0, out);
  } else {
    VerticalPass(tmp, dst, BuildContributions(src.Height(), dst.Height(), filter), onProgress, sender, factor);
  }
}

}  // namespace vexa
