// Mouse tools of the image view.
//
// TVexaView turns Qt's mouse events into TVXToolEvent and hands them to tools.
// A tool is one way of using the mouse: each MouseInteract mode of the view is
// one (modetools_ui.h), and a derived view adds its own with AddTool. The view
// keeps the geometry, the cached picture, the scroll bars and the selection
// record; a tool keeps only the state of its own drag and reaches the view
// through TVXToolContext.
//
// Order. Every tool sees every event, in this order:
//
//     tools added with vxtpBeforeModes     in the order added
//     the tools of the MouseInteract set   zoom click, scroll, polygon, grips,
//                                          rectangle or zoom rectangle, ellipse,
//                                          magic wand
//     tools added with vxtpAfterModes      in the order added
//
// A handler returns true when it acted on the event; the tools after it see
// Taken set and should leave the event alone (the view's own tools do, so of
// them the first that applies acts). A tool may still watch a taken event.
// The view's OnMouseDown, OnMouseMove and OnMouseUp fire after all tools.
//
// Coordinates: "client" pixels lie inside the border and the scroll bars,
// "bitmap" pixels are the image's own (viewgeometry.h). While a handler runs,
// the view's SelectionBase reads vxsbClientArea, so Select, AddSelPoint and
// SelectMagicWand take client pixels there.
//
// Adding a tool to a derived view:
//
//   struct TMarkTool : TVXViewTool {
//     std::vector<TPoint> Marks;
//     bool Press(TVXToolContext& v, const TVXToolEvent& e) override {
//       if (e.Taken) return false;
//       Marks.push_back({e.BmpX, e.BmpY});
//       v.Repaint();
//       return true;
//     }
//   };
//   TMyView::TMyView() { FMarks = AddTool(std::make_unique<TMarkTool>()); }
//   ...
//   SetMouseInteract(0);              // the marks alone take the mouse
//   auto kept = RemoveTool(FMarks);   // the view's modes alone again
#pragma once

#include <QtCore/qnamespace.h>

#include <functional>

#include "vexa/view/selection.h"
#include "vexa/view/viewgeometry.h"

class QPainter;

namespace vexa {

class TVexaView;

/// Where AddTool puts a tool: before or after the tools of the MouseInteract set.
enum TVXToolPlace { vxtpBeforeModes, vxtpAfterModes };

/// One mouse event as the tools see it.
struct TVXToolEvent {
  int X = 0, Y = 0;        ///< client pixels, clamped to the visible image
  int RawX = 0, RawY = 0;  ///< client pixels where the pointer is (may lie outside the image)
  int BmpX = 0, BmpY = 0;  ///< the bitmap pixel under (X, Y)
  Qt::MouseButton Button = Qt::NoButton;  ///< the button pressed or released; none for moves
  Qt::MouseButtons Buttons;               ///< buttons held after the event
  Qt::KeyboardModifiers Modifiers;
  bool Held = false;   ///< moves only: a button pressed over the view is still down (a drag)
  bool Taken = false;  ///< a tool before this one acted on the event

  bool Shift() const { return Modifiers.testFlag(Qt::ShiftModifier); }
  bool Ctrl() const { return Modifiers.testFlag(Qt::ControlModifier); }
};

/// What the view records at every press, before any tool sees it.
struct TVXToolPress {
  /// Client pixels clamped to the image. Auto-scrolling shifts it with the view,
  /// so it stays on the bitmap pixel that was pressed.
  int X = 0, Y = 0;
  int ViewX = 0, ViewY = 0;  ///< the view position at the press
  int Count = 0;             ///< points of the selection at the press
  int LastX = 0, LastY = 0;  ///< clamped point of the previous press or move
};

/// What a tool may use of the view it works in. View() gives the whole public
/// API of TVexaView (Select, DeSelect, ZoomAt, SetViewXY, events...); the rest is
/// what only tools need.
class TVXToolContext {
 public:
  explicit TVXToolContext(TVexaView& view) : FView(view) {}
  TVXToolContext(const TVXToolContext&) = delete;
  TVXToolContext& operator=(const TVXToolContext&) = delete;

  TVexaView& View() const { return FView; }
  const TVXViewGeometry& Geometry() const;
  TBitmap& Bitmap() const;
  /// The selection record (bitmap pixels, polygons separated by break markers).
  /// Add points through the view's AnimPolygon* operations so that
  /// SelectionExists follows.
  TVXAnimPolygon& Selection() const;
  const TVXToolPress& Press() const { return FPress; }

  /// During a drag: scrolls the view towards client point (x, y) when it lies
  /// outside the image, shifts the press point with it and calls the view's
  /// SubMouseMoveScroll. False when the view did not move.
  bool AutoScroll(int x, int y);
  /// Schedules a repaint of the outlines and the overlays (the picture is cached).
  void Repaint();
  /// Shows cursor `id` over the view until the next call; 0 shows the idle cursor
  /// (the Cursor of the first tool that has one, else the view's Cursor).
  void ShowCursor(int id);
  /// Calls a notify event of the view (OnSelectionChanging...) with the view as sender.
  void Fire(const std::function<void(TObject*)>& event) const;

 private:
  friend class TVexaView;
  TVexaView& FView;
  TVXToolPress FPress;
};

/// Base of the mouse tools. Every handler gets the context of the view it works
/// in; the view owns the tool (AddTool) or the tool is one of its modes.
class TVXViewTool {
 public:
  virtual ~TVXViewTool() = default;

  /// The tool joined the view (AddTool, or its mode was switched on).
  virtual void Activate(TVXToolContext&) {}
  /// The tool leaves the view (RemoveTool, or its mode was switched off); end
  /// whatever drag or drawing is under way. Not called when the view is destroyed.
  virtual void Deactivate(TVXToolContext&) {}

  virtual bool Press(TVXToolContext&, const TVXToolEvent&) { return false; }
  /// Every pointer move over the view; Held tells a drag from a hover.
  virtual bool Move(TVXToolContext&, const TVXToolEvent&) { return false; }
  virtual bool Release(TVXToolContext&, const TVXToolEvent&) { return false; }
  /// A double click: the view delivers the second press to Press first.
  virtual bool DoubleClick(TVXToolContext&, const TVXToolEvent&) { return false; }

  /// Draws over the picture and the selection outlines, in client pixels. Not
  /// called while painting is locked.
  virtual void PaintOverlay(TVXToolContext&, QPainter&) {}
  /// The idle cursor while the tool is in the view; 0 keeps the view's Cursor.
  virtual int Cursor() const { return 0; }

  /// True while a drag of this tool should go on when the pointer rests outside
  /// the image: while the button is held the view's timer repeats the last move.
  virtual bool AutoScrolls() const { return false; }
  /// True while the tool draws a new outline: the selection dashes hold still.
  virtual bool HoldsOutlines() const { return false; }
};

}  // namespace vexa
