#include "vexa/proc/coloradjust.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "vexa/proc/lut512.h"
#include "vexa/proc/procrect.h"

namespace vexa {

using procdetail::ApplyTables;
using procdetail::ClampRect;
using procdetail::Grey;
using procdetail::TRowProgress;

namespace {

bool Prepare24(const TBitmap& bmp, int& x1, int& y1, int& x2, int& y2) {
  return bmp.PixelFormat() == pf24bit && ClampRect(bmp, x1, y1, x2, y2);
}

// The row kernels take everything by value: a byte store may alias any captured
// variable, which would have the compiler reload the loop bound after each byte.

void NegateRow(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

// Multiply-shift form of div 100, exact for the range 0..25245.
inline uint8_t GreyOfSum(uint32_t sum) { return static_cast<uint8_t>((sum * 5243u) >> 19); }

void GreyRowPortable(uint8_t* p, int n) {
  for (int i = 0; i < n; ++i, p += 3) p[0] = p[1] = p[2] = GreyOfSum(7u * p[0] + 71u * p[1] + 21u * p[2]);
}

#if defined(__x86_64__) || defined(__i386__)
#define VEXA_AVX2 __attribute__((target("avx2")))
#define VEXA_VBMI __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// 16 pixels a step. Lane 0 gets pixels 0-3 and 4-7, lane 1 pixels 8-11 and 12-15,
// so that the sums come out in order. Returns the pixels done.
VEXA_AVX2 int GreyRowAvx2(uint8_t* p, int n) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i weights = _mm256_set1_epi32(7 | (71 << 8) | (21 << 16));
  const __m256i ones = _mm256_set1_epi16(1), k = _mm256_set1_epi16(5243);
  // Grey words 0..7 of a lane to output bytes 0..15 and 8..23 of its eight pixels.
  const __m256i outLo = _mm256_setr_epi8(0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10,  //
                                         0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10);
  const __m256i outHi = _mm256_setr_epi8(4, 6, 6, 6, 8, 8, 8, 10, 10, 10, 12, 12, 12, 14, 14, 14,  //
                                         4, 6, 6, 6, 8, 8, 8, 10, 10, 10, 12, 12, 12, 14, 14, 14);
  int i = 0;
  // The last load ends 52 bytes in: 18 pixels must be there.
  for (; i + 18 <= n; i += 16, p += 48) {
    const __m256i a =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 24), reinterpret_cast<const __m128i*>(p));
    const __m256i b =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 36), reinterpret_cast<const __m128i*>(p + 12));
    const __m256i sa = _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(a, spread), weights), ones);
    const __m256i sb = _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(b, spread), weights), ones);
    // (sum x 5243) >> 19 as (sum x 5243) >> 16 >> 3.
    const __m256i g = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_packus_epi32(sa, sb), k), 3);
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(p + 24), reinterpret_cast<__m128i*>(p),
                         _mm256_shuffle_epi8(g, outLo));
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(p + 32), reinterpret_cast<__m128i*>(p + 8),
                         _mm256_shuffle_epi8(g, outHi));
  }
  return i;
}

// Byte permutations of the VBMI grey kernel.
struct TGreyVbmiIndex {
  alignas(64) uint8_t In[64];       // 16 pixels to B, G, R, 0 dwords
  alignas(64) uint8_t Out[2][64];   // 32 grey words to 96 output bytes
  TGreyVbmiIndex() {
    for (int j = 0; j < 16; ++j)
      for (int c = 0; c < 4; ++c) In[4 * j + c] = static_cast<uint8_t>(c < 3 ? 3 * j + c : 0);
    for (int o = 0; o < 128; ++o) {
      // The packed words hold, per 128-bit lane l, pixels 4l..4l+3 and then 16+4l..16+4l+3.
      const int px = o / 3, half = px / 16, q = px % 16;
      Out[o / 64][o % 64] = static_cast<uint8_t>(o < 96 ? 16 * (q / 4) + 8 * half + 2 * (q % 4) : 0);
    }
  }
};

// 32 pixels a step, reading and writing exactly their 96 bytes.
VEXA_VBMI int GreyRowVbmi(uint8_t* p, int n) {
  static const TGreyVbmiIndex ix;
  const __m512i in = _mm512_load_si512(ix.In), out0 = _mm512_load_si512(ix.Out[0]),
                out1 = _mm512_load_si512(ix.Out[1]);
  const __m512i weights = _mm512_set1_epi32(7 | (71 << 8) | (21 << 16));
  const __m512i ones = _mm512_set1_epi16(1), k = _mm512_set1_epi16(5243);
  const __mmask64 all = ~__mmask64(0), k48 = (__mmask64(1) << 48) - 1;
  int i = 0;
  for (; i + 32 <= n; i += 32, p += 96) {
    const __m512i a = _mm512_maskz_permutexvar_epi8(all, in, _mm512_maskz_loadu_epi8(k48, p));
    const __m512i b = _mm512_maskz_permutexvar_epi8(all, in, _mm512_maskz_loadu_epi8(k48, p + 48));
    const __m512i sa = _mm512_madd_epi16(_mm512_maddubs_epi16(a, weights), ones);
    const __m512i sb = _mm512_madd_epi16(_mm512_maddubs_epi16(b, weights), ones);
    const __m512i g = _mm512_srli_epi16(_mm512_mulhi_epu16(_mm512_packus_epi32(sa, sb), k), 3);
    _mm512_storeu_si512(p, _mm512_maskz_permutexvar_epi8(all, out0, g));
    // A plain 32-byte store: a masked one would span the next step's first load and
    // stall it until the store retires.
    const __m512i tail = _mm512_maskz_permutexvar_epi8(all, out1, g);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 64),
                        _mm512_mask_extracti64x4_epi64(_mm256_setzero_si256(), 0xF, tail, 0));
  }
  return i;
}

// 64 pixels a step: three registers, each with its own channel pattern.
VEXA_VBMI int ApplyTablesRowVbmi(uint8_t* p, int n, const uint8_t* tb, const uint8_t* tg, const uint8_t* tr) {
  using procdetail::Lookup;
  const procdetail::TLut512 lb = procdetail::LoadLut(tb), lg = procdetail::LoadLut(tg), lr = procdetail::LoadLut(tr);
  const bool one = tb == tg && tg == tr;
  __mmask64 isB[3] = {0, 0, 0}, isG[3] = {0, 0, 0};
  for (int b = 0; b < 192; ++b) {
    if (b % 3 == 0) isB[b / 64] |= __mmask64(1) << (b % 64);
    if (b % 3 == 1) isG[b / 64] |= __mmask64(1) << (b % 64);
  }
  int i = 0;
  for (; i + 64 <= n; i += 64, p += 192) {
    for (int r = 0; r < 3; ++r) {
      const __m512i x = _mm512_loadu_si512(p + 64 * r);
      __m512i v = Lookup(lb, x);
      if (!one) v = _mm512_mask_blend_epi8(isB[r], _mm512_mask_blend_epi8(isG[r], Lookup(lr, x), Lookup(lg, x)), v);
      _mm512_storeu_si512(p + 64 * r, v);
    }
  }
  return i;
}

