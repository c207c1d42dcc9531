// Drawing vector objects onto a canvas: the one painter behind the vector view,
// its burn-in and the command-line renderer.
//
// Objects are drawn at client positions trunc(x * Zoom / 100) + OffX - ViewX (see
// vectmodel.h); with an identity geometry (zoom 100, no offsets) they land on
// bitmap pixels. Nothing here is antialiased.
//
//   line     start to end (end pixel excluded), then the end shapes:
//              vxsOUTARROW  tip on the end point    vxsINARROW  base on the end point
//                  ----|>                               ----<|
//   box      (x1, y1) to (x2 + 1, y2 + 1) exclusive; ellipse and arc in the same box
//   text     clipped to the box, aligned left / right / centred, rotated by the
//            font's escapement about the box's centre
//   ruler    the line with a 9-pixel bar across each end and the length as a label
//            along it, or (vxrtRULER) tick marks every step, longer every 5th and 10th
#pragma once

#include <QImage>
#include <string>

#include "vexa/view/canvas_ui.h"
#include "vexa/vect/vectmodel.h"

namespace vexa {

struct TVXDrawContext {
  TVXViewGeometry Geom;       ///< zoom and offsets; Layout need not have run
  TRect Clip{0, 0, 0, 0};     ///< client area to draw into; empty = everything
  bool ZoomObjectsWidth = true;
  int EditingText = -1;       ///< this text object is drawn as a frame only
};

/// The pen width an object is drawn with: max(1, trunc(width * Zoom / 100)) when
/// zooming widths, else the width itself.
int VXObjectPenWidth(int width, int zoom, bool zoomWidth);

/// Draws the children of a frame, depth first, in list order (later on top).
void VXDrawObjects(TCanvas& c, const TVXVectModel& m, int frame, const TVXDrawContext& ctx);
/// Draws one object (a frame: its children).
void VXDrawObject(TCanvas& c, const TVXVectModel& m, int idx, const TVXDrawContext& ctx);
/// Grips of the selected objects, inverting the pixels under them.
void VXDrawGrips(TCanvas& c, const TVXVectModel& m, const TVXViewGeometry& g);
/// The label a ruler shows: its length in its own unit, e.g. "12.70 MM".
std::string VXRulerLabel(const TVXVectModel& m, int idx, int zoom);
/// Burns every visible object into the bitmap at zoom 100 (the bitmap becomes 24-bit
/// unless it is already).
void VXBurnObjects(const TVXVectModel& m, TBitmap& bmp);
/// A Qt font for a stored description at a zoom; `boxHeight` serves when its height is 0.
QFont VXQFont(const TVXLogFont& f, int zoom, int boxHeight);

}  // namespace vexa
