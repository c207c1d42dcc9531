#include "vexa/proc/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <new>
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
//
// The double-precision sums in list order define the result. The fast kernels
// add the same products in single precision, in any order; Accept[i] bounds how
// far such a sum may lie from its nearest integer for that integer to be surely
// the rounded double sum too. Pixels past it are summed again the exact way.
// Weights that are fractions with a small even denominator (B-spline or Mitchell
// at scales such as 2) put many exact sums on a half, where only the double sum
// decides; such lists (Accept[i] < 0) are summed in double throughout, as a
// single-precision pass would hand too many pixels to the slow exact sums.
struct TContributions {
  std::vector<int> First;
  std::vector<int> Index;
  std::vector<double> Weight;
  std::vector<float> WeightF;
  std::vector<float> Accept;
  std::vector<ptrdiff_t> Cell;  // 24 * Index: the source pixel's place among eight transposed rows
};

// True when every product and partial sum is a multiple of one power of two
// small enough for single precision to hold it exactly: then both sums are exact.
bool ExactInSingle(const double* w, int n, double absSum) {
  for (int k = 0; k <= 20; ++k) {
    const double scale = std::ldexp(1.0, k);
    if (255 * absSum * scale >= 0x1p24) return false;
    bool whole = true;
    for (int e = 0; e < n && whole; ++e) whole = std::floor(w[e] * scale) == w[e] * scale;
    if (whole) return true;
  }
  return false;
}

// Denominator of a fraction within a relative 1e-9 of v whose denominator is at
// most 4096, or 0.
double SmallDenominator(double v) {
  v = std::fabs(v);
  double x = v, p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  for (int step = 0; step < 24; ++step) {
    const double a = std::floor(x);
    const double p2 = a * p1 + p0, q2 = a * q1 + q0;
    if (q2 > 4096) return 0;
    if (std::fabs(v - p2 / q2) <= 1e-9 * v) return q2;
    x = 1 / (x - a);
    p0 = p1;
    q0 = q1;
    p1 = p2;
    q1 = q2;
  }
  return 0;
}

bool TiesLikely(const double* w, int n) {
  double lcm = 1;
  for (int e = 0; e < n; ++e) {
    const double d = SmallDenominator(w[e]);
    if (d == 0) return false;
    lcm = lcm / std::gcd(static_cast<int64_t>(lcm), static_cast<int64_t>(d)) * d;
    if (lcm > 256) return false;  // about one sum in lcm / 2 lands on a half: rare enough to redo
  }
  return std::fmod(lcm, 2) == 0;
}

void AddSingleWeights(TContributions& c) {
  c.WeightF.assign(c.Weight.begin(), c.Weight.end());
  c.Cell.resize(c.Index.size());
  for (size_t e = 0; e < c.Index.size(); ++e) c.Cell[e] = 24 * static_cast<ptrdiff_t>(c.Index[e]);
  const size_t dstLen = c.First.size() - 1;
  c.Accept.resize(dstLen);
  for (size_t i = 0; i < dstLen; ++i) {
    const double* w = c.Weight.data() + c.First[i];
    const int n = c.First[i + 1] - c.First[i];
    double absSum = 0;
    for (int e = 0; e < n; ++e) absSum += std::fabs(w[e]);
    if (ExactInSingle(w, n, absSum)) {
      c.Accept[i] = 1;  // any distance: the nearest integer is the answer
      continue;
    }
    if (TiesLikely(w, n)) {
      c.Accept[i] = -1;
      continue;
    }
    // Rounding the weights, n single additions or fused steps in any order and
    // the double sum itself stay below 255 * absSum * (n + 2) * 2^-24; twice that.
    const double limit = 0.5 - 255 * absSum * (n + 4) * 0x1p-23;
    float a = static_cast<float>(limit);
    if (a > limit) a = std::nextafter(a, 0.0f);
    c.Accept[i] = a;
  }
}

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
  AddSingleWeights(c);
  return c;
}

inline uint8_t ClampRound(double v) {
  if (v > 255) return 255;
  if (v < 0) return 0;
  return static_cast<uint8_t>(std::lrint(v));
}

// The defining sums, one value at a time. Kept out of line so that they are never
// compiled with fused multiply-adds into a caller built for a wider instruction set.
__attribute__((noinline)) uint8_t HorizontalExact(const uint8_t* row, const TContributions& c, int x, int ch) {
  double s = 0;
  for (int e = c.First[x], end = c.First[x + 1]; e < end; ++e) s += c.Weight[e] * row[3 * c.Index[e] + ch];
  return ClampRound(s);
}

