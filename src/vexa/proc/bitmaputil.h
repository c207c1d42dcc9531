// Bitmap copies through rectangles and selection polygons.
//
// Rectangles are inclusive and in bitmap pixels. A polygon list holds one or more
// closed polygons separated by kPolyBreak (core/raster.h); each polygon is used on
// its own as an even-odd clip, pixels sampled at their centres, so a polygon
// (10,10) (20,10) (20,20) (10,20) covers pixels 10..19 in both directions.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/raster.h"

namespace vexa {

/// A new copy of src (1 x 1 of src's format when src is empty); the caller owns it.
TBitmap* VXCloneBitmap(const TBitmap& src);

/// dst := the inclusive rectangle of src, in src's pixel format. X2 = 0 or past
/// the last column means the last column, likewise Y2. pf24bit rows are copied as
/// bytes, pf1bit rows bit by bit from bit X1; other formats leave dst sized but
/// black. An empty rectangle leaves dst 1 x 1.
void _CopyBitmapRect(const TBitmap& src, TBitmap& dst, int x1, int y1, int x2, int y2);

/// Draws src with its top-left corner at (x, y) onto dst, inside each polygon only.
void _CopyPolygonBitmap(TBitmap& dst, const TBitmap& src, int x, int y, const TPoint* poly, int polyCount);

/// dst := a new (x2 - x1) x (y2 - y1) bitmap in src's format, black, receiving the
/// pixels of src inside each polygon (polygon translated by -x1, -y1).
void _CopyBitmapPoly(const TBitmap& src, TBitmap& dst, int x1, int y1, int x2, int y2, const TPoint* poly,
                     int polyCount);

/// Fills the inside of each polygon with color.
void _ClearSel(TBitmap& bmp, const TPoint* poly, int polyCount, TColor color);

/// Copies the area of src inside the polygons onto dst so that the polygons'
/// bounding box lands with its top-left corner at `point`; dst grows (black) when
/// the box would not fit. Needs at least 3 points.
void _CopyPolygonToPoint(const TBitmap& src, const TPoint* poly, int polyCount, TPoint point, TBitmap& dst);

/// The reverse: dst grows to hold the polygons' bounding box, then the box-sized
/// area of src whose top-left corner is `point` is drawn onto the box, inside each
/// (untranslated) polygon only. Needs at least 3 points.
void _CopyPointToPolygon(const TBitmap& src, const TPoint* poly, int polyCount, TPoint point, TBitmap& dst);

/// True when both have the same size, row length and pixel bytes.
bool _BitmapCompareX(const TBitmap& a, const TBitmap& b);

}  // namespace vexa
