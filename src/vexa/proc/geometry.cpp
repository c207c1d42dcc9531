#include "vexa/proc/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "vexa/core/parallel.h"

namespace vexa {

void _Rot90(const TBitmap& src, TBitmap& dst) {
  if (src.PixelFormat() != pf24bit || src.Empty()) return;
  const int w = src.Width(), h = src.Height();
  TBitmap out(h, w, pf24bit);
  // Bands of source columns: each writes whole output rows of its own.
  VXParallelRows(w, static_cast<int64_t>(w) * h, 16, [&](int x0, int x1, bool) {
    for (int y = 0; y < h; ++y) {
      const TRGB* s = reinterpret_cast<const TRGB*>(src.ScanLine(y));
      for (int x = x0; x < x1; ++x) reinterpret_cast<TRGB*>(out.ScanLine(w - 1 - x))[y] = s[x];
    }
  });
  dst = std::move(out);
}

void _Rot90o(const TBitmap& src, TBitmap& dst) {
  if (src.PixelFormat() != pf24bit || src.Empty()) return;
  const int w = src.Width(), h = src.Height();
  TBitmap out(h, w, pf24bit);
  VXParallelRows(w, static_cast<int64_t>(w) * h, 16, [&](int x0, int x1, bool) {
    for (int y = 0; y < h; ++y) {
      const TRGB* s = reinterpret_cast<const TRGB*>(src.ScanLine(y));
      for (int x = x0; x < x1; ++x) reinterpret_cast<TRGB*>(out.ScanLine(x))[h - 1 - y] = s[x];
    }
  });
  dst = std::move(out);
}

namespace {

inline int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

inline uint8_t Blend(int prev, int cur, int f) {
  // Arithmetic shift: with a negative f the sum can dip below zero before clamping.
  return static_cast<uint8_t>(blimit((prev * f + cur * (4096 - f) + 2048) >> 12));
}

// A blend's two weights in one 32-bit lane: f low, 4096 - f high (both fit 16 bits).
inline uint32_t BlendWeights(int f) { return (static_cast<uint32_t>(4096 - f) << 16) | static_cast<uint16_t>(f); }

#if defined(__SSE2__)
// Blend of 16 bytes. Interleaving prev and cur as 16-bit pairs lets one
// multiply-add give prev * f + cur * (4096 - f) exactly; the packs clamp as blimit.
inline __m128i Blend16(__m128i p, __m128i c, __m128i w0, __m128i w1, __m128i w2, __m128i w3) {
  const __m128i z = _mm_setzero_si128(), half = _mm_set1_epi32(2048);
  const __m128i pl = _mm_unpacklo_epi8(p, z), ph = _mm_unpackhi_epi8(p, z);
  const __m128i cl = _mm_unpacklo_epi8(c, z), ch = _mm_unpackhi_epi8(c, z);
  auto sum = [&](__m128i pc, __m128i w) { return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pc, w), half), 12); };
  const __m128i lo = _mm_packs_epi32(sum(_mm_unpacklo_epi16(pl, cl), w0), sum(_mm_unpackhi_epi16(pl, cl), w1));
  const __m128i hi = _mm_packs_epi32(sum(_mm_unpacklo_epi16(ph, ch), w2), sum(_mm_unpackhi_epi16(ph, ch), w3));
  return _mm_packus_epi16(lo, hi);
}

inline __m128i Load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
#endif

// out[k] = Blend(prev[k], cur[k], f) for k < n.
void BlendBytes(const uint8_t* prev, const uint8_t* cur, uint8_t* out, int n, int f) {
  int k = 0;
#if defined(__SSE2__)
  const __m128i w = _mm_set1_epi32(static_cast<int>(BlendWeights(f)));
  for (; k + 16 <= n; k += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), Blend16(Load16(prev + k), Load16(cur + k), w, w, w, w));
#endif
  for (; k < n; ++k) out[k] = Blend(prev[k], cur[k], f);
}

// The same with weights of their own for every byte (BlendWeights each).
void BlendBytes(const uint8_t* prev, const uint8_t* cur, uint8_t* out, int n, const uint32_t* weights) {
  int k = 0;
#if defined(__SSE2__)
  for (; k + 16 <= n; k += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                     Blend16(Load16(prev + k), Load16(cur + k), Load16(weights + k), Load16(weights + k + 4),
                             Load16(weights + k + 8), Load16(weights + k + 12)));
#endif
  for (; k < n; ++k) out[k] = Blend(prev[k], cur[k], static_cast<int16_t>(weights[k] & 0xFFFF));
}

