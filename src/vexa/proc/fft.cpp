#include "vexa/proc/fft.h"

#include <algorithm>
#include <cmath>

#include "vexa/core/parallel.h"
#include "vexa/core/raster.h"

namespace vexa {

void TVXFtImage::Assign(const TVXFtImage& source) {
  FreeAll();
  FSize = source.FSize;
  FNormalise = source.FNormalise;
  if (FSize > 0) BuildTables(FSize);
  FOffsetX = source.FOffsetX, FOffsetY = source.FOffsetY;
  FWidth = source.FWidth, FHeight = source.FHeight;
  FImageType = source.FImageType;
  FRed = source.FRed, FGreen = source.FGreen, FBlue = source.FBlue, FGrey = source.FGrey;
}

void TVXFtImage::FreeAll() {
  for (TPlane* p : {&FRed, &FGreen, &FBlue, &FGrey}) {
    p->clear();
    p->shrink_to_fit();
  }
}

std::vector<TVXFtImage::TPlane*> TVXFtImage::Planes() {
  std::vector<TPlane*> out;
  for (TPlane* p : {&FRed, &FGreen, &FBlue, &FGrey})
    if (!p->empty()) out.push_back(p);
  return out;
}

void TVXFtImage::BuildTables(int n) {
  FTableSize = n;
  FLog2 = static_cast<int>(std::log(static_cast<double>(n)) / std::log(2.0) + 0.5);
  FSin.resize(static_cast<size_t>(n));
  // Cosines get their own table: reading the sine a quarter period on fails for N < 4.
  FCos.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    FSin[static_cast<size_t>(i)] = std::sin(2 * M_PI * i / n);
    FCos[static_cast<size_t>(i)] = std::cos(2 * M_PI * i / n);
  }
  FBitRev.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    int r = 0;
    for (int b = 0; b < FLog2; ++b)
      if (i & (1 << b)) r |= 1 << (FLog2 - 1 - b);
    FBitRev[static_cast<size_t>(i)] = r;
  }
  FPow2.resize(static_cast<size_t>(FLog2) + 1);
  for (int i = 0; i <= FLog2; ++i) FPow2[static_cast<size_t>(i)] = 1 << i;
}

// Decimation in frequency: natural order in, bit-reversed order out, then reordered.
void TVXFtImage::Transform1D(double* re, double* im, double direction) const {
  const int n = FTableSize;
  for (int len = n; len >= 2; len /= 2) {
    const int half = len / 2, step = n / len;
    for (int start = 0; start < n; start += len)
      for (int k = 0; k < half; ++k) {
        const int i = start + k, j = i + half;
        const double wr = FCos[static_cast<size_t>(k * step)], wi = direction * FSin[static_cast<size_t>(k * step)];
        const double ar = re[i], ai = im[i], br = re[j], bi = im[j];
        re[i] = ar + br;
        im[i] = ai + bi;
        const double dr = ar - br, di = ai - bi;
        re[j] = dr * wr - di * wi;
        im[j] = dr * wi + di * wr;
      }
  }
  const double scale = 1.0 / std::sqrt(static_cast<double>(n));
  for (int i = 0; i < n; ++i) {
    const int r = FBitRev[static_cast<size_t>(i)];
    if (r > i) {
      std::swap(re[i], re[r]);
      std::swap(im[i], im[r]);
    }
  }
  for (int i = 0; i < n; ++i) re[i] *= scale, im[i] *= scale;
}

