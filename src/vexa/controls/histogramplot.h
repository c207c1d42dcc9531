// The histogram box's plot: which channels, where the labels, axes, bars and
// colour-ramp bar go. Coordinates are control pixels, top-down.
//
//   max ---+ |        |                 L = left margin (width of the max label + 2)
//          | | |      |                 Wp = plot width, Hp = plot height (bars end
//   max/2 -+ | ||  |  |                      at row Hp - 1; the x axis is row Hp)
//          | |||| ||| |
//          +----------+  <- x axis
//          0   64  128  192   255       labels, y = Hp - F - 1 before the axis moves up
//          [ramp bar, B rows]
#pragma once

#include <cstdint>
#include <string>

#include "vexa/proc/histogram.h"

namespace vexa {

enum THistogramKindItem : uint8_t { hkRed, hkGreen, hkBlue, hkGray };
/// Set of THistogramKindItem, bit 1 << member.
using THistogramKind = uint32_t;
enum THistogramLabelsItem : uint8_t { hlVertical, hlHorizontal };
/// Set of THistogramLabelsItem, bit 1 << member.
using THistogramLabels = uint32_t;
enum THistogramStyle { hsBars, hsLines };

constexpr uint32_t HistogramBit(int member) { return 1u << member; }

/// The largest count among the selected channels of the 256 items.
uint32_t HistogramMax(const THistogramItem* histogram, THistogramKind kind);
/// A channel's count of one item (0 = red, 1 = green, 2 = blue, 3 = grey).
uint32_t HistogramCount(const THistogramItem& item, int channel);

struct THistogramTextMetrics {
  int FontHeight = 11;     ///< |font height| in pixels (F)
  int TextHeight = 13;     ///< height of a label line
  int MaxLabelWidth = 0;   ///< text width of the max label
  int Label255Width = 0;   ///< text width of "255"
};

struct THistogramLayout {
  int L = 0, Wp = 0, Hp = 0;
  int RampRows = 0;  ///< B, the bottom rows holding the ramp (0 without CompBar)
  bool Axes = false;
  /// hlVertical: max at (0, 0) and max / 2 at (0, HalfLabelY).
  int HalfLabelY = 0;
  /// hlHorizontal: "0", "64", "128", "192" at x = LabelX[k], "255" ending at L + Wp; all at LabelY.
  int LabelX[4] = {};
  int Label255X = 0, LabelY = 0;
};

THistogramLayout HistogramLayout(int width, int height, THistogramLabels labels, bool compBar,
                                 const THistogramTextMetrics& metrics);

/// Histogram entry shown in plot column p of a plot wp columns wide.
int HistogramEntryAt(int p, int wp);
/// Row where a bar of `count` ends (exclusive end of a line drawn up from Hp - 1).
int HistogramBarEnd(uint32_t count, uint32_t max, int hp);
/// Row of a line plot's point for `count`.
int HistogramLineY(uint32_t count, uint32_t max, int hp);
/// Grey level of ramp column u, 0..255.
int HistogramRampLevel(int u, int wp);
/// The ramp's pixel for a level: the level in the bytes of the selected channels.
TRGB HistogramRampPixel(int level, THistogramKind kind);

}  // namespace vexa