// First of [lo, hi) where a predicate false-then-true turns true (hi when never).
template <typename Pred>
int FirstTrue(int lo, int hi, Pred pred) {
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (pred(mid))
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// A rotation by three shears: rows slide right, then columns down, then rows
// right again, each line by its own whole shift and, anti-aliased, blending in
// f/4096 of the pixel before it. Pixels moved out of an intermediate image are
// lost and uncovered ones are background.
//
// The shears are not run one after the other. Output rows are made a chunk at
// a time, in strips of the second image's columns. For a strip, each source row
// it needs is read once, as one run, shifted (and blended) along the row as the
// first shear does, and its pixels are stored by the output row that reads
// them; the second shear is then a copy (or a blend of two such rows) along
// rows, and the third one a shift (or blend) along the output row. Reading the
// source in runs rather than pixel by pixel down the slant of the second shear
// is what keeps it in the cache. The arithmetic is the shears' own, so the
// pixels are the same.
class TShearRotation {
 public:
  TShearRotation(const TBitmap& src, int angle, bool antiAlias, TRGB bg) : FSrc(src), FAA(antiAlias), FBg(bg) {
    const int w = src.Width(), h = src.Height();
    const double theta = angle * M_PI / 180;
    const bool positive = theta > 0;
    const double a = std::fabs(std::tan(theta / 2)), b = std::fabs(std::sin(theta));
    FW1 = RoundHalfEven(h * a + w + 1);
    const int s1 = RoundHalfEven((FW1 - w) * b);
    int h2 = RoundHalfEven(FW1 * b + h + 1);
    const int s2 = RoundHalfEven((h2 - h - s1) * a);
    h2 -= 2 * s1;
    FW3 = std::max(1, RoundHalfEven(h2 * a + FW1 + 1 - 2 * s2));
    FH2 = std::max(1, h2);

    FD1.resize(static_cast<size_t>(h)), FF1.resize(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
      const double t = (positive ? y : h - y) * a;
      const int d = RoundHalfEven(t);
      FD1[static_cast<size_t>(y)] = d;
      FF1[static_cast<size_t>(y)] = static_cast<int>((t - d) * 4096);
    }
    FD2.resize(static_cast<size_t>(FW1)), FF2.resize(static_cast<size_t>(FW1));
    for (int x = 0; x < FW1; ++x) {
      const double t = (positive ? FW1 - x : x) * b;
      const int d = RoundHalfEven(t);
      FD2[static_cast<size_t>(x)] = d - s1;
      FF2[static_cast<size_t>(x)] = antiAlias ? RoundHalfEven((t - d) * 4096) : 0;
    }
    FD3.resize(static_cast<size_t>(FH2)), FF3.resize(static_cast<size_t>(FH2));
    for (int y = 0; y < FH2; ++y) {
      const double t = (positive ? y : FH2 - y) * a;
      const int d = RoundHalfEven(t);
      FD3[static_cast<size_t>(y)] = d - s2;
      FF3[static_cast<size_t>(y)] = RoundHalfEven((t - d) * 4096);
    }
    // Spans can be found by bisection while a step to the next column moves the
    // first image's row, and a step to the next row the shift of shear 1, by 0
    // or 1 (angles up to 90 degrees); otherwise every pixel is tested.
    auto unitSteps = [](const std::vector<int>& v) {
      for (size_t i = 1; i < v.size(); ++i)
        if (std::abs(v[i] - v[i - 1]) > 1) return false;
      return true;
    };
    FBisect = unitSteps(FD1) && unitSteps(FD2);
    FRising = positive;
    FBgLine.assign(static_cast<size_t>(std::max(FW1, FW3)), bg);
    if (antiAlias) {
      FW2.resize(static_cast<size_t>(FW1) * 3);
      for (size_t k = 0; k < FW2.size(); ++k) FW2[k] = BlendWeights(FF2[k / 3]);
    }
  }

  int Width() const { return FW3; }
  int Height() const { return FH2; }

  // Output rows [y0, y1) into out, calling before(y) ahead of each.
  template <typename Before>
  void Rows(TBitmap& out, int y0, int y1, Before before) const {
    if (!FBisect) {
      std::vector<uint8_t> line(FAA ? static_cast<size_t>(FW1) * 3 : 0);
      for (int y = y0; y < y1; ++y) {
        before(y);
        if (FAA)
          CheckedLine(y, line.data(), out.ScanLine(y));
        else
          CheckedRow(y, out.ScanLine(y));
      }
      return;
    }
    const int chunk = std::min(kChunk, y1 - y0), strip = std::min(kStrip, FW1);
    TTile t;
    t.Stride = static_cast<ptrdiff_t>(strip) * 3;
    t.Pieces.resize(static_cast<size_t>(t.Stride) * static_cast<size_t>(chunk + 1));
    t.Piece.resize(static_cast<size_t>(t.Stride));
    // Anti-aliased, row i of the second image's strip, one pixel before it first
    // (the last of the strip before, which the third shear blends in).
    if (FAA) t.Lines.resize(static_cast<size_t>(t.Stride + 3) * static_cast<size_t>(chunk));
    int spans[kChunk][4];
    for (int c0 = y0; c0 < y1; c0 += chunk) {
      const int n = std::min(chunk, y1 - c0);
      int lo = FW1, hi = 0;
      for (int i = 0; i < n; ++i) {
        before(c0 + i);
        int* sp = spans[i];
        if (FAA)
          LineSpan(c0 + i, out.ScanLine(c0 + i), sp);
        else
          RowSpan(c0 + i, out.ScanLine(c0 + i), sp);
        if (sp[0] < sp[1]) lo = std::min(lo, sp[0]), hi = std::max(hi, sp[1]);
      }
      for (int s = lo; s < hi; s += strip) {
        const int e = std::min(s + strip, hi);
        Pieces(c0, n, s, e, t);
        for (int i = 0; i < n; ++i) {
          const int* sp = spans[i];
          const int y = c0 + i, a = std::max(s, sp[0]), b = std::min(e, sp[1]);
          const int shift = FD3[static_cast<size_t>(y)];
          uint8_t* row = out.ScanLine(y);
          const uint8_t* piece = t.Pieces.data() + t.Stride * i + 3 * (a - s);
          if (!FAA) {
            if (a < b) std::memcpy(row + 3 * (a + shift), piece + t.Stride, static_cast<size_t>(b - a) * 3);
            continue;
          }
          uint8_t* line = t.Lines.data() + (t.Stride + 3) * i;
          if (s > lo) std::memcpy(line, line + t.Stride, 3);
          if (a < b) {
            BlendBytes(piece, piece + t.Stride, line + 3 * (1 + a - s), 3 * (b - a), FW2.data() + 3 * a);
            FixLastRow(y, line + 3 * (1 + a - s), a, b);
          }
          // The output pixels of this strip's columns; the last strip also takes
          // the one past the span's end.
          const int p0 = std::max(sp[2], s + shift), p1 = e == hi ? sp[3] : std::min(sp[3], e + shift);
          if (p0 >= p1) continue;
          const int i0 = std::max(sp[0], s - 1);
          ShearRow(line + 3 * (1 + i0 - s), i0, b, FW1, row + 3 * p0, p0, p1, shift, FF3[static_cast<size_t>(y)]);
        }
      }
    }
  }

 private:
  // Output rows per chunk and second-image columns per strip: a chunk's pieces
  // stay in the second-level cache and each source row is read in long runs.
  static constexpr int kChunk = 192, kStrip = 384;

  // Row R of the first image, read in second-image columns [A, B).
  struct TRun {
    int R, A, B;
  };
  struct TTile {
    ptrdiff_t Stride = 0;
    std::vector<uint8_t> Pieces, Piece, Lines;
    std::vector<TRun> Runs;
  };

  const TBitmap& FSrc;
  bool FAA, FBisect = false, FRising = false;
  TRGB FBg;
  int FW1 = 0, FH2 = 0, FW3 = 0;
  std::vector<int> FD1, FF1, FD2, FF2, FD3, FF3;
  std::vector<uint32_t> FW2;
  std::vector<TRGB> FBgLine;

  const uint8_t* Bg() const { return reinterpret_cast<const uint8_t*>(&FBg); }
  void FillBg(uint8_t* p, int n) const {
    if (n > 0) std::memcpy(p, FBgLine.data(), static_cast<size_t>(n) * 3);
  }
  // Row of the first image under a column of the second at output row y (h,
  // one past the last, is what anti-aliasing reaches).
  int Sh1RowAt(int y, int x) const { return y - FD2[static_cast<size_t>(x)]; }
  int SourceColumn(int x, int sy) const { return x - FD1[static_cast<size_t>(sy)]; }

  // Pixels [p0, p1) of a row (out points at p0): line pixels [i0, i1) of a line
  // of n (in points at i0; the rest background, never read) moved right by shift. Anti-aliased,
  // each output pixel blends f/4096 of the line pixel before its own; past the
  // end of the line only a positive f carries the last pixel on.
  void ShearRow(const uint8_t* in, int i0, int i1, int n, uint8_t* out, int p0, int p1, int shift, int f) const {
    int j1 = i1;
    if (FAA && i1 > i0) j1 = std::min(i1 + 1, n + (f > 0 ? 1 : 0));
    const int q0 = std::clamp(i0 + shift, p0, p1), q1 = std::clamp(j1 + shift, q0, p1);
    out -= 3 * p0;
    in -= 3 * i0;
    FillBg(out + 3 * p0, q0 - p0);
    FillBg(out + 3 * q1, p1 - q1);
    if (!FAA) {
      if (q1 > q0) std::memcpy(out + 3 * q0, in + 3 * (q0 - shift), static_cast<size_t>(q1 - q0) * 3);
      return;
    }
    // Inside, both pixels blended are line pixels; at the two ends one is background.
    const int m0 = std::clamp(i0 + 1 + shift, q0, q1), m1 = std::clamp(i1 + shift, m0, q1);
    auto edge = [&](int p) {
      const int i = p - shift;
      const uint8_t* a = i - 1 >= i0 && i - 1 < i1 ? in + 3 * (i - 1) : Bg();
      const uint8_t* c = i >= i0 && i < i1 ? in + 3 * i : Bg();
      for (int k = 0; k < 3; ++k) out[3 * p + k] = Blend(a[k], c[k], f);
    };
    for (int p = q0; p < m0; ++p) edge(p);
    BlendBytes(in + 3 * (m0 - shift - 1), in + 3 * (m0 - shift), out + 3 * m0, 3 * (m1 - m0), f);
    for (int p = m1; p < q1; ++p) edge(p);
  }

  // Narrows columns [x0, x1) of the second image to those whose first-image row
  // lies in [0, top]: that row moves monotonically across the columns.
  void Sh1Span(int y, int top, int& x0, int& x1) const {
    const int lo = x0, hi = x1;
    if (FRising) {
      x0 = FirstTrue(lo, hi, [&](int x) { return Sh1RowAt(y, x) >= 0; });
      x1 = FirstTrue(x0, hi, [&](int x) { return Sh1RowAt(y, x) > top; });
    } else {
      x0 = FirstTrue(lo, hi, [&](int x) { return Sh1RowAt(y, x) <= top; });
      x1 = FirstTrue(x0, hi, [&](int x) { return Sh1RowAt(y, x) < 0; });
    }
  }

  // Without anti-aliasing: the second-image columns [sp[0], sp[1]) that bring a
  // source pixel to output row y; the rest of the row is filled with background.
  void RowSpan(int y, uint8_t* out, int* sp) const {
    const int w = FSrc.Width(), shift = FD3[static_cast<size_t>(y)];
    int x0 = std::max(0, -shift), x1 = std::max(x0, std::min(FW1, FW3 - shift));
    Sh1Span(y, FSrc.Height() - 1, x0, x1);
    // Along the span the source column never falls back.
    const int a = FirstTrue(x0, x1, [&](int x) { return SourceColumn(x, Sh1RowAt(y, x)) >= 0; });
    x1 = FirstTrue(a, x1, [&](int x) { return SourceColumn(x, Sh1RowAt(y, x)) >= w; });
    x0 = a;
    const int p0 = x0 < x1 ? x0 + shift : 0, p1 = x0 < x1 ? x1 + shift : 0;
    FillBg(out, p0);
    FillBg(out + 3 * p1, FW3 - p1);
    sp[0] = x0, sp[1] = x1, sp[2] = p0, sp[3] = p1;
  }

  // Every pixel tested, for angles whose steps are too large to bisect.
  void CheckedRow(int y, uint8_t* out) const {
    const int w = FSrc.Width(), h = FSrc.Height(), shift = FD3[static_cast<size_t>(y)];
    FillBg(out, FW3);
    for (int x = std::max(0, -shift); x < std::min(FW1, FW3 - shift); ++x) {
      const int sy = Sh1RowAt(y, x);
      if (sy < 0 || sy >= h) continue;
      const int sx = SourceColumn(x, sy);
      if (sx >= 0 && sx < w) std::memcpy(out + 3 * (x + shift), FSrc.ScanLine(sy) + 3 * sx, 3);
    }
  }

  // Anti-aliased: the columns [sp[0], sp[1]) of the second image's row y that
  // output row y reads, narrowed to those the first image reaches, and the
  // output pixels [sp[2], sp[3]) they make; the rest is filled with background.
  void LineSpan(int y, uint8_t* out, int* sp) const {
    const int shift = FD3[static_cast<size_t>(y)];
    int x0 = std::max(0, -shift - 1), x1 = std::max(x0, std::min(FW1, FW3 - shift));
    Sh1Span(y, FSrc.Height(), x0, x1);
    const int end = x0 < x1 ? std::min(x1 + 1, FW1 + (FF3[static_cast<size_t>(y)] > 0 ? 1 : 0)) : x0;
    const int p0 = std::clamp(x0 + shift, 0, FW3), p1 = std::clamp(end + shift, p0, FW3);
    FillBg(out, p0);
    FillBg(out + 3 * p1, FW3 - p1);
    sp[0] = x0, sp[1] = x1, sp[2] = p0, sp[3] = p1;
  }

  // The pieces of the first image that output rows [c0, c0 + n) read in
  // second-image columns [s, e): row k of `pieces` holds, for each column, the
  // first-image pixel one row above the one output row c0 + k finds there, so
  // output row c0 + i blends rows i and i + 1 of it. Rows -1 and h of the first
  // image are background.
  void Pieces(int c0, int n, int s, int e, TTile& t) const {
    const int h = FSrc.Height(), w = FSrc.Width();
    const ptrdiff_t stride = t.Stride;
    const int dMin = std::min(FD2[static_cast<size_t>(s)], FD2[static_cast<size_t>(e - 1)]);
    const int dMax = std::max(FD2[static_cast<size_t>(s)], FD2[static_cast<size_t>(e - 1)]);
    const int r0 = std::max(-1, c0 - 1 - dMax), r1 = std::min(h, c0 + n - 1 - dMin);
    t.Runs.clear();
    for (int r = r0; r <= r1; ++r) {
      // Columns where this row lands in pieces rows [0, n]: d2 within [c0 - 1 - r, c0 + n - 1 - r].
      int a, b;
      if (FRising) {  // d2 falls along the columns
        a = FirstTrue(s, e, [&](int x) { return FD2[static_cast<size_t>(x)] <= c0 + n - 1 - r; });
        b = FirstTrue(a, e, [&](int x) { return FD2[static_cast<size_t>(x)] < c0 - 1 - r; });
      } else {
        a = FirstTrue(s, e, [&](int x) { return FD2[static_cast<size_t>(x)] >= c0 - 1 - r; });
        b = FirstTrue(a, e, [&](int x) { return FD2[static_cast<size_t>(x)] > c0 + n - 1 - r; });
      }
      if (a < b) t.Runs.push_back({r, a, b});
    }
    // Source runs are short and far apart, so the hardware does not see the
    // next one coming: its first lines are asked for two runs ahead (a fixed
    // count measured faster than exactly the run).
    constexpr size_t kAhead = 2;
    constexpr int kLines = 12;
    for (size_t k = 0; k < t.Runs.size(); ++k) {
#if defined(__SSE2__)
      if (k + kAhead < t.Runs.size() && t.Runs[k + kAhead].R >= 0 && t.Runs[k + kAhead].R < h) {
        const TRun& next = t.Runs[k + kAhead];
        const char* p = reinterpret_cast<const char*>(FSrc.ScanLine(next.R)) +
                        3 * std::max(0, next.A - FD1[static_cast<size_t>(next.R)] - 1);
        for (int q = 0; q < kLines; ++q) _mm_prefetch(p + 64 * q, _MM_HINT_T0);
      }
#endif
      const auto [r, a, b] = t.Runs[k];
      const uint8_t* from = Bg();
      int step = 0;
      if (r >= 0 && r < h) {
        ShearRow(FSrc.ScanLine(r), 0, w, w, t.Piece.data(), a, b, FD1[static_cast<size_t>(r)],
                 FF1[static_cast<size_t>(r)]);
        from = t.Piece.data(), step = 3;
      }
      const ptrdiff_t row = (r - c0 + 1) * stride - 3 * s;
      for (int x = a; x < b; ++x, from += step) {
        uint8_t* to = t.Pieces.data() + (row + FD2[static_cast<size_t>(x)] * stride + 3 * x);
        to[0] = from[0], to[1] = from[1], to[2] = from[2];
      }
    }
  }

  // One past the first image's last row, a column without a positive fraction
  // stays background. Those columns end the span; at points at column x0.
  void FixLastRow(int y, uint8_t* at, int x0, int x1) const {
    const int h = FSrc.Height(), step = FRising ? -1 : 1;
    for (int x = FRising ? x1 - 1 : x0; x >= x0 && x < x1 && Sh1RowAt(y, x) == h; x += step)
      if (FF2[static_cast<size_t>(x)] <= 0) std::memcpy(at + 3 * (x - x0), Bg(), 3);
  }

  // Pixel x of the first image's row r (background outside it).
  void Sh1Pixel(int r, int x, uint8_t* px) const {
    const int w = FSrc.Width(), i = r >= 0 && r < FSrc.Height() ? x - FD1[static_cast<size_t>(r)] : -1;
    const int f = i >= 0 ? FF1[static_cast<size_t>(r)] : 0;
    if (i < 0 || i > w || (i == w && f <= 0)) return (void)std::memcpy(px, Bg(), 3);
    const uint8_t* row = FSrc.ScanLine(r);
    const uint8_t* a = i > 0 ? row + 3 * (i - 1) : Bg();
    const uint8_t* c = i < w ? row + 3 * i : Bg();
    for (int k = 0; k < 3; ++k) px[k] = Blend(a[k], c[k], f);
  }

  void CheckedLine(int y, uint8_t* line, uint8_t* out) const {
    const int h = FSrc.Height(), shift = FD3[static_cast<size_t>(y)];
    const int x0 = std::max(0, -shift - 1), x1 = std::max(x0, std::min(FW1, FW3 - shift));
    for (int x = x0; x < x1; ++x) {
      const int r = Sh1RowAt(y, x), f = FF2[static_cast<size_t>(x)];
      uint8_t a[3], c[3];
      Sh1Pixel(r - 1, x, a);
      Sh1Pixel(r, x, c);
      const bool lit = r >= 0 && (r < h || (r == h && f > 0));
      for (int k = 0; k < 3; ++k) line[3 * x + k] = lit ? Blend(a[k], c[k], f) : Bg()[k];
    }
    ShearRow(line + 3 * x0, x0, x1, FW1, out, 0, FW3, shift, FF3[static_cast<size_t>(y)]);
  }
};

}  // namespace