// 64 pixels a step: three registers of channel bytes compared with the range,
// the per-byte results folded to one bit per pixel across register boundaries.
VEXA_VBMI int CastRangeRowVbmi(uint8_t* p, int n, TRGB begin, TRGB end, TRGB cast) {
  alignas(64) uint8_t lo[192], hi[192], to[192];
  for (int b = 0; b < 192; ++b) {
    const int ch = b % 3;
    lo[b] = ch == 0 ? begin.b : ch == 1 ? begin.g : begin.r;
    hi[b] = ch == 0 ? end.b : ch == 1 ? end.g : end.r;
    to[b] = ch == 0 ? cast.b : ch == 1 ? cast.g : cast.r;
  }
  __m512i vlo[3], vhi[3], vto[3];
  for (int r = 0; r < 3; ++r) {
    vlo[r] = _mm512_load_si512(lo + 64 * r);
    vhi[r] = _mm512_load_si512(hi + 64 * r);
    vto[r] = _mm512_load_si512(to + 64 * r);
  }
  // Bit 3j of the 192-bit string: the first byte of pixel j.
  constexpr uint64_t kFirst[3] = {0x9249249249249249ull, 0x4924924924924924ull, 0x2492492492492492ull};
  int i = 0;
  for (; i + 64 <= n; i += 64, p += 192) {
    __m512i x[3];
    uint64_t m[3];
    for (int r = 0; r < 3; ++r) {
      x[r] = _mm512_loadu_si512(p + 64 * r);
      m[r] = _mm512_cmpge_epu8_mask(x[r], vlo[r]) & _mm512_cmple_epu8_mask(x[r], vhi[r]);
    }
    // The string shifted down by one and two bits.
    const uint64_t s1[3] = {m[0] >> 1 | m[1] << 63, m[1] >> 1 | m[2] << 63, m[2] >> 1};
    const uint64_t s2[3] = {m[0] >> 2 | m[1] << 62, m[1] >> 2 | m[2] << 62, m[2] >> 2};
    uint64_t ok[3];
    for (int r = 0; r < 3; ++r) ok[r] = m[r] & s1[r] & s2[r] & kFirst[r];
    if (!(ok[0] | ok[1] | ok[2])) continue;
    // Back to all three bytes of each pixel, carrying into the next word.
    const uint64_t all[3] = {ok[0] | ok[0] << 1 | ok[0] << 2,
                             ok[1] | ok[1] << 1 | ok[1] << 2 | ok[0] >> 63 | ok[0] >> 62,
                             ok[2] | ok[2] << 1 | ok[2] << 2 | ok[1] >> 63 | ok[1] >> 62};
    for (int r = 0; r < 3; ++r) _mm512_storeu_si512(p + 64 * r, _mm512_mask_blend_epi8(all[r], x[r], vto[r]));
  }
  return i;
}

bool HasVbmi() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}
#endif

void CastRangeRow(uint8_t* p, int n, TRGB begin, TRGB end, TRGB cast) {
  int i = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (procdetail::gColourSimd >= 3) i = CastRangeRowVbmi(p, n, begin, end, cast);
#endif
  for (p += 3 * i; i < n; ++i, p += 3) {
    if (p[2] >= begin.r && p[2] <= end.r && p[1] >= begin.g && p[1] <= end.g && p[0] >= begin.b && p[0] <= end.b)
      p[0] = cast.b, p[1] = cast.g, p[2] = cast.r;
  }
}

void GreyRow(uint8_t* p, int n) {
  int done = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (procdetail::gColourSimd >= 3)
    done = GreyRowVbmi(p, n);
  else if (procdetail::gColourSimd >= 1)
    done = GreyRowAvx2(p, n);
#endif
  GreyRowPortable(p + 3 * done, n - done);
}

double HueToChannel(double m1, double m2, double h) {
  if (h < 0)
    h += 1;
  else if (h > 1)
    h -= 1;
  if (6 * h < 1) return m1 + (m2 - m1) * 6 * h;
  if (2 * h < 1) return m2;
  if (3 * h < 2) return m1 + (m2 - m1) * (2.0 / 3 - h) * 6;
  return m1;
}

uint8_t UnitToByte(double v) { return static_cast<uint8_t>(blimit(static_cast<int>(v * 255))); }

// round(c / 255 * 99) and round(c / 99 * 255); neither quotient can land on a half.
struct THsvScales {
  std::array<uint8_t, 256> To99;
  std::array<uint8_t, 100> To255;
  THsvScales() {
    for (int c = 0; c < 256; ++c) To99[c] = static_cast<uint8_t>(std::lround(c / 255.0 * 99));
    for (int c = 0; c < 100; ++c) To255[c] = static_cast<uint8_t>(std::lround(c / 99.0 * 255));
  }
};
const THsvScales& HsvScales() {
  static const THsvScales s;
  return s;
}

void RGB99ToHSV(int r, int g, int b, int& h, int& s, int& v) {
  v = imax(r, imax(g, b));
  int m = imin(r, imin(g, b));
  s = v == 0 ? 0 : (v - m) * 99 / v;
  if (s == 0) {
    h = 0;
    return;
  }
  int d = v - m;
  if (r == v)
    h = (g - b) * 60 / d;
  else if (g == v)
    h = (b - r) * 60 / d + 120;
  else
    h = (r - g) * 60 / d + 240;
  if (h < 0) h += 360;
}

}  // namespace

#if defined(__x86_64__) || defined(__i386__)
int procdetail::gColourSimd = HasVbmi()                                                    ? 3
                              : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 2
                              : __builtin_cpu_supports("avx2")                                  ? 1
                                                                                                : 0;
#else
int procdetail::gColourSimd = 0;
#endif

void procdetail::ApplyTablesRow(uint8_t* p, int n, const uint8_t* tb, const uint8_t* tg, const uint8_t* tr) {
  int i = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (gColourSimd >= 3) i = ApplyTablesRowVbmi(p, n, tb, tg, tr);
#endif
  for (p += 3 * i; i < n; ++i, p += 3) {
    p[0] = tb[p[0]];
    p[1] = tg[p[1]];
    p[2] = tr[p[2]];
  }
}

void RGB2HSL(TRGB rgb, double& h, double& s, double& l) {
  double r = rgb.r / 255.0, g = rgb.g / 255.0, b = rgb.b / 255.0;
  double mx = dmax(r, dmax(g, b)), mn = dmin(r, dmin(g, b));
  l = (mx + mn) / 2;
  if (mx == mn) {
    s = 0;
    h = 0;
    return;
  }
  s = l < 0.5 ? (mx - mn) / (mx + mn) : (mx - mn) / (2 - mx - mn);
  double d = mx - mn;
  if (mx == r)
    h = (g - b) / d;
  else if (mx == g)
    h = 2 + (b - r) / d;
  else
    h = 4 + (r - g) / d;
  h /= 6;
  if (h < 0) h += 1;
}

void HSL2RGB(TRGB& rgb, double h, double s, double l) {
  h = h < 0 ? 0 : (h > 1 ? 1 : h);
  s = s < 0 ? 0 : (s > 1 ? 1 : s);
  l = l < 0 ? 0 : (l > 1 ? 1 : l);
  if (s == 0) {
    rgb.r = rgb.g = rgb.b = UnitToByte(l);
    return;
  }
  double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
  double m1 = 2 * l - m2;
  rgb.r = UnitToByte(HueToChannel(m1, m2, h + 1.0 / 3));
  rgb.g = UnitToByte(HueToChannel(m1, m2, h));
  rgb.b = UnitToByte(HueToChannel(m1, m2, h - 1.0 / 3));
}

void RGB2HSV(TRGB rgb, int& h, int& s, int& v) {
  const auto& sc = HsvScales();
  RGB99ToHSV(sc.To99[rgb.r], sc.To99[rgb.g], sc.To99[rgb.b], h, s, v);
}