__attribute__((noinline)) uint8_t VerticalExact(const TBitmap& tmp, const TContributions& c, int y, int i) {
  double s = 0;
  for (int e = c.First[y], end = c.First[y + 1]; e < end; ++e) s += c.Weight[e] * tmp.ScanLine(c.Index[e])[i];
  return ClampRound(s);
}

void HorizontalRowPlain(const uint8_t* s, uint8_t* d, int dstW, const TContributions& c) {
  for (int x = 0; x < dstW; ++x)
    for (int ch = 0; ch < 3; ++ch) d[3 * x + ch] = HorizontalExact(s, c, x, ch);
}

// Whole source rows at a time, in blocks that keep the sums in cache.
void VerticalRowPlain(const TBitmap& tmp, uint8_t* d, int n, const TContributions& c, int y, double* acc) {
  constexpr int kBlock = 2048;
  for (int i0 = 0; i0 < n; i0 += kBlock) {
    const int len = imin(kBlock, n - i0);
    for (int i = 0; i < len; ++i) acc[i] = 0;
    for (int e = c.First[y], end = c.First[y + 1]; e < end; ++e) {
      const uint8_t* s = tmp.ScanLine(c.Index[e]) + i0;
      const double w = c.Weight[e];
      for (int i = 0; i < len; ++i) acc[i] += w * s[i];
    }
    for (int i = 0; i < len; ++i) d[i0 + i] = ClampRound(acc[i]);
  }
}

#if defined(__x86_64__)
#define VX_AVX2 __attribute__((target("avx2,fma")))

// Rounds each lane to nearest and reports (as mask bits) the lanes too close to
// a half for the single-precision sum to decide.
VX_AVX2 inline __m256i RoundChecked(__m256 sum, __m256 accept, int& undecided) {
  const __m256 r = _mm256_round_ps(sum, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256 dist = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_sub_ps(sum, r));
  undecided = _mm256_movemask_ps(_mm256_cmp_ps(dist, accept, _CMP_NLT_UQ));
  return _mm256_cvtps_epi32(r);
}

// Built for AVX2 without fused multiply-add, so that every lane multiplies and
// adds in the order and precision of the defining sums.
#define VX_AVX2_NOFMA __attribute__((target("avx2")))
#define VX_AVX2_EXACT __attribute__((target("avx2"), noinline))

VX_AVX2_NOFMA inline __m128i RoundedInts(__m256d v) {
  return _mm256_cvtpd_epi32(_mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

VX_AVX2_NOFMA inline __m256d Widen4(const uint8_t* s) {
  int32_t v;
  std::memcpy(&v, s, 4);
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(v)));
}

// The defining sums of destination x for eight transposed rows (whose floats hold
// the bytes exactly), for lists that single precision would rarely decide.
VX_AVX2_EXACT void HorizontalRows8Double(const float* t, const TContributions& c, int x, __m256i* v) {
  __m256d lo[3], hi[3];
  for (int ch = 0; ch < 3; ++ch) lo[ch] = hi[ch] = _mm256_setzero_pd();
  for (int e = c.First[x], end = c.First[x + 1]; e < end; ++e) {
    const __m256d w = _mm256_set1_pd(c.Weight[e]);
    const float* p = t + 24 * c.Index[e];
    for (int ch = 0; ch < 3; ++ch) {
      lo[ch] = _mm256_add_pd(lo[ch], _mm256_mul_pd(w, _mm256_cvtps_pd(_mm_load_ps(p + 8 * ch))));
      hi[ch] = _mm256_add_pd(hi[ch], _mm256_mul_pd(w, _mm256_cvtps_pd(_mm_load_ps(p + 8 * ch + 4))));
    }
  }
  for (int ch = 0; ch < 3; ++ch)
    _mm256_storeu_si256(v + ch, _mm256_set_m128i(RoundedInts(hi[ch]), RoundedInts(lo[ch])));
}

VX_AVX2_EXACT void VerticalRowDouble(const uint8_t* const* taps, const double* w, int count, uint8_t* d, int n) {
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < count; ++k) {
      const __m256d wv = _mm256_set1_pd(w[k]);
      const uint8_t* s = taps[k] + i;
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(wv, Widen4(s)));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(wv, Widen4(s + 4)));
      a2 = _mm256_add_pd(a2, _mm256_mul_pd(wv, Widen4(s + 8)));
      a3 = _mm256_add_pd(a3, _mm256_mul_pd(wv, Widen4(s + 12)));
    }
    const __m128i lo = _mm_packs_epi32(RoundedInts(a0), RoundedInts(a1));
    const __m128i hi = _mm_packs_epi32(RoundedInts(a2), RoundedInts(a3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < n; ++i) {
    double a = 0;
    for (int k = 0; k < count; ++k) a += w[k] * taps[k][i];
    d[i] = ClampRound(a);
  }
}

