// A minimal raster API over TBitmap: what the components need of a canvas.
//
// Rectangles are inclusive-exclusive (Right and Bottom not drawn). Polygons are
// filled with the even-odd rule, sampling each pixel at its centre; a polygon
// list may hold several closed polygons separated by the break marker
// kPolyBreak. Every function clips to the destination and never touches memory
// outside it. Colours are TColor (system colours resolved); on pf1bit targets a
// colour paints white when its luminance is at least 128.
#pragma once

#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Separates closed polygons in one point list.
constexpr TPoint kPolyBreak{0xFFFFF, 0xFFFFF};
inline bool IsPolyBreak(const TPoint& p) { return p.X == kPolyBreak.X && p.Y == kPolyBreak.Y; }

/// Splits a point list at the break markers into its polygons.
std::vector<std::vector<TPoint>> VXSplitPolygons(const TPoint* poly, int count);

/// Per row, the half-open x intervals inside a set of polygons (even-odd, pixel centres).
class TVXPolygonMask {
 public:
  /// Mask of the given polygons (all of them together, even-odd) over width x height.
  TVXPolygonMask(int width, int height, const std::vector<std::vector<TPoint>>& polygons);
  /// Spans of row y as pairs [x0, x1), clipped to 0..width.
  const std::vector<std::pair<int, int>>& Spans(int y) const { return FRows[static_cast<size_t>(y)]; }
  bool Contains(int x, int y) const;
  int Height() const { return static_cast<int>(FRows.size()); }

 private:
  std::vector<std::vector<std::pair<int, int>>> FRows;
};

void VXFillRect(TBitmap& dst, const TRect& r, TColor color);
/// Fills one polygon (a list without break markers) with the even-odd rule.
void VXFillPolygon(TBitmap& dst, const TPoint* pts, int count, TColor color);
/// Draws src with its top-left corner at (x, y), converting the format when needed.
void VXDrawBitmap(TBitmap& dst, int x, int y, const TBitmap& src);
/// Draws src scaled to dstRect by nearest neighbour.
void VXStretchDrawBitmap(TBitmap& dst, const TRect& dstRect, const TBitmap& src);
/// Draws src at (x, y) only where the pixel lies inside the polygon (even-odd clip).
void VXDrawBitmapClipped(TBitmap& dst, int x, int y, const TBitmap& src, const TPoint* pts, int count);
/// Draws the source rectangle srcRect of src scaled onto dstRect, only inside the polygon.
void VXStretchDrawBitmapClipped(TBitmap& dst, const TRect& dstRect, const TBitmap& src, const TRect& srcRect,
                                const TPoint* pts, int count);
/// Fills the polygon's inside with a colour (the clip-then-fill-everything idiom).
void VXFillClipped(TBitmap& dst, const TPoint* pts, int count, TColor color);
/// Resizes keeping the top-left pixels; new area filled with color.
void VXResizeKeep(TBitmap& bmp, int width, int height, TColor color);
/// Draws a one-pixel line (Bresenham), end point excluded as on the platform.
void VXLine(TBitmap& dst, int x1, int y1, int x2, int y2, TColor color);

/// Nearest-neighbour stretch of src into a dst of width x height (same format as src
/// for pf1bit and pf24bit sources).
void _VXBmpStretch(const TBitmap& src, TBitmap& dst, int width, int height);

}  // namespace vexa
