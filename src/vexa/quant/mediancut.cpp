#include "vexa/quant/mediancut.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace vexa {

namespace {

constexpr int kCells = 32768;
constexpr int kMaxBoxes = 256;
// Cost of an axis that cannot be split: above any reachable score sum.
constexpr double kNoSplit = 17523.6;

struct TMCBox {
  double score = 0;       // squared error / pixel count of the image
  double mean[3] = {};    // mean cell coordinate per axis (0-31)
  int64_t count = 0;
  int64_t marg[3][32] = {};
  int lower[3] = {};      // first cell coordinate per axis
  int upper[3] = {};      // one past the last
};

inline int CellIndex(int r, int g, int b) { return (r << 10) | (g << 5) | b; }

// Banker's rounding, as the palette and the split window expect.
inline int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

// Counts are 64-bit and the size is kept whole: a 16-bit size and a 32-bit pixel
// count would wrap for large images. Results are the same for images that fit.
struct TMedianCutQuantizer {
  std::unique_ptr<int64_t[]> histogram;
  std::unique_ptr<TMCBox[]> boxes;
  std::unique_ptr<uint8_t[]> indexMap;
  int64_t pixelCount = 0;
  int requested = 0;
  int produced = 0;
  int64_t width = 0, height = 0;
};

namespace {

void BoxStats(TMCBox& box, double pixelCount) {
  if (box.count == 0) {
    box.score = 0;
    return;
  }
  double score = 0;
  const double count = static_cast<double>(box.count);
  for (int axis = 0; axis < 3; ++axis) {
    double sum = 0, sumSq = 0;
    const int64_t* m = box.marg[axis];
    for (int x = box.lower[axis]; x < box.upper[axis]; ++x) {
      sum += static_cast<double>(x * m[x]);
      sumSq += static_cast<double>(static_cast<int64_t>(x) * x * m[x]);
    }
    const double mean = sum / count;
    box.mean[axis] = mean;
    score += sumSq - mean * mean * count;
  }
  box.score = score / pixelCount;
}

void Shrink(TMCBox& box) {
  for (int axis = 0; axis < 3; ++axis) {
    const int64_t* m = box.marg[axis];
    int lo = 0;
    while (lo < 32 && m[lo] == 0) ++lo;
    int hi = 31;
    while (hi > lo && m[hi] == 0) --hi;
    box.lower[axis] = lo;
    box.upper[axis] = hi + 1;
  }
}

// Splits box along one axis into low and high; false when the axis cannot be split.
bool SplitAxis(const TMCBox& box, int axis, const int64_t* hist, double pixelCount, TMCBox& low, TMCBox& high) {
  const int lo = box.lower[axis], hi = box.upper[axis];
  if (lo + 1 == hi) return false;
  const double mu = box.mean[axis];
  const int64_t n = box.count;
  const int64_t* m = box.marg[axis];
  const int a = RoundEven((lo + mu) * 0.5);
  const int b = RoundEven((hi + mu) * 0.5);
  int64_t s = 0;
  for (int x = lo; x < a; ++x) s += m[x];
  double t = 0, best = -1;
  int cut = a;
  int64_t lowCount = n;
  // The running sum reaches n by hi - 1 at the latest, so f never leaves the marginal.
  for (int f = a; f <= b && f < 32; ++f) {
    s += m[f];
    if (s == n) break;
    t += static_cast<double>(m[f] * f) / static_cast<double>(n);
    const double d = mu - t;
    const double v = static_cast<double>(s) / static_cast<double>(n - s) * (d * d);
    if (v > best) {
      best = v;
      cut = f;
      lowCount = s;
    }
  }
  low = box;
  high = box;
  low.count = lowCount;
  low.upper[axis] = cut + 1;
  high.count = n - lowCount;
  high.lower[axis] = cut + 1;
  if (low.count == 0 || high.count == 0) return false;

  std::memset(low.marg, 0, sizeof(low.marg));
  for (int r = low.lower[0]; r < low.upper[0]; ++r)
    for (int g = low.lower[1]; g < low.upper[1]; ++g) {
      const int64_t* cell = hist + CellIndex(r, g, 0);
      for (int bl = low.lower[2]; bl < low.upper[2]; ++bl) {
        const int64_t h = cell[bl];
        if (h == 0) continue;
        low.marg[0][r] += h;
        low.marg[1][g] += h;
        low.marg[2][bl] += h;
      }
    }
  for (int ax = 0; ax < 3; ++ax)
    for (int x = 0; x < 32; ++x) high.marg[ax][x] = box.marg[ax][x] - low.marg[ax][x];
  Shrink(low);
  Shrink(high);
  BoxStats(low, pixelCount);
  BoxStats(high, pixelCount);
  return true;
}

bool SplitBox(TMedianCutQuantizer& q, int j, int i) {
  TMCBox& box = q.boxes[j];
  if (box.score == 0 || box.count == 0) {
    box.score = 0;
    return false;
  }
  const double pixelCount = static_cast<double>(q.pixelCount);
  TMCBox low[3], high[3];
  double cost[3];
  for (int axis = 0; axis < 3; ++axis)
    cost[axis] = SplitAxis(box, axis, q.histogram.get(), pixelCount, low[axis], high[axis])
                     ? low[axis].score + high[axis].score
                     : kNoSplit;
  int chosen;
  if (cost[0] < kNoSplit && cost[0] <= cost[1] && cost[0] <= cost[2])
    chosen = 0;
  else if (cost[1] < kNoSplit && cost[1] <= cost[0] && cost[1] <= cost[2])
    chosen = 1;
  else if (cost[2] < kNoSplit)
    chosen = 2;
  else {
    box.score = 0;
    return false;
  }
  q.boxes[j] = low[chosen];
  q.boxes[i] = high[chosen];
  return true;
}

void BuildHistogram(const TBitmap& bmp, int64_t* hist) {
  const int w = bmp.Width(), h = bmp.Height();
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) ++hist[((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3)];
  }
}

}  // namespace

