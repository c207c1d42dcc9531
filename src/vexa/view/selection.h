// Selection geometry of the image view, without any GUI.
//
// A selection is a list of closed polygons in bitmap pixels, separated by the
// break marker kPolyBreak (core/raster.h). A rectangle selection is exactly four
// points in the order Select adds them:
//
//     0 (X1,Y1) ---- 1 (X2,Y1)        grips: 0..3 corners as numbered,
//        |              |                    4 left, 5 right, 6 top, 7 bottom edge
//     3 (X1,Y2) ---- 2 (X2,Y2)
//
// Box corners are inclusive. Client/bitmap mapping comes from TVXViewGeometry.
#pragma once

#include <functional>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/raster.h"
#include "vexa/view/viewgeometry.h"

namespace vexa {

enum TVXMouseInteractItems {
  miZoom,
  miScroll,
  miSelect,
  miSelectPolygon,
  miSelectCircle,
  miSelectZoom,
  miSelectMagicWand
};
/// Set of TVXMouseInteractItems, bit i for item i.
using TVXMouseInteract = unsigned;
constexpr TVXMouseInteract VXMI(TVXMouseInteractItems i) { return 1u << i; }
inline bool VXHas(TVXMouseInteract s, TVXMouseInteractItems i) { return (s & VXMI(i)) != 0; }

/// The set SetMouseInteract stores when `wanted` replaces `current`: the first item
/// newly switched on (in the order of the rules) decides which others may stay.
TVXMouseInteract VXRestrictMouseInteract(TVXMouseInteract current, TVXMouseInteract wanted);

/// One outlined polygon list drawn by the view's timer (the first one is the selection).
struct TVXAnimPolygon {
  std::vector<TPoint> Points;  ///< capacity grows in blocks of 64
  int Count = 0;               ///< points in use, markers included
  TColor Color1 = clBlack, Color2 = clWhite;
  bool Animated = true;
  int Phase = 0;      ///< 0..5, advanced by the timer
  int DrawPhase = 0;  ///< running dash counter while drawing
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  bool Visible = false;
  bool Sizeable = true;

  /// Appends a point and maintains the bounding box.
  void AddPtEx(int x, int y);
  /// Appends a break marker unless empty or the last point already is one.
  void AddBreak();
  /// Removes the last polygon and the marker before it (everything when only one is left).
  void RemoveLast();
  /// Removes the last point, then any markers left at the end.
  void RemoveLastPoint();
  void Clear() { Count = 0; }
  const TPoint* Data() const { return Points.data(); }
  bool LastIsBreak() const { return Count > 0 && IsPolyBreak(Points[static_cast<size_t>(Count - 1)]); }
};

/// True for four points whose edges 3-0, 0-1, 1-2, 2-3 alternate vertical and horizontal.
bool _IsRectangle(const TPoint* points, int count);

/// Resize grip under client point (x, y) of a rectangle selection: 0..3 corners
/// (within 3 pixels), 4..7 edges (closer than 3 pixels), else -1. The caller
/// checks visibility, sizeability and that no rubber band is being dragged.
int VXResizeGripAt(const TVXAnimPolygon& sel, const TVXViewGeometry& g, int x, int y);
/// True when client point (x, y) lies inside the rectangle's box (edges inclusive).
bool VXInsideBox(const TVXAnimPolygon& sel, const TVXViewGeometry& g, int x, int y);

/// A selection box, inclusive corners in bitmap pixels.
struct TVXBox {
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  friend bool operator==(const TVXBox&, const TVXBox&) = default;
};

/// Moves the sides that `grip` drags to bitmap point (bx, by), never letting a side
/// collapse onto the opposite one. Returns the grip, swapped when the drag crossed
/// the opposite side (0<->1, 2<->3, 4<->5 horizontally; 0<->3, 1<->2, 6<->7 vertically).
/// `box` is left unordered; VXRectPoints orders and clamps it.
int VXResizeBox(TVXBox& box, int grip, int bx, int by);
/// The four points of a rectangle selection: corners clamped to the bitmap, ordered.
void VXRectPoints(TVXBox box, int bmpW, int bmpH, TPoint out[4]);

/// Points of the centred ellipse drawn from press point (px, py) with radii
/// (rx, ry) in client pixels, mapped to bitmap pixels and clamped to the bitmap.
std::vector<TPoint> VXEllipsePoints(int px, int py, int rx, int ry, const TVXViewGeometry& g);

/// Walks the outline of a polygon list pixel by pixel in client coordinates:
/// every segment from its start point up to but excluding its end point, with a
/// closing segment per polygon (for the last one only when closeLast). The
/// callback gets the pixel and its dash colour (1 for draw phases 0..2, 2 for
/// 3..5); `drawPhase` runs on across segments.
void VXWalkOutline(const TPoint* pts, int count, bool closeLast, const TVXViewGeometry& g, int& drawPhase,
                   const std::function<void(int x, int y, int colour)>& pixel);

}  // namespace vexa
