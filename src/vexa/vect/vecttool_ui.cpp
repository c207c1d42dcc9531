#include "vexa/vect/vecttool_ui.h"

#include <QPainter>
#include <cmath>

#include "vexa/vect/measure.h"
#include "vexa/vect/vectdraw_ui.h"
#include "vexa/vect/vexavect_ui.h"

namespace vexa {

bool TVXVectTool::Cancel() {
  const bool was = Dragging();
  FInserting = -1;
  FGrip = 0;
  FSelecting = false;
  FMoved = false;
  return was;
}

bool TVXVectTool::Press(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Button != Qt::LeftButton) return false;
  FOwner.RemoveTextEdit();
  Cancel();
  if (e.Taken) return false;
  const TVXMouseInteractVt modes = FOwner.MouseInteractVt();
  FDragX = v.Press().X;
  FDragY = v.Press().Y;
  FMovedX = FMovedY = 0;
  FInserting = VXInsertKindOf(modes);
  if (FInserting >= 0) return true;
  if (!VXHasVt(modes, miObjectSelect)) return false;
  int grip = 0;
  if (FOwner.FindSelGrip(e.X, e.Y, grip, v.Geometry()) != kVXNone)
    FGrip = grip;
  else
    FSelecting = true;
  return true;
}

bool TVXVectTool::DoubleClick(TVXToolContext&, const TVXToolEvent& e) {
  if (e.Button != Qt::LeftButton || e.Taken || !VXHasVt(FOwner.MouseInteractVt(), miObjectSelect)) return false;
  double d;
  const int idx = FOwner.FindNearObj(kVXRoot, e.BmpX, e.BmpY, d, FOwner.VisibleBitmapRect());
  if (idx < 0 || FOwner.ObjKind(idx) != vxkTEXT || d != 0) return false;
  Cancel();
  FOwner.UnSelAllObjectsNS();
  FOwner.AddSelObject(idx);
  FOwner.ActiveTextEdit(idx);
  return true;
}

bool TVXVectTool::Move(TVXToolContext& v, const TVXToolEvent& e) {
  FOwner.FMouseX = e.X;
  FOwner.FMouseY = e.Y;
  if (!e.Held || !Dragging() || e.Taken) {
    FOwner.UpdateHint(e.X, e.Y);
    return false;
  }
  v.AutoScroll(e.RawX, e.RawY);
  const int px = v.Press().X, py = v.Press().Y, zoom = v.Geometry().Zoom;
  int x = e.X, y = e.Y;
  if (x != px || y != py) FMoved = true;
  if (FInserting == vxkLINE || FInserting == vxkRULER) {
    if (e.Ctrl()) _CastPolySelCC(px, py, x, y);
    FDragX = x;
    FDragY = y;
    if (VXHasVt(FOwner.MouseInteractVt(), miDragLen)) {
      FOwner.FLastDragLen = VXDragLen(x - px, y - py, zoom, FOwner.CoefX(), FOwner.CoefY());
      FOwner.ShowDragLenHint({x, y});
    }
    v.Repaint();
  } else if (FInserting == vxkELLIPSE && e.Ctrl()) {
    const int dx = x - px, dy = y - py, r = std::max(std::abs(dx), std::abs(dy));
    FDragX = px + (dx < 0 ? -r : r);
    FDragY = py + (dy < 0 ? -r : r);
    v.Repaint();
  } else if (FInserting >= 0) {
    FDragX = x;
    FDragY = y;
    v.Repaint();
  } else if (FGrip) {
    // Measured from the press point, so that zoomed drags lose no pixels to rounding.
    const int bx = VXRound(static_cast<long double>(x - px) * 100 / zoom);
    const int by = VXRound(static_cast<long double>(y - py) * 100 / zoom);
    if (bx != FMovedX || by != FMovedY) {
      VXDragSelGrip(FOwner, FGrip, bx - FMovedX, by - FMovedY);
      FMovedX = bx;
      FMovedY = by;
      FOwner.Update();
    }
  } else if (FSelecting) {
    FDragX = x;
    FDragY = y;
    FOwner.UnSelAllObjectsNS();
    const TVXViewGeometry& g = v.Geometry();
    FOwner.SelInRect(kVXRoot, g.XScr2Bmp(px), g.YScr2Bmp(py), e.BmpX, e.BmpY);
    FOwner.SelectionChanged();
    FOwner.Update();
  }
  FOwner.UpdateHint(x, y);
  return true;
}

