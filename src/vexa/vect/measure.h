// Measurements over a selection polygon list (bitmap pixels, closed polygons
// separated by kPolyBreak) and over a mouse drag, in units given by the
// coefficients cx, cy (units per bitmap pixel, from VXCalcCoef).
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

/// Perimeter of every polygon. While a polygon is being drawn (`drawing`) the last
/// one is left open and, with `rubber` non-null, the segment from its last point to
/// *rubber is added. Fewer than 2 points measure 0.
double VXSelectionLen(const TPoint* pts, int count, double cx, double cy, bool drawing, const TPoint* rubber);
/// |sum of the signed areas of all polygons|: polygons of opposite orientation
/// cancel. Fewer than 3 points measure 0.
double VXSelectionArea(const TPoint* pts, int count, double cx, double cy);
/// Centroid of the first polygon, truncated to pixels; (0, 0) when degenerate.
TPoint VXSelectionCentroid(const TPoint* pts, int count);
/// Length of a drag of (dx, dy) client pixels at a zoom (percent).
double VXDragLen(int dx, int dy, int zoom, double cx, double cy);

}  // namespace vexa