void HSV2RGB(TRGB& rgb, int h, int s, int v) {
  h = ilimit(h, 0, 359);
  s = ilimit(s, 0, 99);
  v = ilimit(v, 0, 99);
  int r, g, b;
  if (s == 0) {
    r = g = b = v;
  } else {
    int f = h % 60;
    int p = v - s * v / 99;
    int q = v - s * v * f / 5940;
    int t = v - s * v * (60 - f) / 5940;
    switch (h / 60) {
      case 0: r = v, g = t, b = p; break;
      case 1: r = q, g = v, b = p; break;
      case 2: r = p, g = v, b = t; break;
      case 3: r = p, g = q, b = v; break;
      case 4: r = t, g = p, b = v; break;
      default: r = v, g = p, b = q; break;
    }
  }
  const auto& sc = HsvScales();
  rgb.r = sc.To255[r];
  rgb.g = sc.To255[g];
  rgb.b = sc.To255[b];
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Four pixels at a time, every branch of the conversions replaced by a select
// between both outcomes. Each value goes through the same IEEE operations in the
// same order as RGB2HSL / HSL2RGB, so the bytes are identical; FMA stays off,
// since a fused multiply-add would round differently.
struct THslAvx2 {
  double Unit[256];  // c / 255.0
  double Dh, Ds, Dl;
};

__attribute__((target("avx2"))) inline __m256d Sel(__m256d mask, __m256d yes, __m256d no) {
  return _mm256_blendv_pd(no, yes, mask);
}

__attribute__((target("avx2"))) inline __m256d Clamp01(__m256d v) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1);
  return Sel(_mm256_cmp_pd(v, zero, _CMP_LT_OQ), zero, Sel(_mm256_cmp_pd(v, one, _CMP_GT_OQ), one, v));
}

__attribute__((target("avx2"))) inline __m256d HueToChannel4(__m256d m1, __m256d m2, __m256d h) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1);
  h = Sel(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), _mm256_add_pd(h, one),
          Sel(_mm256_cmp_pd(h, one, _CMP_GT_OQ), _mm256_sub_pd(h, one), h));
  const __m256d six = _mm256_set1_pd(6), diff = _mm256_sub_pd(m2, m1);
  const __m256d rise = _mm256_add_pd(m1, _mm256_mul_pd(_mm256_mul_pd(diff, six), h));
  const __m256d fall =
      _mm256_add_pd(m1, _mm256_mul_pd(_mm256_mul_pd(diff, _mm256_sub_pd(_mm256_set1_pd(2.0 / 3), h)), six));
  __m256d v = Sel(_mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(3), h), _mm256_set1_pd(2), _CMP_LT_OQ), fall, m1);
  v = Sel(_mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(2), h), one, _CMP_LT_OQ), m2, v);
  return Sel(_mm256_cmp_pd(_mm256_mul_pd(six, h), one, _CMP_LT_OQ), rise, v);
}

// truncate(v * 255) clamped to 0..255, as UnitToByte.
__attribute__((target("avx2"))) inline __m128i ToByte4(__m256d v) {
  const __m128i i = _mm256_cvttpd_epi32(_mm256_mul_pd(v, _mm256_set1_pd(255)));
  return _mm_min_epi32(_mm_max_epi32(i, _mm_setzero_si128()), _mm_set1_epi32(255));
}

// Converts the four pixels at p (12 bytes) in place.
__attribute__((target("avx2"))) inline void HslVar4(const THslAvx2& k, uint8_t* p) {
  // Plain loads: gathers are slow on several processors.
  const double* u = k.Unit;
  const __m256d b = _mm256_setr_pd(u[p[0]], u[p[3]], u[p[6]], u[p[9]]);
  const __m256d g = _mm256_setr_pd(u[p[1]], u[p[4]], u[p[7]], u[p[10]]);
  const __m256d r = _mm256_setr_pd(u[p[2]], u[p[5]], u[p[8]], u[p[11]]);
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1), half = _mm256_set1_pd(0.5),
                two = _mm256_set1_pd(2);

  const __m256d mx = _mm256_max_pd(r, _mm256_max_pd(g, b)), mn = _mm256_min_pd(r, _mm256_min_pd(g, b));
  const __m256d grey = _mm256_cmp_pd(mx, mn, _CMP_EQ_OQ);
  // Halving is exact, so multiplying by 0.5 gives the quotient bit for bit.
  __m256d l = _mm256_mul_pd(_mm256_add_pd(mx, mn), half);
  const __m256d d = _mm256_sub_pd(mx, mn);
  const __m256d den = Sel(_mm256_cmp_pd(l, half, _CMP_LT_OQ), _mm256_add_pd(mx, mn),
                          _mm256_sub_pd(_mm256_sub_pd(two, mx), mn));
  __m256d s = _mm256_andnot_pd(grey, _mm256_div_pd(d, den));
  const __m256d isR = _mm256_cmp_pd(mx, r, _CMP_EQ_OQ), isG = _mm256_cmp_pd(mx, g, _CMP_EQ_OQ);
  const __m256d num = Sel(isR, _mm256_sub_pd(g, b), Sel(isG, _mm256_sub_pd(b, r), _mm256_sub_pd(r, g)));
  const __m256d q = _mm256_div_pd(num, d);
  __m256d h = Sel(isR, q, _mm256_add_pd(Sel(isG, two, _mm256_set1_pd(4)), q));
  h = _mm256_div_pd(h, _mm256_set1_pd(6));
  h = Sel(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), _mm256_add_pd(h, one), h);
  h = _mm256_andnot_pd(grey, h);

  h = Clamp01(_mm256_add_pd(h, _mm256_set1_pd(k.Dh)));
  s = Clamp01(_mm256_add_pd(s, _mm256_set1_pd(k.Ds)));
  l = Clamp01(_mm256_add_pd(l, _mm256_set1_pd(k.Dl)));
  const __m256d m2 = Sel(_mm256_cmp_pd(l, half, _CMP_LE_OQ), _mm256_mul_pd(l, _mm256_add_pd(one, s)),
                         _mm256_sub_pd(_mm256_add_pd(l, s), _mm256_mul_pd(l, s)));
  const __m256d m1 = _mm256_sub_pd(_mm256_mul_pd(two, l), m2);
  const __m256d third = _mm256_set1_pd(1.0 / 3);
  __m128i outR = ToByte4(HueToChannel4(m1, m2, _mm256_add_pd(h, third)));
  __m128i outG = ToByte4(HueToChannel4(m1, m2, h));
  __m128i outB = ToByte4(HueToChannel4(m1, m2, _mm256_sub_pd(h, third)));
  // No saturation left: grey at the new luminance.
  const __m128i flat = _mm_castps_si128(_mm256_cvtpd_ps(_mm256_cmp_pd(s, zero, _CMP_EQ_OQ)));
  const __m128i lum = ToByte4(l);
  outR = _mm_blendv_epi8(outR, lum, flat);
  outG = _mm_blendv_epi8(outG, lum, flat);
  outB = _mm_blendv_epi8(outB, lum, flat);

  // Interleave back to B, G, R bytes.
  const __m128i bg = _mm_or_si128(outB, _mm_slli_epi32(outG, 8));
  const __m128i bgr = _mm_or_si128(bg, _mm_slli_epi32(outR, 16));
  const __m128i packed =
      _mm_shuffle_epi8(bgr, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  std::memcpy(p, &packed, 12);
}

__attribute__((target("avx2"))) void HslVarRowAvx2(const THslAvx2& k, uint8_t* p, int n, int& done) {
  int i = 0;
  for (; i + 4 <= n; i += 4, p += 12) HslVar4(k, p);
  done = i;
}

// Converts n packed pixels; the buffer holds whole groups of four.
__attribute__((target("avx2"))) void HslVarPackedAvx2(const THslAvx2& k, uint8_t* p, int n) {
  for (int i = 0; i < n; i += 4, p += 12) HslVar4(k, p);
}

// Eight pixels at a time with no division. What depends on the largest and the
// smallest channel alone (the saturation, the luminance, and after the variation
// the two levels m1 and m2 of HSL2RGB) comes from a table over those two bytes,
// built with the scalar code. The hue quotients are correctly rounded through a
// fused multiply-add correction: (g - b) / d from the tabled RN(1 / d), x / 6
// from RN(1 / 6), and c / 255 likewise; that these equal the divisions for every
// 24-bit colour is checked by the tests over all of them. Elsewhere no operation
// may be fused: the pragma keeps the compiler from contracting a multiply and an add.
#if defined(__clang__)
#pragma clang fp contract(off)
#else
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
// The AVX-512 headers of GCC 12 start some results from an undefined vector.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

