#include "vexa/proc/effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "vexa/core/raster.h"
#include "vexa/proc/procrect.h"

namespace vexa {

using procdetail::ClampRect;
using procdetail::Grey;
using procdetail::TRowProgress;

namespace {

inline TRGB* Row(TBitmap& b, int y) { return reinterpret_cast<TRGB*>(b.ScanLine(y)); }
// Light offset in map units; any value past +-1e6 lands on the map's edge anyway.
inline int LightOffset(double distance, int radius) {
  return static_cast<int>(dmax(dmin(distance / radius * 128, 1e6), -1e6));
}

inline uint8_t RoundClamp(double v) { return static_cast<uint8_t>(blimit(static_cast<int>(std::nearbyint(v)))); }

}  // namespace

void _BumpMapping(TBitmap& bmp, int lightX, int lightY, int radiusX, int radiusY, int level, TRGB lightColor,
                  int x1, int y1, int x2, int y2, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || radiusX == 0 || radiusY == 0) return;
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  std::vector<uint8_t> lightMap(256 * 256);
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) {
      const double nx = (i - 128) / 128.0, ny = (j - 128) / 128.0;
      double v = 1 - std::sqrt(nx * nx + ny * ny);
      if (v < 0) v = 0;
      // The centre (v = 1) gives 256, which wraps to 0 in a byte.
      lightMap[static_cast<size_t>(i * 256 + j)] = static_cast<uint8_t>(static_cast<int>(v * 256));
    }
  const int rw = x2 - x1 + 1, rh = y2 - y1 + 1;
  std::vector<uint8_t> grey(static_cast<size_t>(rw) * rh);
  VXParallelRows(rh, int64_t(rw) * rh, 8, [&](int r0, int r1, bool) {
    for (int y = r0; y < r1; ++y) {
      const TRGB* p = Row(bmp, y1 + y) + x1;
      for (int x = 0; x < rw; ++x)
        grey[static_cast<size_t>(y) * rw + x] = static_cast<uint8_t>(Grey(p[x].r, p[x].g, p[x].b));
    }
  });
  const double keep = level / 100.0, lightShare = (100 - level) / 100.0;
  const double lr = lightColor.r / 255.0, lg = lightColor.g / 255.0, lb = lightColor.b / 255.0;
  std::vector<int> offX(static_cast<size_t>(rw));
  for (int x = 0; x < rw; ++x)
    offX[static_cast<size_t>(x)] = LightOffset(static_cast<double>(x1 + x) - lightX, radiusX);
  TRowProgress rowProgress(progress.OnProgress, progress.Sender, y1, y2, true);
  // The grey copy is read only: rows are independent.
  procdetail::ForRows(x1, y1, x2, y2, rowProgress, [&](int row) {
    const int y = row - y1;
    const uint8_t* g = &grey[static_cast<size_t>(y) * rw];
    const uint8_t* up = &grey[static_cast<size_t>(y > 0 ? y - 1 : 0) * rw];
    const uint8_t* down = &grey[static_cast<size_t>(y < rh - 1 ? y + 1 : y) * rw];
    const int offY = LightOffset(static_cast<double>(y1 + y) - lightY, radiusY);
    TRGB* p = Row(bmp, y1 + y) + x1;
    for (int x = 0; x < rw; ++x) {
      const int dx = g[x < rw - 1 ? x + 1 : x] - g[x > 0 ? x - 1 : 0];
      const int dy = down[x] - up[x];
      const int nx = ilimit(dx - offX[static_cast<size_t>(x)] + 128, 0, 255);
      const int ny = ilimit(dy - offY + 128, 0, 255);
      const double light = lightMap[static_cast<size_t>(nx * 256 + ny)] * lightShare;
      p[x].r = RoundClamp(p[x].r * keep + light * lr);
      p[x].g = RoundClamp(p[x].g * keep + light * lg);
      p[x].b = RoundClamp(p[x].b * keep + light * lb);
    }
  });
}

