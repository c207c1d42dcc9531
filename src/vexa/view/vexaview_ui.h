// TVexaView: the widget that shows one image with zoom, scroll, a background
// pattern, optional filtered enlargement, and selections driven by the mouse.
//
// Coordinates: "client" means widget pixels inside the scroll bars; "bitmap"
// means pixels of the owned bitmap. The geometry lives in TVXViewGeometry and the
// selection geometry in selection.h; this class keeps both, the scroll bars and
// the selection record, paints, and forwards the mouse to tools (viewtool_ui.h):
// one per MouseInteract mode (modetools_ui.h) plus those a derived view adds.
// The picture is rendered into a client-sized frame only when something changed,
// so the 150 ms outline animation costs one blit.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "vexa/proc/resample.h"
#include "vexa/view/canvas_ui.h"
#include "vexa/view/selection.h"
#include "vexa/view/viewgeometry.h"
#include "vexa/view/viewtool_ui.h"
#include "vexa/core/vxview.h"

class QScrollBar;
class QMouseEvent;

namespace vexa {

struct TVXModeTools;

enum TVXBackgroundStyle {
  vxbsSolid,
  vxbsHorizontal,
  vxbsVertical,
  vxbsFDiagonal,
  vxbsBDiagonal,
  vxbsCross,
  vxbsDiagCross,
  vxbsChessboard,
  vxbsDiagonals
};
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TBorderStyle { bsNone, bsSingle };
enum TVXSelectionOption { vxsoAnimated, vxsoSizeable, vxsoMoveable };
/// Set of TVXSelectionOption, bit i for option i.
using TVXSelectionOptions = unsigned;
constexpr TVXSelectionOptions kVXAllSelectionOptions = 7;
enum TVXSelectionBase { vxsbClientArea, vxsbBitmap };

/// Cursor ids registered by the view (drawn in code).
enum : int {
  crZoomOut = 1778,
  crZoomIn = 1779,
  crCross = 1780,
  crEraser = 1781,
  crHand = 1782,
  crPen = 1783,
  crCross1 = 1784,
  crCross2 = 1785,
  crResizeNWSE = 1786,
  crResizeNS = 1787,
  crResizeNESW = 1788,
  crResizeWE = 1789,
  crMove = 1790,
  crHourGlass = -11
};

/// The Qt cursor for a view cursor id (the default arrow for unknown ids).
QCursor VXCursor(int id);

/// Mouse button and modifier state passed to the mouse events.
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateItem { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;

using TNotifyEvent = std::function<void(TObject* sender)>;
/// Change: 0 = scroll position, 1 = zoom.
using TViewChangeEvent = std::function<void(TObject* sender, int change)>;
using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

class TVexaView : public QWidget, public TVXView, public TVXSelectionSource {
  Q_OBJECT
  Q_PROPERTY(int Zoom READ Zoom WRITE SetZoom)
  Q_PROPERTY(bool Center READ Center WRITE SetCenter)
  Q_PROPERTY(bool VisibleSelection READ VisibleSelection WRITE SetVisibleSelection)

 public:
  explicit TVexaView(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TVexaView() override;

  // --- bitmap and base view
  TBitmap* GetFBitmap() override { return &FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }
  void SetBackGround(TColor c) override;
  void Update() override;
  void ImageChange() override;
  TVXSelectionSource* Selection() override { return this; }

  // --- properties
  int Zoom() const { return FGeom.Zoom; }
  void SetZoom(int z);
  int ViewX() const { return FGeom.ViewX; }
  int ViewY() const { return FGeom.ViewY; }
  TResampleFilter ZoomFilter() const { return FZoomFilter; }
  void SetZoomFilter(TResampleFilter f);
  bool DelayZoomFilter = false;
  TScrollStyle ScrollBars() const { return FScrollBars; }
  virtual void SetScrollBars(TScrollStyle s);
  bool Center() const { return FGeom.Center; }
  void SetCenter(bool on);
  bool AutoFit = false;    ///< applied by the next Update
  bool DoubleBuffer = false;
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  /// bsSingle draws a sunken two-pixel edge; the client area lies inside it.
  void SetBorderStyle(TBorderStyle s);
  TVXBackgroundStyle BackgroundStyle() const { return FBackgroundStyle; }
  void SetBackgroundStyle(TVXBackgroundStyle s);
  TVXMouseInteract MouseInteract() const { return FMouseInteract; }
  virtual void SetMouseInteract(TVXMouseInteract s);
  TVXSelectionOptions SelectionOptions() const { return FSelectionOptions; }
  void SetSelectionOptions(TVXSelectionOptions o);
  TVXSelectionBase SelectionBase = vxsbClientArea;
  int Cursor() const { return FCursor; }
  void SetCursor(int id);
  int MagicWandTolerance = 15;
  bool MagicWandMaximum = false;

  // --- events
  TViewChangeEvent OnViewChange;
  TNotifyEvent OnImageChange, OnSelectionChange, OnSelectionChanging, OnMouseInSel;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  // --- zoom and scroll
  void Fit();
  void ZoomAt(int x, int y, int z);
  void ZoomSelection();
  /// Zooms keeping the bitmap point under client point (x, y) where it is.
  void ZoomAround(int x, int y, int z);
  /// Scrolls by client pixels; false when the image fits along that axis, so
  /// there is nothing to scroll (the caller may give the key another meaning).
  bool ScrollBy(int dx, int dy);
  void SetViewXY(int x, int y);
  void SetViewX(int x) { SetViewXY(x, FGeom.ViewY); }
  void SetViewY(int y) { SetViewXY(FGeom.ViewX, y); }
  void GetMaxViewXY(int& maxX, int& maxY) const { FGeom.GetMaxViewXY(maxX, maxY); }
  virtual void ViewChange(int change);
  int XBmp2Scr(int x) const { return FGeom.XBmp2Scr(x); }
  int YBmp2Scr(int y) const { return FGeom.YBmp2Scr(y); }
  int XScr2Bmp(int x) const { return FGeom.XScr2Bmp(x); }
  int YScr2Bmp(int y) const { return FGeom.YScr2Bmp(y); }
  const TVXViewGeometry& Geometry() const { return FGeom; }
  int ClientWidth() const { return FGeom.ClientW; }
  int ClientHeight() const { return FGeom.ClientH; }
  int GetIdealComponentWidth() const;
  int GetIdealComponentHeight() const;

  // --- painting
  void LockPaint() { ++FPaintLock; }
  void UnLockPaint();
  void NPUnLockPaint() { FPaintLock = imax(0, FPaintLock - 1); }
  int PaintLock() const { return FPaintLock; }
  /// Repaints the widget at once (nothing while locked).
  void Paint();
  /// Background and visible image, as on screen, without the selection.
  virtual void PaintTo(TCanvas& canvas);
  /// The visible image at (0, 0) of another canvas, without background.
  void DrawTo(TCanvas& canvas);
  void DrawBackground(TCanvas& canvas);
  /// The picture as it would appear on screen, selection included.
  QImage RenderClient();
  int FilterCountdown() const { return FFilterCountdown; }

  // --- content
  void Clear();
  void Blank();
  void Assign(const TVexaView* source);
  void Assign(const TBitmap* source);
  void AssignSelTo(TVexaView& dest);
  void AssignSelTo(TBitmap& dest);
  void CopyFromPolygon(const TBitmap& bitmap, const TPoint* points, int count, TPoint point);
  void CopyToPolygon(TBitmap& bitmap, const TPoint* points, int count, TPoint point);

  /// 256 colours for the image from the neural-net quantizer, in its order (for
  /// saving or showing on palette devices; painting here never needs one).
  std::vector<TRGB> _CreatePalette() const;

  // --- cursors
  void SaveCursor(int id);
  void RestoreCursor();

  // --- selection
  virtual void Select(int x1, int y1, int x2, int y2, TVXSelOp op = vxspReplace);
  void SelectMagicWand(int x, int y, TVXSelOp op = vxspReplace);
  virtual void AddSelPoint(int x, int y);
  void AddSelBreak();
  void DeSelect();
  int SelectResizeEx(int grip, int x, int y);
  int SelectMoveEx(int grip, int dx, int dy);
  int GetResizingGrip(int x, int y) const;
  int GetMovingGrip(int x, int y);
  void ShowSelectionEx(bool redraw);
  void HideSelectionEx(bool repaint);
  bool VisibleSelection() const { return FSel->Visible; }
  void SetVisibleSelection(bool v) { v ? ShowSelectionEx(true) : HideSelectionEx(true); }
  bool SelectionExists() const { return FSelExists; }
  int SelX1() const { return FSel->X1; }
  int SelY1() const { return FSel->Y1; }
  int SelX2() const { return FSel->X2; }
  int SelY2() const { return FSel->Y2; }
  int PolySelCount() const { return FSel->Count; }
  const TPoint* PolySelArray() const { return FSel->Data(); }
  TPoint PolySel(int i) const;
  TColor SelColor1() const { return FSel->Color1; }
  TColor SelColor2() const { return FSel->Color2; }
  void SetSelColor1(TColor c) { FSel->Color1 = c; }
  void SetSelColor2(TColor c) { FSel->Color2 = c; }
  bool PolygonDrawing() const;

  // --- anim polygons (bitmap coordinates); the first one is the selection
  TVXAnimPolygon* AnimPolygonNew(TColor color1, TColor color2, bool sizeable, bool animated);
  void AnimPolygonDel(TVXAnimPolygon* p);
  void AnimPolygonClear(TVXAnimPolygon* p);
  void AnimPolygonAddPt(TVXAnimPolygon* p, int x, int y);
  void AnimPolygonAddPtEx(TVXAnimPolygon* p, int x, int y);
  void AnimPolygonAddBreak(TVXAnimPolygon* p);
  void AnimPolygonRemoveLast(TVXAnimPolygon* p);
  void AnimPolygonRemoveLastPoint(TVXAnimPolygon* p);
  /// Timer handler (fromTimer advances the dash phase); also redraws at once.
  void AniPolyFunc(bool fromTimer);

  // --- mouse tools (viewtool_ui.h)
  /// Takes a tool into the view, before or after the tools of MouseInteract, and
  /// activates it. The view owns it; the pointer stays valid until RemoveTool.
  template <class T>
  T* AddTool(std::unique_ptr<T> tool, TVXToolPlace place = vxtpAfterModes) {
    T* added = tool.get();
    InstallTool(std::move(tool), place);
    return added;
  }
  /// Deactivates a tool taken with AddTool and hands it back (null when the view
  /// does not hold it). Not from inside that tool's own handlers unless the
  /// returned tool is kept alive until the handler has returned.
  std::unique_ptr<TVXViewTool> RemoveTool(TVXViewTool* tool);

  // --- TVXSelectionSource
  bool VXHasSelection() const override { return FSelExists; }
  void VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const override;
  const TPoint* VXGetPolySel(int& count) const override;
  void VXSelectBitmap(int x1, int y1, int x2, int y2, TVXSelOp op) override;
  void VXDeSelect() override { DeSelect(); }
  TPoint VXClientToBitmap(TPoint p) const override { return {XScr2Bmp(p.X), YScr2Bmp(p.Y)}; }

 protected:
  /// Auto-scrolling moved the view by (dx, dy) under a drag; the base moves the
  /// polygon's rubber-band end with the picture.
  virtual void SubMouseMoveScroll(int dx, int dy);
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  /// Wheel scrolls, Shift+wheel scrolls sideways, Ctrl+wheel zooms around the mouse.
  void wheelEvent(QWheelEvent* e) override;
  /// Arrows and Page Up/Down scroll, Escape drops the selection; keys the view
  /// cannot use (Page Down on an image that fits) go on to the parent.
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void UpdateLayout(int depth);
  void ReadClientSize();
  void SyncScrollBars();
  void DrawOutlines(QPainter& p);
  void DrawOverlays(QPainter& p);
  bool AutoScroll(int px, int py);
  TPoint ToBitmapClamped(int x, int y) const;
  void RebuildRect(const TVXBox& box);
  void MouseMoveAt(int x, int y, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods);

  friend class TVXToolContext;
  void InstallTool(std::unique_ptr<TVXViewTool> tool, TVXToolPlace place);
  /// Every tool in the order it sees events.
  std::vector<TVXViewTool*> Tools() const;
  bool AnyTool(bool (TVXViewTool::*query)() const) const;
  int IdleCursor() const;
  TVXToolEvent ToolEvent(int x, int y, Qt::MouseButton button, Qt::MouseButtons buttons,
                         Qt::KeyboardModifiers mods) const;
  /// Hands an event to the tools in order, marking it taken once one acted.
  void Dispatch(bool (TVXViewTool::*handler)(TVXToolContext&, const TVXToolEvent&), TVXToolEvent e);

  TBitmap FBitmap;
  TVXViewGeometry FGeom;
  TResampleFilter FZoomFilter = rfNone, FSavedZoomFilter = rfNone;
  TScrollStyle FScrollBars = ssNone;
  TBorderStyle FBorderStyle = bsSingle;
  int Border() const { return FBorderStyle == bsSingle ? 2 : 0; }
  QPoint ClientPos(const QMouseEvent* e) const;
  TVXBackgroundStyle FBackgroundStyle = vxbsSolid;
  TVXMouseInteract FMouseInteract = 0;
  TVXSelectionOptions FSelectionOptions = kVXAllSelectionOptions;
  int FCursor = crCross2;
  int FSavedCursor = 0;
  bool FCursorSaved = false;
  int FPaintLock = 0;
  int FFilterCountdown = 0;
  int FLastBmpW = -1, FLastBmpH = -1;
  bool FFrameStale = true;
  QImage FFrame;
  QScrollBar* FHBar = nullptr;
  QScrollBar* FVBar = nullptr;
  bool FHBarShown = false, FVBarShown = false;
  bool FSyncingBars = false;
  QTimer FTimer;

  std::vector<std::unique_ptr<TVXAnimPolygon>> FAnimPolys;
  TVXAnimPolygon* FSel = nullptr;
  bool FSelExists = false;
  TVXBox FGripBox;
  bool FButtonHeld = false;

  TVXToolContext FToolContext{*this};
  std::unique_ptr<TVXModeTools> FModes;
  std::vector<TVXViewTool*> FModeTools;  ///< those of MouseInteract, in order
  std::vector<std::unique_ptr<TVXViewTool>> FToolsBefore, FToolsAfter;
  unsigned FToolGeneration = 0;  ///< counts changes of the tool lists
};

}  // namespace vexa