void _RotateShear(const TBitmap& src, TBitmap& dst, int angle, bool antiAlias, TRGB background,
                  TProgressRec& progress) {
  if (src.PixelFormat() != pf24bit || src.Empty()) return;
  if (angle == 0) {
    dst = src;
    return;
  }
  TShearRotation rot(src, angle, antiAlias, background);
  const int h2 = rot.Height();
  TBitmap out(rot.Width(), h2, pf24bit);
  const double perLine = 100.0 / h2;
  auto report = [&](int line) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>(line * perLine));
  };
  // Split runs report, after each band, the value one thread gave before its
  // last line: a subset of the single-thread values, in order.
  VXParallelRows(h2, static_cast<int64_t>(rot.Width()) * h2, 16, [&](int y0, int y1, bool onCaller) {
    rot.Rows(out, y0, y1, [&](int y) {
      if (onCaller) report(y);
    });
  }, [&](int lines) {
    report(lines - 1);
    return true;
  });
  if (progress.OnProgress) progress.OnProgress(progress.Sender, 100);
  dst = std::move(out);
}

void _Rotate24(TBitmap& bmp, int angle, bool antiAlias, TRGB background, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return;
  angle %= 360;
  // Each step reads the one before; the image itself is not copied first.
  TBitmap next;
  for (; angle > 45; angle -= 90) {
    _Rot90(bmp, next);
    bmp = std::move(next);
  }
  for (; angle < -45; angle += 90) {
    _Rot90o(bmp, next);
    bmp = std::move(next);
  }
  if (angle != 0) {
    _RotateShear(bmp, next, angle, antiAlias, background, progress);
    bmp = std::move(next);
  }
}