struct THsl512 {
  // Indexed by mx (mx + 1) / 2 + mn for the channel bytes mx >= mn.
  std::vector<double> M1, M2, Rd;
  double Dh;
  // RN(6 h) < 1 and RN(3 h) < 2 exactly when h is below these.
  double Below6, Below3;
  alignas(64) uint8_t Spread[3][32];  // 8 pixels' bytes to the low byte of dwords, per channel
  alignas(64) uint8_t Gather[64];     // packed results to 8 B, G, R pixels
};

// The least h with RN(k h) >= limit.
double ScaledThreshold(double k, double limit) {
  double t = limit / k;
  while (k * t >= limit) t = std::nextafter(t, 0.0);
  while (k * t < limit) t = std::nextafter(t, 2.0);
  return t;
}

void BuildHsl512(THsl512& k, double dh, double ds, double dl) {
  k.Dh = dh;
  k.Below6 = ScaledThreshold(6, 1);
  k.Below3 = ScaledThreshold(3, 2);
  k.M1.resize(32896), k.M2.resize(32896), k.Rd.resize(32896);
  for (int mx = 0; mx < 256; ++mx)
    for (int mn = 0; mn <= mx; ++mn) {
      const size_t i = size_t(mx * (mx + 1) / 2 + mn);
      // As RGB2HSL and HSL2RGB: the colour (mx, mn, mn) has these s and l.
      TRGB c{uint8_t(mn), uint8_t(mn), uint8_t(mx)};
      double h, s, l;
      RGB2HSL(c, h, s, l);
      s += ds, l += dl;
      s = s < 0 ? 0 : (s > 1 ? 1 : s);
      l = l < 0 ? 0 : (l > 1 ? 1 : l);
      if (s == 0) {
        // Every channel then comes out as l: m2 - m1 = 0 leaves m1 on every branch.
        k.M1[i] = k.M2[i] = l;
      } else {
        const double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
        k.M2[i] = m2;
        k.M1[i] = 2 * l - m2;
      }
      k.Rd[i] = 1 / (c.r / 255.0 - c.b / 255.0);
    }
  for (int ch = 0; ch < 3; ++ch)
    for (int j = 0; j < 32; ++j) k.Spread[ch][j] = static_cast<uint8_t>(j % 4 == 0 && j < 32 ? 3 * (j / 4) + ch : 0);
  // Two saturating packs of (B, G) and (R, 0) dwords leave pixel j's channel bytes here.
  for (int o = 0; o < 64; ++o) {
    const int px = (o / 3) % 8, ch = o % 3;
    const int at = ch == 0 ? 16 * (px / 4) + px % 4 : ch == 1 ? 16 * (2 + px / 4) + px % 4 : 16 * (px / 4) + 4 + px % 4;
    k.Gather[o] = static_cast<uint8_t>(at);
  }
}

#define VEXA_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,avx512vbmi")))

VEXA_AVX512 inline __m512d ExactUnit(__m256i c) {
  const __m512d x = _mm512_cvtepi32_pd(c), k = _mm512_set1_pd(255), r = _mm512_set1_pd(1 / 255.0);
  const __m512d t = _mm512_mul_pd(x, r);
  return _mm512_fmadd_pd(_mm512_fnmadd_pd(t, k, x), r, t);
}

VEXA_AVX512 inline __m512d Clamp01x8(__m512d v) {
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1);
  v = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(v, zero, _CMP_LT_OQ), v, zero);
  return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(v, one, _CMP_GT_OQ), v, one);
}

// HueToChannel for a hue already in [0, 1].
VEXA_AVX512 inline __m256i Channel8(const THsl512& k, __m512d m1, __m512d m2, __m512d diff, __m512d diff6, __m512d h) {
  const __m512d rise = _mm512_add_pd(m1, _mm512_mul_pd(diff6, h));
  const __m512d slope = _mm512_mul_pd(diff, _mm512_sub_pd(_mm512_set1_pd(2.0 / 3), h));
  const __m512d fall = _mm512_add_pd(m1, _mm512_mul_pd(slope, _mm512_set1_pd(6)));
  __m512d v = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(h, _mm512_set1_pd(k.Below3), _CMP_LT_OQ), m1, fall);
  v = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(h, _mm512_set1_pd(0.5), _CMP_LT_OQ), v, m2);
  v = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(h, _mm512_set1_pd(k.Below6), _CMP_LT_OQ), v, rise);
  return _mm512_cvttpd_epi32(_mm512_mul_pd(v, _mm512_set1_pd(255)));
}

// Eight pixels' channels as dwords, and the index of their (largest, smallest) pair.
struct TPixels8 {
  __m256i B, G, R, Max, Min, At;
};

// One channel of eight pixels spread into the low bytes of eight dwords.
VEXA_AVX512 inline __m256i Spread8(const THsl512& k, __m256i raw, int ch) {
  return _mm256_maskz_permutexvar_epi8(0x11111111, _mm256_load_si256(reinterpret_cast<const __m256i*>(k.Spread[ch])),
                                       raw);
}

VEXA_AVX512 inline TPixels8 Load8(const THsl512& k, const uint8_t* p) {
  const __m256i raw = _mm256_maskz_loadu_epi8(0xFFFFFF, p);
  TPixels8 px;
  px.B = Spread8(k, raw, 0), px.G = Spread8(k, raw, 1), px.R = Spread8(k, raw, 2);
  px.Max = _mm256_max_epi32(px.R, _mm256_max_epi32(px.G, px.B));
  px.Min = _mm256_min_epi32(px.R, _mm256_min_epi32(px.G, px.B));
  // mx (mx + 1) stays below 65536: a 16-bit product is exact.
  const __m256i tri = _mm256_srli_epi32(_mm256_mullo_epi16(px.Max, _mm256_add_epi32(px.Max, _mm256_set1_epi32(1))), 1);
  px.At = _mm256_add_epi32(tri, px.Min);
  return px;
}

// The hue of RGB2HSL.
VEXA_AVX512 inline __m512d Hue8(const THsl512& k, const TPixels8& px) {
  const __mmask8 isR = _mm256_cmpeq_epi32_mask(px.Max, px.R), isG = _mm256_cmpeq_epi32_mask(px.Max, px.G) & ~isR;
  const __mmask8 grey = _mm256_cmpeq_epi32_mask(px.Max, px.Min);
  const __m512d rd = _mm512_i32gather_pd(px.At, k.Rd.data(), 8);
  const __m512d b = ExactUnit(px.B), g = ExactUnit(px.G), r = ExactUnit(px.R);
  const __m512d mx = _mm512_max_pd(r, _mm512_max_pd(g, b)), mn = _mm512_min_pd(r, _mm512_min_pd(g, b));
  const __m512d d = _mm512_sub_pd(mx, mn);
  const __m512d num = _mm512_mask_blend_pd(isR, _mm512_mask_blend_pd(isG, _mm512_sub_pd(r, g), _mm512_sub_pd(b, r)),
                                           _mm512_sub_pd(g, b));
  const __m512d q0 = _mm512_mul_pd(num, rd);
  const __m512d q = _mm512_fmadd_pd(_mm512_fnmadd_pd(q0, d, num), rd, q0);
  const __m512d base = _mm512_mask_blend_pd(isG, _mm512_set1_pd(4), _mm512_set1_pd(2));
  const __m512d x = _mm512_mask_blend_pd(isR, _mm512_add_pd(base, q), q);
  const __m512d sixth = _mm512_set1_pd(1.0 / 6);
  const __m512d y = _mm512_mul_pd(x, sixth);
  __m512d h = _mm512_fmadd_pd(_mm512_fnmadd_pd(y, _mm512_set1_pd(6), x), sixth, y);
  const __m512d zero = _mm512_setzero_pd();
  h = _mm512_mask_add_pd(h, _mm512_cmp_pd_mask(h, zero, _CMP_LT_OQ), h, _mm512_set1_pd(1));
  return _mm512_mask_blend_pd(grey, h, zero);
}