void TVXFtImage::Transform2D(TPlane& plane, double direction, int planeIndex, int planes) const {
  const int n = FSize;
  const size_t stride = 2 * static_cast<size_t>(n);
  const int64_t work = int64_t(n) * n;
  // Rows, then columns, each transformed on its own: bands of them over the worker threads.
  VXParallelRows(n, work, 4, [&](int y0, int y1, bool) {
    std::vector<double> re(static_cast<size_t>(n)), im(static_cast<size_t>(n));
    for (int y = y0; y < y1; ++y) {
      float* row = &plane[y * stride];
      std::copy(row, row + n, re.begin());
      std::copy(row + n, row + 2 * n, im.begin());
      Transform1D(re.data(), im.data(), direction);
      std::copy(re.begin(), re.end(), row);
      std::copy(im.begin(), im.end(), row + n);
    }
  });
  const double factor = 100.0 / (static_cast<double>(planes) * n);
  auto report = [&](int x) {
    if (OnProgress) OnProgress(ProgressSender, static_cast<int>(factor * x + factor * planeIndex * n));
  };
  // Columns are gathered a few at a time, so that each pass over the rows reads
  // neighbouring values rather than one per cache line.
  constexpr int kGroup = 8;
  VXParallelRows(n, work, kGroup, [&](int x0, int x1, bool onCaller) {
    std::vector<double> buf(2 * kGroup * static_cast<size_t>(n));
    for (int x = x0; x < x1; x += kGroup) {
      const int g = std::min(kGroup, x1 - x);
      for (int y = 0; y < n; ++y) {
        const float* row = &plane[y * stride];
        for (int k = 0; k < g; ++k) {
          buf[(2 * k) * size_t(n) + y] = row[x + k];
          buf[(2 * k + 1) * size_t(n) + y] = row[n + x + k];
        }
      }
      for (int k = 0; k < g; ++k) Transform1D(&buf[(2 * k) * size_t(n)], &buf[(2 * k + 1) * size_t(n)], direction);
      for (int y = 0; y < n; ++y) {
        float* row = &plane[y * stride];
        for (int k = 0; k < g; ++k) {
          row[x + k] = static_cast<float>(buf[(2 * k) * size_t(n) + y]);
          row[n + x + k] = static_cast<float>(buf[(2 * k + 1) * size_t(n) + y]);
        }
      }
      if (onCaller)
        for (int k = 0; k < g; ++k) report(x + k);
    }
  }, [&](int columns) {
    report(columns - 1);
    return true;
  });
}

void TVXFtImage::BuildFT(const TBitmap& bmp, TVXFtImageType type) {
  FImageType = type;
  FreeAll();
  FWidth = bmp.Width(), FHeight = bmp.Height();
  int n = 1;
  while (n < FWidth || n < FHeight) n *= 2;
  // Eight bytes per coefficient and plane, beside the padded square: refuse what
  // the bitmap limit would refuse.
  const int planes = type == vxitRGB ? 3 : 1;
  if (bmp.Empty() || !VXCheckWorkBytes({VXBitmapBytes(n, int64_t(n) * planes, 64), VXBitmapBytes(n, n, 24)})) {
    FImageType = vxitUnknown;
    FWidth = FHeight = 0;
    return;
  }
  FSize = n;
  if (FTableSize != n) BuildTables(n);
  FOffsetX = (n - FWidth) / 2, FOffsetY = (n - FHeight) / 2;
  TBitmap padded(n, n, pf24bit);
  VXDrawBitmap(padded, FOffsetX, FOffsetY, bmp);

  std::vector<std::pair<TPlane*, int>> build;  // plane, channel (0 b, 1 g, 2 r, 3 grey)
  if (type == vxitRGB) build = {{&FRed, 2}, {&FGreen, 1}, {&FBlue, 0}};
  if (type == vxitGrayscale) build = {{&FGrey, 3}};
  FNormalise = true;
  const size_t stride = 2 * static_cast<size_t>(n);
  for (size_t p = 0; p < build.size(); ++p) {
    TPlane& plane = *build[p].first;
    const int ch = build[p].second;
    plane.assign(stride * n, 0.0f);
    float largest = 1;
    for (int y = 0; y < n; ++y) {
      const uint8_t* s = padded.ScanLine(y);
      float* row = &plane[y * stride];
      for (int x = 0; x < n; ++x) {
        const uint8_t* px = s + 3 * x;
        const float v = ch == 3 ? static_cast<float>((21 * px[2] + 71 * px[1] + 7 * px[0]) / 100) : px[ch];
        row[x] = v;
        largest = std::max(largest, v);
      }
    }
    for (int y = 0; y < n; ++y) {
      float* row = &plane[y * stride];
      // The alternating sign moves the zero frequency to the centre.
      for (int x = 0; x < n; ++x) row[x] = ((x + y) & 1 ? -row[x] : row[x]) / largest;
    }
    Transform2D(plane, -1, static_cast<int>(p), static_cast<int>(build.size()));
  }
  FNormalise = false;
}

namespace {

// Writes value v of one plane into the channel(s) of a 24-bit pixel.
inline void Put(uint8_t* px, int channel, uint8_t v) {
  if (channel == 3)
    px[0] = px[1] = px[2] = v;
  else
    px[channel] = v;
}

}  // namespace