TMedianCutQuantizer* CreateMedianCutQuantizer(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol) {
  if (bitmap.PixelFormat() != pf24bit && !bitmap.Empty()) {
    TBitmap copy(bitmap);
    copy.SetPixelFormat(pf24bit);
    return CreateMedianCutQuantizer(copy, colorMap, NCol);
  }
  auto q = std::make_unique<TMedianCutQuantizer>();
  q->width = bitmap.Empty() ? 0 : bitmap.Width();
  q->height = bitmap.Empty() ? 0 : bitmap.Height();
  q->pixelCount = q->width * q->height;
  q->requested = NCol;
  q->histogram = std::make_unique<int64_t[]>(kCells);
  q->boxes = std::make_unique<TMCBox[]>(kMaxBoxes);
  q->indexMap = std::make_unique<uint8_t[]>(kCells);

  int64_t* hist = q->histogram.get();
  if (q->pixelCount > 0) BuildHistogram(bitmap, hist);

  TMCBox& box0 = q->boxes[0];
  // The per-axis marginals of the whole cube are the histogram's projections.
  for (int r = 0; r < 32; ++r)
    for (int g = 0; g < 32; ++g) {
      const int64_t* cell = hist + CellIndex(r, g, 0);
      for (int b = 0; b < 32; ++b) {
        const int64_t h = cell[b];
        box0.marg[0][r] += h;
        box0.marg[1][g] += h;
        box0.marg[2][b] += h;
      }
    }
  for (int axis = 0; axis < 3; ++axis) {
    box0.lower[axis] = 0;
    box0.upper[axis] = 32;
  }
  box0.count = q->pixelCount;
  BoxStats(box0, static_cast<double>(q->pixelCount));

  const int ncol = ilimit(NCol, 1, kMaxBoxes);
  int i = 1;
  while (i < ncol) {
    int j = -1;
    double best = 0;
    for (int k = 0; k < i; ++k)
      if (q->boxes[k].score > best) {
        best = q->boxes[k].score;
        j = k;
      }
    if (j < 0) break;
    if (SplitBox(*q, j, i)) ++i;
  }
  q->produced = i;

  if (colorMap.size() < static_cast<size_t>(i)) colorMap.resize(i);
  for (int k = 0; k < i; ++k) {
    const TMCBox& box = q->boxes[k];
    colorMap[k].r = static_cast<uint8_t>(RoundEven(box.mean[0]) * 8);
    colorMap[k].g = static_cast<uint8_t>(RoundEven(box.mean[1]) * 8);
    colorMap[k].b = static_cast<uint8_t>(RoundEven(box.mean[2]) * 8);
  }

  uint8_t* map = q->indexMap.get();
  for (int k = 0; k < i; ++k) {
    const TMCBox& box = q->boxes[k];
    for (int r = box.lower[0]; r < box.upper[0]; ++r)
      for (int g = box.lower[1]; g < box.upper[1]; ++g)
        std::memset(map + CellIndex(r, g, box.lower[2]), k, box.upper[2] - box.lower[2]);
  }
  return q.release();
}

int MedianCutFindIndex(const TMedianCutQuantizer* q, TRGB c) {
  return q->indexMap[((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)];
}

int MedianCutColorCount(const TMedianCutQuantizer* q) { return q->produced; }

void FreeMedianCutQuantizer(TMedianCutQuantizer* q) { delete q; }

}  // namespace vexa
