// The geometry of the ruler box: grip polygons, tick and label positions, label
// text and the clamping of grips and of the view.
//
// Units: "axis" values are the ruler's real-valued coordinates; "pixels" are
// offsets along the control from its leading edge (left, or top when vertical).
// Points are in control pixels. Rounding is half to even throughout.
//
//      gdUp, horizontal                 gdDown, horizontal
//   +------------------------+       +------------------------+
//   | 0    10   20  <- ruler |       |     /\    <- grip tips |
//   |------|----|------------|       |    /  \                |
//   |     /\    <- grip tips |       |------|----|------------|
//   |    /  \                |       | 0    10   20  <- ruler |
//   +------------------------+       +------------------------+
//
// A vertical ruler is the horizontal one with x and y swapped at the end.
#pragma once

#include <string>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

enum TGripKind : uint8_t { gkTriangle, gkLeftTriangle, gkRightTriangle, gkArrow, gkArrow2 };
enum TGripsDir { gdUp, gdDown };
enum TRulerDir { rdHorizontal, rdVertical };

/// Round half to even, as every position of the ruler is rounded.
int RulerRound(double v);

/// Strip thickness for a label font `fontHeight` pixels high; 0 without a ruler.
int RulerHeight(bool ruler, int fontHeight);

/// Pixel offset of an axis value from the leading edge.
inline int AxisToPixel(double value, double viewPos, double dotPerUnit) {
  return RulerRound((value - viewPos) * dotPerUnit);
}

struct TGripShape {
  TGripKind Kind = gkTriangle;
  TGripsDir GripsDir = gdUp;
  TRulerDir RulerDir = rdHorizontal;
  int BaseDim = 12;
  /// Control height - 1 for a horizontal ruler, width - 1 for a vertical one.
  int CrossExtent = 39;
  int RulerHeight = 0;
};

/// The polygon of a grip whose pixel position is `b`: 3, 3, 3, 7 or 5 points.
std::vector<TPoint> GripPolygon(const TGripShape& shape, int b);
/// Bounding box of a polygon, both corners inclusive.
TRect PolygonBounds(const std::vector<TPoint>& points);

/// The lowest index whose polygon's bounding box (edges inclusive) holds (x, y); -1 when none.
int ClickedGrip(const std::vector<std::vector<TPoint>>& polygons, int x, int y);

struct TRulerTick {
  double Value;  ///< axis value
  int Pixel;     ///< offset from the leading edge
};
/// Ticks on the multiples of `frequency` over `length` pixels (one extra beyond the
/// end, and one before the start when viewPos is not a multiple); nothing when
/// frequency or dotPerUnit is not positive.
std::vector<TRulerTick> RulerTicks(double viewPos, double dotPerUnit, double frequency, int length);

/// Label text: "%.15g", or hexadecimal of the truncated magnitude without leading
/// zeros ("0" for zero) and a "-" for negative values.
std::string RulerLabel(double value, bool hex);

/// Endpoints of a tick line (end excluded, as a line drawn to it leaves it out).
struct TTickLine {
  TPoint From, To;
};
/// A tick `length` pixels long from the strip's inner edge towards its outer edge.
/// width / height are the control's.
TTickLine RulerTickLine(TGripsDir gripsDir, TRulerDir rulerDir, int pixel, int length, int rulerHeight, int width,
                        int height);
/// The ruler strip's rectangle (right and bottom exclusive).
TRect RulerStripRect(TGripsDir gripsDir, TRulerDir rulerDir, int rulerHeight, int width, int height);

/// A grip limited by its minimum and maximum, only when maximum > minimum.
double ClampGripPos(double pos, double minimum, double maximum);
/// The view limited to viewMin .. viewMax - widthInUnit, only when viewMin < viewMax.
double ClampViewPos(double viewPos, double viewMin, double viewMax, double widthInUnit);
/// Pixels per unit that make viewMin .. viewMax fill `width`; dotPerUnit unchanged
/// when the range is empty or inverted.
double FitDotPerUnit(double dotPerUnit, double viewMin, double viewMax, int width);

}  // namespace vexa