void TVXFtImage::GetFTImage(TBitmap& bmp) const {
  const int n = FSize;
  bmp.Allocate(std::max(n, 1), std::max(n, 1), pf24bit);
  if (FImageType == vxitUnknown || n == 0) return;
  const size_t stride = 2 * static_cast<size_t>(n);
  const std::pair<const TPlane*, int> planes[] = {{&FRed, 2}, {&FGreen, 1}, {&FBlue, 0}, {&FGrey, 3}};
  std::vector<double> v(static_cast<size_t>(n) * n);
  for (const auto& [plane, ch] : planes) {
    if (plane->empty()) continue;
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const double re = (*plane)[y * stride + x], im = (*plane)[y * stride + n + x];
        const double m = std::sqrt(re * re + im * im);
        const double val = m == 0 ? 0 : std::log(std::sqrt(m));
        v[static_cast<size_t>(y) * n + x] = val;
        lo = std::min(lo, val), hi = std::max(hi, val);
      }
    if (std::fabs(lo) <= 0.00001) lo = 0;
    // Dividing by the range before scaling lets the largest value reach 255 exactly.
    const double range = hi > lo ? hi - lo : HUGE_VAL;
    for (int y = 0; y < n; ++y) {
      uint8_t* d = bmp.ScanLine(y);
      for (int x = 0; x < n; ++x) {
        const double t = (v[static_cast<size_t>(y) * n + x] - lo) / range;
        Put(d + 3 * x, ch, static_cast<uint8_t>(ilimit(static_cast<int>(255 * t), 0, 255)));
      }
    }
  }
}

void TVXFtImage::BuildBitmap(TBitmap& bmp) const {
  bmp.Allocate(std::max(FWidth, 1), std::max(FHeight, 1), pf24bit);
  if (FImageType == vxitUnknown || FSize == 0) return;
  const int n = FSize;
  const size_t stride = 2 * static_cast<size_t>(n);
  const std::pair<const TPlane*, int> planes[] = {{&FRed, 2}, {&FGreen, 1}, {&FBlue, 0}, {&FGrey, 3}};
  int present = 0, index = 0;
  for (const auto& pl : planes) present += !pl.first->empty();
  for (const auto& [plane, ch] : planes) {
    if (plane->empty()) continue;
    TPlane work = *plane;
    Transform2D(work, 1, index++, present);
    float lo = HUGE_VALF, hi = -HUGE_VALF;
    for (int y = 0; y < n; ++y) {
      float* row = &work[y * stride];
      for (int x = 0; x < n; ++x) {
        row[x] = std::fabs(row[x]);
        lo = std::min(lo, row[x]), hi = std::max(hi, row[x]);
      }
    }
    // A flat plane has no range to stretch; show it at the normalised scale.
    const bool flat = hi - lo < 1e-6f;
    const double range = flat ? 1 : static_cast<double>(hi) - lo;
    const double base = flat ? 0 : lo;
    for (int y = 0; y < FHeight; ++y) {
      const float* row = &work[(y + FOffsetY) * stride + FOffsetX];
      uint8_t* d = bmp.ScanLine(y);
      for (int x = 0; x < FWidth; ++x)
        Put(d + 3 * x, ch, static_cast<uint8_t>(ilimit(static_cast<int>(255 * ((row[x] - base) / range)), 0, 255)));
    }
  }
}

template <typename Pred>
void TVXFtImage::ZeroWhere(Pred pred) {
  const int n = FSize;
  const size_t stride = 2 * static_cast<size_t>(n);
  for (TPlane* p : Planes())
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        if (pred(x, y)) (*p)[y * stride + x] = (*p)[y * stride + n + x] = 0;
}

void TVXFtImage::HiPass(int radius) {
  const int c = FSize / 2;
  ZeroWhere([&](int x, int y) { return static_cast<int>(std::sqrt(double((x - c) * (x - c) + (y - c) * (y - c)))) <= radius; });
}

void TVXFtImage::LoPass(int radius) {
  const int c = FSize / 2;
  ZeroWhere([&](int x, int y) { return static_cast<int>(std::sqrt(double((x - c) * (x - c) + (y - c) * (y - c)))) > radius; });
}

void TVXFtImage::ClearZone(int x1, int y1, int x2, int y2) {
  if (x2 < x1) return;
  ZeroWhere([&](int x, int y) { return x >= x1 && x <= x2 && y >= y1 && y <= y2; });
}

TVXFtImage::TComplexRefs TVXFtImage::GetComplexImage(int x, int y) {
  TComplexRefs r;
  if (x < 0 || y < 0 || x >= FSize || y >= FSize) return r;
  const size_t at = static_cast<size_t>(y) * 2 * FSize + x;
  auto refs = [&](TPlane& p, float*& re, float*& im) {
    if (!p.empty()) re = &p[at], im = &p[at + FSize];
  };
  refs(FRed, r.RedRe, r.RedIm);
  refs(FGreen, r.GreenRe, r.GreenIm);
  refs(FBlue, r.BlueRe, r.BlueIm);
  refs(FGrey, r.GreyRe, r.GreyIm);
  return r;
}

}  // namespace vexa
