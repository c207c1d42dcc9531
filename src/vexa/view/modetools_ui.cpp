#include "vexa/view/modetools_ui.h"

#include <QPainter>
#include <cstdlib>

#include "vexa/view/vexaview_ui.h"

namespace vexa {

namespace {
// Snaps client point (x, y) against the selection's last vertex, when there is one.
void SnapToLast(TVXToolContext& v, int& x, int& y) {
  const TVXAnimPolygon& sel = v.Selection();
  if (sel.Count == 0 || sel.LastIsBreak()) return;
  const TPoint& last = sel.Points[static_cast<size_t>(sel.Count - 1)];
  _CastPolySelCC(v.Geometry().XBmp2Scr(last.X), v.Geometry().YBmp2Scr(last.Y), x, y);
}
}  // namespace

// ---------------------------------------------------------------- zoom click

bool TVXZoomClickTool::Release(TVXToolContext& v, const TVXToolEvent& e) {
  // A click is a release where the press was: on the background the press point
  // was clamped onto the image, so it never matches.
  if (e.Taken || e.RawX != v.Press().X || e.RawY != v.Press().Y) return false;
  TVexaView& view = v.View();
  if (e.Button == Qt::LeftButton)
    view.ZoomAt(e.RawX, e.RawY, VXZoomStepIn(view.Zoom()));
  else if (e.Button == Qt::RightButton)
    view.ZoomAt(e.RawX, e.RawY, VXZoomStepOut(view.Zoom()));
  return true;
}

// ---------------------------------------------------------------- scroll

void TVXScrollTool::Follow(TVXToolContext& v, const TVXToolEvent& e) {
  const TVXToolPress& p = v.Press();
  v.View().SetViewXY(p.ViewX - (e.RawX - p.X), p.ViewY - (e.RawY - p.Y));
}

bool TVXScrollTool::Move(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken || !e.Held) return false;
  Follow(v, e);
  return true;
}

bool TVXScrollTool::Release(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken) return false;
  Follow(v, e);
  return true;
}

// ---------------------------------------------------------------- polygon

void TVXPolygonTool::Scrolled(int dx, int dy) {
  FRubberX -= dx;
  FRubberY -= dy;
}

void TVXPolygonTool::Deactivate(TVXToolContext& v) {
  if (!FDrawing) return;
  // The vertex under the pointer was never placed on purpose.
  v.View().AnimPolygonRemoveLastPoint(&v.Selection());
  FDrawing = false;
  v.Repaint();
}

bool TVXPolygonTool::Press(TVXToolContext& v, const TVXToolEvent& e) {
  FRubberX = e.X;
  FRubberY = e.Y;
  if (e.Taken) return false;
  int x = e.X, y = e.Y;
  if (e.Ctrl()) SnapToLast(v, x, y);
  TVexaView& view = v.View();
  if (!FDrawing) {
    if (e.Shift())
      view.AddSelBreak();
    else
      view.DeSelect();
  }
  view.AddSelPoint(x, y);
  FDrawing = true;
  v.Fire(view.OnSelectionChanging);
  return true;
}

bool TVXPolygonTool::Move(TVXToolContext& v, const TVXToolEvent& e) {
  int x = e.X, y = e.Y;
  const bool acting = FDrawing && !e.Taken;
  if (acting && e.Held) {
    // Freehand: every move adds a point, unclamped to the bitmap.
    v.AutoScroll(e.RawX, e.RawY);
    v.View().AnimPolygonAddPtEx(&v.Selection(), v.Geometry().XScr2Bmp(x), v.Geometry().YScr2Bmp(y));
  } else if (acting && e.Ctrl()) {
    SnapToLast(v, x, y);
  }
  FRubberX = x;
  FRubberY = y;
  if (!acting) return false;
  v.Repaint();
  v.Fire(v.View().OnSelectionChanging);
  return true;
}

bool TVXPolygonTool::DoubleClick(TVXToolContext& v, const TVXToolEvent& e) {
  // The second press of the double click added a vertex; the double click closes
  // the polygon instead.
  if (e.Taken || !FDrawing || e.Button != Qt::LeftButton) return false;
  v.View().AnimPolygonRemoveLastPoint(&v.Selection());
  FDrawing = false;
  v.Repaint();
  v.Fire(v.View().OnSelectionChange);
  return true;
}

void TVXPolygonTool::PaintOverlay(TVXToolContext& v, QPainter& p) {
  const TVXAnimPolygon& sel = v.Selection();
  if (!FDrawing || sel.Count == 0 || sel.LastIsBreak()) return;
  const TPoint& last = sel.Points[static_cast<size_t>(sel.Count - 1)];
  TCanvas c(p);
  c.Pen = {clBlack, 1, psSolid, pmNot};
  c.MoveTo(FRubberX, FRubberY);
  c.LineTo(v.Geometry().XBmp2Scr(last.X), v.Geometry().YBmp2Scr(last.Y));
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// ---------------------------------------------------------------- grips

bool TVXGripTool::Press(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken) return false;
  // Both are asked: the moving grip records the box at the press.
  FResize = v.View().GetResizingGrip(e.X, e.Y);
  FMove = v.View().GetMovingGrip(e.X, e.Y);
  return FResize >= 0 || FMove >= 0;
}