// Converts the eight pixels at p (24 bytes) in place.
VEXA_AVX512 inline void HslVar8(const THsl512& k, uint8_t* p) {
  const TPixels8 px = Load8(k, p);
  const __m512d m1 = _mm512_i32gather_pd(px.At, k.M1.data(), 8), m2 = _mm512_i32gather_pd(px.At, k.M2.data(), 8);
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1);
  __m512d h = Hue8(k, px);
  h = Clamp01x8(_mm512_add_pd(h, _mm512_set1_pd(k.Dh)));

  const __m512d diff = _mm512_sub_pd(m2, m1), diff6 = _mm512_mul_pd(diff, _mm512_set1_pd(6));
  const __m512d third = _mm512_set1_pd(1.0 / 3);
  __m512d hr = _mm512_add_pd(h, third), hb = _mm512_sub_pd(h, third);
  hr = _mm512_mask_sub_pd(hr, _mm512_cmp_pd_mask(hr, one, _CMP_GT_OQ), hr, one);
  hb = _mm512_mask_add_pd(hb, _mm512_cmp_pd_mask(hb, zero, _CMP_LT_OQ), hb, one);
  const __m256i outR = Channel8(k, m1, m2, diff, diff6, hr);
  const __m256i outG = Channel8(k, m1, m2, diff, diff6, h);
  const __m256i outB = Channel8(k, m1, m2, diff, diff6, hb);
  // Saturating packs clamp to 0..255 as UnitToByte does.
  const __m512i bg = _mm512_inserti64x4(_mm512_zextsi256_si512(outB), outG, 1);
  const __m512i words = _mm512_packus_epi32(bg, _mm512_zextsi256_si512(outR));
  const __m512i bytes = _mm512_packus_epi16(words, words);
  const __m512i out = _mm512_maskz_permutexvar_epi8(~__mmask64(0), _mm512_load_si512(k.Gather), bytes);
  // Plain stores: a masked one would span the next pixels' load and stall it.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm512_castsi512_si128(out));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm512_extracti32x4_epi32(out, 1));
}

VEXA_AVX512 void HslVarRow512(const THsl512& k, uint8_t* p, int n, int& done) {
  int i = 0;
  for (; i + 8 <= n; i += 8, p += 24) HslVar8(k, p);
  done = i;
}

// Converts n packed pixels; the buffer holds whole groups of eight.
VEXA_AVX512 void HslVarPacked512(const THsl512& k, uint8_t* p, int n) {
  for (int i = 0; i < n; i += 8, p += 24) HslVar8(k, p);
}

VEXA_AVX512 void Hues512(const THsl512& k, const uint8_t* p, int n, double* h) {
  for (int i = 0; i < n; i += 8, p += 24) _mm512_storeu_pd(h + i, Hue8(k, Load8(k, p)));
}

// The same in four lanes for processors with AVX2 and FMA but no AVX-512.
#define VEXA_FMA __attribute__((target("avx2,fma")))

VEXA_FMA inline __m256d ExactUnit4(__m128i c) {
  const __m256d x = _mm256_cvtepi32_pd(c), k = _mm256_set1_pd(255), r = _mm256_set1_pd(1 / 255.0);
  const __m256d t = _mm256_mul_pd(x, r);
  return _mm256_fmadd_pd(_mm256_fnmadd_pd(t, k, x), r, t);
}

// A lane mask of four dwords widened to four doubles.
VEXA_FMA inline __m256d Wide(__m128i m) { return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(m)); }

struct TPixels4 {
  __m128i B, G, R, Max, Min, At;
};

// Reads exactly the 12 bytes of four pixels.
VEXA_FMA inline TPixels4 Load4(const uint8_t* p) {
  int32_t last;
  std::memcpy(&last, p + 8, 4);
  const __m128i raw = _mm_insert_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), last, 2);
  TPixels4 px;
  px.B = _mm_shuffle_epi8(raw, _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
  px.G = _mm_shuffle_epi8(raw, _mm_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1));
  px.R = _mm_shuffle_epi8(raw, _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1));
  px.Max = _mm_max_epi32(px.R, _mm_max_epi32(px.G, px.B));
  px.Min = _mm_min_epi32(px.R, _mm_min_epi32(px.G, px.B));
  const __m128i tri = _mm_srli_epi32(_mm_mullo_epi16(px.Max, _mm_add_epi32(px.Max, _mm_set1_epi32(1))), 1);
  px.At = _mm_add_epi32(tri, px.Min);
  return px;
}

VEXA_FMA inline __m256d Sel4(__m256d mask, __m256d yes, __m256d no) { return _mm256_blendv_pd(no, yes, mask); }

VEXA_FMA inline __m256d Hue4(const THsl512& k, const TPixels4& px) {
  const __m128i isR32 = _mm_cmpeq_epi32(px.Max, px.R);
  const __m256d isR = Wide(isR32), isG = Wide(_mm_andnot_si128(isR32, _mm_cmpeq_epi32(px.Max, px.G)));
  const __m256d grey = Wide(_mm_cmpeq_epi32(px.Max, px.Min));
  const __m256d rd = _mm256_i32gather_pd(k.Rd.data(), px.At, 8);
  const __m256d b = ExactUnit4(px.B), g = ExactUnit4(px.G), r = ExactUnit4(px.R);
  const __m256d mx = _mm256_max_pd(r, _mm256_max_pd(g, b)), mn = _mm256_min_pd(r, _mm256_min_pd(g, b));
  const __m256d d = _mm256_sub_pd(mx, mn);
  const __m256d num = Sel4(isR, _mm256_sub_pd(g, b), Sel4(isG, _mm256_sub_pd(b, r), _mm256_sub_pd(r, g)));
  const __m256d q0 = _mm256_mul_pd(num, rd);
  const __m256d q = _mm256_fmadd_pd(_mm256_fnmadd_pd(q0, d, num), rd, q0);
  const __m256d x = Sel4(isR, q, _mm256_add_pd(Sel4(isG, _mm256_set1_pd(2), _mm256_set1_pd(4)), q));
  const __m256d sixth = _mm256_set1_pd(1.0 / 6);
  const __m256d y = _mm256_mul_pd(x, sixth);
  __m256d h = _mm256_fmadd_pd(_mm256_fnmadd_pd(y, _mm256_set1_pd(6), x), sixth, y);
  const __m256d zero = _mm256_setzero_pd();
  h = Sel4(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), _mm256_add_pd(h, _mm256_set1_pd(1)), h);
  return _mm256_andnot_pd(grey, h);
}

VEXA_FMA inline __m128i Channel4(const THsl512& k, __m256d m1, __m256d m2, __m256d diff, __m256d diff6, __m256d h) {
  const __m256d rise = _mm256_add_pd(m1, _mm256_mul_pd(diff6, h));
  const __m256d slope = _mm256_mul_pd(diff, _mm256_sub_pd(_mm256_set1_pd(2.0 / 3), h));
  const __m256d fall = _mm256_add_pd(m1, _mm256_mul_pd(slope, _mm256_set1_pd(6)));
  __m256d v = Sel4(_mm256_cmp_pd(h, _mm256_set1_pd(k.Below3), _CMP_LT_OQ), fall, m1);
  v = Sel4(_mm256_cmp_pd(h, _mm256_set1_pd(0.5), _CMP_LT_OQ), m2, v);
  v = Sel4(_mm256_cmp_pd(h, _mm256_set1_pd(k.Below6), _CMP_LT_OQ), rise, v);
  return _mm256_cvttpd_epi32(_mm256_mul_pd(v, _mm256_set1_pd(255)));
}