bool TVXVectTool::Release(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Button != Qt::LeftButton || !Dragging()) return false;
  const TVXViewGeometry& g = v.Geometry();
  const int px = v.Press().X, py = v.Press().Y;
  if (FInserting >= 0) {
    TVXVObject& t = FOwner.Obj(kVXTemplate);
    const int ax = g.XScr2Bmp(px), ay = g.YScr2Bmp(py);
    if (!FMoved) {
      t.Right += ax - t.Left;
      t.Bottom += ay - t.Top;
      t.Left = ax;
      t.Top = ay;
    } else {
      t.Left = ax;
      t.Top = ay;
      t.Right = g.XScr2Bmp(FDragX);
      t.Bottom = g.YScr2Bmp(FDragY);
    }
    t.Kind = static_cast<TVXVObjectKind>(FInserting);
    // Kept ordered, so that a later click makes a box of this size below-right of it.
    if (!t.IsSegment()) OrdCor(t.Left, t.Top, t.Right, t.Bottom);
    const bool measuring = VXHasVt(FOwner.MouseInteractVt(), miDragLen);
    Cancel();
    if (measuring) {
      FOwner.Hint()->hide();
      if (FOwner.OnDragLenEnd) FOwner.OnDragLenEnd(&FOwner, FOwner.LastDragLen());
    } else {
      const int idx = FOwner.AddNewObject();
      FOwner.UnSelAllObjectsNS();
      FOwner.AddSelObject(idx);
      if (t.Kind == vxkTEXT)
        FOwner.ActiveTextEdit(idx);
      else
        FOwner.VectorialChanged();
    }
  } else if (FSelecting && !FMoved) {
    Cancel();
    double d;
    const int idx = FOwner.FindNearObj(kVXRoot, g.XScr2Bmp(px), g.YScr2Bmp(py), d, FOwner.VisibleBitmapRect());
    if (idx < 0) {
      if (!e.Shift()) FOwner.UnSelAllObjects();
    } else if (e.Shift()) {
      if (FOwner.IsSelObject(idx))
        FOwner.UnSelObject(idx);
      else
        FOwner.AddSelObject(idx);
    } else {
      FOwner.UnSelAllObjectsNS();
      FOwner.AddSelObject(idx);
    }
  } else if (FGrip) {
    Cancel();
    VXOrderSelRects(FOwner);
    FOwner.VectorialChanged();
  }
  Cancel();
  FOwner.Update();
  return true;
}

void TVXVectTool::PaintOverlay(TVXToolContext& v, QPainter& p) {
  if (!FMoved || !Dragging() || FGrip) return;
  const int px = v.Press().X, py = v.Press().Y;
  TCanvas c(p);
  c.Pen = {clBlack, 1, psSolid, pmNot};
  c.Brush = {clBlack, bsClear};
  if (FInserting == vxkRULER) {
    // The ruler being inserted, drawn as it will look.
    const TVXViewGeometry& g = v.Geometry();
    TVXVObject& t = FOwner.Obj(kVXTemplate);
    const TVXVObject saved = t;
    t.Kind = vxkRULER;
    t.Left = g.XScr2Bmp(px);
    t.Top = g.YScr2Bmp(py);
    t.Right = g.XScr2Bmp(FDragX);
    t.Bottom = g.YScr2Bmp(FDragY);
    TVXDrawContext ctx;
    ctx.Geom = g;
    ctx.ZoomObjectsWidth = FOwner.ZoomObjectsWidth();
    VXDrawObject(c, FOwner, kVXTemplate, ctx);
    t = saved;
  } else if (FInserting == vxkLINE) {
    c.MoveTo(px, py);
    c.LineTo(FDragX, FDragY);
  } else {
    int x1 = px, y1 = py, x2 = FDragX, y2 = FDragY;
    OrdCor(x1, y1, x2, y2);
    if (FInserting == vxkELLIPSE)
      c.Ellipse(x1, y1, x2 + 1, y2 + 1);
    else
      c.Rectangle(x1, y1, x2 + 1, y2 + 1);
  }
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

}  // namespace vexa
