// The vector view's mouse modes, as plain rules the widget applies.
//
// The vector modes are a second set beside the view's own (TVXMouseInteract). At
// most one of them is on, except that measuring (miArea, miLineLen) also works
// together with the view's selection modes, whose polygon it measures.
#pragma once

#include "vexa/vect/vectmodel.h"

namespace vexa {

enum TVXMouseInteractVtItems {
  miArea,
  miLineLen,
  miPutLine,
  miPutBox,
  miPutEllipse,
  miPutBitmap,
  miPutText,
  miObjectSelect,
  miDragLen,
  miPutRuler
};
/// Set of TVXMouseInteractVtItems, bit i for item i.
using TVXMouseInteractVt = unsigned;
constexpr TVXMouseInteractVt VXMIV(TVXMouseInteractVtItems i) { return 1u << i; }
inline bool VXHasVt(TVXMouseInteractVt s, TVXMouseInteractVtItems i) { return (s & VXMIV(i)) != 0; }
constexpr TVXMouseInteractVt kVXMeasureModes = (1u << miArea) | (1u << miLineLen);

/// The set that results when `wanted` replaces `current`: the first newly switched-on
/// mode (in declaration order) becomes the only one; with nothing newly on, `wanted`
/// stands as it is.
TVXMouseInteractVt VXRestrictMouseInteractVt(TVXMouseInteractVt current, TVXMouseInteractVt wanted);

/// The kind a mode inserts (miDragLen draws a line to measure), or -1 for none.
int VXInsertKindOf(TVXMouseInteractVt modes);

/// Applies a grip drag of (dx, dy) bitmap pixels to every selected object: sizeable
/// objects move the corner of grip 1 (Left, Top), 2 (Right, Bottom), 4 (Right, Top)
/// or 5 (Left, Bottom); moveable objects move whole with grip 3.
void VXDragSelGrip(TVXVectModel& m, int grip, int dx, int dy);
/// Orders the rectangles of the selected objects (lines and rulers keep their direction).
void VXOrderSelRects(TVXVectModel& m);

}  // namespace vexa