VEXA_FMA inline void HslVar4Fma(const THsl512& k, uint8_t* p) {
  const TPixels4 px = Load4(p);
  const __m256d m1 = _mm256_i32gather_pd(k.M1.data(), px.At, 8), m2 = _mm256_i32gather_pd(k.M2.data(), px.At, 8);
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1);
  __m256d h = _mm256_add_pd(Hue4(k, px), _mm256_set1_pd(k.Dh));
  h = Sel4(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), zero, h);
  h = Sel4(_mm256_cmp_pd(h, one, _CMP_GT_OQ), one, h);
  const __m256d diff = _mm256_sub_pd(m2, m1), diff6 = _mm256_mul_pd(diff, _mm256_set1_pd(6));
  const __m256d third = _mm256_set1_pd(1.0 / 3);
  __m256d hr = _mm256_add_pd(h, third), hb = _mm256_sub_pd(h, third);
  hr = Sel4(_mm256_cmp_pd(hr, one, _CMP_GT_OQ), _mm256_sub_pd(hr, one), hr);
  hb = Sel4(_mm256_cmp_pd(hb, zero, _CMP_LT_OQ), _mm256_add_pd(hb, one), hb);
  const __m128i outR = Channel4(k, m1, m2, diff, diff6, hr), outG = Channel4(k, m1, m2, diff, diff6, h),
                outB = Channel4(k, m1, m2, diff, diff6, hb);
  // Saturating packs clamp to 0..255 as UnitToByte does: B0-3 G0-3 R0-3 R0-3.
  const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(outB, outG), _mm_packus_epi32(outR, outR));
  const __m128i out = _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), out);
  const int32_t last = _mm_extract_epi32(out, 2);
  std::memcpy(p + 8, &last, 4);
}

VEXA_FMA void HslVarRowFma(const THsl512& k, uint8_t* p, int n, int& done) {
  int i = 0;
  for (; i + 4 <= n; i += 4, p += 12) HslVar4Fma(k, p);
  done = i;
}

VEXA_FMA void HslVarPackedFma(const THsl512& k, uint8_t* p, int n) {
  for (int i = 0; i < n; i += 4, p += 12) HslVar4Fma(k, p);
}

VEXA_FMA void HuesFma(const THsl512& k, const uint8_t* p, int n, double* h) {
  for (int i = 0; i < n; i += 4, p += 12) _mm256_storeu_pd(h + i, Hue4(k, Load4(p)));
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
#endif

}  // namespace

bool procdetail::HslKernelHues(const uint8_t* bgr, int n, double* h) {
#if defined(__x86_64__) || defined(__i386__)
  if (gColourSimd < 2) return false;
  static const THsl512 k = [] {
    THsl512 t;
    BuildHsl512(t, 0, 0, 0);
    return t;
  }();
  if (gColourSimd >= 3)
    Hues512(k, bgr, n, h);
  else
    HuesFma(k, bgr, n, h);
  return true;
#else
  (void)bgr, (void)n, (void)h;
  return false;
#endif
}

void _HSLvar(TBitmap& bmp, int hue, int sat, int lum, int x1, int y1, int x2, int y2,
             const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  const double dh = hue / 360.0, ds = sat / 100.0, dl = lum / 100.0;
#if defined(__x86_64__) || defined(__i386__)
  if (procdetail::gColourSimd >= 1) {
    THslAvx2 k;
    for (int c = 0; c < 256; ++c) k.Unit[c] = c / 255.0;
    k.Dh = dh, k.Ds = ds, k.Dl = dl;
    // The eight-pixel kernel's table takes as long as the four-pixel kernel needs
    // for some 120000 pixels, and saves about half of that time on each one.
    const bool wide = procdetail::gColourSimd >= 2 && int64_t(x2 - x1 + 1) * (y2 - y1 + 1) >= (1 << 18);
    const bool eight = procdetail::gColourSimd >= 3;
    THsl512 k8;
    if (wide) BuildHsl512(k8, dh, ds, dl);
    auto convertRow = [&](uint8_t* p, int count, int& done) {
      if (!wide)
        HslVarRowAvx2(k, p, count, done);
      else if (eight)
        HslVarRow512(k8, p, count, done);
      else
        HslVarRowFma(k8, p, count, done);
    };
    auto convertPacked = [&](uint8_t* p, int count) {
      if (!wide)
        HslVarPackedAvx2(k, p, count);
      else if (eight)
        HslVarPacked512(k8, p, count);
      else
        HslVarPackedFma(k8, p, count);
    };
    // Photographs repeat colours: a direct-mapped cache serves most pixels; those it
    // misses in a row are gathered and converted together. The slot and the colour's
    // top bits identify a colour, so an entry is (colour >> bits) + 1 over the result
    // (tag 0 = empty) and fits 32 bits. Each band keeps its own cache: a cached
    // answer equals a converted one, so bands give the same bytes in any split.
    constexpr int kMaxBits = 20;
    // Sized to the band: clearing it is a cost of every band.
    const int64_t pixels = int64_t(x2 - x1 + 1) * (y2 - y1 + 1) / procdetail::BandsFor(x1, y1, x2, y2);
    int bits = 17;
    while (bits < kMaxBits && (int64_t(1) << bits) < pixels / 8) ++bits;
    const uint32_t mask = (1u << bits) - 1;
    const int n = x2 - x1 + 1;
    struct TBand {
      std::vector<uint32_t> Cache;
      std::vector<uint8_t> Packed;
      std::vector<uint32_t> MissColour;
      std::vector<int> MissAt;
      // Rows the cache hardly serves (noise) are converted directly for a while.
      int SkipRows = 0, BadRows = 0, Pause = 64;
    };
    TRowProgress progress(onProgress, sender, y1, y2);
    procdetail::ForRowsWith(x1, y1, x2, y2, progress, [&] {
      return TBand{std::vector<uint32_t>(size_t(1) << bits, 0), std::vector<uint8_t>(size_t(n + 7) * 3),
                   std::vector<uint32_t>(size_t(n) + 4), std::vector<int>(size_t(n) + 4)};
    }, [&](TBand& band, int y) {
      uint8_t* row = bmp.ScanLine(y) + 3 * x1;
      if (band.SkipRows > 0) {
        --band.SkipRows;
        int done = 0;
        convertRow(row, n, done);
        TRGB* px = reinterpret_cast<TRGB*>(row);
        for (int i = done; i < n; ++i) {
          double h, s, l;
          RGB2HSL(px[i], h, s, l);
          HSL2RGB(px[i], h + dh, s + ds, l + dl);
        }
        return;
      }
      uint32_t* cache = band.Cache.data();
      int misses = 0;
      uint8_t* p = row;
      for (int i = 0; i < n; ++i, p += 3) {
        const uint32_t c = p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16);
        const uint32_t e = cache[(c ^ (c >> bits)) & mask];
        if ((e >> 24) == (c >> bits) + 1) {
          p[0] = uint8_t(e), p[1] = uint8_t(e >> 8), p[2] = uint8_t(e >> 16);
        } else {
          std::memcpy(&band.Packed[size_t(misses) * 3], p, 3);
          band.MissColour[size_t(misses)] = c;
          band.MissAt[size_t(misses++)] = i;
        }
      }
      convertPacked(band.Packed.data(), misses);
      for (int j = 0; j < misses; ++j) {
        const uint8_t* v = &band.Packed[size_t(j) * 3];
        std::memcpy(row + 3 * band.MissAt[size_t(j)], v, 3);
        const uint32_t c = band.MissColour[size_t(j)];
        cache[(c ^ (c >> bits)) & mask] = ((c >> bits) + 1) << 24 | v[0] | (v[1] << 8) | (uint32_t(v[2]) << 16);
      }
      if (!wide) {
        band.BadRows = int64_t(misses) * 4 > int64_t(n) * 3 ? band.BadRows + 1 : 0;
        if (band.BadRows == 4) band.SkipRows = 28, band.BadRows = 0;
        return;
      }
      // The eight-pixel kernel converts about as fast as a missed lookup costs: the
      // cache must serve half the row to pay, and the pause grows while it does not.
      if (int64_t(misses) * 2 <= int64_t(n)) {
        band.BadRows = 0, band.Pause = 64;
      } else if (++band.BadRows == 2) {
        band.SkipRows = band.Pause, band.BadRows = 0;
        band.Pause = imin(band.Pause * 2, 2048);
      }
    });
    return;
  }