// Eight rows side by side as floats: value i of row k lands at t[8 * i + k].
VX_AVX2 void TransposeRows8(const uint8_t* const* rows, int n, float* t) {
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
    const __m128i a0 = _mm_unpacklo_epi8(r[0], r[1]), a1 = _mm_unpackhi_epi8(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi8(r[2], r[3]), a3 = _mm_unpackhi_epi8(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi8(r[4], r[5]), a5 = _mm_unpackhi_epi8(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi8(r[6], r[7]), a7 = _mm_unpackhi_epi8(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a2), b1 = _mm_unpackhi_epi16(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi16(a1, a3), b3 = _mm_unpackhi_epi16(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi16(a4, a6), b5 = _mm_unpackhi_epi16(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi16(a5, a7), b7 = _mm_unpackhi_epi16(a5, a7);
    const __m128i cols[8] = {_mm_unpacklo_epi32(b0, b4), _mm_unpackhi_epi32(b0, b4), _mm_unpacklo_epi32(b1, b5),
                             _mm_unpackhi_epi32(b1, b5), _mm_unpacklo_epi32(b2, b6), _mm_unpackhi_epi32(b2, b6),
                             _mm_unpacklo_epi32(b3, b7), _mm_unpackhi_epi32(b3, b7)};
    float* o = t + 8 * i;
    for (int q = 0; q < 8; ++q) {
      _mm256_store_ps(o + 16 * q, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(cols[q])));
      _mm256_store_ps(o + 16 * q + 8, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(cols[q], 8))));
    }
  }
  for (; i < n; ++i)
    for (int k = 0; k < 8; ++k) t[8 * i + k] = rows[k][i];
}

// The sums for destination x in single precision, with the undecided lanes
// summed again the exact way.
VX_AVX2 inline void Rows8Single(const float* t, const TContributions& c, int x, const uint8_t* const* rows, int live,
                                __m256i& vb, __m256i& vg, __m256i& vr) {
  const ptrdiff_t* cell = c.Cell.data();
  const float* wf = c.WeightF.data();
  __m256 b0 = _mm256_setzero_ps(), g0 = b0, r0 = b0, b1 = b0, g1 = b0, r1 = b0;
  int e = c.First[x];
  const int end = c.First[x + 1];
  for (; e + 2 <= end; e += 2) {
    const float* p = t + cell[e];
    const float* q = t + cell[e + 1];
    const __m256 w = _mm256_broadcast_ss(wf + e), v = _mm256_broadcast_ss(wf + e + 1);
    b0 = _mm256_fmadd_ps(w, _mm256_load_ps(p), b0);
    g0 = _mm256_fmadd_ps(w, _mm256_load_ps(p + 8), g0);
    r0 = _mm256_fmadd_ps(w, _mm256_load_ps(p + 16), r0);
    b1 = _mm256_fmadd_ps(v, _mm256_load_ps(q), b1);
    g1 = _mm256_fmadd_ps(v, _mm256_load_ps(q + 8), g1);
    r1 = _mm256_fmadd_ps(v, _mm256_load_ps(q + 16), r1);
  }
  if (e < end) {
    const float* p = t + cell[e];
    const __m256 w = _mm256_broadcast_ss(wf + e);
    b0 = _mm256_fmadd_ps(w, _mm256_load_ps(p), b0);
    g0 = _mm256_fmadd_ps(w, _mm256_load_ps(p + 8), g0);
    r0 = _mm256_fmadd_ps(w, _mm256_load_ps(p + 16), r0);
  }
  const __m256 accept = _mm256_broadcast_ss(&c.Accept[x]);
  int ub, ug, ur;
  vb = RoundChecked(_mm256_add_ps(b0, b1), accept, ub);
  vg = RoundChecked(_mm256_add_ps(g0, g1), accept, ug);
  vr = RoundChecked(_mm256_add_ps(r0, r1), accept, ur);
  if ((ub | ug | ur) & ((1 << live) - 1)) {
    alignas(32) int32_t v[3][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[0]), vb);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[1]), vg);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v[2]), vr);
    const int undecided[3] = {ub, ug, ur};
    for (int ch = 0; ch < 3; ++ch)
      for (int k = 0; k < live; ++k)
        if (undecided[ch] >> k & 1) v[ch][k] = HorizontalExact(rows[k], c, x, ch);
    vb = _mm256_load_si256(reinterpret_cast<const __m256i*>(v[0]));
    vg = _mm256_load_si256(reinterpret_cast<const __m256i*>(v[1]));
    vr = _mm256_load_si256(reinterpret_cast<const __m256i*>(v[2]));
  }
}