void _lens(TBitmap& bmp, int x, int y, int width, int height, double refraction, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return;
  const int W = bmp.Width(), H = bmp.Height();
  auto clampTo = [](int64_t v, int hi) { return static_cast<int>(std::clamp<int64_t>(v, 0, hi)); };
  const int left = clampTo(int64_t(x) - width / 2, W), top = clampTo(int64_t(y) - height / 2, H);
  const int right = clampTo(int64_t(x) + width / 2, W), bottom = clampTo(int64_t(y) + height / 2, H);
  const int w = right - left, h = bottom - top;
  if (w <= 0 || h <= 0) return;
  const double a = w / 2.0, b = h / 2.0, c = std::min(a, b), n = std::max(refraction, 1.0);
  const double a2 = a * a, b2 = b * b, c2 = c * c;
  TBitmap box(w, h, pf24bit);
  auto refract = [n](double theta) { return std::tan(theta - std::asin(std::sin(theta) / n)); };
  auto report = [&](int columns) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>(columns * 100 / (h + 0.5)));
  };
  // Columns of the box are independent (the image is read only until the box is
  // drawn back): bands of columns over the worker threads.
  VXParallelRows(w, int64_t(w) * h, 8, [&](int t0, int t1, bool onCaller) {
  for (int t = t0; t < t1; ++t) {
    const double px = t - a + 0.5;
    for (int i = 0; i < h; ++i) {
      const double py = -(i - b) - 0.5;
      int sc = left + t, sr = top + i;
      const double zz = (1 - px * px / a2 - py * py / b2) * c2;
      if (!(b2 - b2 * px * px / a2 <= py * py) && zz > 0) {
        const double z = std::sqrt(zz);
        // The horizontal angle takes the cosine where the vertical one takes the
        // arc cosine; the lens has always been drawn this way.
        const double thetaX = M_PI / 2 - std::cos(px / std::sqrt(px * px + zz));
        const double thetaY = M_PI / 2 - std::acos(py / std::sqrt(py * py + zz));
        const double nx = px - z * refract(thetaX), ny = py - z * refract(thetaY);
        if (std::isfinite(nx) && std::isfinite(ny)) {
          sc = ilimit(left + static_cast<int>(dmax(dmin(nx + a, 1e9), -1e9)), 0, W - 1);
          sr = ilimit(top + static_cast<int>(dmax(dmin(-ny + b, 1e9), -1e9)), 0, H - 1);
        }
      }
      Row(box, i)[t] = Row(bmp, sr)[sc];
    }
    if (onCaller) report(t + 1);
  }
  }, [&](int columns) {
    report(columns);
    return true;
  });
  VXDrawBitmap(bmp, left, top, box);
}

void _wave(TBitmap& bmp, int amplitude, int waveLength, int phase, bool reflective, TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty() || amplitude == 0 || waveLength == 0) return;
  const TBitmap src = bmp;
  const int W = bmp.Width(), H = bmp.Height();
  const double phi = phase * M_PI / 180, L = 2.0 * waveLength;
  const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0, hw = W / 2.0, hh = H / 2.0;
  double fx = 1, fy = 1;
  if (hw > hh) fy = hw / hh;
  if (hw < hh) fx = hh / hw;
  // Rows in block order (bottom row first), as the wave has always been laid out.
  auto memRow = [](const TBitmap& b, int y) { return reinterpret_cast<const TRGB*>(b.Bits() + static_cast<size_t>(y) * b.RowLen()); };
  auto report = [&](int y) {
    if (progress.OnProgress) progress.OnProgress(progress.Sender, y * 100 / H);
  };
  // Every row reads only the copy.
  VXParallelRows(H, int64_t(W) * H, 8, [&](int r0, int r1, bool onCaller) {
  for (int y = r0; y < r1; ++y) {
    TRGB* d = const_cast<TRGB*>(memRow(bmp, y));
    const double dy = (y - cy) * fy;
    for (int x = 0; x < W; ++x) {
      const double dx = (x - cx) * fx;
      const double r = std::sqrt(dx * dx + dy * dy);
      const double s = std::sin(r / L * 2 * M_PI + phi);
      double sx, sy;
      if (reflective) {
        const double k = std::fabs(s) * amplitude;
        sx = cx + dx * k / fx, sy = cy + dy * k / fy;
      } else {
        const double k = s * amplitude;
        sx = cx + (k + dx) / fx, sy = cy + (k + dy) / fy;
      }
      const int tx = ilimit(static_cast<int>(dmax(dmin(sx, 1e9), -1e9)), 0, W - 2 < 0 ? 0 : W - 2);
      const int ty = ilimit(static_cast<int>(dmax(dmin(sy, 1e9), -1e9)), 0, H - 2 < 0 ? 0 : H - 2);
      // One-pixel-wide images have no second column (row) to interpolate with.
      const int tx1 = imin(tx + 1, W - 1), ty1 = imin(ty + 1, H - 1);
      double ffx = sx - std::trunc(sx), ffy = sy - std::trunc(sy);
      if (ffx < 0) ffx += 1;
      if (ffy < 0) ffy += 1;
      const TRGB* r0 = memRow(src, ty);
      const TRGB* r1 = memRow(src, ty1);
      const double w00 = (1 - ffy) * (1 - ffx), w01 = (1 - ffy) * ffx, w10 = ffy * (1 - ffx), w11 = ffy * ffx;
      d[x].b = static_cast<uint8_t>(w00 * r0[tx].b + w01 * r0[tx1].b + w10 * r1[tx].b + w11 * r1[tx1].b);
      d[x].g = static_cast<uint8_t>(w00 * r0[tx].g + w01 * r0[tx1].g + w10 * r1[tx].g + w11 * r1[tx1].g);
      d[x].r = static_cast<uint8_t>(w00 * r0[tx].r + w01 * r0[tx1].r + w10 * r1[tx].r + w11 * r1[tx1].r);
    }
    if (onCaller) report(y);
  }
  }, [&](int rows) {
    report(rows - 1);
    return true;
  });
}

