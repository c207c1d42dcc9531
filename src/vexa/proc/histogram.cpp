#include "vexa/proc/histogram.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "vexa/core/containers.h"
#include "vexa/proc/procrect.h"

namespace vexa {

using procdetail::ClampRect;
using procdetail::Grey;
using procdetail::TRowProgress;

void _GetHistogram(const TBitmap& bmp, THistogramItem* histogram, int x1, int y1, int x2, int y2) {
  if (bmp.PixelFormat() != pf24bit) return;
  std::memset(static_cast<void*>(histogram), 0, 256 * sizeof(THistogramItem));
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  // Separate counters per channel keep the increments independent of each other.
  uint32_t hr[256] = {}, hg[256] = {}, hb[256] = {}, hk[256] = {};
  const int n = x2 - x1 + 1;
  for (int y = y1; y <= y2; ++y) {
    const uint8_t* p = bmp.ScanLine(y) + 3 * x1;
    for (int i = 0; i < n; ++i, p += 3) {
      ++hb[p[0]];
      ++hg[p[1]];
      ++hr[p[2]];
      ++hk[Grey(p[2], p[1], p[0])];
    }
  }
  for (int i = 0; i < 256; ++i) histogram[i] = {hr[i], hg[i], hb[i], hk[i]};
}

int _GetImageNumColors(const TBitmap& bmp, int x1, int y1, int x2, int y2) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return 0;
  THash1 colours(13);
  for (int y = y1; y <= y2; ++y) {
    const uint8_t* p = bmp.ScanLine(y) + 3 * x1;
    for (int x = x1; x <= x2; ++x, p += 3) colours.Insert(p[0] | (p[1] << 8) | (p[2] << 16));
  }
  return colours.Count();
}

void _HistAutoEqualize(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress,
                       TObject* sender) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return;
  const int w = bmp.Width(), h = bmp.Height();
  THistogramItem hist[256];
  _GetHistogram(bmp, hist, 0, 0, w - 1, h - 1);

  const int64_t target = int64_t(w) * h / 256;
  uint8_t left[256], right[256];
  int64_t r = 0, s = 0;
  for (int i = 0; i < 256; ++i) {
    left[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    s += hist[i].gray;
    if (target == 0) {
      // Below 256 pixels every counted level would push r up for ever; its limit
      // after clamping is 255, so go there directly instead of hanging.
      if (s > 0) r = 256;
    } else {
      while (s > target) {
        s -= target;
        ++r;
      }
    }
    right[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
  }

  const int cols = x2 - x1 + 1, rows = y2 - y1 + 1;
  const int c0 = imax(x1 - 1, 0), c1 = imin(x2 + 1, w - 1);
  std::vector<uint8_t> out(size_t(cols) * 3 * rows);
  std::vector<int> colSum(size_t(c1 - c0 + 1) * 3);
  TRowProgress progress(onProgress, sender, y1, y2, true);
  for (int y = y1; y <= y2; ++y) {
    const uint8_t* up = bmp.ScanLine(imax(y - 1, 0));
    const uint8_t* mid = bmp.ScanLine(y);
    const uint8_t* down = bmp.ScanLine(imin(y + 1, h - 1));
    for (int x = c0, i = 0; x <= c1; ++x, i += 3)
      for (int c = 0; c < 3; ++c) colSum[i + c] = up[3 * x + c] + mid[3 * x + c] + down[3 * x + c];
    uint8_t* o = out.data() + size_t(y - y1) * cols * 3;
    for (int x = x1; x <= x2; ++x, o += 3) {
      const int* a = &colSum[3 * (imax(x - 1, 0) - c0)];
      const int* b = &colSum[3 * (x - c0)];
      const int* c = &colSum[3 * (imin(x + 1, w - 1) - c0)];
      const int mb = (a[0] + b[0] + c[0]) / 9, mg = (a[1] + b[1] + c[1]) / 9, mr = (a[2] + b[2] + c[2]) / 9;
      const uint8_t* p = mid + 3 * x;
      const int g = Grey(p[2], p[1], p[0]);
      const int m = Grey(mr, mg, mb);
      const uint8_t* table = nullptr;
      if (left[g] == right[g] || m < left[g])
        table = left;
      else if (m > right[g])
        table = right;
      if (table) {
        o[0] = table[p[0]], o[1] = table[p[1]], o[2] = table[p[2]];
      } else {
        o[0] = static_cast<uint8_t>(mb), o[1] = static_cast<uint8_t>(mg), o[2] = static_cast<uint8_t>(mr);
      }
    }
    progress.Row(y);
  }
  for (int y = y1; y <= y2; ++y)
    std::memcpy(bmp.ScanLine(y) + 3 * x1, out.data() + size_t(y - y1) * cols * 3, size_t(cols) * 3);
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
  TRowProgress progress(onProgress, sender, y1, y2, true);
  const int n = x2 - x1 + 1;
  for (int y = y1; y <= y2; ++y) {
    uint8_t* p = bmp.ScanLine(y) + 3 * x1;
    for (int i = 0; i < n; ++i, p += 3) {
      p[0] = tb[p[0]];
      p[1] = tg[p[1]];
      p[2] = tr[p[2]];
    }
    progress.Row(y);
  }
}

}  // namespace vexa
