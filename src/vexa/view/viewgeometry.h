// Zoom, scroll limits and the client <-> bitmap mapping of the image view.
//
// Plain arithmetic, no GUI: the widget fills in the sizes, calls Layout and
// maps its mouse positions here. Units:
//   bitmap pixels   the image's own pixels (BmpW x BmpH)
//   zoomed pixels   the image at Zoom percent (ZW x ZH); ViewX/ViewY count these
//   client pixels   the drawing surface of the widget; the image starts at OffX/OffY
//
//      client area
//     +---------------------------+
//     |  OffX,OffY                |
//     |     +---------+           |   DrawW x DrawH of the zoomed image are
//     |     | visible |           |   visible, starting at zoomed pixel
//     |     +---------+           |   (ViewX, ViewY)
//     +---------------------------+
//
// Rounding is to nearest with ties to even, on the exact value.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

/// Nearest integer, ties to even (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
int VXRound(long double v);

/// Zoom after a left click (in) or a right click (out) at the given zoom.
int VXZoomStepIn(int zoom);
int VXZoomStepOut(int zoom);
/// The zoom that fits a bitmap into an area (outer control size); 0 when the
/// bitmap is empty or more than 100 times larger than the area.
int VXFitZoom(int areaW, int areaH, int bmpW, int bmpH);

/// Source rectangle of the bitmap that covers the visible part (rows from the top).
struct TVXSourceRect {
  int X = 0, Y = 0, W = 0, H = 0;
};

class TVXViewGeometry {
 public:
  int BmpW = 0, BmpH = 0;
  int Zoom = 100;  ///< percent, always > 0
  int ViewX = 0, ViewY = 0;
  int ClientW = 0, ClientH = 0;  ///< drawing surface (outer size minus scroll bars)
  int OuterW = 0, OuterH = 0;    ///< whole control
  bool Center = false;
  // Results of Layout.
  int ZW = 0, ZH = 0, OffX = 0, OffY = 0, DrawW = 0, DrawH = 0;

  int XBmp2Scr(int x) const;
  int YBmp2Scr(int y) const;
  int XScr2Bmp(int x) const;
  int YScr2Bmp(int y) const;

  /// Largest ViewX / ViewY; both 0 when the image would fit the outer size.
  void GetMaxViewXY(int& maxX, int& maxY) const;
  /// Clamps ViewX/ViewY to the limits; true when either changed.
  bool ClampView();
  /// Recomputes ZW, ZH and the drawing rectangle from the sizes and Center.
  void Layout();

  /// The visible source rectangle for painting: the width is shortened by one
  /// when rounding would reach past the bitmap's edge.
  TVXSourceRect PaintSource() const;
  /// As PaintSource but without the shortening (used for copies to other canvases).
  TVXSourceRect DrawSource() const;

  /// A point clamped to the visible image in client pixels.
  void ClampToDrawRect(int& x, int& y) const;
  /// A bitmap point clamped to the bitmap.
  void ClampToBitmap(int& x, int& y) const;
  /// The scroll position (unclamped) at `zoom` that keeps the bitmap point now
  /// under client point (x, y) under it: zooming around the mouse.
  TPoint ViewAround(int x, int y, int zoom) const;
};

}  // namespace vexa
