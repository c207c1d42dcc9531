#include "vexa/proc/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

// Moves one line of n pixels (a row or a column, strides in bytes) by `shift`
// into a line of outLen pixels, dropping what falls outside. With antiAlias
// each output pixel mixes in f/4096 of the input pixel before it.
void ShearLine(const uint8_t* in, ptrdiff_t inStride, int n, uint8_t* out, ptrdiff_t outStride, int outLen,
               int shift, int f, bool antiAlias, TRGB bg) {
  if (!antiAlias) {
    const int i0 = std::max(0, -shift), i1 = std::min(n, outLen - shift);
    for (int i = i0; i < i1; ++i) std::memcpy(out + (i + shift) * outStride, in + i * inStride, 3);
    return;
  }
  int pb = bg.b, pg = bg.g, pr = bg.r;
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = in + i * inStride;
    const int pos = i + shift;
    if (pos >= 0 && pos < outLen) {
      uint8_t* o = out + pos * outStride;
      o[0] = Blend(pb, p[0], f);
      o[1] = Blend(pg, p[1], f);
      o[2] = Blend(pr, p[2], f);
    }
    pb = p[0], pg = p[1], pr = p[2];
  }
  const int pos = n + shift;
  if (f > 0 && pos >= 0 && pos < outLen) {
    uint8_t* o = out + pos * outStride;
    o[0] = Blend(pb, bg.b, f);
    o[1] = Blend(pg, bg.g, f);
    o[2] = Blend(pr, bg.r, f);
  }
}

void FillRGB(TBitmap& bmp, TRGB c) {
  for (int y = 0; y < bmp.Height(); ++y) {
    TRGB* p = reinterpret_cast<TRGB*>(bmp.ScanLine(y));
    std::fill(p, p + bmp.Width(), c);
  }
}

}  // namespace

void _RotateShear(const TBitmap& src, TBitmap& dst, int angle, bool antiAlias, TRGB background,
                  TProgressRec& progress) {
  if (src.PixelFormat() != pf24bit || src.Empty()) return;
  if (angle == 0) {
    dst = src;
    return;
  }
  const int w = src.Width(), h = src.Height();
  const double theta = angle * M_PI / 180;
  const bool positive = theta > 0;
  const double a = std::fabs(std::tan(theta / 2)), b = std::fabs(std::sin(theta));
  const int w1 = RoundHalfEven(h * a + w + 1);
  const int s1 = RoundHalfEven((w1 - w) * b);
  int h2 = RoundHalfEven(w1 * b + h + 1);
  const int s2 = RoundHalfEven((h2 - h - s1) * a);
  h2 -= 2 * s1;
  const int w3 = std::max(1, RoundHalfEven(h2 * a + w1 + 1 - 2 * s2));
  h2 = std::max(1, h2);

  const double perLine = 100.0 / (h + w1 + h2 + 0.5);
  int line = 0;
  auto report = [&] {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>(line * perLine));
    ++line;
  };
  // Parallel bands report, after the fact, the value the caller's thread gave
  // before the last line done: a subset of the single-thread values, in order.
  auto reportDone = [&](int base) {
    return [&, base](int lines) {
      if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>((base + lines - 1) * perLine));
      return true;
    };
  };

  // Shear 1: rows slide right, more towards the bottom for positive angles.
  TBitmap sh1(w1, h, pf24bit);
  FillRGB(sh1, background);
  VXParallelRows(h, static_cast<int64_t>(w1) * h, 16, [&](int y0, int y1, bool onCaller) {
    for (int y = y0; y < y1; ++y) {
      if (onCaller) report();
      const double t = (positive ? y : h - y) * a;
      const int d = RoundHalfEven(t);
      const int f = static_cast<int>((t - d) * 4096);
      ShearLine(src.ScanLine(y), 3, w, sh1.ScanLine(y), 3, w1, d, f, antiAlias, background);
    }
  }, reportDone(0));
  line = h;

  // Shear 2: columns slide down, more towards the left for positive angles. The
  // columns are walked a source row at a time (each column keeps its own shift)
  // so that memory is read along rows; progress still counts one line per column.
  // Parallel bands take whole columns, so no two write the same pixel.
  TBitmap sh2(w1, h2, pf24bit);
  FillRGB(sh2, background);
  std::vector<int> shift(static_cast<size_t>(w1)), frac(static_cast<size_t>(w1));
  for (int x = 0; x < w1; ++x) {
    const double t = (positive ? w1 - x : x) * b;
    const int d = RoundHalfEven(t);
    shift[static_cast<size_t>(x)] = d - s1;
    frac[static_cast<size_t>(x)] = antiAlias ? RoundHalfEven((t - d) * 4096) : 0;
  }
  std::vector<TRGB> bgRow(static_cast<size_t>(w1), background);
  VXParallelRows(w1, static_cast<int64_t>(w1) * h2, 16, [&](int x0, int x1, bool onCaller) {
    int columnsReported = 0;
    for (int y = 0; y <= h; ++y) {
      if (onCaller)
        for (const int due = static_cast<int>(static_cast<int64_t>(w1) * y / (h + 1)); columnsReported < due;
             ++columnsReported)
          report();
      // Row h is the one past the end: only the anti-aliased trailing pixels land there.
      if (y == h && !antiAlias) break;
      const TRGB* cur = y < h ? reinterpret_cast<const TRGB*>(sh1.ScanLine(y)) : bgRow.data();
      const TRGB* prev = y > 0 ? reinterpret_cast<const TRGB*>(sh1.ScanLine(y - 1)) : bgRow.data();
      for (int x = x0; x < x1; ++x) {
        const int pos = y + shift[static_cast<size_t>(x)];
        if (pos < 0 || pos >= h2) continue;
        TRGB& o = reinterpret_cast<TRGB*>(sh2.ScanLine(pos))[x];
        const int f = frac[static_cast<size_t>(x)];
        if (!antiAlias) {
          o = cur[x];
        } else if (y < h || f > 0) {
          o.b = Blend(prev[x].b, cur[x].b, f);
          o.g = Blend(prev[x].g, cur[x].g, f);
          o.r = Blend(prev[x].r, cur[x].r, f);
        }
      }
    }
    if (onCaller)
      for (; columnsReported < w1; ++columnsReported) report();
  }, reportDone(h));
  line = h + w1;
  sh1 = TBitmap();

  TBitmap out(w3, h2, pf24bit);
  FillRGB(out, background);
  VXParallelRows(h2, static_cast<int64_t>(w3) * h2, 16, [&](int y0, int y1, bool onCaller) {
    for (int y = y0; y < y1; ++y) {
      if (onCaller) report();
      const double t = (positive ? y : h2 - y) * a;
      const int d = RoundHalfEven(t);
      const int f = RoundHalfEven((t - d) * 4096);
      ShearLine(sh2.ScanLine(y), 3, w1, out.ScanLine(y), 3, w3, d - s2, f, antiAlias, background);
    }
  }, reportDone(h + w1));
  dst = std::move(out);
}

void _Rotate24(TBitmap& bmp, int angle, bool antiAlias, TRGB background, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return;
  angle %= 360;
  TBitmap cur = bmp, next;
  while (angle > 45) {
    _Rot90(cur, next);
    std::swap(cur, next);
    angle -= 90;
  }
  while (angle < -45) {
    _Rot90o(cur, next);
    std::swap(cur, next);
    angle += 90;
  }
  if (angle != 0) {
    _RotateShear(cur, next, angle, antiAlias, background, progress);
    std::swap(cur, next);
  }
  bmp = std::move(cur);
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