#endif
  // Pictures repeat colours a lot, and each conversion costs a few divisions: a
  // direct-mapped cache of recent colours (key = colour + 1, 0 = empty) skips most.
  constexpr int kCacheBits = 16;
  struct TBand {
    std::vector<uint32_t> Keys = std::vector<uint32_t>(size_t(1) << kCacheBits, 0);
    std::vector<TRGB> Values = std::vector<TRGB>(size_t(1) << kCacheBits);
  };
  TRowProgress progress(onProgress, sender, y1, y2);
  procdetail::ForRowsWith(x1, y1, x2, y2, progress, [] { return TBand{}; }, [&](TBand& band, int y) {
    TRGB* p = reinterpret_cast<TRGB*>(bmp.ScanLine(y)) + x1;
    for (int x = x1; x <= x2; ++x, ++p) {
      const uint32_t c = p->b | (p->g << 8) | (uint32_t(p->r) << 16);
      const uint32_t slot = (c ^ (c >> kCacheBits)) & ((1u << kCacheBits) - 1);
      if (band.Keys[slot] == c + 1) {
        *p = band.Values[slot];
        continue;
      }
      double h, s, l;
      RGB2HSL(*p, h, s, l);
      HSL2RGB(*p, h + dh, s + ds, l + dl);
      band.Keys[slot] = c + 1;
      band.Values[slot] = *p;
    }
  });
}

void _HSVvar(TBitmap& bmp, int hue, int sat, int val, int x1, int y1, int x2, int y2,
             const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  const auto& sc = HsvScales();
  // The result depends only on the three channels scaled to 0..99: remember each
  // of the 100^3 combinations once met (0 = not yet, else 0x1000000 | result).
  int32_t ir[256], ig[256], ib[256];
  for (int c = 0; c < 256; ++c) ir[c] = sc.To99[c] * 10000, ig[c] = sc.To99[c] * 100, ib[c] = sc.To99[c];
  // One memo per band; its answers are those of the conversion itself.
  TRowProgress progress(onProgress, sender, y1, y2);
  procdetail::ForRowsWith(x1, y1, x2, y2, progress, [] { return std::vector<uint32_t>(1000000, 0); },
                          [&](std::vector<uint32_t>& memo, int y) {
    TRGB* p = reinterpret_cast<TRGB*>(bmp.ScanLine(y)) + x1;
    for (int x = x1; x <= x2; ++x, ++p) {
      const int idx = ir[p->r] + ig[p->g] + ib[p->b];
      uint32_t m = memo[size_t(idx)];
      if (!m) {
        int h, s, v;
        RGB99ToHSV(idx / 10000, idx / 100 % 100, idx % 100, h, s, v);
        TRGB out;
        HSV2RGB(out, h + hue, s + sat, v + val);
        m = 0x1000000u | (uint32_t(out.r) << 16) | (uint32_t(out.g) << 8) | out.b;
        memo[size_t(idx)] = m;
      }
      p->b = static_cast<uint8_t>(m), p->g = static_cast<uint8_t>(m >> 8), p->r = static_cast<uint8_t>(m >> 16);
    }
  });
}

void _IntensityRGBall(TBitmap& bmp, int r, int g, int b, int x1, int y1, int x2, int y2,
                      const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  uint8_t tr[256], tg[256], tb[256];
  for (int v = 0; v < 256; ++v) {
    tr[v] = static_cast<uint8_t>(blimit(v + r));
    tg[v] = static_cast<uint8_t>(blimit(v + g));
    tb[v] = static_cast<uint8_t>(blimit(v + b));
  }
  ApplyTables(bmp, tb, tg, tr, x1, y1, x2, y2, onProgress, sender);
}

int _GetMediaContrast(const TBitmap& bmp) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return 0;
  const int64_t div = int64_t(3 * int64_t(bmp.Width()) - 1) * (bmp.Height() - 1);
  if (div == 0) return 128;
  int64_t sum = 0;
  const int n = 3 * bmp.Width();
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* p = bmp.ScanLine(y);
    uint64_t rs = 0;
    for (int i = 0; i < n; ++i) rs += p[i];
    sum += rs;
  }
  return static_cast<int>(sum / div);
}

namespace {

double ContrastFactor(int c) { return c < 0 ? 1 - std::sqrt(double(-c)) / 10 : 1 + c / 10.0; }

void ContrastTable(uint8_t* t, int level, double k) {
  for (int v = 0; v < 256; ++v) t[v] = static_cast<uint8_t>(blimit(level + static_cast<int>((v - level) * k)));
}

}  // namespace

void _ContrastRGB(TBitmap& bmp, int contrast, int levelR, int levelG, int levelB, int x1, int y1, int x2, int y2,
                  const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  const double k = ContrastFactor(contrast);
  uint8_t tr[256], tg[256], tb[256];
  ContrastTable(tr, levelR, k);
  ContrastTable(tg, levelG, k);
  ContrastTable(tb, levelB, k);
  ApplyTables(bmp, tb, tg, tr, x1, y1, x2, y2, onProgress, sender);
}

void _Contrast(TBitmap& bmp, int contrast, int level, int x1, int y1, int x2, int y2,
               const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  uint8_t t[256];
  ContrastTable(t, level, ContrastFactor(contrast));
  ApplyTables(bmp, t, t, t, x1, y1, x2, y2, onProgress, sender);
}

void _Threshold(TBitmap& bmp, TRGB downLimit, TRGB upLimit, TRGB downValue, TRGB upValue, int x1, int y1, int x2,
                int y2, const TProgressEvent& onProgress, TObject* sender) {
  if (downLimit == TRGB{0, 0, 0} && upLimit == TRGB{255, 255, 255}) return;
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  // Each channel is tested on its own, so both passes fold into one table per channel.
  auto build = [](uint8_t* t, int dl, int ul, int dv, int uv) {
    for (int v = 0; v < 256; ++v) {
      int w = v <= dl ? dv : v;
      t[v] = static_cast<uint8_t>(w > ul ? uv : w);
    }
  };
  uint8_t tr[256], tg[256], tb[256];
  build(tr, downLimit.r, upLimit.r, downValue.r, upValue.r);
  build(tg, downLimit.g, upLimit.g, downValue.g, upValue.g);
  build(tb, downLimit.b, upLimit.b, downValue.b, upValue.b);
  ApplyTables(bmp, tb, tg, tr, x1, y1, x2, y2, onProgress, sender);
}

void _CastColorRange(TBitmap& bmp, TRGB begin, TRGB end, TRGB cast, int x1, int y1, int x2, int y2,
                     const TProgressEvent& onProgress, TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  TRowProgress progress(onProgress, sender, y1, y2);
  const int n = x2 - x1 + 1;
  procdetail::ForRows(x1, y1, x2, y2, progress,
                      [&](int y) { CastRangeRow(bmp.ScanLine(y) + 3 * x1, n, begin, end, cast); });
}

