#include "vexa/vect/vectmodes.h"

namespace vexa {

TVXMouseInteractVt VXRestrictMouseInteractVt(TVXMouseInteractVt current, TVXMouseInteractVt wanted) {
  const TVXMouseInteractVt added = wanted & ~current;
  for (int i = miArea; i <= miPutRuler; ++i)
    if (added & (1u << i)) return 1u << i;
  return wanted;
}

int VXInsertKindOf(TVXMouseInteractVt modes) {
  if (VXHasVt(modes, miPutLine)) return vxkLINE;
  if (VXHasVt(modes, miPutRuler)) return vxkRULER;
  if (VXHasVt(modes, miPutBox)) return vxkBOX;
  if (VXHasVt(modes, miPutEllipse)) return vxkELLIPSE;
  if (VXHasVt(modes, miPutBitmap)) return vxkBITMAP;
  if (VXHasVt(modes, miPutText)) return vxkTEXT;
  if (VXHasVt(modes, miDragLen)) return vxkLINE;
  return -1;
}

void VXDragSelGrip(TVXVectModel& m, int grip, int dx, int dy) {
  for (int idx : m.GetSelObjects()) {
    TVXVObject& o = m.Obj(idx);
    if (grip == 3) {
      if (!o.Has(vxvsMoveable)) continue;
      o.Left += dx;
      o.Right += dx;
      o.Top += dy;
      o.Bottom += dy;
      continue;
    }
    if (!o.Has(vxvsSizeable)) continue;
    if (grip == 1 || grip == 5) o.Left += dx;
    if (grip == 2 || grip == 4) o.Right += dx;
    if (grip == 1 || grip == 4) o.Top += dy;
    if (grip == 2 || grip == 5) o.Bottom += dy;
  }
}

void VXOrderSelRects(TVXVectModel& m) {
  for (int idx : m.GetSelObjects()) {
    TVXVObject& o = m.Obj(idx);
    if (!o.IsSegment()) OrdCor(o.Left, o.Top, o.Right, o.Bottom);
  }
}

}  // namespace vexa
