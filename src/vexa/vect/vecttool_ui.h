// The vector view's mouse modes as one tool, placed after the view's own mode
// tools (viewtool_ui.h): it acts on the left button while a vector mode is on and
// no view tool took the event, and it watches every move for the measurement hint.
//
//   mode            press / drag / release
//   miPutLine       - / rubber line (Ctrl snaps) / a line from press to release
//   miPutRuler      - / the ruler as it will look / a ruler
//   miPutBox        - / rubber rectangle / a box (a click: the template's size)
//   miPutEllipse    - / rubber ellipse (Ctrl: a circle) / an ellipse
//   miPutBitmap     - / rubber rectangle / a bitmap object
//   miPutText       - / rubber rectangle / a text object, straight into editing
//   miDragLen       - / rubber line and the length hint / OnDragLenEnd
//   miObjectSelect  a grip of a selected object: drags it; elsewhere a rubber band
//                   selects what lies inside; a click selects the nearest object
//                   (Shift toggles); a double click on a text edits it
//   miArea, miLineLen  measure the view's selection polygon on every move
#pragma once

#include "vexa/view/viewtool_ui.h"

namespace vexa {

class TVexaVect;

class TVXVectTool : public TVXViewTool {
 public:
  explicit TVXVectTool(TVexaVect& owner) : FOwner(owner) {}
  /// Drops the drag under way; true when there was one.
  bool Cancel();
  /// The kind being inserted, -1 for none.
  int Inserting() const { return FInserting; }

  void Deactivate(TVXToolContext&) override { Cancel(); }
  bool Press(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Move(TVXToolContext& v, const TVXToolEvent& e) override;
  bool Release(TVXToolContext& v, const TVXToolEvent& e) override;
  bool DoubleClick(TVXToolContext& v, const TVXToolEvent& e) override;
  void PaintOverlay(TVXToolContext& v, QPainter& p) override;
  bool AutoScrolls() const override { return Dragging(); }

 private:
  bool Dragging() const { return FInserting >= 0 || FGrip != 0 || FSelecting; }

  TVexaVect& FOwner;
  int FInserting = -1;      ///< kind being inserted
  int FGrip = 0;            ///< grip being dragged (1 ... 5)
  bool FSelecting = false;  ///< rubber-band object selection
  bool FMoved = false;
  int FDragX = 0, FDragY = 0;   ///< current drag point, client pixels
  int FMovedX = 0, FMovedY = 0;  ///< bitmap pixels a grip drag has applied so far
};

}  // namespace vexa