// One destination row for each of eight source rows at once (lanes are rows),
// from their transposed copy t; only the first `live` rows are written.
VX_AVX2 void HorizontalRows8Avx2(const float* t, const uint8_t* const* rows, uint8_t* const* out, int live, int dstW,
                                 const TContributions& c) {
  for (int x = 0; x < dstW; ++x) {
    __m256i vb, vg, vr;
    if (c.Accept[x] < 0) {
      __m256i v[3];
      HorizontalRows8Double(t, c, x, v);
      vb = v[0];
      vg = v[1];
      vr = v[2];
    } else {
      Rows8Single(t, c, x, rows, live, vb, vg, vr);
    }
    // Saturating packs clamp to 0..255; per half: b of rows 0-3, g, r, r (4-7 above).
    alignas(32) uint8_t q[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(q),
                       _mm256_packus_epi16(_mm256_packs_epi32(vb, vg), _mm256_packs_epi32(vr, vr)));
    for (int k = 0; k < live; ++k) {
      const uint8_t* s = q + 16 * (k >> 2) + (k & 3);
      uint8_t* o = out[k] + 3 * x;
      o[0] = s[0];
      o[1] = s[4];
      o[2] = s[8];
    }
  }
}

VX_AVX2 inline __m256 Load8(const uint8_t* s) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s))));
}

VX_AVX2 inline __m256 Load8(const float* s) { return _mm256_loadu_ps(s); }

VX_AVX2 void WidenRow(const uint8_t* s, float* d, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(d + i, Load8(s + i));
  for (; i < n; ++i) d[i] = s[i];
}

// One destination row: n values, each the weighted sum of the same value in the
// tap rows; four vectors of eight at a time.
// The tap rows are the temporary rows themselves or their copies as floats.
template <typename T>
VX_AVX2 void VerticalRowAvx2(const TBitmap& tmp, const T* const* taps, uint8_t* d, int n, const TContributions& c,
                             int y) {
  const int e0 = c.First[y], count = c.First[y + 1] - e0;
  const float* wf = c.WeightF.data() + e0;
  const __m256 accept = _mm256_set1_ps(c.Accept[y]);
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < count; ++k) {
      const __m256 w = _mm256_broadcast_ss(wf + k);
      const T* s = taps[k] + i;
      a0 = _mm256_fmadd_ps(w, Load8(s), a0);
      a1 = _mm256_fmadd_ps(w, Load8(s + 8), a1);
      a2 = _mm256_fmadd_ps(w, Load8(s + 16), a2);
      a3 = _mm256_fmadd_ps(w, Load8(s + 24), a3);
    }
    int u[4];
    __m256i v[4] = {RoundChecked(a0, accept, u[0]), RoundChecked(a1, accept, u[1]), RoundChecked(a2, accept, u[2]),
                    RoundChecked(a3, accept, u[3])};
    if (u[0] | u[1] | u[2] | u[3]) {
      alignas(32) int32_t vals[4][8];
      for (int q = 0; q < 4; ++q) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(vals[q]), v[q]);
        for (int k = 0; k < 8; ++k)
          if (u[q] >> k & 1) vals[q][k] = VerticalExact(tmp, c, y, i + 8 * q + k);
        v[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(vals[q]));
      }
    }
    // The packs interleave the halves of the four vectors; put them back in order.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i),
                        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
  }
  for (; i + 8 <= n; i += 8) {
    __m256 a = _mm256_setzero_ps();
    for (int k = 0; k < count; ++k) a = _mm256_fmadd_ps(_mm256_broadcast_ss(wf + k), Load8(taps[k] + i), a);
    int u;
    alignas(32) int32_t vals[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(vals), RoundChecked(a, accept, u));
    for (int k = 0; k < 8; ++k)
      d[i + k] = u >> k & 1 ? VerticalExact(tmp, c, y, i + k) : static_cast<uint8_t>(std::clamp(vals[k], 0, 255));
  }
  for (; i < n; ++i) d[i] = VerticalExact(tmp, c, y, i);
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
constexpr bool kHasAvx2 = false;
#endif

struct TFreeAligned {
  void operator()(float* p) const { std::free(p); }
};