void _rotate1bit(TBitmap& bmp, double angle, int backgroundBit, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf1bit || bmp.Empty()) return;
  const double theta = angle / 57.29577951308232;
  const double c = std::trunc(std::cos(theta) * 10000) / 10000;
  const double s = std::trunc(std::sin(theta) * 10000) / 10000;
  const int w = bmp.Width(), h = bmp.Height();
  const int nw = std::max(1, static_cast<int>(std::fabs(w * c) + std::fabs(h * s)));
  const int nh = std::max(1, static_cast<int>(std::fabs(w * s) + std::fabs(h * c)));
  if (!VXCheckBitmapSize(nw, nh, 1)) return progress.Fail(fkSizeLimit, VXSizeText(nw, nh));
  const double ncx = nw / 2.0 - 0.5, ncy = nh / 2.0 - 0.5, cx = w / 2.0 - 0.5, cy = h / 2.0 - 0.5;
  TBitmap out(nw, nh, pf1bit);
  // Rows are counted from the bottom of the block so that y grows upwards and a
  // positive angle turns counter-clockwise as seen.
  const uint8_t* srcBits = bmp.Bits();
  const int srcRowLen = bmp.RowLen();
  for (int y = 0; y < nh; ++y) {
    uint8_t* d = out.Bits() + static_cast<size_t>(y) * out.RowLen();
    const double rx = s * (y - ncy) + cx, ry = c * (y - ncy) + cy;
    for (int x = 0; x < nw; ++x) {
      const int sx = static_cast<int>(c * (x - ncx) + rx);
      const int sy = static_cast<int>(-s * (x - ncx) + ry);
      int bit = backgroundBit;
      if (sx >= 0 && sx < w && sy >= 0 && sy < h) bit = _GetPixelbw(srcBits + static_cast<size_t>(sy) * srcRowLen, sx);
      _SetPixelbw(d, x, bit);
    }
    if (progress.OnProgress) progress.OnProgress(progress.Sender, y * 100 / nh);
  }
  VXCopyBitmap(out, bmp);
}