void _Negative(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress, TObject* sender) {
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  if (bmp.PixelFormat() == pf24bit) {
    TRowProgress progress(onProgress, sender, y1, y2);
    const size_t n = 3 * size_t(x2 - x1 + 1);
    procdetail::ForRows(x1, y1, x2, y2, progress, [&](int y) { NegateRow(bmp.ScanLine(y) + 3 * x1, n); });
  } else if (bmp.PixelFormat() == pf1bit) {
    for (int y = y1; y <= y2; ++y) {
      uint8_t* row = bmp.ScanLine(y);
      for (int x = x1; x <= x2; ++x) row[x >> 3] ^= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
}

void _Negative1Bit(TBitmap& bmp) {
  if (bmp.PixelFormat() != pf1bit || bmp.Empty()) return;
  NegateRow(bmp.Bits(), bmp.ImageSize());
}

void _ConvertToGray(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress,
                    TObject* sender) {
  if (!Prepare24(bmp, x1, y1, x2, y2)) return;
  TRowProgress progress(onProgress, sender, y1, y2);
  const int n = x2 - x1 + 1;
  procdetail::ForRows(x1, y1, x2, y2, progress, [&](int y) { GreyRow(bmp.ScanLine(y) + 3 * x1, n); });
}

namespace {

// Calls rowFn(y) per row with the before-row progress of the extractors, in row
// bands over the worker threads. After bands finish, the caller reports the value
// of the next row due (the last row's once all are done): a subset, in order.
template <typename MakeState, typename RowFn>
void ForEachRowWith(const TBitmap& bmp, const TProgressEvent& onProgress, TObject* sender, MakeState makeState,
                    RowFn rowFn) {
  const int h = bmp.Height();
  auto report = [&](int y) {
    if (onProgress) onProgress(sender, static_cast<int>(int64_t(y) * 100 / h));
  };
  VXParallelRows(h, int64_t(bmp.Width()) * h, 8, [&](int y0, int y1, bool onCaller) {
    auto state = makeState();
    for (int y = y0; y < y1; ++y) {
      if (onCaller) report(y);
      rowFn(state, y);
    }
  }, [&](int done) {
    report(imin(done, h - 1));
    return true;
  });
}

template <typename RowFn>
void ForEachRow(const TBitmap& bmp, const TProgressEvent& onProgress, TObject* sender, RowFn rowFn) {
  ForEachRowWith(bmp, onProgress, sender, [] { return 0; }, [&](int, int y) { rowFn(y); });
}

inline void PutGrey(uint8_t* d, uint8_t v) { d[0] = d[1] = d[2] = v; }

// Byte 0, 3, 6, ... of s into all three channels of d.
void ChannelRow(const uint8_t* s, uint8_t* d, int w) {
  for (int x = 0; x < w; ++x, s += 3, d += 3) PutGrey(d, *s);
}

void Prepare(const TBitmap& src, TBitmap& dst) { dst.Allocate(src.Width(), src.Height(), pf24bit); }

}  // namespace

TBitmap* _GetRGBChannel(const TBitmap& bmp, int index, const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit) return nullptr;
  const int c = ilimit(index, 0, 2);
  auto* dst = new TBitmap;
  Prepare(bmp, *dst);
  if (bmp.Empty()) return dst;
  const int w = bmp.Width();
  ForEachRow(bmp, onProgress, sender, [&](int y) { ChannelRow(bmp.ScanLine(y) + c, dst->ScanLine(y), w); });
  return dst;
}

namespace {

// truncate(component / max x 255) for the three HSV components.
struct THsvGreyScales {
  std::array<uint8_t, 360> H;
  std::array<uint8_t, 100> SV;
  THsvGreyScales() {
    for (int i = 0; i < 360; ++i) H[i] = static_cast<uint8_t>(blimit(static_cast<int>(i / 359.0 * 255)));
    for (int i = 0; i < 100; ++i) SV[i] = static_cast<uint8_t>(blimit(static_cast<int>(i / 99.0 * 255)));
  }
};
const THsvGreyScales& HsvGrey() {
  static const THsvGreyScales s;
  return s;
}

// The grey levels of H, S and V depend only on the channels scaled to 0..99: each
// of the 100^3 combinations is converted once per band (0 = not yet, else
// 0x1000000 | V << 16 | S << 8 | H).
struct THsvMemo {
  std::vector<uint32_t> Memo = std::vector<uint32_t>(1000000, 0);
  const THsvGreyScales& Scales = HsvGrey();
  const THsvScales& To99 = HsvScales();
  uint32_t Grey(const uint8_t* bgr) {
    const int idx = To99.To99[bgr[2]] * 10000 + To99.To99[bgr[1]] * 100 + To99.To99[bgr[0]];
    uint32_t& m = Memo[size_t(idx)];
    if (!m) {
      int h, s, v;
      RGB99ToHSV(idx / 10000, idx / 100 % 100, idx % 100, h, s, v);
      m = 0x1000000u | uint32_t(Scales.SV[v]) << 16 | uint32_t(Scales.SV[s]) << 8 | Scales.H[h];
    }
    return m;
  }
};
THsvMemo MakeHsvMemo() { return {}; }

}  // namespace

TBitmap* _GetHSVChannel(const TBitmap& bmp, int index, const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit) return nullptr;
  if (index != 1 && index != 2) index = 0;
  auto* dst = new TBitmap;
  Prepare(bmp, *dst);
  if (bmp.Empty()) return dst;
  const int w = bmp.Width(), shift = 8 * index;
  ForEachRowWith(bmp, onProgress, sender, MakeHsvMemo, [&](THsvMemo& memo, int y) {
    const uint8_t* s = bmp.ScanLine(y);
    uint8_t* d = dst->ScanLine(y);
    for (int x = 0; x < w; ++x, s += 3, d += 3) PutGrey(d, static_cast<uint8_t>(memo.Grey(s) >> shift));
  });
  return dst;
}

void _GetRGBChannelAll(const TBitmap& bmp, TBitmap& dstR, TBitmap& dstG, TBitmap& dstB,
                       const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit) return;
  Prepare(bmp, dstR);
  Prepare(bmp, dstG);
  Prepare(bmp, dstB);
  if (bmp.Empty()) return;
  const int w = bmp.Width();
  ForEachRow(bmp, onProgress, sender, [&](int y) {
    const uint8_t* s = bmp.ScanLine(y);
    ChannelRow(s, dstB.ScanLine(y), w);
    ChannelRow(s + 1, dstG.ScanLine(y), w);
    ChannelRow(s + 2, dstR.ScanLine(y), w);
  });
}

void _GetHSVChannelAll(const TBitmap& bmp, TBitmap& dstH, TBitmap& dstS, TBitmap& dstV,
                       const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit) return;
  Prepare(bmp, dstH);
  Prepare(bmp, dstS);
  Prepare(bmp, dstV);
  if (bmp.Empty()) return;
  const int w = bmp.Width();
  ForEachRowWith(bmp, onProgress, sender, MakeHsvMemo, [&](THsvMemo& memo, int y) {
    const uint8_t* s = bmp.ScanLine(y);
    uint8_t *hp = dstH.ScanLine(y), *sp = dstS.ScanLine(y), *vp = dstV.ScanLine(y);
    for (int x = 0; x < w; ++x, s += 3, hp += 3, sp += 3, vp += 3) {
      const uint32_t m = memo.Grey(s);
      PutGrey(hp, static_cast<uint8_t>(m));
      PutGrey(sp, static_cast<uint8_t>(m >> 8));
      PutGrey(vp, static_cast<uint8_t>(m >> 16));
    }
  });
}

}  // namespace vexa