void HorizontalPass(const TBitmap& src, TBitmap& tmp, const TContributions& c, const TProgressEvent& onProgress,
                    TObject* sender, double factor) {
  const int dstW = tmp.Width(), srcH = src.Height();
  const int n = 3 * src.Width();
  auto band = [&](int y0, int y1, bool onCaller) {
    const bool report = onCaller && onProgress;
    int y = y0;
#if defined(__x86_64__)
    if (kHasAvx2) {
      const size_t bytes = (8 * static_cast<size_t>(n) * sizeof(float) + 31) / 32 * 32;
      std::unique_ptr<float, TFreeAligned> t(static_cast<float*>(std::aligned_alloc(32, bytes)));
      if (!t) throw std::bad_alloc();
      for (; y < y1; y += 8) {
        const int live = imin(8, y1 - y);
        const uint8_t* rows[8];
        uint8_t* out[8];
        // Rows past the band repeat its last one; their results are dropped.
        for (int k = 0; k < 8; ++k) {
          rows[k] = src.ScanLine(y + imin(k, live - 1));
          out[k] = tmp.ScanLine(y + imin(k, live - 1));
        }
        TransposeRows8(rows, n, t.get());
        HorizontalRows8Avx2(t.get(), rows, out, live, dstW, c);
        if (report)
          for (int k = 1; k <= live; ++k) onProgress(sender, static_cast<int>(factor * (y + k)));
      }
    }
#endif
    for (; y < y1; ++y) {
      HorizontalRowPlain(src.ScanLine(y), tmp.ScanLine(y), dstW, c);
      if (report) onProgress(sender, static_cast<int>(factor * (y + 1)));
    }
  };
  const int64_t work = static_cast<int64_t>(std::max(src.Width(), dstW)) * srcH;
  VXParallelRows(srcH, work, 8, band, [&](int rows) {
    if (onProgress) onProgress(sender, static_cast<int>(factor * rows));
    return true;
  });
}

void VerticalPass(const TBitmap& tmp, TBitmap& dst, const TContributions& c, const TProgressEvent& onProgress,
                  TObject* sender, double factor) {
  const int n = 3 * dst.Width();
  const int dstH = dst.Height();
  auto report = [&](int rows) {
    const double columnsDone = static_cast<double>(dst.Width()) * rows / dstH;
    onProgress(sender, static_cast<int>(factor * (tmp.Height() + columnsDone)));
  };
  // Each temporary row serves several destination rows: a band keeps the rows of
  // one destination row's span as floats, in slots by row number modulo that span.
  int span = 1;
  for (int y = 0; y < dstH; ++y) {
    const auto [lo, hi] = std::minmax_element(c.Index.begin() + c.First[y], c.Index.begin() + c.First[y + 1]);
    if (lo != hi) span = std::max(span, *hi - *lo + 1);
  }
  const bool keepFloats = static_cast<int64_t>(span) * n <= (int64_t(1) << 20);
  auto band = [&](int y0, int y1, bool onCaller) {
    std::vector<const uint8_t*> taps;
    std::vector<const float*> floatTaps;
    std::vector<float> floats(keepFloats && kHasAvx2 ? static_cast<size_t>(span) * n : 0);
    std::vector<int> slotRow(keepFloats ? span : 0, -1);
    std::vector<double> acc;
    for (int y = y0; y < y1; ++y) {
#if defined(__x86_64__)
      if (kHasAvx2) {
        taps.clear();
        for (int e = c.First[y]; e < c.First[y + 1]; ++e) taps.push_back(tmp.ScanLine(c.Index[e]));
        if (c.Accept[y] < 0) {
          VerticalRowDouble(taps.data(), &c.Weight[c.First[y]], c.First[y + 1] - c.First[y], dst.ScanLine(y), n);
        } else if (keepFloats) {
          floatTaps.clear();
          for (int e = c.First[y]; e < c.First[y + 1]; ++e) {
            const int row = c.Index[e], slot = row % span;
            float* f = floats.data() + static_cast<size_t>(slot) * n;
            if (slotRow[slot] != row) {
              WidenRow(tmp.ScanLine(row), f, n);
              slotRow[slot] = row;
            }
            floatTaps.push_back(f);
          }
          VerticalRowAvx2(tmp, floatTaps.data(), dst.ScanLine(y), n, c, y);
        } else {
          VerticalRowAvx2(tmp, taps.data(), dst.ScanLine(y), n, c, y);
        }
      } else
#endif
      {
        acc.resize(2048);
        VerticalRowPlain(tmp, dst.ScanLine(y), n, c, y, acc.data());
      }
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
