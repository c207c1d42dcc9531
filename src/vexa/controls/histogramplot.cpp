#include "vexa/controls/histogramplot.h"

#include <algorithm>
#include <cmath>

namespace vexa {

namespace {
int Round(double v) { return static_cast<int>(std::nearbyint(v)); }
}  // namespace

uint32_t HistogramCount(const THistogramItem& item, int channel) {
  switch (channel) {
    case hkRed: return item.r;
    case hkGreen: return item.g;
    case hkBlue: return item.b;
    default: return item.gray;
  }
}

uint32_t HistogramMax(const THistogramItem* histogram, THistogramKind kind) {
  uint32_t max = 0;
  for (int i = 0; i < 256; ++i)
    for (int c = hkRed; c <= hkGray; ++c)
      if (kind & HistogramBit(c)) max = std::max(max, HistogramCount(histogram[i], c));
  return max;
}

THistogramLayout HistogramLayout(int width, int height, THistogramLabels labels, bool compBar,
                                 const THistogramTextMetrics& m) {
  THistogramLayout lay;
  lay.Wp = width;
  lay.Hp = height;
  const int F = std::abs(m.FontHeight);
  if (compBar) {
    lay.RampRows = static_cast<int>(F * 1.2);
    lay.Hp -= lay.RampRows + 2;
  }
  if (labels & HistogramBit(hlVertical)) {
    lay.HalfLabelY = lay.Hp / 2;
    lay.L += m.MaxLabelWidth + 2;
    lay.Wp -= m.MaxLabelWidth + 2;
  }
  if (labels & HistogramBit(hlHorizontal)) {
    for (int k = 0; k < 4; ++k) lay.LabelX[k] = lay.L + Round(k * 64 / 256.0 * lay.Wp);
    lay.Label255X = lay.L + lay.Wp - m.Label255Width;
    lay.LabelY = lay.Hp - F - 1;
    lay.Hp -= m.TextHeight + 2;
    lay.Axes = true;
  }
  return lay;
}

int HistogramEntryAt(int p, int wp) { return wp > 0 ? static_cast<int>(static_cast<double>(p) / wp * 256) : 0; }

int HistogramBarEnd(uint32_t count, uint32_t max, int hp) {
  return hp - Round(static_cast<double>(count) / max * hp) - 2;
}

int HistogramLineY(uint32_t count, uint32_t max, int hp) {
  return hp - Round(static_cast<double>(count) / max * hp) - 1;
}

int HistogramRampLevel(int u, int wp) {
  // A wide plot rounds its last column up to 256, which as a byte would paint it black.
  return wp > 0 ? imin(255, Round(static_cast<double>(u) / wp * 256)) : 0;
}

TRGB HistogramRampPixel(int level, THistogramKind kind) {
  const bool gray = kind & HistogramBit(hkGray);
  const auto g = static_cast<uint8_t>(level);
  TRGB p;
  p.r = (gray || (kind & HistogramBit(hkRed))) ? g : 0;
  p.g = (gray || (kind & HistogramBit(hkGreen))) ? g : 0;
  p.b = (gray || (kind & HistogramBit(hkBlue))) ? g : 0;
  return p;
}

}  // namespace vexa
