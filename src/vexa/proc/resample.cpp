#include "vexa/proc/resample.h"

#include <cmath>
#include <vector>

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

void HorizontalPass(const TBitmap& src, TBitmap& tmp, const TContributions& c, const TProgressEvent& onProgress,
                    TObject* sender, double factor) {
  const int dstW = tmp.Width();
  std::vector<int> offsets(c.Index.size());
  for (size_t i = 0; i < offsets.size(); ++i) offsets[i] = 3 * c.Index[i];
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = tmp.ScanLine(y);
    for (int x = 0; x < dstW; ++x) {
      double b = 0, g = 0, r = 0;
      for (int e = c.First[x], end = c.First[x + 1]; e < end; ++e) {
        const uint8_t* p = s + offsets[e];
        const double w = c.Weight[e];
        b += w * p[0];
        g += w * p[1];
        r += w * p[2];
      }
      d[3 * x] = ClampRound(b);
      d[3 * x + 1] = ClampRound(g);
      d[3 * x + 2] = ClampRound(r);
    }
    if (onProgress) onProgress(sender, static_cast<int>(factor * (y + 1)));
  }
}

// Row by row rather than column by column: every destination row reads whole
// source rows, which keeps the inner loop contiguous.
void VerticalPass(const TBitmap& tmp, TBitmap& dst, const TContributions& c, const TProgressEvent& onProgress,
                  TObject* sender, double factor) {
  const int n = 3 * dst.Width();
  const int dstH = dst.Height();
  std::vector<double> acc(static_cast<size_t>(n));
  double* a = acc.data();
  for (int y = 0; y < dstH; ++y) {
    for (int i = 0; i < n; ++i) a[i] = 0;
    for (int e = c.First[y], end = c.First[y + 1]; e < end; ++e) {
      const uint8_t* s = tmp.ScanLine(c.Index[e]);
      const double w = c.Weight[e];
      for (int i = 0; i < n; ++i) a[i] += w * s[i];
    }
    uint8_t* d = dst.ScanLine(y);
    for (int i = 0; i < n; ++i) d[i] = ClampRound(a[i]);
    if (onProgress) {
      const double columnsDone = static_cast<double>(dst.Width()) * (y + 1) / dstH;
      onProgress(sender, static_cast<int>(factor * (tmp.Height() + columnsDone)));
    }
  }
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