void _Flip(TBitmap& bmp, TFlipDir dir) {
  if (bmp.Empty()) return;
  const int w = bmp.Width(), h = bmp.Height();
  const int64_t work = static_cast<int64_t>(w) * h;
  if (dir == fdVertical) {
    VXParallelRows(h / 2, work, 16, [&](int y0, int y1, bool) {
      std::vector<uint8_t> tmp(static_cast<size_t>(bmp.RowLen()));
      for (int y = y0; y < y1; ++y) {
        uint8_t* a = bmp.ScanLine(y);
        uint8_t* b = bmp.ScanLine(h - 1 - y);
        std::memcpy(tmp.data(), a, tmp.size());
        std::memcpy(a, b, tmp.size());
        std::memcpy(b, tmp.data(), tmp.size());
      }
    });
    return;
  }
  const int bpp = bmp.BitsPerPixel();
  VXParallelRows(h, work, 16, [&](int y0, int y1, bool) {
    std::vector<uint8_t> row(static_cast<size_t>(bmp.RowLen()));
    for (int y = y0; y < y1; ++y) {
      uint8_t* p = bmp.ScanLine(y);
      if (bpp >= 8) {
        const int n = bpp / 8;
        for (int x = 0; x < w / 2; ++x)
          std::swap_ranges(p + x * n, p + x * n + n, p + (w - 1 - x) * n);
      } else {
        std::memcpy(row.data(), p, row.size());
        for (int x = 0; x < w; ++x) {
          const int sx = w - 1 - x;
          if (bpp == 1) {
            _SetPixelbw(p, x, _GetPixelbw(row.data(), sx));
          } else {
            const int v = (row[sx / 2] >> (sx & 1 ? 0 : 4)) & 15;
            p[x / 2] = static_cast<uint8_t>(x & 1 ? (p[x / 2] & 0xF0) | v : (p[x / 2] & 0x0F) | (v << 4));
          }
        }
      }
    }
  });
}

}  // namespace vexa
