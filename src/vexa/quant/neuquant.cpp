#include "vexa/quant/neuquant.h"

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace vexa {

namespace {

constexpr int kNetBiasShift = 4;      // colour values scaled by 16 while learning
constexpr int kIntBiasShift = 16;     // fractional bits of bias and freq
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = 1 << (kIntBiasShift - kBetaShift);
constexpr int kBetaGamma = 1 << (kIntBiasShift + kGammaShift - kBetaShift);
constexpr int kInitAlpha = 1 << 10;
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusDec = 30;
constexpr int kRadBias = 1 << 8;
constexpr int kAlphaRadBias = 1 << 18;

}  // namespace

struct TNeuQuant {
  int32_t netsize = 0;
  int32_t maxnetpos = 0;
  int32_t initrad = 0;
  int32_t initradius = 0;
  int32_t alphadec = 0;
  int64_t width = 0, height = 0;
  int64_t lengthcount = 0;
  int32_t samplefac = 1;
  // Per neuron: blue, green, red, colour index (filled once learning is over).
  std::vector<int32_t> network;
  int32_t netindex[256] = {};
  std::vector<int64_t> radpower;
};

namespace {

inline int32_t Abs32(int32_t v) { return v < 0 ? -v : v; }

constexpr int kBlock = 8;
// Padding neurons sit far outside the colour cube so they never win a contest.
constexpr int32_t kFarAway = 1 << 20;

// The network while learning: one array per channel, padded to whole blocks of
// kBlock so the competition loop runs on fixed-size blocks the compiler vectorises.
struct TLearnState {
  int netsize = 0, padded = 0;
  std::vector<int32_t> nb, ng, nr, bias, freq, dist, biasdist;
};

// Finds the winner (nearest after bias) and updates the frequency and bias terms.
int Contest(TLearnState& s, int32_t b, int32_t g, int32_t r) {
  int32_t* nb = s.nb.data();
  int32_t* ng = s.ng.data();
  int32_t* nr = s.nr.data();
  int32_t* bias = s.bias.data();
  int32_t* freq = s.freq.data();
  int32_t* dist = s.dist.data();
  int32_t* biasdist = s.biasdist.data();
  int32_t bestd = INT32_MAX, bestbiasd = INT32_MAX;
  for (int blk = 0; blk < s.padded; blk += kBlock) {
    int32_t bd[kBlock], bb[kBlock];
    for (int k = 0; k < kBlock; ++k) {
      const int i = blk + k;
      const int32_t d = Abs32(nb[i] - b) + Abs32(ng[i] - g) + Abs32(nr[i] - r);
      dist[i] = d;
      const int32_t bdist = d - (bias[i] >> (kIntBiasShift - kNetBiasShift));
      biasdist[i] = bdist;
      const int32_t betafreq = freq[i] >> kBetaShift;
      freq[i] -= betafreq;
      bias[i] += betafreq << kGammaShift;
      bd[k] = d;
      bb[k] = bdist;
    }
    for (int k = 0; k < kBlock; ++k) {
      bestd = bd[k] < bestd ? bd[k] : bestd;
      bestbiasd = bb[k] < bestbiasd ? bb[k] : bestbiasd;
    }
  }
  // The first neuron reaching each minimum, as a sequential scan would pick.
  int bestpos = 0, bestbiaspos = 0;
  while (dist[bestpos] != bestd) ++bestpos;
  while (biasdist[bestbiaspos] != bestbiasd) ++bestbiaspos;
  freq[bestpos] += kBeta;
  bias[bestpos] -= kBetaGamma;
  return bestbiaspos;
}

inline void Move(TLearnState& s, int i, int64_t a, int64_t div, int32_t b, int32_t g, int32_t r) {
  s.nb[i] -= static_cast<int32_t>(a * (s.nb[i] - b) / div);
  s.ng[i] -= static_cast<int32_t>(a * (s.ng[i] - g) / div);
  s.nr[i] -= static_cast<int32_t>(a * (s.nr[i] - r) / div);
}

void AlterNeighbours(TLearnState& s, const TNeuQuant& q, int rad, int i, int32_t b, int32_t g, int32_t r) {
  const int lo = imax(i - rad, -1);
  const int hi = imin(i + rad, s.netsize);
  int j = i + 1, k = i - 1, d = 1;
  while (j < hi || k > lo) {
    const int64_t a = q.radpower[d++];
    if (j < hi) Move(s, j++, a, kAlphaRadBias, b, g, r);
    if (k > lo) Move(s, k--, a, kAlphaRadBias, b, g, r);
  }
}

void SetRadPower(TNeuQuant& q, int rad, int64_t alpha) {
  const int64_t rr = static_cast<int64_t>(rad) * rad;
  for (int k = 0; k < rad; ++k) q.radpower[k] = alpha * (((rr - static_cast<int64_t>(k) * k) * kRadBias) / rr);
}

void Learn(TNeuQuant& q, TLearnState& s, const TBitmap& bmp) {
  const int64_t pixels = q.width * q.height;
  q.alphadec = 30 + (q.samplefac - 1) / 3;
  const int64_t samplepixels = q.lengthcount / (3 * static_cast<int64_t>(q.samplefac));
  // Fewer than 100 samples would make the decay interval 0.
  const int64_t delta = samplepixels / 100 > 0 ? samplepixels / 100 : 1;
  int64_t alpha = kInitAlpha;
  int64_t radius = q.initradius;
  int rad = static_cast<int>(radius >> kRadiusBiasShift);
  if (rad <= 1) rad = 0;
  SetRadPower(q, rad, alpha);

  int64_t step;
  if (q.lengthcount % 499 != 0)
    step = 499;
  else if (q.lengthcount % 491 != 0)
    step = 491;
  else if (q.lengthcount % 487 != 0)
    step = 487;
  else
    step = 503;
  // A step longer than the image is still a walk over it, one wrap at a time.
  if (pixels > 0) step %= pixels;

  int64_t pos = 0;
  const int64_t w = q.width;
  for (int64_t i = 0; i < samplepixels;) {
    const uint8_t* p = bmp.ScanLine(static_cast<int>(pos / w)) + (pos % w) * 3;
    const int32_t b = p[0] << kNetBiasShift, g = p[1] << kNetBiasShift, r = p[2] << kNetBiasShift;
    const int j = Contest(s, b, g, r);
    Move(s, j, alpha, kInitAlpha, b, g, r);
    if (rad > 0) AlterNeighbours(s, q, rad, j, b, g, r);
    pos += step;
    if (pos >= pixels) pos -= pixels;
    ++i;
    if (i % delta == 0) {
      alpha -= alpha / q.alphadec;
      radius -= radius / kRadiusDec;
      rad = static_cast<int>(radius >> kRadiusBiasShift);
      if (rad <= 1) rad = 0;
      SetRadPower(q, rad, alpha);
    }
  }
}

// Orders the neurons by green exactly as a selection sort with swaps would (the
// first smallest of the rest swaps into place, so neurons of equal green end up in
// that sort's order, which the search's tie-breaking depends on), but finds each
// minimum in a tournament tree instead of a scan: O(n log n) instead of O(n^2).
void SortByGreen(TNeuQuant& q) {
  const int n = q.netsize;
  int32_t* net = q.network.data();
  int leaves = 1;
  while (leaves < n) leaves <<= 1;
  // Each node holds the position of the smallest green below it (the leftmost on ties).
  std::vector<int> tree(2 * static_cast<size_t>(leaves), -1);
  auto better = [&](int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return net[b * 4 + 1] < net[a * 4 + 1] || (net[b * 4 + 1] == net[a * 4 + 1] && b < a) ? b : a;
  };
  auto update = [&](int pos) {
    size_t node = static_cast<size_t>(leaves + pos);
    while (node > 1) {
      node >>= 1;
      tree[node] = better(tree[2 * node], tree[2 * node + 1]);
    }
  };
  for (int i = 0; i < n; ++i) tree[static_cast<size_t>(leaves + i)] = i;
  for (int node = leaves - 1; node >= 1; --node) tree[node] = better(tree[2 * node], tree[2 * node + 1]);
  for (int i = 0; i < n; ++i) {
    const int smallpos = tree[1];
    if (smallpos != i) {
      for (int c = 0; c < 4; ++c) std::swap(net[i * 4 + c], net[smallpos * 4 + c]);
      update(smallpos);
    }
    tree[static_cast<size_t>(leaves + i)] = -1;  // position i is settled
    update(i);
  }
}

void BuildIndex(TNeuQuant& q) {
  SortByGreen(q);
  int previous = 0, start = 0;
  const int32_t* net = q.network.data();
  for (int i = 0; i < q.netsize; ++i) {
    const int32_t smallval = net[i * 4 + 1];
    if (smallval != previous) {
      q.netindex[previous] = (start + i) >> 1;
      for (int v = previous + 1; v < smallval; ++v) q.netindex[v] = i;
      previous = smallval;
      start = i;
    }
  }
  q.netindex[previous] = (start + q.maxnetpos) >> 1;
  for (int v = previous + 1; v < 256; ++v) q.netindex[v] = q.maxnetpos;
}

}  // namespace

int NeuQuantSampleFactor(int64_t width, int64_t height, int quality) {
  int f;
  if (quality == -1) {
    const int64_t p = width * height;
    f = p < 2000 ? 1 : static_cast<int>(std::nearbyint(static_cast<double>(p - 2000) * 13 / 148000 + 2));
  } else {
    f = static_cast<int>(std::trunc((100 - quality) / 100.0 * 29)) + 1;
  }
  // Outside 1..30 the sample count divides by zero or the walk degenerates.
  return ilimit(f, 1, 30);
}

TNeuQuant* CreateNeuQuant(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol, int sampleFactor) {
  if (bitmap.PixelFormat() != pf24bit && !bitmap.Empty()) {
    TBitmap copy(bitmap);
    copy.SetPixelFormat(pf24bit);
    return CreateNeuQuant(copy, colorMap, NCol, sampleFactor);
  }
  auto q = std::make_unique<TNeuQuant>();
  const int netsize = imax(NCol, 1);
  q->netsize = netsize;
  q->maxnetpos = netsize - 1;
  q->initrad = netsize >> 3;
  q->initradius = q->initrad << kRadiusBiasShift;
  q->width = bitmap.Empty() ? 0 : bitmap.Width();
  q->height = bitmap.Empty() ? 0 : bitmap.Height();
  q->lengthcount = q->width * q->height * 3;
  q->samplefac = ilimit(sampleFactor, 1, 30);
  q->radpower.assign(static_cast<size_t>(q->initrad) + 1, 0);

  TLearnState s;
  s.netsize = netsize;
  s.padded = (netsize + kBlock - 1) / kBlock * kBlock;
  s.nb.assign(s.padded, kFarAway);
  s.ng.assign(s.padded, kFarAway);
  s.nr.assign(s.padded, kFarAway);
  s.bias.assign(s.padded, 0);
  s.freq.assign(s.padded, 0);
  s.dist.assign(s.padded, 0);
  s.biasdist.assign(s.padded, 0);
  for (int i = 0; i < netsize; ++i) {
    const int32_t v = static_cast<int32_t>((static_cast<int64_t>(i) << (kNetBiasShift + 8)) / netsize);
    s.nb[i] = s.ng[i] = s.nr[i] = v;
    s.freq[i] = (1 << kIntBiasShift) / netsize;
  }

  Learn(*q, s, bitmap);

  q->network.resize(static_cast<size_t>(netsize) * 4);
  for (int i = 0; i < netsize; ++i) {
    int32_t* n = &q->network[static_cast<size_t>(i) * 4];
    n[0] = s.nb[i] / (1 << kNetBiasShift);
    n[1] = s.ng[i] / (1 << kNetBiasShift);
    n[2] = s.nr[i] / (1 << kNetBiasShift);
    n[3] = i;
  }
  colorMap.resize(netsize);
  for (int i = 0; i < netsize; ++i) {
    const int32_t* n = &q->network[static_cast<size_t>(i) * 4];
    colorMap[i].b = static_cast<uint8_t>(n[0]);
    colorMap[i].g = static_cast<uint8_t>(n[1]);
    colorMap[i].r = static_cast<uint8_t>(n[2]);
  }
  BuildIndex(*q);
  return q.release();
}

int NeuQuantFindIndex(const TNeuQuant* q, TRGB c) {
  const int32_t b = c.b, g = c.g, r = c.r;
  int32_t bestd = 1000;
  int best = -1;
  int i = q->netindex[g], j = i - 1;
  const int32_t* net = q->network.data();
  while (i < q->netsize || j >= 0) {
    if (i < q->netsize) {
      const int32_t* p = net + static_cast<size_t>(i) * 4;
      int32_t dist = p[1] - g;
      if (dist >= bestd)
        i = q->netsize;
      else {
        ++i;
        dist = Abs32(dist) + Abs32(p[0] - b);
        if (dist < bestd) {
          dist += Abs32(p[2] - r);
          if (dist < bestd) {
            bestd = dist;
            best = p[3];
          }
        }
      }
    }
    if (j >= 0) {
      const int32_t* p = net + static_cast<size_t>(j) * 4;
      int32_t dist = g - p[1];
      if (dist >= bestd)
        j = -1;
      else {
        --j;
        dist = Abs32(dist) + Abs32(p[0] - b);
        if (dist < bestd) {
          dist += Abs32(p[2] - r);
          if (dist < bestd) {
            bestd = dist;
            best = p[3];
          }
        }
      }
    }
  }
  return best < 0 ? 0 : best;
}

void FreeNeuQuant(TNeuQuant* q) { delete q; }

}  // namespace vexa
