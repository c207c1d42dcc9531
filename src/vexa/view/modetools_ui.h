// The tools behind the view's MouseInteract modes.
//
// One tool per mode; the set of tools the view forwards to follows
// MouseInteract (TVXModeTools::Use), in the order in which the modes claim an
// event: a release at the press point zooms before anything else, scrolling
// comes before the selection drags, grips before a new rubber band. Every tool
// leaves an event a tool before it has taken, except to end its own drag.
//
//   mode                      tool               press / drag / release
//   miZoom                    TVXZoomClickTool   - / - / a click without movement zooms
//   miScroll                  TVXScrollTool      - / moves the view / last move
//   miSelectPolygon           TVXPolygonTool     vertex / freehand points / -; double click closes
//   miSelect or miSelectZoom  TVXGripTool        on a grip: resizes or moves the rectangle
//   miSelect                  TVXRectTool        rubber band / rubber band / OnSelectionChange
//   miSelectZoom              TVXZoomRectTool    rubber band / rubber band / ZoomSelection
//   miSelectCircle            TVXEllipseTool     - / centred ellipse around the press / OnSelectionChange
//   miSelectMagicWand         TVXMagicWandTool   - / - / the region around the release point
#pragma once

#include <vector>

#include "vexa/view/viewtool_ui.h"

namespace vexa {

class TVXZoomClickTool : public TVXViewTool {
 public:
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;
};

class TVXScrollTool : public TVXViewTool {
 public:
  bool Move(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;

 private:
  static void Follow(TVXToolContext& v, const TVXToolEvent& e);
};

/// Clicks add vertices, a held button adds freehand points; drawing survives the
/// release and ends with a double click, DeSelect or leaving the mode.
class TVXPolygonTool : public TVXViewTool {
 public:
  bool Drawing() const { return FDrawing; }
  void Cancel() { FDrawing = false; }
  /// The view scrolled under a drag: the rubber-band end moves with the picture.
  void Scrolled(int dx, int dy);

  void Deactivate(TVXToolContext& v) override;
  bool Press(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Move(TVXToolContext& v, const TVXToolEvent& e) override;
  bool DoubleClick(TVXToolContext& v, const TVXToolEvent& e) override;
  void PaintOverlay(TVXToolContext& v, QPainter& p) override;
  bool AutoScrolls() const override { return FDrawing; }
  bool HoldsOutlines() const override { return FDrawing; }

 private:
  bool FDrawing = false;
  int FRubberX = 0, FRubberY = 0;  ///< client end of the line from the last vertex
};

/// Resizes or moves a rectangular selection from its grips; with Hover (miSelect)
/// also shows the grip cursors and fires OnMouseInSel when no button is held.
class TVXGripTool : public TVXViewTool {
 public:
  bool Hover = false;
  void Cancel() { FResize = FMove = -1; }

  void Deactivate(TVXToolContext&) override { Cancel(); }
  bool Press(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Move(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;
  bool AutoScrolls() const override { return FResize >= 0 || FMove >= 0; }

 private:
  int FResize = -1, FMove = -1;
};

/// A drag that draws a new outline from the press point (rectangle, ellipse).
/// While it lasts the selection dashes hold still and the view follows the
/// pointer beyond the image.
class TVXOutlineTool : public TVXViewTool {
 public:
  bool Dragging() const { return FDragging; }
  void Cancel() { FDragging = false; }

  void Deactivate(TVXToolContext&) override { Cancel(); }
  bool Press(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Move(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;
  bool AutoScrolls() const override { return FDragging; }
  bool HoldsOutlines() const override { return FDragging; }

 protected:
  virtual void Begin(TVXToolContext&) {}
  /// Redraws the selection for the pointer at e (the view has already scrolled).
  virtual void Shape(TVXToolContext& v, const TVXToolEvent& e) = 0;
  /// What the release does once the drag has ended: OnSelectionChange.
  virtual void Finish(TVXToolContext& v);

 private:
  bool FDragging = false;
};

/// A rubber-band rectangle from the press point; Shift adds it to the selection.
class TVXRectTool : public TVXOutlineTool {
 protected:
  void Shape(TVXToolContext& v, const TVXToolEvent& e) override;
};

/// The rectangle tool that zooms to the dragged box on release.
class TVXZoomRectTool : public TVXRectTool {
 protected:
  void Finish(TVXToolContext& v) override;
};

/// A centred ellipse around the press point; Ctrl makes a circle, Shift adds it.
class TVXEllipseTool : public TVXOutlineTool {
 protected:
  void Begin(TVXToolContext& v) override;
  void Shape(TVXToolContext& v, const TVXToolEvent& e) override;
};

class TVXMagicWandTool : public TVXViewTool {
 public:
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;
};

/// The view's mode tools, one of each.
struct TVXModeTools {
  TVXZoomClickTool Zoom;
  TVXScrollTool Scroll;
  TVXPolygonTool Polygon;
  TVXGripTool Grips;
  TVXRectTool Rect;
  TVXZoomRectTool ZoomRect;
  TVXEllipseTool Ellipse;
  TVXMagicWandTool Wand;

  /// Sets the tools up for a MouseInteract set and returns them in the order
  /// they see events.
  std::vector<TVXViewTool*> Use(TVXMouseInteract mi);
  /// A rubber-band rectangle is being dragged (grips are hidden meanwhile).
  bool RubberBand() const { return Rect.Dragging() || ZoomRect.Dragging(); }
  /// Drops every drag and drawing under way (the selection was dropped).
  void Cancel();
};

}  // namespace vexa