bool TVXGripTool::Move(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken) return false;
  TVexaView& view = v.View();
  if (e.Held) {
    if (FResize < 0 && FMove < 0) return false;
    v.AutoScroll(e.RawX, e.RawY);
    if (FResize >= 0)
      FResize = view.SelectResizeEx(FResize, e.X, e.Y);
    else
      view.SelectMoveEx(FMove, e.X - v.Press().X, e.Y - v.Press().Y);
    v.Fire(view.OnSelectionChanging);
    return true;
  }
  if (!Hover) return false;
  const int grip = view.GetResizingGrip(e.X, e.Y);
  if (grip >= 0) {
    v.Fire(view.OnMouseInSel);
    static const int cursors[8] = {crResizeNWSE, crResizeNESW, crResizeNWSE, crResizeNESW,
                                   crResizeWE,   crResizeWE,   crResizeNS,   crResizeNS};
    v.ShowCursor(cursors[grip]);
  } else if (view.GetMovingGrip(e.X, e.Y) == 0) {
    v.Fire(view.OnMouseInSel);
    v.ShowCursor(crMove);
  } else {
    v.ShowCursor(0);
  }
  return false;
}

bool TVXGripTool::Release(TVXToolContext&, const TVXToolEvent&) {
  // The mode's own tool (rectangle or zoom rectangle) ends the drag.
  Cancel();
  return false;
}

// ---------------------------------------------------------------- outlines

bool TVXOutlineTool::Press(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken) return false;
  FDragging = true;
  Begin(v);
  v.Fire(v.View().OnSelectionChanging);
  return true;
}

bool TVXOutlineTool::Move(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken || !e.Held || !FDragging) return false;
  v.AutoScroll(e.RawX, e.RawY);
  Shape(v, e);
  v.Fire(v.View().OnSelectionChanging);
  return true;
}

bool TVXOutlineTool::Release(TVXToolContext& v, const TVXToolEvent& e) {
  FDragging = false;
  if (e.Taken) return false;
  Finish(v);
  return true;
}

void TVXOutlineTool::Finish(TVXToolContext& v) { v.Fire(v.View().OnSelectionChange); }

void TVXRectTool::Shape(TVXToolContext& v, const TVXToolEvent& e) {
  TVexaView& view = v.View();
  const TVXToolPress& p = v.Press();
  if (e.Shift()) {
    // Replace the rectangle this drag added, keep what was selected before.
    if (v.Selection().Count != p.Count) view.AnimPolygonRemoveLast(&v.Selection());
    view.Select(p.X, p.Y, e.X, e.Y, vxspAdd);
  } else {
    view.Select(p.X, p.Y, e.X, e.Y, vxspReplace);
  }
}

void TVXZoomRectTool::Finish(TVXToolContext& v) {
  v.View().ZoomSelection();
  // The rubber band was announced while it grew; say that it is gone.
  v.Fire(v.View().OnSelectionChange);
}

void TVXEllipseTool::Begin(TVXToolContext& v) { v.Selection().Visible = true; }

void TVXEllipseTool::Shape(TVXToolContext& v, const TVXToolEvent& e) {
  TVXAnimPolygon& sel = v.Selection();
  const TVXToolPress& p = v.Press();
  if (e.Shift()) {
    if (sel.Count != p.Count) sel.RemoveLast();
    sel.AddBreak();
  } else {
    sel.Clear();
  }
  int rx = std::abs(p.X - e.X), ry = std::abs(p.Y - e.Y);
  if (e.Ctrl()) rx = ry = imax(rx, ry);
  for (const TPoint& pt : VXEllipsePoints(p.X, p.Y, rx, ry, v.Geometry()))
    v.View().AnimPolygonAddPtEx(&sel, pt.X, pt.Y);
  v.Repaint();
}

// ---------------------------------------------------------------- magic wand

bool TVXMagicWandTool::Release(TVXToolContext& v, const TVXToolEvent& e) {
  if (e.Taken) return false;
  TVexaView& view = v.View();
  view.SaveCursor(crHourGlass);
  // The release point as it is: a click beside the image selects nothing.
  view.SelectMagicWand(e.RawX, e.RawY, e.Shift() ? vxspAdd : vxspReplace);
  view.RestoreCursor();
  v.Fire(view.OnSelectionChange);
  return true;
}

// ---------------------------------------------------------------- the set

std::vector<TVXViewTool*> TVXModeTools::Use(TVXMouseInteract mi) {
  std::vector<TVXViewTool*> tools;
  if (VXHas(mi, miZoom)) tools.push_back(&Zoom);
  if (VXHas(mi, miScroll)) tools.push_back(&Scroll);
  if (VXHas(mi, miSelectPolygon)) tools.push_back(&Polygon);
  if (VXHas(mi, miSelect) || VXHas(mi, miSelectZoom)) tools.push_back(&Grips);
  if (VXHas(mi, miSelectZoom))
    tools.push_back(&ZoomRect);
  else if (VXHas(mi, miSelect))
    tools.push_back(&Rect);
  if (VXHas(mi, miSelectCircle)) tools.push_back(&Ellipse);
  if (VXHas(mi, miSelectMagicWand)) tools.push_back(&Wand);
  Grips.Hover = VXHas(mi, miSelect);
  return tools;
}

void TVXModeTools::Cancel() {
  Polygon.Cancel();
  Grips.Cancel();
  Rect.Cancel();
  ZoomRect.Cancel();
  Ellipse.Cancel();
}

}  // namespace vexa