namespace {

// One maximum or minimum pass. The window search is split into a row search and
// a column search: the first best pixel in reading order of the square is the
// first best in the earliest row that holds the best grey, so the two-step search
// picks the same winner.
void MorphPass(TBitmap& bmp, int win, bool maximum, int x1, int y1, int x2, int y2, int pass, double factor,
               const TProgressEvent& onProgress, TObject* sender) {
  const int rw = x2 - x1 + 1, rh = y2 - y1 + 1;
  const size_t n = static_cast<size_t>(rw) * rh;
  std::vector<TRGB> colour(n);
  std::vector<uint8_t> grey(n), rowBest(n);
  std::vector<int> rowArg(n);
  const int64_t work = int64_t(rw) * rh * (2 * win + 1);
  // Rows of each step depend only on the step before: each step in row bands.
  VXParallelRows(rh, work, 4, [&](int r0, int r1, bool) {
  for (int y = r0; y < r1; ++y) {
    const TRGB* p = Row(bmp, y1 + y) + x1;
    std::memcpy(&colour[static_cast<size_t>(y) * rw], p, sizeof(TRGB) * rw);
    uint8_t* g = &grey[static_cast<size_t>(y) * rw];
    for (int x = 0; x < rw; ++x) g[x] = static_cast<uint8_t>(Grey(p[x].r, p[x].g, p[x].b));
  }
  for (int y = r0; y < r1; ++y) {
    const uint8_t* g = &grey[static_cast<size_t>(y) * rw];
    uint8_t* rb = &rowBest[static_cast<size_t>(y) * rw];
    int* ra = &rowArg[static_cast<size_t>(y) * rw];
    for (int x = 0; x < rw; ++x) {
      const int lo = imax(0, x - win), hi = imin(rw - 1, x + win);
      int arg = lo;
      uint8_t best = g[lo];
      for (int k = lo + 1; k <= hi; ++k)
        if (maximum ? g[k] > best : g[k] < best) best = g[k], arg = k;
      rb[x] = best;
      ra[x] = arg;
    }
  }
  });
  const int start = maximum ? 0 : 255;
  auto report = [&](int rows) {
    if (onProgress) onProgress(sender, static_cast<int>((rows + pass * rh) * factor));
  };
  VXParallelRows(rh, work, 4, [&](int r0, int r1, bool onCaller) {
  for (int y = r0; y < r1; ++y) {
    const int lo = imax(0, y - win), hi = imin(rh - 1, y + win);
    TRGB* d = Row(bmp, y1 + y) + x1;
    for (int x = 0; x < rw; ++x) {
      int bestRow = -1, best = start;
      for (int k = lo; k <= hi; ++k) {
        const int v = rowBest[static_cast<size_t>(k) * rw + x];
        if (maximum ? v > best : v < best) best = v, bestRow = k;
      }
      // No pixel beat the starting grey: the pixel keeps its own colour.
      if (bestRow >= 0) d[x] = colour[static_cast<size_t>(bestRow) * rw + rowArg[static_cast<size_t>(bestRow) * rw + x]];
    }
    if (onCaller) report(y + 1);
  }
  }, [&](int rows) {
    report(rows);
    return true;
  });
}

}  // namespace

void _MorphFilter(TBitmap& bmp, int winSize, int op, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress,
                  TObject* sender) {
  if (bmp.PixelFormat() != pf24bit || winSize < 0 || op < moMaximum || op > moClosing) return;
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  // A window wider than the rectangle sees the same pixels as one that just covers it.
  winSize = imin(winSize, imax(x2 - x1, y2 - y1) + 1);
  double factor = 100.0 / (y2 - y1 + 0.5);
  if (op >= moOpening) factor /= 2;
  switch (op) {
    case moMaximum:
    case moMinimum:
      MorphPass(bmp, winSize, op == moMaximum, x1, y1, x2, y2, 0, factor, onProgress, sender);
      break;
    default:
      MorphPass(bmp, winSize, op == moClosing, x1, y1, x2, y2, 0, factor, onProgress, sender);
      MorphPass(bmp, winSize, op != moClosing, x1, y1, x2, y2, 1, factor, onProgress, sender);
  }
}

void _Merge(TBitmap& bmp, const TBitmap& other, int percent, int x1, int y1, int x2, int y2,
            const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit || other.Empty()) return;
  if (!ClampRect(bmp, x1, y1, x2, y2)) return;
  const int rw = x2 - x1 + 1;
  TBitmap tmp;
  _VXBmpStretch(other, tmp, rw, y2 - y1 + 1);
  if (tmp.PixelFormat() != pf24bit) tmp.SetPixelFormat(pf24bit);
  const double keep = percent / 100.0, mix = (100 - percent) / 100.0;
  TRowProgress rowProgress(onProgress, sender, y1, y2);
  procdetail::ForRows(x1, y1, x2, y2, rowProgress, [&](int y) {
    uint8_t* p = bmp.ScanLine(y) + 3 * x1;
    const uint8_t* u = tmp.ScanLine(y - y1);
    for (int i = 0; i < 3 * rw; ++i) p[i] = RoundClamp(p[i] * keep + u[i] * mix);
  });
}

}  // namespace vexa
